package com.tarnwick.tests.programs;

import com.tarnwick.api.NativeAPI;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Starts the bridge's log thread, waits until it has delivered a line (so it is attached to the
 * JVM and waiting on its queue), then returns from main without System.exit. The JVM must end by
 * itself: a thread of the bridge that keeps it alive makes the test hit its time-out.
 *
 * <p>Argument: the directory of the simulated service library.
 */
public final class ReturnFromMain {
  private ReturnFromMain() {}

  public static void main(String[] args) throws InterruptedException {
    CountDownLatch delivered = new CountDownLatch(1);
    NativeAPI api = new NativeAPI();
    api.setLogListener(line -> {
      if (new String(line, StandardCharsets.UTF_8).contains("dir is ")) {
        delivered.countDown();
      }
    });
    api.setJniEnv(args[0]);
    if (!delivered.await(20, TimeUnit.SECONDS)) {
      System.out.println("no log line delivered");
      System.exit(2);
    }
    System.out.println("returning from main");
  }
}
