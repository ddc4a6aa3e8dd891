/*
 * Control interface of the simulated service library.
 *
 * The simulated library exports the 34 service functions with their native signatures
 * (see bridge/service_api.h) and, next to them, the plain C functions below, which tests
 * use to script it and to read back what it saw. A test loads the library by path (the
 * same file the bridge loads, so the same module) and looks the functions up by name;
 * C++ tests can use VxSimApi at the end of this header for that.
 *
 * Default mode (after load and after vxsim_reset): a small market that behaves like a real
 * one. Every number is a function of a fixed seed and the call's arguments (portfolios also
 * of the calls before); nothing depends on the clock. Every query returns code 0.
 *
 *   Universe: 20 fictitious instruments, codes matched in any case:
 *     600000.SH 600030.SH 600036.SH 600276.SH 600519.SH 600900.SH 601012.SH 601318.SH
 *     601888.SH 688981.SH 510300.SH 000001.SZ 000002.SZ 000333.SZ 000858.SZ 002415.SZ
 *     002594.SZ 300750.SZ 00700.HK 01299.HK
 *   with names (most in Chinese, one with accented Latin letters), sectors, listing dates,
 *   share counts and board lots. Any other code trades too, under its code as its name.
 *   Names and other built-in texts are returned in the ANSI code page of the calling thread
 *   (POSIX: the codeset of its LC_CTYPE locale, through iconv; Windows: CP_ACP), '?' for a
 *   character the code page lacks. Texts the caller passed (codes, field names) come back
 *   byte for byte.
 *   Calendar: trading days are weekdays other than January 1, May 1-3 and October 1-7.
 *   Date arguments: "20240131", "2024-01-31" or "2024/01/31"; a begin date that does not
 *   parse is the fifth trading day before the end, an end date that does not parse the
 *   reference day, Friday 2024-06-28, the last day with data: snapshots, css, ctr and the
 *   quote streams stand on it. Options "Days=Weekdays" and "Days=Alldays" list weekdays or
 *   calendar days instead of trading days (a day without trading repeats the last close,
 *   with volume 0).
 *   Prices: per instrument a mean-reverting random walk of the log price (daily moves of
 *   1-3%, +-10% limit for .SH/.SZ), scaled so that the close on the reference day is the
 *   instrument's reference price (600000.SH 7.85, 600519.SH 1468.00, 00700.HK 368.20 ...).
 *
 *   Cube queries: lists[0] codes, lists[1] fields, lists[2] dates (yyyymmdd), both as given;
 *   values date-major, then field, then code (the first list varies fastest). Fields, in any
 *   case, with or without an "RT_" prefix, and their value types:
 *     OPEN HIGH LOW CLOSE (LAST, PRICE) PRECLOSE CHANGE AMOUNT MKTCAP BID1 ASK1   11 double
 *     VOLUME TOTALSHARES                                                       8  int64
 *     PCTCHG TURN PE                                                           10 float
 *     DATE (TRADE_DATE) LISTDATE TIME (hhmmss) BIDSIZE1 ASKSIZE1               6  int32
 *     TRADES                                                                   7  uint32
 *     LOTSIZE                                                                  4  int16
 *     LIMITSTATUS (-1 limit down, 0, 1 limit up)                               2  int8
 *     TRADESTATUS (1 on a trading day)                                         1  bool
 *     NAME CODE SECTOR EXCHANGE CURRENCY                                       13 text
 *   Other names by the words they contain (VOL, PCT/CHG/RATE/RATIO, FLAG, COUNT/NUM,
 *   RAW/BLOB: 8 bytes of type 12, OPEN, HIGH, LOW, AMT, NAME, CODE, DATE, TIME), else the
 *   last price.
 *     csd, csc, cmc, chmc (codes, fields, begin, end, options), cps (codes, fields, begin,
 *       options): daily bars; fields default CLOSE, codes 600000.SH.
 *     css (codes, fields, options): one day, "TradeDate=yyyymmdd" in the options or the
 *       reference day; fields default NAME,CLOSE.
 *     csqsnapshot (codes, fields, options): the closing quote of the reference day; fields
 *       default RT_LAST,RT_PCTCHG,RT_VOL.
 *     tradedates (begin, end, options): L1 "CALENDAR", L2 "TRADE_DATE", L3 the dates, one
 *       int32 yyyymmdd per date. tradedatesnum: their number.
 *     getdate (date, offset, options): L1 "DATE", L2 "OFFSET", L3 the date; one int32, the
 *       trading day `offset` trading days away (offset 0: the date, or the trading day
 *       before it).
 *     sector (name, date, options): CODE and NAME of the members of a sector (Banks,
 *       Beverages, Energy, Insurance, Technology, ... in any case), of an exchange (SSE,
 *       SZSE, HKEX or SH, SZ, HK) or of ALL; any other name gives six instruments of its own.
 *     edb (ids, options): VALUE of each id at twelve month ends up to the reference day.
 *     edbquery, cfn, cfnquery: the first argument as codes, the second (if the function has
 *       three or more) as fields, on the reference day; fields default VALUE (a price).
 *   ctr (report, fields, options): a grid of d1 = fields columns (default CODE, NAME, CLOSE,
 *   PCTCHG, VOLUME, AMOUNT; the grid's text list) and d2 rows, values row by row. Rows: the
 *   members named as for sector ("" or ALL: the universe), or the five TOP_GAINERS,
 *   TOP_LOSERS or MOST_ACTIVE of the universe; "TradeDate=yyyymmdd" in the options.
 *
 *   Portfolios, kept until vxsim_reset or unload:
 *     pcreate (code, name, cash, remark, options): a new portfolio with that cash (an
 *       existing one starts over); VXSIM_CODE_INVALID_ARGUMENT for an empty code.
 *     porder (orders, count, portfolio, remark, options): books each order at its price,
 *       or at the close of its date (yyyymmdd, else the reference day) when the price is not
 *       positive; optype 2 sells (only what is held), any other optype buys; the fee is
 *       cost + amount * rate. Orders without code or positive volume are skipped.
 *     pctransfer (portfolio, direction, date, amount, remark, options): cash in, or out
 *       when the direction contains "out"; VXSIM_CODE_INVALID_ARGUMENT for a non-finite
 *       amount. porder and pctransfer open a portfolio that does not exist.
 *     pdelete (portfolio, options): forgets it; 0 also when there was none.
 *     pquery (portfolio, or "PortfolioCode=<code>"): L1 the codes held and "CASH", L2 NAME,
 *       VOLUME, COST_PRICE, LAST, MARKET_VALUE, PNL (doubles; NAME text), WEIGHT (float, %),
 *       L3 the portfolio code. An unknown portfolio shows as an empty one.
 *     preport (portfolio, report, options): report "TRADES" (or any name with TRADE or
 *       ORDER) lists the trades (L1 1, 2, ...; DATE TIME CODE NAME SIDE VOLUME PRICE AMOUNT
 *       FEE); otherwise, or without trades, one summary line (NAME, INITIAL_CASH int64,
 *       CASH, MARKET_VALUE, TOTAL_VALUE, PNL, RETURN_PCT float, POSITIONS, TRADES int32).
 *
 *   Streams: csq, cst and cnq return request numbers 1, 2, 3, ... and push one message
 *   every 100 ms through the callback they were given, on a thread of their own, until
 *   csqcancel / cnqcancel (cst: until stop). Message layout: word1 = request number,
 *   word2 = kind (1 csq, 2 cst, 3 cnq), errorCode 0, word4 = sequence from 0, word5 = 0;
 *   data = a cube.
 *     csq (codes, fields, options), cst (codes, fields, begin, end, options): a replay of
 *       the reference day, one quote per three seconds of the session from 09:30:00
 *       (lunch 11:30-13:00 skipped, after 15:00:00 from the start again): L1 the codes, L2
 *       the fields (default RT_LAST,RT_PCTCHG,RT_VOL), L3 the quote's time "hh:mm:ss". The
 *       last price runs from the day's open to its close inside its high and low; RT_HIGH
 *       and RT_LOW are the running high and low, RT_VOL and RT_AMT the day's totals so far.
 *     cnq (codes, fields, options): news, one item per message about each code in turn:
 *       L1 the code, L2 the fields (default TIME int32, TITLE text, SOURCE text; ID uint64),
 *       L3 the time.
 *   csqcancel / cnqcancel of a request that is not open return VXSIM_CODE_UNKNOWN_REQUEST;
 *   stop ends every stream and joins its thread.
 *
 *   geterrstring (code, flag): "no error" (0), "operation failed" (-1), "unknown request
 *   number" (VXSIM_CODE_UNKNOWN_REQUEST), "invalid argument" (VXSIM_CODE_INVALID_ARGUMENT),
 *   texts for the bridge's codes 10000003, 10000004, 10000007 and 10003003, else "unknown
 *   error code"; flag 1 gives "code <n>: <text>", built once per code and kept.
 *
 * Record ownership: every record the library hands out is registered with an id (1, 2,
 * ... since the last reset) and must come back through releasedata exactly once, and only
 * if it came with code 0. Releases are counted per record; a double release, the release
 * of an unknown or null pointer and the release of a record that came with a non-zero
 * code are recorded as errors. A released record is filled with 0xDD (and, in builds
 * with AddressSanitizer, made unaddressable) and its memory kept, so its address is not
 * reused, until 4096 later releases or the next reset. Records of callback messages are
 * freed as soon as the callback returns and are never registered.
 *
 * Caller contract checks (recorded as errors): an out argument that is a null address,
 * or whose variable was not set to null / 0 before the call; a callback that returns
 * anything but 0.
 *
 * ---- Record description language (vxsim_script_cube, vxsim_script_grid, messages) ----
 *
 *   record  := "none"                       code 0 and no record: *out is set to null
 *            | [item {";" item}]
 *   item    := "L1=" texts | "L2=" texts | "L3=" texts     cube lists (default: empty)
 *            | "L=" texts | "D1=" int32 | "D2=" int32       grid list and dimensions
 *            | "V=" values                                   values (non-null pointer,
 *                                                            even when there are none)
 *            | "V=null"                                      null values pointer
 *                                                            (also when V is absent)
 *   texts   := "" | text {"," text}             "" is an empty list (null entries pointer)
 *   text    := (quoted | "null") ["*" count]    null: a null text pointer; *N repeats
 *   quoted  := '"' {byte | "\xHH" | "\\" | "\""} '"'    bytes as given (ANSI code page)
 *   values  := "" | value {"," value}
 *   value   := type [":" payload] ["*" count]
 *   type    := signed 32-bit decimal (any: -3, 0, 6, 13, 15, 99 ...)
 *   payload := int64                  decimal or 0x-hex: the 8 value bytes, little-endian
 *            | "f" number             float bits in value bytes 0-3
 *            | "d" number             double bits in value bytes 0-7
 *            | quoted ["/" uint32]    data = the bytes (NUL appended), byteCount = their
 *                                     number or the /count given (the buffer is at least
 *                                     count bytes, zero-filled)
 *            | "null" ["/" uint32]    data = null, byteCount = 0 or the count given
 * A value without payload is all zero (type alone). Spaces between tokens are ignored.
 * Keys may appear once each. A cube whose lists span K1*K2*K3 > 0 values, or a grid with
 * D1*D2 > 0, needs at least that many values (more are allowed). Unread fields
 * (reserved words, bytes past the 56-byte cube or 32-byte grid) hold 0xA5 patterns.
 *
 * Examples:
 *   L1="A";L2="B";L3="C";V=6:7                 the one-value cube: A x B x C, int 7
 *   L1="\xD6\xD0",null;L2="F";L3="D";V=13:"x",13:null
 *   L1=;L2="B";L3="C";V=6:7                    an empty list with a non-null values pointer
 *   L1="A";L2="B";L3="C";V=14:null/5           a null blob pointer with a count of 5
 *   D1=2;D2=1;L="c1","c2";V=11:d1.5,8:-1       a grid
 *
 * ---- Message description (vxsim_fire, vxsim_fire_inside_next) ----
 *
 *   message := [header] ["|" record]     the record (above) becomes VXMSG.data; without
 *                                         it data is null
 *   header  := flag {"," flag}
 *   flag    := "null"                     hand the callback a null VXMSG pointer
 *            | ("w1"|"w2"|"err"|"w4"|"w5") "=" int32      the message's words
 *            | "tagwords"                 word4 = thread index, word5 = sequence
 *            | "tagcube"                  data = the identity cube of (thread t, seq s):
 *                L1="t<t>";L2="s<s>";L3="thread","seq","tag","blob";
 *                V=6:<t>,6:<s>,13:"t<t>s<s>",14:"<bytes>"
 *                where the blob holds s % 7 bytes, byte i = (t * 31 + s + i) & 0xFF.
 *            | "linger"                   (vxsim_fire with threads) each firing thread stays
 *                alive after its messages until the next vxsim_reset or the library's unload
 * Every message gets a record of its own, freed when the callback returns.
 *
 * ---- Call log ----
 *
 * Every call of the 34 functions is logged as "name|arg|arg...": strings as received,
 * printable ASCII as is, every other byte and '\' and '|' as \xHH (upper case); a null
 * string as \N; integers in decimal; bool as 1 or 0; double in its shortest round-trip
 * form; a callback as "cb", another non-null pointer as "ptr", a null pointer as \N.
 * Out arguments are not shown. Specials:
 *   porder|<count*64 bytes of the OrderInfo array in upper-case hex>|<count>|s|s|s
 *   releasedata|cube#<id>  (grid#<id>, "unknown" for a pointer never handed out, \N)
 *   csq|s|s|s|cb|\N        (callback and user pointer; cst and cnq alike)
 *
 * Strings returned by this interface stay valid until vxsim_reset, except those of the
 * *_joined and describe functions, valid until the same function is next called on the
 * same thread.
 */
#ifndef VXSIM_H_
#define VXSIM_H_

#if defined(VXSIM_BUILDING)
#if defined(_WIN32)
#define VXSIM_API __declspec(dllexport)
#else
#define VXSIM_API __attribute__((visibility("default")))
#endif
#else
#define VXSIM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Callback kinds (vxsim_fire, vxsim_has_callback). */
#define VXSIM_MAIN 0     /* registered by setcallback */
#define VXSIM_CSQ 1      /* the last callback handed to csq */
#define VXSIM_CST 2      /* ... to cst */
#define VXSIM_CNQ 3      /* ... to cnq */
#define VXSIM_LOG_SINK 4 /* the log sink handed to start (vxsim_has_callback only) */

/* The code of csqcancel / cnqcancel for a request that is not open (default mode). */
#define VXSIM_CODE_UNKNOWN_REQUEST (-1001)
/* The code of pcreate without a portfolio code and of pctransfer with an amount that is not
 * a finite number (default mode). */
#define VXSIM_CODE_INVALID_ARGUMENT (-1002)

/* Failure results of the control functions. */
#define VXSIM_ERR_NO_CALLBACK (-1) /* no callback of that kind has been handed over */
#define VXSIM_ERR_BAD_SCRIPT (-2)  /* the description does not parse; see vxsim_dsl_error */
#define VXSIM_ERR_BAD_ARGUMENT (-3)

/* ---- Mode ---- */

/* Back to default mode: ends streams and joins every sim thread, frees every record,
 * clears the call log, scripts, counters and errors. Keeps the callbacks handed over
 * (main callback, log sink, last data callbacks). */
VXSIM_API void vxsim_reset(void);

/* Default-mode streams: on or off (default on) and their period (default 100 ms; values
 * below 1 keep the current period). Affects requests opened afterwards. */
VXSIM_API void vxsim_set_streaming(int enabled, int interval_ms);
/* Number of streams running now. */
VXSIM_API int vxsim_active_streams(void);

/* ---- Scripted results (queues: each call takes the oldest entry) ---- */

/* The next call that returns a result code (every function except geterrstring,
 * setcallback, setserverlistdir and releasedata) returns `code`. In default mode a call
 * with a non-zero code produces no record, request number or count. */
VXSIM_API void vxsim_set_next_code(int code);

/* The next call with an int out argument (tradedatesnum's count, the request number of
 * csq/cst/cnq) stores `value` if `store` is non-zero, or leaves the variable untouched. */
VXSIM_API void vxsim_set_next_out_int(int value, int store);

/* The next cube-returning call (csd, css, tradedates, sector, getdate, csc, cmc, chmc,
 * csqsnapshot, cps, pquery, edb, edbquery, preport, cfn, cfnquery) hands out the record
 * described; the next ctr call the grid described. 0, or VXSIM_ERR_BAD_SCRIPT. */
VXSIM_API int vxsim_script_cube(const char* dsl);
VXSIM_API int vxsim_script_grid(const char* dsl);
/* Why the last description on this thread was refused ("" when it was not). */
VXSIM_API const char* vxsim_dsl_error(void);

/* The next cube / grid call hands out a record the test built. Its release is counted
 * like any other; `on_release` (may be null) runs on its first release. Never freed by
 * the sim. */
typedef void (*vxsim_release_fn)(void* record, void* user);
VXSIM_API void vxsim_set_next_cube_ptr(void* cube, vxsim_release_fn on_release, void* user);
VXSIM_API void vxsim_set_next_grid_ptr(void* grid, vxsim_release_fn on_release, void* user);

/* The next geterrstring returns these bytes (kept until reset), or null for null. */
VXSIM_API void vxsim_script_errstring(const char* text);

/* ---- Records and releases ---- */

VXSIM_API void* vxsim_last_record(void);           /* last record handed out, or null */
VXSIM_API int vxsim_last_record_id(void);          /* its id, or 0 */
VXSIM_API int vxsim_record_id(const void* record); /* id of a handed-out record, or 0 */
/* Description (in the language above) of the last record, taken when it was handed out;
 * "" when descriptions are off or the record is large (over 4096 texts and values). */
VXSIM_API const char* vxsim_last_record_description(void);
VXSIM_API void vxsim_set_record_descriptions(int enabled); /* default on */
/* Describes a live record (the sim's or the test's own). */
VXSIM_API const char* vxsim_describe_cube(const void* cube);
VXSIM_API const char* vxsim_describe_grid(const void* grid);

/* Releases of a record: 0 if it was never handed out, or was handed out more than 65536
 * records ago (the registry forgets the oldest finished records). */
VXSIM_API int vxsim_release_count_for(const void* record);
VXSIM_API int vxsim_release_count_for_id(int id);
VXSIM_API int vxsim_release_total(void);         /* every releasedata call */
VXSIM_API const void* vxsim_last_released(void); /* pointer of the last releasedata call */
VXSIM_API int vxsim_last_released_id(void);      /* its record id, or 0 */
/* Records handed out with code 0 and not released yet. */
VXSIM_API int vxsim_outstanding_records(void);

/* ---- Errors seen (double release, unknown pointer, contract breaches) ---- */

VXSIM_API int vxsim_error_count(void);
VXSIM_API const char* vxsim_error(int index);    /* null when out of range */
VXSIM_API const char* vxsim_errors_joined(void); /* one per line */

/* ---- Call log (the latest 1,000,000 calls) ---- */

VXSIM_API int vxsim_call_count(void);
VXSIM_API const char* vxsim_call(int index);    /* null when out of range */
VXSIM_API const char* vxsim_calls_joined(void); /* one per line, "\n" after each */
VXSIM_API void vxsim_clear_calls(void);

/* ---- Callbacks ---- */

/* 1 when a callback of that kind (VXSIM_MAIN .. VXSIM_LOG_SINK) was handed over. */
VXSIM_API int vxsim_has_callback(int kind);

/* Calls the callback of `kind` with messages described by `message`: `threads` threads
 * of the sim's own, started together, each sending `per_thread` messages (sequence 0 to
 * per_thread - 1), and returns at once. threads = 0 sends per_thread messages on the
 * caller's thread before returning (thread index 0). 0, VXSIM_ERR_NO_CALLBACK,
 * VXSIM_ERR_BAD_SCRIPT or VXSIM_ERR_BAD_ARGUMENT. */
VXSIM_API int vxsim_fire(int kind, int threads, int per_thread, const char* message);
/* Joins every firing thread; returns the messages they sent since the last wait. */
VXSIM_API int vxsim_fire_wait(void);
/* The next call of `function` sends `count` messages on the caller's thread just before
 * it returns: through the callback it was given for csq, cst and cnq, through the main
 * callback for any other function. 0, VXSIM_ERR_BAD_SCRIPT or VXSIM_ERR_BAD_ARGUMENT. */
VXSIM_API int vxsim_fire_inside_next(const char* function, int count, const char* message);

/* Calls the log sink handed to start with `text` (null passes a null pointer), `count`
 * times on each of `threads` threads (0: on the caller's thread), and returns when all
 * are done. vxsim_emit_log replaces each "%t" by the thread index and each "%d" by the
 * sequence number within the thread; vxsim_emit_log_raw passes the bytes unchanged.
 * Returns how many sink calls returned non-zero, or VXSIM_ERR_NO_CALLBACK. */
VXSIM_API int vxsim_emit_log(const char* text, int count, int threads);
VXSIM_API int vxsim_emit_log_raw(const char* text, int count, int threads);

#ifdef __cplusplus
} /* extern "C" */

/* Every control function, for lookup by name. */
#define VXSIM_CONTROL_FUNCTIONS(X) \
  X(vxsim_reset)                   \
  X(vxsim_set_streaming)           \
  X(vxsim_active_streams)          \
  X(vxsim_set_next_code)           \
  X(vxsim_set_next_out_int)        \
  X(vxsim_script_cube)             \
  X(vxsim_script_grid)             \
  X(vxsim_dsl_error)               \
  X(vxsim_set_next_cube_ptr)       \
  X(vxsim_set_next_grid_ptr)       \
  X(vxsim_script_errstring)        \
  X(vxsim_last_record)             \
  X(vxsim_last_record_id)          \
  X(vxsim_record_id)               \
  X(vxsim_last_record_description) \
  X(vxsim_set_record_descriptions) \
  X(vxsim_describe_cube)           \
  X(vxsim_describe_grid)           \
  X(vxsim_release_count_for)       \
  X(vxsim_release_count_for_id)    \
  X(vxsim_release_total)           \
  X(vxsim_last_released)           \
  X(vxsim_last_released_id)        \
  X(vxsim_outstanding_records)     \
  X(vxsim_error_count)             \
  X(vxsim_error)                   \
  X(vxsim_errors_joined)           \
  X(vxsim_call_count)              \
  X(vxsim_call)                    \
  X(vxsim_calls_joined)            \
  X(vxsim_clear_calls)             \
  X(vxsim_has_callback)            \
  X(vxsim_fire)                    \
  X(vxsim_fire_wait)               \
  X(vxsim_fire_inside_next)        \
  X(vxsim_emit_log)                \
  X(vxsim_emit_log_raw)

/* The control functions of one loaded copy of the library, looked up by name:
 *   VxSimApi sim;
 *   bool ok = sim.Load([&](const char* name) { return dlsym(handle, name); });
 * Load returns false when any function is missing. */
struct VxSimApi {
#define VXSIM_API_MEMBER(name) decltype(&::name) name = nullptr;
  VXSIM_CONTROL_FUNCTIONS(VXSIM_API_MEMBER)
#undef VXSIM_API_MEMBER

  template <typename Lookup>
  bool Load(Lookup lookup) {
    bool complete = true;
#define VXSIM_API_LOAD(name)                                 \
  name = reinterpret_cast<decltype(&::name)>(lookup(#name)); \
  complete = complete && name != nullptr;
    VXSIM_CONTROL_FUNCTIONS(VXSIM_API_LOAD)
#undef VXSIM_API_LOAD
    return complete;
  }
};
#endif /* __cplusplus */

#endif /* VXSIM_H_ */
