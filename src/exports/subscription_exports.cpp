// Push subscriptions: the service answers with a request number, then calls back.
#include <jni.h>

#include <cstdint>

#include "base/byte_order.h"
#include "bridge/function_table.h"
#include "callback/callbacks.h"
#include "exports/export_util.h"
#include "marshal/result_writer.h"
#include "marshal/serialize.h"

namespace vx {
namespace {

// 16 bytes: the request number, the service's code, eight zero bytes.
jbyteArray SubscriptionReply(JNIEnv* env, std::int32_t request, std::int32_t code) {
  unsigned char reply[16] = {};
  StoreLE32(reply, static_cast<std::uint32_t>(request));
  StoreLE32(reply + 4, static_cast<std::uint32_t>(code));
  return ReplyToJava(env, NewJavaByteArray(env, reply, sizeof reply));
}

template <typename Fn, typename... Args>
jbyteArray Subscribe(JNIEnv* env, Fn function, const char* label, VxMessageCallback callback,
                     Args... args) {
  // A body that throws has not reached the service: no request, code 10000003.
  return GuardedExport(
      env, [env] { return SubscriptionReply(env, 0, kCodeOutOfMemory); },
      [&] {
        if (function == nullptr) {
          LogMissingEntry(label);
          // The Result buffer's failure header: 10000007 where the request number would be.
          return ReplyToJava(env, ResultHeaderOnly(env, kCodeMissing));
        }
        const auto natives = ConvertArguments(env, args...);
        int request = 0;
        const int code =
            CallWith(function, natives, callback, static_cast<void*>(nullptr), &request);
        return SubscriptionReply(env, request, code);
      });
}

template <typename Fn>
jint Cancel(JNIEnv* env, Fn function, const char* label, jint request) {
  return GuardedCode(env, [&] {
    if (function == nullptr) {
      LogMissingEntry(label);
      return kCodeMissing;
    }
    return function(request);
  });
}

}  // namespace
}  // namespace vx

#define VX_SUBSCRIBE(name, callback, ...)                                                  \
  vx::Subscribe(env, vx::g_functions.name.load(std::memory_order_acquire), VX_LABEL(name), \
                &vx::callback, __VA_ARGS__)

extern "C" {

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_csq(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jstring s3) {
  return VX_SUBSCRIBE(csq, CsqDataCallback, s1, s2, s3);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_cst(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jstring s3, jstring s4,
                                                                 jstring s5) {
  return VX_SUBSCRIBE(cst, CstDataCallback, s1, s2, s3, s4, s5);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_cnq(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jstring s3) {
  return VX_SUBSCRIBE(cnq, CnqDataCallback, s1, s2, s3);
}

JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_csqcancel(JNIEnv* env, jobject,
                                                                 jint request) {
  return vx::Cancel(env, vx::g_functions.csqcancel.load(std::memory_order_acquire),
                    VX_LABEL(csqcancel), request);
}

JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_cnqcancel(JNIEnv* env, jobject,
                                                                 jint request) {
  return vx::Cancel(env, vx::g_functions.cnqcancel.load(std::memory_order_acquire),
                    VX_LABEL(cnqcancel), request);
}

}  // extern "C"
