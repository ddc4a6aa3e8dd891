// Small JNI helpers: a move-only local reference, exception clearing, the int method call.
#pragma once

#include <jni.h>

#include <string>
#include <utility>

namespace vx {

// Owns one local reference and deletes it when it goes, is reset or is assigned over.
// Moves hand the reference on; release() hands it to the caller, who then deletes it.
template <typename T>
class LocalRef {
 public:
  LocalRef(JNIEnv* env, T ref) : m_env(env), m_ref(ref) {}
  ~LocalRef() { Delete(); }
  LocalRef(LocalRef&& other) noexcept
      : m_env(other.m_env), m_ref(std::exchange(other.m_ref, nullptr)) {}
  LocalRef& operator=(LocalRef&& other) noexcept {
    if (this != &other) {
      Delete();
      m_env = other.m_env;
      m_ref = std::exchange(other.m_ref, nullptr);
    }
    return *this;
  }
  LocalRef(const LocalRef&) = delete;
  LocalRef& operator=(const LocalRef&) = delete;

  T get() const { return m_ref; }
  // Deletes the reference held and holds `ref` instead.
  void reset(T ref = nullptr) {
    if (ref == m_ref) return;
    Delete();
    m_ref = ref;
  }
  [[nodiscard]] T release() { return std::exchange(m_ref, nullptr); }
  explicit operator bool() const { return m_ref != nullptr; }

 private:
  void Delete() {
    if (m_ref != nullptr && m_env != nullptr) m_env->DeleteLocalRef(m_ref);
  }

  JNIEnv* m_env;
  T m_ref;
};

// Clears a pending Java exception; true when there was one.
inline bool ClearPendingException(JNIEnv* env) {
  if (env == nullptr || !env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

// A Java string's UTF-16 units, all of them (U+0000 included); "" for a null env or
// string, or when they cannot be fetched (the exception is cleared then).
std::u16string JStringUnits(JNIEnv* env, jstring text);

// The Java int method call: CallIntMethodV with the arguments as given.
jint CallJavaIntMethod(JNIEnv* env, jobject object, jmethodID method, ...);

}  // namespace vx
