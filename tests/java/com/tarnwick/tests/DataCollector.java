package com.tarnwick.tests;

import static org.junit.jupiter.api.Assertions.fail;

import com.tarnwick.api.DataListener;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;

/**
 * Collects what reaches dataAPICallBack: each message with its kind and the Java thread that
 * delivered it. Thread-safe; lets a test wait for deliveries.
 */
public final class DataCollector implements DataListener {
  /** How long a test waits for expected deliveries. */
  public static final long WAIT_SECONDS = 20;

  /** One call of dataAPICallBack. */
  public static final class Delivery {
    public final byte[] message;
    public final int kind;
    public final Thread thread;

    Delivery(byte[] message, int kind, Thread thread) {
      this.message = message;
      this.kind = kind;
      this.thread = thread;
    }

    @Override
    public String toString() {
      return "Delivery[kind=" + kind + ", thread=" + thread.getName()
          + ", message=" + Hex.of(message) + "]";
    }
  }

  private final List<Delivery> deliveries = new ArrayList<>();

  @Override
  public void onData(byte[] message, int kind) {
    Delivery delivery = new Delivery(message, kind, Thread.currentThread());
    synchronized (this) {
      deliveries.add(delivery);
      notifyAll();
    }
  }

  /** A copy of the deliveries so far, in arrival order. */
  public synchronized List<Delivery> deliveries() { return new ArrayList<>(deliveries); }

  public synchronized int size() { return deliveries.size(); }

  public synchronized void clear() { deliveries.clear(); }

  /** Waits until at least {@code count} deliveries match; returns all matching ones. */
  public synchronized List<Delivery> await(Predicate<Delivery> filter, int count) {
    long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(WAIT_SECONDS);
    while (true) {
      List<Delivery> matching = new ArrayList<>();
      for (Delivery delivery : deliveries) {
        if (filter.test(delivery)) {
          matching.add(delivery);
        }
      }
      if (matching.size() >= count) {
        return matching;
      }
      long left = deadline - System.nanoTime();
      if (left <= 0) {
        fail("expected " + count + " matching deliveries within " + WAIT_SECONDS + " s; got "
            + matching.size() + " of " + deliveries);
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
