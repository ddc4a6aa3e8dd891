#include "bridge/loader.h"

#include <atomic>
#include <cstdint>
#include <mutex>

#include "bridge/function_table.h"
#include "bridge/state.h"
#include "log/log_lines.h"
#include "platform/platform.h"

namespace vx {

namespace {
// Two Java threads in their first setJniEnv at once must load the library once: the load
// and the resolution happen under this lock.
std::mutex g_loadLock;
std::atomic<std::uint64_t> g_loadCount{0};
}  // namespace

bool LoadServiceLibrary(const std::string& directory) {
  logline::DirIs(directory.c_str());
  // Nothing is trimmed or validated: the name is appended as it stands.
  const std::string path = directory + platform::ServiceLibrarySuffix();
  if (g_hServiceLib.load(std::memory_order_acquire) != nullptr) return true;

  std::lock_guard<std::mutex> guard(g_loadLock);
  if (g_hServiceLib.load(std::memory_order_acquire) != nullptr) return true;
  g_loadCount.fetch_add(1, std::memory_order_relaxed);
  platform::LibraryHandle library = platform::OpenLibrary(path.c_str());
  if (library == nullptr) {
    const platform::LoadError error = platform::LastLoadError();
    logline::LoadLibraryFail(error.code, error.text.c_str());
    return false;
  }
  // The table before the handle: whoever finds the handle set finds the entries resolved.
  ResolveFunctionTable(library);
  g_hServiceLib.store(library, std::memory_order_release);
  return true;
}

void FreeServiceLibrary() {
  std::lock_guard<std::mutex> guard(g_loadLock);
  platform::LibraryHandle library = g_hServiceLib.exchange(nullptr);
  if (library != nullptr) platform::CloseLibrary(library);
}

namespace testing {
std::uint64_t LibraryLoadCount() { return g_loadCount.load(std::memory_order_relaxed); }
}  // namespace testing

}  // namespace vx
