// The tables of the stateless double-byte codesets (GBK, Big5, EUC-KR, Shift_JIS and their
// aliases): read out of iconv once per process and codeset, so that converting by them
// gives the results iconv would give for every input, a character at a time. Besides
// building them, this file takes such text to UTF-8 in one step (TableAnsiToUtf8, the
// codesets' AnsiToUtf8Route); codepage_posix.cpp decodes and encodes by them.
#include <iconv.h>
#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/codepage_internal_posix.h"

namespace vx::platform::posix_codepage {

namespace {

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

// Reads the tables out of iconv, with the single bytes Windows adds where iconv rejects
// them (WindowsSingleUnit); false when the codeset turns out not to be a stateless
// double-byte ASCII superset, one character to one plain UTF-16 unit.
bool FillTable(const char* codeset, iconv_t toWide, iconv_t fromWide, DbcsTable& table) {
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
      table.single[b] = WindowsSingleUnit(codeset, static_cast<unsigned char>(b));
      table.kind[b] = table.single[b] != 0 ? DbcsTable::kSingle : DbcsTable::kInvalid;
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
    } else if (n == -1 && error == EILSEQ && unit >= 0x80) {
      // Only a byte the table decodes to this very unit (not one iconv reads as a lead).
      const unsigned char windows = WindowsSingleByte(codeset, static_cast<char16_t>(unit));
      if (windows != 0 && table.kind[windows] == DbcsTable::kSingle &&
          table.single[windows] == unit) {
        table.encode[unit] = windows;
      }
    } else {
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
  const bool ok = toWide != kNoDescriptor && fromWide != kNoDescriptor &&
                  FillTable(codeset, toWide, fromWide, *table);
  if (toWide != kNoDescriptor) iconv_close(toWide);
  if (fromWide != kNoDescriptor) iconv_close(fromWide);
  if (!ok) table.reset();
  return table;
}

}  // namespace

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

namespace {

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

}  // namespace
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

}  // namespace vx::platform::posix_codepage
