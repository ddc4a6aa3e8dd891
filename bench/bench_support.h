// Shared pieces of the native benchmarks: the LC_CTYPE switch and the sample texts.
#pragma once

#include <clocale>
#include <string>

namespace vxbench {

// The double-byte ANSI code page of the GBK cases (scripts/make-test-locales.sh builds it).
constexpr char kGbkLocale[] = "zh_CN.GBK";

// "浦发银行" in GBK (8 bytes) and in UTF-8 (12 bytes).
constexpr char kGbkWord[] = "\xC6\xD6\xB7\xA2\xD2\xF8\xD0\xD0";
constexpr char kUtf8Word[] = "\xE6\xB5\xA6\xE5\x8F\x91\xE9\x93\xB6\xE8\xA1\x8C";
// "浦发" alone, in GBK and in UTF-8.
constexpr char kGbkPrefix[] = "\xC6\xD6\xB7\xA2";
constexpr char kUtf8Prefix[] = "\xE6\xB5\xA6\xE5\x8F\x91";

// LC_CTYPE, and with it the ANSI code page, set process-wide for one scope.
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

// `unit` written `count` times.
inline std::string Repeat(const std::string& unit, std::size_t count) {
  std::string text;
  text.reserve(unit.size() * count);
  for (std::size_t i = 0; i < count; ++i) text += unit;
  return text;
}

}  // namespace vxbench
