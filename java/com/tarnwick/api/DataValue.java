package com.tarnwick.api;

import com.tarnwick.api.wire.Value;
import com.tarnwick.api.wire.ValueIndex;
import java.math.BigInteger;
import java.time.DateTimeException;
import java.time.LocalDate;
import java.util.AbstractList;
import java.util.List;
import java.util.OptionalDouble;
import java.util.OptionalLong;

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
 *
 * <p>A value is a view of its bytes in the array the bridge returned ({@link DataCube} and
 * {@link DataGrid} make one only when asked for it; their {@code doubleAt}/{@code longAt} reads
 * need none). A missing value arrives as a tag without body: {@link Type#EMPTY}. The reads that
 * take a default ({@link #asDouble(double)}, {@link #asLong(long)}) or answer an optional
 * ({@link #optionalDouble()}, {@link #optionalLong()}) give it for an EMPTY value instead of
 * throwing. Values are equal when their tags and bytes are.
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

  private final ValueIndex values;
  private final int index;
  private final Type type;
  private final String text;

  private DataValue(ValueIndex values, int index, Type type, String text) {
    this.values = values;
    this.index = index;
    this.type = type;
    this.text = text;
  }

  /**
   * The typed form of a decoded wire value.
   *
   * @param value the wire value
   * @return the typed value
   */
  public static DataValue of(Value value) {
    return at(ValueIndex.of(value), 0);
  }

  /** Every value of an index, each made as it is read. */
  static List<DataValue> listOf(final ValueIndex values) {
    return new AbstractList<DataValue>() {
      @Override
      public DataValue get(int i) {
        return at(values, i);
      }

      @Override
      public int size() {
        return values.size();
      }
    };
  }

  /** The value at position {@code i} of an index, read in place. */
  static DataValue at(ValueIndex values, int i) {
    int tag = values.tag(i);
    if (tag == 14) {
      String text = values.textOrNull(i);
      return new DataValue(values, i, text != null ? Type.TEXT : Type.BYTES, text);
    }
    return new DataValue(values, i, Values.typeOfTag(tag), null);
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
    return values.tag(index);
  }

  /**
   * Whether the value is {@link Type#EMPTY}: a missing value.
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
    return values.bits(index) != 0;
  }

  /**
   * An integer value; UINT64 values above {@link Long#MAX_VALUE} come out negative, with the same
   * 64 bits ({@link #asObject()} gives them as a BigInteger).
   *
   * @return the number
   * @throws IllegalStateException unless the type is an integer type
   */
  public long asLong() {
    return Values.asLong(values, index);
  }

  /**
   * An integer value, or {@code ifEmpty} for a missing one.
   *
   * @param ifEmpty the result for an EMPTY value
   * @return the number
   * @throws IllegalStateException if the value is neither EMPTY nor an integer
   */
  public long asLong(long ifEmpty) {
    return type == Type.EMPTY ? ifEmpty : asLong();
  }

  /**
   * An integer value, or nothing for a missing one.
   *
   * @return the number, or empty for an EMPTY value
   * @throws IllegalStateException if the value is neither EMPTY nor an integer
   */
  public OptionalLong optionalLong() {
    return type == Type.EMPTY ? OptionalLong.empty() : OptionalLong.of(asLong());
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
    return Values.asDouble(values, index);
  }

  /**
   * A numeric value as a double, or {@code ifEmpty} for a missing one.
   *
   * @param ifEmpty the result for an EMPTY value, for example {@code Double.NaN}
   * @return the number
   * @throws IllegalStateException if the value is neither EMPTY nor numeric
   */
  public double asDouble(double ifEmpty) {
    return type == Type.EMPTY ? ifEmpty : asDouble();
  }

  /**
   * A numeric value as a double, or nothing for a missing one.
   *
   * @return the number, or empty for an EMPTY value
   * @throws IllegalStateException if the value is neither EMPTY nor numeric
   */
  public OptionalDouble optionalDouble() {
    return type == Type.EMPTY ? OptionalDouble.empty() : OptionalDouble.of(asDouble());
  }

  /**
   * A date: an integer yyyymmdd (20240624) or a text "20240624" or "2024-06-24".
   *
   * @return the date
   * @throws IllegalStateException unless the value is an integer or a text
   * @throws DateTimeException if the number or text is no date
   */
  public LocalDate asLocalDate() {
    if (type.isInteger()) {
      return Dates.ofNumber(asLong());
    }
    require(type == Type.TEXT, "a date");
    return Dates.parse(text);
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
    byte[] body = values.body(index);
    return type == Type.TEXT ? java.util.Arrays.copyOf(body, body.length - 1) : body;
  }

  /**
   * The value as a Java object of the class that the table above names: Boolean, Byte, Short,
   * Integer, Long, BigInteger, Float, Double, String or byte[]; null when empty.
   *
   * @return the object
   */
  public Object asObject() {
    switch (type) {
      case BOOLEAN:
        return asBoolean();
      case INT8:
        return (byte) values.bits(index);
      case UINT8:
        return (short) values.bits(index);
      case INT16:
        return (short) values.bits(index);
      case UINT16:
      case INT32:
        return (int) values.bits(index);
      case UINT32:
        return values.bits(index);
      case INT64:
        return values.bits(index);
      case UINT64:
        return new BigInteger(Long.toUnsignedString(values.bits(index)));
      case FLOAT:
        return Float.intBitsToFloat((int) values.bits(index));
      case DOUBLE:
        return Double.longBitsToDouble(values.bits(index));
      case TEXT:
        return text;
      case BYTES:
        return values.body(index);
      default:
        return null;
    }
  }

  private void require(boolean condition, String what) {
    if (!condition) {
      throw new IllegalStateException(type + " value (tag " + tag() + ") is not " + what);
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
        byte[] body = values.body(index);
        StringBuilder hex = new StringBuilder(body.length * 2);
        for (byte b : body) {
          hex.append(Character.forDigit((b >> 4) & 0xF, 16)).append(Character.forDigit(b & 0xF, 16));
        }
        return hex.toString();
      default:
        return String.valueOf(asObject());
    }
  }

  /** Equal when the tags and the body bytes are. */
  @Override
  public boolean equals(Object other) {
    if (!(other instanceof DataValue)) {
      return false;
    }
    DataValue that = (DataValue) other;
    return values.sameValue(index, that.values, that.index);
  }

  @Override
  public int hashCode() {
    return values.valueHash(index);
  }
}
