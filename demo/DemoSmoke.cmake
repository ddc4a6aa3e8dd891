# Runs the demo for the CTest test demo_smoke and checks what it printed. Fails when the JVM
# fails, when -Xcheck:jni reported anything, or when a pattern is missing from the output.
#
#   cmake -DJAVA=<java> -DCLASS_PATH=<a|b> -DJVM_ARGS=<x|y> -DMAIN_ARGS=<p|q> -DTIMEOUT=<s>
#         -DEXPECT=<regex|regex|...> -P DemoSmoke.cmake
cmake_minimum_required(VERSION 3.20)

foreach(var JAVA CLASS_PATH TIMEOUT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "DemoSmoke.cmake: ${var} not set")
  endif()
endforeach()

if(CMAKE_HOST_WIN32)
  string(REPLACE "|" "\\;" class_path "${CLASS_PATH}")
else()
  string(REPLACE "|" ":" class_path "${CLASS_PATH}")
endif()
string(REPLACE "|" ";" jvm_args "${JVM_ARGS}")
string(REPLACE "|" ";" main_args "${MAIN_ARGS}")
string(REPLACE "|" ";" patterns "${EXPECT}")

set(command "${JAVA}" ${jvm_args} -cp "${class_path}" Demo ${main_args})
string(REPLACE ";" " " shown "${command}")
message("${shown}")
execute_process(COMMAND ${command}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output
  TIMEOUT ${TIMEOUT})
message("${output}")

set(failures)
foreach(marker
    "WARNING in native method"
    "JNI call made without checking exceptions"
    "exceeds capacity"
    "FATAL ERROR in native method")
  string(FIND "${output}" "${marker}" at)
  if(NOT at EQUAL -1)
    list(APPEND failures "-Xcheck:jni reported: ${marker}")
  endif()
endforeach()
if(NOT result STREQUAL "0")
  list(APPEND failures "the demo ended with: ${result}")
endif()
foreach(pattern IN LISTS patterns)
  if(NOT output MATCHES "${pattern}")
    list(APPEND failures "missing from the output: ${pattern}")
  endif()
endforeach()
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "demo_smoke:\n  ${text}")
endif()
