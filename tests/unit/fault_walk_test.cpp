// Walks every failure point of the main paths in turn: the Nth allocation the bridge makes
// for itself, and each JNI call that can fail. Each failure must end in the documented
// answer, and the same path must work again right afterwards. Under AddressSanitizer the
// run also proves that no failure path leaks.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "base/alloc.h"
#include "bridge/state.h"
#include "callback/callbacks.h"
#include "ctype_locale.h"
#include "failing_new.h"
#include "fakejni/fakejni.h"
#include "log/log_thread.h"
#include "marshal/serialize.h"
#include "record_builder.h"
#include "sim_session.h"
#include "text/text.h"

extern "C" {
JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_csd(JNIEnv*, jobject, jstring, jstring,
                                                                 jstring, jstring, jstring);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_porder(JNIEnv*, jobject, jstring, jstring,
                                                              jstring, jstring);
JNIEXPORT jstring JNICALL Java_com_tarnwick_api_NativeAPI_geterrstring(JNIEnv*, jobject, jint,
                                                                       jint);
JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_ctr(JNIEnv*, jobject, jstring, jstring,
                                                                 jstring);
JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_tradedatesnum(JNIEnv*, jobject,
                                                                           jstring, jstring,
                                                                           jstring);
JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_csq(JNIEnv*, jobject, jstring, jstring,
                                                                 jstring);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_setproxy(JNIEnv*, jobject, jint, jstring,
                                                                jint, jboolean, jstring, jstring);
JNIEXPORT void JNICALL Java_com_tarnwick_api_NativeAPI_setserverlistdir(JNIEnv*, jobject, jstring);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_csqcancel(JNIEnv*, jobject, jint);
JNIEXPORT void JNICALL Java_com_tarnwick_api_NativeAPI_setJniEnv(JNIEnv*, jobject, jstring);
JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* reserved);
JNIEXPORT void JNICALL JNI_OnUnload(JavaVM* vm, void* reserved);
}

namespace vxtest {
namespace {

using vx::fakejni::Fn;

constexpr char kApiClass[] = "com/tarnwick/api/NativeAPI";

// One run of a path: the answer Java saw, as text ("code 0", "null", ...).
using Path = std::function<std::string()>;

struct PathSpec {
  const char* name;
  Path run;
  std::set<std::string> allowedUnderFailure;  // answers a failure may give
  std::vector<Fn> jniFaults;                  // JNI calls on the path that can fail
};

const char* FaultName(Fn fault) {
  switch (fault) {
    case Fn::NewByteArray:
      return "NewByteArray";
    case Fn::GetStringRegion:
      return "GetStringRegion";
    case Fn::AttachCurrentThread:
      return "AttachCurrentThread";
    case Fn::GetObjectClass:
      return "GetObjectClass";
    case Fn::GetMethodID:
      return "GetMethodID";
    case Fn::NewString:
      return "NewString";
    default:
      return "other JNI call";
  }
}

std::string CodeOf(const std::vector<std::uint8_t>& bytes, std::size_t offset = 0) {
  if (bytes.size() < offset + 4) return "short reply";
  const std::int32_t code =
      static_cast<std::int32_t>(bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
                                static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
  return "code " + std::to_string(code);
}

class FaultWalk : public vx::fakejni::FakeJniTest {
 protected:
  void SetUp() override {
    FakeJniTest::SetUp();
    ASSERT_TRUE(LoadSim(VX_SIM_DIR_DEFAULT, sim));
    sim.vxsim_set_streaming(0, 0);
    jvm().DefineClass(kApiClass);
    // For the log thread that setJniEnv starts.
    jvm().DefineIntMethod(kApiClass, "logAPICallBack", "([B)I",
                          [](JNIEnv*, jobject, const std::vector<jvalue>&) { return 0; });
    jvm().DefineIntMethod(kApiClass, "dataAPICallBack", "([BI)I",
                          [this](JNIEnv*, jobject, const std::vector<jvalue>& args) {
                            auto array = static_cast<jbyteArray>(args[0].l);
                            m_lastMessage =
                                array == nullptr ? "null" : CodeOf(jvm().Bytes(array), 8);
                            return 0;
                          });
    m_receiver = env()->NewGlobalRef(jvm().NewInstance(kApiClass));
    vx::g_jvm.store(jvm().vm());
    vx::g_callbackObject.store(m_receiver);
  }

  void TearDown() override {
    vx::testing::FailAllocationAfter(0);
    jvm().ClearFaults();
    EXPECT_EQ(SimErrors(sim), "");
    EXPECT_EQ(sim.vxsim_outstanding_records(), 0);
    sim.vxsim_reset();
    vx::FreeServiceLibrary();
    vx::testing::ResetBridgeState();
    env()->DeleteGlobalRef(m_receiver);
    TakeLogLines();
    FakeJniTest::TearDown();
  }

  // One call into the bridge; under the operator-new walk inside the failing window.
  template <typename Call>
  auto Bridge(Call call) {
    if (!m_newWalk) return call();
    FailingNewWindow window(m_newFailAt);
    auto result = call();
    m_newCount = window.Count();
    return result;
  }

  // A text of `count` characters, each two bytes in the sim's script escapes: too long to be
  // converted on the stack, so its conversions allocate and can fail.
  static std::string LongScriptText() {
    std::string text;
    for (std::size_t i = 0; i <= vx::kStackTextBytes / 2; ++i) text += "\\xD6\\xD0";
    return text;
  }

  std::string Reply(jbyteArray array) {
    if (array == nullptr) {
      return jvm().PendingExceptionClass().empty() ? "null" : "exception pending";
    }
    const auto bytes = jvm().Bytes(array);
    env()->DeleteLocalRef(array);
    return CodeOf(bytes);
  }

  // The query path: a cube with non-ASCII texts in every list and a text value. The first
  // text is too long to be converted on the stack: its conversions allocate, and can fail.
  std::string RunQuery() {
    std::string longText;  // in the script's escapes: two bytes a character
    for (std::size_t i = 0; i <= vx::kStackTextBytes / 2; ++i) longText += "\\xD6\\xD0";
    sim.vxsim_script_cube(
        ("L1=\"" + longText + "\",\"a\";L2=\"\\xCE\\xC4\";L3=\"x\";V=13:\"\\xD6\\xD0\",6:1")
            .c_str());
    jstring s = jvm().NewJStringUtf8("q");
    const std::string answer = Reply(Bridge([&] {
      return vx::fakejni::AsNative(&Java_com_tarnwick_api_NativeAPI_csd)(env(), nullptr, s, s, s, s,
                                                                         s);
    }));
    env()->DeleteLocalRef(s);
    return answer;
  }

  std::string RunOrders() {
    jstring json = jvm().NewJStringUtf8(R"([{"code":"A","volume":1},{}])");
    const jint code = Bridge([&] {
      return vx::fakejni::AsNative(&Java_com_tarnwick_api_NativeAPI_porder)(env(), nullptr, json,
                                                                            json, json, json);
    });
    env()->DeleteLocalRef(json);
    return "code " + std::to_string(code);
  }

  std::string RunCallback(int (*callback)(vx::VXMSG*) = &vx::CsqDataCallback) {
    m_lastMessage = "not delivered";
    RecordBuilder b;
    std::string longText;  // converted through scratch buffers, which can fail
    while (longText.size() <= vx::kStackTextBytes) longText += "\xCE\xC4";
    vx::ResultCube cube = b.Cube(b.List({"\xD6\xD0", longText.c_str()}), b.List({"b"}),
                                 b.List({"c"}), {b.Text("\xCE\xC4"), RecordBuilder::Fixed(6, 1)});
    vx::VXMSG message{1, 2, 0, 4, 5, 0, &cube};
    int returned = -1;
    std::thread([&] { returned = Bridge([&] { return callback(&message); }); }).join();
    return returned == 0 ? m_lastMessage : "returned " + std::to_string(returned);
  }

  std::string RunErrorText() {
    sim.vxsim_script_errstring("\xD6\xD0\xCE\xC4 failed");
    jstring text = Bridge([&] {
      return vx::fakejni::AsNative(&Java_com_tarnwick_api_NativeAPI_geterrstring)(env(), nullptr, 1,
                                                                                  1);
    });
    if (text == nullptr) return "null";
    const std::u16string value = jvm().StringU16(text);
    env()->DeleteLocalRef(text);
    return value == u"\u4E2D\u6587 failed" ? "converted" : "widened";
  }

  std::string RunGrid() {
    sim.vxsim_script_grid(("D1=1;D2=1;L=\"" + LongScriptText() + "\";V=13:\"x\"").c_str());
    jstring s = jvm().NewJStringUtf8("q");
    const std::string answer = Reply(Bridge([&] {
      return vx::fakejni::AsNative(&Java_com_tarnwick_api_NativeAPI_ctr)(env(), nullptr, s, s, s);
    }));
    env()->DeleteLocalRef(s);
    return answer;
  }

  // Texts past the stack's limit, so that their conversion allocates.
  jstring LongJString() {
    return jvm().NewJString(std::u16string(vx::kStackTextBytes + 1, u'\u4E2D'));
  }

  std::string RunCount() {
    jstring s = LongJString();
    const std::string answer = Reply(Bridge([&] {
      return vx::fakejni::AsNative(&Java_com_tarnwick_api_NativeAPI_tradedatesnum)(env(), nullptr,
                                                                                   s, s, s);
    }));
    env()->DeleteLocalRef(s);
    return answer;
  }

  std::string RunSubscribe() {
    jstring s = LongJString();
    jbyteArray reply = Bridge([&] {
      return vx::fakejni::AsNative(&Java_com_tarnwick_api_NativeAPI_csq)(env(), nullptr, s, s, s);
    });
    env()->DeleteLocalRef(s);
    if (reply == nullptr) return "null";
    const auto bytes = jvm().Bytes(reply);
    env()->DeleteLocalRef(reply);
    return (CodeOf(bytes) == "code 0" ? "no request, " : "a request, ") + CodeOf(bytes, 4);
  }

  std::string RunProxy() {
    jstring s = LongJString();
    const jint code = Bridge([&] {
      return vx::fakejni::AsNative(&Java_com_tarnwick_api_NativeAPI_setproxy)(env(), nullptr, 1, s,
                                                                              80, JNI_TRUE, s, s);
    });
    env()->DeleteLocalRef(s);
    return "code " + std::to_string(code);
  }

  std::string RunServerListDir() {
    jstring s = LongJString();
    const int calls = sim.vxsim_call_count();
    Bridge([&] {
      vx::fakejni::AsNative (&Java_com_tarnwick_api_NativeAPI_setserverlistdir)(env(), nullptr, s);
      return 0;
    });
    env()->DeleteLocalRef(s);
    return sim.vxsim_call_count() > calls ? "passed on" : "not passed on";
  }

  // A cancel whose service entry, written in C++, allocates: what it throws stops at the
  // export.
  static int AllocatingCancel(int request) {
    s_cancelled = "cancelled request " + std::to_string(request);
    return 0;
  }

  std::string RunCancel() {
    const auto entry = vx::g_functions.csqcancel.exchange(&AllocatingCancel);
    const jint code = Bridge([&] {
      return vx::fakejni::AsNative(&Java_com_tarnwick_api_NativeAPI_csqcancel)(env(), nullptr, 7);
    });
    vx::g_functions.csqcancel.store(entry);
    return "code " + std::to_string(code);
  }

  void CallSetJniEnv(jobject receiver, jstring directory) {
    vx::fakejni::AsNative (&Java_com_tarnwick_api_NativeAPI_setJniEnv)(env(), receiver, directory);
  }

  // Two setJniEnv calls with receivers of their own (the fixture's stays out of the bridge),
  // so that one reference is replaced already; then `step`, which runs the call under test in
  // the failing window; then an unload unless `step` unloaded. The answer is `step`'s and what
  // is left of the bridge's references and log thread. The fixture's state comes back at the
  // end: the service library, the VM and the receiver.
  std::string RunWithSetJniEnvBefore(const std::function<std::string(jstring directory)>& step) {
    const std::size_t globals = jvm().GlobalRefCount();
    vx::g_callbackObject.store(nullptr);
    jstring directory = jvm().NewJStringUtf8(VX_SIM_DIR_DEFAULT);
    for (int i = 0; i < 2; ++i) {  // one reference replaced already
      jobject receiver = jvm().NewInstance(kApiClass);
      CallSetJniEnv(receiver, directory);
      env()->DeleteLocalRef(receiver);
    }
    const std::string stepAnswer = step(directory);
    env()->DeleteLocalRef(directory);
    if (vx::g_jvm.load() != nullptr) JNI_OnUnload(jvm().vm(), nullptr);
    std::string answer = stepAnswer;
    answer += jvm().GlobalRefCount() == globals
                  ? "no reference left"
                  : std::to_string(jvm().GlobalRefCount() - globals) + " references left";
    if (vx::g_logThread.IsStarted()) answer += ", log thread running";
    EXPECT_TRUE(LoadSim(VX_SIM_DIR_DEFAULT, sim));
    sim.vxsim_set_streaming(0, 0);
    vx::g_jvm.store(jvm().vm());
    vx::g_callbackObject.store(m_receiver);
    TakeLogLines();
    return answer;
  }

  // A second setJniEnv with another receiver: the first one's reference is replaced.
  std::string RunSetJniEnv() {
    return RunWithSetJniEnvBefore([this](jstring directory) {
      jobject second = jvm().NewInstance(kApiClass);
      const jobject before = vx::g_callbackObject.load();
      Bridge([&] {
        CallSetJniEnv(second, directory);
        return 0;
      });
      const jobject now = vx::g_callbackObject.load();
      const std::string answer = now == before                      ? "kept, "
                                 : env()->IsSameObject(now, second) ? "replaced, "
                                                                    : "something else stored, ";
      env()->DeleteLocalRef(second);
      return answer;
    });
  }

  std::string RunOnUnload() {
    return RunWithSetJniEnvBefore([this](jstring) {
      Bridge([&] {
        JNI_OnUnload(jvm().vm(), nullptr);
        return 0;
      });
      return std::string();
    });
  }

  std::string RunLogSink() {
    const std::string line(vx::kStackTextBytes * 2, 'x');  // longer than a spare line holds
    const int returned = Bridge([&] { return NativeLogCallBack(line.c_str()); });
    const auto queued = TakeLogLines();
    if (returned != 0) return "returned " + std::to_string(returned);
    return queued.size() == 1 && queued[0] == line ? "queued" : "dropped";
  }

  std::string RunOnLoad() {
    const jint version = Bridge([&] { return JNI_OnLoad(jvm().vm(), nullptr); });
    TakeLogLines();
    return "version " + std::to_string(version);
  }

  // The paths the operator-new walk takes: every kind of entry point, each answer allowed
  // when an allocation throws.
  std::vector<PathSpec> NewPaths() {
    return {
        {"csd", [this] { return RunQuery(); }, {"code 10000003"}, {}},
        {"ctr", [this] { return RunGrid(); }, {"code 10000003"}, {}},
        {"tradedatesnum", [this] { return RunCount(); }, {"code 10000003"}, {}},
        {"csq", [this] { return RunSubscribe(); }, {"no request, code 10000003"}, {}},
        {"setproxy", [this] { return RunProxy(); }, {"code 10000003"}, {}},
        // No memory inside the JSON reader is an order list that cannot be read.
        {"porder", [this] { return RunOrders(); }, {"code 10000003", "code 10000004"}, {}},
        {"geterrstring", [this] { return RunErrorText(); }, {"null"}, {}},
        {"csq callback", [this] { return RunCallback(); }, {"not delivered"}, {}},
        {"main callback", [this] { return RunCallback(&vx::MainCallback); }, {"not delivered"}, {}},
        {"log sink", [this] { return RunLogSink(); }, {"dropped"}, {}},
        {"JNI_OnLoad", [this] { return RunOnLoad(); }, {"version 65538"}, {}},
        {"setserverlistdir", [this] { return RunServerListDir(); }, {"not passed on"}, {}},
        {"csqcancel", [this] { return RunCancel(); }, {"code 10000003"}, {}},
        // Nothing changes, and no reference is left behind once the bridge unloads.
        {"setJniEnv", [this] { return RunSetJniEnv(); }, {"kept, no reference left"}, {}},
        {"JNI_OnUnload", [this] { return RunOnUnload(); }, {}, {}},
    };
  }

  std::vector<PathSpec> Paths() {
    return {
        {"csd",
         [this] { return RunQuery(); },
         {"code 10000003", "code 10000007", "null"},
         {Fn::NewByteArray, Fn::GetStringRegion}},
        {"porder",
         [this] { return RunOrders(); },
         {"code 10000003", "code 10000004"},
         {Fn::GetStringRegion}},
        {"csq callback",
         [this] { return RunCallback(); },
         {"code 10000003", "code 10000007", "null"},
         {Fn::AttachCurrentThread, Fn::GetObjectClass, Fn::GetMethodID, Fn::NewByteArray}},
        {"geterrstring", [this] { return RunErrorText(); }, {"widened", "null"}, {Fn::NewString}},
    };
  }

  static inline std::string s_cancelled;
  VxSimApi sim;
  jobject m_receiver = nullptr;
  std::string m_lastMessage;
  bool m_newWalk = false;         // Bridge() runs its call inside a FailingNewWindow
  std::uint64_t m_newFailAt = 0;  // the allocation that window fails; 0: none
  std::uint64_t m_newCount = 0;   // allocations the last window counted
};

TEST_F(FaultWalk, EveryFailurePointGivesItsDocumentedAnswer) {
  VX_USE_LOCALE(vx::testlocale::kGbk);
  std::ostringstream table;
  table << "path | failure point | answer\n";
  for (const PathSpec& path : Paths()) {
    SCOPED_TRACE(path.name);
    const std::string healthy = path.run();
    TakeLogLines();
    const std::uint64_t before = vx::testing::AllocationCount();
    path.run();
    const std::uint64_t allocations = vx::testing::AllocationCount() - before;
    ASSERT_GT(allocations, 0u) << "the path allocates nothing: the walk would test nothing";

    for (std::uint64_t n = 1; n <= allocations; ++n) {
      vx::testing::FailAllocationAfter(n);
      const std::string answer = path.run();
      vx::testing::FailAllocationAfter(0);
      jvm().ClearPendingException();
      table << path.name << " | allocation " << n << " of " << allocations << " | " << answer
            << "\n";
      EXPECT_TRUE(answer == healthy || path.allowedUnderFailure.count(answer) != 0)
          << "allocation " << n << " gave " << answer;
      EXPECT_EQ(path.run(), healthy) << "no recovery after allocation " << n;
      TakeLogLines();
    }
    for (Fn fault : path.jniFaults) {
      jvm().FailNth(fault);
      const std::string answer = path.run();
      jvm().ClearFaults();
      jvm().ClearPendingException();
      table << path.name << " | " << FaultName(fault) << " fails | " << answer << "\n";
      EXPECT_TRUE(answer == healthy || path.allowedUnderFailure.count(answer) != 0 ||
                  answer == "not delivered")
          << FaultName(fault) << " failing gave " << answer;
      EXPECT_EQ(path.run(), healthy) << "no recovery after " << FaultName(fault) << " failed";
      TakeLogLines();
    }
  }
  std::printf("%s", table.str().c_str());
}

// The same walk over the C++ allocator: each allocation the bridge makes with operator new on
// the calling thread throws std::bad_alloc in turn. Every entry point gives its answer for a
// failed allocation, nothing escapes, no Java exception is left pending, and the same path
// works again at once.
TEST_F(FaultWalk, EveryThrowingOperatorNewGivesTheNoMemoryAnswer) {
  VX_USE_LOCALE(vx::testlocale::kGbk);
  std::ostringstream table;
  table << "path | allocations | failures answered with the no-memory answer\n";
  int pathsThatFailed = 0;
  for (const PathSpec& path : NewPaths()) {
    SCOPED_TRACE(path.name);
    const std::string healthy = path.run();
    m_newWalk = true;
    m_newFailAt = 0;
    EXPECT_EQ(path.run(), healthy);
    const std::uint64_t allocations = m_newCount;
    int failed = 0;
    for (std::uint64_t n = 1; n <= allocations; ++n) {
      m_newFailAt = n;
      const std::string answer = path.run();
      failed += answer != healthy;
      EXPECT_TRUE(answer == healthy || path.allowedUnderFailure.count(answer) != 0)
          << "allocation " << n << " of " << allocations << " gave " << answer;
      EXPECT_EQ(jvm().PendingExceptionClass(), "") << "allocation " << n;
      m_newFailAt = 0;
      EXPECT_EQ(path.run(), healthy) << "no recovery after allocation " << n;
      TakeLogLines();
    }
    m_newWalk = false;
    table << path.name << " | " << allocations << " | " << failed << "\n";
    pathsThatFailed += failed > 0;
  }
  // A path may allocate nothing with operator new (a conversion done on the stack, or a
  // Windows service library with an allocator of its own); most must fail somewhere.
  EXPECT_GE(pathsThatFailed, 7) << table.str();
  std::printf("%s", table.str().c_str());
}

}  // namespace
}  // namespace vxtest
