package com.tarnwick.api.wire;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/** The pieces shared by the cube and grid payloads. */
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
    List<String> texts = new ArrayList<String>(count);
    for (int i = 0; i < count; i++) {
      int entryAt = in.position();
      int length = in.readInt32();
      if (length < 1) {
        throw new WireFormatException("text length " + length + " at offset " + entryAt);
      }
      byte[] bytes = in.readBytes(length);
      if (bytes[length - 1] != 0) {
        throw new WireFormatException("text at offset " + entryAt + " does not end in NUL");
      }
      texts.add(Utf8.decode(bytes, 0, length - 1));
    }
    return Collections.unmodifiableList(texts);
  }

  /** {@code count} values; none when the count is not positive. */
  static List<Value> readValues(Bytes in, int count) {
    if (count <= 0) {
      return Collections.emptyList();
    }
    if (count > in.remaining()) {
      throw new WireFormatException("value count " + count + " exceeds the payload");
    }
    List<Value> values = new ArrayList<Value>(count);
    for (int i = 0; i < count; i++) {
      values.add(Value.read(in));
    }
    return Collections.unmodifiableList(values);
  }
}
