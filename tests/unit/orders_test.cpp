// The JSON order list: what reaches the service, and what is refused before it.
#include <gtest/gtest.h>

#include <cstring>

#include "log_capture.h"
#include "marshal/alloc.h"
#include "marshal/orders.h"
#include "marshal/serialize.h"

namespace {

class OrderList : public ::testing::Test {
 protected:
  void SetUp() override { vxtest::TakeLogLines(); }

  std::int32_t Build(const std::string& json) { return vx::BuildOrderArray(json, m_orders); }

  void ExpectRefused(const std::string& json, std::int32_t code, const char* line) {
    vx::OrderArray orders;
    EXPECT_EQ(vx::BuildOrderArray(json, orders), code) << json;
    EXPECT_EQ(orders.data(), nullptr);
    const auto lines = vxtest::TakeLogLines();
    ASSERT_EQ(lines.size(), 1u) << json;
    EXPECT_NE(lines[0].find(std::string(line) + json + "\n"), std::string::npos) << lines[0];
  }

  vx::OrderArray m_orders;
};

TEST_F(OrderList, RootsThatAreNotANonEmptyArrayAreParamErrors) {
  for (const char* json : {"[]", "{}", "{\"code\":\"a\"}", "null", "5", "\"text\""}) {
    ExpectRefused(json, vx::kCodeBadOrderList, "json param error : ");
  }
}

TEST_F(OrderList, UnparsableTextIsAParseError) {
  for (const char* json : {"", "   ", "[", "[{]", "{\"code\":}"}) {
    ExpectRefused(json, vx::kCodeBadJson, "json parse error : ");
  }
}

TEST_F(OrderList, ElementsThatAreNotObjectsAreRefused) {
  for (const char* json : {"[1]", "[{}, \"x\"]", "[true]", "[[{}]]"}) {
    ExpectRefused(json, vx::kCodeBadOrderList, "json param error : ");
  }
}

TEST_F(OrderList, ValuesTheFieldCannotTakeFailTheWholeList) {
  for (const char* json :
       {"[{\"volume\":\"12\"}]", "[{}, {\"date\":1e12}]", "[{\"date\":1000000000000}]",
        "[{\"price\":1e300}]", "[{\"code\":{}}]", "[{\"optype\":[1]}]"}) {
    ExpectRefused(json, vx::kCodeBadJson, "json parse error : ");
  }
}

TEST_F(OrderList, EmptyObjectAndNullGiveRecordsOfDefaults) {
  for (const char* json : {"[{}]", "[null]"}) {
    vx::OrderArray orders;
    ASSERT_EQ(vx::BuildOrderArray(json, orders), 0);
    ASSERT_EQ(orders.size(), 1);
    const unsigned char zeros[sizeof(vx::OrderInfo)] = {};
    EXPECT_EQ(std::memcmp(orders.data(), zeros, sizeof zeros), 0);
  }
  EXPECT_TRUE(vxtest::TakeLogLines().empty());
}

TEST_F(OrderList, FieldsLandAtTheirOffsetsWithTheirTypes) {
  ASSERT_EQ(Build(R"([{"code":"600000.SH","volume":1.5,"price":2.25,"date":20240102,"time":93000,
                       "optype":-1,"cost":0.5,"rate":0.125,"reserve":7,"other":"ignored"},
                      {"reserve":9,"rate":1,"code":"B"},
                      null])"),
            0);
  ASSERT_EQ(m_orders.size(), 3);
  const auto* bytes = reinterpret_cast<const unsigned char*>(m_orders.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes)), "600000.SH");
  double volume;
  std::memcpy(&volume, bytes + 24, 8);
  EXPECT_EQ(volume, 1.5);
  float price, cost, rate;
  std::memcpy(&price, bytes + 32, 4);
  std::memcpy(&cost, bytes + 48, 4);
  std::memcpy(&rate, bytes + 52, 4);
  EXPECT_EQ(price, 2.25f);
  EXPECT_EQ(cost, 0.5f);
  EXPECT_EQ(rate, 0.125f);
  std::int32_t ints[4];
  std::memcpy(ints, bytes + 36, 12);
  std::memcpy(ints + 3, bytes + 56, 4);
  EXPECT_EQ(ints[0], 20240102);
  EXPECT_EQ(ints[1], 93000);
  EXPECT_EQ(ints[2], -1);
  EXPECT_EQ(ints[3], 7);
  EXPECT_EQ(std::memcmp(bytes + 60, "\0\0\0\0", 4), 0);
  // Second record: member order does not matter.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 64)), "B");
  EXPECT_EQ(m_orders.data()[1].reserve, 9);
  EXPECT_EQ(m_orders.data()[1].rate, 1.0f);
  EXPECT_EQ(m_orders.data()[2].volume, 0.0);
}

TEST_F(OrderList, LongCodeIsCutToNineteenBytes) {
  ASSERT_EQ(Build(R"([{"code":"ABCDEFGHIJKLMNOPQRSTUVWXY","volume":3}])"), 0);
  const char* code = m_orders.data()[0].code;
  EXPECT_EQ(std::string(code, 19), "ABCDEFGHIJKLMNOPQRS");
  for (int i = 19; i < 24; ++i) EXPECT_EQ(code[i], 0) << i;
  EXPECT_EQ(m_orders.data()[0].volume, 3.0);
}

TEST_F(OrderList, AllocationFailureIsReportedWithTheCount) {
  vx::testing::FailAllAllocations(true);
  vx::OrderArray orders;
  const std::int32_t code = vx::BuildOrderArray("[{},{},{}]", orders);
  vx::testing::FailAllAllocations(false);
  EXPECT_EQ(code, vx::kCodeOutOfMemory);
  const auto lines = vxtest::TakeLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("]:new 3 size pOrderInfo fail\n"), std::string::npos);
}

}  // namespace
