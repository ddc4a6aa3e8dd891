package com.tarnwick.api;

/**
 * Receives the bridge's log lines, parsed, from a {@link VeltrixClient}.
 *
 * <p>The bridge's one log thread calls it, one call per line, in the order in which the lines
 * were queued (the lines of one producer in its order; the producers are Java threads, service
 * threads and the bridge itself). Producers never wait for Java: the bridge's queue has no bound,
 * so a slow listener makes the native queue, and the process's memory, grow until it catches
 * up. Return quickly, or give the client an executor ({@link VeltrixClient.Builder#executor}),
 * which then takes the lines off the log thread (in order) and runs the listener on its own
 * threads; its queue then grows instead.
 *
 * <p>Whatever the listener throws ({@code Error}s included) is caught and reported with its
 * stack trace to the {@code System.Logger} {@value VeltrixClient#LOGGER_NAME}; the next line is
 * delivered as usual. After {@link VeltrixClient#close()} returns, the listener is not called
 * again.
 */
@FunctionalInterface
public interface LogLineListener {
  /**
   * Called once per line.
   *
   * @param line the line
   */
  void onLogLine(LogLine line);
}
