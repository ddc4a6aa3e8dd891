#include "callback/callback_target.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "base/alloc.h"
#include "base/jni_util.h"

namespace vx {

std::atomic<const CallbackTarget*> g_callbackTarget{nullptr};

namespace {
// Every record made, published or retired, until unload.
std::mutex g_targetsLock;
std::vector<BridgeOwned<CallbackTarget>> g_targets;

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
  BridgeOwned<CallbackTarget> target(
      static_cast<CallbackTarget*>(BridgeAlloc(sizeof(CallbackTarget))));
  if (!target) return;
  *target = CallbackTarget{object, method};
  const CallbackTarget* published = target.get();
  std::lock_guard<std::mutex> guard(g_targetsLock);
  try {
    g_targets.push_back(std::move(target));
  } catch (const std::bad_alloc&) {
    return;  // the vector could not grow: `target` still owns the record and frees it
  }
  g_callbackTarget.store(published);
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
  g_targets.clear();
}

}  // namespace vx
