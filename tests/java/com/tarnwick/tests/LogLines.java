package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.time.temporal.ChronoUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** Patterns for the bridge's log lines: "[Vx_Debug][yyyy-MM-dd HH:mm:ss]:message\n". */
public final class LogLines {
  /** The time stamp, "%d-%02d-%02d %02d:%02d:%02d" for a four-digit year. */
  public static final String TIME_STAMP = "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}";

  /** Any line the bridge formats itself. */
  public static final Pattern ANY_BRIDGE_LINE =
      Pattern.compile("\\[Vx_(Debug|Error)\\]\\[" + TIME_STAMP + "\\]:[^\\n]*\\n", Pattern.DOTALL);

  private static final Pattern STAMP =
      Pattern.compile("\\[Vx_(?:Debug|Error)\\]\\[(" + TIME_STAMP + ")\\]:.*", Pattern.DOTALL);

  private LogLines() {}

  /** A debug line whose message is exactly {@code message}. */
  public static Pattern debug(String message) {
    return Pattern.compile(
        "\\[Vx_Debug\\]\\[" + TIME_STAMP + "\\]:" + Pattern.quote(message) + "\\n", Pattern.DOTALL);
  }

  /** An error line whose message is exactly {@code message}. */
  public static Pattern error(String message) {
    return Pattern.compile(
        "\\[Vx_Error\\]\\[" + TIME_STAMP + "\\]:" + Pattern.quote(message) + "\\n", Pattern.DOTALL);
  }

  /** An error line whose message matches the regular expression {@code messageRegex}. */
  public static Pattern errorMatching(String messageRegex) {
    return Pattern.compile(
        "\\[Vx_Error\\]\\[" + TIME_STAMP + "\\]:" + messageRegex + "\\n", Pattern.DOTALL);
  }

  /** "function address of &lt;label&gt; is null." */
  public static Pattern missingEntry(String label) {
    return error("function address of " + label + " is null.");
  }

  /** "dir is &lt;dir&gt;" */
  public static Pattern dirIs(String dir) {
    return debug("dir is " + dir);
  }

  /** "LoadLibrary Fail &lt;code&gt;", possibly followed by the loader's own text. */
  public static final Pattern LOAD_LIBRARY_FAIL = errorMatching("LoadLibrary Fail -?\\d+[^\\n]*");

  /**
   * Asserts that the time stamp of a bridge line is a valid local date and time within a few
   * minutes of now (it catches a zero-based month, a two-digit year and UTC instead of local time
   * on a machine whose zone is not UTC).
   */
  public static void assertStampIsNow(String line) {
    Matcher matcher = STAMP.matcher(line);
    assertTrue(matcher.matches(), "not a bridge line: " + line);
    LocalDateTime stamp =
        LocalDateTime.parse(matcher.group(1), DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm:ss"));
    long minutes = Math.abs(ChronoUnit.MINUTES.between(stamp, LocalDateTime.now()));
    assertTrue(minutes <= 10, "time stamp " + stamp + " is " + minutes + " minutes from now");
  }
}
