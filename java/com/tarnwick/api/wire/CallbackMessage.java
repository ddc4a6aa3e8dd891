package com.tarnwick.api.wire;

/**
 * The array handed to {@code dataAPICallBack}: a 28-byte header of five int32 words (the third
 * is the error code) and an int64 payload length at offset 20, then the payload, a cube. A message
 * whose error code is not 0 carries no payload.
 */
public final class CallbackMessage {
  /** Size of the header in bytes. */
  public static final int HEADER_SIZE = 28;

  private final int word1;
  private final int word2;
  private final int errorCode;
  private final int word4;
  private final int word5;
  private final int payloadLength;
  private final Cube cube;

  private CallbackMessage(
      int word1, int word2, int errorCode, int word4, int word5, int payloadLength, Cube cube) {
    this.word1 = word1;
    this.word2 = word2;
    this.errorCode = errorCode;
    this.word4 = word4;
    this.word5 = word5;
    this.payloadLength = payloadLength;
    this.cube = cube;
  }

  /**
   * Decodes a message, its cube payload included.
   *
   * @param array the array passed to {@code dataAPICallBack}
   * @return the message
   * @throws WireFormatException if the array is shorter than the header, the length does not
   *     match the array, an error code comes with a payload, or the payload is not one cube
   */
  public static CallbackMessage decode(byte[] array) {
    if (array == null) {
      throw new WireFormatException("null callback message");
    }
    if (array.length < HEADER_SIZE) {
      throw new WireFormatException("callback message of " + array.length + " bytes");
    }
    Bytes in = new Bytes(array);
    int word1 = in.readInt32();
    int word2 = in.readInt32();
    int errorCode = in.readInt32();
    int word4 = in.readInt32();
    int word5 = in.readInt32();
    long length = in.readInt64();
    if (length != array.length - HEADER_SIZE) {
      throw new WireFormatException(
          "payload length " + length + " in a message of " + array.length + " bytes");
    }
    if (errorCode != 0 && length != 0) {
      throw new WireFormatException("error code " + errorCode + " with a payload");
    }
    Cube cube = null;
    if (length != 0) {
      cube = Cube.read(in);
      in.expectEnd();
    }
    return new CallbackMessage(word1, word2, errorCode, word4, word5, (int) length, cube);
  }

  /**
   * The first word of the service's message record.
   *
   * @return the word
   */
  public int word1() {
    return word1;
  }

  /**
   * The second word of the service's message record.
   *
   * @return the word
   */
  public int word2() {
    return word2;
  }

  /**
   * The error code: the service's, or one of the bridge's codes.
   *
   * @return the code
   */
  public int errorCode() {
    return errorCode;
  }

  /**
   * The fourth word of the service's message record.
   *
   * @return the word
   */
  public int word4() {
    return word4;
  }

  /**
   * The fifth word of the service's message record.
   *
   * @return the word
   */
  public int word5() {
    return word5;
  }

  /**
   * The payload length from the header.
   *
   * @return the number of payload bytes, 0 for a message without data
   */
  public int payloadLength() {
    return payloadLength;
  }

  /**
   * The payload.
   *
   * @return the cube, or null when the message carries no payload
   */
  public Cube cube() {
    return cube;
  }

  @Override
  public String toString() {
    return "CallbackMessage[" + word1 + ", " + word2 + ", error=" + errorCode + ", " + word4 + ", "
        + word5 + ", payload=" + payloadLength + " bytes]";
  }
}
