package com.tarnwick.api;

/**
 * Receives the log lines that the bridge passes to {@link NativeAPI#logAPICallBack(byte[])}.
 *
 * <p>The bridge delivers every line from one thread of its own, one call per line, in the order
 * in which the lines were queued. A line is UTF-8 text without a terminator; the bridge's own
 * lines end in a newline, lines of the service library arrive as the library wrote them. The
 * bridge's queue has no bound: a slow listener makes it grow. What the listener throws is
 * caught and reported to the {@code System.Logger} {@value VeltrixClient#LOGGER_NAME}.
 */
@FunctionalInterface
public interface LogListener {
  /**
   * Called once per log line.
   *
   * @param line the line as UTF-8 bytes; the array belongs to the listener
   */
  void onLog(byte[] line);
}
