package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.VeltrixClient;
import com.tarnwick.sim.SimControl;
import com.tarnwick.tests.TypedClientTest.Inbox;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import java.util.logging.Logger;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * VeltrixClient's attached callback threads, in a JVM of its own: the bridge reads the mode once
 * per JVM, at the first open. That open asks for attached threads; a later open that asks for
 * the per-message default keeps them attached and says so.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class ClientAttachedCallbackThreadsTest {
  private static final Inbox<LogRecord> records = new Inbox<>();
  // Held, so that java.util.logging cannot collect the logger with its level and handler.
  private static final Logger bridgeLogger = Logger.getLogger(VeltrixClient.LOGGER_NAME);

  static {
    bridgeLogger.setLevel(Level.ALL);
    bridgeLogger.addHandler(TypedClientTest.recordsInto(records));
  }

  /** Fires two messages from one service thread and returns the Java thread of the first. */
  private static Thread deliveredOnOneServiceThread(VeltrixClient client, Inbox<Thread> on,
      int word1) throws InterruptedException {
    int mark = on.size();
    assertEquals(0, client.start(""));
    assertEquals(0, SimControl.fire(SimControl.MAIN, 1, 2, "w1=" + word1)); // a service thread
    assertEquals(2, SimControl.fireWait());
    Thread first = on.await(thread -> true, mark);
    assertSame(first, on.await(thread -> true, mark + 1), "one Thread for the service thread");
    assertTrue(first.isDaemon(), first + " is a daemon");
    assertTrue(first.getName().matches("veltrix-callback-\\d+"), first.getName());
    return first;
  }

  @Test
  @Order(1)
  void theFirstOpenAttachesServiceThreadsOnce() throws InterruptedException {
    assertNull(System.getProperty(VeltrixClient.CALLBACK_THREADS_PROPERTY));
    Inbox<Thread> deliveredOn = new Inbox<>();
    try (VeltrixClient client = VeltrixClient.builder(SimDirs.defaultDir())
             .callbackListener(event -> deliveredOn.add(Thread.currentThread()))
             .attachedCallbackThreads(true).open()) {
      assertEquals("attached", System.getProperty(VeltrixClient.CALLBACK_THREADS_PROPERTY));
      SimControl.load(SimDirs.defaultDir());
      deliveredOnOneServiceThread(client, deliveredOn, 1);
    }
  }

  @Test
  @Order(2)
  void theFirstOpensCallbackThreadModeStaysAndAnotherIsReported() throws InterruptedException {
    int mark = records.size();
    Inbox<Thread> deliveredOn = new Inbox<>();
    try (VeltrixClient client = VeltrixClient.builder(SimDirs.defaultDir())
             .callbackListener(event -> deliveredOn.add(Thread.currentThread()))
             .attachedCallbackThreads(false).open()) {
      LogRecord warning = records.await(record -> record.getLevel() == Level.WARNING
          && record.getMessage().contains(VeltrixClient.CALLBACK_THREADS_PROPERTY), mark);
      assertTrue(warning.getMessage().contains("stay attached"), warning.getMessage());
      assertEquals("attached", System.getProperty(VeltrixClient.CALLBACK_THREADS_PROPERTY));
      deliveredOnOneServiceThread(client, deliveredOn, 4);
    }
  }
}
