package com.tarnwick.api;

/**
 * Receives the messages that the service library pushes, decoded, from a {@link VeltrixClient}.
 *
 * <p>Which thread calls it, and in what order:
 *
 * <ul>
 *   <li>A service thread delivers each message: one of the service library's own threads, or
 *       the calling Java thread when the service calls back synchronously, inside the call that
 *       caused the message ({@code csq}, {@code start}, a query ...).
 *   <li>The service may deliver from several threads at once, and there is no ordering across
 *       them: messages of one thread arrive in the order that thread sent them, nothing more.
 *       An implementation must be thread-safe.
 *   <li>The first events of a subscription may arrive before {@code csq}, {@code cst} or {@code
 *       cnq} has returned its {@link Subscription}: match them by {@link
 *       CallbackEvent#requestNumber()}, not by the Subscription object.
 *   <li>The service thread waits while the listener runs: return quickly, or give the client an
 *       executor ({@link VeltrixClient.Builder#executor}), which runs the listener on its own
 *       threads, each subscription's messages in order.
 * </ul>
 *
 * <p>Whatever the listener throws ({@code Error}s included) is caught and reported with its
 * stack trace to the {@code System.Logger} {@value VeltrixClient#LOGGER_NAME}; delivery goes on
 * and nothing reaches the bridge. A message that could not be decoded arrives as a lost event
 * ({@link CallbackEvent#isLost()}) with its bytes. After {@link VeltrixClient#close()} returns,
 * the listener is not called again.
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
