package com.tarnwick.api;

import java.time.DateTimeException;
import java.time.LocalDate;
import java.time.format.DateTimeFormatter;
import java.time.format.DateTimeParseException;

/** Dates as the service writes them: "20240624" (or "2024-06-24"), and yyyymmdd numbers. */
final class Dates {
  private Dates() {}

  /** A date text of the form yyyymmdd or yyyy-mm-dd. */
  static LocalDate parse(String text) {
    try {
      return LocalDate.parse(text,
          text.length() == 8 ? DateTimeFormatter.BASIC_ISO_DATE : DateTimeFormatter.ISO_LOCAL_DATE);
    } catch (DateTimeParseException e) {
      throw new DateTimeException("not a date: \"" + text + "\"", e);
    }
  }

  /** The date of a text, or null when it is none. */
  static LocalDate parseOrNull(String text) {
    if (text.length() != 8 && text.length() != 10) {
      return null;
    }
    try {
      return parse(text);
    } catch (DateTimeException e) {
      return null;
    }
  }

  /** A number yyyymmdd. */
  static LocalDate ofNumber(long yyyymmdd) {
    if (yyyymmdd < 1_00_01 || yyyymmdd > 9999_12_31L) {
      throw new DateTimeException("not a date: " + yyyymmdd);
    }
    return LocalDate.of((int) (yyyymmdd / 10000), (int) (yyyymmdd / 100 % 100),
        (int) (yyyymmdd % 100));
  }
}
