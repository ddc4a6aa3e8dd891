package com.tarnwick.api;

/**
 * Loads the JNI bridge library {@code veltrixjni} into the virtual machine, once.
 *
 * <p>The library is looked up through {@code java.library.path} ({@link
 * System#loadLibrary(String)}). Setting the system property {@value #PATH_PROPERTY} to the
 * library's absolute file name loads that file instead.
 */
public final class NativeLoader {
  /** Name of the bridge library as given to {@link System#loadLibrary(String)}. */
  public static final String LIBRARY_NAME = "veltrixjni";

  /** System property naming the bridge library file to load instead of the search. */
  public static final String PATH_PROPERTY = "veltrixjni.path";

  private static boolean loaded;

  private NativeLoader() {}

  /**
   * Loads the bridge library unless it is loaded already. The virtual machine runs the library's
   * {@code JNI_OnLoad} on the first load.
   *
   * @throws UnsatisfiedLinkError if the library cannot be found or loaded
   */
  public static synchronized void load() {
    if (loaded) {
      return;
    }
    String path = System.getProperty(PATH_PROPERTY);
    if (path != null && !path.isEmpty()) {
      System.load(path);
    } else {
      System.loadLibrary(LIBRARY_NAME);
    }
    loaded = true;
  }
}
