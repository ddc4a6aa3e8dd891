package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.sim.SimControl;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.Test;

/**
 * setJniEnv called again on another callback object, of a subclass with its own dataAPICallBack:
 * from then on every message goes to that object's method, on service threads and on the calling
 * thread alike, and none to the object it replaced.
 */
class ReplacedCallbackObjectTest {
  /** Counts the messages its own dataAPICallBack receives; hands nothing on. */
  private static final class Counting extends NativeAPI {
    final AtomicInteger received = new AtomicInteger();

    @Override
    public int dataAPICallBack(byte[] message, int kind) {
      received.incrementAndGet();
      return 0;
    }
  }

  @Test
  void messagesGoToTheMethodOfTheObjectStoredLast() {
    String dir = SimDirs.defaultDir();
    LogCollector log = new LogCollector();
    DataCollector first = new DataCollector();
    SimBridge.open(dir, log, first);
    assertEquals(0, SimControl.fire(SimControl.MAIN, 1, 3, "w1=1"));
    SimControl.fireWait();
    assertEquals(3, first.await(d -> true, 3).size());

    Counting second = new Counting();
    int mark = log.size();
    second.setJniEnv(dir);
    log.await(LogLines.dirIs(dir), mark);
    assertEquals(0, SimControl.fire(SimControl.MAIN, 1, 4, "w1=2")); // a service thread
    SimControl.fireWait();
    assertEquals(0, SimControl.fire(SimControl.MAIN, 0, 2, "w1=3")); // this thread

    assertEquals(6, second.received.get(), "messages to the new object's method");
    assertEquals(3, first.size(), "messages to the replaced object");
    SimBridge.assertNoSimErrors();
  }
}
