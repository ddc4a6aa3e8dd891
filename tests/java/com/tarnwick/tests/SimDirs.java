package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;

/**
 * Directories of the simulated service library, passed by the test runner as system properties:
 * vx.sim.dir for the default build and vx.sim.dir.&lt;variant&gt; for the others.
 */
public final class SimDirs {
  private SimDirs() {}

  /** The directory of the default simulated library. */
  public static String defaultDir() {
    return dir("vx.sim.dir");
  }

  /** The directory of a variant: no_releasedata, no_serverlistdir, no_getdate, empty. */
  public static String variant(String name) {
    return dir("vx.sim.dir." + name);
  }

  private static String dir(String property) {
    String dir = System.getProperty(property);
    assertNotNull(dir, "system property " + property + " not set by the test runner");
    assertTrue(new File(dir).isDirectory(), property + "=" + dir + " is not a directory");
    return dir;
  }
}
