package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.tarnwick.api.DataListener;
import com.tarnwick.api.NativeAPI;
import com.tarnwick.sim.SimControl;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadInfo;
import java.lang.management.ThreadMXBean;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.TimeUnit;

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

  /** The ids of the JVM's live threads. */
  public static Set<Long> liveThreadIds() {
    Set<Long> ids = new HashSet<>();
    for (long id : ManagementFactory.getThreadMXBean().getAllThreadIds()) {
      ids.add(id);
    }
    return ids;
  }

  /**
   * Waits (up to {@code seconds}, a limit that only catches a hang) until no non-daemon thread
   * is alive that was not alive in {@code before}, and returns the names of those still there.
   * Native threads attached by the bridge are non-daemon; the JVM's own threads that come and
   * go (compiler threads, cleaners) are daemons and do not count.
   */
  public static List<String> newNonDaemonThreads(Set<Long> before, long seconds)
      throws InterruptedException {
    ThreadMXBean bean = ManagementFactory.getThreadMXBean();
    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(seconds);
    while (true) {
      List<String> left = new ArrayList<>();
      for (ThreadInfo info : bean.getThreadInfo(bean.getAllThreadIds())) {
        if (info != null && !info.isDaemon() && !before.contains(info.getThreadId())) {
          left.add(info.getThreadName());
        }
      }
      if (left.isEmpty() || System.nanoTime() > deadline) {
        return left;
      }
      Thread.sleep(20);
    }
  }

  /** The sim saw no double release, unknown pointer or caller contract breach. */
  public static void assertNoSimErrors() {
    assertEquals(Collections.emptyList(), Arrays.asList(SimControl.errors()), "sim errors");
  }
}
