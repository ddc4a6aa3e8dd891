// LC_CTYPE switching for tests of the ANSI code page. The locales come from
// scripts/make-test-locales.sh; a test that cannot set one fails rather than skips.
#pragma once

#include <clocale>
#include <string>

namespace vx::testlocale {

constexpr char kGbk[] = "zh_CN.GBK";
constexpr char kUtf8[] = "en_US.UTF-8";
constexpr char kCp1252[] = "en_US.CP1252";

// LC_CTYPE set for one scope; the previous value comes back afterwards.
class CtypeLocale {
 public:
  explicit CtypeLocale(const char* name) {
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    m_previous = previous != nullptr ? previous : "C";
    m_set = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~CtypeLocale() { std::setlocale(LC_CTYPE, m_previous.c_str()); }
  CtypeLocale(const CtypeLocale&) = delete;
  CtypeLocale& operator=(const CtypeLocale&) = delete;
  bool set() const { return m_set; }

 private:
  std::string m_previous;
  bool m_set;
};

}  // namespace vx::testlocale

// Sets LC_CTYPE until the end of the enclosing scope; fails the test when it cannot.
#define VX_USE_LOCALE(name)                            \
  ::vx::testlocale::CtypeLocale vx_ctype_locale(name); \
  ASSERT_TRUE(vx_ctype_locale.set())                   \
      << "locale " << (name) << " is missing: run scripts/make-test-locales.sh as root"
