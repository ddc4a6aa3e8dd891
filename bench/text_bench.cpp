// One AnsiToUtf8 or Utf8ToAnsi call on a short (16-byte) and a long (4 KB) text, ASCII and
// GBK, with LC_CTYPE zh_CN.GBK. Sizes are those of the ANSI form; the UTF-8 form of the GBK
// texts is longer (20 bytes and 5 KB). Beside them, the floor of any conversion: strlen and
// a copy into a new std::string, as the conversions hand their result back.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench_support.h"
#include "text/text.h"

namespace vxbench {
namespace {

struct Sample {
  std::string ansi;
  std::string utf8;
};

// 16 bytes of ANSI text; as many copies as `count`.
Sample AsciiText(std::size_t count) {
  const std::string unit = "600000.SH;CLOSE,";
  return Sample{Repeat(unit, count), Repeat(unit, count)};
}

Sample GbkText(std::size_t count) {
  const std::string digits = "60000001";
  return Sample{Repeat(kGbkWord + digits, count), Repeat(kUtf8Word + digits, count)};
}

constexpr std::size_t kShort = 1;   // 16 B
constexpr std::size_t kLong = 256;  // 4 KB

enum class Direction { kToUtf8, kToAnsi, kCopy };

void Convert(benchmark::State& state, Sample (*make)(std::size_t), std::size_t count,
             Direction direction) {
  const CtypeLocale ctype(kGbkLocale);
  if (!ctype.set()) {
    state.SkipWithError("locale zh_CN.GBK is missing: run scripts/make-test-locales.sh as root");
    return;
  }
  const Sample sample = make(count);
  const std::string& input = direction == Direction::kToAnsi ? sample.utf8 : sample.ansi;
  const std::string& expected = direction == Direction::kToUtf8 ? sample.utf8 : sample.ansi;
  const auto run = [&](std::string& out) {
    switch (direction) {
      case Direction::kToUtf8:
        return vx::AnsiToUtf8(input.c_str(), out);
      case Direction::kToAnsi:
        return vx::Utf8ToAnsi(input.c_str(), out);
      case Direction::kCopy:
        out.assign(input.c_str(), std::strlen(input.c_str()));
        return true;
    }
    return false;
  };

  std::string first;
  if (!run(first) || first != (direction == Direction::kCopy ? input : expected)) {
    state.SkipWithError("the conversion does not give the expected text");
    return;
  }
  for (auto _ : state) {
    std::string out;  // fresh each call, as every caller holds one
    benchmark::DoNotOptimize(run(out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
}

// text/<AnsiToUtf8|Utf8ToAnsi|copy>/<ascii|gbk>_<16B|4KB>
[[maybe_unused]] const bool kRegistered = [] {
  const struct {
    const char* name;
    Direction direction;
  } operations[] = {{"AnsiToUtf8", Direction::kToUtf8},
                    {"Utf8ToAnsi", Direction::kToAnsi},
                    {"copy", Direction::kCopy}};
  const struct {
    const char* name;
    Sample (*make)(std::size_t);
    std::size_t count;
  } texts[] = {{"ascii_16B", AsciiText, kShort},
               {"ascii_4KB", AsciiText, kLong},
               {"gbk_16B", GbkText, kShort},
               {"gbk_4KB", GbkText, kLong}};
  for (const auto& operation : operations) {
    for (const auto& text : texts) {
      const std::string name = std::string("text/") + operation.name + "/" + text.name;
      benchmark::RegisterBenchmark(name.c_str(), Convert, text.make, text.count,
                                   operation.direction);
    }
  }
  return true;
}();

}  // namespace
}  // namespace vxbench
