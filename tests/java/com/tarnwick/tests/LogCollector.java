package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.fail;

import com.tarnwick.api.LogListener;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;

/**
 * Collects the lines that reach logAPICallBack, with the thread that delivered each, and lets a
 * test wait for a line. Lines that are not valid UTF-8 are kept as such and reported by {@link
 * #invalidUtf8Count()}.
 */
public final class LogCollector implements LogListener {
  /** How long a test waits for an expected line. */
  public static final long WAIT_SECONDS = 20;

  private final List<String> lines = new ArrayList<>();
  private final List<Long> threadIds = new ArrayList<>();
  private int invalidUtf8;
  private int nullLines;

  @Override
  public void onLog(byte[] bytes) {
    long threadId = Thread.currentThread().getId();
    String text;
    boolean valid = true;
    if (bytes == null) {
      text = null;
    } else {
      try {
        text = StandardCharsets.UTF_8.newDecoder()
                   .onMalformedInput(CodingErrorAction.REPORT)
                   .onUnmappableCharacter(CodingErrorAction.REPORT)
                   .decode(ByteBuffer.wrap(bytes))
                   .toString();
      } catch (CharacterCodingException e) {
        valid = false;
        text = new String(bytes, StandardCharsets.UTF_8);
      }
    }
    synchronized (this) {
      if (text == null) {
        nullLines++;
      } else {
        lines.add(text);
        threadIds.add(threadId);
      }
      if (!valid) {
        invalidUtf8++;
      }
      notifyAll();
    }
  }

  /** A copy of the lines received so far, in order. */
  public synchronized List<String> lines() {
    return new ArrayList<>(lines);
  }

  /** The number of lines received so far. */
  public synchronized int size() {
    return lines.size();
  }

  /** The ids of the threads that delivered lines. */
  public synchronized Set<Long> threadIds() {
    return new HashSet<>(threadIds);
  }

  /** Lines that were not valid UTF-8. */
  public synchronized int invalidUtf8Count() {
    return invalidUtf8;
  }

  /** Calls with a null array. */
  public synchronized int nullLineCount() {
    return nullLines;
  }

  /**
   * Waits until a line at index {@code from} or later matches {@code pattern} in full.
   *
   * @return the index of the first such line
   */
  public synchronized int await(Pattern pattern, int from) {
    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(WAIT_SECONDS);
    int next = from;
    while (true) {
      for (; next < lines.size(); next++) {
        if (pattern.matcher(lines.get(next)).matches()) {
          return next;
        }
      }
      long left = deadline - System.nanoTime();
      if (left <= 0) {
        fail("no line matching " + pattern + " from index " + from + " within " + WAIT_SECONDS
            + " s; lines: " + lines);
      }
      try {
        TimeUnit.NANOSECONDS.timedWait(this, left);
      } catch (InterruptedException e) {
        Thread.currentThread().interrupt();
        fail("interrupted");
      }
    }
  }

  /** Waits until at least {@code count} lines have arrived. */
  public synchronized void awaitSize(int count) {
    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(WAIT_SECONDS);
    while (lines.size() < count) {
      long left = deadline - System.nanoTime();
      if (left <= 0) {
        fail("expected " + count + " lines within " + WAIT_SECONDS + " s; got " + lines);
      }
      try {
        TimeUnit.NANOSECONDS.timedWait(this, left);
      } catch (InterruptedException e) {
        Thread.currentThread().interrupt();
        fail("interrupted");
      }
    }
  }
}
