package com.tarnwick.api.wire;

import java.util.Arrays;

/**
 * One encoded value of a result payload: a tag byte and the bytes that follow it.
 *
 * <p>Tags 1 to 3 carry 1 byte, 4 and 5 carry 2, 6, 7 and 10 carry 4, 8, 9 and 11 carry 8; tags 12
 * and 14 carry a signed 32-bit length and that many bytes (a text of the service arrives as tag
 * 14 holding its UTF-8 bytes and a NUL); every other tag stands alone with no body.
 */
public final class Value {
  private final int tag;
  private final byte[] body;

  private Value(int tag, byte[] body) {
    this.tag = tag;
    this.body = body;
  }

  /**
   * Makes a value from its tag and body, as {@link #read(Bytes)} would decode it.
   *
   * @param tag the tag, 0 to 255
   * @param body the body (for tags 12 and 14 without the length field); copied
   * @return the value
   */
  public static Value of(int tag, byte[] body) {
    if (tag < 0 || tag > 255) {
      throw new IllegalArgumentException("tag " + tag);
    }
    int width = fixedWidth(tag);
    if (width >= 0 && body.length != width) {
      throw new IllegalArgumentException("tag " + tag + " needs " + width + " bytes");
    }
    return new Value(tag, body.clone());
  }

  /**
   * The body width of a fixed-width tag.
   *
   * @param tag the tag
   * @return 1, 2, 4 or 8; 0 for a tag without body; -1 for the counted tags 12 and 14
   */
  public static int fixedWidth(int tag) {
    switch (tag) {
      case 1:
      case 2:
      case 3:
        return 1;
      case 4:
      case 5:
        return 2;
      case 6:
      case 7:
      case 10:
        return 4;
      case 8:
      case 9:
      case 11:
        return 8;
      case 12:
      case 14:
        return -1;
      default:
        return 0;
    }
  }

  /**
   * Reads one value at the reader's position.
   *
   * @param in the reader
   * @return the value
   * @throws WireFormatException on a truncated value or a negative length
   */
  public static Value read(Bytes in) {
    int tag = in.readUnsignedByte();
    int width = fixedWidth(tag);
    if (width >= 0) {
      return new Value(tag, in.readBytes(width));
    }
    int at = in.position();
    int length = in.readInt32();
    if (length < 0) {
      throw new WireFormatException("negative value length " + length + " at offset " + at);
    }
    return new Value(tag, in.readBytes(length));
  }

  /**
   * The tag byte, 0 to 255.
   *
   * @return the tag
   */
  public int tag() {
    return tag;
  }

  /**
   * The body: the fixed-width bytes, or for tags 12 and 14 the bytes after the length field.
   *
   * @return a copy of the body
   */
  public byte[] body() {
    return body.clone();
  }

  /**
   * The encoded size: tag, length field if any, and body.
   *
   * @return the number of bytes the value occupies in a payload
   */
  public int encodedSize() {
    return 1 + (fixedWidth(tag) < 0 ? 4 : 0) + body.length;
  }

  /**
   * The fixed-width body as a little-endian number, sign-extended from its width.
   *
   * @return the number
   * @throws IllegalStateException for a tag without a fixed-width body
   */
  public long longValue() {
    int width = fixedWidth(tag);
    if (width <= 0) {
      throw new IllegalStateException("tag " + tag + " has no fixed-width body");
    }
    long result = 0;
    for (int i = width - 1; i >= 0; i--) {
      result = (result << 8) | (body[i] & 0xFF);
    }
    int shift = 64 - 8 * width;
    return (result << shift) >> shift;
  }

  /**
   * A 4-byte body read as an IEEE single.
   *
   * @return the number
   * @throws IllegalStateException unless the body is 4 bytes wide
   */
  public float floatValue() {
    if (fixedWidth(tag) != 4) {
      throw new IllegalStateException("tag " + tag + " is not 4 bytes wide");
    }
    return Float.intBitsToFloat((int) longValue());
  }

  /**
   * An 8-byte body read as an IEEE double.
   *
   * @return the number
   * @throws IllegalStateException unless the body is 8 bytes wide
   */
  public double doubleValue() {
    if (fixedWidth(tag) != 8) {
      throw new IllegalStateException("tag " + tag + " is not 8 bytes wide");
    }
    return Double.longBitsToDouble(longValue());
  }

  /**
   * The body of a tag 14 value holding text: UTF-8 bytes followed by one NUL.
   *
   * @return the text without its NUL
   * @throws IllegalStateException unless the tag is 14
   * @throws WireFormatException if the NUL is missing or the bytes are not UTF-8
   */
  public String text() {
    if (tag != 14) {
      throw new IllegalStateException("tag " + tag + " holds no text");
    }
    if (body.length == 0 || body[body.length - 1] != 0) {
      throw new WireFormatException("text value without terminating NUL");
    }
    return Utf8.decode(body, 0, body.length - 1);
  }

  @Override
  public boolean equals(Object other) {
    if (!(other instanceof Value)) {
      return false;
    }
    Value that = (Value) other;
    return tag == that.tag && Arrays.equals(body, that.body);
  }

  @Override
  public int hashCode() {
    return 31 * tag + Arrays.hashCode(body);
  }

  @Override
  public String toString() {
    StringBuilder text = new StringBuilder("Value[tag=").append(tag).append(", body=");
    for (byte b : body) {
      text.append(String.format("%02x", b & 0xFF));
    }
    return text.append(']').toString();
  }
}
