#include "callback/callback_threads.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/jni_util.h"
#include "bridge/state.h"
#include "log/log_lines.h"
#include "platform/platform.h"
#include "text/text.h"

namespace vx {

namespace {

// kAttached only while the thread-exit hook is registered.
std::atomic<CallbackThreads> g_mode{CallbackThreads::kPerMessage};
// Set by the setJniEnv that reads the property; cleared again at unload.
std::atomic<bool> g_modeClaimed{false};
// Numbers the names of the threads attached in attached mode.
std::atomic<unsigned> g_attachedThreads{0};
std::atomic<bool> g_failHook{false};
std::atomic<bool> g_failExitRequest{false};
// Set once exit() has begun. After System.exit the JVM is gone but the threads it attached
// still count as attached, and any JNI call from them (a detach too) blocks for good. A
// service library that stops its threads while the process exits would then wait for ever.
std::atomic<bool> g_processExiting{false};
std::atomic<bool> g_exitWatched{false};

void MarkProcessExiting() { g_processExiting.store(true); }

// Registered on the first attach of attached mode, which comes after the service library
// was loaded: exit handlers run in reverse order, so this one runs before the library's
// own (static destructors included). From a shared library, atexit runs at dlclose too.
void WatchProcessExit() {
  if (!g_exitWatched.exchange(true)) std::atexit(&MarkProcessExiting);
}

constexpr char16_t kPerMessageValue[] = u"perMessage";
constexpr char16_t kAttachedValue[] = u"attached";

// The thread-exit hook: the ending thread asked for it when the bridge attached it in
// attached mode, with the env that attachment gave. It is detached only while that is still
// its attachment: one that someone else made after detaching it is not the bridge's to end.
void DetachEndingThread(void* attachedEnv) {
  JavaVM* vm = g_jvm.load();
  if (vm == nullptr || g_processExiting.load()) return;
  DetachIfStillAttached(vm, static_cast<JNIEnv*>(attachedEnv));
}

bool Equals(JNIEnv* env, jstring text, const std::u16string_view expected) {
  if (env->GetStringLength(text) != static_cast<jsize>(expected.size())) return false;
  char16_t units[16];
  static_assert(sizeof(jchar) == sizeof(char16_t));
  env->GetStringRegion(text, 0, static_cast<jsize>(expected.size()),
                       reinterpret_cast<jchar*>(units));
  if (ClearPendingException(env)) return false;
  return std::u16string_view(units, expected.size()) == expected;
}

// System.getProperty(kCallbackThreadsProperty); any failure on the way counts as unset.
CallbackThreads ReadProperty(JNIEnv* env) {
  LocalRef<jclass> system(env, env->FindClass("java/lang/System"));
  if (!system) {
    ClearPendingException(env);
    return CallbackThreads::kPerMessage;
  }
  const jmethodID getProperty =
      env->GetStaticMethodID(system.get(), "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  if (getProperty == nullptr) {
    ClearPendingException(env);
    return CallbackThreads::kPerMessage;
  }
  LocalRef<jstring> name(env, env->NewStringUTF(kCallbackThreadsProperty));
  if (!name) {
    ClearPendingException(env);
    return CallbackThreads::kPerMessage;
  }
  LocalRef<jstring> value(env, static_cast<jstring>(env->CallStaticObjectMethod(
                                   system.get(), getProperty, name.get())));
  if (ClearPendingException(env) || !value) return CallbackThreads::kPerMessage;

  if (Equals(env, value.get(), kAttachedValue)) return CallbackThreads::kAttached;
  if (Equals(env, value.get(), kPerMessageValue)) return CallbackThreads::kPerMessage;
  logline::UnknownCallbackThreads(JStringToNative(env, value.get()).c_str());
  return CallbackThreads::kPerMessage;
}

}  // namespace

void ConfigureCallbackThreads(JNIEnv* env) {
  if (env == nullptr || g_modeClaimed.exchange(true)) return;
  CallbackThreads mode = CallbackThreads::kPerMessage;
  try {
    mode = ReadProperty(env);
  } catch (const std::exception&) {
    // Only the error line's text can throw (no memory): the value was unknown anyway.
    ClearPendingException(env);
  }
  if (mode == CallbackThreads::kAttached &&
      (g_failHook.load() || !platform::InstallThreadExitHook(&DetachEndingThread))) {
    mode = CallbackThreads::kPerMessage;
  }
  g_mode.store(mode);
}

void ReleaseCallbackThreads() {
  g_mode.store(CallbackThreads::kPerMessage);
  platform::RemoveThreadExitHook();
  g_modeClaimed.store(false);
}

CallbackThreads CurrentCallbackThreads() { return g_mode.load(std::memory_order_relaxed); }

DeliveryEnv::DeliveryEnv(JavaVM* vm) : m_vm(vm) {
  if (g_mode.load(std::memory_order_relaxed) == CallbackThreads::kPerMessage) {
    m_env = m_perMessage.emplace(vm).env();
    return;
  }
  // A thread of the process's exit: the JVM may be gone (see g_processExiting).
  if (g_processExiting.load()) return;
  m_env = AttachedEnv(vm);
  if (m_env != nullptr) return;
  WatchProcessExit();
  // Named in attach order; a failed attach leaves a gap in the numbers.
  char name[32];
  std::snprintf(name, sizeof name, "veltrix-callback-%u", g_attachedThreads.fetch_add(1) + 1);
  // Attached now, detached by the thread-exit hook when the thread ends.
  m_env = AttachDaemonThread(vm, name);
  if (m_env == nullptr) return;
  // Without the exit request the thread would end attached: then it leaves again after
  // this delivery, as per message.
  m_detach = g_failExitRequest.load(std::memory_order_relaxed) || !platform::RunAtThreadExit(m_env);
}

DeliveryEnv::~DeliveryEnv() {
  if (m_detach) DetachThread(m_vm, m_env);
}

namespace testing {
void FailThreadExitHook(bool fail) { g_failHook.store(fail); }
void FailThreadExitRequest(bool fail) { g_failExitRequest.store(fail); }
}  // namespace testing

}  // namespace vx
