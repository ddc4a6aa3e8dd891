package com.tarnwick.api;

import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * The typed way to use the bridge: every call of {@link NativeAPI} with its answer decoded into
 * an immutable result, and the bridge's callbacks delivered as {@link LogLine}s and {@link
 * CallbackEvent}s.
 *
 * <pre>{@code
 * try (VeltrixClient client = VeltrixClient.open("/opt/veltrix")) {
 *   client.start("");
 *   QueryResult bars = client.csd("600519.SH", "CLOSE,VOLUME", "2024-06-24", "2024-06-28", "");
 *   if (bars.isOk()) {
 *     for (String date : bars.cube().dates()) {
 *       System.out.println(date + " " + bars.cube().value("600519.SH", "CLOSE", date).asDouble());
 *     }
 *   } else {
 *     System.out.println(client.errorText(bars.code()));
 *   }
 * }
 * }</pre>
 *
 * <p>Failures do not throw: each method answers with a result that carries the code (0 for
 * success, else the service's code or one of the bridge's codes in {@link NativeAPI}). Only bytes
 * that do not follow the bridge's layouts throw, as {@link
 * com.tarnwick.api.wire.WireFormatException}.
 *
 * <p>Log lines go to the listener set with {@link #setLogListener(LogLineListener)}; without one
 * they go to the platform logger {@value #LOGGER_NAME} ({@code System.Logger} where the runtime
 * has it, {@code java.util.logging} on Java 8): the bridge's debug lines at DEBUG, its error lines
 * at ERROR, the service library's lines at INFO. Pushed messages go to the listener set with
 * {@link #setCallbackListener(CallbackListener)}; without one they are dropped.
 *
 * <p>The text arguments are passed to the service library unchanged; their meaning is the
 * service's. The parameter names below say what they usually hold.
 */
public final class VeltrixClient implements AutoCloseable {
  /** The name of the logger that receives the log lines no listener takes. */
  public static final String LOGGER_NAME = "com.tarnwick.api.bridge";

  private final NativeAPI api;
  private final BridgeLogger logger = BridgeLogger.named(LOGGER_NAME);
  private final AtomicBoolean started = new AtomicBoolean();
  private volatile LogLineListener logListener;
  private volatile CallbackListener callbackListener;

  private VeltrixClient(NativeAPI api, LogLineListener logListener,
      CallbackListener callbackListener) {
    this.api = api;
    this.logListener = logListener;
    this.callbackListener = callbackListener;
    api.setLogListener(this::deliverLogLine);
    api.setDataListener(this::deliverEvent);
  }

  /**
   * Loads the bridge (with the class {@link NativeAPI}) and the service library from {@code
   * serviceDir}. Log lines go to the platform logger until a listener is set.
   *
   * @param serviceDir the directory that holds the service library
   * @return the client
   * @throws UnsatisfiedLinkError if the bridge library cannot be loaded
   */
  public static VeltrixClient open(String serviceDir) {
    return open(serviceDir, null, null);
  }

  /**
   * Loads the bridge and the service library, with listeners in place from the start, so that
   * they also see the lines the bridge wrote while it loaded.
   *
   * @param serviceDir the directory that holds the service library
   * @param logListener the log listener, or null for the platform logger
   * @param callbackListener the callback listener, or null
   * @return the client
   * @throws UnsatisfiedLinkError if the bridge library cannot be loaded
   */
  public static VeltrixClient open(String serviceDir, LogLineListener logListener,
      CallbackListener callbackListener) {
    VeltrixClient client = new VeltrixClient(new NativeAPI(), logListener, callbackListener);
    client.api.setJniEnv(serviceDir);
    return client;
  }

  /**
   * A client over an API object whose {@link NativeAPI#setJniEnv(String)} the caller calls. The
   * client replaces the object's byte-level listeners.
   *
   * @param api the API object
   * @return the client
   */
  public static VeltrixClient wrap(NativeAPI api) {
    return new VeltrixClient(api, null, null);
  }

  /**
   * The API object underneath, for the raw byte arrays.
   *
   * @return the object
   */
  public NativeAPI nativeApi() {
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

  private void deliverLogLine(byte[] bytes) {
    LogLine line = LogLine.parse(bytes);
    LogLineListener listener = logListener;
    if (listener == null) {
      logger.log(line);
      return;
    }
    try {
      listener.onLogLine(line);
    } catch (RuntimeException e) {
      logger.warn("log listener failed on: " + line, e);
    }
  }

  private void deliverEvent(byte[] message, int kind) {
    CallbackListener listener = callbackListener;
    if (listener == null) {
      return;
    }
    try {
      listener.onEvent(CallbackEvent.decode(message, kind));
    } catch (RuntimeException e) {
      logger.warn("callback listener failed on a message of kind " + kind, e);
    }
  }

  // ---- Service control --------------------------------------------------------------------

  /**
   * Starts the service.
   *
   * @param options the service's option string
   * @return the service's code, or {@link NativeAPI#CODE_MISSING_FUNCTION}
   */
  public int start(String options) {
    int code = api.start(options);
    if (code == 0) {
      started.set(true);
    }
    return code;
  }

  /**
   * Stops the service; its streams end.
   *
   * @return the service's code, or {@link NativeAPI#CODE_MISSING_FUNCTION}
   */
  public int stop() {
    started.set(false);
    return api.stop();
  }

  /** Stops the service if {@link #start(String)} succeeded and it was not stopped since. */
  @Override
  public void close() {
    if (started.getAndSet(false)) {
      api.stop();
    }
  }

  /**
   * The service's text for a result code.
   *
   * @param code the code
   * @return the text
   */
  public String errorText(int code) {
    return api.geterrstring(code, 0);
  }

  /**
   * The service's text for a result code, in its short or its detailed form.
   *
   * @param code the code
   * @param detailed true for the detailed form (flag 1)
   * @return the text
   */
  public String errorText(int code, boolean detailed) {
    return api.geterrstring(code, detailed ? 1 : 0);
  }

  /**
   * Names the server list directory.
   *
   * @param dir the directory
   */
  public void setServerListDir(String dir) {
    api.setserverlistdir(dir);
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
   * @return the service's code, or {@link NativeAPI#CODE_MISSING_FUNCTION}
   */
  public int setProxy(int kind, String host, int port, boolean flag, String user,
      String password) {
    return api.setproxy(kind, host, port, flag, user, password);
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
    return QueryResult.ofCube("csd", api.csd(codes, fields, begin, end, options));
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
    return QueryResult.ofCube("css", api.css(codes, fields, options));
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
    return QueryResult.ofCube("tradedates", api.tradedates(begin, end, options));
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
    return CountResult.of(api.tradedatesnum(begin, end, options));
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
    return QueryResult.ofCube("sector", api.sector(sector, date, options));
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
    return QueryResult.ofCube("getdate", api.getdate(date, offset, options));
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
    return QueryResult.ofCube("csc", api.csc(codes, fields, begin, end, options));
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
    return QueryResult.ofCube("cmc", api.cmc(codes, fields, begin, end, options));
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
    return QueryResult.ofCube("chmc", api.chmc(codes, fields, begin, end, options));
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
    return QueryResult.ofCube("csqsnapshot", api.csqsnapshot(codes, fields, options));
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
    return QueryResult.ofGrid("ctr", api.ctr(report, fields, options));
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
    return QueryResult.ofCube("cps", api.cps(codes, fields, conditions, options));
  }

  /**
   * The positions of a portfolio ({@code pquery}).
   *
   * @param portfolio the portfolio, or an option string naming it
   * @return the result
   */
  public QueryResult pquery(String portfolio) {
    return QueryResult.ofCube("pquery", api.pquery(portfolio));
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
    return QueryResult.ofCube("preport", api.preport(portfolio, report, options));
  }

  /**
   * Economic data series ({@code edb}).
   *
   * @param ids comma-separated series ids
   * @param options option string
   * @return the result
   */
  public QueryResult edb(String ids, String options) {
    return QueryResult.ofCube("edb", api.edb(ids, options));
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
    return QueryResult.ofCube("edbquery", api.edbquery(ids, fields, options));
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
    return QueryResult.ofCube("cfn", api.cfn(codes, content, mode, options));
  }

  /**
   * Query {@code cfnquery}.
   *
   * @param options option string
   * @return the result
   */
  public QueryResult cfnquery(String options) {
    return QueryResult.ofCube("cfnquery", api.cfnquery(options));
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
    return Subscription.of(CallbackEvent.Kind.CSQ, api.csq(codes, fields, options));
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
    return Subscription.of(CallbackEvent.Kind.CST, api.cst(codes, fields, begin, end, options));
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
    return Subscription.of(CallbackEvent.Kind.CNQ, api.cnq(codes, content, options));
  }

  /**
   * Cancels a {@code csq} or {@code cnq} subscription.
   *
   * @param subscription the subscription
   * @return the service's code, or {@link NativeAPI#CODE_MISSING_FUNCTION}
   * @throws IllegalArgumentException for a {@code cst} subscription, which has no cancel
   */
  public int cancel(Subscription subscription) {
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
    return api.pcreate(portfolio, name, initialCash, remark, options);
  }

  /**
   * Deletes a portfolio ({@code pdelete}).
   *
   * @param portfolio the portfolio's code
   * @param options option string
   * @return the service's code, or {@link NativeAPI#CODE_MISSING_FUNCTION}
   */
  public int pdelete(String portfolio, String options) {
    return api.pdelete(portfolio, options);
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
    return api.pctransfer(portfolio, direction, date, amount, remark, options);
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
    return api.porder(json, portfolio, remark, options);
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
    return api.porder(Order.toJson(orders), portfolio, remark, options);
  }
}
