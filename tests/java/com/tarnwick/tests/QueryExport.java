package com.tarnwick.tests;

import com.tarnwick.api.NativeAPI;
import java.util.ArrayList;
import java.util.List;

/**
 * The eighteen query exports: how to call each with a list of texts and one int, and the call
 * log line the sim writes for that call.
 */
public enum QueryExport {
  CSD("csd", Reply.CUBE, 5, -1, (api, s, i) -> api.csd(s[0], s[1], s[2], s[3], s[4])),
  CSS("css", Reply.CUBE, 3, -1, (api, s, i) -> api.css(s[0], s[1], s[2])),
  TRADEDATES("tradedates", Reply.CUBE, 3, -1, (api, s, i) -> api.tradedates(s[0], s[1], s[2])),
  SECTOR("sector", Reply.CUBE, 3, -1, (api, s, i) -> api.sector(s[0], s[1], s[2])),
  GETDATE("getdate", Reply.CUBE, 2, 1, (api, s, i) -> api.getdate(s[0], i, s[1])),
  TRADEDATESNUM(
      "tradedatesnum", Reply.COUNT, 3, -1, (api, s, i) -> api.tradedatesnum(s[0], s[1], s[2])),
  CSC("csc", Reply.CUBE, 5, -1, (api, s, i) -> api.csc(s[0], s[1], s[2], s[3], s[4])),
  CMC("cmc", Reply.CUBE, 5, -1, (api, s, i) -> api.cmc(s[0], s[1], s[2], s[3], s[4])),
  CHMC("chmc", Reply.CUBE, 5, -1, (api, s, i) -> api.chmc(s[0], s[1], s[2], s[3], s[4])),
  CSQSNAPSHOT("csqsnapshot", Reply.CUBE, 3, -1, (api, s, i) -> api.csqsnapshot(s[0], s[1], s[2])),
  CTR("ctr", Reply.GRID, 3, -1, (api, s, i) -> api.ctr(s[0], s[1], s[2])),
  CPS("cps", Reply.CUBE, 4, -1, (api, s, i) -> api.cps(s[0], s[1], s[2], s[3])),
  PQUERY("pquery", Reply.CUBE, 1, -1, (api, s, i) -> api.pquery(s[0])),
  PREPORT("preport", Reply.CUBE, 3, -1, (api, s, i) -> api.preport(s[0], s[1], s[2])),
  EDB("edb", Reply.CUBE, 2, -1, (api, s, i) -> api.edb(s[0], s[1])),
  EDBQUERY("edbquery", Reply.CUBE, 3, -1, (api, s, i) -> api.edbquery(s[0], s[1], s[2])),
  CFN("cfn", Reply.CUBE, 3, 2, (api, s, i) -> api.cfn(s[0], s[1], i, s[2])),
  CFNQUERY("cfnquery", Reply.CUBE, 1, -1, (api, s, i) -> api.cfnquery(s[0]));

  /** What the export returns: a cube or grid Result buffer, or the 8-byte count reply. */
  public enum Reply { CUBE, GRID, COUNT }

  @FunctionalInterface
  interface Call {
    byte[] call(NativeAPI api, String[] texts, int number);
  }

  public final String name;
  public final Reply reply;
  /** Number of String parameters. */
  public final int texts;
  /** Position of the int parameter among all parameters, or -1 when there is none. */
  public final int intPosition;

  private final Call call;

  QueryExport(String name, Reply reply, int texts, int intPosition, Call call) {
    this.name = name;
    this.reply = reply;
    this.texts = texts;
    this.intPosition = intPosition;
    this.call = call;
  }

  /** The Function table label: "pfn" and the name. */
  public String label() { return "pfn" + name; }

  /** Calls the export with {@code texts} (at least {@link #texts} of them) and the int. */
  public byte[] call(NativeAPI api, String[] texts, int number) {
    return call.call(api, texts, number);
  }

  /** Calls the export with placeholder texts and the int 0. */
  public byte[] call(NativeAPI api) { return call(api, sampleTexts(), 0); }

  /** Distinct texts for every parameter position: "<name>-1", "<name>-2", ... */
  public String[] sampleTexts() {
    String[] texts = new String[this.texts];
    for (int i = 0; i < texts.length; i++) {
      texts[i] = name + "-" + (i + 1);
    }
    return texts;
  }

  /**
   * The sim's call log line for a call with these texts (printable ASCII without '|' and '\') and
   * int: the name, then every argument in parameter order.
   */
  public String callLine(String[] texts, int number) {
    List<String> parts = new ArrayList<>();
    parts.add(name);
    for (int i = 0; i < this.texts; i++) {
      parts.add(texts[i]);
    }
    if (intPosition >= 0) {
      parts.add(intPosition + 1, Integer.toString(number));
    }
    return String.join("|", parts);
  }
}
