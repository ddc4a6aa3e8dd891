package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.sim.SimControl;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/**
 * start, stop, setserverlistdir, setproxy and geterrstring against the simulated service: what
 * each passes to the service, what it returns, and the service's log lines that reach Java
 * through the log sink handed over by start.
 */
class ControlExportsTest extends DefaultSimTest {
  @Test
  void startPassesItsOptionsAndTheLogSink() {
    assertEquals(0, api.start("TestMode=1;Server=10.0.0.1:6000"));
    SimControl.setNextCode(-20);
    assertEquals(-20, api.start("\u00e9"));

    // The first argument is a null pointer, the last the bridge's log sink.
    assertEquals(
        Arrays.asList("start|\\N|TestMode=1;Server=10.0.0.1:6000|cb", "start|\\N|\\xC3\\xA9|cb"),
        SimBridge.calls());
    assertTrue(SimControl.hasCallback(SimControl.LOG_SINK));
  }

  @Test
  void serviceLogLinesReachLogApiCallBackByteForByte() {
    assertEquals(0, api.start(""));
    // No tag, time stamp or newline added; non-ASCII UTF-8 (the process code page) unchanged;
    // trailing blanks and a newline inside kept.
    byte[] text = "svc: caf\u00e9 \u4e2d\u6587 \ud83d\ude00\tend\nsecond part  ".getBytes(
        StandardCharsets.UTF_8);
    int mark = log.size();

    assertEquals(0, SimControl.emitLogRaw(text, 1, 0), "sink calls that returned non-zero");

    log.awaitSize(mark + 1);
    String line = log.lines().get(mark);
    assertEquals(Hex.of(text), Hex.of(line.getBytes(StandardCharsets.UTF_8)));
    assertEquals(0, log.invalidUtf8Count());
  }

  @Test
  void nullServiceLineIsRefusedByTheSink() {
    assertEquals(0, api.start(""));
    int mark = log.size();
    // The sink returns 1 for a null line and queues nothing.
    assertEquals(1, SimControl.emitLogRaw(null, 1, 0));
    byte[] marker = "after the null line".getBytes(StandardCharsets.UTF_8);
    assertEquals(0, SimControl.emitLogRaw(marker, 1, 0));
    log.awaitSize(mark + 1);
    assertEquals("after the null line", log.lines().get(mark));
    assertEquals(0, log.nullLineCount());
  }

  @Test
  void serviceLinesFromSeveralThreadsAllArriveInTheirThreadsOrder() {
    assertEquals(0, api.start(""));
    int threads = 4;
    int perThread = 250;
    int mark = log.size();

    assertEquals(0,
        SimControl.emitLog(
            "svc-%t-%d \u00e9".getBytes(StandardCharsets.UTF_8), perThread, threads));

    log.awaitSize(mark + threads * perThread);
    List<String> lines = log.lines().subList(mark, mark + threads * perThread);
    Pattern pattern = Pattern.compile("svc-(\\d+)-(\\d+) \u00e9");
    Map<Integer, Integer> next = new HashMap<>();
    for (String line : lines) {
      Matcher matcher = pattern.matcher(line);
      assertTrue(matcher.matches(), "unexpected line: " + line);
      int thread = Integer.parseInt(matcher.group(1));
      int sequence = Integer.parseInt(matcher.group(2));
      assertEquals((int) next.getOrDefault(thread, 0), sequence, "order of thread " + thread);
      next.put(thread, sequence + 1);
    }
    Map<Integer, Integer> expected = new HashMap<>();
    for (int t = 0; t < threads; t++) {
      expected.put(t, perThread);
    }
    assertEquals(expected, next, "lines per thread");
  }

  @Test
  void logCallbackThatThrowsLosesOnlyItsOwnLine() {
    assertEquals(0, api.start(""));
    int mark = log.size();
    api.setLogListener(bytes -> {
      if (new String(bytes, StandardCharsets.UTF_8).equals("throw here")) {
        throw new IllegalStateException("log listener broke");
      }
      log.onLog(bytes);
    });
    try {
      assertEquals(0, SimControl.emitLogRaw("throw here".getBytes(StandardCharsets.UTF_8), 1, 0));
      assertEquals(0, SimControl.emitLogRaw("next".getBytes(StandardCharsets.UTF_8), 1, 0));
      int next = log.await(Pattern.compile("next"), mark);
      assertFalse(log.lines().subList(mark, next).contains("throw here"));
    } finally {
      api.setLogListener(log);
    }
  }

  @Test
  void producersNeverWaitForJava() throws Exception {
    assertEquals(0, api.start(""));
    int lines = 10_000;
    CountDownLatch held = new CountDownLatch(1);
    CountDownLatch release = new CountDownLatch(1);
    int mark = log.size();
    api.setLogListener(bytes -> {
      held.countDown();
      try {
        release.await();
      } catch (InterruptedException e) {
        Thread.currentThread().interrupt();
      }
      log.onLog(bytes);
    });
    try {
      // The first line holds logAPICallBack; all the others must still be queued without
      // their producer waiting.
      assertEquals(0, SimControl.emitLogRaw("hold".getBytes(StandardCharsets.UTF_8), 1, 0));
      assertTrue(held.await(LogCollector.WAIT_SECONDS, TimeUnit.SECONDS));
      Thread producer = new Thread(() -> SimControl.emitLog(
          "p %d".getBytes(StandardCharsets.UTF_8), lines, 0));
      producer.start();
      producer.join(TimeUnit.SECONDS.toMillis(60)); // a hang-only limit
      assertFalse(producer.isAlive(), "a producer waited for Java");
    } finally {
      release.countDown();
      api.setLogListener(log);
    }
    int hold = log.await(Pattern.compile("hold"), mark);
    log.awaitSize(hold + 1 + lines);
    List<String> arrived = log.lines().subList(hold + 1, hold + 1 + lines);
    for (int i = 0; i < lines; i++) {
      assertEquals("p " + i, arrived.get(i));
    }
  }

  @Test
  void stopReturnsTheServiceCode() {
    assertEquals(0, api.stop());
    SimControl.setNextCode(-3);
    assertEquals(-3, api.stop());
    assertEquals(Arrays.asList("stop", "stop"), SimBridge.calls());
  }

  @Test
  void setserverlistdirPassesTheDirectory() {
    api.setserverlistdir("/srv/list \u00e9");
    api.setserverlistdir("");
    assertEquals(Arrays.asList("setserverlistdir|/srv/list \\xC3\\xA9", "setserverlistdir|"),
        SimBridge.calls());
  }

  @Test
  void setproxyKeepsTheLowSixteenBitsOfThePortAndPassesTheFlagAsABool() {
    assertEquals(0, api.setproxy(3, "proxy.local", 70000, true, "user", "secret"));
    assertEquals(0, api.setproxy(-1, "10.0.0.1", 8080, false, "", "\u00e9"));
    assertEquals(0, api.setproxy(0, "h", 65536, true, "a", "b"));
    SimControl.setNextCode(-99);
    assertEquals(-99, api.setproxy(2, "h", -1, false, "a", "b"));

    assertEquals(Arrays.asList("setproxy|3|proxy.local|4464|1|user|secret",
                     "setproxy|-1|10.0.0.1|8080|0||\\xC3\\xA9", "setproxy|0|h|0|1|a|b",
                     "setproxy|2|h|65535|0|a|b"),
        SimBridge.calls());
  }

  @Test
  void geterrstringPassesTheFlagAsOneOrZeroAndReturnsTheServiceText() {
    String text = "Verbindung unterbrochen \u2013 \u4e2d\u65ad \ud83d\ude00";
    int[] flags = {1, 2, -1, 0};
    List<String> expectedCalls = new ArrayList<>();
    for (int flag : flags) {
      SimControl.scriptErrString((text + " " + flag).getBytes(StandardCharsets.UTF_8));
      assertEquals(text + " " + flag, api.geterrstring(-40000 - flag, flag));
      expectedCalls.add("geterrstring|" + (-40000 - flag) + "|" + (flag == 1 ? 1 : 0));
    }
    assertEquals(expectedCalls, SimBridge.calls());
  }

  @Test
  void geterrstringOfAnEmptyServiceTextIsEmpty() {
    SimControl.scriptErrString(new byte[0]);
    assertEquals("", api.geterrstring(0, 0));
    assertEquals(Collections.singletonList("geterrstring|0|0"), SimBridge.calls());
  }
}
