// Portfolio operations: create, delete, transfer, and orders from a JSON list.
#include <jni.h>

#include "bridge/function_table.h"
#include "exports/export_util.h"
#include "marshal/orders.h"
#include "marshal/serialize.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_porder(JNIEnv* env, jobject, jstring json,
                                                              jstring s2, jstring s3, jstring s4) {
  return vx::GuardedCode(env, [&] {
    auto porder = VX_REQUIRE(porder);
    if (porder == nullptr) return vx::kCodeMissing;
    const auto natives = vx::ConvertArguments(env, json, s2, s3, s4);
    vx::OrderArray orders;
    const std::int32_t code = vx::BuildOrderArray(std::get<0>(natives), orders);
    if (code != 0) return code;
    return porder(orders.data(), orders.size(), std::get<1>(natives).c_str(),
                  std::get<2>(natives).c_str(), std::get<3>(natives).c_str());
  });
}

JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_pcreate(JNIEnv* env, jobject, jstring s1,
                                                               jstring s2, jlong number, jstring s3,
                                                               jstring s4) {
  return vx::GuardedCode(env, [&] {
    auto pcreate = VX_REQUIRE(pcreate);
    if (pcreate == nullptr) return vx::kCodeMissing;
    const auto natives = vx::ConvertArguments(env, s1, s2, s3, s4);
    return pcreate(std::get<0>(natives).c_str(), std::get<1>(natives).c_str(),
                   static_cast<std::int64_t>(number), std::get<2>(natives).c_str(),
                   std::get<3>(natives).c_str());
  });
}

JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_pdelete(JNIEnv* env, jobject, jstring s1,
                                                               jstring s2) {
  return vx::GuardedCode(env, [&] {
    auto pdelete = VX_REQUIRE(pdelete);
    if (pdelete == nullptr) return vx::kCodeMissing;
    const auto natives = vx::ConvertArguments(env, s1, s2);
    return vx::CallWith(pdelete, natives);
  });
}

JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_pctransfer(JNIEnv* env, jobject, jstring s1,
                                                                  jstring s2, jstring s3,
                                                                  jdouble amount, jstring s4,
                                                                  jstring s5) {
  return vx::GuardedCode(env, [&] {
    auto pctransfer = VX_REQUIRE(pctransfer);
    if (pctransfer == nullptr) return vx::kCodeMissing;
    const auto natives = vx::ConvertArguments(env, s1, s2, s3, s4, s5);
    return pctransfer(std::get<0>(natives).c_str(), std::get<1>(natives).c_str(),
                      std::get<2>(natives).c_str(), amount, std::get<3>(natives).c_str(),
                      std::get<4>(natives).c_str());
  });
}

}  // extern "C"
