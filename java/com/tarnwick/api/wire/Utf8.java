package com.tarnwick.api.wire;

import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;

/** Strict UTF-8 decoding: malformed input is a layout error, not a replacement character. */
final class Utf8 {
  private Utf8() {}

  static String decode(byte[] bytes, int offset, int length) {
    String text = decodeOrNull(bytes, offset, length);
    if (text == null) {
      throw new WireFormatException("text of " + length + " bytes at offset " + offset
          + " is not valid UTF-8");
    }
    return text;
  }

  /**
   * The text of well-formed UTF-8, or null. The platform's own decoder runs first (it has a fast
   * path for ASCII); it puts U+FFFD for every malformed sequence, so only a text that holds
   * U+FFFD needs the strict decoder to tell a real U+FFFD from a replaced sequence.
   */
  static String decodeOrNull(byte[] bytes, int offset, int length) {
    String text = new String(bytes, offset, length, StandardCharsets.UTF_8);
    if (text.indexOf('\ufffd') < 0) {
      return text;
    }
    try {
      return StandardCharsets.UTF_8.newDecoder()
          .onMalformedInput(CodingErrorAction.REPORT)
          .onUnmappableCharacter(CodingErrorAction.REPORT)
          .decode(ByteBuffer.wrap(bytes, offset, length))
          .toString();
    } catch (CharacterCodingException e) {
      return null;
    }
  }
}
