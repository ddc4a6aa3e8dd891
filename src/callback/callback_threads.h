// How service threads meet the JVM for a delivery. Per message (the default): a thread that
// is not attached is attached for the delivery and detached after it. Attached (the system
// property veltrix.callbackThreads=attached): such a thread is attached once, as a daemon
// named "veltrix-callback-<n>", and detached by the thread-exit hook when it ends. Either
// way a thread that was attached already is used as it is and never detached here.
#pragma once

#include <jni.h>

#include <optional>

#include "base/boundary.h"

namespace vx {

enum class CallbackThreads { kPerMessage, kAttached };

// The system property that picks the mode, and its values.
constexpr char kCallbackThreadsProperty[] = "veltrix.callbackThreads";

// Reads the property through `env` on the first call after load (later calls change
// nothing) and sets the mode. An unset property means per message; an unknown value too,
// with an error line naming it. Attached mode needs the thread-exit hook: when it cannot
// be registered, deliveries stay per message. Leaves no exception pending.
void ConfigureCallbackThreads(JNIEnv* env);

// For JNI_OnUnload: back to per message, the thread-exit hook unregistered, the property
// to be read again. Threads still attached stay attached (the JVM owns them from then on).
void ReleaseCallbackThreads();

CallbackThreads CurrentCallbackThreads();

// The calling thread's env for one delivery. A thread attached already is used as it is.
// Otherwise, per message, the bridge's ScopedAttach attaches it for the delivery alone; in
// attached mode it is attached for good, or, when its exit cannot be hooked, for this
// delivery alone. get() is null when the thread could not be attached.
class DeliveryEnv {
 public:
  explicit DeliveryEnv(JavaVM* vm);
  ~DeliveryEnv();
  DeliveryEnv(const DeliveryEnv&) = delete;
  DeliveryEnv& operator=(const DeliveryEnv&) = delete;

  JNIEnv* get() const { return m_env; }

 private:
  JavaVM* m_vm;
  JNIEnv* m_env = nullptr;
  std::optional<ScopedAttach> m_perMessage;
  bool m_detach = false;  // attached here in attached mode, exit not hooked
};

namespace testing {
// The next registrations of the thread-exit hook fail (as when the system has no key or
// FLS index left), until called with false.
void FailThreadExitHook(bool fail);
// The next requests of a thread-exit detach fail (as when the key's or FLS index's value
// cannot be stored), until called with false.
void FailThreadExitRequest(bool fail);
}  // namespace testing

}  // namespace vx
