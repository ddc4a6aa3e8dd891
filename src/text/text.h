// Text between Java strings, the process's ANSI code page and UTF-8, and Java byte arrays.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ascii.h"
#include "text/ansi_to_utf8.h"

namespace vx {

// ANSI (NUL-terminated, may be null) to UTF-8, by AnsiToUtf8Converter. False, with `out`
// untouched, when a scratch buffer cannot be allocated; a null or empty input gives "" and
// true. Texts up to kStackTextBytes that are not ASCII are converted without allocating.
bool AnsiToUtf8(const char* ansi, std::string& out);
// UTF-8 to ANSI, with the same contract and the same roads (ASCII copied, other text up to
// kStackTextBytes through UTF-16 on the stack, longer text through scratch memory).
bool Utf8ToAnsi(const char* utf8, std::string& out);

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

}  // namespace vx
