#include "marshal/result_writer.h"

namespace vx {

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
