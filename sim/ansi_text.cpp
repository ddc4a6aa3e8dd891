#include "ansi_text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <cerrno>
#endif

#include <algorithm>
#include <cstddef>

namespace vx::sim {

namespace {

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

#if !defined(_WIN32)

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

// One conversion descriptor per thread, kept while the thread's codeset stays the same.
class Converter {
 public:
  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter() { Close(); }

  // Null when the codeset has no converter.
  iconv_t For(const char* codeset) {
    if (m_codeset != codeset) {
      Close();
      m_codeset = codeset;
      m_handle = iconv_open(codeset, "UTF-8");
    }
    return m_handle == Invalid() ? nullptr : m_handle;
  }

 private:
  static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }
  void Close() {
    if (m_handle != Invalid()) iconv_close(m_handle);
    m_handle = Invalid();
  }

  std::string m_codeset;
  iconv_t m_handle = Invalid();
};

// Converts one character; false when the codeset cannot hold it.
bool ConvertOne(iconv_t handle, std::string_view character, std::string& out) {
  char buffer[16];
  char* in = const_cast<char*>(character.data());
  std::size_t inLeft = character.size();
  char* next = buffer;
  std::size_t outLeft = sizeof buffer;
  iconv(handle, nullptr, nullptr, nullptr, nullptr);  // initial shift state
  if (iconv(handle, &in, &inLeft, &next, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) {
    return false;
  }
  // Back to the initial shift state, for stateful codesets.
  if (iconv(handle, nullptr, nullptr, &next, &outLeft) == static_cast<std::size_t>(-1)) {
    return false;
  }
  out.append(buffer, static_cast<std::size_t>(next - buffer));
  return true;
}

#endif

}  // namespace

std::string Utf8ToAnsiText(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
#if defined(_WIN32)
  const int units =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), units);
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr,
                                        0, "?", nullptr);
  std::string ansi(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, ansi.data(), bytes, "?",
                      nullptr);
  return ansi;
#else
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr &&
      (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0)) {
    return std::string(utf8);
  }
  thread_local Converter converter;
  const iconv_t handle = codeset != nullptr ? converter.For(codeset) : nullptr;
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    if (static_cast<unsigned char>(utf8[0]) < 0x80) {
      out += utf8[0];
      utf8.remove_prefix(1);
      continue;
    }
    const std::size_t length = SequenceLength(utf8);
    if (length == 0) {
      out += '?';
      utf8.remove_prefix(1);
      continue;
    }
    if (handle == nullptr || !ConvertOne(handle, utf8.substr(0, length), out)) out += '?';
    utf8.remove_prefix(length);
  }
  return out;
#endif
}

}  // namespace vx::sim
