// Code-page conversion on POSIX hosts, with the contracts of MultiByteToWideChar and
// WideCharToMultiByte called with flags 0.
//
// The narrow ("ANSI") code page is the codeset of the calling thread's LC_CTYPE locale,
// as nl_langinfo(CODESET) names it. UTF-8 (as either page) is converted by hand. The
// ASCII codeset of the C locale is converted by hand too: bytes from 0x80 up are invalid.
// Every other codeset goes through iconv to and from UTF-16 in host byte order, with one
// pair of descriptors cached per thread. The stateless double-byte codesets (GBK, Big5,
// EUC-KR, Shift_JIS and their aliases) go through tables instead, read out of iconv once
// per process and codeset, giving the results iconv would give for every input; their text
// also goes to UTF-8 in one step, by the same tables (DirectAnsiToUtf8).
//
// Every codeset handled here is an ASCII superset, as every Windows ANSI code page is:
// glibc flags a charmap that is not as making a locale that is not ISO C compliant, and
// ships none. So a run of bytes or units below 0x80 converts unit for byte by hand in
// every codeset, and only the rest reaches iconv.
//
// Replacements, as Windows makes them:
// - input bytes that do not decode become U+FFFD; for UTF-8, one U+FFFD per maximal
//   subpart of an ill-formed sequence (the Unicode recommendation);
// - in a multi-byte ANSI codeset, a lead byte whose trail does not belong to it becomes the
//   code page's default character ('?'; U+30FB in Shift_JIS, as in code page 932) and takes
//   that trail byte along, whatever it is, unless it is NUL; a lead byte at the end becomes
//   the default character alone (so 81 30 78 in GBK is '?' 'x', not U+FFFD '0' 'x');
// - a lone surrogate becomes U+FFFD when encoding UTF-8;
// - a code point the ANSI codeset cannot represent, or a lone surrogate, becomes the
//   default character '?', one per code point (a surrogate pair is one code point).
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ansi_to_utf8_stack.h"
#include "platform/ascii.h"
#include "platform/platform.h"
#include "platform/posix/codepage_posix.h"

namespace vx::platform {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char kDefaultChar = '?';

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* kUtf16 = "UTF-16BE";
#else
constexpr const char* kUtf16 = "UTF-16LE";  // x86-64 and AArch64 Linux/macOS
#endif

bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Where converted units go: the caller's buffer, or nowhere while measuring. A measuring
// output has room for INT_MAX units, so a result that an int cannot hold fails like one
// that does not fit.
template <typename Unit>
class Output {
 public:
  Output(Unit* out, int capacity)
      : m_out(capacity == 0 ? nullptr : out), m_capacity(capacity == 0 ? INT_MAX : capacity) {}

  bool measuring() const { return m_out == nullptr; }
  int count() const { return static_cast<int>(m_count); }
  std::int64_t room() const { return m_capacity - m_count; }
  Unit* next() const { return m_out + m_count; }

  bool Put(Unit unit) {
    if (m_count >= m_capacity) return false;
    if (m_out != nullptr) m_out[m_count] = unit;
    ++m_count;
    return true;
  }
  bool Put(const Unit* units, int n) {
    if (m_capacity - m_count < n) return false;
    if (m_out != nullptr)
      std::memcpy(m_out + m_count, units, sizeof(Unit) * static_cast<std::size_t>(n));
    m_count += n;
    return true;
  }
  // Appends `n` units that are below 0x80, one for each unit of `text`.
  template <typename In>
  bool PutAscii(const In* text, std::size_t n) {
    if (static_cast<std::uint64_t>(m_capacity - m_count) < n) return false;
    if (m_out != nullptr) {
      Unit* out = m_out + m_count;
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<Unit>(text[i]);
    }
    m_count += static_cast<std::int64_t>(n);
    return true;
  }
  // Counts units that were written straight into next().
  bool Advance(std::int64_t n) {
    if (m_capacity - m_count < n) return false;
    m_count += n;
    return true;
  }

 private:
  Unit* m_out;
  std::int64_t m_capacity;
  std::int64_t m_count = 0;
};

// Length of the run of bytes below 0x80 that `text` starts with.
std::size_t AsciiRun(const unsigned char* text, std::size_t length) {
  return AsciiPrefix(reinterpret_cast<const char*>(text), length);
}

// Length of the run of units below 0x80 that `text` starts with.
std::size_t AsciiRun(const char16_t* text, std::size_t length) {
  std::size_t i = 0;
  while (i < length && text[i] < 0x80) ++i;
  return i;
}

// ---- UTF-8 ---------------------------------------------------------------------------

bool DecodeUtf8(const unsigned char* text, std::size_t length, Output<char16_t>& output) {
  std::size_t i = 0;
  while (i < length) {
    const unsigned lead = text[i];
    if (lead < 0x80) {
      const std::size_t run = AsciiRun(text + i, length - i);
      if (!output.PutAscii(text + i, run)) return false;
      i += run;
      continue;
    }
    int trail;
    std::uint32_t code;
    unsigned low = 0x80;  // range of the first trail byte; later ones are 80..BF
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2;
      code = lead & 0x0Fu;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3;
      code = lead & 0x07u;
      if (lead == 0xF0) low = 0x90;   // no overlong forms
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      if (!output.Put(kReplacement)) return false;
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool complete = true;
    for (int k = 0; k < trail; ++k, ++j) {
      if (j >= length || text[j] < low || text[j] > high) {
        complete = false;  // the maximal subpart i..j-1 becomes one U+FFFD
        break;
      }
      code = (code << 6) | (text[j] & 0x3Fu);
      low = 0x80;
      high = 0xBF;
    }
    i = j;
    if (!complete) {
      if (!output.Put(kReplacement)) return false;
    } else if (code >= 0x10000) {
      code -= 0x10000;
      const char16_t pair[2] = {static_cast<char16_t>(0xD800 + (code >> 10)),
                                static_cast<char16_t>(0xDC00 + (code & 0x3FF))};
      if (!output.Put(pair, 2)) return false;
    } else {
      if (!output.Put(static_cast<char16_t>(code))) return false;
    }
  }
  return true;
}

bool EncodeUtf8(const char16_t* text, std::size_t length, Output<char>& output) {
  std::size_t i = 0;
  while (i < length) {
    std::uint32_t code = text[i];
    if (code < 0x80) {
      const std::size_t run = AsciiRun(text + i, length - i);
      if (!output.PutAscii(text + i, run)) return false;
      i += run;
      continue;
    }
    if (IsHighSurrogate(code) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      i += 2;
    } else {
      if (IsHighSurrogate(code) || IsLowSurrogate(code)) code = kReplacement;
      ++i;
    }
    char bytes[4];
    int n;
    if (code < 0x800) {
      bytes[0] = static_cast<char>(0xC0 | (code >> 6));
      bytes[1] = static_cast<char>(0x80 | (code & 0x3F));
      n = 2;
    } else if (code < 0x10000) {
      bytes[0] = static_cast<char>(0xE0 | (code >> 12));
      bytes[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      bytes[2] = static_cast<char>(0x80 | (code & 0x3F));
      n = 3;
    } else {
      bytes[0] = static_cast<char>(0xF0 | (code >> 18));
      bytes[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      bytes[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      bytes[3] = static_cast<char>(0x80 | (code & 0x3F));
      n = 4;
    }
    if (!output.Put(bytes, n)) return false;
  }
  return true;
}

// ---- ASCII (the C locale) ------------------------------------------------------------

bool DecodeAscii(const unsigned char* text, std::size_t length, Output<char16_t>& output) {
  std::size_t i = 0;
  while (i < length) {
    const std::size_t run = AsciiRun(text + i, length - i);
    if (!output.PutAscii(text + i, run)) return false;
    i += run;
    if (i < length) {
      if (!output.Put(kReplacement)) return false;
      ++i;
    }
  }
  return true;
}

bool EncodeAscii(const char16_t* text, std::size_t length, Output<char>& output) {
  std::size_t i = 0;
  while (i < length) {
    const char16_t unit = text[i];
    if (unit < 0x80) {
      const std::size_t run = AsciiRun(text + i, length - i);
      if (!output.PutAscii(text + i, run)) return false;
      i += run;
      continue;
    }
    if (!output.Put(kDefaultChar)) return false;
    i += (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) ? 2u : 1u;
  }
  return true;
}

// ---- iconv ---------------------------------------------------------------------------

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));

// The calling thread's descriptors for one codeset; opened when first needed, replaced
// when the locale names another codeset, closed when the thread ends.
class IconvCache {
 public:
  IconvCache() = default;
  ~IconvCache() { Close(); }
  IconvCache(const IconvCache&) = delete;
  IconvCache& operator=(const IconvCache&) = delete;

  // Descriptor from `codeset` to UTF-16, or the other way; kNoDescriptor when iconv does
  // not know the codeset. Its shift state is reset.
  iconv_t Get(const char* codeset, bool toWide) {
    if (m_codeset != codeset) {
      Close();
      m_codeset = codeset;
    }
    iconv_t& cd = toWide ? m_toWide : m_fromWide;
    if (cd == kNoDescriptor) {
      cd = toWide ? iconv_open(kUtf16, codeset) : iconv_open(codeset, kUtf16);
    }
    if (cd != kNoDescriptor) iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return cd;
  }

 private:
  void Close() {
    if (m_toWide != kNoDescriptor) iconv_close(m_toWide);
    if (m_fromWide != kNoDescriptor) iconv_close(m_fromWide);
    m_toWide = kNoDescriptor;
    m_fromWide = kNoDescriptor;
  }

  std::string m_codeset;
  iconv_t m_toWide = kNoDescriptor;
  iconv_t m_fromWide = kNoDescriptor;
};

thread_local IconvCache t_iconv;

// Runs iconv from *in into the output: straight into the caller's buffer, or through a
// scratch buffer while measuring. Returns true at the end of the input (*error 0) or at
// an input error (*error EILSEQ or EINVAL, *in at the offending input); false when the
// output does not fit.
template <typename Unit>
bool RunIconv(iconv_t cd, char** in, std::size_t* inLeft, Output<Unit>& output, int* error) {
  char scratch[1024];
  *error = 0;
  for (;;) {
    char* out;
    std::size_t outLeft;
    if (output.measuring()) {
      out = scratch;
      outLeft = sizeof(scratch);
    } else {
      out = reinterpret_cast<char*>(output.next());
      outLeft = static_cast<std::size_t>(output.room()) * sizeof(Unit);
    }
    char* const start = out;
    const std::size_t before = *inLeft;
    const std::size_t result = (*inLeft == 0) ? iconv(cd, nullptr, nullptr, &out, &outLeft)
                                              : iconv(cd, in, inLeft, &out, &outLeft);
    const int err = errno;
    if (!output.Advance(static_cast<std::int64_t>(out - start) /
                        static_cast<std::int64_t>(sizeof(Unit)))) {
      return false;
    }
    if (result != static_cast<std::size_t>(-1)) {
      if (before == 0) return true;  // shift state flushed
      continue;                      // input consumed: flush the shift state next
    }
    if (err == E2BIG && output.measuring() && (out != start || *inLeft != before)) continue;
    if (err == EILSEQ || err == EINVAL) {
      *error = err;
      return true;
    }
    return false;
  }
}

int Probe(iconv_t cd, const char* input, std::size_t inLength, char* output, int* error);

// What a broken lead byte becomes in a codeset (see the top of the file).
char16_t BrokenLeadUnit(const char* codeset) {
  static const char* const kShiftJis[] = {"SJIS", "SHIFT_JIS", "SHIFT-JIS", "CP932", "WINDOWS-31J"};
  for (const char* name : kShiftJis) {
    if (codeset != nullptr && strcasecmp(codeset, name) == 0) return 0x30FB;
  }
  return u'?';
}

// Bytes a decoding error at text[at] spans: a lead byte (one that the codeset reads as the
// start of a longer sequence) takes the next byte along unless that is NUL or missing; any
// other byte goes alone. `lead` tells which it was.
std::size_t BrokenSpan(const unsigned char* text, std::size_t length, std::size_t at, bool lead) {
  return lead && at + 1 < length && text[at + 1] != 0 ? 2u : 1u;
}

bool DecodeIconv(iconv_t cd, const char* codeset, const unsigned char* text, std::size_t length,
                 Output<char16_t>& output) {
  const std::size_t i = AsciiRun(text, length);
  if (!output.PutAscii(text, i)) return false;
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text + i));
  std::size_t inLeft = length - i;
  while (inLeft > 0) {
    int error;
    if (!RunIconv(cd, &in, &inLeft, output, &error)) return false;
    if (error == 0) break;
    // A lead byte without its trail: the default character for the two (see BrokenSpan).
    // Any other byte that does not decode: U+FFFD. Then go on with the next. The probe
    // resets the descriptor, which the stateless ANSI codesets do not notice.
    char probed[8];
    int probeError = 0;
    const bool lead = Probe(cd, in, 1, probed, &probeError) == -1 && probeError == EINVAL;
    const auto* bytes = reinterpret_cast<const unsigned char*>(in);
    const std::size_t span = BrokenSpan(bytes, inLeft, 0, lead);
    if (!output.Put(lead ? BrokenLeadUnit(codeset) : kReplacement)) return false;
    in += span;
    inLeft -= span;
  }
  return true;
}

bool EncodeIconv(iconv_t cd, const char16_t* text, std::size_t length, Output<char>& output) {
  const std::size_t i = AsciiRun(text, length);
  if (!output.PutAscii(text, i)) return false;
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text + i));
  std::size_t inLeft = (length - i) * sizeof(char16_t);
  while (inLeft > 0) {
    int error;
    if (!RunIconv(cd, &in, &inLeft, output, &error)) return false;
    if (error == 0) break;
    // A code point the codeset lacks, or a lone surrogate: one default character.
    const std::size_t at =
        static_cast<std::size_t>(in - reinterpret_cast<const char*>(text)) / sizeof(char16_t);
    const std::size_t skip =
        (IsHighSurrogate(text[at]) && at + 1 < length && IsLowSurrogate(text[at + 1])) ? 2u : 1u;
    if (!output.Put(kDefaultChar)) return false;
    in += skip * sizeof(char16_t);
    inLeft -= skip * sizeof(char16_t);
  }
  return true;
}

// ---- Double-byte codesets by table ---------------------------------------------------

// One double-byte codeset, as iconv converts it one character at a time. Built once,
// never changed or freed afterwards.
struct DbcsTable {
  enum : std::uint8_t { kInvalid, kSingle, kLead };
  static constexpr std::uint32_t kNoUnit = 0xFFFFFFFFu;

  std::uint8_t kind[256];  // what each byte is when a character starts there
  char16_t single[256];    // the unit of a kSingle byte
  // The unit of the pair lead << 8 | trail, or kNoUnit when iconv rejects the pair
  // (the two then become brokenLead, or the lead alone when the trail is NUL).
  std::vector<std::uint32_t> pair = std::vector<std::uint32_t>(65536, kNoUnit);
  // The bytes of each BMP unit: 0 when the codeset lacks it, a value below 0x100 for one
  // byte, lead << 8 | trail for two.
  std::vector<std::uint16_t> encode = std::vector<std::uint16_t>(65536, 0);
  char16_t brokenLead = u'?';  // what a lead byte without its trail becomes
};

// Codesets whose names say double-byte and stateless; GB18030 (four-byte sequences) and
// the rest stay on iconv.
bool IsDoubleByteName(const char* name) {
  static const char* const kNames[] = {"GBK",   "GB2312", "CP936",     "EUC-CN",    "EUCCN",
                                       "BIG5",  "BIG-5",  "CP950",     "EUC-KR",    "EUCKR",
                                       "CP949", "SJIS",   "SHIFT_JIS", "SHIFT-JIS", "CP932"};
  for (const char* known : kNames) {
    if (strcasecmp(name, known) == 0) return true;
  }
  return false;
}

// Converts `inLength` bytes alone with a freshly reset descriptor, into `output` (8 bytes).
// Returns the output size; -1 when iconv stops at the first byte, with *error set (EILSEQ,
// EINVAL...); -2 when it stops part way or leaves a shift state.
int Probe(iconv_t cd, const char* input, std::size_t inLength, char* output, int* error) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(input);
  std::size_t inLeft = inLength;
  char* out = output;
  std::size_t outLeft = 8;
  const std::size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
  *error = result == static_cast<std::size_t>(-1) ? errno : 0;
  if (*error != 0) return inLeft == inLength ? -1 : -2;  // -2: partly converted
  if (inLeft != 0) return -2;
  const std::size_t flushed = iconv(cd, nullptr, nullptr, &out, &outLeft);
  if (flushed == static_cast<std::size_t>(-1)) return -2;
  return static_cast<int>(out - output);
}

char16_t UnitAt(const char* bytes) {
  char16_t unit;
  std::memcpy(&unit, bytes, sizeof(unit));
  return unit;
}

// A unit that a character of a table codeset may decode to: neither U+0000 nor a surrogate,
// so that it encodes as UTF-8 on its own, whatever follows it (see TableToUtf8).
bool IsPlainUnit(char16_t unit) {
  return unit != 0 && !IsHighSurrogate(unit) && !IsLowSurrogate(unit);
}

// Reads the tables out of iconv; false when the codeset turns out not to be a stateless
// double-byte ASCII superset, one character to one plain UTF-16 unit.
bool FillTable(iconv_t toWide, iconv_t fromWide, DbcsTable& table) {
  char out[8];
  int error;
  for (unsigned b = 0; b < 256; ++b) {
    const char in[1] = {static_cast<char>(b)};
    const int n = Probe(toWide, in, 1, out, &error);
    table.single[b] = 0;
    if (n == 2) {
      table.kind[b] = DbcsTable::kSingle;
      table.single[b] = UnitAt(out);
      if (b < 0x80 ? table.single[b] != b : !IsPlainUnit(table.single[b])) return false;
    } else if (n == -1 && error == EINVAL && b >= 0x80) {
      table.kind[b] = DbcsTable::kLead;
    } else if (n == -1 && error == EILSEQ && b >= 0x80) {
      table.kind[b] = DbcsTable::kInvalid;
    } else {
      return false;
    }
  }
  for (unsigned lead = 0x80; lead < 256; ++lead) {
    if (table.kind[lead] != DbcsTable::kLead) continue;
    for (unsigned trail = 0; trail < 256; ++trail) {
      const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const int n = Probe(toWide, in, 2, out, &error);
      if (n == 2 && IsPlainUnit(UnitAt(out))) {
        table.pair[lead << 8 | trail] = UnitAt(out);
      } else if (!(n == -1 && error == EILSEQ)) {
        return false;
      }
    }
  }
  for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
    if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) continue;
    const char16_t in[1] = {static_cast<char16_t>(unit)};
    const int n = Probe(fromWide, reinterpret_cast<const char*>(in), sizeof(in), out, &error);
    const auto b0 = static_cast<unsigned char>(out[0]);
    if (n == 1) {
      if (unit < 0x80 ? b0 != unit : b0 == 0) return false;
      table.encode[unit] = b0;
    } else if (n == 2 && unit >= 0x80 && b0 != 0) {
      table.encode[unit] = static_cast<std::uint16_t>(b0 << 8 | static_cast<unsigned char>(out[1]));
    } else if (!(n == -1 && error == EILSEQ && unit >= 0x80)) {
      return false;
    }
  }
  return true;
}

std::unique_ptr<DbcsTable> BuildTable(const char* codeset) {
  const iconv_t toWide = iconv_open(kUtf16, codeset);
  const iconv_t fromWide = iconv_open(codeset, kUtf16);
  auto table = std::make_unique<DbcsTable>();
  table->brokenLead = BrokenLeadUnit(codeset);
  const bool ok =
      toWide != kNoDescriptor && fromWide != kNoDescriptor && FillTable(toWide, fromWide, *table);
  if (toWide != kNoDescriptor) iconv_close(toWide);
  if (fromWide != kNoDescriptor) iconv_close(fromWide);
  if (!ok) table.reset();
  return table;
}

// The table for a codeset, built on first use; null for a codeset that has none. Tables
// stay until the process ends (another thread may be reading one at exit).
const DbcsTable* TableFor(const char* codeset) {
  if (codeset == nullptr || !IsDoubleByteName(codeset)) return nullptr;
  struct Entry {
    std::string name;
    const DbcsTable* table;
  };
  static std::mutex s_mutex;
  static auto* const s_tables = new std::vector<Entry>();
  std::lock_guard<std::mutex> lock(s_mutex);
  for (const Entry& entry : *s_tables) {
    if (entry.name == codeset) return entry.table;
  }
  const DbcsTable* table = BuildTable(codeset).release();
  s_tables->push_back(Entry{codeset, table});
  return table;
}

// The character that starts at text[i], a byte from 0x80 up: its unit, with `i` moved past
// it.
inline char16_t DecodeTableChar(const DbcsTable& table, const unsigned char* text,
                                std::size_t length, std::size_t& i) {
  const unsigned b = text[i];
  if (table.kind[b] == DbcsTable::kSingle) {
    ++i;
    return table.single[b];
  }
  if (table.kind[b] == DbcsTable::kLead) {
    if (i + 1 < length) {
      const std::uint32_t mapped = table.pair[b << 8 | text[i + 1]];
      if (mapped != DbcsTable::kNoUnit) {
        i += 2;
        return static_cast<char16_t>(mapped);
      }
    }
    i += BrokenSpan(text, length, i, true);
    return table.brokenLead;
  }
  ++i;
  return kReplacement;
}

bool DecodeTable(const DbcsTable& table, const unsigned char* text, std::size_t length,
                 Output<char16_t>& output) {
  std::size_t i = 0;
  while (i < length) {
    if (text[i] < 0x80) {
      const std::size_t run = AsciiRun(text + i, length - i);
      if (!output.PutAscii(text + i, run)) return false;
      i += run;
      continue;
    }
    if (!output.Put(DecodeTableChar(table, text, length, i))) return false;
  }
  return true;
}

bool EncodeTable(const DbcsTable& table, const char* codeset, const char16_t* text,
                 std::size_t length, Output<char>& output) {
  std::size_t i = 0;
  while (i < length) {
    const char16_t unit = text[i];
    if (unit < 0x80) {
      const std::size_t run = AsciiRun(text + i, length - i);
      if (!output.PutAscii(text + i, run)) return false;
      i += run;
      continue;
    }
    if (IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
      // Outside the BMP, which the table does not cover: iconv, for this one pair.
      const iconv_t cd = t_iconv.Get(codeset, false);
      if (cd == kNoDescriptor) {
        if (!output.Put(kDefaultChar)) return false;
      } else if (!EncodeIconv(cd, text + i, 2, output)) {
        return false;
      }
      i += 2;
      continue;
    }
    const std::uint16_t bytes =
        (IsHighSurrogate(unit) || IsLowSurrogate(unit)) ? 0 : table.encode[unit];
    bool ok;
    if (bytes == 0) {
      ok = output.Put(kDefaultChar);
    } else if (bytes < 0x100) {
      ok = output.Put(static_cast<char>(bytes));
    } else {
      const char two[2] = {static_cast<char>(bytes >> 8), static_cast<char>(bytes & 0xFF)};
      ok = output.Put(two, 2);
    }
    if (!ok) return false;
    ++i;
  }
  return true;
}

// UTF-8 bytes of a plain unit.
inline int Utf8Length(char16_t unit) { return unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3; }

inline void WriteUtf8(char16_t unit, int length, char* at) {
  switch (length) {
    case 1:
      at[0] = static_cast<char>(unit);
      break;
    case 2:
      at[0] = static_cast<char>(0xC0 | (unit >> 6));
      at[1] = static_cast<char>(0x80 | (unit & 0x3F));
      break;
    default:
      at[0] = static_cast<char>(0xE0 | (unit >> 12));
      at[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      at[2] = static_cast<char>(0x80 | (unit & 0x3F));
      break;
  }
}

// The UTF-8 length of a table codeset's text.
std::int64_t TableUtf8Length(const DbcsTable& table, const unsigned char* text,
                             std::size_t length) {
  std::int64_t count = 0;
  for (std::size_t i = 0; i < length;) {
    if (text[i] < 0x80) {
      ++count;
      ++i;
    } else {
      count += Utf8Length(DecodeTableChar(table, text, length, i));
    }
  }
  return count;
}

// Writes the UTF-8 form of a table codeset's text into `out`: the bytes written, or -1 when
// they do not fit in `capacity`. With room for 3 bytes a character, the most any takes,
// the room is not checked character by character.
template <bool kChecked>
std::int64_t TableToUtf8(const DbcsTable& table, const unsigned char* text, std::size_t length,
                         char* out, std::int64_t capacity) {
  std::int64_t count = 0;
  for (std::size_t i = 0; i < length;) {
    if (text[i] < 0x80 && (!kChecked || count < capacity)) {
      out[count++] = static_cast<char>(text[i++]);
      continue;
    }
    const char16_t unit = text[i] < 0x80 ? text[i++] : DecodeTableChar(table, text, length, i);
    const int n = Utf8Length(unit);
    if (kChecked && capacity - count < n) return -1;
    WriteUtf8(unit, n, out + count);
    count += n;
  }
  return count;
}

// ---- The ANSI codeset ----------------------------------------------------------------

enum class Codeset { Utf8, Ascii, Other };

bool SameName(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

Codeset ClassifyName(const char* name) {
  if (name == nullptr || *name == '\0') return Codeset::Ascii;
  if (SameName(name, "UTF-8") || SameName(name, "UTF8")) return Codeset::Utf8;
  if (SameName(name, "ANSI_X3.4-1968") || SameName(name, "US-ASCII") || SameName(name, "ASCII")) {
    return Codeset::Ascii;
  }
  return Codeset::Other;
}

// ClassifyName and the codeset's table, remembered per thread for the last codeset seen:
// every conversion asks, and the locale rarely changes.
struct CodesetInfo {
  Codeset kind;
  const DbcsTable* table;  // for Codeset::Other, when it has one
};

CodesetInfo Classify(const char* name) {
  thread_local char t_name[64] = "";
  thread_local CodesetInfo t_info = {Codeset::Ascii, nullptr};  // what "" is
  if (name == nullptr || std::strlen(name) >= sizeof(t_name)) {
    const Codeset kind = ClassifyName(name);
    return {kind, kind == Codeset::Other ? TableFor(name) : nullptr};
  }
  if (std::strcmp(name, t_name) != 0) {
    const Codeset kind = ClassifyName(name);
    t_info = {kind, kind == Codeset::Other ? TableFor(name) : nullptr};
    std::strcpy(t_name, name);
  }
  return t_info;
}

const char* AnsiCodeset() { return nl_langinfo(CODESET); }

// Windows' argument rules: a null text, a zero or invalid length, a negative capacity or
// a null buffer with a capacity are errors (0). A length of -1 means "NUL-terminated",
// the terminator included.
template <typename In, typename Out>
bool Arguments(const In* text, int& length, const Out* out, int capacity) {
  if (text == nullptr || length == 0 || length < -1 || capacity < 0) return false;
  if (capacity > 0 && out == nullptr) return false;
  if (length == -1) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    if (n >= static_cast<std::size_t>(INT_MAX)) return false;
    length = static_cast<int>(n) + 1;
  }
  return true;
}

// The two directions of a conversion, for ConvertCodeset below: from bytes to UTF-16 units and
// back.
struct Decoding {
  using In = unsigned char;
  using Out = char16_t;
  static constexpr bool kToWide = true;
  static bool Utf8(const In* text, std::size_t size, Output<Out>& output) {
    return DecodeUtf8(text, size, output);
  }
  static bool Ascii(const In* text, std::size_t size, Output<Out>& output) {
    return DecodeAscii(text, size, output);
  }
  static bool Table(const DbcsTable& table, const char* /*codeset*/, const In* text,
                    std::size_t size, Output<Out>& output) {
    return DecodeTable(table, text, size, output);
  }
  static bool Iconv(iconv_t cd, const char* codeset, const In* text, std::size_t size,
                    Output<Out>& output) {
    return DecodeIconv(cd, codeset, text, size, output);
  }
};

struct Encoding {
  using In = char16_t;
  using Out = char;
  static constexpr bool kToWide = false;
  static bool Utf8(const In* text, std::size_t size, Output<Out>& output) {
    return EncodeUtf8(text, size, output);
  }
  static bool Ascii(const In* text, std::size_t size, Output<Out>& output) {
    return EncodeAscii(text, size, output);
  }
  static bool Table(const DbcsTable& table, const char* codeset, const In* text, std::size_t size,
                    Output<Out>& output) {
    return EncodeTable(table, codeset, text, size, output);
  }
  static bool Iconv(iconv_t cd, const char* /*codeset*/, const In* text, std::size_t size,
                    Output<Out>& output) {
    return EncodeIconv(cd, text, size, output);
  }
};

// MultiByteToWide or WideToMultiByte: UTF-8 and ASCII by hand, other codesets by table
// (when `byTable` and there is one) or by iconv, text that is all ASCII in any of them by hand.
template <typename Direction>
int ConvertCodeset(CodePage page, const typename Direction::In* text, int length,
                   typename Direction::Out* out, int capacity, bool byTable) {
  if (!Arguments(text, length, out, capacity)) return 0;
  const auto size = static_cast<std::size_t>(length);
  Output<typename Direction::Out> output(out, capacity);
  bool ok = false;
  const char* codeset = page == CodePage::Utf8 ? nullptr : AnsiCodeset();
  const CodesetInfo info =
      page == CodePage::Utf8 ? CodesetInfo{Codeset::Utf8, nullptr} : Classify(codeset);
  switch (info.kind) {
    case Codeset::Utf8:
      ok = Direction::Utf8(text, size, output);
      break;
    case Codeset::Ascii:
      ok = Direction::Ascii(text, size, output);
      break;
    case Codeset::Other: {
      if (AsciiRun(text, size) == size) {  // no need for iconv
        ok = output.PutAscii(text, size);
        break;
      }
      if (byTable && info.table != nullptr) {
        ok = Direction::Table(*info.table, codeset, text, size, output);
        break;
      }
      const iconv_t cd = t_iconv.Get(codeset, Direction::kToWide);
      ok = cd == kNoDescriptor ? Direction::Ascii(text, size, output)
                               : Direction::Iconv(cd, codeset, text, size, output);
      break;
    }
  }
  return ok ? output.count() : 0;
}

int ToWide(CodePage page, const char* text, int length, char16_t* out, int capacity, bool byTable) {
  return ConvertCodeset<Decoding>(page, reinterpret_cast<const unsigned char*>(text), length, out,
                                  capacity, byTable);
}

int FromWide(CodePage page, const char16_t* text, int length, char* out, int capacity,
             bool byTable) {
  return ConvertCodeset<Encoding>(page, text, length, out, capacity, byTable);
}

// The route of a table codeset: DecodeTable and EncodeUtf8 in one loop. The units of a
// table are plain (FillTable), so each encodes on its own and none ends the text early, as
// in the two steps.
int TableAnsiToUtf8(const void* state, const char* text, int length, char* out, int capacity) {
  if (state == nullptr || !Arguments(text, length, out, capacity)) return 0;
  const auto& table = *static_cast<const DbcsTable*>(state);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  const auto size = static_cast<std::size_t>(length);
  std::int64_t count;
  if (capacity == 0) {
    count = TableUtf8Length(table, bytes, size);
  } else if (static_cast<std::size_t>(capacity) / 3 >= size) {
    count = TableToUtf8<false>(table, bytes, size, out, capacity);
  } else {
    count = TableToUtf8<true>(table, bytes, size, out, capacity);
  }
  return count >= 0 && count <= INT_MAX ? static_cast<int>(count) : 0;
}

}  // namespace

int MultiByteToWide(CodePage page, const char* text, int length, char16_t* out, int capacity) {
  return ToWide(page, text, length, out, capacity, true);
}

int WideToMultiByte(CodePage page, const char16_t* text, int length, char* out, int capacity) {
  return FromWide(page, text, length, out, capacity, true);
}

// libstdc++ reads numbers in the "C" locale through strtod_l, never through setlocale.
ThreadLocaleScope::ThreadLocaleScope() : m_previous(0), m_locked(false) {
  static_cast<void>(m_previous);
  static_cast<void>(m_locked);
}
ThreadLocaleScope::~ThreadLocaleScope() = default;
bool ThreadLocaleScope::PerThread() { return false; }

bool AnsiIsUtf8() { return Classify(AnsiCodeset()).kind == Codeset::Utf8; }

int AnsiToWideByIconv(const char* text, int length, char16_t* out, int capacity) {
  return ToWide(CodePage::Ansi, text, length, out, capacity, false);
}

int WideToAnsiByIconv(const char16_t* text, int length, char* out, int capacity) {
  return FromWide(CodePage::Ansi, text, length, out, capacity, false);
}

AnsiToUtf8Route DirectAnsiToUtf8() {
  const CodesetInfo info = Classify(AnsiCodeset());
  if (info.kind != Codeset::Other || info.table == nullptr)
    return AnsiToUtf8Route{nullptr, nullptr};
  return AnsiToUtf8Route{TableAnsiToUtf8, info.table};
}

AnsiToUtf8Route AnsiToUtf8RouteForThread() {
  const AnsiToUtf8Route direct = DirectAnsiToUtf8();
  return direct.convert != nullptr ? direct : AnsiToUtf8Route{AnsiToUtf8ThroughUtf16, nullptr};
}

bool AnsiHasTable() {
  const CodesetInfo info = Classify(AnsiCodeset());
  return info.kind == Codeset::Other && info.table != nullptr;
}

}  // namespace vx::platform
