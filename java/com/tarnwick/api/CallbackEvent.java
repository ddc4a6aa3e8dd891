package com.tarnwick.api;

import com.tarnwick.api.wire.CallbackMessage;
import java.util.Optional;

/**
 * One message that the service library pushed through the bridge, immutable: the callback that
 * received it, the message's five words and, when the message carries data, a {@link DataCube}.
 *
 * <p>The words are the service's own: {@link #errorCode()} is 0 for a message with data and the
 * service's (or the bridge's) error code otherwise; for the data of a subscription {@link
 * #word1()} is the request number ({@link #requestNumber()}) and {@link #word2()} the kind.
 */
public final class CallbackEvent {
  /** The callback that received a message. */
  public enum Kind {
    /** The main callback (kind 0): service-wide messages. */
    MAIN(0),
    /** Data of a {@code csq} subscription (kind 1). */
    CSQ(1),
    /** Data of a {@code cst} subscription (kind 2). */
    CST(2),
    /** Data of a {@code cnq} subscription (kind 3). */
    CNQ(3),
    /** Any other kind number. */
    UNKNOWN(-1);

    private final int number;

    Kind(int number) {
      this.number = number;
    }

    /**
     * The kind number the bridge passes with the message.
     *
     * @return 0 to 3, or -1 for UNKNOWN
     */
    public int number() {
      return number;
    }

    /**
     * The kind of a kind number.
     *
     * @param number the number the bridge passed
     * @return the kind, UNKNOWN for a number outside 0 to 3
     */
    public static Kind of(int number) {
      for (Kind kind : values()) {
        if (kind.number == number && kind != UNKNOWN) {
          return kind;
        }
      }
      return UNKNOWN;
    }
  }

  private final Kind kind;
  private final int kindNumber;
  private final int[] words;
  private final DataCube cube;
  private final boolean lost;

  private CallbackEvent(Kind kind, int kindNumber, int[] words, DataCube cube, boolean lost) {
    this.kind = kind;
    this.kindNumber = kindNumber;
    this.words = words;
    this.cube = cube;
    this.lost = lost;
  }

  /**
   * Decodes a callback message as {@link NativeAPI#dataAPICallBack(byte[], int)} receives it. A
   * null message (the bridge could not create the array) becomes an event that {@link #isLost()}
   * with every word 0 and error code {@link NativeAPI#CODE_NO_MEMORY}.
   *
   * @param message the callback message, or null
   * @param kind the kind number
   * @return the event
   * @throws com.tarnwick.api.wire.WireFormatException if the array is not a callback message
   */
  public static CallbackEvent decode(byte[] message, int kind) {
    if (message == null) {
      return new CallbackEvent(Kind.of(kind), kind,
          new int[] {0, 0, NativeAPI.CODE_NO_MEMORY, 0, 0}, null, true);
    }
    CallbackMessage decoded = CallbackMessage.decode(message);
    int[] words = {decoded.word1(), decoded.word2(), decoded.errorCode(), decoded.word4(),
        decoded.word5()};
    DataCube cube = decoded.cube() == null ? null : DataCube.of(decoded.cube());
    return new CallbackEvent(Kind.of(kind), kind, words, cube, false);
  }

  /**
   * The callback that received the message.
   *
   * @return the kind
   */
  public Kind kind() {
    return kind;
  }

  /**
   * The kind number as the bridge passed it.
   *
   * @return the number
   */
  public int kindNumber() {
    return kindNumber;
  }

  /**
   * The message's first word; the request number for subscription data.
   *
   * @return the word
   */
  public int word1() {
    return words[0];
  }

  /**
   * The message's second word.
   *
   * @return the word
   */
  public int word2() {
    return words[1];
  }

  /**
   * The message's error code (its third word): 0 when it carries data.
   *
   * @return the code
   */
  public int errorCode() {
    return words[2];
  }

  /**
   * The message's fourth word.
   *
   * @return the word
   */
  public int word4() {
    return words[3];
  }

  /**
   * The message's fifth word.
   *
   * @return the word
   */
  public int word5() {
    return words[4];
  }

  /**
   * The five words in message order: word1, word2, error code, word4, word5.
   *
   * @return a new array of five
   */
  public int[] words() {
    return words.clone();
  }

  /**
   * The request number of the subscription the data belong to: {@link #word1()}.
   *
   * @return the number
   */
  public int requestNumber() {
    return words[0];
  }

  /**
   * Whether the message carries data.
   *
   * @return true when {@link #cube()} is present
   */
  public boolean hasCube() {
    return cube != null;
  }

  /**
   * The message's data.
   *
   * @return the cube, or empty when the message carries none
   */
  public Optional<DataCube> cube() {
    return Optional.ofNullable(cube);
  }

  /**
   * Whether the bridge could not hand over the message (it passed a null array).
   *
   * @return true for a lost message
   */
  public boolean isLost() {
    return lost;
  }

  @Override
  public String toString() {
    return "CallbackEvent[" + kind + ", words=" + words[0] + "," + words[1] + ",error=" + words[2]
        + "," + words[3] + "," + words[4] + (lost ? ", lost" : cube != null ? ", " + cube : "")
        + "]";
  }
}
