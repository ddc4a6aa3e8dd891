// The three entry points that build and tear down the Bridge state.
#include <jni.h>

#include <mutex>
#include <vector>

#include "base/boundary.h"
#include "base/jni_util.h"
#include "bridge/function_table.h"
#include "bridge/loader.h"
#include "bridge/state.h"
#include "callback/callback_target.h"
#include "callback/callback_threads.h"
#include "callback/callbacks.h"
#include "log/log_lines.h"
#include "log/log_thread.h"
#include "text/text.h"

namespace vx {
namespace {

// References replaced by a repeated setJniEnv. A thread may still be using one (the log
// thread reads the reference once per run, a delivery its record once per message), so they
// live until unload.
std::mutex g_retiredLock;
std::vector<jobject> g_retiredRefs;

void StoreCallbackObject(JNIEnv* env, jobject receiver) {
  jobject fresh = env->NewGlobalRef(receiver);
  jobject previous = g_callbackObject.load();
  if (previous != nullptr && fresh != nullptr && env->IsSameObject(previous, fresh)) {
    // Same object again: the stored reference and its record already serve.
    env->DeleteGlobalRef(fresh);
    EnsureCallbackTarget(env, previous);
    return;
  }
  {
    // Room for the replaced reference first: without it nothing changes, and the fresh
    // reference goes again.
    std::lock_guard<std::mutex> guard(g_retiredLock);
    try {
      g_retiredRefs.reserve(g_retiredRefs.size() + 1);
    } catch (...) {
      if (fresh != nullptr) env->DeleteGlobalRef(fresh);
      throw;
    }
    // The object first: a delivery between the two stores finds a record for another
    // object and looks the method up itself.
    previous = g_callbackObject.exchange(fresh);
    if (previous != nullptr) g_retiredRefs.push_back(previous);
  }
  if (fresh != nullptr) PublishCallbackTarget(env, fresh);
}

// Deletes the stored reference and every replaced one (without an env they are only
// forgotten), and frees every callback target record.
void DeleteCallbackObjects(JNIEnv* env) {
  jobject current = g_callbackObject.exchange(nullptr);
  RetireCallbackTarget();
  {
    std::lock_guard<std::mutex> guard(g_retiredLock);
    if (env != nullptr) {
      if (current != nullptr) env->DeleteGlobalRef(current);
      for (jobject retired : g_retiredRefs) env->DeleteGlobalRef(retired);
    }
    // The list's memory goes too: a library that is loaded again starts from nothing.
    std::vector<jobject>().swap(g_retiredRefs);
  }
  FreeCallbackTargets();
}

jint NegotiateVersion(JavaVM* vm) {
  struct Offer {
    jint version;
    int minor;
  };
  static constexpr Offer kOffers[] = {
      {JNI_VERSION_1_8, 8}, {JNI_VERSION_1_6, 6}, {JNI_VERSION_1_4, 4}};
  for (const Offer& offer : kOffers) {
    void* env = nullptr;
    if (vm != nullptr && vm->GetEnv(&env, offer.version) == JNI_OK) {
      logline::CatchJniVersion(offer.minor);
      return offer.version;
    }
  }
  logline::DefaultJniVersion();
  return JNI_VERSION_1_2;
}

}  // namespace

// The bodies of setJniEnv and JNI_OnUnload.
void SetJniEnv(JNIEnv* env, jobject self, jstring directory);
void OnUnload();

}  // namespace vx

extern "C" {

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* /*reserved*/) {
  // Version 1.2 is the floor, which every JVM grants.
  return vx::Guarded([] { return jint{JNI_VERSION_1_2}; },
                     [vm] {
                       vx::logline::OnLoadStartup();
                       return vx::NegotiateVersion(vm);
                     });
}

JNIEXPORT void JNICALL Java_com_tarnwick_api_NativeAPI_setJniEnv(JNIEnv* env, jobject self,
                                                                 jstring directory) {
  if (env == nullptr) return;
  vx::Guarded([env, self, directory] { vx::SetJniEnv(env, self, directory); });
  vx::ClearPendingException(env);
}

JNIEXPORT void JNICALL JNI_OnUnload(JavaVM* /*vm*/, void* /*reserved*/) {
  vx::Guarded([] { vx::OnUnload(); });
}

}  // extern "C"

namespace vx {

void SetJniEnv(JNIEnv* env, jobject self, jstring directory) {
  // 1-2: the VM and the callback object, before anything that can call back.
  JavaVM* vm = nullptr;
  if (env->GetJavaVM(&vm) != JNI_OK) vm = nullptr;
  vx::g_jvm.store(vm);
  vx::StoreCallbackObject(env, self);

  // 3: the log thread (no effect while it runs), which delivers to what 1-2 stored.
  vx::g_logThread.SetJavaTarget(vm, vx::g_callbackObject.load());
  vx::g_logThread.Start();

  // How service threads are attached for deliveries: read on the first call only.
  vx::ConfigureCallbackThreads(env);

  // 4-5: the service library, once; the server list directory.
  // Windows loads from the UTF-16 form, which keeps what the ANSI code page lacks.
  const std::string nativeDirectory = vx::JStringToNative(env, directory);
  const std::u16string wideDirectory = vx::JStringUnits(env, directory);
  vx::LoadServiceLibrary(nativeDirectory, nativeDirectory.empty() ? nullptr : &wideDirectory);
  auto setserverlistdir = VX_REQUIRE(setserverlistdir);
  if (setserverlistdir == nullptr) return;
  setserverlistdir(nativeDirectory.c_str());

  // 6: the main callback.
  if (auto setcallback = VX_REQUIRE(setcallback)) setcallback(&vx::MainCallback);
}

void OnUnload() {
  // A line that cannot be written must not keep the rest from running.
  Guarded([] { vx::logline::OnUnloadStartup(); });
  vx::FreeServiceLibrary();
  // No thread exit may run this library's code once it is gone. Service threads still
  // attached then stay attached: the JVM keeps their Thread objects.
  vx::ReleaseCallbackThreads();
  vx::g_logThread.Stop();
  vx::g_logThread.Join();
  vx::g_logThread.SetJavaTarget(nullptr, nullptr);  // no later run may use the references

  JavaVM* vm = vx::g_jvm.load();
  if (vm != nullptr) {
    // The unloading thread is normally attached already; attach only if it is not, and
    // then detach again: never leave behind an attachment the bridge made.
    ScopedAttach attach(vm);
    vx::DeleteCallbackObjects(attach.env());
  }
  vx::g_jvm.store(nullptr);
}

namespace testing {
void ResetBridgeState() {
  g_jvm.store(nullptr);
  g_callbackObject.store(nullptr);
  g_logThread.SetJavaTarget(nullptr, nullptr);
  RetireCallbackTarget();  // its record stays with its owner until unload
  g_hServiceLib.store(nullptr);
  ClearFunctionTable();
  ReleaseCallbackThreads();
}
}  // namespace testing

}  // namespace vx
