// veltrixjni.dll as a DLL: loaded with LoadLibrary, its entry points found with
// GetProcAddress and driven through the fake JVM against the simulated service's DLL, as a
// JVM would. Two runs:
//   dll_test free <veltrixjni.dll> <service dir>
//     setJniEnv, start, a csq stream and service log lines, stop, JNI_OnUnload, FreeLibrary:
//     both DLLs are gone afterwards, every thread they started has ended, and the fake JVM
//     holds no reference and no attachment of theirs.
//   dll_test exit <veltrixjni.dll> <service dir>
//     runs itself as "exit-child", which calls ExitProcess(kExitCode) while service threads
//     are logging and a stream is pushing: the child must end, promptly, with that code
//     (the time limit only catches a hang in the DLLs' detach and static destruction).
// Prints what failed and returns 1; 0 when everything held.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <jni.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakejni/fakejni.h"
#include "vxsim.h"

namespace {

constexpr char kApiClass[] = "com/tarnwick/api/NativeAPI";
constexpr UINT kExitCode = 37;
constexpr auto kHangLimit = std::chrono::seconds(60);

int g_failures = 0;

#define CHECK(condition)                                                                 \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::fflush(stderr);                                                               \
      ++g_failures;                                                                      \
    }                                                                                    \
  } while (0)

using OnLoad = jint(JNICALL*)(JavaVM*, void*);
using OnUnload = void(JNICALL*)(JavaVM*, void*);
using SetJniEnv = void(JNICALL*)(JNIEnv*, jobject, jstring);
using Start = jint(JNICALL*)(JNIEnv*, jobject, jstring);
using Stop = jint(JNICALL*)(JNIEnv*, jobject);
using Csq = jbyteArray(JNICALL*)(JNIEnv*, jobject, jstring, jstring, jstring);

// What reached Java, counted; waits are bounded only to catch a hang.
struct JavaSide {
  std::mutex lock;
  std::condition_variable changed;
  int logLines = 0;
  int messages = 0;

  template <typename Ready>
  bool WaitFor(Ready ready) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, kHangLimit, [&] { return ready(*this); });
  }
};

JavaSide g_java;

vx::fakejni::FakeJvm& Jvm() { return vx::fakejni::FakeJvm::Shared(); }

void DefineJavaSide() {
  Jvm().DefineClass(kApiClass);
  Jvm().DefineIntMethod(kApiClass, "logAPICallBack", "([B)I",
                        [](JNIEnv*, jobject, const std::vector<jvalue>&) {
                          std::lock_guard<std::mutex> guard(g_java.lock);
                          ++g_java.logLines;
                          g_java.changed.notify_all();
                          return 0;
                        });
  Jvm().DefineIntMethod(kApiClass, "dataAPICallBack", "([BI)I",
                        [](JNIEnv*, jobject, const std::vector<jvalue>&) {
                          std::lock_guard<std::mutex> guard(g_java.lock);
                          ++g_java.messages;
                          g_java.changed.notify_all();
                          return 0;
                        });
}

// The ids of this process's threads now.
std::vector<DWORD> ThreadIds() {
  std::vector<DWORD> ids;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot, &entry); more;
       more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ids.push_back(entry.th32ThreadID);
  }
  ::CloseHandle(snapshot);
  return ids;
}

// Threads running now that were not running at `before`.
std::size_t NewThreads(const std::vector<DWORD>& before) {
  std::size_t count = 0;
  for (DWORD id : ThreadIds()) {
    bool known = false;
    for (DWORD old : before) known = known || old == id;
    count += known ? 0 : 1;
  }
  return count;
}

template <typename T>
T Find(HMODULE module, const char* name) {
  FARPROC address = ::GetProcAddress(module, name);
  if (address == nullptr) std::fprintf(stderr, "GetProcAddress(%s) failed\n", name);
  return reinterpret_cast<T>(reinterpret_cast<void*>(address));
}

struct Bridge {
  HMODULE module = nullptr;
  OnLoad onLoad = nullptr;
  OnUnload onUnload = nullptr;
  SetJniEnv setJniEnv = nullptr;
  Start start = nullptr;
  Stop stop = nullptr;
  Csq csq = nullptr;
  VxSimApi sim;
};

// LoadLibrary, GetProcAddress, then JNI_OnLoad, setJniEnv, start and a csq stream that
// has delivered a few messages. False when the run cannot go on.
bool Open(const char* dllPath, const char* serviceDir, JNIEnv* env, jobject receiver,
          Bridge& bridge) {
  bridge.module = ::LoadLibraryA(dllPath);
  CHECK(bridge.module != nullptr);
  if (bridge.module == nullptr) {
    std::fprintf(stderr, "LoadLibrary(%s): %lu\n", dllPath, ::GetLastError());
    return false;
  }
  bridge.onLoad = Find<OnLoad>(bridge.module, "JNI_OnLoad");
  bridge.onUnload = Find<OnUnload>(bridge.module, "JNI_OnUnload");
  bridge.setJniEnv = Find<SetJniEnv>(bridge.module, "Java_com_tarnwick_api_NativeAPI_setJniEnv");
  bridge.start = Find<Start>(bridge.module, "Java_com_tarnwick_api_NativeAPI_start");
  bridge.stop = Find<Stop>(bridge.module, "Java_com_tarnwick_api_NativeAPI_stop");
  bridge.csq = Find<Csq>(bridge.module, "Java_com_tarnwick_api_NativeAPI_csq");
  if (!bridge.onLoad || !bridge.onUnload || !bridge.setJniEnv || !bridge.start || !bridge.stop ||
      !bridge.csq) {
    ++g_failures;
    return false;
  }

  CHECK(bridge.onLoad(Jvm().vm(), nullptr) == JNI_VERSION_1_8);
  jstring dir = Jvm().NewJStringUtf8(serviceDir);
  bridge.setJniEnv(env, receiver, dir);
  env->DeleteLocalRef(dir);
  // The service DLL the bridge loaded, and its control functions.
  HMODULE service = ::GetModuleHandleA("VeltrixAPI_x64.dll");
  CHECK(service != nullptr);
  if (service == nullptr) return false;
  const bool loaded = bridge.sim.Load([service](const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(service, name));
  });
  CHECK(loaded);
  if (!loaded) return false;
  bridge.sim.vxsim_set_streaming(1, 10);

  jstring options = Jvm().NewJStringUtf8("");
  CHECK(bridge.start(env, receiver, options) == 0);
  jstring codes = Jvm().NewJStringUtf8("600000.SH,600519.SH");
  jstring fields = Jvm().NewJStringUtf8("RT_LAST");
  jbyteArray reply = bridge.csq(env, receiver, codes, fields, options);
  CHECK(reply != nullptr);
  for (jobject local : {static_cast<jobject>(options), static_cast<jobject>(codes),
                        static_cast<jobject>(fields), static_cast<jobject>(reply)}) {
    if (local != nullptr) env->DeleteLocalRef(local);
  }
  CHECK(g_java.WaitFor([](const JavaSide& java) { return java.messages >= 3; }));
  return true;
}

int RunFree(const char* dllPath, const char* serviceDir) {
  Jvm().Reset();
  JNIEnv* env = Jvm().AttachAsJavaThread();
  DefineJavaSide();
  jobject receiver = Jvm().NewInstance(kApiClass);
  const std::vector<DWORD> before = ThreadIds();

  Bridge bridge;
  if (Open(dllPath, serviceDir, env, receiver, bridge)) {
    // Service log lines from threads of the service's own, through the log thread.
    CHECK(bridge.sim.vxsim_emit_log("line %t.%d", 50, 2) == 0);
    CHECK(g_java.WaitFor([](const JavaSide& java) { return java.logLines >= 100; }));
    CHECK(bridge.stop(env, receiver) == 0);
    CHECK(bridge.sim.vxsim_active_streams() == 0);
    bridge.onUnload(Jvm().vm(), nullptr);
    CHECK(::GetModuleHandleA("VeltrixAPI_x64.dll") == nullptr);  // freed at unload
  }
  if (bridge.module != nullptr) CHECK(::FreeLibrary(bridge.module));
  CHECK(::GetModuleHandleA("veltrixjni.dll") == nullptr);

  // Nothing of theirs is left running: the threads end (waited for, bounded), the fake JVM
  // holds none of their attachments or references.
  const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
  while (NewThreads(before) != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  CHECK(NewThreads(before) == 0);
  CHECK(Jvm().AttachedThreadCount() == 0);
  CHECK(Jvm().LeakedThreadCount() == 0);
  CHECK(Jvm().GlobalRefCount() == 0);
  CHECK(Jvm().AttachCount() == Jvm().DetachCount());
  const auto errors = Jvm().TakeErrors();
  for (const std::string& error : errors) std::fprintf(stderr, "fake JVM: %s\n", error.c_str());
  CHECK(errors.empty());
  std::printf("free run: %d failure(s), %d log lines, %d messages\n", g_failures, g_java.logLines,
              g_java.messages);
  return g_failures == 0 ? 0 : 1;
}

// The child: everything running, then ExitProcess. Returns only when it could not get
// that far.
int RunExitChild(const char* dllPath, const char* serviceDir) {
  Jvm().Reset();
  JNIEnv* env = Jvm().AttachAsJavaThread();
  DefineJavaSide();
  jobject receiver = Jvm().NewInstance(kApiClass);
  Bridge bridge;
  if (!Open(dllPath, serviceDir, env, receiver, bridge)) return 2;
  // Three service threads logging without end; the process exits under them.
  auto emit = bridge.sim.vxsim_emit_log;
  std::thread logging([emit] { emit("busy %t.%d", 100000000, 3); });
  logging.detach();
  CHECK(g_java.WaitFor([](const JavaSide& java) { return java.logLines >= 200; }));
  if (g_failures != 0) return 3;
  std::fflush(nullptr);
  ::ExitProcess(kExitCode);
}

int RunExit(const char* dllPath, const char* serviceDir) {
  char self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  CHECK(length > 0 && length < MAX_PATH);
  std::string command =
      std::string("\"") + self + "\" exit-child \"" + dllPath + "\" \"" + serviceDir + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child{};
  if (!::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
    std::fprintf(stderr, "CreateProcess: %lu\n", ::GetLastError());
    return 1;
  }
  const DWORD limit = static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kHangLimit * 2).count());
  const DWORD waited = ::WaitForSingleObject(child.hProcess, limit);
  CHECK(waited == WAIT_OBJECT_0);
  if (waited != WAIT_OBJECT_0) {
    std::fprintf(stderr, "the child did not end after ExitProcess: killed\n");
    ::TerminateProcess(child.hProcess, 99);
    ::WaitForSingleObject(child.hProcess, INFINITE);
  }
  DWORD code = 0;
  CHECK(::GetExitCodeProcess(child.hProcess, &code));
  std::printf("exit run: the child ended with %lu\n", code);
  CHECK(code == kExitCode);
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "free") return RunFree(argv[2], argv[3]);
  if (argc == 4 && std::string(argv[1]) == "exit") return RunExit(argv[2], argv[3]);
  if (argc == 4 && std::string(argv[1]) == "exit-child") return RunExitChild(argv[2], argv[3]);
  std::fprintf(stderr, "usage: dll_test free|exit <veltrixjni.dll> <service directory>\n");
  return 2;
}
