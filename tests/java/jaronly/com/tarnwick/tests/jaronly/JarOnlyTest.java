package com.tarnwick.tests.jaronly;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.NativeLoader;
import com.tarnwick.api.wire.CallbackMessage;
import com.tarnwick.api.wire.Cube;
import com.tarnwick.api.wire.ResultBuffer;
import com.tarnwick.sim.SimControl;
import com.tarnwick.sim.SimLibrary;
import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ArrayBlockingQueue;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * Runs with nothing but veltrix-api.jar and veltrix-sim.jar (and this class) on the class path
 * and no java.library.path holding the bridge: both libraries come out of the jars. The runner
 * passes -Dveltrixjni.extractDir in one of its two runs. The bridge loads once per JVM, so the
 * whole story is one test.
 */
class JarOnlyTest {
  @Test
  void aFailedLoadIsRetriedThenTheJarsAloneServeTheSimulatedService() throws Exception {
    // Nothing outside the jar: the plain library is neither on the library path nor beside it.
    assertNull(NativeLoader.find(), "a bridge library outside the jar: " + NativeLoader.find());
    assertNull(NativeLoader.loadedFrom());

    // A wrong override fails, names the file and does not poison NativeAPI for later.
    File missing = new File(SimLibrary.directory(), "no-such-bridge.so");
    System.setProperty(NativeLoader.PATH_PROPERTY, missing.getPath());
    UnsatisfiedLinkError error = assertThrows(UnsatisfiedLinkError.class, NativeAPI::new);
    assertTrue(error.getMessage().contains(NativeLoader.PATH_PROPERTY + "=" + missing.getPath()),
        error.getMessage());
    assertNull(NativeLoader.loadedFrom());
    System.clearProperty(NativeLoader.PATH_PROPERTY);

    BlockingQueue<String> log = new ArrayBlockingQueue<>(10000);
    BlockingQueue<byte[]> data = new ArrayBlockingQueue<>(100);
    NativeAPI api = new NativeAPI();
    String from = NativeLoader.loadedFrom();
    assertNotNull(from);
    assertTrue(from.contains("(from jar:file:") && from.endsWith(NativeLoader.resourceName() + ")"),
        from);
    String platform = NativeLoader.platform();
    assertTrue(NativeLoader.resourceName().startsWith("META-INF/native/" + platform + "/"),
        NativeLoader.resourceName());
    File extracted = new File(from.substring(0, from.indexOf(" (from ")));
    String named = System.getProperty(NativeLoader.EXTRACT_DIR_PROPERTY);
    if (named != null) {
      // The named directory keeps the file, under its versioned name.
      assertEquals(new File(named).getCanonicalFile(),
          extracted.getParentFile().getCanonicalFile());
      assertTrue(extracted.isFile(), extracted + " was not kept");
      assertTrue(extracted.getName().contains("veltrixjni-" + NativeLoader.VERSION), from);
    } else {
      // A private directory under java.io.tmpdir, gone again once the library is mapped.
      File tmp = new File(System.getProperty("java.io.tmpdir")).getCanonicalFile();
      assertEquals(tmp, extracted.getParentFile().getParentFile().getCanonicalFile(), from);
      if (!platform.startsWith("windows-")) {
        assertFalse(extracted.getParentFile().exists(), extracted.getParent() + " left behind");
      }
    }

    api.setLogListener(line -> log.add(new String(line, StandardCharsets.UTF_8)));
    api.setDataListener((message, kind) -> data.add(message));
    String dir = SimLibrary.directory().getPath();
    assertTrue(new File(dir, SimLibrary.fileName()).isFile(), dir);
    api.setJniEnv(dir);
    SimControl.load(dir);

    // The bridge loaded the service from the sim jar's directory: a scripted reply comes back.
    assertEquals(0, SimControl.scriptCube("L1=\"600519.SH\";L2=\"CLOSE\";L3=\"20240624\";V=6:7"));
    ResultBuffer reply = ResultBuffer.decode(api.csd("600519.SH", "CLOSE", "2024-06-24",
        "2024-06-24", ""));
    assertEquals(0, reply.code());
    Cube cube = reply.cube();
    assertEquals(Arrays.asList("600519.SH"), cube.first());
    assertEquals(1, cube.valueCount());
    assertEquals(7L, cube.values().get(0).longValue());
    List<String> calls = Arrays.asList(SimControl.calls());
    assertTrue(calls.stream().anyMatch(call -> call.startsWith("csd|600519.SH|CLOSE|")),
        calls.toString());

    // A callback fired by the simulated service reaches the data listener.
    assertEquals(0, SimControl.fire(SimControl.MAIN, 1, 1, "w1=41"));
    SimControl.fireWait();
    byte[] message = data.poll(60, TimeUnit.SECONDS);
    assertNotNull(message, "no callback message");
    assertEquals(41, CallbackMessage.decode(message).word1());

    // And the bridge's log thread delivers: the directory line names the extracted directory.
    String dirLine = null;
    for (long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
         dirLine == null && System.nanoTime() < end; ) {
      String line = log.poll(1, TimeUnit.SECONDS);
      if (line != null && line.contains(dir)) {
        dirLine = line;
      }
    }
    assertNotNull(dirLine, "no log line names " + dir);
    assertEquals(Arrays.asList(), Arrays.asList(SimControl.errors()));
  }
}
