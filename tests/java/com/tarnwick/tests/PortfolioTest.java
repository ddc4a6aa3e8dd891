package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.tarnwick.api.NativeAPI;
import com.tarnwick.sim.SimControl;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * porder, pcreate, pdelete and pctransfer against the simulated service. The sim logs porder's
 * array of 64-byte order records in hex, so the records can be checked byte by byte.
 */
class PortfolioTest extends DefaultSimTest {
  /** One order record as the service must see it: 64 bytes, little-endian, zero-filled. */
  private static byte[] order(String code, double volume, float price, int date, int time,
      int optype, float cost, float rate, int reserve) {
    byte[] codeBytes = code.getBytes(StandardCharsets.UTF_8);
    ByteBuffer record = ByteBuffer.allocate(64).order(ByteOrder.LITTLE_ENDIAN);
    record.put(codeBytes, 0, Math.min(codeBytes.length, 19));
    record.position(24);
    record.putDouble(volume).putFloat(price).putInt(date).putInt(time).putInt(optype);
    record.putFloat(cost).putFloat(rate).putInt(reserve);
    return record.array();
  }

  /** The one porder call the sim saw, split into its fields. */
  private static String[] theOrderCall() {
    List<String> calls = SimBridge.calls();
    assertEquals(1, calls.size(), "calls: " + calls);
    String[] parts = calls.get(0).split("\\|", -1);
    assertEquals("porder", parts[0]);
    return parts;
  }

  @Test
  void threeOrdersReachTheServiceAsOneHundredNinetyTwoBytes() {
    String json = "[{\"code\":\"600000.SH\",\"volume\":100.5,\"price\":10.25,\"date\":20240102,"
        + "\"time\":93000,\"optype\":1,\"cost\":0.5,\"rate\":0.001,\"reserve\":7},"
        + "{\"code\":\"\u00e9\u4e2d\",\"volume\":-3,\"price\":-1.5,\"date\":-1,\"time\":150000,"
        + "\"optype\":2,\"cost\":1.25,\"rate\":0.25,\"reserve\":-8},"
        // Members in another order and an unknown member change nothing.
        + "{\"extra\":\"ignored\",\"reserve\":9,\"rate\":2.5,\"cost\":3.5,\"optype\":3,\"time\":1,"
        + "\"date\":2,\"price\":4.5,\"volume\":1e10,\"code\":\"X\"}]";

    assertEquals(0, api.porder(json, "acct-1", "portfolio \u00e9", "opt"));

    String[] call = theOrderCall();
    byte[] records = Hex.bytes(call[1]);
    assertEquals(192, records.length);
    assertEquals("3", call[2], "count");
    assertEquals("acct-1", call[3]);
    assertEquals("portfolio \\xC3\\xA9", call[4]);
    assertEquals("opt", call[5]);
    assertEquals(6, call.length);
    byte[][] expected = {order("600000.SH", 100.5, 10.25f, 20240102, 93000, 1, 0.5f, 0.001f, 7),
        order("\u00e9\u4e2d", -3, -1.5f, -1, 150000, 2, 1.25f, 0.25f, -8),
        order("X", 1e10, 4.5f, 2, 1, 3, 3.5f, 2.5f, 9)};
    for (int i = 0; i < 3; i++) {
      assertEquals(Hex.of(expected[i]), Hex.of(Arrays.copyOfRange(records, 64 * i, 64 * i + 64)),
          "record " + i);
    }
    // The first record field by field, at its offset and in its type.
    ByteBuffer first = ByteBuffer.wrap(records).order(ByteOrder.LITTLE_ENDIAN);
    assertEquals("600000.SH", new String(records, 0, 9, StandardCharsets.US_ASCII));
    for (int i = 9; i < 24; i++) {
      assertEquals(0, records[i], "code byte " + i);
    }
    assertEquals(100.5, first.getDouble(24));
    assertEquals(10.25f, first.getFloat(32));
    assertEquals(20240102, first.getInt(36));
    assertEquals(93000, first.getInt(40));
    assertEquals(1, first.getInt(44));
    assertEquals(0.5f, first.getFloat(48));
    assertEquals(0.001f, first.getFloat(52));
    assertEquals(7, first.getInt(56));
    assertEquals(0, first.getInt(60));
  }

  @Test
  void theServiceResultIsReturned() {
    SimControl.setNextCode(-77);
    assertEquals(-77, api.porder("[{\"code\":\"A\"}]", "a", "b", "c"));
    SimControl.setNextCode(123456);
    assertEquals(123456, api.porder("[{\"code\":\"A\"}]", "a", "b", "c"));
  }

  @Test
  void rootsThatAreNotANonEmptyArrayAreRefused() {
    // "[1]" and "[\"x\"]": elements that are not objects are refused the same way.
    for (String json : new String[] {"[]", "{}", "null", "42", "\"text\"",
             "{\"code\":\"A\",\"volume\":1}", "[1]", "[{\"code\":\"A\"},\"x\"]"}) {
      int mark = log.size();
      assertEquals(NativeAPI.CODE_ORDER_LIST_NOT_ARRAY, api.porder(json, "a", "b", "c"), json);
      log.await(LogLines.error("json param error : " + json), mark);
    }
    assertEquals(Collections.emptyList(), SimBridge.calls(), "the service is not called");
  }

  @Test
  void textsThatDoNotParseAreRefused() {
    // The last four are refused as the classic reader refuses them: trailing commas in an
    // array and in an object, a leading plus, and a byte-order mark.
    for (String json : new String[] {"", "[", "not json", "[{\"code\":\"A\"}", "[{\"code\" \"A\"}]",
             "[{\"code\":\"A\",\"volume\":100},]", "[{\"volume\":1,}]", "[{\"volume\":+100}]",
             "\ufeff[{\"code\":\"A\",\"volume\":1}]"}) {
      int mark = log.size();
      assertEquals(NativeAPI.CODE_BAD_ORDER_JSON, api.porder(json, "a", "b", "c"), json);
      log.await(LogLines.error("json parse error : " + json), mark);
    }
    assertEquals(Collections.emptyList(), SimBridge.calls(), "the service is not called");
  }

  @Test
  void anEmptyObjectOrNullElementIsOneRecordOfDefaults() {
    for (String json : new String[] {"[{}]", "[null]"}) {
      SimControl.clearCalls();
      assertEquals(0, api.porder(json, "a", "b", "c"), json);
      String[] call = theOrderCall();
      assertEquals(Hex.of(new byte[64]), call[1], json);
      assertEquals("1", call[2], json);
    }
  }

  @Test
  void aLongCodeIsCutToNineteenBytes() {
    String json = "[{\"code\":\"ABCDEFGHIJKLMNOPQRSTUVWXY\",\"volume\":2.5,\"price\":1.5,"
        + "\"date\":3,\"time\":4,\"optype\":5,\"cost\":6.5,\"rate\":7.5,\"reserve\":-1}]";

    assertEquals(0, api.porder(json, "a", "b", "c"));

    byte[] record = Hex.bytes(theOrderCall()[1]);
    assertEquals("ABCDEFGHIJKLMNOPQRS", new String(record, 0, 19, StandardCharsets.US_ASCII));
    assertEquals(
        Hex.of(order("ABCDEFGHIJKLMNOPQRS", 2.5, 1.5f, 3, 4, 5, 6.5f, 7.5f, -1)), Hex.of(record));
  }

  @Test
  void aMemberOfTheWrongTypeFailsTheWholeCall() {
    String[] lists = {"[{\"code\":\"A\",\"volume\":\"100\"}]",
        // The first record is fine: no partial list reaches the service.
        "[{\"code\":\"A\",\"volume\":1},{\"code\":\"B\",\"volume\":\"x\"}]"};
    for (String json : lists) {
      int mark = log.size();
      assertEquals(NativeAPI.CODE_BAD_ORDER_JSON, api.porder(json, "a", "b", "c"), json);
      log.await(LogLines.error("json parse error : " + json), mark);
    }
    assertEquals(Collections.emptyList(), SimBridge.calls(), "the service is not called");
  }

  @Test
  void pcreatePassesItsLongUnchanged() {
    assertEquals(0, api.pcreate("p1", "acct", 1L << 40, "CNY", "note"));
    SimControl.setNextCode(-5);
    assertEquals(-5, api.pcreate("p2", "acct", Long.MIN_VALUE, "", "\u00e9"));
    assertEquals(Arrays.asList("pcreate|p1|acct|1099511627776|CNY|note",
                     "pcreate|p2|acct|-9223372036854775808||\\xC3\\xA9"),
        SimBridge.calls());
  }

  @Test
  void pdeletePassesItsTexts() {
    SimControl.setNextCode(8);
    assertEquals(8, api.pdelete("p1", "acct"));
    assertEquals(Collections.singletonList("pdelete|p1|acct"), SimBridge.calls());
  }

  @Test
  void pctransferPassesItsDoubleInTheFourthPosition() {
    assertEquals(0, api.pctransfer("p1", "acct", "in", 1234.5625, "CNY", "note"));
    assertEquals(0, api.pctransfer("a", "b", "c", -0.1, "d", "e"));
    SimControl.setNextCode(-1);
    assertEquals(-1, api.pctransfer("a", "b", "c", 1e300, "d", "e"));
    assertEquals(Arrays.asList("pctransfer|p1|acct|in|1234.5625|CNY|note",
                     "pctransfer|a|b|c|-0.1|d|e", "pctransfer|a|b|c|1e+300|d|e"),
        SimBridge.calls());
  }
}
