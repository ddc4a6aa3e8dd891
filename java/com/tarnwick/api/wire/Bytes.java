package com.tarnwick.api.wire;

import java.util.Arrays;

/**
 * A little-endian reader over a range of a byte array. Each read advances the position; a read
 * past the end of the range throws {@link WireFormatException} and leaves the position unchanged.
 * The reader does not copy the array: it must not change while it is read.
 */
public final class Bytes {
  private final byte[] data;
  private final int end;
  private int position;

  /**
   * Reads the whole array.
   *
   * @param data the bytes to read
   */
  public Bytes(byte[] data) {
    this(data, 0, data.length);
  }

  /**
   * Reads {@code length} bytes of {@code data} from {@code offset}.
   *
   * @param data the bytes to read
   * @param offset index of the first byte
   * @param length number of bytes
   * @throws IndexOutOfBoundsException if the range is not inside the array
   */
  public Bytes(byte[] data, int offset, int length) {
    if (offset < 0 || length < 0 || offset > data.length - length) {
      throw new IndexOutOfBoundsException(
          "range " + offset + "+" + length + " outside array of " + data.length);
    }
    this.data = data;
    this.position = offset;
    this.end = offset + length;
  }

  /**
   * The index in the array of the next byte to read.
   *
   * @return the position
   */
  public int position() {
    return position;
  }

  /**
   * The number of bytes left to read.
   *
   * @return the remaining byte count
   */
  public int remaining() {
    return end - position;
  }

  private int take(int count, String what) {
    if (count < 0 || count > end - position) {
      throw new WireFormatException(
          what + " needs " + count + " bytes at offset " + position + ", " + remaining() + " left");
    }
    int at = position;
    position += count;
    return at;
  }

  /**
   * Reads one byte as an unsigned value.
   *
   * @return 0 to 255
   */
  public int readUnsignedByte() {
    return data[take(1, "byte")] & 0xFF;
  }

  /**
   * Reads a signed 8-bit value.
   *
   * @return the value
   */
  public byte readInt8() {
    return data[take(1, "int8")];
  }

  /**
   * Reads a signed 16-bit little-endian value.
   *
   * @return the value
   */
  public short readInt16() {
    int at = take(2, "int16");
    return (short) ((data[at] & 0xFF) | (data[at + 1] << 8));
  }

  /**
   * Reads a signed 32-bit little-endian value.
   *
   * @return the value
   */
  public int readInt32() {
    return int32At(data, take(4, "int32"));
  }

  /**
   * Reads a signed 64-bit little-endian value.
   *
   * @return the value
   */
  public long readInt64() {
    return int64At(data, take(8, "int64"));
  }

  /**
   * Reads {@code count} bytes into a new array.
   *
   * @param count the number of bytes
   * @return a copy of the bytes
   */
  public byte[] readBytes(int count) {
    int at = take(count, "byte run");
    return Arrays.copyOfRange(data, at, at + count);
  }

  /** The array read (for the decoders of this package, which index it in place). */
  byte[] array() {
    return data;
  }

  /** The index just past the range. */
  int end() {
    return end;
  }

  /** Moves the position to {@code index}, which a decoder of this package has checked. */
  void moveTo(int index) {
    position = index;
  }

  /**
   * Checks that every byte was read.
   *
   * @throws WireFormatException if bytes are left
   */
  public void expectEnd() {
    if (position != end) {
      throw new WireFormatException(remaining() + " unread bytes at offset " + position);
    }
  }

  /**
   * The signed 32-bit little-endian value at {@code index}.
   *
   * @param array the bytes
   * @param index index of the lowest byte
   * @return the value
   */
  public static int int32At(byte[] array, int index) {
    return (array[index] & 0xFF) | (array[index + 1] & 0xFF) << 8 | (array[index + 2] & 0xFF) << 16
        | (array[index + 3] & 0xFF) << 24;
  }

  /**
   * The signed 64-bit little-endian value at {@code index}.
   *
   * @param array the bytes
   * @param index index of the lowest byte
   * @return the value
   */
  public static long int64At(byte[] array, int index) {
    return (int32At(array, index) & 0xFFFFFFFFL) | ((long) int32At(array, index + 4) << 32);
  }
}
