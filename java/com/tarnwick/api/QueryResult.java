package com.tarnwick.api;

import com.tarnwick.api.wire.ResultBuffer;

/**
 * The answer of a synchronous query, immutable: the result code and, on success, the data as a
 * {@link DataCube} or, for {@code ctr}, a {@link DataGrid}.
 *
 * <p>Code 0 is success. Any other code comes from the service library, or is one of the bridge's
 * codes ({@link NativeAPI#CODE_NO_MEMORY}, {@link NativeAPI#CODE_MISSING_FUNCTION}); a failed
 * query carries no data. {@link VeltrixClient#errorText(int)} explains a code.
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

  private QueryResult(String function, int code, DataCube cube, DataGrid grid) {
    this.function = function;
    this.code = code;
    this.cube = cube;
    this.grid = grid;
  }

  /**
   * Decodes the Result buffer of a cube query. A null array (the bridge could not create one)
   * becomes {@link NativeAPI#CODE_NO_MEMORY}.
   *
   * @param function the query's name, for messages
   * @param reply the array the query returned
   * @return the result
   * @throws com.tarnwick.api.wire.WireFormatException if the array is not a Result buffer
   */
  public static QueryResult ofCube(String function, byte[] reply) {
    if (reply == null) {
      return new QueryResult(function, NativeAPI.CODE_NO_MEMORY, null, null);
    }
    ResultBuffer buffer = ResultBuffer.decode(reply);
    if (buffer.code() != 0) {
      return new QueryResult(function, buffer.code(), null, null);
    }
    return new QueryResult(function, 0, DataCube.of(buffer.cube()), null);
  }

  /**
   * Decodes the Result buffer of a grid query ({@code ctr}), as {@link #ofCube} does.
   *
   * @param function the query's name, for messages
   * @param reply the array the query returned
   * @return the result
   * @throws com.tarnwick.api.wire.WireFormatException if the array is not a Result buffer
   */
  public static QueryResult ofGrid(String function, byte[] reply) {
    if (reply == null) {
      return new QueryResult(function, NativeAPI.CODE_NO_MEMORY, null, null);
    }
    ResultBuffer buffer = ResultBuffer.decode(reply);
    if (buffer.code() != 0) {
      return new QueryResult(function, buffer.code(), null, null);
    }
    return new QueryResult(function, 0, null, DataGrid.of(buffer.grid()));
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
   * @throws IllegalStateException if the query failed or returned a cube
   */
  public DataGrid grid() {
    if (grid == null) {
      throw new IllegalStateException(describeMissing("grid"));
    }
    return grid;
  }

  private String describeMissing(String what) {
    return code != 0 ? function + " failed with code " + code : function + " returned no " + what;
  }

  @Override
  public String toString() {
    return "QueryResult[" + function + ", code=" + code
        + (cube != null ? ", " + cube : grid != null ? ", " + grid : "") + "]";
  }
}
