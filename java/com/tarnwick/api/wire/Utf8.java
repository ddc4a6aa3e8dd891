package com.tarnwick.api.wire;

import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;

/** Strict UTF-8 decoding: malformed input is a layout error, not a replacement character. */
final class Utf8 {
  private Utf8() {}

  static String decode(byte[] bytes, int offset, int length) {
    try {
      return StandardCharsets.UTF_8.newDecoder()
          .onMalformedInput(CodingErrorAction.REPORT)
          .onUnmappableCharacter(CodingErrorAction.REPORT)
          .decode(ByteBuffer.wrap(bytes, offset, length))
          .toString();
    } catch (CharacterCodingException e) {
      throw new WireFormatException("text is not valid UTF-8: " + e.getMessage());
    }
  }
}
