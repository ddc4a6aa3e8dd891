package example;

import static java.util.concurrent.TimeUnit.SECONDS;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.wire.CallbackMessage;
import com.tarnwick.api.wire.ResultBuffer;
import com.tarnwick.sim.SimControl;
import com.tarnwick.sim.SimLibrary;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

class SimulatedServiceTest {
  static final BlockingQueue<byte[]> events = new LinkedBlockingQueue<>();
  static NativeAPI api;

  @BeforeAll
  static void openTheSimulatedService() throws Exception {
    String dir = SimLibrary.directory().getPath();  // out of veltrix-sim.jar
    api = new NativeAPI();                          // the bridge, out of veltrix-api.jar
    api.setDataListener((message, kind) -> events.add(message));
    api.setJniEnv(dir);                             // the bridge loads the simulated service
    SimControl.load(dir);                           // and SimControl drives that same library
  }

  @Test
  void aScriptedReply() {
    SimControl.scriptCube("L1=\"600519.SH\";L2=\"CLOSE\";L3=\"20240624\";V=11:d1468.5");
    ResultBuffer reply = ResultBuffer.decode(
        api.csd("600519.SH", "CLOSE", "2024-06-24", "2024-06-24", ""));
    assertEquals(0, reply.code());
    assertEquals(1468.5, reply.cube().values().get(0).doubleValue());
  }

  @Test
  void aPushedMessage() throws InterruptedException {
    SimControl.fire(SimControl.MAIN, 1, 1, "w1=7");  // from one service thread
    assertEquals(7, CallbackMessage.decode(events.poll(10, SECONDS)).word1());
  }
}
