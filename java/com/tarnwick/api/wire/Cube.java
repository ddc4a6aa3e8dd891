package com.tarnwick.api.wire;

import java.util.List;

/**
 * A decoded cube payload: three text lists, the value count (the product of the three list
 * lengths, computed in 32-bit arithmetic) and the values in the order the service stored them.
 */
public final class Cube {
  private final List<String> first;
  private final List<String> second;
  private final List<String> third;
  private final int valueCount;
  private final List<Value> values;

  private Cube(List<String> first, List<String> second, List<String> third, int valueCount,
      List<Value> values) {
    this.first = first;
    this.second = second;
    this.third = third;
    this.valueCount = valueCount;
    this.values = values;
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
    return new Cube(first, second, third, count, Payloads.readValues(in, count));
  }

  /**
   * Decodes a whole array as one cube payload, with no bytes left over.
   *
   * @param payload the payload bytes
   * @return the cube
   */
  public static Cube decode(byte[] payload) {
    Bytes in = new Bytes(payload);
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
   * The values; empty when the count is not positive.
   *
   * @return an unmodifiable list
   */
  public List<Value> values() {
    return values;
  }

  @Override
  public String toString() {
    return "Cube[" + first + ", " + second + ", " + third + ", count=" + valueCount + ", " + values
        + "]";
  }
}
