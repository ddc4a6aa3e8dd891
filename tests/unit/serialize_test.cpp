// The Result buffer as Java receives it: headers, payloads, failures and releases.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "base/alloc.h"
#include "bridge/state.h"
#include "ctype_locale.h"
#include "fakejni/fakejni.h"
#include "log/log_thread.h"
#include "log_capture.h"
#include "marshal/serialize.h"
#include "record_builder.h"
#include "text/text.h"

namespace vxtest {
namespace {

std::map<const void*, int> g_releases;
int CountingRelease(void* record) {
  ++g_releases[record];
  return 0;
}

std::vector<unsigned char> Header(std::int32_t code, std::int64_t length) {
  std::vector<unsigned char> out(16, 0);
  for (int i = 0; i < 4; ++i)
    out[static_cast<std::size_t>(i)] =
        static_cast<unsigned char>(static_cast<std::uint32_t>(code) >> (8 * i));
  for (int i = 0; i < 8; ++i)
    out[static_cast<std::size_t>(8 + i)] =
        static_cast<unsigned char>(static_cast<std::uint64_t>(length) >> (8 * i));
  return out;
}

class Serializer : public vx::fakejni::FakeJniTest {
 protected:
  void SetUp() override {
    FakeJniTest::SetUp();
    vx::testing::ResetBridgeState();
    vx::g_functions.releasedata = &CountingRelease;
    g_releases.clear();
    TakeLogLines();
  }
  void TearDown() override {
    vx::testing::PoisonUnfilledBlocks(false);
    vx::testing::FailAllAllocations(false);
    vx::testing::FailAllocationAfter(0);
    vx::testing::ResetBridgeState();
    FakeJniTest::TearDown();
  }

  std::vector<unsigned char> Reply(jbyteArray array) {
    EXPECT_NE(array, nullptr);
    std::vector<std::uint8_t> bytes = jvm().Bytes(array);
    env()->DeleteLocalRef(array);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
  }

  RecordBuilder b;
};

TEST_F(Serializer, WorkedExampleIs55Bytes) {
  vx::ResultCube cube =
      b.Cube(b.List({"A"}), b.List({"B"}), b.List({"C"}), {RecordBuilder::Fixed(6, 7)});
  vx::ResultCube* pointer = &cube;
  const auto bytes = Reply(vx::SerializeCubeResult(env(), 0, &pointer));
  EXPECT_EQ(bytes, Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0x27, 0, 0, 0, 0, 0, 0, 0,  //
                          1, 0, 0, 0, 2, 0, 0, 0, 'A',  0, 1, 0, 0, 0, 2, 0, 0, 0, 'B', 0,
                          1, 0, 0, 0, 2, 0, 0, 0, 'C',  0, 1, 0, 0, 0, 6, 7, 0, 0, 0}));
  EXPECT_EQ(pointer, nullptr);
  EXPECT_EQ(g_releases[&cube], 1);
  EXPECT_EQ(jvm().LocalRefCount(), 0u);
}

// The reply buffer is not zero-filled: every byte of it must be written. Blocks come filled
// with a poison byte here, and every value type, texts and an empty list must still give the
// same reply as over zeros.
TEST_F(Serializer, EveryReplyByteIsWritten) {
  std::vector<vx::ResultVariant> values;
  for (std::int32_t type = 0; type <= 16; ++type) {
    if (type == vx::kVariantText) {
      values.push_back(b.Text("text"));
    } else if (type == vx::kVariantBytes || type == vx::kVariantBlob) {
      values.push_back(b.Blob(type, std::string("b\0b", 3)));
    } else {
      values.push_back(RecordBuilder::Fixed(type, 0x0102030405060708ull));
    }
  }
  vx::ResultCube cube = b.Cube(b.List({"A", ""}), b.List({"B"}),
                               b.List({"C", "", "DD", "E", "F", "G", "H", "I"}), values);
  vx::ResultCube empty = b.Cube(b.List({}), b.List({"x"}), b.List({}), {});
  for (vx::ResultCube* record : {&cube, &empty}) {
    vx::ResultCube* pointer = record;
    const auto overZeros = Reply(vx::SerializeCubeResult(env(), 0, &pointer));
    vx::testing::PoisonUnfilledBlocks(true);
    pointer = record;
    const auto overPoison = Reply(vx::SerializeCubeResult(env(), 0, &pointer));
    vx::testing::PoisonUnfilledBlocks(false);
    EXPECT_EQ(overPoison, overZeros);
    EXPECT_EQ(std::count(overZeros.begin(), overZeros.end(), vx::testing::kPoisonByte), 0);
  }
}

TEST_F(Serializer, EmptyListsGiveA32ByteArray) {
  vx::ResultCube cube = b.Cube(b.List({}), b.List({}), b.List({}), {});
  vx::ResultCube* pointer = &cube;
  const auto bytes = Reply(vx::SerializeCubeResult(env(), 0, &pointer));
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 16), Header(0, 16));
}

TEST_F(Serializer, ServiceErrorIsSixteenBytesAndTheRecordIsLeftAlone) {
  vx::ResultCube cube = b.Cube(b.List({"A"}), b.List({}), b.List({}), {});
  vx::ResultCube* pointer = &cube;
  EXPECT_EQ(Reply(vx::SerializeCubeResult(env(), -42, &pointer)), Header(-42, 0));
  EXPECT_EQ(pointer, &cube);
  EXPECT_TRUE(g_releases.empty());
  EXPECT_TRUE(TakeLogLines().empty());
}

TEST_F(Serializer, SuccessWithoutARecordIs10000007) {
  vx::ResultCube* pointer = nullptr;
  EXPECT_EQ(Reply(vx::SerializeCubeResult(env(), 0, &pointer)), Header(10000007, 0));
  EXPECT_EQ(Reply(vx::SerializeGridResult(env(), 0, nullptr)), Header(10000007, 0));
  const auto lines = TakeLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("]:assert false int java wraper. \n"), std::string::npos);
  EXPECT_TRUE(g_releases.empty());
}

TEST_F(Serializer, AllocationFailureIs10000003AndStillReleases) {
  vx::ResultCube cube =
      b.Cube(b.List({"A"}), b.List({"B"}), b.List({"C"}), {RecordBuilder::Fixed(6, 7)});
  vx::ResultCube* pointer = &cube;
  vx::testing::FailAllocationAfter(1);  // the payload buffer; the texts are ASCII and need none
  EXPECT_EQ(Reply(vx::SerializeCubeResult(env(), 0, &pointer)), Header(10000003, 0));
  EXPECT_EQ(g_releases[&cube], 1);
  EXPECT_EQ(pointer, nullptr);
}

TEST_F(Serializer, PositiveCountWithoutValuesIsNotRead) {
  vx::ResultCube cube = b.Cube(b.List({"A"}), b.List({"B"}), b.List({"C"}), {});
  vx::ResultCube* pointer = &cube;
  EXPECT_EQ(Reply(vx::SerializeCubeResult(env(), 0, &pointer)), Header(10000007, 0));
  EXPECT_EQ(g_releases[&cube], 1);
}

TEST_F(Serializer, ReplyTooLargeForAJavaArrayIs10000003) {
  vx::ResultCube cube{};
  for (auto& list : cube.lists) list.count = 65536;  // 2^48 values
  // Never read: the measure stops at the count.
  cube.values = reinterpret_cast<vx::ResultVariant*>(static_cast<std::uintptr_t>(0x10));
  vx::ResultCube* pointer = &cube;
  EXPECT_EQ(Reply(vx::SerializeCubeResult(env(), 0, &pointer)), Header(10000003, 0));
  EXPECT_EQ(g_releases[&cube], 1);
}

TEST_F(Serializer, MissingReleaseFunctionKeepsTheCallersPointer) {
  vx::g_functions.releasedata = nullptr;
  vx::ResultCube cube = b.Cube(b.List({}), b.List({}), b.List({}), {});
  vx::ResultCube* pointer = &cube;
  EXPECT_EQ(Reply(vx::SerializeCubeResult(env(), 0, &pointer)).size(), 32u);
  EXPECT_EQ(pointer, &cube);
}

TEST_F(Serializer, FailedJavaArrayGivesNullAndStillReleases) {
  vx::ResultCube cube = b.Cube(b.List({}), b.List({}), b.List({}), {});
  vx::ResultCube* pointer = &cube;
  jvm().FailNth(vx::fakejni::Fn::NewByteArray);
  EXPECT_EQ(vx::SerializeCubeResult(env(), 0, &pointer), nullptr);
  EXPECT_EQ(jvm().PendingExceptionClass(), "java/lang/OutOfMemoryError");
  jvm().ClearPendingException();
  EXPECT_EQ(g_releases[&cube], 1);
  EXPECT_EQ(vx::SerializeCubeResult(nullptr, 0, &pointer), nullptr);  // pointer already null
}

TEST_F(Serializer, GridReplyAndRelease) {
  vx::ResultGrid grid{1, 2, b.List({"g"}),
                      b.Values({RecordBuilder::Fixed(4, 0x0102), b.Text("t")})};
  const auto bytes = Reply(vx::SerializeGridResult(env(), 0, &grid));
  const auto payload = EncodeGrid(grid);
  ASSERT_EQ(bytes.size(), 16 + payload.size());
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 16),
            Header(0, static_cast<std::int64_t>(payload.size())));
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 16, bytes.end()), payload);
  EXPECT_EQ(g_releases[&grid], 1);
  EXPECT_EQ(Reply(vx::SerializeGridResult(env(), 3, &grid)), Header(3, 0));
  EXPECT_EQ(g_releases[&grid], 1);
}

class SerializerGbk : public Serializer {
 protected:
  void SetUp() override {
    Serializer::SetUp();
    VX_REQUIRE_LOCALE(m_gbk);
  }
  vx::testlocale::CtypeLocale m_gbk{vx::testlocale::kGbk};
};

// Non-ASCII text long enough to be converted through scratch buffers, which can fail.
std::string LongGbk(const char* character) {
  std::string text;
  while (text.size() <= vx::kStackTextBytes) text += character;
  return text;
}

TEST_F(SerializerGbk, ConversionFailingBetweenThePassesIsAMismatch) {
  // One long non-ASCII text: the measuring pass converts it (allocations 1 and 2), the
  // payload buffer is allocation 3, the writing pass's conversion fails at allocation 4.
  const std::string text = LongGbk("\xD6\xD0");
  vx::ResultCube cube = b.Cube(b.List({text.c_str(), "\xCE\xC4"}), b.List({"B"}), b.List({"C"}),
                               {RecordBuilder::Fixed(1, 1), RecordBuilder::Fixed(1, 2)});
  vx::ResultCube* pointer = &cube;
  vx::testing::FailAllocationAfter(4);
  EXPECT_EQ(Reply(vx::SerializeCubeResult(env(), 0, &pointer)), Header(10000007, 0));
  EXPECT_EQ(g_releases[&cube], 1);
  const auto lines = TakeLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("]:assert false int java wraper. data copy error\n"), std::string::npos);
}

TEST_F(SerializerGbk, ShortTextsNeedNoAllocationButTheReply) {
  vx::ResultCube cube = b.Cube(b.List({"\xD6\xD0", "x"}), b.List({"\xCE\xC4"}), b.List({"C"}),
                               {b.Text("\xD6\xD0"), b.Text("ok")});
  vx::ResultCube* pointer = &cube;
  const std::uint64_t before = vx::testing::AllocationCount();
  const auto bytes = Reply(vx::SerializeCubeResult(env(), 0, &pointer));
  EXPECT_EQ(vx::testing::AllocationCount() - before, 1u);
  // Lists of 4 + (3 + 5) + (1 + 5), 4 + (3 + 5), 4 + (1 + 5); count 4; values 3 + 6, 2 + 6.
  ASSERT_EQ(bytes.size(), 16u + 18 + 12 + 10 + 4 + 9 + 8);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 16, bytes.begin() + 34),
            Bytes({2, 0, 0, 0, 4, 0, 0, 0, 0xE4, 0xB8, 0xAD, 0, 2, 0, 0, 0, 'x', 0}));
  EXPECT_EQ(std::vector<unsigned char>(bytes.end() - 17, bytes.end()),
            Bytes({14, 4, 0, 0, 0, 0xE4, 0xB8, 0xAD, 0, 14, 3, 0, 0, 0, 'o', 'k', 0}));
}

TEST_F(SerializerGbk, EveryAllocationFailureGivesACodeAndOneRelease) {
  const std::string first = LongGbk("\xD6\xD0");
  const std::string second = LongGbk("\xCE\xC4");
  vx::ResultCube cube = b.Cube(b.List({first.c_str(), "x"}), b.List({second.c_str()}),
                               b.List({"C"}), {b.Text(first.c_str()), b.Text("ok")});
  // Three long texts, converted in each pass with two buffers each, and the reply.
  vx::ResultCube* healthy = &cube;
  const std::uint64_t before = vx::testing::AllocationCount();
  Reply(vx::SerializeCubeResult(env(), 0, &healthy));
  const std::uint64_t allocations = vx::testing::AllocationCount() - before;
  ASSERT_EQ(allocations, 6u + 1 + 6);
  std::map<std::int32_t, int> codes;
  for (std::uint64_t n = 1; n <= allocations; ++n) {
    g_releases.clear();
    vx::ResultCube* pointer = &cube;
    vx::testing::FailAllocationAfter(n);
    const auto bytes = Reply(vx::SerializeCubeResult(env(), 0, &pointer));
    vx::testing::FailAllocationAfter(0);
    ASSERT_GE(bytes.size(), 16u);
    const std::int32_t code = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24;
    ++codes[code];
    EXPECT_TRUE(code == 0 || code == 10000003 || code == 10000007) << "n=" << n << " code=" << code;
    if (code != 0) {
      EXPECT_EQ(bytes.size(), 16u);
    }
    EXPECT_EQ(g_releases[&cube], 1) << n;
    TakeLogLines();
  }
  // A conversion failing in one pass and not in the other is a mismatch; the reply's own
  // allocation failing is 10000003.
  EXPECT_EQ(codes, (std::map<std::int32_t, int>{{10000003, 1}, {10000007, 12}}));
}

}  // namespace
}  // namespace vxtest
