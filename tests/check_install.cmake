# Installs a build tree into a fresh prefix and checks what lands there:
#   cmake -DBUILD=<build dir> -DCONFIG=<config> -DPREFIX=<scratch dir> -DFILES=<path|path...>
#         -DLIBRARY=<path> -DEXPORTS=<expected_exports.txt> [-DNM=<nm> | -DOBJDUMP=<objdump>]
#         [-DJAR_TOOL=<jar> -DJARS=<path|path|path>] -DSOURCE_DIR=<project source dir>
#         -P check_install.cmake
# Paths are relative to the prefix. The prefix must hold exactly FILES: everything a user
# needs, and nothing of the tests, the simulated service library or the fake JVM. The
# installed LIBRARY must export exactly the JNI entry points (tests/check_so_exports.cmake
# with NM, tests/check_dll_exports.cmake with OBJDUMP, unchecked with neither); JARS, the
# API jar and its -sources and -javadoc jars, must hold NativeAPI's class, its source and
# its page.
cmake_minimum_required(VERSION 3.25)

foreach(var BUILD CONFIG PREFIX FILES LIBRARY EXPORTS SOURCE_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_install: ${var} is not set")
  endif()
endforeach()

# A DESTDIR in the environment would put the files elsewhere.
unset(ENV{DESTDIR})
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --config "${CONFIG}"
    --prefix "${PREFIX}"
  OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_install: cmake --install ${BUILD} failed (${rc}):\n${out}")
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
string(REPLACE "|" ";" expected "${FILES}")
list(SORT installed)
list(SORT expected)
set(failures "")
foreach(file IN LISTS expected)
  if(NOT file IN_LIST installed)
    string(APPEND failures "  missing: ${file}\n")
  endif()
endforeach()
foreach(file IN LISTS installed)
  if(NOT file IN_LIST expected)
    string(APPEND failures "  not meant to be installed: ${file}\n")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "check_install: ${PREFIX}\n${failures}")
endif()

if(NM)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DLIB=${PREFIX}/${LIBRARY}" "-DNM=${NM}"
      "-DEXPECTED=${EXPORTS}" -P "${SOURCE_DIR}/tests/check_so_exports.cmake"
    RESULT_VARIABLE rc)
elseif(OBJDUMP)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DDLL=${PREFIX}/${LIBRARY}" "-DOBJDUMP=${OBJDUMP}"
      "-DEXPECTED=${EXPORTS}" -P "${SOURCE_DIR}/tests/check_dll_exports.cmake"
    RESULT_VARIABLE rc)
else()
  set(rc 0)
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_install: the installed ${LIBRARY} fails the export check")
endif()

if(JARS)
  string(REPLACE "|" ";" jars "${JARS}")
  list(LENGTH jars count)
  if(NOT count EQUAL 3)
    message(FATAL_ERROR "check_install: JARS names the jar, its -sources and its -javadoc jar")
  endif()
  set(needs
    com/tarnwick/api/NativeAPI.class
    com/tarnwick/api/NativeAPI.java
    com/tarnwick/api/NativeAPI.html)
  foreach(jar entry IN ZIP_LISTS jars needs)
    execute_process(COMMAND "${JAR_TOOL}" tf "${PREFIX}/${jar}"
      OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
    string(REPLACE "\n" ";" listing "${listing}")
    if(NOT rc EQUAL 0)
      string(APPEND failures "  ${jar}: not a readable jar\n")
    elseif(NOT entry IN_LIST listing)
      string(APPEND failures "  ${jar}: no ${entry}\n")
    endif()
  endforeach()
  if(failures)
    message(FATAL_ERROR "check_install: ${PREFIX}\n${failures}")
  endif()
endif()
list(JOIN installed ", " text)
message(STATUS "installed: ${text}")
