// The synchronous queries: convert, call the service, answer with one Result buffer.
#include <jni.h>

#include "bridge/function_table.h"
#include "exports/export_util.h"
#include "marshal/result_writer.h"
#include "marshal/serialize.h"

namespace vx {
namespace {

// Checks the entry and releasedata (the own entry first, one line at most), then calls
// the service with the converted arguments and the address of a local cube.
template <typename Fn, typename... Args>
jbyteArray CubeQuery(JNIEnv* env, Fn function, const char* label, Args... args) {
  if (function == nullptr) {
    LogMissingEntry(label);
    return ReplyToJava(env, ResultHeaderOnly(env, kCodeMissing));
  }
  if (VX_REQUIRE(releasedata) == nullptr) {
    return ReplyToJava(env, ResultHeaderOnly(env, kCodeMissing));
  }
  const auto natives = ConvertArguments(env, args...);
  ResultCube* cube = nullptr;
  const int code = CallWith(function, natives, &cube);
  return ReplyToJava(env, SerializeCubeResult(env, code, &cube));
}

}  // namespace
}  // namespace vx

#define VX_CUBE_QUERY(name, ...) \
  vx::CubeQuery(env, vx::g_functions.name, VX_LABEL(name), __VA_ARGS__)

extern "C" {

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_csd(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jstring s3, jstring s4,
                                                                 jstring s5) {
  return VX_CUBE_QUERY(csd, s1, s2, s3, s4, s5);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_css(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jstring s3) {
  return VX_CUBE_QUERY(css, s1, s2, s3);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_tradedates(JNIEnv* env, jobject,
                                                                        jstring s1, jstring s2,
                                                                        jstring s3) {
  return VX_CUBE_QUERY(tradedates, s1, s2, s3);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_sector(JNIEnv* env, jobject,
                                                                    jstring s1, jstring s2,
                                                                    jstring s3) {
  return VX_CUBE_QUERY(sector, s1, s2, s3);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_getdate(JNIEnv* env, jobject,
                                                                     jstring s1, jint i,
                                                                     jstring s2) {
  return VX_CUBE_QUERY(getdate, s1, i, s2);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_csc(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jstring s3, jstring s4,
                                                                 jstring s5) {
  return VX_CUBE_QUERY(csc, s1, s2, s3, s4, s5);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_cmc(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jstring s3, jstring s4,
                                                                 jstring s5) {
  return VX_CUBE_QUERY(cmc, s1, s2, s3, s4, s5);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_chmc(JNIEnv* env, jobject, jstring s1,
                                                                  jstring s2, jstring s3,
                                                                  jstring s4, jstring s5) {
  return VX_CUBE_QUERY(chmc, s1, s2, s3, s4, s5);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_csqsnapshot(JNIEnv* env, jobject,
                                                                         jstring s1, jstring s2,
                                                                         jstring s3) {
  return VX_CUBE_QUERY(csqsnapshot, s1, s2, s3);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_cps(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jstring s3,
                                                                 jstring s4) {
  return VX_CUBE_QUERY(cps, s1, s2, s3, s4);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_pquery(JNIEnv* env, jobject,
                                                                    jstring s1) {
  return VX_CUBE_QUERY(pquery, s1);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_preport(JNIEnv* env, jobject,
                                                                     jstring s1, jstring s2,
                                                                     jstring s3) {
  return VX_CUBE_QUERY(preport, s1, s2, s3);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_edb(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2) {
  return VX_CUBE_QUERY(edb, s1, s2);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_edbquery(JNIEnv* env, jobject,
                                                                      jstring s1, jstring s2,
                                                                      jstring s3) {
  return VX_CUBE_QUERY(edbquery, s1, s2, s3);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_cfn(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jint i, jstring s3) {
  return VX_CUBE_QUERY(cfn, s1, s2, i, s3);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_cfnquery(JNIEnv* env, jobject,
                                                                      jstring s1) {
  return VX_CUBE_QUERY(cfnquery, s1);
}

JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_ctr(JNIEnv* env, jobject, jstring s1,
                                                                 jstring s2, jstring s3) {
  auto ctr = VX_REQUIRE(ctr);
  if (ctr == nullptr || VX_REQUIRE(releasedata) == nullptr) {
    return vx::ReplyToJava(env, vx::ResultHeaderOnly(env, vx::kCodeMissing));
  }
  const auto natives = vx::ConvertArguments(env, s1, s2, s3);
  vx::ResultGrid* grid = nullptr;
  const int code = vx::CallWith(ctr, natives, &grid);
  return vx::ReplyToJava(env, vx::SerializeGridResult(env, code, grid));
}

// The trading-day count: 8 bytes, the service's code then the count it wrote.
JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_tradedatesnum(JNIEnv* env, jobject,
                                                                           jstring s1, jstring s2,
                                                                           jstring s3) {
  unsigned char reply[8];
  auto tradedatesnum = VX_REQUIRE(tradedatesnum);
  if (tradedatesnum == nullptr) {
    vx::StoreLE32(reply, static_cast<std::uint32_t>(vx::kCodeMissing));
    vx::StoreLE32(reply + 4, 0);
    return vx::ReplyToJava(env, vx::NewJavaByteArray(env, reply, sizeof reply));
  }
  const auto natives = vx::ConvertArguments(env, s1, s2, s3);
  int count = 0;
  const int code = vx::CallWith(tradedatesnum, natives, &count);
  vx::StoreLE32(reply, static_cast<std::uint32_t>(code));
  vx::StoreLE32(reply + 4, static_cast<std::uint32_t>(count));
  return vx::ReplyToJava(env, vx::NewJavaByteArray(env, reply, sizeof reply));
}

}  // extern "C"
