package com.tarnwick.api;

import com.tarnwick.api.wire.SubscriptionReply;

/**
 * An open push request ({@code csq}, {@code cst} or {@code cnq}), immutable: the request number
 * the service assigned and the service's result code. Its data arrive as {@link CallbackEvent}s
 * of the matching {@link CallbackEvent.Kind}; {@link VeltrixClient#cancel(Subscription)} ends a
 * {@code csq} or {@code cnq} request ({@code cst} requests end with {@link VeltrixClient#stop()}).
 */
public final class Subscription {
  private final CallbackEvent.Kind kind;
  private final int requestNumber;
  private final int code;

  private Subscription(CallbackEvent.Kind kind, int requestNumber, int code) {
    this.kind = kind;
    this.requestNumber = requestNumber;
    this.code = code;
  }

  /**
   * Decodes the 16-byte reply of {@code csq}, {@code cst} or {@code cnq}.
   *
   * <p>When the service library lacks the function, the bridge answers with 10000007 where the
   * request number goes and 0 where the code goes; that reply becomes a subscription with code
   * {@link NativeAPI#CODE_MISSING_FUNCTION} and request number 0. A null array becomes {@link
   * NativeAPI#CODE_NO_MEMORY}.
   *
   * @param kind the kind of the request (CSQ, CST or CNQ)
   * @param reply the array the request returned
   * @return the subscription
   * @throws com.tarnwick.api.wire.WireFormatException if the array is not a subscription reply
   */
  public static Subscription of(CallbackEvent.Kind kind, byte[] reply) {
    if (reply == null) {
      return new Subscription(kind, 0, NativeAPI.CODE_NO_MEMORY);
    }
    SubscriptionReply decoded = SubscriptionReply.decode(reply);
    if (decoded.code() == 0 && decoded.requestNumber() == NativeAPI.CODE_MISSING_FUNCTION) {
      return new Subscription(kind, 0, NativeAPI.CODE_MISSING_FUNCTION);
    }
    return new Subscription(kind, decoded.requestNumber(), decoded.code());
  }

  /**
   * The kind of the request: which callback delivers its data.
   *
   * @return CSQ, CST or CNQ
   */
  public CallbackEvent.Kind kind() {
    return kind;
  }

  /**
   * The service function that opened the request.
   *
   * @return "csq", "cst" or "cnq"
   */
  public String function() {
    return kind.name().toLowerCase(java.util.Locale.ROOT);
  }

  /**
   * The request number, as the service assigned it.
   *
   * @return the number (0 when the service assigned none)
   */
  public int requestNumber() {
    return requestNumber;
  }

  /**
   * The service's result code.
   *
   * @return 0 on success
   */
  public int code() {
    return code;
  }

  /**
   * Whether the request was opened.
   *
   * @return true for code 0
   */
  public boolean isOk() {
    return code == 0;
  }

  @Override
  public String toString() {
    return "Subscription[" + function() + " #" + requestNumber + ", code=" + code + "]";
  }
}
