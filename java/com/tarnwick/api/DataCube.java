package com.tarnwick.api;

import com.tarnwick.api.wire.Cube;
import com.tarnwick.api.wire.Value;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.NoSuchElementException;

/**
 * The result of a cube query ({@code csd}, {@code css}, {@code tradedates}, ...) or the data of a
 * callback message, immutable: three text lists and one value for each combination of their
 * entries.
 *
 * <p>The lists are, in order, the codes (instruments), the fields (indicators) and the dates (or
 * times). The values are stored date by date, within a date field by field, within a field code
 * by code: the code index varies fastest. {@link #value(int, int, int)} takes care of that.
 */
public final class DataCube {
  private final List<String> codes;
  private final List<String> fields;
  private final List<String> dates;
  private final List<DataValue> values;

  private DataCube(
      List<String> codes, List<String> fields, List<String> dates, List<DataValue> values) {
    this.codes = codes;
    this.fields = fields;
    this.dates = dates;
    this.values = values;
  }

  /**
   * The typed form of a decoded wire cube.
   *
   * @param cube the wire cube
   * @return the typed cube
   */
  public static DataCube of(Cube cube) {
    List<DataValue> values = new ArrayList<DataValue>(cube.values().size());
    for (Value value : cube.values()) {
      values.add(DataValue.of(value));
    }
    return new DataCube(cube.first(), cube.second(), cube.third(),
        Collections.unmodifiableList(values));
  }

  /**
   * The first list: the codes.
   *
   * @return an unmodifiable list
   */
  public List<String> codes() {
    return codes;
  }

  /**
   * The second list: the fields.
   *
   * @return an unmodifiable list
   */
  public List<String> fields() {
    return fields;
  }

  /**
   * The third list: the dates, or the times of a quote.
   *
   * @return an unmodifiable list
   */
  public List<String> dates() {
    return dates;
  }

  /**
   * Every value in storage order; empty when any list is.
   *
   * @return an unmodifiable list
   */
  public List<DataValue> values() {
    return values;
  }

  /**
   * Whether the cube holds no value.
   *
   * @return true when one of the lists is empty
   */
  public boolean isEmpty() {
    return values.isEmpty();
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
    check(code, codes.size(), "code");
    check(field, fields.size(), "field");
    check(date, dates.size(), "date");
    return values.get((date * fields.size() + field) * codes.size() + code);
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
    return value(indexOf(codes, code, "code"), indexOf(fields, field, "field"),
        indexOf(dates, date, "date"));
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
    if (dates.size() != 1) {
      throw new IllegalStateException("the cube has " + dates.size() + " dates; name one");
    }
    return value(indexOf(codes, code, "code"), indexOf(fields, field, "field"), 0);
  }

  /**
   * The values of one code and field over every date, in date order.
   *
   * @param code a code of {@link #codes()}
   * @param field a field of {@link #fields()}
   * @return an unmodifiable list, one value per date
   * @throws NoSuchElementException if a name is not in its list
   */
  public List<DataValue> series(String code, String field) {
    int c = indexOf(codes, code, "code");
    int f = indexOf(fields, field, "field");
    List<DataValue> series = new ArrayList<DataValue>(dates.size());
    for (int d = 0; d < dates.size(); d++) {
      series.add(value(c, f, d));
    }
    return Collections.unmodifiableList(series);
  }

  static int indexOf(List<String> list, String name, String what) {
    int index = list.indexOf(name);
    if (index < 0) {
      throw new NoSuchElementException("no " + what + " \"" + name + "\" in " + list);
    }
    return index;
  }

  private static void check(int index, int size, String what) {
    if (index < 0 || index >= size) {
      throw new IndexOutOfBoundsException(what + " index " + index + " of " + size);
    }
  }

  @Override
  public String toString() {
    return "DataCube[codes=" + codes + ", fields=" + fields + ", dates=" + dates + ", "
        + values.size() + " values]";
  }
}
