package com.tarnwick.api;

import com.tarnwick.api.wire.CountReply;

/**
 * The answer of {@code tradedatesnum}, immutable: a result code and a count. A reply that is not
 * an 8-byte count reply gives {@link NativeAPI#CODE_UNDECODABLE} and the count 0; decoding never
 * throws. Equal when code and count are.
 */
public final class CountResult {
  private final int code;
  private final int count;

  private CountResult(int code, int count) {
    this.code = code;
    this.count = count;
  }

  /**
   * Decodes the 8-byte count reply. A null array becomes {@link NativeAPI#CODE_NO_MEMORY}, an
   * array of another length {@link NativeAPI#CODE_UNDECODABLE}.
   *
   * @param reply the array {@code tradedatesnum} returned
   * @return the result
   */
  public static CountResult of(byte[] reply) {
    if (reply == null) {
      return failed(NativeAPI.CODE_NO_MEMORY);
    }
    if (reply.length != CountReply.SIZE) {
      return failed(NativeAPI.CODE_UNDECODABLE);
    }
    CountReply decoded = CountReply.decode(reply);
    return new CountResult(decoded.code(), decoded.count());
  }

  /**
   * A result with a code and the count 0, as for a call that never reached the bridge.
   *
   * @param code the code
   * @return the result
   */
  public static CountResult failed(int code) {
    return new CountResult(code, 0);
  }

  /**
   * The result code.
   *
   * @return 0 on success
   */
  public int code() {
    return code;
  }

  /**
   * Whether the query succeeded.
   *
   * @return true for code 0
   */
  public boolean isOk() {
    return code == 0;
  }

  /**
   * The count as the service wrote it (0 when it wrote none).
   *
   * @return the count
   */
  public int count() {
    return count;
  }

  @Override
  public boolean equals(Object other) {
    return other instanceof CountResult && ((CountResult) other).code == code
        && ((CountResult) other).count == count;
  }

  @Override
  public int hashCode() {
    return 31 * code + count;
  }

  @Override
  public String toString() {
    return "CountResult[code=" + code + ", count=" + count + "]";
  }
}
