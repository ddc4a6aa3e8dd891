package com.tarnwick.api.wire;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.AbstractList;
import java.util.Arrays;
import java.util.List;

/**
 * The values of a cube or grid payload, indexed in one pass: for each value its tag and one
 * 64-bit slot, which holds the body itself for the fixed-width tags 1 to 11 (its little-endian
 * bits, zero-extended) and, for the counted tags 12 and 14, the offset of the body in the array
 * that holds the payload. Nothing is copied and no object is made per value: numbers are read
 * from the primitive column, texts and bytes from the array.
 *
 * <p>The array is the one the bridge returned (a Result buffer or a callback message), shared,
 * not copied: it must not change while the index is in use. The index is immutable and safe to
 * read from several threads.
 *
 * <p>Bodies follow {@link Value}: tags 1 to 11 have a fixed width, tags 12 and 14 a signed
 * 32-bit length before the body, every other tag no body.
 */
public final class ValueIndex {
  private static final byte[] WIDTH = new byte[256];

  static {
    for (int tag = 0; tag < 256; tag++) {
      WIDTH[tag] = (byte) Value.fixedWidth(tag);
    }
  }

  private static final ValueIndex EMPTY = new ValueIndex(new byte[0], new long[0], new byte[0]);

  private final byte[] array;
  private final long[] slots;
  private final byte[] tags;

  private ValueIndex(byte[] array, long[] slots, byte[] tags) {
    this.array = array;
    this.slots = slots;
    this.tags = tags;
  }

  /**
   * Indexes {@code count} values at the reader's position and moves the reader past them; none
   * when the count is not positive.
   *
   * @throws WireFormatException on a truncated value, a negative length, or a count larger than
   *     the bytes left
   */
  static ValueIndex scan(Bytes in, int count) {
    if (count <= 0) {
      return EMPTY;
    }
    if (count > in.remaining()) {
      throw new WireFormatException("value count " + count + " exceeds the payload");
    }
    byte[] a = in.array();
    ByteBuffer le = ByteBuffer.wrap(a).order(ByteOrder.LITTLE_ENDIAN);
    int end = in.end();
    int p = in.position();
    long[] slots = new long[count];
    byte[] tags = new byte[count];
    for (int i = 0; i < count; i++) {
      if (p >= end) {
        throw new WireFormatException("value " + i + " of " + count + " missing at offset " + p);
      }
      // A run of 8-byte values of one tag (a numeric cube is mostly that) goes through a tight
      // loop of its own: one tag compare and one read per value.
      byte head = a[p];
      if (WIDTH[head & 0xFF] == 8 && end - p >= 9) {
        int stop = Math.min(count, i + (end - p) / 9);
        int from = i;
        while (i < stop && a[p] == head) {
          slots[i++] = le.getLong(p + 1);
          p += 9;
        }
        Arrays.fill(tags, from, i, head);
        i--; // the loop's increment
        continue;
      }
      byte tag = a[p++];
      tags[i] = tag;
      int width = WIDTH[tag & 0xFF];
      if (width > end - p) {
        throw new WireFormatException("value body of " + width + " bytes at offset " + p + ", "
            + (end - p) + " left");
      }
      switch (width) {
        case 8:
          slots[i] = le.getLong(p);
          break;
        case 4:
          slots[i] = le.getInt(p) & 0xFFFFFFFFL;
          break;
        case 2:
          slots[i] = le.getShort(p) & 0xFFFFL;
          break;
        case 1:
          slots[i] = a[p] & 0xFFL;
          break;
        case 0:
          break;
        default: // counted
          if (end - p < 4) {
            throw new WireFormatException("value length needs 4 bytes at offset " + p);
          }
          int length = le.getInt(p);
          p += 4;
          if (length < 0 || length > end - p) {
            throw new WireFormatException("value length " + length + " at offset " + (p - 4)
                + ", " + (end - p) + " bytes left");
          }
          slots[i] = p;
          width = length;
      }
      p += width;
    }
    in.moveTo(p);
    return new ValueIndex(a, slots, tags);
  }

  /**
   * An index of one value.
   *
   * @param value the value
   * @return the index
   */
  public static ValueIndex of(Value value) {
    int tag = value.tag();
    byte[] body = value.body();
    boolean counted = Value.fixedWidth(tag) < 0;
    byte[] encoded = new byte[1 + (counted ? 4 : 0) + body.length];
    encoded[0] = (byte) tag;
    if (counted) {
      ByteBuffer.wrap(encoded, 1, 4).order(ByteOrder.LITTLE_ENDIAN).putInt(body.length);
    }
    System.arraycopy(body, 0, encoded, encoded.length - body.length, body.length);
    return scan(new Bytes(encoded), 1);
  }

  /**
   * The number of values.
   *
   * @return the count; 0 when the payload's count was not positive
   */
  public int size() {
    return tags.length;
  }

  /**
   * The tag of a value.
   *
   * @param i the value's position, from 0
   * @return 0 to 255
   */
  public int tag(int i) {
    return tags[i] & 0xFF;
  }

  /**
   * The length of a value's body.
   *
   * @param i the value's position
   * @return the fixed width, the counted length, or 0
   */
  public int bodyLength(int i) {
    int width = WIDTH[tags[i] & 0xFF];
    return width >= 0 ? width : Bytes.int32At(array, (int) slots[i] - 4);
  }

  /**
   * A fixed-width body (tags 1 to 11) as a little-endian number, zero-extended from its width.
   *
   * @param i the value's position
   * @return the bits
   * @throws IllegalStateException for a tag without a fixed-width body
   */
  public long bits(int i) {
    if (WIDTH[tags[i] & 0xFF] <= 0) {
      throw new IllegalStateException("tag " + tag(i) + " has no fixed-width body");
    }
    return slots[i];
  }

  /**
   * An 8-byte body (tags 8, 9 and 11) as a little-endian 64-bit number.
   *
   * @param i the value's position
   * @return the number
   * @throws IllegalStateException unless the body is 8 bytes wide
   */
  public long int64(int i) {
    if (WIDTH[tags[i] & 0xFF] != 8) {
      throw new IllegalStateException("tag " + tag(i) + " is not 8 bytes wide");
    }
    return slots[i];
  }

  /**
   * A 4-byte body (tags 6, 7 and 10) as a little-endian 32-bit number.
   *
   * @param i the value's position
   * @return the number
   * @throws IllegalStateException unless the body is 4 bytes wide
   */
  public int int32(int i) {
    if (WIDTH[tags[i] & 0xFF] != 4) {
      throw new IllegalStateException("tag " + tag(i) + " is not 4 bytes wide");
    }
    return (int) slots[i];
  }

  /**
   * The text of a tag 14 value that holds UTF-8 and a final NUL.
   *
   * @param i the value's position
   * @return the text without its NUL, or null when the value holds anything else
   */
  public String textOrNull(int i) {
    if ((tags[i] & 0xFF) != 14) {
      return null;
    }
    int at = (int) slots[i];
    int length = Bytes.int32At(array, at - 4);
    if (length == 0 || array[at + length - 1] != 0) {
      return null;
    }
    return Utf8.decodeOrNull(array, at, length - 1);
  }

  /**
   * A copy of a value's body, as it stands in the payload.
   *
   * @param i the value's position
   * @return the bytes
   */
  public byte[] body(int i) {
    int width = WIDTH[tags[i] & 0xFF];
    if (width < 0) {
      int at = (int) slots[i];
      return Arrays.copyOfRange(array, at, at + bodyLength(i));
    }
    byte[] body = new byte[width];
    long bits = slots[i];
    for (int k = 0; k < width; k++) {
      body[k] = (byte) (bits >>> (8 * k));
    }
    return body;
  }

  /**
   * Whether two values have the same tag and the same body.
   *
   * @param i a value's position here
   * @param other another index
   * @param j a value's position there
   * @return true when tag and body bytes are equal
   */
  public boolean sameValue(int i, ValueIndex other, int j) {
    if (tags[i] != other.tags[j]) {
      return false;
    }
    if (WIDTH[tags[i] & 0xFF] >= 0) {
      return slots[i] == other.slots[j]; // the bits themselves (0 for a tag without body)
    }
    int length = bodyLength(i);
    if (length != other.bodyLength(j)) {
      return false;
    }
    int a = (int) slots[i];
    int b = (int) other.slots[j];
    for (int k = 0; k < length; k++) {
      if (array[a + k] != other.array[b + k]) {
        return false;
      }
    }
    return true;
  }

  /**
   * A hash of a value's tag and body, consistent with {@link #sameValue}.
   *
   * @param i the value's position
   * @return the hash
   */
  public int valueHash(int i) {
    int hash = 31 * (tags[i] & 0xFF) + 1;
    if (WIDTH[tags[i] & 0xFF] >= 0) {
      return 31 * hash + Long.hashCode(slots[i]);
    }
    int at = (int) slots[i];
    int end = at + bodyLength(i);
    for (int k = at; k < end; k++) {
      hash = 31 * hash + array[k];
    }
    return hash;
  }

  /**
   * A value as a {@link Value} (its body copied).
   *
   * @param i the value's position
   * @return the value
   */
  public Value value(int i) {
    return Value.of(tag(i), body(i));
  }

  /**
   * The values as a list, each {@link Value} made as it is asked for (its body copied).
   *
   * @return an unmodifiable list
   */
  public List<Value> asList() {
    return new AbstractList<Value>() {
      @Override
      public Value get(int i) {
        return value(i);
      }

      @Override
      public int size() {
        return ValueIndex.this.size();
      }
    };
  }

  @Override
  public String toString() {
    return "ValueIndex[" + tags.length + " values]";
  }
}
