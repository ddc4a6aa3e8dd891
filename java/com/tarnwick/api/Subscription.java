package com.tarnwick.api;

import com.tarnwick.api.wire.SubscriptionReply;
import java.util.Arrays;
import java.util.Optional;

/**
 * An open push request ({@code csq}, {@code cst} or {@code cnq}), immutable: the request number
 * the service assigned and the service's result code. Its data arrive as {@link CallbackEvent}s
 * of the matching {@link CallbackEvent.Kind}; {@link VeltrixClient#cancel(Subscription)} ends a
 * {@code csq} or {@code cnq} request ({@code cst} requests end with {@link VeltrixClient#stop()}).
 *
 * <p>Its first events may reach the callback listener before the call that opened it returns:
 * match events by {@link CallbackEvent#requestNumber()}. A reply that is not a subscription reply
 * gives {@link NativeAPI#CODE_UNDECODABLE} and keeps its bytes ({@link #rawReply()}). Equal when
 * kind, request number, code and (for an undecodable reply) bytes are.
 */
public final class Subscription {
  private final CallbackEvent.Kind kind;
  private final int requestNumber;
  private final int code;
  private final byte[] reply;

  private Subscription(CallbackEvent.Kind kind, int requestNumber, int code, byte[] reply) {
    this.kind = kind;
    this.requestNumber = requestNumber;
    this.code = code;
    this.reply = reply;
  }

  /**
   * Decodes the 16-byte reply of {@code csq}, {@code cst} or {@code cnq}.
   *
   * <p>When the service library lacks the function, the bridge answers with 10000007 where the
   * request number goes and 0 where the code goes; that reply becomes a subscription with code
   * {@link NativeAPI#CODE_MISSING_FUNCTION} and request number 0. A null array becomes {@link
   * NativeAPI#CODE_NO_MEMORY}, an array that is not a subscription reply {@link
   * NativeAPI#CODE_UNDECODABLE}; decoding never throws. The subscription keeps a copy of the
   * array.
   *
   * @param kind the kind of the request (CSQ, CST or CNQ)
   * @param reply the array the request returned
   * @return the subscription
   */
  public static Subscription of(CallbackEvent.Kind kind, byte[] reply) {
    if (reply == null) {
      return failed(kind, NativeAPI.CODE_NO_MEMORY);
    }
    byte[] kept = reply.clone();
    SubscriptionReply decoded;
    try {
      decoded = SubscriptionReply.decode(kept);
    } catch (RuntimeException e) {
      return new Subscription(kind, 0, NativeAPI.CODE_UNDECODABLE, kept);
    }
    if (decoded.code() == 0 && decoded.requestNumber() == NativeAPI.CODE_MISSING_FUNCTION) {
      return new Subscription(kind, 0, NativeAPI.CODE_MISSING_FUNCTION, kept);
    }
    return new Subscription(kind, decoded.requestNumber(), decoded.code(), kept);
  }

  /**
   * A subscription that was not opened, with request number 0, as for a call that never reached
   * the bridge.
   *
   * @param kind the kind of the request
   * @param code the code
   * @return the subscription
   */
  public static Subscription failed(CallbackEvent.Kind kind, int code) {
    return new Subscription(kind, 0, code, null);
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

  /**
   * The bytes the request returned.
   *
   * @return a copy of the array, or empty when there was none (no memory, or a call that did not
   *     reach the bridge)
   */
  public Optional<byte[]> rawReply() {
    return reply == null ? Optional.<byte[]>empty() : Optional.of(reply.clone());
  }

  @Override
  public boolean equals(Object other) {
    if (!(other instanceof Subscription)) {
      return false;
    }
    Subscription that = (Subscription) other;
    return kind == that.kind && requestNumber == that.requestNumber && code == that.code
        && (code != NativeAPI.CODE_UNDECODABLE || Arrays.equals(reply, that.reply));
  }

  @Override
  public int hashCode() {
    return (kind.hashCode() * 31 + requestNumber) * 31 + code;
  }

  @Override
  public String toString() {
    return "Subscription[" + function() + " #" + requestNumber + ", code=" + code + "]";
  }
}
