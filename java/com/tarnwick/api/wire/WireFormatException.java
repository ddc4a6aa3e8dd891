package com.tarnwick.api.wire;

/** Thrown when a byte array does not follow the layout that its decoder expects. */
public class WireFormatException extends RuntimeException {
  private static final long serialVersionUID = 1L;

  /**
   * Creates the exception.
   *
   * @param message what was wrong and where
   */
  public WireFormatException(String message) {
    super(message);
  }
}
