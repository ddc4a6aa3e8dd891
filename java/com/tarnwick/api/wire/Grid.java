package com.tarnwick.api.wire;

import java.util.List;

/**
 * A decoded grid payload: two dimensions, one text list, the value count (the product of the
 * dimensions in 32-bit arithmetic) and the values in the order the service stored them.
 *
 * <p>As with {@link Cube}, the values stay in their array: {@link #index()} locates them.
 */
public final class Grid {
  private final int d1;
  private final int d2;
  private final List<String> texts;
  private final int valueCount;
  private final ValueIndex index;

  private Grid(int d1, int d2, List<String> texts, int valueCount, ValueIndex index) {
    this.d1 = d1;
    this.d2 = d2;
    this.texts = texts;
    this.valueCount = valueCount;
    this.index = index;
  }

  /**
   * Reads a grid payload at the reader's position.
   *
   * @param in the reader
   * @return the grid
   * @throws WireFormatException if the bytes do not form a grid payload
   */
  public static Grid read(Bytes in) {
    int d1 = in.readInt32();
    int d2 = in.readInt32();
    List<String> texts = Payloads.readTextList(in);
    int at = in.position();
    int count = in.readInt32();
    if (count != d2 * d1) {
      throw new WireFormatException(
          "value count " + count + " at offset " + at + ", dimensions span " + d2 * d1);
    }
    return new Grid(d1, d2, texts, count, ValueIndex.scan(in, count));
  }

  /**
   * Decodes a whole array as one grid payload, with no bytes left over.
   *
   * @param payload the payload bytes
   * @return the grid
   */
  public static Grid decode(byte[] payload) {
    return decode(payload, 0, payload.length);
  }

  /**
   * Decodes a range of an array as one grid payload, with no bytes left over, in place.
   *
   * @param array the bytes
   * @param offset where the payload starts
   * @param length the payload's length
   * @return the grid
   */
  public static Grid decode(byte[] array, int offset, int length) {
    Bytes in = new Bytes(array, offset, length);
    Grid grid = read(in);
    in.expectEnd();
    return grid;
  }

  /**
   * The first dimension as encoded.
   *
   * @return the first dimension
   */
  public int d1() {
    return d1;
  }

  /**
   * The second dimension as encoded.
   *
   * @return the second dimension
   */
  public int d2() {
    return d2;
  }

  /**
   * The text list; its length is not tied to either dimension.
   *
   * @return an unmodifiable list
   */
  public List<String> texts() {
    return texts;
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
    return "Grid[" + d1 + " x " + d2 + ", " + texts + ", count=" + valueCount + ", " + values()
        + "]";
  }
}
