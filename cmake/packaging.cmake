# What `cmake --install` puts where, and the packages the `package` target (CPack) writes from it:
# on Linux the Debian package z18man_<version>_<arch>.deb, and z18mount_<version>_<arch>.deb where
# z18mount is built; from the cross build the Windows zip z18man-<version>-win64.zip (or -win32.zip
# from the 32-bit cross build).
#
# z18mount is a package of its own: it needs FUSE (the fuse3 package, with its setuid helper for
# mounts by users), which z18man, a static program that needs nothing, should not pull in for
# everyone who never mounts an image. Each install rule names the component, and so the package,
# it belongs to; a rule that names none belongs to z18man.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME z18man)
set(Z18_PROGRAMS z18man z18fsck)
if(TARGET z18mount)
  list(APPEND Z18_PROGRAMS z18mount)
endif()
# The package each program goes into.
function(z18_component_of program out)
  if(program STREQUAL z18mount)
    set(${out} z18mount PARENT_SCOPE)
  else()
    set(${out} z18man PARENT_SCOPE)
  endif()
endfunction()

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
  set(pages)
  foreach(page ${Z18_PROGRAMS})
    z18_component_of(${page} component)
    add_custom_command(
      OUTPUT ${page}.1.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/${page}.1 ${page}.1
      COMMAND gzip -9nf ${page}.1
      DEPENDS docs/${page}.1
      VERBATIM)
    list(APPEND pages ${page}.1.gz)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT ${component})
    install(FILES contrib/bash-completion/${page}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions COMPONENT ${component})
  endforeach()
  add_custom_target(z18man_manpage ALL DEPENDS ${pages})
  # mc looks for its extfs helpers in <prefix>/lib/mc/extfs.d (not the multiarch library folder).
  install(PROGRAMS contrib/mc/uz18 DESTINATION lib/mc/extfs.d)
endif()

install(TARGETS z18man z18fsck RUNTIME DESTINATION ${Z18_BINDIR})
if(TARGET z18mount)
  install(TARGETS z18mount RUNTIME DESTINATION ${Z18_BINDIR} COMPONENT z18mount)
endif()

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
foreach(program ${Z18_PROGRAMS})
  z18_component_of(${program} component)
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" ${Z18_STRIP_ARGS}
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${Z18_BINDIR}/$<TARGET_FILE_NAME:${program}>\"
      COMMAND_ERROR_IS_FATAL ANY)" COMPONENT ${component})
endforeach()

set(CPACK_PACKAGE_NAME z18man)
set(CPACK_PACKAGE_VENDOR "the z18man authors")
set(CPACK_PACKAGE_CONTACT "${Z18_DEB_MAINTAINER}")
# Each Debian package's description: its synopsis on the first line, then the text.
set(Z18MAN_DESCRIPTION
"manager for .z18 CP/M 2.2 floppy disk images
z18man lists, formats, adds files to, erases files from and extracts files
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
  string(APPEND Z18MAN_DESCRIPTION "

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
  set(CPACK_PACKAGE_DESCRIPTION "${Z18MAN_DESCRIPTION}")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Linked statically: nothing to depend on at run time.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_Z18MAN_DESCRIPTION "${Z18MAN_DESCRIPTION}")
  set(CPACK_DEBIAN_Z18MOUNT_DESCRIPTION
"mount .z18 CP/M 2.2 floppy disk images as folders (FUSE)
z18mount mounts a .z18 image, a 360 KB image file holding a CP/M 2.2 file
system, as a folder, so that file managers and every Unix tool can copy
files in and out, rename and erase them. User area 0 is the folder itself,
the other user areas are folders u1 to u15 in it. New files are placed as
z18man adds them; a file reaches the image when it is closed, as a new
version in free blocks put in place by one write of the directory, so a
power cut leaves either the old or the new file whole.")
  set(CPACK_DEBIAN_Z18MOUNT_PACKAGE_DEPENDS fuse3)
  # Both packages are made from the one source, whose changelog they carry.
  set(CPACK_DEBIAN_Z18MOUNT_PACKAGE_SOURCE z18man)

  # The files each Debian package carries beside its programs: the licence in Debian's machine-
  # readable copyright format, the changelog and lintian's overrides, each with its reason. They
  # go into the packages only, never into a `cmake --install`.
  file(READ LICENSE license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
  set(Z18_COPYRIGHT "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" body "${license}")
  string(REGEX REPLACE "\n+$" "" body "${body}")
  string(REPLACE "\n\n" "\n.\n" body "${body}")
  string(REPLACE "\n" "\n " Z18_LICENSE_BODY " ${body}")
  set(Z18_DEB_FILES ${CMAKE_CURRENT_BINARY_DIR}/debian)
  configure_file(packaging/debian/copyright.in ${Z18_DEB_FILES}/copyright @ONLY)
  # Debian keeps changelogs compressed, without a time stamp in the gzip header.
  add_custom_command(
    OUTPUT debian/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/debian/changelog debian/changelog
    COMMAND gzip -9nf debian/changelog
    DEPENDS packaging/debian/changelog
    VERBATIM)
  add_custom_target(z18man_changelog ALL DEPENDS debian/changelog.gz)
  set(mode PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  set(CPACK_COMPONENTS_ALL)
  foreach(package z18man z18mount)
    if(package STREQUAL z18mount AND NOT TARGET z18mount)
      continue()
    endif()
    file(READ packaging/debian/${package}.lintian-overrides overrides)
    # lintian takes a page of HTML for documentation, but this one is the tool itself.
    if(package STREQUAL z18man AND Z18_WEB_PAGE)
      string(APPEND overrides "# z18man.html is no documentation but the tool itself, as a page for a web browser.\n"
             "z18man: package-contains-documentation-outside-usr-share-doc [usr/share/z18man/z18man.html]\n")
    endif()
    file(WRITE ${Z18_DEB_FILES}/${package}/lintian-overrides "${overrides}")
    install(FILES ${Z18_DEB_FILES}/copyright ${Z18_DEB_FILES}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} ${mode} COMPONENT ${package}_debian EXCLUDE_FROM_ALL)
    install(FILES ${Z18_DEB_FILES}/${package}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
            RENAME ${package} ${mode} COMPONENT ${package}_debian EXCLUDE_FROM_ALL)
    # One package for the program's files and its Debian files together.
    string(TOUPPER ${package} upper)
    set(CPACK_COMPONENT_${upper}_GROUP ${package})
    set(CPACK_COMPONENT_${upper}_DEBIAN_GROUP ${package})
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
    list(APPEND CPACK_COMPONENTS_ALL ${package} ${package}_debian)
  endforeach()
endif()

include(CPack)
