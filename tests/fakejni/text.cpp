// UTF-16 <-> (modified) UTF-8 the way the JVM converts Java strings.
#include "fakejni.h"

namespace vx::fakejni {
namespace {

void Put3(std::string& out, char32_t c) {
  out += static_cast<char>(0xE0 | (c >> 12));
  out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (c & 0x3F));
}

void PutUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    Put3(out, c);
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsHigh(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string ToModifiedUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) {
    const char32_t c = unit;
    if (c == 0) {
      out += '\xC0';
      out += '\x80';
    } else {
      PutUtf8(out, c);  // a surrogate is below 0x10000: three bytes on its own
    }
  }
  return out;
}

// The JVM's decoder: one-, two- and three-byte forms (so C0 80 is U+0000 and surrogates come
// through one by one); any byte that starts no valid form becomes the char of its own value.
std::u16string FromModifiedUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned c = at(i);
    if (c < 0x80) {
      out += static_cast<char16_t>(c);
      i += 1;
      continue;
    }
    if ((c >> 4) == 0xC || (c >> 4) == 0xD) {
      if (i + 1 < bytes.size() && (at(i + 1) & 0xC0) == 0x80) {
        out += static_cast<char16_t>(((c & 0x1F) << 6) | (at(i + 1) & 0x3F));
        i += 2;
        continue;
      }
    } else if ((c >> 4) == 0xE) {
      if (i + 2 < bytes.size() && (at(i + 1) & 0xC0) == 0x80 && (at(i + 2) & 0xC0) == 0x80) {
        out += static_cast<char16_t>(((c & 0x0F) << 12) | ((at(i + 1) & 0x3F) << 6) |
                                     (at(i + 2) & 0x3F));
        i += 3;
        continue;
      }
    }
    out += static_cast<char16_t>(c);
    i += 1;
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (IsHigh(c) && i + 1 < text.size() && IsLow(text[i + 1])) {
      PutUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if (IsHigh(c) || IsLow(c)) {
      PutUtf8(out, 0xFFFD);
    } else {
      PutUtf8(out, c);
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
  std::size_t i = 0;
  while (i < utf8.size()) {
    const unsigned c = at(i);
    std::size_t n = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (c < 0x80) {
      n = 1;
      cp = c;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 2;
      cp = c & 0x1F;
      min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 3;
      cp = c & 0x0F;
      min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4;
      cp = c & 0x07;
      min = 0x10000;
    }
    bool ok = n != 0 && i + n <= utf8.size();
    for (std::size_t k = 1; ok && k < n; ++k) {
      if ((at(i + k) & 0xC0) != 0x80) {
        ok = false;
      } else {
        cp = (cp << 6) | (at(i + k) & 0x3F);
      }
    }
    if (ok && (cp < min || cp > 0x10FFFF || IsHigh(cp) || IsLow(cp))) ok = false;
    if (!ok) {
      out += u'\uFFFD';
      i += 1;
      continue;
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += n;
  }
  return out;
}

}  // namespace vx::fakejni
