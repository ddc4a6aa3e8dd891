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

#include "base/byte_order.h"
#include "bridge/service_api.h"
#include "platform/ascii.h"
#include "text/ansi_to_utf8.h"

namespace vx {

// The largest reply a Java byte[] can hold.
constexpr std::int64_t kMaxReplyBytes = 2147483647;

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
  // A null text is empty.
  void Text(const char* ansi) {
    const std::size_t size = ansi == nullptr ? 0 : m_texts.Measure(ansi, ScanText(ansi));
    Add(4 + static_cast<std::int64_t>(size) + 1);
  }
  bool Stopped() const { return m_size > kMaxReplyBytes; }
  void MarkTooLarge() { m_size = kMaxReplyBytes + 1; }
  std::int64_t size() const { return m_size; }

 private:
  void Add(std::int64_t count) { m_size += count; }
  std::int64_t m_size = 0;
  AnsiToUtf8Converter m_texts;
};

// A write position into a payload, with the payload's start and end. A write that would
// pass the end writes nothing and marks the writer overflowed.
//
// What a text that needs scratch memory to be converted does is fixed by the type: it is
// converted (ResultWriter), or it counts as not fitting (StackResultWriter: a trial write
// into a block on the stack, which falls back to a measured buffer when it overflows). A
// type, not a flag: the writer in the encoders' loops holds its positions and converter only.
template <bool kScratchTexts>
class BasicResultWriter {
 public:
  BasicResultWriter(unsigned char* start, unsigned char* end)
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
      default:  // no such width: the bytes are still written
        std::memset(m_pos + 1, 0, width);
        break;
    }
    m_pos += 1 + width;
  }
  // Length field, UTF-8 bytes and NUL, with one bounds check; a null text is empty. The
  // bytes are written in place by the converter's write step.
  void Text(const char* ansi) {
    if (ansi == nullptr) ansi = "";
    const TextScan scan = ScanText(ansi);
    if (!Room(4 + 1)) return;
    unsigned char* const body = m_pos + 4;
    // Room for the bytes, with the NUL kept back; a length field holds no more.
    std::size_t room = static_cast<std::size_t>(m_end - body) - 1;
    if (room >= static_cast<std::size_t>(INT32_MAX)) room = INT32_MAX - 1;
    const std::size_t size = AnsiToUtf8Converter::Copies(scan)
                                 ? AnsiToUtf8Converter::Copy(ansi, scan, body, room)
                                 : Converted(ansi, scan, body, room);
    if (size > room) {
      m_overflowed = true;
      return;
    }
    StoreLE32(m_pos, static_cast<std::uint32_t>(size + 1));
    body[size] = 0;
    m_pos = body + size + 1;
  }

  bool Stopped() const { return m_overflowed; }
  void MarkTooLarge() { m_overflowed = true; }
  bool Overflowed() const { return m_overflowed; }
  std::int64_t Written() const { return m_pos - m_start; }

 private:
  std::size_t Converted(const char* ansi, TextScan scan, unsigned char* body, std::size_t room) {
    return kScratchTexts ? m_texts.Write(ansi, scan, body, room)
                         : m_texts.WriteWithoutScratch(ansi, scan, body, room);
  }

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
  AnsiToUtf8Converter m_texts;
};

using ResultWriter = BasicResultWriter<true>;
using StackResultWriter = BasicResultWriter<false>;

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

// The tag of a type outside 1 to 14, which goes out alone: its low byte, or 0 when that
// byte would read as a type with a body (262 would otherwise be tag 6, and every reader
// would take the next four bytes as its value).
inline unsigned char AloneTag(std::int32_t type) {
  const auto low = static_cast<unsigned char>(type & 0xFF);
  return (low >= 1 && low <= 14) ? 0 : low;
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
  if (type == kVariantBytes || type == kVariantBlob) {
    sink.Byte(static_cast<unsigned char>(type));
    // A null pointer cannot back a non-zero count: it is sent as no bytes at all.
    const std::uint32_t count = value.data != nullptr ? value.byteCount : 0;
    sink.Int32(static_cast<std::int32_t>(count));
    sink.Bytes(value.data, count);
    return;
  }
  sink.Byte(AloneTag(type));
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

// Long runs of texts or values are encoded through a local copy of the sink, which the
// compiler keeps in registers; for a few the copy in and out costs more than it saves (the
// copies are stored and loaded in pieces of different sizes).
constexpr std::int64_t kCopySinkFrom = 8;

template <typename Sink>
void EncodeTextList(Sink& sink, const TextList& list) {
  sink.Int32(static_cast<std::int32_t>(list.count));
  if (list.entries == nullptr) {
    for (std::uint32_t i = 0; i < list.count && !sink.Stopped(); ++i) sink.Text(nullptr);
    return;
  }
  if (list.count < kCopySinkFrom) {
    for (std::uint32_t i = 0; i < list.count && !sink.Stopped(); ++i) {
      sink.Text(list.entries[i].text);
    }
    return;
  }
  Sink local = sink;  // kept in registers, as in EncodeValues
  for (std::uint32_t i = 0; i < list.count && !local.Stopped(); ++i) {
    local.Text(list.entries[i].text);
  }
  sink = local;
}

template <typename Sink>
void EncodeValues(Sink& sink, std::int64_t count, const ResultVariant* values) {
  if (count >= kTooManyValues) {
    sink.MarkTooLarge();
    return;
  }
  sink.Int32(static_cast<std::int32_t>(count));
  if (count < kCopySinkFrom) {
    for (std::int64_t i = 0; i < count && !sink.Stopped(); ++i) EncodeVariant(sink, values[i]);
    return;
  }
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
