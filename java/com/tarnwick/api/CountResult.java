package com.tarnwick.api;

import com.tarnwick.api.wire.CountReply;
import java.util.Arrays;
import java.util.Optional;

/**
 * The answer of {@code tradedatesnum}, immutable: a result code and a count. A reply that is not
 * an 8-byte count reply gives {@link NativeAPI#CODE_UNDECODABLE} and the count 0, and keeps the
 * reply's bytes ({@link #rawReply()}); decoding never throws. Equal when code, count and (for an
 * undecodable reply) bytes are.
 */
public final class CountResult {
  private final int code;
  private final int count;
  private final byte[] reply;

  private CountResult(int code, int count, byte[] reply) {
    this.code = code;
    this.count = count;
    this.reply = reply;
  }

  /**
   * Decodes the 8-byte count reply. A null array becomes {@link NativeAPI#CODE_NO_MEMORY}, an
   * array of another length {@link NativeAPI#CODE_UNDECODABLE}. The result keeps a copy of the
   * array.
   *
   * @param reply the array {@code tradedatesnum} returned
   * @return the result
   */
  public static CountResult of(byte[] reply) {
    if (reply == null) {
      return failed(NativeAPI.CODE_NO_MEMORY);
    }
    byte[] kept = reply.clone();
    if (kept.length != CountReply.SIZE) {
      return new CountResult(NativeAPI.CODE_UNDECODABLE, 0, kept);
    }
    CountReply decoded = CountReply.decode(kept);
    return new CountResult(decoded.code(), decoded.count(), kept);
  }

  /**
   * A result with a code and the count 0, as for a call that never reached the bridge.
   *
   * @param code the code
   * @return the result
   */
  public static CountResult failed(int code) {
    return new CountResult(code, 0, null);
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

  /**
   * The bytes {@code tradedatesnum} returned.
   *
   * @return a copy of the array, or empty when there was none (no memory, or a call that did not
   *     reach the bridge)
   */
  public Optional<byte[]> rawReply() {
    return reply == null ? Optional.<byte[]>empty() : Optional.of(reply.clone());
  }

  @Override
  public boolean equals(Object other) {
    if (!(other instanceof CountResult)) {
      return false;
    }
    CountResult that = (CountResult) other;
    return code == that.code && count == that.count
        && (code != NativeAPI.CODE_UNDECODABLE || Arrays.equals(reply, that.reply));
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
