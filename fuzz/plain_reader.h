// The second reading the order-list targets check the bridge against: a default-made
// Json::Reader with comments collected, and the shape porder takes.
#pragma once

#include <json/json.h>

#include <exception>
#include <memory>
#include <string>

namespace vx::fuzz {

// The text as a plain Json::Reader reads it; null when it does not parse (a library
// exception, such as a nesting beyond its limit, counts as not parsing).
inline std::unique_ptr<Json::Value> ReadPlainly(const std::string& json) {
  auto root = std::make_unique<Json::Value>();
  try {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    Json::Reader reader;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!reader.parse(json.data(), json.data() + json.size(), *root, true)) return nullptr;
  } catch (const std::exception&) {
    return nullptr;
  }
  return root;
}

// A non-empty array of objects and nulls.
inline bool IsOrderList(const Json::Value& root) {
  if (!root.isArray() || root.empty()) return false;
  for (const Json::Value& element : root) {
    if (!element.isObject() && !element.isNull()) return false;
  }
  return true;
}

}  // namespace vx::fuzz
