// Fuzz target: the JSON order list of porder, read into OrderInfo records.
//
// The input is the JSON text (UTF-8, as the bridge reads it), used as it is. The ANSI code
// page is UTF-8 (LC_CTYPE en_US.UTF-8), so codes and log lines keep the text's bytes. Each input
// runs twice: once as it stands, once with every bridge allocation failing. Checked per run:
// - the result is 0, 10000004, 10003003 or 10000003, and exactly the failures log a line,
//   that line being the one that goes with the code (with the JSON text for the two JSON
//   lines, and the element count for the allocation line);
// - on 0: at least one record; in every record bytes 19 to 23 (so the code's terminator)
//   and 60 to 63 are zero; the count, the code texts and the int32 fields agree with an
//   independent reading of the same text; a null element gives an all-zero record;
// - on any other code: no records;
// - the code matches an independent reading: unparsable 10000004, not a non-empty array of
//   objects and nulls 10003003, else 0 or (a member that does not convert) 10000004;
// - with allocations failing, such an array gives 10000003, anything else the same code.
#include <json/json.h>

#include <algorithm>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "base/alloc.h"
#include "fuzz_support.h"
#include "marshal/orders.h"
#include "marshal/serialize.h"
#include "plain_reader.h"

namespace {

using vx::fuzz::EndsWith;
using vx::fuzz::StartsWith;

// The formatted line keeps the JSON text whole below this length.
constexpr std::size_t kWholeTextLimit = 1000000;

struct Outcome {
  std::int32_t code;
  std::vector<vx::OrderInfo> records;
  std::vector<std::string> lines;
};

Outcome Run(const std::string& json) {
  Outcome outcome;
  vx::OrderArray orders;
  outcome.code = vx::BuildOrderArray(json, orders);
  if (orders.size() > 0) {
    VX_FUZZ_CHECK(orders.data() != nullptr);
    outcome.records.assign(orders.data(), orders.data() + orders.size());
  } else {
    VX_FUZZ_CHECK(orders.size() == 0);
    VX_FUZZ_CHECK(orders.data() == nullptr);
  }
  outcome.lines = vx::fuzz::TakeLogLines();
  return outcome;
}

void CheckLogLine(const Outcome& outcome, const std::string& json, std::size_t elements) {
  if (outcome.code == 0) {
    VX_FUZZ_CHECK(outcome.lines.empty());
    return;
  }
  VX_FUZZ_CHECK(outcome.lines.size() == 1);
  const std::string& line = outcome.lines[0];
  VX_FUZZ_CHECK(StartsWith(line, "[Vx_Error]["));
  const std::string text(json.c_str());  // the line carries the text up to its first NUL
  switch (outcome.code) {
    case vx::kCodeBadJson:
      VX_FUZZ_CHECK(text.size() >= kWholeTextLimit ||
                    EndsWith(line, "]:json parse error : " + text + "\n"));
      break;
    case vx::kCodeBadOrderList:
      VX_FUZZ_CHECK(text.size() >= kWholeTextLimit ||
                    EndsWith(line, "]:json param error : " + text + "\n"));
      break;
    case vx::kCodeOutOfMemory:
      VX_FUZZ_CHECK(
          EndsWith(line, "]:new " + std::to_string(elements) + " size pOrderInfo fail\n"));
      break;
    default:
      VX_FUZZ_CHECK(false);  // not a code BuildOrderArray may answer
  }
}

bool AllZero(const unsigned char* bytes, std::size_t count) {
  return std::all_of(bytes, bytes + count, [](unsigned char b) { return b == 0; });
}

// The records against the second reading.
void CheckRecords(const std::vector<vx::OrderInfo>& records, const Json::Value& root) {
  VX_FUZZ_CHECK(!records.empty());
  VX_FUZZ_CHECK(root.size() == records.size());

  static constexpr struct {
    const char* name;
    std::size_t offset;
  } kIntFields[] = {{"date", offsetof(vx::OrderInfo, date)},
                    {"time", offsetof(vx::OrderInfo, time)},
                    {"optype", offsetof(vx::OrderInfo, optype)},
                    {"reserve", offsetof(vx::OrderInfo, reserve)}};

  for (Json::ArrayIndex i = 0; i < root.size(); ++i) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&records[i]);
    VX_FUZZ_CHECK(AllZero(bytes + 19, 5));  // the code is cut at 19 bytes
    VX_FUZZ_CHECK(AllZero(bytes + 60, 4));  // the record's last four bytes
    const Json::Value& element = root[i];
    if (element.isNull()) {
      VX_FUZZ_CHECK(AllZero(bytes, sizeof(vx::OrderInfo)));
      continue;
    }
    VX_FUZZ_CHECK(element.isObject());
    const Json::Value& code = element["code"];
    if (code.isNull()) {
      VX_FUZZ_CHECK(AllZero(bytes, 24));
    } else if (code.isString()) {
      const std::string text = code.asString();
      const std::size_t copied = std::min<std::size_t>(text.size(), 19);
      VX_FUZZ_CHECK(std::memcmp(bytes, text.data(), copied) == 0);
      VX_FUZZ_CHECK(AllZero(bytes + copied, 24 - copied));
    }
    for (const auto& field : kIntFields) {
      const Json::Value& member = element[field.name];
      std::int32_t stored;
      std::memcpy(&stored, bytes + field.offset, sizeof(stored));
      if (member.isNull()) {
        VX_FUZZ_CHECK(stored == 0);
      } else if (member.isInt()) {
        VX_FUZZ_CHECK(stored == member.asInt());
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  if (std::setlocale(LC_CTYPE, "en_US.UTF-8") == nullptr) {
    std::fprintf(stderr,
                 "porder_fuzz: locale en_US.UTF-8 is missing (scripts/make-test-locales.sh)\n");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string json(reinterpret_cast<const char*>(data), size);
  vx::fuzz::TakeLogLines();

  const std::unique_ptr<Json::Value> root = vx::fuzz::ReadPlainly(json);
  const bool orderList = root != nullptr && vx::fuzz::IsOrderList(*root);

  const Outcome plain = Run(json);
  VX_FUZZ_CHECK(plain.code == 0 || plain.code == vx::kCodeBadJson ||
                plain.code == vx::kCodeBadOrderList || plain.code == vx::kCodeOutOfMemory);
  // The one allocation is a few KB at most: with no failure injected it succeeds.
  VX_FUZZ_CHECK(plain.code != vx::kCodeOutOfMemory);
  // Unparsable text: 10000004; parsed but not an order list: 10003003; an order list: 0, or
  // 10000004 for a member that cannot be converted.
  if (root == nullptr) {
    VX_FUZZ_CHECK(plain.code == vx::kCodeBadJson);
  } else if (!orderList) {
    VX_FUZZ_CHECK(plain.code == vx::kCodeBadOrderList);
  } else {
    VX_FUZZ_CHECK(plain.code == 0 || plain.code == vx::kCodeBadJson);
  }
  const std::size_t elements = orderList ? root->size() : 0;
  CheckLogLine(plain, json, elements);
  if (plain.code == 0) {
    CheckRecords(plain.records, *root);
  } else {
    VX_FUZZ_CHECK(plain.records.empty());
  }

  // Without memory, an order list stops at the allocation, before any member is converted.
  vx::testing::FailAllAllocations(true);
  const Outcome starved = Run(json);
  vx::testing::FailAllAllocations(false);
  VX_FUZZ_CHECK(starved.records.empty());
  VX_FUZZ_CHECK(starved.code == (orderList ? vx::kCodeOutOfMemory : plain.code));
  CheckLogLine(starved, json, elements);
  return 0;
}
