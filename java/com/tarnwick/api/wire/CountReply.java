package com.tarnwick.api.wire;

/** The 8-byte reply of {@code tradedatesnum}: int32 result code, then int32 count. */
public final class CountReply {
  /** Size of the reply in bytes. */
  public static final int SIZE = 8;

  private final int code;
  private final int count;

  private CountReply(int code, int count) {
    this.code = code;
    this.count = count;
  }

  /**
   * Decodes the reply.
   *
   * @param array the array returned by {@code tradedatesnum}
   * @return the reply
   * @throws WireFormatException unless the array is exactly 8 bytes long
   */
  public static CountReply decode(byte[] array) {
    if (array == null || array.length != SIZE) {
      throw new WireFormatException(
          "count reply of " + (array == null ? "null" : array.length + " bytes"));
    }
    return new CountReply(Bytes.int32At(array, 0), Bytes.int32At(array, 4));
  }

  /**
   * The service's result code, or the bridge's code for a missing function.
   *
   * @return the code
   */
  public int code() {
    return code;
  }

  /**
   * The count the service wrote (0 if it wrote none).
   *
   * @return the count
   */
  public int count() {
    return count;
  }

  @Override
  public String toString() {
    return "CountReply[code=" + code + ", count=" + count + "]";
  }
}
