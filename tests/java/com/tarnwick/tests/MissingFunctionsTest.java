package com.tarnwick.tests;

import static com.tarnwick.tests.LeBuilder.resultHeader;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.sim.SimControl;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * A service library that loads but exports none of the service functions (the sim's "empty"
 * variant): every export answers the bridge's missing-function code and logs the missing entry
 * with its own label, once per call. The library loads once per JVM, hence a class of its own.
 */
class MissingFunctionsTest {
  private static final int MISSING = NativeAPI.CODE_MISSING_FUNCTION;
  private static final String MISSING_HEADER = Hex.of(resultHeader(MISSING, 0));

  private static final LogCollector log = new LogCollector();
  private static NativeAPI api;

  @BeforeAll
  static void openTheBridge() {
    String dir = SimDirs.variant("empty");
    api = SimBridge.open(dir, log, null);
    // setJniEnv finds no setserverlistdir; wait for that line so that every test starts after it.
    log.await(LogLines.missingEntry("pfnsetserverlistdir"), 0);
  }

  @BeforeEach
  void resetTheSim() {
    SimControl.reset();
  }

  /**
   * Waits for the last expected line, then checks that the missing-entry lines logged since
   * {@code mark} are exactly one per call, with the expected labels in call order.
   */
  private static void assertMissingEntriesSince(int mark, List<String> labels) {
    log.await(LogLines.missingEntry(labels.get(labels.size() - 1)), mark);
    List<String> lines = log.lines();
    List<String> logged = lines.subList(mark, lines.size());
    assertEquals(labels.size(), logged.size(), "one line per call: " + logged);
    for (int i = 0; i < labels.size(); i++) {
      assertTrue(LogLines.missingEntry(labels.get(i)).matcher(logged.get(i)).matches(),
          "line " + i + " should name " + labels.get(i) + "; lines: " + logged);
    }
  }

  @Test
  void everyQueryAnswersTheMissingReplyAndLogsOnlyItsOwnLabel() {
    int mark = log.size();
    List<String> labels = new ArrayList<>();
    for (QueryExport export : QueryExport.values()) {
      byte[] reply = export.call(api);
      if (export.reply == QueryExport.Reply.COUNT) {
        assertEquals(
            Hex.of(new LeBuilder().i32(MISSING).i32(0).bytes()), Hex.of(reply), export.name);
      } else {
        assertEquals(MISSING_HEADER, Hex.of(reply), export.name);
      }
      // releasedata is missing too, but only the export's own entry is reported.
      labels.add(export.label());
    }
    assertMissingEntriesSince(mark, labels);
  }

  @Test
  void everyControlExportAnswersTheMissingCode() {
    int mark = log.size();

    assertEquals(MISSING, api.start("options"));
    assertEquals(MISSING, api.stop());
    api.setserverlistdir("/srv/list");
    assertEquals(MISSING, api.setproxy(1, "host", 8080, true, "u", "p"));
    assertEquals("function address is null.", api.geterrstring(-1, 1));

    assertMissingEntriesSince(mark,
        List.of("pfnstart", "pfnstop", "pfnsetserverlistdir", "pfnsetproxy", "pfngeterrstring"));
  }

  @Test
  void everySubscriptionExportAnswersTheMissingCode() {
    int mark = log.size();

    // 10000007 where a completed call puts the request number, zeros after.
    assertEquals(MISSING_HEADER, Hex.of(api.csq("600000.SH", "rt_last", "")));
    assertEquals(MISSING_HEADER, Hex.of(api.cst("a", "b", "c", "d", "e")));
    assertEquals(MISSING_HEADER, Hex.of(api.cnq("a", "b", "c")));
    assertEquals(MISSING, api.csqcancel(1));
    assertEquals(MISSING, api.cnqcancel(-1));

    assertMissingEntriesSince(
        mark, List.of("pfncsq", "pfncst", "pfncnq", "pfncsqcancel", "pfncnqcancel"));
  }

  @Test
  void everyPortfolioExportAnswersTheMissingCodeBeforeReadingItsArguments() {
    int mark = log.size();

    // The JSON text is not even parsed: no "json parse error" line.
    assertEquals(MISSING, api.porder("not json at all", "a", "b", "c"));
    assertEquals(MISSING, api.pcreate("a", "b", 1L << 40, "c", "d"));
    assertEquals(MISSING, api.pdelete("a", "b"));
    assertEquals(MISSING, api.pctransfer("a", "b", "c", 1.5, "d", "e"));

    assertMissingEntriesSince(
        mark, List.of("pfnporder", "pfnpcreate", "pfnpdelete", "pfnpctransfer"));
  }

  @Test
  void nothingReachesTheLibrary() {
    int mark = log.size();
    for (QueryExport export : QueryExport.values()) {
      export.call(api);
    }
    api.csq("a", "b", "c");
    api.porder("[{}]", "a", "b", "c");
    assertEquals(Collections.emptyList(), SimBridge.calls());
    for (int kind = SimControl.MAIN; kind <= SimControl.LOG_SINK; kind++) {
      assertFalse(SimControl.hasCallback(kind), "callback of kind " + kind);
    }
    // The next test starts after this one's last line.
    log.await(LogLines.missingEntry("pfnporder"), mark);
  }
}
