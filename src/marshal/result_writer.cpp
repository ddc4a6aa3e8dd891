#include "marshal/result_writer.h"

#include "text/text.h"

namespace vx {

std::size_t Utf8Texts::LongSize(const char* ansi) {
  std::string utf8;
  AnsiToUtf8(ansi, utf8);  // a failed conversion leaves it empty
  return utf8.size();
}

std::size_t Utf8Texts::Write(const char* ansi, TextScan scan, unsigned char* out,
                             std::size_t capacity) {
  constexpr std::size_t kNoRoom = SIZE_MAX;
  if (!scan.ascii && scan.length <= kStackTextBytes) {
    const std::size_t size =
        m_short.Convert(ansi, scan.length, reinterpret_cast<char*>(out), capacity);
    if (size == ShortAnsiToUtf8::kNoRoom) return kNoRoom;
    if (size != ShortAnsiToUtf8::kUnconverted) return size;
  }
  std::string utf8;
  if (!scan.ascii) AnsiToUtf8(ansi, utf8);  // a failed conversion leaves it empty
  const char* bytes = scan.ascii ? ansi : utf8.data();
  const std::size_t size = scan.ascii ? scan.length : utf8.size();
  if (size > capacity) return kNoRoom;
  std::memcpy(out, bytes, size);
  return size;
}

std::int64_t CubeValueCount(const ResultCube& cube) {
  std::int64_t count = 1;
  for (const TextList& list : cube.lists) {
    if (list.count == 0) return 0;
  }
  for (const TextList& list : cube.lists) {
    count *= static_cast<std::int64_t>(list.count);
    if (count >= kTooManyValues) return kTooManyValues;
  }
  return count;
}

std::int64_t GridValueCount(const ResultGrid& grid) {
  const std::int64_t count = static_cast<std::int64_t>(grid.d2) * grid.d1;
  if (count >= kTooManyValues) return kTooManyValues;
  if (count < INT32_MIN) return INT32_MIN;
  return count;
}

bool CubeValuesReadable(const ResultCube& cube) {
  return cube.values != nullptr || CubeValueCount(cube) <= 0;
}

bool GridValuesReadable(const ResultGrid& grid) {
  return grid.values != nullptr || GridValueCount(grid) <= 0;
}

std::int64_t VariantSize(const ResultVariant& value) {
  SizeCounter counter;
  EncodeVariant(counter, value);
  return counter.size();
}

std::int64_t TextListSize(const TextList& list) {
  SizeCounter counter;
  EncodeTextList(counter, list);
  return counter.size();
}

void WriteVariant(ResultWriter& writer, const ResultVariant& value) {
  EncodeVariant(writer, value);
}
void WriteTextList(ResultWriter& writer, const TextList& list) { EncodeTextList(writer, list); }

}  // namespace vx
