// The Bridge state: process-wide, written by JNI_OnLoad/setJniEnv/JNI_OnUnload and the
// loader, read without a lock everywhere else.
#pragma once

#include <jni.h>

#include <atomic>

#include "bridge/function_table.h"
#include "platform/platform.h"

namespace vx {

extern std::atomic<JavaVM*> g_jvm;
// Global reference to the Java callback object (a com.tarnwick.api.NativeAPI).
extern std::atomic<jobject> g_callbackObject;
// Set (release) only once the Function table is resolved from it.
extern std::atomic<platform::LibraryHandle> g_hServiceLib;

namespace testing {
// Returns the Bridge state to its load-time defaults without touching any reference, with
// what the entry points set beside it: the log thread's target, the callback object's
// record, the callback thread mode. Lives with the entry points, in lifecycle.cpp.
void ResetBridgeState();
}  // namespace testing

}  // namespace vx
