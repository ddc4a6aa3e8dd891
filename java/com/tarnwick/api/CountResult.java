package com.tarnwick.api;

import com.tarnwick.api.wire.CountReply;

/** The answer of {@code tradedatesnum}, immutable: a result code and a count. */
public final class CountResult {
  private final int code;
  private final int count;

  private CountResult(int code, int count) {
    this.code = code;
    this.count = count;
  }

  /**
   * Decodes the 8-byte count reply. A null array becomes {@link NativeAPI#CODE_NO_MEMORY}.
   *
   * @param reply the array {@code tradedatesnum} returned
   * @return the result
   * @throws com.tarnwick.api.wire.WireFormatException if the array is not a count reply
   */
  public static CountResult of(byte[] reply) {
    if (reply == null) {
      return new CountResult(NativeAPI.CODE_NO_MEMORY, 0);
    }
    CountReply decoded = CountReply.decode(reply);
    return new CountResult(decoded.code(), decoded.count());
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
  public String toString() {
    return "CountResult[code=" + code + ", count=" + count + "]";
  }
}
