package com.tarnwick.tests;

import static com.tarnwick.tests.LeBuilder.le32;
import static com.tarnwick.tests.LeBuilder.le64;
import static com.tarnwick.tests.LeBuilder.resultHeader;
import static com.tarnwick.tests.LeBuilder.utf8z;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.wire.Cube;
import com.tarnwick.api.wire.Grid;
import com.tarnwick.api.wire.ResultBuffer;
import com.tarnwick.api.wire.Value;
import com.tarnwick.sim.SimControl;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.EnumSource;

/**
 * The eighteen query exports through a real JVM against the simulated service: arguments reach
 * the service in order, scripted records come back intact in the Result buffer, and each record
 * goes back to releasedata exactly once.
 */
class QueryExportsTest extends DefaultSimTest {
  @AfterEach
  void everyRecordReleased() {
    assertEquals(0, SimControl.outstandingRecords(), "records not given back to releasedata");
  }

  private static void script(String dsl, QueryExport export) {
    int result = export.reply == QueryExport.Reply.GRID ? SimControl.scriptGrid(dsl)
                                                        : SimControl.scriptCube(dsl);
    assertEquals(0, result, () -> "script " + dsl + ": " + SimControl.dslError());
  }

  @Test
  void workedExampleIsFiftyFiveBytesByteForByte() {
    script("L1=\"A\";L2=\"B\";L3=\"C\";V=6:7", QueryExport.CSD);

    byte[] reply = api.csd("s1", "s2", "s3", "s4", "s5");

    byte[] expected = Hex.bytes("00000000 00000000 2700000000000000"
        + " 01000000 02000000 41 00"
        + " 01000000 02000000 42 00"
        + " 01000000 02000000 43 00"
        + " 01000000 06 07000000");
    assertEquals(55, expected.length);
    assertEquals(Hex.of(expected), Hex.of(reply));
    int id = SimControl.lastRecordId();
    assertEquals(Arrays.asList("csd|s1|s2|s3|s4|s5", "releasedata|cube#" + id), SimBridge.calls());
    assertEquals(1, SimControl.releaseCount(id));
  }

  /** One record per export, told apart by the export's name in the first list. */
  private static String recordFor(QueryExport export) {
    if (export.reply == QueryExport.Reply.GRID) {
      return "D1=2;D2=3;L=\"" + export.name + "\",\"c\\xC3\\xA9\";"
          + "V=11:d1.5,8:-1,6:" + export.ordinal() + ",13:\"x\",1:0x7F,15";
    }
    return "L1=\"" + export.name + "\",\"k2\";L2=\"f\\xC3\\xA9\";L3=\"d1\",\"d2\";"
        + "V=6:" + export.ordinal() + ",8:-" + export.ordinal() + ",13:\"" + export.name
        + "\",14:\"\\x00\\x01\"";
  }

  @ParameterizedTest
  @EnumSource(value = QueryExport.class, mode = EnumSource.Mode.EXCLUDE, names = "TRADEDATESNUM")
  void passesItsArgumentsInOrderAndReturnsTheRecordIntact(QueryExport export) {
    script(recordFor(export), export);
    String[] texts = export.sampleTexts();
    int number = -1000 - export.ordinal();

    ResultBuffer result = ResultBuffer.decode(export.call(api, texts, number));

    assertEquals(0, result.code());
    if (export.reply == QueryExport.Reply.GRID) {
      Grid grid = result.grid();
      assertEquals(2, grid.d1());
      assertEquals(3, grid.d2());
      assertEquals(Arrays.asList(export.name, "c\u00e9"), grid.texts());
      assertEquals(
          Arrays.asList(Value.of(11, le64(Double.doubleToLongBits(1.5))), Value.of(8, le64(-1)),
              Value.of(6, le32(export.ordinal())), Value.of(14, utf8z("x")),
              Value.of(1, new byte[] {0x7F}), Value.of(15, new byte[0])),
          grid.values());
    } else {
      Cube cube = result.cube();
      assertEquals(Arrays.asList(export.name, "k2"), cube.first());
      assertEquals(Arrays.asList("f\u00e9"), cube.second());
      assertEquals(Arrays.asList("d1", "d2"), cube.third());
      assertEquals(
          Arrays.asList(Value.of(6, le32(export.ordinal())), Value.of(8, le64(-export.ordinal())),
              Value.of(14, utf8z(export.name)), Value.of(14, new byte[] {0, 1})),
          cube.values());
    }
    int id = SimControl.lastRecordId();
    String kind = export.reply == QueryExport.Reply.GRID ? "grid#" : "cube#";
    assertEquals(Arrays.asList(export.callLine(texts, number), "releasedata|" + kind + id),
        SimBridge.calls());
    assertEquals(1, SimControl.releaseCount(id), "releases of the record");
  }

  @ParameterizedTest
  @EnumSource(value = QueryExport.class, mode = EnumSource.Mode.EXCLUDE, names = "TRADEDATESNUM")
  void serviceFailureGivesTheSixteenByteReplyAndKeepsTheRecord(QueryExport export) {
    // The service fails yet hands out a record: the bridge must neither read nor release it.
    script(recordFor(export), export);
    int code = export.ordinal() % 2 == 0 ? -(40000 + export.ordinal()) : 40000 + export.ordinal();
    SimControl.setNextCode(code);
    String[] texts = export.sampleTexts();

    byte[] reply = export.call(api, texts, 5);

    assertEquals(Hex.of(resultHeader(code, 0)), Hex.of(reply));
    assertEquals(Collections.singletonList(export.callLine(texts, 5)), SimBridge.calls());
    assertEquals(0, SimControl.releaseTotal(), "releasedata calls");
  }

  @Test
  void tradedatesnumAnswersTheCodeAndTheCountInEightBytes() {
    SimControl.setNextOutInt(250, true);
    assertEquals("00000000FA000000", Hex.of(api.tradedatesnum("20240101", "20241231", "x")));

    // A failing service: its code and whatever count it left.
    SimControl.setNextCode(-7);
    SimControl.setNextOutInt(3, true);
    assertEquals("F9FFFFFF03000000", Hex.of(api.tradedatesnum("a", "b", "c")));
    SimControl.setNextCode(5);
    SimControl.setNextOutInt(99, false);
    assertEquals("0500000000000000", Hex.of(api.tradedatesnum("d", "e", "f")));

    assertEquals(Arrays.asList("tradedatesnum|20240101|20241231|x", "tradedatesnum|a|b|c",
                     "tradedatesnum|d|e|f"),
        SimBridge.calls());
    assertEquals(0, SimControl.releaseTotal(), "the count reply releases nothing");
  }

  @Test
  void everyValueTypeRoundTrips() {
    // Types 0 to 15 and two out of range, one value each along the third list.
    StringBuilder third = new StringBuilder();
    for (int i = 0; i < 18; i++) {
      third.append(i == 0 ? "" : ",").append("\"v").append(i).append('"');
    }
    script("L1=\"A\";L2=\"B\";L3=" + third + ";V=0,1:0xFF,2:0x01,3:0x80,4:0x1234,5:0xFFFE,"
            + "6:-7,7:0x7FFFFFFF,8:0x0102030405060708,9:-2,10:f1.5,11:d-2.25,"
            + "12:\"\\x00\\x01\\xFF\",13:\"h\\xC3\\xA9llo\",14:\"abc\",15,-3,99",
        QueryExport.CSD);

    List<Value> values = ResultBuffer.decode(api.csd("", "", "", "", "")).cube().values();

    List<Value> expected = Arrays.asList(Value.of(0, new byte[0]), Value.of(1, Hex.bytes("FF")),
        Value.of(2, Hex.bytes("01")), Value.of(3, Hex.bytes("80")), Value.of(4, Hex.bytes("3412")),
        Value.of(5, Hex.bytes("FEFF")), Value.of(6, le32(-7)), Value.of(7, le32(0x7FFFFFFF)),
        Value.of(8, le64(0x0102030405060708L)), Value.of(9, le64(-2)),
        Value.of(10, le32(Float.floatToIntBits(1.5f))),
        Value.of(11, le64(Double.doubleToLongBits(-2.25))), Value.of(12, Hex.bytes("0001FF")),
        // Text arrives as tag 14: its UTF-8 bytes and a NUL.
        Value.of(14, utf8z("h\u00e9llo")), Value.of(14, Hex.bytes("616263")),
        Value.of(15, new byte[0]), Value.of(0xFD, new byte[0]), Value.of(99, new byte[0]));
    assertEquals(expected.size(), values.size());
    for (int i = 0; i < expected.size(); i++) {
      assertEquals(expected.get(i), values.get(i), "value " + i);
    }
    assertEquals(-7L, values.get(6).longValue());
    assertEquals(1.5f, values.get(10).floatValue());
    assertEquals(-2.25, values.get(11).doubleValue());
    assertEquals("h\u00e9llo", values.get(13).text());
  }

  /** Out-of-range types, each followed by an int holding its position, and the tags they give. */
  static final int[] OUT_OF_RANGE_TYPES = {262, 270, 269, -250, 15, 16, 255, -1, 256};
  static final int[] OUT_OF_RANGE_TAGS = {0, 0, 0, 0, 15, 16, 255, 255, 0};

  static String outOfRangeCube() {
    StringBuilder third = new StringBuilder();
    StringBuilder values = new StringBuilder();
    for (int i = 0; i < OUT_OF_RANGE_TYPES.length; i++) {
      third.append(i == 0 ? "" : ",")
          .append("\"t")
          .append(i)
          .append("\",\"v")
          .append(i)
          .append('"');
      // Value bytes and a byte count that a reader of the wrong body would take in.
      values.append(i == 0 ? "" : ",")
          .append(OUT_OF_RANGE_TYPES[i])
          .append(":\"abcdefgh\",6:")
          .append(100 + i);
    }
    return "L1=\"A\";L2=\"B\";L3=" + third + ";V=" + values;
  }

  /** Each out-of-range value stands alone with its tag, and the int after it is intact. */
  static void assertOutOfRangeValues(List<Value> values) {
    assertEquals(2 * OUT_OF_RANGE_TYPES.length, values.size());
    for (int i = 0; i < OUT_OF_RANGE_TYPES.length; i++) {
      assertEquals(Value.of(OUT_OF_RANGE_TAGS[i], new byte[0]), values.get(2 * i),
          "type " + OUT_OF_RANGE_TYPES[i]);
      assertEquals(
          100L + i, values.get(2 * i + 1).longValue(), "after type " + OUT_OF_RANGE_TYPES[i]);
    }
  }

  @Test
  void outOfRangeTypesGoOutAloneAndTheValuesAfterThemDecode() {
    script(outOfRangeCube(), QueryExport.CSD);
    assertOutOfRangeValues(ResultBuffer.decode(api.csd("", "", "", "", "")).cube().values());
  }

  @Test
  void emptyListsGiveNoValues() {
    // An empty first list with a values pointer set: the value count is 0 and nothing is read.
    script("L1=;L2=\"B\";L3=\"C\";V=6:7", QueryExport.CSD);
    byte[] reply = api.csd("a", "b", "c", "d", "e");
    byte[] payload = Hex.bytes("00000000 01000000 02000000 42 00 01000000 02000000 43 00 00000000");
    assertEquals(Hex.of(new LeBuilder().raw(resultHeader(0, payload.length)).raw(payload).bytes()),
        Hex.of(reply));
  }

  @Test
  void successWithoutARecordIsTheBridgeFailureCode() {
    script("none", QueryExport.CSD);
    int mark = log.size();

    byte[] reply = api.csd("a", "b", "c", "d", "e");

    assertEquals(Hex.of(resultHeader(NativeAPI.CODE_MISSING_FUNCTION, 0)), Hex.of(reply));
    log.await(LogLines.error("assert false int java wraper. "), mark);
    assertEquals(Collections.singletonList("csd|a|b|c|d|e"), SimBridge.calls());
  }

  @Test
  void getdateAndCfnPassNegativeIntsUnchanged() {
    for (int number : new int[] {-1, -20240102, Integer.MIN_VALUE}) {
      assertEquals(0, ResultBuffer.decode(api.getdate("20240102", number, "Days=Trading")).code());
      assertEquals(0, ResultBuffer.decode(api.cfn("600000.SH", "roe", number, "rpt")).code());
    }
    assertEquals(
        Arrays.asList("getdate|20240102|-1|Days=Trading", "cfn|600000.SH|roe|-1|rpt",
            "getdate|20240102|-20240102|Days=Trading", "cfn|600000.SH|roe|-20240102|rpt",
            "getdate|20240102|-2147483648|Days=Trading", "cfn|600000.SH|roe|-2147483648|rpt"),
        withoutReleases(SimBridge.calls()));
  }

  private static List<String> withoutReleases(List<String> calls) {
    List<String> kept = new ArrayList<>();
    for (String call : calls) {
      if (!call.startsWith("releasedata|")) {
        kept.add(call);
      }
    }
    return kept;
  }

  @Test
  void supplementaryCharactersReachTheServiceAsFourUtf8BytesAndComeBack() {
    // The runner starts this JVM in a UTF-8 locale: the process code page is UTF-8.
    assertEquals("UTF-8", System.getProperty("sun.jnu.encoding"), "locale of the test JVM");
    script("L1=\"\\xF0\\x9F\\x98\\x80\";L2=\"\\xE4\\xB8\\xAD\";L3=\"\\xC3\\xA9\";"
            + "V=13:\"a\\xF0\\x9F\\x98\\x80\"",
        QueryExport.CSD);

    byte[] reply = api.csd("\ud83d\ude00", "\u00e9", "\u4e2d", "a\ud83d\ude00b", "plain");

    assertEquals(
        Collections.singletonList(
            "csd|\\xF0\\x9F\\x98\\x80|\\xC3\\xA9|\\xE4\\xB8\\xAD|a\\xF0\\x9F\\x98\\x80b|plain"),
        withoutReleases(SimBridge.calls()));
    Cube cube = ResultBuffer.decode(reply).cube();
    assertEquals(Arrays.asList("\ud83d\ude00"), cube.first());
    assertEquals(Arrays.asList("\u4e2d"), cube.second());
    assertEquals(Arrays.asList("\u00e9"), cube.third());
    assertEquals("a\ud83d\ude00", cube.values().get(0).text());
  }

  @Test
  void nullAndEmptyJavaStringsArriveAsEmptyTexts() {
    assertEquals(0, ResultBuffer.decode(api.csd(null, "b", null, "d", null)).code());
    assertEquals(0, ResultBuffer.decode(api.csd("", "", "", "", "")).code());
    assertEquals(0, ResultBuffer.decode(api.pquery(null)).code());
    assertEquals(0, ResultBuffer.decode(api.getdate(null, 3, null)).code());
    assertEquals(Arrays.asList("csd||b||d|", "csd|||||", "pquery|", "getdate||3|"),
        withoutReleases(SimBridge.calls()));
  }

  @Test
  void concurrentCallersEachGetTheirOwnRecord() throws Exception {
    // Default mode: the sim builds each record from the call's arguments, so every reply to the
    // same arguments is the same array, whatever other threads do meanwhile.
    int threads = 4;
    int perThread = 100;
    List<byte[]> references = new ArrayList<>();
    for (int t = 0; t < threads; t++) {
      byte[] reference = api.css("60000" + t + ".SH", "open,close", "");
      assertEquals(0, ResultBuffer.decode(reference).code());
      references.add(reference);
    }
    SimControl.reset();
    ExecutorService pool = Executors.newFixedThreadPool(threads);
    try {
      List<Future<Integer>> results = new ArrayList<>();
      for (int t = 0; t < threads; t++) {
        final String code = "60000" + t + ".SH";
        final byte[] reference = references.get(t);
        results.add(pool.submit(() -> {
          int same = 0;
          for (int i = 0; i < perThread; i++) {
            if (Arrays.equals(reference, api.css(code, "open,close", ""))) {
              same++;
            }
          }
          return same;
        }));
      }
      for (int t = 0; t < threads; t++) {
        assertEquals(
            perThread, results.get(t).get(), "replies equal to the reference, thread " + t);
      }
    } finally {
      pool.shutdown();
    }
    assertEquals(threads * perThread, SimControl.releaseTotal(), "one release per query");
  }
}
