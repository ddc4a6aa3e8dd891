package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.NativeAPI;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * The lines that JNI_OnLoad queues before any log thread exists are the first two that
 * logAPICallBack receives once setJniEnv starts the thread. This needs a JVM in which nothing
 * else has called into the bridge, hence a class of its own with a single test.
 */
class FirstLinesTest {
  @Test
  void onLoadLinesComeFirstThenTheDirectory() {
    LogCollector log = new LogCollector();
    NativeAPI api = new NativeAPI();
    api.setLogListener(log);
    String dir = SimDirs.defaultDir();

    api.setJniEnv(dir);
    log.awaitSize(3);

    List<String> lines = log.lines();
    assertTrue(LogLines.debug("JNI_OnLoad startup ...").matcher(lines.get(0)).matches(),
        "line 0: " + lines);
    assertTrue(LogLines.debug("Catch JNI_VERSION_1_8").matcher(lines.get(1)).matches(),
        "line 1: " + lines);
    assertTrue(LogLines.dirIs(dir).matcher(lines.get(2)).matches(), "line 2: " + lines);
    for (String line : lines.subList(0, 3)) {
      LogLines.assertStampIsNow(line);
    }
  }
}
