package com.tarnwick.tests;

import static com.tarnwick.tests.LeBuilder.resultHeader;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.sim.SimControl;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * A service library without releasedata (the sim's "no_releasedata" variant): a query whose record
 * could not be given back is refused before the service is called, with the label of the missing
 * release function; tradedatesnum, which returns no record, works. Its own JVM, as the library
 * loads once.
 */
class NoReleaseDataTest {
  private static final LogCollector log = new LogCollector();
  private static NativeAPI api;

  @BeforeAll
  static void openTheBridge() {
    api = SimBridge.open(SimDirs.variant("no_releasedata"), log, null);
  }

  @BeforeEach
  void resetTheSim() {
    SimControl.reset();
  }

  @Test
  void queriesWithARecordAreRefusedWithTheReleaseLabel() {
    int mark = log.size();
    int queries = 0;
    for (QueryExport export : QueryExport.values()) {
      if (export.reply == QueryExport.Reply.COUNT) {
        continue;
      }
      assertEquals(Hex.of(resultHeader(NativeAPI.CODE_MISSING_FUNCTION, 0)),
          Hex.of(export.call(api)), export.name);
      queries++;
    }
    assertEquals(17, queries);

    // The service functions themselves are present but never called.
    assertEquals(Collections.emptyList(), SimBridge.calls());
    // One line per query, each naming releasedata (not the query's own entry).
    log.awaitSize(mark + queries);
    List<String> lines = log.lines();
    List<String> logged = lines.subList(mark, lines.size());
    assertEquals(queries, logged.size(), "lines: " + logged);
    for (String line : logged) {
      assertTrue(LogLines.missingEntry("pfnreleasedata").matcher(line).matches(), line);
    }
  }

  @Test
  void tradedatesnumStillWorks() {
    SimControl.setNextOutInt(12, true);

    byte[] reply = api.tradedatesnum("20240101", "20240131", "Days=Trading");

    assertEquals("000000000C000000", Hex.of(reply));
    assertEquals(Collections.singletonList("tradedatesnum|20240101|20240131|Days=Trading"),
        SimBridge.calls());
    SimBridge.assertNoSimErrors();
  }
}
