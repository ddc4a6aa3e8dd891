// JNI_OnLoad, setJniEnv and JNI_OnUnload against the fake JVM, and the log thread that
// setJniEnv starts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <regex>
#include <thread>

#include "bridge/loader.h"
#include "bridge/state.h"
#include "callback/callback_threads.h"
#include "callback/callbacks.h"
#include "ctype_locale.h"
#include "fakejni/fakejni.h"
#include "log/log_lines.h"
#include "log/log_thread.h"
#include "sim_session.h"

extern "C" {
JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* reserved);
JNIEXPORT void JNICALL JNI_OnUnload(JavaVM* vm, void* reserved);
JNIEXPORT void JNICALL Java_com_tarnwick_api_NativeAPI_setJniEnv(JNIEnv* env, jobject self,
                                                                 jstring dir);
}

namespace vxtest {
namespace {

using namespace std::chrono_literals;
constexpr char kApiClass[] = "com/tarnwick/api/NativeAPI";

// What Java's logAPICallBack received, in order.
class JavaLog {
 public:
  void Add(std::string line) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_lines.push_back(std::move(line));
    m_changed.notify_all();
  }
  // Waits (bounded) until `count` lines arrived; returns what is there.
  std::vector<std::string> WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait_for(guard, 20s, [&] { return m_lines.size() >= count; });
    return m_lines;
  }
  // Waits (bounded) until `times` lines containing `text` arrived.
  bool WaitForText(const std::string& text, std::size_t times = 1) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, 20s, [&] {
      std::size_t seen = 0;
      for (const auto& line : m_lines) seen += line.find(text) != std::string::npos;
      return seen >= times;
    });
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lines;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_lines.clear();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<std::string> m_lines;
};

class Lifecycle : public vx::fakejni::FakeJniTest {
 protected:
  void SetUp() override {
    FakeJniTest::SetUp();
    vx::FreeServiceLibrary();
    vx::testing::ResetBridgeState();
    jvm().DefineClass(kApiClass);
    jvm().DefineIntMethod(kApiClass, "logAPICallBack", "([B)I",
                          [this](JNIEnv* env, jobject, const std::vector<jvalue>& args) {
                            if (args[0].l == nullptr) {
                              m_log.Add("<null>");
                              return 0;
                            }
                            auto bytes = jvm().Bytes(static_cast<jbyteArray>(args[0].l));
                            std::string line(bytes.begin(), bytes.end());
                            m_log.Add(line);
                            if (line.find("THROW") != std::string::npos) {
                              vx::fakejni::FakeJvm::ThrowJava(env, "java/lang/RuntimeException");
                            }
                            return 0;
                          });
    jvm().DefineIntMethod(kApiClass, "dataAPICallBack", "([BI)I",
                          [this](JNIEnv*, jobject, const std::vector<jvalue>&) {
                            ++m_dataCalls;
                            return 0;
                          });
    m_receiver = jvm().NewInstance(kApiClass);
    vx::g_logThread.Queue().Clear();
  }

  void TearDown() override {
    JNI_OnUnload(jvm().vm(), nullptr);
    EXPECT_FALSE(vx::g_logThread.IsStarted());
    EXPECT_EQ(jvm().GlobalRefCount(), 0u);
    vx::g_logThread.Queue().Clear();
    FakeJniTest::TearDown();
  }

  void SetJniEnv(jobject receiver, const char* directory) {
    vx::fakejni::AsNative (&Java_com_tarnwick_api_NativeAPI_setJniEnv)(
        env(), receiver, jvm().NewJStringUtf8(directory));
  }

  static bool Has(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  // Waits, with a limit that only catches a hang, until the log thread has ended.
  static bool LogThreadEnds() {
    for (int i = 0; i < 20000 && vx::g_logThread.IsStarted(); ++i) {
      std::this_thread::sleep_for(1ms);
    }
    return !vx::g_logThread.IsStarted();
  }

  JavaLog m_log;
  jobject m_receiver = nullptr;
  std::atomic<int> m_dataCalls{0};
};

TEST_F(Lifecycle, OnLoadAsksForTheHighestVersionOffered) {
  EXPECT_EQ(JNI_OnLoad(jvm().vm(), nullptr), 0x10008);
  jvm().SetSupportedVersions({JNI_VERSION_1_6, JNI_VERSION_1_4, JNI_VERSION_1_2});
  EXPECT_EQ(JNI_OnLoad(jvm().vm(), nullptr), 0x10006);
  jvm().SetSupportedVersions({JNI_VERSION_1_4});
  EXPECT_EQ(JNI_OnLoad(jvm().vm(), nullptr), 0x10004);
  jvm().SetSupportedVersions({});
  EXPECT_EQ(JNI_OnLoad(jvm().vm(), nullptr), 0x10002);
  const auto lines = TakeLogLines();
  ASSERT_EQ(lines.size(), 8u);
  const std::regex startup(
      R"(\[Vx_Debug\]\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]:JNI_OnLoad startup \.\.\.\n)");
  EXPECT_TRUE(std::regex_match(lines[0], startup)) << lines[0];
  EXPECT_TRUE(Has({lines[1]}, "]:Catch JNI_VERSION_1_8\n"));
  EXPECT_TRUE(Has({lines[3]}, "]:Catch JNI_VERSION_1_6\n"));
  EXPECT_TRUE(Has({lines[5]}, "]:Catch JNI_VERSION_1_4\n"));
  EXPECT_TRUE(Has({lines[7]}, "]:Default JNI_VERSION_1_2\n"));
  jvm().SetSupportedVersions({JNI_VERSION_1_8, JNI_VERSION_1_6, JNI_VERSION_1_4, JNI_VERSION_1_2});
}

TEST_F(Lifecycle, SetJniEnvDeliversQueuedLinesFirstAndLoadsTheService) {
  JNI_OnLoad(jvm().vm(), nullptr);
  SetJniEnv(m_receiver, VX_SIM_DIR_DEFAULT);
  const auto lines = m_log.WaitFor(3);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_TRUE(Has({lines[0]}, "]:JNI_OnLoad startup ...\n"));
  EXPECT_TRUE(Has({lines[1]}, "]:Catch JNI_VERSION_1_8\n"));
  EXPECT_TRUE(Has({lines[2]}, std::string("]:dir is ") + VX_SIM_DIR_DEFAULT + "\n"));
  EXPECT_NE(vx::g_hServiceLib, nullptr);
  EXPECT_EQ(jvm().DaemonAttachCount(), 1u);  // the log thread, as a daemon

  VxSimApi sim;
  ASSERT_TRUE(
      sim.Load([](const char* name) { return vx::platform::FindSymbol(vx::g_hServiceLib, name); }));
  EXPECT_EQ(sim.vxsim_has_callback(VXSIM_MAIN), 1);
  // The library may stay mapped between tests: look at the calls this test made.
  const auto calls = SimCalls(sim);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
            (std::vector<std::string>{std::string("setserverlistdir|") + VX_SIM_DIR_DEFAULT,
                                      "setcallback|cb"}));
}

TEST_F(Lifecycle, SecondSetJniEnvKeepsOneThreadAndTheFirstLibrary) {
  SetJniEnv(m_receiver, VX_SIM_DIR_DEFAULT);
  void* first = vx::g_hServiceLib;
  VxSimApi sim;
  ASSERT_TRUE(
      sim.Load([](const char* name) { return vx::platform::FindSymbol(vx::g_hServiceLib, name); }));
  sim.vxsim_clear_calls();
  SetJniEnv(m_receiver, "/elsewhere");
  EXPECT_EQ(vx::g_hServiceLib, first);
  EXPECT_TRUE(m_log.WaitForText("]:dir is /elsewhere\n"));
  EXPECT_EQ(SimCalls(sim),
            (std::vector<std::string>{"setserverlistdir|/elsewhere", "setcallback|cb"}));
  EXPECT_EQ(jvm().DaemonAttachCount(), 1u);
  EXPECT_EQ(jvm().GlobalRefCount(), 1u);  // the same receiver: no second reference kept
}

// Two Java threads in their first setJniEnv at once load the library once, and each finds
// the table resolved. Under ThreadSanitizer this also shows the loader's state is shared
// without a race.
TEST_F(Lifecycle, TwoFirstSetJniEnvCallsAtOnceLoadTheLibraryOnce) {
  jobject receiver = env()->NewGlobalRef(m_receiver);
  for (int round = 0; round < 20; ++round) {
    vx::FreeServiceLibrary();
    const std::uint64_t loads = vx::testing::LibraryLoadCount();
    std::atomic<int> ready{0};
    auto caller = [&] {
      JNIEnv* threadEnv = jvm().AttachAsJavaThread();
      jstring directory = jvm().NewJStringUtf8(VX_SIM_DIR_DEFAULT);
      ready.fetch_add(1);
      while (ready.load() < 2) std::this_thread::yield();
      vx::fakejni::AsNative (&Java_com_tarnwick_api_NativeAPI_setJniEnv)(threadEnv, receiver,
                                                                         directory);
      threadEnv->DeleteLocalRef(directory);
      jvm().DetachJavaThread();
    };
    std::thread first(caller), second(caller);
    first.join();
    second.join();
    EXPECT_EQ(vx::testing::LibraryLoadCount(), loads + 1) << "round " << round;
  }
  NativeLogCallBack("rounds done");
  ASSERT_TRUE(m_log.WaitForText("rounds done"));
  EXPECT_FALSE(Has(m_log.Lines(), " is null.\n"));
  EXPECT_EQ(jvm().DaemonAttachCount(), 1u);
  env()->DeleteGlobalRef(receiver);
}

TEST_F(Lifecycle, ReplacedReceiverReferencesLiveUntilUnload) {
  SetJniEnv(m_receiver, "/nowhere");
  SetJniEnv(jvm().NewInstance(kApiClass), "/nowhere");
  SetJniEnv(jvm().NewInstance(kApiClass), "/nowhere");
  EXPECT_EQ(jvm().GlobalRefCount(), 3u);  // TearDown's unload must delete all three
}

TEST_F(Lifecycle, MissingLibraryLogsTheFailureThenTheMissingEntry) {
  SetJniEnv(m_receiver, "/no/such/dir");
  const auto lines = m_log.WaitFor(3);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_TRUE(Has({lines[0]}, "]:dir is /no/such/dir\n"));
  EXPECT_TRUE(std::regex_search(lines[1], std::regex(R"(\]:LoadLibrary Fail [1-9]\d*)")))
      << lines[1];
  EXPECT_TRUE(Has({lines[2]}, "]:function address of pfnsetserverlistdir is null.\n"));
  EXPECT_FALSE(Has(m_log.Lines(), "pfnsetcallback"));
  EXPECT_EQ(vx::g_hServiceLib, nullptr);
  // A later good directory loads.
  SetJniEnv(m_receiver, VX_SIM_DIR_DEFAULT);
  EXPECT_NE(vx::g_hServiceLib, nullptr);
}

TEST_F(Lifecycle, WithoutServerListDirTheMainCallbackIsNotRegistered) {
  VxSimApi sim;
  ASSERT_TRUE(LoadSim(VX_SIM_DIR_NO_SERVERLISTDIR, sim));  // a clean call log
  vx::FreeServiceLibrary();
  vx::testing::ResetBridgeState();
  SetJniEnv(m_receiver, VX_SIM_DIR_NO_SERVERLISTDIR);
  EXPECT_TRUE(m_log.WaitForText("]:function address of pfnsetserverlistdir is null.\n"));
  ASSERT_TRUE(
      sim.Load([](const char* name) { return vx::platform::FindSymbol(vx::g_hServiceLib, name); }));
  EXPECT_EQ(sim.vxsim_call_count(), 0);  // neither setserverlistdir nor setcallback exists here
}

TEST_F(Lifecycle, LibraryDefinitionsOnlyNeverTheSystemsGetdate) {
  SetJniEnv(m_receiver, VX_SIM_DIR_NO_GETDATE);
  ASSERT_NE(vx::g_hServiceLib, nullptr);
  EXPECT_EQ(vx::g_functions.getdate, nullptr);  // libc has a getdate of its own
  EXPECT_NE(vx::g_functions.csd, nullptr);
}

TEST_F(Lifecycle, UnloadWithoutSetJniEnvTouchesNoReference) {
  JNI_OnUnload(jvm().vm(), nullptr);
  EXPECT_EQ(jvm().CallCount("DeleteGlobalRef"), 0u);
  EXPECT_EQ(jvm().AttachCount(), 0u);
}

int g_stopCalls = 0;
int CountingStop() {
  ++g_stopCalls;
  return 0;
}

TEST_F(Lifecycle, UnloadEndsTheLogThreadAndFreesEverything) {
  SetJniEnv(m_receiver, VX_SIM_DIR_DEFAULT);
  m_log.WaitFor(1);
  g_stopCalls = 0;
  vx::g_functions.stop = &CountingStop;  // the service is freed, never stopped
  JNI_OnUnload(jvm().vm(), nullptr);
  EXPECT_EQ(g_stopCalls, 0);
  EXPECT_FALSE(vx::g_logThread.IsStarted());
  EXPECT_EQ(vx::g_hServiceLib, nullptr);
  EXPECT_EQ(vx::g_jvm.load(), nullptr);
  EXPECT_EQ(jvm().GlobalRefCount(), 0u);
  EXPECT_EQ(jvm().DetachCount(), 1u);
  EXPECT_EQ(jvm().AttachedThreadCount(), 0u);
  // Queued before the stop: delivered if the thread got to it, else left in the queue.
  auto lines = m_log.Lines();
  for (auto& line : TakeLogLines()) lines.push_back(line);
  EXPECT_TRUE(Has(lines, "]:JNI_OnUnload startup ...\n"));
}

TEST_F(Lifecycle, LogThreadDeliversInOrderSkipsEmptyLinesAndSurvivesExceptions) {
  SetJniEnv(m_receiver, "/nowhere");
  m_log.WaitFor(3);
  const std::size_t before = m_log.Lines().size();
  NativeLogCallBack("");
  NativeLogCallBack("THROW 1");
  NativeLogCallBack("after");
  const auto lines = m_log.WaitFor(before + 2);
  ASSERT_EQ(lines.size(), before + 2);
  EXPECT_EQ(lines[before], "THROW 1");
  EXPECT_EQ(lines[before + 1], "after");
}

TEST_F(Lifecycle, ManyProducersReachJavaCompleteAndInOrder) {
  SetJniEnv(m_receiver, "/nowhere");
  const std::size_t before = m_log.WaitFor(3).size();
  constexpr int kProducers = 4;
  constexpr int kLines = 10000;
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([p] {
      for (int i = 0; i < kLines; ++i) {
        NativeLogCallBack((std::to_string(p) + ":" + std::to_string(i)).c_str());
      }
    });
  }
  for (auto& producer : producers) producer.join();
  const auto lines = m_log.WaitFor(before + kProducers * kLines);
  ASSERT_EQ(lines.size(), before + kProducers * kLines);
  std::vector<int> next(kProducers, 0);
  for (std::size_t i = before; i < lines.size(); ++i) {
    const int producer = lines[i][0] - '0';
    ASSERT_EQ(lines[i], std::to_string(producer) + ":" + std::to_string(next[producer])) << i;
    ++next[producer];
  }
}

TEST_F(Lifecycle, LinesWrittenWhileStoppedAreDeliveredAfterARestart) {
  SetJniEnv(m_receiver, "/nowhere");
  const std::size_t before = m_log.WaitFor(3).size();
  vx::g_logThread.Stop();
  vx::g_logThread.Join();
  NativeLogCallBack("while stopped");
  EXPECT_EQ(m_log.Lines().size(), before);
  vx::g_logThread.Start();
  const auto lines = m_log.WaitFor(before + 1);
  ASSERT_EQ(lines.size(), before + 1);
  EXPECT_EQ(lines.back(), "while stopped");
}

// A one-shot gate for the log thread's seams, which are plain functions.
struct Gate {
  std::mutex lock;
  std::condition_variable changed;
  bool open = false;
  void Open() {
    std::lock_guard<std::mutex> guard(lock);
    open = true;
    changed.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, 20s, [this] { return open; });
  }
  void Close() {
    std::lock_guard<std::mutex> guard(lock);
    open = false;
  }
};
Gate g_threadAtSeam;   // opened by the log thread when it reaches its seam
Gate g_releaseThread;  // opened to let it go on
std::atomic<bool> g_releaseBetweenStopSteps{false};

// Lets the held log thread activate the queue and go as far as it can: to its wait on the
// empty queue, or to its end.
void ReleaseThreadAndLetItSettle() {
  g_releaseThread.Open();
  for (int i = 0; i < 20000; ++i) {
    if (vx::g_logThread.Queue().HasWaitingConsumer() || !vx::g_logThread.IsStarted()) return;
    std::this_thread::sleep_for(1ms);
  }
}

// Stop's two steps (clear the run flag, deactivate the queue) against the log thread's start
// (activate the queue, test the flag, wait): the thread's steps run wholly before Stop,
// between Stop's two steps, or after it. In every order the thread ends and Join returns.
TEST_F(Lifecycle, StopEndsTheLogThreadWhereverItsStartFalls) {
  enum Where { kBeforeStop, kBetweenStopSteps, kAfterStop };
  for (Where where : {kBeforeStop, kBetweenStopSteps, kAfterStop}) {
    SCOPED_TRACE(where);
    g_threadAtSeam.Close();
    g_releaseThread.Close();
    g_releaseBetweenStopSteps = where == kBetweenStopSteps;
    vx::testing::SetLogThreadSeams(
        [] {
          g_threadAtSeam.Open();
          g_releaseThread.Wait();
        },
        [] {
          if (g_releaseBetweenStopSteps) ReleaseThreadAndLetItSettle();
        });
    SetJniEnv(m_receiver, "/nowhere");
    EXPECT_TRUE(g_threadAtSeam.Wait()) << "the log thread never reached its seam";
    if (where == kBeforeStop) ReleaseThreadAndLetItSettle();
    vx::g_logThread.Stop();
    if (where == kAfterStop) g_releaseThread.Open();
    auto joined = std::async(std::launch::async, [] { vx::g_logThread.Join(); });
    const bool ended = joined.wait_for(20s) == std::future_status::ready;
    EXPECT_TRUE(ended) << "Join does not return";
    if (!ended) vx::g_logThread.Queue().SetActive(false);  // wakes the waiter, ends the test
    joined.wait();
    vx::testing::SetLogThreadSeams(nullptr, nullptr);
    EXPECT_FALSE(vx::g_logThread.IsStarted());
  }
}

// The unloading thread is not attached: it attaches for the references and detaches again,
// and no thread is left attached.
TEST_F(Lifecycle, UnloadFromAnUnattachedThreadLeavesNothingAttached) {
  SetJniEnv(m_receiver, "/nowhere");
  m_log.WaitFor(3);
  std::thread([] { JNI_OnUnload(jvm().vm(), nullptr); }).join();
  EXPECT_EQ(jvm().GlobalRefCount(), 0u);
  EXPECT_EQ(jvm().AttachCount(), 2u);  // the log thread and the unloading thread
  EXPECT_EQ(jvm().DetachCount(), 2u);
  // Every call counted, not only those that changed a thread's state.
  EXPECT_EQ(jvm().CallCount("AttachCurrentThread"), 1u);
  EXPECT_EQ(jvm().CallCount("AttachCurrentThreadAsDaemon"), 1u);
  EXPECT_EQ(jvm().CallCount("DetachCurrentThread"), 2u);
  EXPECT_EQ(jvm().AttachedThreadCount(), 0u);
  EXPECT_EQ(jvm().LeakedThreadCount(), 0u);
}

// No array for a line: Java gets null for it, the next line follows, nothing stays pending
// (the fake JVM reports any JNI call made with an exception pending).
// Attached mode, set by the property through setJniEnv: a service thread still attached at
// unload is left to the JVM, and no thread-exit hook of the bridge runs when it ends. In this
// process the bridge's code stays in place, so it is set up again before the thread ends: a
// hook left registered would then find a VM and detach the thread.
TEST_F(Lifecycle, UnloadLeavesAttachedServiceThreadsToTheJvm) {
  jvm().DefineClass("java/lang/System");
  jvm().DefineStaticObjectMethod(
      "java/lang/System", "getProperty", "(Ljava/lang/String;)Ljava/lang/String;",
      [](JNIEnv*, const std::vector<jvalue>& args) -> jobject {
        return jvm().StringUtf8(static_cast<jstring>(args[0].l)) == "veltrix.callbackThreads"
                   ? jvm().NewJStringUtf8("attached")
                   : nullptr;
      });
  SetJniEnv(m_receiver, "/nowhere");
  ASSERT_EQ(vx::CurrentCallbackThreads(), vx::CallbackThreads::kAttached);
  std::promise<void> delivered;
  std::promise<void> end;
  std::thread service([&] {
    vx::VXMSG message{};
    vx::CsqDataCallback(&message);
    EXPECT_NE(jvm().CurrentEnv(), nullptr);  // attached for good
    delivered.set_value();
    end.get_future().wait();
  });
  delivered.get_future().wait();
  EXPECT_EQ(m_dataCalls.load(), 1);

  JNI_OnUnload(jvm().vm(), nullptr);
  SetJniEnv(m_receiver, "/nowhere");
  const std::uint64_t detaches = jvm().DetachCount();
  end.set_value();
  service.join();
  EXPECT_EQ(jvm().DetachCount(), detaches);
  EXPECT_EQ(jvm().LeakedThreadCount(), 1u);
  const auto errors = jvm().TakeErrors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("exited while still attached"), std::string::npos) << errors[0];
}

TEST_F(Lifecycle, LineWithoutAnArrayReachesJavaAsNullAndTheNextFollows) {
  SetJniEnv(m_receiver, "/nowhere");
  const std::size_t before = m_log.WaitFor(3).size();
  jvm().FailNth(vx::fakejni::Fn::NewByteArray);
  NativeLogCallBack("lost");
  NativeLogCallBack("after");
  const auto lines = m_log.WaitFor(before + 2);
  ASSERT_EQ(lines.size(), before + 2);
  EXPECT_EQ(lines[before], "<null>");
  EXPECT_EQ(lines[before + 1], "after");
}

TEST_F(Lifecycle, ServiceLineInGbkReachesJavaAsUtf8) {
  VX_USE_LOCALE(vx::testlocale::kGbk);
  SetJniEnv(m_receiver, "/nowhere");
  const std::size_t before = m_log.WaitFor(3).size();
  NativeLogCallBack("\xD6\xD0\xCE\xC4 gbk");
  const auto lines = m_log.WaitFor(before + 1);
  ASSERT_EQ(lines.size(), before + 1);
  EXPECT_EQ(lines[before], "\xE4\xB8\xAD\xE6\x96\x87 gbk");
  JNI_OnUnload(jvm().vm(), nullptr);  // the log thread ends before the locale goes back
}

// setJniEnv without a VM or without a reference: nothing reaches Java (the log thread ends at
// once, a callback logs the null), and a later setJniEnv recovers.
TEST_F(Lifecycle, SetJniEnvWithoutItsVmOrReferenceRecoversOnTheNextCall) {
  for (vx::fakejni::Fn fault : {vx::fakejni::Fn::GetJavaVM, vx::fakejni::Fn::NewGlobalRef}) {
    SCOPED_TRACE(fault == vx::fakejni::Fn::GetJavaVM ? "GetJavaVM" : "NewGlobalRef");
    const std::size_t delivered = m_log.Lines().size();
    jvm().FailNth(fault);
    SetJniEnv(m_receiver, "/nowhere");
    ASSERT_TRUE(LogThreadEnds());
    vx::VXMSG message{};
    std::thread([&message] { EXPECT_EQ(vx::CsqDataCallback(&message), 0); }).join();
    EXPECT_EQ(m_dataCalls.load(), 0);
    EXPECT_EQ(m_log.Lines().size(), delivered);
    SetJniEnv(m_receiver, "/nowhere");
    EXPECT_TRUE(m_log.WaitForText("]:JavaVM or jobject is null.\n"));
    std::thread([&message] { vx::CsqDataCallback(&message); }).join();
    EXPECT_EQ(m_dataCalls.exchange(0), 1);
    JNI_OnUnload(jvm().vm(), nullptr);
    m_log.Clear();
    vx::g_logThread.Queue().Clear();
  }
}

TEST_F(Lifecycle, LogThreadWithoutItsMethodDropsLines) {
  jvm().DefineClass("com/tarnwick/api/NoLog");
  jvm().DefineIntMethod("com/tarnwick/api/NoLog", "dataAPICallBack", "([BI)I",
                        [](JNIEnv*, jobject, const std::vector<jvalue>&) { return 0; });
  SetJniEnv(jvm().NewInstance("com/tarnwick/api/NoLog"), "/nowhere");
  NativeLogCallBack("dropped");
  for (int i = 0; i < 20000 && vx::g_logThread.Queue().Size() > 0; ++i)
    std::this_thread::sleep_for(1ms);  // a limit that only catches a hang
  EXPECT_EQ(vx::g_logThread.Queue().Size(), 0u);
  EXPECT_TRUE(m_log.Lines().empty());
}

// Each object setJniEnv stores brings its own dataAPICallBack, looked up once.
TEST_F(Lifecycle, ReplacedReceiverOfAnotherClassGetsItsOwnMethod) {
  std::vector<std::string> calls;
  std::mutex lock;
  auto recorder = [&](const char* who) {
    return [&, who](JNIEnv*, jobject, const std::vector<jvalue>& args) {
      std::lock_guard<std::mutex> guard(lock);
      calls.push_back(std::string(who) + " " + std::to_string(args[1].i));
      return 0;
    };
  };
  jvm().DefineIntMethod(kApiClass, "dataAPICallBack", "([BI)I", recorder("first"));
  jvm().DefineClass("com/tarnwick/api/OtherAPI");
  jvm().DefineIntMethod("com/tarnwick/api/OtherAPI", "dataAPICallBack", "([BI)I",
                        recorder("second"));
  vx::VXMSG message{};
  auto deliver = [&message] { std::thread([&message] { vx::CsqDataCallback(&message); }).join(); };

  SetJniEnv(m_receiver, "/nowhere");
  m_log.WaitFor(1);  // the log thread has made its own lookup
  const std::uint64_t lookups = jvm().CallCount("GetMethodID");
  deliver();
  deliver();
  SetJniEnv(jvm().NewInstance("com/tarnwick/api/OtherAPI"), "/nowhere");
  deliver();
  EXPECT_EQ(calls, (std::vector<std::string>{"first 1", "first 1", "second 1"}));
  EXPECT_EQ(jvm().CallCount("GetMethodID"), lookups + 1);  // the second setJniEnv's own
}

// An object whose class lacks dataAPICallBack: every message is reported and skipped.
TEST_F(Lifecycle, ReceiverWithoutDataMethodSkipsEveryMessage) {
  jvm().DefineClass("com/tarnwick/api/LogOnly");
  jvm().DefineIntMethod("com/tarnwick/api/LogOnly", "logAPICallBack", "([B)I",
                        [this](JNIEnv*, jobject, const std::vector<jvalue>& args) {
                          auto bytes = jvm().Bytes(static_cast<jbyteArray>(args[0].l));
                          m_log.Add(std::string(bytes.begin(), bytes.end()));
                          return 0;
                        });
  SetJniEnv(jvm().NewInstance("com/tarnwick/api/LogOnly"), "/nowhere");
  vx::VXMSG message{};
  std::thread([&message] {
    EXPECT_EQ(vx::CsqDataCallback(&message), 0);
    EXPECT_EQ(vx::CsqDataCallback(&message), 0);
  }).join();
  EXPECT_TRUE(m_log.WaitForText("]:method dataAPICallBack ([BI)I not found.\n", 2));
  EXPECT_EQ(jvm().PendingExceptionClass(), "");  // setJniEnv's failed lookup was cleared
}

TEST_F(Lifecycle, LogThreadThatCannotAttachLeavesLinesQueued) {
  jvm().FailNth(vx::fakejni::Fn::AttachCurrentThreadAsDaemon);
  SetJniEnv(m_receiver, "/nowhere");
  EXPECT_TRUE(LogThreadEnds());
  EXPECT_GE(vx::g_logThread.Queue().Size(), 2u);
  // A later setJniEnv starts it again and the lines arrive.
  SetJniEnv(m_receiver, "/nowhere");
  EXPECT_GE(m_log.WaitFor(3).size(), 3u);
}

}  // namespace
}  // namespace vxtest

namespace vxtest {
namespace {

TEST_F(Lifecycle, UnloadWhileDeliveringEndsCleanlyAndKeepsOrder) {
  SetJniEnv(m_receiver, "/nowhere");
  const std::size_t before = m_log.WaitFor(3).size();
  constexpr int kLines = 50000;
  for (int i = 0; i < kLines; ++i) NativeLogCallBack(std::to_string(i).c_str());
  m_log.WaitFor(before + 100);  // delivery is under way
  JNI_OnUnload(jvm().vm(), nullptr);
  EXPECT_FALSE(vx::g_logThread.IsStarted());
  // What reached Java is an unbroken prefix of the numbered lines (possibly followed by the
  // unload's own line); the rest of them is still queued, in order.
  const auto lines = m_log.Lines();
  std::size_t delivered = 0;
  while (before + delivered < lines.size() && delivered < static_cast<std::size_t>(kLines) &&
         lines[before + delivered] == std::to_string(delivered)) {
    ++delivered;
  }
  for (std::size_t i = before + delivered; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find("]:JNI_OnUnload startup ...\n"), std::string::npos) << lines[i];
  }
  const auto rest = TakeLogLines();
  ASSERT_GE(rest.size(), static_cast<std::size_t>(kLines) - delivered);
  for (std::size_t i = 0; i < static_cast<std::size_t>(kLines) - delivered; ++i) {
    ASSERT_EQ(rest[i], std::to_string(delivered + i));
  }
}

}  // namespace
}  // namespace vxtest
