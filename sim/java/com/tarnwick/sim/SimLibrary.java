package com.tarnwick.sim;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;
import java.util.Properties;

/**
 * The simulated service library that {@code veltrix-sim.jar} carries, extracted into a directory
 * that the bridge can be pointed at.
 *
 * <p>The jar holds the library for each platform it was built for as {@value #RESOURCE_ROOT}
 * {@code <os>-<arch>/} followed by the platform's file name for {@code VeltrixAPI_x64-<version>},
 * for example {@code META-INF/native/linux-x86_64/libVeltrixAPI_x64-0.1.0.so}. The bridge loads
 * a service library by directory, under its fixed file name ({@code libVeltrixAPI_x64.so}, {@code
 * VeltrixAPI_x64.dll}), so {@link #directory()} extracts the one for the running platform under
 * that name into a directory of its own:
 *
 * <pre>{@code
 * String dir = SimLibrary.directory().getPath();
 * NativeAPI api = new NativeAPI();
 * api.setJniEnv(dir);        // the bridge loads the simulated library
 * SimControl.load(dir);      // the same file: SimControl now drives that library
 * SimControl.scriptCube("...");
 * }</pre>
 */
public final class SimLibrary {
  /** The resource directory under which the jar carries one directory per platform. */
  public static final String RESOURCE_ROOT = "META-INF/native/";

  /**
   * System property naming the directory to extract into (created when missing, the library
   * overwritten). Without it, a new directory under {@code java.io.tmpdir} that only the current
   * user can read, removed when the virtual machine exits normally.
   */
  public static final String EXTRACT_DIR_PROPERTY = "veltrix.sim.extractDir";

  /** The resource, next to this class, that holds the jar's version as {@code version=...}. */
  static final String VERSION_RESOURCE = "natives.properties";

  private static File directory;

  private SimLibrary() {}

  /**
   * The directory that holds the simulated service library for the running platform, extracted
   * from the jar on the first call; later calls return the same directory.
   *
   * @return the directory, to hand to {@code setJniEnv} and {@link SimControl#load(String)}
   * @throws IOException if the jar carries no library for this platform, or it cannot be written
   */
  public static synchronized File directory() throws IOException {
    if (directory != null && new File(directory, fileName()).isFile()) {
      return directory;
    }
    String resource = resourceName();
    URL url = SimLibrary.class.getResource("/" + resource);
    if (url == null) {
      throw new IOException("no resource " + resource + " on the class path: veltrix-sim.jar "
          + "was not built for " + platform());
    }
    String named = System.getProperty(EXTRACT_DIR_PROPERTY);
    boolean keep = named != null && !named.isEmpty();
    Path dir = keep
        ? Files.createDirectories(new File(named).toPath())
        : Files.createTempDirectory("veltrix-sim-" + version() + "-");
    Path file = dir.resolve(fileName());
    if (!keep) {
      dir.toFile().deleteOnExit();
    }
    try (InputStream in = url.openStream()) {
      Files.copy(in, file, java.nio.file.StandardCopyOption.REPLACE_EXISTING);
    }
    if (!keep) {
      file.toFile().deleteOnExit();
    }
    directory = dir.toFile();
    return directory;
  }

  /**
   * The resource under which the jar carries the library for the running platform.
   *
   * @return {@value #RESOURCE_ROOT}, the {@link #platform()}, a slash and the platform's file
   *     name for {@code VeltrixAPI_x64-}{@link #version()}
   * @throws IOException if the jar's version resource is missing
   */
  public static String resourceName() throws IOException {
    return RESOURCE_ROOT + platform() + "/" + System.mapLibraryName("VeltrixAPI_x64-" + version());
  }

  /**
   * The file name under which the bridge loads a service library on the running platform.
   *
   * @return {@code libVeltrixAPI_x64.so}, {@code VeltrixAPI_x64.dll} or {@code
   *     libVeltrixAPI_x64.dylib}
   */
  public static String fileName() {
    return System.mapLibraryName("VeltrixAPI_x64");
  }

  /**
   * The version of the jar, as in the names of the libraries it carries.
   *
   * @return the version, for example {@code 0.1.0}
   * @throws IOException if the jar's version resource is missing or unreadable
   */
  public static String version() throws IOException {
    try (InputStream in = SimLibrary.class.getResourceAsStream(VERSION_RESOURCE)) {
      if (in == null) {
        throw new IOException("no " + VERSION_RESOURCE + " beside " + SimLibrary.class.getName()
            + ": not running from veltrix-sim.jar");
      }
      Properties properties = new Properties();
      properties.load(in);
      String version = properties.getProperty("version");
      if (version == null || version.isEmpty()) {
        throw new IOException(VERSION_RESOURCE + " holds no version");
      }
      return version;
    }
  }

  /**
   * The name of the running platform as it appears in the resource path, the same as the
   * bridge's loader uses: {@code linux}, {@code windows} or {@code macos}, a hyphen, and {@code
   * x86_64} or {@code aarch64} (other systems: their lower-case names).
   *
   * @return for example {@code linux-x86_64}
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
}
