package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.tarnwick.api.wire.Bytes;
import com.tarnwick.api.wire.CallbackMessage;
import com.tarnwick.api.wire.CountReply;
import com.tarnwick.api.wire.Cube;
import com.tarnwick.api.wire.Grid;
import com.tarnwick.api.wire.ResultBuffer;
import com.tarnwick.api.wire.SubscriptionReply;
import com.tarnwick.api.wire.Value;
import com.tarnwick.api.wire.WireFormatException;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Nested;
import org.junit.jupiter.api.Test;

/** The Java decoders against hand-built byte layouts; no native code involved. */
class WireDecoderTest {
  /** Hex bytes, blanks ignored: "01 00 ff". */
  static byte[] hex(String text) {
    String digits = text.replace(" ", "");
    byte[] out = new byte[digits.length() / 2];
    for (int i = 0; i < out.length; i++) {
      out[i] = (byte) Integer.parseInt(digits.substring(2 * i, 2 * i + 2), 16);
    }
    return out;
  }

  static byte[] resultBuffer(int code, byte[] payload) {
    return new LeBuilder().i32(code).i32(0).i64(payload.length).raw(payload).bytes();
  }

  // The worked example: lists "A", "B", "C" and one value of type 6 holding 7.
  static final byte[] EXAMPLE_PAYLOAD = hex("01000000 02000000 41 00"
      + " 01000000 02000000 42 00"
      + " 01000000 02000000 43 00"
      + " 01000000 06 07000000");

  @Nested
  class Results {
    @Test
    void workedExampleDecodes() {
      byte[] array =
          new LeBuilder().raw(hex("00000000 00000000 2700000000000000")).raw(EXAMPLE_PAYLOAD).bytes();
      assertEquals(55, array.length);

      ResultBuffer result = ResultBuffer.decode(array);
      assertEquals(0, result.code());
      assertEquals(39, result.payloadLength());
      Cube cube = result.cube();
      assertEquals(Arrays.asList("A"), cube.first());
      assertEquals(Arrays.asList("B"), cube.second());
      assertEquals(Arrays.asList("C"), cube.third());
      assertEquals(1, cube.valueCount());
      assertEquals(Value.of(6, hex("07000000")), cube.values().get(0));
      assertEquals(7L, cube.values().get(0).longValue());
    }

    @Test
    void emptyListsGiveASixteenBytePayload() {
      byte[] array = resultBuffer(0, new LeBuilder().i32(0).i32(0).i32(0).i32(0).bytes());
      assertEquals(32, array.length);
      Cube cube = ResultBuffer.decode(array).cube();
      assertEquals(0, cube.valueCount());
      assertEquals(0, cube.values().size());
    }

    @Test
    void oneEmptyListMeansNoValues() {
      byte[] payload = new LeBuilder().texts("x", "y").texts().texts("z").i32(0).bytes();
      Cube cube = Cube.decode(payload);
      assertEquals(Arrays.asList("x", "y"), cube.first());
      assertEquals(0, cube.values().size());
    }

    @Test
    void failureHeaderHasNoPayload() {
      ResultBuffer result = ResultBuffer.decode(hex("87969800 00000000 0000000000000000"));
      assertEquals(10000007, result.code());
      assertEquals(0, result.payloadLength());
      assertThrows(IllegalStateException.class, result::cube);
    }

    @Test
    void utf8TextsAreDecodedByTheirByteLength() {
      // "é" is 2 bytes and "中" 3: the length fields count UTF-8 bytes plus the NUL.
      byte[] payload = new LeBuilder()
                           .raw(hex("01000000 03000000 c3a9 00"))
                           .raw(hex("01000000 04000000 e4b8ad 00"))
                           .texts()
                           .i32(0)
                           .bytes();
      Cube cube = Cube.decode(payload);
      assertEquals(Arrays.asList("\u00e9"), cube.first());
      assertEquals(Arrays.asList("\u4e2d"), cube.second());
    }

    @Test
    void gridDecodes() {
      byte[] payload = new LeBuilder().i32(2).i32(1).texts("h").i32(2).i8(8).i64(-2L).i8(15).bytes();
      Grid grid = ResultBuffer.decode(resultBuffer(0, payload)).grid();
      assertEquals(2, grid.d1());
      assertEquals(1, grid.d2());
      assertEquals(Arrays.asList("h"), grid.texts());
      assertEquals(-2L, grid.values().get(0).longValue());
      assertEquals(15, grid.values().get(1).tag());
    }

    @Test
    void malformedBuffersAreRefused() {
      byte[] good = resultBuffer(0, EXAMPLE_PAYLOAD);
      // Too short for a header.
      assertThrows(WireFormatException.class, () -> ResultBuffer.decode(new byte[15]));
      // Length field one more than the payload.
      byte[] longer = good.clone();
      longer[8]++;
      assertThrows(WireFormatException.class, () -> ResultBuffer.decode(longer));
      // Reserved word not zero.
      byte[] reserved = good.clone();
      reserved[5] = 1;
      assertThrows(WireFormatException.class, () -> ResultBuffer.decode(reserved));
      // A failure code with a payload.
      assertThrows(
          WireFormatException.class, () -> ResultBuffer.decode(resultBuffer(5, hex("00"))));
      // Trailing byte after the cube.
      byte[] trailing = new LeBuilder().raw(EXAMPLE_PAYLOAD).i8(0).bytes();
      assertThrows(
          WireFormatException.class, () -> ResultBuffer.decode(resultBuffer(0, trailing)).cube());
      // Value count not the product of the list lengths.
      byte[] wrongCount = EXAMPLE_PAYLOAD.clone();
      wrongCount[30] = 2;
      assertThrows(WireFormatException.class, () -> Cube.decode(wrongCount));
      // Text without its NUL, and text that is not UTF-8.
      assertThrows(WireFormatException.class,
          () -> Cube.decode(hex("01000000 01000000 41 00000000 00000000 00000000")));
      assertThrows(WireFormatException.class,
          () -> Cube.decode(hex("01000000 02000000 ff 00 00000000 00000000 00000000")));
      // A value cut short.
      assertThrows(WireFormatException.class,
          () -> Cube.decode(Arrays.copyOf(EXAMPLE_PAYLOAD, EXAMPLE_PAYLOAD.length - 1)));
    }
  }

  @Nested
  class Values {
    Value only(byte[] encoded) {
      Bytes in = new Bytes(encoded);
      Value value = Value.read(in);
      in.expectEnd();
      assertEquals(encoded.length, value.encodedSize());
      return value;
    }

    @Test
    void fixedWidthsFollowTheTag() {
      assertEquals(-1L, only(hex("01 ff")).longValue());
      assertEquals(0x7fL, only(hex("03 7f")).longValue());
      assertEquals(-2L, only(hex("04 feff")).longValue());
      assertEquals(0x1234L, only(hex("05 3412")).longValue());
      assertEquals(1.5f, only(hex("0a 0000c03f")).floatValue());
      assertEquals(-1L, only(hex("07 ffffffff")).longValue());
      assertEquals(0x0102030405060708L, only(hex("09 0807060504030201")).longValue());
      assertEquals(2.0, only(hex("0b 0000000000000040")).doubleValue());
    }

    @Test
    void textFromTypeThirteenArrivesAsTagFourteen() {
      Value value = only(hex("0e 04000000 616263 00"));
      assertEquals(9, value.encodedSize());
      assertEquals("abc", value.text());
    }

    @Test
    void countedBytesMayBeEmpty() {
      Value value = only(hex("0e 00000000"));
      assertEquals(0, value.body().length);
      assertThrows(WireFormatException.class, value::text);
      assertArrayEquals(hex("0001ff"), only(hex("0c 03000000 0001ff")).body());
    }

    @Test
    void outOfRangeTagsStandAlone() {
      for (int tag : new int[] {0, 13, 15, 0xff}) {
        assertEquals(tag, only(new byte[] {(byte) tag}).tag());
      }
    }

    @Test
    void negativeLengthIsRefused() {
      assertThrows(WireFormatException.class, () -> Value.read(new Bytes(hex("0c ffffffff"))));
    }
  }

  @Nested
  class Replies {
    @Test
    void countReply() {
      CountReply reply = CountReply.decode(hex("00000000 fa000000"));
      assertEquals(0, reply.code());
      assertEquals(250, reply.count());
      assertThrows(WireFormatException.class, () -> CountReply.decode(new byte[16]));
    }

    @Test
    void subscriptionReply() {
      SubscriptionReply reply = SubscriptionReply.decode(hex("07000000 00000000 0000000000000000"));
      assertEquals(7, reply.requestNumber());
      assertEquals(0, reply.code());
      SubscriptionReply failed =
          SubscriptionReply.decode(hex("00000000 9cffffff 0000000000000000"));
      assertEquals(-100, failed.code());
      assertThrows(WireFormatException.class,
          () -> SubscriptionReply.decode(hex("07000000 00000000 0100000000000000")));
    }

    @Test
    void callbackMessageWorkedExamples() {
      byte[] withData = new LeBuilder()
                            .raw(hex("01000000 02000000 00000000 04000000 05000000"))
                            .i64(39)
                            .raw(EXAMPLE_PAYLOAD)
                            .bytes();
      assertEquals(67, withData.length);
      CallbackMessage message = CallbackMessage.decode(withData);
      assertEquals(1, message.word1());
      assertEquals(2, message.word2());
      assertEquals(0, message.errorCode());
      assertEquals(4, message.word4());
      assertEquals(5, message.word5());
      assertEquals(39, message.payloadLength());
      List<String> third = message.cube().third();
      assertEquals(Arrays.asList("C"), third);

      CallbackMessage error = CallbackMessage.decode(
          hex("01000000 02000000 05000000 04000000 05000000 0000000000000000"));
      assertEquals(5, error.errorCode());
      assertNull(error.cube());

      // An error code with data, and a length that disagrees with the array, are refused.
      byte[] errorWithData = withData.clone();
      errorWithData[8] = 5;
      assertThrows(WireFormatException.class, () -> CallbackMessage.decode(errorWithData));
      assertThrows(
          WireFormatException.class, () -> CallbackMessage.decode(Arrays.copyOf(withData, 66)));
    }
  }
}
