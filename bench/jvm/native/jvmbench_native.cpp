// The JVM benchmarks' own JNI library (com.tarnwick.bench.BenchNative): the floors each road
// through the bridge is compared with, and the hooks into the simulated service library that
// the benchmarks need (records queued by pointer, the service functions called directly).
//
// The simulated library is the very module the bridge loaded: it is looked up with
// RTLD_NOLOAD, never loaded a second time.
#include <dlfcn.h>
#include <jni.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/service_api.h"
#include "com_tarnwick_bench_BenchNative.h"
#include "text/text.h"
#include "vxsim.h"

namespace {

// The simulated library: its control API and the service functions called past the bridge.
VxSimApi g_sim;
vx::fn::query5 g_csd = nullptr;
vx::fn::releasedata g_releasedata = nullptr;
vx::fn::pdelete g_pdelete = nullptr;
vx::fn::subscribe3 g_cnq = nullptr;

// Results the floors did not expect (a service code, a missing record, a Java exception).
std::atomic<int> g_errors{0};

// A cube built once, handed to the service again and again by pointer.
struct BenchCube {
  vx::TextListEntry entries[3];
  std::vector<unsigned char> blob;
  vx::ResultVariant value;
  vx::ResultCube cube;
};
std::vector<std::unique_ptr<BenchCube>> g_cubes;

// Source of the bytes the floors copy into new Java arrays, and the length they copy.
std::vector<jbyte> g_source;
jsize g_replyLength = 0;

// Native forms of the arguments the direct service calls pass (made outside the timing).
std::string g_csdArgs[5];
std::string g_text;

// Longest string the GetStringRegion floor reads.
constexpr jsize kMaxRegionUnits = 4096;

void EnsureSource(jsize length) {
  const auto size = static_cast<std::size_t>(length);
  if (g_source.size() >= size) return;
  g_source.resize(size);
  for (std::size_t i = 0; i < size; ++i) g_source[i] = static_cast<jbyte>(i * 31u + 7u);
}

// New byte[] of `length` bytes copied from the source: the floor every reply is held to.
jbyteArray CopyOut(JNIEnv* env, jsize length) {
  jbyteArray array = env->NewByteArray(length);
  if (array == nullptr) return nullptr;
  env->SetByteArrayRegion(array, 0, length, g_source.data());
  return array;
}

std::string Utf(JNIEnv* env, jstring text) {
  if (text == nullptr) return std::string();
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (chars == nullptr) return std::string();
  std::string copy(chars);
  env->ReleaseStringUTFChars(text, chars);
  return copy;
}

// The Java method a floor calls on `target`, looked up once per batch.
jmethodID FloorMethod(JNIEnv* env, jobject target, const char* name, const char* signature) {
  jclass type = env->GetObjectClass(target);
  if (type == nullptr) return nullptr;
  jmethodID method = env->GetMethodID(type, name, signature);
  env->DeleteLocalRef(type);
  return method;
}

// One delivery as a callback's floor: a new byte[] of `size` bytes, the upcall, the exception
// check and the local reference dropped.
void DeliverOnce(JNIEnv* env, jobject target, jmethodID method, jsize size, jint kind) {
  jbyteArray bytes = CopyOut(env, size);
  if (bytes == nullptr) {
    env->ExceptionClear();
    ++g_errors;
    return;
  }
  env->CallIntMethod(target, method, bytes, kind);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    ++g_errors;
  }
  env->DeleteLocalRef(bytes);
}

int NoopCallback(vx::VXMSG* /*message*/) { return 0; }

// A prototype, measured beside the bridge's JStringToNative: GetStringLength, then per chunk
// GetStringRegion and one pass that narrows every unit and collects their bits (a loop the
// compiler vectorises), one ExceptionCheck at the end. Text with a unit above 0x7F goes to the
// bridge's own function; U+0000 ends the text as there.
constexpr jsize kPrototypeChunk = 512;
std::string PrototypeJStringToNative(JNIEnv* env, jstring text) {
  if (text == nullptr) return std::string();
  const jsize length = env->GetStringLength(text);
  if (length <= 0) return std::string();
  std::string native;
  native.reserve(static_cast<std::size_t>(length));
  jchar units[kPrototypeChunk];
  char narrow[kPrototypeChunk];
  for (jsize position = 0; position < length;) {
    const jsize count = length - position < kPrototypeChunk ? length - position : kPrototypeChunk;
    env->GetStringRegion(text, position, count, units);
    jchar bits = 0;
    for (jsize i = 0; i < count; ++i) {
      bits = static_cast<jchar>(bits | units[i]);
      narrow[i] = static_cast<char>(units[i]);
    }
    if (bits >= 0x80) return vx::JStringToNative(env, text);
    const void* nul = std::memchr(narrow, 0, static_cast<std::size_t>(count));
    if (nul != nullptr) {
      native.append(narrow, static_cast<std::size_t>(static_cast<const char*>(nul) - narrow));
      break;
    }
    native.append(narrow, static_cast<std::size_t>(count));
    position += count;
  }
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return std::string();
  }
  return native;
}

template <typename Fn>
bool Resolve(void* library, const char* name, Fn& out) {
  out = reinterpret_cast<Fn>(dlsym(library, name));
  return out != nullptr;
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_com_tarnwick_bench_BenchNative_init(JNIEnv* env, jclass,
                                                                   jstring simLibraryFile) {
  const std::string path = Utf(env, simLibraryFile);
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) {
    return env->NewStringUTF(("the simulated library is not loaded: " + path).c_str());
  }
  const bool complete = g_sim.Load([library](const char* name) { return dlsym(library, name); }) &&
                        Resolve(library, "csd", g_csd) &&
                        Resolve(library, "releasedata", g_releasedata) &&
                        Resolve(library, "pdelete", g_pdelete) && Resolve(library, "cnq", g_cnq);
  // The bridge holds its own reference; this one only looked the module up.
  dlclose(library);
  if (!complete) return env->NewStringUTF("a function of the simulated library is missing");
  return nullptr;
}

JNIEXPORT jint JNICALL Java_com_tarnwick_bench_BenchNative_errors(JNIEnv*, jclass) {
  return g_errors.load();
}

// ---- csd round trip --------------------------------------------------------------------------

// A cube of three one-entry lists ("A", "B", "C") and one value: an int32 (blobBytes 0) or a
// blob of blobBytes bytes; blobBytes -1 is the empty cube (no lists, no values). Returns its
// index.
JNIEXPORT jint JNICALL Java_com_tarnwick_bench_BenchNative_addCube(JNIEnv*, jclass,
                                                                   jint blobBytes) {
  auto made = std::make_unique<BenchCube>();
  BenchCube& c = *made;
  std::memset(&c.value, 0, sizeof c.value);
  std::memset(&c.cube, 0, sizeof c.cube);
  static const char* const kNames[3] = {"A", "B", "C"};
  for (int i = 0; i < 3; ++i) c.entries[i] = vx::TextListEntry{kNames[i], 0};
  if (blobBytes >= 0) {
    for (int i = 0; i < 3; ++i) c.cube.lists[i] = vx::TextList{&c.entries[i], 1, 0};
    if (blobBytes == 0) {
      c.value.type = 6;
      c.value.value[0] = 7;
    } else {
      c.blob.resize(static_cast<std::size_t>(blobBytes));
      for (std::size_t i = 0; i < c.blob.size(); ++i) {
        c.blob[i] = static_cast<unsigned char>(i * 13u + 1u);
      }
      c.value.type = vx::kVariantBlob;
      c.value.data = c.blob.data();
      c.value.byteCount = static_cast<std::uint32_t>(blobBytes);
    }
  }
  c.cube.values = &c.value;  // non-null also for the empty cube
  g_cubes.push_back(std::move(made));
  return static_cast<jint>(g_cubes.size() - 1);
}

// Queues the cube for the next `count` cube-returning calls of the service.
JNIEXPORT void JNICALL Java_com_tarnwick_bench_BenchNative_queueCube(JNIEnv*, jclass, jint index,
                                                                     jint count) {
  if (index < 0 || static_cast<std::size_t>(index) >= g_cubes.size()) return;
  void* cube = &g_cubes[static_cast<std::size_t>(index)]->cube;
  for (jint i = 0; i < count; ++i) g_sim.vxsim_set_next_cube_ptr(cube, nullptr, nullptr);
}

JNIEXPORT void JNICALL Java_com_tarnwick_bench_BenchNative_setReplyLength(JNIEnv*, jclass,
                                                                          jint length) {
  EnsureSource(length);
  g_replyLength = length;
}

JNIEXPORT void JNICALL Java_com_tarnwick_bench_BenchNative_setCsdArgs(JNIEnv* env, jclass,
                                                                      jstring s1, jstring s2,
                                                                      jstring s3, jstring s4,
                                                                      jstring s5) {
  const jstring texts[5] = {s1, s2, s3, s4, s5};
  for (int i = 0; i < 5; ++i) g_csdArgs[i] = vx::JStringToNative(env, texts[i]);
}

// Floor 1: a native method with csd's arguments that only makes the reply array.
JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_bench_BenchNative_emptyCopy(JNIEnv* env, jobject,
                                                                           jstring, jstring,
                                                                           jstring, jstring,
                                                                           jstring) {
  return CopyOut(env, g_replyLength);
}

// Floor 2: the same, after the service's own csd and releasedata on the queued cube, called
// with native strings made beforehand: everything of the round trip but the bridge's work.
JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_bench_BenchNative_simCsdCopy(JNIEnv* env, jobject,
                                                                            jstring, jstring,
                                                                            jstring, jstring,
                                                                            jstring) {
  vx::ResultCube* cube = nullptr;
  const int code = g_csd(g_csdArgs[0].c_str(), g_csdArgs[1].c_str(), g_csdArgs[2].c_str(),
                         g_csdArgs[3].c_str(), g_csdArgs[4].c_str(), &cube);
  if (code != 0 || cube == nullptr) {
    ++g_errors;
    return nullptr;
  }
  g_releasedata(cube);
  return CopyOut(env, g_replyLength);
}

// ---- Java strings ------------------------------------------------------------------------------

// `count` conversions by the bridge's own JStringToNative; returns the bytes made.
JNIEXPORT jlong JNICALL Java_com_tarnwick_bench_BenchNative_convertLoop(JNIEnv* env, jclass,
                                                                        jstring text, jint count) {
  jlong total = 0;
  for (jint i = 0; i < count; ++i) {
    total += static_cast<jlong>(vx::JStringToNative(env, text).size());
  }
  return total;
}

// `count` conversions of csd's five arguments by JStringToNative; returns the bytes made.
JNIEXPORT jlong JNICALL Java_com_tarnwick_bench_BenchNative_convertFiveLoop(
    JNIEnv* env, jclass, jstring s1, jstring s2, jstring s3, jstring s4, jstring s5, jint count) {
  const jstring texts[5] = {s1, s2, s3, s4, s5};
  jlong total = 0;
  for (jint i = 0; i < count; ++i) {
    for (jstring text : texts) total += static_cast<jlong>(vx::JStringToNative(env, text).size());
  }
  return total;
}

// `count` conversions by the prototype above; returns the bytes made.
JNIEXPORT jlong JNICALL Java_com_tarnwick_bench_BenchNative_prototypeLoop(JNIEnv* env, jclass,
                                                                          jstring text,
                                                                          jint count) {
  jlong total = 0;
  for (jint i = 0; i < count; ++i) {
    total += static_cast<jlong>(PrototypeJStringToNative(env, text).size());
  }
  return total;
}

// The floor: `count` reads of the string's UTF-16 units with GetStringLength and
// GetStringRegion into a buffer on the stack; returns the units read.
JNIEXPORT jlong JNICALL Java_com_tarnwick_bench_BenchNative_regionLoop(JNIEnv* env, jclass,
                                                                       jstring text, jint count) {
  jchar units[kMaxRegionUnits];
  jlong total = 0;
  for (jint i = 0; i < count; ++i) {
    const jsize length = env->GetStringLength(text);
    if (length > kMaxRegionUnits) {
      ++g_errors;
      return 0;
    }
    env->GetStringRegion(text, 0, length, units);
    total += length + units[length > 0 ? length - 1 : 0];
  }
  return total;
}

JNIEXPORT void JNICALL Java_com_tarnwick_bench_BenchNative_setText(JNIEnv* env, jclass,
                                                                   jstring text) {
  g_text = vx::JStringToNative(env, text);
}

// The service's pdelete with the text set by setText and "", called past the bridge: the
// export's cost without its string conversions.
JNIEXPORT jint JNICALL Java_com_tarnwick_bench_BenchNative_simPdelete(JNIEnv*, jobject, jstring,
                                                                      jstring) {
  return g_pdelete(g_text.c_str(), "");
}

// ---- Callbacks ------------------------------------------------------------------------------

// Hands the service's cnq a callback that does nothing, so that messages fired at kind cnq
// measure the service's own cost per message. Returns the service's code.
JNIEXPORT jint JNICALL Java_com_tarnwick_bench_BenchNative_subscribeNoop(JNIEnv*, jclass) {
  int request = 0;
  return g_cnq("BENCH", "NOOP", "", &NoopCallback, nullptr, &request);
}

// Floor of a delivery on a service thread: one native thread that, per message, attaches,
// makes a byte[] of `size` bytes, calls target.floorDataCallBack(byte[], int) and detaches.
JNIEXPORT jint JNICALL Java_com_tarnwick_bench_BenchNative_floorDetached(JNIEnv* env, jclass,
                                                                         jobject target, jint count,
                                                                         jint size) {
  JavaVM* vm = nullptr;
  if (env->GetJavaVM(&vm) != JNI_OK) return -1;
  jmethodID method = FloorMethod(env, target, "floorDataCallBack", "([BI)I");
  if (method == nullptr) return -1;
  EnsureSource(size);
  jobject global = env->NewGlobalRef(target);
  std::thread worker([vm, global, method, count, size] {
    for (jint i = 0; i < count; ++i) {
      JNIEnv* threadEnv = nullptr;
      if (vm->AttachCurrentThread(reinterpret_cast<void**>(&threadEnv), nullptr) != JNI_OK) {
        ++g_errors;
        return;
      }
      DeliverOnce(threadEnv, global, method, size, 1);
      vm->DetachCurrentThread();
    }
  });
  worker.join();
  env->DeleteGlobalRef(global);
  return count;
}

// Floor of a delivery on a service thread that stays attached: one native thread, attached
// once (as a daemon, as the bridge does), per message a byte[] of `size` bytes and
// target.floorDataCallBack(bytes, 1); returns after joining it.
JNIEXPORT jint JNICALL Java_com_tarnwick_bench_BenchNative_floorAttachedOnce(JNIEnv* env, jclass,
                                                                             jobject target,
                                                                             jint count,
                                                                             jint size) {
  JavaVM* vm = nullptr;
  if (env->GetJavaVM(&vm) != JNI_OK) return -1;
  jmethodID method = FloorMethod(env, target, "floorDataCallBack", "([BI)I");
  if (method == nullptr) return -1;
  EnsureSource(size);
  jobject global = env->NewGlobalRef(target);
  std::thread worker([vm, global, method, count, size] {
    JNIEnv* threadEnv = nullptr;
    if (vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&threadEnv), nullptr) != JNI_OK) {
      ++g_errors;
      return;
    }
    for (jint i = 0; i < count; ++i) DeliverOnce(threadEnv, global, method, size, 1);
    vm->DetachCurrentThread();
  });
  worker.join();
  env->DeleteGlobalRef(global);
  return count;
}

// Floor of a delivery on an attached thread: the same per message, on the calling Java thread.
// With `lookup`, the class and method are looked up again for every message.
JNIEXPORT jint JNICALL Java_com_tarnwick_bench_BenchNative_floorAttached(JNIEnv* env, jclass,
                                                                         jobject target, jint count,
                                                                         jint size,
                                                                         jboolean lookup) {
  jmethodID method = FloorMethod(env, target, "floorDataCallBack", "([BI)I");
  if (method == nullptr) return -1;
  EnsureSource(size);
  for (jint i = 0; i < count; ++i) {
    if (lookup) method = FloorMethod(env, target, "floorDataCallBack", "([BI)I");
    DeliverOnce(env, target, method, size, 1);
  }
  return count;
}

// Floor of the log road's consumer: per line a byte[] of `size` bytes and the upcall
// target.floorLogCallBack(byte[]), on the calling (attached) thread.
JNIEXPORT jint JNICALL Java_com_tarnwick_bench_BenchNative_floorLog(JNIEnv* env, jclass,
                                                                    jobject target, jint count,
                                                                    jint size) {
  jmethodID method = FloorMethod(env, target, "floorLogCallBack", "([B)I");
  if (method == nullptr) return -1;
  EnsureSource(size);
  for (jint i = 0; i < count; ++i) {
    jbyteArray bytes = CopyOut(env, size);
    if (bytes == nullptr) {
      env->ExceptionClear();
      ++g_errors;
      continue;
    }
    env->CallIntMethod(target, method, bytes);
    if (env->ExceptionCheck()) {
      env->ExceptionClear();
      ++g_errors;
    }
    env->DeleteLocalRef(bytes);
  }
  return count;
}

}  // extern "C"
