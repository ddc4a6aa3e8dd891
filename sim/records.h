// Result records as the simulated library builds them: a plain description (RecordModel),
// the memory that materialises one (RecordStorage) and the reverse, a description of a
// record in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/service_api.h"

namespace vx::sim {

// Patterns for the fields the bridge must not read.
constexpr std::uint64_t kUnreadPattern = 0xA5A5A5A5A5A5A5A5ull;
constexpr unsigned char kReleasedByte = 0xDD;

enum class RecordKind { Cube, Grid };

struct ValueModel {
  enum class Data { None, Null, Bytes };

  std::int32_t type = 0;
  unsigned char value[8] = {};
  Data data = Data::None;
  std::string bytes;                   // Data::Bytes
  std::optional<std::uint32_t> count;  // byteCount when given; else the number of bytes
};

using TextModel = std::optional<std::string>;  // nullopt: a null text pointer

struct RecordModel {
  RecordKind kind = RecordKind::Cube;
  bool none = false;                // code 0 without a record
  std::vector<TextModel> lists[3];  // a grid uses lists[0]
  std::int32_t d1 = 0;
  std::int32_t d2 = 0;
  bool valuesNull = false;
  std::vector<ValueModel> values;

  // Values the bridge reads: K1*K2*K3 or d1*d2, 0 when not positive.
  std::int64_t SpannedValues() const;
};

// Builders for the common value shapes.
ValueModel IntValue(std::int32_t type, std::int64_t value);
ValueModel FloatValue(float value);             // type 10
ValueModel DoubleValue(double value);           // type 11
ValueModel TextValue(const std::string& text);  // type 13
ValueModel BytesValue(std::int32_t type, const std::string& bytes);

// The memory of one record. The header (cube or grid) and every buffer it points to stay
// at their addresses for the storage's life.
class RecordStorage {
 public:
  RecordStorage() = default;
  ~RecordStorage();
  RecordStorage(const RecordStorage&) = delete;
  RecordStorage& operator=(const RecordStorage&) = delete;

  RecordKind Kind() const { return m_kind; }
  void* Address();
  // Overwrites the record and everything it owns with kReleasedByte; under
  // AddressSanitizer also marks that memory unaddressable, so a later read is reported.
  void Poison();

 private:
  friend std::unique_ptr<RecordStorage> Build(const RecordModel& model);

  struct CubeBlock {
    ResultCube cube;
    std::uint64_t trailer[2];
  };
  struct GridBlock {
    ResultGrid grid;
    std::uint64_t trailer[2];
  };

  TextList BuildList(int index, const std::vector<TextModel>& texts);
  const void* Keep(const std::string& bytes, std::size_t minimumSize);
  template <typename Action>
  void ForEachRegion(Action action);

  RecordKind m_kind = RecordKind::Cube;
  CubeBlock m_cube{};
  GridBlock m_grid{};
  std::vector<TextListEntry> m_entries[3];
  std::vector<ResultVariant> m_values;
  std::vector<std::vector<char>> m_buffers;
};

// Materialises a model (not a "none" one).
std::unique_ptr<RecordStorage> Build(const RecordModel& model);

// Describes a record in memory in the description language (vxsim.h): the canonical
// form, which parses back into an equal record.
std::string DescribeRecord(const void* record, RecordKind kind);

// Number of texts and values a record in memory carries.
std::uint64_t RecordSize(const void* record, RecordKind kind);

// Quoted form of a text: printable ASCII as is, '"' and '\' as \" and \\, other bytes \xHH.
std::string QuoteText(const std::string& bytes);

}  // namespace vx::sim
