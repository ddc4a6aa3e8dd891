// Dynamic libraries on Windows: LoadLibraryExW, GetProcAddress, FreeLibrary, GetLastError.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <new>
#include <string>

#include "platform/platform.h"

namespace vx::platform {

namespace {
// GetLastError as it stood right after this thread's last failed load: the caller queues
// a log line (allocating, locking) before it asks, and any of that may reset the code.
thread_local DWORD t_lastLoadError = 0;
}  // namespace

const char* ServiceLibrarySuffix() { return "\\VeltrixAPI_x64.dll"; }

namespace {
// "C:\...", "\\server\..." or "\..." (either separator): a path that names its folder
// without the current directory, the kind LOAD_WITH_ALTERED_SEARCH_PATH is defined for.
bool IsAbsolute(const wchar_t* path) {
  const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  if (separator(path[0])) return true;
  const bool letter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
  return letter && path[1] == L':' && separator(path[2]);
}
}  // namespace

LibraryHandle OpenLibrary(const char* path, const char16_t* widePath) {
  std::wstring converted;
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(widePath);
  if (wide == nullptr) {
    const int units = ::MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (units <= 0) {
      t_lastLoadError = ::GetLastError();
      return nullptr;
    }
    try {
      converted.resize(static_cast<std::size_t>(units));
    } catch (const std::bad_alloc&) {
      t_lastLoadError = ERROR_NOT_ENOUGH_MEMORY;
      return nullptr;
    }
    ::MultiByteToWideChar(CP_ACP, 0, path, -1, &converted[0], units);
    wide = converted.c_str();
  }
  const DWORD flags = IsAbsolute(wide) ? DWORD{LOAD_WITH_ALTERED_SEARCH_PATH} : DWORD{0};
  HMODULE module = ::LoadLibraryExW(wide, nullptr, flags);
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
