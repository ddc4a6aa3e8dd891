// Callback messages and their delivery to dataAPICallBack on service threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "base/alloc.h"
#include "bridge/state.h"
#include "callback/callback_target.h"
#include "callback/callback_threads.h"
#include "callback/callbacks.h"
#include "ctype_locale.h"
#include "fakejni/fakejni.h"
#include "log/log_thread.h"
#include "log_capture.h"
#include "record_builder.h"
#include "text/ansi_to_utf8.h"

namespace vxtest {
namespace {

constexpr char kApiClass[] = "com/tarnwick/api/NativeAPI";

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

struct Delivery {
  std::vector<std::uint8_t> bytes;
  bool isNull;
  jint kind;
};

class Callbacks : public vx::fakejni::FakeJniTest {
 protected:
  void SetUp() override {
    FakeJniTest::SetUp();
    vx::testing::ResetBridgeState();
    jvm().DefineClass(kApiClass);
    DefineHandler([](JNIEnv*, jint) { return 0; });
    m_object = env()->NewGlobalRef(jvm().NewInstance(kApiClass));
    vx::g_jvm.store(jvm().vm());
    vx::g_callbackObject.store(m_object);
    TakeLogLines();
  }
  void TearDown() override {
    vx::testing::ResetBridgeState();
    env()->DeleteGlobalRef(m_object);
    FakeJniTest::TearDown();
  }

  // dataAPICallBack: records each delivery, then runs `extra`.
  void DefineHandler(std::function<jint(JNIEnv*, jint)> extra) {
    jvm().DefineIntMethod(kApiClass, "dataAPICallBack", "([BI)I",
                          [this, extra](JNIEnv* env, jobject, const std::vector<jvalue>& args) {
                            auto array = static_cast<jbyteArray>(args[0].l);
                            Delivery delivery{
                                array != nullptr ? jvm().Bytes(array) : std::vector<std::uint8_t>{},
                                array == nullptr, args[1].i};
                            {
                              std::lock_guard<std::mutex> guard(m_lock);
                              m_deliveries.push_back(delivery);
                            }
                            return extra(env, args[1].i);
                          });
  }

  std::vector<Delivery> Deliveries() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_deliveries;
  }

  // Runs `body` on a fresh native thread, as the service library would.
  static void OnServiceThread(const std::function<void()>& body) { std::thread(body).join(); }

  jobject m_object = nullptr;
  std::mutex m_lock;
  std::vector<Delivery> m_deliveries;
  RecordBuilder b;
};

std::vector<std::uint8_t> U8(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

TEST_F(Callbacks, WorkedExampleIs67Bytes) {
  vx::ResultCube cube =
      b.Cube(b.List({"A"}), b.List({"B"}), b.List({"C"}), {RecordBuilder::Fixed(6, 7)});
  vx::VXMSG message{1, 2, 0, 4, 5, 0, &cube};
  OnServiceThread([&] { EXPECT_EQ(vx::CsqDataCallback(&message), 0); });
  const auto deliveries = Deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0].kind, 1);
  EXPECT_EQ(deliveries[0].bytes,
            U8({1,   0, 0, 0, 2, 0, 0, 0, 0, 0, 0,   0, 4, 0,   0, 0, 5, 0, 0, 0, 0x27, 0, 0,
                0,   0, 0, 0, 0, 1, 0, 0, 0, 2, 0,   0, 0, 'A', 0, 1, 0, 0, 0, 2, 0,    0, 0,
                'B', 0, 1, 0, 0, 0, 2, 0, 0, 0, 'C', 0, 1, 0,   0, 0, 6, 7, 0, 0, 0}));
  EXPECT_EQ(jvm().AttachCount(), 1u);
  EXPECT_EQ(jvm().DetachCount(), 1u);
  EXPECT_EQ(jvm().LocalRefsFreedAtDetach(), 0u);
}

// The message block is not zero-filled: over poisoned memory the bytes are the same, on the
// stack and in an allocated buffer alike.
TEST_F(Callbacks, EveryMessageByteIsWritten) {
  const std::string longText(vx::kStackMessageBytes, 'x');
  for (const char* last : {"", longText.c_str()}) {
    SCOPED_TRACE(std::strlen(last));
    vx::ResultCube cube = b.Cube(b.List({"A", ""}), b.List({"B"}), b.List({"C"}),
                                 {RecordBuilder::Fixed(6, 7), b.Text(last)});
    vx::VXMSG message{1, 2, 0, 4, 5, 0, &cube};
    m_deliveries.clear();
    OnServiceThread([&] { vx::CsqDataCallback(&message); });
    vx::testing::PoisonUnfilledBlocks(true);
    OnServiceThread([&] { vx::CsqDataCallback(&message); });
    vx::testing::PoisonUnfilledBlocks(false);
    const auto deliveries = Deliveries();
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[1].bytes, deliveries[0].bytes);
    EXPECT_EQ(std::count(deliveries[0].bytes.begin(), deliveries[0].bytes.end(),
                         vx::testing::kPoisonByte),
              0);
  }
}

// A message of up to kStackMessageBytes is written without an allocation, so it arrives whole
// when no memory can be had; a longer one, or one whose text needs scratch memory to be
// converted, gets the no-memory header.
TEST_F(Callbacks, ShortMessagesNeedNoMemory) {
  VX_USE_LOCALE(vx::testlocale::kGbk);
  // 28 header bytes, three lists of one one-byte text (30), the value count (4), and a text
  // value of 6 bytes beside its own.
  const auto textValue = [&](const std::string& text) {
    vx::ResultCube cube =
        b.Cube(b.List({"A"}), b.List({"B"}), b.List({"C"}), {b.Text(text.c_str())});
    vx::VXMSG message{1, 2, 0, 4, 5, 0, &cube};
    m_deliveries.clear();
    vx::testing::FailAllAllocations(true);
    OnServiceThread([&] { vx::CsqDataCallback(&message); });
    vx::testing::FailAllAllocations(false);
    const auto deliveries = Deliveries();
    return deliveries.size() == 1 ? deliveries[0].bytes : std::vector<std::uint8_t>{};
  };
  const std::string fits(vx::kStackMessageBytes - 68, 'x');
  const auto whole = textValue(fits);
  ASSERT_EQ(whole.size(), static_cast<std::size_t>(vx::kStackMessageBytes));
  EXPECT_EQ(std::vector<std::uint8_t>(whole.end() - 4, whole.end()), U8({'x', 'x', 'x', 0}));
  const auto gbk = textValue("\xD6\xD0\xCE\xC4");
  EXPECT_EQ(std::vector<std::uint8_t>(gbk.end() - 7, gbk.end()),
            U8({0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87, 0}));

  std::string longGbk;
  while (longGbk.size() <= vx::kStackTextBytes) longGbk += "\xD6\xD0";
  for (const std::string& text : {fits + "x", longGbk}) {
    SCOPED_TRACE(text.size());
    const auto header = textValue(text);
    ASSERT_EQ(header.size(), static_cast<std::size_t>(vx::kMessageHeaderSize));
    EXPECT_EQ(std::vector<std::uint8_t>(header.begin() + 8, header.begin() + 12),
              U8({0x83, 0x96, 0x98, 0x00}));  // 10000003
  }
}

TEST_F(Callbacks, ErrorMessageCarriesNoPayload) {
  vx::ResultCube cube =
      b.Cube(b.List({"A"}), b.List({"B"}), b.List({"C"}), {RecordBuilder::Fixed(6, 7)});
  vx::VXMSG message{1, 2, 5, 4, 5, 0, &cube};
  OnServiceThread([&] { vx::MainCallback(&message); });
  ASSERT_EQ(Deliveries().size(), 1u);
  EXPECT_EQ(Deliveries()[0].bytes, U8({1, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 4, 0,
                                       0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Deliveries()[0].kind, 0);
}

TEST_F(Callbacks, NullMessageAndNullDataGiveHeadersAlone) {
  vx::VXMSG noData{9, 8, 0, 7, 6, 0, nullptr};
  OnServiceThread([&] {
    vx::CstDataCallback(nullptr);
    vx::CnqDataCallback(&noData);
  });
  const auto deliveries = Deliveries();
  ASSERT_EQ(deliveries.size(), 2u);
  std::vector<std::uint8_t> nullHeader(28, 0);
  nullHeader[8] = 0x87;  // 10000007 = 0x00989687
  nullHeader[9] = 0x96;
  nullHeader[10] = 0x98;
  EXPECT_EQ(deliveries[0].bytes, nullHeader);
  EXPECT_EQ(deliveries[0].kind, 2);
  EXPECT_EQ(deliveries[1].bytes, U8({9, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 7, 0,
                                     0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(deliveries[1].kind, 3);
  const auto lines = TakeLogLines();
  EXPECT_TRUE(Contains(lines, "]:recv cst datacallback\n"));
  EXPECT_TRUE(Contains(lines, "]:VXMSG is null.\n"));
  EXPECT_TRUE(Contains(lines, "]:recv cnq datacallback\n"));
}

TEST_F(Callbacks, OneEmptyListGivesListsAndAZeroCount) {
  vx::ResultCube cube = b.Cube(b.List({"A"}), b.List({}), b.List({"C"}), {});
  vx::VXMSG message{0, 0, 0, 0, 0, 0, &cube};
  OnServiceThread([&] { vx::CsqDataCallback(&message); });
  const auto bytes = Deliveries().at(0).bytes;
  ASSERT_EQ(bytes.size(), 28u + 10 + 4 + 10 + 4);
  EXPECT_EQ(bytes[20], 28);  // payload length, little-endian, right after the five words
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.end() - 4, bytes.end()), U8({0, 0, 0, 0}));
}

TEST_F(Callbacks, MissingStateLogsAndCallsNoJava) {
  vx::g_callbackObject.store(nullptr);
  vx::VXMSG message{};
  OnServiceThread([&] { EXPECT_EQ(vx::MainCallback(&message), 0); });
  vx::g_callbackObject.store(m_object);
  vx::g_jvm.store(nullptr);
  OnServiceThread([&] { EXPECT_EQ(vx::CsqDataCallback(&message), 0); });
  EXPECT_TRUE(Deliveries().empty());
  EXPECT_EQ(jvm().AttachCount(), 0u);
  const auto lines = TakeLogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("]:recv maincallback\n"), std::string::npos);
  EXPECT_NE(lines[1].find("]:JavaVM or jobject is null.\n"), std::string::npos);
  EXPECT_NE(lines[3].find("]:JavaVM or jobject is null.\n"), std::string::npos);
}

TEST_F(Callbacks, AttachFailureLogsAndDoesNotDetach) {
  jvm().FailNth(vx::fakejni::Fn::AttachCurrentThread);
  vx::VXMSG message{};
  OnServiceThread([&] { EXPECT_EQ(vx::MainCallback(&message), 0); });
  EXPECT_TRUE(Deliveries().empty());
  EXPECT_EQ(jvm().DetachCount(), 0u);
  EXPECT_TRUE(Contains(TakeLogLines(), "]:JNIEnv is null.\n"));
}

TEST_F(Callbacks, ResultAndExceptionsOfJavaDoNotMatter) {
  DefineHandler([](JNIEnv* env, jint kind) {
    if (kind == 2) vx::fakejni::FakeJvm::ThrowJava(env, "java/lang/IllegalStateException", "boom");
    return 77;
  });
  vx::VXMSG message{};
  OnServiceThread([&] {
    EXPECT_EQ(vx::CstDataCallback(&message), 0);
    EXPECT_EQ(vx::CnqDataCallback(&message), 0);  // the same thread works on after a throw
  });
  EXPECT_EQ(Deliveries().size(), 2u);
  EXPECT_TRUE(Contains(TakeLogLines(), "dataAPICallBack threw"));
  EXPECT_EQ(jvm().DetachCount(), 2u);
}

TEST_F(Callbacks, MissingMethodIsSkippedNotCalledThroughNull) {
  jvm().FailAlways(vx::fakejni::Fn::GetMethodID);
  vx::VXMSG message{};
  OnServiceThread([&] {
    EXPECT_EQ(vx::CsqDataCallback(&message), 0);
    EXPECT_EQ(vx::CsqDataCallback(&message), 0);
  });
  jvm().ClearFaults();
  EXPECT_TRUE(Deliveries().empty());
  std::size_t missing = 0;
  for (const auto& line : TakeLogLines()) {
    missing += line.find("dataAPICallBack ([BI)I not found") != std::string::npos;
  }
  EXPECT_EQ(missing, 2u);  // reported for every message
  EXPECT_EQ(jvm().DetachCount(), 2u);
}

// setJniEnv publishes the object with its method; deliveries then look nothing up.
TEST_F(Callbacks, PublishedMethodServesEveryDeliveryWithoutALookup) {
  jclass type = env()->GetObjectClass(m_object);
  const vx::CallbackTarget target{m_object, env()->GetMethodID(type, "dataAPICallBack", "([BI)I")};
  env()->DeleteLocalRef(type);
  ASSERT_NE(target.dataMethod, nullptr);
  vx::g_callbackTarget.store(&target);
  jvm().ResetCallCounts();
  vx::VXMSG message{7, 0, 0, 0, 0, 0, nullptr};
  OnServiceThread([&] {
    vx::CsqDataCallback(&message);
    vx::CnqDataCallback(&message);
  });
  ASSERT_EQ(Deliveries().size(), 2u);
  EXPECT_EQ(Deliveries()[1].bytes[0], 7);
  EXPECT_EQ(jvm().CallCount("GetObjectClass"), 0u);
  EXPECT_EQ(jvm().CallCount("GetMethodID"), 0u);

  // A record made for another object does not serve the stored one.
  jobject other = env()->NewGlobalRef(jvm().NewInstance(kApiClass));
  const vx::CallbackTarget stale{other, target.dataMethod};
  vx::g_callbackTarget.store(&stale);
  OnServiceThread([&] { vx::CsqDataCallback(&message); });
  EXPECT_EQ(Deliveries().size(), 3u);
  EXPECT_EQ(jvm().CallCount("GetMethodID"), 1u);
  vx::g_callbackTarget.store(nullptr);
  env()->DeleteGlobalRef(other);
}

// A lookup that failed when the object was stored is tried again for every message; while
// it keeps failing, each message is reported and skipped.
TEST_F(Callbacks, FailedPublishedLookupIsRetriedPerMessage) {
  const vx::CallbackTarget target{m_object, nullptr};
  vx::g_callbackTarget.store(&target);
  jvm().FailNth(vx::fakejni::Fn::GetMethodID);
  vx::VXMSG message{};
  OnServiceThread([&] {
    vx::CsqDataCallback(&message);
    vx::CsqDataCallback(&message);
  });
  EXPECT_EQ(Deliveries().size(), 1u);  // the second lookup found the method
  std::size_t missing = 0;
  for (const auto& line : TakeLogLines()) {
    missing += line.find("dataAPICallBack ([BI)I not found") != std::string::npos;
  }
  EXPECT_EQ(missing, 1u);
  vx::g_callbackTarget.store(nullptr);
}

TEST_F(Callbacks, FailedArrayIsDeliveredAsNull) {
  jvm().FailNth(vx::fakejni::Fn::NewByteArray);
  vx::VXMSG message{};
  OnServiceThread([&] { vx::CsqDataCallback(&message); });
  ASSERT_EQ(Deliveries().size(), 1u);
  EXPECT_TRUE(Deliveries()[0].isNull);
}

TEST_F(Callbacks, AttachedThreadIsNeitherReattachedNorDetached) {
  vx::VXMSG message{3, 0, 0, 0, 0, 0, nullptr};
  const std::size_t localRefs = jvm().LocalRefCount();
  // The test thread is a Java thread: a synchronous callback on it.
  EXPECT_EQ(vx::CsqDataCallback(&message), 0);
  EXPECT_EQ(jvm().AttachCount(), 0u);
  EXPECT_EQ(jvm().DetachCount(), 0u);
  EXPECT_EQ(jvm().LocalRefCount(), localRefs);
  EXPECT_EQ(Deliveries().size(), 1u);
  EXPECT_NE(jvm().CurrentEnv(), nullptr);
}

TEST_F(Callbacks, LongLivedAttachedServiceThreadKeepsNoLocalRefs) {
  vx::VXMSG message{};
  OnServiceThread([&] {
    JNIEnv* env = nullptr;
    ASSERT_EQ(jvm().vm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr), JNI_OK);
    for (int i = 0; i < 100; ++i) vx::MainCallback(&message);
    EXPECT_EQ(jvm().LocalRefCount(), 0u);
    jvm().vm()->DetachCurrentThread();
  });
  EXPECT_EQ(Deliveries().size(), 100u);
  EXPECT_EQ(jvm().DetachCount(), 1u);  // only the service's own detach
}

TEST_F(Callbacks, ManyServiceThreadsDeliverEveryMessageOnce) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) {
        vx::VXMSG message{t, i, 0, 0, 0, 0, nullptr};
        vx::CsqDataCallback(&message);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<std::vector<int>> seen(kThreads, std::vector<int>(kPerThread, 0));
  for (const auto& delivery : Deliveries()) {
    ASSERT_EQ(delivery.bytes.size(), 28u);
    ++seen[delivery.bytes[0]][delivery.bytes[4] | delivery.bytes[5] << 8];
  }
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], 1) << t << "/" << i;
  }
  EXPECT_EQ(jvm().AttachCount(), jvm().DetachCount());
  EXPECT_EQ(jvm().AttachedThreadCount(), 0u);
  TakeLogLines();
}

// Attached mode (veltrix.callbackThreads=attached): service threads attach once, as named
// daemons, and leave through the thread-exit hook.
class AttachedCallbacks : public Callbacks {
 protected:
  void SetUp() override {
    Callbacks::SetUp();
    jvm().DefineClass("java/lang/System");
    SetProperty("attached");
  }
  void TearDown() override {
    vx::testing::FailThreadExitHook(false);
    vx::testing::FailThreadExitRequest(false);
    Callbacks::TearDown();
  }

  // System.getProperty answers `value` for veltrix.callbackThreads (nullopt: unset) and
  // throws when `value` is "!throw".
  void SetProperty(std::optional<std::string> value) {
    jvm().DefineStaticObjectMethod(
        "java/lang/System", "getProperty", "(Ljava/lang/String;)Ljava/lang/String;",
        [value](JNIEnv* env, const std::vector<jvalue>& args) -> jobject {
          if (jvm().StringUtf8(static_cast<jstring>(args[0].l)) != "veltrix.callbackThreads" ||
              !value) {
            return nullptr;
          }
          if (*value == "!throw") {
            vx::fakejni::FakeJvm::ThrowJava(env, "java/lang/SecurityException");
            return nullptr;
          }
          return jvm().NewJStringUtf8(*value);
        });
  }

  // As setJniEnv does, after the state an earlier reading left is dropped.
  void Configure() {
    vx::ReleaseCallbackThreads();
    vx::ConfigureCallbackThreads(env());
    EXPECT_FALSE(env()->ExceptionCheck());
  }

  // `count` csq messages on one fresh native thread; each delivery must leave no local ref.
  void DeliverOnServiceThread(int count) {
    OnServiceThread([&] {
      for (int i = 0; i < count; ++i) {
        vx::VXMSG message{i, 0, 0, 0, 0, 0, nullptr};
        vx::CsqDataCallback(&message);
        EXPECT_EQ(jvm().LocalRefCount(), 0u);
      }
    });
  }
};

TEST_F(AttachedCallbacks, ServiceThreadAttachesOnceAsNamedDaemonAndLeavesAtExit) {
  Configure();
  ASSERT_EQ(vx::CurrentCallbackThreads(), vx::CallbackThreads::kAttached);
  DeliverOnServiceThread(5);
  // Joined: the thread has ended, and its exit hook detached it (a leak would be an error).
  EXPECT_EQ(Deliveries().size(), 5u);
  EXPECT_EQ(jvm().AttachCount(), 1u);
  EXPECT_EQ(jvm().DaemonAttachCount(), 1u);
  EXPECT_EQ(jvm().DetachCount(), 1u);
  EXPECT_EQ(jvm().LeakedThreadCount(), 0u);
  EXPECT_EQ(jvm().LocalRefsFreedAtDetach(), 0u);
  DeliverOnServiceThread(1);
  EXPECT_EQ(jvm().AttachNames(),
            (std::vector<std::string>{"veltrix-callback-1", "veltrix-callback-2"}));
  EXPECT_EQ(jvm().DetachCount(), 2u);
  EXPECT_EQ(jvm().AttachedThreadCount(), 0u);
  // The debug line of every callback is still written.
  std::size_t received = 0;
  for (const auto& line : TakeLogLines()) {
    received += line.find("]:recv csq datacallback") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(received, 6u);
}

TEST_F(AttachedCallbacks, ThreadAttachedByOthersIsUsedAsItIs) {
  Configure();
  OnServiceThread([&] {
    JNIEnv* own = nullptr;
    ASSERT_EQ(jvm().vm()->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr), JNI_OK);
    vx::VXMSG message{};
    for (int i = 0; i < 3; ++i) vx::MainCallback(&message);
    EXPECT_EQ(jvm().LocalRefCount(), 0u);
    jvm().vm()->DetachCurrentThread();
  });
  EXPECT_EQ(Deliveries().size(), 3u);
  EXPECT_EQ(jvm().AttachCount(), 1u);  // the thread's own
  EXPECT_EQ(jvm().DaemonAttachCount(), 0u);
  EXPECT_EQ(jvm().DetachCount(), 1u);  // the thread's own
}

TEST_F(AttachedCallbacks, OtherPropertyValuesKeepThePerMessageCycle) {
  struct Case {
    std::optional<std::string> value;
    const char* errorLine;  // null: no line expected
  };
  const Case cases[] = {
      {std::nullopt, nullptr},
      {"perMessage", nullptr},
      {"!throw", nullptr},
      {"Attached",
       "unknown veltrix.callbackThreads value \"Attached\"; callbacks attach per "
       "message."},
      {"", "unknown veltrix.callbackThreads value \"\";"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? *c.value : "(unset)");
    SetProperty(c.value);
    jvm().ResetCallCounts();
    TakeLogLines();
    Configure();
    EXPECT_EQ(vx::CurrentCallbackThreads(), vx::CallbackThreads::kPerMessage);
    const auto lines = TakeLogLines();
    if (c.errorLine != nullptr) {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].rfind("[Vx_Error][", 0), 0u) << lines[0];
      EXPECT_NE(lines[0].find(c.errorLine), std::string::npos) << lines[0];
    } else {
      EXPECT_TRUE(lines.empty());
    }
    const std::uint64_t attaches = jvm().AttachCount();
    DeliverOnServiceThread(2);
    EXPECT_EQ(jvm().AttachCount() - attaches, 2u);
    EXPECT_EQ(jvm().DaemonAttachCount(), 0u);
    EXPECT_EQ(jvm().AttachCount(), jvm().DetachCount());
    EXPECT_EQ(jvm().CallCount("CallStaticObjectMethodV"), 1u);
  }
  TakeLogLines();
}

TEST_F(AttachedCallbacks, PropertyIsReadOnceUntilUnload) {
  Configure();
  SetProperty("perMessage");
  vx::ConfigureCallbackThreads(env());  // a later setJniEnv
  EXPECT_EQ(vx::CurrentCallbackThreads(), vx::CallbackThreads::kAttached);
  Configure();  // after an unload
  EXPECT_EQ(vx::CurrentCallbackThreads(), vx::CallbackThreads::kPerMessage);
}

TEST_F(AttachedCallbacks, FailedHookRegistrationFallsBackToPerMessage) {
  vx::testing::FailThreadExitHook(true);
  Configure();
  EXPECT_EQ(vx::CurrentCallbackThreads(), vx::CallbackThreads::kPerMessage);
  DeliverOnServiceThread(3);
  EXPECT_EQ(Deliveries().size(), 3u);
  EXPECT_EQ(jvm().AttachCount(), 3u);
  EXPECT_EQ(jvm().DaemonAttachCount(), 0u);
  EXPECT_EQ(jvm().DetachCount(), 3u);
}

// The hook is there, but a thread's request for it cannot be stored: the thread leaves again
// after each delivery, as per message.
TEST_F(AttachedCallbacks, FailedExitRequestDetachesAfterTheDelivery) {
  Configure();
  ASSERT_EQ(vx::CurrentCallbackThreads(), vx::CallbackThreads::kAttached);
  vx::testing::FailThreadExitRequest(true);
  OnServiceThread([&] {
    for (int i = 0; i < 2; ++i) {
      vx::VXMSG message{i, 0, 0, 0, 0, 0, nullptr};
      vx::CsqDataCallback(&message);
      EXPECT_EQ(jvm().CurrentEnv(), nullptr) << "delivery " << i;
    }
  });
  EXPECT_EQ(Deliveries().size(), 2u);
  EXPECT_EQ(jvm().DaemonAttachCount(), 2u);
  EXPECT_EQ(jvm().DetachCount(), 2u);
  EXPECT_EQ(jvm().LeakedThreadCount(), 0u);
}

// The bridge attached the thread, then someone else detached it and attached it again for
// itself: at the thread's end that attachment is not the bridge's to end. (Its owner leaves
// it attached here, which the fake JVM reports.)
TEST_F(AttachedCallbacks, AttachmentMadeByOthersAfterTheBridgesIsNotDetachedAtExit) {
  Configure();
  OnServiceThread([&] {
    vx::VXMSG message{};
    vx::CsqDataCallback(&message);
    ASSERT_EQ(jvm().vm()->DetachCurrentThread(), JNI_OK);
    JNIEnv* own = nullptr;
    ASSERT_EQ(jvm().vm()->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr), JNI_OK);
    vx::CsqDataCallback(&message);  // used as it is
    EXPECT_EQ(jvm().CurrentEnv(), own);
  });
  EXPECT_EQ(Deliveries().size(), 2u);
  EXPECT_EQ(jvm().AttachCount(), 2u);  // the bridge's, then the other's
  EXPECT_EQ(jvm().DaemonAttachCount(), 1u);
  EXPECT_EQ(jvm().DetachCount(), 1u);  // the other's
  EXPECT_EQ(jvm().LeakedThreadCount(), 1u);
  const auto errors = jvm().TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("exited while still attached"), std::string::npos) << errors[0];
}

TEST_F(AttachedCallbacks, UnloadLeavesNoHookForThreadsStillAttached) {
  Configure();
  std::mutex lock;
  std::condition_variable wake;
  int step = 0;  // 1: the thread delivered; 2: the hook is gone
  std::thread service([&] {
    vx::VXMSG message{};
    vx::CsqDataCallback(&message);
    std::unique_lock<std::mutex> guard(lock);
    step = 1;
    wake.notify_all();
    wake.wait(guard, [&] { return step == 2; });
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    wake.wait(guard, [&] { return step == 1; });
  }
  EXPECT_EQ(jvm().AttachedThreadCount(), 1u);
  vx::ReleaseCallbackThreads();  // what JNI_OnUnload does for service threads
  {
    std::lock_guard<std::mutex> guard(lock);
    step = 2;
  }
  wake.notify_all();
  service.join();
  // No hook ran at the thread's exit: it ended attached, left to the JVM.
  EXPECT_EQ(jvm().DetachCount(), 0u);
  EXPECT_EQ(jvm().LeakedThreadCount(), 1u);
  const auto errors = jvm().TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("exited while still attached"), std::string::npos) << errors[0];
}

}  // namespace
}  // namespace vxtest
