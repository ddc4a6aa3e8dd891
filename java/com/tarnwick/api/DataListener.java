package com.tarnwick.api;

/**
 * Receives the callback messages that the bridge passes to {@link
 * NativeAPI#dataAPICallBack(byte[], int)}.
 *
 * <p>The service library's own threads deliver the messages, possibly several at once, so an
 * implementation must be thread-safe; there is no ordering across threads, and a message may
 * arrive on the calling Java thread before the call that caused it returns. {@link
 * com.tarnwick.api.wire.CallbackMessage#decode(byte[])} reads a message. What the listener
 * throws is caught and reported to the {@code System.Logger} {@value VeltrixClient#LOGGER_NAME}.
 */
@FunctionalInterface
public interface DataListener {
  /** Kind of a message from the main callback. */
  int KIND_MAIN = 0;
  /** Kind of a message pushed for a {@code csq} subscription. */
  int KIND_CSQ = 1;
  /** Kind of a message pushed for a {@code cst} subscription. */
  int KIND_CST = 2;
  /** Kind of a message pushed for a {@code cnq} subscription. */
  int KIND_CNQ = 3;

  /**
   * Called once per message.
   *
   * @param message the callback message: a 28-byte header and an optional result payload, or
   *     null when the bridge could not create the array
   * @param kind which callback received the message: {@link #KIND_MAIN}, {@link #KIND_CSQ},
   *     {@link #KIND_CST} or {@link #KIND_CNQ}
   */
  void onData(byte[] message, int kind);
}
