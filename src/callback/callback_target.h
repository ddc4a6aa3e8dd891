// The callback object's dataAPICallBack, looked up once when setJniEnv stores the object, so
// that deliveries need not look it up per message.
#pragma once

#include <jni.h>

#include <atomic>

namespace vx {

// Immutable once published; replaced records are kept until unload, like replaced
// references. A record serves only while its `object` is the one in g_callbackObject.
struct CallbackTarget {
  jobject object;        // the global reference it was looked up for
  jmethodID dataMethod;  // null when the lookup failed
};
extern std::atomic<const CallbackTarget*> g_callbackTarget;

// Looks the method up for `object` and publishes the record. The method ID stays valid while
// the class is loaded, which the object's global reference ensures. Without memory for the
// record nothing is published, and deliveries look the method up per message.
void PublishCallbackTarget(JNIEnv* env, jobject object);
// The same, unless the published record is for `object` already.
void EnsureCallbackTarget(JNIEnv* env, jobject object);

// dataAPICallBack of `object`: the published record's method when it is for `object`, else
// looked up now (a failed lookup leaves no exception pending).
jmethodID DataMethodOf(JNIEnv* env, jobject object);

// Unpublishes the record; it stays allocated until FreeCallbackTargets, since a delivery may
// still be reading it.
void RetireCallbackTarget();
// For unload, once no delivery can run: unpublishes and frees every record made.
void FreeCallbackTargets();

}  // namespace vx
