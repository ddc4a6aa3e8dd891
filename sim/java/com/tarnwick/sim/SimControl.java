package com.tarnwick.sim;

/**
 * Controls the simulated service library from Java tests.
 *
 * <p>The natives live in the simulated library itself. Load it with {@link #load(String)} after
 * the bridge has loaded it (after {@code setJniEnv}), so that both drive the same module. The
 * semantics, the record description language and the call log format are documented in the
 * library's C header, vxsim.h; every method here mirrors one function there.
 */
public final class SimControl {
  /** Callback kinds for {@link #fire} and {@link #hasCallback}. */
  public static final int MAIN = 0;

  public static final int CSQ = 1;
  public static final int CST = 2;
  public static final int CNQ = 3;
  /** The log sink handed to start ({@link #hasCallback} only). */
  public static final int LOG_SINK = 4;

  /** csqcancel / cnqcancel of a request that is not open, in default mode. */
  public static final int CODE_UNKNOWN_REQUEST = -1001;

  /** pcreate without a portfolio code, pctransfer with a non-finite amount (default mode). */
  public static final int CODE_INVALID_ARGUMENT = -1002;

  /** Failure results of the control methods. */
  public static final int ERR_NO_CALLBACK = -1;

  public static final int ERR_BAD_SCRIPT = -2;
  public static final int ERR_BAD_ARGUMENT = -3;

  private SimControl() {}

  /**
   * Loads the simulated library from the directory the bridge was given: the same file, hence
   * the same module.
   */
  public static void load(String directory) {
    String os = System.getProperty("os.name", "").toLowerCase(java.util.Locale.ROOT);
    String file;
    if (os.startsWith("windows")) {
      file = "VeltrixAPI_x64.dll";
    } else if (os.startsWith("mac")) {
      file = "libVeltrixAPI_x64.dylib";
    } else {
      file = "libVeltrixAPI_x64.so";
    }
    System.load(new java.io.File(directory, file).getAbsolutePath());
  }

  // ---- Mode ----

  /** Back to default mode; keeps the callbacks the bridge handed over. */
  public static native void reset();

  /** Default-mode streams on or off, and their period (below 1: unchanged). */
  public static native void setStreaming(boolean enabled, int intervalMs);

  public static native int activeStreams();

  // ---- Scripted results ----

  public static native void setNextCode(int code);

  /** The next int out argument (count, request number): stored, or left untouched. */
  public static native void setNextOutInt(int value, boolean store);

  /** Queues a cube for the next cube-returning call: 0 or {@link #ERR_BAD_SCRIPT}. */
  public static native int scriptCube(String dsl);

  /** Queues a grid for the next ctr call: 0 or {@link #ERR_BAD_SCRIPT}. */
  public static native int scriptGrid(String dsl);

  /** Why the last description on this thread was refused ("" when it was not). */
  public static native String dslError();

  /** The next geterrstring returns these bytes (ANSI code page), or null for null. */
  public static native void scriptErrString(byte[] text);

  // ---- Records and releases ----

  public static native int lastRecordId();

  /** The last record handed out, described when it was handed out. */
  public static native String lastRecordDescription();

  public static native void setRecordDescriptions(boolean enabled);

  public static native int releaseCount(int recordId);

  public static native int releaseTotal();

  public static native int lastReleasedId();

  /** Records handed out with code 0 and not released yet. */
  public static native int outstandingRecords();

  /** Double releases, unknown pointers, contract breaches seen so far. */
  public static native String[] errors();

  // ---- Call log ----

  public static native String[] calls();

  public static native void clearCalls();

  // ---- Callbacks ----

  public static native boolean hasCallback(int kind);

  /**
   * Sends messages through the callback of {@code kind} from {@code threads} sim threads
   * ({@code perThread} each), or from the calling thread when {@code threads} is 0.
   */
  public static native int fire(int kind, int threads, int perThread, String message);

  /** Joins the firing threads; returns the messages they sent since the last wait. */
  public static native int fireWait();

  /** The next call of {@code function} sends {@code count} messages before it returns. */
  public static native int fireInsideNext(String function, int count, String message);

  /**
   * Calls the log sink with {@code text} {@code count} times on each of {@code threads}
   * threads; "%t" becomes the thread index and "%d" the sequence number.
   */
  public static native int emitLog(byte[] text, int count, int threads);

  /** As {@link #emitLog}, with the bytes passed unchanged. */
  public static native int emitLogRaw(byte[] text, int count, int threads);
}
