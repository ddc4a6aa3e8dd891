// What every JNI export shares: converting its Java arguments in order, passing them on,
// and answering Java without ever leaving an exception behind.
#pragma once

#include <jni.h>

#include <string>
#include <tuple>
#include <utility>

#include "base/boundary.h"
#include "base/jni_util.h"
#include "marshal/serialize.h"
#include "text/text.h"

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

// Runs an export's body (see Guarded). Should it throw, whatever Java exception is pending is
// cleared and the export answers `failed()`: the answer it gives when memory runs out.
template <typename Failed, typename Body>
auto GuardedExport(JNIEnv* env, Failed&& failed, Body&& body) noexcept {
  return Guarded(
      [&] {
        ClearPendingException(env);
        return failed();
      },
      std::forward<Body>(body));
}

// An int export: 10000003 when its body throws.
template <typename Body>
jint GuardedCode(JNIEnv* env, Body&& body) noexcept {
  return GuardedExport(
      env, [] { return jint{kCodeOutOfMemory}; }, std::forward<Body>(body));
}

// An export answering with a Result buffer: the 16-byte header with 10000003 when its body
// throws, or null when not even that array can be made.
template <typename Body>
jbyteArray GuardedResult(JNIEnv* env, Body&& body) noexcept {
  return GuardedExport(
      env, [env] { return ReplyToJava(env, ResultHeaderOnly(env, kCodeOutOfMemory)); },
      std::forward<Body>(body));
}

}  // namespace vx
