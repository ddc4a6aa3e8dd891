package com.tarnwick.tests.programs;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.sim.SimControl;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;

/**
 * Opts in to attached callback threads the way an application does (the system property set
 * before the first setJniEnv), lets two service threads deliver, then returns from main while
 * they are still alive and attached. The JVM must end by itself: the bridge attaches service
 * threads as daemons.
 *
 * <p>Argument: the directory of the simulated service library.
 */
public final class ExitWithAttachedServiceThreads {
  private ExitWithAttachedServiceThreads() {}

  public static void main(String[] args) throws InterruptedException {
    System.setProperty("veltrix.callbackThreads", "attached");
    CountDownLatch delivered = new CountDownLatch(6);
    AtomicReference<Thread> first = new AtomicReference<>();
    AtomicReference<String> problem = new AtomicReference<>();
    NativeAPI api = new NativeAPI();
    api.setDataListener((message, kind) -> {
      Thread current = Thread.currentThread();
      first.compareAndSet(null, current);
      if (!current.isDaemon() || !current.getName().startsWith("veltrix-callback-")) {
        problem.compareAndSet(null, "delivered on " + current);
      }
      delivered.countDown();
    });
    api.setJniEnv(args[0]);
    SimControl.load(args[0]);
    SimControl.reset();
    SimControl.setStreaming(false, 0);
    api.csq("600000.SH", "rt_last", "");
    // Two service threads deliver and stay alive (and attached) until the sim unloads at
    // process exit.
    if (SimControl.fire(SimControl.CSQ, 2, 3, "tagwords,linger") != 0) {
      System.out.println("fire failed");
      System.exit(2);
    }
    if (!delivered.await(20, TimeUnit.SECONDS)) {
      System.out.println("no messages delivered");
      System.exit(2);
    }
    if (problem.get() != null || !first.get().isAlive()) {
      System.out.println("unexpected: " + problem.get() + ", alive " + first.get().isAlive());
      System.exit(3);
    }
    System.out.println("returning from main with " + first.get().getName() + " alive");
  }
}
