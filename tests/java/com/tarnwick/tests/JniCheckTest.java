package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.lang.management.ManagementFactory;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * The JVM tests rely on -Xcheck:jni to report JNI misuse; a change to the runner that drops the
 * flag must fail here rather than silently weaken every other test.
 */
class JniCheckTest {
  @Test
  void jvmRunsWithCheckJni() {
    List<String> arguments = ManagementFactory.getRuntimeMXBean().getInputArguments();
    assertTrue(arguments.contains("-Xcheck:jni"), "JVM input arguments: " + arguments);
  }

  @Test
  void runnerPassesTheLibraryPath() {
    String path = System.getProperty("java.library.path", "");
    String mapped = System.mapLibraryName("veltrixjni");
    boolean found = false;
    for (String dir : path.split(java.io.File.pathSeparator)) {
      found |= new java.io.File(dir, mapped).isFile();
    }
    assertTrue(found, mapped + " not found on java.library.path=" + path);
  }
}
