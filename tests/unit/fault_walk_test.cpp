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

#include "bridge/state.h"
#include "callback/callbacks.h"
#include "ctype_locale.h"
#include "fakejni/fakejni.h"
#include "marshal/alloc.h"
#include "marshal/serialize.h"
#include "marshal/text.h"
#include "record_builder.h"
#include "sim_session.h"

extern "C" {
JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_csd(JNIEnv*, jobject, jstring, jstring,
                                                                 jstring, jstring, jstring);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_porder(JNIEnv*, jobject, jstring, jstring,
                                                              jstring, jstring);
JNIEXPORT jstring JNICALL Java_com_tarnwick_api_NativeAPI_geterrstring(JNIEnv*, jobject, jint,
                                                                       jint);
}

namespace vxtest {
namespace {

using vx::fakejni::Fn;

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
    jvm().DefineClass("com/tarnwick/api/NativeAPI");
    jvm().DefineIntMethod("com/tarnwick/api/NativeAPI", "dataAPICallBack", "([BI)I",
                          [this](JNIEnv*, jobject, const std::vector<jvalue>& args) {
                            auto array = static_cast<jbyteArray>(args[0].l);
                            m_lastMessage =
                                array == nullptr ? "null" : CodeOf(jvm().Bytes(array), 8);
                            return 0;
                          });
    m_receiver = env()->NewGlobalRef(jvm().NewInstance("com/tarnwick/api/NativeAPI"));
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
    const std::string answer =
        Reply(Java_com_tarnwick_api_NativeAPI_csd(env(), nullptr, s, s, s, s, s));
    env()->DeleteLocalRef(s);
    return answer;
  }

  std::string RunOrders() {
    jstring json = jvm().NewJStringUtf8(R"([{"code":"A","volume":1},{}])");
    const jint code =
        Java_com_tarnwick_api_NativeAPI_porder(env(), nullptr, json, json, json, json);
    env()->DeleteLocalRef(json);
    return "code " + std::to_string(code);
  }

  std::string RunCallback() {
    m_lastMessage = "not delivered";
    RecordBuilder b;
    std::string longText;  // converted through scratch buffers, which can fail
    while (longText.size() <= vx::kStackTextBytes) longText += "\xCE\xC4";
    vx::ResultCube cube = b.Cube(b.List({"\xD6\xD0", longText.c_str()}), b.List({"b"}),
                                 b.List({"c"}), {b.Text("\xCE\xC4"), RecordBuilder::Fixed(6, 1)});
    vx::VXMSG message{1, 2, 0, 4, 5, 0, &cube};
    std::thread([&] { vx::CsqDataCallback(&message); }).join();
    return m_lastMessage;
  }

  std::string RunErrorText() {
    sim.vxsim_script_errstring("\xD6\xD0\xCE\xC4 failed");
    jstring text = Java_com_tarnwick_api_NativeAPI_geterrstring(env(), nullptr, 1, 1);
    if (text == nullptr) return "null";
    const std::u16string value = jvm().StringU16(text);
    env()->DeleteLocalRef(text);
    return value == u"\u4E2D\u6587 failed" ? "converted" : "widened";
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

  VxSimApi sim;
  jobject m_receiver = nullptr;
  std::string m_lastMessage;
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

}  // namespace
}  // namespace vxtest
