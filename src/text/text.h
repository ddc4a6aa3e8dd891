// Text between Java strings, the process's ANSI code page and UTF-8, and Java byte arrays.
#pragma once

#include <jni.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace vx {

// ANSI (NUL-terminated, may be null) to UTF-8. False, with `out` untouched, when a scratch
// buffer cannot be allocated; a null or empty input gives "" and true.
bool AnsiToUtf8(const char* ansi, std::string& out);
// UTF-8 to ANSI, with the same contract.
bool Utf8ToAnsi(const char* utf8, std::string& out);

// Texts of at most this many bytes are converted on the stack by the two functions above,
// without allocating, so their conversions cannot fail; longer ones through two zero-filled
// scratch buffers from BridgeAlloc. ASCII text of any length is copied as it is.
constexpr std::size_t kStackTextBytes = 512;

// Short ANSI texts to UTF-8 without allocating, with the bytes AnsiToUtf8 gives, for a
// caller converting many under one locale: the code page's route is looked up on the first
// text and kept.
class ShortAnsiToUtf8 {
 public:
  // The most bytes the UTF-8 form of a text of kStackTextBytes bytes can take.
  static constexpr std::size_t kMaxUtf8Bytes = 3 * kStackTextBytes;
  // Results of Convert besides a size.
  static constexpr std::size_t kNoRoom = SIZE_MAX;
  static constexpr std::size_t kUnconverted = SIZE_MAX - 1;  // AnsiToUtf8 must convert it

  // The UTF-8 form of `length` ANSI bytes (1 to kStackTextBytes, none of them NUL), written
  // into `out` (room for `capacity` bytes) or only measured when `out` is null: its size,
  // kNoRoom when it does not fit, kUnconverted when the code page needs more room than the
  // stack gives (none known does).
  std::size_t Convert(const char* ansi, std::size_t length, char* out, std::size_t capacity) {
    if (!m_routeKnown) {
      m_route = platform::DirectAnsiToUtf8();
      m_routeKnown = true;
    }
    if (m_route.convert == nullptr) return ThroughUtf16(ansi, length, out, capacity);
    const int size = static_cast<int>(length);
    if (out == nullptr) {
      const int needed = m_route.convert(m_route.state, ansi, size, nullptr, 0);
      return needed > 0 ? static_cast<std::size_t>(needed) : kUnconverted;
    }
    const int room =
        capacity < static_cast<std::size_t>(INT_MAX) ? static_cast<int>(capacity) : INT_MAX;
    const int written = room > 0 ? m_route.convert(m_route.state, ansi, size, out, room) : 0;
    return written > 0 ? static_cast<std::size_t>(written) : kNoRoom;
  }

 private:
  // Convert for the code pages without a route.
  static std::size_t ThroughUtf16(const char* ansi, std::size_t length, char* out,
                                  std::size_t capacity);

  platform::AnsiToUtf8Route m_route{nullptr, nullptr};
  bool m_routeKnown = false;
};

// A Java string as a native (ANSI) string: read as UTF-16 and converted once. A null
// string, a null env or characters that cannot be fetched give "". Each U+0000 becomes two
// U+FFFD (as the two bytes of its modified UTF-8 form would), so it never cuts the text.
std::string JStringToNative(JNIEnv* env, jstring text);
// The same in UTF-8.
std::string JStringToUtf8(JNIEnv* env, jstring text);

// New byte[] holding a copy of `length` bytes; null for a null env or data, a length
// below 1, or a failed NewByteArray (its exception stays pending).
jbyteArray NewJavaByteArray(JNIEnv* env, const void* data, std::int32_t length);

// New byte[] holding the UTF-8 form of an ANSI string, no terminator; null for "".
jbyteArray StringToUtf8ByteArray(JNIEnv* env, const std::string& ansi);

// New Java string from ANSI text (null text gives ""), built from UTF-16; null for a null
// env.
jstring NativeToJString(JNIEnv* env, const char* ansi);

// True when every byte is below 0x80: such text is the same in every ANSI code page and
// in UTF-8.
bool IsAscii(const char* text, std::size_t length);

}  // namespace vx
