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

// The calling thread's JNIEnv when it is attached to `vm` already, else null.
inline JNIEnv* AttachedEnv(JavaVM* vm) noexcept {
  JNIEnv* env = nullptr;
  if (vm == nullptr || vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK) {
    return nullptr;
  }
  return env;
}

// Attach now, detach later, on another path: for a thread that stays attached across many
// calls. AttachDaemonThread attaches the calling thread, which the caller found unattached,
// as a daemon (a thread the JVM does not wait for at exit) named `name` (null: no name); it
// returns the thread's env, or null when it could not be attached.
JNIEnv* AttachDaemonThread(JavaVM* vm, const char* name) noexcept;
// Ends an attachment made by AttachDaemonThread, on the attached thread: clears what is
// pending on `env` (nothing of the thread's Java state may outlive the attachment) and
// detaches.
void DetachThread(JavaVM* vm, JNIEnv* env) noexcept;
// The same from a thread-exit hook: detaches the calling thread only while `env`, the env its
// AttachDaemonThread gave, is still its attachment. If someone else detached the thread and
// attached it again since, that attachment is theirs and stays.
void DetachIfStillAttached(JavaVM* vm, JNIEnv* env) noexcept;

// The calling thread's JNIEnv for the life of the object. A thread that is attached already
// (a Java thread, or one another library attached) is used as it is and never detached here;
// any other is attached by the constructor (as an ordinary thread, or as a daemon) and
// detached by the destructor, also when an exception unwinds past it. env() is null when the
// thread could not be attached.
class ScopedAttach {
 public:
  // For the daemon variant: a thread that must not keep the JVM from exiting, with the name
  // the JVM shows for it (null: none).
  struct Daemon {
    const char* name = nullptr;
  };

  explicit ScopedAttach(JavaVM* vm) noexcept : m_vm(vm), m_env(AttachedEnv(vm)) {
    if (m_vm == nullptr || m_env != nullptr) return;
    m_vm->AttachCurrentThread(reinterpret_cast<void**>(&m_env), nullptr);
    m_attachedHere = m_env != nullptr;
  }
  ScopedAttach(JavaVM* vm, Daemon daemon) noexcept : m_vm(vm), m_env(AttachedEnv(vm)) {
    if (m_vm == nullptr || m_env != nullptr) return;
    m_env = AttachDaemonThread(m_vm, daemon.name);
    m_attachedHere = m_env != nullptr;
  }
  ~ScopedAttach() {
    if (m_attachedHere) DetachThread(m_vm, m_env);
  }
  ScopedAttach(const ScopedAttach&) = delete;
  ScopedAttach& operator=(const ScopedAttach&) = delete;

  JNIEnv* env() const { return m_env; }
  bool attachedHere() const { return m_attachedHere; }

 private:
  JavaVM* m_vm;
  JNIEnv* m_env;
  bool m_attachedHere = false;
};

}  // namespace vx
