# Checks the local Maven repository the build writes, then builds a user's project against it
# with Maven, offline and with an empty local repository, and runs that project's JUnit test.
#
#   cmake -DREPOSITORY=<dir> -DVERSION=<v> -DARTIFACTS=<a|b> -DSOURCE=<this dir>
#         -DPOM=<configured pom> -DWORK=<dir> [-DMVN=<mvn> -DJAVA=<java>
#         -DJUNIT_CONSOLE=<jar> -DRUN_JUNIT=<RunJUnit.cmake>] -P RunConsumer.cmake
#
# Without MVN only the layout and the poms are checked.
cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" artifacts "${ARTIFACTS}")
set(failures "")
foreach(artifact IN LISTS artifacts)
  set(dir "${REPOSITORY}/com/tarnwick/${artifact}/${VERSION}")
  set(base "${dir}/${artifact}-${VERSION}")
  foreach(file "${base}.pom" "${base}.jar" "${base}-sources.jar" "${base}-javadoc.jar"
      "${REPOSITORY}/com/tarnwick/${artifact}/maven-metadata.xml")
    if(NOT EXISTS "${file}")
      string(APPEND failures "  missing ${file}\n")
      continue()
    endif()
    file(SHA1 "${file}" sum)
    if(NOT EXISTS "${file}.sha1")
      string(APPEND failures "  missing ${file}.sha1\n")
    else()
      file(READ "${file}.sha1" recorded)
      string(STRIP "${recorded}" recorded)
      if(NOT recorded STREQUAL sum)
        string(APPEND failures "  ${file}.sha1 does not match the file\n")
      endif()
    endif()
  endforeach()
  if(EXISTS "${base}.pom")
    file(READ "${base}.pom" pom)
    foreach(element "<groupId>com.tarnwick</groupId>" "<artifactId>${artifact}</artifactId>"
        "<version>${VERSION}</version>" "<packaging>jar</packaging>")
      string(FIND "${pom}" "${element}" at)
      if(at EQUAL -1)
        string(APPEND failures "  ${base}.pom lacks ${element}\n")
      endif()
    endforeach()
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "Maven repository ${REPOSITORY}:\n${failures}")
endif()
message(STATUS "Maven repository ${REPOSITORY}: ${ARTIFACTS} ${VERSION} complete")
if(NOT MVN)
  message(STATUS "no Maven with Debian's compiler plugin here: the consumer build is skipped")
  return()
endif()

# The consumer, in a fresh copy with an empty local repository.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/m2")
file(COPY "${SOURCE}/src" "${SOURCE}/settings.xml" DESTINATION "${WORK}")
file(COPY_FILE "${POM}" "${WORK}/pom.xml")
execute_process(
  COMMAND "${MVN}" -o -B -q -s settings.xml "-Dmaven.repo.local=${WORK}/m2"
    -Daether.offline.protocols=file test-compile
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "mvn -o test-compile failed (${rc}):\n${out}")
endif()

# Maven resolved exactly the jars of the repository; the test runs from those alone.
set(class_path "${WORK}/target/test-classes")
foreach(artifact IN LISTS artifacts)
  set(name "com/tarnwick/${artifact}/${VERSION}/${artifact}-${VERSION}.jar")
  if(NOT EXISTS "${WORK}/m2/${name}")
    message(FATAL_ERROR "Maven did not resolve ${name}")
  endif()
  file(SHA1 "${WORK}/m2/${name}" resolved)
  file(SHA1 "${REPOSITORY}/${name}" shipped)
  if(NOT resolved STREQUAL shipped)
    message(FATAL_ERROR "Maven resolved another ${name}")
  endif()
  string(APPEND class_path "|${WORK}/m2/${name}")
endforeach()
execute_process(
  COMMAND "${CMAKE_COMMAND}" "-DJAVA=${JAVA}" "-DJUNIT_CONSOLE=${JUNIT_CONSOLE}"
    "-DCLASS_PATH=${class_path}" "-DJVM_ARGS=-Xcheck:jni|-Djava.io.tmpdir=${WORK}"
    "-DSELECT_CLASS=example.SimulatedServiceTest" "-DTIMEOUT=100" -P "${RUN_JUNIT}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the consumer's test failed")
endif()
