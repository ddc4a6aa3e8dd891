package com.tarnwick.api;

import com.tarnwick.api.wire.ValueIndex;

/**
 * The typed reads of one value in a {@link ValueIndex}, shared by {@link DataValue}, {@link
 * DataCube} and {@link DataGrid}: the tag says how to read the body, and nothing is made per
 * value.
 */
final class Values {
  private static final DataValue.Type[] BY_TAG = {
    DataValue.Type.EMPTY, DataValue.Type.BOOLEAN, DataValue.Type.INT8, DataValue.Type.UINT8,
    DataValue.Type.INT16, DataValue.Type.UINT16, DataValue.Type.INT32, DataValue.Type.UINT32,
    DataValue.Type.INT64, DataValue.Type.UINT64, DataValue.Type.FLOAT, DataValue.Type.DOUBLE,
    DataValue.Type.BYTES
  };

  private Values() {}

  /** The type of a tag other than 14 (whose type depends on its bytes). */
  static DataValue.Type typeOfTag(int tag) {
    return tag < BY_TAG.length ? BY_TAG[tag] : DataValue.Type.EMPTY;
  }

  /** The type of a value. */
  static DataValue.Type type(ValueIndex values, int i) {
    int tag = values.tag(i);
    if (tag == 14) {
      return values.textOrNull(i) != null ? DataValue.Type.TEXT : DataValue.Type.BYTES;
    }
    return typeOfTag(tag);
  }

  /** Whether a value is missing: a tag without body (0, 13, 15 and above). */
  static boolean isEmpty(ValueIndex values, int i) {
    int tag = values.tag(i);
    return tag == 0 || tag == 13 || tag > 14;
  }

  static double asDouble(ValueIndex values, int i) {
    switch (values.tag(i)) {
      case 11:
        return Double.longBitsToDouble(values.int64(i));
      case 10:
        return Float.intBitsToFloat(values.int32(i));
      case 9:
        return unsignedToDouble(values.int64(i));
      case 2:
      case 3:
      case 4:
      case 5:
      case 6:
      case 7:
      case 8:
        return asLong(values, i);
      default:
        throw notA(values, i, "a number");
    }
  }

  static double asDouble(ValueIndex values, int i, double ifEmpty) {
    return isEmpty(values, i) ? ifEmpty : asDouble(values, i);
  }

  static long asLong(ValueIndex values, int i) {
    switch (values.tag(i)) {
      case 2:
        return (byte) values.bits(i);
      case 4:
        return (short) values.bits(i);
      case 6:
        return values.int32(i);
      case 8:
      case 9:
        return values.int64(i);
      case 3:
      case 5:
      case 7:
        return values.bits(i); // zero-extended
      default:
        throw notA(values, i, "an integer");
    }
  }

  static long asLong(ValueIndex values, int i, long ifEmpty) {
    return isEmpty(values, i) ? ifEmpty : asLong(values, i);
  }

  static String asText(ValueIndex values, int i) {
    String text = values.textOrNull(i);
    if (text == null) {
      throw notA(values, i, "a text");
    }
    return text;
  }

  /** An unsigned 64-bit number, rounded to the nearest double as a conversion would. */
  static double unsignedToDouble(long bits) {
    if (bits >= 0) {
      return bits;
    }
    // Halve, keeping the lowest bit so that the rounding stays correct, then double.
    return ((double) ((bits >>> 1) | (bits & 1))) * 2.0;
  }

  private static IllegalStateException notA(ValueIndex values, int i, String what) {
    return new IllegalStateException(
        type(values, i) + " value (tag " + values.tag(i) + ") is not " + what);
  }
}
