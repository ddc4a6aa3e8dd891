#include "base/boundary.h"

namespace vx {

JNIEnv* AttachDaemonThread(JavaVM* vm, const char* name) noexcept {
  if (vm == nullptr) return nullptr;
  JNIEnv* env = nullptr;
  // JavaVMAttachArgs takes the name as char*; the JVM only reads it.
  JavaVMAttachArgs args{JNI_VERSION_1_2, const_cast<char*>(name), nullptr};
  if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env),
                                      name != nullptr ? &args : nullptr) != JNI_OK) {
    return nullptr;
  }
  return env;
}

void DetachThread(JavaVM* vm, JNIEnv* env) noexcept {
  if (vm == nullptr || env == nullptr) return;
  if (env->ExceptionCheck()) env->ExceptionClear();
  vm->DetachCurrentThread();
}

void DetachIfStillAttached(JavaVM* vm, JNIEnv* env) noexcept {
  if (env != nullptr && AttachedEnv(vm) == env) DetachThread(vm, env);
}

}  // namespace vx
