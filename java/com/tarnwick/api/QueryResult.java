package com.tarnwick.api;

import com.tarnwick.api.wire.ResultBuffer;
import java.util.Arrays;
import java.util.Objects;
import java.util.Optional;

/**
 * The answer of a synchronous query, immutable: the result code and, on success, the data as a
 * {@link DataCube} or, for {@code ctr}, a {@link DataGrid}.
 *
 * <p>Code 0 is success. Any other code comes from the service library, or is one of the bridge's
 * codes ({@link NativeAPI#CODE_NO_MEMORY}, {@link NativeAPI#CODE_MISSING_FUNCTION}) or of the Java
 * side: {@link NativeAPI#CODE_CLIENT_CLOSED} when the client was closed, {@link
 * NativeAPI#CODE_UNDECODABLE} when the reply did not follow its layout. A failed query carries no
 * data; an undecodable one keeps the reply's bytes ({@link #rawReply()}) and says what was wrong
 * ({@link #decodeFailure()}). Decoding never throws. {@link VeltrixClient#errorText(int)} explains
 * a code.
 *
 * <p>Results are equal when their function, code, data and (for an undecodable reply) bytes are.
 */
public final class QueryResult {
  /** What a result holds. */
  public enum Shape {
    /** No data: the query failed. */
    NONE,
    /** A cube. */
    CUBE,
    /** A grid. */
    GRID
  }

  private final String function;
  private final int code;
  private final DataCube cube;
  private final DataGrid grid;
  private final byte[] reply;
  private final String failure;

  private QueryResult(String function, int code, DataCube cube, DataGrid grid, byte[] reply,
      String failure) {
    this.function = function;
    this.code = code;
    this.cube = cube;
    this.grid = grid;
    this.reply = reply;
    this.failure = failure;
  }

  /**
   * Decodes the Result buffer of a cube query. A null array (the bridge could not create one)
   * becomes {@link NativeAPI#CODE_NO_MEMORY}; an array that is not a Result buffer of a cube
   * becomes {@link NativeAPI#CODE_UNDECODABLE} with the bytes kept. The array is read in place:
   * it must not change afterwards.
   *
   * @param function the query's name, for messages
   * @param reply the array the query returned
   * @return the result
   */
  public static QueryResult ofCube(String function, byte[] reply) {
    return decode(function, reply, false);
  }

  /**
   * Decodes the Result buffer of a grid query ({@code ctr}), as {@link #ofCube} does.
   *
   * @param function the query's name, for messages
   * @param reply the array the query returned
   * @return the result
   */
  public static QueryResult ofGrid(String function, byte[] reply) {
    return decode(function, reply, true);
  }

  /**
   * A result with a code and no data, as for a call that never reached the bridge.
   *
   * @param function the query's name
   * @param code the code
   * @return the result
   */
  public static QueryResult failed(String function, int code) {
    return new QueryResult(function, code, null, null, null, null);
  }

  private static QueryResult decode(String function, byte[] reply, boolean grid) {
    if (reply == null) {
      return failed(function, NativeAPI.CODE_NO_MEMORY);
    }
    try {
      ResultBuffer buffer = ResultBuffer.decode(reply);
      if (buffer.code() != 0) {
        return new QueryResult(function, buffer.code(), null, null, reply, null);
      }
      return grid ? new QueryResult(function, 0, null, DataGrid.of(buffer.grid()), reply, null)
                  : new QueryResult(function, 0, DataCube.of(buffer.cube()), null, reply, null);
    } catch (RuntimeException e) {
      // A WireFormatException, or any other failure to read the bytes: a result all the same.
      return new QueryResult(function, NativeAPI.CODE_UNDECODABLE, null, null, reply,
          String.valueOf(e.getMessage()));
    }
  }

  /**
   * The name of the query that gave this result.
   *
   * @return the function name, e.g. "csd"
   */
  public String function() {
    return function;
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
   * What the result holds.
   *
   * @return NONE, CUBE or GRID
   */
  public Shape shape() {
    return cube != null ? Shape.CUBE : grid != null ? Shape.GRID : Shape.NONE;
  }

  /**
   * The data of a successful cube query.
   *
   * @return the cube
   * @throws IllegalStateException if the query failed or returned a grid
   */
  public DataCube cube() {
    if (cube == null) {
      throw new IllegalStateException(describeMissing("cube"));
    }
    return cube;
  }

  /**
   * The data of a successful {@code ctr} query.
   *
   * @return the grid
   * @throws IllegalStateException if the query failed or returned a grid
   */
  public DataGrid grid() {
    if (grid == null) {
      throw new IllegalStateException(describeMissing("grid"));
    }
    return grid;
  }

  /**
   * The bytes the query returned.
   *
   * @return a copy of the array, or empty when there was none (no memory, or a call that did not
   *     reach the bridge)
   */
  public Optional<byte[]> rawReply() {
    return reply == null ? Optional.<byte[]>empty() : Optional.of(reply.clone());
  }

  /**
   * Why the reply could not be decoded ({@link NativeAPI#CODE_UNDECODABLE}).
   *
   * @return the decoder's message, or empty for a decoded reply
   */
  public Optional<String> decodeFailure() {
    return Optional.ofNullable(failure);
  }

  private String describeMissing(String what) {
    if (code == NativeAPI.CODE_UNDECODABLE) {
      return function + " returned a reply that could not be decoded: " + failure;
    }
    return code != 0 ? function + " failed with code " + code : function + " returned no " + what;
  }

  @Override
  public boolean equals(Object other) {
    if (this == other) {
      return true;
    }
    if (!(other instanceof QueryResult)) {
      return false;
    }
    QueryResult that = (QueryResult) other;
    return code == that.code && function.equals(that.function) && Objects.equals(cube, that.cube)
        && Objects.equals(grid, that.grid)
        && (code != NativeAPI.CODE_UNDECODABLE || Arrays.equals(reply, that.reply));
  }

  @Override
  public int hashCode() {
    return Objects.hash(function, code, cube, grid);
  }

  @Override
  public String toString() {
    return "QueryResult[" + function + ", code=" + code
        + (cube != null ? ", " + cube : grid != null ? ", " + grid : "")
        + (failure != null ? ", undecodable: " + failure : "") + "]";
  }
}
