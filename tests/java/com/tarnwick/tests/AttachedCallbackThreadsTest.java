package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.DataListener;
import com.tarnwick.api.LogListener;
import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.wire.CallbackMessage;
import com.tarnwick.api.wire.SubscriptionReply;
import com.tarnwick.sim.SimControl;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.concurrent.atomic.AtomicReference;
import java.util.concurrent.atomic.AtomicReferenceArray;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/**
 * Runs in a JVM of its own started with -Dveltrix.callbackThreads=attached (the bridge reads the
 * property once). Four service threads send 10,000 messages each: every message arrives once, each
 * service thread is one Java thread for all its messages (a daemon named veltrix-callback-N), and
 * once the service threads have ended, the JVM's live thread count is back where it was: each one
 * was detached as it ended.
 */
class AttachedCallbackThreadsTest {
  private static final int THREADS = 4;
  private static final int PER_THREAD = 10_000;
  private static final int TOTAL = THREADS * PER_THREAD;
  /** Limits that only catch a hang; they measure nothing. */
  private static final long HANG_SECONDS = 120;

  private static final Pattern NAME = Pattern.compile("veltrix-callback-[1-9][0-9]*");

  /** Records, per service thread (word4), the Java thread of each message (word5). */
  private static final class Recorder implements DataListener {
    final AtomicIntegerArray seen = new AtomicIntegerArray(TOTAL);
    final AtomicReferenceArray<Thread> threadOf = new AtomicReferenceArray<>(THREADS);
    final AtomicInteger received = new AtomicInteger();
    final AtomicReference<String> firstProblem = new AtomicReference<>();

    @Override
    public void onData(byte[] array, int kind) {
      String problem = check(array, kind);
      if (problem != null) {
        firstProblem.compareAndSet(null, problem);
      }
      if (received.incrementAndGet() == TOTAL) {
        synchronized (this) { notifyAll(); }
      }
    }

    private String check(byte[] array, int kind) {
      if (kind != DataListener.KIND_CSQ) {
        return "kind " + kind;
      }
      CallbackMessage message = CallbackMessage.decode(array);
      int t = message.word4();
      int s = message.word5();
      if (t < 0 || t >= THREADS || s < 0 || s >= PER_THREAD) {
        return "words " + t + ", " + s;
      }
      if (seen.incrementAndGet(t * PER_THREAD + s) != 1) {
        return "t" + t + "s" + s + " delivered twice";
      }
      Thread current = Thread.currentThread();
      threadOf.compareAndSet(t, null, current);
      if (threadOf.get(t) != current) {
        return "t" + t + "s" + s + " on " + current + ", earlier ones on " + threadOf.get(t);
      }
      if (!current.isDaemon() || !NAME.matcher(current.getName()).matches()) {
        return "t" + t + " on " + current + " (daemon " + current.isDaemon() + ")";
      }
      return null;
    }

    synchronized void awaitAll(long deadlineNanos) throws InterruptedException {
      while (received.get() < TOTAL && System.nanoTime() < deadlineNanos) {
        TimeUnit.NANOSECONDS.timedWait(this, TimeUnit.SECONDS.toNanos(1));
      }
    }
  }

  /** Counts the bridge's debug line of every csq callback. */
  private static final class LineCounter implements LogListener {
    private static final byte[] RECEIVED =
        "]:recv csq datacallback\n".getBytes(StandardCharsets.US_ASCII);
    final AtomicInteger csqLines = new AtomicInteger();

    @Override
    public void onLog(byte[] line) {
      if (line != null && line.length >= RECEIVED.length
          && Arrays.equals(
              RECEIVED, 0, RECEIVED.length, line, line.length - RECEIVED.length, line.length)) {
        csqLines.incrementAndGet();
      }
    }
  }

  @Test
  void serviceThreadsStayOneDaemonThreadEachAndLeaveWhenTheyEnd() throws Exception {
    List<String> arguments = ManagementFactory.getRuntimeMXBean().getInputArguments();
    assertTrue(arguments.contains("-Xcheck:jni"), "JVM input arguments: " + arguments);
    assertEquals("attached", System.getProperty("veltrix.callbackThreads"));

    Recorder recorder = new Recorder();
    NativeAPI api = SimBridge.open(SimDirs.defaultDir(), new LogCollector(), recorder);
    LineCounter lines = new LineCounter();
    api.setLogListener(lines);
    SimControl.reset();
    SimControl.setStreaming(false, 0);
    assertEquals(0, SubscriptionReply.decode(api.csq("600000.SH", "rt_last", "")).code());
    ThreadMXBean mx = ManagementFactory.getThreadMXBean();
    int threadsBefore = mx.getThreadCount();
    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(HANG_SECONDS);

    assertEquals(0, SimControl.fire(SimControl.CSQ, THREADS, PER_THREAD, "tagwords"));
    recorder.awaitAll(deadline);
    assertEquals(TOTAL, SimControl.fireWait(), "messages the sim sent");
    assertEquals(TOTAL, recorder.received.get(), "messages delivered");
    assertNull(recorder.firstProblem.get());
    for (int i = 0; i < TOTAL; i++) {
      assertEquals(1, recorder.seen.get(i), "deliveries of message " + i);
    }
    Set<Thread> distinct = new HashSet<>();
    Set<String> names = new HashSet<>();
    for (int t = 0; t < THREADS; t++) {
      distinct.add(recorder.threadOf.get(t));
      names.add(recorder.threadOf.get(t).getName());
    }
    assertEquals(THREADS, distinct.size(), "Java threads of the service threads");
    assertEquals(THREADS, names.size(), "their names: " + names);
    SimBridge.assertNoSimErrors();

    // The sim's threads have ended (fireWait joined them): each was detached at its exit, so
    // its Thread ends and the live count returns to where it was.
    while (mx.getThreadCount() != threadsBefore && System.nanoTime() < deadline) {
      Thread.sleep(20);
    }
    assertEquals(threadsBefore, mx.getThreadCount(), "live JVM threads");
    for (int t = 0; t < THREADS; t++) {
      Thread thread = recorder.threadOf.get(t);
      thread.join(TimeUnit.SECONDS.toMillis(HANG_SECONDS));
      assertFalse(thread.isAlive(), thread + " still alive");
    }

    // The debug line of every callback is still written.
    while (lines.csqLines.get() < TOTAL && System.nanoTime() < deadline) {
      Thread.sleep(20);
    }
    assertEquals(TOTAL, lines.csqLines.get(), "\"recv csq datacallback\" lines");

    // A Java thread calling back synchronously is used as it is.
    DataCollector collector = new DataCollector();
    api.setDataListener(collector);
    assertEquals(0, SimControl.fire(SimControl.CSQ, 0, 3, "tagwords"));
    for (DataCollector.Delivery delivery : collector.await(d -> true, 3)) {
      assertSame(Thread.currentThread(), delivery.thread);
    }
  }
}
