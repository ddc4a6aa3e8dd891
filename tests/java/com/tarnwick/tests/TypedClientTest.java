package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.tarnwick.api.CallbackEvent;
import com.tarnwick.api.CallbackListener;
import com.tarnwick.api.CountResult;
import com.tarnwick.api.DataCube;
import com.tarnwick.api.DataGrid;
import com.tarnwick.api.DataValue;
import com.tarnwick.api.LogLine;
import com.tarnwick.api.LogLineListener;
import com.tarnwick.api.NativeAPI;
import com.tarnwick.api.NativeLoader;
import com.tarnwick.api.Order;
import com.tarnwick.api.QueryResult;
import com.tarnwick.api.Subscription;
import com.tarnwick.api.VeltrixClient;
import com.tarnwick.sim.SimControl;
import java.io.File;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Predicate;
import java.util.logging.Handler;
import java.util.logging.Level;
import java.util.logging.LogRecord;
import java.util.logging.Logger;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * VeltrixClient against the simulated service through the real bridge: typed results of every
 * query family and every value type, subscriptions and their events, orders, error texts, log
 * lines to a listener and to the platform logger, and where the loader finds the bridge.
 */
class TypedClientTest {
  private static final long WAIT_MS = 20_000;

  /** Things that arrive on other threads, kept in order, with a wait for a matching one. */
  static final class Inbox<T> {
    private final List<T> items = new ArrayList<>();

    synchronized void add(T item) {
      items.add(item);
      notifyAll();
    }

    synchronized List<T> snapshot() {
      return new ArrayList<>(items);
    }

    synchronized void clear() {
      items.clear();
    }

    /** The first item from index `from` on that matches; fails after WAIT_MS. */
    synchronized T await(Predicate<T> match, int from) throws InterruptedException {
      long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(WAIT_MS);
      while (true) {
        for (int i = from; i < items.size(); i++) {
          if (match.test(items.get(i))) {
            return items.get(i);
          }
        }
        long left = TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime());
        if (left <= 0) {
          fail("nothing matched in " + items);
        }
        wait(left);
      }
    }

    synchronized int size() {
      return items.size();
    }
  }

  /** A java.util.logging handler that adds every record it is given to `records`. */
  static Handler recordsInto(Inbox<LogRecord> records) {
    return new Handler() {
      @Override
      public void publish(LogRecord record) {
        records.add(record);
      }

      @Override
      public void flush() {}

      @Override
      public void close() {}
    };
  }

  private static final Inbox<LogLine> lines = new Inbox<>();
  private static final Inbox<CallbackEvent> events = new Inbox<>();
  private static final LogLineListener logListener = lines::add;
  private static final CallbackListener callbackListener = events::add;
  // Held so that java.util.logging, which keeps loggers by weak reference, keeps the handlers
  // the tests add to it.
  private static final Logger bridgeLogger = Logger.getLogger(VeltrixClient.LOGGER_NAME);
  private static VeltrixClient client;
  private static String simDir;

  @BeforeAll
  static void openTheClient() {
    simDir = SimDirs.defaultDir();
    client = VeltrixClient.open(simDir, logListener, callbackListener);
    SimControl.load(simDir);
    assertEquals(0, client.start(""));
  }

  @BeforeEach
  void defaultMode() {
    SimControl.reset();
    SimControl.setStreaming(false, 0);
    events.clear();
    client.setLogListener(logListener);
    client.setCallbackListener(callbackListener);
  }

  @AfterEach
  void noContractBreaches() {
    assertArrayEquals(new String[0], SimControl.errors(), "the sim saw contract breaches");
    SimControl.reset();
  }

  @Test
  void theBridgesFirstLinesArriveParsed() throws InterruptedException {
    LogLine first = lines.await(line -> line.message().equals("JNI_OnLoad startup ..."), 0);
    assertEquals(LogLine.Tag.DEBUG, first.tag());
    assertTrue(first.timestamp().isPresent());
    LogLine dir = lines.await(line -> line.message().equals("dir is " + simDir), 0);
    assertEquals(LogLine.Tag.DEBUG, dir.tag());
  }

  @Test
  void dailySeriesComeAsTypedValuesInDateOrder() {
    QueryResult result = client.csd("600519.SH,00700.HK", "CLOSE,VOLUME,PCTCHG,NAME",
        "2024-06-24", "2024-06-28", "");
    assertTrue(result.isOk(), result.toString());
    DataCube cube = result.cube();
    assertEquals(Arrays.asList("600519.SH", "00700.HK"), cube.codes());
    assertEquals(Arrays.asList("CLOSE", "VOLUME", "PCTCHG", "NAME"), cube.fields());
    assertEquals(Arrays.asList("20240624", "20240625", "20240626", "20240627", "20240628"),
        cube.dates());
    assertEquals(1468.00, cube.value("600519.SH", "CLOSE", "20240628").asDouble());
    assertEquals(368.20, cube.value("00700.HK", "CLOSE", "20240628").asDouble());
    List<DataValue> closes = cube.series("600519.SH", "CLOSE");
    List<DataValue> changes = cube.series("600519.SH", "PCTCHG");
    for (int day = 1; day < closes.size(); day++) {
      assertEquals(DataValue.Type.DOUBLE, closes.get(day).type());
      assertEquals(DataValue.Type.FLOAT, changes.get(day).type());
      double expected = (closes.get(day).asDouble() / closes.get(day - 1).asDouble() - 1) * 100;
      assertEquals(expected, changes.get(day).asDouble(), 0.006, "day " + day);
    }
    DataValue volume = cube.value("00700.HK", "VOLUME", "20240626");
    assertEquals(DataValue.Type.INT64, volume.type());
    assertTrue(volume.asLong() > 0);
    // The name went from the sim's UTF-8 text into the process code page (UTF-8 here) and
    // back out as UTF-8.
    assertEquals("\u8d64\u6c34\u9152\u4e1a", cube.value("600519.SH", "NAME", "20240626").asText());
  }

  @Test
  void everyValueTypeSurvivesTheBridge() {
    assertEquals(0, SimControl.scriptCube("L1=\"b\",\"i8\",\"u8\",\"i16\",\"u16\",\"i32\",\"u32\","
        + "\"i64\",\"u64\",\"f\",\"d\",\"bytes\",\"text\",\"raw\",\"none\",\"t15\";L2=\"F\";"
        + "L3=\"D\";V=1:1,2:-1,3:255,4:-2,5:65535,6:-3,7:4294967295,8:-4,9:-1,10:f1.5,11:d-2.25,"
        + "12:\"\\x00\\xFFz\",13:\"\\xE4\\xB8\\xAD\\xE6\\x96\\x87\",14:\"raw\",0,15"),
        SimControl.dslError());
    DataCube cube = client.cfnquery("x").cube();
    Object[][] expected = {
      {"b", DataValue.Type.BOOLEAN, Boolean.TRUE},
      {"i8", DataValue.Type.INT8, (byte) -1},
      {"u8", DataValue.Type.UINT8, (short) 255},
      {"i16", DataValue.Type.INT16, (short) -2},
      {"u16", DataValue.Type.UINT16, 65535},
      {"i32", DataValue.Type.INT32, -3},
      {"u32", DataValue.Type.UINT32, 4294967295L},
      {"i64", DataValue.Type.INT64, -4L},
      {"u64", DataValue.Type.UINT64, new java.math.BigInteger("18446744073709551615")},
      {"f", DataValue.Type.FLOAT, 1.5f},
      {"d", DataValue.Type.DOUBLE, -2.25},
      {"text", DataValue.Type.TEXT, "\u4e2d\u6587"},
      {"none", DataValue.Type.EMPTY, null},
      {"t15", DataValue.Type.EMPTY, null},
    };
    for (Object[] e : expected) {
      DataValue value = cube.value((String) e[0], "F");
      assertEquals(e[1], value.type(), (String) e[0]);
      assertEquals(e[2], value.asObject(), (String) e[0]);
    }
    assertArrayEquals(new byte[] {0, (byte) 0xFF, 'z'}, cube.value("bytes", "F").asBytes());
    DataValue raw = cube.value("raw", "F"); // tag 14 bytes without a NUL
    assertEquals(DataValue.Type.BYTES, raw.type());
    assertArrayEquals("raw".getBytes(StandardCharsets.US_ASCII), raw.asBytes());
  }

  @Test
  void snapshotsCalendarsDatesAndReports() {
    DataCube snapshot = client.css("600000.SH,01299.HK", "NAME,TRADESTATUS,LOTSIZE,LISTDATE", "")
        .cube();
    assertEquals("\u6d66\u6c5f\u53d1\u5c55\u94f6\u884c", snapshot.value("600000.SH", "NAME")
        .asText());
    assertEquals("Cr\u00e9dit Lumi\u00e8re Asia", snapshot.value("01299.HK", "NAME").asText());
    assertTrue(snapshot.value("600000.SH", "TRADESTATUS").asBoolean());
    assertEquals(200, snapshot.value("01299.HK", "LOTSIZE").asInt());
    assertEquals(DataValue.Type.INT16, snapshot.value("01299.HK", "LOTSIZE").type());
    assertEquals(19991110, snapshot.value("600000.SH", "LISTDATE").asInt());

    DataCube dates = client.tradedates("20240101", "20240131", "").cube();
    CountResult count = client.tradedatesnum("20240101", "20240131", "");
    assertTrue(count.isOk());
    assertEquals(dates.dates().size(), count.count());
    assertFalse(dates.dates().contains("20240101"), "New Year's Day");
    assertEquals(20240102, dates.value("CALENDAR", "TRADE_DATE", "20240102").asInt());

    DataCube shifted = client.getdate("20240430", 1, "").cube();
    assertEquals(20240506, shifted.values().get(0).asInt());

    QueryResult report = client.ctr("TOP_GAINERS", "CODE,NAME,PCTCHG", "");
    DataGrid grid = report.grid();
    assertEquals(Arrays.asList("CODE", "NAME", "PCTCHG"), grid.columns());
    assertEquals(5, grid.rowCount());
    for (int row = 1; row < grid.rowCount(); row++) {
      assertTrue(grid.value(row - 1, "PCTCHG").asDouble() >= grid.value(row, "PCTCHG").asDouble());
    }
  }

  @Test
  void failuresCarryTheirCodeAndTheServiceExplainsIt() {
    SimControl.setNextCode(-1);
    QueryResult failed = client.css("600000.SH", "CLOSE", "");
    assertFalse(failed.isOk());
    assertEquals(-1, failed.code());
    assertEquals(QueryResult.Shape.NONE, failed.shape());
    assertThrows(IllegalStateException.class, failed::cube);
    assertEquals("operation failed", client.errorText(-1));
    assertEquals("code -1: operation failed", client.errorText(-1, true));
    assertEquals("the order list is not valid JSON",
        client.errorText(NativeAPI.CODE_BAD_ORDER_JSON));
  }

  @Test
  void quotesArriveAsEventsUntilCancelled() throws InterruptedException {
    SimControl.setStreaming(true, 5);
    Subscription quotes = client.csq("600519.SH,300750.SZ", "RT_LAST,RT_VOL", "");
    assertTrue(quotes.isOk(), quotes.toString());
    assertEquals(CallbackEvent.Kind.CSQ, quotes.kind());
    CallbackEvent third = events.await(event -> event.word4() == 2, 0);
    assertEquals(0, client.cancel(quotes));
    assertEquals(quotes.requestNumber(), third.requestNumber());
    assertEquals(CallbackEvent.Kind.CSQ, third.kind());
    assertEquals(0, third.errorCode());
    DataCube cube = third.cube().orElseThrow(AssertionError::new);
    assertEquals(Arrays.asList("600519.SH", "300750.SZ"), cube.codes());
    assertEquals(Arrays.asList("09:30:06"), cube.dates());
    assertEquals(DataValue.Type.DOUBLE, cube.value("600519.SH", "RT_LAST").type());
    assertEquals(DataValue.Type.INT64, cube.value("300750.SZ", "RT_VOL").type());

    int code = client.cancel(quotes);
    assertEquals(SimControl.CODE_UNKNOWN_REQUEST, code, "cancelled already");
    assertEquals("unknown request number", client.errorText(code));

    Subscription intraday = client.cst("600519.SH", "RT_LAST", "", "", "");
    assertTrue(intraday.isOk());
    assertThrows(IllegalArgumentException.class, () -> client.cancel(intraday));
    assertEquals(0, client.stop());
    assertEquals(0, SimControl.activeStreams());
    assertEquals(0, client.start(""));
  }

  @Test
  void newsArrivesAsTextEvents() throws InterruptedException {
    SimControl.setStreaming(true, 5);
    Subscription news = client.cnq("00700.HK", "TITLE,SOURCE", "");
    CallbackEvent item = events.await(event -> event.kind() == CallbackEvent.Kind.CNQ, 0);
    assertEquals(0, client.cancel(news));
    DataCube cube = item.cube().orElseThrow(AssertionError::new);
    String title = cube.value("00700.HK", "TITLE").asText();
    assertTrue(title.contains("Lotus Digital Holdings"), title);
    assertEquals(DataValue.Type.TEXT, cube.value("00700.HK", "SOURCE").type());
  }

  @Test
  void ordersReachTheServiceAsRecordsAndShowInThePortfolio() {
    assertEquals(0, client.pcreate("T1", "Typed", 100_000, "", ""));
    SimControl.clearCalls();
    List<Order> orders = Arrays.asList(
        Order.buy("000001.SZ", 1000).withPrice(10.5).withDate(20240628).withTime(93000)
            .withCost(5).withRate(0.25).withReserve(3),
        Order.buy("600000.SH", 2000));
    assertEquals(0, client.porder(orders, "T1", "note", ""));

    // The records as the service received them: 64 bytes each, in hex in the call log.
    String call = SimControl.calls()[0];
    assertTrue(call.startsWith("porder|"), call);
    String[] parts = call.split("\\|");
    assertEquals("2", parts[2]);
    assertEquals("T1", parts[3]);
    ByteBuffer record = ByteBuffer.wrap(hex(parts[1])).order(ByteOrder.LITTLE_ENDIAN);
    assertEquals("000001.SZ", new String(record.array(), 0, 9, StandardCharsets.US_ASCII));
    assertEquals(0, record.get(9));
    assertEquals(1000.0, record.getDouble(24));
    assertEquals(10.5f, record.getFloat(32));
    assertEquals(20240628, record.getInt(36));
    assertEquals(93000, record.getInt(40));
    assertEquals(Order.BUY, record.getInt(44));
    assertEquals(5.0f, record.getFloat(48));
    assertEquals(0.25f, record.getFloat(52));
    assertEquals(3, record.getInt(56));
    assertEquals(2000.0, record.getDouble(64 + 24));
    assertEquals(0.0f, record.getFloat(64 + 32), "no price: the day's close");

    DataCube positions = client.pquery("T1").cube();
    assertEquals(Arrays.asList("000001.SZ", "600000.SH", "CASH"), positions.codes());
    assertEquals(1000.0, positions.value("000001.SZ", "VOLUME").asDouble());
    assertEquals(7.85, positions.value("600000.SH", "LAST").asDouble());
    // 100,000 - 10,500 - 5 - 0.25 * 10,500 - 2,000 * 7.85
    assertEquals(100_000 - 10_500 - 5 - 2_625 - 15_700,
        positions.value("CASH", "VOLUME").asDouble(), 1e-6);

    assertEquals(NativeAPI.CODE_BAD_ORDER_JSON, client.porder("[{", "T1", "", ""));
    assertEquals(NativeAPI.CODE_ORDER_LIST_NOT_ARRAY,
        client.porder(new ArrayList<Order>(), "T1", "", ""));
    assertEquals(0, client.pdelete("T1", ""));
    assertEquals(Arrays.asList("CASH"), client.pquery("T1").cube().codes());
  }

  @Test
  void withoutAListenerLinesGoToThePlatformLogger() throws InterruptedException {
    Inbox<LogRecord> records = new Inbox<>();
    Handler handler = recordsInto(records);
    Logger logger = bridgeLogger;
    Level level = logger.getLevel();
    logger.setLevel(Level.ALL);
    logger.addHandler(handler);
    try {
      client.setLogListener(null);
      assertEquals(0, SimControl.emitLog("service says hello".getBytes(StandardCharsets.UTF_8), 1,
          0));
      LogRecord service =
          records.await(record -> record.getMessage().equals("service says hello"), 0);
      assertEquals(Level.INFO, service.getLevel());

      client.nativeApi().setJniEnv(simDir); // logs "dir is ..." again
      LogRecord debug = records.await(record -> record.getMessage().endsWith("dir is " + simDir),
          0);
      assertEquals(Level.FINE, debug.getLevel());
      assertTrue(debug.getMessage().startsWith("[Vx_Debug]["), debug.getMessage());

      // A listener that throws: the line is reported at WARNING with the exception.
      client.setLogListener(line -> {
        throw new IllegalStateException("listener broke");
      });
      SimControl.emitLog("second".getBytes(StandardCharsets.UTF_8), 1, 0);
      LogRecord warning = records.await(record -> record.getLevel() == Level.WARNING, 0);
      assertTrue(warning.getMessage().contains("second"), warning.getMessage());
      assertEquals("listener broke", warning.getThrown().getMessage());
    } finally {
      client.setLogListener(logListener);
      logger.removeHandler(handler);
      logger.setLevel(level);
    }
    // The bridge's log thread lives on: the listener gets the next line.
    int mark = lines.size();
    SimControl.emitLog("third".getBytes(StandardCharsets.UTF_8), 1, 0);
    assertEquals(LogLine.Tag.OTHER, lines.await(line -> line.message().equals("third"), mark)
        .tag());
  }

  /** What the listeners below throw: an Error, not an Exception. */
  static final class ListenerError extends Error {
    ListenerError(String message) {
      super(message);
    }
  }

  /** The platform logger's records while the body runs. */
  private static Inbox<LogRecord> recording(List<Handler> installed) {
    Inbox<LogRecord> records = new Inbox<>();
    Handler handler = recordsInto(records);
    bridgeLogger.addHandler(handler);
    installed.add(handler);
    return records;
  }

  @Test
  void anErrorFromEitherListenerIsReportedWithItsStackAndDeliveryGoesOn()
      throws InterruptedException {
    List<Handler> installed = new ArrayList<>();
    Inbox<LogRecord> records = recording(installed);
    try {
      client.setLogListener(line -> {
        if (line.message().equals("throw now")) {
          throw new ListenerError("from the log listener");
        }
        lines.add(line);
      });
      int mark = lines.size();
      SimControl.emitLog("throw now".getBytes(StandardCharsets.UTF_8), 1, 0);
      SimControl.emitLog("and after".getBytes(StandardCharsets.UTF_8), 1, 0);
      lines.await(line -> line.message().equals("and after"), mark);
      LogRecord logReport = records.await(record -> record.getThrown() instanceof ListenerError,
          0);
      assertEquals(Level.WARNING, logReport.getLevel());
      assertTrue(logReport.getMessage().contains("throw now"), logReport.getMessage());
      assertTrue(logReport.getThrown().getStackTrace().length > 0, "with its stack trace");

      client.setCallbackListener(event -> {
        if (event.word1() == 1) {
          throw new ListenerError("from the callback listener");
        }
        events.add(event);
      });
      assertEquals(0, SimControl.fire(SimControl.MAIN, 1, 2, "w1=1")); // on a service thread
      SimControl.fireWait();
      assertEquals(0, SimControl.fire(SimControl.MAIN, 0, 1, "w1=2")); // on this thread
      events.await(event -> event.word1() == 2, 0);
      records.await(record -> record.getThrown() != null
          && record.getThrown().getMessage().equals("from the callback listener"), 0);

      // The raw listeners of NativeAPI are held to the same contract.
      NativeAPI raw = new NativeAPI();
      raw.setDataListener((message, kind) -> {
        throw new ListenerError("from a data listener");
      });
      assertEquals(0, raw.dataAPICallBack(new byte[28], 0));
      records.await(record -> record.getThrown() != null
          && record.getThrown().getMessage().equals("from a data listener"), 0);
    } finally {
      installed.forEach(bridgeLogger::removeHandler);
    }
  }

  @Test
  void aPushedMessageThatCannotBeDecodedReachesTheListenerAsALostEvent()
      throws InterruptedException {
    // Straight into the entry point the bridge calls: a header whose length runs past the end.
    byte[] corrupt = new LeBuilder().i32(41).i32(1).i32(0).i32(0).i32(0).i64(100).i32(0).bytes();
    assertEquals(0, client.nativeApi().dataAPICallBack(corrupt, 1));
    CallbackEvent lost = events.await(event -> event.word1() == 41, 0);
    assertTrue(lost.isLost());
    assertEquals(NativeAPI.CODE_UNDECODABLE, lost.errorCode());
    assertArrayEquals(corrupt, lost.rawMessage().get());
  }

  @Test
  void anExecutorRunsTheListenersOffTheServiceThreadsInOrderPerStream() throws Exception {
    client.close();
    ExecutorService pool = Executors.newFixedThreadPool(4, runnable -> {
      Thread thread = new Thread(runnable, "listener-pool");
      thread.setDaemon(true);
      return thread;
    });
    Map<Long, List<Integer>> sequences = new ConcurrentHashMap<>();
    Inbox<String> threads = new Inbox<>();
    AtomicInteger received = new AtomicInteger();
    int perStream = 300;
    try (VeltrixClient pooled = VeltrixClient.builder(simDir).logListener(logListener)
        .callbackListener(event -> {
          threads.add(Thread.currentThread().getName());
          if (event.word5() % 17 == 0) {
            Thread.yield(); // vary the pace, so that an unordered pool would reorder
          }
          sequences.computeIfAbsent((long) event.kindNumber() << 32 | event.word1(),
              k -> java.util.Collections.synchronizedList(new ArrayList<>()))
              .add(event.word5());
          received.incrementAndGet();
        })
        .executor(pool).open()) {
      assertTrue(pooled.serviceStatus().isLoaded());
      assertEquals(0, pooled.start(""));
      Subscription one = pooled.csq("600519.SH", "RT_LAST", "");
      assertTrue(one.isOk(), one.toString());
      // Two csq streams and the main callback's, interleaved, all fired on this thread.
      for (int round = 0; round < 3; round++) {
        SimControl.fire(SimControl.CSQ, 0, perStream / 3, "w1=7,tagwords");
        SimControl.fire(SimControl.CSQ, 0, perStream / 3, "w1=8,tagwords");
        SimControl.fire(SimControl.MAIN, 0, perStream / 3, "w1=7,tagwords");
      }
      long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(WAIT_MS);
      while (received.get() < 3 * perStream && System.nanoTime() < deadline) {
        Thread.sleep(5);
      }
      assertEquals(3 * perStream, received.get());
      assertEquals(0, pooled.cancel(one));
    } finally {
      pool.shutdown();
      client = VeltrixClient.open(simDir, logListener, callbackListener);
      assertEquals(0, client.start(""));
    }
    for (String name : threads.snapshot()) {
      assertEquals("listener-pool", name, "a listener ran off the pool");
    }
    // Each stream in the order it was fired: the sequence restarts at 0 with every fire call.
    assertEquals(3, sequences.size(), sequences.keySet().toString());
    for (Map.Entry<Long, List<Integer>> stream : sequences.entrySet()) {
      List<Integer> expected = new ArrayList<>();
      for (int round = 0; round < 3; round++) {
        for (int i = 0; i < perStream / 3; i++) {
          expected.add(i);
        }
      }
      assertEquals(expected, stream.getValue(), "stream " + Long.toHexString(stream.getKey()));
    }
  }

  @Test
  void theLoaderFindsTheBridgeOnTheLibraryPathOrNextToTheJar(@TempDir Path temp)
      throws IOException, InterruptedException {
    File bridge = NativeLoader.find();
    assertNotNull(bridge, "java.library.path holds the bridge in this run");
    assertEquals(bridge.getAbsolutePath(), NativeLoader.loadedFrom());

    // A copy of the API jar with the bridge beside it, in a JVM without java.library.path.
    File apiJar = codeOf(NativeAPI.class);
    File testJar = codeOf(TypedClientTest.class);
    assertTrue(apiJar.getName().endsWith(".jar"), apiJar.toString());
    Path jar = Files.copy(apiJar.toPath(), temp.resolve("veltrix-api.jar"));
    Path library = Files.copy(bridge.toPath(), temp.resolve(bridge.getName()));
    Process probe = new ProcessBuilder(
        new File(System.getProperty("java.home"), "bin/java").getPath(),
        "--enable-native-access=ALL-UNNAMED", // JDK 17 knows it; 24 and later warn without
        "-cp", jar + File.pathSeparator + testJar,
        "com.tarnwick.tests.programs.LoaderProbe")
        .redirectErrorStream(true)
        .start();
    assertTrue(probe.waitFor(60, TimeUnit.SECONDS), "the probe did not end");
    String output = new String(readAll(probe), StandardCharsets.UTF_8).trim();
    assertEquals(0, probe.exitValue(), output);
    assertEquals(library.toFile().getCanonicalPath(), new File(output).getCanonicalPath());
  }

  private static File codeOf(Class<?> type) {
    try {
      return new File(type.getProtectionDomain().getCodeSource().getLocation().toURI());
    } catch (java.net.URISyntaxException e) {
      throw new AssertionError(e);
    }
  }

  private static byte[] readAll(Process process) throws IOException {
    java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
    byte[] buffer = new byte[4096];
    for (int n; (n = process.getInputStream().read(buffer)) > 0; ) {
      out.write(buffer, 0, n);
    }
    return out.toByteArray();
  }

  private static byte[] hex(String text) {
    byte[] out = new byte[text.length() / 2];
    for (int i = 0; i < out.length; i++) {
      out[i] = (byte) Integer.parseInt(text.substring(2 * i, 2 * i + 2), 16);
    }
    return out;
  }
}
