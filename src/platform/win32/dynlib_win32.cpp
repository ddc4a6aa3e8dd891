// Dynamic libraries on Windows: LoadLibraryA, GetProcAddress, FreeLibrary, GetLastError.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/platform.h"

namespace vx::platform {

namespace {
// GetLastError as it stood right after this thread's last failed load: the caller queues
// a log line (allocating, locking) before it asks, and any of that may reset the code.
thread_local DWORD t_lastLoadError = 0;
}  // namespace

const char* ServiceLibrarySuffix() { return "\\VeltrixAPI_x64.dll"; }

LibraryHandle OpenLibrary(const char* path) {
  HMODULE module = ::LoadLibraryA(path);
  if (module == nullptr) t_lastLoadError = ::GetLastError();
  return module;
}

// Windows gives a code and no text: the log line shows the code alone.
LoadError LastLoadError() { return LoadError{static_cast<int>(t_lastLoadError), std::string()}; }

void* FindSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  FARPROC address = ::GetProcAddress(static_cast<HMODULE>(library), name);
  return reinterpret_cast<void*>(address);
}

void CloseLibrary(LibraryHandle library) {
  if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace vx::platform
