// The AnsiToUtf8Route of the code pages without a quicker one, for win32/ and posix/: the
// two steps through UTF-16, on the stack. Internal to src/platform/.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/platform.h"

namespace vx::platform {

// MultiByteToWide into UTF-16 on the stack, then WideToMultiByte to UTF-8, straight into
// `out` when it has room for the most the units can take (3 bytes each), else on the stack
// and copied. The result is cut at its first U+0000, as a zero-filled buffer read as a C
// string would cut it. `state` is not used.
inline int AnsiToUtf8ThroughUtf16(const void* /*state*/, const char* text, int length, char* out,
                                  int capacity) {
  if (text == nullptr || length < 1 || length > kAnsiToUtf8RouteBytes || capacity < 0) return -1;
  char16_t wide[kAnsiToUtf8RouteBytes];
  const int units = MultiByteToWide(CodePage::Ansi, text, length, wide, kAnsiToUtf8RouteBytes);
  if (units == 0) return -1;
  char utf8[3 * kAnsiToUtf8RouteBytes];
  const bool direct = out != nullptr && capacity / 3 >= units;
  char* const target = direct ? out : utf8;
  const int bytes = WideToMultiByte(CodePage::Utf8, wide, units, target,
                                    direct ? capacity : static_cast<int>(sizeof(utf8)));
  if (bytes == 0) return -1;
  const void* nul = std::memchr(target, 0, static_cast<std::size_t>(bytes));
  const int size =
      nul != nullptr ? static_cast<int>(static_cast<const char*>(nul) - target) : bytes;
  if (direct || capacity == 0) return size;
  if (size > capacity) return 0;
  std::memcpy(out, utf8, static_cast<std::size_t>(size));
  return size;
}

}  // namespace vx::platform
