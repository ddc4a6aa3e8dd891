package com.tarnwick.api;

import com.tarnwick.api.wire.Value;
import java.math.BigInteger;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;

/**
 * One typed value of a query result or a callback message, immutable.
 *
 * <p>On the wire a value is a tag byte and a body (see {@link Value}). The tag names the service's
 * value type; this class reads the body as that type:
 *
 * <table>
 *   <caption>Value types</caption>
 *   <tr><th>Tag</th><th>{@link Type}</th><th>Body</th><th>{@link #asObject()}</th></tr>
 *   <tr><td>1</td><td>BOOLEAN</td><td>1 byte, non-zero is true</td><td>Boolean</td></tr>
 *   <tr><td>2</td><td>INT8</td><td>1 byte, signed</td><td>Byte</td></tr>
 *   <tr><td>3</td><td>UINT8</td><td>1 byte, unsigned</td><td>Short</td></tr>
 *   <tr><td>4</td><td>INT16</td><td>2 bytes, signed</td><td>Short</td></tr>
 *   <tr><td>5</td><td>UINT16</td><td>2 bytes, unsigned</td><td>Integer</td></tr>
 *   <tr><td>6</td><td>INT32</td><td>4 bytes, signed</td><td>Integer</td></tr>
 *   <tr><td>7</td><td>UINT32</td><td>4 bytes, unsigned</td><td>Long</td></tr>
 *   <tr><td>8</td><td>INT64</td><td>8 bytes, signed</td><td>Long</td></tr>
 *   <tr><td>9</td><td>UINT64</td><td>8 bytes, unsigned</td><td>BigInteger</td></tr>
 *   <tr><td>10</td><td>FLOAT</td><td>4 bytes, IEEE single</td><td>Float</td></tr>
 *   <tr><td>11</td><td>DOUBLE</td><td>8 bytes, IEEE double</td><td>Double</td></tr>
 *   <tr><td>12</td><td>BYTES</td><td>length and bytes</td><td>byte[]</td></tr>
 *   <tr><td>14</td><td>TEXT</td><td>length, UTF-8 bytes and a NUL</td><td>String</td></tr>
 *   <tr><td>14</td><td>BYTES</td><td>length and bytes that are not NUL-terminated UTF-8</td>
 *       <td>byte[]</td></tr>
 *   <tr><td>any other</td><td>EMPTY</td><td>none</td><td>null</td></tr>
 * </table>
 *
 * <p>The service's texts (its type 13) travel as tag 14, converted to UTF-8 by the bridge. Multi-
 * byte numbers are little-endian.
 */
public final class DataValue {
  /** The type of a value, by its tag. */
  public enum Type {
    /** A tag without body: no value. */
    EMPTY,
    /** Tag 1: a boolean in one byte. */
    BOOLEAN,
    /** Tag 2: a signed byte. */
    INT8,
    /** Tag 3: an unsigned byte. */
    UINT8,
    /** Tag 4: a signed 16-bit integer. */
    INT16,
    /** Tag 5: an unsigned 16-bit integer. */
    UINT16,
    /** Tag 6: a signed 32-bit integer. */
    INT32,
    /** Tag 7: an unsigned 32-bit integer. */
    UINT32,
    /** Tag 8: a signed 64-bit integer. */
    INT64,
    /** Tag 9: an unsigned 64-bit integer. */
    UINT64,
    /** Tag 10: an IEEE single. */
    FLOAT,
    /** Tag 11: an IEEE double. */
    DOUBLE,
    /** Tag 12, or tag 14 holding anything but NUL-terminated UTF-8: raw bytes. */
    BYTES,
    /** Tag 14 holding UTF-8 text and a NUL. */
    TEXT;

    /**
     * Whether values of this type are numbers ({@link DataValue#asDouble()} reads them).
     *
     * @return true for the integer and floating-point types
     */
    public boolean isNumeric() {
      return compareTo(INT8) >= 0 && compareTo(DOUBLE) <= 0;
    }

    /**
     * Whether values of this type are integers ({@link DataValue#asLong()} reads them).
     *
     * @return true for INT8 to UINT64
     */
    public boolean isInteger() {
      return compareTo(INT8) >= 0 && compareTo(UINT64) <= 0;
    }
  }

  private static final Type[] BY_TAG = {
    Type.EMPTY, Type.BOOLEAN, Type.INT8, Type.UINT8, Type.INT16, Type.UINT16, Type.INT32,
    Type.UINT32, Type.INT64, Type.UINT64, Type.FLOAT, Type.DOUBLE, Type.BYTES
  };

  private final Type type;
  private final int tag;
  private final byte[] body;
  private final String text;

  private DataValue(Type type, int tag, byte[] body, String text) {
    this.type = type;
    this.tag = tag;
    this.body = body;
    this.text = text;
  }

  /**
   * The typed form of a decoded wire value.
   *
   * @param value the wire value
   * @return the typed value
   */
  public static DataValue of(Value value) {
    int tag = value.tag();
    byte[] body = value.body();
    if (tag == 14) {
      String text = textOf(body);
      return new DataValue(text != null ? Type.TEXT : Type.BYTES, tag, body, text);
    }
    if (tag < BY_TAG.length) {
      return new DataValue(BY_TAG[tag], tag, body, null);
    }
    return new DataValue(Type.EMPTY, tag, body, null);
  }

  /** The text of a NUL-terminated UTF-8 body, or null. */
  private static String textOf(byte[] body) {
    if (body.length == 0 || body[body.length - 1] != 0) {
      return null;
    }
    try {
      return StandardCharsets.UTF_8.newDecoder()
          .onMalformedInput(CodingErrorAction.REPORT)
          .onUnmappableCharacter(CodingErrorAction.REPORT)
          .decode(ByteBuffer.wrap(body, 0, body.length - 1))
          .toString();
    } catch (CharacterCodingException e) {
      return null;
    }
  }

  /**
   * The value's type.
   *
   * @return the type
   */
  public Type type() {
    return type;
  }

  /**
   * The tag as it arrived, 0 to 255.
   *
   * @return the tag
   */
  public int tag() {
    return tag;
  }

  /**
   * Whether the value is {@link Type#EMPTY}.
   *
   * @return true for a value without body
   */
  public boolean isEmpty() {
    return type == Type.EMPTY;
  }

  /**
   * A boolean value.
   *
   * @return true when the byte is not 0
   * @throws IllegalStateException unless the type is BOOLEAN
   */
  public boolean asBoolean() {
    require(type == Type.BOOLEAN, "a boolean");
    return body[0] != 0;
  }

  /**
   * An integer value; UINT64 values above {@link Long#MAX_VALUE} come out negative, with the same
   * 64 bits ({@link #asObject()} gives them as a BigInteger).
   *
   * @return the number
   * @throws IllegalStateException unless the type is an integer type
   */
  public long asLong() {
    require(type.isInteger(), "an integer");
    long bits = littleEndian();
    switch (type) {
      case INT8:
        return (byte) bits;
      case INT16:
        return (short) bits;
      case INT32:
        return (int) bits;
      default:
        return bits; // unsigned types are zero-extended; INT64 and UINT64 use all 64 bits
    }
  }

  /**
   * An integer value that fits an int.
   *
   * @return the number
   * @throws IllegalStateException unless the type is an integer type
   * @throws ArithmeticException if the number does not fit an int
   */
  public int asInt() {
    long number = asLong();
    if (type == Type.UINT64 && number < 0 || number != (int) number) {
      throw new ArithmeticException(this + " does not fit an int");
    }
    return (int) number;
  }

  /**
   * A numeric value as a double (UINT64 read as unsigned).
   *
   * @return the number
   * @throws IllegalStateException unless the type is numeric
   */
  public double asDouble() {
    require(type.isNumeric(), "a number");
    switch (type) {
      case FLOAT:
        return Float.intBitsToFloat((int) littleEndian());
      case DOUBLE:
        return Double.longBitsToDouble(littleEndian());
      case UINT64:
        return new BigInteger(Long.toUnsignedString(littleEndian())).doubleValue();
      default:
        return asLong();
    }
  }

  /**
   * A text value.
   *
   * @return the text without its NUL
   * @throws IllegalStateException unless the type is TEXT
   */
  public String asText() {
    require(type == Type.TEXT, "a text");
    return text;
  }

  /**
   * The bytes of a BYTES value, or the UTF-8 bytes of a TEXT value (without its NUL).
   *
   * @return a copy of the bytes
   * @throws IllegalStateException unless the type is BYTES or TEXT
   */
  public byte[] asBytes() {
    require(type == Type.BYTES || type == Type.TEXT, "bytes");
    return type == Type.TEXT ? Arrays.copyOf(body, body.length - 1) : body.clone();
  }

  /**
   * The value as a Java object of the class that the table above names: Boolean, Byte, Short,
   * Integer, Long, BigInteger, Float, Double, String or byte[]; null when empty.
   *
   * @return the object
   */
  public Object asObject() {
    long bits = littleEndian();
    switch (type) {
      case BOOLEAN:
        return asBoolean();
      case INT8:
        return (byte) bits;
      case UINT8:
      case INT16:
        return (short) (type == Type.UINT8 ? bits : (short) bits);
      case UINT16:
        return (int) bits;
      case INT32:
        return (int) bits;
      case UINT32:
      case INT64:
        return bits;
      case UINT64:
        return new BigInteger(Long.toUnsignedString(bits));
      case FLOAT:
        return Float.intBitsToFloat((int) bits);
      case DOUBLE:
        return Double.longBitsToDouble(bits);
      case TEXT:
        return text;
      case BYTES:
        return body.clone();
      default:
        return null;
    }
  }

  private long littleEndian() {
    long bits = 0;
    int width = type == Type.TEXT || type == Type.BYTES ? 0 : body.length;
    for (int i = width - 1; i >= 0; i--) {
      bits = (bits << 8) | (body[i] & 0xFF);
    }
    return bits;
  }

  private void require(boolean condition, String what) {
    if (!condition) {
      throw new IllegalStateException(type + " value (tag " + tag + ") is not " + what);
    }
  }

  /**
   * A readable form: the number, the text, "true"/"false", the bytes in hex, or "" when empty.
   *
   * @return the text
   */
  @Override
  public String toString() {
    switch (type) {
      case EMPTY:
        return "";
      case TEXT:
        return text;
      case BYTES:
        StringBuilder hex = new StringBuilder(body.length * 2);
        for (byte b : body) {
          hex.append(Character.forDigit((b >> 4) & 0xF, 16)).append(Character.forDigit(b & 0xF, 16));
        }
        return hex.toString();
      default:
        return String.valueOf(asObject());
    }
  }

  @Override
  public boolean equals(Object other) {
    if (!(other instanceof DataValue)) {
      return false;
    }
    DataValue that = (DataValue) other;
    return tag == that.tag && Arrays.equals(body, that.body);
  }

  @Override
  public int hashCode() {
    return 31 * tag + Arrays.hashCode(body);
  }
}
