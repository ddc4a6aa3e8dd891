package com.tarnwick.api;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URISyntaxException;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.security.CodeSource;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;

/**
 * Loads the JNI bridge library {@code veltrixjni} into the virtual machine, once.
 *
 * <p>Where it looks, in this order:
 *
 * <ol>
 *   <li>the file named by the system property {@value #PATH_PROPERTY}, when it is set (and
 *       nowhere else then);
 *   <li>the directories of {@code java.library.path};
 *   <li>the directory of the jar (or class directory) that holds this class, so that the
 *       library can ship next to {@code veltrix-api.jar};
 *   <li>the library the jar carries for the running platform, the resource {@link
 *       #resourceName()}: {@value #RESOURCE_ROOT}{@code <os>-<arch>/} followed by the platform's
 *       file name for {@code veltrixjni-<version>}, for example {@code
 *       META-INF/native/linux-x86_64/libveltrixjni-0.1.0.so} or {@code
 *       META-INF/native/windows-x86_64/veltrixjni-0.1.0.dll}. It is extracted into the directory
 *       named by {@value #EXTRACT_DIR_PROPERTY} when that is set (and kept there), otherwise into
 *       a new directory under {@code java.io.tmpdir} that only the current user can read (removed
 *       again after loading where the platform allows it, at exit elsewhere);
 *   <li>{@link System#loadLibrary(String)}, which searches the places of the class loader and of
 *       the platform.
 * </ol>
 *
 * <p>The plain file name is the platform's: {@code libveltrixjni.so} on Linux, {@code
 * veltrixjni.dll} on Windows, {@code libveltrixjni.dylib} on macOS.
 *
 * <p>A failed {@link #load()} throws an {@link UnsatisfiedLinkError} whose message lists every
 * place it tried and why each failed; nothing is remembered of it, so a later call tries again.
 */
public final class NativeLoader {
  /** Name of the bridge library as given to {@link System#loadLibrary(String)}. */
  public static final String LIBRARY_NAME = "veltrixjni";

  /** System property naming the bridge library file to load instead of the search. */
  public static final String PATH_PROPERTY = "veltrixjni.path";

  /**
   * System property naming the directory into which the library carried by the jar is extracted
   * (created when missing; a file already there with the same content is reused). Without it, a
   * private temporary directory is used.
   */
  public static final String EXTRACT_DIR_PROPERTY = "veltrixjni.extractDir";

  /** The resource directory under which the jar carries one directory per platform. */
  public static final String RESOURCE_ROOT = "META-INF/native/";

  /** The version of this library, as it appears in the names of the carried natives. */
  public static final String VERSION = BuildVersion.VERSION;

  private static boolean loaded;
  private static String loadedFrom;

  private NativeLoader() {}

  /**
   * Loads the bridge library unless it is loaded already. The virtual machine runs the library's
   * {@code JNI_OnLoad} on the first load.
   *
   * @throws UnsatisfiedLinkError if the library cannot be found or loaded; the message names
   *     every place tried, and a later call tries them again
   */
  public static synchronized void load() {
    if (loaded) {
      return;
    }
    List<String> tried = new ArrayList<>();
    String path = System.getProperty(PATH_PROPERTY);
    if (path != null && !path.isEmpty()) {
      if (!tryLoad(new File(path), PATH_PROPERTY + "=" + path, tried)) {
        throw failure(tried);
      }
      loadedFrom = path;
    } else if (!loadFromFiles(tried) && !loadFromJar(tried) && !loadFromSystem(tried)) {
      throw failure(tried);
    }
    loaded = true;
  }

  /**
   * Where the library was loaded from.
   *
   * @return the file's absolute name; for a library extracted from the jar, the extracted
   *     file's name followed by " (from " and the resource's URL and ")"; the library's file name
   *     followed by " (system search)" when {@link System#loadLibrary(String)} found it; null
   *     before it is loaded
   */
  public static synchronized String loadedFrom() {
    return loadedFrom;
  }

  /**
   * The library file that {@link #load()} would load before it turns to the jar's own copy.
   *
   * @return the file, or null when neither {@code java.library.path} nor the jar's directory
   *     holds it
   */
  public static File find() {
    for (File file : candidateFiles()) {
      if (file.isFile()) {
        return file;
      }
    }
    return null;
  }

  /**
   * The name of the running platform as it appears in the resource path: the operating system
   * ({@code linux}, {@code windows}, {@code macos}, or the lower-case {@code os.name} without
   * blanks) and the architecture ({@code x86_64}, {@code aarch64}, or the lower-case {@code
   * os.arch}), joined by a hyphen.
   *
   * @return for example {@code linux-x86_64} or {@code windows-x86_64}
   */
  public static String platform() {
    String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT);
    String arch = System.getProperty("os.arch", "").toLowerCase(Locale.ROOT);
    String osPart;
    if (os.startsWith("windows")) {
      osPart = "windows";
    } else if (os.startsWith("linux")) {
      osPart = "linux";
    } else if (os.startsWith("mac") || os.startsWith("darwin")) {
      osPart = "macos";
    } else {
      osPart = os.replaceAll("[^a-z0-9]+", "");
    }
    String archPart;
    if (arch.equals("amd64") || arch.equals("x86_64") || arch.equals("x64")) {
      archPart = "x86_64";
    } else if (arch.equals("aarch64") || arch.equals("arm64")) {
      archPart = "aarch64";
    } else {
      archPart = arch.replaceAll("[^a-z0-9_]+", "");
    }
    return osPart + "-" + archPart;
  }

  /**
   * The resource under which the jar carries the bridge library for the running platform.
   *
   * @return {@value #RESOURCE_ROOT}, the {@link #platform()}, a slash and the platform's file
   *     name for {@code veltrixjni-}{@link #VERSION}
   */
  public static String resourceName() {
    return RESOURCE_ROOT + platform() + "/" + System.mapLibraryName(LIBRARY_NAME + "-" + VERSION);
  }

  // ---- The steps of load(); each records what it tried in `tried` ---------------------------

  private static boolean loadFromFiles(List<String> tried) {
    List<String> missing = new ArrayList<>();
    for (File file : candidateFiles()) {
      if (!file.isFile()) {
        missing.add(file.getParent());
      } else if (tryLoad(file, file.getAbsolutePath(), tried)) {
        loadedFrom = file.getAbsolutePath();
        return true;
      }
    }
    if (!missing.isEmpty()) {
      tried.add("no " + System.mapLibraryName(LIBRARY_NAME) + " in " + missing);
    }
    return false;
  }

  private static boolean loadFromJar(List<String> tried) {
    String resource = resourceName();
    URL url = NativeLoader.class.getResource("/" + resource);
    if (url == null) {
      tried.add("no resource " + resource + " on the class path");
      return false;
    }
    String extractDir = System.getProperty(EXTRACT_DIR_PROPERTY);
    boolean keep = extractDir != null && !extractDir.isEmpty();
    File file;
    try {
      file = keep ? extractInto(url, new File(extractDir)) : extractPrivately(url);
    } catch (IOException | RuntimeException e) {
      String where = keep ? EXTRACT_DIR_PROPERTY + "=" + extractDir : "a temporary directory";
      tried.add(url + ": cannot extract it into " + where + ": " + e);
      return false;
    }
    boolean ok = tryLoad(file, url + " extracted to " + file, tried);
    if (!keep && !isWindows()) {
      // The mapping stays valid without its file; nothing is left behind, even after a crash.
      // Windows keeps a loaded DLL's file open: deleteOnExit covers it there.
      file.delete();
      file.getParentFile().delete();
    }
    if (ok) {
      loadedFrom = file.getAbsolutePath() + " (from " + url + ")";
    }
    return ok;
  }

  private static boolean loadFromSystem(List<String> tried) {
    try {
      System.loadLibrary(LIBRARY_NAME);
      loadedFrom = System.mapLibraryName(LIBRARY_NAME) + " (system search)";
      return true;
    } catch (UnsatisfiedLinkError e) {
      tried.add("System.loadLibrary(\"" + LIBRARY_NAME + "\"): " + e.getMessage());
      return false;
    }
  }

  private static boolean tryLoad(File file, String what, List<String> tried) {
    try {
      System.load(file.getAbsolutePath());
      return true;
    } catch (UnsatisfiedLinkError | SecurityException e) {
      tried.add(what + ": " + e.getMessage());
      return false;
    }
  }

  private static UnsatisfiedLinkError failure(List<String> tried) {
    StringBuilder text = new StringBuilder("cannot load the bridge library ")
        .append(LIBRARY_NAME).append(" for ").append(platform()).append("; tried:");
    for (String line : tried) {
      text.append("\n  ").append(line);
    }
    return new UnsatisfiedLinkError(text.toString());
  }

  // ---- Files ----------------------------------------------------------------------------

  /** The plain library file in each java.library.path directory, then beside the jar. */
  private static List<File> candidateFiles() {
    String fileName = System.mapLibraryName(LIBRARY_NAME);
    List<File> files = new ArrayList<>();
    String libraryPath = System.getProperty("java.library.path", "");
    for (String dir : libraryPath.split(File.pathSeparator)) {
      if (!dir.isEmpty()) {
        files.add(new File(dir, fileName));
      }
    }
    File codeDir = codeDirectory();
    if (codeDir != null) {
      files.add(new File(codeDir, fileName));
    }
    return files;
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

  /** Into a new owner-only directory under java.io.tmpdir. */
  private static File extractPrivately(URL url) throws IOException {
    Path dir = Files.createTempDirectory(LIBRARY_NAME + "-" + VERSION + "-");
    dir.toFile().deleteOnExit();
    Path file = dir.resolve(fileNameOf(url));
    copy(url, file);
    file.toFile().deleteOnExit();
    return file.toFile();
  }

  /**
   * Into a directory the user named, keeping the file. A file of the same name and content is
   * reused; otherwise the new content is written beside it and moved into place, so that another
   * virtual machine never loads a half-written file.
   */
  private static File extractInto(URL url, File dir) throws IOException {
    Files.createDirectories(dir.toPath());
    Path target = dir.toPath().resolve(fileNameOf(url));
    byte[] content = readAll(url);
    if (Files.isRegularFile(target) && Arrays.equals(content, Files.readAllBytes(target))) {
      return target.toFile();
    }
    Path partial = Files.createTempFile(dir.toPath(), target.getFileName().toString(), ".part");
    try {
      Files.write(partial, content);
      Files.move(partial, target, StandardCopyOption.REPLACE_EXISTING,
          StandardCopyOption.ATOMIC_MOVE);
    } finally {
      Files.deleteIfExists(partial);
    }
    return target.toFile();
  }

  private static String fileNameOf(URL url) {
    String path = url.getPath();
    return path.substring(path.lastIndexOf('/') + 1);
  }

  private static void copy(URL url, Path file) throws IOException {
    try (InputStream in = url.openStream()) {
      Files.copy(in, file);
    }
  }

  private static byte[] readAll(URL url) throws IOException {
    try (InputStream in = url.openStream()) {
      java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
      byte[] buffer = new byte[65536];
      for (int n; (n = in.read(buffer)) > 0; ) {
        out.write(buffer, 0, n);
      }
      return out.toByteArray();
    }
  }

  private static boolean isWindows() {
    return platform().startsWith("windows-");
  }
}
