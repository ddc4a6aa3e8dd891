// Text between Java strings, the process's ANSI code page and UTF-8, and Java byte arrays.
#pragma once

#include <jni.h>

#include <cstdint>
#include <string>

namespace vx {

// ANSI (NUL-terminated, may be null) to UTF-8. False, with `out` untouched, when a scratch
// buffer cannot be allocated; a null or empty input gives "" and true.
bool AnsiToUtf8(const char* ansi, std::string& out);
// UTF-8 to ANSI, with the same contract.
bool Utf8ToAnsi(const char* utf8, std::string& out);

// A Java string as a native (ANSI) string: read as UTF-16 and converted once. A null
// string, a null env or characters that cannot be fetched give "".
std::string JStringToNative(JNIEnv* env, jstring text);

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
