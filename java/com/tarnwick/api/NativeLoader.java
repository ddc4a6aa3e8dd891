package com.tarnwick.api;

import java.io.File;
import java.net.URISyntaxException;
import java.net.URL;
import java.security.CodeSource;

/**
 * Loads the JNI bridge library {@code veltrixjni} into the virtual machine, once.
 *
 * <p>Where it looks, in this order:
 *
 * <ol>
 *   <li>the file named by the system property {@value #PATH_PROPERTY}, when it is set;
 *   <li>the directories of {@code java.library.path};
 *   <li>the directory of the jar (or class directory) that holds this class, so that the
 *       library can ship next to {@code veltrix-api.jar};
 *   <li>{@link System#loadLibrary(String)}, which searches the platform's own places and reports
 *       the failure.
 * </ol>
 *
 * <p>The file name is the platform's: {@code libveltrixjni.so} on Linux, {@code veltrixjni.dll}
 * on Windows, {@code libveltrixjni.dylib} on macOS.
 */
public final class NativeLoader {
  /** Name of the bridge library as given to {@link System#loadLibrary(String)}. */
  public static final String LIBRARY_NAME = "veltrixjni";

  /** System property naming the bridge library file to load instead of the search. */
  public static final String PATH_PROPERTY = "veltrixjni.path";

  private static boolean loaded;
  private static String loadedFrom;

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
      loadedFrom = path;
    } else {
      File file = find();
      if (file != null) {
        System.load(file.getAbsolutePath());
        loadedFrom = file.getAbsolutePath();
      } else {
        System.loadLibrary(LIBRARY_NAME);
        loadedFrom = System.mapLibraryName(LIBRARY_NAME) + " (system search)";
      }
    }
    loaded = true;
  }

  /**
   * Where the library was loaded from.
   *
   * @return the file's absolute name, or the library's file name followed by " (system search)"
   *     when {@link System#loadLibrary(String)} found it; null before it is loaded
   */
  public static synchronized String loadedFrom() {
    return loadedFrom;
  }

  /**
   * The library file that {@link #load()} would load before falling back to the system search.
   *
   * @return the file, or null when neither {@code java.library.path} nor the jar's directory
   *     holds it
   */
  public static File find() {
    String fileName = System.mapLibraryName(LIBRARY_NAME);
    String libraryPath = System.getProperty("java.library.path", "");
    for (String dir : libraryPath.split(File.pathSeparator)) {
      if (!dir.isEmpty()) {
        File file = new File(dir, fileName);
        if (file.isFile()) {
          return file;
        }
      }
    }
    File codeDir = codeDirectory();
    if (codeDir != null) {
      File file = new File(codeDir, fileName);
      if (file.isFile()) {
        return file;
      }
    }
    return null;
  }

  /** The directory of the jar that holds this class, or the class directory itself. */
  private static File codeDirectory() {
    try {
      CodeSource source = NativeLoader.class.getProtectionDomain().getCodeSource();
      URL location = source == null ? null : source.getLocation();
      if (location == null || !"file".equals(location.getProtocol())) {
        return null;
      }
      File code = new File(location.toURI());
      return code.isDirectory() ? code : code.getParentFile();
    } catch (URISyntaxException | SecurityException | IllegalArgumentException e) {
      return null;
    }
  }
}
