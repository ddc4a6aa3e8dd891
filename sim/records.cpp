#include "records.h"

#include <algorithm>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define VXSIM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VXSIM_ASAN 1
#endif
#endif
#if defined(VXSIM_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace vx::sim {

namespace {

constexpr std::uint32_t kUnread32 = 0xA5A5A5A5u;

void AppendInt(std::string& out, std::int64_t value) { out += std::to_string(value); }

std::int64_t ValueBits(const unsigned char (&value)[8]) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | value[i];
  return static_cast<std::int64_t>(bits);
}

bool IsBytesType(std::int32_t type) { return type == 12 || type == 14; }

std::string DescribeValue(const ResultVariant& value) {
  std::string out;
  AppendInt(out, value.type);
  if (value.data != nullptr) {
    const char* bytes = static_cast<const char*>(value.data);
    const std::size_t length = IsBytesType(value.type) ? value.byteCount : std::strlen(bytes);
    out += ':';
    out += QuoteText(std::string(bytes, length));
    if (value.byteCount != length) out += "/" + std::to_string(value.byteCount);
    return out;
  }
  if (value.byteCount != 0) return out + ":null/" + std::to_string(value.byteCount);
  if (value.type >= 12 && value.type <= 14) return out + ":null";
  const std::int64_t bits = ValueBits(value.value);
  if (bits != 0 || (value.type >= 1 && value.type <= 11)) {
    out += ':';
    AppendInt(out, bits);
  }
  return out;
}

std::string DescribeText(const char* text) {
  return text == nullptr ? std::string("null") : QuoteText(text);
}

// Joins items, folding runs of equal items into "item*N".
std::string JoinRuns(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size();) {
    std::size_t run = 1;
    while (i + run < items.size() && items[i + run] == items[i]) ++run;
    if (!out.empty()) out += ',';
    out += items[i];
    if (run > 1) out += "*" + std::to_string(run);
    i += run;
  }
  return out;
}

std::string DescribeList(const TextList& list) {
  std::vector<std::string> texts;
  texts.reserve(list.count);
  for (std::uint32_t i = 0; i < list.count; ++i)
    texts.push_back(DescribeText(list.entries[i].text));
  return JoinRuns(texts);
}

std::string DescribeValues(const ResultVariant* values, std::int64_t count) {
  if (values == nullptr) return "null";
  std::vector<std::string> items;
  for (std::int64_t i = 0; i < count; ++i) items.push_back(DescribeValue(values[i]));
  return JoinRuns(items);
}

std::int64_t Spanned(std::int64_t a, std::int64_t b, std::int64_t c = 1) {
  // The values the lists span; none when the product is not positive.
  const std::int64_t product = a * b * c;
  return product > 0 ? product : 0;
}

}  // namespace

std::int64_t RecordModel::SpannedValues() const {
  if (kind == RecordKind::Grid) return Spanned(d1, d2);
  return Spanned(static_cast<std::int64_t>(lists[0].size()),
                 static_cast<std::int64_t>(lists[1].size()),
                 static_cast<std::int64_t>(lists[2].size()));
}

ValueModel IntValue(std::int32_t type, std::int64_t value) {
  ValueModel model;
  model.type = type;
  const auto bits = static_cast<std::uint64_t>(value);
  for (int i = 0; i < 8; ++i) model.value[i] = static_cast<unsigned char>(bits >> (8 * i));
  return model;
}

ValueModel FloatValue(float value) {
  ValueModel model;
  model.type = 10;
  std::memcpy(model.value, &value, sizeof value);
  return model;
}

ValueModel DoubleValue(double value) {
  ValueModel model;
  model.type = 11;
  std::memcpy(model.value, &value, sizeof value);
  return model;
}

ValueModel TextValue(const std::string& text) { return BytesValue(13, text); }

ValueModel BytesValue(std::int32_t type, const std::string& bytes) {
  ValueModel model;
  model.type = type;
  model.data = ValueModel::Data::Bytes;
  model.bytes = bytes;
  return model;
}

void* RecordStorage::Address() {
  return m_kind == RecordKind::Cube ? static_cast<void*>(&m_cube.cube)
                                    : static_cast<void*>(&m_grid.grid);
}

template <typename Action>
void RecordStorage::ForEachRegion(Action action) {
  action(&m_cube, sizeof m_cube);
  action(&m_grid, sizeof m_grid);
  for (auto& entries : m_entries) action(entries.data(), entries.size() * sizeof(TextListEntry));
  action(m_values.data(), m_values.size() * sizeof(ResultVariant));
  for (auto& buffer : m_buffers) action(buffer.data(), buffer.size());
}

void RecordStorage::Poison() {
  ForEachRegion([](void* region, std::size_t size) {
    if (size == 0) return;
    std::memset(region, kReleasedByte, size);
#if defined(VXSIM_ASAN)
    ASAN_POISON_MEMORY_REGION(region, size);
#endif
  });
}

RecordStorage::~RecordStorage() {
#if defined(VXSIM_ASAN)
  ForEachRegion([](void* region, std::size_t size) {
    if (size != 0) ASAN_UNPOISON_MEMORY_REGION(region, size);
  });
#endif
}

const void* RecordStorage::Keep(const std::string& bytes, std::size_t minimumSize) {
  std::vector<char>& buffer = m_buffers.emplace_back(std::max(bytes.size() + 1, minimumSize), '\0');
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  return buffer.data();
}

TextList RecordStorage::BuildList(int index, const std::vector<TextModel>& texts) {
  std::vector<TextListEntry>& entries = m_entries[index];
  entries.resize(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    entries[i].text = texts[i] ? static_cast<const char*>(Keep(*texts[i], 0)) : nullptr;
    entries[i].reserved = kUnreadPattern;
  }
  TextList list{};
  list.entries = entries.empty() ? nullptr : entries.data();
  list.count = static_cast<std::uint32_t>(entries.size());
  list.reserved = kUnread32;
  return list;
}

std::unique_ptr<RecordStorage> Build(const RecordModel& model) {
  auto storage = std::make_unique<RecordStorage>();
  storage->m_kind = model.kind;
  std::memset(&storage->m_cube, 0xA5, sizeof storage->m_cube);
  std::memset(&storage->m_grid, 0xA5, sizeof storage->m_grid);

  ResultVariant* values = nullptr;
  if (!model.valuesNull) {
    // Never an empty vector: "V=" with no values is still a non-null pointer.
    storage->m_values.resize(std::max<std::size_t>(model.values.size(), 1));
    for (std::size_t i = 0; i < storage->m_values.size(); ++i) {
      ResultVariant& out = storage->m_values[i];
      out = ResultVariant{};
      out.reserved0 = static_cast<std::int32_t>(kUnread32);
      out.reserved1 = kUnread32;
      if (i >= model.values.size()) continue;
      const ValueModel& in = model.values[i];
      out.type = in.type;
      std::memcpy(out.value, in.value, sizeof out.value);
      if (in.data == ValueModel::Data::Bytes) {
        out.data = storage->Keep(in.bytes, in.count.value_or(0));
        out.byteCount = in.count.value_or(static_cast<std::uint32_t>(in.bytes.size()));
      } else {
        out.data = nullptr;
        out.byteCount = in.count.value_or(0);
      }
    }
    values = storage->m_values.data();
  }

  if (model.kind == RecordKind::Cube) {
    ResultCube& cube = storage->m_cube.cube;
    for (int i = 0; i < 3; ++i) cube.lists[i] = storage->BuildList(i, model.lists[i]);
    cube.values = values;
  } else {
    ResultGrid& grid = storage->m_grid.grid;
    grid.d1 = model.d1;
    grid.d2 = model.d2;
    grid.list = storage->BuildList(0, model.lists[0]);
    grid.values = values;
  }
  return storage;
}

std::string DescribeRecord(const void* record, RecordKind kind) {
  if (record == nullptr) return "none";
  std::string out;
  if (kind == RecordKind::Cube) {
    const auto& cube = *static_cast<const ResultCube*>(record);
    for (int i = 0; i < 3; ++i) {
      out += "L" + std::to_string(i + 1) + "=" + DescribeList(cube.lists[i]) + ";";
    }
    out += "V=" + DescribeValues(cube.values, Spanned(cube.lists[0].count, cube.lists[1].count,
                                                      cube.lists[2].count));
  } else {
    const auto& grid = *static_cast<const ResultGrid*>(record);
    out += "D1=" + std::to_string(grid.d1) + ";D2=" + std::to_string(grid.d2) + ";";
    out += "L=" + DescribeList(grid.list) + ";";
    out += "V=" + DescribeValues(grid.values, Spanned(grid.d1, grid.d2));
  }
  return out;
}

std::uint64_t RecordSize(const void* record, RecordKind kind) {
  if (record == nullptr) return 0;
  if (kind == RecordKind::Cube) {
    const auto& cube = *static_cast<const ResultCube*>(record);
    return std::uint64_t{cube.lists[0].count} + cube.lists[1].count + cube.lists[2].count +
           static_cast<std::uint64_t>(
               Spanned(cube.lists[0].count, cube.lists[1].count, cube.lists[2].count));
  }
  const auto& grid = *static_cast<const ResultGrid*>(record);
  return std::uint64_t{grid.list.count} + static_cast<std::uint64_t>(Spanned(grid.d1, grid.d2));
}

std::string QuoteText(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out + "\"";
}

}  // namespace vx::sim
