# JNI headers only: the bridge never links against the JVM.
# jni.h comes from the installed JDK; jni_md.h from the JDK for the host platform, or
# from cmake/jni/win32 for a Windows cross build (the Linux JDK has no Windows jni_md.h).
if(NOT VX_JDK_HOME)
  if(DEFINED ENV{JAVA_HOME} AND EXISTS "$ENV{JAVA_HOME}/include/jni.h")
    set(VX_JDK_HOME "$ENV{JAVA_HOME}")
  else()
    find_program(VX_JAVAC_PROGRAM javac HINTS /usr/lib/jvm/default-java/bin)
    if(VX_JAVAC_PROGRAM)
      get_filename_component(_javac_real "${VX_JAVAC_PROGRAM}" REALPATH)
      get_filename_component(_jdk_bin "${_javac_real}" DIRECTORY)
      get_filename_component(VX_JDK_HOME "${_jdk_bin}" DIRECTORY)
    endif()
  endif()
endif()
set(VX_JDK_HOME "${VX_JDK_HOME}" CACHE PATH "JDK whose include/jni.h the build uses")

if(NOT EXISTS "${VX_JDK_HOME}/include/jni.h")
  message(FATAL_ERROR "jni.h not found; install a JDK (Debian: openjdk-17-jdk-headless) or set VX_JDK_HOME")
endif()

add_library(vx_jni_headers INTERFACE)
if(WIN32 AND NOT MSVC AND CMAKE_CROSSCOMPILING)
  target_include_directories(vx_jni_headers SYSTEM INTERFACE
    "${CMAKE_CURRENT_LIST_DIR}/jni/win32" "${VX_JDK_HOME}/include")
elseif(WIN32)
  target_include_directories(vx_jni_headers SYSTEM INTERFACE
    "${VX_JDK_HOME}/include" "${VX_JDK_HOME}/include/win32")
elseif(APPLE)
  target_include_directories(vx_jni_headers SYSTEM INTERFACE
    "${VX_JDK_HOME}/include" "${VX_JDK_HOME}/include/darwin")
else()
  target_include_directories(vx_jni_headers SYSTEM INTERFACE
    "${VX_JDK_HOME}/include" "${VX_JDK_HOME}/include/linux")
endif()
