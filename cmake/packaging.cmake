# What `cmake --install` puts where, and the packages the `package` target (CPack) writes from it:
# on Linux the Debian package z18man_<version>_<arch>.deb, from the cross build the Windows zip
# z18man-<version>-win64.zip (or -win32.zip from the 32-bit cross build).
include(GNUInstallDirs)

set(Z18_DEB_MAINTAINER "The z18man authors <z18man@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

if(WIN32)
  # A Windows user unpacks the zip into a folder of its own: the program, the README and the
  # licence side by side, under names Windows opens on a double click, and the pages the README
  # points to in docs/ below them, as in the source.
  set(Z18_BINDIR .)
  install(FILES README.md DESTINATION . RENAME README.txt)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
  install(DIRECTORY docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
else()
  set(Z18_BINDIR ${CMAKE_INSTALL_BINDIR})
  # Manual pages are installed compressed, without a time stamp in the gzip header, so the same
  # source gives the same bytes.
  foreach(page z18man z18fsck)
    add_custom_command(
      OUTPUT ${page}.1.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/${page}.1 ${page}.1
      COMMAND gzip -9nf ${page}.1
      DEPENDS docs/${page}.1
      VERBATIM)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES contrib/bash-completion/${page}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
  endforeach()
  add_custom_target(z18man_manpage ALL DEPENDS z18man.1.gz z18fsck.1.gz)
  # mc looks for its extfs helpers in <prefix>/lib/mc/extfs.d (not the multiarch library folder).
  install(PROGRAMS contrib/mc/uz18 DESTINATION lib/mc/extfs.d)
endif()

install(TARGETS z18man z18fsck RUNTIME DESTINATION ${Z18_BINDIR})

# The offline page is made by the Emscripten build (build/web/z18man.html); a native or Windows
# build ships the page it is pointed at: beside the program in the zip, in the package's data
# folder on Linux.
set(Z18_WEB_PAGE "" CACHE FILEPATH "A built z18man.html to install and package with the program (empty: none)")
if(Z18_WEB_PAGE)
  if(WIN32)
    set(Z18_PAGEDIR .)
  else()
    set(Z18_PAGEDIR ${CMAKE_INSTALL_DATAROOTDIR}/z18man)
  endif()
  install(FILES ${Z18_WEB_PAGE} DESTINATION ${Z18_PAGEDIR} RENAME z18man.html)
endif()
if(NOT CMAKE_STRIP)
  message(FATAL_ERROR "no strip program found: the installed z18man is stripped")
endif()
# The installed program is always stripped, of the comment and note sections too, as Debian's
# own packaging strips programs: nobody who installs it debugs it.
set(Z18_STRIP_ARGS)
if(NOT WIN32)
  set(Z18_STRIP_ARGS --remove-section=.comment --remove-section=.note)
endif()
foreach(program z18man z18fsck)
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" ${Z18_STRIP_ARGS}
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${Z18_BINDIR}/$<TARGET_FILE_NAME:${program}>\"
      COMMAND_ERROR_IS_FATAL ANY)")
endforeach()

set(CPACK_PACKAGE_NAME z18man)
set(CPACK_PACKAGE_VENDOR "the z18man authors")
set(CPACK_PACKAGE_CONTACT "${Z18_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manager for .z18 CP/M 2.2 floppy disk images")
set(CPACK_PACKAGE_DESCRIPTION
"z18man lists, formats, adds files to, erases files from and extracts files
from .z18 floppy disk images: 360 KB image files holding a CP/M 2.2 file
system, as kept for Z80 machines and their emulators. It writes only the
bytes a request needs, locks the image while it works and never waits on a
busy one, and never truncates a file it should not touch.

The package also holds a bash completion that completes image files, the
switches and the names inside an image, and the Midnight Commander helper
uz18, which opens an image like an archive to browse it, copy files in and
out and delete them, and z18fsck, which checks damaged images and images
written by other CP/M tools, extracts what can be read from them and writes
a repaired copy, never changing the image it reads.")

if(Z18_WEB_PAGE)
  string(APPEND CPACK_PACKAGE_DESCRIPTION "

/usr/share/z18man/z18man.html is the same tool as a single offline page for
a web browser. It can be copied to any computer or static web site, and the
images it opens never leave the computer.")
endif()

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # The 32-bit build gives the win32 zip, the 64-bit one the win64 zip.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME z18man-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME z18man-${PROJECT_VERSION}-win64)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Linked statically: nothing to depend on at run time.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

  # The files a Debian package carries beside the program: the licence in Debian's machine-
  # readable copyright format, the changelog and lintian's overrides, each with its reason.
  file(READ LICENSE license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
  set(Z18_COPYRIGHT "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" body "${license}")
  string(REGEX REPLACE "\n+$" "" body "${body}")
  string(REPLACE "\n\n" "\n.\n" body "${body}")
  string(REPLACE "\n" "\n " Z18_LICENSE_BODY " ${body}")
  set(Z18_DEB_FILES ${CMAKE_CURRENT_BINARY_DIR}/debian)
  configure_file(packaging/debian/copyright.in ${Z18_DEB_FILES}/copyright @ONLY)
  # lintian takes a page of HTML for documentation, but this one is the tool itself.
  file(READ packaging/debian/lintian-overrides overrides)
  if(Z18_WEB_PAGE)
    string(APPEND overrides "# z18man.html is no documentation but the tool itself, as a page for a web browser.\n"
           "z18man: package-contains-documentation-outside-usr-share-doc [usr/share/z18man/z18man.html]\n")
  endif()
  file(WRITE ${Z18_DEB_FILES}/lintian-overrides "${overrides}")
  configure_file(packaging/debian/install-extras.cmake.in ${Z18_DEB_FILES}/install-extras.cmake
                 @ONLY)
  set(CPACK_INSTALL_SCRIPTS ${Z18_DEB_FILES}/install-extras.cmake)
endif()

include(CPack)
