package com.tarnwick.tests;

/** Hex text to bytes and back, for expected byte layouts and for the sim's call log. */
public final class Hex {
  private static final char[] DIGITS = "0123456789ABCDEF".toCharArray();

  private Hex() {}

  /** Bytes from hex digits; blanks are ignored: "01 00 ff". */
  public static byte[] bytes(String text) {
    String digits = text.replace(" ", "");
    if (digits.length() % 2 != 0) {
      throw new IllegalArgumentException("odd number of hex digits: " + text);
    }
    byte[] out = new byte[digits.length() / 2];
    for (int i = 0; i < out.length; i++) {
      out[i] = (byte) Integer.parseInt(digits.substring(2 * i, 2 * i + 2), 16);
    }
    return out;
  }

  /** Upper-case hex digits without separators, as the sim's call log writes them. */
  public static String of(byte[] bytes) {
    if (bytes == null) {
      return "null";
    }
    StringBuilder text = new StringBuilder(bytes.length * 2);
    for (byte b : bytes) {
      text.append(DIGITS[(b >> 4) & 0xF]).append(DIGITS[b & 0xF]);
    }
    return text.toString();
  }
}
