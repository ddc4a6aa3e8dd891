package com.tarnwick.api;

import com.tarnwick.api.wire.Cube;
import com.tarnwick.api.wire.ValueIndex;
import java.time.DateTimeException;
import java.time.LocalDate;
import java.util.AbstractList;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.NoSuchElementException;

/**
 * The result of a cube query ({@code csd}, {@code css}, {@code tradedates}, ...) or the data of a
 * callback message, immutable: three text lists and one value for each combination of their
 * entries.
 *
 * <p>The lists are, in order, the codes (instruments), the fields (indicators) and the dates (or
 * times). The values are stored date by date, within a date field by field, within a field code
 * by code: the code index varies fastest. {@link #index(int, int, int)} takes care of that.
 *
 * <p>The cube reads its values in place: decoding is one pass that records each value's tag and
 * its number, or where its text lies in the array the bridge returned ({@link Cube#index()}),
 * with no object per value. {@link
 * #doubleAt(int)}, {@link #longAt(int)} and the other {@code ...At} reads make no object; a
 * {@link DataValue} is made only by {@link #value} and {@link #values()}. Look-ups by name go
 * through maps (the first entry of a name wins). Missing values ({@link DataValue.Type#EMPTY})
 * have reads that take a default. {@link #localDate(int)} reads the dates ("20240624") as {@link
 * LocalDate}s, and the look-ups take a LocalDate as well.
 *
 * <p>Two cubes are equal when their lists are and their values have the same tags and bytes.
 */
public final class DataCube {
  private final Cube cube;
  private final ValueIndex values;
  private final int codeCount;
  private final int fieldCount;
  private final int dateCount;
  private volatile Lookup lookup;

  /** The maps from names to positions, made on the first look-up by name. */
  private static final class Lookup {
    final Map<String, Integer> codes;
    final Map<String, Integer> fields;
    final Map<String, Integer> dates;
    final Map<LocalDate, Integer> localDates;

    Lookup(List<String> codes, List<String> fields, List<String> dates) {
      this.codes = positions(codes);
      this.fields = positions(fields);
      this.dates = positions(dates);
      Map<LocalDate, Integer> byDate = new HashMap<LocalDate, Integer>();
      for (int i = 0; i < dates.size(); i++) {
        LocalDate date = Dates.parseOrNull(dates.get(i));
        if (date != null && !byDate.containsKey(date)) {
          byDate.put(date, i);
        }
      }
      this.localDates = byDate;
    }
  }

  private DataCube(Cube cube) {
    this.cube = cube;
    this.values = cube.index();
    this.codeCount = cube.first().size();
    this.fieldCount = cube.second().size();
    this.dateCount = cube.third().size();
  }

  /**
   * The typed view of a decoded wire cube; it reads through the wire cube without copying.
   *
   * @param cube the wire cube
   * @return the typed cube
   */
  public static DataCube of(Cube cube) {
    return new DataCube(cube);
  }

  /** Positions by name, the first entry of each name kept. */
  static Map<String, Integer> positions(List<String> names) {
    Map<String, Integer> map = new HashMap<String, Integer>(Math.max(4, names.size() * 2));
    for (int i = names.size() - 1; i >= 0; i--) {
      map.put(names.get(i), i);
    }
    return map;
  }

  private Lookup lookup() {
    Lookup maps = lookup;
    if (maps == null) {
      maps = new Lookup(cube.first(), cube.second(), cube.third());
      lookup = maps; // made twice at worst, each complete: its fields are final
    }
    return maps;
  }

  /**
   * The wire view underneath: the lists and the {@link ValueIndex} of the values.
   *
   * @return the wire cube
   */
  public Cube wire() {
    return cube;
  }

  /**
   * The first list: the codes.
   *
   * @return an unmodifiable list
   */
  public List<String> codes() {
    return cube.first();
  }

  /**
   * The second list: the fields.
   *
   * @return an unmodifiable list
   */
  public List<String> fields() {
    return cube.second();
  }

  /**
   * The third list: the dates, or the times of a quote.
   *
   * @return an unmodifiable list
   */
  public List<String> dates() {
    return cube.third();
  }

  /**
   * One date of {@link #dates()} as a LocalDate: "20240624" or "2024-06-24".
   *
   * @param date index into {@link #dates()}
   * @return the date
   * @throws DateTimeException if the entry is not a date (a quote's time, for example)
   */
  public LocalDate localDate(int date) {
    return Dates.parse(dates().get(date));
  }

  /**
   * Every date of {@link #dates()} as a LocalDate.
   *
   * @return a new unmodifiable list
   * @throws DateTimeException if an entry is not a date
   */
  public List<LocalDate> localDates() {
    List<LocalDate> out = new ArrayList<LocalDate>(dateCount);
    for (int d = 0; d < dateCount; d++) {
      out.add(localDate(d));
    }
    return Collections.unmodifiableList(out);
  }

  /**
   * Every value in storage order, each made as it is read; empty when any list is.
   *
   * @return an unmodifiable list
   */
  public List<DataValue> values() {
    return DataValue.listOf(values);
  }

  /**
   * The number of values.
   *
   * @return codes x fields x dates, or 0
   */
  public int size() {
    return values.size();
  }

  /**
   * Whether the cube holds no value.
   *
   * @return true when one of the lists is empty
   */
  public boolean isEmpty() {
    return values.size() == 0;
  }

  // ---- Positions ---------------------------------------------------------------------------

  /**
   * The position in storage order of one code, field and date.
   *
   * @param code index into {@link #codes()}
   * @param field index into {@link #fields()}
   * @param date index into {@link #dates()}
   * @return the position, for the {@code ...At} reads
   * @throws IndexOutOfBoundsException if an index is out of range
   */
  public int index(int code, int field, int date) {
    check(code, codeCount, "code");
    check(field, fieldCount, "field");
    check(date, dateCount, "date");
    long at = ((long) date * fieldCount + field) * codeCount + code;
    if (at >= values.size()) {
      throw new IndexOutOfBoundsException(
          "value " + at + " of " + values.size() + " (the lists span more than the values)");
    }
    return (int) at;
  }

  /**
   * The position of one code, field and date, by name.
   *
   * @param code a code of {@link #codes()}
   * @param field a field of {@link #fields()}
   * @param date a date of {@link #dates()}
   * @return the position
   * @throws NoSuchElementException if a name is not in its list
   */
  public int index(String code, String field, String date) {
    Lookup maps = lookup();
    return index(find(maps.codes, code, "code"), find(maps.fields, field, "field"),
        find(maps.dates, date, "date"));
  }

  /**
   * The position of one code, field and date, the date as a LocalDate.
   *
   * @param code a code of {@link #codes()}
   * @param field a field of {@link #fields()}
   * @param date a date that {@link #dates()} holds as "20240624" or "2024-06-24"
   * @return the position
   * @throws NoSuchElementException if a name or the date is not in its list
   */
  public int index(String code, String field, LocalDate date) {
    Lookup maps = lookup();
    Integer d = maps.localDates.get(date);
    if (d == null) {
      throw new NoSuchElementException("no date " + date + " in " + dates());
    }
    return index(find(maps.codes, code, "code"), find(maps.fields, field, "field"), d);
  }

  /**
   * The position of one code and field in a cube of one date (a snapshot).
   *
   * @param code a code of {@link #codes()}
   * @param field a field of {@link #fields()}
   * @return the position
   * @throws NoSuchElementException if a name is not in its list
   * @throws IllegalStateException unless the cube has exactly one date
   */
  public int index(String code, String field) {
    if (dateCount != 1) {
      throw new IllegalStateException("the cube has " + dateCount + " dates; name one");
    }
    Lookup maps = lookup();
    return index(find(maps.codes, code, "code"), find(maps.fields, field, "field"), 0);
  }

  // ---- Reads without an object -------------------------------------------------------------

  /**
   * The type of the value at a position.
   *
   * @param index the position
   * @return the type
   */
  public DataValue.Type typeAt(int index) {
    return Values.type(values, index);
  }

  /**
   * Whether the value at a position is missing ({@link DataValue.Type#EMPTY}).
   *
   * @param index the position
   * @return true for a value without body
   */
  public boolean isEmptyAt(int index) {
    return Values.isEmpty(values, index);
  }

  /**
   * A numeric value as a double, as {@link DataValue#asDouble()} reads it.
   *
   * @param index the position
   * @return the number
   * @throws IllegalStateException unless the value is numeric
   */
  public double doubleAt(int index) {
    return Values.asDouble(values, index);
  }

  /**
   * A numeric value as a double, or {@code ifEmpty} for a missing value.
   *
   * @param index the position
   * @param ifEmpty the result for an EMPTY value, for example {@code Double.NaN}
   * @return the number
   * @throws IllegalStateException if the value is neither EMPTY nor numeric
   */
  public double doubleAt(int index, double ifEmpty) {
    return Values.asDouble(values, index, ifEmpty);
  }

  /**
   * An integer value, as {@link DataValue#asLong()} reads it.
   *
   * @param index the position
   * @return the number
   * @throws IllegalStateException unless the value is an integer
   */
  public long longAt(int index) {
    return Values.asLong(values, index);
  }

  /**
   * An integer value, or {@code ifEmpty} for a missing value.
   *
   * @param index the position
   * @param ifEmpty the result for an EMPTY value
   * @return the number
   * @throws IllegalStateException if the value is neither EMPTY nor an integer
   */
  public long longAt(int index, long ifEmpty) {
    return Values.asLong(values, index, ifEmpty);
  }

  /**
   * A text value.
   *
   * @param index the position
   * @return the text
   * @throws IllegalStateException unless the value is TEXT
   */
  public String textAt(int index) {
    return Values.asText(values, index);
  }

  /**
   * The numeric value of one code, field and date, by name.
   *
   * @param code a code
   * @param field a field
   * @param date a date
   * @return the number
   * @throws NoSuchElementException if a name is not in its list
   * @throws IllegalStateException unless the value is numeric
   */
  public double getDouble(String code, String field, String date) {
    return doubleAt(index(code, field, date));
  }

  /**
   * The numeric value of one code, field and date, or {@code ifEmpty} when it is missing.
   *
   * @param code a code
   * @param field a field
   * @param date a date
   * @param ifEmpty the result for an EMPTY value
   * @return the number
   * @throws NoSuchElementException if a name is not in its list
   * @throws IllegalStateException if the value is neither EMPTY nor numeric
   */
  public double getDouble(String code, String field, String date, double ifEmpty) {
    return doubleAt(index(code, field, date), ifEmpty);
  }

  /**
   * The integer value of one code, field and date, by name.
   *
   * @param code a code
   * @param field a field
   * @param date a date
   * @return the number
   * @throws NoSuchElementException if a name is not in its list
   * @throws IllegalStateException unless the value is an integer
   */
  public long getLong(String code, String field, String date) {
    return longAt(index(code, field, date));
  }

  /**
   * The numeric values of one code and field over every date, in date order.
   *
   * @param code a code
   * @param field a field
   * @param ifEmpty the number for a missing value
   * @return a new array, one number per date
   * @throws NoSuchElementException if a name is not in its list
   * @throws IllegalStateException if a value is neither EMPTY nor numeric
   */
  public double[] doubleSeries(String code, String field, double ifEmpty) {
    Lookup maps = lookup();
    int c = find(maps.codes, code, "code");
    int f = find(maps.fields, field, "field");
    double[] series = new double[dateCount];
    for (int d = 0; d < dateCount; d++) {
      series[d] = doubleAt(index(c, f, d), ifEmpty);
    }
    return series;
  }

  // ---- Values as objects -------------------------------------------------------------------

  /**
   * The value at a position in storage order.
   *
   * @param index the position
   * @return the value
   * @throws IndexOutOfBoundsException if the position is out of range
   */
  public DataValue valueAt(int index) {
    if (index < 0 || index >= values.size()) {
      throw new IndexOutOfBoundsException("value " + index + " of " + values.size());
    }
    return DataValue.at(values, index);
  }

  /**
   * The value of one code, field and date, by position.
   *
   * @param code index into {@link #codes()}
   * @param field index into {@link #fields()}
   * @param date index into {@link #dates()}
   * @return the value
   * @throws IndexOutOfBoundsException if an index is out of range
   */
  public DataValue value(int code, int field, int date) {
    return DataValue.at(values, index(code, field, date));
  }

  /**
   * The value of one code, field and date, by name (the first match of each).
   *
   * @param code a code of {@link #codes()}
   * @param field a field of {@link #fields()}
   * @param date a date of {@link #dates()}
   * @return the value
   * @throws NoSuchElementException if a name is not in its list
   */
  public DataValue value(String code, String field, String date) {
    return DataValue.at(values, index(code, field, date));
  }

  /**
   * The value of one code, field and date, the date as a LocalDate.
   *
   * @param code a code of {@link #codes()}
   * @param field a field of {@link #fields()}
   * @param date a date of {@link #dates()}
   * @return the value
   * @throws NoSuchElementException if a name or the date is not in its list
   */
  public DataValue value(String code, String field, LocalDate date) {
    return DataValue.at(values, index(code, field, date));
  }

  /**
   * The value of one code and field in a cube of one date (a snapshot).
   *
   * @param code a code of {@link #codes()}
   * @param field a field of {@link #fields()}
   * @return the value
   * @throws NoSuchElementException if a name is not in its list
   * @throws IllegalStateException unless the cube has exactly one date
   */
  public DataValue value(String code, String field) {
    return DataValue.at(values, index(code, field));
  }

  /**
   * The values of one code and field over every date, in date order.
   *
   * @param code a code of {@link #codes()}
   * @param field a field of {@link #fields()}
   * @return an unmodifiable list, one value per date, each made as it is read
   * @throws NoSuchElementException if a name is not in its list
   */
  public List<DataValue> series(String code, String field) {
    Lookup maps = lookup();
    final int c = find(maps.codes, code, "code");
    final int f = find(maps.fields, field, "field");
    return new AbstractList<DataValue>() {
      @Override
      public DataValue get(int d) {
        return value(c, f, d);
      }

      @Override
      public int size() {
        return dateCount;
      }
    };
  }

  static int find(Map<String, Integer> positions, String name, String what) {
    Integer index = positions.get(name);
    if (index == null) {
      throw new NoSuchElementException("no " + what + " \"" + name + "\"");
    }
    return index;
  }

  private static void check(int index, int size, String what) {
    if (index < 0 || index >= size) {
      throw new IndexOutOfBoundsException(what + " index " + index + " of " + size);
    }
  }

  /** Equal when the lists are equal and the values have the same tags and bytes. */
  @Override
  public boolean equals(Object other) {
    if (this == other) {
      return true;
    }
    if (!(other instanceof DataCube)) {
      return false;
    }
    DataCube that = (DataCube) other;
    return codes().equals(that.codes()) && fields().equals(that.fields())
        && dates().equals(that.dates()) && sameValues(values, that.values);
  }

  static boolean sameValues(ValueIndex a, ValueIndex b) {
    if (a.size() != b.size()) {
      return false;
    }
    for (int i = 0; i < a.size(); i++) {
      if (!a.sameValue(i, b, i)) {
        return false;
      }
    }
    return true;
  }

  static int valuesHash(ValueIndex values) {
    int hash = 1;
    for (int i = 0; i < values.size(); i++) {
      hash = 31 * hash + values.valueHash(i);
    }
    return hash;
  }

  @Override
  public int hashCode() {
    return ((codes().hashCode() * 31 + fields().hashCode()) * 31 + dates().hashCode()) * 31
        + valuesHash(values);
  }

  @Override
  public String toString() {
    return "DataCube[codes=" + codes() + ", fields=" + fields() + ", dates=" + dates() + ", "
        + values.size() + " values]";
  }
}
