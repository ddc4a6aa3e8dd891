#include "marshal/orders.h"

#include <json/json.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "base/alloc.h"
#include "log/log_lines.h"
#include "marshal/serialize.h"
#include "platform/platform.h"
#include "text/text.h"

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

// UTF-8 text (which may hold U+0000 from a \u0000 escape) in the ANSI code page, NULs
// kept where they are. ASCII text, and any text in a UTF-8 code page, is already that.
std::string ToAnsi(const std::string& utf8) {
  if (IsAscii(utf8.data(), utf8.size()) || platform::AnsiIsUtf8()) return utf8;
  std::string ansi;
  std::string piece;
  for (std::size_t at = 0;;) {
    const std::size_t nul = utf8.find('\0', at);
    if (!Utf8ToAnsi(utf8.substr(at, nul - at).c_str(), piece)) throw std::bad_alloc();
    ansi += piece;
    if (nul == std::string::npos) return ansi;
    ansi += '\0';
    at = nul + 1;
  }
}

// The list as the log lines show it: in the ANSI code page, as the service's texts are.
std::string ForLog(const std::string& json) {
  std::string native;
  if (IsAscii(json.data(), json.size()) || platform::AnsiIsUtf8() ||
      !Utf8ToAnsi(json.c_str(), native)) {
    return json;
  }
  return native;
}

void FillRecord(const Json::Value& element, OrderInfo& record) {
  // The list is read in UTF-8; the code goes to the service in the ANSI code page, cut at
  // 19 bytes of that form.
  const std::string code = ToAnsi(element.get("code", "").asString());
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

}  // namespace

// The classic reader with all its features and comments collected: it refuses what the
// newer CharReader's defaults let through (trailing commas, a leading '+', a byte-order
// mark). The library marks it deprecated in some versions.
bool ParseOrderList(const std::string& json, Json::Value& root) {
  // Reading a double may switch the C runtime's locale (MinGW's libstdc++ does, around
  // strtod): the switch stays on this thread, or at least never interleaves with another
  // parse's (see ThreadLocaleScope).
  const platform::ThreadLocaleScope threadLocale;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#elif defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#endif
  Json::Reader reader;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#elif defined(_MSC_VER)
#pragma warning(pop)
#endif
  const char* begin = json.data();
  return reader.parse(begin, begin + json.size(), root, true);
}

std::int32_t BuildOrderArray(const std::string& json, OrderArray& orders) {
  try {
    Json::Value root;
    if (!ParseOrderList(json, root)) {
      logline::JsonParseError(ForLog(json).c_str());
      return kCodeBadJson;
    }
    if (!root.isArray() || root.empty() || root.size() > static_cast<Json::ArrayIndex>(INT32_MAX)) {
      logline::JsonParamError(ForLog(json).c_str());
      return kCodeBadOrderList;
    }
    // Every element must be an object (or null, read as all defaults).
    for (const Json::Value& element : root) {
      if (!element.isObject() && !element.isNull()) {
        logline::JsonParamError(ForLog(json).c_str());
        return kCodeBadOrderList;
      }
    }
    const auto count = static_cast<std::int32_t>(root.size());
    auto records = BridgeAllocArray<OrderInfo>(static_cast<std::size_t>(count));
    if (!records) {
      logline::OrderAllocFail(count);
      return kCodeOutOfMemory;
    }
    OrderInfo* record = records.get();
    for (const Json::Value& element : root) FillRecord(element, *record++);
    orders.m_records = std::move(records);
    orders.m_count = count;
    return 0;
  } catch (...) {
    // An unconvertible member, a number too large for its field, or no memory inside the
    // JSON library: the service is not called.
    try {
      logline::JsonParseError(ForLog(json).c_str());
    } catch (...) {
      logline::JsonParseError(json.c_str());
    }
    return kCodeBadJson;
  }
}

}  // namespace vx
