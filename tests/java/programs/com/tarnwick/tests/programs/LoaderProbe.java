package com.tarnwick.tests.programs;

import com.tarnwick.api.NativeLoader;

/**
 * Loads the bridge with {@link NativeLoader} and prints the file it loaded; TypedClientTest runs
 * it from a copy of the API jar with the bridge next to it.
 */
public final class LoaderProbe {
  private LoaderProbe() {}

  public static void main(String[] args) {
    NativeLoader.load();
    System.out.println(NativeLoader.loadedFrom());
  }
}
