package com.tarnwick.api;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * The one callback object of {@link VeltrixClient} in a JVM. The bridge's log thread binds to
 * the callback object of the first {@code setJniEnv} for as long as it runs, and the service
 * keeps the callbacks it was given: this object stays, and hands every line and message to the
 * client that is open now (lines go to the platform logger while none is, messages are
 * dropped).
 *
 * <p>While a client opens, it also watches the log lines for the loader's outcome.
 */
final class ClientBridge extends NativeAPI {
  private static final BridgeLogger ORPHANS = BridgeLogger.named(VeltrixClient.LOGGER_NAME);

  private volatile VeltrixClient client;

  private final Object watchLock = new Object();
  private volatile boolean watching;
  private final List<LogLine> watched = new ArrayList<LogLine>();

  void route(VeltrixClient open) {
    client = open;
  }

  @Override
  public int logAPICallBack(byte[] line) {
    LogLine parsed = null;
    if (watching) {
      parsed = LogLine.parse(line);
      synchronized (watchLock) {
        if (watching) {
          watched.add(parsed);
          watchLock.notifyAll();
        }
      }
    }
    VeltrixClient open = client;
    if (open != null) {
      open.deliverLogLine(line, parsed);
    } else {
      try {
        ORPHANS.log(parsed != null ? parsed : LogLine.parse(line));
      } catch (Throwable thrown) {
        ORPHANS.listenerFailed("platform logger", thrown);
      }
    }
    return 0;
  }

  @Override
  public int dataAPICallBack(byte[] message, int kind) {
    VeltrixClient open = client;
    if (open != null) {
      open.deliverEvent(message, kind);
    }
    return 0;
  }

  /** The routing is VeltrixClient's: its own listeners take the place of these. */
  @Override
  public void setLogListener(LogListener listener) {
    throw new UnsupportedOperationException(
        "the callback object of VeltrixClient routes to the client's listeners:"
            + " use VeltrixClient.setLogListener");
  }

  @Override
  public void setDataListener(DataListener listener) {
    throw new UnsupportedOperationException(
        "the callback object of VeltrixClient routes to the client's listeners:"
            + " use VeltrixClient.setCallbackListener");
  }

  // ---- Watching the loader's lines ---------------------------------------------------------

  void startWatching() {
    synchronized (watchLock) {
      watched.clear();
      watching = true;
    }
  }

  void stopWatching() {
    synchronized (watchLock) {
      watching = false;
      watched.clear();
    }
  }

  /**
   * Waits until a bridge line with exactly this message has arrived since {@link
   * #startWatching()}, and returns the lines up to it; null when it did not come in time.
   */
  List<LogLine> awaitMessage(String message, long timeoutMillis) throws InterruptedException {
    long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(timeoutMillis);
    synchronized (watchLock) {
      while (true) {
        for (int i = 0; i < watched.size(); i++) {
          LogLine line = watched.get(i);
          if (line.isFromBridge() && line.message().equals(message)) {
            return new ArrayList<LogLine>(watched.subList(0, i + 1));
          }
        }
        long left = deadline - System.nanoTime();
        if (left <= 0) {
          return null;
        }
        TimeUnit.NANOSECONDS.timedWait(watchLock, left);
      }
    }
  }
}
