package com.tarnwick.bench;

import com.tarnwick.api.NativeAPI;
import java.util.concurrent.atomic.AtomicLong;

/**
 * The bridge's callback object for the benchmarks: its callbacks only count. Beside each, a
 * floor method with the same signature and body, which the benchmarks' own library calls.
 */
final class BenchAPI extends NativeAPI {
  final AtomicLong data = new AtomicLong();
  final AtomicLong floorData = new AtomicLong();
  final AtomicLong logs = new AtomicLong();
  final AtomicLong floorLogs = new AtomicLong();

  /** Milliseconds logAPICallBack sleeps per line (0: none). */
  volatile long logSleepMillis;

  /** When {@link #logs} reaches this count, the time is kept in {@link #logTargetReachedAt}. */
  volatile long logTarget = Long.MAX_VALUE;

  volatile long logTargetReachedAt;

  /** While set, logAPICallBack holds the log thread in Java (waiting) until it is cleared. */
  private volatile boolean logParked;

  private final Object parking = new Object();

  void parkLog() {
    logParked = true;
  }

  void unparkLog() {
    synchronized (parking) {
      logParked = false;
      parking.notifyAll();
    }
  }

  @Override
  public int dataAPICallBack(byte[] message, int kind) {
    data.incrementAndGet();
    return 0;
  }

  /** Floor of dataAPICallBack. */
  public int floorDataCallBack(byte[] message, int kind) {
    floorData.incrementAndGet();
    return 0;
  }

  @Override
  public int logAPICallBack(byte[] line) {
    hold();
    if (logs.incrementAndGet() == logTarget) {
      logTargetReachedAt = System.nanoTime();
    }
    return 0;
  }

  /** Floor of logAPICallBack. */
  public int floorLogCallBack(byte[] line) {
    hold();
    if (floorLogs.incrementAndGet() == logTarget) {
      logTargetReachedAt = System.nanoTime();
    }
    return 0;
  }

  /** Sleeps or waits as set (two volatile reads when neither is). */
  private void hold() {
    long sleep = logSleepMillis;
    if (sleep > 0) {
      try {
        Thread.sleep(sleep);
      } catch (InterruptedException e) {
        Thread.currentThread().interrupt();
      }
    }
    if (logParked) {
      synchronized (parking) {
        while (logParked) {
          try {
            parking.wait();
          } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return;
          }
        }
      }
    }
  }
}
