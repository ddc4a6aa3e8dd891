#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace vx::platform {

namespace {
thread_local LoadError t_lastLoadError{0, std::string()};
}  // namespace

const char* ServiceLibrarySuffix() {
#if defined(__APPLE__)
  return "/libVeltrixAPI_x64.dylib";
#else
  return "/libVeltrixAPI_x64.so";
#endif
}

LibraryHandle OpenLibrary(const char* path, const char16_t* /*widePath*/) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    // dlopen sets no error code of its own: report why the file could not be used
    // (ENOENT, EACCES, ...) or ENOEXEC for a file that exists but would not load.
    int code = ENOEXEC;
    if (access(path, R_OK) != 0 && errno != 0) code = errno;
    t_lastLoadError = LoadError{code, reason != nullptr ? std::string(reason) : std::string()};
  }
  return handle;
}

LoadError LastLoadError() { return t_lastLoadError; }

void* FindSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  dlerror();
  void* address = dlsym(library, name);
  if (address == nullptr) return nullptr;
#if defined(__linux__)
  // dlsym on a handle also searches the library's dependencies (libc among them): accept
  // only a symbol that the library itself defines.
  struct link_map* own = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &own) != 0 || own == nullptr) return nullptr;
  Dl_info info{};
  struct link_map* definer = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&definer), RTLD_DL_LINKMAP) == 0) {
    return nullptr;
  }
  if (definer != own) return nullptr;
#endif
  return address;
}

void CloseLibrary(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace vx::platform
