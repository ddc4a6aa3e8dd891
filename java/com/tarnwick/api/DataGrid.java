package com.tarnwick.api;

import com.tarnwick.api.wire.Grid;
import com.tarnwick.api.wire.Value;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.NoSuchElementException;

/**
 * The result of a report query ({@code ctr}), immutable: a table of {@link #rowCount()} rows and
 * {@link #columnCount()} columns with the column names.
 *
 * <p>On the wire the grid's first dimension is the number of columns, its second the number of
 * rows, and the values are stored row by row. The service does not tie the number of names to the
 * number of columns; {@link #columns()} is the list as it came.
 */
public final class DataGrid {
  private final int columnCount;
  private final int rowCount;
  private final List<String> columns;
  private final List<DataValue> values;

  private DataGrid(int columnCount, int rowCount, List<String> columns, List<DataValue> values) {
    this.columnCount = columnCount;
    this.rowCount = rowCount;
    this.columns = columns;
    this.values = values;
  }

  /**
   * The typed form of a decoded wire grid. A grid with a dimension of 0 or less has no rows and
   * no columns (its values, if any, stay in {@link #values()}).
   *
   * @param grid the wire grid
   * @return the typed grid
   */
  public static DataGrid of(Grid grid) {
    List<DataValue> values = new ArrayList<DataValue>(grid.values().size());
    for (Value value : grid.values()) {
      values.add(DataValue.of(value));
    }
    boolean shaped = grid.d1() > 0 && grid.d2() > 0;
    return new DataGrid(shaped ? grid.d1() : 0, shaped ? grid.d2() : 0, grid.texts(),
        Collections.unmodifiableList(values));
  }

  /**
   * The column names.
   *
   * @return an unmodifiable list
   */
  public List<String> columns() {
    return columns;
  }

  /**
   * The number of columns (the grid's first dimension).
   *
   * @return the count
   */
  public int columnCount() {
    return columnCount;
  }

  /**
   * The number of rows (the grid's second dimension).
   *
   * @return the count
   */
  public int rowCount() {
    return rowCount;
  }

  /**
   * Every value, row by row.
   *
   * @return an unmodifiable list
   */
  public List<DataValue> values() {
    return values;
  }

  /**
   * One cell by position.
   *
   * @param row the row, from 0
   * @param column the column, from 0
   * @return the value
   * @throws IndexOutOfBoundsException if a position is out of range
   */
  public DataValue value(int row, int column) {
    if (row < 0 || row >= rowCount || column < 0 || column >= columnCount) {
      throw new IndexOutOfBoundsException(
          "cell " + row + "," + column + " of " + rowCount + " x " + columnCount);
    }
    return values.get(row * columnCount + column);
  }

  /**
   * One cell by row and column name.
   *
   * @param row the row, from 0
   * @param column a name of {@link #columns()}
   * @return the value
   * @throws NoSuchElementException if the name is not a column
   */
  public DataValue value(int row, String column) {
    return value(row, DataCube.indexOf(columns, column, "column"));
  }

  /**
   * One row.
   *
   * @param row the row, from 0
   * @return an unmodifiable list of {@link #columnCount()} values
   */
  public List<DataValue> row(int row) {
    if (row < 0 || row >= rowCount) {
      throw new IndexOutOfBoundsException("row " + row + " of " + rowCount);
    }
    return values.subList(row * columnCount, (row + 1) * columnCount);
  }

  @Override
  public String toString() {
    return "DataGrid[" + rowCount + " rows x " + columnCount + " columns " + columns + "]";
  }
}
