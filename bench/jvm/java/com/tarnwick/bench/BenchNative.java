package com.tarnwick.bench;

/**
 * Natives of the benchmarks' own library (bench/jvm/native): the floors each road through the
 * bridge is compared with, and hooks into the simulated service library.
 *
 * <p>The instance methods have the shape of the bridge's exports they stand beside (an instance
 * receiver and the same arguments), so that the Java-to-native transition is the same on both
 * sides.
 */
final class BenchNative {
  /** Finds the simulated library the bridge loaded; null, or why it could not. */
  static native String init(String simLibraryFile);

  /** Unexpected results seen by the floors (service codes, missing records, exceptions). */
  static native int errors();

  // ---- csd round trip ----

  /**
   * Builds a cube of three one-entry lists and one value: an int32 for 0, a blob of {@code
   * blobBytes} bytes above 0; -1 is the empty cube. Returns its index.
   */
  static native int addCube(int blobBytes);

  /** Queues the cube for the service's next {@code count} cube-returning calls. */
  static native void queueCube(int index, int count);

  /** Length of the arrays that {@link #emptyCopy} and {@link #simCsdCopy} make. */
  static native void setReplyLength(int length);

  /** The arguments {@link #simCsdCopy} passes to the service, converted now. */
  static native void setCsdArgs(String s1, String s2, String s3, String s4, String s5);

  /** Floor: a native method with csd's arguments that makes a reply-sized array. */
  native byte[] emptyCopy(String s1, String s2, String s3, String s4, String s5);

  /** Floor with the service: the service's csd and releasedata, then the reply-sized array. */
  native byte[] simCsdCopy(String s1, String s2, String s3, String s4, String s5);

  // ---- Java strings ----

  /** {@code count} conversions by the bridge's JStringToNative; the bytes made. */
  static native long convertLoop(String text, int count);

  /** {@code count} conversions of five strings by JStringToNative; the bytes made. */
  static native long convertFiveLoop(
      String s1, String s2, String s3, String s4, String s5, int count);

  /**
   * {@code count} conversions by a prototype of a faster JStringToNative in the bench library
   * (two JNI reads, one vectorisable pass for ASCII text); the bytes made.
   */
  static native long prototypeLoop(String text, int count);

  /** {@code count} reads with GetStringLength and GetStringRegion; the units read. */
  static native long regionLoop(String text, int count);

  /** The text {@link #simPdelete} passes, converted now. */
  static native void setText(String text);

  /** The service's pdelete with the text of {@link #setText} and "", past the bridge. */
  native int simPdelete(String s1, String s2);

  // ---- Callbacks and log lines ----

  /** Gives the service's cnq a callback that does nothing; the service's code. */
  static native int subscribeNoop();

  /**
   * One native thread that, per message, attaches, calls {@code
   * target.floorDataCallBack(new byte[size], 1)} and detaches; returns after joining it.
   */
  static native int floorDetached(Object target, int count, int size);

  /**
   * The same upcalls on the calling thread, which is attached; with {@code lookup}, the class
   * and method are looked up again for every message.
   */
  static native int floorAttached(Object target, int count, int size, boolean lookup);

  /**
   * On one native thread attached once (as a daemon) for all {@code count} messages: per message
   * {@code target.floorDataCallBack(new byte[size], 1)}; returns after joining it.
   */
  static native int floorAttachedOnce(Object target, int count, int size);

  /** Per line, {@code target.floorLogCallBack(new byte[size])} on the calling thread. */
  static native int floorLog(Object target, int count, int size);

  private BenchNative() {}

  /** An instance for the instance methods. */
  static BenchNative create() {
    return new BenchNative();
  }
}
