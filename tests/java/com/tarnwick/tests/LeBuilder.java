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
