# The Windows program is meant for old PCs too, down to Windows XP. Included by the project for a
# Windows build, this makes every link of z18man.exe and z18fsck.exe check the program itself: each function it
# imports must be listed in cmake/winxp-imports.txt (functions Windows XP has, with where that is
# known from), and its header must ask for no newer Windows than XP. Run with -P, it is that check.
if(NOT CMAKE_SCRIPT_MODE_FILE)
  if(NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "no objdump found: the Windows program's imports are read with it")
  endif()
  # The newest subsystem version each program may ask for: Windows XP, 5.1, for the 32-bit one;
  # the 64-bit one cannot run on less than XP Professional x64 Edition, 5.2.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(Z18_MAX_SUBSYSTEM 5.1)
  else()
    set(Z18_MAX_SUBSYSTEM 5.2)
  endif()
  set(Z18_XP_IMPORTS ${CMAKE_CURRENT_LIST_DIR}/winxp-imports.txt)
  foreach(program z18man z18fsck)
    add_custom_command(
      TARGET ${program} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DEXE=$<TARGET_FILE:${program}>
              -DLIST=${Z18_XP_IMPORTS} -DMAX_SUBSYSTEM=${Z18_MAX_SUBSYSTEM} -P ${CMAKE_CURRENT_LIST_FILE}
      VERBATIM)
    # A changed list links the program again, and so checks it again.
    set_property(TARGET ${program} APPEND PROPERTY LINK_DEPENDS ${Z18_XP_IMPORTS})
  endforeach()
  return()
endif()

cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
file(STRINGS ${LIST} allowed REGEX "^[a-z0-9_]+\\.dll [^ ]+$")

# The import tables: a "DLL Name:" line, then one line per function, "<tab>address<tab>hint name".
# A line that begins with anything but a tab starts another part of the headers.
string(REPLACE ";" "," headers "${headers}")
string(REPLACE "\n" ";" lines "${headers}")
set(dll "")
set(count 0)
set(unknown "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([^ ]+)$")
    math(EXPR count "${count} + 1")
    if(NOT "${dll} ${CMAKE_MATCH_1}" IN_LIST allowed)
      list(APPEND unknown "${dll} ${CMAKE_MATCH_1}")
    endif()
  elseif(line MATCHES "^[^\t]")
    set(dll "")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "found no imported function in ${EXE}")
endif()
if(unknown)
  list(JOIN unknown "\n  " unknown)
  message(FATAL_ERROR "${EXE} imports functions that ${LIST} does not list (look up whether "
                      "Windows XP has them before adding them there):\n  ${unknown}")
endif()

string(REGEX MATCH "MajorSubsystemVersion[ \t]+([0-9]+)" _ "${headers}")
set(major "${CMAKE_MATCH_1}")
string(REGEX MATCH "MinorSubsystemVersion[ \t]+([0-9]+)" _ "${headers}")
set(subsystem "${major}.${CMAKE_MATCH_1}")
if(NOT subsystem MATCHES "^[0-9]+\\.[0-9]+$" OR subsystem VERSION_GREATER MAX_SUBSYSTEM)
  message(FATAL_ERROR "${EXE} asks for subsystem version ${subsystem}; at most ${MAX_SUBSYSTEM} "
                      "runs on Windows XP")
endif()
message(STATUS "${EXE}: ${count} imported functions, all in Windows XP; subsystem version "
               "${subsystem}")
