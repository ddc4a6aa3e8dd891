package com.tarnwick.api;

import com.tarnwick.api.wire.Bytes;
import com.tarnwick.api.wire.CallbackMessage;
import java.util.Arrays;
import java.util.Objects;
import java.util.Optional;

/**
 * One message that the service library pushed through the bridge, immutable: the callback that
 * received it, the message's five words and, when the message carries data, a {@link DataCube}.
 *
 * <p>The words are the service's own: {@link #errorCode()} is 0 for a message with data and the
 * service's (or the bridge's) error code otherwise; for the data of a subscription {@link
 * #word1()} is the request number ({@link #requestNumber()}) and {@link #word2()} the kind.
 *
 * <p>A message that could not be handed over or read is a lost event ({@link #isLost()}): the
 * bridge passed no array (error code {@link NativeAPI#CODE_NO_MEMORY}), or the array did not
 * follow the callback message's layout (error code {@link NativeAPI#CODE_UNDECODABLE}, the
 * words read from the header as far as it goes, the bytes in {@link #rawMessage()} and the
 * reason in {@link #decodeFailure()}). Decoding never throws. Events are equal when kind number,
 * words, data and bytes are.
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
  private final byte[] raw;
  private final String failure;

  private CallbackEvent(Kind kind, int kindNumber, int[] words, DataCube cube, boolean lost,
      byte[] raw, String failure) {
    this.kind = kind;
    this.kindNumber = kindNumber;
    this.words = words;
    this.cube = cube;
    this.lost = lost;
    this.raw = raw;
    this.failure = failure;
  }

  /**
   * Decodes a callback message as {@link NativeAPI#dataAPICallBack(byte[], int)} receives it. A
   * null message (the bridge could not create the array) becomes an event that {@link #isLost()}
   * with every word 0 and error code {@link NativeAPI#CODE_NO_MEMORY}; an array that is not a
   * callback message a lost event with error code {@link NativeAPI#CODE_UNDECODABLE} that keeps
   * the bytes. The array is read in place: it must not change afterwards.
   *
   * @param message the callback message, or null
   * @param kind the kind number
   * @return the event
   */
  public static CallbackEvent decode(byte[] message, int kind) {
    if (message == null) {
      return new CallbackEvent(Kind.of(kind), kind,
          new int[] {0, 0, NativeAPI.CODE_NO_MEMORY, 0, 0}, null, true, null, null);
    }
    try {
      CallbackMessage decoded = CallbackMessage.decode(message);
      int[] words = {decoded.word1(), decoded.word2(), decoded.errorCode(), decoded.word4(),
          decoded.word5()};
      DataCube cube = decoded.cube() == null ? null : DataCube.of(decoded.cube());
      return new CallbackEvent(Kind.of(kind), kind, words, cube, false, message, null);
    } catch (RuntimeException e) {
      // The words as far as the header holds them; the error code says what became of it.
      int[] words = new int[5];
      for (int i = 0; i < 5 && 4 * i + 4 <= message.length; i++) {
        words[i] = Bytes.int32At(message, 4 * i);
      }
      words[2] = NativeAPI.CODE_UNDECODABLE;
      return new CallbackEvent(Kind.of(kind), kind, words, null, true, message,
          String.valueOf(e.getMessage()));
    }
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
   * Whether the message was lost: the bridge could not hand it over (it passed a null array), or
   * its bytes could not be decoded.
   *
   * @return true for a lost message
   */
  public boolean isLost() {
    return lost;
  }

  /**
   * The message's bytes as the bridge passed them.
   *
   * @return a copy, or empty when the bridge passed no array
   */
  public Optional<byte[]> rawMessage() {
    return raw == null ? Optional.<byte[]>empty() : Optional.of(raw.clone());
  }

  /**
   * Why the message could not be decoded.
   *
   * @return the decoder's message, or empty when it was decoded (or never arrived)
   */
  public Optional<String> decodeFailure() {
    return Optional.ofNullable(failure);
  }

  @Override
  public boolean equals(Object other) {
    if (this == other) {
      return true;
    }
    if (!(other instanceof CallbackEvent)) {
      return false;
    }
    CallbackEvent that = (CallbackEvent) other;
    return kindNumber == that.kindNumber && lost == that.lost && Arrays.equals(words, that.words)
        && Objects.equals(cube, that.cube) && (!lost || Arrays.equals(raw, that.raw));
  }

  @Override
  public int hashCode() {
    return (kindNumber * 31 + Arrays.hashCode(words)) * 31 + Objects.hashCode(cube);
  }

  @Override
  public String toString() {
    return "CallbackEvent[" + kind + ", words=" + words[0] + "," + words[1] + ",error=" + words[2]
        + "," + words[3] + "," + words[4]
        + (lost ? ", lost" + (failure != null ? " (" + failure + ")" : "")
                : cube != null ? ", " + cube : "")
        + "]";
  }
}
