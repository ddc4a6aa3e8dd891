# Checks a jar that carries natives (see VxNativeJar.cmake):
#   cmake -DJAR=<jar> -DJAR_TOOL=<jar> -DWORK=<dir> -DNATIVES=<entry|entry...>
#         [-DMANIFEST=<line|line...>] [-DCHECK_SO=<entry>] [-DCHECK_DLL=<entry>]
#         -DSOURCE_DIR=<project source dir> -P VxCheckJar.cmake
# The jar's META-INF/native/ holds exactly the NATIVES files (and their directories), the
# manifest holds every MANIFEST line, and the natives named by CHECK_SO and CHECK_DLL, taken
# out of the jar, pass tests/check_so_deps.cmake (glibc only) and tests/check_dll_exports.cmake
# (JNI exports, system imports only).
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND "${JAR_TOOL}" tf "${JAR}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${JAR_TOOL} tf ${JAR} failed")
endif()
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries INCLUDE REGEX "^META-INF/native/.*[^/]$")
string(REPLACE "|" ";" expected "${NATIVES}")
list(SORT entries)
list(SORT expected)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "${JAR}: META-INF/native/ holds\n  ${entries}\nnot\n  ${expected}")
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${JAR}" WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${JAR}")
endif()
file(READ "${WORK}/META-INF/MANIFEST.MF" manifest)
string(REPLACE "\r" "" manifest "${manifest}")
string(REPLACE "|" ";" lines "${MANIFEST}")
foreach(line IN LISTS lines)
  string(FIND "\n${manifest}" "\n${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${JAR}: the manifest lacks \"${line}\":\n${manifest}")
  endif()
endforeach()

if(CHECK_SO)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DLIB=${WORK}/${CHECK_SO}"
    -P "${SOURCE_DIR}/tests/check_so_deps.cmake" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${JAR}: ${CHECK_SO} fails the glibc-only check")
  endif()
endif()
if(CHECK_DLL)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DDLL=${WORK}/${CHECK_DLL}"
    -P "${SOURCE_DIR}/tests/check_dll_exports.cmake" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${JAR}: ${CHECK_DLL} fails the DLL export and import check")
  endif()
endif()
list(JOIN expected ", " text)
message(STATUS "${JAR}: ${text}")
