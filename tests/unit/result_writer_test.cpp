// Payload encodings of cubes, grids, text lists and every value type.
#include <gtest/gtest.h>

#include "base/alloc.h"
#include "ctype_locale.h"
#include "marshal/result_writer.h"
#include "record_builder.h"

namespace vxtest {

namespace {
template <typename Record, typename EncodeFn>
std::vector<unsigned char> Encode(const Record& record, EncodeFn encode) {
  vx::SizeCounter counter;
  encode(counter, record);
  std::vector<unsigned char> out(static_cast<std::size_t>(counter.size()));
  vx::ResultWriter writer(out.data(), out.data() + out.size());
  encode(writer, record);
  EXPECT_FALSE(writer.Overflowed());
  EXPECT_EQ(writer.Written(), counter.size());
  return out;
}
}  // namespace

std::vector<unsigned char> EncodeCube(const vx::ResultCube& cube) {
  return Encode(cube, [](auto& sink, const vx::ResultCube& c) { vx::EncodeCubePayload(sink, c); });
}

std::vector<unsigned char> EncodeGrid(const vx::ResultGrid& grid) {
  return Encode(grid, [](auto& sink, const vx::ResultGrid& g) { vx::EncodeGridPayload(sink, g); });
}

namespace {

std::vector<unsigned char> EncodeValue(const vx::ResultVariant& value) {
  std::vector<unsigned char> out(static_cast<std::size_t>(vx::VariantSize(value)));
  vx::ResultWriter writer(out.data(), out.data() + out.size());
  vx::WriteVariant(writer, value);
  EXPECT_EQ(writer.Written(), static_cast<std::int64_t>(out.size()));
  return out;
}

TEST(Encoding, WorkedExampleCubeIs39Bytes) {
  RecordBuilder b;
  const vx::ResultCube cube =
      b.Cube(b.List({"A"}), b.List({"B"}), b.List({"C"}), {RecordBuilder::Fixed(6, 7)});
  EXPECT_EQ(EncodeCube(cube), Bytes({1, 0, 0, 0, 2, 0, 0, 0, 'A', 0,  //
                                     1, 0, 0, 0, 2, 0, 0, 0, 'B', 0,  //
                                     1, 0, 0, 0, 2, 0, 0, 0, 'C', 0,  //
                                     1, 0, 0, 0, 6, 7, 0, 0, 0}));
}

TEST(Encoding, EmptyListsGiveSixteenBytes) {
  RecordBuilder b;
  const vx::ResultCube cube = b.Cube(b.List({}), b.List({}), b.List({}), {});
  EXPECT_EQ(EncodeCube(cube), std::vector<unsigned char>(16, 0));
}

TEST(Encoding, OneEmptyListReadsNoValues) {
  RecordBuilder b;
  vx::ResultCube cube = b.Cube(b.List({"x", "y"}), b.List({}), b.List({"z"}), {});
  // A values pointer that must never be read.
  cube.values = reinterpret_cast<vx::ResultVariant*>(static_cast<std::uintptr_t>(0x10));
  const auto bytes = EncodeCube(cube);
  ASSERT_EQ(bytes.size(), 4u + 2 * 6 + 4 + 4 + 6 + 4);
  EXPECT_EQ(std::vector<unsigned char>(bytes.end() - 4, bytes.end()), Bytes({0, 0, 0, 0}));
}

TEST(Encoding, FixedWidthTypesCopyTheirLowOrderBytes) {
  const std::uint64_t bits = 0x0807060504030201ull;
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(1, bits)), Bytes({1, 1}));
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(3, bits)), Bytes({3, 1}));
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(4, bits)), Bytes({4, 1, 2}));
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(5, bits)), Bytes({5, 1, 2}));
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(6, bits)), Bytes({6, 1, 2, 3, 4}));
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(7, bits)), Bytes({7, 1, 2, 3, 4}));
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(10, bits)), Bytes({10, 1, 2, 3, 4}));
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(8, bits)), Bytes({8, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(9, bits)), Bytes({9, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(11, bits)), Bytes({11, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(Encoding, OutOfRangeTypesAreTheirLowByteAlone) {
  for (const std::int32_t type : {0, 15, 16, 255, -1, 256, 0x7FFFFFFF}) {
    EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(type, 99)),
              Bytes({static_cast<unsigned char>(type & 0xFF)}))
        << type;
    EXPECT_EQ(vx::VariantSize(RecordBuilder::Fixed(type, 99)), 1) << type;
  }
  // A low byte that would read as a type with a body goes out as tag 0.
  for (const std::int32_t type : {262, 270, 269, 268, 257, -250, -256 + 13}) {
    EXPECT_EQ(EncodeValue(RecordBuilder::Fixed(type, 99)), Bytes({0})) << type;
    EXPECT_EQ(vx::VariantSize(RecordBuilder::Fixed(type, 99)), 1) << type;
  }
}

TEST(Encoding, TextValueIsSentAsTag14WithItsNul) {
  RecordBuilder b;
  EXPECT_EQ(EncodeValue(b.Text("abc")), Bytes({14, 4, 0, 0, 0, 'a', 'b', 'c', 0}));
  EXPECT_EQ(vx::VariantSize(b.Text("abc")), 9);
  EXPECT_EQ(EncodeValue(b.Text("")), Bytes({14, 1, 0, 0, 0, 0}));
}

TEST(Encoding, BlobsCarryTheirCountAndBytes) {
  RecordBuilder b;
  EXPECT_EQ(EncodeValue(b.Blob(14, "")), Bytes({14, 0, 0, 0, 0}));
  EXPECT_EQ(EncodeValue(b.Blob(12, std::string("\x00\xff\x01", 3))),
            Bytes({12, 3, 0, 0, 0, 0, 0xff, 1}));
}

TEST(Encoding, NullPointersEncodeAsEmpty) {
  // A null text entry, a null type-13 text, and a blob whose pointer is null although its
  // count is not: none is read, each is sent empty, and both passes agree.
  vx::TextListEntry entries[2] = {{nullptr, 0}, {"q", 0}};
  const vx::TextList list{entries, 2, 0};
  EXPECT_EQ(vx::TextListSize(list), 4 + 5 + 6);

  vx::ResultVariant text{};
  text.type = vx::kVariantText;
  EXPECT_EQ(EncodeValue(text), Bytes({14, 1, 0, 0, 0, 0}));

  vx::ResultVariant blob{};
  blob.type = 12;
  blob.byteCount = 1000;
  EXPECT_EQ(EncodeValue(blob), Bytes({12, 0, 0, 0, 0}));

  const vx::TextList nullEntries{nullptr, 1, 0};
  EXPECT_EQ(vx::TextListSize(nullEntries), 4 + 5);
}

TEST(Encoding, GridCarriesItsDimensionsAndProductCount) {
  RecordBuilder b;
  vx::ResultGrid grid{2, 1, b.List({"k"}),
                      b.Values({RecordBuilder::Fixed(2, 5), RecordBuilder::Fixed(0, 0)})};
  EXPECT_EQ(EncodeGrid(grid), Bytes({2, 0, 0, 0, 1, 0, 0, 0,          //
                                     1, 0, 0, 0, 2, 0, 0, 0, 'k', 0,  //
                                     2, 0, 0, 0, 2, 5, 0}));
  // Negative dimensions: the count field carries the product, no value is read.
  grid = vx::ResultGrid{-3, 2, b.List({}), nullptr};
  EXPECT_EQ(EncodeGrid(grid), Bytes({0xFD, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 0, 0, 0, 0,  //
                                     0xFA, 0xFF, 0xFF, 0xFF}));
}

TEST(Encoding, ValueCountsAreComputedWide) {
  vx::ResultCube cube{};
  cube.lists[0].count = 65536;
  cube.lists[1].count = 65536;
  cube.lists[2].count = 1;
  // 2^32 wraps to 0 in 32-bit arithmetic; wide it is far too many to encode.
  EXPECT_EQ(vx::CubeValueCount(cube), vx::kTooManyValues);
  cube.lists[1].count = 2;
  EXPECT_EQ(vx::CubeValueCount(cube), 131072);

  const vx::ResultGrid huge{INT32_MAX, INT32_MAX, {}, nullptr};
  EXPECT_EQ(vx::GridValueCount(huge), vx::kTooManyValues);
  const vx::ResultGrid negative{INT32_MIN, 2, {}, nullptr};
  EXPECT_EQ(vx::GridValueCount(negative), INT32_MIN);
}

TEST(Encoding, TooManyValuesStopsTheMeasureEarly) {
  vx::ResultCube cube{};
  for (auto& list : cube.lists) list.count = 4096;
  vx::SizeCounter counter;
  vx::EncodeCubePayload(counter, cube);  // the lists have no entries to read: they are null
  EXPECT_GT(counter.size(), vx::kMaxReplyBytes);
}

TEST(Encoding, WriterNeverPassesItsEnd) {
  RecordBuilder b;
  std::vector<unsigned char> out(6, 0xAA);
  vx::ResultWriter writer(out.data(), out.data() + 5);
  vx::WriteVariant(writer, b.Text("abc"));  // needs 9 bytes
  EXPECT_TRUE(writer.Overflowed());
  EXPECT_EQ(out[5], 0xAA);
}

class NonAsciiEncoding : public ::testing::Test {
 protected:
  void SetUp() override { VX_REQUIRE_LOCALE(m_gbk); }
  vx::testlocale::CtypeLocale m_gbk{vx::testlocale::kGbk};
};

TEST_F(NonAsciiEncoding, AnsiTextIsCountedByItsUtf8Length) {
  RecordBuilder b;
  // "中文" in GBK is 4 bytes, in UTF-8 6.
  const vx::ResultCube cube =
      b.Cube(b.List({"\xD6\xD0\xCE\xC4"}), b.List({"B"}), b.List({"C"}), {b.Text("\xD6\xD0")});
  const auto bytes = EncodeCube(cube);
  ASSERT_EQ(bytes.size(), 4u + 4 + 6 + 1 + 10 + 10 + 4 + 1 + 4 + 3 + 1);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 15),
            Bytes({1, 0, 0, 0, 7, 0, 0, 0, 0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87, 0}));
}

// Writes each text into exactly the room its encoding needs and into every smaller room:
// only the exact room takes it, and no write passes the end.
void ExpectEveryRoomBelowOverflows(const std::vector<std::string>& texts) {
  RecordBuilder b;
  for (const std::string& text : texts) {
    const vx::TextList list = b.List({text.c_str()});
    const auto expected = static_cast<std::size_t>(vx::TextListSize(list));
    for (std::size_t room = 0; room <= expected; ++room) {
      std::vector<unsigned char> out(room + 8, 0xAA);
      vx::ResultWriter writer(out.data(), out.data() + room);
      vx::WriteTextList(writer, list);
      EXPECT_EQ(writer.Overflowed(), room < expected) << text.size() << " bytes, room " << room;
      EXPECT_EQ(std::vector<unsigned char>(out.end() - 8, out.end()),
                std::vector<unsigned char>(8, 0xAA))
          << "written past the end: " << text.size() << " bytes, room " << room;
    }
  }
}

TEST_F(NonAsciiEncoding, TextsConvertedInPlaceNeverPassTheEnd) {
  std::string longText = "a";
  while (longText.size() <= vx::kStackTextBytes) longText += "\xD6\xD0";
  ExpectEveryRoomBelowOverflows({"600000.SH", "\xD6\xD0",
                                 "\xC6\xD6\xB7\xA2"
                                 "600000",
                                 "x\xD6\xD0y\x81", longText});
}

TEST(Encoding, TextsConvertedThroughUtf16NeverPassTheEnd) {
  VX_USE_LOCALE(vx::testlocale::kUtf8);
  ExpectEveryRoomBelowOverflows({"caf\xC3\xA9", "a\xFFz", "\xF0\x9F\x98\x80!"});
}

TEST_F(NonAsciiEncoding, FailedConversionEncodesEmpty) {
  RecordBuilder b;
  // A text longer than the stack takes converts through scratch buffers, which can fail;
  // a shorter one cannot fail.
  std::string longText;
  while (longText.size() <= vx::kStackTextBytes) longText += "\xD6\xD0";
  const std::int64_t longUtf8 = static_cast<std::int64_t>(longText.size() / 2 * 3);
  const vx::TextList list = b.List({longText.c_str(), "\xD6\xD0"});
  vx::testing::FailAllAllocations(true);
  EXPECT_EQ(vx::TextListSize(list), 4 + 5 + 3 + 5);
  std::vector<unsigned char> payload(4 + 5 + 3 + 5, 0xEE);
  vx::ResultWriter writer(payload.data(), payload.data() + payload.size());
  vx::WriteTextList(writer, list);
  EXPECT_FALSE(writer.Overflowed());
  EXPECT_EQ(payload, Bytes({2, 0, 0, 0, 1, 0, 0, 0, 0, 4, 0, 0, 0, 0xE4, 0xB8, 0xAD, 0}));
  vx::testing::FailAllAllocations(false);
  EXPECT_EQ(vx::TextListSize(list), 4 + longUtf8 + 5 + 3 + 5);
}

}  // namespace
}  // namespace vxtest
