# Places one artifact in a local Maven repository layout (see VxNativeJar.cmake):
#   cmake -DDIR=<version dir> -DBASE=<dir>/<artifact>-<version> -DPOM=<pom> -DJAR=<jar>
#         [-DSOURCES=<jar>] [-DJAVADOC=<jar>] -DGROUP=<g> -DARTIFACT=<a> -DVERSION=<v>
#         -P VxMavenDeploy.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")

function(place source target)
  file(COPY_FILE "${source}" "${target}")
  foreach(algorithm SHA1 MD5)
    file(${algorithm} "${target}" sum)
    string(TOLOWER ${algorithm} extension)
    file(WRITE "${target}.${extension}" "${sum}")
  endforeach()
endfunction()

place("${POM}" "${BASE}.pom")
place("${JAR}" "${BASE}.jar")
if(SOURCES)
  place("${SOURCES}" "${BASE}-sources.jar")
endif()
if(JAVADOC)
  place("${JAVADOC}" "${BASE}-javadoc.jar")
endif()

string(TIMESTAMP now "%Y%m%d%H%M%S" UTC)
get_filename_component(artifact_dir "${DIR}" DIRECTORY)
file(WRITE "${artifact_dir}/maven-metadata.xml" "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<metadata>
  <groupId>${GROUP}</groupId>
  <artifactId>${ARTIFACT}</artifactId>
  <versioning>
    <latest>${VERSION}</latest>
    <release>${VERSION}</release>
    <versions>
      <version>${VERSION}</version>
    </versions>
    <lastUpdated>${now}</lastUpdated>
  </versioning>
</metadata>
")
foreach(algorithm SHA1 MD5)
  file(${algorithm} "${artifact_dir}/maven-metadata.xml" sum)
  string(TOLOWER ${algorithm} extension)
  file(WRITE "${artifact_dir}/maven-metadata.xml.${extension}" "${sum}")
endforeach()
