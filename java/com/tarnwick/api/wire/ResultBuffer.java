package com.tarnwick.api.wire;

import java.util.Arrays;

/**
 * The reply of a synchronous query: a 16-byte header (int32 result code, 4 reserved zero bytes,
 * int64 payload length) followed by the payload, a cube or, for {@code ctr}, a grid. A reply
 * whose code is not 0 carries no payload.
 *
 * <p>The reply keeps the array it was decoded from, without copying it, and so do the cube and
 * grid read from it: the array must not change while they are in use.
 */
public final class ResultBuffer {
  /** Size of the header in bytes. */
  public static final int HEADER_SIZE = 16;

  private final int code;
  private final byte[] array;

  private ResultBuffer(int code, byte[] array) {
    this.code = code;
    this.array = array;
  }

  /**
   * Decodes the header and takes the payload; the payload is decoded by {@link #cube()} or
   * {@link #grid()}.
   *
   * @param array the array returned by a query
   * @return the reply
   * @throws WireFormatException if the array is shorter than the header, the reserved bytes are
   *     not zero, the length does not match the array, or a non-zero code comes with a payload
   */
  public static ResultBuffer decode(byte[] array) {
    if (array == null) {
      throw new WireFormatException("null result buffer");
    }
    if (array.length < HEADER_SIZE) {
      throw new WireFormatException("result buffer of " + array.length + " bytes");
    }
    Bytes in = new Bytes(array);
    int code = in.readInt32();
    int reserved = in.readInt32();
    long length = in.readInt64();
    if (reserved != 0) {
      throw new WireFormatException("reserved header word is " + reserved);
    }
    if (length != array.length - HEADER_SIZE) {
      throw new WireFormatException(
          "payload length " + length + " in an array of " + array.length + " bytes");
    }
    if (code != 0 && length != 0) {
      throw new WireFormatException("code " + code + " with a payload of " + length + " bytes");
    }
    return new ResultBuffer(code, array);
  }

  /**
   * The result code: 0, the service's own code, or one of the bridge's codes.
   *
   * @return the code
   */
  public int code() {
    return code;
  }

  /**
   * The payload length from the header.
   *
   * @return the number of payload bytes
   */
  public int payloadLength() {
    return array.length - HEADER_SIZE;
  }

  /**
   * The raw payload.
   *
   * @return a copy of the payload bytes
   */
  public byte[] payload() {
    return Arrays.copyOfRange(array, HEADER_SIZE, array.length);
  }

  /**
   * Decodes the payload as a cube.
   *
   * @return the cube
   * @throws IllegalStateException if the code is not 0
   * @throws WireFormatException if the payload is not exactly one cube
   */
  public Cube cube() {
    requireSuccess();
    return Cube.decode(array, HEADER_SIZE, array.length - HEADER_SIZE);
  }

  /**
   * Decodes the payload as a grid (the reply of {@code ctr}).
   *
   * @return the grid
   * @throws IllegalStateException if the code is not 0
   * @throws WireFormatException if the payload is not exactly one grid
   */
  public Grid grid() {
    requireSuccess();
    return Grid.decode(array, HEADER_SIZE, array.length - HEADER_SIZE);
  }

  private void requireSuccess() {
    if (code != 0) {
      throw new IllegalStateException("result code " + code + " carries no payload");
    }
  }

  @Override
  public String toString() {
    return "ResultBuffer[code=" + code + ", payload=" + payloadLength() + " bytes]";
  }
}
