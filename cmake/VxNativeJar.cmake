# Jars that carry native libraries as resources, their -sources and -javadoc companions, and
# a local Maven repository layout of them. Used by java/ (veltrix-api) and sim/ (veltrix-sim).
#
#   vx_add_native_jar(<target> CLASSES <add_jar target> OUTPUT <jar>
#                     ENTRIES <path in jar> <file> [<path in jar> <file>...]
#                     [DEPENDS <target or file>...])
#       <jar> is the classes jar with the entries added (files may be generator expressions).
#       <target> gets the JAR_FILE property, so add_jar(... INCLUDE_JARS <target>) works.
#
#   vx_add_doc_jars(<target> OUTPUT_DIR <dir> NAME <artifact> SOURCE_DIRS <dir>...
#                   PACKAGES <package>... [DOCLINT <groups>] [CLASSPATH <jar>...]
#                   [DEPENDS <target>...])
#       <dir>/<artifact>-sources.jar and <dir>/<artifact>-javadoc.jar.
#
#   vx_add_maven_artifact(<target> REPOSITORY <dir> GROUP <group id> ARTIFACT <artifact id>
#                         POM <pom file> JAR <jar> [SOURCES <jar>] [JAVADOC <jar>]
#                         [DEPENDS <target>...])
#       <dir>/<group path>/<artifact>/<version>/ with the pom and the jars under Maven's names,
#       each with its .sha1 and .md5, and <dir>/<group path>/<artifact>/maven-metadata.xml.
#
# VX_JAR_WINDOWS_BUILD names a MinGW build tree (the mingw-release preset's) whose
# veltrixjni.dll and default simulated service DLL the jars carry as well.
find_package(Java 1.8 REQUIRED COMPONENTS Development)
set(VX_JAR_WINDOWS_BUILD "" CACHE PATH
  "A MinGW build tree whose veltrixjni.dll and simulated service DLL the jars carry as well")
set(VX_NATIVE_JAR_DIR ${CMAKE_CURRENT_LIST_DIR})

function(vx_add_native_jar target)
  cmake_parse_arguments(ARG "" "CLASSES;OUTPUT" "ENTRIES;DEPENDS" ${ARGN})
  get_target_property(classes_jar ${ARG_CLASSES} JAR_FILE)
  set(stage ${CMAKE_CURRENT_BINARY_DIR}/${target}.stage)
  set(commands
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage})
  set(tops)
  set(files)
  list(LENGTH ARG_ENTRIES count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET ARG_ENTRIES ${i} path)
    list(GET ARG_ENTRIES ${j} file)
    get_filename_component(dir ${path} DIRECTORY)
    string(REGEX REPLACE "/.*" "" top ${path})
    list(APPEND tops ${top})
    list(APPEND files ${file})
    list(APPEND commands
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/${dir}
      COMMAND ${CMAKE_COMMAND} -E copy ${file} ${stage}/${path})
  endforeach()
  list(REMOVE_DUPLICATES tops)
  set(add_tops)
  foreach(top IN LISTS tops)
    list(APPEND add_tops -C ${stage} ${top})
  endforeach()
  add_custom_command(OUTPUT ${ARG_OUTPUT}
    ${commands}
    COMMAND ${CMAKE_COMMAND} -E copy ${classes_jar} ${ARG_OUTPUT}.part
    COMMAND ${Java_JAR_EXECUTABLE} uf ${ARG_OUTPUT}.part ${add_tops}
    COMMAND ${CMAKE_COMMAND} -E rename ${ARG_OUTPUT}.part ${ARG_OUTPUT}
    DEPENDS ${classes_jar} ${ARG_CLASSES} ${files} ${ARG_DEPENDS}
    COMMENT "Packing ${ARG_OUTPUT} with its natives"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${ARG_OUTPUT})
  set_target_properties(${target} PROPERTIES JAR_FILE ${ARG_OUTPUT})
endfunction()

function(vx_add_doc_jars target)
  cmake_parse_arguments(ARG "" "OUTPUT_DIR;NAME;DOCLINT" "SOURCE_DIRS;PACKAGES;CLASSPATH;DEPENDS"
    ${ARGN})
  if(NOT ARG_DOCLINT)
    set(ARG_DOCLINT all)
  endif()
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${target}.work)
  set(sources_jar ${ARG_OUTPUT_DIR}/${ARG_NAME}-sources.jar)
  set(javadoc_jar ${ARG_OUTPUT_DIR}/${ARG_NAME}-javadoc.jar)
  set(copy_sources)
  set(all_sources)
  foreach(dir IN LISTS ARG_SOURCE_DIRS)
    list(APPEND copy_sources COMMAND ${CMAKE_COMMAND} -E copy_directory ${dir} ${work}/src)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.java)
    list(APPEND all_sources ${found})
  endforeach()
  set(classpath_option)
  if(ARG_CLASSPATH)
    list(JOIN ARG_CLASSPATH ":" classpath)
    set(classpath_option -classpath ${classpath})
  endif()
  # With VX_WARNINGS_AS_ERRORS doclint's findings fail the build; with the default DOCLINT
  # "all" that includes any public or protected member without documentation.
  set(werror)
  if(VX_WARNINGS_AS_ERRORS)
    set(werror -Werror)
  endif()
  add_custom_command(OUTPUT ${sources_jar} ${javadoc_jar}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${work}
    ${copy_sources}
    COMMAND ${Java_JAVADOC_EXECUTABLE} -quiet -encoding UTF-8 --release 8 -Xdoclint:${ARG_DOCLINT} ${werror}
      -d ${work}/doc -sourcepath ${work}/src ${classpath_option} ${ARG_PACKAGES}
    COMMAND ${Java_JAR_EXECUTABLE} cf ${sources_jar} -C ${work}/src .
    COMMAND ${Java_JAR_EXECUTABLE} cf ${javadoc_jar} -C ${work}/doc .
    DEPENDS ${all_sources} ${ARG_DEPENDS}
    COMMENT "Packing ${ARG_NAME}-sources.jar and ${ARG_NAME}-javadoc.jar"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${sources_jar} ${javadoc_jar})
  set_target_properties(${target} PROPERTIES SOURCES_JAR ${sources_jar} JAVADOC_JAR ${javadoc_jar})
endfunction()

function(vx_add_maven_artifact target)
  cmake_parse_arguments(ARG "" "REPOSITORY;GROUP;ARTIFACT;POM;JAR;SOURCES;JAVADOC" "DEPENDS"
    ${ARGN})
  string(REPLACE "." "/" group_path ${ARG_GROUP})
  set(dir ${ARG_REPOSITORY}/${group_path}/${ARG_ARTIFACT}/${PROJECT_VERSION})
  set(base ${dir}/${ARG_ARTIFACT}-${PROJECT_VERSION})
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DDIR=${dir} -DBASE=${base} -DPOM=${ARG_POM} -DJAR=${ARG_JAR}
      -DSOURCES=${ARG_SOURCES} -DJAVADOC=${ARG_JAVADOC} -DGROUP=${ARG_GROUP}
      -DARTIFACT=${ARG_ARTIFACT} -DVERSION=${PROJECT_VERSION}
      -P ${VX_NATIVE_JAR_DIR}/VxMavenDeploy.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${ARG_POM} ${ARG_JAR} ${ARG_SOURCES} ${ARG_JAVADOC} ${ARG_DEPENDS}
      ${VX_NATIVE_JAR_DIR}/VxMavenDeploy.cmake
    COMMENT "Placing ${ARG_GROUP}:${ARG_ARTIFACT}:${PROJECT_VERSION} in ${ARG_REPOSITORY}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${stamp})
endfunction()
