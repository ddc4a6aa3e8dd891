// What every JNI export shares: converting its Java arguments in order, passing them on,
// and answering Java without ever leaving an exception behind.
#pragma once

#include <jni.h>

#include <string>
#include <tuple>
#include <utility>

#include "marshal/jni_util.h"
#include "marshal/text.h"

namespace vx {

inline std::string ToNative(JNIEnv* env, jstring text) { return JStringToNative(env, text); }
inline jint ToNative(JNIEnv* /*env*/, jint value) { return value; }

inline const char* PassOn(const std::string& text) { return text.c_str(); }
inline jint PassOn(jint value) { return value; }

// The Java arguments as native values, converted first to last (a braced list is
// evaluated in order).
template <typename... Args>
auto ConvertArguments(JNIEnv* env, Args... args) {
  return std::tuple<decltype(ToNative(env, args))...>{ToNative(env, args)...};
}

// Calls `function` with the converted arguments in order, then `trailing`.
template <typename Fn, typename Tuple, typename... Trailing>
auto CallWith(Fn function, const Tuple& natives, Trailing... trailing) {
  return std::apply([&](const auto&... native) { return function(PassOn(native)..., trailing...); },
                    natives);
}

// A reply for Java: when no array could be made, Java gets null, not the JVM's pending
// OutOfMemoryError.
inline jbyteArray ReplyToJava(JNIEnv* env, jbyteArray reply) {
  if (reply == nullptr) ClearPendingException(env);
  return reply;
}

}  // namespace vx
