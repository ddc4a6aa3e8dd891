# Runs one JVM for a CTest test and fails the test when the JVM fails, when -Xcheck:jni
# reported anything, or when the JVM warned of a restricted method (native access). The JVM's output (stdout and stderr, merged) is printed either way.
#
#   cmake -DJAVA=<java> -DCLASS_PATH=<a|b|...> -DJVM_ARGS=<x|y|...> -DTIMEOUT=<seconds>
#         ( -DJUNIT_CONSOLE=<console jar> -DSELECT_CLASS=<class>
#         | -DMAIN_CLASS=<class> [-DMAIN_ARGS=<p|q|...>] )
#         [-DEXPECT=<regex|regex|...>] -P RunJUnit.cmake
#
# Every regex of EXPECT must match somewhere in the output.
#
# Lists use '|' as separator, so that they pass through add_test unchanged; CLASS_PATH is
# joined with the platform's path separator here.
cmake_minimum_required(VERSION 3.25)

foreach(var JAVA CLASS_PATH TIMEOUT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "RunJUnit.cmake: ${var} not set")
  endif()
endforeach()

if(CMAKE_HOST_WIN32)
  string(REPLACE "|" "\\;" class_path "${CLASS_PATH}")
else()
  string(REPLACE "|" ":" class_path "${CLASS_PATH}")
endif()
string(REPLACE "|" ";" jvm_args "${JVM_ARGS}")
string(REPLACE "|" ";" main_args "${MAIN_ARGS}")

if(DEFINED SELECT_CLASS AND NOT SELECT_CLASS STREQUAL "")
  set(command "${JAVA}" ${jvm_args} -jar "${JUNIT_CONSOLE}"
    --class-path "${class_path}" --select-class "${SELECT_CLASS}"
    --disable-banner --disable-ansi-colors --details=tree --fail-if-no-tests)
elseif(DEFINED MAIN_CLASS AND NOT MAIN_CLASS STREQUAL "")
  set(command "${JAVA}" ${jvm_args} -cp "${class_path}" "${MAIN_CLASS}" ${main_args})
else()
  message(FATAL_ERROR "RunJUnit.cmake: set SELECT_CLASS or MAIN_CLASS")
endif()

string(REPLACE ";" " " shown "${command}")
message("${shown}")
execute_process(COMMAND ${command}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output
  TIMEOUT ${TIMEOUT})
message("${output}")

# What -Xcheck:jni prints for misuse that does not stop the JVM (and for misuse that does), and
# what JDK 24 and later print when a library is loaded without native access.
set(failures)
foreach(marker
    "WARNING in native method"
    "JNI call made without checking exceptions"
    "exceeds capacity"
    "FATAL ERROR in native method"
    "WARNING: A restricted method")
  string(FIND "${output}" "${marker}" at)
  if(NOT at EQUAL -1)
    list(APPEND failures "${marker}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "the JVM reported: ${failures}")
endif()
if(NOT result STREQUAL "0")
  message(FATAL_ERROR "JVM ended with: ${result}")
endif()
string(REPLACE "|" ";" patterns "${EXPECT}")
set(missing)
foreach(pattern IN LISTS patterns)
  if(NOT output MATCHES "${pattern}")
    list(APPEND missing "${pattern}")
  endif()
endforeach()
if(missing)
  list(JOIN missing "\n  " text)
  message(FATAL_ERROR "missing from the output:\n  ${text}")
endif()
