package com.tarnwick.tests;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;

/** Builds expected little-endian byte layouts field by field. */
public final class LeBuilder {
  private final ByteArrayOutputStream out = new ByteArrayOutputStream();

  public LeBuilder i8(int v) {
    out.write(v);
    return this;
  }

  public LeBuilder i32(int v) {
    for (int i = 0; i < 4; i++) {
      out.write(v >>> (8 * i));
    }
    return this;
  }

  public LeBuilder i64(long v) {
    for (int i = 0; i < 8; i++) {
      out.write((int) (v >>> (8 * i)));
    }
    return this;
  }

  public LeBuilder raw(byte[] bytes) {
    out.write(bytes, 0, bytes.length);
    return this;
  }

  /** A text as it is encoded: length + 1, the UTF-8 bytes and a NUL. */
  public LeBuilder text(String text) {
    byte[] utf8 = text.getBytes(StandardCharsets.UTF_8);
    return i32(utf8.length + 1).raw(utf8).i8(0);
  }

  /** A text list: the count, then each text as {@link #text}. */
  public LeBuilder texts(String... texts) {
    i32(texts.length);
    for (String text : texts) {
      text(text);
    }
    return this;
  }

  /** A fixed-width value: the tag and the low {@code width} bytes of {@code bits}. */
  public LeBuilder fixed(int tag, int width, long bits) {
    i8(tag);
    for (int i = 0; i < width; i++) {
      out.write((int) (bits >>> (8 * i)));
    }
    return this;
  }

  /** A counted value: the tag, the byte count and the bytes. */
  public LeBuilder counted(int tag, byte[] body) {
    return i8(tag).i32(body.length).raw(body);
  }

  public byte[] bytes() { return out.toByteArray(); }

  /** The 4 little-endian bytes of an int. */
  public static byte[] le32(int v) { return new LeBuilder().i32(v).bytes(); }

  /** The 8 little-endian bytes of a long. */
  public static byte[] le64(long v) { return new LeBuilder().i64(v).bytes(); }

  /** The UTF-8 bytes of a text followed by one NUL, as text values arrive. */
  public static byte[] utf8z(String text) {
    return new LeBuilder().raw(text.getBytes(StandardCharsets.UTF_8)).i8(0).bytes();
  }

  /** A Result buffer header: code, 4 reserved zero bytes, the 64-bit payload length. */
  public static byte[] resultHeader(int code, long payloadLength) {
    return new LeBuilder().i32(code).i32(0).i64(payloadLength).bytes();
  }
}
