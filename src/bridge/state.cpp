#include "bridge/state.h"

#include "callback/callback_target.h"
#include "callback/callback_threads.h"

namespace vx {

std::atomic<JavaVM*> g_jvm{nullptr};
std::atomic<jobject> g_callbackObject{nullptr};
std::atomic<platform::LibraryHandle> g_hServiceLib{nullptr};

namespace testing {
void ResetBridgeState() {
  g_jvm.store(nullptr);
  g_callbackObject.store(nullptr);
  RetireCallbackTarget();  // its record stays with its owner until unload
  g_hServiceLib.store(nullptr);
  ClearFunctionTable();
  ReleaseCallbackThreads();
}
}  // namespace testing

}  // namespace vx
