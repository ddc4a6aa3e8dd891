import com.tarnwick.api.CallbackEvent;
import com.tarnwick.api.CountResult;
import com.tarnwick.api.DataCube;
import com.tarnwick.api.DataGrid;
import com.tarnwick.api.DataValue;
import com.tarnwick.api.LogLine;
import com.tarnwick.api.NativeLoader;
import com.tarnwick.api.Order;
import com.tarnwick.api.QueryResult;
import com.tarnwick.api.Subscription;
import com.tarnwick.api.VeltrixClient;
import com.tarnwick.sim.SimLibrary;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.io.UnsupportedEncodingException;
import java.nio.charset.Charset;
import java.nio.charset.CharsetEncoder;
import java.time.DayOfWeek;
import java.time.LocalDate;
import java.time.format.DateTimeFormatter;
import java.time.format.TextStyle;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * A tour of the bridge: loads it, points it at a service library (the simulated one by default),
 * starts the service, runs queries of several kinds and prints them as tables, watches live
 * quotes for a few seconds, places orders into a portfolio, shuts down and prints the bridge's
 * log.
 *
   * <p>Usage: {@code java [--enable-native-access=ALL-UNNAMED] -cp
   * veltrix-demo.jar:veltrix-api.jar:veltrix-sim.jar Demo [--sim-dir <dir>] [--seconds <n>]} (JDK
   * 24 and later warn without the native access option; JDK 17 accepts it too). The bridge comes
   * out of veltrix-api.jar. Without {@code --sim-dir} the directory comes from the system property
   * {@code veltrix.demo.simDir}, and without that the simulated service library comes out of
   * veltrix-sim.jar.
 */
public final class Demo {
  private static final String USAGE =
      "usage: Demo [--sim-dir <service library dir>] [--seconds <live quote seconds>]";

  private final PrintStream out;
  private final CharsetEncoder encoder;
  private final List<LogLine> log = new ArrayList<>();
  private int failures;

  private Demo(PrintStream out, Charset charset) {
    this.out = out;
    this.encoder = charset.newEncoder();
  }

  public static void main(String[] args) throws InterruptedException {
    String simDir = System.getProperty("veltrix.demo.simDir");
    double seconds = 3;
    for (int i = 0; i < args.length; i++) {
      String arg = args[i];
      if (arg.equals("--help") || arg.equals("-h")) {
        System.out.println(USAGE);
        return;
      } else if (arg.equals("--sim-dir") && i + 1 < args.length) {
        simDir = args[++i];
      } else if (arg.equals("--seconds") && i + 1 < args.length) {
        try {
          seconds = Double.parseDouble(args[++i]);
        } catch (NumberFormatException e) {
          seconds = -1;
        }
        if (!(seconds >= 0 && seconds <= 3600)) {
          System.err.println("--seconds takes a number from 0 to 3600, not " + args[i]);
          System.exit(2);
        }
      } else {
        System.err.println("unknown argument: " + arg);
        System.err.println(USAGE);
        System.exit(2);
      }
    }
    if (simDir == null || simDir.isEmpty()) {
      try {
        simDir = SimLibrary.directory().getPath();
      } catch (IOException e) {
        System.err.println("no service library directory (" + e.getMessage()
            + "): give --sim-dir <dir>");
        System.err.println(USAGE);
        System.exit(2);
      }
    }
    Charset charset = stdoutCharset();
    PrintStream out = System.out;
    try {
      out = new PrintStream(new FileOutputStream(FileDescriptor.out), true, charset.name());
    } catch (UnsupportedEncodingException e) {
      charset = Charset.defaultCharset();
    }
    Demo demo = new Demo(out, charset);
    demo.run(simDir, seconds);
    out.flush();
    if (demo.failures > 0) {
      System.exit(1);
    }
  }

  /** The charset System.out writes in: the console's when there is one, else the default. */
  private static Charset stdoutCharset() {
    for (String property : new String[] {"stdout.encoding", "sun.stdout.encoding"}) {
      String name = System.getProperty(property);
      if (name != null && Charset.isSupported(name)) {
        return Charset.forName(name);
      }
    }
    return Charset.defaultCharset();
  }

  private void run(String simDir, double seconds) throws InterruptedException {
    banner("Veltrix bridge demo");
    VeltrixClient client = VeltrixClient.open(simDir, this::keepLogLine, null);
    field("bridge library", NativeLoader.loadedFrom());
    field("service", client.serviceStatus().toString());
    if (!client.serviceStatus().isLoaded()) {
      failures++;
    }
    int started = client.start("");
    field("start(\"\")", describe(client, started));
    out.println();

    dailyBars(client);
    snapshot(client);
    calendar(client);
    report(client);
    Subscription quotes = liveQuotes(client, seconds);
    portfolio(client);

    section("Shutting down");
    call("client.cancel(" + quotes.function() + " #" + quotes.requestNumber() + ")",
        describe(client, quotes.isOk() ? client.cancel(quotes) : quotes.code()));
    call("client.stop()", describe(client, client.stop()));
    out.println();

    bridgeLog();
    client.close();
  }

  // ---- Sections -------------------------------------------------------------------------

  private void dailyBars(VeltrixClient client) {
    section("Daily bars");
    String code = "600519.SH";
    String fields = "OPEN,HIGH,LOW,CLOSE,VOLUME,PCTCHG";
    QueryResult bars = client.csd(code, fields, "2024-06-17", "2024-06-28", "");
    call("client.csd(\"" + code + "\", \"" + fields + "\", \"2024-06-17\", \"2024-06-28\", \"\")",
        bars.isOk() ? bars.cube().dates().size() + " days" : describe(client, bars.code()));
    if (!bars.isOk()) {
      return;
    }
    DataCube cube = bars.cube();
    Table table = new Table("Date", "Open", "High", "Low", "Close", "Volume", "Chg %");
    for (String date : cube.dates()) {
      table.row(isoDate(date),
          money(cube.value(code, "OPEN", date)), money(cube.value(code, "HIGH", date)),
          money(cube.value(code, "LOW", date)), money(cube.value(code, "CLOSE", date)),
          count(cube.value(code, "VOLUME", date)), percent(cube.value(code, "PCTCHG", date)));
    }
    table.print();
  }

  private void snapshot(VeltrixClient client) {
    section("Snapshot fields");
    String codes = "600000.SH,600519.SH,000001.SZ,300750.SZ,00700.HK,01299.HK";
    String fields = "NAME,SECTOR,CLOSE,PCTCHG,MKTCAP,PE";
    QueryResult snapshot = client.css(codes, fields, "");
    call("client.css(\"" + codes + "\", \"" + fields + "\", \"\")",
        snapshot.isOk() ? snapshot.cube().codes().size() + " codes" : describe(client,
            snapshot.code()));
    if (!snapshot.isOk()) {
      return;
    }
    DataCube cube = snapshot.cube();
    Table table = new Table("Code", "Name", "Sector", "Close", "Chg %", "Mkt cap", "P/E");
    for (String code : cube.codes()) {
      DataValue cap = cube.value(code, "MKTCAP");
      table.row(code, cube.value(code, "NAME").toString(), cube.value(code, "SECTOR").toString(),
          money(cube.value(code, "CLOSE")), percent(cube.value(code, "PCTCHG")),
          cap.type().isNumeric() ? String.format(Locale.US, "%,.1f bn", cap.asDouble() / 1e9)
                                 : cap.toString(),
          String.format(Locale.US, "%.1f", cube.value(code, "PE").asDouble()));
    }
    table.print();
  }

  private void calendar(VeltrixClient client) {
    section("Trading calendar");
    QueryResult dates = client.tradedates("2024-04-24", "2024-05-10", "");
    call("client.tradedates(\"2024-04-24\", \"2024-05-10\", \"\")",
        dates.isOk() ? dates.cube().dates().size() + " trading days"
                     : describe(client, dates.code()));
    if (dates.isOk()) {
      List<String> days = new ArrayList<>();
      for (String date : dates.cube().dates()) {
        LocalDate day = LocalDate.parse(date, DateTimeFormatter.BASIC_ISO_DATE);
        days.add(day + " " + day.getDayOfWeek().getDisplayName(TextStyle.SHORT, Locale.US));
      }
      for (int i = 0; i < days.size(); i += 4) {
        out.println("     " + String.join("   ", days.subList(i, Math.min(i + 4, days.size()))));
      }
      List<String> closed = new ArrayList<>();
      for (LocalDate day = LocalDate.of(2024, 4, 24); !day.isAfter(LocalDate.of(2024, 5, 10));
           day = day.plusDays(1)) {
        boolean weekday = day.getDayOfWeek() != DayOfWeek.SATURDAY
            && day.getDayOfWeek() != DayOfWeek.SUNDAY;
        if (weekday && !dates.cube().dates().contains(day.format(DateTimeFormatter.BASIC_ISO_DATE))) {
          closed.add(day.toString());
        }
      }
      if (!closed.isEmpty()) {
        out.println("     weekdays without trading: " + String.join(", ", closed));
      }
    }
    CountResult year = client.tradedatesnum("2024-01-01", "2024-12-31", "");
    call("client.tradedatesnum(\"2024-01-01\", \"2024-12-31\", \"\")",
        year.isOk() ? year.count() + " trading days in 2024" : describe(client, year.code()));
    out.println();
  }

  private void report(VeltrixClient client) {
    section("Market report");
    String columns = "CODE,NAME,CLOSE,PCTCHG,VOLUME,AMOUNT";
    QueryResult report = client.ctr("TOP_GAINERS", columns, "");
    call("client.ctr(\"TOP_GAINERS\", \"" + columns + "\", \"\")",
        report.isOk() ? "grid of " + report.grid().rowCount() + " rows x "
                + report.grid().columnCount() + " columns"
                      : describe(client, report.code()));
    if (!report.isOk()) {
      return;
    }
    DataGrid grid = report.grid();
    Table table = new Table(grid.columns().subList(0, grid.columnCount()).toArray(new String[0]));
    for (int row = 0; row < grid.rowCount(); row++) {
      List<String> cells = new ArrayList<>();
      for (int column = 0; column < grid.columnCount(); column++) {
        cells.add(cell(grid.columns().get(column), grid.value(row, column)));
      }
      table.row(cells.toArray(new String[0]));
    }
    table.print();
  }

  private Subscription liveQuotes(VeltrixClient client, double seconds)
      throws InterruptedException {
    section("Live quotes");
    String codes = "600519.SH,300750.SZ,00700.HK";
    List<String> codeList = Arrays.asList(codes.split(","));
    AtomicInteger received = new AtomicInteger();
    Table layout = new Table(withPrefix(new String[] {"#", "Time"}, codeList));
    layout.align(0, true);
    layout.minWidth(0, 4);
    layout.minWidth(1, 8);
    for (int column = 2; column < 2 + codeList.size(); column++) {
      layout.minWidth(column, 16); // "1,468.20 +0.35%"
      layout.align(column, true);
    }
    client.setCallbackListener(event -> showQuote(event, codeList, received, layout));
    Subscription quotes = client.csq(codes, "RT_LAST,RT_PCTCHG", "");
    call("client.csq(\"" + codes + "\", \"RT_LAST,RT_PCTCHG\", \"\")",
        quotes.isOk() ? "request #" + quotes.requestNumber() : describe(client, quotes.code()));
    if (!quotes.isOk()) {
      out.println();
      return quotes;
    }
    out.printf(Locale.US, "     watching for %.1f s; every line is one pushed message (kind %s)%n",
        seconds, quotes.kind());
    synchronized (this) {
      layout.printHeader();
    }
    Thread.sleep((long) (seconds * 1000));
    client.setCallbackListener(null);
    synchronized (this) {
      out.printf("     %d quote messages received%n", received.get());
      if (received.get() == 0) {
        failures++;
      }
    }
    out.println();
    return quotes;
  }

  private void showQuote(CallbackEvent event, List<String> codes, AtomicInteger received,
      Table layout) {
    if (event.kind() != CallbackEvent.Kind.CSQ || !event.cube().isPresent()) {
      return;
    }
    DataCube cube = event.cube().get();
    List<String> cells = new ArrayList<>();
    cells.add(String.valueOf(received.incrementAndGet()));
    cells.add(cube.dates().isEmpty() ? "" : cube.dates().get(0));
    for (String code : codes) {
      if (cube.codes().contains(code)) {
        cells.add(money(cube.value(code, "RT_LAST")) + " "
            + signedPercent(cube.value(code, "RT_PCTCHG")));
      } else {
        cells.add("");
      }
    }
    synchronized (this) {
      layout.printRow(cells.toArray(new String[0]));
    }
  }

  private void portfolio(VeltrixClient client) {
    section("Portfolio");
    String portfolio = "DEMO";
    call("client.pcreate(\"" + portfolio + "\", \"Demo portfolio\", 1000000, \"\", \"\")",
        describe(client, client.pcreate(portfolio, "Demo portfolio", 1_000_000L, "", "")));
    List<Order> orders = Arrays.asList(
        Order.buy("600519.SH", 200).withPrice(1460.0).withDate(20240628).withCost(5.0),
        Order.buy("000001.SZ", 20000).withDate(20240628).withRate(0.0003),
        Order.buy("00700.HK", 500).withDate(20240628),
        Order.sell("600519.SH", 50).withPrice(1475.5).withDate(20240628));
    String json = Order.toJson(orders);
    call("client.porder(json, \"" + portfolio + "\", \"\", \"\")",
        describe(client, client.porder(json, portfolio, "", "")));
    out.println("     json = [");
    for (int i = 0; i < orders.size(); i++) {
      out.println("       " + orders.get(i).toJson() + (i + 1 < orders.size() ? "," : ""));
    }
    out.println("     ]");
    QueryResult positions = client.pquery(portfolio);
    call("client.pquery(\"" + portfolio + "\")",
        positions.isOk() ? positions.cube().codes().size() + " lines"
                         : describe(client, positions.code()));
    if (!positions.isOk()) {
      return;
    }
    DataCube cube = positions.cube();
    Table table =
        new Table("Code", "Name", "Volume", "Cost", "Last", "Market value", "P&L", "Weight %");
    for (String code : cube.codes()) {
      if (code.equals("CASH")) { // the cash line: its volume is the amount of cash
        table.row(code, cube.value(code, "NAME").toString(), "", "", "",
            money(cube.value(code, "MARKET_VALUE")), "",
            String.format(Locale.US, "%.2f", cube.value(code, "WEIGHT").asDouble()));
        continue;
      }
      table.row(code, cube.value(code, "NAME").toString(), count(cube.value(code, "VOLUME")),
          money(cube.value(code, "COST_PRICE")), money(cube.value(code, "LAST")),
          money(cube.value(code, "MARKET_VALUE")), money(cube.value(code, "PNL")),
          String.format(Locale.US, "%.2f", cube.value(code, "WEIGHT").asDouble()));
    }
    table.print();
  }

  private void bridgeLog() throws InterruptedException {
    section("Bridge log");
    out.println("   The lines logAPICallBack received, parsed as LogLine (repeats folded):");
    // The bridge's log thread delivers on its own: wait until it has been quiet for a moment.
    int seen = -1;
    for (int waited = 0; waited < 3000; waited += 200) {
      synchronized (log) {
        if (log.size() == seen) {
          break;
        }
        seen = log.size();
      }
      Thread.sleep(200);
    }
    List<LogLine> lines;
    synchronized (log) {
      lines = new ArrayList<>(log);
    }
    Table table = new Table("Tag", "Time", "Message");
    for (int i = 0; i < lines.size(); ) {
      LogLine line = lines.get(i);
      int repeats = 1;
      while (i + repeats < lines.size() && lines.get(i + repeats).message().equals(line.message())
             && lines.get(i + repeats).tag() == line.tag()) {
        repeats++;
      }
      String tag = line.tag() == LogLine.Tag.OTHER ? "service"
                                                   : line.tag().name().toLowerCase(Locale.ROOT);
      String time = line.timestamp().map(t -> t.toLocalTime().toString()).orElse("");
      table.row(tag, time, line.message() + (repeats > 1 ? "   (x" + repeats + ")" : ""));
      i += repeats;
    }
    table.print();
  }

  // ---- Output helpers -------------------------------------------------------------------

  private void keepLogLine(LogLine line) {
    synchronized (log) {
      log.add(line);
    }
  }

  private String describe(VeltrixClient client, int code) {
    if (code != 0) {
      failures++;
    }
    return "code " + code + " (" + client.errorText(code) + ")";
  }

  private void banner(String title) {
    out.println(repeat('=', 78));
    out.println(" " + title);
    out.println(repeat('=', 78));
  }

  private void section(String title) {
    String head = "-- " + title + " ";
    out.println(head + repeat('-', 78 - head.length()));
  }

  private void field(String name, String value) {
    out.println(" " + pad(name, 16, false) + " " + value);
  }

  private void call(String call, String outcome) {
    out.println("   " + call);
    out.println("     -> " + outcome);
  }

  private static String[] withPrefix(String[] prefix, List<String> rest) {
    List<String> all = new ArrayList<>(Arrays.asList(prefix));
    all.addAll(rest);
    return all.toArray(new String[0]);
  }

  private static String isoDate(String yyyymmdd) {
    return yyyymmdd.length() == 8
        ? yyyymmdd.substring(0, 4) + "-" + yyyymmdd.substring(4, 6) + "-" + yyyymmdd.substring(6)
        : yyyymmdd;
  }

  private static String money(DataValue value) {
    return value.type().isNumeric() ? String.format(Locale.US, "%,.2f", value.asDouble())
                                    : value.toString();
  }

  private static String count(DataValue value) {
    if (value.type().isInteger()) {
      return String.format(Locale.US, "%,d", value.asLong());
    }
    return value.type().isNumeric() ? String.format(Locale.US, "%,.0f", value.asDouble())
                                    : value.toString();
  }

  private static String percent(DataValue value) {
    return value.type().isNumeric() ? String.format(Locale.US, "%.2f", value.asDouble())
                                    : value.toString();
  }

  private static String signedPercent(DataValue value) {
    return value.type().isNumeric() ? String.format(Locale.US, "%+.2f%%", value.asDouble())
                                    : value.toString();
  }

  /** A grid cell by its column's name and its type. */
  private static String cell(String column, DataValue value) {
    switch (value.type()) {
      case DOUBLE:
        return column.contains("AMOUNT") || column.contains("AMT")
            ? String.format(Locale.US, "%,.1f m", value.asDouble() / 1e6)
            : money(value);
      case FLOAT:
        return percent(value);
      default:
        return value.type().isInteger() ? count(value) : value.toString();
    }
  }

  private static String repeat(char c, int count) {
    char[] chars = new char[Math.max(0, count)];
    Arrays.fill(chars, c);
    return new String(chars);
  }

  /** Columns a text takes on a terminal: two for East Asian wide characters. */
  private int width(String text) {
    int width = 0;
    for (int i = 0; i < text.length(); ) {
      int cp = text.codePointAt(i);
      i += Character.charCount(cp);
      if (Character.getType(cp) == Character.NON_SPACING_MARK) {
        continue;
      }
      boolean wide = cp >= 0x1100 && cp <= 0x115F || cp >= 0x2E80 && cp <= 0xA4CF
          || cp >= 0xAC00 && cp <= 0xD7A3 || cp >= 0xF900 && cp <= 0xFAFF
          || cp >= 0xFE30 && cp <= 0xFE4F || cp >= 0xFF00 && cp <= 0xFF60
          || cp >= 0xFFE0 && cp <= 0xFFE6 || cp >= 0x20000 && cp <= 0x3FFFD;
      // What the output's charset cannot hold prints as one '?'.
      width += wide && encoder.canEncode(new String(Character.toChars(cp))) ? 2 : 1;
    }
    return width;
  }

  private String pad(String text, int columns, boolean right) {
    String fill = repeat(' ', columns - width(text));
    return right ? fill + text : text + fill;
  }

  /** A table printed with aligned columns: text left, numbers right. */
  private final class Table {
    private final String[] headings;
    private final List<String[]> rows = new ArrayList<>();
    private final boolean[] rightAligned;
    private final int[] widths;

    Table(String... headings) {
      this.headings = headings;
      this.rightAligned = new boolean[headings.length];
      this.widths = new int[headings.length];
      for (int i = 0; i < headings.length; i++) {
        widths[i] = width(headings[i]);
      }
    }

    void align(int column, boolean right) {
      rightAligned[column] = right;
    }

    void minWidth(int column, int columns) {
      widths[column] = Math.max(widths[column], columns);
    }

    void row(String... cells) {
      rows.add(cells);
      for (int i = 0; i < cells.length && i < widths.length; i++) {
        widths[i] = Math.max(widths[i], width(cells[i]));
        if (!cells[i].isEmpty() && cells[i].matches("[-+]?[0-9][0-9,.]*( bn| m|%)?")) {
          rightAligned[i] = true;
        }
      }
    }

    void print() {
      printHeader();
      for (String[] row : rows) {
        printRow(row);
      }
      out.println();
    }

    void printHeader() {
      printRow(headings);
      StringBuilder rule = new StringBuilder("   ");
      for (int i = 0; i < widths.length; i++) {
        rule.append(i > 0 ? "  " : "").append(repeat('-', widths[i]));
      }
      out.println(rule);
    }

    void printRow(String[] cells) {
      StringBuilder line = new StringBuilder("   ");
      for (int i = 0; i < widths.length; i++) {
        String cell = i < cells.length ? cells[i] : "";
        line.append(i > 0 ? "  " : "").append(pad(cell, widths[i], rightAligned[i]));
      }
      out.println(line.toString().replaceAll("\\s+$", ""));
    }
  }
}
