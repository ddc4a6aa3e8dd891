#include "base/jni_util.h"

#include <cstdarg>
#include <new>

namespace vx {

std::u16string JStringUnits(JNIEnv* env, jstring text) {
  static_assert(sizeof(jchar) == sizeof(char16_t), "jchar is one UTF-16 unit");
  if (env == nullptr || text == nullptr) return std::u16string();
  const jsize length = env->GetStringLength(text);
  if (ClearPendingException(env) || length <= 0) return std::u16string();
  try {
    std::u16string units(static_cast<std::size_t>(length), u'\0');
    env->GetStringRegion(text, 0, length, reinterpret_cast<jchar*>(&units[0]));
    if (ClearPendingException(env)) return std::u16string();
    return units;
  } catch (const std::bad_alloc&) {
    return std::u16string();
  }
}

jint CallJavaIntMethod(JNIEnv* env, jobject object, jmethodID method, ...) {
  va_list arguments;
  va_start(arguments, method);
  const jint result = env->CallIntMethodV(object, method, arguments);
  va_end(arguments);
  return result;
}

}  // namespace vx
