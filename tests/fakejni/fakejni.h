// An in-process fake Java VM for native tests: a JavaVM and JNIEnv built on the real <jni.h>
// tables, implementing the JNI functions the bridge calls. Every other table slot aborts with
// "unimplemented JNI function" and the slot's name.
//
// What it models:
// - Threads as HotSpot does: attaching an attached thread is a no-op returning the same env;
//   DetachCurrentThread on a Java thread (see AttachAsJavaThread) or from inside a Java method
//   returns JNI_ERR and the thread stays attached; each native thread gets its own JNIEnv,
//   which dies at detach; a native thread that exits while attached is recorded as a leak.
// - Objects behind handle cells: classes, instances, strings (UTF-16) and byte arrays. Local
//   refs live in per-thread frames (16 guaranteed slots, as JNI promises, more after
//   EnsureLocalCapacity/PushLocalFrame), global refs in one registry. Using or deleting a deleted
//   ref, a local ref of another thread or a pointer that is no ref at all is recorded as an error.
// - -Xcheck:jni's rules: a call other than the Exception* functions, Delete*Ref, PopLocalFrame
//   and the Release* functions while an exception is pending records "JNI call made with
//   exception pending"; after CallIntMethod* the next such call, unless the exceptions were
//   checked first (ExceptionCheck, ExceptionOccurred or ExceptionClear), records "JNI call made
//   without checking exceptions when required to from CallIntMethodV". SetStrictExceptionChecks
//   makes the rule stricter: the very next call must be ExceptionCheck or ExceptionOccurred.
//   Other JNI calls between GetStringCritical and ReleaseStringCritical are errors too.
//
// Errors are recorded, never thrown: tests end with EXPECT_TRUE(jvm.NoErrors()).
// Everything is safe to use from many threads at once; one mutex guards the whole VM and is
// released while a Java method handler runs.
#pragma once

#include <jni.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace vx::fakejni {

// A Java int method: `self` is the receiver as passed to CallIntMethod*, `args` are decoded
// from the method's signature (objects and arrays in `.l`). Runs on the calling thread with the
// VM unlocked, inside a local frame of its own, and may call back into `env`. A Java exception
// is thrown with FakeJvm::ThrowJava; the caller then sees 0, whatever the handler returned.
using IntMethod = std::function<jint(JNIEnv* env, jobject self, const std::vector<jvalue>& args)>;
// A static Java method returning an object: as above, without a receiver. It returns a local
// ref made on `env` (or null); the caller receives it as a local ref of its own frame.
using StaticObjectMethod = std::function<jobject(JNIEnv* env, const std::vector<jvalue>& args)>;

// Functions whose calls can be made to fail, each the way the JVM fails it:
// NewByteArray, NewString, NewStringUTF, GetString(UTF)Chars, GetStringCritical,
// GetByteArrayElements: null with a pending java/lang/OutOfMemoryError; GetStringRegion: a
// pending java/lang/StringIndexOutOfBoundsException, buffer untouched; GetMethodID: null with
// java/lang/NoSuchMethodError; FindClass: null with java/lang/NoClassDefFoundError;
// PushLocalFrame, EnsureLocalCapacity: JNI_ERR with OutOfMemoryError; NewGlobalRef,
// NewLocalRef, GetObjectClass: null, no exception; AttachCurrentThread(AsDaemon): the code
// (default JNI_ERR), env null, thread not attached; GetJavaVM: the code (default JNI_ERR), vm
// null; GetEnv: the code (default JNI_EVERSION), env null.
enum class Fn {
  NewByteArray,
  NewGlobalRef,
  NewLocalRef,
  GetStringRegion,
  GetStringChars,
  GetStringCritical,
  GetStringUTFChars,
  NewString,
  NewStringUTF,
  GetMethodID,
  GetObjectClass,
  FindClass,
  GetByteArrayElements,
  PushLocalFrame,
  EnsureLocalCapacity,
  AttachCurrentThread,
  AttachCurrentThreadAsDaemon,
  GetJavaVM,
  GetEnv,
};

// Passed as `code` to use the function's default failure code (no JNI code has this value).
constexpr jint kDefaultFailure = -2147483647 - 1;

namespace detail {
struct Vm;
}

class FakeJvm {
 public:
  FakeJvm();
  ~FakeJvm();
  FakeJvm(const FakeJvm&) = delete;
  FakeJvm& operator=(const FakeJvm&) = delete;

  // One process-wide instance that is never destroyed, so threads that outlive a test (or
  // main) never see a dead VM. The fixture below uses it.
  static FakeJvm& Shared();

  JavaVM* vm();

  // --- Setup ---
  // Back to a fresh VM: every thread detached (their envs dead), refs, objects, classes,
  // counters, errors and faults dropped, default versions, lenient exception checks. Call it
  // only while no other thread uses the VM.
  void Reset();
  // JNI versions GetEnv grants (and AttachCurrentThread accepts in JavaVMAttachArgs); by
  // default 1.8, 1.6, 1.4, 1.2. GetVersion reports the highest.
  void SetSupportedVersions(std::vector<jint> versions);
  void SetStrictExceptionChecks(bool strict);

  // Defines a class ("com/example/Foo", slashes) whose superclass, already defined, is `super`.
  // Predefined: java/lang/Object, java/lang/Class, java/lang/String, [B, java/lang/Throwable and
  // the usual exceptions. Throws std::invalid_argument on a duplicate or unknown superclass.
  void DefineClass(const std::string& name, const std::string& super = "java/lang/Object");
  // Adds (or replaces the handler of) an int-returning instance method, e.g. "([BI)I". Argument
  // types: Z B C S I J F D, L...; and arrays. Throws std::invalid_argument on a bad signature
  // or an unknown class.
  void DefineIntMethod(const std::string& class_name, const std::string& name,
                       const std::string& signature, IntMethod handler);
  // Adds (or replaces the handler of) a static method returning an object, e.g.
  // "(Ljava/lang/String;)Ljava/lang/String;", for GetStaticMethodID and
  // CallStaticObjectMethod(V/A).
  void DefineStaticObjectMethod(const std::string& class_name, const std::string& name,
                                const std::string& signature, StaticObjectMethod handler);

  // --- Threads ---
  // Makes the calling thread a Java thread (attached, not detachable: DetachCurrentThread
  // returns JNI_ERR) and returns its env. Not counted as an attach.
  JNIEnv* AttachAsJavaThread();
  // Detaches the calling Java thread (or any attached thread) without counting a detach.
  void DetachJavaThread();
  // The calling thread's env, or null when it is not attached.
  JNIEnv* CurrentEnv();

  // --- Objects, as local refs of the calling (attached) thread; null when it is not ---
  // These are not JNI calls: no counting, no exception checks, no local capacity check.
  jobject NewInstance(const std::string& class_name);
  jstring NewJString(std::u16string_view text);
  jstring NewJStringUtf8(std::string_view utf8);
  jbyteArray NewJByteArray(const std::vector<std::uint8_t>& bytes);

  // --- Native methods, called as the JVM calls them (see AsNative) ---
  // Enters a native method on the calling (attached) thread: a local frame of its own (16
  // refs), which it cannot pop. Returns what LeaveNativeMethod needs.
  std::size_t EnterNativeMethod();
  // Leaves it: records an error when an exception is pending, pops the method's frames and
  // returns `result` (a reference the method returned) as a local ref of the caller's frame.
  jobject LeaveNativeMethod(std::size_t entered, jobject result);

  // --- Reading objects from any thread (an invalid ref records an error and gives {}) ---
  std::vector<std::uint8_t> Bytes(jbyteArray array);
  std::u16string StringU16(jstring text);
  std::string StringUtf8(jstring text);     // standard UTF-8; lone surrogates as U+FFFD
  std::string ClassNameOf(jobject object);  // "java/lang/String"; "" for null or invalid
  std::string MessageOf(jobject throwable);

  // --- Exceptions ---
  // Sets a pending exception of `class_name` (defined on the fly as a RuntimeException when
  // unknown) on the thread that owns `env`: for Java method handlers.
  static void ThrowJava(JNIEnv* env, const std::string& class_name,
                        const std::string& message = "");
  // The calling thread's pending exception: class name ("" when none), message; clearing.
  std::string PendingExceptionClass();
  std::string PendingExceptionMessage();
  void ClearPendingException();

  // --- Fault injection (shared by all threads) ---
  // The n-th call from now (1: the next) of `fn` fails; several can be queued.
  void FailNth(Fn fn, int n = 1, jint code = kDefaultFailure);
  // Every call of `fn` fails until ClearFaults or Reset.
  void FailAlways(Fn fn, jint code = kDefaultFailure);
  void ClearFaults();

  // --- Counters ---
  std::size_t LocalRefCount();             // live local refs of the calling thread, all frames
  std::size_t PeakLocalRefCount();         // the calling thread's peak since it attached
  std::size_t MaxPeakLocalRefs();          // the highest peak of any thread since Reset
  std::uint64_t LocalRefsFreedAtDetach();  // locals still live when their thread detached
  std::size_t GlobalRefCount();
  std::size_t LiveObjectCount();      // strings, arrays and instances still referenced
  std::size_t OutstandingBuffers();   // Get*Chars/Critical/Elements not yet released
  std::uint64_t AttachCount();        // successful attaches of unattached native threads
  std::uint64_t DaemonAttachCount();  // of which as daemon
  std::uint64_t DetachCount();        // detaches that detached
  // The name each successful attach of an unattached native thread gave in its
  // JavaVMAttachArgs, in attach order ("" for none).
  std::vector<std::string> AttachNames();
  std::size_t AttachedThreadCount();  // native threads attached now (Java threads excluded)
  std::uint64_t LeakedThreadCount();  // native threads that exited while attached
  // Calls of a JNI function by its name ("NewByteArray", "AttachCurrentThread", ...), counting
  // failed and erroneous calls. Unknown names give 0.
  std::uint64_t CallCount(std::string_view function);
  void ResetCallCounts();

  // --- Errors ---
  std::vector<std::string> Errors();
  std::vector<std::string> TakeErrors();  // returns and clears
  ::testing::AssertionResult NoErrors();

 private:
  std::unique_ptr<detail::Vm> vm_;
};

// Fixture: a reset shared VM, the test thread made a Java thread; no errors and no pending
// exception expected at the end (a test that provokes errors on purpose takes them with
// jvm().TakeErrors()).
class FakeJniTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  static FakeJvm& jvm() { return FakeJvm::Shared(); }
  JNIEnv* env() const { return env_; }

 private:
  JNIEnv* env_ = nullptr;
};

// A native method as the JVM calls it: AsNative(&Java_..._csd)(env, self, args...) runs it in
// a local frame of its own, popped on return (a returned reference survives in the caller's
// frame), and records an error when it returns with a Java exception pending.
template <typename R, typename... P>
struct NativeMethod {
  R(JNICALL* function)(JNIEnv*, P...);
  template <typename... A>
  R operator()(JNIEnv* env, A&&... args) const {
    FakeJvm& jvm = FakeJvm::Shared();
    const std::size_t entered = jvm.EnterNativeMethod();
    if constexpr (std::is_void_v<R>) {
      function(env, std::forward<A>(args)...);
      jvm.LeaveNativeMethod(entered, nullptr);
    } else if constexpr (std::is_pointer_v<R>) {
      R result = function(env, std::forward<A>(args)...);
      return static_cast<R>(jvm.LeaveNativeMethod(entered, result));
    } else {
      R result = function(env, std::forward<A>(args)...);
      jvm.LeaveNativeMethod(entered, nullptr);
      return result;
    }
  }
};
template <typename R, typename... P>
NativeMethod<R, P...> AsNative(R(JNICALL* function)(JNIEnv*, P...)) {
  return {function};
}

// True while the calling thread runs inside a JNI function of the fake VM (a Java method
// handler included): for fault injection that must hit the bridge's own code only.
bool InsideJvm();

// Text helpers, as the JVM encodes and decodes.
std::string ToModifiedUtf8(std::u16string_view text);  // U+0000 as C0 80, surrogates 3 bytes each
std::u16string FromModifiedUtf8(std::string_view bytes);  // NewStringUTF's decoding
std::string ToUtf8(std::u16string_view text);             // lone surrogates as U+FFFD
std::u16string FromUtf8(std::string_view utf8);           // invalid bytes as U+FFFD

}  // namespace vx::fakejni
