// The edge between the bridge and the code that calls into it (the JVM, the service library's
// threads): no C++ exception crosses it, and a thread the bridge attaches to the JVM is
// detached again on every path out.
#pragma once

#include <jni.h>

#include <utility>

namespace vx {

// Runs `body` and returns its result. Should it throw anything at all, returns `failed()`
// instead, which must not throw. Every function the bridge exports or hands to the service
// library runs its body through this (or the void form below).
template <typename Failed, typename Body>
auto Guarded(Failed&& failed, Body&& body) noexcept -> decltype(body()) {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return std::forward<Failed>(failed)();
  }
}

// The same for a body with no answer: an exception ends it, and nothing else happens.
template <typename Body>
void Guarded(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
  }
}

// The calling thread's JNIEnv for the life of the object. A thread that is attached already
// (a Java thread, or one another library attached) is used as it is and never detached here;
// any other is attached by the constructor and detached by the destructor, also when an
// exception unwinds past it. env() is null when the thread could not be attached.
class ScopedAttach {
 public:
  explicit ScopedAttach(JavaVM* vm) noexcept : m_vm(vm) {
    if (m_vm == nullptr) return;
    if (m_vm->GetEnv(reinterpret_cast<void**>(&m_env), JNI_VERSION_1_2) == JNI_OK &&
        m_env != nullptr) {
      return;
    }
    m_env = nullptr;
    m_vm->AttachCurrentThread(reinterpret_cast<void**>(&m_env), nullptr);
    m_attachedHere = m_env != nullptr;
  }
  ~ScopedAttach() {
    if (!m_attachedHere) return;
    // Nothing of this thread's Java state may outlive the attachment.
    if (m_env->ExceptionCheck()) m_env->ExceptionClear();
    m_vm->DetachCurrentThread();
  }
  ScopedAttach(const ScopedAttach&) = delete;
  ScopedAttach& operator=(const ScopedAttach&) = delete;

  JNIEnv* env() const { return m_env; }
  bool attachedHere() const { return m_attachedHere; }

 private:
  JavaVM* m_vm;
  JNIEnv* m_env = nullptr;
  bool m_attachedHere = false;
};

}  // namespace vx
