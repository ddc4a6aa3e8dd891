package com.tarnwick.api;

import java.nio.charset.StandardCharsets;
import java.time.DateTimeException;
import java.time.LocalDateTime;
import java.util.Optional;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * One log line as the bridge delivers it, parsed, immutable.
 *
 * <p>The bridge's own lines have the form {@code [Vx_Debug][2024-06-28 09:30:00]:message\n} or
 * {@code [Vx_Error][...]:message\n}: a tag, the local time and the message. Lines of the service
 * library pass through as the library wrote them: they have no tag ({@link Tag#OTHER}) and no time
 * stamp, and their message is the whole line.
 */
public final class LogLine {
  /** The level of a line. */
  public enum Tag {
    /** "[Vx_Debug]": the bridge reports progress. */
    DEBUG,
    /** "[Vx_Error]": the bridge reports a failure. */
    ERROR,
    /** Anything else: a line of the service library. */
    OTHER
  }

  private static final Pattern BRIDGE_LINE = Pattern.compile(
      "\\[Vx_(Debug|Error)\\]\\[(\\d{1,9})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})\\]:(.*)",
      Pattern.DOTALL);

  private final Tag tag;
  private final LocalDateTime timestamp;
  private final String message;
  private final String text;

  private LogLine(Tag tag, LocalDateTime timestamp, String message, String text) {
    this.tag = tag;
    this.timestamp = timestamp;
    this.message = message;
    this.text = text;
  }

  /**
   * Parses a line as {@link NativeAPI#logAPICallBack(byte[])} receives it: UTF-8 without a
   * terminator. Bytes that are not UTF-8 become U+FFFD.
   *
   * @param utf8 the line's bytes; null is read as an empty line
   * @return the line
   */
  public static LogLine parse(byte[] utf8) {
    return parse(utf8 == null ? "" : new String(utf8, StandardCharsets.UTF_8));
  }

  /**
   * Parses a line's text.
   *
   * @param text the line
   * @return the line
   */
  public static LogLine parse(String text) {
    Matcher matcher = BRIDGE_LINE.matcher(text);
    if (matcher.matches()) {
      LocalDateTime timestamp;
      try {
        timestamp = LocalDateTime.of(Integer.parseInt(matcher.group(2)),
            Integer.parseInt(matcher.group(3)), Integer.parseInt(matcher.group(4)),
            Integer.parseInt(matcher.group(5)), Integer.parseInt(matcher.group(6)),
            Integer.parseInt(matcher.group(7)));
      } catch (DateTimeException e) {
        timestamp = null; // a time stamp that is no time: the line is still the bridge's
      }
      Tag tag = matcher.group(1).equals("Debug") ? Tag.DEBUG : Tag.ERROR;
      return new LogLine(tag, timestamp, stripNewline(matcher.group(8)), text);
    }
    return new LogLine(Tag.OTHER, null, stripNewline(text), text);
  }

  private static String stripNewline(String text) {
    if (text.endsWith("\r\n")) {
      return text.substring(0, text.length() - 2);
    }
    return text.endsWith("\n") ? text.substring(0, text.length() - 1) : text;
  }

  /**
   * The line's tag.
   *
   * @return DEBUG or ERROR for the bridge's lines, OTHER for the service's
   */
  public Tag tag() {
    return tag;
  }

  /**
   * Whether the line is one of the bridge's own.
   *
   * @return true for DEBUG and ERROR lines
   */
  public boolean isFromBridge() {
    return tag != Tag.OTHER;
  }

  /**
   * The local time at which the bridge wrote the line (to the second).
   *
   * @return the time, or empty for a service line
   */
  public Optional<LocalDateTime> timestamp() {
    return Optional.ofNullable(timestamp);
  }

  /**
   * The message: after the tag and time stamp for the bridge's lines, the whole line for the
   * service's; without a final newline.
   *
   * @return the message
   */
  public String message() {
    return message;
  }

  /**
   * The line exactly as delivered, newline included.
   *
   * @return the text
   */
  public String text() {
    return text;
  }

  /** Equal when the texts are. */
  @Override
  public boolean equals(Object other) {
    return other instanceof LogLine && ((LogLine) other).text.equals(text);
  }

  @Override
  public int hashCode() {
    return text.hashCode();
  }

  /**
   * The line without its final newline.
   *
   * @return the text
   */
  @Override
  public String toString() {
    return stripNewline(text);
  }
}
