package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.tarnwick.api.DataListener;
import com.tarnwick.api.NativeAPI;
import com.tarnwick.sim.SimControl;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * Opens the bridge on a simulated service library and loads the sim's control class from the
 * same file. Once per JVM: the bridge loads the library once and keeps it.
 */
public final class SimBridge {
  private SimBridge() {}

  /**
   * A callback object with the given listeners, handed to setJniEnv with {@code dir}; returns
   * after the bridge has loaded the library and logged the directory.
   */
  public static NativeAPI open(String dir, LogCollector log, DataListener data) {
    NativeAPI api = new NativeAPI();
    api.setLogListener(log);
    api.setDataListener(data);
    int mark = log.size();
    api.setJniEnv(dir);
    log.await(LogLines.dirIs(dir), mark);
    SimControl.load(dir);
    return api;
  }

  /** The sim's call log since the last reset or clear. */
  public static List<String> calls() { return Arrays.asList(SimControl.calls()); }

  /** The sim saw no double release, unknown pointer or caller contract breach. */
  public static void assertNoSimErrors() {
    assertEquals(Collections.emptyList(), Arrays.asList(SimControl.errors()), "sim errors");
  }
}
