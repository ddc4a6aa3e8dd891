// Loading the service library on Windows: a library that imports DLLs shipped beside it,
// and a directory whose name the ANSI code page cannot hold.
#include <gtest/gtest.h>

#if defined(_WIN32)

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bridge/loader.h"
#include "bridge/state.h"
#include "ctype_locale.h"
#include "fakejni/fakejni.h"
#include "platform/platform.h"
#include "sim_session.h"
#include "text/text.h"

extern "C" {
JNIEXPORT void JNICALL JNI_OnUnload(JavaVM* vm, void* reserved);
JNIEXPORT void JNICALL Java_com_tarnwick_api_NativeAPI_setJniEnv(JNIEnv* env, jobject self,
                                                                 jstring dir);
}

namespace vxtest {
namespace {

namespace fs = std::filesystem;
constexpr char kApiClass[] = "com/tarnwick/api/NativeAPI";

class ServiceDll : public vx::fakejni::FakeJniTest {
 protected:
  void SetUp() override {
    FakeJniTest::SetUp();
    vx::FreeServiceLibrary();
    vx::testing::ResetBridgeState();
    jvm().DefineClass(kApiClass);
    for (const char* name : {"logAPICallBack", "dataAPICallBack"}) {
      const char* signature = name[0] == 'l' ? "([B)I" : "([BI)I";
      jvm().DefineIntMethod(kApiClass, name, signature,
                            [](JNIEnv*, jobject, const std::vector<jvalue>&) { return 0; });
    }
    m_receiver = jvm().NewInstance(kApiClass);
  }

  void TearDown() override {
    JNI_OnUnload(jvm().vm(), nullptr);  // frees the service library
    EXPECT_EQ(vx::g_hServiceLib, nullptr);
    std::error_code ignored;
    if (!m_scratch.empty()) fs::remove_all(m_scratch, ignored);
    TakeLogLines();
    FakeJniTest::TearDown();
  }

  jobject m_receiver = nullptr;
  fs::path m_scratch;
};

TEST_F(ServiceDll, LibraryFindsTheDllsBesideIt) {
  const std::u16string directory = fs::path(VX_SIM_DIR_WITH_DEPENDENCY).u16string();
  const std::u16string path = directory + u"\\VeltrixAPI_x64.dll";
  ASSERT_TRUE(fs::exists(fs::path(directory) / "vxsim_dependency.dll"));
  // The standard search does not look in the library's folder: this is what a plain
  // LoadLibrary of the path gives.
  HMODULE plain = ::LoadLibraryExW(reinterpret_cast<const wchar_t*>(path.c_str()), nullptr, 0);
  EXPECT_EQ(plain, nullptr);
  if (plain == nullptr) {
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  } else {
    ::FreeLibrary(plain);
  }

  vx::fakejni::AsNative (&Java_com_tarnwick_api_NativeAPI_setJniEnv)(env(), m_receiver,
                                                                     jvm().NewJString(directory));
  ASSERT_NE(vx::g_hServiceLib, nullptr);
  using Check = int (*)();
  auto check = reinterpret_cast<Check>(
      vx::platform::FindSymbol(vx::g_hServiceLib, "vxsim_dependency_check"));
  ASSERT_NE(check, nullptr);
  EXPECT_EQ(check(), 4711);
  EXPECT_NE(vx::platform::FindSymbol(vx::g_hServiceLib, "setserverlistdir"), nullptr);
}

// The library loads from the directory Java named; the service and the "dir is" line get
// its ANSI form, with '?' for what the code page lacks.
TEST_F(ServiceDll, DirectoryOutsideTheAnsiCodePageLoads) {
  // U+0E01 is in neither 1252 nor 936, U+4E2D not in 1252, U+00E9 not in 936.
  m_scratch = fs::temp_directory_path() /
              fs::path(u"vx_dll_\u0E01\u4E2D\u00E9_" +
                       fs::path(std::to_string(::GetCurrentProcessId())).u16string());
  std::error_code error;
  fs::remove_all(m_scratch, error);
  if (!fs::create_directories(m_scratch, error) && ::GetACP() != 1252) {
    // Wine stores such a name through the host's locale, LC_ALL: one not installed on the
    // host (zh_CN.UTF-8, hi_IN.UTF-8 give this run its code page) holds ASCII names only.
    // The 1252 run (en_US.UTF-8) always has it.
    GTEST_SKIP() << "the file system takes no such name here: " << error.message();
  }
  ASSERT_TRUE(fs::is_directory(m_scratch)) << error.message();
  fs::copy_file(fs::path(VX_SIM_DIR_DEFAULT) / "VeltrixAPI_x64.dll",
                m_scratch / "VeltrixAPI_x64.dll", error);
  ASSERT_FALSE(error) << error.message();

  const std::u16string directory = m_scratch.u16string();
  jstring javaDirectory = jvm().NewJString(directory);
  const std::string ansi = vx::JStringToNative(env(), javaDirectory);
  if (!vx::platform::AnsiIsUtf8()) {
    ASSERT_NE(ansi.find('?'), std::string::npos) << "the name fits the code page after all";
    // The ANSI form names no such directory.
    EXPECT_EQ(vx::platform::OpenLibrary((ansi + "\\VeltrixAPI_x64.dll").c_str()), nullptr);
  }

  vx::fakejni::AsNative (&Java_com_tarnwick_api_NativeAPI_setJniEnv)(env(), m_receiver,
                                                                     javaDirectory);
  ASSERT_NE(vx::g_hServiceLib, nullptr);
  VxSimApi sim;
  ASSERT_TRUE(
      sim.Load([](const char* name) { return vx::platform::FindSymbol(vx::g_hServiceLib, name); }));
  const auto calls = SimCalls(sim);
  ASSERT_FALSE(calls.empty());
  // setserverlistdir|<the ANSI bytes, escaped by the simulated service>
  std::string expected = "setserverlistdir|";
  for (const char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '|') {
      expected += c;
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      expected += "\\x";
      expected += kHex[byte >> 4];
      expected += kHex[byte & 0xF];
    }
  }
  EXPECT_EQ(calls[0], expected);
}

}  // namespace
}  // namespace vxtest

#endif  // _WIN32
