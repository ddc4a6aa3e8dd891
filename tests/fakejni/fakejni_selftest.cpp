// Tests of the fake Java VM itself: the behaviours the bridge's tests rely on.
#include "fakejni.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <string>
#include <thread>
#include <vector>

namespace vx::fakejni {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool Contains(const std::vector<std::string>& errors, const std::string& text) {
  for (const std::string& e : errors) {
    if (e.find(text) != std::string::npos) return true;
  }
  return false;
}

// The bridge's way of calling Java: through a va_list.
jint CallViaVaList(JNIEnv* env, jobject object, jmethodID method, ...) {
  va_list args;
  va_start(args, method);
  const jint result = env->CallIntMethodV(object, method, args);
  va_end(args);
  return result;
}

// Runs `body` on a new native thread and waits for it.
template <typename F>
void OnNativeThread(F body) {
  std::thread thread(body);
  thread.join();
}

class FakeJvmTest : public ::testing::Test {
 protected:
  void SetUp() override { env_ = jvm_.AttachAsJavaThread(); }
  void TearDown() override { EXPECT_TRUE(jvm_.NoErrors()); }

  FakeJvm jvm_;
  JNIEnv* env_ = nullptr;
};

// --- Threads and GetEnv ---

TEST_F(FakeJvmTest, GetEnvGrantsOnlySupportedVersionsToAttachedThreads) {
  JavaVM* vm = jvm_.vm();
  void* env = nullptr;
  EXPECT_EQ(vm->GetEnv(&env, JNI_VERSION_1_8), JNI_OK);
  EXPECT_EQ(env, env_);
  EXPECT_EQ(vm->GetEnv(&env, 0x10009), JNI_EVERSION);
  EXPECT_EQ(env, nullptr);

  jvm_.SetSupportedVersions({JNI_VERSION_1_6, JNI_VERSION_1_4, JNI_VERSION_1_2});
  EXPECT_EQ(vm->GetEnv(&env, JNI_VERSION_1_8), JNI_EVERSION);
  EXPECT_EQ(vm->GetEnv(&env, JNI_VERSION_1_6), JNI_OK);
  EXPECT_EQ(env_->GetVersion(), JNI_VERSION_1_6);

  OnNativeThread([&] {
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(vm->GetEnv(&other, JNI_VERSION_1_6), JNI_EDETACHED);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(vm->GetEnv(&other, 0x10009), JNI_EDETACHED);  // detached wins over version
  });
  EXPECT_EQ(jvm_.CallCount("GetEnv"), 6u);
}

TEST_F(FakeJvmTest, NativeThreadsAttachOnceDetachOnceAndGetTheirOwnEnv) {
  JavaVM* vm = jvm_.vm();
  std::vector<void*> envs(2, nullptr);
  std::atomic<int> ready{0};
  auto body = [&](int index) {
    void* env = nullptr;
    ASSERT_EQ(vm->AttachCurrentThread(&env, nullptr), JNI_OK);
    void* again = nullptr;
    EXPECT_EQ(vm->AttachCurrentThread(&again, nullptr), JNI_OK);  // no-op, same env
    EXPECT_EQ(again, env);
    envs[static_cast<std::size_t>(index)] = env;
    ++ready;
    while (ready.load() < 2) std::this_thread::yield();  // both attached at once
    EXPECT_EQ(vm->DetachCurrentThread(), JNI_OK);
    void* after = reinterpret_cast<void*>(1);
    EXPECT_EQ(vm->GetEnv(&after, JNI_VERSION_1_8), JNI_EDETACHED);
    EXPECT_EQ(vm->DetachCurrentThread(), JNI_OK);  // detached already: nothing happens
  };
  std::thread a(body, 0);
  std::thread b(body, 1);
  a.join();
  b.join();
  EXPECT_NE(envs[0], envs[1]);
  EXPECT_NE(envs[0], static_cast<void*>(env_));
  EXPECT_EQ(jvm_.AttachCount(), 2u);
  EXPECT_EQ(jvm_.DaemonAttachCount(), 0u);
  EXPECT_EQ(jvm_.DetachCount(), 2u);
  EXPECT_EQ(jvm_.CallCount("AttachCurrentThread"), 4u);
  EXPECT_EQ(jvm_.CallCount("DetachCurrentThread"), 4u);
  EXPECT_EQ(jvm_.AttachedThreadCount(), 0u);
  EXPECT_EQ(jvm_.LeakedThreadCount(), 0u);
}

TEST_F(FakeJvmTest, JavaThreadsAndThreadsInsideJavaCannotDetach) {
  JavaVM* vm = jvm_.vm();
  EXPECT_EQ(vm->DetachCurrentThread(), JNI_ERR);
  void* env = nullptr;
  EXPECT_EQ(vm->GetEnv(&env, JNI_VERSION_1_8), JNI_OK);  // still attached
  EXPECT_EQ(env, env_);
  EXPECT_EQ(jvm_.DetachCount(), 0u);

  jvm_.DefineClass("t/Api");
  jint detach_result = 0;
  jvm_.DefineIntMethod("t/Api", "run", "()I", [&](JNIEnv*, jobject, const std::vector<jvalue>&) {
    detach_result = vm->DetachCurrentThread();
    return 0;
  });
  OnNativeThread([&] {
    JNIEnv* native = nullptr;
    ASSERT_EQ(vm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&native), nullptr), JNI_OK);
    jobject api = jvm_.NewInstance("t/Api");
    jclass cls = native->GetObjectClass(api);
    jmethodID run = native->GetMethodID(cls, "run", "()I");
    native->CallIntMethod(api, run);
    EXPECT_FALSE(native->ExceptionCheck());
    EXPECT_EQ(vm->DetachCurrentThread(), JNI_OK);
  });
  EXPECT_EQ(detach_result, JNI_ERR);
  EXPECT_EQ(jvm_.DaemonAttachCount(), 1u);
  EXPECT_EQ(jvm_.DetachCount(), 1u);
  EXPECT_EQ(jvm_.LocalRefsFreedAtDetach(), 2u);  // the instance and its class
}

TEST_F(FakeJvmTest, ThreadExitingWhileAttachedIsALeak) {
  JavaVM* vm = jvm_.vm();
  OnNativeThread([&] {
    void* env = nullptr;
    ASSERT_EQ(vm->AttachCurrentThread(&env, nullptr), JNI_OK);
    EXPECT_EQ(jvm_.AttachedThreadCount(), 1u);
  });
  EXPECT_EQ(jvm_.LeakedThreadCount(), 1u);
  EXPECT_EQ(jvm_.AttachedThreadCount(), 0u);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "exited while still attached"));
}

TEST_F(FakeJvmTest, EnvUsedAfterDetachOrOnAnotherThreadIsAnError) {
  JavaVM* vm = jvm_.vm();
  JNIEnv* stale = nullptr;
  OnNativeThread([&] {
    ASSERT_EQ(vm->AttachCurrentThread(reinterpret_cast<void**>(&stale), nullptr), JNI_OK);
    ASSERT_EQ(vm->DetachCurrentThread(), JNI_OK);
    EXPECT_EQ(stale->NewByteArray(4), nullptr);
  });
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "NewByteArray: JNIEnv used after its thread detached"));
  OnNativeThread([&] { EXPECT_EQ(env_->NewByteArray(4), nullptr); });
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "JNIEnv used on a thread other than its own"));
}

// --- References ---

TEST_F(FakeJvmTest, LocalAndGlobalRefsAreCountedAndMisuseIsRecorded) {
  const std::size_t objects = jvm_.LiveObjectCount();
  jbyteArray array = env_->NewByteArray(3);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(jvm_.LocalRefCount(), 1u);
  jobject global = env_->NewGlobalRef(array);
  EXPECT_EQ(jvm_.GlobalRefCount(), 1u);
  EXPECT_TRUE(env_->IsSameObject(array, global));
  env_->DeleteLocalRef(array);
  EXPECT_EQ(jvm_.LocalRefCount(), 0u);
  EXPECT_EQ(env_->GetArrayLength(static_cast<jarray>(global)), 3);  // global keeps it alive
  EXPECT_TRUE(jvm_.NoErrors());

  env_->DeleteLocalRef(array);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "DeleteLocalRef: reference"));  // deleted twice
  EXPECT_EQ(env_->GetArrayLength(array), 0);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "GetArrayLength: use of a deleted reference"));
  env_->DeleteLocalRef(global);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "DeleteLocalRef: called on a global reference"));
  EXPECT_EQ(jvm_.GlobalRefCount(), 1u);

  env_->DeleteGlobalRef(global);
  EXPECT_EQ(jvm_.GlobalRefCount(), 0u);
  EXPECT_EQ(jvm_.LiveObjectCount(), objects);
  env_->DeleteGlobalRef(global);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "deleted twice"));
  int not_a_ref = 0;
  env_->DeleteLocalRef(reinterpret_cast<jobject>(&not_a_ref));
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "invalid reference"));
}

TEST_F(FakeJvmTest, LocalRefsOfAnotherThreadAreRejected) {
  jbyteArray mine = env_->NewByteArray(1);
  OnNativeThread([&] {
    JNIEnv* env = nullptr;
    ASSERT_EQ(jvm_.vm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr), JNI_OK);
    EXPECT_EQ(env->GetArrayLength(mine), 0);
    env->DeleteLocalRef(mine);
    EXPECT_EQ(jvm_.vm()->DetachCurrentThread(), JNI_OK);
  });
  const std::vector<std::string> errors = jvm_.TakeErrors();
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_TRUE(Contains(errors, "of another thread"));
  EXPECT_EQ(env_->GetArrayLength(mine), 1);  // still valid on its own thread
}

TEST_F(FakeJvmTest, LocalFramesFreeTheirRefsAndKeepTheResult) {
  ASSERT_EQ(env_->PushLocalFrame(4), JNI_OK);
  jbyteArray a = env_->NewByteArray(2);
  env_->NewByteArray(5);
  EXPECT_EQ(jvm_.LocalRefCount(), 2u);
  jobject kept = env_->PopLocalFrame(a);
  EXPECT_EQ(jvm_.LocalRefCount(), 1u);
  EXPECT_EQ(env_->GetArrayLength(static_cast<jarray>(kept)), 2);
  EXPECT_EQ(jvm_.PeakLocalRefCount(), 2u);
  EXPECT_EQ(env_->PopLocalFrame(nullptr), nullptr);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "PopLocalFrame without a matching PushLocalFrame"));
}

jbyteArray JNICALL NativeThatThrows(JNIEnv* env, jobject, jint length) {
  env->NewByteArray(3);  // a local of the method's own frame
  jbyteArray kept = env->NewByteArray(length);
  FakeJvm::ThrowJava(env, "java/lang/IllegalStateException", "left pending");
  return kept;
}

// AsNative runs a native method in a frame of its own and checks how it returns.
TEST(NativeMethod, RunsInItsOwnFrameAndMustNotReturnWithAnExceptionPending) {
  FakeJvm& jvm = FakeJvm::Shared();
  jvm.Reset();
  JNIEnv* env = jvm.AttachAsJavaThread();
  jbyteArray kept = AsNative(&NativeThatThrows)(env, nullptr, 2);
  EXPECT_EQ(jvm.LocalRefCount(), 1u);  // the other local went with the method's frame
  jvm.ClearPendingException();
  EXPECT_EQ(env->GetArrayLength(kept), 2);
  EXPECT_TRUE(Contains(jvm.TakeErrors(), "native method returned with an exception pending"));
  jvm.DetachJavaThread();
  jvm.Reset();
}

TEST_F(FakeJvmTest, MoreLocalsThanTheCapacityAreReported) {
  std::vector<jbyteArray> arrays;
  for (int i = 0; i < 16; ++i) arrays.push_back(env_->NewByteArray(1));
  EXPECT_TRUE(jvm_.NoErrors());
  arrays.push_back(env_->NewByteArray(1));
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "JNI local refs: 17, exceeds capacity: 16"));
  for (jbyteArray a : arrays) env_->DeleteLocalRef(a);

  ASSERT_EQ(env_->EnsureLocalCapacity(40), JNI_OK);
  for (int i = 0; i < 40; ++i) env_->DeleteLocalRef(env_->NewByteArray(1));
  for (int i = 0; i < 40; ++i) arrays.push_back(env_->NewByteArray(1));
  EXPECT_EQ(jvm_.LocalRefCount(), 40u);
}

// --- Methods ---

TEST_F(FakeJvmTest, MethodsReceiveTheirArgumentsThroughEveryCallForm) {
  jvm_.DefineClass("com/tarnwick/api/NativeAPI");
  std::vector<Bytes> seen_bytes;
  std::vector<jint> seen_kinds;
  jvm_.DefineIntMethod("com/tarnwick/api/NativeAPI", "dataAPICallBack", "([BI)I",
                       [&](JNIEnv*, jobject, const std::vector<jvalue>& args) {
                         seen_bytes.push_back(jvm_.Bytes(static_cast<jbyteArray>(args[0].l)));
                         seen_kinds.push_back(args[1].i);
                         return args[1].i * 10;
                       });
  jobject api = jvm_.NewInstance("com/tarnwick/api/NativeAPI");
  jclass cls = env_->GetObjectClass(api);
  jmethodID data = env_->GetMethodID(cls, "dataAPICallBack", "([BI)I");
  ASSERT_NE(data, nullptr);

  const jbyte payload[] = {1, 2, -1};
  jbyteArray array = env_->NewByteArray(3);
  env_->SetByteArrayRegion(array, 0, 3, payload);
  EXPECT_EQ(CallViaVaList(env_, api, data, array, 2), 20);
  EXPECT_FALSE(env_->ExceptionCheck());
  // jni.h's C++ CallIntMethod goes through CallIntMethodV; the C slot is called directly.
  EXPECT_EQ(env_->functions->CallIntMethod(env_, api, data, array, 3), 30);
  EXPECT_FALSE(env_->ExceptionCheck());
  jvalue args[2];
  args[0].l = array;
  args[1].i = 4;
  EXPECT_EQ(env_->CallIntMethodA(api, data, args), 40);
  EXPECT_FALSE(env_->ExceptionCheck());

  const Bytes expected = {0x01, 0x02, 0xFF};
  EXPECT_EQ(seen_bytes, (std::vector<Bytes>{expected, expected, expected}));
  EXPECT_EQ(seen_kinds, (std::vector<jint>{2, 3, 4}));
  EXPECT_EQ(jvm_.CallCount("CallIntMethodV"), 1u);
  EXPECT_EQ(jvm_.CallCount("CallIntMethod"), 1u);
  EXPECT_EQ(jvm_.CallCount("CallIntMethodA"), 1u);
}

TEST_F(FakeJvmTest, EveryPrimitiveArgumentTypeIsDecoded) {
  jvm_.DefineClass("t/Prims");
  std::vector<jvalue> got;
  jvm_.DefineIntMethod("t/Prims", "all", "(ZBCSIJFDLjava/lang/String;)I",
                       [&](JNIEnv*, jobject, const std::vector<jvalue>& args) {
                         got = args;
                         return 0;
                       });
  jobject obj = jvm_.NewInstance("t/Prims");
  jclass cls = env_->GetObjectClass(obj);
  jmethodID all = env_->GetMethodID(cls, "all", "(ZBCSIJFDLjava/lang/String;)I");
  jstring text = jvm_.NewJString(u"x");
  CallViaVaList(env_, obj, all, JNI_TRUE, jbyte{-5}, jchar{0xFFFF}, jshort{-300}, jint{123456},
                jlong{-1234567890123LL}, jfloat{1.5f}, jdouble{-2.25}, text);
  EXPECT_FALSE(env_->ExceptionCheck());
  ASSERT_EQ(got.size(), 9u);
  EXPECT_EQ(got[0].z, JNI_TRUE);
  EXPECT_EQ(got[1].b, -5);
  EXPECT_EQ(got[2].c, 0xFFFF);
  EXPECT_EQ(got[3].s, -300);
  EXPECT_EQ(got[4].i, 123456);
  EXPECT_EQ(got[5].j, -1234567890123LL);
  EXPECT_EQ(got[6].f, 1.5f);
  EXPECT_EQ(got[7].d, -2.25);
  EXPECT_TRUE(env_->IsSameObject(got[8].l, text));

  jbyteArray wrong = env_->NewByteArray(1);
  CallViaVaList(env_, obj, all, JNI_TRUE, 0, 0, 0, 0, jlong{0}, 0.0, 0.0, wrong);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "is a [B, not a Ljava/lang/String;"));
  EXPECT_THROW(jvm_.DefineIntMethod("t/Prims", "bad", "(Q)I", nullptr), std::invalid_argument);
  EXPECT_THROW(jvm_.DefineIntMethod("t/Prims", "bad", "()V", nullptr), std::invalid_argument);
}

TEST_F(FakeJvmTest, SubclassesInheritAndOverrideMethods) {
  jvm_.DefineClass("t/Base");
  jvm_.DefineClass("t/Derived", "t/Base");
  jvm_.DefineIntMethod("t/Base", "a", "()I", [](JNIEnv*, jobject, const auto&) { return 1; });
  jvm_.DefineIntMethod("t/Base", "b", "()I", [](JNIEnv*, jobject, const auto&) { return 2; });
  jvm_.DefineIntMethod("t/Derived", "b", "()I", [](JNIEnv*, jobject, const auto&) { return 3; });
  jobject base = jvm_.NewInstance("t/Base");
  jobject derived = jvm_.NewInstance("t/Derived");
  jclass derived_class = env_->GetObjectClass(derived);
  jclass base_class = env_->GetObjectClass(base);
  jmethodID a = env_->GetMethodID(derived_class, "a", "()I");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(env_->CallIntMethod(derived, a), 1);
  env_->ExceptionCheck();
  jmethodID base_b = env_->GetMethodID(base_class, "b", "()I");
  EXPECT_EQ(env_->CallIntMethod(derived, base_b), 3);  // virtual dispatch
  env_->ExceptionCheck();
  EXPECT_EQ(env_->CallIntMethod(base, base_b), 2);
  env_->ExceptionCheck();
  jmethodID derived_b = env_->GetMethodID(derived_class, "b", "()I");
  EXPECT_EQ(env_->CallIntMethod(base, derived_b), 0);  // Base is no Derived
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "has no method t/Derived.b"));
}

TEST_F(FakeJvmTest, MissingMethodsNullIdsAndNullObjectsAreHandledLikeTheJvm) {
  jvm_.DefineClass("t/Api");
  jobject api = jvm_.NewInstance("t/Api");
  jclass cls = env_->GetObjectClass(api);
  EXPECT_EQ(env_->GetMethodID(cls, "logAPICallBack", "([B)I"), nullptr);
  ASSERT_TRUE(env_->ExceptionCheck());
  EXPECT_EQ(jvm_.PendingExceptionClass(), "java/lang/NoSuchMethodError");
  EXPECT_EQ(jvm_.PendingExceptionMessage(), "logAPICallBack");
  env_->ExceptionClear();
  EXPECT_TRUE(jvm_.NoErrors());

  EXPECT_EQ(CallViaVaList(env_, api, nullptr), 0);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "CallIntMethodV: called with a null jmethodID"));
  jvm_.DefineIntMethod("t/Api", "f", "()I", [](JNIEnv*, jobject, const auto&) { return 7; });
  jmethodID f = env_->GetMethodID(cls, "f", "()I");
  EXPECT_EQ(CallViaVaList(env_, nullptr, f), 0);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "CallIntMethodV: called with a null object"));
  EXPECT_EQ(env_->FindClass("t/Missing"), nullptr);
  EXPECT_EQ(jvm_.PendingExceptionClass(), "java/lang/NoClassDefFoundError");
  env_->ExceptionClear();
  jclass found = env_->FindClass("t/Api");
  EXPECT_TRUE(env_->IsSameObject(found, cls));
}

TEST_F(FakeJvmTest, LocalsMadeInsideAJavaMethodDieWhenItReturns) {
  jvm_.DefineClass("t/Api");
  jvm_.DefineIntMethod("t/Api", "make", "()I", [](JNIEnv* env, jobject, const auto&) {
    for (int i = 0; i < 20; ++i) env->NewByteArray(8);
    return 1;
  });
  jobject api = jvm_.NewInstance("t/Api");
  jclass cls = env_->GetObjectClass(api);
  jmethodID make = env_->GetMethodID(cls, "make", "()I");
  const std::size_t before = jvm_.LocalRefCount();
  const std::size_t objects = jvm_.LiveObjectCount();
  EXPECT_EQ(env_->CallIntMethod(api, make), 1);
  EXPECT_FALSE(env_->ExceptionCheck());
  EXPECT_EQ(jvm_.LocalRefCount(), before);
  EXPECT_EQ(jvm_.LiveObjectCount(), objects);
}

// --- Exceptions and the -Xcheck:jni rules ---

TEST_F(FakeJvmTest, CallsWithAnExceptionPendingAreReported) {
  EXPECT_EQ(env_->NewByteArray(-1), nullptr);
  EXPECT_EQ(jvm_.PendingExceptionClass(), "java/lang/NegativeArraySizeException");
  env_->DeleteLocalRef(nullptr);  // allowed with an exception pending
  EXPECT_TRUE(env_->ExceptionCheck());
  jthrowable e = env_->ExceptionOccurred();
  EXPECT_EQ(jvm_.ClassNameOf(e), "java/lang/NegativeArraySizeException");
  EXPECT_TRUE(jvm_.NoErrors());

  jbyteArray a = env_->NewByteArray(1);
  EXPECT_NE(a, nullptr);  // the JVM warns but goes on
  EXPECT_EQ(jvm_.TakeErrors(),
            (std::vector<std::string>{"NewByteArray: JNI call made with exception pending"
                                      " [thread #1]"}));
  env_->ExceptionClear();
  EXPECT_FALSE(env_->ExceptionCheck());
  env_->DeleteLocalRef(e);
  env_->DeleteLocalRef(a);
  EXPECT_EQ(jvm_.LocalRefCount(), 0u);
}

class ExceptionCheckRules : public FakeJvmTest {
 protected:
  void SetUp() override {
    FakeJvmTest::SetUp();
    jvm_.DefineClass("t/Api");
    jvm_.DefineIntMethod("t/Api", "log", "([B)I",
                         [](JNIEnv* env, jobject, const std::vector<jvalue>& args) {
                           if (args[0].l == nullptr) {
                             FakeJvm::ThrowJava(env, "java/lang/IllegalStateException", "boom");
                           }
                           return 5;
                         });
    api_ = jvm_.NewInstance("t/Api");
    jclass cls = env_->GetObjectClass(api_);
    log_ = env_->GetMethodID(cls, "log", "([B)I");
    env_->DeleteLocalRef(cls);
    array_ = env_->NewByteArray(1);
  }
  jobject api_ = nullptr;
  jmethodID log_ = nullptr;
  jbyteArray array_ = nullptr;
};

TEST_F(ExceptionCheckRules, AThrowingMethodReturnsZeroWithTheExceptionPending) {
  EXPECT_EQ(CallViaVaList(env_, api_, log_, nullptr), 0);
  ASSERT_TRUE(env_->ExceptionCheck());
  EXPECT_EQ(jvm_.PendingExceptionClass(), "java/lang/IllegalStateException");
  EXPECT_EQ(jvm_.PendingExceptionMessage(), "boom");
  env_->ExceptionClear();
  env_->DeleteLocalRef(array_);
}

TEST_F(ExceptionCheckRules, TheNextCallAfterACallMustCheckExceptions) {
  CallViaVaList(env_, api_, log_, array_);
  env_->DeleteLocalRef(array_);  // allowed before the check, as in HotSpot
  EXPECT_TRUE(jvm_.NoErrors());
  env_->NewByteArray(1);
  EXPECT_EQ(jvm_.TakeErrors(),
            (std::vector<std::string>{"NewByteArray: JNI call made without checking exceptions "
                                      "when required to from CallIntMethodV [thread #1]"}));
  env_->NewByteArray(1);  // reported once
  EXPECT_TRUE(jvm_.NoErrors());

  CallViaVaList(env_, api_, log_, nullptr);
  env_->ExceptionClear();  // clearing counts as checking
  env_->NewByteArray(1);
  EXPECT_TRUE(jvm_.NoErrors());
}

TEST_F(ExceptionCheckRules, StrictModeWantsExceptionCheckFirst) {
  jvm_.SetStrictExceptionChecks(true);
  CallViaVaList(env_, api_, log_, array_);
  EXPECT_FALSE(env_->ExceptionCheck());
  env_->DeleteLocalRef(array_);
  EXPECT_TRUE(jvm_.NoErrors());
  jbyteArray b = env_->NewByteArray(1);
  CallViaVaList(env_, api_, log_, b);
  env_->DeleteLocalRef(b);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "DeleteLocalRef: JNI call made without checking"));
}

// --- Fault injection ---

TEST_F(FakeJvmTest, FailNthFailsExactlyThatCallTheJvmWay) {
  jvm_.FailNth(Fn::NewByteArray, 2);
  jbyteArray first = env_->NewByteArray(1);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(env_->NewByteArray(1), nullptr);
  EXPECT_EQ(jvm_.PendingExceptionClass(), "java/lang/OutOfMemoryError");
  env_->ExceptionClear();
  EXPECT_NE(env_->NewByteArray(1), nullptr);

  jvm_.FailAlways(Fn::GetStringUTFChars);
  jstring s = jvm_.NewJString(u"abc");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(env_->GetStringUTFChars(s, nullptr), nullptr);
    EXPECT_TRUE(env_->ExceptionCheck());
    env_->ExceptionClear();
  }
  jvm_.ClearFaults();
  const char* utf = env_->GetStringUTFChars(s, nullptr);
  ASSERT_NE(utf, nullptr);
  EXPECT_STREQ(utf, "abc");
  EXPECT_EQ(jvm_.OutstandingBuffers(), 1u);
  env_->ReleaseStringUTFChars(s, utf);
  EXPECT_EQ(jvm_.OutstandingBuffers(), 0u);

  jvm_.DefineClass("t/Api");
  jvm_.DefineIntMethod("t/Api", "f", "()I", [](JNIEnv*, jobject, const auto&) { return 1; });
  jobject api = jvm_.NewInstance("t/Api");
  jclass cls = env_->GetObjectClass(api);
  jvm_.FailNth(Fn::GetMethodID);
  EXPECT_EQ(env_->GetMethodID(cls, "f", "()I"), nullptr);
  EXPECT_EQ(jvm_.PendingExceptionClass(), "java/lang/NoSuchMethodError");
  env_->ExceptionClear();
  EXPECT_NE(env_->GetMethodID(cls, "f", "()I"), nullptr);

  jvm_.FailNth(Fn::GetObjectClass);
  EXPECT_EQ(env_->GetObjectClass(s), nullptr);
  EXPECT_FALSE(env_->ExceptionCheck());
  jvm_.FailNth(Fn::NewGlobalRef);
  EXPECT_EQ(env_->NewGlobalRef(s), nullptr);
  EXPECT_EQ(jvm_.GlobalRefCount(), 0u);
}

TEST_F(FakeJvmTest, InvocationFaultsLeaveNoEnvAndNoAttachment) {
  JavaVM* vm = jvm_.vm();
  jvm_.FailNth(Fn::GetJavaVM);
  JavaVM* got = vm;
  EXPECT_EQ(env_->GetJavaVM(&got), JNI_ERR);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(env_->GetJavaVM(&got), JNI_OK);
  EXPECT_EQ(got, vm);

  jvm_.FailNth(Fn::GetEnv, 1, JNI_EDETACHED);
  void* env = nullptr;
  EXPECT_EQ(vm->GetEnv(&env, JNI_VERSION_1_8), JNI_EDETACHED);
  EXPECT_EQ(env, nullptr);
  jvm_.FailNth(Fn::GetEnv);
  EXPECT_EQ(vm->GetEnv(&env, JNI_VERSION_1_8), JNI_EVERSION);

  jvm_.FailNth(Fn::AttachCurrentThread);
  jvm_.FailNth(Fn::AttachCurrentThreadAsDaemon, 1, JNI_ENOMEM);
  OnNativeThread([&] {
    void* native = reinterpret_cast<void*>(1);
    EXPECT_EQ(vm->AttachCurrentThread(&native, nullptr), JNI_ERR);
    EXPECT_EQ(native, nullptr);
    EXPECT_EQ(vm->AttachCurrentThreadAsDaemon(&native, nullptr), JNI_ENOMEM);
    EXPECT_EQ(native, nullptr);
    EXPECT_EQ(vm->GetEnv(&native, JNI_VERSION_1_8), JNI_EDETACHED);
  });
  EXPECT_EQ(jvm_.AttachCount(), 0u);
  EXPECT_EQ(jvm_.LeakedThreadCount(), 0u);
}

// --- Strings ---

// "A", U+0000, "é", "€", U+1F600 (a surrogate pair).
const std::u16string kMixed(u"A\0\u00E9\u20AC\U0001F600", 6);
const std::string kMixedModified = "A\xC0\x80\xC3\xA9\xE2\x82\xAC\xED\xA0\xBD\xED\xB8\x80";

TEST(FakeJniText, ModifiedUtf8MatchesTheJvmEncoding) {
  const std::u16string& mixed = kMixed;
  EXPECT_EQ(ToModifiedUtf8(mixed), kMixedModified);
  EXPECT_EQ(FromModifiedUtf8(kMixedModified), mixed);
  EXPECT_EQ(ToUtf8(mixed), std::string("A\0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 11));
  EXPECT_EQ(FromUtf8(std::string("A\0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 11)), mixed);
  // Four-byte UTF-8 is not modified UTF-8: the JVM takes each byte as a char of its own.
  EXPECT_EQ(FromModifiedUtf8("\xF0\x9F\x98\x80"), (std::u16string{0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // lone surrogate
  EXPECT_EQ(FromUtf8(std::string("a\xFF") + "b"), u"a\uFFFDb");
}

TEST_F(FakeJvmTest, StringsReadBackAsUtf16AndModifiedUtf8) {
  const std::u16string& mixed = kMixed;
  jstring s = jvm_.NewJString(mixed);
  EXPECT_EQ(env_->GetStringLength(s), 6);
  EXPECT_EQ(env_->GetStringUTFLength(s), 14);
  const char* utf = env_->GetStringUTFChars(s, nullptr);
  EXPECT_EQ(std::string(utf), kMixedModified);  // no NUL inside: U+0000 is C0 80
  env_->ReleaseStringUTFChars(s, utf);

  jchar region[3] = {0, 0, 0};
  env_->GetStringRegion(s, 3, 3, region);
  EXPECT_EQ(region[0], 0x20AC);
  EXPECT_EQ(region[1], 0xD83D);
  EXPECT_EQ(region[2], 0xDE00);
  env_->GetStringRegion(s, 4, 3, region);
  EXPECT_EQ(jvm_.PendingExceptionClass(), "java/lang/StringIndexOutOfBoundsException");
  env_->ExceptionClear();

  char buf[16];
  std::fill(std::begin(buf), std::end(buf), 'x');
  env_->GetStringUTFRegion(s, 0, 3, buf);
  EXPECT_EQ(std::string(buf, 6), std::string("A\xC0\x80\xC3\xA9\0", 6));

  jboolean copy = JNI_FALSE;
  const jchar* chars = env_->GetStringChars(s, &copy);
  EXPECT_EQ(copy, JNI_TRUE);
  EXPECT_EQ(chars[5], 0xDE00);
  EXPECT_EQ(chars[6], 0);
  env_->ReleaseStringChars(s, chars + 1);  // not the pointer handed out
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "not handed out by the matching Get function"));
  env_->ReleaseStringChars(s, chars);
  EXPECT_EQ(jvm_.OutstandingBuffers(), 0u);

  jstring decoded = env_->NewStringUTF(kMixedModified.c_str());
  EXPECT_EQ(jvm_.StringU16(decoded), mixed);
  const jchar units[] = {0x48, 0xD83D, 0xDE00};
  jstring made = env_->NewString(units, 3);
  EXPECT_EQ(jvm_.StringUtf8(made), "H\xF0\x9F\x98\x80");
  EXPECT_EQ(jvm_.StringU16(jvm_.NewJStringUtf8("H\xF0\x9F\x98\x80")), u"H\U0001F600");
}

TEST_F(FakeJvmTest, NothingButTheReleaseMayRunInsideACriticalRegion) {
  jstring s = jvm_.NewJString(u"ab");
  const jchar* chars = env_->GetStringCritical(s, nullptr);
  ASSERT_NE(chars, nullptr);
  EXPECT_EQ(chars[1], u'b');
  env_->GetStringLength(s);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "GetStringLength: JNI call made inside a"));
  env_->ReleaseStringCritical(s, chars);
  env_->GetStringLength(s);
  EXPECT_TRUE(jvm_.NoErrors());
}

// --- Byte arrays ---

TEST_F(FakeJvmTest, ByteArrayRegionsAndElements) {
  jbyteArray a = jvm_.NewJByteArray({1, 2, 3, 4});
  const jbyte two[] = {9, 8};
  env_->SetByteArrayRegion(a, 1, 2, two);
  EXPECT_EQ(jvm_.Bytes(a), (Bytes{1, 9, 8, 4}));
  env_->SetByteArrayRegion(a, 3, 2, two);
  EXPECT_EQ(jvm_.PendingExceptionClass(), "java/lang/ArrayIndexOutOfBoundsException");
  env_->ExceptionClear();
  EXPECT_EQ(jvm_.Bytes(a), (Bytes{1, 9, 8, 4}));
  jbyte out[4] = {};
  env_->GetByteArrayRegion(a, 0, 4, out);
  EXPECT_EQ(out[1], 9);

  jbyte* elems = env_->GetByteArrayElements(a, nullptr);
  elems[0] = 7;
  env_->ReleaseByteArrayElements(a, elems, JNI_COMMIT);
  EXPECT_EQ(jvm_.Bytes(a)[0], 7);
  elems[0] = 6;
  env_->ReleaseByteArrayElements(a, elems, JNI_ABORT);
  EXPECT_EQ(jvm_.Bytes(a)[0], 7);
  EXPECT_EQ(jvm_.OutstandingBuffers(), 0u);
  jobject not_an_array = jvm_.NewJString(u"no");
  EXPECT_EQ(env_->GetArrayLength(static_cast<jarray>(not_an_array)), 0);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "argument is not a byte[] but a java/lang/String"));
}

// --- Concurrency: the bridge's callbacks run on many threads at once ---

TEST_F(FakeJvmTest, ManyThreadsAttachCallAndDetachConcurrently) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  jvm_.DefineClass("t/Api");
  std::atomic<long> sum{0};
  jvm_.DefineIntMethod("t/Api", "dataAPICallBack", "([BI)I",
                       [&](JNIEnv* env, jobject, const std::vector<jvalue>& args) {
                         auto array = static_cast<jbyteArray>(args[0].l);
                         jbyte first = 0;
                         env->GetByteArrayRegion(array, 0, 1, &first);
                         sum += first + args[1].i;
                         return 0;
                       });
  jobject global = env_->NewGlobalRef(jvm_.NewInstance("t/Api"));
  JavaVM* vm = jvm_.vm();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        JNIEnv* env = nullptr;
        ASSERT_EQ(vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8), JNI_EDETACHED);
        ASSERT_EQ(vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr), JNI_OK);
        jclass cls = env->GetObjectClass(global);
        jmethodID m = env->GetMethodID(cls, "dataAPICallBack", "([BI)I");
        jbyteArray array = env->NewByteArray(64);
        const jbyte value = static_cast<jbyte>(t);
        env->SetByteArrayRegion(array, 0, 1, &value);
        CallViaVaList(env, global, m, array, 1);
        EXPECT_FALSE(env->ExceptionCheck());
        env->DeleteLocalRef(array);
        env->DeleteLocalRef(cls);
        ASSERT_EQ(vm->DetachCurrentThread(), JNI_OK);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(sum.load(), kRounds * (kThreads * (kThreads - 1) / 2 + kThreads));
  EXPECT_EQ(jvm_.AttachCount(), static_cast<std::uint64_t>(kThreads * kRounds));
  EXPECT_EQ(jvm_.DetachCount(), static_cast<std::uint64_t>(kThreads * kRounds));
  EXPECT_EQ(jvm_.CallCount("NewByteArray"), static_cast<std::uint64_t>(kThreads * kRounds));
  EXPECT_EQ(jvm_.AttachedThreadCount(), 0u);
  EXPECT_EQ(jvm_.LocalRefsFreedAtDetach(), 0u);
  EXPECT_EQ(jvm_.MaxPeakLocalRefs(), 2u);
  env_->DeleteGlobalRef(global);
  EXPECT_EQ(jvm_.GlobalRefCount(), 0u);
}

// --- Reset, traps and the shared fixture ---

TEST_F(FakeJvmTest, ResetDropsEverythingAndStaleRefsAreCaught) {
  jobject global = env_->NewGlobalRef(env_->NewByteArray(1));
  jvm_.FailAlways(Fn::NewByteArray);
  jvm_.Reset();
  EXPECT_EQ(jvm_.GlobalRefCount(), 0u);
  EXPECT_EQ(jvm_.CallCount("NewByteArray"), 0u);
  EXPECT_EQ(jvm_.LiveObjectCount(), 0u);
  EXPECT_EQ(jvm_.CurrentEnv(), nullptr);
  JNIEnv* env = jvm_.AttachAsJavaThread();
  EXPECT_NE(env->NewByteArray(1), nullptr);  // faults are gone
  EXPECT_EQ(env->GetArrayLength(static_cast<jarray>(global)), 0);
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "GetArrayLength: use of a deleted reference"));
  env_->GetVersion();  // the env from before the reset is dead
  EXPECT_TRUE(Contains(jvm_.TakeErrors(), "JNIEnv used after its thread detached"));
}

#if GTEST_HAS_DEATH_TEST
TEST(FakeJniDeathTest, UnimplementedFunctionsAbortWithTheirName) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        FakeJvm jvm;
        JNIEnv* env = jvm.AttachAsJavaThread();
        env->GetSuperclass(nullptr);
      },
      "unimplemented JNI function JNIEnv::GetSuperclass");
  EXPECT_DEATH(
      {
        FakeJvm jvm;
        jvm.vm()->DestroyJavaVM();
      },
      "unimplemented JNI function JavaVM::DestroyJavaVM");
}
#endif

using SharedFixture = FakeJniTest;

TEST_F(SharedFixture, GivesAJavaThreadOnAFreshVm) {
  ASSERT_NE(env(), nullptr);
  EXPECT_EQ(jvm().CurrentEnv(), env());
  EXPECT_EQ(jvm().vm()->DetachCurrentThread(), JNI_ERR);
  EXPECT_EQ(jvm().GlobalRefCount(), 0u);
  JavaVM* vm = nullptr;
  EXPECT_EQ(env()->GetJavaVM(&vm), JNI_OK);
  EXPECT_EQ(vm, jvm().vm());
}

}  // namespace
}  // namespace vx::fakejni
