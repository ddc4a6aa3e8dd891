// Encodings of the service's result records into the little-endian payload Java decodes.
//
// Each field is described once, in the Encode* templates below; the measuring pass runs
// them over a SizeCounter and the writing pass over a ResultWriter, so the two passes
// cannot disagree about the layout. They can only disagree about a text whose conversion
// succeeds in one pass and fails in the other; the writer's bounds check and the final
// length check turn that into the mismatch reply.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "bridge/service_api.h"
#include "marshal/text.h"

namespace vx {

// The largest reply a Java byte[] can hold.
constexpr std::int64_t kMaxReplyBytes = 2147483647;

// ---- Little-endian stores ----------------------------------------------------------------

inline void StoreLE32(unsigned char* at, std::uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
  at[2] = static_cast<unsigned char>(value >> 16);
  at[3] = static_cast<unsigned char>(value >> 24);
}

inline void StoreLE64(unsigned char* at, std::uint64_t value) {
  StoreLE32(at, static_cast<std::uint32_t>(value));
  StoreLE32(at + 4, static_cast<std::uint32_t>(value >> 32));
}

// ---- One text, as UTF-8 ------------------------------------------------------------------

// Length of a NUL-terminated text and whether all of it is ASCII, in one scan for the
// short texts records mostly hold; longer ones go on with strlen and IsAscii.
struct TextScan {
  std::size_t length;
  bool ascii;
};
inline TextScan ScanText(const char* text) {
  constexpr std::size_t kShortText = 16;
  unsigned bits = 0;
  for (std::size_t i = 0; i < kShortText; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == 0) return TextScan{i, bits < 0x80};
    bits |= byte;
  }
  const std::size_t length = kShortText + std::strlen(text + kShortText);
  return TextScan{length, bits < 0x80 && IsAscii(text + kShortText, length - kShortText)};
}

// The UTF-8 form of an ANSI text (null: empty). ASCII text is used in place, without a
// conversion or an allocation; other text is converted, and a failed conversion gives
// empty text.
class Utf8Text {
 public:
  explicit Utf8Text(const char* ansi) {
    if (ansi == nullptr) return;
    const TextScan scan = ScanText(ansi);
    if (scan.ascii) {
      m_data = ansi;
      m_size = scan.length;
    } else {
      Convert(ansi);
    }
  }
  Utf8Text(const Utf8Text&) = delete;
  Utf8Text& operator=(const Utf8Text&) = delete;
  const char* data() const { return m_data; }
  std::size_t size() const { return m_size; }

 private:
  void Convert(const char* ansi);
  std::string m_converted;
  const char* m_data = "";
  std::size_t m_size = 0;
};

// ---- Sinks -------------------------------------------------------------------------------

// Measures an encoding. Stops counting once the size can no longer fit in a reply.
class SizeCounter {
 public:
  void Bytes(const void* /*bytes*/, std::size_t count) { Add(static_cast<std::int64_t>(count)); }
  void Byte(unsigned char /*value*/) { Add(1); }
  void Int32(std::int32_t /*value*/) { Add(4); }
  void Fixed(unsigned char /*tag*/, const unsigned char* /*body*/, std::size_t width) {
    Add(1 + static_cast<std::int64_t>(width));
  }
  void Text(const char* ansi) {
    const Utf8Text text(ansi);
    Add(4 + static_cast<std::int64_t>(text.size()) + 1);
  }
  bool Stopped() const { return m_size > kMaxReplyBytes; }
  void MarkTooLarge() { m_size = kMaxReplyBytes + 1; }
  std::int64_t size() const { return m_size; }

 private:
  void Add(std::int64_t count) { m_size += count; }
  std::int64_t m_size = 0;
};

// A write position into a payload, with the payload's start and end. A write that would
// pass the end writes nothing and marks the writer overflowed.
class ResultWriter {
 public:
  ResultWriter(unsigned char* start, unsigned char* end)
      : m_start(start), m_pos(start), m_end(end) {}

  void Bytes(const void* bytes, std::size_t count) {
    if (!Room(count)) return;
    if (count != 0) std::memcpy(m_pos, bytes, count);
    m_pos += count;
  }
  void Byte(unsigned char value) {
    if (!Room(1)) return;
    *m_pos++ = value;
  }
  void Int32(std::int32_t value) {
    if (!Room(4)) return;
    StoreLE32(m_pos, static_cast<std::uint32_t>(value));
    m_pos += 4;
  }
  // A tag byte and a body of 0, 1, 2, 4 or 8 bytes, with one bounds check. Each width is
  // copied with a constant size, which the compiler turns into a single load and store.
  void Fixed(unsigned char tag, const unsigned char* body, std::size_t width) {
    if (!Room(1 + width)) return;
    m_pos[0] = tag;
    switch (width) {
      case 1:
        std::memcpy(m_pos + 1, body, 1);
        break;
      case 2:
        std::memcpy(m_pos + 1, body, 2);
        break;
      case 4:
        std::memcpy(m_pos + 1, body, 4);
        break;
      case 8:
        std::memcpy(m_pos + 1, body, 8);
        break;
      default:
        break;
    }
    m_pos += 1 + width;
  }
  // Length field, UTF-8 bytes and NUL, with one bounds check.
  void Text(const char* ansi) {
    const Utf8Text text(ansi);
    const std::size_t size = text.size();
    if (size >= static_cast<std::size_t>(INT32_MAX) || !Room(4 + size + 1)) {
      m_overflowed = true;
      return;
    }
    StoreLE32(m_pos, static_cast<std::uint32_t>(size + 1));
    std::memcpy(m_pos + 4, text.data(), size);
    m_pos[4 + size] = 0;
    m_pos += 4 + size + 1;
  }

  bool Stopped() const { return m_overflowed; }
  void MarkTooLarge() { m_overflowed = true; }
  bool Overflowed() const { return m_overflowed; }
  std::int64_t Written() const { return m_pos - m_start; }

 private:
  bool Room(std::size_t count) {
    if (m_overflowed || count > static_cast<std::size_t>(m_end - m_pos)) {
      m_overflowed = true;
      return false;
    }
    return true;
  }
  unsigned char* m_start;
  unsigned char* m_pos;
  unsigned char* m_end;
  bool m_overflowed = false;
};

// ---- Value counts --------------------------------------------------------------------------

// K3 x K2 x K1 (cube) or d2 x d1 (grid), computed wide, so it never overflows. A count
// above INT32_MAX cannot be encoded and makes the reply too large (every value takes at
// least a byte); any count above that is reported as INT32_MAX + 1. A grid product below
// INT32_MIN is clamped to INT32_MIN. A count of 0 or less reads no value.
constexpr std::int64_t kTooManyValues = static_cast<std::int64_t>(INT32_MAX) + 1;
std::int64_t CubeValueCount(const ResultCube& cube);
std::int64_t GridValueCount(const ResultGrid& grid);

// ---- The encodings -----------------------------------------------------------------------

// Fixed width of a value type's body (1 to 11), 0 for the others.
inline std::size_t FixedWidth(std::int32_t type) {
  static constexpr unsigned char kWidths[12] = {0, 1, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
  return (type >= 1 && type <= 11) ? kWidths[type] : 0;
}

// Types 0 and 12 and up: a text, a counted run of bytes, or the tag alone.
template <typename Sink>
void EncodeOtherVariant(Sink& sink, const ResultVariant& value) {
  const std::int32_t type = value.type;
  if (type == kVariantText) {
    sink.Byte(static_cast<unsigned char>(kVariantBlob));
    sink.Text(static_cast<const char*>(value.data));
    return;
  }
  sink.Byte(static_cast<unsigned char>(type & 0xFF));
  if (type == kVariantBytes || type == kVariantBlob) {
    // A null pointer cannot back a non-zero count: it is sent as no bytes at all.
    const std::uint32_t count = value.data != nullptr ? value.byteCount : 0;
    sink.Int32(static_cast<std::int32_t>(count));
    sink.Bytes(value.data, count);
  }
}

template <typename Sink>
void EncodeVariant(Sink& sink, const ResultVariant& value) {
  const std::int32_t type = value.type;
  if (type >= 1 && type <= 11) {
    sink.Fixed(static_cast<unsigned char>(type), value.value, FixedWidth(type));
  } else {
    EncodeOtherVariant(sink, value);
  }
}

template <typename Sink>
void EncodeTextList(Sink& sink, const TextList& list) {
  sink.Int32(static_cast<std::int32_t>(list.count));
  for (std::uint32_t i = 0; i < list.count && !sink.Stopped(); ++i) {
    sink.Text(list.entries != nullptr ? list.entries[i].text : nullptr);
  }
}

template <typename Sink>
void EncodeValues(Sink& sink, std::int64_t count, const ResultVariant* values) {
  if (count >= kTooManyValues) {
    sink.MarkTooLarge();
    return;
  }
  sink.Int32(static_cast<std::int32_t>(count));
  // The loop runs on a local copy of the sink: nothing else can reach it, so the compiler
  // keeps its state in registers instead of reloading it after every byte stored (a store
  // through unsigned char* may alias anything reachable).
  Sink local = sink;
  for (std::int64_t i = 0; i < count && !local.Stopped(); ++i) EncodeVariant(local, values[i]);
  sink = local;
}

template <typename Sink>
void EncodeCubePayload(Sink& sink, const ResultCube& cube) {
  for (const TextList& list : cube.lists) EncodeTextList(sink, list);
  EncodeValues(sink, CubeValueCount(cube), cube.values);
}

template <typename Sink>
void EncodeGridPayload(Sink& sink, const ResultGrid& grid) {
  sink.Int32(grid.d1);
  sink.Int32(grid.d2);
  EncodeTextList(sink, grid.list);
  EncodeValues(sink, GridValueCount(grid), grid.values);
}

// True when the record's values can be read: a positive count needs a values array.
bool CubeValuesReadable(const ResultCube& cube);
bool GridValuesReadable(const ResultGrid& grid);

// The named encoders over single fields.
std::int64_t VariantSize(const ResultVariant& value);
std::int64_t TextListSize(const TextList& list);
void WriteVariant(ResultWriter& writer, const ResultVariant& value);
void WriteTextList(ResultWriter& writer, const TextList& list);

}  // namespace vx
