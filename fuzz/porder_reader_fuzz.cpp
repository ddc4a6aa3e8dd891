// Fuzz target: porder reads its order list exactly as a default-made Json::Reader does.
//
// The input is the JSON text. It goes to the bridge's parser (ParseOrderList), to a plain
// Json::Reader (comments collected) and to BuildOrderArray. Checked:
// - the bridge's parser and the plain reader both accept or both refuse (a library
//   exception, such as a nesting beyond its limit, counts as refusing);
// - when both accept, they read the same value;
// - BuildOrderArray answers a refused text with 10000004 and the "json parse error" line,
//   and an accepted one never with that line unless it is an order list (whose members may
//   fail to convert).
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "marshal/orders.h"
#include "marshal/serialize.h"
#include "plain_reader.h"

namespace {

// The text as the bridge's parser reads it; null when it refuses.
std::unique_ptr<Json::Value> ReadByBridge(const std::string& json) {
  auto root = std::make_unique<Json::Value>();
  try {
    if (!vx::ParseOrderList(json, *root)) return nullptr;
  } catch (const std::exception&) {
    return nullptr;
  }
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string json(reinterpret_cast<const char*>(data), size);
  vx::fuzz::TakeLogLines();

  const auto bridge = ReadByBridge(json);
  const auto plain = vx::fuzz::ReadPlainly(json);
  VX_FUZZ_CHECK((bridge == nullptr) == (plain == nullptr));
  if (bridge != nullptr) VX_FUZZ_CHECK(*bridge == *plain);

  vx::OrderArray orders;
  const std::int32_t code = vx::BuildOrderArray(json, orders);
  const auto lines = vx::fuzz::TakeLogLines();
  const bool parseErrorLine =
      lines.size() == 1 && lines[0].find("]:json parse error : ") != std::string::npos;
  if (plain == nullptr) {
    VX_FUZZ_CHECK(code == vx::kCodeBadJson);
    VX_FUZZ_CHECK(parseErrorLine);
  } else if (!vx::fuzz::IsOrderList(*plain)) {
    VX_FUZZ_CHECK(code == vx::kCodeBadOrderList);
  } else {
    VX_FUZZ_CHECK(code == 0 || (code == vx::kCodeBadJson && parseErrorLine));
  }
  return 0;
}
