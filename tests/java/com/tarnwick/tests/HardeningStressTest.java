package com.tarnwick.tests;

import static com.tarnwick.tests.LeBuilder.le32;
import static com.tarnwick.tests.LeBuilder.utf8z;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.tarnwick.api.DataListener;
import com.tarnwick.api.LogListener;
import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.wire.CallbackMessage;
import com.tarnwick.api.wire.CountReply;
import com.tarnwick.api.wire.Cube;
import com.tarnwick.api.wire.Grid;
import com.tarnwick.api.wire.ResultBuffer;
import com.tarnwick.api.wire.SubscriptionReply;
import com.tarnwick.api.wire.Value;
import com.tarnwick.sim.SimControl;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeMap;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;

/**
 * The whole bridge under load at once: service threads deliver messages through all four
 * callbacks, Java threads call queries, subscriptions and portfolio functions, and the service
 * writes log lines from threads of its own. Every message must arrive exactly once, intact and
 * with its kind; every reply must decode with code 0 and match the reply the same call gave
 * before the load; every log line must arrive, each producer's lines in order; the service
 * threads must leave the JVM again; and -Xcheck:jni must stay silent (the runner fails the
 * test on any report).
 */
class HardeningStressTest {
  // ---- Callback messages ----
  // Eight service threads run at any time, in four rounds. In round r, fire call j (0..3)
  // starts two threads on kind (j + r) % 4, so that all four kinds are delivered at once and
  // each of the eight producer slots (2 j + thread) sends 2,500 messages of every kind, 10,000
  // in all. Each message carries its round (word1), its fire call (word2), its thread (word4),
  // its sequence (word5) and the identity cube of (thread, sequence).
  private static final int ROUNDS = 4;
  private static final int CALLS_PER_ROUND = 4;
  private static final int THREADS_PER_CALL = 2;
  private static final int PER_THREAD = 2_500;
  private static final int SLOTS = CALLS_PER_ROUND * THREADS_PER_CALL;
  private static final int TOTAL = ROUNDS * CALLS_PER_ROUND * THREADS_PER_CALL * PER_THREAD;
  private static final int PER_KIND = TOTAL / 4;

  // ---- Java callers ----
  private static final int WORKERS = 4;

  // ---- Log lines ----
  // Batches of PRODUCERS service threads, LINES_PER_PRODUCER lines each, while the firing runs.
  private static final int PRODUCERS = 4;
  private static final int LINES_PER_PRODUCER = 500;
  private static final int MAX_BATCHES = 400;
  private static final String LINE_PREFIX = "stress-log b";

  /** Bounds for the phases; they guard against a hang, they measure nothing. */
  private static final long FIRING_SECONDS = 120;
  private static final long JOIN_SECONDS = 30;
  private static final long LOG_SECONDS = 60;
  private static final long SETTLE_SECONDS = 60;

  private static final List<String> THIRD = Arrays.asList("thread", "seq", "tag", "blob");

  /** Remembers the first problem seen on any thread, and how many there were. */
  private static final class Problems {
    final AtomicInteger count = new AtomicInteger();
    final AtomicReference<String> first = new AtomicReference<>();

    void report(String problem) {
      count.incrementAndGet();
      first.compareAndSet(null, problem);
    }
  }

  /** Checks every message on the thread that delivers it. */
  private static final class Checker implements DataListener {
    final AtomicIntegerArray seen = new AtomicIntegerArray(TOTAL);
    final AtomicIntegerArray perKind = new AtomicIntegerArray(4);
    final AtomicInteger received = new AtomicInteger();
    final Problems problems = new Problems();

    @Override
    public void onData(byte[] array, int kind) {
      received.incrementAndGet();
      if (kind >= 0 && kind < 4) {
        perKind.incrementAndGet(kind);
      }
      String problem;
      try {
        problem = check(array, kind);
      } catch (RuntimeException e) {
        problem = e.toString();
      }
      if (problem != null) {
        problems.report(problem);
      }
    }

    private String check(byte[] array, int kind) {
      CallbackMessage message = CallbackMessage.decode(array);
      int round = message.word1();
      int call = message.word2();
      int t = message.word4();
      int s = message.word5();
      if (round < 0 || round >= ROUNDS || call < 0 || call >= CALLS_PER_ROUND || t < 0
          || t >= THREADS_PER_CALL || s < 0 || s >= PER_THREAD) {
        return "words " + round + ", " + call + ", " + t + ", " + s + " (kind " + kind + ")";
      }
      String id = "r" + round + "c" + call + "t" + t + "s" + s;
      int expectedKind = (call + round) % 4;
      if (kind != expectedKind) {
        return id + " arrived with kind " + kind + ", sent with " + expectedKind;
      }
      if (message.errorCode() != 0) {
        return id + " with code " + message.errorCode();
      }
      int index = ((round * CALLS_PER_ROUND + call) * THREADS_PER_CALL + t) * PER_THREAD + s;
      if (seen.incrementAndGet(index) != 1) {
        return id + " delivered twice";
      }
      Cube cube = message.cube();
      if (cube == null) {
        return "no cube in " + id;
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
        return "cube of " + id + ": " + cube;
      }
      return null;
    }
  }

  /**
   * Counts the bridge's "recv ..." line of every callback per kind, and checks the service's
   * own lines "stress-log b<batch> p<producer> n<sequence>" for order per (batch, producer).
   */
  private static final class LineChecker implements LogListener {
    private static final String[] RECEIVED = {"]:recv maincallback\n", "]:recv csq datacallback\n",
        "]:recv cst datacallback\n", "]:recv cnq datacallback\n"};
    final AtomicIntegerArray receivedLines = new AtomicIntegerArray(4);
    final AtomicInteger stressLines = new AtomicInteger();
    final Problems problems = new Problems();
    /** The next sequence number expected from each (batch, producer). */
    private final Map<Long, Integer> next = new HashMap<>();

    @Override
    public void onLog(byte[] bytes) {
      if (bytes == null) {
        problems.report("a null line");
        return;
      }
      String line = new String(bytes, StandardCharsets.UTF_8);
      if (line.startsWith(LINE_PREFIX)) {
        stressLine(line);
        return;
      }
      for (int kind = 0; kind < 4; kind++) {
        if (line.endsWith(RECEIVED[kind])) {
          receivedLines.incrementAndGet(kind);
          return;
        }
      }
    }

    private void stressLine(String line) {
      stressLines.incrementAndGet();
      String[] parts = line.substring(LINE_PREFIX.length()).split(" ", -1);
      int batch;
      int producer;
      int sequence;
      try {
        if (parts.length != 3 || !parts[1].startsWith("p") || !parts[2].startsWith("n")) {
          throw new NumberFormatException();
        }
        batch = Integer.parseInt(parts[0]);
        producer = Integer.parseInt(parts[1].substring(1));
        sequence = Integer.parseInt(parts[2].substring(1));
      } catch (NumberFormatException e) {
        problems.report("garbled line \"" + line + "\"");
        return;
      }
      long key = ((long) batch << 32) | producer;
      synchronized (this) {
        int expected = next.getOrDefault(key, 0);
        if (sequence != expected) {
          problems.report("\"" + line + "\" where n" + expected + " was due");
        }
        next.put(key, sequence + 1);
      }
    }

    /** Producers of the given batches that did not deliver all their lines. */
    synchronized List<String> incomplete(int batches) {
      List<String> missing = new ArrayList<>();
      for (int batch = 0; batch < batches; batch++) {
        for (int producer = 0; producer < PRODUCERS; producer++) {
          int got = next.getOrDefault(((long) batch << 32) | producer, 0);
          if (got != LINES_PER_PRODUCER) {
            missing.add("b" + batch + " p" + producer + ": " + got);
          }
        }
      }
      return missing;
    }
  }

  /** One Java caller: queries, subscriptions and a portfolio of its own, until told to stop. */
  private static final class Worker implements Runnable {
    static final String CODES = "600000.SH,000001.SZ";
    static final String FIELDS = "CLOSE,VOLUME";
    static final String BEGIN = "20240603";
    static final String END = "20240628";
    /** Trading days from BEGIN to END: the weekdays of four weeks. */
    static final int DAYS = 20;
    static final String ORDERS = "[{\"code\":\"600000.SH\",\"volume\":1000,\"price\":7.8,"
        + "\"date\":20240628,\"time\":100000,\"optype\":1,\"cost\":5,\"rate\":0.0003,"
        + "\"reserve\":0},{\"code\":\"000001.SZ\",\"volume\":500,\"price\":0,\"date\":20240627,"
        + "\"time\":140000,\"optype\":1,\"cost\":5,\"rate\":0.0003,\"reserve\":0}]";

    final NativeAPI api;
    final String portfolio;
    final AtomicBoolean stop;
    final CountDownLatch go;
    final Problems problems;
    final Set<Integer> requestNumbers;
    /** Calls made, per export name. */
    final Map<String, Integer> calls = new TreeMap<>();

    byte[] csdReference;
    byte[] cssReference;
    byte[] ctrReference;
    byte[] pqueryReference;
    int loops;

    Worker(NativeAPI api, int index, AtomicBoolean stop, CountDownLatch go, Problems problems,
        Set<Integer> requestNumbers) {
      this.api = api;
      this.portfolio = "stress-w" + index;
      this.stop = stop;
      this.go = go;
      this.problems = problems;
      this.requestNumbers = requestNumbers;
    }

    private byte[] csd() { return api.csd(CODES, FIELDS, BEGIN, END, ""); }

    private byte[] css() {
      return api.css("600000.SH,600519.SH", "NAME,CLOSE", "TradeDate=" + END);
    }

    private byte[] ctr() { return api.ctr("TOP_GAINERS", "", "TradeDate=" + END); }

    /** The replies of the calls whose result does not change, taken before the load. */
    void takeReferences() {
      csdReference = csd();
      Cube csd = ResultBuffer.decode(csdReference).cube();
      assertEquals(Arrays.asList("600000.SH", "000001.SZ"), csd.first(), "csd codes");
      assertEquals(Arrays.asList("CLOSE", "VOLUME"), csd.second(), "csd fields");
      assertEquals(DAYS, csd.third().size(), "csd dates");
      assertEquals(2 * 2 * DAYS, csd.valueCount(), "csd values");

      cssReference = css();
      Cube css = ResultBuffer.decode(cssReference).cube();
      assertEquals(Arrays.asList("600000.SH", "600519.SH"), css.first(), "css codes");
      assertEquals(Arrays.asList("NAME", "CLOSE"), css.second(), "css fields");
      assertEquals(4, css.valueCount(), "css values");
      // Date-major, then field, then code: the closes come last.
      assertEquals(7.85, css.values().get(2).doubleValue(), 1e-9, "close of 600000.SH");
      assertEquals(1468.00, css.values().get(3).doubleValue(), 1e-9, "close of 600519.SH");

      ctrReference = ctr();
      Grid ctr = ResultBuffer.decode(ctrReference).grid();
      assertEquals(6, ctr.d1(), "ctr columns");
      assertEquals(5, ctr.d2(), "ctr rows");
      assertEquals(Arrays.asList("CODE", "NAME", "CLOSE", "PCTCHG", "VOLUME", "AMOUNT"),
          ctr.texts(), "ctr columns");

      assertEquals(0, api.pcreate(portfolio, "stress", 1_000_000L, "", ""), "pcreate");
      assertEquals(0, api.porder(ORDERS, portfolio, "", ""), "porder");
      pqueryReference = api.pquery(portfolio);
      Cube held = ResultBuffer.decode(pqueryReference).cube();
      assertTrue(held.first().containsAll(Arrays.asList("600000.SH", "000001.SZ", "CASH")),
          "pquery rows: " + held.first());
      assertEquals(Arrays.asList(portfolio), held.third(), "pquery portfolio");
      assertEquals(0, api.pdelete(portfolio, ""), "pdelete");
    }

    @Override
    public void run() {
      try {
        go.await();
        do {
          loop();
          loops++;
        } while (!stop.get());
      } catch (Throwable e) {
        problems.report(portfolio + ": " + e);
      }
    }

    private void count(String name) { calls.merge(name, 1, Integer::sum); }

    private void same(String name, byte[] reference, byte[] reply) {
      count(name);
      ResultBuffer result = ResultBuffer.decode(reply);
      if (result.code() != 0) {
        fail(name + " answered code " + result.code());
      }
      if (!Arrays.equals(reference, reply)) {
        fail(name + " answered " + Hex.of(reply) + " instead of " + Hex.of(reference));
      }
    }

    private void code0(String name, int code) {
      count(name);
      if (code != 0) {
        fail(name + " answered code " + code);
      }
    }

    private int subscribe(String name, byte[] reply) {
      count(name);
      SubscriptionReply subscription = SubscriptionReply.decode(reply);
      if (subscription.code() != 0 || subscription.requestNumber() <= 0) {
        fail(name + " answered " + subscription);
      }
      if (!requestNumbers.add(subscription.requestNumber())) {
        fail(name + " answered request number " + subscription.requestNumber() + " twice");
      }
      return subscription.requestNumber();
    }

    private void loop() {
      same("csd", csdReference, csd());
      same("css", cssReference, css());
      byte[] grid = ctr();
      same("ctr", ctrReference, grid);
      ResultBuffer.decode(grid).grid();
      count("tradedatesnum");
      CountReply days = CountReply.decode(api.tradedatesnum(BEGIN, END, ""));
      if (days.code() != 0 || days.count() != DAYS) {
        fail("tradedatesnum answered " + days);
      }
      code0("csqcancel", api.csqcancel(subscribe("csq", api.csq(CODES, "RT_LAST", ""))));
      code0("cnqcancel", api.cnqcancel(subscribe("cnq", api.cnq(CODES, "", ""))));
      code0("pcreate", api.pcreate(portfolio, "stress", 1_000_000L, "", ""));
      code0("porder", api.porder(ORDERS, portfolio, "", ""));
      same("pquery", pqueryReference, api.pquery(portfolio));
      code0("pdelete", api.pdelete(portfolio, ""));
    }
  }

  private static void join(Thread thread, long deadlineNanos) throws InterruptedException {
    long left = deadlineNanos - System.nanoTime();
    if (left > 0) {
      TimeUnit.NANOSECONDS.timedJoin(thread, left);
    }
    assertFalse(thread.isAlive(), thread.getName() + " still runs");
  }

  @Test
  void messagesQueriesAndLogLinesAllAtOnce() throws Exception {
    Checker checker = new Checker();
    NativeAPI api = SimBridge.open(SimDirs.defaultDir(), new LogCollector(), checker);
    LineChecker lines = new LineChecker();
    api.setLogListener(lines);
    SimControl.reset();
    SimControl.setStreaming(false, 0);
    // Hands the log sink and the three data callbacks to the sim; setJniEnv handed it the main
    // callback.
    assertEquals(0, api.start(""), "start");
    SubscriptionReply csq = SubscriptionReply.decode(api.csq("600000.SH", "rt_last", ""));
    assertEquals(0, csq.code(), "csq");
    assertEquals(0, SubscriptionReply.decode(api.cst("600000.SH", "", "", "", "")).code(), "cst");
    SubscriptionReply cnq = SubscriptionReply.decode(api.cnq("600000.SH", "", ""));
    assertEquals(0, cnq.code(), "cnq");
    assertEquals(0, api.csqcancel(csq.requestNumber()), "csqcancel");
    assertEquals(0, api.cnqcancel(cnq.requestNumber()), "cnqcancel");
    for (int kind : new int[] {SimControl.MAIN, SimControl.CSQ, SimControl.CST, SimControl.CNQ,
             SimControl.LOG_SINK}) {
      assertTrue(SimControl.hasCallback(kind), "the sim has callback " + kind);
    }

    Problems callerProblems = new Problems();
    Set<Integer> requestNumbers = ConcurrentHashMap.newKeySet();
    requestNumbers.add(csq.requestNumber());
    requestNumbers.add(cnq.requestNumber());
    AtomicBoolean stop = new AtomicBoolean();
    CountDownLatch go = new CountDownLatch(1);
    List<Worker> workers = new ArrayList<>();
    for (int i = 0; i < WORKERS; i++) {
      Worker worker = new Worker(api, i, stop, go, callerProblems, requestNumbers);
      worker.takeReferences();
      workers.add(worker);
    }
    assertEquals(0, SimControl.activeStreams(), "streams");
    assertEquals(0, SimControl.outstandingRecords(), "records not released before the load");
    SimBridge.assertNoSimErrors();
    SimControl.clearCalls();

    Set<Long> threadsBefore = SimBridge.liveThreadIds();
    long start = System.nanoTime();

    List<Thread> threads = new ArrayList<>();
    for (int i = 0; i < WORKERS; i++) {
      threads.add(new Thread(workers.get(i), "stress-caller-" + i));
    }
    AtomicInteger batches = new AtomicInteger();
    Problems emitProblems = new Problems();
    threads.add(new Thread(() -> {
      try {
        go.await();
        do {
          int batch = batches.get();
          int result = SimControl.emitLog(
              (LINE_PREFIX + batch + " p%t n%d").getBytes(StandardCharsets.US_ASCII),
              LINES_PER_PRODUCER, PRODUCERS);
          batches.incrementAndGet();
          if (result != 0) {
            emitProblems.report("emitLog of batch " + batch + " answered " + result);
            return;
          }
          // Paced by the log thread: the next batch once the one before has arrived, so that
          // lines keep coming for as long as the firing runs.
          int due = batch * PRODUCERS * LINES_PER_PRODUCER;
          long wait = System.nanoTime() + TimeUnit.SECONDS.toNanos(LOG_SECONDS);
          while (lines.stressLines.get() < due) {
            if (System.nanoTime() > wait) {
              emitProblems.report("batch " + (batch - 1) + " not delivered after " + LOG_SECONDS
                  + " s: " + lines.stressLines.get() + " of " + due + " lines");
              return;
            }
            Thread.sleep(1);
          }
        } while (!stop.get() && batches.get() < MAX_BATCHES);
      } catch (Throwable e) {
        emitProblems.report(e.toString());
      }
    }, "stress-log"));
    AtomicInteger sent = new AtomicInteger();
    Problems fireProblems = new Problems();
    Thread firing = new Thread(() -> {
      try {
        go.await();
        for (int round = 0; round < ROUNDS; round++) {
          for (int call = 0; call < CALLS_PER_ROUND; call++) {
            int kind = (call + round) % 4;
            int result = SimControl.fire(kind, THREADS_PER_CALL, PER_THREAD,
                "w1=" + round + ",w2=" + call + ",tagwords,tagcube");
            if (result != 0) {
              fireProblems.report("fire(" + kind + ") in round " + round + " answered " + result);
            }
          }
          sent.addAndGet(SimControl.fireWait());
        }
      } catch (Throwable e) {
        fireProblems.report(e.toString());
      } finally {
        stop.set(true);
      }
    }, "stress-firing");
    threads.add(firing);
    for (Thread thread : threads) {
      thread.start();
    }
    go.countDown();

    long deadline = start + TimeUnit.SECONDS.toNanos(FIRING_SECONDS);
    join(firing, deadline);
    long joinDeadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(JOIN_SECONDS);
    for (Thread thread : threads) {
      join(thread, joinDeadline);
    }
    long firedMillis = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);

    // Every log line reaches Java: the bridge's "recv" line of each callback and the
    // service's own lines.
    int linesSent = batches.get() * PRODUCERS * LINES_PER_PRODUCER;
    long logDeadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(LOG_SECONDS);
    while ((lines.stressLines.get() < linesSent || totalOf(lines.receivedLines) < TOTAL)
        && System.nanoTime() < logDeadline) {
      Thread.sleep(20);
    }

    // Every service thread left the JVM again.
    List<String> threadsLeft = SimBridge.newNonDaemonThreads(threadsBefore, SETTLE_SECONDS);

    Map<String, Integer> calls = new TreeMap<>();
    int callCount = 0;
    int loops = 0;
    for (Worker worker : workers) {
      worker.calls.forEach((name, n) -> calls.merge(name, n, Integer::sum));
      loops += worker.loops;
    }
    for (int n : calls.values()) {
      callCount += n;
    }
    System.out.println("stress: messages sent=" + sent.get() + " received=" + checker.received.get()
        + " lines sent=" + linesSent + " received=" + lines.stressLines.get()
        + " recv-lines=" + totalOf(lines.receivedLines) + " calls=" + callCount + " (" + loops
        + " loops) threads left=" + threadsLeft + " in "
        + firedMillis + " ms");

    assertNull(fireProblems.first.get(), "firing");
    assertNull(emitProblems.first.get(), "log lines");
    assertNull(callerProblems.first.get(),
        () -> callerProblems.count.get() + " failed callers, the first");
    assertEquals(TOTAL, sent.get(), "messages the sim sent");
    assertNull(checker.problems.first.get(), () -> checker.problems.count.get() + " bad messages");
    assertEquals(TOTAL, checker.received.get(), "messages delivered");
    for (int kind = 0; kind < 4; kind++) {
      assertEquals(PER_KIND, checker.perKind.get(kind), "messages of kind " + kind);
    }
    for (int i = 0; i < TOTAL; i++) {
      assertEquals(1, checker.seen.get(i), "deliveries of message " + i);
    }

    assertNull(lines.problems.first.get(), () -> lines.problems.count.get() + " bad lines");
    assertEquals(linesSent, lines.stressLines.get(), "service lines");
    assertEquals(Arrays.asList(), lines.incomplete(batches.get()), "producers short of lines");
    for (int kind = 0; kind < 4; kind++) {
      assertEquals(PER_KIND, lines.receivedLines.get(kind), "\"recv\" lines of kind " + kind);
    }

    assertEquals(Collections.emptyList(), threadsLeft, "threads left attached");

    // Each call reached the service once; each record came back; nothing else went wrong.
    Map<String, Integer> seenBySim = new TreeMap<>();
    for (String line : SimControl.calls()) {
      String name = line.substring(0, line.indexOf('|') < 0 ? line.length() : line.indexOf('|'));
      if (calls.containsKey(name)) {
        seenBySim.merge(name, 1, Integer::sum);
      }
    }
    assertEquals(calls, seenBySim, "calls the sim saw");
    assertEquals(0, SimControl.outstandingRecords(), "records not released");
    assertEquals(0, SimControl.activeStreams(), "streams");
    SimBridge.assertNoSimErrors();
  }

  private static int totalOf(AtomicIntegerArray counts) {
    int total = 0;
    for (int i = 0; i < counts.length(); i++) {
      total += counts.get(i);
    }
    return total;
  }
}
