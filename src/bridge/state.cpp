#include "bridge/state.h"

namespace vx {

std::atomic<JavaVM*> g_jvm{nullptr};
std::atomic<jobject> g_callbackObject{nullptr};
std::atomic<platform::LibraryHandle> g_hServiceLib{nullptr};

}  // namespace vx
