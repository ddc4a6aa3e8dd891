#include "bridge/state.h"

namespace vx {

std::atomic<JavaVM*> g_jvm{nullptr};
std::atomic<jobject> g_callbackObject{nullptr};
platform::LibraryHandle g_hServiceLib = nullptr;

namespace testing {
void ResetBridgeState() {
  g_jvm.store(nullptr);
  g_callbackObject.store(nullptr);
  g_hServiceLib = nullptr;
  g_functions = FunctionTable{};
}
}  // namespace testing

}  // namespace vx
