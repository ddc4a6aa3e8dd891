package com.tarnwick.api;

import com.tarnwick.api.wire.Grid;
import com.tarnwick.api.wire.ValueIndex;
import java.util.AbstractList;
import java.util.List;
import java.util.Map;
import java.util.NoSuchElementException;

/**
 * The result of a report query ({@code ctr}), immutable: a table of {@link #rowCount()} rows and
 * {@link #columnCount()} columns with the column names.
 *
 * <p>On the wire the grid's first dimension is the number of columns, its second the number of
 * rows, and the values are stored row by row. The service does not tie the number of names to the
 * number of columns; {@link #columns()} is the list as it came.
 *
 * <p>As {@link DataCube} does, the grid reads its values in place: the {@code ...At} reads make
 * no object, a {@link DataValue} is made only when asked for, and column names are looked up in
 * a map (the first column of a name wins). Two grids are equal when their dimensions, names and
 * values (tags and bytes) are.
 */
public final class DataGrid {
  private final Grid grid;
  private final ValueIndex values;
  private final int columnCount;
  private final int rowCount;
  private volatile Map<String, Integer> columnPositions;

  private DataGrid(Grid grid) {
    this.grid = grid;
    this.values = grid.index();
    boolean shaped = grid.d1() > 0 && grid.d2() > 0;
    this.columnCount = shaped ? grid.d1() : 0;
    this.rowCount = shaped ? grid.d2() : 0;
  }

  /**
   * The typed view of a decoded wire grid; it reads through the wire grid without copying. A
   * grid with a dimension of 0 or less has no rows and no columns (its values, if any, stay in
   * {@link #values()}).
   *
   * @param grid the wire grid
   * @return the typed grid
   */
  public static DataGrid of(Grid grid) {
    return new DataGrid(grid);
  }

  /**
   * The wire view underneath.
   *
   * @return the wire grid
   */
  public Grid wire() {
    return grid;
  }

  /**
   * The column names.
   *
   * @return an unmodifiable list
   */
  public List<String> columns() {
    return grid.texts();
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
   * Every value, row by row, each made as it is read.
   *
   * @return an unmodifiable list
   */
  public List<DataValue> values() {
    return DataValue.listOf(values);
  }

  /**
   * The position in storage order of one cell.
   *
   * @param row the row, from 0
   * @param column the column, from 0
   * @return the position, for the {@code ...At} reads of {@link DataCube}'s kind
   * @throws IndexOutOfBoundsException if a position is out of range
   */
  public int index(int row, int column) {
    if (row < 0 || row >= rowCount || column < 0 || column >= columnCount) {
      throw new IndexOutOfBoundsException(
          "cell " + row + "," + column + " of " + rowCount + " x " + columnCount);
    }
    long at = (long) row * columnCount + column;
    if (at >= values.size()) {
      throw new IndexOutOfBoundsException("value " + at + " of " + values.size());
    }
    return (int) at;
  }

  /**
   * The position of a column by name.
   *
   * @param column a name of {@link #columns()}
   * @return the column's index
   * @throws NoSuchElementException if the name is not a column
   */
  public int column(String column) {
    Map<String, Integer> positions = columnPositions;
    if (positions == null) {
      positions = DataCube.positions(columns());
      columnPositions = positions;
    }
    return DataCube.find(positions, column, "column");
  }

  /**
   * The type of one cell.
   *
   * @param row the row
   * @param column the column
   * @return the type
   */
  public DataValue.Type typeAt(int row, int column) {
    return Values.type(values, index(row, column));
  }

  /**
   * A numeric cell as a double.
   *
   * @param row the row
   * @param column the column
   * @return the number
   * @throws IllegalStateException unless the cell is numeric
   */
  public double doubleAt(int row, int column) {
    return Values.asDouble(values, index(row, column));
  }

  /**
   * A numeric cell as a double, or {@code ifEmpty} for a missing one.
   *
   * @param row the row
   * @param column the column
   * @param ifEmpty the result for an EMPTY cell
   * @return the number
   * @throws IllegalStateException if the cell is neither EMPTY nor numeric
   */
  public double doubleAt(int row, int column, double ifEmpty) {
    return Values.asDouble(values, index(row, column), ifEmpty);
  }

  /**
   * An integer cell.
   *
   * @param row the row
   * @param column the column
   * @return the number
   * @throws IllegalStateException unless the cell is an integer
   */
  public long longAt(int row, int column) {
    return Values.asLong(values, index(row, column));
  }

  /**
   * A text cell.
   *
   * @param row the row
   * @param column the column
   * @return the text
   * @throws IllegalStateException unless the cell is TEXT
   */
  public String textAt(int row, int column) {
    return Values.asText(values, index(row, column));
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
    return DataValue.at(values, index(row, column));
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
    return value(row, column(column));
  }

  /**
   * One row.
   *
   * @param row the row, from 0
   * @return an unmodifiable list of {@link #columnCount()} values
   */
  public List<DataValue> row(final int row) {
    if (row < 0 || row >= rowCount) {
      throw new IndexOutOfBoundsException("row " + row + " of " + rowCount);
    }
    return new AbstractList<DataValue>() {
      @Override
      public DataValue get(int column) {
        return value(row, column);
      }

      @Override
      public int size() {
        return columnCount;
      }
    };
  }

  @Override
  public boolean equals(Object other) {
    if (this == other) {
      return true;
    }
    if (!(other instanceof DataGrid)) {
      return false;
    }
    DataGrid that = (DataGrid) other;
    return grid.d1() == that.grid.d1() && grid.d2() == that.grid.d2()
        && columns().equals(that.columns()) && DataCube.sameValues(values, that.values);
  }

  @Override
  public int hashCode() {
    return ((grid.d1() * 31 + grid.d2()) * 31 + columns().hashCode()) * 31
        + DataCube.valuesHash(values);
  }

  @Override
  public String toString() {
    return "DataGrid[" + rowCount + " rows x " + columnCount + " columns " + columns() + "]";
  }
}
