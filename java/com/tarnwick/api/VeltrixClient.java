package com.tarnwick.api;

import java.util.List;
import java.util.concurrent.Executor;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * The typed way to use the bridge: every call of {@link NativeAPI} with its answer decoded into
 * an immutable result, and the bridge's callbacks delivered as {@link LogLine}s and {@link
 * CallbackEvent}s.
 *
 * <pre>{@code
 * try (VeltrixClient client = VeltrixClient.open("/opt/veltrix")) {
 *   if (!client.serviceStatus().isLoaded()) {
 *     System.err.println(client.serviceStatus());   // the directory and the loader's reason
 *     return;
 *   }
 *   client.start("");
 *   QueryResult bars = client.csd("600519.SH", "CLOSE,VOLUME", "2024-06-24", "2024-06-28", "");
 *   if (bars.isOk()) {
 *     DataCube cube = bars.cube();
 *     for (int d = 0; d < cube.dates().size(); d++) {
 *       double close = cube.doubleAt(cube.index(0, 0, d), Double.NaN);
 *       System.out.println(cube.localDate(d) + " " + close);
 *     }
 *   } else {
 *     System.out.println(client.errorText(bars.code()));
 *   }
 * }
 * }</pre>
 *
 * <h2>One client per JVM</h2>
 *
 * <p>The bridge's state is one per process: one service library, loaded once and kept until the
 * JVM ends, one log thread that stays bound to the callback object it first met, one service to
 * start. The client models that: all clients share one permanent callback object, which hands
 * the lines and messages to the client that is open now. Hence:
 *
 * <ul>
 *   <li>At most one client is open at a time. A second {@link #open} while one is open throws
 *       {@link IllegalStateException}: that is a programming error, not a service failure.
 *   <li>{@link #close()} unhooks the client's listeners (it waits for a listener call in
 *       progress on another thread), stops the service if this client started it, and makes the
 *       client answer every later call with {@link NativeAPI#CODE_CLIENT_CLOSED} without
 *       calling native code. Then {@code open} works again, and lines and events go to the new
 *       client only.
 *   <li>The service library loads from the directory of the first {@code open} that finds it;
 *       an {@code open} that names another directory afterwards keeps the first in force, logs
 *       a warning and says so in {@link #serviceStatus()}. After an {@code open} whose load
 *       failed, the next one tries again.
 * </ul>
 *
 * <p>Failures do not throw: each method answers with a result that carries the code (0 for
 * success, else the service's code, one of the bridge's codes in {@link NativeAPI}, or one of the
 * Java side's: {@link NativeAPI#CODE_CLIENT_CLOSED}, {@link NativeAPI#CODE_UNDECODABLE} for a
 * reply that did not follow its layout, which the result keeps as bytes).
 *
 * <h2>Listeners</h2>
 *
 * <p>Log lines go to the listener set with {@link Builder#logListener} or {@link
 * #setLogListener(LogLineListener)}; without one they go to the platform logger {@value
 * #LOGGER_NAME} ({@code System.Logger} where the runtime has it, {@code java.util.logging} on Java
 * 8): the bridge's debug lines at DEBUG, its error lines at ERROR, the service library's lines at
 * INFO. Pushed messages go to the listener set with {@link Builder#callbackListener} or {@link
 * #setCallbackListener(CallbackListener)}; without one they are dropped. What a listener throws,
 * {@code Error}s included, is reported to that logger at WARNING with its stack trace, and
 * delivery goes on. {@link LogLineListener} and {@link CallbackListener} say which threads call
 * them and in what order; {@link Builder#executor} moves the calls off the bridge's and the
 * service's threads.
 *
 * <p>The text arguments are passed to the service library unchanged; their meaning is the
 * service's. The parameter names below say what they usually hold.
 */
public final class VeltrixClient implements AutoCloseable {
  /** The name of the logger that receives the log lines no listener takes, and the reports. */
  public static final String LOGGER_NAME = "com.tarnwick.api.bridge";

  /** What the bridge's geterrstring answers when the service function is missing. */
  private static final String NO_FUNCTION_TEXT = "function address is null.";

  /** The longest wait for the loader's log lines at open. */
  private static final long LOAD_LINES_WAIT_MS = 10_000;

  private static final BridgeLogger REPORTS = BridgeLogger.named(LOGGER_NAME);

  /** Guards the JVM-wide state below and every open. */
  private static final Object OPEN_LOCK = new Object();

  private static ClientBridge bridge;
  private static VeltrixClient current;
  private static String loadedDirectory;
  /** The callback-thread mode the first setJniEnv found in force; null before it. */
  private static String callbackThreadsInForce;

  /**
   * The system property the bridge reads, once per process at the first {@code setJniEnv}, for
   * how service threads are attached to the JVM: {@code "perMessage"} (the default) attaches and
   * detaches a service thread for every message; {@code "attached"} attaches each service thread
   * once, as a daemon named "veltrix-callback-N", and detaches it when the thread ends.
   */
  public static final String CALLBACK_THREADS_PROPERTY = "veltrix.callbackThreads";

  private final NativeAPI api;
  private final boolean routed;
  private final BridgeLogger logger = REPORTS;
  private final AtomicBoolean started = new AtomicBoolean();
  private final OrderedDispatch dispatch;
  private final AtomicInteger inFlight = new AtomicInteger();
  private final ThreadLocal<int[]> depth = new ThreadLocal<int[]>();
  private volatile boolean closed;
  private volatile LogLineListener logListener;
  private volatile CallbackListener callbackListener;
  private volatile ServiceStatus status;

  /**
   * How to open a client: the service library's directory, the listeners from the start, and
   * where listeners run. Made by {@link VeltrixClient#builder(String)}.
   */
  public static final class Builder {
    private final String serviceDir;
    private LogLineListener logListener;
    private CallbackListener callbackListener;
    private Executor executor;
    private Boolean attachedCallbackThreads;

    private Builder(String serviceDir) {
      if (serviceDir == null) {
        throw new NullPointerException("serviceDir");
      }
      this.serviceDir = serviceDir;
    }

    /**
     * The log listener from the start, so that it also sees the lines the bridge wrote while it
     * loaded.
     *
     * @param listener the listener, or null for the platform logger
     * @return this builder
     */
    public Builder logListener(LogLineListener listener) {
      logListener = listener;
      return this;
    }

    /**
     * The callback listener from the start.
     *
     * @param listener the listener, or null to drop pushed messages
     * @return this builder
     */
    public Builder callbackListener(CallbackListener listener) {
      callbackListener = listener;
      return this;
    }

    /**
     * Runs the listeners on this executor instead of the bridge's log thread and the service's
     * threads, which then only decode and hand over. Order is kept per stream: the log lines in
     * their order, the main callback's messages in theirs, and each subscription's messages
     * (same kind and request number) in the order the service delivered them; different streams
     * may run at once on a multi-threaded executor. A rejected task is reported and its
     * deliveries dropped. After {@link VeltrixClient#close()} queued deliveries are dropped.
     *
     * @param listenerExecutor the executor, or null to call the listeners directly
     * @return this builder
     */
    public Builder executor(Executor listenerExecutor) {
      executor = listenerExecutor;
      return this;
    }

    /**
     * How the service's threads meet the JVM, set as {@link VeltrixClient#CALLBACK_THREADS_PROPERTY}
     * before
     * the bridge first reads it. With {@code true} each service thread is attached once, on its
     * first delivery, as a daemon thread named "veltrix-callback-N", and stays the same {@code
     * Thread} (with its ThreadLocals) until it ends; deliveries then cost a fraction of the
     * default, which attaches and detaches a fresh {@code Thread} for every message. The bridge
     * reads the property once per process: an open that asks for another mode after that is
     * reported and keeps the mode in force. Unset, the property stays as the command line gave
     * it.
     *
     * @param attached true to attach service threads once, false for the per-message default
     * @return this builder
     */
    public Builder attachedCallbackThreads(boolean attached) {
      attachedCallbackThreads = attached;
      return this;
    }

    /**
     * Opens the client: see {@link VeltrixClient#open(String)}.
     *
     * @return the client
     * @throws IllegalStateException if a client is open already
     * @throws UnsatisfiedLinkError if the bridge library cannot be loaded
     */
    public VeltrixClient open() {
      return VeltrixClient.open(this);
    }
  }

  private VeltrixClient(NativeAPI api, boolean routed, LogLineListener logListener,
      CallbackListener callbackListener, Executor executor) {
    this.api = api;
    this.routed = routed;
    this.logListener = logListener;
    this.callbackListener = callbackListener;
    this.dispatch = executor == null ? null : new OrderedDispatch(executor, REPORTS);
  }

  /**
   * A builder for {@link Builder#open()}, with the options an {@code open} can take.
   *
   * @param serviceDir the directory that holds the service library
   * @return the builder
   */
  public static Builder builder(String serviceDir) {
    return new Builder(serviceDir);
  }

  /**
   * Opens the client: loads the bridge (with the class {@link NativeAPI}) and, unless it is
   * loaded already, the service library from {@code serviceDir}. Log lines go to the platform
   * logger until a listener is set. {@link #serviceStatus()} tells whether the service library
   * is loaded, from where, and why not.
   *
   * @param serviceDir the directory that holds the service library
   * @return the client
   * @throws IllegalStateException if a client is open already: close it first
   * @throws UnsatisfiedLinkError if the bridge library cannot be loaded
   */
  public static VeltrixClient open(String serviceDir) {
    return builder(serviceDir).open();
  }

  /**
   * Opens the client with listeners in place from the start, so that they also see the lines
   * the bridge wrote while it loaded.
   *
   * @param serviceDir the directory that holds the service library
   * @param logListener the log listener, or null for the platform logger
   * @param callbackListener the callback listener, or null
   * @return the client
   * @throws IllegalStateException if a client is open already: close it first
   * @throws UnsatisfiedLinkError if the bridge library cannot be loaded
   */
  public static VeltrixClient open(String serviceDir, LogLineListener logListener,
      CallbackListener callbackListener) {
    return builder(serviceDir).logListener(logListener).callbackListener(callbackListener).open();
  }

  private static VeltrixClient open(Builder options) {
    synchronized (OPEN_LOCK) {
      if (current != null) {
        throw new IllegalStateException("a VeltrixClient is open already (service directory "
            + current.status.requestedDirectory() + "): close it before opening another."
            + " The bridge holds one service library and one log thread per process, so one"
            + " client is open at a time.");
      }
      if (bridge == null) {
        bridge = new ClientBridge(); // loads the bridge library; its errors propagate
      }
      VeltrixClient client = new VeltrixClient(bridge, true, options.logListener,
          options.callbackListener, options.executor);
      current = client;
      bridge.route(client);
      try {
        client.status = loadService(options);
      } catch (RuntimeException | Error e) {
        current = null;
        bridge.route(null);
        throw e;
      }
      return client;
    }
  }

  /**
   * Sets the callback-thread property before the first setJniEnv reads it; afterwards, reports
   * an open that asks for a mode other than the one in force. Runs under OPEN_LOCK.
   */
  private static void applyCallbackThreads(Builder options) {
    String wanted = options.attachedCallbackThreads == null ? null
        : options.attachedCallbackThreads ? "attached" : "perMessage";
    if (callbackThreadsInForce == null) {
      if (wanted != null) {
        System.setProperty(CALLBACK_THREADS_PROPERTY, wanted);
      }
      callbackThreadsInForce = "attached".equals(System.getProperty(CALLBACK_THREADS_PROPERTY))
          ? "attached" : "perMessage";
    } else if (wanted != null && !wanted.equals(callbackThreadsInForce)) {
      REPORTS.warn("VeltrixClient.open: callback threads stay " + callbackThreadsInForce
          + " (the bridge reads " + CALLBACK_THREADS_PROPERTY + " once per process); "
          + wanted + " is not used");
    }
  }

  /**
   * Hands the directory to the bridge unless the service library is loaded already, and finds
   * out whether it loaded. Runs under OPEN_LOCK.
   */
  private static ServiceStatus loadService(Builder options) {
    String dir = options.serviceDir;
    applyCallbackThreads(options);
    if (loadedDirectory != null) {
      if (!loadedDirectory.equals(dir)) {
        REPORTS.warn("VeltrixClient.open(\"" + dir + "\"): the service library was loaded from "
            + loadedDirectory + " and stays in force; " + dir + " is not used (the library"
            + " loads once per process)");
      }
      return ServiceStatus.loaded(dir, loadedDirectory);
    }
    bridge.startWatching();
    try {
      bridge.setJniEnv(dir);
      // geterrstring reads nothing and changes nothing: it answers the service's text when the
      // library is loaded, else the bridge's "function address is null." (and the bridge logs
      // the missing entry, after the loader's lines).
      String probe = bridge.geterrstring(0, 0);
      if (probe != null && !probe.equals(NO_FUNCTION_TEXT)) {
        loadedDirectory = dir;
        return ServiceStatus.loaded(dir, dir);
      }
      List<LogLine> lines;
      try {
        lines = bridge.awaitMessage("function address of pfngeterrstring is null.",
            LOAD_LINES_WAIT_MS);
      } catch (InterruptedException e) {
        Thread.currentThread().interrupt();
        return ServiceStatus.notLoaded(dir, "interrupted while waiting for the loader's lines");
      }
      if (lines == null) {
        return ServiceStatus.notLoaded(dir, "the bridge's log lines did not tell within "
            + LOAD_LINES_WAIT_MS / 1000 + " s whether the service library loaded");
      }
      int from = 0;
      for (int i = 0; i < lines.size(); i++) {
        if (lines.get(i).isFromBridge() && lines.get(i).message().startsWith("dir is ")) {
          from = i;
        }
      }
      for (LogLine line : lines.subList(from, lines.size())) {
        if (line.tag() == LogLine.Tag.ERROR && line.message().startsWith("LoadLibrary Fail")) {
          return ServiceStatus.notLoaded(dir, line.message());
        }
      }
      loadedDirectory = dir; // loaded, only without geterrstring
      return ServiceStatus.loaded(dir, dir);
    } finally {
      bridge.stopWatching();
    }
  }

  /**
   * A client over an API object whose {@link NativeAPI#setJniEnv(String)} the caller calls. The
   * client replaces the object's byte-level listeners, and {@link #close()} removes them.
   *
   * @param api the API object
   * @return the client
   * @deprecated outside the one-client model: such a client and one from {@link #open} must not
   *     be used in the same JVM, since the bridge binds its log thread to one object. Use {@link
   *     #open(String)}.
   */
  @Deprecated
  public static VeltrixClient wrap(NativeAPI api) {
    final VeltrixClient client = new VeltrixClient(api, false, null, null, null);
    api.setLogListener(line -> client.deliverLogLine(line, null));
    api.setDataListener(client::deliverEvent);
    client.status = ServiceStatus.notLoaded("", "not known: the caller calls setJniEnv");
    return client;
  }

  /**
   * Whether the service library is loaded, from which directory, and why not.
   *
   * @return the status found at open
   */
  public ServiceStatus serviceStatus() {
    return status;
  }

  /**
   * Whether {@link #close()} was called.
   *
   * @return true once closed
   */
  public boolean isClosed() {
    return closed;
  }

  /**
   * The API object underneath, for the raw byte arrays: the JVM's one callback object, shared by
   * every client. Its listeners cannot be set (the client's are used).
   *
   * @return the object
   * @throws IllegalStateException once the client is closed
   */
  public NativeAPI nativeApi() {
    if (closed) {
      throw new IllegalStateException("the client is closed");
    }
    return api;
  }

  /**
   * Sets the log listener.
   *
   * @param listener the listener, or null to send lines to the platform logger
   */
  public void setLogListener(LogLineListener listener) {
    logListener = listener;
  }

  /**
   * Sets the callback listener.
   *
   * @param listener the listener, or null to drop pushed messages
   */
  public void setCallbackListener(CallbackListener listener) {
    callbackListener = listener;
  }

  /**
   * Closes the client: stops the service if {@link #start(String)} succeeded and it was not
   * stopped since, unhooks the listeners and waits for a listener call in progress on another
   * thread to return (not for one on this thread: a listener may close its client). From then
   * on every call answers {@link NativeAPI#CODE_CLIENT_CLOSED} without native code, and {@link
   * #open} may open another client. Closing again does nothing.
   */
  @Override
  public void close() {
    synchronized (this) {
      if (closed) {
        return;
      }
      if (started.getAndSet(false)) {
        api.stop();
      }
      closed = true;
    }
    if (routed) {
      synchronized (OPEN_LOCK) {
        if (current == this) {
          current = null;
          bridge.route(null);
        }
      }
    } else {
      api.setLogListener(null);
      api.setDataListener(null);
    }
    int[] own = depth.get();
    int mine = own == null ? 0 : own[0];
    boolean interrupted = false;
    synchronized (inFlight) {
      while (inFlight.get() > mine) {
        try {
          inFlight.wait();
        } catch (InterruptedException e) {
          interrupted = true;
        }
      }
    }
    if (interrupted) {
      Thread.currentThread().interrupt();
    }
  }

  // ---- Delivery -----------------------------------------------------------------------------

  /** Log lines keep one order; events one per kind and request number. */
  private static final long LOG_STREAM = Long.MIN_VALUE;

  void deliverLogLine(byte[] bytes, LogLine parsed) {
    final LogLine line = parsed != null ? parsed : LogLine.parse(bytes);
    if (dispatch == null) {
      deliverLine(line);
    } else {
      dispatch.submit(LOG_STREAM, () -> deliverLine(line));
    }
  }

  void deliverEvent(byte[] message, int kind) {
    if (callbackListener == null) {
      return; // nothing to decode for
    }
    final CallbackEvent event = CallbackEvent.decode(message, kind);
    if (dispatch == null) {
      deliverEventNow(event);
    } else {
      long stream = (long) kind << 32;
      if (kind >= 1 && kind <= 3) {
        stream |= event.requestNumber() & 0xFFFFFFFFL;
      }
      dispatch.submit(stream, () -> deliverEventNow(event));
    }
  }

  private void deliverLine(LogLine line) {
    if (!enter()) {
      logger.log(line); // the client closed meanwhile: the line is not lost
      return;
    }
    try {
      LogLineListener listener = logListener;
      if (listener == null) {
        logger.log(line);
        return;
      }
      try {
        listener.onLogLine(line);
      } catch (Throwable thrown) {
        logger.listenerFailed("log listener, on the line \"" + line + "\",", thrown);
      }
    } finally {
      exit();
    }
  }

  private void deliverEventNow(CallbackEvent event) {
    if (!enter()) {
      return;
    }
    try {
      CallbackListener listener = callbackListener;
      if (listener == null) {
        return;
      }
      try {
        listener.onEvent(event);
      } catch (Throwable thrown) {
        logger.listenerFailed("callback listener, on " + event + ",", thrown);
      }
    } finally {
      exit();
    }
  }

  /** Counts a listener call in; false when the client is closed. */
  private boolean enter() {
    inFlight.incrementAndGet();
    if (closed) {
      leave();
      return false;
    }
    int[] own = depth.get();
    if (own == null) {
      own = new int[1];
      depth.set(own);
    }
    own[0]++;
    return true;
  }

  private void exit() {
    depth.get()[0]--;
    leave();
  }

  private void leave() {
    inFlight.decrementAndGet();
    if (closed) {
      synchronized (inFlight) {
        inFlight.notifyAll();
      }
    }
  }

  // ---- Service control --------------------------------------------------------------------

  /**
   * Starts the service. {@link #close()} stops it again.
   *
   * @param options the service's option string
   * @return the service's code, {@link NativeAPI#CODE_MISSING_FUNCTION}, or {@link
   *     NativeAPI#CODE_CLIENT_CLOSED}
   */
  public int start(String options) {
    if (closed) {
      return NativeAPI.CODE_CLIENT_CLOSED;
    }
    int code = api.start(options);
    if (code == 0) {
      started.set(true);
    }
    return code;
  }

  /**
   * Stops the service; its streams end.
   *
   * @return the service's code, {@link NativeAPI#CODE_MISSING_FUNCTION}, or {@link
   *     NativeAPI#CODE_CLIENT_CLOSED}
   */
  public int stop() {
    if (closed) {
      return NativeAPI.CODE_CLIENT_CLOSED;
    }
    started.set(false);
    return api.stop();
  }

  /**
   * The service's text for a result code. The two codes of the Java side ({@link
   * NativeAPI#CODE_CLIENT_CLOSED}, {@link NativeAPI#CODE_UNDECODABLE}) have texts of their own; a
   * closed client has no others.
   *
   * @param code the code
   * @return the text
   */
  public String errorText(int code) {
    return errorText(code, false);
  }

  /**
   * The service's text for a result code, in its short or its detailed form.
   *
   * @param code the code
   * @param detailed true for the detailed form (flag 1)
   * @return the text
   */
  public String errorText(int code, boolean detailed) {
    if (code == NativeAPI.CODE_CLIENT_CLOSED) {
      return "the client is closed";
    }
    if (code == NativeAPI.CODE_UNDECODABLE) {
      return "the reply could not be decoded";
    }
    if (closed) {
      return "no text for code " + code + ": the client is closed";
    }
    return api.geterrstring(code, detailed ? 1 : 0);
  }

  /**
   * Names the server list directory (nothing once the client is closed).
   *
   * @param dir the directory
   */
  public void setServerListDir(String dir) {
    if (!closed) {
      api.setserverlistdir(dir);
    }
  }

  /**
   * Sets the proxy.
   *
   * @param kind proxy kind
   * @param host proxy host
   * @param port proxy port (0 to 65535)
   * @param flag passed as a boolean
   * @param user first trailing text
   * @param password second trailing text
   * @return the service's code, {@link NativeAPI#CODE_MISSING_FUNCTION}, or {@link
   *     NativeAPI#CODE_CLIENT_CLOSED}
   */
  public int setProxy(int kind, String host, int port, boolean flag, String user,
      String password) {
    return closed ? NativeAPI.CODE_CLIENT_CLOSED
        : api.setproxy(kind, host, port, flag, user, password);
  }

  // ---- Queries ----------------------------------------------------------------------------

  /**
   * Daily series ({@code csd}).
   *
   * @param codes comma-separated codes
   * @param fields comma-separated fields
   * @param begin first date
   * @param end last date
   * @param options option string
   * @return the result: codes x fields x dates
   */
  public QueryResult csd(String codes, String fields, String begin, String end, String options) {
    return closed ? QueryResult.failed("csd", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("csd", api.csd(codes, fields, begin, end, options));
  }

  /**
   * Cross-section values of one day ({@code css}).
   *
   * @param codes comma-separated codes
   * @param fields comma-separated fields
   * @param options option string
   * @return the result
   */
  public QueryResult css(String codes, String fields, String options) {
    return closed ? QueryResult.failed("css", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("css", api.css(codes, fields, options));
  }

  /**
   * The trading days of a period ({@code tradedates}).
   *
   * @param begin first date
   * @param end last date
   * @param options option string
   * @return the result; the dates are its {@link DataCube#dates()}
   */
  public QueryResult tradedates(String begin, String end, String options) {
    return closed ? QueryResult.failed("tradedates", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("tradedates", api.tradedates(begin, end, options));
  }

  /**
   * The number of trading days of a period ({@code tradedatesnum}).
   *
   * @param begin first date
   * @param end last date
   * @param options option string
   * @return the code and the count
   */
  public CountResult tradedatesnum(String begin, String end, String options) {
    return closed ? CountResult.failed(NativeAPI.CODE_CLIENT_CLOSED)
        : CountResult.of(api.tradedatesnum(begin, end, options));
  }

  /**
   * The members of a sector ({@code sector}).
   *
   * @param sector the sector
   * @param date the date
   * @param options option string
   * @return the result
   */
  public QueryResult sector(String sector, String date, String options) {
    return closed ? QueryResult.failed("sector", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("sector", api.sector(sector, date, options));
  }

  /**
   * A date shifted by trading days ({@code getdate}).
   *
   * @param date the date
   * @param offset the number of trading days, negative for earlier
   * @param options option string
   * @return the result
   */
  public QueryResult getdate(String date, int offset, String options) {
    return closed ? QueryResult.failed("getdate", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("getdate", api.getdate(date, offset, options));
  }

  /**
   * Query {@code csc}.
   *
   * @param codes codes
   * @param fields fields
   * @param begin first date
   * @param end last date
   * @param options option string
   * @return the result
   */
  public QueryResult csc(String codes, String fields, String begin, String end, String options) {
    return closed ? QueryResult.failed("csc", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("csc", api.csc(codes, fields, begin, end, options));
  }

  /**
   * Query {@code cmc}.
   *
   * @param codes codes
   * @param fields fields
   * @param begin first date
   * @param end last date
   * @param options option string
   * @return the result
   */
  public QueryResult cmc(String codes, String fields, String begin, String end, String options) {
    return closed ? QueryResult.failed("cmc", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("cmc", api.cmc(codes, fields, begin, end, options));
  }

  /**
   * Query {@code chmc}.
   *
   * @param codes codes
   * @param fields fields
   * @param begin first date
   * @param end last date
   * @param options option string
   * @return the result
   */
  public QueryResult chmc(String codes, String fields, String begin, String end, String options) {
    return closed ? QueryResult.failed("chmc", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("chmc", api.chmc(codes, fields, begin, end, options));
  }

  /**
   * A quote snapshot ({@code csqsnapshot}).
   *
   * @param codes comma-separated codes
   * @param fields comma-separated fields
   * @param options option string
   * @return the result
   */
  public QueryResult csqsnapshot(String codes, String fields, String options) {
    return closed ? QueryResult.failed("csqsnapshot", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("csqsnapshot", api.csqsnapshot(codes, fields, options));
  }

  /**
   * A report table ({@code ctr}).
   *
   * @param report the report's name
   * @param fields comma-separated columns
   * @param options option string
   * @return the result, holding a {@link DataGrid}
   */
  public QueryResult ctr(String report, String fields, String options) {
    return closed ? QueryResult.failed("ctr", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofGrid("ctr", api.ctr(report, fields, options));
  }

  /**
   * Query {@code cps}.
   *
   * @param codes codes
   * @param fields fields
   * @param conditions conditions
   * @param options option string
   * @return the result
   */
  public QueryResult cps(String codes, String fields, String conditions, String options) {
    return closed ? QueryResult.failed("cps", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("cps", api.cps(codes, fields, conditions, options));
  }

  /**
   * The positions of a portfolio ({@code pquery}).
   *
   * @param portfolio the portfolio, or an option string naming it
   * @return the result
   */
  public QueryResult pquery(String portfolio) {
    return closed ? QueryResult.failed("pquery", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("pquery", api.pquery(portfolio));
  }

  /**
   * A report on a portfolio ({@code preport}).
   *
   * @param portfolio the portfolio
   * @param report the report's name
   * @param options option string
   * @return the result
   */
  public QueryResult preport(String portfolio, String report, String options) {
    return closed ? QueryResult.failed("preport", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("preport", api.preport(portfolio, report, options));
  }

  /**
   * Economic data series ({@code edb}).
   *
   * @param ids comma-separated series ids
   * @param options option string
   * @return the result
   */
  public QueryResult edb(String ids, String options) {
    return closed ? QueryResult.failed("edb", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("edb", api.edb(ids, options));
  }

  /**
   * Query {@code edbquery}.
   *
   * @param ids series ids
   * @param fields fields
   * @param options option string
   * @return the result
   */
  public QueryResult edbquery(String ids, String fields, String options) {
    return closed ? QueryResult.failed("edbquery", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("edbquery", api.edbquery(ids, fields, options));
  }

  /**
   * Query {@code cfn}.
   *
   * @param codes codes
   * @param content content
   * @param mode a number passed unchanged
   * @param options option string
   * @return the result
   */
  public QueryResult cfn(String codes, String content, int mode, String options) {
    return closed ? QueryResult.failed("cfn", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("cfn", api.cfn(codes, content, mode, options));
  }

  /**
   * Query {@code cfnquery}.
   *
   * @param options option string
   * @return the result
   */
  public QueryResult cfnquery(String options) {
    return closed ? QueryResult.failed("cfnquery", NativeAPI.CODE_CLIENT_CLOSED)
        : QueryResult.ofCube("cfnquery", api.cfnquery(options));
  }

  // ---- Subscriptions ----------------------------------------------------------------------

  /**
   * Subscribes to real-time quotes ({@code csq}); they arrive as {@link CallbackEvent.Kind#CSQ}
   * events.
   *
   * @param codes comma-separated codes
   * @param fields comma-separated fields
   * @param options option string
   * @return the subscription
   */
  public Subscription csq(String codes, String fields, String options) {
    return closed ? Subscription.failed(CallbackEvent.Kind.CSQ, NativeAPI.CODE_CLIENT_CLOSED)
        : Subscription.of(CallbackEvent.Kind.CSQ, api.csq(codes, fields, options));
  }

  /**
   * Subscribes to intraday series ({@code cst}); they arrive as {@link CallbackEvent.Kind#CST}
   * events. There is no cancel for this kind: {@link #stop()} ends it.
   *
   * @param codes comma-separated codes
   * @param fields comma-separated fields
   * @param begin start time
   * @param end end time
   * @param options option string
   * @return the subscription
   */
  public Subscription cst(String codes, String fields, String begin, String end,
      String options) {
    return closed ? Subscription.failed(CallbackEvent.Kind.CST, NativeAPI.CODE_CLIENT_CLOSED)
        : Subscription.of(CallbackEvent.Kind.CST, api.cst(codes, fields, begin, end, options));
  }

  /**
   * Subscribes to news ({@code cnq}); they arrive as {@link CallbackEvent.Kind#CNQ} events.
   *
   * @param codes comma-separated codes
   * @param content what to receive
   * @param options option string
   * @return the subscription
   */
  public Subscription cnq(String codes, String content, String options) {
    return closed ? Subscription.failed(CallbackEvent.Kind.CNQ, NativeAPI.CODE_CLIENT_CLOSED)
        : Subscription.of(CallbackEvent.Kind.CNQ, api.cnq(codes, content, options));
  }

  /**
   * Cancels a {@code csq} or {@code cnq} subscription.
   *
   * @param subscription the subscription
   * @return the service's code, or {@link NativeAPI#CODE_MISSING_FUNCTION}
   * @throws IllegalArgumentException for a {@code cst} subscription, which has no cancel
   */
  public int cancel(Subscription subscription) {
    if (subscription.kind() != CallbackEvent.Kind.CST && closed) {
      return NativeAPI.CODE_CLIENT_CLOSED;
    }
    switch (subscription.kind()) {
      case CSQ:
        return api.csqcancel(subscription.requestNumber());
      case CNQ:
        return api.cnqcancel(subscription.requestNumber());
      default:
        throw new IllegalArgumentException(
            subscription.function() + " requests have no cancel; stop() ends them");
    }
  }

  // ---- Portfolios -------------------------------------------------------------------------

  /**
   * Creates a portfolio ({@code pcreate}).
   *
   * @param portfolio the portfolio's code
   * @param name its name
   * @param initialCash its initial cash
   * @param remark a remark
   * @param options option string
   * @return the service's code, or {@link NativeAPI#CODE_MISSING_FUNCTION}
   */
  public int pcreate(String portfolio, String name, long initialCash, String remark,
      String options) {
    return closed ? NativeAPI.CODE_CLIENT_CLOSED
        : api.pcreate(portfolio, name, initialCash, remark, options);
  }

  /**
   * Deletes a portfolio ({@code pdelete}).
   *
   * @param portfolio the portfolio's code
   * @param options option string
   * @return the service's code, or {@link NativeAPI#CODE_MISSING_FUNCTION}
   */
  public int pdelete(String portfolio, String options) {
    return closed ? NativeAPI.CODE_CLIENT_CLOSED : api.pdelete(portfolio, options);
  }

  /**
   * Moves cash in or out of a portfolio ({@code pctransfer}).
   *
   * @param portfolio the portfolio's code
   * @param direction the direction
   * @param date the date
   * @param amount the amount
   * @param remark a remark
   * @param options option string
   * @return the service's code, or {@link NativeAPI#CODE_MISSING_FUNCTION}
   */
  public int pctransfer(String portfolio, String direction, String date, double amount,
      String remark, String options) {
    return closed ? NativeAPI.CODE_CLIENT_CLOSED
        : api.pctransfer(portfolio, direction, date, amount, remark, options);
  }

  /**
   * Places orders given as a JSON order list ({@code porder}).
   *
   * @param json a non-empty JSON array of order objects
   * @param portfolio the portfolio's code
   * @param remark a remark
   * @param options option string
   * @return the service's code, or one of the bridge's codes: {@link
   *     NativeAPI#CODE_BAD_ORDER_JSON}, {@link NativeAPI#CODE_ORDER_LIST_NOT_ARRAY}, {@link
   *     NativeAPI#CODE_NO_MEMORY}, {@link NativeAPI#CODE_MISSING_FUNCTION}
   */
  public int porder(String json, String portfolio, String remark, String options) {
    return closed ? NativeAPI.CODE_CLIENT_CLOSED : api.porder(json, portfolio, remark, options);
  }

  /**
   * Places orders ({@code porder}).
   *
   * @param orders the orders, at least one
   * @param portfolio the portfolio's code
   * @param remark a remark
   * @param options option string
   * @return as {@link #porder(String, String, String, String)}
   */
  public int porder(List<Order> orders, String portfolio, String remark, String options) {
    return closed ? NativeAPI.CODE_CLIENT_CLOSED
        : api.porder(Order.toJson(orders), portfolio, remark, options);
  }
}
