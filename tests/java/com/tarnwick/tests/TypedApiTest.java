package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.tarnwick.api.CallbackEvent;
import com.tarnwick.api.CountResult;
import com.tarnwick.api.DataCube;
import com.tarnwick.api.DataGrid;
import com.tarnwick.api.DataValue;
import com.tarnwick.api.LogLine;
import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.Order;
import com.tarnwick.api.QueryResult;
import com.tarnwick.api.Subscription;
import com.tarnwick.api.wire.Bytes;
import com.tarnwick.api.wire.Value;
import com.tarnwick.api.wire.WireFormatException;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.time.DateTimeException;
import java.time.LocalDate;
import java.time.LocalDateTime;
import java.util.Arrays;
import java.util.List;
import java.util.NoSuchElementException;
import java.util.OptionalDouble;
import org.junit.jupiter.api.Nested;
import org.junit.jupiter.api.Test;

/**
 * The typed layer of com.tarnwick.api over hand-built byte layouts: every value type, cube and
 * grid addressing, the results of queries and subscriptions, callback events, log lines and the
 * JSON of orders. No native code involved.
 */
class TypedApiTest {
  /** A Result buffer: code, reserved 0, payload length, payload. */
  static byte[] resultBuffer(int code, byte[] payload) {
    return new LeBuilder().i32(code).i32(0).i64(payload.length).raw(payload).bytes();
  }

  static DataValue value(int tag, byte[] body) {
    return DataValue.of(Value.of(tag, body));
  }

  static DataValue decodeOne(byte[] encoded) {
    Bytes in = new Bytes(encoded);
    DataValue value = DataValue.of(Value.read(in));
    in.expectEnd();
    return value;
  }

  static byte[] utf8z(String text) {
    byte[] utf8 = text.getBytes(StandardCharsets.UTF_8);
    return Arrays.copyOf(utf8, utf8.length + 1);
  }

  @Nested
  class Values {
    @Test
    void everyFixedWidthTagReadsAsItsType() {
      // Each value as encoded on the wire, with a body that tells sign from zero extension.
      Object[][] cases = {
        {1, 1, 0x01L, DataValue.Type.BOOLEAN, Boolean.TRUE},
        {1, 1, 0x00L, DataValue.Type.BOOLEAN, Boolean.FALSE},
        {2, 1, 0xFFL, DataValue.Type.INT8, (byte) -1},
        {3, 1, 0xFFL, DataValue.Type.UINT8, (short) 255},
        {4, 2, 0xFFFEL, DataValue.Type.INT16, (short) -2},
        {5, 2, 0xFFFFL, DataValue.Type.UINT16, 65535},
        {6, 4, 0x80000000L, DataValue.Type.INT32, Integer.MIN_VALUE},
        {7, 4, 0xFFFFFFFFL, DataValue.Type.UINT32, 4294967295L},
        {8, 8, -4L, DataValue.Type.INT64, -4L},
        {9, 8, -1L, DataValue.Type.UINT64, new BigInteger("18446744073709551615")},
        {10, 4, (long) Float.floatToIntBits(1.5f), DataValue.Type.FLOAT, 1.5f},
        {11, 8, Double.doubleToLongBits(-2.25), DataValue.Type.DOUBLE, -2.25},
      };
      for (Object[] c : cases) {
        int tag = (Integer) c[0];
        DataValue value = decodeOne(new LeBuilder().fixed(tag, (Integer) c[1], (Long) c[2]).bytes());
        assertEquals(c[3], value.type(), "tag " + tag);
        assertEquals(tag, value.tag());
        assertEquals(c[4], value.asObject(), "tag " + tag);
        assertFalse(value.isEmpty());
      }
    }

    @Test
    void integersReadAsLongWithTheirSignAndAsDoubleUnsignedWhereUnsigned() {
      assertEquals(-1, decodeOne(new LeBuilder().fixed(2, 1, 0xFF).bytes()).asLong());
      assertEquals(255, decodeOne(new LeBuilder().fixed(3, 1, 0xFF).bytes()).asLong());
      assertEquals(-2, decodeOne(new LeBuilder().fixed(4, 2, 0xFFFE).bytes()).asLong());
      assertEquals(65534, decodeOne(new LeBuilder().fixed(5, 2, 0xFFFE).bytes()).asLong());
      assertEquals(-3, decodeOne(new LeBuilder().fixed(6, 4, -3).bytes()).asInt());
      assertEquals(4294967293L, decodeOne(new LeBuilder().fixed(7, 4, -3).bytes()).asLong());
      DataValue max = decodeOne(new LeBuilder().fixed(9, 8, -1).bytes());
      assertEquals(-1L, max.asLong(), "the same 64 bits");
      assertEquals(18446744073709551615.0, max.asDouble());
      assertEquals("18446744073709551615", max.toString());
      assertThrows(ArithmeticException.class, max::asInt);
      assertThrows(ArithmeticException.class,
          () -> decodeOne(new LeBuilder().fixed(7, 4, -1).bytes()).asInt());
      assertEquals(-4.0, decodeOne(new LeBuilder().fixed(8, 8, -4).bytes()).asDouble());
      assertEquals(1.5, decodeOne(new LeBuilder().fixed(10, 4, Float.floatToIntBits(1.5f)).bytes())
          .asDouble());
    }

    @Test
    void tag14IsTextWhenItHoldsNulTerminatedUtf8AndBytesOtherwise() {
      DataValue text = decodeOne(new LeBuilder().counted(14, utf8z("\u6d66\u6c5f \u00e9")).bytes());
      assertEquals(DataValue.Type.TEXT, text.type());
      assertEquals("\u6d66\u6c5f \u00e9", text.asText());
      assertEquals("\u6d66\u6c5f \u00e9", text.toString());
      assertArrayEquals("\u6d66\u6c5f \u00e9".getBytes(StandardCharsets.UTF_8), text.asBytes());

      DataValue emptyText = decodeOne(new LeBuilder().counted(14, new byte[] {0}).bytes());
      assertEquals("", emptyText.asText());

      byte[][] notText = {
        {},                         // no NUL at all
        {'a', 'b'},                 // not terminated
        {(byte) 0xC3, 0x28, 0},     // malformed UTF-8
        {(byte) 0xED, (byte) 0xA0, (byte) 0x80, 0}, // an encoded surrogate
      };
      for (byte[] body : notText) {
        DataValue bytes = decodeOne(new LeBuilder().counted(14, body).bytes());
        assertEquals(DataValue.Type.BYTES, bytes.type(), Arrays.toString(body));
        assertArrayEquals(body, bytes.asBytes());
        assertThrows(IllegalStateException.class, bytes::asText);
      }
      DataValue blob = decodeOne(new LeBuilder().counted(12, new byte[] {0x0a, (byte) 0xff, 0}).bytes());
      assertEquals(DataValue.Type.BYTES, blob.type());
      assertEquals("0aff00", blob.toString());
      assertArrayEquals(new byte[] {0x0a, (byte) 0xff, 0}, (byte[]) blob.asObject());
    }

    @Test
    void tagsWithoutBodyAreEmpty() {
      for (int tag : new int[] {0, 13, 15, 99, 255}) {
        DataValue value = decodeOne(new byte[] {(byte) tag});
        assertEquals(DataValue.Type.EMPTY, value.type(), "tag " + tag);
        assertEquals(tag, value.tag());
        assertTrue(value.isEmpty());
        assertNull(value.asObject());
        assertEquals("", value.toString());
        assertThrows(IllegalStateException.class, value::asDouble);
      }
    }

    @Test
    void accessorsRefuseOtherTypes() {
      DataValue text = value(14, utf8z("x"));
      assertThrows(IllegalStateException.class, text::asLong);
      assertThrows(IllegalStateException.class, text::asDouble);
      assertThrows(IllegalStateException.class, text::asBoolean);
      DataValue real = value(11, new byte[8]);
      assertThrows(IllegalStateException.class, real::asLong);
      assertThrows(IllegalStateException.class, real::asText);
      assertThrows(IllegalStateException.class, real::asBytes);
      assertThrows(IllegalStateException.class, value(6, new byte[4])::asBoolean);
    }

    @Test
    void missingValuesHaveReadsThatTakeADefault() {
      DataValue missing = decodeOne(new byte[] {0});
      assertTrue(Double.isNaN(missing.asDouble(Double.NaN)));
      assertEquals(-1, missing.asLong(-1));
      assertFalse(missing.optionalDouble().isPresent());
      assertFalse(missing.optionalLong().isPresent());
      assertThrows(IllegalStateException.class, missing::asDouble);
      DataValue close = value(11, new LeBuilder().i64(Double.doubleToLongBits(7.85)).bytes());
      assertEquals(7.85, close.asDouble(Double.NaN));
      assertEquals(OptionalDouble.of(7.85), close.optionalDouble());
      assertEquals(42, value(6, new byte[] {42, 0, 0, 0}).asLong(-1));
      // A default stands in for a missing value only, not for a text where a number belongs.
      assertThrows(IllegalStateException.class, () -> value(14, utf8z("n/a")).asDouble(0));
    }

    @Test
    void datesReadAsLocalDatesFromNumbersAndTexts() {
      LocalDate day = LocalDate.of(2024, 6, 24);
      assertEquals(day, value(6, new LeBuilder().i32(20240624).bytes()).asLocalDate());
      assertEquals(day, value(14, utf8z("20240624")).asLocalDate());
      assertEquals(day, value(14, utf8z("2024-06-24")).asLocalDate());
      assertThrows(DateTimeException.class,
          () -> value(6, new LeBuilder().i32(20241345).bytes()).asLocalDate());
      assertThrows(DateTimeException.class, () -> value(14, utf8z("09:30:06")).asLocalDate());
      assertThrows(IllegalStateException.class, () -> value(11, new byte[8]).asLocalDate());
    }

    @Test
    void valuesAreEqualByTagAndBytes() {
      assertEquals(value(6, new byte[] {7, 0, 0, 0}), value(6, new byte[] {7, 0, 0, 0}));
      assertFalse(value(6, new byte[] {7, 0, 0, 0}).equals(value(7, new byte[] {7, 0, 0, 0})));
      assertEquals(value(6, new byte[] {7, 0, 0, 0}).hashCode(),
          value(6, new byte[] {7, 0, 0, 0}).hashCode());
    }
  }

  @Nested
  class CubesAndGrids {
    /** Codes A, B; fields F, G; dates D1..D3; value i is INT32 i in storage order. */
    byte[] numberedCube() {
      LeBuilder payload = new LeBuilder().texts("A", "B").texts("F", "G").texts("D1", "D2", "D3").i32(12);
      for (int i = 0; i < 12; i++) {
        payload.fixed(6, 4, i);
      }
      return resultBuffer(0, payload.bytes());
    }

    @Test
    void theCodeIndexVariesFastestThenTheFieldThenTheDate() {
      DataCube cube = QueryResult.ofCube("csd", numberedCube()).cube();
      assertEquals(Arrays.asList("A", "B"), cube.codes());
      assertEquals(Arrays.asList("F", "G"), cube.fields());
      assertEquals(Arrays.asList("D1", "D2", "D3"), cube.dates());
      for (int d = 0; d < 3; d++) {
        for (int f = 0; f < 2; f++) {
          for (int c = 0; c < 2; c++) {
            assertEquals((d * 2 + f) * 2 + c, cube.value(c, f, d).asInt(), c + "," + f + "," + d);
          }
        }
      }
      assertEquals(9, cube.value("B", "F", "D3").asInt());
      assertEquals(Arrays.asList(2, 6, 10), ints(cube.series("A", "G")));
      assertThrows(NoSuchElementException.class, () -> cube.value("C", "F", "D1"));
      assertThrows(IndexOutOfBoundsException.class, () -> cube.value(2, 0, 0));
      assertThrows(IllegalStateException.class, () -> cube.value("A", "F"));
      assertThrows(UnsupportedOperationException.class, () -> cube.values().clear());
    }

    @Test
    void numbersReadWithoutAnObjectAndDatesLookUpAsLocalDates() {
      // Codes A, B; field F; dates 20240624, 20240625: A's second value is missing.
      byte[] reply = resultBuffer(0, new LeBuilder().texts("A", "B").texts("F")
          .texts("20240624", "20240625").i32(4)
          .fixed(11, 8, Double.doubleToLongBits(1.5)).fixed(10, 4, Float.floatToIntBits(2.5f))
          .i8(0).fixed(9, 8, -1L).bytes());
      DataCube cube = QueryResult.ofCube("csd", reply).cube();
      assertEquals(4, cube.size());
      assertEquals(1.5, cube.doubleAt(cube.index(0, 0, 0)));
      assertEquals(2.5, cube.getDouble("B", "F", "20240624"));
      assertTrue(cube.isEmptyAt(cube.index("A", "F", "20240625")));
      assertEquals(-7.0, cube.getDouble("A", "F", "20240625", -7.0));
      assertThrows(IllegalStateException.class, () -> cube.getDouble("A", "F", "20240625"));
      assertEquals(18446744073709551615.0, cube.doubleAt(3), "UINT64 as unsigned");
      assertEquals(-1L, cube.longAt(3));
      assertArrayEquals(new double[] {1.5, Double.NaN}, cube.doubleSeries("A", "F", Double.NaN));
      assertEquals(Arrays.asList(LocalDate.of(2024, 6, 24), LocalDate.of(2024, 6, 25)),
          cube.localDates());
      assertEquals(2.5, cube.value("B", "F", LocalDate.of(2024, 6, 24)).asDouble());
      assertThrows(NoSuchElementException.class,
          () -> cube.value("B", "F", LocalDate.of(2024, 6, 26)));
      assertEquals(DataValue.Type.UINT64, cube.typeAt(3));
      assertEquals(cube.value(1, 0, 1), cube.valueAt(3));
      assertArrayEquals(new byte[] {-1, -1, -1, -1, -1, -1, -1, -1}, cube.wire().index().body(3));
    }

    @Test
    void cubesAndGridsAreEqualByListsAndValueBytesWhereverTheBytesLie() {
      LeBuilder payload = new LeBuilder().texts("A").texts("B").texts("C").i32(1).fixed(6, 4, 7);
      DataCube fromReply = QueryResult.ofCube("csd", resultBuffer(0, payload.bytes())).cube();
      byte[] message = new LeBuilder().i32(1).i32(1).i32(0).i32(0).i32(0)
          .i64(payload.bytes().length).raw(payload.bytes()).bytes();
      DataCube fromEvent = CallbackEvent.decode(message, 1).cube().get();
      assertEquals(fromReply, fromEvent);
      assertEquals(fromReply.hashCode(), fromEvent.hashCode());
      assertEquals(QueryResult.ofCube("csd", resultBuffer(0, payload.bytes())),
          QueryResult.ofCube("csd", resultBuffer(0, payload.bytes())));
      DataCube other = QueryResult.ofCube("csd", resultBuffer(0, new LeBuilder().texts("A")
          .texts("B").texts("C").i32(1).fixed(6, 4, 8).bytes())).cube();
      assertNotEquals(fromReply, other);
      assertNotEquals(QueryResult.ofCube("csd", resultBuffer(0, payload.bytes())),
          QueryResult.ofCube("css", resultBuffer(0, payload.bytes())));

      LeBuilder grid = new LeBuilder().i32(1).i32(1).texts("X").i32(1).counted(14, utf8z("v"));
      assertEquals(QueryResult.ofGrid("ctr", resultBuffer(0, grid.bytes())).grid(),
          QueryResult.ofGrid("ctr", resultBuffer(0, grid.bytes())).grid());
      assertEquals(CountResult.of(new LeBuilder().i32(0).i32(3).bytes()),
          CountResult.of(new LeBuilder().i32(0).i32(3).bytes()));
    }

    @Test
    void aCubeOfOneDateIsReadByCodeAndField() {
      byte[] reply = resultBuffer(0, new LeBuilder().texts("600000.SH").texts("NAME", "CLOSE")
          .texts("20240628").i32(2).counted(14, utf8z("\u6d66\u6c5f")).fixed(11, 8,
              Double.doubleToLongBits(7.85)).bytes());
      DataCube cube = QueryResult.ofCube("css", reply).cube();
      assertEquals("\u6d66\u6c5f", cube.value("600000.SH", "NAME").asText());
      assertEquals(7.85, cube.value("600000.SH", "CLOSE").asDouble());
    }

    @Test
    void anEmptyListGivesACubeWithoutValues() {
      byte[] reply = resultBuffer(0, new LeBuilder().texts().texts("F").texts("D").i32(0).bytes());
      DataCube cube = QueryResult.ofCube("csd", reply).cube();
      assertTrue(cube.isEmpty());
      assertEquals(Arrays.asList("F"), cube.fields());
      assertThrows(IndexOutOfBoundsException.class, () -> cube.value(0, 0, 0));
    }

    @Test
    void gridsAreStoredRowByRowWithTheFirstDimensionAsColumns() {
      LeBuilder payload = new LeBuilder().i32(3).i32(2).texts("CODE", "CLOSE", "VOLUME").i32(6);
      payload.counted(14, utf8z("600000.SH")).fixed(11, 8, Double.doubleToLongBits(7.85))
          .fixed(8, 8, 1000);
      payload.counted(14, utf8z("000001.SZ")).fixed(11, 8, Double.doubleToLongBits(10.25))
          .fixed(8, 8, 2000);
      QueryResult result = QueryResult.ofGrid("ctr", resultBuffer(0, payload.bytes()));
      assertEquals(QueryResult.Shape.GRID, result.shape());
      assertThrows(IllegalStateException.class, result::cube);
      DataGrid grid = result.grid();
      assertEquals(2, grid.rowCount());
      assertEquals(3, grid.columnCount());
      assertEquals("000001.SZ", grid.value(1, "CODE").asText());
      assertEquals(10.25, grid.value(1, 1).asDouble());
      assertEquals(1000, grid.row(0).get(2).asLong());
      assertEquals(10.25, grid.doubleAt(1, grid.column("CLOSE")));
      assertEquals(2000, grid.longAt(1, 2));
      assertEquals("600000.SH", grid.textAt(0, 0));
      assertEquals(3, grid.row(1).size());
      assertThrows(IndexOutOfBoundsException.class, () -> grid.value(2, 0));
      assertThrows(NoSuchElementException.class, () -> grid.value(0, "NAME"));
    }

    @Test
    void aGridWithNegativeDimensionsHasNoRows() {
      // -2 x -3 spans 6 values in 32-bit arithmetic, yet no row or column.
      LeBuilder payload = new LeBuilder().i32(-2).i32(-3).texts("X").i32(6);
      for (int i = 0; i < 6; i++) {
        payload.i8(0);
      }
      DataGrid grid = QueryResult.ofGrid("ctr", resultBuffer(0, payload.bytes())).grid();
      assertEquals(0, grid.rowCount());
      assertEquals(0, grid.columnCount());
      assertEquals(6, grid.values().size());
      assertThrows(IndexOutOfBoundsException.class, () -> grid.row(0));
    }

    private List<Integer> ints(List<DataValue> values) {
      Integer[] out = new Integer[values.size()];
      for (int i = 0; i < out.length; i++) {
        out[i] = values.get(i).asInt();
      }
      return Arrays.asList(out);
    }
  }

  @Nested
  class Replies {
    @Test
    void theWorkedExampleIsACubeOfOneValue() {
      byte[] reply = new LeBuilder().i32(0).i32(0).i64(39).texts("A").texts("B").texts("C").i32(1)
          .fixed(6, 4, 7).bytes();
      assertEquals(55, reply.length);
      QueryResult result = QueryResult.ofCube("csd", reply);
      assertTrue(result.isOk());
      assertEquals(QueryResult.Shape.CUBE, result.shape());
      assertEquals("csd", result.function());
      assertEquals(7, result.cube().value("A", "B", "C").asInt());
      assertThrows(IllegalStateException.class, result::grid);
    }

    @Test
    void aFailedQueryCarriesItsCodeAndNoData() {
      QueryResult failed = QueryResult.ofCube("css", resultBuffer(-1001, new byte[0]));
      assertFalse(failed.isOk());
      assertEquals(-1001, failed.code());
      assertEquals(QueryResult.Shape.NONE, failed.shape());
      IllegalStateException thrown = assertThrows(IllegalStateException.class, failed::cube);
      assertTrue(thrown.getMessage().contains("-1001"), thrown.getMessage());

      QueryResult missing = QueryResult.ofGrid("ctr",
          resultBuffer(NativeAPI.CODE_MISSING_FUNCTION, new byte[0]));
      assertEquals(NativeAPI.CODE_MISSING_FUNCTION, missing.code());
      assertEquals(NativeAPI.CODE_NO_MEMORY, QueryResult.ofCube("csd", null).code());
      assertEquals(NativeAPI.CODE_NO_MEMORY, QueryResult.ofGrid("ctr", null).code());
    }

    @Test
    void malformedBuffersBecomeUndecodableResultsThatKeepTheirBytes() {
      byte[][] malformed = {
        new byte[15],
        new LeBuilder().i32(0).i32(0).i64(5).bytes(), // length beyond the array
        resultBuffer(0, new LeBuilder().texts("A").texts("B").texts("C").i32(2) // count 2 of 1
            .fixed(6, 4, 1).fixed(6, 4, 2).bytes()),
        resultBuffer(0, new LeBuilder().i32(1).i32(2).raw(new byte[] {'A', 'B'}).texts("B")
            .texts("C").i32(1).fixed(6, 4, 7).bytes()), // a code without its NUL
        resultBuffer(0, new LeBuilder().texts("A").texts("B").texts("C").i32(1).i8(11)
            .i32(0).bytes()), // a double cut short
        resultBuffer(0, new LeBuilder().texts("A").texts("B").texts("C", "D").i32(2)
            .fixed(11, 8, 1).i8(11).i32(0).bytes()), // the second of a run of doubles cut short
      };
      for (byte[] reply : malformed) {
        QueryResult result = QueryResult.ofCube("csd", reply);
        assertEquals(NativeAPI.CODE_UNDECODABLE, result.code(), Arrays.toString(reply));
        assertFalse(result.isOk());
        assertEquals(QueryResult.Shape.NONE, result.shape());
        assertArrayEquals(reply, result.rawReply().get());
        assertTrue(result.decodeFailure().isPresent());
        IllegalStateException thrown = assertThrows(IllegalStateException.class, result::cube);
        assertTrue(thrown.getMessage().contains("decoded"), thrown.getMessage());
      }
      // A cube payload is not a grid: the grid query gives the same answer.
      assertEquals(NativeAPI.CODE_UNDECODABLE, QueryResult.ofGrid("ctr", malformed[2]).code());
      // The strict low-level decoders still throw.
      assertThrows(WireFormatException.class,
          () -> com.tarnwick.api.wire.ResultBuffer.decode(malformed[1]));
    }

    @Test
    void countRepliesCarryCodeAndCount() {
      CountResult ok = CountResult.of(new LeBuilder().i32(0).i32(22).bytes());
      assertTrue(ok.isOk());
      assertEquals(22, ok.count());
      CountResult failed = CountResult.of(new LeBuilder().i32(9).i32(3).bytes());
      assertEquals(9, failed.code());
      assertEquals(3, failed.count());
      assertEquals(NativeAPI.CODE_NO_MEMORY, CountResult.of(null).code());
      assertFalse(CountResult.of(null).rawReply().isPresent());
      // An undecodable reply keeps its bytes, as a copy the caller cannot change.
      byte[] nine = {1, 2, 3, 4, 5, 6, 7, 8, 9};
      CountResult undecodable = CountResult.of(nine);
      assertEquals(NativeAPI.CODE_UNDECODABLE, undecodable.code());
      assertEquals(0, undecodable.count());
      nine[0] = 0;
      assertArrayEquals(new byte[] {1, 2, 3, 4, 5, 6, 7, 8, 9}, undecodable.rawReply().get());
      undecodable.rawReply().get()[1] = 0;
      assertArrayEquals(new byte[] {1, 2, 3, 4, 5, 6, 7, 8, 9}, undecodable.rawReply().get());
      assertNotEquals(undecodable, CountResult.of(new byte[9]));
      assertArrayEquals(new LeBuilder().i32(9).i32(3).bytes(), failed.rawReply().get());
    }

    @Test
    void subscriptionRepliesAndTheMissingFunctionReply() {
      Subscription opened =
          Subscription.of(CallbackEvent.Kind.CSQ, new LeBuilder().i32(7).i32(0).i64(0).bytes());
      assertTrue(opened.isOk());
      assertEquals(7, opened.requestNumber());
      assertEquals("csq", opened.function());

      Subscription refused =
          Subscription.of(CallbackEvent.Kind.CNQ, new LeBuilder().i32(0).i32(-5).i64(0).bytes());
      assertEquals(-5, refused.code());
      assertEquals("cnq", refused.function());

      // Without the service function the bridge puts 10000007 where the number goes.
      Subscription missing = Subscription.of(CallbackEvent.Kind.CST,
          new LeBuilder().i32(NativeAPI.CODE_MISSING_FUNCTION).i32(0).i64(0).bytes());
      assertEquals(NativeAPI.CODE_MISSING_FUNCTION, missing.code());
      assertEquals(0, missing.requestNumber());
      assertFalse(missing.isOk());

      assertEquals(NativeAPI.CODE_NO_MEMORY, Subscription.of(CallbackEvent.Kind.CSQ, null).code());
      Subscription undecodable =
          Subscription.of(CallbackEvent.Kind.CSQ, new LeBuilder().i32(1).i32(0).i64(1).bytes());
      assertEquals(NativeAPI.CODE_UNDECODABLE, undecodable.code());
      assertEquals(0, undecodable.requestNumber());
      byte[] kept = undecodable.rawReply().get();
      assertArrayEquals(new LeBuilder().i32(1).i32(0).i64(1).bytes(), kept);
      kept[0] = 9;
      assertArrayEquals(new LeBuilder().i32(1).i32(0).i64(1).bytes(),
          undecodable.rawReply().get(), "a copy each time");
      byte[] short15 = new byte[15];
      Subscription tooShort = Subscription.of(CallbackEvent.Kind.CSQ, short15);
      short15[0] = 1;
      assertArrayEquals(new byte[15], tooShort.rawReply().get(), "a copy of the reply");
      assertNotEquals(undecodable, tooShort);
      assertFalse(Subscription.of(CallbackEvent.Kind.CSQ, null).rawReply().isPresent());
      assertArrayEquals(new LeBuilder().i32(NativeAPI.CODE_MISSING_FUNCTION).i32(0).i64(0).bytes(),
          missing.rawReply().get());
      assertEquals(opened, Subscription.of(CallbackEvent.Kind.CSQ,
          new LeBuilder().i32(7).i32(0).i64(0).bytes()));
      assertNotEquals(opened, refused);
    }
  }

  @Nested
  class Events {
    @Test
    void theWorkedExampleMessageCarriesItsWordsAndCube() {
      byte[] message = new LeBuilder().i32(1).i32(2).i32(0).i32(4).i32(5).i64(39).texts("A").texts("B")
          .texts("C").i32(1).fixed(6, 4, 7).bytes();
      assertEquals(67, message.length);
      CallbackEvent event = CallbackEvent.decode(message, 1);
      assertEquals(CallbackEvent.Kind.CSQ, event.kind());
      assertArrayEquals(new int[] {1, 2, 0, 4, 5}, event.words());
      assertEquals(1, event.requestNumber());
      assertEquals(0, event.errorCode());
      assertTrue(event.hasCube());
      assertEquals(7, event.cube().get().value("A", "B", "C").asInt());
      assertFalse(event.isLost());
    }

    @Test
    void anErrorMessageHasNoCubeAndALostOneIsMarked() {
      CallbackEvent error =
          CallbackEvent.decode(new LeBuilder().i32(1).i32(2).i32(5).i32(4).i32(5).i64(0).bytes(), 0);
      assertEquals(CallbackEvent.Kind.MAIN, error.kind());
      assertEquals(5, error.errorCode());
      assertFalse(error.cube().isPresent());

      CallbackEvent lost = CallbackEvent.decode(null, 3);
      assertTrue(lost.isLost());
      assertEquals(CallbackEvent.Kind.CNQ, lost.kind());
      assertEquals(NativeAPI.CODE_NO_MEMORY, lost.errorCode());
      assertFalse(lost.rawMessage().isPresent());
    }

    @Test
    void aMessageThatCannotBeDecodedIsALostEventWithItsBytes() {
      byte[][] corrupt = {
        new LeBuilder().i32(7).i32(1).i32(0).i32(4).i32(5).i64(40).texts("A").texts("B")
            .texts("C").i32(1).fixed(6, 4, 7).bytes(), // the length says one byte more
        new LeBuilder().i32(7).i32(1).i32(0).i32(4).i32(5).i64(14).texts("A").texts("B")
            .i32(-1).bytes(), // a negative list count
        new LeBuilder().i32(7).i32(1).i32(0).bytes(), // cut inside the header
      };
      for (byte[] message : corrupt) {
        CallbackEvent event = CallbackEvent.decode(message, 1);
        assertTrue(event.isLost(), Arrays.toString(message));
        assertEquals(NativeAPI.CODE_UNDECODABLE, event.errorCode());
        assertEquals(7, event.requestNumber(), "the words the header still holds");
        assertEquals(CallbackEvent.Kind.CSQ, event.kind());
        assertFalse(event.hasCube());
        assertArrayEquals(message, event.rawMessage().get());
        assertTrue(event.decodeFailure().isPresent());
      }
    }

    @Test
    void kindNumbersMapToKinds() {
      assertEquals(CallbackEvent.Kind.MAIN, CallbackEvent.Kind.of(0));
      assertEquals(CallbackEvent.Kind.CST, CallbackEvent.Kind.of(2));
      for (int number : new int[] {-1, 4, 100}) {
        CallbackEvent event =
            CallbackEvent.decode(new LeBuilder().i32(0).i32(0).i32(0).i32(0).i32(0).i64(0).bytes(),
                number);
        assertEquals(CallbackEvent.Kind.UNKNOWN, event.kind());
        assertEquals(number, event.kindNumber());
      }
    }
  }

  @Nested
  class LogLines {
    @Test
    void bridgeLinesGiveTagTimeAndMessage() {
      LogLine debug = LogLine.parse(
          "[Vx_Debug][2024-06-28 09:05:07]:JNI_OnLoad startup ...\n".getBytes(
              StandardCharsets.UTF_8));
      assertEquals(LogLine.Tag.DEBUG, debug.tag());
      assertTrue(debug.isFromBridge());
      assertEquals(LocalDateTime.of(2024, 6, 28, 9, 5, 7), debug.timestamp().get());
      assertEquals("JNI_OnLoad startup ...", debug.message());
      assertEquals("[Vx_Debug][2024-06-28 09:05:07]:JNI_OnLoad startup ...\n", debug.text());
      assertEquals("[Vx_Debug][2024-06-28 09:05:07]:JNI_OnLoad startup ...", debug.toString());

      LogLine error = LogLine.parse("[Vx_Error][2024-01-02 23:59:59]:json parse error : [{\n}\n");
      assertEquals(LogLine.Tag.ERROR, error.tag());
      assertEquals("json parse error : [{\n}", error.message(), "the text spans lines");
    }

    @Test
    void serviceLinesHaveNoTagAndNoTime() {
      String[] lines = {
        "svc \u4e2d\u6587 100% %s %d",
        "[Vx_Info][2024-06-28 09:05:07]:not a tag of the bridge\n",
        "[Vx_Debug][2024-06-28]:no time\n",
        "[Vx_Debug]x[2024-06-28 09:05:07]:\n",
        "",
      };
      for (String text : lines) {
        LogLine line = LogLine.parse(text);
        assertEquals(LogLine.Tag.OTHER, line.tag(), text);
        assertFalse(line.timestamp().isPresent(), text);
        assertEquals(text.endsWith("\n") ? text.substring(0, text.length() - 1) : text,
            line.message());
        assertEquals(text, line.text());
      }
    }

    @Test
    void aStampThatIsNoTimeKeepsTheTagButNotTheTime() {
      LogLine line = LogLine.parse("[Vx_Debug][2024-13-45 25:61:61]:odd clock\n");
      assertEquals(LogLine.Tag.DEBUG, line.tag());
      assertFalse(line.timestamp().isPresent());
      assertEquals("odd clock", line.message());
    }

    @Test
    void bytesThatAreNotUtf8BecomeReplacementCharacters() {
      LogLine line = LogLine.parse(new byte[] {'a', (byte) 0xD6, (byte) 0xD0, 'b'});
      assertEquals("a\ufffd\ufffdb", line.message());
      assertEquals("", LogLine.parse((byte[]) null).text());
    }
  }

  @Nested
  class Orders {
    @Test
    void ordersBecomeAJsonArrayWithoutTheirZeroMembers() {
      List<Order> orders = Arrays.asList(
          Order.buy("600519.SH", 200).withPrice(1460.0).withDate(20240628).withTime(93000)
              .withCost(5).withRate(0.0003).withReserve(9),
          Order.sell("000001.SZ", 1.5e10),
          Order.of("a\"b\\c\u0001\u4e2d", 0, 7));
      assertEquals("[{\"code\":\"600519.SH\",\"volume\":200,\"price\":1460,\"date\":20240628,"
              + "\"time\":93000,\"optype\":1,\"cost\":5,\"rate\":0.0003,\"reserve\":9},"
              + "{\"code\":\"000001.SZ\",\"volume\":15000000000,\"optype\":2},"
              + "{\"code\":\"a\\\"b\\\\c\\u0001\u4e2d\",\"volume\":0,\"optype\":7}]",
          Order.toJson(orders));
      assertEquals(Order.BUY, orders.get(0).optype());
      assertEquals(1460.0, orders.get(0).price());
    }

    @Test
    void ordersAreEqualByEveryMember() {
      Order order = Order.buy("600519.SH", 200).withPrice(1460.0).withDate(20240628);
      assertEquals(order, Order.buy("600519.SH", 200).withPrice(1460.0).withDate(20240628));
      assertEquals(order.hashCode(),
          Order.buy("600519.SH", 200).withPrice(1460.0).withDate(20240628).hashCode());
      assertNotEquals(order, order.withTime(93000));
      assertNotEquals(order, order.withPrice(1460.5));
      assertNotEquals(order, Order.sell("600519.SH", 200).withPrice(1460.0).withDate(20240628));
      assertEquals(LogLine.parse("x\n"), LogLine.parse("x\n".getBytes(StandardCharsets.UTF_8)));
    }

    @Test
    void numbersThatJsonCannotHoldAreRefused() {
      assertThrows(IllegalArgumentException.class, () -> Order.buy("A", Double.NaN));
      assertThrows(IllegalArgumentException.class,
          () -> Order.buy("A", 1).withPrice(Double.POSITIVE_INFINITY));
      assertThrows(NullPointerException.class, () -> Order.buy(null, 1));
    }
  }
}
