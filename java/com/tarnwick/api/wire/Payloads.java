package com.tarnwick.api.wire;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/** The text lists shared by the cube and grid payloads. */
final class Payloads {
  private Payloads() {}

  /** A text list: int32 count, then per entry int32 L and L bytes of UTF-8 ending in NUL. */
  static List<String> readTextList(Bytes in) {
    int at = in.position();
    int count = in.readInt32();
    if (count < 0) {
      throw new WireFormatException("negative text count " + count + " at offset " + at);
    }
    // Each entry takes at least 5 bytes: a bogus count fails here, before any allocation.
    if (count > in.remaining() / 5) {
      throw new WireFormatException("text count " + count + " at offset " + at + " too large");
    }
    if (count == 0) {
      return Collections.emptyList();
    }
    byte[] array = in.array();
    List<String> texts = new ArrayList<String>(count);
    for (int i = 0; i < count; i++) {
      int entryAt = in.position();
      int length = in.readInt32();
      if (length < 1) {
        throw new WireFormatException("text length " + length + " at offset " + entryAt);
      }
      if (length > in.remaining()) {
        throw new WireFormatException("text of " + length + " bytes at offset " + entryAt + ", "
            + in.remaining() + " left");
      }
      int body = in.position();
      if (array[body + length - 1] != 0) {
        throw new WireFormatException("text at offset " + entryAt + " does not end in NUL");
      }
      texts.add(Utf8.decode(array, body, length - 1));
      in.moveTo(body + length);
    }
    return Collections.unmodifiableList(texts);
  }
}
