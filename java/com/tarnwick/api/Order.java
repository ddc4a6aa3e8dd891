package com.tarnwick.api;

import java.math.BigDecimal;
import java.util.List;

/**
 * One order for {@link VeltrixClient#porder(List, String, String, String)}, immutable. It becomes
 * one element of the JSON order list that the bridge turns into the service's order records, with
 * the members {@code code}, {@code volume}, {@code price}, {@code date}, {@code time}, {@code
 * optype}, {@code cost}, {@code rate} and {@code reserve}.
 *
 * <pre>{@code
 * List<Order> orders = Arrays.asList(
 *     Order.buy("600519.SH", 100).withPrice(1468.0),
 *     Order.sell("000001.SZ", 500).withDate(20240628).withCost(5.0));
 * }</pre>
 *
 * <p>The code reaches the service as at most 19 bytes in the process's ANSI code page; the price,
 * cost and rate travel as single-precision floats, the volume as a double. Members that are 0 are
 * left out of the JSON text, which the bridge reads as 0 all the same.
 */
public final class Order {
  /** The {@code optype} of a purchase. */
  public static final int BUY = 1;
  /** The {@code optype} of a sale. */
  public static final int SELL = 2;

  private final String code;
  private final double volume;
  private final double price;
  private final int date;
  private final int time;
  private final int optype;
  private final double cost;
  private final double rate;
  private final int reserve;

  private Order(String code, double volume, double price, int date, int time, int optype,
      double cost, double rate, int reserve) {
    if (code == null) {
      throw new NullPointerException("code");
    }
    finite(volume, "volume");
    finite(price, "price");
    finite(cost, "cost");
    finite(rate, "rate");
    this.code = code;
    this.volume = volume;
    this.price = price;
    this.date = date;
    this.time = time;
    this.optype = optype;
    this.cost = cost;
    this.rate = rate;
    this.reserve = reserve;
  }

  private static void finite(double value, String what) {
    if (Double.isNaN(value) || Double.isInfinite(value)) {
      throw new IllegalArgumentException(what + " must be a finite number, not " + value);
    }
  }

  /**
   * An order with every number 0 but the volume and the order type.
   *
   * @param code the instrument's code
   * @param volume the quantity
   * @param optype the order type, e.g. {@link #BUY} or {@link #SELL}
   * @return the order
   */
  public static Order of(String code, double volume, int optype) {
    return new Order(code, volume, 0, 0, 0, optype, 0, 0, 0);
  }

  /**
   * A purchase of {@code volume} at no set price (the service's price of the day).
   *
   * @param code the instrument's code
   * @param volume the quantity
   * @return the order
   */
  public static Order buy(String code, double volume) {
    return of(code, volume, BUY);
  }

  /**
   * A sale of {@code volume} at no set price.
   *
   * @param code the instrument's code
   * @param volume the quantity
   * @return the order
   */
  public static Order sell(String code, double volume) {
    return of(code, volume, SELL);
  }

  /**
   * This order at a price.
   *
   * @param newPrice the price per unit
   * @return a new order
   */
  public Order withPrice(double newPrice) {
    return new Order(code, volume, newPrice, date, time, optype, cost, rate, reserve);
  }

  /**
   * This order on a date.
   *
   * @param newDate the date as yyyymmdd
   * @return a new order
   */
  public Order withDate(int newDate) {
    return new Order(code, volume, price, newDate, time, optype, cost, rate, reserve);
  }

  /**
   * This order at a time of day.
   *
   * @param newTime the time as hhmmss
   * @return a new order
   */
  public Order withTime(int newTime) {
    return new Order(code, volume, price, date, newTime, optype, cost, rate, reserve);
  }

  /**
   * This order with a fixed cost (fee).
   *
   * @param newCost the cost
   * @return a new order
   */
  public Order withCost(double newCost) {
    return new Order(code, volume, price, date, time, optype, newCost, rate, reserve);
  }

  /**
   * This order with a rate (a fee proportional to the amount).
   *
   * @param newRate the rate
   * @return a new order
   */
  public Order withRate(double newRate) {
    return new Order(code, volume, price, date, time, optype, cost, newRate, reserve);
  }

  /**
   * This order with the {@code reserve} member set.
   *
   * @param newReserve the value
   * @return a new order
   */
  public Order withReserve(int newReserve) {
    return new Order(code, volume, price, date, time, optype, cost, rate, newReserve);
  }

  /** @return the instrument's code */
  public String code() {
    return code;
  }

  /** @return the quantity */
  public double volume() {
    return volume;
  }

  /** @return the price (0: none set) */
  public double price() {
    return price;
  }

  /** @return the date as yyyymmdd (0: none set) */
  public int date() {
    return date;
  }

  /** @return the time as hhmmss (0: none set) */
  public int time() {
    return time;
  }

  /** @return the order type */
  public int optype() {
    return optype;
  }

  /** @return the fixed cost */
  public double cost() {
    return cost;
  }

  /** @return the rate */
  public double rate() {
    return rate;
  }

  /** @return the reserve member */
  public int reserve() {
    return reserve;
  }

  /**
   * This order as a JSON object.
   *
   * @return the JSON text
   */
  public String toJson() {
    StringBuilder json = new StringBuilder(160);
    appendJson(json);
    return json.toString();
  }

  /**
   * A JSON array of orders, as {@link NativeAPI#porder} takes it.
   *
   * @param orders the orders, in order
   * @return the JSON text
   */
  public static String toJson(List<Order> orders) {
    StringBuilder json = new StringBuilder(2 + 160 * orders.size()).append('[');
    for (int i = 0; i < orders.size(); i++) {
      if (i > 0) {
        json.append(',');
      }
      orders.get(i).appendJson(json);
    }
    return json.append(']').toString();
  }

  // Members that are 0 are left out: the bridge reads a missing member as 0.
  private void appendJson(StringBuilder json) {
    json.append("{\"code\":");
    quote(json, code);
    json.append(",\"volume\":").append(number(volume));
    if (price != 0) {
      json.append(",\"price\":").append(number(price));
    }
    if (date != 0) {
      json.append(",\"date\":").append(date);
    }
    if (time != 0) {
      json.append(",\"time\":").append(time);
    }
    json.append(",\"optype\":").append(optype);
    if (cost != 0) {
      json.append(",\"cost\":").append(number(cost));
    }
    if (rate != 0) {
      json.append(",\"rate\":").append(number(rate));
    }
    if (reserve != 0) {
      json.append(",\"reserve\":").append(reserve);
    }
    json.append('}');
  }

  /** A finite double as a plain JSON number: 200, 1475.5, 0.0003. */
  private static String number(double value) {
    return BigDecimal.valueOf(value).stripTrailingZeros().toPlainString();
  }

  private static void quote(StringBuilder json, String text) {
    json.append('"');
    for (int i = 0; i < text.length(); i++) {
      char c = text.charAt(i);
      if (c == '"' || c == '\\') {
        json.append('\\').append(c);
      } else if (c < 0x20) {
        json.append(String.format("\\u%04x", (int) c));
      } else {
        json.append(c);
      }
    }
    json.append('"');
  }

  /** Equal when every member is (the numbers compared as {@link Double#compare} does). */
  @Override
  public boolean equals(Object other) {
    if (!(other instanceof Order)) {
      return false;
    }
    Order that = (Order) other;
    return code.equals(that.code) && Double.compare(volume, that.volume) == 0
        && Double.compare(price, that.price) == 0 && date == that.date && time == that.time
        && optype == that.optype && Double.compare(cost, that.cost) == 0
        && Double.compare(rate, that.rate) == 0 && reserve == that.reserve;
  }

  @Override
  public int hashCode() {
    return java.util.Arrays.hashCode(new Object[] {
      code, volume, price, date, time, optype, cost, rate, reserve});
  }

  @Override
  public String toString() {
    return "Order" + toJson();
  }
}
