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

// The UTF-8 form of an ANSI text (null: empty). ASCII text is used in place, without a
// conversion or an allocation; other text is converted, and a failed conversion gives
// empty text.
class Utf8Text {
 public:
  explicit Utf8Text(const char* ansi);
  Utf8Text(const Utf8Text&) = delete;
  Utf8Text& operator=(const Utf8Text&) = delete;
  const char* data() const { return m_data; }
  std::size_t size() const { return m_size; }

 private:
  std::string m_converted;
  const char* m_data;
  std::size_t m_size;
};

// ---- Sinks -------------------------------------------------------------------------------

// Measures an encoding. Stops counting once the size can no longer fit in a reply.
class SizeCounter {
 public:
  void Bytes(const void* /*bytes*/, std::size_t count) { Add(static_cast<std::int64_t>(count)); }
  void Byte(unsigned char /*value*/) { Add(1); }
  void Int32(std::int32_t /*value*/) { Add(4); }
  void Text(const char* ansi);
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
  void Text(const char* ansi);

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

template <typename Sink>
void EncodeVariant(Sink& sink, const ResultVariant& value) {
  const std::int32_t type = value.type;
  if (type == kVariantText) {
    sink.Byte(static_cast<unsigned char>(kVariantBlob));
    sink.Text(static_cast<const char*>(value.data));
    return;
  }
  sink.Byte(static_cast<unsigned char>(type & 0xFF));
  if (type < 1 || type > 14) return;
  if (type == kVariantBytes || type == kVariantBlob) {
    // A null pointer cannot back a non-zero count: it is sent as no bytes at all.
    const std::uint32_t count = value.data != nullptr ? value.byteCount : 0;
    sink.Int32(static_cast<std::int32_t>(count));
    sink.Bytes(value.data, count);
    return;
  }
  sink.Bytes(value.value, FixedWidth(type));
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
  for (std::int64_t i = 0; i < count && !sink.Stopped(); ++i) EncodeVariant(sink, values[i]);
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
