package com.tarnwick.bench;

import com.tarnwick.api.DataCube;
import com.tarnwick.api.QueryResult;
import com.tarnwick.sim.SimControl;
import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.lang.management.ManagementFactory;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.locks.LockSupport;
import java.util.function.IntConsumer;

/**
 * JVM benchmarks of the bridge's JNI round trips, each beside its floor measured in the same JVM:
 * the csd round trip, JStringToNative, callback delivery and the log road; and the Java side's
 * decoding of typed results beside a bare ByteBuffer loop over the same bytes.
 *
 * <p>Every comparison warms its variants up, then runs them in rounds (the order rotating from
 * round to round) and keeps the median of the rounds. The figures go out as a Markdown table,
 * followed by every round's value.
 *
 * <p>Usage: {@code JvmBench <simulated library dir> <bench library file> [--quick]
 * [--only=csd,text,callback,log,decode,threads] [--profile=KEY] [--save-figures=FILE]
 * [--per-message-figures=FILE]}. Run it with a fixed, pre-touched heap: {@code -Xms2g -Xmx2g
 * -XX:+AlwaysPreTouch}.
 *
 * <p>The section "threads" measures deliveries with service threads attached once, so it needs a
 * JVM started with {@code -Dveltrix.callbackThreads=attached} (the bridge reads the property
 * once) and runs only when named; every other section needs the default. {@code
 * --save-figures} writes the per-message delivery figures of the callback section to FILE;
 * {@code --per-message-figures} reads them back in the attached JVM, for the speed-up rows.
 *
 * <p>{@code --profile=KEY} runs the bridge's side of one figure alone for 20 s, for a profiler:
 * KEY is csd-32, csd-55, csd-4096, csd-1048576, csd-args, text-64, text-1024, pdelete-64,
 * pdelete-1024, detached-67, detached-1024, attached-67, attached-1024, threads-67, threads-1024,
 * log-1, log-4, decode-numeric or decode-text; KEY:I
 * runs the figure's I-th variant instead (0 the bridge, then the floors and diagnostics in the
 * order the Rounds section lists them).
 */
public final class JvmBench {
  private static final String[] CSD_ARGS = {"600000.SH", "CLOSE", "20240101", "20240131", ""};
  private static final String HEADER_INT_CUBE = "L1=\"A\";L2=\"B\";L3=\"C\";";
  private static final byte[] LOG_LINE =
      "[Vx_Debug][2024-06-28 10:00:00]:recv csq datacallback, a line of the log road\n"
          .getBytes(StandardCharsets.US_ASCII);

  /** Keeps results alive. */
  static long blackhole;

  private final BenchAPI api;
  private final BenchNative bench = BenchNative.create();
  private final boolean quick;
  private final String profile;
  private final int rounds;
  private final long batchNanos;
  private final long warmupNanos;
  private final List<String[]> rows = new ArrayList<>();
  private final List<String> details = new ArrayList<>();
  private final List<String> problems = new ArrayList<>();
  private final String loadBefore = loadAverage();
  /** Per-message delivery figures (ns per message) by key, for --save-figures. */
  private final Map<String, Double> figures = new LinkedHashMap<>();

  private JvmBench(BenchAPI api, boolean quick, String profile) {
    this.api = api;
    this.quick = quick;
    this.profile = profile;
    this.rounds = quick ? 3 : 11;
    this.batchNanos = quick ? 5_000_000L : 25_000_000L;
    this.warmupNanos = quick ? 20_000_000L : 400_000_000L;
  }

  public static void main(String[] args) throws Exception {
    if (args.length < 2) {
      System.err.println(
          "usage: JvmBench <simulated library dir> <bench library file> [--quick]"
              + " [--only=csd,text,callback,log,decode,threads] [--profile=KEY]"
              + " [--save-figures=FILE] [--per-message-figures=FILE]");
      System.exit(2);
    }
    String simDir = args[0];
    String benchLibrary = args[1];
    boolean quick = false;
    String profile = null;
    Set<String> only = new HashSet<>();
    String saveFigures = null;
    String perMessageFigures = null;
    for (int i = 2; i < args.length; i++) {
      if (args[i].startsWith("--save-figures=")) {
        saveFigures = args[i].substring(15);
      } else if (args[i].startsWith("--per-message-figures=")) {
        perMessageFigures = args[i].substring(22);
      } else if (args[i].equals("--quick")) {
        quick = true;
      } else if (args[i].startsWith("--profile=")) {
        profile = args[i].substring(10);
      } else if (args[i].startsWith("--only=")) {
        only.addAll(Arrays.asList(args[i].substring(7).split(",")));
      } else {
        System.err.println("unknown argument: " + args[i]);
        System.exit(2);
      }
    }

    BenchAPI api = new BenchAPI();
    api.setJniEnv(simDir);
    SimControl.load(simDir);
    System.load(new File(benchLibrary).getAbsolutePath());
    String failure = BenchNative.init(simLibraryFile(simDir));
    if (failure != null) {
      throw new IllegalStateException(failure);
    }
    int started = api.start("");
    if (started != 0 || !SimControl.hasCallback(SimControl.LOG_SINK)) {
      throw new IllegalStateException("start did not hand the log sink over: " + started);
    }
    SimControl.setStreaming(false, 0);
    SimControl.setRecordDescriptions(false);

    JvmBench run = new JvmBench(api, quick, profile);
    long begin = System.nanoTime();
    if (only.isEmpty() || only.contains("csd")) {
      run.csdRoundTrip();
    }
    if (only.isEmpty() || only.contains("text")) {
      run.strings();
    }
    if (only.isEmpty() || only.contains("callback")) {
      run.callbacks();
    }
    if (only.isEmpty() || only.contains("log")) {
      run.logRoad();
    }
    if (only.isEmpty() || only.contains("decode")) {
      run.decode();
    }
    if (only.contains("threads")) {
      run.attachedServiceThreads(perMessageFigures);
    }
    if (profile != null) {
      System.err.println("jvmbench: no figure has the key " + profile);
      System.exit(2);
    }
    run.checkService();
    run.print((System.nanoTime() - begin) / 1e9);
    if (saveFigures != null) {
      run.saveFigures(saveFigures);
    }
    api.stop();
    System.exit(run.problems.isEmpty() ? 0 : 1);
  }

  private static String simLibraryFile(String directory) {
    String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT);
    String file =
        os.startsWith("windows")
            ? "VeltrixAPI_x64.dll"
            : os.startsWith("mac") ? "libVeltrixAPI_x64.dylib" : "libVeltrixAPI_x64.so";
    return new File(directory, file).getAbsolutePath();
  }

  // ---- Measuring ---------------------------------------------------------------------------

  /** Times n operations and returns the nanoseconds they took. */
  private interface Body {
    long run(int n);
  }

  /** One side of a comparison: an untimed preparation, then n timed operations. */
  private static final class Variant {
    final String name;
    final IntConsumer prepare;
    final Body body;
    int n;

    Variant(String name, IntConsumer prepare, Body body) {
      this.name = name;
      this.prepare = prepare;
      this.body = body;
    }
  }

  private static Body timed(IntConsumer operations) {
    return n -> {
      long start = System.nanoTime();
      operations.accept(n);
      return System.nanoTime() - start;
    };
  }

  private static long batch(Variant variant, int n) {
    if (variant.prepare != null) {
      variant.prepare.accept(n);
    }
    return variant.body.run(n);
  }

  /**
   * Warms the variants up, then times them in rounds, in an order that rotates from round to
   * round. Batches of {@code fixedN} operations, or (fixedN 0) of as many as take about
   * batchNanos. Returns each variant's median in nanoseconds per operation.
   */
  private double[] compare(String title, String key, int fixedN, Variant... variants) {
    return compare(title, key, fixedN, rounds, variants);
  }

  private double[] compare(
      String title, String key, int fixedN, int roundCount, Variant... variants) {
    if (profile != null) {
      if (profile.equals(key)) {
        profileAlone(variants[0], fixedN);
      } else if (profile.startsWith(key + ":")) {
        profileAlone(variants[Integer.parseInt(profile.substring(key.length() + 1))], fixedN);
      }
      return new double[variants.length];
    }
    System.err.println("jvmbench: " + title);
    for (Variant variant : variants) {
      long start = System.nanoTime();
      if (fixedN > 0) {
        variant.n = fixedN;
        batch(variant, fixedN);
      } else {
        // Double the batch until it takes a quarter of the target; a pause (GC, another
        // process) in one batch must not set the size, so the fastest of three decides.
        int n = 1;
        long took;
        while (true) {
          took = batch(variant, n);
          if (took >= batchNanos / 4 || n >= (1 << 24)) {
            took = Math.min(took, Math.min(batch(variant, n), batch(variant, n)));
            if (took >= batchNanos / 4 || n >= (1 << 24)) {
              break;
            }
          }
          n *= 2;
        }
        variant.n =
            (int) Math.max(1, Math.min(1 << 26, n * (double) batchNanos / Math.max(took, 1)));
      }
      while (System.nanoTime() - start < warmupNanos) {
        batch(variant, variant.n);
      }
    }
    double[][] perOp = new double[variants.length][roundCount];
    for (int round = 0; round < roundCount; round++) {
      for (int k = 0; k < variants.length; k++) {
        int index = (k + round) % variants.length;
        Variant variant = variants[index];
        perOp[index][round] = batch(variant, variant.n) / (double) variant.n;
      }
    }
    double[] medians = new double[variants.length];
    details.add("### " + title);
    for (int i = 0; i < variants.length; i++) {
      medians[i] = median(perOp[i]);
      StringBuilder line = new StringBuilder();
      line.append("- ").append(variants[i].name).append(" (").append(variants[i].n);
      line.append(" per batch): median ").append(time(medians[i]));
      line.append(", min ").append(time(Arrays.stream(perOp[i]).min().orElse(0)));
      line.append("; rounds");
      for (double value : perOp[i]) {
        line.append(' ').append(time(value));
      }
      details.add(line.toString());
    }
    return medians;
  }

  /**
   * For a profiler (--profile=KEY): runs the variant alone for 20 s, then ends the process.
   */
  private void profileAlone(Variant variant, int fixedN) {
    System.err.println("jvmbench: profiling " + variant.name + " for 20 s");
    int n = fixedN > 0 ? fixedN : 1;
    while (fixedN == 0 && batch(variant, n) < 10_000_000L) {
      n *= 2;
    }
    long end = System.nanoTime() + 20_000_000_000L;
    long batches = 0;
    while (System.nanoTime() < end) {
      batch(variant, n);
      batches++;
    }
    System.err.println("jvmbench: profiled " + batches + " batches of " + n);
    System.exit(0);
  }

  private static double median(double[] values) {
    double[] sorted = values.clone();
    Arrays.sort(sorted);
    int middle = sorted.length / 2;
    return sorted.length % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
  }

  /** Waits until no log line has reached Java for a few milliseconds: the log queue is empty. */
  /** Fires n messages of the given kind on `threads` service threads (0: the calling thread). */
  private static void fire(int kind, int threads, int n, String message) {
    SimControl.fire(kind, threads, n, message);
    if (threads > 0) {
      SimControl.fireWait();
    }
  }

  /** The bridge delivering csq messages fired on `threads` service threads, each counted. */
  private Variant firing(String name, int threads, String message) {
    return new Variant(
        name,
        n -> quiesce(),
        timed(
            n -> {
              long before = api.data.get();
              fire(SimControl.CSQ, threads, n, message);
              check(api.data.get() - before == n, "csq messages lost");
            }));
  }

  /** The same while the log thread is held inside logAPICallBack. */
  private Variant parkedFiring(int threads, String message) {
    return new Variant(
        "diagnostic: the bridge as above while the log thread is held in logAPICallBack",
        n -> {
          quiesce();
          api.parkLog();
        },
        n -> {
          long start = System.nanoTime();
          fire(SimControl.CSQ, threads, n, message);
          long took = System.nanoTime() - start;
          api.unparkLog();
          return took;
        });
  }

  /**
   * A figure (m[0]) against its floor (m[1]) with its target, and again less the service's own
   * work (m[2]).
   */
  private void rowsWithAndWithoutService(String figure, double[] m, double factor, String x) {
    row(figure, time(m[0]), time(m[1]), ratio(m[0], m[1]), "<= " + x, yesNo(m[0] <= factor * m[1]));
    row(
        "... less the service's own work (" + time(m[2]) + ")",
        time(m[0] - m[2]),
        time(m[1]),
        ratio(m[0] - m[2], m[1]),
        "<= " + x,
        yesNo(m[0] - m[2] <= factor * m[1]));
  }

  /** A diagnostic figure beside a floor, without a target. */
  private void diagnosticRow(String figure, double value, double floor) {
    row(figure, time(value), time(floor), ratio(value, floor), "-", "-");
  }

  private void quiesce() {
    long last = api.logs.get();
    while (true) {
      LockSupport.parkNanos(3_000_000L);
      long now = api.logs.get();
      if (now == last) {
        return;
      }
      last = now;
    }
  }

  private void check(boolean condition, String problem) {
    if (!condition) {
      problems.add(problem);
      System.err.println("jvmbench: PROBLEM: " + problem);
    }
  }

  private void row(String figure, String value, String floor, String ratio, String target,
      String holds) {
    rows.add(new String[] {figure, value, floor, ratio, target, holds});
  }

  private static String yesNo(boolean holds) {
    return holds ? "yes" : "**no**";
  }

  // ---- 1. csd round trip -------------------------------------------------------------------

  private void csdRoundTrip() {
    BenchNative.setCsdArgs(CSD_ARGS[0], CSD_ARGS[1], CSD_ARGS[2], CSD_ARGS[3], CSD_ARGS[4]);
    // Blob bytes of the cube (-1: empty cube, 0: one int32) and the Result buffer they make:
    // 16 header bytes, three one-entry lists (30), the value count (4), the value.
    int[][] cases = {{-1, 32}, {0, 55}, {4041, 4096}, {1048521, 1048576}};
    String[] names = {
      "32 B (empty cube)", "55 B (one int32)", "4 KB (one blob)", "1 MB (one blob)"
    };
    for (int c = 0; c < cases.length; c++) {
      final int cube = BenchNative.addCube(cases[c][0]);
      final int length = cases[c][1];
      BenchNative.setReplyLength(length);

      BenchNative.queueCube(cube, 1);
      byte[] reply = api.csd(CSD_ARGS[0], CSD_ARGS[1], CSD_ARGS[2], CSD_ARGS[3], CSD_ARGS[4]);
      check(
          reply != null && reply.length == length && reply[0] == 0 && reply[1] == 0,
          "csd " + names[c] + ": unexpected reply "
              + (reply == null ? "null" : reply.length + " bytes, code byte " + reply[0]));

      IntConsumer queue =
          n -> {
            SimControl.clearCalls();
            BenchNative.queueCube(cube, n);
          };
      Variant bridge =
          new Variant(
              "bridge csd",
              queue,
              timed(
                  n -> {
                    long sum = 0;
                    for (int i = 0; i < n; i++) {
                      sum +=
                          api.csd(CSD_ARGS[0], CSD_ARGS[1], CSD_ARGS[2], CSD_ARGS[3], CSD_ARGS[4])
                              .length;
                    }
                    blackhole += sum;
                  }));
      Variant empty =
          new Variant(
              "empty native + NewByteArray/SetByteArrayRegion",
              null,
              timed(
                  n -> {
                    long sum = 0;
                    for (int i = 0; i < n; i++) {
                      sum +=
                          bench.emptyCopy(
                                  CSD_ARGS[0], CSD_ARGS[1], CSD_ARGS[2], CSD_ARGS[3], CSD_ARGS[4])
                              .length;
                    }
                    blackhole += sum;
                  }));
      Variant service =
          new Variant(
              "service csd + releasedata called natively + NewByteArray/SetByteArrayRegion",
              queue,
              timed(
                  n -> {
                    long sum = 0;
                    for (int i = 0; i < n; i++) {
                      sum +=
                          bench.simCsdCopy(
                                  CSD_ARGS[0], CSD_ARGS[1], CSD_ARGS[2], CSD_ARGS[3], CSD_ARGS[4])
                              .length;
                    }
                    blackhole += sum;
                  }));
      double[] m =
          compare("csd round trip, " + names[c], "csd-" + length, 0, bridge, empty, service);
      boolean small = length < 1024;
      String target = small ? "<= floor + 150 ns" : "<= 1.5x";
      for (int f = 1; f <= 2; f++) {
        double floor = m[f];
        boolean holds = small ? m[0] <= floor + 150 : m[0] <= 1.5 * floor;
        String figure =
            "csd round trip, "
                + names[c]
                + (f == 1
                    ? " vs empty native + byte[]"
                    : " vs service csd/releasedata + byte[]");
        row(figure, time(m[0]), time(floor), ratio(m[0], floor), target, yesNo(holds));
      }
    }
    SimControl.clearCalls();

    // What the five arguments' conversion takes of the bridge's share.
    Variant five =
        new Variant(
            "JStringToNative of csd's five arguments (the bridge's code, looped in native code)",
            null,
            timed(
                n ->
                    blackhole +=
                        BenchNative.convertFiveLoop(
                            CSD_ARGS[0], CSD_ARGS[1], CSD_ARGS[2], CSD_ARGS[3], CSD_ARGS[4], n)));
    double[] f = compare("csd's five arguments through JStringToNative", "csd-args", 0, five);
    row(
        "diagnostic: csd's five arguments through JStringToNative",
        time(f[0]),
        "-",
        "-",
        "-",
        "-");
  }

  // ---- 2. JStringToNative ------------------------------------------------------------------

  private void strings() {
    for (int length : new int[] {64, 1024}) {
      final String text = asciiText(length);
      String label = String.format(Locale.ROOT, "%,d ASCII chars", length);
      Variant convert =
          new Variant(
              "JStringToNative (the bridge's code, looped in native code)",
              null,
              timed(n -> blackhole += BenchNative.convertLoop(text, n)));
      Variant region =
          new Variant(
              "GetStringLength + GetStringRegion (looped in native code)",
              null,
              timed(n -> blackhole += BenchNative.regionLoop(text, n)));
      Variant prototype =
          new Variant(
              "prototype: two JNI reads and one vectorisable pass (looped in native code)",
              null,
              timed(n -> blackhole += BenchNative.prototypeLoop(text, n)));
      check(
          BenchNative.convertLoop(text, 1) == length
              && BenchNative.prototypeLoop(text, 1) == length,
          "JStringToNative gave " + BenchNative.convertLoop(text, 1) + " bytes for " + label);
      double[] m =
          compare("JStringToNative, " + label, "text-" + length, 0, convert, region, prototype);
      row(
          "JStringToNative, " + label,
          time(m[0]),
          time(m[1]),
          ratio(m[0], m[1]),
          "<= 2x GetStringRegion",
          yesNo(m[0] <= 2 * m[1]));
      row(
          "prototype of a faster JStringToNative (bench library, not the bridge), " + label,
          time(m[2]),
          time(m[1]),
          ratio(m[2], m[1]),
          "<= 2x GetStringRegion",
          m[2] <= 2 * m[1] ? "(yes)" : "(no)");

      // The same conversion inside an export: pdelete(text, "") through the bridge, less the
      // service's pdelete called natively with the same text converted beforehand.
      BenchNative.setText(text);
      IntConsumer clear = n -> SimControl.clearCalls();
      Variant export =
          new Variant(
              "pdelete(text, \"\") through the bridge",
              clear,
              timed(
                  n -> {
                    long sum = 0;
                    for (int i = 0; i < n; i++) {
                      sum += api.pdelete(text, "");
                    }
                    blackhole += sum;
                  }));
      Variant direct =
          new Variant(
              "service pdelete(text, \"\") called natively, text converted beforehand",
              clear,
              timed(
                  n -> {
                    long sum = 0;
                    for (int i = 0; i < n; i++) {
                      sum += bench.simPdelete(text, "");
                    }
                    blackhole += sum;
                  }));
      double[] e = compare("pdelete export, " + label, "pdelete-" + length, 0, export, direct);
      double conversions = e[0] - e[1];
      row(
          "pdelete export, " + label + ": bridge less direct service call",
          time(conversions),
          time(m[1]),
          ratio(conversions, m[1]),
          "(<= 2x, informative)",
          conversions <= 2 * m[1] ? "yes" : "no");
    }
    SimControl.clearCalls();
  }

  private static String asciiText(int length) {
    String codes = "600000.SH,600519.SH,000001.SZ,300750.SZ,00700.HK,";
    StringBuilder text = new StringBuilder(length);
    while (text.length() < length) {
      text.append(codes);
    }
    return text.substring(0, length);
  }

  // ---- 3. Callback delivery ----------------------------------------------------------------

  private void callbacks() {
    quiesce();
    byte[] subscription = api.csq("600000.SH", "RT_LAST", "");
    check(
        subscription != null && subscription.length == 16 && SimControl.hasCallback(SimControl.CSQ),
        "csq did not register its callback");
    check(BenchNative.subscribeNoop() == 0, "the service's cnq refused the no-op callback");

    // Callback messages of 67 B (one int32) and 1 KB (one blob): 28 header bytes, three
    // one-entry lists (30), the value count (4), the value.
    String[] messages = {
      "w1=1,w2=1|" + HEADER_INT_CUBE + "V=6:7", "w1=1,w2=1|" + HEADER_INT_CUBE + "V=14:\"\"/957"
    };
    int[] sizes = {67, 1024};
    String[] names = {"67 B message", "1 KB message"};
    // Attaching a thread costs tens of microseconds and varies with the machine's load: many
    // short rounds.
    int detachedCount = quick ? 100 : 200;
    int detachedRounds = quick ? 3 : 21;
    int attachedCount = quick ? 1000 : 20000;
    IntConsumer settle = n -> quiesce();

    for (int s = 0; s < sizes.length; s++) {
      final String message = messages[s];
      final int size = sizes[s];

      Variant bridge =
          firing("bridge: 1 service thread, csq callback (attach/detach per message)", 1, message);
      Variant floor =
          new Variant(
              "floor: 1 native thread, attach + byte[] + CallIntMethod + detach per message",
              settle,
              timed(n -> BenchNative.floorDetached(api, n, size)));
      Variant service =
          new Variant(
              "service only: 1 service thread, no-op native callback",
              settle,
              timed(n -> fire(SimControl.CNQ, 1, n, message)));
      double[] m =
          compare("callback delivery on a service thread, " + names[s], "detached-" + size,
              detachedCount, detachedRounds, bridge, floor, service, parkedFiring(1, message));
      rowsWithAndWithoutService("callback delivery, service thread, " + names[s], m, 1.2, "1.2x");
      figures.put("detached-" + size, m[0]);
      diagnosticRow(
          "diagnostic: service thread, " + names[s] + ", log thread held in logAPICallBack",
          m[3],
          m[1]);

      Variant attached =
          firing("bridge: csq callback on the calling Java thread (fire with 0 threads)", 0, message);
      Variant attachedFloor =
          new Variant(
              "floor: byte[] + CallIntMethod per message on the calling Java thread",
              settle,
              timed(n -> BenchNative.floorAttached(api, n, size, false)));
      Variant lookupFloor =
          new Variant(
              "diagnostic: the floor with GetObjectClass + GetMethodID per message",
              settle,
              timed(n -> BenchNative.floorAttached(api, n, size, true)));
      Variant attachedService =
          new Variant(
              "service only: no-op native callback on the calling Java thread",
              settle,
              timed(n -> fire(SimControl.CNQ, 0, n, message)));
      double[] a =
          compare("callback delivery on an attached thread, " + names[s], "attached-" + size,
              attachedCount, attached, attachedFloor, attachedService, parkedFiring(0, message),
              lookupFloor);
      rowsWithAndWithoutService("callback delivery, attached thread, " + names[s], a, 2, "2x");
      diagnosticRow(
          "diagnostic: attached, " + names[s] + ", log thread held in logAPICallBack", a[3], a[1]);
      diagnosticRow(
          "diagnostic: attached floor + GetObjectClass/GetMethodID per message, " + names[s],
          a[4],
          a[1]);
    }
    quiesce();
  }

  // ---- 3b. Service threads attached once -------------------------------------------------

  /**
   * Deliveries on service threads in attached mode (-Dveltrix.callbackThreads=attached): each
   * fired batch runs on one new service thread, which attaches on its first message and is
   * detached when it ends. Floor: one native thread attached once, per message a byte[] of the
   * same size and CallIntMethod. With the figures of a default-mode run, also the per-message
   * delivery beside it and the speed-up.
   */
  private void attachedServiceThreads(String perMessageFile) {
    if (!"attached".equals(System.getProperty("veltrix.callbackThreads"))) {
      problems.add("the threads section needs -Dveltrix.callbackThreads=attached (run-jvm.sh"
          + " starts a JVM of its own for it)");
      return;
    }
    Map<String, Double> perMessage = loadFigures(perMessageFile);
    quiesce();
    byte[] subscription = api.csq("600000.SH", "RT_LAST", "");
    check(
        subscription != null && subscription.length == 16 && SimControl.hasCallback(SimControl.CSQ),
        "csq did not register its callback");
    check(BenchNative.subscribeNoop() == 0, "the service's cnq refused the no-op callback");
    String[] messages = {
      "w1=1,w2=1|" + HEADER_INT_CUBE + "V=6:7", "w1=1,w2=1|" + HEADER_INT_CUBE + "V=14:\"\"/957"
    };
    int[] sizes = {67, 1024};
    String[] names = {"67 B message", "1 KB message"};
    int count = quick ? 1000 : 20000;
    IntConsumer settle = n -> quiesce();
    for (int s = 0; s < sizes.length; s++) {
      final String message = messages[s];
      final int size = sizes[s];
      Variant bridge =
          firing("bridge: 1 service thread attached on its first message, csq callback", 1, message);
      Variant floor =
          new Variant(
              "floor: 1 native thread attached once, byte[] + CallIntMethod per message",
              settle,
              timed(n -> BenchNative.floorAttachedOnce(api, n, size)));
      Variant service =
          new Variant(
              "service only: 1 service thread, no-op native callback",
              settle,
              timed(n -> fire(SimControl.CNQ, 1, n, message)));
      double[] m =
          compare("callback delivery on a service thread, attached mode, " + names[s],
              "threads-" + size, count, bridge, floor, service, parkedFiring(1, message));
      rowsWithAndWithoutService(
          "callback delivery, service thread, attached mode, " + names[s], m, 1.2, "1.2x");
      diagnosticRow(
          "diagnostic: attached mode, " + names[s] + ", log thread held in logAPICallBack",
          m[3],
          m[1]);
      Double cycle = perMessage.get("detached-" + size);
      if (cycle != null) {
        row("... per-message mode, same delivery (default-mode JVM run before)", time(cycle), "-",
            "-", "-", "-");
        row("speed-up of attached mode over per message, " + names[s],
            String.format(Locale.ROOT, "%.1fx", cycle / m[0]), "-", "-", "-", "-");
      }
    }
    quiesce();
  }

  private void saveFigures(String path) {
    StringBuilder out = new StringBuilder();
    for (Map.Entry<String, Double> figure : figures.entrySet()) {
      out.append(figure.getKey()).append(' ').append(figure.getValue()).append('\n');
    }
    try {
      Files.write(Paths.get(path), out.toString().getBytes(StandardCharsets.US_ASCII));
    } catch (IOException e) {
      problems.add("cannot write " + path + ": " + e);
    }
  }

  private Map<String, Double> loadFigures(String path) {
    Map<String, Double> loaded = new LinkedHashMap<>();
    if (path == null) {
      return loaded;
    }
    try {
      for (String line : Files.readAllLines(Paths.get(path), StandardCharsets.US_ASCII)) {
        String[] parts = line.trim().split(" ");
        if (parts.length == 2) {
          loaded.put(parts[0], Double.parseDouble(parts[1]));
        }
      }
    } catch (IOException | NumberFormatException e) {
      System.err.println("jvmbench: no per-message figures from " + path + ": " + e);
    }
    return loaded;
  }

  // ---- 4. Log road -------------------------------------------------------------------------

  private void logRoad() {
    quiesce();
    final int total = quick ? 20_000 : 200_000;
    double floorRate = 0;
    double[] rates = new double[5];
    double[] keepingUpPush = new double[5];
    for (int producers : new int[] {1, 4}) {
      final int perProducer = total / producers;
      final List<Double> pushTimes = new ArrayList<>();
      Variant road =
          new Variant(
              "bridge log road: " + producers + " service thread(s) to logAPICallBack",
              n -> {
                quiesce();
                api.logTargetReachedAt = 0;
                api.logTarget = api.logs.get() + (long) perProducer * producers;
              },
              n -> {
                long start = System.nanoTime();
                SimControl.emitLogRaw(LOG_LINE, perProducer, producers);
                long pushed = System.nanoTime();
                pushTimes.add((pushed - start) / (double) perProducer);
                while (api.logTargetReachedAt == 0) {
                  LockSupport.parkNanos(50_000L);
                }
                return api.logTargetReachedAt - start;
              });
      Variant floor =
          new Variant(
              "floor: byte[] + CallIntMethod per line on one attached thread",
              n -> {
                api.logTargetReachedAt = 0;
                api.logTarget = Long.MAX_VALUE;
              },
              timed(n -> BenchNative.floorLog(api, n, LOG_LINE.length)));
      double[] m =
          compare("log road, " + producers + " producer(s)", "log-" + producers,
              perProducer * producers, road, floor);
      api.logTarget = Long.MAX_VALUE;
      if (profile != null) {
        continue;
      }
      rates[producers] = 1e9 / m[0];
      floorRate = 1e9 / m[1];
      // The timed rounds are the last ones; the first batches were the warm-up.
      double[] timedPushes = new double[rounds];
      for (int i = 0; i < rounds; i++) {
        timedPushes[i] = pushTimes.get(pushTimes.size() - rounds + i);
      }
      keepingUpPush[producers] = median(timedPushes);
      row(
          "log road, " + producers + " producer" + (producers > 1 ? "s" : "")
              + ", to the last line",
          rate(rates[producers]),
          rate(floorRate) + " (bare upcall loop)",
          String.format(Locale.ROOT, "%.2fx of floor rate", rates[producers] / floorRate),
          producers == 4 ? ">= 300,000 lines/s" : "(informative)",
          producers == 4 ? yesNo(rates[producers] >= 300_000) : "-");
    }
    for (int producers : new int[] {1, 4}) {
      row(
          "producer time per push, " + producers + " producer" + (producers > 1 ? "s" : "")
              + ", Java keeping up",
          time(keepingUpPush[producers]),
          "-",
          "-",
          "(informative)",
          "-");
    }

    if (profile != null) {
      return;
    }
    // Producers while logAPICallBack sleeps 1 ms per line: emitLog's wall time over the pushes
    // of one producer (thread start and join included), then single pushes timed from Java.
    int perProducer = quick ? 2_000 : 20_000;
    for (int producers : new int[] {1, 4}) {
      double[] perPush = new double[quick ? 2 : 3];
      for (int round = 0; round < perPush.length; round++) {
        long base = api.logs.get();
        api.logTargetReachedAt = 0;
        api.logTarget = base + (long) perProducer * producers;
        api.logSleepMillis = 1;
        long start = System.nanoTime();
        SimControl.emitLogRaw(LOG_LINE, perProducer, producers);
        perPush[round] = (System.nanoTime() - start) / (double) perProducer;
        api.logSleepMillis = 0;
        drain();
      }
      double value = median(perPush);
      details.add(
          "### producers while logAPICallBack sleeps 1 ms per line, " + producers
              + " producer(s), " + perProducer + " lines each");
      details.add("- emitLog wall time / lines per producer, rounds: " + times(perPush));
      row(
          "producer time per push, " + producers + " producer" + (producers > 1 ? "s" : "")
              + ", Java sleeping 1 ms/line (avg)",
          time(value),
          "-",
          "-",
          "< 10 us",
          yesNo(value < 10_000));
    }

    int singles = quick ? 2_000 : 20_000;
    long[] each = new long[singles];
    long base = api.logs.get();
    api.logTargetReachedAt = 0;
    api.logTarget = base + singles;
    api.logSleepMillis = 1;
    for (int i = 0; i < singles; i++) {
      long start = System.nanoTime();
      SimControl.emitLogRaw(LOG_LINE, 1, 0);
      each[i] = System.nanoTime() - start;
    }
    api.logSleepMillis = 0;
    drain();
    Arrays.sort(each);
    double p50 = each[singles / 2];
    double p99 = each[(int) (singles * 0.99)];
    double max = each[singles - 1];
    details.add("### single pushes timed from Java while logAPICallBack sleeps 1 ms per line");
    details.add(
        "- emitLogRaw(line, 1, 0), " + singles + " calls: p50 " + time(p50) + ", p99 " + time(p99)
            + ", max " + time(max));
    row(
        "producer push, Java sleeping 1 ms/line, single pushes p99 (p50 " + time(p50) + ", max "
            + time(max) + ")",
        time(p99),
        "-",
        "-",
        "< 10 us",
        yesNo(p99 < 10_000));
    api.logTarget = Long.MAX_VALUE;
  }

  /** Waits for the log line that makes logTarget. */
  private void drain() {
    long deadline = System.nanoTime() + 60_000_000_000L;
    while (api.logTargetReachedAt == 0 && System.nanoTime() < deadline) {
      LockSupport.parkNanos(200_000L);
    }
    check(api.logTargetReachedAt != 0, "log lines did not all reach logAPICallBack");
  }

  // ---- 5. Decoding typed results ------------------------------------------------------------

  /** Codes x 1 field x dates: a Result buffer whose values are all `value` encodings. */
  private static byte[] resultBuffer(int codes, int dates, ValueWriter value, int valueBytes) {
    int listBytes = 0;
    for (int c = 0; c < codes; c++) {
      listBytes += 5 + ("C" + c).length();
    }
    for (int d = 0; d < dates; d++) {
      listBytes += 5 + 8;
    }
    listBytes += 5 + 1 + 3 * 4;
    int count = codes * dates;
    ByteBuffer out = ByteBuffer.allocate(16 + listBytes + 4 + valueBytes)
        .order(ByteOrder.LITTLE_ENDIAN);
    out.putInt(0).putInt(0).putLong(out.capacity() - 16);
    out.putInt(codes);
    for (int c = 0; c < codes; c++) {
      putText(out, "C" + c);
    }
    out.putInt(1);
    putText(out, "F");
    out.putInt(dates);
    for (int d = 0; d < dates; d++) {
      putText(out, String.valueOf(20000101 + d));
    }
    out.putInt(count);
    for (int i = 0; i < count; i++) {
      value.put(out, i);
    }
    if (out.hasRemaining()) {
      throw new IllegalStateException(out.remaining() + " bytes of the buffer left");
    }
    return out.array();
  }

  private interface ValueWriter {
    void put(ByteBuffer out, int i);
  }

  private static void putText(ByteBuffer out, String text) {
    byte[] utf8 = text.getBytes(StandardCharsets.UTF_8);
    out.putInt(utf8.length + 1).put(utf8).put((byte) 0);
  }

  /** Where the values start: after the header, the three lists and the count. */
  private static int valuesOffset(byte[] reply) {
    ByteBuffer in = ByteBuffer.wrap(reply).order(ByteOrder.LITTLE_ENDIAN);
    in.position(16);
    for (int list = 0; list < 3; list++) {
      int n = in.getInt();
      for (int i = 0; i < n; i++) {
        in.position(in.position() + 4 + in.getInt(in.position()));
      }
    }
    return in.position() + 4;
  }

  private static String shortText(int i) {
    return "name-" + i;
  }

  /** Heap in use after collecting, in bytes. */
  private static long usedHeap() {
    long used = Long.MAX_VALUE;
    for (int i = 0; i < 4; i++) {
      System.gc();
      used = Math.min(used,
          ManagementFactory.getMemoryMXBean().getHeapMemoryUsage().getUsed());
    }
    return used;
  }

  private void decode() {
    final int count = 1_000_000;
    final byte[] numbers = resultBuffer(1000, 1000,
        (out, i) -> out.put((byte) 11).putDouble(i * 0.25), 9 * count);
    final int numbersAt = valuesOffset(numbers);
    final int texts = 100_000;
    int textBytes = 0;
    for (int i = 0; i < texts; i++) {
      textBytes += 5 + shortText(i).length() + 1;
    }
    final byte[] words = resultBuffer(1000, 100, (out, i) -> {
      byte[] utf8 = shortText(i).getBytes(StandardCharsets.UTF_8);
      out.put((byte) 14).putInt(utf8.length + 1).put(utf8).put((byte) 0);
    }, textBytes);
    final int wordsAt = valuesOffset(words);

    QueryResult check = QueryResult.ofCube("csd", numbers);
    check(check.isOk() && check.cube().size() == count
        && check.cube().doubleAt(count - 1) == (count - 1) * 0.25, "the numeric cube decodes");
    QueryResult checkTexts = QueryResult.ofCube("csd", words);
    check(checkTexts.isOk() && checkTexts.cube().textAt(texts - 1).equals(shortText(texts - 1)),
        "the text cube decodes");

    Variant typed = new Variant("QueryResult.ofCube + doubleAt of every value", null,
        timed(n -> {
          double sum = 0;
          for (int k = 0; k < n; k++) {
            DataCube cube = QueryResult.ofCube("csd", numbers).cube();
            for (int i = 0, size = cube.size(); i < size; i++) {
              sum += cube.doubleAt(i);
            }
          }
          blackhole += (long) sum;
        }));
    Variant bare = new Variant("floor: ByteBuffer loop reading each tag and double", null,
        timed(n -> {
          double sum = 0;
          for (int k = 0; k < n; k++) {
            ByteBuffer in = ByteBuffer.wrap(numbers).order(ByteOrder.LITTLE_ENDIAN);
            in.position(numbersAt);
            for (int i = 0; i < count; i++) {
              byte tag = in.get();
              if (tag != 11) {
                throw new IllegalStateException("tag " + tag);
              }
              sum += in.getDouble();
            }
          }
          blackhole += (long) sum;
        }));
    double[] m = compare("decode 1,000,000 doubles and read each", "decode-numeric", 0, typed,
        bare);
    if (profile == null) {
      row("decode a 1,000,000-value numeric cube, read every value as double ("
              + time(m[0] / count) + "/value)", time(m[0]), time(m[1]) + " (ByteBuffer loop)",
          ratio(m[0], m[1]), "<= 3x", yesNo(m[0] <= 3 * m[1]));
    }

    Variant typedTexts = new Variant("QueryResult.ofCube + textAt of every value", null,
        timed(n -> {
          long sum = 0;
          for (int k = 0; k < n; k++) {
            DataCube cube = QueryResult.ofCube("csd", words).cube();
            for (int i = 0, size = cube.size(); i < size; i++) {
              sum += cube.textAt(i).length();
            }
          }
          blackhole += sum;
        }));
    Variant bareTexts = new Variant("floor: ByteBuffer loop making each String", null,
        timed(n -> {
          long sum = 0;
          for (int k = 0; k < n; k++) {
            ByteBuffer in = ByteBuffer.wrap(words).order(ByteOrder.LITTLE_ENDIAN);
            in.position(wordsAt);
            for (int i = 0; i < texts; i++) {
              byte tag = in.get();
              int length = in.getInt();
              if (tag != 14 || length < 1) {
                throw new IllegalStateException("tag " + tag);
              }
              int at = in.position();
              sum += new String(words, at, length - 1, StandardCharsets.UTF_8).length();
              in.position(at + length);
            }
          }
          blackhole += sum;
        }));
    double[] t = compare("decode 100,000 short texts and read each", "decode-text", 0,
        typedTexts, bareTexts);
    if (profile != null) {
      return;
    }
    row("decode 100,000 short texts, read every value as String (" + time(t[0] / texts)
            + "/value)", time(t[0]), time(t[1]) + " (ByteBuffer loop + new String)",
        ratio(t[0], t[1]), "<= 3x", yesNo(t[0] <= 3 * t[1]));

    // Retained heap: what a decoded cube keeps beyond nothing, the reply array included.
    long before = usedHeap();
    DataCube kept = QueryResult.ofCube("csd", numbers).cube();
    long after = usedHeap();
    double perValue = (after - before + numbers.length) / (double) count;
    double payloadPerValue = numbers.length / (double) count;
    blackhole += kept.size();
    details.add("### retained heap of a decoded 1,000,000-value numeric cube");
    details.add(String.format(Locale.ROOT,
        "- heap in use %,d bytes before decoding, %,d after; the reply array %,d bytes", before,
        after, numbers.length));
    row("retained heap per value, 1,000,000-value numeric cube (reply array included)",
        String.format(Locale.ROOT, "%.1f B", perValue),
        String.format(Locale.ROOT, "%.1f B (the reply's own bytes)", payloadPerValue),
        String.format(Locale.ROOT, "%.2fx", perValue / payloadPerValue), "(informative)", "-");
  }

  // ---- Report ------------------------------------------------------------------------------

  private void checkService() {
    String[] errors = SimControl.errors();
    check(errors.length == 0, "the service recorded errors: " + Arrays.toString(errors));
    check(SimControl.outstandingRecords() == 0,
        "records not released: " + SimControl.outstandingRecords());
    check(BenchNative.errors() == 0, "the floors saw " + BenchNative.errors() + " failures");
  }

  private void print(double seconds) {
    List<String> jvmArgs = ManagementFactory.getRuntimeMXBean().getInputArguments();
    StringBuilder out = new StringBuilder();
    out.append("## JNI round trips beside their floors (one JVM)\n\n");
    out.append(
        String.format(
            Locale.ROOT,
            "JVM %s %s, %d CPUs, arguments %s; %s; %d rounds (21 for attaching threads),"
                + " medians; load average %s before the run, %s after; %.0f s.%n%n",
            System.getProperty("java.vm.name"),
            System.getProperty("java.version"),
            Runtime.getRuntime().availableProcessors(),
            jvmArgs,
            quick ? "QUICK run (figures not meaningful)" : "full run",
            rounds,
            loadBefore,
            loadAverage(),
            seconds));
    if (!jvmArgs.contains("-XX:+AlwaysPreTouch") || !jvmArgs.contains("-Xms2g")) {
      out.append("**Warning: the heap is not fixed and pre-touched: large arrays page-fault.**");
      out.append("\n\n");
    }
    out.append("| figure | value | floor | ratio | target | holds |\n");
    out.append("|---|---|---|---|---|---|\n");
    for (String[] row : rows) {
      out.append("| ").append(String.join(" | ", row)).append(" |\n");
    }
    out.append("\nMethod:\n");
    out.append(
        "- csd: the service hands out one prebuilt cube by pointer (queued in bulk before each"
            + " batch, outside the timing). Floors: an empty native method with csd's arguments"
            + " that makes a byte[] of the reply's length (NewByteArray + SetByteArrayRegion);"
            + " and the same after calling the service's csd and releasedata natively with"
            + " arguments converted beforehand (everything but the bridge's own work).\n");
    out.append(
        "- JStringToNative: the bridge's function linked into the bench library and looped in"
            + " native code, beside GetStringLength + GetStringRegion into a stack buffer, looped"
            + " the same way. The pdelete rows: the export through the bridge less the service's"
            + " pdelete called natively with the text converted beforehand (the difference is"
            + " both arguments' conversion plus the export's own work). The prototype rows"
            + " measure a candidate rewrite kept in the bench library (ASCII path: GetStringLength,"
            + " GetStringRegion per 512 units, one pass that narrows and ORs the units, memchr for"
            + " U+0000, one ExceptionCheck); it is not the bridge's code.\n");
    out.append(
        "- Callbacks: messages fired by the simulated service at the csq callback; time from"
            + " fire to the last dataAPICallBack (service threads joined, or fire returned on the"
            + " calling thread). Floors in the bench library: per message a byte[] of the"
            + " message's size and CallIntMethod of a Java method with the same body (it counts),"
            + " with attach/detach per message on a native thread, or on the calling Java thread."
            + " The service's own cost is fire at a no-op native callback. Diagnostics: the"
            + " bridge's attached delivery while the log thread is held inside logAPICallBack"
            + " (its per-message log line then wakes nobody and meets no consumer), and the"
            + " floor with a class and method lookup per message.\n");
    out.append(
        "- Log road: emitLog from 1 or 4 service threads, timed until logAPICallBack has counted"
            + " the last line; floor: byte[] + CallIntMethod per line on one attached thread (the"
            + " consumer's bare rate). Producer time per push: emitLog's wall time (thread start"
            + " and join included) over one producer's pushes, while logAPICallBack keeps up or"
            + " sleeps 1 ms per line; and single pushes (emitLogRaw with 0 threads) timed from"
            + " Java, which adds a JNI call and the service's copy of the line.\n");
    out.append(
        "- Decoding: Result buffers built in Java (1,000 codes x 1 field x 1,000 dates of"
            + " doubles; 1,000 x 1 x 100 texts \"name-<i>\"), decoded with QueryResult.ofCube"
            + " and read with DataCube.doubleAt / textAt, beside a ByteBuffer loop that starts at"
            + " the first value and reads each tag and double, or tag, length and new String;"
            + " no JNI. Retained heap: heap in use after System.gc() before and after decoding one"
            + " cube that is kept, plus the reply array it reads, per value.\n");
    out.append(
        "- Attached mode (section threads, a JVM of its own with"
            + " -Dveltrix.callbackThreads=attached): each batch fired on one new service thread,"
            + " which attaches on its first message and is detached as it ends (both inside the"
            + " timing, spread over the batch). Floor: one native thread attached once, per"
            + " message a byte[] of the message's size and CallIntMethod. The per-message row is"
            + " the callback section's figure from the default-mode JVM run just before; the"
            + " speed-up is that over the attached-mode figure.\n");
    out.append("\n## Rounds\n\n");
    for (String line : details) {
      out.append(line).append('\n');
    }
    if (!problems.isEmpty()) {
      out.append("\n## Problems\n\n");
      for (String problem : problems) {
        out.append("- ").append(problem).append('\n');
      }
    }
    System.out.print(out);
    System.out.flush();
  }

  /** The system's load average over the last minute: other work shares the CPUs. */
  private static String loadAverage() {
    double load = ManagementFactory.getOperatingSystemMXBean().getSystemLoadAverage();
    return load < 0 ? "unknown" : String.format(Locale.ROOT, "%.2f", load);
  }

  private static String time(double nanos) {
    double magnitude = Math.abs(nanos);
    if (magnitude < 100) {
      return String.format(Locale.ROOT, "%.1f ns", nanos);
    }
    if (magnitude < 10_000) {
      return String.format(Locale.ROOT, "%.0f ns", nanos);
    }
    if (magnitude < 10_000_000) {
      return String.format(Locale.ROOT, "%.1f us", nanos / 1e3);
    }
    return String.format(Locale.ROOT, "%.2f ms", nanos / 1e6);
  }

  private static String times(double[] values) {
    StringBuilder text = new StringBuilder();
    for (double value : values) {
      text.append(text.length() == 0 ? "" : " ").append(time(value));
    }
    return text.toString();
  }

  private static String rate(double perSecond) {
    return String.format(Locale.ROOT, "%,.0f lines/s", perSecond);
  }

  private static String ratio(double value, double floor) {
    return String.format(Locale.ROOT, "%.2fx (%+.0f ns)", value / floor, value - floor);
  }
}
