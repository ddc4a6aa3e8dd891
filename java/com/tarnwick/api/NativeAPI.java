package com.tarnwick.api;

/**
 * The Java side of the JNI bridge to the native market-data service library.
 *
 * <p>Every native method is implemented by the bridge library {@code veltrixjni}, which the
 * constructor loads ({@link NativeLoader}) unless it is loaded already. The bridge forwards each
 * call to the service function of the same name. Failures never become exceptions: the methods
 * answer with a result code, either as their {@code int} result or inside the returned array.
 * Code 0 is success; the bridge's own codes are {@link #CODE_NO_MEMORY}, {@link
 * #CODE_BAD_ORDER_JSON}, {@link #CODE_MISSING_FUNCTION} and {@link #CODE_ORDER_LIST_NOT_ARRAY};
 * every other code is the service library's own.
 *
 * <p>Call {@link #setJniEnv(String)} first, before any other native method: it makes this object
 * the bridge's callback object, starts the bridge's log thread and loads the service library from
 * the given directory. The bridge then calls {@link #logAPICallBack(byte[])} for every log line
 * and {@link #dataAPICallBack(byte[], int)} for every service message; both hand their array to
 * the listener set with {@link #setLogListener(LogListener)} or {@link
 * #setDataListener(DataListener)}. Whatever a listener throws ({@code Error}s included) is caught
 * and reported to the {@code System.Logger} {@value VeltrixClient#LOGGER_NAME} with its stack
 * trace; it never reaches the bridge.
 *
 * <p>The bridge's state is one per process: one service library, loaded once from the first
 * directory that holds it, and one log thread, bound to the callback object of the first {@code
 * setJniEnv} for as long as it runs. {@link VeltrixClient} keeps one callback object for the
 * whole JVM for that reason; use either it or this class directly, not both.
 *
 * <p>The byte arrays use the little-endian layouts that the classes of {@code
 * com.tarnwick.api.wire} decode: the Result buffer of the queries ({@link
 * com.tarnwick.api.wire.ResultBuffer}), the 8-byte count reply of {@link #tradedatesnum} ({@link
 * com.tarnwick.api.wire.CountReply}), the 16-byte reply of the subscriptions ({@link
 * com.tarnwick.api.wire.SubscriptionReply}) and the callback message ({@link
 * com.tarnwick.api.wire.CallbackMessage}).
 */
public class NativeAPI {
  /** A buffer or array could not be allocated. */
  public static final int CODE_NO_MEMORY = 10000003;
  /** The JSON order list of {@link #porder} could not be parsed or converted. */
  public static final int CODE_BAD_ORDER_JSON = 10000004;
  /** A service function (or its release function) is missing, or a record was absent. */
  public static final int CODE_MISSING_FUNCTION = 10000007;
  /** The JSON order list of {@link #porder} is not a non-empty array. */
  public static final int CODE_ORDER_LIST_NOT_ARRAY = 10003003;

  // Codes of the Java side: the bridge never sends them, and no native code runs for them.

  /**
   * Java side: the {@link VeltrixClient} is closed; the call did not reach the bridge.
   */
  public static final int CODE_CLIENT_CLOSED = 10009001;
  /**
   * Java side: a reply or pushed message did not follow its byte layout and could not be
   * decoded; the result or event keeps the raw bytes.
   */
  public static final int CODE_UNDECODABLE = 10009002;

  private static final BridgeLogger REPORTS = BridgeLogger.named(VeltrixClient.LOGGER_NAME);

  private volatile LogListener logListener;
  private volatile DataListener dataListener;

  /**
   * Creates an API object, loading the bridge library first unless it is loaded already.
   *
   * @throws UnsatisfiedLinkError if the bridge library cannot be loaded; the message says where
   *     {@link NativeLoader#load()} looked. The class stays usable: a later construction tries
   *     the load again.
   */
  public NativeAPI() {
    NativeLoader.load();
  }

  /**
   * Sets the listener for log lines; null discards them.
   *
   * @param listener the listener, or null
   */
  public void setLogListener(LogListener listener) {
    logListener = listener;
  }

  /**
   * Sets the listener for service messages; null discards them.
   *
   * @param listener the listener, or null
   */
  public void setDataListener(DataListener listener) {
    dataListener = listener;
  }

  /**
   * Called by the bridge's log thread with one log line. Hands the line to the log listener.
   *
   * @param line the line as UTF-8 bytes without a terminator
   * @return 0
   */
  public int logAPICallBack(byte[] line) {
    LogListener listener = logListener;
    if (listener != null) {
      try {
        listener.onLog(line);
      } catch (Throwable thrown) {
        REPORTS.listenerFailed("log listener", thrown);
      }
    }
    return 0;
  }

  /**
   * Called by the bridge on a service thread with one callback message. Hands it to the data
   * listener.
   *
   * @param message the callback message, or null when the bridge could not create the array
   * @param kind 0 for the main callback, 1 for {@code csq}, 2 for {@code cst}, 3 for {@code cnq}
   * @return 0
   */
  public int dataAPICallBack(byte[] message, int kind) {
    DataListener listener = dataListener;
    if (listener != null) {
      try {
        listener.onData(message, kind);
      } catch (Throwable thrown) {
        REPORTS.listenerFailed("data listener (message of kind " + kind + ")", thrown);
      }
    }
    return 0;
  }

  // ---- Lifecycle ------------------------------------------------------------------------

  /**
   * Makes this object the bridge's callback object, starts the log thread, loads the service
   * library from {@code dir} (once), and hands {@code dir} to the service's {@code
   * setserverlistdir}. May be called again: the last object given is the callback object.
   *
   * @param dir the directory that holds the service library
   */
  public native void setJniEnv(String dir);

  // ---- Synchronous queries: each returns a Result buffer --------------------------------

  /**
   * Query {@code csd}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @param s4 fourth argument
   * @param s5 fifth argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] csd(String s1, String s2, String s3, String s4, String s5);

  /**
   * Query {@code css}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] css(String s1, String s2, String s3);

  /**
   * Query {@code tradedates}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] tradedates(String s1, String s2, String s3);

  /**
   * Query {@code sector}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] sector(String s1, String s2, String s3);

  /**
   * Query {@code getdate}.
   *
   * @param s1 first argument
   * @param offset the number passed through unchanged
   * @param s2 second argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] getdate(String s1, int offset, String s2);

  /**
   * Query {@code tradedatesnum}: a code and a count.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the 8-byte count reply (code, count), or null when no array could be created
   */
  public native byte[] tradedatesnum(String s1, String s2, String s3);

  /**
   * Query {@code csc}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @param s4 fourth argument
   * @param s5 fifth argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] csc(String s1, String s2, String s3, String s4, String s5);

  /**
   * Query {@code cmc}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @param s4 fourth argument
   * @param s5 fifth argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] cmc(String s1, String s2, String s3, String s4, String s5);

  /**
   * Query {@code chmc}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @param s4 fourth argument
   * @param s5 fifth argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] chmc(String s1, String s2, String s3, String s4, String s5);

  /**
   * Query {@code csqsnapshot}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] csqsnapshot(String s1, String s2, String s3);

  /**
   * Query {@code ctr}; its Result buffer carries a grid payload.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] ctr(String s1, String s2, String s3);

  /**
   * Query {@code cps}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @param s4 fourth argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] cps(String s1, String s2, String s3, String s4);

  /**
   * Query {@code pquery}.
   *
   * @param s1 the argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] pquery(String s1);

  /**
   * Query {@code preport}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] preport(String s1, String s2, String s3);

  /**
   * Query {@code edb}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] edb(String s1, String s2);

  /**
   * Query {@code edbquery}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] edbquery(String s1, String s2, String s3);

  /**
   * Query {@code cfn}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param number the number passed through unchanged
   * @param s3 third argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] cfn(String s1, String s2, int number, String s3);

  /**
   * Query {@code cfnquery}.
   *
   * @param s1 the argument
   * @return the Result buffer, or null when no array could be created
   */
  public native byte[] cfnquery(String s1);

  // ---- Service control -------------------------------------------------------------------

  /**
   * Starts the service with its option string; the service's own log lines then reach {@link
   * #logAPICallBack(byte[])}.
   *
   * @param options the service's option string
   * @return the service's code, or {@link #CODE_MISSING_FUNCTION}
   */
  public native int start(String options);

  /**
   * Stops the service.
   *
   * @return the service's code, or {@link #CODE_MISSING_FUNCTION}
   */
  public native int stop();

  /**
   * Names the server list directory.
   *
   * @param dir the directory
   */
  public native void setserverlistdir(String dir);

  /**
   * Sets the proxy.
   *
   * @param kind proxy kind, passed unchanged
   * @param host proxy host
   * @param port proxy port; only its low 16 bits are used
   * @param flag passed as a boolean
   * @param t1 first trailing text
   * @param t2 second trailing text
   * @return the service's code, or {@link #CODE_MISSING_FUNCTION}
   */
  public native int setproxy(int kind, String host, int port, boolean flag, String t1, String t2);

  /**
   * Text for a result code.
   *
   * @param code the result code
   * @param flag 1 selects the service's alternative text; any other value passes 0
   * @return the text, or "function address is null." when the service function is missing
   */
  public native String geterrstring(int code, int flag);

  // ---- Subscriptions: each returns the 16-byte Subscription reply -----------------------

  /**
   * Subscription {@code csq}; its pushed data arrive with kind 1.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the Subscription reply (request number, code), or null when no array could be created
   */
  public native byte[] csq(String s1, String s2, String s3);

  /**
   * Subscription {@code cst}; its pushed data arrive with kind 2.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @param s4 fourth argument
   * @param s5 fifth argument
   * @return the Subscription reply (request number, code), or null when no array could be created
   */
  public native byte[] cst(String s1, String s2, String s3, String s4, String s5);

  /**
   * Subscription {@code cnq}; its pushed data arrive with kind 3.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @return the Subscription reply (request number, code), or null when no array could be created
   */
  public native byte[] cnq(String s1, String s2, String s3);

  /**
   * Cancels a {@link #csq} request.
   *
   * @param requestNumber the request number from the Subscription reply
   * @return the service's code, or {@link #CODE_MISSING_FUNCTION}
   */
  public native int csqcancel(int requestNumber);

  /**
   * Cancels a {@link #cnq} request.
   *
   * @param requestNumber the request number from the Subscription reply
   * @return the service's code, or {@link #CODE_MISSING_FUNCTION}
   */
  public native int cnqcancel(int requestNumber);

  // ---- Portfolio -------------------------------------------------------------------------

  /**
   * Hands a list of orders to the service's {@code porder}.
   *
   * @param json a non-empty JSON array of order objects with the members code, volume, price,
   *     date, time, optype, cost, rate and reserve
   * @param s2 second argument
   * @param s3 third argument
   * @param s4 fourth argument
   * @return the service's code, or one of the bridge's codes
   */
  public native int porder(String json, String s2, String s3, String s4);

  /**
   * Forwards to the service's {@code pcreate}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param number passed as a 64-bit integer
   * @param s3 third argument
   * @param s4 fourth argument
   * @return the service's code, or {@link #CODE_MISSING_FUNCTION}
   */
  public native int pcreate(String s1, String s2, long number, String s3, String s4);

  /**
   * Forwards to the service's {@code pdelete}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @return the service's code, or {@link #CODE_MISSING_FUNCTION}
   */
  public native int pdelete(String s1, String s2);

  /**
   * Forwards to the service's {@code pctransfer}.
   *
   * @param s1 first argument
   * @param s2 second argument
   * @param s3 third argument
   * @param value passed as a double
   * @param s4 fourth argument
   * @param s5 fifth argument
   * @return the service's code, or {@link #CODE_MISSING_FUNCTION}
   */
  public native int pctransfer(String s1, String s2, String s3, double value, String s4, String s5);
}
