#include "marshal/orders.h"

#include <json/json.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>

#include "log/log_lines.h"
#include "marshal/alloc.h"
#include "marshal/serialize.h"

namespace vx {

namespace {

constexpr std::size_t kCodeCopyLimit = 19;

// A conversion the JSON library accepts but the field cannot hold.
struct FieldOutOfRange : std::exception {};

float ToFloat(const Json::Value& value) {
  const double wide = value.asDouble();
  if (std::isfinite(wide) &&
      std::fabs(wide) > static_cast<double>(std::numeric_limits<float>::max())) {
    throw FieldOutOfRange();
  }
  return value.asFloat();
}

void FillRecord(const Json::Value& element, OrderInfo& record) {
  const std::string code = element.get("code", "").asString();
  std::memcpy(record.code, code.data(),
              code.size() < kCodeCopyLimit ? code.size() : kCodeCopyLimit);
  record.volume = element.get("volume", 0.0).asDouble();
  record.price = ToFloat(element.get("price", 0.0));
  record.date = element.get("date", 0).asInt();
  record.time = element.get("time", 0).asInt();
  record.optype = element.get("optype", 0).asInt();
  record.cost = ToFloat(element.get("cost", 0.0));
  record.rate = ToFloat(element.get("rate", 0.0));
  record.reserve = element.get("reserve", 0).asInt();
}

bool Parse(const std::string& json, Json::Value& root) {
  Json::CharReaderBuilder builder;
  builder["collectComments"] = true;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  const char* begin = json.data();
  return reader->parse(begin, begin + json.size(), &root, nullptr);
}

}  // namespace

OrderArray::~OrderArray() { BridgeFree(m_records); }

std::int32_t BuildOrderArray(const std::string& json, OrderArray& orders) {
  try {
    Json::Value root;
    if (!Parse(json, root)) {
      logline::JsonParseError(json.c_str());
      return kCodeBadJson;
    }
    if (!root.isArray() || root.empty() || root.size() > static_cast<Json::ArrayIndex>(INT32_MAX)) {
      logline::JsonParamError(json.c_str());
      return kCodeBadOrderList;
    }
    // Every element must be an object (or null, read as all defaults).
    for (const Json::Value& element : root) {
      if (!element.isObject() && !element.isNull()) {
        logline::JsonParamError(json.c_str());
        return kCodeBadOrderList;
      }
    }
    const auto count = static_cast<std::int32_t>(root.size());
    auto* records =
        static_cast<OrderInfo*>(BridgeAlloc(sizeof(OrderInfo) * static_cast<std::size_t>(count)));
    if (records == nullptr) {
      logline::OrderAllocFail(count);
      return kCodeOutOfMemory;
    }
    try {
      OrderInfo* record = records;
      for (const Json::Value& element : root) FillRecord(element, *record++);
    } catch (...) {
      BridgeFree(records);
      throw;
    }
    orders.m_records = records;
    orders.m_count = count;
    return 0;
  } catch (...) {
    // An unconvertible member, a number too large for its field, or no memory inside the
    // JSON library: the service is not called.
    logline::JsonParseError(json.c_str());
    return kCodeBadJson;
  }
}

}  // namespace vx
