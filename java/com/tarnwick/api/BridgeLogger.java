package com.tarnwick.api;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.util.logging.Level;
import java.util.logging.Logger;

/**
 * Where a {@link VeltrixClient} sends the bridge's log lines when no listener takes them: the
 * platform logger ({@code System.Logger}, Java 9 and later) of the given name, or the {@code
 * java.util.logging} logger of that name on Java 8. Debug lines log at DEBUG (FINE), error lines
 * at ERROR (SEVERE), the service library's lines at INFO.
 */
final class BridgeLogger {
  private final Logger julLogger;
  private final Object systemLogger;
  private final Method log;
  private final Method logThrown;
  private final Method isLoggable;
  private final Object debug;
  private final Object info;
  private final Object warning;
  private final Object error;

  private BridgeLogger(Logger julLogger, Object systemLogger, Method log, Method logThrown,
      Method isLoggable, Object[] levels) {
    this.julLogger = julLogger;
    this.systemLogger = systemLogger;
    this.log = log;
    this.logThrown = logThrown;
    this.isLoggable = isLoggable;
    this.debug = levels[0];
    this.info = levels[1];
    this.warning = levels[2];
    this.error = levels[3];
  }

  /** The platform logger of this name, or the java.util.logging one where there is none. */
  static BridgeLogger named(String name) {
    try {
      Class<?> loggerClass = Class.forName("java.lang.System$Logger");
      Class<?> levelClass = Class.forName("java.lang.System$Logger$Level");
      Object logger = System.class.getMethod("getLogger", String.class).invoke(null, name);
      Object[] levels = new Object[4];
      String[] names = {"DEBUG", "INFO", "WARNING", "ERROR"};
      for (int i = 0; i < names.length; i++) {
        levels[i] = levelClass.getField(names[i]).get(null);
      }
      return new BridgeLogger(null, logger, loggerClass.getMethod("log", levelClass, String.class),
          loggerClass.getMethod("log", levelClass, String.class, Throwable.class),
          loggerClass.getMethod("isLoggable", levelClass), levels);
    } catch (ReflectiveOperationException | RuntimeException e) {
      return new BridgeLogger(Logger.getLogger(name), null, null, null, null,
          new Object[] {Level.FINE, Level.INFO, Level.WARNING, Level.SEVERE});
    }
  }

  /** Logs one line of the bridge at the level of its tag. */
  void log(LogLine line) {
    Object level = line.tag() == LogLine.Tag.DEBUG ? debug
        : line.tag() == LogLine.Tag.ERROR ? error : info;
    write(level, line.toString(), null);
  }

  /** Reports a failure of the Java side itself. */
  void warn(String message, Throwable thrown) {
    write(warning, message, thrown);
  }

  /** Reports a warning of the Java side. */
  void warn(String message) {
    write(warning, message, null);
  }

  /**
   * Reports what a listener threw, with its stack trace. Never throws: a report that fails
   * (out of memory, say) is given up.
   */
  void listenerFailed(String listener, Throwable thrown) {
    try {
      write(warning, listener + " threw " + thrown + "; delivery goes on", thrown);
    } catch (Throwable ignored) {
      // nothing left to report with
    }
  }

  private void write(Object level, String message, Throwable thrown) {
    if (julLogger != null) {
      if (thrown == null) {
        julLogger.log((Level) level, message);
      } else {
        julLogger.log((Level) level, message, thrown);
      }
      return;
    }
    try {
      if (!(Boolean) isLoggable.invoke(systemLogger, level)) {
        return;
      }
      if (thrown == null) {
        log.invoke(systemLogger, level, message);
      } else {
        logThrown.invoke(systemLogger, level, message, thrown);
      }
    } catch (IllegalAccessException | InvocationTargetException e) {
      Logger.getLogger(VeltrixClient.LOGGER_NAME).log(Level.WARNING, message, thrown);
    }
  }
}
