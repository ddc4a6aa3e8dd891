package com.tarnwick.tests.programs;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.sim.SimControl;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Floods the log queue from the service library's threads and calls System.exit(0) while the
 * log thread is still delivering: the process must end at once and cleanly, with thousands of
 * lines still queued.
 *
 * <p>Argument: the directory of the simulated service library.
 */
public final class ExitWhileLogging {
  private static final int THREADS = 4;
  private static final int LINES_PER_THREAD = 2500;

  private ExitWhileLogging() {}

  public static void main(String[] args) throws InterruptedException {
    String dir = args[0];
    AtomicInteger delivered = new AtomicInteger();
    CountDownLatch first = new CountDownLatch(1);
    NativeAPI api = new NativeAPI();
    api.setLogListener(line -> {
      delivered.incrementAndGet();
      first.countDown();
      // A listener with some work to do, so the queue backs up.
      StringBuilder sink = new StringBuilder();
      for (byte b : line) {
        sink.append(Integer.toHexString(b & 0xff));
      }
      if (sink.length() == 0) {
        System.out.println("empty line");
      }
    });
    api.setJniEnv(dir);
    SimControl.load(dir);
    // start hands the service the bridge's log sink.
    int code = api.start("");
    if (code != 0) {
      System.out.println("start returned " + code);
      System.exit(2);
    }
    if (!first.await(20, TimeUnit.SECONDS)) {
      System.out.println("no log line delivered");
      System.exit(2);
    }
    byte[] line = "flood %t-%d\n".getBytes(StandardCharsets.UTF_8);
    int refused = SimControl.emitLog(line, LINES_PER_THREAD, THREADS);
    if (refused != 0) {
      System.out.println("the log sink refused " + refused + " lines");
      System.exit(2);
    }
    System.out.println("exiting with " + delivered.get() + " of at least "
        + THREADS * LINES_PER_THREAD + " lines delivered");
    System.exit(0);
  }
}
