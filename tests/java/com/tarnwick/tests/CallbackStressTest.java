package com.tarnwick.tests;

import static com.tarnwick.tests.LeBuilder.le32;
import static com.tarnwick.tests.LeBuilder.utf8z;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import com.tarnwick.api.DataListener;
import com.tarnwick.api.LogListener;
import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.wire.CallbackMessage;
import com.tarnwick.api.wire.Cube;
import com.tarnwick.api.wire.SubscriptionReply;
import com.tarnwick.api.wire.Value;
import com.tarnwick.sim.SimControl;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;

/**
 * Eight service threads send 10,000 messages each through the csq callback at once. Every message
 * must reach dataAPICallBack exactly once with its payload intact, every service thread must
 * leave the JVM again (attach, deliver, detach), and -Xcheck:jni must stay silent (the runner
 * fails the test on any report).
 */
class CallbackStressTest {
  private static final int THREADS = 8;
  private static final int PER_THREAD = 10_000;
  private static final int TOTAL = THREADS * PER_THREAD;
  /** Generous bound for the whole run; it guards against a hang, it measures nothing. */
  private static final long DEADLINE_SECONDS = 120;

  private static final List<String> THIRD = Arrays.asList("thread", "seq", "tag", "blob");

  /** Checks every message as it arrives, on the delivering thread. */
  private static final class Checker implements DataListener {
    final AtomicIntegerArray seen = new AtomicIntegerArray(TOTAL);
    final AtomicInteger received = new AtomicInteger();
    final AtomicInteger bad = new AtomicInteger();
    final AtomicReference<String> firstProblem = new AtomicReference<>();

    @Override
    public void onData(byte[] array, int kind) {
      String problem;
      try {
        problem = check(array, kind);
      } catch (RuntimeException e) {
        problem = e.toString();
      }
      if (problem != null) {
        bad.incrementAndGet();
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
      if (message.word1() != 0 || message.word2() != 0 || message.errorCode() != 0) {
        return "header of t" + t + "s" + s;
      }
      if (seen.incrementAndGet(t * PER_THREAD + s) != 1) {
        return "t" + t + "s" + s + " delivered twice";
      }
      Cube cube = message.cube();
      if (cube == null) {
        return "no cube in t" + t + "s" + s;
      }
      byte[] blob = new byte[s % 7];
      for (int i = 0; i < blob.length; i++) {
        blob[i] = (byte) (t * 31 + s + i);
      }
      List<Value> values = Arrays.asList(Value.of(6, le32(t)), Value.of(6, le32(s)),
          Value.of(14, utf8z("t" + t + "s" + s)), Value.of(14, blob));
      if (!cube.first().equals(Arrays.asList("t" + t))
          || !cube.second().equals(Arrays.asList("s" + s)) || !cube.third().equals(THIRD)
          || !cube.values().equals(values)) {
        return "cube of t" + t + "s" + s + ": " + cube;
      }
      return null;
    }

    synchronized void awaitAll(long deadlineNanos) throws InterruptedException {
      while (received.get() < TOTAL) {
        long left = deadlineNanos - System.nanoTime();
        if (left <= 0) {
          return;
        }
        TimeUnit.NANOSECONDS.timedWait(this, Math.min(left, TimeUnit.SECONDS.toNanos(1)));
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
  void eightyThousandMessagesFromEightThreadsArriveOnceEachIntact() throws Exception {
    LogCollector startup = new LogCollector();
    Checker checker = new Checker();
    NativeAPI api = SimBridge.open(SimDirs.defaultDir(), startup, checker);
    LineCounter lines = new LineCounter();
    api.setLogListener(lines);
    SimControl.reset();
    SimControl.setStreaming(false, 0);
    // Hands the csq callback to the sim.
    assertEquals(0, SubscriptionReply.decode(api.csq("600000.SH", "rt_last", "")).code());
    Set<Long> threadsBefore = SimBridge.liveThreadIds();
    long start = System.nanoTime();

    assertEquals(0, SimControl.fire(SimControl.CSQ, THREADS, PER_THREAD, "tagwords,tagcube"));
    checker.awaitAll(start + TimeUnit.SECONDS.toNanos(DEADLINE_SECONDS));
    int sent = SimControl.fireWait();
    long millis = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);

    System.out.println("callback stress: sent=" + sent + " received=" + checker.received.get()
        + " bad=" + checker.bad.get() + " in " + millis + " ms");
    assertEquals(TOTAL, sent, "messages the sim sent");
    assertEquals(TOTAL, checker.received.get(), "messages delivered within the deadline");
    assertNull(checker.firstProblem.get(), () -> checker.bad.get() + " bad messages");
    for (int i = 0; i < TOTAL; i++) {
      assertEquals(1, checker.seen.get(i), "deliveries of message " + i);
    }
    SimBridge.assertNoSimErrors();

    // Every service thread detached again: no thread the stress made is left in the JVM.
    assertEquals(Collections.emptyList(), SimBridge.newNonDaemonThreads(threadsBefore, 60),
        "threads left attached");

    // Each callback also logged its line; the log thread delivers all of them.
    long logDeadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
    while (lines.csqLines.get() < TOTAL && System.nanoTime() < logDeadline) {
      Thread.sleep(20);
    }
    assertEquals(TOTAL, lines.csqLines.get(), "\"recv csq datacallback\" lines");
  }
}
