// com.tarnwick.sim.SimControl: the control API for Java tests. Java loads this same file
// with System.load after the bridge has loaded it, so these natives drive the very
// library the bridge calls.
#include <jni.h>

#include <optional>
#include <string>
#include <vector>

#include "vxsim.h"

namespace {

// A Java string's modified UTF-8 (plain ASCII for the descriptions tests write).
class Utf {
 public:
  Utf(JNIEnv* env, jstring text) : m_env(env), m_text(text) {
    if (text != nullptr) m_chars = env->GetStringUTFChars(text, nullptr);
  }
  ~Utf() {
    if (m_chars != nullptr) m_env->ReleaseStringUTFChars(m_text, m_chars);
  }
  Utf(const Utf&) = delete;
  Utf& operator=(const Utf&) = delete;
  const char* get() const { return m_chars; }

 private:
  JNIEnv* m_env;
  jstring m_text;
  const char* m_chars = nullptr;
};

// A byte[] as NUL-terminated bytes; nullopt for a null array.
std::optional<std::string> Bytes(JNIEnv* env, jbyteArray array) {
  if (array == nullptr) return std::nullopt;
  const jsize length = env->GetArrayLength(array);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  if (length > 0) env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(&bytes[0]));
  return bytes;
}

const char* CStr(const std::optional<std::string>& bytes) {
  return bytes ? bytes->c_str() : nullptr;
}

jobjectArray Strings(JNIEnv* env, const std::vector<std::string>& items) {
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) return nullptr;
  jobjectArray array = env->NewObjectArray(static_cast<jsize>(items.size()), stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  if (array == nullptr) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    jstring item = env->NewStringUTF(items[i].c_str());
    if (item == nullptr) return nullptr;
    env->SetObjectArrayElement(array, static_cast<jsize>(i), item);
    env->DeleteLocalRef(item);
  }
  return array;
}

std::vector<std::string> Collect(int count, const char* (*item)(int)) {
  std::vector<std::string> items;
  for (int i = 0; i < count; ++i) {
    const char* text = item(i);
    if (text != nullptr) items.emplace_back(text);
  }
  return items;
}

}  // namespace

#define SIM_NATIVE(result, name) \
  extern "C" JNIEXPORT result JNICALL Java_com_tarnwick_sim_SimControl_##name

SIM_NATIVE(void, reset)(JNIEnv*, jclass) { vxsim_reset(); }

SIM_NATIVE(void, setStreaming)(JNIEnv*, jclass, jboolean enabled, jint intervalMs) {
  vxsim_set_streaming(enabled ? 1 : 0, intervalMs);
}

SIM_NATIVE(jint, activeStreams)(JNIEnv*, jclass) { return vxsim_active_streams(); }

SIM_NATIVE(void, setNextCode)(JNIEnv*, jclass, jint code) { vxsim_set_next_code(code); }

SIM_NATIVE(void, setNextOutInt)(JNIEnv*, jclass, jint value, jboolean store) {
  vxsim_set_next_out_int(value, store ? 1 : 0);
}

SIM_NATIVE(jint, scriptCube)(JNIEnv* env, jclass, jstring dsl) {
  Utf text(env, dsl);
  return vxsim_script_cube(text.get());
}

SIM_NATIVE(jint, scriptGrid)(JNIEnv* env, jclass, jstring dsl) {
  Utf text(env, dsl);
  return vxsim_script_grid(text.get());
}

SIM_NATIVE(jstring, dslError)(JNIEnv* env, jclass) { return env->NewStringUTF(vxsim_dsl_error()); }

SIM_NATIVE(void, scriptErrString)(JNIEnv* env, jclass, jbyteArray text) {
  const std::optional<std::string> bytes = Bytes(env, text);
  vxsim_script_errstring(CStr(bytes));
}

SIM_NATIVE(jint, lastRecordId)(JNIEnv*, jclass) { return vxsim_last_record_id(); }

SIM_NATIVE(jstring, lastRecordDescription)(JNIEnv* env, jclass) {
  return env->NewStringUTF(vxsim_last_record_description());
}

SIM_NATIVE(void, setRecordDescriptions)(JNIEnv*, jclass, jboolean enabled) {
  vxsim_set_record_descriptions(enabled ? 1 : 0);
}

SIM_NATIVE(jint, releaseCount)(JNIEnv*, jclass, jint recordId) {
  return vxsim_release_count_for_id(recordId);
}

SIM_NATIVE(jint, releaseTotal)(JNIEnv*, jclass) { return vxsim_release_total(); }

SIM_NATIVE(jint, lastReleasedId)(JNIEnv*, jclass) { return vxsim_last_released_id(); }

SIM_NATIVE(jint, outstandingRecords)(JNIEnv*, jclass) { return vxsim_outstanding_records(); }

SIM_NATIVE(jobjectArray, errors)(JNIEnv* env, jclass) {
  return Strings(env, Collect(vxsim_error_count(), vxsim_error));
}

SIM_NATIVE(jobjectArray, calls)(JNIEnv* env, jclass) {
  return Strings(env, Collect(vxsim_call_count(), vxsim_call));
}

SIM_NATIVE(void, clearCalls)(JNIEnv*, jclass) { vxsim_clear_calls(); }

SIM_NATIVE(jboolean, hasCallback)(JNIEnv*, jclass, jint kind) {
  return vxsim_has_callback(kind) != 0 ? JNI_TRUE : JNI_FALSE;
}

SIM_NATIVE(jint, fire)
(JNIEnv* env, jclass, jint kind, jint threads, jint perThread, jstring message) {
  Utf text(env, message);
  return vxsim_fire(kind, threads, perThread, text.get());
}

SIM_NATIVE(jint, fireWait)(JNIEnv*, jclass) { return vxsim_fire_wait(); }

SIM_NATIVE(jint, fireInsideNext)
(JNIEnv* env, jclass, jstring function, jint count, jstring message) {
  Utf name(env, function);
  Utf text(env, message);
  return vxsim_fire_inside_next(name.get(), count, text.get());
}

SIM_NATIVE(jint, emitLog)(JNIEnv* env, jclass, jbyteArray text, jint count, jint threads) {
  const std::optional<std::string> bytes = Bytes(env, text);
  return vxsim_emit_log(CStr(bytes), count, threads);
}

SIM_NATIVE(jint, emitLogRaw)(JNIEnv* env, jclass, jbyteArray text, jint count, jint threads) {
  const std::optional<std::string> bytes = Bytes(env, text);
  return vxsim_emit_log_raw(CStr(bytes), count, threads);
}
