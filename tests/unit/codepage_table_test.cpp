// The table-driven conversions of double-byte codesets against iconv itself, which the
// tables are read from: every 1- and 2-byte input, every BMP unit, and mixed texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ctype_locale.h"
#include "platform/platform.h"

#if !defined(_WIN32)

#include "platform/posix/codepage_posix.h"

namespace vx::platform {
namespace {

using testlocale::CtypeLocale;

// The result of one conversion: the measured size, then what was written into a buffer of
// exactly that size (empty when the measure was 0).
template <typename Out>
struct Converted {
  int measured;
  std::basic_string<Out> text;
  bool operator==(const Converted& other) const {
    return measured == other.measured && text == other.text;
  }
};

template <typename In, typename Out>
Converted<Out> Convert(int (*convert)(const In*, int, Out*, int), const std::basic_string<In>& in) {
  Converted<Out> result{convert(in.data(), static_cast<int>(in.size()), nullptr, 0), {}};
  if (result.measured > 0) {
    result.text.assign(static_cast<std::size_t>(result.measured), Out('#'));
    const int written = convert(in.data(), static_cast<int>(in.size()), &result.text[0],
                                static_cast<int>(result.text.size()));
    result.text.resize(static_cast<std::size_t>(written));
  }
  return result;
}

int TableToWide(const char* text, int length, char16_t* out, int capacity) {
  return MultiByteToWide(CodePage::Ansi, text, length, out, capacity);
}
int TableToAnsi(const char16_t* text, int length, char* out, int capacity) {
  return WideToMultiByte(CodePage::Ansi, text, length, out, capacity);
}

// A small deterministic generator for the mixed texts below.
class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : m_state(seed) {}
  unsigned Next() {
    m_state = m_state * 1103515245u + 12345u;
    return m_state >> 16;
  }

 private:
  std::uint32_t m_state;
};

// `length` bytes drawn mostly from the lead and trail ranges, so that pairs, truncated pairs
// and bad trails follow one another.
std::string MixedBytes(Lcg& random, std::size_t length) {
  std::string bytes(length, '\0');
  for (char& byte : bytes) {
    const unsigned pick = random.Next() % 4;
    byte = static_cast<char>(pick == 0 ? 0x20 + random.Next() % 0x60 : 0x80 + random.Next() % 0x80);
  }
  return bytes;
}

void ExpectSameDecode(const std::string& bytes) {
  const auto table = Convert(TableToWide, bytes);
  const auto iconv = Convert(AnsiToWideByIconv, bytes);
  ASSERT_TRUE(table == iconv) << "input of " << bytes.size() << " bytes, first "
                              << static_cast<int>(static_cast<unsigned char>(bytes[0]));
}

void ExpectSameEncode(const std::u16string& units) {
  const auto table = Convert(TableToAnsi, units);
  const auto iconv = Convert(WideToAnsiByIconv, units);
  ASSERT_TRUE(table == iconv) << "input of " << units.size() << " units, first "
                              << static_cast<unsigned>(units[0]);
}

TEST(CodepageTable, GbkDecodesEveryOneAndTwoByteInputAsIconvDoes) {
  CtypeLocale locale(testlocale::kGbk);
  VX_REQUIRE_LOCALE(locale);
  ASSERT_TRUE(AnsiHasTable());
  for (unsigned first = 0; first < 256; ++first) {
    ASSERT_NO_FATAL_FAILURE(ExpectSameDecode(std::string(1, static_cast<char>(first))));
    for (unsigned second = 0; second < 256; ++second) {
      const char pair[2] = {static_cast<char>(first), static_cast<char>(second)};
      ASSERT_NO_FATAL_FAILURE(ExpectSameDecode(std::string(pair, 2)));
    }
  }
}

TEST(CodepageTable, GbkEncodesEveryBmpUnitAsIconvDoes) {
  CtypeLocale locale(testlocale::kGbk);
  VX_REQUIRE_LOCALE(locale);
  ASSERT_TRUE(AnsiHasTable());
  for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
    ASSERT_NO_FATAL_FAILURE(ExpectSameEncode(std::u16string(1, static_cast<char16_t>(unit))));
  }
  // Surrogates in context: pairs (outside the BMP), lone halves between other units.
  for (const std::u16string& units :
       {std::u16string(u"\U0001F600"), std::u16string(u"a\U00020000b"),
        std::u16string{0xD800, u'A'}, std::u16string{u'A', 0xDC00, u'B'},
        std::u16string{0xD83D, 0xD83D, 0xDE00}, std::u16string{0x4E2D, 0xDBFF},
        std::u16string{0xFEFF, 0x4E2D, 0xFEFF, u'x', 0xFEFF}}) {
    ASSERT_NO_FATAL_FAILURE(ExpectSameEncode(units));
  }
}

TEST(CodepageTable, GbkMixedTextsMatchIconvBothWays) {
  CtypeLocale locale(testlocale::kGbk);
  VX_REQUIRE_LOCALE(locale);
  ASSERT_TRUE(AnsiHasTable());
  Lcg random(12345);
  for (int text = 0; text < 3000; ++text) {
    ASSERT_NO_FATAL_FAILURE(ExpectSameDecode(MixedBytes(random, 1 + random.Next() % 12)));
    std::u16string units(1 + random.Next() % 8, u'\0');
    for (char16_t& unit : units) {
      const unsigned pick = random.Next() % 4;
      unit = static_cast<char16_t>(pick == 0   ? 0x20 + random.Next() % 0x60
                                   : pick == 1 ? 0xD800 + random.Next() % 0x800
                                               : 0x80 + random.Next() % 0xFF80);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectSameEncode(units));
  }
}

TEST(CodepageTable, GbkWorkedExamplesAndShortBuffers) {
  CtypeLocale locale(testlocale::kGbk);
  VX_REQUIRE_LOCALE(locale);
  // "中文" is D6 D0 CE C4; a lead byte at the end becomes '?', and so does a lead byte
  // with the byte after it that cannot trail it (unless that is NUL), on both roads.
  EXPECT_EQ(Convert(TableToWide, std::string("a\xD6\xD0\xCE\xC4z")).text, u"a\u4E2D\u6587z");
  for (auto* convert : {&TableToWide, &AnsiToWideByIconv}) {
    EXPECT_EQ(Convert(convert, std::string("\xD6\xD0\xD6")).text, u"\u4E2D?");
    EXPECT_EQ(Convert(convert, std::string("\x81\x30x")).text, u"?x");
    EXPECT_EQ(Convert(convert, std::string("\x81\x00x", 3)).text, std::u16string(u"?\0x", 3));
    // No lead: alone, as the character Windows' 936 gives it where iconv has none.
    EXPECT_EQ(Convert(convert, std::string("\xFFx")).text, u"\uF8F5x");
  }
  EXPECT_EQ(Convert(TableToAnsi, std::u16string(u"\u4E2D\u6587")).text, "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(Convert(TableToAnsi, std::u16string(u"\u0E01\U0001F600!")).text,
            std::string("?") + "?!");
  // A buffer one short: 0, as from iconv.
  char16_t wide[2];
  EXPECT_EQ(TableToWide("\xD6\xD0\xCE\xC4z", 5, wide, 2), 0);
  EXPECT_EQ(AnsiToWideByIconv("\xD6\xD0\xCE\xC4z", 5, wide, 2), 0);
  char narrow[3];
  EXPECT_EQ(TableToAnsi(u"\u4E2D\u6587", 2, narrow, 3), 0);
  EXPECT_EQ(WideToAnsiByIconv(u"\u4E2D\u6587", 2, narrow, 3), 0);
}

int WideToUtf8(const char16_t* text, int length, char* out, int capacity) {
  return WideToMultiByte(CodePage::Utf8, text, length, out, capacity);
}

// The direct route of the current codeset, called as the platform functions are.
AnsiToUtf8Route g_route{nullptr, nullptr};
int ByRoute(const char* text, int length, char* out, int capacity) {
  return g_route.convert(g_route.state, text, length, out, capacity);
}

// The route against the two steps through UTF-16, each through iconv.
void ExpectSameDirect(const std::string& bytes) {
  const auto wide = Convert(AnsiToWideByIconv, bytes);
  const auto twoSteps = wide.measured > 0 ? Convert(WideToUtf8, wide.text) : Converted<char>{0, {}};
  const auto direct = Convert(ByRoute, bytes);
  ASSERT_TRUE(direct == twoSteps) << "input of " << bytes.size() << " bytes, first "
                                  << static_cast<int>(static_cast<unsigned char>(bytes[0]));
}

TEST(CodepageTable, GbkRouteToUtf8GivesTheTwoStepsOfIconv) {
  CtypeLocale locale(testlocale::kGbk);
  VX_REQUIRE_LOCALE(locale);
  g_route = DirectAnsiToUtf8();
  ASSERT_NE(g_route.convert, nullptr);
  for (unsigned first = 0; first < 256; ++first) {
    ASSERT_NO_FATAL_FAILURE(ExpectSameDirect(std::string(1, static_cast<char>(first))));
    for (unsigned second = 0; second < 256; ++second) {
      const char pair[3] = {static_cast<char>(first), static_cast<char>(second), 'z'};
      ASSERT_NO_FATAL_FAILURE(ExpectSameDirect(std::string(pair, 2)));
      ASSERT_NO_FATAL_FAILURE(ExpectSameDirect(std::string(pair, 3)));
    }
  }
  Lcg random(777);
  for (int text = 0; text < 3000; ++text) {
    ASSERT_NO_FATAL_FAILURE(ExpectSameDirect(MixedBytes(random, 1 + random.Next() % 24)));
  }
  // Too little room: 0, and nothing written past it; a measure of 0 length or a null text: 0.
  char out[8] = "#######";
  EXPECT_EQ(ByRoute("a\xD6\xD0", 3, out, 3), 0);
  EXPECT_EQ(std::string(out + 3, 4), "####");
  EXPECT_EQ(ByRoute("a\xD6\xD0", 3, out, 4), 4);
  EXPECT_EQ(std::string(out, 4), "a\xE4\xB8\xAD");
  EXPECT_EQ(ByRoute("a\xD6\xD0", 0, nullptr, 0), 0);
  EXPECT_EQ(ByRoute(nullptr, 3, nullptr, 0), 0);
}

TEST(CodepageTable, OnlyTableCodesetsHaveARoute) {
  for (const char* name : {testlocale::kUtf8, testlocale::kCp1252, "C"}) {
    CtypeLocale locale(name);
    VX_REQUIRE_LOCALE(locale);
    EXPECT_EQ(DirectAnsiToUtf8().convert, nullptr) << name;
  }
}

TEST(CodepageTable, ThreadsConvertingAtOnceAgree) {
  CtypeLocale locale(testlocale::kGbk);
  VX_REQUIRE_LOCALE(locale);
  const std::string bytes = "x\xD6\xD0\xCE\xC4y\x81";
  const std::u16string expected = u"x\u4E2D\u6587y?";  // a lead byte at the end: '?'
  std::vector<int> good(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        const auto wide = Convert(TableToWide, bytes);
        const auto narrow = Convert(TableToAnsi, expected);
        if (wide.text == expected && narrow.text == "x\xD6\xD0\xCE\xC4y?") ++good[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(good, std::vector<int>(4, 200));
}

}  // namespace
}  // namespace vx::platform

#endif
