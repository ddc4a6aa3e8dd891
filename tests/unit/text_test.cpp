// Code-page conversion and the ANSI <-> UTF-8 helpers, without JNI.
//
// The tests switch LC_CTYPE between zh_CN.GBK, en_US.UTF-8, en_US.CP1252 and C. On Windows
// the process has one ANSI code page, fixed from outside: each test needs at most one.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "base/alloc.h"
#include "ctype_locale.h"
#include "platform/platform.h"
#include "text/text.h"

namespace vx {
namespace {

using platform::CodePage;

using testlocale::kCp1252;
using testlocale::kGbk;
using testlocale::kUtf8;

// Disarms allocation fault injection when the test ends, however it ends.
struct AllocationFaultsOff {
  ~AllocationFaultsOff() {
    testing::FailAllocationAfter(0);
    testing::FailAllAllocations(false);
  }
};

// Measures, converts into exactly that room, and checks that the two calls agree.
std::u16string Wide(CodePage page, const std::string& bytes) {
  const int length = static_cast<int>(bytes.size());
  const int needed = platform::MultiByteToWide(page, bytes.data(), length, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  const int written = platform::MultiByteToWide(page, bytes.data(), length, out.data(), needed);
  EXPECT_EQ(written, needed) << "measuring and converting disagree";
  return out;
}

std::string Narrow(CodePage page, const std::u16string& units) {
  const int length = static_cast<int>(units.size());
  const int needed = platform::WideToMultiByte(page, units.data(), length, nullptr, 0);
  std::string out(static_cast<std::size_t>(needed), '\0');
  const int written = platform::WideToMultiByte(page, units.data(), length, out.data(), needed);
  EXPECT_EQ(written, needed) << "measuring and converting disagree";
  return out;
}

std::string ToUtf8(const char* ansi) {
  std::string out = "unset";
  EXPECT_TRUE(AnsiToUtf8(ansi, out));
  return out;
}

std::string ToAnsi(const char* utf8) {
  std::string out = "unset";
  EXPECT_TRUE(Utf8ToAnsi(utf8, out));
  return out;
}

struct Sample {
  std::string bytes;
  std::u16string units;
};

#if defined(_WIN32)
// The code page CTest started this run for (tests/unit/CMakeLists.txt) is the one the
// process has: otherwise every test of that code page would skip unnoticed.
TEST(AnsiCodePage, IsTheOneThisRunWasStartedFor) {
  if (testlocale::ExpectedCodePage() == 0) GTEST_SKIP() << "VX_TEST_ACP is not set";
  VX_EXPECT_RUN_CODE_PAGE();
}
#endif

// ---- UTF-8 <-> UTF-16 ----------------------------------------------------------------

TEST(CodePageUtf8, ConvertsWorkedExamplesBothWays) {
  const Sample samples[] = {
      {"A", u"A"},
      {"\x7F", u"\x7F"},
      {"\xC2\x80", u"\x0080"},
      {"\xC3\xA9", u"\u00E9"},
      {"\xDF\xBF", u"\u07FF"},
      {"\xE0\xA0\x80", u"\u0800"},
      {"\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587"},
      {"\xEF\xBF\xBD", u"\uFFFD"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF0\x90\x80\x80", {0xD800, 0xDC00}},
      {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
      {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},
      {"a\xC3\xA9z\xF0\x9F\x98\x80!", {u'a', 0x00E9, u'z', 0xD83D, 0xDE00, u'!'}},
      {std::string("x\0y", 3), std::u16string(u"x\0y", 3)},  // explicit lengths carry NULs
  };
  for (const Sample& sample : samples) {
    EXPECT_EQ(Wide(CodePage::Utf8, sample.bytes), sample.units) << sample.bytes;
    EXPECT_EQ(Narrow(CodePage::Utf8, sample.units), sample.bytes) << sample.bytes;
  }
}

#if defined(_WIN32)
// Each run of U+FFFD as one: what is left is where the invalid stretches are and the valid
// characters between them.
std::u16string OneReplacementPerRun(const std::u16string& units) {
  std::u16string out;
  for (char16_t unit : units) {
    if (unit != 0xFFFD || out.empty() || out.back() != 0xFFFD) out.push_back(unit);
  }
  return out;
}
#endif

TEST(CodePageUtf8, InvalidBytesBecomeOneReplacementPerMaximalSubpart) {
  const Sample samples[] = {
      {"\x80", u"\uFFFD"},  // stray trail byte
      {"a\xBFz", u"a\uFFFDz"},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},  // C0/C1 never start a sequence
      {"\xC1\xBF", u"\uFFFD\uFFFD"},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF5\x80", u"\uFFFD\uFFFD"},
      {"\xFF\xFE", u"\uFFFD\uFFFD"},
      {"\xE2\x82", u"\uFFFD"},    // truncated at the end
      {"\xE2\x82Z", u"\uFFFDZ"},  // truncated, then ASCII
      {"\xF0\x9F\x98", u"\uFFFD"},
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", {0xFFFD, 0xD83D, 0xDE00}},
      {"\xC3\xC3\xA9", u"\uFFFD\u00E9"},
  };
  for (const Sample& sample : samples) {
#if defined(_WIN32)
    // Windows decides for itself how many U+FFFD an invalid stretch gives (one per byte for
    // some); it guarantees that there is one, and that the valid characters around survive.
    EXPECT_EQ(OneReplacementPerRun(Wide(CodePage::Utf8, sample.bytes)),
              OneReplacementPerRun(sample.units))
        << ::testing::PrintToString(sample.bytes);
#else
    EXPECT_EQ(Wide(CodePage::Utf8, sample.bytes), sample.units)
        << ::testing::PrintToString(sample.bytes);
#endif
  }
}

TEST(CodePageUtf8, LoneSurrogatesEncodeAsReplacement) {
  const Sample samples[] = {
      {"\xEF\xBF\xBD", {0xD800}},
      {"\xEF\xBF\xBD", {0xDFFF}},
      {"a\xEF\xBF\xBDz", {u'a', 0xDC00, u'z'}},
      {"a\xEF\xBF\xBD", {u'a', 0xD83D}},               // high surrogate at the end
      {"\xEF\xBF\xBD\xEF\xBF\xBD", {0xDE00, 0xD83D}},  // pair in the wrong order
      {"\xEF\xBF\xBD\xF0\x9F\x98\x80", {0xD83D, 0xD83D, 0xDE00}},
  };
  for (const Sample& sample : samples) {
    EXPECT_EQ(Narrow(CodePage::Utf8, sample.units), sample.bytes);
  }
}

// ---- The measure / convert contract ----------------------------------------------------

// Runs the contract checks for one code page in the current locale.
void CheckContract(CodePage page, const std::string& bytes) {
  const int length = static_cast<int>(bytes.size());
  const int units = platform::MultiByteToWide(page, bytes.data(), length, nullptr, 0);
  ASSERT_GT(units, 1);
  std::u16string wide = Wide(page, bytes);

  // Too little room: 0, and nothing written past the capacity given.
  std::vector<char16_t> small(static_cast<std::size_t>(units) + 4, u'\xAAAA');
  const int partial =
      platform::MultiByteToWide(page, bytes.data(), length, small.data(), units - 1);
#if defined(_WIN32)
  // Windows (Wine at least) returns what fits when the room ends inside a surrogate pair;
  // the bridge never gets there, as it always measures first.
  const bool splitsPair = wide[static_cast<std::size_t>(units) - 1] >= 0xDC00 &&
                          wide[static_cast<std::size_t>(units) - 1] <= 0xDFFF;
  if (!splitsPair) {
    EXPECT_EQ(partial, 0);
  }
#else
  EXPECT_EQ(partial, 0);
#endif
  for (std::size_t i = static_cast<std::size_t>(units) - 1; i < small.size(); ++i) {
    EXPECT_EQ(small[i], u'\xAAAA') << "written past the capacity at " << i;
  }
  // More room than needed: the count written, the rest untouched.
  std::vector<char16_t> large(static_cast<std::size_t>(units) + 4, u'\xAAAA');
  EXPECT_EQ(platform::MultiByteToWide(page, bytes.data(), length, large.data(), units + 4), units);
  EXPECT_EQ(std::u16string(large.data(), static_cast<std::size_t>(units)), wide);
  EXPECT_EQ(large[static_cast<std::size_t>(units)], u'\xAAAA');

  const int count = platform::WideToMultiByte(page, wide.data(), units, nullptr, 0);
  ASSERT_GT(count, 1);
  std::vector<char> narrow(static_cast<std::size_t>(count) + 4, '\x55');
  EXPECT_EQ(platform::WideToMultiByte(page, wide.data(), units, narrow.data(), count - 1), 0);
  for (std::size_t i = static_cast<std::size_t>(count) - 1; i < narrow.size(); ++i) {
    EXPECT_EQ(narrow[i], '\x55') << "written past the capacity at " << i;
  }
  EXPECT_EQ(platform::WideToMultiByte(page, wide.data(), units, narrow.data(), count + 4), count);
  EXPECT_EQ(std::string(narrow.data(), static_cast<std::size_t>(count)), bytes);

  // Argument errors, as Windows treats them.
  char16_t unit[4];
  char byte[4];
  EXPECT_EQ(platform::MultiByteToWide(page, nullptr, 3, nullptr, 0), 0);
  EXPECT_EQ(platform::MultiByteToWide(page, bytes.data(), 0, nullptr, 0), 0);
  EXPECT_EQ(platform::MultiByteToWide(page, bytes.data(), -2, nullptr, 0), 0);
  EXPECT_EQ(platform::MultiByteToWide(page, bytes.data(), length, unit, -1), 0);
  EXPECT_EQ(platform::MultiByteToWide(page, bytes.data(), length, nullptr, 4), 0);
  EXPECT_EQ(platform::WideToMultiByte(page, nullptr, 3, nullptr, 0), 0);
  EXPECT_EQ(platform::WideToMultiByte(page, wide.data(), 0, nullptr, 0), 0);
  EXPECT_EQ(platform::WideToMultiByte(page, wide.data(), units, byte, -1), 0);
  EXPECT_EQ(platform::WideToMultiByte(page, wide.data(), units, nullptr, 4), 0);
  // Length -1: up to and including the terminator.
  EXPECT_EQ(platform::MultiByteToWide(page, bytes.c_str(), -1, nullptr, 0), units + 1);
  EXPECT_EQ(platform::WideToMultiByte(page, wide.c_str(), -1, nullptr, 0), count + 1);
}

// Each text once ending in ASCII and once in its widest character, so that the character
// that does not fit is of each kind.
TEST(CodePageContract, Utf8) {
  CheckContract(CodePage::Utf8, "ab\xE4\xB8\xAD\xF0\x9F\x98\x80xy");
  CheckContract(CodePage::Utf8, "ab\xE4\xB8\xAD");
  CheckContract(CodePage::Utf8, "ab\xF0\x9F\x98\x80");
}

TEST(CodePageContract, Gbk) {
  VX_USE_LOCALE(kGbk);
  CheckContract(CodePage::Ansi, "ab\xD6\xD0\xCE\xC4xy");
  CheckContract(CodePage::Ansi, "ab\xD6\xD0\xCE\xC4");
}

TEST(CodePageContract, Cp1252) {
  VX_USE_LOCALE(kCp1252);
  CheckContract(CodePage::Ansi, "ab\x80\xE9xy");
  CheckContract(CodePage::Ansi, "ab\x80\xE9");
}

TEST(CodePageContract, CLocale) {
  VX_USE_LOCALE("C");
  CheckContract(CodePage::Ansi, "plain ascii");
}

// ---- ANSI codesets -------------------------------------------------------------------

TEST(CodePageAnsi, Gbk) {
  VX_USE_LOCALE(kGbk);
  EXPECT_FALSE(platform::AnsiIsUtf8());
  const Sample samples[] = {
      {"\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
      {"code=600000.SH \xD6\xD0", u"code=600000.SH \u4E2D"},
      {"\x80", u"\u20AC"},  // the euro sign, as in code page 936
      {"\xA1\xA1", u"\u3000"},
  };
  for (const Sample& sample : samples) {
    EXPECT_EQ(Wide(CodePage::Ansi, sample.bytes), sample.units);
    EXPECT_EQ(Narrow(CodePage::Ansi, sample.units), sample.bytes);
  }
  // What GBK lacks becomes '?' (kUnmappedNonBmp outside the BMP); a lone surrogate too.
  const std::string emoji = testlocale::kUnmappedNonBmp;
  EXPECT_EQ(Narrow(CodePage::Ansi, u"a\u0E10b"), "a?b");
  EXPECT_EQ(Narrow(CodePage::Ansi, u"x\U0001F600y"), "x" + emoji + "y");
  EXPECT_EQ(Narrow(CodePage::Ansi, u"\U0001F600\U0001F600\u4E2D"), emoji + emoji + "\xD6\xD0");
  EXPECT_EQ(Narrow(CodePage::Ansi, {0xD800, u'z'}), "?z");
  EXPECT_EQ(Narrow(CodePage::Ansi, {u'z', 0xDC00}), "z?");
  EXPECT_EQ(Narrow(CodePage::Ansi, {0x4E2D, 0xD83D}), "\xD6\xD0?");
  EXPECT_EQ(Narrow(CodePage::Ansi, u"\uFEFF"), "?");
  // A lead byte without a trail that belongs to it: one '?' for the lead and that byte,
  // whatever it is (a space, a quote, a newline), unless it is NUL; a lead at the end: '?'.
  // Windows decides this (Wine agrees); the POSIX conversions follow it.
  EXPECT_EQ(Wide(CodePage::Ansi, "\x81\x30x"), u"?x");
  EXPECT_EQ(Wide(CodePage::Ansi, "a\xD6"), u"a?");
  EXPECT_EQ(Wide(CodePage::Ansi, "\xD6 \xD6\xD0"), u"?\u4E2D");
  EXPECT_EQ(Wide(CodePage::Ansi, "\x81\x7F\x81\xFF\x81\"\x81\n."), u"????.");
  EXPECT_EQ(Wide(CodePage::Ansi, std::string("\x81\0x", 3)), std::u16string(u"?\0x", 3));
  // Windows' 936 gives 0xFF a private-use character and takes it back, where GBK as iconv
  // has it knows no 0xFF at all; the POSIX conversions follow Windows.
  EXPECT_EQ(Wide(CodePage::Ansi, "a\xFFz"), u"a\uF8F5z");
  EXPECT_EQ(Narrow(CodePage::Ansi, u"a\uF8F5z"), "a\xFFz");
  EXPECT_EQ(Wide(CodePage::Ansi, "\xFF\x80\xD6\xD0\xFF"), u"\uF8F5\u20AC\u4E2D\uF8F5");
  EXPECT_EQ(Narrow(CodePage::Ansi, u"\u4E2D\uF8F5\u20AC"), "\xD6\xD0\xFF\x80");
  // Its neighbours in the private-use area stay unmapped.
  EXPECT_EQ(Narrow(CodePage::Ansi, u"\uF8F4\uF8F6"), "??");
}

TEST(CodePageAnsi, Cp1252) {
  VX_USE_LOCALE(kCp1252);
  EXPECT_FALSE(platform::AnsiIsUtf8());
  EXPECT_EQ(Wide(CodePage::Ansi, "\x80\xE9\x9F"), u"\u20AC\u00E9\u0178");
  EXPECT_EQ(Narrow(CodePage::Ansi, u"\u20AC\u00E9\u0178"), "\x80\xE9\x9F");
  EXPECT_EQ(Narrow(CodePage::Ansi, u"caf\u00E9 \u4E2D"), "caf\xE9 ?");
#if defined(_WIN32)
  // Windows gives the five bytes code page 1252 leaves unassigned the C1 controls of the
  // same value.
  EXPECT_EQ(Wide(CodePage::Ansi, "a\x81\x8D\x8F\x90\x9Dz"), u"a\u0081\u008D\u008F\u0090\u009Dz");
#else
  EXPECT_EQ(Wide(CodePage::Ansi, "a\x81z"), u"a\uFFFDz");  // 0x81 is unassigned
#endif
}

TEST(CodePageAnsi, CLocaleIsAscii) {
  VX_USE_LOCALE("C");
  EXPECT_FALSE(platform::AnsiIsUtf8());
  EXPECT_EQ(Wide(CodePage::Ansi, "plain"), u"plain");
  EXPECT_EQ(Wide(CodePage::Ansi, "caf\xC3\xA9"), u"caf\uFFFD\uFFFD");
  EXPECT_EQ(Narrow(CodePage::Ansi, u"caf\u00E9\U0001F600."), "caf??.");
  // UTF-8 is UTF-8 whatever the locale.
  EXPECT_EQ(Wide(CodePage::Utf8, "caf\xC3\xA9"), u"caf\u00E9");
}

TEST(CodePageAnsi, Utf8LocaleUsesUtf8) {
  VX_USE_LOCALE(kUtf8);
  EXPECT_TRUE(platform::AnsiIsUtf8());
  const std::string bytes = "a\xE4\xB8\xAD\xF0\x9F\x98\x80\xFF";
  EXPECT_EQ(Wide(CodePage::Ansi, bytes), Wide(CodePage::Utf8, bytes));
  EXPECT_EQ(Narrow(CodePage::Ansi, {u'a', 0xD800, 0x4E2D}), "a\xEF\xBF\xBD\xE4\xB8\xAD");
}

TEST(CodePageAnsi, FollowsLocaleChangesOnOneThread) {
#if defined(_WIN32)
  GTEST_SKIP() << "the ANSI code page of a Windows process never changes";
#endif
  // The descriptors a thread caches belong to one codeset: a locale change must not reuse
  // them for the next one.
  for (int round = 0; round < 2; ++round) {
    {
      VX_USE_LOCALE(kGbk);
      EXPECT_EQ(Narrow(CodePage::Ansi, u"\u4E2D"), "\xD6\xD0");
      EXPECT_EQ(Wide(CodePage::Ansi, "\xE9"), u"?");  // a lead byte without its trail
    }
    {
      VX_USE_LOCALE(kCp1252);
      EXPECT_EQ(Narrow(CodePage::Ansi, u"\u4E2D"), "?");
      EXPECT_EQ(Wide(CodePage::Ansi, "\xE9"), u"\u00E9");
    }
  }
}

TEST(CodePageAnsi, ThreadsConvertConcurrently) {
  VX_USE_LOCALE(kGbk);
  const std::string gbk = "600000.SH,\xD6\xD0\xCE\xC4,\xA1\xA1,x";
  const std::u16string wide = u"600000.SH,\u4E2D\u6587,\u3000,x";
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        char16_t units[64];
        char bytes[64];
        const int n = platform::MultiByteToWide(CodePage::Ansi, gbk.data(),
                                                static_cast<int>(gbk.size()), units, 64);
        const int m = platform::WideToMultiByte(CodePage::Ansi, wide.data(),
                                                static_cast<int>(wide.size()), bytes, 64);
        if (std::u16string(units, static_cast<std::size_t>(n)) != wide ||
            std::string(bytes, static_cast<std::size_t>(m)) != gbk) {
          ++mismatches;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// ---- AnsiToUtf8 / Utf8ToAnsi ---------------------------------------------------------

TEST(AnsiUtf8, NullAndEmptyGiveEmptyAndTrue) {
  VX_USE_LOCALE(kGbk);
  for (const char* input : {static_cast<const char*>(nullptr), ""}) {
    std::string out = "previous";
    EXPECT_TRUE(AnsiToUtf8(input, out));
    EXPECT_EQ(out, "");
    out = "previous";
    EXPECT_TRUE(Utf8ToAnsi(input, out));
    EXPECT_EQ(out, "");
  }
}

TEST(AnsiUtf8, Utf8Locale) {
  VX_USE_LOCALE(kUtf8);
  EXPECT_EQ(ToUtf8("\xE4\xB8\xAD\xE6\x96\x87"), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(ToAnsi("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
  // Identity only on valid text: bad bytes come back as U+FFFD.
  EXPECT_EQ(ToUtf8("a\xFFz"), "a\xEF\xBF\xBDz");
#if defined(_WIN32)
  // Windows decides how many U+FFFD an encoded surrogate gives (two under Wine).
  const std::string surrogate = ToAnsi("\xED\xA0\x80");
  ASSERT_FALSE(surrogate.empty());
  EXPECT_LE(surrogate.size(), 9u);
  for (std::size_t at = 0; at < surrogate.size(); at += 3) {
    EXPECT_EQ(surrogate.substr(at, 3), "\xEF\xBF\xBD") << ::testing::PrintToString(surrogate);
  }
#else
  EXPECT_EQ(ToAnsi("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
#endif
}

TEST(AnsiUtf8, GbkRoundTrip) {
  VX_USE_LOCALE(kGbk);
  EXPECT_EQ(ToUtf8("\xD6\xD0\xCE\xC4"), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(ToAnsi("\xE4\xB8\xAD\xE6\x96\x87"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(ToUtf8("ab \xD6\xD0 cd"), "ab \xE4\xB8\xAD cd");
  EXPECT_EQ(ToAnsi(ToUtf8("ab \xD6\xD0 cd").c_str()), "ab \xD6\xD0 cd");
  // The single bytes as Windows' 936 has them, both ways and on the long road too.
  EXPECT_EQ(ToUtf8("\x80\xFF"), "\xE2\x82\xAC\xEF\xA3\xB5");
  EXPECT_EQ(ToAnsi("\xE2\x82\xAC\xEF\xA3\xB5"), "\x80\xFF");
  const std::string padding(kStackTextBytes, 'a');
  EXPECT_EQ(ToUtf8((padding + "\xFF").c_str()), padding + "\xEF\xA3\xB5");
  EXPECT_EQ(ToAnsi((padding + "\xEF\xA3\xB5").c_str()), padding + "\xFF");
}

// Broken lead bytes give the same UTF-8 on Windows and POSIX, on the stack and on the long
// road: '?' for a lead and the byte it swallows, '?' for a lead at the end.
TEST(AnsiUtf8, BrokenGbkLeadBytes) {
  VX_USE_LOCALE(kGbk);
  EXPECT_EQ(ToUtf8("\x81\x30x"), "?x");
  EXPECT_EQ(ToUtf8("\xD6\xD0\xD6 z\xD6"), "\xE4\xB8\xAD?z?");
  const std::string tail = "\x81\x30x\xD6";
  const std::string padding(kStackTextBytes, 'a');
  EXPECT_EQ(ToUtf8((padding + tail).c_str()), padding + "?x?");
}

TEST(AnsiUtf8, EveryGbkCharacterRoundTrips) {
  VX_USE_LOCALE(kGbk);
  // Every double-byte code GBK assigns, and the euro sign, in one text.
  std::string all = "\x80";
  int characters = 1;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      char16_t unit[2];
      if (platform::MultiByteToWide(CodePage::Ansi, pair, 2, unit, 2) == 1 && unit[0] != 0xFFFD &&
          unit[0] != u'?') {  // a lead with a trail that is not its own
        all.append(pair, 2);
        ++characters;
      }
    }
  }
  EXPECT_GT(characters, 21000);  // GBK assigns 21886 double-byte codes
  const std::string utf8 = ToUtf8(all.c_str());
  EXPECT_GT(utf8.size(), all.size());
  EXPECT_EQ(ToAnsi(utf8.c_str()), all);
}

TEST(AnsiUtf8, EveryCp1252CharacterRoundTrips) {
  VX_USE_LOCALE(kCp1252);
  std::string all;
  for (int byte = 0x01; byte <= 0xFF; ++byte) {
    const char c = static_cast<char>(byte);
    char16_t unit;
    if (platform::MultiByteToWide(CodePage::Ansi, &c, 1, &unit, 1) == 1 && unit != 0xFFFD) {
      all.push_back(c);
    }
  }
#if defined(_WIN32)
  EXPECT_EQ(all.size(), 255u);  // 81 8D 8F 90 9D too, as C1 controls
#else
  EXPECT_EQ(all.size(), 250u);  // all but 81 8D 8F 90 9D
#endif
  EXPECT_EQ(ToAnsi(ToUtf8(all.c_str()).c_str()), all);
}

TEST(AnsiUtf8, UnmappableBecomesDefaultCharacterInGbk) {
  VX_USE_LOCALE(kGbk);
  EXPECT_EQ(ToAnsi("a\xE0\xB8\x90z"), "a?z");  // U+0E10
  EXPECT_EQ(ToAnsi("\xF0\x9F\x98\x80\xE4\xB8\xAD"),
            std::string(testlocale::kUnmappedNonBmp) + "\xD6\xD0");  // U+1F600
}

TEST(AnsiUtf8, UnmappableBecomesDefaultCharacterInCp1252) {
  VX_USE_LOCALE(kCp1252);
  EXPECT_EQ(ToAnsi("caf\xC3\xA9 \xE4\xB8\xAD"), "caf\xE9 ?");
}

TEST(AnsiUtf8, CLocaleIsAscii) {
  VX_USE_LOCALE("C");
  EXPECT_EQ(ToAnsi("caf\xC3\xA9"), "caf?");
  EXPECT_EQ(ToUtf8("caf\xE9"), "caf\xEF\xBF\xBD");
}

TEST(AnsiUtf8, EmbeddedNulEndsTheText) {
  VX_USE_LOCALE(kGbk);
  const std::string ansi("\xD6\xD0\0\xCE\xC4", 5);
  EXPECT_EQ(ToUtf8(ansi.c_str()), "\xE4\xB8\xAD");
  const std::string utf8("\xE4\xB8\xAD\0\xE6\x96\x87", 7);
  EXPECT_EQ(ToAnsi(utf8.c_str()), "\xD6\xD0");
}

TEST(AnsiUtf8, InvalidUtf8BecomesDefaultCharacterInGbk) {
  VX_USE_LOCALE(kGbk);
  // U+FFFD is not in GBK either: each bad subpart ends up as one '?'.
  EXPECT_EQ(ToAnsi("a\xFF\xE4\xB8z\xE4\xB8\xAD"), "a??z\xD6\xD0");
}

// `unit` repeated until the text is longer than the conversions take on the stack.
std::string LongerThanStack(const std::string& unit) {
  std::string text;
  while (text.size() <= kStackTextBytes) text += unit;
  return text;
}

// `unit` repeated `count` times.
std::string Repeated(const std::string& unit, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += unit;
  return text;
}

TEST(AnsiUtf8, LongTextAllocationFailureLeavesOutputUntouched) {
  VX_USE_LOCALE(kGbk);
  AllocationFaultsOff disarm;
  const std::string gbk = LongerThanStack("\xD6\xD0");
  const std::string utf8 = LongerThanStack("\xE4\xB8\xAD");
  for (std::uint64_t failing = 1; failing <= 2; ++failing) {
    SCOPED_TRACE(failing == 1 ? "UTF-16 buffer" : "byte buffer");
    std::string out = "previous";
    testing::FailAllocationAfter(failing);
    EXPECT_FALSE(AnsiToUtf8(gbk.c_str(), out));
    EXPECT_EQ(out, "previous");
    testing::FailAllocationAfter(failing);
    EXPECT_FALSE(Utf8ToAnsi(utf8.c_str(), out));
    EXPECT_EQ(out, "previous");
  }
  testing::FailAllocationAfter(0);
  // A long conversion takes exactly its two buffers.
  std::string out;
  const std::uint64_t before = testing::AllocationCount();
  EXPECT_TRUE(AnsiToUtf8(gbk.c_str(), out));
  EXPECT_EQ(testing::AllocationCount() - before, 2u);
  EXPECT_EQ(out, Repeated("\xE4\xB8\xAD", gbk.size() / 2));
}

TEST(AnsiUtf8, ShortAndAsciiTextsAllocateNothingAndCannotFail) {
  VX_USE_LOCALE(kGbk);
  AllocationFaultsOff disarm;
  testing::FailAllAllocations(true);
  const std::uint64_t before = testing::AllocationCount();
  std::string out = "previous";
  EXPECT_TRUE(AnsiToUtf8("600000.SH,000001.SZ", out));
  EXPECT_EQ(out, "600000.SH,000001.SZ");
  EXPECT_TRUE(Utf8ToAnsi("close,open\x7F", out));
  EXPECT_EQ(out, "close,open\x7F");
  const std::string longAscii = LongerThanStack("600000.SH,");
  EXPECT_TRUE(AnsiToUtf8(longAscii.c_str(), out));
  EXPECT_EQ(out, longAscii);
  // Other text up to the stack's size, both ways.
  EXPECT_TRUE(AnsiToUtf8("600000.SH\xD6\xD0", out));
  EXPECT_EQ(out, "600000.SH\xE4\xB8\xAD");
  const std::string fullGbk = Repeated("\xD6\xD0", kStackTextBytes / 2);
  EXPECT_TRUE(AnsiToUtf8(fullGbk.c_str(), out));
  EXPECT_EQ(out, Repeated("\xE4\xB8\xAD", kStackTextBytes / 2));
  const std::string fullUtf8 = Repeated("\xE4\xB8\xAD", kStackTextBytes / 3) + "ab";
  ASSERT_EQ(fullUtf8.size(), kStackTextBytes);
  EXPECT_TRUE(Utf8ToAnsi(fullUtf8.c_str(), out));
  EXPECT_EQ(out, Repeated("\xD6\xD0", kStackTextBytes / 3) + "ab");
  EXPECT_EQ(testing::AllocationCount(), before);
  // One byte more takes the converting road through scratch buffers, which can fail.
  out = "previous";
  EXPECT_FALSE(AnsiToUtf8((fullGbk + "a").c_str(), out));
  EXPECT_FALSE(Utf8ToAnsi((fullUtf8 + "a").c_str(), out));
  EXPECT_EQ(out, "previous");
}

// What a conversion must give: measure, convert into exactly that room, both steps, and the
// result up to its first NUL, as the scratch buffers give it.
std::string TwoSteps(CodePage from, CodePage to, const std::string& text) {
  const std::u16string wide = Wide(from, text);
  if (wide.empty()) return std::string();
  return std::string(Narrow(to, wide).c_str());
}

// The platform's route over a text that AnsiToUtf8 gave `utf8` for: the same measure, the
// same bytes in plenty of room, in exactly that room, and 0 in one byte less, never
// writing past the room it was given.
void CheckRoute(const std::string& text, const std::string& utf8) {
  const platform::AnsiToUtf8Route route = platform::AnsiToUtf8RouteForThread();
  ASSERT_NE(route.convert, nullptr);
  const int length = static_cast<int>(text.size());
  const int size = static_cast<int>(utf8.size());
  ASSERT_EQ(route.convert(route.state, text.data(), length, nullptr, 0), size);
  for (const int room : {3 * length + 8, size, size - 1}) {
    if (room == 0) continue;  // capacity 0 measures
    std::string out(static_cast<std::size_t>(3 * length + 8), '\x55');
    const int written = route.convert(route.state, text.data(), length, &out[0], room);
    const auto kept = static_cast<std::size_t>(room);
    EXPECT_EQ(out.substr(kept), std::string(out.size() - kept, '\x55')) << "room " << room;
    if (room < size) {
      EXPECT_EQ(written, 0) << "room " << room;
    } else {
      EXPECT_EQ(written, size) << "room " << room;
      EXPECT_EQ(out.substr(0, utf8.size()), utf8) << "room " << room;
    }
  }
}

// Texts of every length up to a little past the stack's size, of bytes likely to form
// characters, broken ones and bad bytes in every code page: each short conversion gives
// what the two steps give, on either side of the size limit.
void CheckShortAgainstTwoSteps() {
  std::uint32_t state = 2024;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  const std::vector<std::string> pieces = {"a",
                                           "7",
                                           "\xD6\xD0",
                                           "\xCE\xC4",
                                           "\x81",
                                           "\xFF",
                                           "\xE4\xB8\xAD",
                                           "\xC3\xA9",
                                           "\xF0\x9F\x98\x80",
                                           "\xED\xA0\x80",
                                           "\x80",
                                           "\xE9"};
  for (std::size_t target = 1; target <= kStackTextBytes + 8;
       target += target < 40 || target + 16 > kStackTextBytes ? 1 : 29) {
    std::string text;
    while (text.size() < target) text += pieces[next() % pieces.size()];
    text.resize(target);
    std::string utf8;
    ASSERT_TRUE(AnsiToUtf8(text.c_str(), utf8));
    ASSERT_EQ(utf8, TwoSteps(CodePage::Ansi, CodePage::Utf8, text)) << "ANSI text of " << target;
    if (target <= kStackTextBytes) {
      ASSERT_NO_FATAL_FAILURE(CheckRoute(text, utf8)) << "ANSI text of " << target;
    }
    std::string ansi;
    ASSERT_TRUE(Utf8ToAnsi(text.c_str(), ansi));
    ASSERT_EQ(ansi, TwoSteps(CodePage::Utf8, CodePage::Ansi, text)) << "UTF-8 text of " << target;
  }
}

TEST(AnsiUtf8, ShortTextsGiveWhatTheTwoStepsGive) {
  for (const char* locale : {kGbk, kUtf8, kCp1252, "C"}) {
    SCOPED_TRACE(locale);
    testlocale::CtypeLocale ctype(locale);
#if defined(_WIN32)
    if (!ctype.set()) continue;  // one code page per process
#else
    VX_REQUIRE_LOCALE(ctype);
#endif
    ASSERT_NO_FATAL_FAILURE(CheckShortAgainstTwoSteps());
  }
}

// ---- IsAscii -------------------------------------------------------------------------

TEST(IsAscii, FindsAHighByteAtEveryPosition) {
  char buffer[40];
  for (std::size_t offset = 0; offset < 8; ++offset) {  // every alignment of the start
    for (std::size_t length = 0; length <= 24; ++length) {
      char* text = buffer + offset;
      for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(0x7F - (i % 0x7F));
      buffer[offset + length] = '\x80';  // just past the end: must not be looked at
      EXPECT_TRUE(IsAscii(text, length)) << offset << "/" << length;
      for (std::size_t i = 0; i < length; ++i) {
        const char saved = text[i];
        text[i] = (i % 2 == 0) ? '\x80' : '\xFF';
        EXPECT_FALSE(IsAscii(text, length)) << offset << "/" << length << " at " << i;
        text[i] = saved;
      }
    }
  }
  EXPECT_TRUE(IsAscii(nullptr, 0));
}

TEST(IsAscii, PrefixEndsAtTheFirstHighByte) {
  char buffer[40];
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length = 0; length <= 24; ++length) {
      char* text = buffer + offset;
      for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(1 + (i % 0x7F));
      buffer[offset + length] = '\x80';  // just past the end: must not be looked at
      EXPECT_EQ(AsciiPrefix(text, length), length) << offset << "/" << length;
      for (std::size_t i = 0; i < length; ++i) {
        text[i] = '\xC0';
        if (i + 1 < length) text[i + 1] = '\x80';  // later high bytes do not move it
        EXPECT_EQ(AsciiPrefix(text, length), i) << offset << "/" << length << " at " << i;
        text[i] = static_cast<char>(1 + (i % 0x7F));
        if (i + 1 < length) text[i + 1] = static_cast<char>(1 + ((i + 1) % 0x7F));
      }
    }
  }
}

}  // namespace
}  // namespace vx
