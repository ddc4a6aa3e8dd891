#include "callback/callback_target.h"

#include <mutex>
#include <new>
#include <vector>

#include "base/alloc.h"
#include "base/jni_util.h"

namespace vx {

std::atomic<const CallbackTarget*> g_callbackTarget{nullptr};

namespace {
// Every record made, published or retired, until unload.
std::mutex g_targetsLock;
std::vector<CallbackTarget*> g_targets;

// dataAPICallBack on the object's class, or null; a failed lookup leaves no exception
// pending.
jmethodID LookUpDataMethod(JNIEnv* env, jobject object) {
  jmethodID method = nullptr;
  LocalRef<jclass> type(env, env->GetObjectClass(object));
  if (type) method = env->GetMethodID(type.get(), "dataAPICallBack", "([BI)I");
  ClearPendingException(env);  // NoSuchMethodError: each delivery reports it then
  return method;
}

}  // namespace

void PublishCallbackTarget(JNIEnv* env, jobject object) {
  const jmethodID method = LookUpDataMethod(env, object);
  auto* target = static_cast<CallbackTarget*>(BridgeAlloc(sizeof(CallbackTarget)));
  if (target == nullptr) return;
  *target = CallbackTarget{object, method};
  std::lock_guard<std::mutex> guard(g_targetsLock);
  try {
    g_targets.push_back(target);
  } catch (const std::bad_alloc&) {
    BridgeFree(target);
    return;
  }
  g_callbackTarget.store(target);
}

void EnsureCallbackTarget(JNIEnv* env, jobject object) {
  const CallbackTarget* target = g_callbackTarget.load();
  if (target == nullptr || target->object != object) PublishCallbackTarget(env, object);
}

jmethodID DataMethodOf(JNIEnv* env, jobject object) {
  const CallbackTarget* target = g_callbackTarget.load(std::memory_order_acquire);
  if (target != nullptr && target->object == object && target->dataMethod != nullptr) {
    return target->dataMethod;
  }
  return LookUpDataMethod(env, object);
}

void RetireCallbackTarget() { g_callbackTarget.store(nullptr); }

void FreeCallbackTargets() {
  g_callbackTarget.store(nullptr);
  std::lock_guard<std::mutex> guard(g_targetsLock);
  for (CallbackTarget* target : g_targets) BridgeFree(target);
  g_targets.clear();
}

}  // namespace vx
