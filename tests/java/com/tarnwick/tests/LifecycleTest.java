package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.NativeAPI;
import java.nio.file.Path;
import java.util.List;
import java.util.regex.Pattern;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * setJniEnv called again and again on a bridge whose service library is loaded. The bridge state
 * lives as long as the JVM: every test here shares one callback object and one collector (the
 * running log thread keeps delivering to the object it started with), and each test looks only at
 * the lines after a mark of its own.
 */
class LifecycleTest {
  private static final LogCollector log = new LogCollector();
  private static NativeAPI api;
  private static String simDir;

  @BeforeAll
  static void loadTheLibrary() {
    simDir = SimDirs.defaultDir();
    api = new NativeAPI();
    api.setLogListener(log);
    api.setJniEnv(simDir);
    int at = log.await(LogLines.dirIs(simDir), 0);
    // A second call as a marker: everything the first call logged is in before it.
    api.setJniEnv(simDir);
    int marker = log.await(LogLines.dirIs(simDir), at + 1);
    assertNoLoadFailureBetween(at, marker);
  }

  /** No load failure and no missing setserverlistdir between two indexes (exclusive). */
  private static void assertNoLoadFailureBetween(int from, int to) {
    List<String> between = log.lines().subList(from + 1, to);
    for (String line : between) {
      assertFalse(LogLines.LOAD_LIBRARY_FAIL.matcher(line).matches(), "unexpected: " + between);
      assertFalse(LogLines.missingEntry("pfnsetserverlistdir").matcher(line).matches(),
          "unexpected: " + between);
      assertFalse(LogLines.missingEntry("pfnsetcallback").matcher(line).matches(),
          "unexpected: " + between);
    }
  }

  @Test
  void anotherDirectoryIsLoggedButTheLoadedLibraryStays(@TempDir Path emptyDir) {
    int mark = log.size();
    String other = emptyDir.toString();

    api.setJniEnv(other);
    api.setJniEnv(simDir);

    int at = log.await(LogLines.dirIs(other), mark);
    int marker = log.await(LogLines.dirIs(simDir), at + 1);
    // The directory holds no library, yet nothing is loaded again and the loaded library's
    // setserverlistdir is found.
    assertNoLoadFailureBetween(at, marker);
  }

  @Test
  void oneLogThreadDeliversEveryLineWhateverTheNumberOfCalls() {
    int mark = log.size();
    for (int i = 0; i < 20; i++) {
      api.setJniEnv(simDir + "/../" + i);
    }
    api.setJniEnv(simDir);
    int last = log.await(LogLines.dirIs(simDir + "/../19"), mark);
    log.await(LogLines.dirIs(simDir), last + 1);

    assertEquals(1, log.threadIds().size(), "threads that called logAPICallBack");
    assertNotEquals(Thread.currentThread().getId(), log.threadIds().iterator().next(),
        "lines must come from the bridge's own thread");
  }

  @Test
  void linesOfOneCallArriveInOrder() {
    int mark = log.size();
    for (int i = 0; i < 50; i++) {
      api.setJniEnv("order-" + i);
    }
    int previous = mark - 1;
    for (int i = 0; i < 50; i++) {
      int at = log.await(LogLines.dirIs("order-" + i), mark);
      assertTrue(at > previous, "order-" + i + " at " + at + " before " + previous);
      previous = at;
    }
  }

  @Test
  void nonAsciiDirectoryArrivesAsTheSameTextInUtf8() {
    // The runner starts this JVM in a UTF-8 locale, so the process code page can hold any text.
    assertEquals("UTF-8", System.getProperty("sun.jnu.encoding"), "locale of the test JVM");
    int mark = log.size();
    // Latin-1, CJK and a character outside the Basic Multilingual Plane (a surrogate pair in
    // Java, four bytes in UTF-8).
    String dir = "/nonexistent/vx-\u00e9t\u00e9-\u4e2d\u6587-\ud83d\ude00";

    api.setJniEnv(dir);

    log.await(LogLines.dirIs(dir), mark);
    assertEquals(0, log.invalidUtf8Count(), "lines that were not UTF-8");
  }

  @Test
  void everyBridgeLineIsTaggedStampedAndEndsInOneNewline() {
    api.setJniEnv(simDir);
    log.await(LogLines.dirIs(simDir), 0);
    Pattern tagged = Pattern.compile("\\[Vx_.*", Pattern.DOTALL);
    for (String line : log.lines()) {
      if (tagged.matcher(line).matches()) {
        assertTrue(LogLines.ANY_BRIDGE_LINE.matcher(line).matches(), "malformed: " + line);
      }
    }
    assertEquals(0, log.nullLineCount(), "calls with a null array");
    assertEquals(0, log.invalidUtf8Count(), "lines that were not UTF-8");
  }
}
