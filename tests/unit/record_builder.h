// Builds service result records in test memory: cubes, grids and their values.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "bridge/service_api.h"

namespace vxtest {

class RecordBuilder {
 public:
  vx::TextList List(const std::vector<const char*>& texts) {
    auto& entries = m_entries.emplace_back(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) entries[i].text = Keep(texts[i]);
    return vx::TextList{entries.empty() ? nullptr : entries.data(),
                        static_cast<std::uint32_t>(texts.size()), 0};
  }

  static vx::ResultVariant Fixed(std::int32_t type, std::uint64_t bits) {
    vx::ResultVariant value{};
    value.type = type;
    std::memcpy(value.value, &bits, sizeof bits);
    return value;
  }

  vx::ResultVariant Text(const char* ansi) {
    vx::ResultVariant value{};
    value.type = vx::kVariantText;
    value.data = Keep(ansi);
    return value;
  }

  vx::ResultVariant Blob(std::int32_t type, const std::string& bytes) {
    vx::ResultVariant value{};
    value.type = type;
    value.data = m_texts.emplace_back(bytes).data();
    value.byteCount = static_cast<std::uint32_t>(bytes.size());
    return value;
  }

  vx::ResultVariant* Values(const std::vector<vx::ResultVariant>& values) {
    return m_values.emplace_back(values).data();
  }

  vx::ResultCube Cube(vx::TextList l1, vx::TextList l2, vx::TextList l3,
                      const std::vector<vx::ResultVariant>& values) {
    return vx::ResultCube{{l1, l2, l3}, values.empty() ? nullptr : Values(values)};
  }

 private:
  const char* Keep(const char* text) {
    if (text == nullptr) return nullptr;
    return m_texts.emplace_back(text).c_str();
  }
  std::deque<std::string> m_texts;
  std::deque<std::vector<vx::TextListEntry>> m_entries;
  std::deque<std::vector<vx::ResultVariant>> m_values;
};

// The payload bytes of an encoding run over a ResultWriter sized by a SizeCounter.
std::vector<unsigned char> EncodeCube(const vx::ResultCube& cube);
std::vector<unsigned char> EncodeGrid(const vx::ResultGrid& grid);

inline std::vector<unsigned char> Bytes(std::initializer_list<int> values) {
  std::vector<unsigned char> out;
  for (int v : values) out.push_back(static_cast<unsigned char>(v));
  return out;
}

}  // namespace vxtest
