package com.tarnwick.api;

import java.util.ArrayDeque;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.Executor;

/**
 * Runs deliveries on an executor, one stream at a time: the tasks of one stream run one after
 * the other in the order they were submitted, those of different streams independently. A
 * stream's lane exists while it has work and is dropped when it runs dry.
 */
final class OrderedDispatch {
  /** Tasks a lane runs before it hands its thread back to the executor. */
  private static final int BATCH = 64;

  private final Executor executor;
  private final BridgeLogger reports;
  private final ConcurrentHashMap<Long, Lane> lanes = new ConcurrentHashMap<Long, Lane>();

  OrderedDispatch(Executor executor, BridgeLogger reports) {
    this.executor = executor;
    this.reports = reports;
  }

  void submit(long stream, Runnable task) {
    while (true) {
      Lane lane = lanes.computeIfAbsent(stream, Lane::new);
      if (lane.offer(task)) {
        return;
      }
      // The lane ran dry and left the map just now: the next one takes the task.
    }
  }

  private final class Lane implements Runnable {
    private final long stream;
    private final ArrayDeque<Runnable> tasks = new ArrayDeque<Runnable>();
    private boolean scheduled;
    private boolean retired;

    Lane(long stream) {
      this.stream = stream;
    }

    boolean offer(Runnable task) {
      synchronized (this) {
        if (retired) {
          return false;
        }
        tasks.add(task);
        if (scheduled) {
          return true;
        }
        scheduled = true;
      }
      schedule();
      return true;
    }

    private void schedule() {
      try {
        executor.execute(this);
      } catch (Throwable rejected) {
        int dropped;
        synchronized (this) {
          dropped = tasks.size();
          tasks.clear();
          retire();
        }
        reports.listenerFailed("listener executor (" + dropped + " deliveries dropped)", rejected);
      }
    }

    /** Under the lane's lock. */
    private void retire() {
      scheduled = false;
      retired = true;
      lanes.remove(stream, this);
    }

    @Override
    public void run() {
      for (int n = 0; n < BATCH; n++) {
        Runnable task;
        synchronized (this) {
          task = tasks.poll();
          if (task == null) {
            retire();
            return;
          }
        }
        try {
          task.run();
        } catch (Throwable thrown) {
          reports.listenerFailed("delivery", thrown);
        }
      }
      schedule(); // more to come: let other lanes have the thread first
    }
  }
}
