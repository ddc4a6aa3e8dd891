// The JSON order list of porder, read into one zero-filled array of OrderInfo records.
#pragma once

#include <cstdint>
#include <string>

#include "base/alloc.h"
#include "bridge/service_api.h"

namespace Json {
class Value;
}  // namespace Json

namespace vx {

// Owns the records for the length of one call.
class OrderArray {
 public:
  OrderInfo* data() const { return m_records.get(); }
  std::int32_t size() const { return m_count; }

 private:
  friend std::int32_t BuildOrderArray(const std::string& json, OrderArray& orders);
  BridgeOwned<OrderInfo[]> m_records;
  std::int32_t m_count = 0;
};

// Parses `json` (UTF-8) and fills `orders`, each text member converted to the ANSI code
// page as it fills its field. Returns 0, or the code to answer (10000004 unparsable or
// unconvertible, 10003003 not a non-empty array of objects, 10000003 no memory) after
// logging its line, which shows the list in the ANSI code page. `orders` is left empty on
// failure.
std::int32_t BuildOrderArray(const std::string& json, OrderArray& orders);

// The parse of BuildOrderArray alone: `json` read into `root` exactly as a default-made
// Json::Reader reads it, comments collected. False when the text does not parse; throws
// what the library throws (a nesting beyond its limit).
bool ParseOrderList(const std::string& json, Json::Value& root);

}  // namespace vx
