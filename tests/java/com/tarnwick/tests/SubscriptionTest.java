package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.DataListener;
import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.wire.CallbackMessage;
import com.tarnwick.api.wire.Cube;
import com.tarnwick.api.wire.ResultBuffer;
import com.tarnwick.api.wire.SubscriptionReply;
import com.tarnwick.sim.SimControl;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * csq, cst, cnq and the two cancels against the simulated service: the 16-byte Subscription
 * reply, the texts passed, the kind each callback reports, callbacks made synchronously on the
 * Java caller's thread, and the default mode's streamed quotes.
 */
class SubscriptionTest {
  /** The worked example: lists "A", "B", "C", one value of type 6 holding 7. */
  private static final String EXAMPLE_CUBE = "L1=\"A\";L2=\"B\";L3=\"C\";V=6:7";

  private static final LogCollector log = new LogCollector();
  private static final DataCollector data = new DataCollector();
  private static NativeAPI api;

  @BeforeAll
  static void openTheBridge() {
    api = SimBridge.open(SimDirs.defaultDir(), log, data);
  }

  @BeforeEach
  void resetTheSim() {
    SimControl.reset();
    SimControl.setStreaming(false, 0);
    data.clear();
  }

  @AfterEach
  void noContractBreaches() {
    SimBridge.assertNoSimErrors();
    SimControl.reset(); // ends any stream left open
  }

  @Test
  void replyCarriesTheRequestNumberTheServiceStored() {
    SimControl.setNextOutInt(7, true);
    byte[] csq = api.csq("600000.SH", "rt_last,rt_vol", "");
    SimControl.setNextOutInt(9, true);
    byte[] cnq = api.cnq("news", "600000.SH", "x=1");

    assertEquals("07000000"
            + "00000000"
            + "0000000000000000",
        Hex.of(csq));
    assertEquals("09000000"
            + "00000000"
            + "0000000000000000",
        Hex.of(cnq));
    assertEquals(
        Arrays.asList("csq|600000.SH|rt_last,rt_vol||cb|\\N", "cnq|news|600000.SH|x=1|cb|\\N"),
        SimBridge.calls());
  }

  @Test
  void serviceResultGoesAtOffsetFour() {
    SimControl.setNextCode(-55);
    SimControl.setNextOutInt(3, true);
    assertEquals("03000000"
            + "C9FFFFFF"
            + "0000000000000000",
        Hex.of(api.csq("a", "b", "c")));

    // The service stores no request number: 0 at offset 0.
    SimControl.setNextCode(12);
    SimControl.setNextOutInt(0, false);
    assertEquals("00000000"
            + "0C000000"
            + "0000000000000000",
        Hex.of(api.cnq("a", "b", "c")));

    SimControl.setNextCode(Integer.MIN_VALUE);
    SimControl.setNextOutInt(-2, true);
    assertEquals("FEFFFFFF"
            + "00000080"
            + "0000000000000000",
        Hex.of(api.cst("a", "b", "c", "d", "e")));
  }

  @Test
  void cstPassesItsFiveTextsInOrder() {
    SubscriptionReply reply = SubscriptionReply.decode(api.cst("t1", "t2", "t3", "t4", "\u00e9"));

    assertEquals(0, reply.code());
    assertEquals(1, reply.requestNumber(), "the sim's first request number after a reset");
    assertEquals(Arrays.asList("cst|t1|t2|t3|t4|\\xC3\\xA9|cb|\\N"), SimBridge.calls());
  }

  @Test
  void eachCallbackReportsItsOwnKind() {
    api.csq("a", "b", "c");
    api.cst("a", "b", "c", "d", "e");
    api.cnq("a", "b", "c");
    int[] kinds = {SimControl.MAIN, SimControl.CSQ, SimControl.CST, SimControl.CNQ};
    for (int kind : kinds) {
      // word1 tells which callback of the sim sent the message.
      assertEquals(0, SimControl.fire(kind, 0, 2, "w1=" + (100 + kind) + ",w2=22,w4=44,w5=55"));
    }

    List<DataCollector.Delivery> deliveries = data.await(d -> true, 8);
    assertEquals(8, deliveries.size());
    Map<Integer, Integer> kindOfSender = new HashMap<>();
    for (DataCollector.Delivery delivery : deliveries) {
      CallbackMessage message = CallbackMessage.decode(delivery.message);
      assertEquals(28, delivery.message.length);
      assertEquals(22, message.word2());
      assertEquals(0, message.errorCode());
      assertEquals(44, message.word4());
      assertEquals(55, message.word5());
      assertNull(message.cube());
      kindOfSender.put(message.word1(), delivery.kind);
    }
    Map<Integer, Integer> expected = new HashMap<>();
    for (int kind : kinds) {
      expected.put(100 + kind, kind);
    }
    assertEquals(expected, kindOfSender, "word1 (the sim's callback) to kind");
  }

  @Test
  void cancelsReturnTheServiceValue() {
    // Not open: the sim's own negative code.
    assertEquals(SimControl.CODE_UNKNOWN_REQUEST, api.csqcancel(12345));
    assertEquals(SimControl.CODE_UNKNOWN_REQUEST, api.cnqcancel(-1));
    SimControl.setNextCode(-42);
    assertEquals(-42, api.csqcancel(5));
    SimControl.setNextCode(Integer.MIN_VALUE);
    assertEquals(Integer.MIN_VALUE, api.cnqcancel(-7));
    SimControl.setNextCode(77);
    assertEquals(77, api.cnqcancel(0));
    int request = SubscriptionReply.decode(api.csq("a", "b", "c")).requestNumber();
    assertEquals(0, api.csqcancel(request));

    assertEquals(Arrays.asList("csqcancel|12345", "cnqcancel|-1", "csqcancel|5", "cnqcancel|-7",
                     "cnqcancel|0", "csq|a|b|c|cb|\\N", "csqcancel|" + request),
        SimBridge.calls());
  }

  @Test
  void callbackInsideCsqRunsOnTheCallersThreadWhichKeepsWorking() throws Exception {
    AtomicReference<Throwable> failure = new AtomicReference<>();
    List<Object> results = new ArrayList<>();
    Thread caller = new Thread(() -> {
      try {
        Thread self = Thread.currentThread();
        assertEquals(0, SimControl.fireInsideNext("csq", 3, "w1=1,w2=2,w4=4,w5=5|" + EXAMPLE_CUBE));
        results.add(SubscriptionReply.decode(api.csq("600000.SH", "rt_last", "")));
        // Still this Java thread, still attached: more native calls, with and without callbacks.
        assertSame(self, Thread.currentThread());
        assertEquals(0, SimControl.fireInsideNext("cst", 1, "w1=9"));
        results.add(SubscriptionReply.decode(api.cst("a", "b", "c", "d", "e")));
        assertEquals(0, SimControl.scriptCube(EXAMPLE_CUBE));
        assertEquals(0, SimControl.fireInsideNext("csd", 1, "w1=5,err=3"));
        results.add(ResultBuffer.decode(api.csd("a", "b", "c", "d", "e")));
        results.add(api.csqcancel(-5));
        results.add(self.isAlive() && !self.isDaemon() && self.getName().equals("sync-caller"));
      } catch (Throwable t) {
        failure.set(t);
      }
    }, "sync-caller");
    caller.setDaemon(false);

    caller.start();
    caller.join(TimeUnit.SECONDS.toMillis(60));

    assertFalse(caller.isAlive(), "the calling thread did not finish");
    assertNull(failure.get(), () -> "on the calling thread: " + failure.get());
    assertEquals(5, results.size());
    assertEquals(0, ((SubscriptionReply) results.get(0)).code());
    assertEquals(0, ((SubscriptionReply) results.get(1)).code());
    Cube cube = ((ResultBuffer) results.get(2)).cube();
    assertEquals(Arrays.asList("A"), cube.first());
    assertEquals(SimControl.CODE_UNKNOWN_REQUEST, results.get(3));
    assertEquals(true, results.get(4), "the caller is still a live, non-daemon, named thread");

    // Every message arrived while its export ran, on the caller's own thread.
    List<DataCollector.Delivery> deliveries = data.deliveries();
    assertEquals(5, deliveries.size(), "deliveries: " + deliveries);
    byte[] workedExample = Hex.bytes("01000000 02000000 00000000 04000000 05000000"
        + " 2700000000000000"
        + " 01000000 02000000 41 00"
        + " 01000000 02000000 42 00"
        + " 01000000 02000000 43 00"
        + " 01000000 06 07000000");
    for (int i = 0; i < 3; i++) {
      DataCollector.Delivery delivery = deliveries.get(i);
      assertSame(caller, delivery.thread, "delivery " + i);
      assertEquals(DataListener.KIND_CSQ, delivery.kind);
      assertEquals(Hex.of(workedExample), Hex.of(delivery.message));
    }
    assertSame(caller, deliveries.get(3).thread);
    assertEquals(DataListener.KIND_CST, deliveries.get(3).kind);
    assertEquals(9, CallbackMessage.decode(deliveries.get(3).message).word1());
    // Inside a query the sim calls the main callback; an error code comes without data.
    assertSame(caller, deliveries.get(4).thread);
    assertEquals(DataListener.KIND_MAIN, deliveries.get(4).kind);
    assertEquals("05000000 00000000 03000000 00000000 00000000 0000000000000000".replace(" ", ""),
        Hex.of(deliveries.get(4).message));
  }

  /**
   * A dataAPICallBack that throws, on the Java thread inside csq and on a service thread: the
   * bridge clears and logs the exception, csq still returns its reply, and the next message
   * is delivered.
   */
  @Test
  void dataCallbackThatThrowsIsClearedOnEitherThread() {
    int mark = log.size();
    api.setDataListener((message, kind) -> {
      throw new IllegalStateException("data listener broke");
    });
    try {
      assertEquals(0, SimControl.fireInsideNext("csq", 1, "w1=1"));
      SubscriptionReply reply = SubscriptionReply.decode(api.csq("a", "b", "c"));
      assertEquals(0, reply.code());
      mark = log.await(THREW_CSQ, mark) + 1;
      assertEquals(0, SimControl.fire(SimControl.CSQ, 1, 1, "w1=2"));
      assertEquals(1, SimControl.fireWait());
      log.await(THREW_CSQ, mark);
    } finally {
      api.setDataListener(data);
    }
    assertEquals(0, SimControl.fireInsideNext("csq", 1, "w1=3"));
    assertEquals(0, SubscriptionReply.decode(api.csq("a", "b", "c")).code());
    List<DataCollector.Delivery> after = data.await(d -> true, 1);
    assertEquals(3, CallbackMessage.decode(after.get(0).message).word1());
  }

  private static final java.util.regex.Pattern THREW_CSQ =
      LogLines.error("dataAPICallBack threw an exception (kind 1); cleared.");

  @Test
  void defaultModeStreamsQuotesUntilCancelled() throws Exception {
    SimControl.setStreaming(true, 20);
    SubscriptionReply reply = SubscriptionReply.decode(api.csq("600000.SH", "rt_last", ""));
    assertEquals(0, reply.code());
    int request = reply.requestNumber();
    assertTrue(request > 0, "request number " + request);

    List<DataCollector.Delivery> quotes =
        data.await(d -> d.kind == DataListener.KIND_CSQ && word1(d) == request, 5);

    for (int i = 0; i < quotes.size(); i++) {
      DataCollector.Delivery quote = quotes.get(i);
      CallbackMessage message = CallbackMessage.decode(quote.message);
      assertEquals(SimControl.CSQ, message.word2(), "word2 is the kind");
      assertEquals(0, message.errorCode());
      assertEquals(i, message.word4(), "sequence");
      assertNotNull(message.cube(), "quote data");
      assertNotSame(Thread.currentThread(), quote.thread);
    }
    assertEquals(0, api.csqcancel(request));
    // The cancel joins the stream's thread: nothing more arrives from it.
    assertEquals(0, SimControl.activeStreams());
    int delivered = countQuotes(request);
    Thread.sleep(300);
    assertEquals(delivered, countQuotes(request), "quotes after the cancel");
    assertEquals(SimControl.CODE_UNKNOWN_REQUEST, api.csqcancel(request), "cancelled twice");
    log.await(LogLines.debug("recv csq datacallback"), 0);
  }

  private static int word1(DataCollector.Delivery delivery) {
    return CallbackMessage.decode(delivery.message).word1();
  }

  private static int countQuotes(int request) {
    int count = 0;
    for (DataCollector.Delivery delivery : data.deliveries()) {
      if (delivery.kind == DataListener.KIND_CSQ && word1(delivery) == request) {
        count++;
      }
    }
    return count;
  }
}
