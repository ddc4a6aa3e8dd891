package com.tarnwick.api.wire;

/**
 * The 16-byte reply of {@code csq}, {@code cst} and {@code cnq}: int32 request number, int32
 * result code, 8 zero bytes.
 *
 * <p>When the service function is missing, the bridge answers with a Result buffer header
 * instead: 10000007 in the first four bytes and zeros after. That reply decodes here as request
 * number 10000007 with code 0.
 */
public final class SubscriptionReply {
  /** Size of the reply in bytes. */
  public static final int SIZE = 16;

  private final int requestNumber;
  private final int code;

  private SubscriptionReply(int requestNumber, int code) {
    this.requestNumber = requestNumber;
    this.code = code;
  }

  /**
   * Decodes the reply.
   *
   * @param array the array returned by a subscription
   * @return the reply
   * @throws WireFormatException unless the array is 16 bytes long with zeros in bytes 8 to 15
   */
  public static SubscriptionReply decode(byte[] array) {
    if (array == null || array.length != SIZE) {
      throw new WireFormatException(
          "subscription reply of " + (array == null ? "null" : array.length + " bytes"));
    }
    if (Bytes.int64At(array, 8) != 0) {
      throw new WireFormatException("subscription reply with non-zero bytes 8 to 15");
    }
    return new SubscriptionReply(Bytes.int32At(array, 0), Bytes.int32At(array, 4));
  }

  /**
   * The request number the service assigned (0 if it assigned none).
   *
   * @return the request number
   */
  public int requestNumber() {
    return requestNumber;
  }

  /**
   * The service function's result code.
   *
   * @return the code
   */
  public int code() {
    return code;
  }

  @Override
  public String toString() {
    return "SubscriptionReply[request=" + requestNumber + ", code=" + code + "]";
  }
}
