package com.tarnwick.api;

import java.util.Objects;
import java.util.Optional;

/**
 * Whether the service library is loaded, as {@link VeltrixClient#open} found it, immutable.
 *
 * <p>The bridge loads the service library once per process, from the first directory that holds
 * it, and keeps it until the JVM ends. So there are three outcomes of an {@code open}:
 *
 * <ul>
 *   <li>loaded from the directory this open named ({@link #isLoaded()}, {@link
 *       #loadedDirectory()} equal to {@link #requestedDirectory()});
 *   <li>loaded earlier from another directory, which stays in force: the requested one is not
 *       used ({@link #isDirectoryIgnored()}; the client also logs a warning);
 *   <li>not loaded: {@link #failure()} gives the loader's reason as its log line gives it, for
 *       example "LoadLibrary Fail 126" or on Linux "LoadLibrary Fail 2 (.../libVeltrixAPI_x64.so:
 *       cannot open shared object file: No such file or directory)". Every call then answers
 *       {@link NativeAPI#CODE_MISSING_FUNCTION}; a later open may name a better directory.
 * </ul>
 *
 * <p>Equal when all fields are.
 */
public final class ServiceStatus {
  private final String requestedDirectory;
  private final String loadedDirectory;
  private final String failure;

  private ServiceStatus(String requestedDirectory, String loadedDirectory, String failure) {
    this.requestedDirectory = requestedDirectory;
    this.loadedDirectory = loadedDirectory;
    this.failure = failure;
  }

  static ServiceStatus loaded(String requested, String loadedFrom) {
    return new ServiceStatus(requested, loadedFrom, null);
  }

  static ServiceStatus notLoaded(String requested, String failure) {
    return new ServiceStatus(requested, null, failure);
  }

  /**
   * Whether the service library is loaded.
   *
   * @return true when it is, from whichever directory
   */
  public boolean isLoaded() {
    return loadedDirectory != null;
  }

  /**
   * The directory that {@code open} named.
   *
   * @return the directory as given
   */
  public String requestedDirectory() {
    return requestedDirectory;
  }

  /**
   * The directory the service library was loaded from: the one in force for the whole process.
   *
   * @return the directory, or empty when the library is not loaded
   */
  public Optional<String> loadedDirectory() {
    return Optional.ofNullable(loadedDirectory);
  }

  /**
   * Whether the library had been loaded from another directory before, so that the requested
   * one is not used.
   *
   * @return true when the directories differ
   */
  public boolean isDirectoryIgnored() {
    return loadedDirectory != null && !loadedDirectory.equals(requestedDirectory);
  }

  /**
   * Why the library did not load: the message of the bridge's load-failure log line, or a note
   * that the bridge's log lines did not tell.
   *
   * @return the reason, or empty when the library is loaded
   */
  public Optional<String> failure() {
    return Optional.ofNullable(failure);
  }

  @Override
  public boolean equals(Object other) {
    if (!(other instanceof ServiceStatus)) {
      return false;
    }
    ServiceStatus that = (ServiceStatus) other;
    return requestedDirectory.equals(that.requestedDirectory)
        && Objects.equals(loadedDirectory, that.loadedDirectory)
        && Objects.equals(failure, that.failure);
  }

  @Override
  public int hashCode() {
    return Objects.hash(requestedDirectory, loadedDirectory, failure);
  }

  /**
   * A sentence for people.
   *
   * @return the text
   */
  @Override
  public String toString() {
    if (loadedDirectory == null) {
      return "service library not loaded from " + requestedDirectory + ": " + failure;
    }
    if (isDirectoryIgnored()) {
      return "service library loaded from " + loadedDirectory + " before; " + requestedDirectory
          + " is not used (the library loads once per process)";
    }
    return "service library loaded from " + loadedDirectory;
  }
}
