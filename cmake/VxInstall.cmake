# What `cmake --install <build dir> --prefix <dir>` puts under <dir> (GNUInstallDirs names):
#   lib/libveltrixjni.so                 the bridge (Windows: bin/veltrixjni.dll)
#   share/java/veltrix-api.jar           with the Java side (VX_BUILD_JAVA, not cross-built):
#   share/java/veltrix-api-sources.jar   the API jar, which carries the bridge as well, and
#   share/java/veltrix-api-javadoc.jar   its companions
# Nothing of the tests, the simulated service library or the fake JVM: they are for this
# tree only. The CTest test `install_layout` (tests/CMakeLists.txt) checks the list.
include(GNUInstallDirs)

# A fuzz build leaves the JNI library out (fuzz/CMakeLists.txt): nothing to install.
if(VX_BUILD_FUZZ)
  return()
endif()

# Windows makes an import library beside the DLL; nothing links against a JNI library, so
# it is not installed by default.
install(TARGETS veltrixjni
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)

if(TARGET veltrix_api_jar)
  get_target_property(jar veltrix_api_jar JAR_FILE)
  get_target_property(sources_jar veltrix_api_doc_jars SOURCES_JAR)
  get_target_property(javadoc_jar veltrix_api_doc_jars JAVADOC_JAR)
  install(FILES ${jar} ${sources_jar} ${javadoc_jar} DESTINATION ${CMAKE_INSTALL_DATADIR}/java)
endif()
