// The bridge's one ASCII scanner, a word at a time. Text that is all ASCII is the same in
// every ANSI code page and in UTF-8, so every conversion looks for it first. Plain code with
// nothing of the system in it; it sits at the bottom layer so that the code-page
// conversions underneath everything scan with it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vx {

namespace ascii_detail {
constexpr std::uint64_t kHighBits64 = 0x8080808080808080ull;
constexpr std::uint32_t kHighBits32 = 0x80808080u;

inline std::uint64_t Load64(const void* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof(word));
  return word;
}
inline std::uint32_t Load32(const void* at) {
  std::uint32_t word;
  std::memcpy(&word, at, sizeof(word));
  return word;
}
}  // namespace ascii_detail

// Length of the run of bytes below 0x80 that `text` starts with.
inline std::size_t AsciiPrefix(const char* text, std::size_t length) {
  std::size_t i = 0;
  for (; i + sizeof(std::uint64_t) <= length; i += sizeof(std::uint64_t)) {
    if ((ascii_detail::Load64(text + i) & ascii_detail::kHighBits64) != 0) break;
  }
  while (i < length && (static_cast<unsigned char>(text[i]) & 0x80) == 0) ++i;
  return i;
}

// True when every byte is below 0x80 (a null text has none). Texts of 4 to 16 bytes, most
// of them, are read as two words that overlap in the middle; longer ones a word at a time,
// the last word ending at the end.
inline bool IsAscii(const char* text, std::size_t length) {
  using ascii_detail::Load32;
  using ascii_detail::Load64;
  if (text == nullptr) return true;
  if (length > 16) {
    for (std::size_t i = 0; i + 8 < length; i += 8) {
      if ((Load64(text + i) & ascii_detail::kHighBits64) != 0) return false;
    }
    return (Load64(text + length - 8) & ascii_detail::kHighBits64) == 0;  // the last word
  }
  if (length >= 8) {
    return ((Load64(text) | Load64(text + length - 8)) & ascii_detail::kHighBits64) == 0;
  }
  if (length >= 4) {
    return ((Load32(text) | Load32(text + length - 4)) & ascii_detail::kHighBits32) == 0;
  }
  unsigned bits = 0;
  for (std::size_t i = 0; i < length; ++i) bits |= static_cast<unsigned char>(text[i]);
  return bits < 0x80;
}

// Length of a NUL-terminated text and whether all of it is ASCII.
struct TextScan {
  std::size_t length;
  bool ascii;
};
inline TextScan ScanText(const char* text) {
  const std::size_t length = std::strlen(text);
  return TextScan{length, IsAscii(text, length)};
}

}  // namespace vx
