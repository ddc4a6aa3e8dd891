// Every NativeAPI export against the simulated service: arguments in order, replies intact,
// missing functions answered with 10000007 and their own label.
#include <gtest/gtest.h>

#include <functional>

#include "bridge/state.h"
#include "ctype_locale.h"
#include "fakejni/fakejni.h"
#include "marshal/serialize.h"
#include "record_builder.h"
#include "sim_session.h"

extern "C" {
#define VX_DECLARE_QUERY(name, ...)                                                     \
  JNIEXPORT jbyteArray JNICALL Java_com_tarnwick_api_NativeAPI_##name(JNIEnv*, jobject, \
                                                                      __VA_ARGS__);
VX_DECLARE_QUERY(csd, jstring, jstring, jstring, jstring, jstring)
VX_DECLARE_QUERY(css, jstring, jstring, jstring)
VX_DECLARE_QUERY(tradedates, jstring, jstring, jstring)
VX_DECLARE_QUERY(sector, jstring, jstring, jstring)
VX_DECLARE_QUERY(getdate, jstring, jint, jstring)
VX_DECLARE_QUERY(tradedatesnum, jstring, jstring, jstring)
VX_DECLARE_QUERY(csc, jstring, jstring, jstring, jstring, jstring)
VX_DECLARE_QUERY(cmc, jstring, jstring, jstring, jstring, jstring)
VX_DECLARE_QUERY(chmc, jstring, jstring, jstring, jstring, jstring)
VX_DECLARE_QUERY(csqsnapshot, jstring, jstring, jstring)
VX_DECLARE_QUERY(ctr, jstring, jstring, jstring)
VX_DECLARE_QUERY(cps, jstring, jstring, jstring, jstring)
VX_DECLARE_QUERY(pquery, jstring)
VX_DECLARE_QUERY(preport, jstring, jstring, jstring)
VX_DECLARE_QUERY(edb, jstring, jstring)
VX_DECLARE_QUERY(edbquery, jstring, jstring, jstring)
VX_DECLARE_QUERY(cfn, jstring, jstring, jint, jstring)
VX_DECLARE_QUERY(cfnquery, jstring)
VX_DECLARE_QUERY(csq, jstring, jstring, jstring)
VX_DECLARE_QUERY(cst, jstring, jstring, jstring, jstring, jstring)
VX_DECLARE_QUERY(cnq, jstring, jstring, jstring)
#undef VX_DECLARE_QUERY
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_start(JNIEnv*, jobject, jstring);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_stop(JNIEnv*, jobject);
JNIEXPORT void JNICALL Java_com_tarnwick_api_NativeAPI_setserverlistdir(JNIEnv*, jobject, jstring);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_setproxy(JNIEnv*, jobject, jint, jstring,
                                                                jint, jboolean, jstring, jstring);
JNIEXPORT jstring JNICALL Java_com_tarnwick_api_NativeAPI_geterrstring(JNIEnv*, jobject, jint,
                                                                       jint);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_csqcancel(JNIEnv*, jobject, jint);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_cnqcancel(JNIEnv*, jobject, jint);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_porder(JNIEnv*, jobject, jstring, jstring,
                                                              jstring, jstring);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_pcreate(JNIEnv*, jobject, jstring, jstring,
                                                               jlong, jstring, jstring);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_pdelete(JNIEnv*, jobject, jstring, jstring);
JNIEXPORT jint JNICALL Java_com_tarnwick_api_NativeAPI_pctransfer(JNIEnv*, jobject, jstring,
                                                                  jstring, jstring, jdouble,
                                                                  jstring, jstring);
}

namespace vxtest {
namespace {

// Each call as the JVM makes it: a local frame of its own, no exception pending on return.
#define API(name) ::vx::fakejni::AsNative(&Java_com_tarnwick_api_NativeAPI_##name)

std::vector<std::uint8_t> Header16(std::int32_t first, std::int32_t second = 0) {
  std::vector<std::uint8_t> out(16, 0);
  for (int i = 0; i < 4; ++i) {
    out[static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(static_cast<std::uint32_t>(first) >> (8 * i));
    out[static_cast<std::size_t>(4 + i)] =
        static_cast<std::uint8_t>(static_cast<std::uint32_t>(second) >> (8 * i));
  }
  return out;
}

class Exports : public vx::fakejni::FakeJniTest {
 protected:
  void SetUp() override {
    FakeJniTest::SetUp();
    ASSERT_TRUE(LoadSim(VX_SIM_DIR_DEFAULT, sim));
    sim.vxsim_set_streaming(0, 0);
    for (int i = 0; i < 5; ++i)
      s[i] = jvm().NewJStringUtf8(std::string("s") + std::to_string(i + 1));
    TakeLogLines();
  }
  void TearDown() override {
    EXPECT_EQ(SimErrors(sim), "");
    sim.vxsim_reset();
    vx::FreeServiceLibrary();
    vx::testing::ResetBridgeState();
    TakeLogLines();
    FakeJniTest::TearDown();
  }

  std::vector<std::uint8_t> Take(jbyteArray array) {
    EXPECT_NE(array, nullptr);
    auto bytes = jvm().Bytes(array);
    env()->DeleteLocalRef(array);
    return bytes;
  }

  VxSimApi sim;
  jstring s[5] = {};
  RecordBuilder b;
};

struct CubeExport {
  const char* name;
  std::function<jbyteArray(JNIEnv*, jstring*)> call;
  const char* expectedCall;
};

const std::vector<CubeExport>& CubeExports() {
  static const std::vector<CubeExport> exports = {
      {"csd",
       [](JNIEnv* e, jstring* s) { return API(csd)(e, nullptr, s[0], s[1], s[2], s[3], s[4]); },
       "csd|s1|s2|s3|s4|s5"},
      {"css", [](JNIEnv* e, jstring* s) { return API(css)(e, nullptr, s[0], s[1], s[2]); },
       "css|s1|s2|s3"},
      {"tradedates",
       [](JNIEnv* e, jstring* s) { return API(tradedates)(e, nullptr, s[0], s[1], s[2]); },
       "tradedates|s1|s2|s3"},
      {"sector", [](JNIEnv* e, jstring* s) { return API(sector)(e, nullptr, s[0], s[1], s[2]); },
       "sector|s1|s2|s3"},
      {"getdate", [](JNIEnv* e, jstring* s) { return API(getdate)(e, nullptr, s[0], -5, s[1]); },
       "getdate|s1|-5|s2"},
      {"csc",
       [](JNIEnv* e, jstring* s) { return API(csc)(e, nullptr, s[0], s[1], s[2], s[3], s[4]); },
       "csc|s1|s2|s3|s4|s5"},
      {"cmc",
       [](JNIEnv* e, jstring* s) { return API(cmc)(e, nullptr, s[0], s[1], s[2], s[3], s[4]); },
       "cmc|s1|s2|s3|s4|s5"},
      {"chmc",
       [](JNIEnv* e, jstring* s) { return API(chmc)(e, nullptr, s[0], s[1], s[2], s[3], s[4]); },
       "chmc|s1|s2|s3|s4|s5"},
      {"csqsnapshot",
       [](JNIEnv* e, jstring* s) { return API(csqsnapshot)(e, nullptr, s[0], s[1], s[2]); },
       "csqsnapshot|s1|s2|s3"},
      {"cps", [](JNIEnv* e, jstring* s) { return API(cps)(e, nullptr, s[0], s[1], s[2], s[3]); },
       "cps|s1|s2|s3|s4"},
      {"pquery", [](JNIEnv* e, jstring* s) { return API(pquery)(e, nullptr, s[0]); }, "pquery|s1"},
      {"preport", [](JNIEnv* e, jstring* s) { return API(preport)(e, nullptr, s[0], s[1], s[2]); },
       "preport|s1|s2|s3"},
      {"edb", [](JNIEnv* e, jstring* s) { return API(edb)(e, nullptr, s[0], s[1]); }, "edb|s1|s2"},
      {"edbquery",
       [](JNIEnv* e, jstring* s) { return API(edbquery)(e, nullptr, s[0], s[1], s[2]); },
       "edbquery|s1|s2|s3"},
      {"cfn",
       [](JNIEnv* e, jstring* s) {
         return API(cfn)(e, nullptr, s[0], s[1], -2147483647 - 1, s[2]);
       },
       "cfn|s1|s2|-2147483648|s3"},
      {"cfnquery", [](JNIEnv* e, jstring* s) { return API(cfnquery)(e, nullptr, s[0]); },
       "cfnquery|s1"},
  };
  return exports;
}

TEST_F(Exports, EveryCubeQueryPassesItsArgumentsAndReturnsTheCubeIntact) {
  for (const CubeExport& query : CubeExports()) {
    SCOPED_TRACE(query.name);
    sim.vxsim_clear_calls();
    vx::ResultCube cube = b.Cube(b.List({"c1", "c2"}), b.List({"f"}), b.List({"d"}),
                                 {RecordBuilder::Fixed(8, 0x1122334455667788ull), b.Text("t")});
    sim.vxsim_set_next_cube_ptr(&cube, nullptr, nullptr);
    const auto reply = Take(query.call(env(), s));
    const auto payload = EncodeCube(cube);
    ASSERT_EQ(reply.size(), 16 + payload.size());
    EXPECT_EQ(std::vector<std::uint8_t>(reply.begin() + 16, reply.end()),
              std::vector<std::uint8_t>(payload.begin(), payload.end()));
    EXPECT_EQ(reply[8], payload.size());
    EXPECT_EQ(sim.vxsim_release_count_for(&cube), 1);
    const auto calls = SimCalls(sim);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], query.expectedCall);
    EXPECT_EQ(calls[1].rfind("releasedata|", 0), 0u);
  }
  EXPECT_EQ(sim.vxsim_outstanding_records(), 0);
}

TEST_F(Exports, ServiceCodesPassThroughAndNothingIsReleased) {
  sim.vxsim_set_next_code(-17);
  EXPECT_EQ(Take(API(css)(env(), nullptr, s[0], s[1], s[2])), Header16(-17));
  EXPECT_EQ(sim.vxsim_release_total(), 0);
  // Default data: a real record, released once.
  const auto reply = Take(API(csd)(env(), nullptr, s[0], s[1], s[2], s[3], s[4]));
  EXPECT_GT(reply.size(), 32u);
  EXPECT_EQ(sim.vxsim_release_total(), 1);
  EXPECT_EQ(sim.vxsim_outstanding_records(), 0);
}

TEST_F(Exports, GridAndCountReplies) {
  ASSERT_EQ(sim.vxsim_script_grid("D1=2;D2=1;L=\"c1\",\"c2\";V=11:5,8:-1"), 0);
  const auto grid = Take(API(ctr)(env(), nullptr, s[0], s[1], s[2]));
  ASSERT_GE(grid.size(), 24u);
  EXPECT_EQ(std::vector<std::uint8_t>(grid.begin() + 16, grid.begin() + 24),
            (std::vector<std::uint8_t>{2, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(sim.vxsim_release_total(), 1);

  sim.vxsim_set_next_out_int(250, 1);
  EXPECT_EQ(Take(API(tradedatesnum)(env(), nullptr, s[0], s[1], s[2])),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 250, 0, 0, 0}));
  sim.vxsim_set_next_code(9);
  sim.vxsim_set_next_out_int(3, 1);
  EXPECT_EQ(Take(API(tradedatesnum)(env(), nullptr, s[0], s[1], s[2])),
            (std::vector<std::uint8_t>{9, 0, 0, 0, 3, 0, 0, 0}));
  EXPECT_EQ(SimCalls(sim).back(), "tradedatesnum|s1|s2|s3");
}

TEST_F(Exports, NullAndNonAsciiJavaStrings) {
  jstring emoji = jvm().NewJString(u"a\U0001F600");
  sim.vxsim_clear_calls();
  Take(API(edb)(env(), nullptr, nullptr, emoji));
  // In the process's code page: C (ASCII) here on POSIX; 1252, 936 or UTF-8 on Windows.
  // The call log writes bytes above 0x7F as \xHH.
  const std::string inAnsi =
      vx::platform::AnsiIsUtf8() ? "\\xF0\\x9F\\x98\\x80" : vx::testlocale::kUnmappedNonBmp;
  EXPECT_EQ(SimCalls(sim)[0], "edb||a" + inAnsi);
}

TEST_F(Exports, FailedJavaArrayIsNullWithoutAnException) {
  jvm().FailNth(vx::fakejni::Fn::NewByteArray);
  EXPECT_EQ(API(pquery)(env(), nullptr, s[0]), nullptr);
  EXPECT_EQ(jvm().PendingExceptionClass(), "");
  EXPECT_EQ(sim.vxsim_outstanding_records(), 0);
}

TEST_F(Exports, ControlExportsPassTheirArgumentsExactly) {
  jstring options = jvm().NewJStringUtf8("opt=1");
  EXPECT_EQ(API(start)(env(), nullptr, options), 0);
  sim.vxsim_set_next_code(-3);
  EXPECT_EQ(API(stop)(env(), nullptr), -3);
  API(setserverlistdir)(env(), nullptr, s[0]);
  EXPECT_EQ(API(setproxy)(env(), nullptr, 2, s[0], 70000, JNI_TRUE, s[1], s[2]), 0);
  EXPECT_EQ(API(setproxy)(env(), nullptr, -1, s[0], 8080, JNI_FALSE, s[1], s[2]), 0);
  for (jint flag : {1, 2, -1, 0}) env()->DeleteLocalRef(API(geterrstring)(env(), nullptr, 5, flag));
  EXPECT_EQ(SimCalls(sim),
            (std::vector<std::string>{"start|\\N|opt=1|cb", "stop", "setserverlistdir|s1",
                                      "setproxy|2|s1|4464|1|s2|s3", "setproxy|-1|s1|8080|0|s2|s3",
                                      "geterrstring|5|1", "geterrstring|5|0", "geterrstring|5|0",
                                      "geterrstring|5|0"}));
}

TEST_F(Exports, ServiceLogLinesReachTheQueueByteForByte) {
  API(start)(env(), nullptr, s[0]);
  TakeLogLines();
  EXPECT_EQ(sim.vxsim_emit_log_raw("svc \xD6\xD0 %d 100%", 2, 0), 0);
  EXPECT_EQ(TakeLogLines(),
            (std::vector<std::string>{"svc \xD6\xD0 %d 100%", "svc \xD6\xD0 %d 100%"}));
}

TEST_F(Exports, ErrorTextComesBackAsAJavaString) {
  sim.vxsim_script_errstring("bad \xD6\xD0");
  {
    VX_USE_LOCALE(vx::testlocale::kGbk);
    jstring text = API(geterrstring)(env(), nullptr, 1, 1);
    EXPECT_EQ(jvm().StringU16(text), u"bad \u4E2D");
  }
  sim.vxsim_script_errstring(nullptr);
  EXPECT_EQ(jvm().StringU16(API(geterrstring)(env(), nullptr, 1, 1)), u"");
}

TEST_F(Exports, SubscriptionReplies) {
  sim.vxsim_set_next_out_int(7, 1);
  EXPECT_EQ(Take(API(csq)(env(), nullptr, s[0], s[1], s[2])), Header16(7, 0));
  sim.vxsim_set_next_code(5);
  EXPECT_EQ(Take(API(cnq)(env(), nullptr, s[0], s[1], s[2])), Header16(0, 5));
  sim.vxsim_set_next_out_int(11, 1);
  EXPECT_EQ(Take(API(cst)(env(), nullptr, s[0], s[1], s[2], s[3], s[4])), Header16(11, 0));
  sim.vxsim_set_next_code(-9);
  EXPECT_EQ(API(csqcancel)(env(), nullptr, 7), -9);
  sim.vxsim_set_next_code(-2147483647 - 1);
  EXPECT_EQ(API(cnqcancel)(env(), nullptr, -4), -2147483647 - 1);
  const auto calls = SimCalls(sim);
  EXPECT_EQ(calls[0], "csq|s1|s2|s3|cb|\\N");
  EXPECT_EQ(calls[2], "cst|s1|s2|s3|s4|s5|cb|\\N");
  EXPECT_EQ(calls[3], "csqcancel|7");
  EXPECT_EQ(calls[4], "cnqcancel|-4");
}

TEST_F(Exports, EachSubscriptionHandsOverItsOwnCallback) {
  jvm().DefineClass("com/tarnwick/api/NativeAPI");
  std::vector<jint> kinds;
  jvm().DefineIntMethod("com/tarnwick/api/NativeAPI", "dataAPICallBack", "([BI)I",
                        [&kinds](JNIEnv*, jobject, const std::vector<jvalue>& args) {
                          kinds.push_back(args[1].i);
                          return 0;
                        });
  jobject receiver = env()->NewGlobalRef(jvm().NewInstance("com/tarnwick/api/NativeAPI"));
  vx::g_jvm.store(jvm().vm());
  vx::g_callbackObject.store(receiver);
  // Synchronous callbacks inside each call, on this (Java) thread.
  for (const char* name : {"csq", "cst", "cnq"})
    ASSERT_EQ(sim.vxsim_fire_inside_next(name, 1, "w1=1"), 0);
  Take(API(csq)(env(), nullptr, s[0], s[1], s[2]));
  Take(API(cst)(env(), nullptr, s[0], s[1], s[2], s[3], s[4]));
  Take(API(cnq)(env(), nullptr, s[0], s[1], s[2]));
  EXPECT_EQ(kinds, (std::vector<jint>{1, 2, 3}));
  EXPECT_EQ(jvm().AttachCount(), 0u);
  EXPECT_EQ(jvm().DetachCount(), 0u);
  vx::g_callbackObject.store(nullptr);
  env()->DeleteGlobalRef(receiver);
}

TEST_F(Exports, PortfolioExportsPassTheirArguments) {
  jstring orders = jvm().NewJStringUtf8(
      R"([{"code":"A1","volume":2.5,"price":1.5,"date":20240102,"time":1,"optype":2,"cost":0.25,"rate":0.5,"reserve":3},{},null])");
  EXPECT_EQ(API(porder)(env(), nullptr, orders, s[1], s[2], s[3]), 0);
  EXPECT_EQ(API(pcreate)(env(), nullptr, s[0], s[1], 1LL << 40, s[2], s[3]), 0);
  EXPECT_EQ(API(pdelete)(env(), nullptr, s[0], s[1]), 0);
  EXPECT_EQ(API(pctransfer)(env(), nullptr, s[0], s[1], s[2], 2.5, s[3], s[4]), 0);
  const auto calls = SimCalls(sim);
  ASSERT_EQ(calls.size(), 4u);
  // porder|<192 bytes in hex>|3|s2|s3|s4
  const std::string& porder = calls[0];
  ASSERT_EQ(porder.rfind("porder|", 0), 0u);
  const std::string hex = porder.substr(7, 384);
  EXPECT_EQ(hex.substr(0, 48), "413100000000000000000000000000000000000000000000");  // "A1"
  EXPECT_EQ(hex.substr(48, 16), "0000000000000440");                                 // 2.5
  EXPECT_EQ(hex.substr(64, 8), "0000C03F");                                          // 1.5f
  EXPECT_EQ(hex.substr(72, 24),
            "E6D63401"
            "01000000"
            "02000000");                                              // date, time, optype
  EXPECT_EQ(hex.substr(96, 32), "0000803E0000003F0300000000000000");  // cost, rate, reserve
  EXPECT_EQ(hex.substr(128), std::string(256, '0'));
  EXPECT_EQ(porder.substr(7 + 384), "|3|s2|s3|s4");
  EXPECT_EQ(calls[1], "pcreate|s1|s2|1099511627776|s3|s4");
  EXPECT_EQ(calls[2], "pdelete|s1|s2");
  EXPECT_EQ(calls[3], "pctransfer|s1|s2|s3|2.5|s4|s5");
}

TEST_F(Exports, RefusedOrderListNeverReachesTheService) {
  jstring text = jvm().NewJStringUtf8(R"([{"volume":"12"}])");
  EXPECT_EQ(API(porder)(env(), nullptr, text, s[1], s[2], s[3]), 10000004);
  jstring empty = jvm().NewJStringUtf8("[]");
  EXPECT_EQ(API(porder)(env(), nullptr, empty, s[1], s[2], s[3]), 10003003);
  EXPECT_TRUE(SimCalls(sim).empty());
  const auto lines = TakeLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("]:json parse error : [{\"volume\":\"12\"}]\n"), std::string::npos);
  EXPECT_NE(lines[1].find("]:json param error : []\n"), std::string::npos);
}

// ---- Missing functions -------------------------------------------------------------------

class MissingFunctions : public Exports {
 protected:
  void Use(const char* directory) {
    sim.vxsim_reset();
    ASSERT_TRUE(LoadSim(directory, sim));
    TakeLogLines();
  }
  static void ExpectOneLine(const char* label) {
    const auto lines = TakeLogLines();
    ASSERT_EQ(lines.size(), 1u) << label;
    EXPECT_NE(lines[0].find(std::string("]:function address of ") + label + " is null.\n"),
              std::string::npos)
        << lines[0];
  }
};

TEST_F(MissingFunctions, WithoutTheServiceEveryExportAnswers10000007WithItsOwnLabel) {
  Use(VX_SIM_DIR_EMPTY);
  for (const CubeExport& query : CubeExports()) {
    EXPECT_EQ(Take(query.call(env(), s)), Header16(10000007)) << query.name;
    ExpectOneLine((std::string("pfn") + query.name).c_str());
  }
  EXPECT_EQ(Take(API(ctr)(env(), nullptr, s[0], s[1], s[2])), Header16(10000007));
  ExpectOneLine("pfnctr");
  EXPECT_EQ(Take(API(tradedatesnum)(env(), nullptr, s[0], s[1], s[2])),
            (std::vector<std::uint8_t>{0x87, 0x96, 0x98, 0, 0, 0, 0, 0}));
  ExpectOneLine("pfntradedatesnum");
  EXPECT_EQ(Take(API(csq)(env(), nullptr, s[0], s[1], s[2])), Header16(10000007));
  ExpectOneLine("pfncsq");
  EXPECT_EQ(Take(API(cst)(env(), nullptr, s[0], s[1], s[2], s[3], s[4])), Header16(10000007));
  ExpectOneLine("pfncst");
  EXPECT_EQ(Take(API(cnq)(env(), nullptr, s[0], s[1], s[2])), Header16(10000007));
  ExpectOneLine("pfncnq");
  EXPECT_EQ(API(csqcancel)(env(), nullptr, 1), 10000007);
  ExpectOneLine("pfncsqcancel");
  EXPECT_EQ(API(cnqcancel)(env(), nullptr, 1), 10000007);
  ExpectOneLine("pfncnqcancel");
  EXPECT_EQ(API(start)(env(), nullptr, s[0]), 10000007);
  ExpectOneLine("pfnstart");
  EXPECT_EQ(API(stop)(env(), nullptr), 10000007);
  ExpectOneLine("pfnstop");
  API(setserverlistdir)(env(), nullptr, s[0]);
  ExpectOneLine("pfnsetserverlistdir");
  EXPECT_EQ(API(setproxy)(env(), nullptr, 0, s[0], 1, JNI_TRUE, s[1], s[2]), 10000007);
  ExpectOneLine("pfnsetproxy");
  EXPECT_EQ(jvm().StringUtf8(API(geterrstring)(env(), nullptr, 0, 0)), "function address is null.");
  ExpectOneLine("pfngeterrstring");
  EXPECT_EQ(API(porder)(env(), nullptr, s[0], s[1], s[2], s[3]), 10000007);
  ExpectOneLine("pfnporder");
  EXPECT_EQ(API(pcreate)(env(), nullptr, s[0], s[1], 1, s[2], s[3]), 10000007);
  ExpectOneLine("pfnpcreate");
  EXPECT_EQ(API(pdelete)(env(), nullptr, s[0], s[1]), 10000007);
  ExpectOneLine("pfnpdelete");
  EXPECT_EQ(API(pctransfer)(env(), nullptr, s[0], s[1], s[2], 1.0, s[3], s[4]), 10000007);
  ExpectOneLine("pfnpctransfer");
}

TEST_F(MissingFunctions, WithoutReleaseTheQueriesRefuseButTheCountWorks) {
  Use(VX_SIM_DIR_NO_RELEASEDATA);
  for (const CubeExport& query : CubeExports()) {
    EXPECT_EQ(Take(query.call(env(), s)), Header16(10000007)) << query.name;
    ExpectOneLine("pfnreleasedata");
  }
  EXPECT_EQ(Take(API(ctr)(env(), nullptr, s[0], s[1], s[2])), Header16(10000007));
  ExpectOneLine("pfnreleasedata");
  EXPECT_EQ(SimCalls(sim).size(), 0u);  // no record-yielding function was called
  sim.vxsim_set_next_out_int(4, 1);
  EXPECT_EQ(Take(API(tradedatesnum)(env(), nullptr, s[0], s[1], s[2])),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 4, 0, 0, 0}));
  EXPECT_TRUE(TakeLogLines().empty());
}

}  // namespace
}  // namespace vxtest
