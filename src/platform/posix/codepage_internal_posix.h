// Pieces the POSIX code-page conversions share between codepage_posix.cpp (the conversions)
// and dbcs_tables_posix.cpp (the double-byte tables and their one-step route to UTF-8).
// Internal to src/platform/posix/.
#pragma once

#include <iconv.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ascii.h"
#include "platform/platform.h"

namespace vx::platform::posix_codepage {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char kDefaultChar = '?';

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* kUtf16 = "UTF-16BE";
#else
constexpr const char* kUtf16 = "UTF-16LE";  // x86-64 and AArch64 Linux/macOS
#endif

inline bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

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
inline std::size_t AsciiRun(const unsigned char* text, std::size_t length) {
  return AsciiPrefix(reinterpret_cast<const char*>(text), length);
}

// Length of the run of units below 0x80 that `text` starts with.
inline std::size_t AsciiRun(const char16_t* text, std::size_t length) {
  std::size_t i = 0;
  while (i < length && text[i] < 0x80) ++i;
  return i;
}

inline const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));

// The calling thread's descriptor from the codeset to UTF-16 (`toWide`) or back, kept per
// thread, its shift state reset; kNoDescriptor when iconv does not know the codeset.
iconv_t ThreadDescriptor(const char* codeset, bool toWide);

// What a broken lead byte becomes in a codeset (see codepage_posix.cpp).
char16_t BrokenLeadUnit(const char* codeset);

// The bytes that iconv rejects in a double-byte codeset but the Windows code page of the
// same name has as characters of their own (0xFF in 936 is U+F8F5): the unit of `byte`,
// or 0 when there is none; and the byte of `unit`, or 0. Only consulted where iconv fails.
char16_t WindowsSingleUnit(const char* codeset, unsigned char byte);
unsigned char WindowsSingleByte(const char* codeset, char16_t unit);

// Bytes a decoding error at text[at] spans: a lead byte (one that the codeset reads as the
// start of a longer sequence) takes the next byte along unless that is NUL or missing; any
// other byte goes alone. `lead` tells which it was.
inline std::size_t BrokenSpan(const unsigned char* text, std::size_t length, std::size_t at,
                              bool lead) {
  return lead && at + 1 < length && text[at + 1] != 0 ? 2u : 1u;
}

// Converts `inLength` bytes alone with a freshly reset descriptor, into `output` (8 bytes).
// Returns the output size; -1 when iconv stops at the first byte, with *error set (EILSEQ,
// EINVAL...); -2 when it stops part way or leaves a shift state.
int Probe(iconv_t cd, const char* input, std::size_t inLength, char* output, int* error);

// UTF-16 units through iconv into `codeset`; false when they do not fit.
bool EncodeIconv(iconv_t cd, const char* codeset, const char16_t* text, std::size_t length,
                 Output<char>& output);

// Windows' argument rules: a null text, a zero or invalid length, a negative capacity or
// a null buffer with a capacity are errors (0). A length of -1 means "NUL-terminated",
// the terminator included.
template <typename In, typename Out>
inline bool Arguments(const In* text, int& length, const Out* out, int capacity) {
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

// ---- Double-byte codesets by table (built in dbcs_tables_posix.cpp) --------------------

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

// The table for a codeset, built on first use; null for a codeset that has none. Tables
// stay until the process ends (another thread may be reading one at exit).
const DbcsTable* TableFor(const char* codeset);

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

// ANSI text of a table codeset straight to UTF-8, as an AnsiToUtf8Route with the table as
// its state.
int TableAnsiToUtf8(const void* state, const char* text, int length, char* out, int capacity);

}  // namespace vx::platform::posix_codepage
