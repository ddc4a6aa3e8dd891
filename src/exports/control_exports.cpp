// Start, stop and configure the service; turn its codes into text.
#include <jni.h>

#include <cstdint>

#include "bridge/function_table.h"
#include "exports/export_util.h"
#include "log/log_thread.h"
#include "marshal/serialize.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_start(JNIEnv* env, jobject,
                                                             jstring options) {
  return vx::GuardedCode(env, [&] {
    auto start = VX_REQUIRE(start);
    if (start == nullptr) return vx::kCodeMissing;
    const std::string nativeOptions = vx::JStringToNative(env, options);
    return start(nullptr, nativeOptions.c_str(), &NativeLogCallBack);
  });
}

JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_stop(JNIEnv* env, jobject) {
  return vx::GuardedCode(env, [] {
    auto stop = VX_REQUIRE(stop);
    if (stop == nullptr) return vx::kCodeMissing;
    return stop();
  });
}

JNIEXPORT void JNICALL Java_com_tarnwick_api_NativeAPI_setserverlistdir(JNIEnv* env, jobject,
                                                                        jstring directory) {
  vx::GuardedExport(
      env, [] {},
      [&] {
        auto setserverlistdir = VX_REQUIRE(setserverlistdir);
        if (setserverlistdir == nullptr) return;
        const std::string nativeDirectory = vx::JStringToNative(env, directory);
        setserverlistdir(nativeDirectory.c_str());
      });
}

JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_setproxy(JNIEnv* env, jobject, jint kind,
                                                                jstring host, jint port,
                                                                jboolean flag, jstring text1,
                                                                jstring text2) {
  return vx::GuardedCode(env, [&] {
    auto setproxy = VX_REQUIRE(setproxy);
    if (setproxy == nullptr) return vx::kCodeMissing;
    const auto natives = vx::ConvertArguments(env, host, text1, text2);
    // Only the port's low 16 bits exist on the service side.
    const auto port16 = static_cast<std::uint16_t>(static_cast<std::uint32_t>(port) & 0xFFFFu);
    return setproxy(kind, std::get<0>(natives).c_str(), port16, flag != JNI_FALSE,
                    std::get<1>(natives).c_str(), std::get<2>(natives).c_str());
  });
}

JNIEXPORT jstring JNICALL Java_com_tarnwick_api_NativeAPI_geterrstring(JNIEnv* env, jobject,
                                                                       jint code, jint flag) {
  // No text when the body throws, as when no string can be made.
  return vx::GuardedExport(
      env, [] { return jstring{nullptr}; },
      [&] {
        const char* text = "function address is null.";
        if (auto geterrstring = VX_REQUIRE(geterrstring)) {
          text = geterrstring(code, flag == 1 ? 1 : 0);  // the service's own text, never freed
        }
        jstring result = vx::NativeToJString(env, text);
        if (result == nullptr) vx::ClearPendingException(env);
        return result;
      });
}

}  // extern "C"
