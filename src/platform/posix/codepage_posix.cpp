// Code-page conversion on POSIX hosts, with the contracts of MultiByteToWideChar and
// WideCharToMultiByte called with flags 0.
//
// The narrow ("ANSI") code page is the codeset of the calling thread's LC_CTYPE locale,
// as nl_langinfo(CODESET) names it. UTF-8 (as either page) is converted by hand. The
// ASCII codeset of the C locale is converted by hand too: bytes from 0x80 up are invalid.
// Every other codeset goes through iconv to and from UTF-16 in host byte order, with one
// pair of descriptors cached per thread. The stateless double-byte codesets (GBK, Big5,
// EUC-KR, Shift_JIS and their aliases) go through tables instead (dbcs_tables_posix.cpp),
// read out of iconv once per process and codeset, giving the results iconv would give for
// every input; their text also goes to UTF-8 in one step, by the same tables
// (DirectAnsiToUtf8).
//
// Every codeset handled here is an ASCII superset, as every Windows ANSI code page is:
// glibc flags a charmap that is not as making a locale that is not ISO C compliant, and
// ships none. So a run of bytes or units below 0x80 converts unit for byte by hand in
// every codeset, and only the rest reaches iconv.
//
// Replacements, as Windows makes them:
// - input bytes that do not decode become U+FFFD; for UTF-8, one U+FFFD per maximal
//   subpart of an ill-formed sequence (the Unicode recommendation);
// - but the few single bytes that iconv rejects in a double-byte codeset and Windows' code
//   page of that name maps to a character (0xFF in 936 is U+F8F5, 0x80 in 932 is U+0080)
//   decode to that character, and it encodes back to the byte (WindowsSingleUnit);
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
#include <string>

#include "platform/ansi_to_utf8_stack.h"
#include "platform/platform.h"
#include "platform/posix/codepage_internal_posix.h"
#include "platform/posix/codepage_posix.h"

namespace vx::platform {

using namespace posix_codepage;

namespace {

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

}  // namespace

iconv_t posix_codepage::ThreadDescriptor(const char* codeset, bool toWide) {
  return t_iconv.Get(codeset, toWide);
}

namespace {

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

}  // namespace

// What a broken lead byte becomes in a codeset (see the top of the file).
char16_t posix_codepage::BrokenLeadUnit(const char* codeset) {
  static const char* const kShiftJis[] = {"SJIS", "SHIFT_JIS", "SHIFT-JIS", "CP932", "WINDOWS-31J"};
  for (const char* name : kShiftJis) {
    if (codeset != nullptr && strcasecmp(codeset, name) == 0) return 0x30FB;
  }
  return u'?';
}

namespace {

// The single bytes of Windows' double-byte code pages that glibc's iconv rejects, as
// MultiByteToWideChar decodes them and WideCharToMultiByte (WC_NO_BEST_FIT_CHARS) encodes
// them back (checked under Wine). Bytes iconv decodes keep iconv's character, so where
// iconv already agrees with Windows (0x80 in GBK is U+20AC) an entry changes nothing; and a
// unit is only encoded as its byte where iconv rejects that byte on its own, so that the
// byte decodes back to it (glibc's EUC-KR, a part of 949, reads 0xFF as a lead byte and
// would take the next character along: it has no entry).
struct WindowsSingles {
  const char* names[5];
  struct {
    unsigned char byte;
    char16_t unit;
  } singles[5];
};

constexpr WindowsSingles kWindowsSingles[] = {
    {{"GBK", "CP936"}, {{0x80, 0x20AC}, {0xFF, 0xF8F5}}},
    {{"BIG5", "BIG-5", "CP950"}, {{0x80, 0x0080}, {0xFF, 0xF8F8}}},
    {{"CP949"}, {{0x80, 0x0080}, {0xFF, 0xF8F7}}},
    {{"SJIS", "SHIFT_JIS", "SHIFT-JIS", "CP932", "WINDOWS-31J"},
     {{0x80, 0x0080}, {0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3}}},
};

const WindowsSingles* WindowsSinglesFor(const char* codeset) {
  if (codeset == nullptr) return nullptr;
  for (const WindowsSingles& page : kWindowsSingles) {
    for (const char* name : page.names) {
      if (name != nullptr && strcasecmp(codeset, name) == 0) return &page;
    }
  }
  return nullptr;
}

}  // namespace

char16_t posix_codepage::WindowsSingleUnit(const char* codeset, unsigned char byte) {
  const WindowsSingles* page = WindowsSinglesFor(codeset);
  if (page == nullptr) return 0;
  for (const auto& single : page->singles) {
    if (single.unit != 0 && single.byte == byte) return single.unit;
  }
  return 0;
}

unsigned char posix_codepage::WindowsSingleByte(const char* codeset, char16_t unit) {
  const WindowsSingles* page = WindowsSinglesFor(codeset);
  if (page == nullptr || unit == 0) return 0;
  for (const auto& single : page->singles) {
    if (single.unit == unit) return single.byte;
  }
  return 0;
}

namespace {

// WindowsSingleByte, where iconv rejects the byte on its own (so that DecodeIconv gives it
// the same unit back); else 0.
unsigned char WindowsSingleByteDecodingBack(const char* codeset, char16_t unit) {
  const unsigned char byte = WindowsSingleByte(codeset, unit);
  if (byte == 0) return 0;
  const iconv_t cd = ThreadDescriptor(codeset, true);
  if (cd == kNoDescriptor) return 0;
  const char in[1] = {static_cast<char>(byte)};
  char probed[8];
  int error = 0;
  return Probe(cd, in, 1, probed, &error) == -1 && error == EILSEQ ? byte : 0;
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
    const char16_t windows = lead ? char16_t{0} : WindowsSingleUnit(codeset, bytes[0]);
    const char16_t unit = lead ? BrokenLeadUnit(codeset) : windows != 0 ? windows : kReplacement;
    if (!output.Put(unit)) return false;
    in += span;
    inLeft -= span;
  }
  return true;
}

}  // namespace

bool posix_codepage::EncodeIconv(iconv_t cd, const char* codeset, const char16_t* text,
                                 std::size_t length, Output<char>& output) {
  const std::size_t i = AsciiRun(text, length);
  if (!output.PutAscii(text, i)) return false;
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text + i));
  std::size_t inLeft = (length - i) * sizeof(char16_t);
  while (inLeft > 0) {
    int error;
    if (!RunIconv(cd, &in, &inLeft, output, &error)) return false;
    if (error == 0) break;
    // A code point the codeset lacks, or a lone surrogate: one default character, unless
    // Windows has the code point as a single byte there.
    const std::size_t at =
        static_cast<std::size_t>(in - reinterpret_cast<const char*>(text)) / sizeof(char16_t);
    const std::size_t skip =
        (IsHighSurrogate(text[at]) && at + 1 < length && IsLowSurrogate(text[at + 1])) ? 2u : 1u;
    const unsigned char windows = skip == 1 ? WindowsSingleByteDecodingBack(codeset, text[at]) : 0;
    if (!output.Put(windows != 0 ? static_cast<char>(windows) : kDefaultChar)) return false;
    in += skip * sizeof(char16_t);
    inLeft -= skip * sizeof(char16_t);
  }
  return true;
}

// Converts `inLength` bytes alone with a freshly reset descriptor, into `output` (8 bytes).
// Returns the output size; -1 when iconv stops at the first byte, with *error set (EILSEQ,
// EINVAL...); -2 when it stops part way or leaves a shift state.
int posix_codepage::Probe(iconv_t cd, const char* input, std::size_t inLength, char* output,
                          int* error) {
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

namespace {

// ---- Double-byte codesets by table ---------------------------------------------------

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
      const iconv_t cd = ThreadDescriptor(codeset, false);
      if (cd == kNoDescriptor) {
        if (!output.Put(kDefaultChar)) return false;
      } else if (!EncodeIconv(cd, codeset, text + i, 2, output)) {
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
  static bool Iconv(iconv_t cd, const char* codeset, const In* text, std::size_t size,
                    Output<Out>& output) {
    return EncodeIconv(cd, codeset, text, size, output);
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
