// The cube serialiser on large records, each case beside its floor:
//   numeric  1,000,000 values of types 8 and 9 under three lists of 100 texts;
//   ascii    100,000 ASCII codes ("600000.SH") in one list, one value each;
//   gbk      the same codes behind two GBK characters ("浦发600000"), LC_CTYPE zh_CN.GBK.
// The floor copies what the reply carries: each text found with strlen and copied, then the
// values array with one memcpy, into a buffer allocated and touched beforehand. For the text
// cases a second floor copies the texts alone.
//
// What is measured is everything SerializeCubeResult does except creating the Java array:
// measure, allocate once (zero-filled), encode, check the length, write the header, free.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "marshal/result_writer.h"
#include "marshal/serialize.h"
#include "unit/record_builder.h"

namespace vxbench {
namespace {

// ---- The reply, as SerializeCubeResult builds it ---------------------------------------

// The reply SerializeCubeResult builds for a record that came with code 0, handed to
// `deliver` where SerializeCubeResult makes the Java array of it. Returns the reply's code.
template <typename Deliver>
std::int32_t BuildReplyBytes(const vx::ResultCube& cube, Deliver deliver) {
  vx::ResultReply reply;
  vx::BuildCubeReply(cube, reply);
  if (reply.code() == 0) deliver(reply.data(), static_cast<std::int64_t>(reply.size()));
  return reply.code();
}

// ---- The cases ------------------------------------------------------------------------

// One text of a cube: its ANSI bytes and the UTF-8 form the reply must carry.
struct Text {
  std::string ansi;
  std::string utf8;
};

Text Ascii(std::string text) { return Text{text, text}; }

// A cube held in memory for the whole run, with what its reply must look like.
class CubeCase {
 public:
  CubeCase(const std::array<std::vector<Text>, 3>& lists,
           const std::vector<vx::ResultVariant>& values) {
    std::array<vx::TextList, 3> built{};
    for (std::size_t l = 0; l < lists.size(); ++l) {
      std::vector<const char*> ansi;
      for (const Text& text : lists[l]) {
        ansi.push_back(text.ansi.c_str());
        m_expectedPayload += static_cast<std::int64_t>(text.utf8.size()) + 5;
        m_textBytes += text.ansi.size();
      }
      m_expectedPayload += 4;
      built[l] = m_builder.List(ansi);
    }
    m_cube = m_builder.Cube(built[0], built[1], built[2], values);
    m_expectedPayload += 4;
    for (const vx::ResultVariant& value : values) {
      m_expectedPayload += 1 + static_cast<std::int64_t>(vx::FixedWidth(value.type));
    }
    m_valueCount = values.size();
    m_firstUtf8 = lists[0].front().utf8;
  }

  const vx::ResultCube& cube() const { return m_cube; }
  std::size_t valueBytes() const { return m_valueCount * sizeof(vx::ResultVariant); }
  std::size_t textBytes() const { return m_textBytes; }
  std::int64_t replySize() const { return vx::kResultHeaderSize + m_expectedPayload; }

  // Empty when `reply` is the success reply this cube must give, else what is wrong.
  std::string Check(const unsigned char* reply, std::int64_t size) const {
    if (size != replySize()) {
      return "reply of " + std::to_string(size) + " bytes, expected " + std::to_string(replySize());
    }
    // The first text of the first list: its length field, then its UTF-8 bytes.
    const unsigned char* first = reply + vx::kResultHeaderSize + 4;
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) length = (length << 8) | first[i];
    if (length != m_firstUtf8.size() + 1 ||
        std::memcmp(first + 4, m_firstUtf8.data(), m_firstUtf8.size()) != 0) {
      return "the first text is not the expected UTF-8";
    }
    return std::string();
  }

 private:
  vxtest::RecordBuilder m_builder;
  vx::ResultCube m_cube{};
  std::int64_t m_expectedPayload = 0;
  std::size_t m_textBytes = 0;
  std::size_t m_valueCount = 0;
  std::string m_firstUtf8;
};

std::string Code(int index) { return std::to_string(600000 + index); }

std::vector<Text> Texts(const char* stem, int count) {
  std::vector<Text> texts;
  for (int i = 0; i < count; ++i) texts.push_back(Ascii(stem + std::to_string(i)));
  return texts;
}

// `count` values, alternately 64-bit integers (type 8) and doubles (type 9).
std::vector<vx::ResultVariant> NumericValues(std::size_t count) {
  std::vector<vx::ResultVariant> values;
  values.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (i % 2 == 0) {
      values.push_back(vxtest::RecordBuilder::Fixed(8, i));
    } else {
      const double price = 10.0 + static_cast<double>(i) / 100.0;
      std::uint64_t bits;
      std::memcpy(&bits, &price, sizeof bits);
      values.push_back(vxtest::RecordBuilder::Fixed(9, bits));
    }
  }
  return values;
}

constexpr int kCodes = 100000;

const CubeCase& NumericCube() {
  static const CubeCase cube({Texts("CODE", 100), Texts("IND", 100), Texts("DATE", 100)},
                             NumericValues(100 * 100 * 100));
  return cube;
}

const CubeCase& AsciiCube() {
  static const CubeCase cube = [] {
    std::vector<Text> codes;
    for (int i = 0; i < kCodes; ++i) codes.push_back(Ascii(Code(i) + ".SH"));
    return CubeCase({codes, {Ascii("CLOSE")}, {Ascii("2024-01-02")}}, NumericValues(kCodes));
  }();
  return cube;
}

const CubeCase& GbkCube() {
  static const CubeCase cube = [] {
    std::vector<Text> codes;
    for (int i = 0; i < kCodes; ++i) {
      codes.push_back(Text{kGbkPrefix + Code(i), kUtf8Prefix + Code(i)});
    }
    return CubeCase({codes, {Text{kGbkWord, kUtf8Word}}, {Ascii("2024-01-02")}},
                    NumericValues(kCodes));
  }();
  return cube;
}

// ---- Benchmarks -------------------------------------------------------------------------

using MakeCube = const CubeCase& (*)();

void Serialize(benchmark::State& state, MakeCube make, const char* locale) {
  const CtypeLocale ctype(locale);
  if (!ctype.set()) {
    state.SkipWithError("locale missing: run scripts/make-test-locales.sh as root");
    return;
  }
  const CubeCase& sample = make();
  std::string problem = "no reply";
  BuildReplyBytes(sample.cube(), [&](const unsigned char* reply, std::int64_t size) {
    problem = sample.Check(reply, size);
  });
  if (!problem.empty()) {
    state.SkipWithError(problem.c_str());
    return;
  }
  for (auto _ : state) {
    const std::int32_t code =
        BuildReplyBytes(sample.cube(), [](const unsigned char* reply, std::int64_t size) {
          benchmark::DoNotOptimize(reply[size - 1]);
        });
    benchmark::DoNotOptimize(code);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * sample.replySize());
}

// Copies each text (found with strlen) and, unless `textsOnly`, the values array.
void CopyFloor(benchmark::State& state, MakeCube make, bool textsOnly) {
  const CubeCase& sample = make();
  const vx::ResultCube& cube = sample.cube();
  const std::size_t valueBytes = textsOnly ? 0 : sample.valueBytes();
  std::vector<unsigned char> out(sample.textBytes() + valueBytes, 1);  // allocated, touched
  for (auto _ : state) {
    unsigned char* at = out.data();
    for (const vx::TextList& list : cube.lists) {
      for (std::uint32_t i = 0; i < list.count; ++i) {
        const char* text = list.entries[i].text;
        const std::size_t length = std::strlen(text);
        std::memcpy(at, text, length);
        at += length;
      }
    }
    std::memcpy(at, cube.values, valueBytes);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

const char kDefaultLocale[] = "C";

BENCHMARK_CAPTURE(Serialize, numeric, NumericCube, kDefaultLocale)
    ->Name("cube_numeric/serialize")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CopyFloor, numeric, NumericCube, false)
    ->Name("cube_numeric/floor")
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(Serialize, ascii, AsciiCube, kDefaultLocale)
    ->Name("cube_ascii/serialize")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CopyFloor, ascii, AsciiCube, false)
    ->Name("cube_ascii/floor")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CopyFloor, ascii_texts, AsciiCube, true)
    ->Name("cube_ascii/floor_texts")
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(Serialize, gbk, GbkCube, kGbkLocale)
    ->Name("cube_gbk/serialize")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CopyFloor, gbk, GbkCube, false)
    ->Name("cube_gbk/floor")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CopyFloor, gbk_texts, GbkCube, true)
    ->Name("cube_gbk/floor_texts")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vxbench
