package com.tarnwick.tests.programs;

import com.tarnwick.api.NativeAPI;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Calls System.exit(0) while the bridge's log thread waits on an empty queue: the process must
 * end at once, although that thread never gets to stop.
 *
 * <p>Argument: the directory of the simulated service library.
 */
public final class ExitWhenIdle {
  private ExitWhenIdle() {}

  public static void main(String[] args) throws InterruptedException {
    CountDownLatch marker = new CountDownLatch(1);
    NativeAPI api = new NativeAPI();
    api.setLogListener(line -> {
      if (new String(line, StandardCharsets.UTF_8).contains("dir is idle-marker")) {
        marker.countDown();
      }
    });
    api.setJniEnv(args[0]);
    api.setJniEnv("idle-marker");
    if (!marker.await(20, TimeUnit.SECONDS)) {
      System.out.println("no log line delivered");
      System.exit(2);
    }
    // Let the thread drain what the two calls queued after the marker and block on the queue.
    Thread.sleep(300);
    System.out.println("exiting while the log thread is idle");
    System.exit(0);
  }
}
