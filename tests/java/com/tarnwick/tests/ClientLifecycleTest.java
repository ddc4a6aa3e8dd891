package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.CallbackEvent;
import com.tarnwick.api.LogLine;
import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.QueryResult;
import com.tarnwick.api.ServiceStatus;
import com.tarnwick.api.Subscription;
import com.tarnwick.api.VeltrixClient;
import com.tarnwick.sim.SimControl;
import com.tarnwick.tests.TypedClientTest.Inbox;
import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import java.util.logging.Logger;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * VeltrixClient's life in one JVM, in order: an open with a directory that lacks the service
 * library, then a good one; a second open while one is open; close and reopen, after which log
 * lines and events reach the new client only; an open that names another directory once the
 * library is loaded.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class ClientLifecycleTest {
  private static final Inbox<LogRecord> records = new Inbox<>();
  private static VeltrixClient open;
  // java.util.logging keeps loggers by weak reference: without this one, the logger with its
  // level and handler can be collected, and the records then go to a fresh logger unseen.
  private static final Logger bridgeLogger = Logger.getLogger(VeltrixClient.LOGGER_NAME);

  static {
    bridgeLogger.setLevel(Level.ALL);
    bridgeLogger.addHandler(TypedClientTest.recordsInto(records));
  }

  private static void emit(String text) {
    assertEquals(0, SimControl.emitLog(text.getBytes(StandardCharsets.UTF_8), 1, 0));
  }

  @Test
  @Order(1)
  void aDirectoryWithoutTheLibrarySaysWhyAndTheNextOpenTriesAgain() throws Exception {
    String wrong = new File(SimDirs.defaultDir(), "no-such-dir").getPath();
    Inbox<LogLine> lines = new Inbox<>();
    // The default per-message mode: this class's JVM never sets the callback-thread property
    // (ClientAttachedCallbackThreadsTest covers the attached mode in a JVM of its own).
    try (VeltrixClient client = VeltrixClient.open(wrong, lines::add, null)) {
      assertNull(System.getProperty(VeltrixClient.CALLBACK_THREADS_PROPERTY));
      ServiceStatus status = client.serviceStatus();
      assertFalse(status.isLoaded(), status.toString());
      assertEquals(wrong, status.requestedDirectory());
      assertFalse(status.loadedDirectory().isPresent());
      String failure = status.failure().get();
      assertTrue(failure.matches("LoadLibrary Fail -?\\d+.*"), failure);
      assertTrue(failure.contains("libVeltrixAPI_x64.so"), "the loader's own text: " + failure);
      assertTrue(status.toString().contains(wrong), status.toString());
      // The listener saw the loader's lines; every call answers the missing function.
      lines.await(line -> line.message().equals("dir is " + wrong), 0);
      lines.await(line -> line.message().equals(failure), 0);
      assertEquals(NativeAPI.CODE_MISSING_FUNCTION, client.start(""));
      assertEquals(NativeAPI.CODE_MISSING_FUNCTION, client.css("A", "B", "").code());
    }

    open = VeltrixClient.open(SimDirs.defaultDir());
    ServiceStatus status = open.serviceStatus();
    assertTrue(status.isLoaded(), status.toString());
    assertEquals(SimDirs.defaultDir(), status.loadedDirectory().get());
    assertFalse(status.isDirectoryIgnored());
    SimControl.load(SimDirs.defaultDir());
    assertEquals(0, open.start(""));
    assertTrue(open.css("600000.SH", "CLOSE", "").isOk());
  }

  @Test
  @Order(2)
  void aSecondOpenWhileOneIsOpenIsRefused() {
    IllegalStateException refused = assertThrows(IllegalStateException.class,
        () -> VeltrixClient.open(SimDirs.defaultDir()));
    assertTrue(refused.getMessage().contains("open already"), refused.getMessage());
    assertTrue(open.css("600000.SH", "CLOSE", "").isOk(), "the open client is unaffected");
    assertFalse(open.isClosed());
  }

  @Test
  @Order(3)
  void afterCloseAndReopenLinesAndEventsReachTheNewClientOnly() throws InterruptedException {
    open.close();
    Inbox<LogLine> firstLines = new Inbox<>();
    Inbox<CallbackEvent> firstEvents = new Inbox<>();
    VeltrixClient first = VeltrixClient.open(SimDirs.defaultDir(), firstLines::add,
        firstEvents::add);
    assertEquals(0, first.start(""));
    SimControl.setStreaming(false, 0);
    emit("to the first client");
    firstLines.await(line -> line.message().equals("to the first client"), 0);
    assertEquals(0, SimControl.fire(SimControl.MAIN, 0, 1, "w1=1"));
    firstEvents.await(event -> event.word1() == 1, 0);

    SimControl.clearCalls();
    first.close();
    assertTrue(first.isClosed());
    assertTrue(SimControl.calls()[0].startsWith("stop"), "close stops what the client started: "
        + Arrays.toString(SimControl.calls()));
    // The closed client answers without native code: the service sees no call.
    SimControl.clearCalls();
    assertEquals(NativeAPI.CODE_CLIENT_CLOSED, first.start(""));
    QueryResult closed = first.csd("600519.SH", "CLOSE", "20240624", "20240628", "");
    assertEquals(NativeAPI.CODE_CLIENT_CLOSED, closed.code());
    assertFalse(closed.rawReply().isPresent());
    Subscription none = first.csq("600519.SH", "RT_LAST", "");
    assertEquals(NativeAPI.CODE_CLIENT_CLOSED, none.code());
    assertEquals(NativeAPI.CODE_CLIENT_CLOSED, first.tradedatesnum("a", "b", "").code());
    assertEquals(NativeAPI.CODE_CLIENT_CLOSED, first.pdelete("P", ""));
    assertEquals("the client is closed", first.errorText(NativeAPI.CODE_CLIENT_CLOSED));
    assertThrows(IllegalStateException.class, first::nativeApi);
    first.close(); // again: nothing
    assertEquals(0, SimControl.calls().length, Arrays.toString(SimControl.calls()));

    // While no client is open, lines go to the platform logger.
    int mark = records.size();
    emit("while none is open");
    records.await(record -> record.getMessage().equals("while none is open"), mark);

    Inbox<LogLine> secondLines = new Inbox<>();
    Inbox<CallbackEvent> secondEvents = new Inbox<>();
    try (VeltrixClient second = VeltrixClient.open(SimDirs.defaultDir(), secondLines::add,
        secondEvents::add)) {
      assertTrue(second.serviceStatus().isLoaded());
      assertEquals(0, second.start(""));
      emit("to the second client");
      secondLines.await(line -> line.message().equals("to the second client"), 0);
      assertEquals(0, SimControl.fire(SimControl.MAIN, 1, 3, "w1=2")); // a service thread
      SimControl.fireWait();
      secondEvents.await(event -> event.word1() == 2, 0);
      assertEquals(0, SimControl.fire(SimControl.MAIN, 0, 1, "w1=3")); // this thread
      assertEquals(3, secondEvents.await(event -> event.word1() == 3, 0).word1());
      assertSame(second.nativeApi(), second.nativeApi());
      assertThrows(UnsupportedOperationException.class,
          () -> second.nativeApi().setLogListener(line -> {}));
    }
    for (LogLine line : firstLines.snapshot()) {
      assertFalse(line.message().contains("second") || line.message().contains("none"),
          "a line reached the closed client: " + line);
    }
    assertEquals(1, firstEvents.size(), "events of the closed client: " + firstEvents.snapshot());
  }

  @Test
  @Order(4)
  void anotherDirectoryAfterTheLoadKeepsTheFirstAndSaysSo() throws InterruptedException {
    String other = SimDirs.variant("no_getdate");
    int mark = records.size();
    try (VeltrixClient client = VeltrixClient.open(other)) {
      ServiceStatus status = client.serviceStatus();
      assertTrue(status.isLoaded());
      assertTrue(status.isDirectoryIgnored(), status.toString());
      assertEquals(other, status.requestedDirectory());
      assertEquals(SimDirs.defaultDir(), status.loadedDirectory().get());
      assertTrue(status.toString().contains("is not used"), status.toString());
      LogRecord warning = records.await(record -> record.getLevel() == Level.WARNING, mark);
      assertTrue(warning.getMessage().contains(SimDirs.defaultDir())
          && warning.getMessage().contains(other), warning.getMessage());
      // The first library is in force: it has getdate, the variant named here has none.
      assertTrue(client.getdate("20240430", 1, "").isOk());
    }
  }
}
