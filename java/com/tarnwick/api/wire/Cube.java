package com.tarnwick.api.wire;

import java.util.List;

/**
 * A decoded cube payload: three text lists, the value count (the product of the three list
 * lengths, computed in 32-bit arithmetic) and the values in the order the service stored them.
 *
 * <p>The values stay in the array they came in: {@link #index()} locates them, and {@link
 * #values()} makes a {@link Value} only for the one asked for. The array must not change while
 * the cube is in use.
 */
public final class Cube {
  private final List<String> first;
  private final List<String> second;
  private final List<String> third;
  private final int valueCount;
  private final ValueIndex index;

  private Cube(List<String> first, List<String> second, List<String> third, int valueCount,
      ValueIndex index) {
    this.first = first;
    this.second = second;
    this.third = third;
    this.valueCount = valueCount;
    this.index = index;
  }

  /**
   * Reads a cube payload at the reader's position. The payload must be consistent: the value
   * count equals the product of the list lengths.
   *
   * @param in the reader
   * @return the cube
   * @throws WireFormatException if the bytes do not form a cube payload
   */
  public static Cube read(Bytes in) {
    List<String> first = Payloads.readTextList(in);
    List<String> second = Payloads.readTextList(in);
    List<String> third = Payloads.readTextList(in);
    int at = in.position();
    int count = in.readInt32();
    int expected = third.size() * second.size() * first.size();
    if (count != expected) {
      throw new WireFormatException(
          "value count " + count + " at offset " + at + ", lists span " + expected);
    }
    return new Cube(first, second, third, count, ValueIndex.scan(in, count));
  }

  /**
   * Decodes a whole array as one cube payload, with no bytes left over.
   *
   * @param payload the payload bytes
   * @return the cube
   */
  public static Cube decode(byte[] payload) {
    return decode(payload, 0, payload.length);
  }

  /**
   * Decodes a range of an array as one cube payload, with no bytes left over, in place.
   *
   * @param array the bytes
   * @param offset where the payload starts
   * @param length the payload's length
   * @return the cube
   */
  public static Cube decode(byte[] array, int offset, int length) {
    Bytes in = new Bytes(array, offset, length);
    Cube cube = read(in);
    in.expectEnd();
    return cube;
  }

  /**
   * The first text list.
   *
   * @return an unmodifiable list
   */
  public List<String> first() {
    return first;
  }

  /**
   * The second text list.
   *
   * @return an unmodifiable list
   */
  public List<String> second() {
    return second;
  }

  /**
   * The third text list.
   *
   * @return an unmodifiable list
   */
  public List<String> third() {
    return third;
  }

  /**
   * The value count as encoded.
   *
   * @return the count
   */
  public int valueCount() {
    return valueCount;
  }

  /**
   * The values, each made as it is asked for (its body copied); empty when the count is not
   * positive.
   *
   * @return an unmodifiable list
   */
  public List<Value> values() {
    return index.asList();
  }

  /**
   * The values in place: tags, numbers in a primitive column, offsets of texts and bytes.
   *
   * @return the index
   */
  public ValueIndex index() {
    return index;
  }

  @Override
  public String toString() {
    return "Cube[" + first + ", " + second + ", " + third + ", count=" + valueCount + ", "
        + values() + "]";
  }
}
