# The CTest test of README.md's Java example. It takes the code block that README.md marks with
# <!-- readme_example: begin --> and <!-- readme_example: end -->, makes it a program (its
# imports at the top, the rest as the body of main, the service directory "/opt/veltrix"
# replaced by the simulated service out of veltrix-sim.jar), compiles it against the jars and
# runs it through RunJUnit.cmake, which checks the output against EXPECT. Fails when the
# markers, the code block or that directory are missing, or when the code does not compile.
#
#   cmake -DREADME=<README.md> -DJAVAC=<javac> -DWORK_DIR=<dir> -DRUNNER=<RunJUnit.cmake>
#         -DJAVA=<java> -DCLASS_PATH=<jars|...> -DJVM_ARGS=<x|y|...> -DTIMEOUT=<seconds>
#         -DEXPECT=<regex|...> -P RunReadmeExample.cmake
cmake_minimum_required(VERSION 3.25)

file(READ "${README}" text)
set(begin_marker "<!-- readme_example: begin -->")
set(end_marker "<!-- readme_example: end -->")
string(FIND "${text}" "${begin_marker}" begin)
string(FIND "${text}" "${end_marker}" end)
if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "${README}: no '${begin_marker}' ... '${end_marker}' block")
endif()
string(LENGTH "${begin_marker}" length)
math(EXPR from "${begin} + ${length}")
math(EXPR length "${end} - ${from}")
string(SUBSTRING "${text}" ${from} ${length} block)

# The fenced code between the markers; its leading import lines go before the class.
if(NOT block MATCHES "```java\n(.*)\n```")
  message(FATAL_ERROR "${README}: no ```java block between the markers")
endif()
set(code "${CMAKE_MATCH_1}")
set(dir_literal "\"/opt/veltrix\"")
string(FIND "${code}" "${dir_literal}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${README}: the example no longer opens ${dir_literal}")
endif()
string(REPLACE "${dir_literal}" "com.tarnwick.sim.SimLibrary.directory().getPath()" code
  "${code}")
string(REGEX MATCH "^((import [^\n]*\n)*)(.*)$" all "${code}")
set(imports "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^\n+" "" body "${CMAKE_MATCH_3}")
string(REPLACE "\n" "\n    " body "\n${body}")
string(REGEX REPLACE " +\n" "\n" body "${body}")

set(source "${WORK_DIR}/src/ReadmeExample.java")
file(WRITE "${source}" "// Generated from ${README} by RunReadmeExample.cmake.
${imports}
public final class ReadmeExample {
  public static void main(String[] args) throws Exception {${body}
  }
}
")

file(REMOVE_RECURSE "${WORK_DIR}/classes")
if(CMAKE_HOST_WIN32)
  string(REPLACE "|" ";" compile_path "${CLASS_PATH}")  # one quoted argument: not split
else()
  string(REPLACE "|" ":" compile_path "${CLASS_PATH}")
endif()
execute_process(
  COMMAND "${JAVAC}" --release 17 -Xlint:all -Werror -d "${WORK_DIR}/classes"
    -cp "${compile_path}" "${source}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result STREQUAL "0")
  message(FATAL_ERROR "the example of ${README} does not compile (${source}):\n${output}")
endif()

set(CLASS_PATH "${WORK_DIR}/classes|${CLASS_PATH}")
set(MAIN_CLASS ReadmeExample)
include("${RUNNER}")
