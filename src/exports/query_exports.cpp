// The synchronous queries: convert, call the service, answer with one Result buffer.
#include <jni.h>

#include <exception>

#include "base/byte_order.h"
#include "bridge/function_table.h"
#include "exports/export_util.h"
#include "marshal/result_writer.h"
#include "marshal/serialize.h"

namespace vx {
namespace {

// Hands a record the service gave with code 0 to releasedata when building the reply throws
// before the serialiser has done so (it then clears the pointer).
template <typename Record>
struct ReleaseOnThrow {
  const int code;
  Record*& record;
  ~ReleaseOnThrow() {
    if (code == 0 && record != nullptr && std::uncaught_exceptions() > 0) {
      if (auto releasedata = g_functions.releasedata.load()) releasedata(record);
    }
  }
};

// Checks the entry and releasedata (the own entry first, one line at most), then calls
// the service with the converted arguments and the address of a local cube.
template <typename Fn, typename... Args>
jbyteArray CubeQuery(JNIEnv* env, Fn function, const char* label, Args... args) {
  return GuardedResult(env, [&] {
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
    ReleaseOnThrow<ResultCube> release{code, cube};
    return ReplyToJava(env, SerializeCubeResult(env, code, &cube));
  });
}

}  // namespace
}  // namespace vx

#define VX_CUBE_QUERY(name, ...)                                                           \
  vx::CubeQuery(env, vx::g_functions.name.load(std::memory_order_acquire), VX_LABEL(name), \
                __VA_ARGS__)

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
  return vx::GuardedResult(env, [&] {
    auto ctr = VX_REQUIRE(ctr);
    if (ctr == nullptr || VX_REQUIRE(releasedata) == nullptr) {
      return vx::ReplyToJava(env, vx::ResultHeaderOnly(env, vx::kCodeMissing));
    }
    const auto natives = vx::ConvertArguments(env, s1, s2, s3);
    vx::ResultGrid* grid = nullptr;
    const int code = vx::CallWith(ctr, natives, &grid);
    vx::ReleaseOnThrow<vx::ResultGrid> release{code, grid};
    jbyteArray reply = vx::SerializeGridResult(env, code, grid);
    grid = nullptr;  // released by the serialiser
    return vx::ReplyToJava(env, reply);
  });
}

// The trading-day count: 8 bytes, the service's code then the count it wrote.
JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_tradedatesnum(JNIEnv* env, jobject,
                                                                           jstring s1, jstring s2,
                                                                           jstring s3) {
  auto countReply = [env](int code, int count) {
    unsigned char reply[8];
    vx::StoreLE32(reply, static_cast<std::uint32_t>(code));
    vx::StoreLE32(reply + 4, static_cast<std::uint32_t>(count));
    return vx::ReplyToJava(env, vx::NewJavaByteArray(env, reply, sizeof reply));
  };
  return vx::GuardedExport(
      env, [&] { return countReply(vx::kCodeOutOfMemory, 0); },
      [&] {
        auto tradedatesnum = VX_REQUIRE(tradedatesnum);
        if (tradedatesnum == nullptr) return countReply(vx::kCodeMissing, 0);
        const auto natives = vx::ConvertArguments(env, s1, s2, s3);
        int count = 0;
        const int code = vx::CallWith(tradedatesnum, natives, &count);
        return countReply(code, count);
      });
}

}  // extern "C"
