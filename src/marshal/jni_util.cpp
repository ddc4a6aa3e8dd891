#include "marshal/jni_util.h"

#include <cstdarg>

namespace vx {

jint CallJavaIntMethod(JNIEnv* env, jobject object, jmethodID method, ...) {
  va_list arguments;
  va_start(arguments, method);
  const jint result = env->CallIntMethodV(object, method, arguments);
  va_end(arguments);
  return result;
}

}  // namespace vx
