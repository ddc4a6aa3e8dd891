// Self-test of the simulated service library: loads every variant by path, as the bridge
// does, and checks its exports, the record description language, release accounting, the
// call log, scripted results, callbacks fired from its threads, log lines and streams.
#include <gtest/gtest.h>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define VXSIM_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VXSIM_TEST_ASAN 1
#endif
#endif
#if defined(VXSIM_TEST_ASAN)
#include <sanitizer/asan_interface.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bridge/service_api.h"
#include "vxsim.h"

namespace {

// ---- Loading ---------------------------------------------------------------------------------

#if defined(_WIN32)
const char kLibraryFile[] = "\\VeltrixAPI_x64.dll";
void* OpenLibrary(const std::string& path) {
  return reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
}
void* OwnSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
const char kLibraryFile[] = "/libVeltrixAPI_x64.so";
void* OpenLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
// A symbol defined by the library itself: dlsym on a handle also searches the library's
// dependencies.
void* OwnSymbol(void* library, const char* name) {
  void* symbol = dlsym(library, name);
  void* anchor = dlsym(library, "vxsim_reset");
  Dl_info mine{};
  Dl_info found{};
  if (symbol == nullptr || anchor == nullptr || dladdr(anchor, &mine) == 0 ||
      dladdr(symbol, &found) == 0) {
    return nullptr;
  }
  return mine.dli_fbase == found.dli_fbase ? symbol : nullptr;
}
#endif

struct Service {
#define VXSIM_TEST_MEMBER(name, type) vx::type name = nullptr;
  VX_SERVICE_FUNCTIONS(VXSIM_TEST_MEMBER)
#undef VXSIM_TEST_MEMBER
};

const char* const kServiceNames[] = {
#define VXSIM_TEST_NAME(name, type) #name,
    VX_SERVICE_FUNCTIONS(VXSIM_TEST_NAME)
#undef VXSIM_TEST_NAME
};

struct Library {
  void* handle = nullptr;
  VxSimApi sim;
  Service service;
};

// Each variant is loaded once and stays loaded.
Library& Load(const std::string& directory) {
  static std::map<std::string, Library> loaded;
  auto found = loaded.find(directory);
  if (found != loaded.end()) return found->second;
  Library& library = loaded[directory];
  library.handle = OpenLibrary(directory + kLibraryFile);
  if (library.handle == nullptr) return library;
  library.sim.Load([&](const char* name) { return OwnSymbol(library.handle, name); });
#define VXSIM_TEST_RESOLVE(name, type) \
  library.service.name = reinterpret_cast<vx::type>(OwnSymbol(library.handle, #name));
  VX_SERVICE_FUNCTIONS(VXSIM_TEST_RESOLVE)
#undef VXSIM_TEST_RESOLVE
  return library;
}

struct Variant {
  const char* name;
  const char* directory;
  std::set<std::string> missing;  // service functions it must not export
  bool empty;
};

std::vector<Variant> Variants() {
  return {{"default", VXSIM_DIR_DEFAULT, {}, false},
          {"no_releasedata", VXSIM_DIR_NO_RELEASEDATA, {"releasedata"}, false},
          {"no_serverlistdir", VXSIM_DIR_NO_SERVERLISTDIR, {"setserverlistdir"}, false},
          {"no_getdate", VXSIM_DIR_NO_GETDATE, {"getdate"}, false},
          {"empty", VXSIM_DIR_EMPTY, {}, true}};
}

// ---- Receivers for callbacks -------------------------------------------------------------

const VxSimApi* g_sim = nullptr;

std::int64_t Bits(const vx::ResultVariant& value) {
  std::int64_t bits = 0;
  std::memcpy(&bits, value.value, sizeof bits);
  return bits;
}

std::string Text(const vx::TextList& list, std::uint32_t index) {
  return list.entries[index].text == nullptr ? "<null>" : list.entries[index].text;
}

// The cube the sim attaches for "tagcube": see vxsim.h.
bool IsIdentityCube(const vx::ResultCube* cube, int thread, int sequence) {
  if (cube == nullptr) return false;
  for (int i = 0; i < 2; ++i) {
    if (cube->lists[i].count != 1) return false;
  }
  if (cube->lists[2].count != 4 || cube->values == nullptr) return false;
  if (Text(cube->lists[0], 0) != "t" + std::to_string(thread) ||
      Text(cube->lists[1], 0) != "s" + std::to_string(sequence) ||
      Text(cube->lists[2], 0) != "thread" || Text(cube->lists[2], 3) != "blob") {
    return false;
  }
  const vx::ResultVariant* v = cube->values;
  if (v[0].type != 6 || Bits(v[0]) != thread || v[1].type != 6 || Bits(v[1]) != sequence) {
    return false;
  }
  const std::string tag = "t" + std::to_string(thread) + "s" + std::to_string(sequence);
  if (v[2].type != 13 || v[2].data == nullptr || tag != static_cast<const char*>(v[2].data)) {
    return false;
  }
  if (v[3].type != 14 || v[3].byteCount != static_cast<std::uint32_t>(sequence % 7)) return false;
  const auto* blob = static_cast<const unsigned char*>(v[3].data);
  for (int i = 0; i < sequence % 7; ++i) {
    if (blob[i] != ((thread * 31 + sequence + i) & 0xFF)) return false;
  }
  return true;
}

struct Received {
  bool null = false;
  vx::VXMSG message{};
  std::thread::id thread;
  std::string data;  // description of the message's cube, "none" without one
  bool identity = false;
};

class Receiver {
 public:
  static int Callback(vx::VXMSG* message) { return Instance().Record(message); }

  static Receiver& Instance() {
    static Receiver receiver;
    return receiver;
  }

  void Clear(int result = 0) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.clear();
    m_result = result;
  }

  std::vector<Received> Messages() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
  }

  std::size_t Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received.size();
  }

  // Waits for at least `count` messages; the limit only stops a broken run from hanging.
  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::seconds(30),
                              [&] { return m_received.size() >= count; });
  }

 private:
  int Record(vx::VXMSG* message) {
    Received received;
    received.thread = std::this_thread::get_id();
    received.null = message == nullptr;
    if (message != nullptr) {
      received.message = *message;
      received.data = message->data == nullptr ? "none" : g_sim->vxsim_describe_cube(message->data);
      received.identity = IsIdentityCube(message->data, message->word4, message->word5);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.push_back(received);
    m_arrived.notify_all();
    return m_result;
  }

  std::mutex m_mutex;
  std::condition_variable m_arrived;
  std::vector<Received> m_received;
  int m_result = 0;
};

class LogSink {
 public:
  static int Callback(const char* line) {
    LogSink& sink = Instance();
    std::lock_guard<std::mutex> lock(sink.m_mutex);
    sink.m_lines.push_back(line == nullptr ? std::string("<null>") : std::string(line));
    return line == nullptr ? 1 : 0;
  }
  static LogSink& Instance() {
    static LogSink sink;
    return sink;
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::move(m_lines);
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_lines;
};

// ---- Fixture on the default variant ------------------------------------------------------

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Library& library = Load(VXSIM_DIR_DEFAULT);
    ASSERT_NE(library.handle, nullptr) << "cannot load " << VXSIM_DIR_DEFAULT << kLibraryFile;
    sim = &library.sim;
    api = &library.service;
    g_sim = sim;
    sim->vxsim_reset();
    sim->vxsim_set_streaming(0, 0);
    Receiver::Instance().Clear();
    LogSink::Instance().Take();
  }

  void TearDown() override {
    EXPECT_EQ(std::string(sim->vxsim_errors_joined()), expectedErrors);
    sim->vxsim_reset();
  }

  std::vector<std::string> Calls() {
    std::vector<std::string> calls;
    for (int i = 0; i < sim->vxsim_call_count(); ++i) calls.emplace_back(sim->vxsim_call(i));
    return calls;
  }

  std::vector<std::string> Errors() {
    std::vector<std::string> errors;
    for (int i = 0; i < sim->vxsim_error_count(); ++i) errors.emplace_back(sim->vxsim_error(i));
    return errors;
  }

  // Runs csd with a scripted cube and returns the record it hands out.
  vx::ResultCube* ScriptedCube(const std::string& dsl) {
    EXPECT_EQ(sim->vxsim_script_cube(dsl.c_str()), 0) << dsl << ": " << sim->vxsim_dsl_error();
    vx::ResultCube* cube = nullptr;
    EXPECT_EQ(api->csd("a", "b", "c", "d", "e", &cube), 0);
    return cube;
  }

  std::string RoundTrip(const std::string& dsl) {
    vx::ResultCube* cube = ScriptedCube(dsl);
    std::string described = cube == nullptr ? "" : sim->vxsim_describe_cube(cube);
    api->releasedata(cube);
    return described;
  }

  const VxSimApi* sim = nullptr;
  const Service* api = nullptr;
  std::string expectedErrors;  // what TearDown expects vxsim_errors_joined to be
};

// ---- Variants ----------------------------------------------------------------------------------

TEST(SimVariants, EachExportsItsServiceFunctionsAndTheWholeControlApi) {
  for (const Variant& variant : Variants()) {
    SCOPED_TRACE(variant.name);
    Library& library = Load(variant.directory);
    ASSERT_NE(library.handle, nullptr) << variant.directory << kLibraryFile;
    VxSimApi control;
    EXPECT_TRUE(control.Load([&](const char* name) { return OwnSymbol(library.handle, name); }));
    EXPECT_NE(OwnSymbol(library.handle, "Java_com_tarnwick_sim_SimControl_reset"), nullptr);
    EXPECT_NE(OwnSymbol(library.handle, "Java_com_tarnwick_sim_SimControl_fireInsideNext"),
              nullptr);
    for (const char* name : kServiceNames) {
      const bool expected = !variant.empty && variant.missing.count(name) == 0;
      EXPECT_EQ(OwnSymbol(library.handle, name) != nullptr, expected) << name;
    }
  }
}

TEST(SimVariants, VariantsKeepSeparateState) {
  Library& first = Load(VXSIM_DIR_DEFAULT);
  Library& second = Load(VXSIM_DIR_NO_GETDATE);
  ASSERT_NE(first.handle, second.handle);
  first.sim.vxsim_reset();
  second.sim.vxsim_reset();
  first.service.pdelete("x", "y");
  EXPECT_EQ(first.sim.vxsim_call_count(), 1);
  EXPECT_EQ(second.sim.vxsim_call_count(), 0);
  first.sim.vxsim_reset();
}

#if defined(__GLIBC__)
TEST(SimVariants, NoGetdateLeavesOnlyTheCLibrarysGetdateBehindItsHandle) {
  Library& library = Load(VXSIM_DIR_NO_GETDATE);
  ASSERT_NE(library.handle, nullptr);
  // What a plain dlsym through the handle finds is the C library's getdate(3).
  EXPECT_NE(dlsym(library.handle, "getdate"), nullptr);
  EXPECT_EQ(OwnSymbol(library.handle, "getdate"), nullptr);
  EXPECT_NE(OwnSymbol(Load(VXSIM_DIR_DEFAULT).handle, "getdate"), nullptr);
}
#endif

// ---- Record description language -------------------------------------------------------------

TEST_F(SimTest, WorkedExampleCubeHasTheDescribedLayout) {
  vx::ResultCube* cube = ScriptedCube(R"(L1="A";L2="B";L3="C";V=6:7)");
  ASSERT_NE(cube, nullptr);
  const char* names[] = {"A", "B", "C"};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(cube->lists[i].count, 1u);
    EXPECT_STREQ(cube->lists[i].entries[0].text, names[i]);
    EXPECT_EQ(cube->lists[i].reserved, 0xA5A5A5A5u);  // fields the bridge must not read
    EXPECT_EQ(cube->lists[i].entries[0].reserved, 0xA5A5A5A5A5A5A5A5ull);
  }
  ASSERT_NE(cube->values, nullptr);
  const unsigned char expected[8] = {7, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(cube->values[0].type, 6);
  EXPECT_EQ(std::memcmp(cube->values[0].value, expected, 8), 0);
  EXPECT_EQ(cube->values[0].data, nullptr);
  EXPECT_EQ(cube->values[0].byteCount, 0u);
  api->releasedata(cube);
}

TEST_F(SimTest, ValuesOfEveryTypeAndPayload) {
  const std::string dsl =
      "L1=\"x\"*20;L2=\"y\";L3=\"z\";V="
      "-3,0,1:1,2:-1,3:0xFF,4:0x1234,5:65535,6:-2,7:0xFFFFFFFF,8:-1,9:0x0102030405060708,"
      "10:f1.5,11:d-2.25,12:\"\\x00\\x01\\xFF\",13:\"\\xD6\\xD0\",14:null/5,15,99,"
      "13:null,14:\"ab\"/6";
  vx::ResultCube* cube = ScriptedCube(dsl);
  ASSERT_NE(cube, nullptr);
  const vx::ResultVariant* v = cube->values;
  const std::int32_t types[] = {-3, 0,  1,  2,  3,  4,  5,  6,  7,  8,
                                9,  10, 11, 12, 13, 14, 15, 99, 13, 14};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(v[i].type, types[i]) << i;
  EXPECT_EQ(Bits(v[0]), 0);
  EXPECT_EQ(Bits(v[2]), 1);
  EXPECT_EQ(Bits(v[3]), -1);  // all eight bytes FF
  EXPECT_EQ(Bits(v[4]), 0xFF);
  EXPECT_EQ(v[5].value[0], 0x34);
  EXPECT_EQ(v[5].value[1], 0x12);
  EXPECT_EQ(Bits(v[6]), 65535);
  EXPECT_EQ(Bits(v[7]), -2);
  EXPECT_EQ(Bits(v[8]), 0xFFFFFFFFll);
  EXPECT_EQ(Bits(v[10]), 0x0102030405060708ll);
  EXPECT_EQ(v[10].value[0], 0x08);
  const unsigned char floatBits[] = {0x00, 0x00, 0xC0, 0x3F, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(v[11].value, floatBits, 8), 0);
  const unsigned char doubleBits[] = {0, 0, 0, 0, 0, 0, 0x02, 0xC0};
  EXPECT_EQ(std::memcmp(v[12].value, doubleBits, 8), 0);
  ASSERT_NE(v[13].data, nullptr);
  EXPECT_EQ(v[13].byteCount, 3u);
  EXPECT_EQ(std::memcmp(v[13].data, "\x00\x01\xFF", 3), 0);
  EXPECT_STREQ(static_cast<const char*>(v[14].data), "\xD6\xD0");
  EXPECT_EQ(v[15].data, nullptr);
  EXPECT_EQ(v[15].byteCount, 5u);
  EXPECT_EQ(v[16].data, nullptr);
  EXPECT_EQ(Bits(v[16]), 0);
  EXPECT_EQ(v[18].data, nullptr);
  ASSERT_NE(v[19].data, nullptr);
  EXPECT_EQ(v[19].byteCount, 6u);
  EXPECT_EQ(std::memcmp(v[19].data, "ab\0\0\0\0", 6), 0);  // the buffer holds the count
  api->releasedata(cube);
}

TEST_F(SimTest, ListShapesNullTextsAndValuePointers) {
  vx::ResultCube* cube = ScriptedCube(R"(L1="\xD6\xD0",null,"";L2=;L3="C";V=6:7)");
  ASSERT_NE(cube, nullptr);
  ASSERT_EQ(cube->lists[0].count, 3u);
  EXPECT_STREQ(cube->lists[0].entries[0].text, "\xD6\xD0");
  EXPECT_EQ(cube->lists[0].entries[1].text, nullptr);
  EXPECT_STREQ(cube->lists[0].entries[2].text, "");
  EXPECT_EQ(cube->lists[1].count, 0u);  // an empty list ...
  EXPECT_EQ(cube->lists[1].entries, nullptr);
  EXPECT_NE(cube->values, nullptr);  // ... with a values pointer all the same
  api->releasedata(cube);

  cube = ScriptedCube("L1=;L2=;L3=;V=");
  ASSERT_NE(cube, nullptr);
  EXPECT_NE(cube->values, nullptr);
  api->releasedata(cube);

  cube = ScriptedCube("L1=;L2=;L3=");
  ASSERT_NE(cube, nullptr);
  EXPECT_EQ(cube->values, nullptr);
  api->releasedata(cube);

  cube = ScriptedCube(R"(L1="a"*1000;L2="b";L3="c";V=6:1*999,6:2)");
  ASSERT_NE(cube, nullptr);
  EXPECT_EQ(cube->lists[0].count, 1000u);
  EXPECT_STREQ(cube->lists[0].entries[999].text, "a");
  EXPECT_EQ(Bits(cube->values[998]), 1);
  EXPECT_EQ(Bits(cube->values[999]), 2);
  api->releasedata(cube);
}

TEST_F(SimTest, NoneIsCodeZeroWithoutARecord) {
  ASSERT_EQ(sim->vxsim_script_cube("none"), 0);
  vx::ResultCube* cube = nullptr;
  EXPECT_EQ(api->csd("a", "b", "c", "d", "e", &cube), 0);
  EXPECT_EQ(cube, nullptr);
  EXPECT_EQ(sim->vxsim_last_record_id(), 0);
  EXPECT_EQ(sim->vxsim_outstanding_records(), 0);
}

TEST_F(SimTest, ScriptedGrid) {
  ASSERT_EQ(sim->vxsim_script_grid(R"(D1=2;D2=1;L="c1","c2";V=11:d1.5,8:-1)"), 0);
  ASSERT_EQ(sim->vxsim_script_grid("D1=-1;D2=5;L=;V="), 0);
  vx::ResultGrid* grid = nullptr;
  ASSERT_EQ(api->ctr("a", "b", "c", &grid), 0);
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(grid->d1, 2);
  EXPECT_EQ(grid->d2, 1);
  ASSERT_EQ(grid->list.count, 2u);
  EXPECT_STREQ(grid->list.entries[1].text, "c2");
  EXPECT_EQ(grid->values[0].type, 11);
  EXPECT_EQ(Bits(grid->values[1]), -1);
  EXPECT_EQ(std::string(sim->vxsim_describe_grid(grid)),
            R"(D1=2;D2=1;L="c1","c2";V=11:4609434218613702656,8:-1)");
  api->releasedata(grid);

  grid = nullptr;
  ASSERT_EQ(api->ctr("a", "b", "c", &grid), 0);
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(grid->d1, -1);
  EXPECT_EQ(grid->d2, 5);
  api->releasedata(grid);
}

TEST_F(SimTest, CanonicalDescriptionsRoundTrip) {
  const char* canonical[] = {
      R"(L1="A";L2="B";L3="C";V=6:7)",
      R"(L1=;L2=;L3=;V=null)",
      R"(L1=;L2=;L3=;V=)",
      R"(L1="\xD6\xD0",null,"q\"\\";L2="F";L3="D";V=13:"x",13:null,14:null/5)",
      R"(L1="a"*3;L2="b";L3="c";V=6:1*2,-3)",
      R"(L1="a";L2="b";L3="c","d";V=12:"\x00\x01",13:"ab"/9)",
      R"(L1="a";L2="b";L3="c";V=15:9)",
  };
  for (const char* dsl : canonical) EXPECT_EQ(RoundTrip(dsl), dsl);
  // Any other spelling settles on its canonical form after one description.
  const char* other[] = {
      R"( V = 6 : 0x10 ; L1 = "a" ; L2="b";L3="c" )",
      R"(L1="a";L2="b";L3="c";V=10:f0.25)",
      R"(L1="a";L2="b";L3="c";V=13)",
      R"(L1="a";L2="b";L3="c";V=12:"\x00\x01"/4)",
  };
  for (const char* dsl : other) {
    const std::string first = RoundTrip(dsl);
    EXPECT_EQ(RoundTrip(first), first) << dsl;
  }
  EXPECT_EQ(RoundTrip(R"(V=6:0x10;L1="a";L2="b";L3="c")"), R"(L1="a";L2="b";L3="c";V=6:16)");
  // A byte count beyond the bytes given pads the buffer with zeros.
  EXPECT_EQ(RoundTrip(R"(L1="a";L2="b";L3="c";V=12:"\x00\x01"/4)"),
            R"(L1="a";L2="b";L3="c";V=12:"\x00\x01\x00\x00")");
}

TEST_F(SimTest, MalformedDescriptionsAreRefusedAndQueueNothing) {
  const char* bad[] = {
      "L1=\"A\";L2=\"B\";L3=\"C\"",            // lists span a value, V absent
      "L1=\"A\";L2=\"B\";L3=\"C\";V=",         // ... V empty
      "L1=\"A\",\"B\";L2=\"B\";L3=\"C\";V=6",  // two needed, one given
      "L4=\"A\"",                              // unknown key
      "L=\"A\"",                               // a grid key in a cube
      "L1=\"A\";L1=\"B\"",                     // key twice
      "L1=\"A",                                // unterminated text
      "L1=\"\\q\"",                            // unknown escape
      "L1=\"\\x4\"",                           // short hex escape
      "L1=A",                                  // unquoted text
      "V=6:12x",                               // bad integer
      "V=6:99999999999999999999",              // out of range
      "V=2147483648",                          // type out of range
      "V=14:\"a\"/-1",                         // negative count
      "V=6*20000000",                          // too many
      "none;V=",                               // none with more
  };
  for (const char* dsl : bad) {
    EXPECT_EQ(sim->vxsim_script_cube(dsl), VXSIM_ERR_BAD_SCRIPT) << dsl;
    EXPECT_STRNE(sim->vxsim_dsl_error(), "") << dsl;
  }
  EXPECT_EQ(sim->vxsim_script_grid("D1=2;D2=2;L=;V=6,6,6"), VXSIM_ERR_BAD_SCRIPT);
  EXPECT_EQ(sim->vxsim_script_grid("L1=\"a\""), VXSIM_ERR_BAD_SCRIPT);
  EXPECT_EQ(sim->vxsim_script_cube(nullptr), VXSIM_ERR_BAD_SCRIPT);
  EXPECT_EQ(sim->vxsim_script_cube(R"(L1="A";L2="B";L3="C";V=6)"), 0);
  EXPECT_STREQ(sim->vxsim_dsl_error(), "");
  // Only the good script was queued; the call after it gets default data.
  vx::ResultCube* cube = nullptr;
  ASSERT_EQ(api->csd("X.SH", "CLOSE", "20240102", "20240102", "", &cube), 0);
  ASSERT_NE(cube, nullptr);
  EXPECT_STREQ(cube->lists[0].entries[0].text, "A");
  api->releasedata(cube);
  cube = nullptr;
  ASSERT_EQ(api->csd("X.SH", "CLOSE", "20240102", "20240102", "", &cube), 0);
  ASSERT_NE(cube, nullptr);
  EXPECT_STREQ(cube->lists[0].entries[0].text, "X.SH");
  api->releasedata(cube);
}

// ---- Release accounting
// --------------------------------------------------------------------------

TEST_F(SimTest, ReleasesAreCountedPerRecord) {
  vx::ResultCube* first = nullptr;
  vx::ResultCube* second = nullptr;
  ASSERT_EQ(api->csd("A", "CLOSE", "", "", "", &first), 0);
  const int firstId = sim->vxsim_last_record_id();
  ASSERT_EQ(api->css("B", "CLOSE", "", &second), 0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(sim->vxsim_record_id(first), firstId);
  EXPECT_EQ(sim->vxsim_record_id(second), firstId + 1);
  EXPECT_EQ(sim->vxsim_outstanding_records(), 2);

  api->releasedata(first);
  EXPECT_EQ(sim->vxsim_release_count_for(first), 1);
  EXPECT_EQ(sim->vxsim_release_count_for(second), 0);
  EXPECT_EQ(sim->vxsim_release_count_for_id(firstId), 1);
  EXPECT_EQ(sim->vxsim_last_released(), first);
  EXPECT_EQ(sim->vxsim_last_released_id(), firstId);
  EXPECT_EQ(sim->vxsim_outstanding_records(), 1);
  // A released record is overwritten (and made unaddressable under AddressSanitizer), so
  // reading it afterwards shows.
#if defined(VXSIM_TEST_ASAN)
  EXPECT_TRUE(__asan_address_is_poisoned(&first->lists[0].count));
#else
  EXPECT_EQ(first->lists[0].count, 0xDDDDDDDDu);
#endif

  api->releasedata(second);
  EXPECT_EQ(sim->vxsim_release_total(), 2);
  EXPECT_EQ(sim->vxsim_outstanding_records(), 0);
}

TEST_F(SimTest, LongRunsKeepOnlyRecentRecords) {
  // Past 4096 released records the oldest are freed, past 65536 registry entries the
  // oldest are forgotten; counts of recent records stay exact.
  sim->vxsim_set_record_descriptions(0);
  constexpr int kRecords = 70'000;
  for (int i = 0; i < kRecords; ++i) {
    vx::ResultCube* cube = nullptr;
    ASSERT_EQ(api->pquery("P", &cube), 0);
    api->releasedata(cube);
  }
  EXPECT_EQ(sim->vxsim_last_record_id(), kRecords);
  EXPECT_EQ(sim->vxsim_release_total(), kRecords);
  EXPECT_EQ(sim->vxsim_outstanding_records(), 0);
  EXPECT_EQ(sim->vxsim_release_count_for_id(kRecords), 1);
  EXPECT_EQ(sim->vxsim_release_count_for_id(kRecords - 60'000), 1);
  EXPECT_EQ(sim->vxsim_release_count_for_id(1), 0);  // forgotten
  EXPECT_STREQ(sim->vxsim_last_record_description(), "");
}

TEST_F(SimTest, DoubleUnknownAndNullReleasesAreErrors) {
  vx::ResultCube* cube = ScriptedCube(R"(L1="A";L2="B";L3="C";V=6:7)");
  int local = 0;
  api->releasedata(cube);
  api->releasedata(cube);
  api->releasedata(&local);
  api->releasedata(nullptr);
  EXPECT_EQ(sim->vxsim_release_count_for(cube), 2);
  EXPECT_EQ(sim->vxsim_release_total(), 4);
  EXPECT_EQ(sim->vxsim_last_released_id(), 0);
  const std::vector<std::string> errors = Errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0], "releasedata: cube#1 released 2 times");
  EXPECT_EQ(errors[1].rfind("releasedata: unknown pointer", 0), 0u);
  EXPECT_EQ(errors[2], "releasedata: null pointer");
  const std::vector<std::string> calls = Calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[1], "releasedata|cube#1");
  EXPECT_EQ(calls[2], "releasedata|cube#1");
  EXPECT_EQ(calls[3], "releasedata|unknown");
  EXPECT_EQ(calls[4], "releasedata|\\N");
  expectedErrors = sim->vxsim_errors_joined();
}

TEST_F(SimTest, RecordWithNonZeroCodeMustNotBeReleased) {
  sim->vxsim_set_next_code(5);
  ASSERT_EQ(sim->vxsim_script_cube(R"(L1="A";L2="B";L3="C";V=6:7)"), 0);
  vx::ResultCube* cube = nullptr;
  EXPECT_EQ(api->csd("a", "b", "c", "d", "e", &cube), 5);
  ASSERT_NE(cube, nullptr);  // the record comes all the same
  EXPECT_EQ(sim->vxsim_outstanding_records(), 0);
  api->releasedata(cube);
  EXPECT_EQ(Errors(), std::vector<std::string>{
                          "releasedata: cube#1 came with code 5 and must not be released"});
  expectedErrors = sim->vxsim_errors_joined();
}

TEST_F(SimTest, DefaultModeNonZeroCodeGivesNoRecord) {
  sim->vxsim_set_next_code(7);
  vx::ResultCube* cube = nullptr;
  EXPECT_EQ(api->csd("a", "b", "c", "d", "e", &cube), 7);
  EXPECT_EQ(cube, nullptr);
  EXPECT_EQ(sim->vxsim_last_record_id(), 0);
  vx::ResultGrid* grid = nullptr;
  sim->vxsim_set_next_code(-2);
  EXPECT_EQ(api->ctr("a", "b", "c", &grid), -2);
  EXPECT_EQ(grid, nullptr);
}

TEST_F(SimTest, TestBuiltRecordIsCountedAndHandedBackOnce) {
  vx::TextListEntry entry{"A", 0};
  vx::ResultVariant value{};
  value.type = 6;
  value.value[0] = 9;
  vx::ResultCube cube{{{&entry, 1, 0}, {&entry, 1, 0}, {&entry, 1, 0}}, &value};
  struct Handback {
    int calls = 0;
    void* record = nullptr;
  } handback;
  sim->vxsim_set_next_cube_ptr(
      &cube,
      [](void* record, void* user) {
        auto* h = static_cast<Handback*>(user);
        ++h->calls;
        h->record = record;
      },
      &handback);
  vx::ResultCube* out = nullptr;
  ASSERT_EQ(api->cfnquery("q", &out), 0);
  EXPECT_EQ(out, &cube);
  EXPECT_EQ(sim->vxsim_last_record(), &cube);
  api->releasedata(out);
  api->releasedata(out);
  EXPECT_EQ(handback.calls, 1);
  EXPECT_EQ(handback.record, &cube);
  EXPECT_EQ(sim->vxsim_release_count_for(&cube), 2);
  EXPECT_EQ(cube.lists[0].count, 1u);  // the test's own memory is left alone
  EXPECT_EQ(Errors(), std::vector<std::string>{"releasedata: cube#1 released 2 times"});
  expectedErrors = sim->vxsim_errors_joined();
}

TEST_F(SimTest, OutArgumentsMustBeClearedAndValid) {
  vx::ResultCube dummy{};
  vx::ResultCube* cube = &dummy;
  EXPECT_EQ(api->pquery("q", &cube), 0);
  EXPECT_NE(cube, &dummy);
  api->releasedata(cube);
  int count = 5;
  EXPECT_EQ(api->tradedatesnum("20240102", "20240102", "", &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(api->edb("a", "b", nullptr), 0);
  EXPECT_EQ(api->csq("a", "b", "c", Receiver::Callback, nullptr, nullptr), 0);
  EXPECT_EQ(Errors(),
            (std::vector<std::string>{"pquery: out argument not cleared before the call",
                                      "tradedatesnum: out argument not cleared before the call",
                                      "edb: null out argument", "csq: null out argument"}));
  expectedErrors = sim->vxsim_errors_joined();
}

// ---- Call log
// ------------------------------------------------------------------------------------

int Sink(const char*) { return 0; }

TEST_F(SimTest, EveryCallIsLoggedWithItsArguments) {
  vx::ResultCube* cube = nullptr;
  vx::ResultGrid* grid = nullptr;
  int number = 0;
  api->start(nullptr, "opt", Sink);
  api->setcallback(Receiver::Callback);
  api->setserverlistdir("C:\\dir");
  api->setproxy(1, "host", 4464, true, "t1", "t2");
  api->geterrstring(5, 0);
  api->csd("a", "b", "c", "d", "e", &cube);
  api->releasedata(cube);
  cube = nullptr;
  api->getdate("x", -5, "y", &cube);
  api->releasedata(cube);
  cube = nullptr;
  api->cfn("a", "b", -3, "c", &cube);
  api->releasedata(cube);
  cube = nullptr;
  api->css("\xD6\xD0|\\\t", nullptr, "", &cube);
  api->releasedata(cube);
  api->ctr("a", "b", "c", &grid);
  api->releasedata(grid);
  api->tradedatesnum("a", "b", "c", &number);
  number = 0;
  api->csq("a", "b", "c", Receiver::Callback, nullptr, &number);
  api->csqcancel(number);
  number = 0;
  int user = 0;
  api->cst("a", "b", "c", "d", "e", nullptr, &user, &number);
  api->pcreate("a", "b", std::int64_t{1} << 40, "c", "d");
  api->pdelete("", "b");
  api->pctransfer("a", "b", "c", 2.5, "d", "e");
  api->stop();

  const std::vector<std::string> expected = {
      "start|\\N|opt|cb",
      "setcallback|cb",
      "setserverlistdir|C:\\x5Cdir",
      "setproxy|1|host|4464|1|t1|t2",
      "geterrstring|5|0",
      "csd|a|b|c|d|e",
      "releasedata|cube#1",
      "getdate|x|-5|y",
      "releasedata|cube#2",
      "cfn|a|b|-3|c",
      "releasedata|cube#3",
      "css|\\xD6\\xD0\\x7C\\x5C\\x09|\\N|",
      "releasedata|cube#4",
      "ctr|a|b|c",
      "releasedata|grid#5",
      "tradedatesnum|a|b|c",
      "csq|a|b|c|cb|\\N",
      "csqcancel|1",
      "cst|a|b|c|d|e|\\N|ptr",
      "pcreate|a|b|1099511627776|c|d",
      "pdelete||b",
      "pctransfer|a|b|c|2.5|d|e",
      "stop",
  };
  EXPECT_EQ(Calls(), expected);
  std::string joined;
  for (const auto& line : expected) joined += line + "\n";
  EXPECT_EQ(std::string(sim->vxsim_calls_joined()), joined);
  EXPECT_EQ(sim->vxsim_call(static_cast<int>(expected.size())), nullptr);
  sim->vxsim_clear_calls();
  EXPECT_EQ(sim->vxsim_call_count(), 0);
}

TEST_F(SimTest, PorderLogsTheOrderRecordsByteForByte) {
  vx::OrderInfo orders[2];
  std::memset(orders, 0, sizeof orders);
  std::memcpy(orders[0].code, "AB", 2);
  orders[0].volume = 1.0;
  orders[0].price = 2.0f;
  orders[0].date = 0x01020304;
  orders[0].time = 5;
  orders[0].optype = -1;
  orders[0].cost = 0.5f;
  orders[0].reserve = 7;
  api->porder(orders, 2, "t2", "t3", "t4");
  api->porder(nullptr, 0, "a", "b", "c");
  const std::string first = "4142" + std::string(44, '0') +  // code, 24 bytes
                            "000000000000F03F"               // volume 1.0
                            "00000040"                       // price 2.0f
                            "04030201"                       // date
                            "05000000"                       // time
                            "FFFFFFFF"                       // optype -1
                            "0000003F"                       // cost 0.5f
                            "00000000"                       // rate
                            "07000000"                       // reserve
                            "00000000";                      // unused
  ASSERT_EQ(first.size(), 128u);
  EXPECT_EQ(Calls(),
            (std::vector<std::string>{"porder|" + first + std::string(128, '0') + "|2|t2|t3|t4",
                                      "porder|\\N|0|a|b|c"}));
}

// ---- Scripted results --------------------------------------------------------------------------

TEST_F(SimTest, ScriptedCodesGoToTheNextCallsThatReturnOne) {
  sim->vxsim_set_next_code(3);
  sim->vxsim_set_next_code(-4);
  EXPECT_EQ(api->setcallback(Receiver::Callback), 0);  // takes no scripted code
  EXPECT_EQ(api->setserverlistdir("d"), 0);
  EXPECT_EQ(api->start(nullptr, "", Sink), 3);
  EXPECT_EQ(api->pdelete("a", "b"), -4);
  EXPECT_EQ(api->pdelete("a", "b"), 0);
}

TEST_F(SimTest, TradingDayCountAndScriptedOutInts) {
  int count = 0;
  EXPECT_EQ(api->tradedatesnum("20240101", "20240131", "", &count), 0);
  EXPECT_EQ(count, 22);  // the weekdays of January 2024 less New Year's Day
  count = 0;
  EXPECT_EQ(api->tradedatesnum("2024-01-01", "2024-01-31", "Days=Alldays", &count), 0);
  EXPECT_EQ(count, 31);
  count = 0;
  sim->vxsim_set_next_out_int(9, 1);
  EXPECT_EQ(api->tradedatesnum("20240101", "20240131", "", &count), 0);
  EXPECT_EQ(count, 9);
  count = 0;
  sim->vxsim_set_next_out_int(9, 0);
  EXPECT_EQ(api->tradedatesnum("20240101", "20240131", "", &count), 0);
  EXPECT_EQ(count, 0);
  sim->vxsim_set_next_code(2);
  EXPECT_EQ(api->tradedatesnum("20240101", "20240131", "", &count), 2);
  EXPECT_EQ(count, 0);
}

TEST_F(SimTest, RequestNumbersAndCancels) {
  int csqRequest = 0;
  int cstRequest = 0;
  int cnqRequest = 0;
  EXPECT_EQ(api->csq("a", "b", "c", Receiver::Callback, nullptr, &csqRequest), 0);
  EXPECT_EQ(api->cst("a", "b", "c", "d", "e", Receiver::Callback, nullptr, &cstRequest), 0);
  EXPECT_EQ(api->cnq("a", "b", "c", Receiver::Callback, nullptr, &cnqRequest), 0);
  EXPECT_EQ(csqRequest, 1);
  EXPECT_EQ(cstRequest, 2);
  EXPECT_EQ(cnqRequest, 3);
  EXPECT_EQ(api->cnqcancel(csqRequest), VXSIM_CODE_UNKNOWN_REQUEST);  // kinds are apart
  EXPECT_EQ(api->csqcancel(csqRequest), 0);
  EXPECT_EQ(api->csqcancel(csqRequest), VXSIM_CODE_UNKNOWN_REQUEST);
  sim->vxsim_set_next_code(-5);
  EXPECT_EQ(api->cnqcancel(cnqRequest), -5);
  EXPECT_EQ(api->cnqcancel(cnqRequest), VXSIM_CODE_UNKNOWN_REQUEST);  // it was closed

  int request = 0;
  sim->vxsim_set_next_out_int(77, 1);
  EXPECT_EQ(api->csq("a", "b", "c", Receiver::Callback, nullptr, &request), 0);
  EXPECT_EQ(request, 77);
  EXPECT_EQ(api->csqcancel(77), 0);
  request = 0;
  sim->vxsim_set_next_code(8);
  EXPECT_EQ(api->csq("a", "b", "c", Receiver::Callback, nullptr, &request), 8);
  EXPECT_EQ(request, 0);
}

TEST_F(SimTest, ErrorTextsDefaultAndScripted) {
  EXPECT_STREQ(api->geterrstring(0, 0), "no error");
  EXPECT_STREQ(api->geterrstring(VXSIM_CODE_UNKNOWN_REQUEST, 0), "unknown request number");
  EXPECT_STREQ(api->geterrstring(12345, 0), "unknown error code");
  const char* detailed = api->geterrstring(0, 1);
  EXPECT_STREQ(detailed, "code 0: no error");
  EXPECT_EQ(api->geterrstring(0, 1), detailed);  // the library's own, kept
  sim->vxsim_script_errstring(nullptr);
  sim->vxsim_script_errstring("\xD6\xD0 \xB4\xED");
  EXPECT_EQ(api->geterrstring(1, 0), nullptr);
  EXPECT_STREQ(api->geterrstring(1, 0), "\xD6\xD0 \xB4\xED");
  EXPECT_STREQ(api->geterrstring(0, 0), "no error");
}

// ---- Default data ------------------------------------------------------------------------------

TEST_F(SimTest, DefaultDataFollowsTheArgumentsDeterministically) {
  vx::ResultCube* cube = nullptr;
  ASSERT_EQ(api->csd("A.SH,B.SH", "CLOSE,VOLUME,NAME", "20240102", "20240108", "", &cube), 0);
  ASSERT_NE(cube, nullptr);
  EXPECT_EQ(cube->lists[0].count, 2u);
  EXPECT_EQ(cube->lists[1].count, 3u);
  ASSERT_EQ(cube->lists[2].count, 5u);  // Jan 2-5 and 8: the weekend is skipped
  EXPECT_STREQ(cube->lists[2].entries[4].text, "20240108");
  EXPECT_EQ(cube->values[0].type, 11);  // CLOSE
  EXPECT_EQ(cube->values[2].type, 8);   // VOLUME
  EXPECT_EQ(cube->values[4].type, 13);  // NAME
  const std::string first = sim->vxsim_describe_cube(cube);
  EXPECT_EQ(first, sim->vxsim_last_record_description());
  api->releasedata(cube);

  cube = nullptr;
  ASSERT_EQ(api->csd("A.SH,B.SH", "CLOSE,VOLUME,NAME", "20240102", "20240108", "", &cube), 0);
  EXPECT_EQ(std::string(sim->vxsim_describe_cube(cube)), first);
  api->releasedata(cube);
  cube = nullptr;
  ASSERT_EQ(api->csd("C.SH,B.SH", "CLOSE,VOLUME,NAME", "20240102", "20240108", "", &cube), 0);
  EXPECT_NE(std::string(sim->vxsim_describe_cube(cube)), first);
  api->releasedata(cube);
}

TEST_F(SimTest, EveryQueryReturnsARecordThatGoesBack) {
  using Call = std::function<int(vx::ResultCube**)>;
  const std::vector<std::pair<const char*, Call>> calls = {
      {"csd",
       [&](vx::ResultCube** o) { return api->csd("A", "CLOSE", "20240102", "20240105", "", o); }},
      {"css", [&](vx::ResultCube** o) { return api->css("A", "CLOSE", "", o); }},
      {"tradedates",
       [&](vx::ResultCube** o) { return api->tradedates("20240102", "20240105", "", o); }},
      {"sector", [&](vx::ResultCube** o) { return api->sector("S1", "20240102", "", o); }},
      {"getdate", [&](vx::ResultCube** o) { return api->getdate("20240628", 1, "", o); }},
      {"csc", [&](vx::ResultCube** o) { return api->csc("A", "CLOSE", "", "", "", o); }},
      {"cmc", [&](vx::ResultCube** o) { return api->cmc("A", "CLOSE", "", "", "", o); }},
      {"chmc", [&](vx::ResultCube** o) { return api->chmc("A", "CLOSE", "", "", "", o); }},
      {"csqsnapshot", [&](vx::ResultCube** o) { return api->csqsnapshot("A", "RT_LAST", "", o); }},
      {"cps", [&](vx::ResultCube** o) { return api->cps("A", "CLOSE", "", "", o); }},
      {"pquery", [&](vx::ResultCube** o) { return api->pquery("P", o); }},
      {"edb", [&](vx::ResultCube** o) { return api->edb("E1", "", o); }},
      {"edbquery", [&](vx::ResultCube** o) { return api->edbquery("E1", "V", "", o); }},
      {"preport", [&](vx::ResultCube** o) { return api->preport("P", "V", "", o); }},
      {"cfn", [&](vx::ResultCube** o) { return api->cfn("F", "V", 2, "", o); }},
      {"cfnquery", [&](vx::ResultCube** o) { return api->cfnquery("F", o); }},
  };
  for (const auto& [name, call] : calls) {
    vx::ResultCube* cube = nullptr;
    ASSERT_EQ(call(&cube), 0) << name;
    ASSERT_NE(cube, nullptr) << name;
    const std::uint64_t spanned =
        std::uint64_t{cube->lists[0].count} * cube->lists[1].count * cube->lists[2].count;
    EXPECT_GT(spanned, 0u) << name;
    EXPECT_NE(cube->values, nullptr) << name;
    api->releasedata(cube);
  }
  vx::ResultCube* cube = nullptr;
  ASSERT_EQ(api->getdate("20240628", 1, "", &cube), 0);  // Friday + 1 trading day
  EXPECT_EQ(Bits(cube->values[0]), 20240701);
  api->releasedata(cube);
  vx::ResultGrid* grid = nullptr;
  ASSERT_EQ(api->ctr("R", "CODE,VOLUME,PRICE", "", &grid), 0);
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(grid->d1, 3);
  EXPECT_GE(grid->d2, 1);
  EXPECT_EQ(grid->list.count, 3u);
  EXPECT_EQ(grid->values[0].type, 13);
  api->releasedata(grid);
  EXPECT_EQ(sim->vxsim_outstanding_records(), 0);
}

// ---- Callbacks ---------------------------------------------------------------------------------

TEST_F(SimTest, FiringFromThreadsDeliversEveryMessageOnceIntact) {
  int request = 0;
  ASSERT_EQ(api->csq("a", "b", "c", Receiver::Callback, nullptr, &request), 0);
  constexpr int kThreads = 8;
  constexpr int kPerThread = 250;
  ASSERT_EQ(sim->vxsim_fire(VXSIM_CSQ, kThreads, kPerThread, "tagcube,tagwords,w1=11,w2=22"), 0);
  EXPECT_EQ(sim->vxsim_fire_wait(), kThreads * kPerThread);
  const std::vector<Received> messages = Receiver::Instance().Messages();
  ASSERT_EQ(messages.size(), static_cast<std::size_t>(kThreads * kPerThread));
  std::set<std::pair<int, int>> seen;
  std::set<std::thread::id> threads;
  for (const Received& received : messages) {
    ASSERT_FALSE(received.null);
    EXPECT_EQ(received.message.word1, 11);
    EXPECT_EQ(received.message.word2, 22);
    EXPECT_EQ(received.message.errorCode, 0);
    EXPECT_TRUE(received.identity) << received.data;
    EXPECT_TRUE(seen.insert({received.message.word4, received.message.word5}).second);
    EXPECT_NE(received.thread, std::this_thread::get_id());
    threads.insert(received.thread);
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kPerThread));
  EXPECT_EQ(*seen.begin(), std::make_pair(0, 0));
  EXPECT_EQ(*seen.rbegin(), std::make_pair(kThreads - 1, kPerThread - 1));
  EXPECT_EQ(threads.size(), static_cast<std::size_t>(kThreads));
}

TEST_F(SimTest, FiredMessagesCarryWhatTheDescriptionSays) {
  api->setcallback(Receiver::Callback);
  ASSERT_EQ(sim->vxsim_fire(VXSIM_MAIN, 0, 1, "null"), 0);
  ASSERT_EQ(sim->vxsim_fire(VXSIM_MAIN, 0, 1, "err=5"), 0);
  ASSERT_EQ(sim->vxsim_fire(VXSIM_MAIN, 0, 1, R"(w1=1,w2=2,w4=4,w5=5|L1="A";L2="B";L3="C";V=6:7)"),
            0);
  ASSERT_EQ(sim->vxsim_fire(VXSIM_MAIN, 1, 1, R"(err=-9|L1=;L2="B";L3="C";V=6:7)"), 0);
  sim->vxsim_fire_wait();
  const std::vector<Received> messages = Receiver::Instance().Messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_TRUE(messages[0].null);
  EXPECT_EQ(messages[0].thread, std::this_thread::get_id());  // threads = 0: the caller's
  EXPECT_EQ(messages[1].message.errorCode, 5);
  EXPECT_EQ(messages[1].data, "none");
  const vx::VXMSG& full = messages[2].message;
  EXPECT_EQ(full.word1, 1);
  EXPECT_EQ(full.word2, 2);
  EXPECT_EQ(full.errorCode, 0);
  EXPECT_EQ(full.word4, 4);
  EXPECT_EQ(full.word5, 5);
  EXPECT_EQ(messages[2].data, R"(L1="A";L2="B";L3="C";V=6:7)");
  EXPECT_EQ(messages[3].message.errorCode, -9);
  EXPECT_EQ(messages[3].data, R"(L1=;L2="B";L3="C";V=)");
  EXPECT_NE(messages[3].thread, std::this_thread::get_id());
}

TEST_F(SimTest, FireRefusesWhatItCannotDo) {
  api->setcallback(nullptr);
  EXPECT_EQ(sim->vxsim_has_callback(VXSIM_MAIN), 0);
  EXPECT_EQ(sim->vxsim_fire(VXSIM_MAIN, 1, 1, ""), VXSIM_ERR_NO_CALLBACK);
  EXPECT_EQ(sim->vxsim_fire(4, 1, 1, ""), VXSIM_ERR_BAD_ARGUMENT);
  EXPECT_EQ(sim->vxsim_fire(VXSIM_MAIN, -1, 1, ""), VXSIM_ERR_BAD_ARGUMENT);
  EXPECT_EQ(sim->vxsim_fire(VXSIM_MAIN, 1, 1, "w9=1"), VXSIM_ERR_BAD_SCRIPT);
  EXPECT_EQ(sim->vxsim_fire(VXSIM_MAIN, 1, 1, "tagcube|L1=;L2=;L3="), VXSIM_ERR_BAD_SCRIPT);
  EXPECT_EQ(sim->vxsim_fire(VXSIM_MAIN, 1, 1, "|L1=\"A\";L2=\"B\";L3=\"C\""), VXSIM_ERR_BAD_SCRIPT);
  EXPECT_EQ(sim->vxsim_fire_inside_next("nosuch", 1, ""), VXSIM_ERR_BAD_ARGUMENT);
  EXPECT_EQ(sim->vxsim_fire_inside_next("csq", -1, ""), VXSIM_ERR_BAD_ARGUMENT);
  api->setcallback(Receiver::Callback);
  EXPECT_EQ(sim->vxsim_has_callback(VXSIM_MAIN), 1);
}

TEST_F(SimTest, CallbackResultOtherThanZeroIsAnError) {
  api->setcallback(Receiver::Callback);
  Receiver::Instance().Clear(3);
  ASSERT_EQ(sim->vxsim_fire(VXSIM_MAIN, 0, 2, ""), 0);
  EXPECT_EQ(Errors(), (std::vector<std::string>{"fire main: callback returned 3",
                                                "fire main: callback returned 3"}));
  expectedErrors = sim->vxsim_errors_joined();
}

std::atomic<bool> g_csqReturned{false};
std::atomic<int> g_insideBeforeReturn{0};

int InsideCallback(vx::VXMSG* message) {
  if (!g_csqReturned) ++g_insideBeforeReturn;
  return Receiver::Callback(message);
}

TEST_F(SimTest, FireInsideNextCallOnTheCallersThreadBeforeItReturns) {
  ASSERT_EQ(sim->vxsim_fire_inside_next("csq", 3, "tagwords"), 0);
  api->setcallback(Receiver::Callback);
  ASSERT_EQ(sim->vxsim_fire_inside_next("pdelete", 1, "w1=42"), 0);
  g_csqReturned = false;
  g_insideBeforeReturn = 0;
  int request = 0;
  vx::ResultCube* cube = nullptr;
  ASSERT_EQ(api->css("a", "b", "c", &cube), 0);  // not the function named
  api->releasedata(cube);
  EXPECT_EQ(Receiver::Instance().Count(), 0u);
  ASSERT_EQ(api->csq("a", "b", "c", InsideCallback, nullptr, &request), 0);
  g_csqReturned = true;
  EXPECT_EQ(g_insideBeforeReturn, 3);
  api->pdelete("a", "b");
  api->csq("a", "b", "c", InsideCallback, nullptr, &(request = 0));  // scripts are used up
  const std::vector<Received> messages = Receiver::Instance().Messages();
  ASSERT_EQ(messages.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(messages[static_cast<std::size_t>(i)].thread, std::this_thread::get_id());
    EXPECT_EQ(messages[static_cast<std::size_t>(i)].message.word5, i);
  }
  EXPECT_EQ(messages[3].message.word1, 42);
}

// ---- Log lines ---------------------------------------------------------------------------------

TEST_F(SimTest, LogLinesReachTheSinkFromEveryThreadInOrder) {
  api->start(nullptr, "", LogSink::Callback);
  EXPECT_EQ(sim->vxsim_has_callback(VXSIM_LOG_SINK), 1);
  ASSERT_EQ(sim->vxsim_emit_log("line %t-%d", 50, 4), 0);
  const std::vector<std::string> lines = LogSink::Instance().Take();
  ASSERT_EQ(lines.size(), 200u);
  std::map<int, int> next;  // per producer, the sequence number expected next
  for (const std::string& line : lines) {
    int thread = -1;
    int sequence = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "line %d-%d", &thread, &sequence), 2) << line;
    EXPECT_EQ(sequence, next[thread]++) << line;
  }
  EXPECT_EQ(next.size(), 4u);
  for (const auto& [thread, count] : next) EXPECT_EQ(count, 50) << thread;

  ASSERT_EQ(sim->vxsim_emit_log_raw("100%% %s %d \xD6\xD0", 2, 0), 0);
  EXPECT_EQ(LogSink::Instance().Take(),
            (std::vector<std::string>{"100%% %s %d \xD6\xD0", "100%% %s %d \xD6\xD0"}));
  EXPECT_EQ(sim->vxsim_emit_log(nullptr, 3, 1), 3);  // the sink returns 1 for null
  EXPECT_EQ(LogSink::Instance().Take(), std::vector<std::string>(3, "<null>"));

  api->start(nullptr, "", nullptr);
  EXPECT_EQ(sim->vxsim_emit_log("x", 1, 0), VXSIM_ERR_NO_CALLBACK);
}

// ---- Streams -----------------------------------------------------------------------------------

TEST_F(SimTest, StreamsPushQuotesUntilCancelledOrStopped) {
  sim->vxsim_set_streaming(1, 2);
  int request = 0;
  ASSERT_EQ(api->csq("600000.SH,600004.SH", "RT_LAST", "", Receiver::Callback, nullptr, &request),
            0);
  ASSERT_TRUE(Receiver::Instance().WaitFor(3));
  EXPECT_EQ(api->csqcancel(request), 0);
  const std::size_t afterCancel = Receiver::Instance().Count();
  std::vector<Received> messages = Receiver::Instance().Messages();
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const vx::VXMSG& message = messages[i].message;
    EXPECT_EQ(message.word1, request);
    EXPECT_EQ(message.word2, VXSIM_CSQ);
    EXPECT_EQ(message.errorCode, 0);
    EXPECT_EQ(message.word4, static_cast<int>(i));
    EXPECT_EQ(messages[i].data.rfind(R"(L1="600000.SH","600004.SH";L2="RT_LAST";L3=)", 0), 0u)
        << messages[i].data;
  }

  Receiver::Instance().Clear();
  ASSERT_EQ(api->cst("600000.SH", "RT_LAST", "", "", "", Receiver::Callback, nullptr, &request), 0);
  ASSERT_TRUE(Receiver::Instance().WaitFor(2));
  EXPECT_EQ(sim->vxsim_active_streams(), 1);
  EXPECT_EQ(api->stop(), 0);
  const std::size_t afterStop = Receiver::Instance().Count();
  EXPECT_EQ(sim->vxsim_active_streams(), 0);
  EXPECT_EQ(Receiver::Instance().Messages().front().message.word2, VXSIM_CST);
  // Both cancel and stop join the stream's thread: nothing arrives after they return.
  sim->vxsim_reset();
  EXPECT_EQ(Receiver::Instance().Count(), afterStop);
  EXPECT_GE(afterCancel, 3u);
}

// ---- Market: calendar, bars, names, quotes, news, reports, portfolios --------------------------

double Double(const vx::ResultVariant& value) {
  double number = 0;
  std::memcpy(&number, value.value, sizeof number);
  return number;
}

float Float(const vx::ResultVariant& value) {
  float number = 0;
  std::memcpy(&number, value.value, sizeof number);
  return number;
}

std::string TextOf(const vx::ResultVariant& value) {
  return value.data == nullptr ? "<null>" : static_cast<const char*>(value.data);
}

std::vector<std::string> Entries(const vx::TextList& list) {
  std::vector<std::string> texts;
  for (std::uint32_t i = 0; i < list.count; ++i) texts.push_back(Text(list, i));
  return texts;
}

// A cube's value by its positions in the three lists (the first list varies fastest).
const vx::ResultVariant& At(const vx::ResultCube* cube, std::uint32_t first, std::uint32_t second,
                            std::uint32_t third) {
  return cube->values[(third * cube->lists[1].count + second) * cube->lists[0].count + first];
}

TEST_F(SimTest, CalendarSkipsWeekendsAndFixedHolidays) {
  vx::ResultCube* cube = nullptr;
  ASSERT_EQ(api->tradedates("20240429", "20240508", "", &cube), 0);
  // May 1-3 is Labour Day, May 4-5 a weekend.
  EXPECT_EQ(Entries(cube->lists[2]),
            (std::vector<std::string>{"20240429", "20240430", "20240506", "20240507", "20240508"}));
  ASSERT_EQ(cube->lists[0].count * cube->lists[1].count, 1u);
  EXPECT_EQ(cube->values[2].type, 6);
  EXPECT_EQ(Bits(cube->values[2]) & 0xFFFFFFFF, 20240506);
  api->releasedata(cube);

  int count = 0;
  EXPECT_EQ(api->tradedatesnum("20240429", "20240508", "Days=Weekdays", &count), 0);
  EXPECT_EQ(count, 8);
  count = 0;
  EXPECT_EQ(api->tradedatesnum("20241001", "20241008", "", &count), 0);
  EXPECT_EQ(count, 1);  // National Day: October 1-7
  count = 0;
  EXPECT_EQ(api->tradedatesnum("20240510", "20240501", "", &count), 0);
  EXPECT_EQ(count, 0);  // an empty range

  for (const auto& [date, offset, expected] :
       std::vector<std::tuple<const char*, int, int>>{{"20240430", 1, 20240506},
                                                      {"20240506", -1, 20240430},
                                                      {"20240504", 0, 20240430},
                                                      {"20231229", 1, 20240102},
                                                      {"20240102", 0, 20240102}}) {
    cube = nullptr;
    ASSERT_EQ(api->getdate(date, offset, "", &cube), 0);
    EXPECT_EQ(Bits(cube->values[0]) & 0xFFFFFFFF, expected) << date << " " << offset;
    api->releasedata(cube);
  }
}

TEST_F(SimTest, DailyBarsHangTogether) {
  vx::ResultCube* cube = nullptr;
  ASSERT_EQ(
      api->csd("600000.SH,600519.SH,00700.HK", "OPEN,HIGH,LOW,CLOSE,PRECLOSE,VOLUME,AMOUNT,PCTCHG",
               "20240101", "20240628", "", &cube),
      0);
  ASSERT_EQ(cube->lists[0].count, 3u);
  ASSERT_EQ(cube->lists[1].count, 8u);
  const std::uint32_t days = cube->lists[2].count;
  ASSERT_GT(days, 100u);
  EXPECT_EQ(Text(cube->lists[2], days - 1), "20240628");
  const double referenceClose[] = {7.85, 1468.00, 368.20};
  for (std::uint32_t code = 0; code < 3; ++code) {
    SCOPED_TRACE(Text(cube->lists[0], code));
    std::set<double> closes;
    for (std::uint32_t day = 0; day < days; ++day) {
      SCOPED_TRACE(Text(cube->lists[2], day));
      ASSERT_EQ(At(cube, code, 0, day).type, 11);
      ASSERT_EQ(At(cube, code, 5, day).type, 8);
      ASSERT_EQ(At(cube, code, 7, day).type, 10);
      const double open = Double(At(cube, code, 0, day));
      const double high = Double(At(cube, code, 1, day));
      const double low = Double(At(cube, code, 2, day));
      const double close = Double(At(cube, code, 3, day));
      const double preclose = Double(At(cube, code, 4, day));
      const std::int64_t volume = Bits(At(cube, code, 5, day));
      const double amount = Double(At(cube, code, 6, day));
      const float pct = Float(At(cube, code, 7, day));
      EXPECT_GT(low, 0.0);
      EXPECT_LE(low, std::min(open, close));
      EXPECT_GE(high, std::max(open, close));
      if (day > 0) {
        EXPECT_EQ(preclose, Double(At(cube, code, 3, day - 1)));
      }
      EXPECT_NEAR(pct, (close / preclose - 1.0) * 100.0, 0.006);
      if (code < 2) {
        EXPECT_LE(std::fabs(pct), 10.01);  // the daily limit of the A-share market
      }
      EXPECT_GT(volume, 0);
      EXPECT_EQ(volume % 100, 0);
      EXPECT_GE(amount, static_cast<double>(volume) * low - 0.01);
      EXPECT_LE(amount, static_cast<double>(volume) * high + 0.01);
      closes.insert(close);
    }
    EXPECT_EQ(Double(At(cube, code, 3, days - 1)), referenceClose[code]);
    EXPECT_GT(closes.size(), days / 2);  // a walk, not a constant
  }
  api->releasedata(cube);
}

#if !defined(_WIN32)
// Runs `body` with the calling thread's LC_CTYPE switched to `name`.
template <typename Body>
void InLocale(const char* name, Body body) {
  locale_t locale = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
  ASSERT_NE(locale, static_cast<locale_t>(nullptr))
      << name << " is missing: run scripts/make-test-locales.sh";
  const locale_t previous = uselocale(locale);
  body();
  uselocale(previous);
  freelocale(locale);
}

TEST_F(SimTest, NamesComeInTheCodePageOfTheCallingThread) {
  auto names = [&] {
    vx::ResultCube* cube = nullptr;
    EXPECT_EQ(api->css("600000.SH,01299.HK,X.SH", "NAME", "", &cube), 0);
    std::vector<std::string> texts;
    for (std::uint32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(cube->values[i].type, 13);
      texts.push_back(TextOf(cube->values[i]));
    }
    api->releasedata(cube);
    return texts;
  };
  InLocale("zh_CN.GBK", [&] {
    EXPECT_EQ(names(), (std::vector<std::string>{"\xC6\xD6\xBD\xAD\xB7\xA2\xD5\xB9\xD2\xF8\xD0\xD0",
                                                 "Cr\xA8\xA6\x64it Lumi\xA8\xA8re Asia", "X.SH"}));
  });
  InLocale("en_US.CP1252", [&] {
    EXPECT_EQ(names(),
              (std::vector<std::string>{"??????", "Cr\xE9\x64it Lumi\xE8re Asia", "X.SH"}));
  });
  InLocale("C.UTF-8", [&] {
    EXPECT_EQ(names(),
              (std::vector<std::string>{
                  "\xE6\xB5\xA6\xE6\xB1\x9F\xE5\x8F\x91\xE5\xB1\x95\xE9\x93\xB6\xE8\xA1\x8C",
                  "Cr\xC3\xA9\x64it Lumi\xC3\xA8re Asia", "X.SH"}));
  });
  InLocale("C", [&] {
    EXPECT_EQ(names(), (std::vector<std::string>{"??????", "Cr?dit Lumi?re Asia", "X.SH"}));
  });
}
#endif

TEST_F(SimTest, QuotesReplayTheReferenceDayInsideItsRange) {
  vx::ResultCube* cube = nullptr;
  ASSERT_EQ(api->csd("600519.SH", "OPEN,HIGH,LOW,CLOSE,VOLUME", "20240628", "20240628", "", &cube),
            0);
  const double open = Double(cube->values[0]);
  const double high = Double(cube->values[1]);
  const double low = Double(cube->values[2]);
  const std::int64_t dayVolume = Bits(cube->values[4]);
  api->releasedata(cube);

  sim->vxsim_set_streaming(1, 1);
  int request = 0;
  ASSERT_EQ(api->csq("600519.SH", "RT_LAST,RT_HIGH,RT_LOW,RT_VOL,RT_TIME", "", Receiver::Callback,
                     nullptr, &request),
            0);
  ASSERT_TRUE(Receiver::Instance().WaitFor(40));
  EXPECT_EQ(api->csqcancel(request), 0);
  const std::vector<Received> messages = Receiver::Instance().Messages();
  std::set<std::string> lasts;
  std::string previousVolume = "0";
  std::int64_t volumeBefore = 0;
  double highBefore = 0.0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(messages[i].data);
    EXPECT_EQ(messages[i].message.word1, request);
    EXPECT_EQ(messages[i].message.word2, VXSIM_CSQ);
    EXPECT_EQ(messages[i].message.word4, static_cast<int>(i));
    // L1="600519.SH";L2=...;L3="09:30:00" then every three seconds.
    const int seconds = 9 * 3600 + 30 * 60 + 3 * static_cast<int>(i);
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    EXPECT_NE(messages[i].data.find(std::string("L3=\"") + time + "\""), std::string::npos);
    // V=11:<last>,11:<high>,11:<low>,8:<volume>,6:<time>, each as the 8 value bytes.
    const std::size_t at = messages[i].data.find(";V=");
    ASSERT_NE(at, std::string::npos);
    std::vector<std::string> values;
    std::string rest = messages[i].data.substr(at + 3);
    for (std::size_t start = 0; start <= rest.size();) {
      std::size_t end = rest.find(',', start);
      if (end == std::string::npos) end = rest.size();
      const std::string item = rest.substr(start, end - start);
      const std::size_t star = item.find('*');  // a run of equal values: "11:123*2"
      const int repeat = star == std::string::npos ? 1 : std::stoi(item.substr(star + 1));
      for (int n = 0; n < repeat; ++n) values.push_back(item.substr(0, star));
      start = end + 1;
    }
    ASSERT_EQ(values.size(), 5u);
    auto number = [](const std::string& value) {
      const std::int64_t bits = std::stoll(value.substr(value.find(':') + 1));
      double real = 0;
      std::memcpy(&real, &bits, sizeof real);
      return real;
    };
    const double last = number(values[0]);
    const double runningHigh = number(values[1]);
    const double runningLow = number(values[2]);
    const std::int64_t volume = std::stoll(values[3].substr(2));
    EXPECT_GE(last, low);
    EXPECT_LE(last, high);
    EXPECT_LE(runningLow, std::min(last, open));
    EXPECT_GE(runningHigh, std::max(last, open));
    EXPECT_GE(runningHigh, highBefore);  // a running high never falls
    EXPECT_GE(volume, volumeBefore);     // nor does the day's volume
    EXPECT_LE(volume, dayVolume);
    EXPECT_EQ(values[4], "6:" + std::to_string(seconds / 3600 * 10000 + seconds / 60 % 60 * 100 +
                                               seconds % 60));
    highBefore = runningHigh;
    volumeBefore = volume;
    lasts.insert(values[0]);
  }
  EXPECT_GT(lasts.size(), 3u);  // the price moves
}

TEST_F(SimTest, NewsStreamsHeadlinesAboutEachCodeInTurn) {
  sim->vxsim_set_streaming(1, 1);
  int request = 0;
  ASSERT_EQ(api->cnq("600000.SH,00700.HK", "", "", Receiver::Callback, nullptr, &request), 0);
  ASSERT_TRUE(Receiver::Instance().WaitFor(4));
  EXPECT_EQ(api->cnqcancel(request), 0);
  const std::vector<Received> messages = Receiver::Instance().Messages();
  for (std::size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(messages[i].data);
    EXPECT_EQ(messages[i].message.word2, VXSIM_CNQ);
    const std::string code = i % 2 == 0 ? "600000.SH" : "00700.HK";
    EXPECT_EQ(messages[i].data.rfind("L1=\"" + code + "\";L2=\"TIME\",\"TITLE\",\"SOURCE\";L3=", 0),
              0u);
    EXPECT_NE(messages[i].data.find(";V=6:"), std::string::npos);
    if (code == "00700.HK") {
      EXPECT_NE(messages[i].data.find("Lotus Digital Holdings"), std::string::npos);
    }
  }
}

TEST_F(SimTest, ReportGridsListAndRankTheUniverse) {
  vx::ResultGrid* grid = nullptr;
  ASSERT_EQ(api->ctr("", "", "", &grid), 0);
  EXPECT_EQ(grid->d1, 6);   // CODE, NAME, CLOSE, PCTCHG, VOLUME, AMOUNT
  EXPECT_EQ(grid->d2, 20);  // the whole universe
  EXPECT_EQ(TextOf(grid->values[0]), "600000.SH");
  api->releasedata(grid);

  grid = nullptr;
  ASSERT_EQ(api->ctr("TOP_GAINERS", "CODE,PCTCHG", "", &grid), 0);
  ASSERT_EQ(grid->d1, 2);
  ASSERT_EQ(grid->d2, 5);
  for (int row = 1; row < 5; ++row) {
    EXPECT_GE(Float(grid->values[2 * row - 1]), Float(grid->values[2 * row + 1]));
  }
  api->releasedata(grid);

  grid = nullptr;
  ASSERT_EQ(api->ctr("Banks", "CODE", "", &grid), 0);
  ASSERT_EQ(grid->d2, 3);
  EXPECT_EQ(TextOf(grid->values[0]) + " " + TextOf(grid->values[1]) + " " + TextOf(grid->values[2]),
            "600000.SH 600036.SH 000001.SZ");
  api->releasedata(grid);
}

TEST_F(SimTest, PortfoliosKeepTheirBooksUntilReset) {
  EXPECT_EQ(api->pcreate("P1", "Growth", 1000000, "", ""), 0);
  vx::OrderInfo orders[4];
  std::memset(orders, 0, sizeof orders);
  std::strcpy(orders[0].code, "600519.SH");  // 300 at the close of the day: 1468.00
  orders[0].volume = 300;
  orders[0].optype = 1;
  std::strcpy(orders[1].code, "000001.SZ");  // 5000 at 10.00 and a fee of 5
  orders[1].volume = 5000;
  orders[1].price = 10.0f;
  orders[1].cost = 5.0f;
  orders[1].optype = 1;
  std::strcpy(orders[2].code, "600519.SH");  // 100 sold at 1500.00
  orders[2].volume = 100;
  orders[2].price = 1500.0f;
  orders[2].optype = 2;
  std::strcpy(orders[3].code, "600036.SH");  // nothing held: not sold
  orders[3].volume = 100;
  orders[3].optype = 2;
  EXPECT_EQ(api->porder(orders, 4, "P1", "", ""), 0);

  vx::ResultCube* cube = nullptr;
  ASSERT_EQ(api->pquery("PortfolioCode=P1", &cube), 0);
  EXPECT_EQ(Entries(cube->lists[0]), (std::vector<std::string>{"000001.SZ", "600519.SH", "CASH"}));
  EXPECT_EQ(Entries(cube->lists[1]),
            (std::vector<std::string>{"NAME", "VOLUME", "COST_PRICE", "LAST", "MARKET_VALUE", "PNL",
                                      "WEIGHT"}));
  EXPECT_EQ(Entries(cube->lists[2]), std::vector<std::string>{"P1"});
  EXPECT_EQ(Double(At(cube, 0, 1, 0)), 5000.0);
  EXPECT_EQ(Double(At(cube, 1, 1, 0)), 200.0);
  EXPECT_EQ(Double(At(cube, 1, 2, 0)), 1468.0);  // average cost of what is left
  EXPECT_EQ(Double(At(cube, 2, 1, 0)), 1000000.0 - 440400.0 - 50005.0 + 150000.0);
  EXPECT_EQ(Double(At(cube, 1, 4, 0)), 200 * 1468.0);
  api->releasedata(cube);

  cube = nullptr;
  ASSERT_EQ(api->preport("P1", "TRADES", "", &cube), 0);
  EXPECT_EQ(cube->lists[0].count, 3u);  // the refused sale is not a trade
  api->releasedata(cube);

  EXPECT_EQ(api->pctransfer("P2", "in", "20240628", 2500.5, "", ""), 0);
  EXPECT_EQ(api->pctransfer("P2", "out", "20240628", 500.0, "", ""), 0);
  cube = nullptr;
  ASSERT_EQ(api->pquery("P2", &cube), 0);
  EXPECT_EQ(Entries(cube->lists[0]), std::vector<std::string>{"CASH"});
  EXPECT_EQ(Double(At(cube, 0, 1, 0)), 2000.5);
  api->releasedata(cube);

  EXPECT_EQ(api->pcreate("", "nameless", 1, "", ""), VXSIM_CODE_INVALID_ARGUMENT);
  EXPECT_STREQ(api->geterrstring(VXSIM_CODE_INVALID_ARGUMENT, 0), "invalid argument");
  EXPECT_EQ(api->pdelete("P2", ""), 0);
  sim->vxsim_set_next_code(-7);  // a scripted failure changes nothing
  EXPECT_EQ(api->pdelete("P1", ""), -7);
  cube = nullptr;
  ASSERT_EQ(api->pquery("P1", &cube), 0);
  EXPECT_EQ(cube->lists[0].count, 3u);
  api->releasedata(cube);

  sim->vxsim_reset();
  for (const char* code : {"P1", "P2"}) {
    cube = nullptr;
    ASSERT_EQ(api->pquery(code, &cube), 0);
    EXPECT_EQ(Entries(cube->lists[0]), std::vector<std::string>{"CASH"}) << code;
    EXPECT_EQ(Double(At(cube, 0, 1, 0)), 0.0) << code;
    api->releasedata(cube);
  }
}

}  // namespace
