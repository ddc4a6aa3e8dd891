package com.tarnwick.api;

/**
 * Receives the bridge's log lines, parsed, from a {@link VeltrixClient}.
 *
 * <p>The lines come from the bridge's log thread, one call per line, in the order in which they
 * were queued. An exception thrown here is caught and reported to the {@value
 * VeltrixClient#LOGGER_NAME} logger; it does not reach the bridge.
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
