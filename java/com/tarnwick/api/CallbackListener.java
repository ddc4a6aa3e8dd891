package com.tarnwick.api;

/**
 * Receives the messages that the service library pushes, decoded, from a {@link VeltrixClient}.
 *
 * <p>The service library's own threads deliver the events, possibly several at once: an
 * implementation must be thread-safe, and should return quickly. An exception thrown here is
 * caught and reported to the {@value VeltrixClient#LOGGER_NAME} logger; it does not reach the
 * bridge.
 */
@FunctionalInterface
public interface CallbackListener {
  /**
   * Called once per message.
   *
   * @param event the message
   */
  void onEvent(CallbackEvent event);
}
