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
// The UTF-16 path of the library in `wideDirectory`; "" when there is none, or when it would
// end early at a U+0000 (the ANSI path serves then).
std::u16string WidePath(const std::u16string* wideDirectory) {
  std::u16string path;
  if (wideDirectory == nullptr || wideDirectory->empty() ||
      wideDirectory->find(u'\0') != std::u16string::npos) {
    return path;
  }
  path = *wideDirectory;
  for (const char* suffix = platform::ServiceLibrarySuffix(); *suffix != '\0'; ++suffix)
    path.push_back(static_cast<char16_t>(*suffix));  // ASCII
  return path;
}

// Two Java threads in their first setJniEnv at once must load the library once: the load
// and the resolution happen under this lock.
std::mutex g_loadLock;
std::atomic<std::uint64_t> g_loadCount{0};
}  // namespace

bool LoadServiceLibrary(const std::string& directory, const std::u16string* wideDirectory) {
  logline::DirIs(directory.c_str());
  // Nothing is trimmed or validated: the name is appended as it stands.
  const std::string path = directory + platform::ServiceLibrarySuffix();
  if (g_hServiceLib.load(std::memory_order_acquire) != nullptr) return true;

  std::lock_guard<std::mutex> guard(g_loadLock);
  if (g_hServiceLib.load(std::memory_order_acquire) != nullptr) return true;
  g_loadCount.fetch_add(1, std::memory_order_relaxed);
  const std::u16string widePath = WidePath(wideDirectory);
  platform::LibraryHandle library =
      platform::OpenLibrary(path.c_str(), widePath.empty() ? nullptr : widePath.c_str());
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
