// The narrow ("ANSI") code page for tests of text conversion.
//
// POSIX: LC_CTYPE is switched for one scope. The locales come from
// scripts/make-test-locales.sh; a test that cannot set one fails rather than skips.
//
// Windows: the ANSI code page is fixed for the whole process (under Wine it follows LC_ALL:
// en_US.UTF-8 gives 1252, zh_CN.UTF-8 936, hi_IN.UTF-8 65001), so "setting" a locale only
// checks that the process already runs with that locale's code page; a test that needs
// another one is skipped. CTest runs the unit tests once per code page
// (tests/unit/CMakeLists.txt) and names the code page each run expects in VX_TEST_ACP: when
// the process does not have it, the run itself is wrong, and the test fails instead of
// skipping.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdlib>
#endif

namespace vx::testlocale {

constexpr char kGbk[] = "zh_CN.GBK";
constexpr char kUtf8[] = "en_US.UTF-8";
constexpr char kCp1252[] = "en_US.CP1252";

// What a character outside the BMP becomes in an ANSI code page that lacks it: one default
// character per code point on POSIX, one per UTF-16 unit (two) on Windows.
#if defined(_WIN32)
constexpr char kUnmappedNonBmp[] = "??";
#else
constexpr char kUnmappedNonBmp[] = "?";
#endif

#if defined(_WIN32)

// The Windows code page that stands for a locale name; 0 for "C" and anything else: no
// Windows ANSI code page is plain ASCII.
inline unsigned CodePageOf(const std::string& name) {
  if (name == kGbk) return 936;
  if (name == kCp1252) return 1252;
  if (name == kUtf8) return CP_UTF8;
  return 0;
}

// The code page this run was started for (VX_TEST_ACP), or 0 when nobody said.
inline unsigned ExpectedCodePage() {
  const char* value = std::getenv("VX_TEST_ACP");
  return value != nullptr ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : 0;
}

// Fails the calling test when the process's code page is not the one the run was started
// for (a host without the Wine locale, or LC_ALL not passed on, would otherwise turn every
// test of that code page into a silent skip).
#define VX_EXPECT_RUN_CODE_PAGE()                                                           \
  do {                                                                                      \
    const unsigned vx_expected_acp = ::vx::testlocale::ExpectedCodePage();                  \
    if (vx_expected_acp != 0) {                                                             \
      ASSERT_EQ(::GetACP(), vx_expected_acp)                                                \
          << "this run expects ANSI code page " << vx_expected_acp                          \
          << " (VX_TEST_ACP): under Wine it follows LC_ALL, see tests/unit/CMakeLists.txt"; \
    }                                                                                       \
  } while (0)

// The process's code page checked against a locale's, for one scope.
class CtypeLocale {
 public:
  explicit CtypeLocale(const char* name)
      : m_name(name), m_wanted(CodePageOf(m_name)), m_actual(::GetACP()) {}
  CtypeLocale(const CtypeLocale&) = delete;
  CtypeLocale& operator=(const CtypeLocale&) = delete;
  bool set() const { return m_wanted != 0 && m_wanted == m_actual; }
  // Why set() is false.
  std::string why() const {
    if (m_wanted == 0) {
      return "locale " + m_name + " has no Windows ANSI code page";
    }
    return "locale " + m_name + " needs ANSI code page " + std::to_string(m_wanted) +
           ", this process has " + std::to_string(m_actual) +
           " (fixed per process: run with the matching LC_ALL under Wine)";
  }

 private:
  std::string m_name;
  unsigned m_wanted;
  unsigned m_actual;
};

// Skips the calling test unless the process's code page is the locale's.
#define VX_REQUIRE_LOCALE(locale)     \
  do {                                \
    if (!(locale).set()) {            \
      VX_EXPECT_RUN_CODE_PAGE();      \
      GTEST_SKIP() << (locale).why(); \
    }                                 \
  } while (0)

#else  // POSIX

// LC_CTYPE set for one scope; the previous value comes back afterwards.
class CtypeLocale {
 public:
  explicit CtypeLocale(const char* name) : m_name(name) {
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    m_previous = previous != nullptr ? previous : "C";
    m_set = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~CtypeLocale() { std::setlocale(LC_CTYPE, m_previous.c_str()); }
  CtypeLocale(const CtypeLocale&) = delete;
  CtypeLocale& operator=(const CtypeLocale&) = delete;
  bool set() const { return m_set; }
  // Why set() is false.
  std::string why() const {
    return "locale " + m_name + " is missing: run scripts/make-test-locales.sh as root";
  }

 private:
  std::string m_name;
  std::string m_previous;
  bool m_set;
};

// Fails the calling test when the locale could not be set.
#define VX_REQUIRE_LOCALE(locale) ASSERT_TRUE((locale).set()) << (locale).why()

#endif

}  // namespace vx::testlocale

// Sets LC_CTYPE until the end of the enclosing scope (POSIX), or checks that the process
// runs with the locale's code page (Windows); see above for what happens when it cannot.
#define VX_USE_LOCALE(name)                            \
  ::vx::testlocale::CtypeLocale vx_ctype_locale(name); \
  VX_REQUIRE_LOCALE(vx_ctype_locale)
