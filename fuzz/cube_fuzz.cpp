// Fuzz target: the ResultCube and ResultGrid encodings, run as the serialisers run them.
//
// From each input it builds one ResultCube and one ResultGrid (the grid shares the cube's
// first text list and its values array) and, for each record whose values can be read:
// measures the payload with a SizeCounter, writes it with a ResultWriter into a buffer of
// exactly the measured size, and checks that nothing overflowed, that the written length
// is the measured one, that a buffer one byte short overflows without writing past its
// end, that the named encoders (TextListSize, VariantSize, WriteTextList, WriteVariant)
// give the same size and bytes, and that an independent decoder walks the payload field by
// field against the record and ends exactly at its end. Optionally one bridge allocation
// fails during the two passes; a failure that hits a text must then show as a mismatch.
// The cube also goes through BuildCallbackMessage.
//
// Every record is built as the service library promises (a positive value count comes with
// that many values, a byte count with that many bytes); null pointers appear where the
// encoders must cope with them. Every block is allocated at its exact size, so AddressSanitizer
// sees any read past a text, a byte value, an entry list or the values.
//
// The ANSI code page is LC_CTYPE's codeset: VX_FUZZ_LOCALE names the locale (C, or a
// double-byte code page such as zh_CN.GBK); a locale that cannot be set ends the run.
//
// Input layout; reads past the end give zero bytes:
//   u8 flags     bit 0 the cube's values pointer is null; bit 1 the grid's is;
//                bit 2 grid dimensions are raw int32 (else small, -8 to 8);
//                bit 3 one allocation fails (the next byte n: the (n + 1)th);
//                bit 4 the callback message reports an error code
//   [u8 n]       if bit 3
//   u8 x 3       list counts, each % 64, their product cut to kMaxValues
//   per list     u8 list flags (bit 0: entries pointer null), then, unless null, one text
//                per entry
//   grid dims    bit 2: int32 d1, int32 d2 (a product of 1 to INT32_MAX beyond kMaxValues
//                is folded, % 64 each); else two u8, as int8 % 9
//   values       as many as the larger positive count needs; each: u8 t (bit 7: the type
//                is the next int32, else t % 16), 8 bytes of fixed-width value, then
//                  type 12 or 14: u8 b (0xFF: null data and an int32 byte count; else
//                                 b % 64 bytes follow)
//                  type 13:       one text
//                  other types:   int32 byte count; the data pointer is a bogus address
//                                 that must never be read
//   a text       u8 l: 0xFF null pointer; 0xFE: u8 repeat r, u8 m, then m % 48 bytes
//                repeated r + 1 times; else l % 48 bytes. Cut at the first NUL.
#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/alloc.h"
#include "bridge/service_api.h"
#include "callback/callbacks.h"
#include "fuzz_support.h"
#include "marshal/result_writer.h"
#include "marshal/serialize.h"

#ifndef VX_FUZZ_LOCALE
#define VX_FUZZ_LOCALE "C"
#endif

namespace {

constexpr std::int64_t kMaxValues = 4096;
constexpr std::int64_t kInt32Max = 2147483647;
constexpr std::int64_t kInt32Min = -kInt32Max - 1;

bool g_asciiLocale = false;  // the C locale: every byte from 0x80 up reads as U+FFFD

// ---- Reading the input -------------------------------------------------------------------

class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  std::uint8_t U8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  std::uint32_t U32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(U8()) << (8 * i);
    return value;
  }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

// ---- The records and the blocks behind them ----------------------------------------------

struct Records {
  std::vector<std::unique_ptr<char[]>> texts;
  std::vector<std::unique_ptr<unsigned char[]>> blobs;
  std::unique_ptr<vx::TextListEntry[]> entries[3];
  std::unique_ptr<vx::ResultVariant[]> values;
  vx::ResultCube cube;
  vx::ResultGrid grid;
  bool valuesCountKnown = true;
  std::uint8_t flags = 0;
  int failAt = 0;  // 0: no allocation fails

  // A text at its exact size; null when the input says so.
  const char* ReadText(InputReader& in) {
    const std::uint8_t head = in.U8();
    if (head == 0xFF) return nullptr;
    std::string text;
    if (head == 0xFE) {
      const int repeats = in.U8() + 1;
      std::string unit;
      const int length = in.U8() % 48;
      for (int i = 0; i < length; ++i) unit.push_back(static_cast<char>(in.U8()));
      for (int i = 0; i < repeats; ++i) text += unit;
    } else {
      const int length = head % 48;
      for (int i = 0; i < length; ++i) text.push_back(static_cast<char>(in.U8()));
    }
    text.resize(std::strlen(text.c_str()));  // a C string ends at its first NUL
    std::unique_ptr<char[]> block(new char[text.size() + 1]);
    std::memcpy(block.get(), text.c_str(), text.size() + 1);
    texts.push_back(std::move(block));
    return texts.back().get();
  }

  void ReadValue(InputReader& in, vx::ResultVariant& value) {
    std::memset(&value, 0xA5, sizeof(value));  // the unread fields hold garbage
    const std::uint8_t t = in.U8();
    value.type = (t & 0x80) != 0 ? in.I32() : t % 16;
    for (unsigned char& b : value.value) b = in.U8();
    if (value.type == vx::kVariantBytes || value.type == vx::kVariantBlob) {
      const std::uint8_t head = in.U8();
      if (head == 0xFF) {
        value.data = nullptr;
        value.byteCount = in.U32();
      } else {
        const std::uint32_t count = head % 64;
        std::unique_ptr<unsigned char[]> block(new unsigned char[count]);
        for (std::uint32_t i = 0; i < count; ++i) block[i] = in.U8();
        value.data = block.get();
        value.byteCount = count;
        blobs.push_back(std::move(block));
      }
    } else if (value.type == vx::kVariantText) {
      value.data = ReadText(in);
      value.byteCount = in.U32();
    } else {
      value.data = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(0x10));
      value.byteCount = in.U32();
    }
  }

  void Read(InputReader& in) {
    std::memset(&cube, 0, sizeof(cube));
    std::memset(&grid, 0, sizeof(grid));
    flags = in.U8();
    if ((flags & 0x08) != 0) failAt = in.U8() + 1;

    std::uint32_t counts[3];
    for (std::uint32_t& count : counts) count = in.U8() % 64;
    const std::int64_t front = std::max<std::int64_t>(std::int64_t{counts[0]} * counts[1], 1);
    if (front * counts[2] > kMaxValues) counts[2] = static_cast<std::uint32_t>(kMaxValues / front);

    for (int l = 0; l < 3; ++l) {
      vx::TextList& list = cube.lists[l];
      list.count = counts[l];
      list.reserved = 0xA5A5A5A5u;
      if ((in.U8() & 0x01) != 0) {
        list.entries = nullptr;
        continue;
      }
      entries[l].reset(new vx::TextListEntry[counts[l]]);
      for (std::uint32_t i = 0; i < counts[l]; ++i) {
        entries[l][i].reserved = 0xA5A5A5A5A5A5A5A5u;
        entries[l][i].text = ReadText(in);
      }
      list.entries = entries[l].get();
    }

    if ((flags & 0x04) != 0) {
      grid.d1 = in.I32();
      grid.d2 = in.I32();
      const std::int64_t product = std::int64_t{grid.d1} * grid.d2;
      if (product > kMaxValues && product <= kInt32Max) {
        grid.d1 %= 64;
        grid.d2 %= 64;
      }
    } else {
      grid.d1 = static_cast<std::int8_t>(in.U8()) % 9;
      grid.d2 = static_cast<std::int8_t>(in.U8()) % 9;
    }
    grid.list = cube.lists[0];

    const std::int64_t cubeValues = std::int64_t{counts[0]} * counts[1] * counts[2];
    const std::int64_t gridProduct = std::int64_t{grid.d1} * grid.d2;
    const std::int64_t gridValues = gridProduct <= kMaxValues ? gridProduct : 0;
    const std::int64_t needed = std::max<std::int64_t>({cubeValues, gridValues, 0});
    values.reset(new vx::ResultVariant[static_cast<std::size_t>(needed)]);
    for (std::int64_t i = 0; i < needed; ++i) ReadValue(in, values[i]);
    cube.values = (flags & 0x01) != 0 ? nullptr : values.get();
    grid.values = (flags & 0x02) != 0 ? nullptr : values.get();
  }
};

// ---- The expected UTF-8 of a text, found without the bridge's converter ------------------

bool IsAsciiText(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Well-formed UTF-8: no overlong form, no surrogate, nothing above U+10FFFF.
bool IsWellFormedUtf8(const unsigned char* text, std::size_t length) {
  std::size_t i = 0;
  while (i < length) {
    const unsigned lead = text[i];
    int trail;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    for (int k = 1; k <= trail; ++k) {
      if (i + static_cast<std::size_t>(k) >= length) return false;
      const unsigned byte = text[i + static_cast<std::size_t>(k)];
      if (byte < low || byte > high) return false;
      low = 0x80;
      high = 0xBF;
    }
    i += static_cast<std::size_t>(trail) + 1;
  }
  return true;
}

// The whole text through iconv from the locale's codeset straight to UTF-8; false when
// iconv does not take all of it.
bool IconvToUtf8(const std::string& text, std::string& out) {
  const iconv_t cd = iconv_open("UTF-8", nl_langinfo(CODESET));
  if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) return false;
  std::vector<char> buffer(text.size() * 4 + 16);
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* outPos = buffer.data();
  std::size_t outLeft = buffer.size();
  std::size_t result = iconv(cd, &in, &inLeft, &outPos, &outLeft);
  if (result != static_cast<std::size_t>(-1))
    result = iconv(cd, nullptr, nullptr, &outPos, &outLeft);
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1) || inLeft != 0) return false;
  out.assign(buffer.data(), static_cast<std::size_t>(outPos - buffer.data()));
  return true;
}

// Checks `utf8` (no terminator) as the encoding of the ANSI text `ansi`.
void CheckTextBytes(const char* ansi, const unsigned char* utf8, std::size_t length) {
  VX_FUZZ_CHECK(std::memchr(utf8, 0, length) == nullptr);
  const std::string got(reinterpret_cast<const char*>(utf8), length);
  if (ansi == nullptr) {
    VX_FUZZ_CHECK(got.empty());
    return;
  }
  const std::string source(ansi);
  if (IsAsciiText(source)) {
    VX_FUZZ_CHECK(got == source);
    return;
  }
  VX_FUZZ_CHECK(IsWellFormedUtf8(utf8, length));
  if (g_asciiLocale) {
    std::string expected;
    for (char c : source) {
      if (static_cast<unsigned char>(c) < 0x80) {
        expected.push_back(c);
      } else {
        expected += "\xEF\xBF\xBD";
      }
    }
    VX_FUZZ_CHECK(got == expected);
    return;
  }
  std::string expected;
  if (IconvToUtf8(source, expected)) VX_FUZZ_CHECK(got == expected);
}

// ---- Decoding a payload against its record -----------------------------------------------

class PayloadDecoder {
 public:
  PayloadDecoder(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}

  const unsigned char* Take(std::size_t count) {
    VX_FUZZ_CHECK(count <= m_size - m_pos);
    const unsigned char* at = m_data + m_pos;
    m_pos += count;
    return at;
  }
  std::int32_t I32() {
    const unsigned char* at = Take(4);
    const std::uint32_t value =
        static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
        static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
    return static_cast<std::int32_t>(value);
  }
  bool AtEnd() const { return m_pos == m_size; }

  void Text(const char* ansi) {
    const std::int32_t length = I32();
    VX_FUZZ_CHECK(length >= 1);
    const unsigned char* bytes = Take(static_cast<std::size_t>(length));
    VX_FUZZ_CHECK(bytes[length - 1] == 0);
    CheckTextBytes(ansi, bytes, static_cast<std::size_t>(length - 1));
  }

  void List(const vx::TextList& list) {
    VX_FUZZ_CHECK(static_cast<std::uint32_t>(I32()) == list.count);
    for (std::uint32_t i = 0; i < list.count; ++i) {
      Text(list.entries != nullptr ? list.entries[i].text : nullptr);
    }
  }

  void Value(const vx::ResultVariant& value) {
    static constexpr std::size_t kWidths[12] = {0, 1, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
    const std::int32_t type = value.type;
    const unsigned char tag = *Take(1);
    if (type < 1 || type > 14) {
      // Alone: the low byte, unless that byte is a type with a body (then 0).
      const int low = type & 0xFF;
      VX_FUZZ_CHECK(tag == (low >= 1 && low <= 14 ? 0 : low));
      return;
    }
    VX_FUZZ_CHECK(tag == (type == vx::kVariantText ? vx::kVariantBlob : type));
    if (type <= 11) {
      const std::size_t width = kWidths[type];
      VX_FUZZ_CHECK(std::memcmp(Take(width), value.value, width) == 0);
    } else if (type == vx::kVariantText) {
      Text(static_cast<const char*>(value.data));
    } else {
      const std::int32_t length = I32();
      const std::uint32_t expected = value.data != nullptr ? value.byteCount : 0;
      VX_FUZZ_CHECK(static_cast<std::uint32_t>(length) == expected);
      const unsigned char* bytes = Take(expected);
      VX_FUZZ_CHECK(expected == 0 || std::memcmp(bytes, value.data, expected) == 0);
    }
  }

  void Values(std::int64_t count, const vx::ResultVariant* values) {
    VX_FUZZ_CHECK(I32() == count);
    for (std::int64_t i = 0; i < count; ++i) Value(values[i]);
  }

 private:
  const unsigned char* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

// The value counts, worked out here: a count of 0 or less reads no value; a count beyond
// INT32_MAX cannot be encoded.
std::int64_t ExpectedCubeCount(const vx::ResultCube& cube) {
  return std::int64_t{cube.lists[0].count} * cube.lists[1].count * cube.lists[2].count;
}

std::int64_t ExpectedGridCount(const vx::ResultGrid& grid) {
  const std::int64_t product = std::int64_t{grid.d1} * grid.d2;
  return product < kInt32Min ? kInt32Min : product;
}

void DecodeCube(const vx::ResultCube& cube, const unsigned char* payload, std::size_t size) {
  PayloadDecoder decoder(payload, size);
  for (const vx::TextList& list : cube.lists) decoder.List(list);
  decoder.Values(ExpectedCubeCount(cube), cube.values);
  VX_FUZZ_CHECK(decoder.AtEnd());
}

void DecodeGrid(const vx::ResultGrid& grid, const unsigned char* payload, std::size_t size) {
  PayloadDecoder decoder(payload, size);
  VX_FUZZ_CHECK(decoder.I32() == grid.d1);
  VX_FUZZ_CHECK(decoder.I32() == grid.d2);
  decoder.List(grid.list);
  decoder.Values(ExpectedGridCount(grid), grid.values);
  VX_FUZZ_CHECK(decoder.AtEnd());
}

// ---- The two passes ------------------------------------------------------------------------

struct CubeEncoding {
  template <typename Sink>
  void operator()(Sink& sink, const vx::ResultCube& cube) const {
    vx::EncodeCubePayload(sink, cube);
  }
  static bool Readable(const vx::ResultCube& cube) { return vx::CubeValuesReadable(cube); }
  static std::int64_t Count(const vx::ResultCube& cube) { return ExpectedCubeCount(cube); }
  static const vx::ResultVariant* Values(const vx::ResultCube& cube) { return cube.values; }
  static void Decode(const vx::ResultCube& cube, const unsigned char* payload, std::size_t size) {
    DecodeCube(cube, payload, size);
  }
  // The payload again, through the named single-field encoders.
  static std::int64_t NamedSize(const vx::ResultCube& cube) {
    std::int64_t size = 4;
    for (const vx::TextList& list : cube.lists) size += vx::TextListSize(list);
    for (std::int64_t i = 0; i < Count(cube); ++i) size += vx::VariantSize(cube.values[i]);
    return size;
  }
  static void NamedWrite(vx::ResultWriter& writer, const vx::ResultCube& cube) {
    for (const vx::TextList& list : cube.lists) vx::WriteTextList(writer, list);
    writer.Int32(static_cast<std::int32_t>(Count(cube)));
    for (std::int64_t i = 0; i < Count(cube); ++i) vx::WriteVariant(writer, cube.values[i]);
  }
};

struct GridEncoding {
  template <typename Sink>
  void operator()(Sink& sink, const vx::ResultGrid& grid) const {
    vx::EncodeGridPayload(sink, grid);
  }
  static bool Readable(const vx::ResultGrid& grid) { return vx::GridValuesReadable(grid); }
  static std::int64_t Count(const vx::ResultGrid& grid) { return ExpectedGridCount(grid); }
  static const vx::ResultVariant* Values(const vx::ResultGrid& grid) { return grid.values; }
  static void Decode(const vx::ResultGrid& grid, const unsigned char* payload, std::size_t size) {
    DecodeGrid(grid, payload, size);
  }
  static std::int64_t NamedSize(const vx::ResultGrid& grid) {
    std::int64_t size = 12 + vx::TextListSize(grid.list);
    for (std::int64_t i = 0; i < Count(grid); ++i) size += vx::VariantSize(grid.values[i]);
    return size;
  }
  static void NamedWrite(vx::ResultWriter& writer, const vx::ResultGrid& grid) {
    writer.Int32(grid.d1);
    writer.Int32(grid.d2);
    vx::WriteTextList(writer, grid.list);
    writer.Int32(static_cast<std::int32_t>(Count(grid)));
    for (std::int64_t i = 0; i < Count(grid); ++i) vx::WriteVariant(writer, grid.values[i]);
  }
};

std::unique_ptr<unsigned char[]> NewBlock(std::int64_t size) {
  return std::unique_ptr<unsigned char[]>(new unsigned char[static_cast<std::size_t>(size)]);
}

// Measuring and writing with the (failAt)th bridge allocation failing: a failure that
// happens shortens one text in one pass, and the serialiser must see the mismatch.
template <typename Record, typename Encoding>
void CheckWithFailure(const Record& record, Encoding encode, int failAt) {
  const std::uint64_t before = vx::testing::AllocationCount();
  vx::testing::FailAllocationAfter(static_cast<std::uint64_t>(failAt));
  vx::SizeCounter counter;
  encode(counter, record);
  const std::int64_t measured = counter.size();
  bool mismatch = true;
  if (measured <= vx::kMaxReplyBytes - vx::kResultHeaderSize) {
    std::unique_ptr<unsigned char[]> payload = NewBlock(measured);
    vx::ResultWriter writer(payload.get(), payload.get() + measured);
    encode(writer, record);
    VX_FUZZ_CHECK(writer.Written() <= measured);
    mismatch = writer.Overflowed() || writer.Written() != measured;
  }
  vx::testing::FailAllocationAfter(0);
  const bool failed = vx::testing::AllocationCount() - before >= static_cast<std::uint64_t>(failAt);
  if (failed) VX_FUZZ_CHECK(mismatch);
}

template <typename Record, typename Encoding>
void CheckRecord(const Record& record, Encoding encode, int failAt) {
  const std::int64_t count = Encoding::Count(record);
  const bool readable = Encoding::Values(record) != nullptr || count <= 0;
  VX_FUZZ_CHECK(Encoding::Readable(record) == readable);
  if (!readable) return;  // the serialiser answers 10000007 without encoding

  if (failAt != 0) CheckWithFailure(record, encode, failAt);

  vx::SizeCounter counter;
  encode(counter, record);
  const std::int64_t measured = counter.size();
  if (count > kInt32Max) {
    // Too many values for an int32 count: too large for any reply.
    VX_FUZZ_CHECK(measured > vx::kMaxReplyBytes - vx::kResultHeaderSize);
    return;
  }
  VX_FUZZ_CHECK(measured >= 16 && measured <= 64 * 1024 * 1024);

  std::unique_ptr<unsigned char[]> payload = NewBlock(measured);
  vx::ResultWriter writer(payload.get(), payload.get() + measured);
  encode(writer, record);
  VX_FUZZ_CHECK(!writer.Overflowed());
  VX_FUZZ_CHECK(writer.Written() == measured);
  Encoding::Decode(record, payload.get(), static_cast<std::size_t>(measured));

  // One byte short: the writer stops at the end and reports it.
  std::unique_ptr<unsigned char[]> shortBlock = NewBlock(measured - 1);
  vx::ResultWriter shortWriter(shortBlock.get(), shortBlock.get() + measured - 1);
  encode(shortWriter, record);
  VX_FUZZ_CHECK(shortWriter.Overflowed());
  VX_FUZZ_CHECK(shortWriter.Written() < measured);

  // The named encoders agree with the payload encoding, in size and in every byte.
  VX_FUZZ_CHECK(Encoding::NamedSize(record) == measured);
  std::unique_ptr<unsigned char[]> named = NewBlock(measured);
  vx::ResultWriter namedWriter(named.get(), named.get() + measured);
  Encoding::NamedWrite(namedWriter, record);
  VX_FUZZ_CHECK(!namedWriter.Overflowed() && namedWriter.Written() == measured);
  VX_FUZZ_CHECK(std::memcmp(named.get(), payload.get(), static_cast<std::size_t>(measured)) == 0);
}

// The callback message path over the same cube, without a JNIEnv (no array is made; the
// whole encoding still runs), and the lines it logs.
void CheckCallbackMessage(vx::ResultCube& cube, bool reportError) {
  vx::VXMSG message;
  std::memset(&message, 0, sizeof(message));
  message.word1 = 1;
  message.errorCode = reportError ? 7 : 0;
  message.data = &cube;
  vx::fuzz::TakeLogLines();
  VX_FUZZ_CHECK(vx::BuildCallbackMessage(nullptr, &message) == nullptr);
  const std::vector<std::string> lines = vx::fuzz::TakeLogLines();
  const bool noValues = cube.values == nullptr && ExpectedCubeCount(cube) > 0;
  if (reportError || !noValues) {
    VX_FUZZ_CHECK(lines.empty());
  } else {
    VX_FUZZ_CHECK(lines.size() == 1);
    VX_FUZZ_CHECK(vx::fuzz::EndsWith(lines[0], "]:assert false int java wraper. \n"));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  if (std::setlocale(LC_CTYPE, VX_FUZZ_LOCALE) == nullptr) {
    std::fprintf(stderr,
                 "cube_fuzz: locale %s is missing (scripts/make-test-locales.sh builds it)\n",
                 VX_FUZZ_LOCALE);
    std::abort();
  }
  const char* codeset = nl_langinfo(CODESET);
  g_asciiLocale = std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
  std::fprintf(stderr, "cube_fuzz: LC_CTYPE %s, codeset %s\n", VX_FUZZ_LOCALE, codeset);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputReader in(data, size);
  Records records;
  records.Read(in);

  CheckRecord(records.cube, CubeEncoding{}, records.failAt);
  CheckRecord(records.grid, GridEncoding{}, records.failAt);
  CheckCallbackMessage(records.cube, (records.flags & 0x10) != 0);
  vx::fuzz::TakeLogLines();
  return 0;
}
