// The JSON order list: what reaches the service, and what is refused before it.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/alloc.h"
#include "ctype_locale.h"
#include "log_capture.h"
#include "marshal/orders.h"
#include "marshal/serialize.h"
#include "platform/platform.h"

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

// The classic reader's grammar: stricter than the newer reader's defaults in these four.
TEST_F(OrderList, WhatTheClassicReaderRefusesIsAParseError) {
  for (const char* json :
       {"[{\"code\":\"A\",\"volume\":100},]", "[{\"volume\":1,}]", "[{\"volume\":+100}]"}) {
    ExpectRefused(json, vx::kCodeBadJson, "json parse error : ");
  }
  // A byte-order mark (the line shows it in the ANSI code page).
  vx::OrderArray orders;
  EXPECT_EQ(vx::BuildOrderArray("\xEF\xBB\xBF[{\"code\":\"A\"}]", orders), vx::kCodeBadJson);
  EXPECT_EQ(orders.data(), nullptr);
  const auto lines = vxtest::TakeLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("]:json parse error : "), std::string::npos);
  EXPECT_NE(lines[0].find("[{\"code\":\"A\"}]\n"), std::string::npos);
}

TEST_F(OrderList, WhatTheClassicReaderAcceptsStaysAccepted) {
  // Comments, text after the root value, and duplicate members (the last one counts).
  ASSERT_EQ(Build("// orders\n[{\"code\":\"A\", /* c */ \"volume\":1}] trailing"), 0);
  EXPECT_STREQ(m_orders.data()[0].code, "A");
  EXPECT_EQ(m_orders.data()[0].volume, 1.0);
  vx::OrderArray again;
  ASSERT_EQ(vx::BuildOrderArray(R"([{"volume":1,"volume":2}] [1])", again), 0);
  EXPECT_EQ(again.data()[0].volume, 2.0);
  EXPECT_TRUE(vxtest::TakeLogLines().empty());
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

// A \u0000 escape stays in the record as it always was.
TEST_F(OrderList, EscapedNulStaysInTheCode) {
  ASSERT_EQ(Build(R"([{"code":"A\u0000B"}])"), 0);
  EXPECT_EQ(std::memcmp(m_orders.data()[0].code, "A\0B\0", 4), 0);
}

// The list is read in UTF-8 and its code reaches the record in the ANSI code page: a
// character whose GBK form ends in 0x5C (a backslash in ASCII) is no escape, and a \u
// escape gives GBK bytes, not UTF-8.
TEST_F(OrderList, CodesInGbk) {
  VX_USE_LOCALE(vx::testlocale::kGbk);
  ASSERT_EQ(Build("[{\"code\":\"\xE4\xB9\x97\"},{\"code\":\"\\u4e2d\\u6587\"},"
                  "{\"code\":\"\xE4\xB9\x97\\u0000\xE4\xB8\xAD\"}]"),
            0);
  ASSERT_EQ(m_orders.size(), 3);
  EXPECT_EQ(std::string(m_orders.data()[0].code, 3), std::string("\x81\x5C\0", 3));
  EXPECT_EQ(std::string(m_orders.data()[1].code, 5), std::string("\xD6\xD0\xCE\xC4\0", 5));
  EXPECT_EQ(std::string(m_orders.data()[2].code, 6), std::string("\x81\x5C\0\xD6\xD0\0", 6));
  // Cut at 19 bytes of the GBK form, as the bytes fall: ten characters are 20 bytes.
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += "\xE4\xB8\xAD";
  vx::OrderArray cut;
  ASSERT_EQ(vx::BuildOrderArray("[{\"code\":\"" + ten + "\"}]", cut), 0);
  std::string want;
  for (int i = 0; i < 9; ++i) want += "\xD6\xD0";
  want += std::string("\xD6\0\0\0\0\0", 6);
  EXPECT_EQ(std::string(cut.data()[0].code, 24), want);
  EXPECT_TRUE(vxtest::TakeLogLines().empty());
  // The failure lines show the list in GBK.
  vx::OrderArray refused;
  EXPECT_EQ(vx::BuildOrderArray("[{\"code\":\"\xE4\xB8\xAD\",\"volume\":\"1\"}]", refused),
            vx::kCodeBadJson);
  EXPECT_EQ(vx::BuildOrderArray("[\"\xE4\xB8\xAD\"]", refused), vx::kCodeBadOrderList);
  const auto lines = vxtest::TakeLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("json parse error : [{\"code\":\"\xD6\xD0\",\"volume\":\"1\"}]\n"),
            std::string::npos);
  EXPECT_NE(lines[1].find("json param error : [\"\xD6\xD0\"]\n"), std::string::npos);
}

// Reading a double must not switch the process's C locale under other threads (MinGW's
// libstdc++ switches it to "C" and back around every double it reads, and two threads doing
// that at once can leave "C" behind).
TEST_F(OrderList, ParsesInParallelLeaveTheProcessLocaleAlone) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  // A locale other than "C", so that a switch to "C" shows: the user's default locale (on
  // Windows always one with a code page) or a UTF-8 one.
  const char* named = std::setlocale(LC_NUMERIC, "");
  if (named == nullptr || std::string(named) == "C") named = std::setlocale(LC_NUMERIC, "C.UTF-8");
  ASSERT_NE(named, nullptr);
  const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 300; ++i) {
        vx::OrderArray orders;
        if (vx::BuildOrderArray(R"([{"volume":1.5,"price":2.25,"cost":0.5,"rate":1e-3}])",
                                orders) != 0 ||
            orders.data()[0].volume != 1.5) {
          ++failures[static_cast<std::size_t>(t)];
        }
      }
    });
  }
  int changed = 0;
  for (int i = 0; i < 20000 && changed == 0; ++i) {
    if (numeric != std::setlocale(LC_NUMERIC, nullptr)) ++changed;
  }
  for (std::thread& thread : threads) thread.join();
  const std::string after = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_ALL, before.c_str());
  EXPECT_EQ(failures, std::vector<int>(4, 0));
  // Without per-thread locales (msvcrt.dll as Wine has it) the switches are only kept from
  // interleaving, so other threads may still see "C" for a moment; the locale left behind
  // is always the one before.
  if (vx::platform::ThreadLocaleScope::PerThread()) {
    EXPECT_EQ(changed, 0) << "another thread saw the process locale switched";
  }
  EXPECT_EQ(after, numeric);
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
