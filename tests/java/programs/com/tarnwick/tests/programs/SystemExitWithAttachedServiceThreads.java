package com.tarnwick.tests.programs;

/**
 * As {@link ExitWithAttachedServiceThreads}, then System.exit(0) instead of returning: the
 * process must end although the simulated service stops its attached threads while the process
 * exits (a JNI call from them then would block for good).
 *
 * <p>Argument: the directory of the simulated service library.
 */
public final class SystemExitWithAttachedServiceThreads {
  private SystemExitWithAttachedServiceThreads() {}

  public static void main(String[] args) throws InterruptedException {
    ExitWithAttachedServiceThreads.main(args);
    System.exit(0);
  }
}
