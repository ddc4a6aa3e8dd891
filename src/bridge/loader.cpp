#include "bridge/loader.h"

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
}  // namespace

bool LoadServiceLibrary(const std::string& directory, const std::u16string* wideDirectory) {
  logline::DirIs(directory.c_str());
  // Nothing is trimmed or validated: the name is appended as it stands.
  const std::string path = directory + platform::ServiceLibrarySuffix();
  if (g_hServiceLib != nullptr) return true;

  const std::u16string widePath = WidePath(wideDirectory);
  platform::LibraryHandle library =
      platform::OpenLibrary(path.c_str(), widePath.empty() ? nullptr : widePath.c_str());
  if (library == nullptr) {
    const platform::LoadError error = platform::LastLoadError();
    logline::LoadLibraryFail(error.code, error.text.c_str());
    return false;
  }
  g_hServiceLib = library;
  ResolveFunctionTable(library);
  return true;
}

void FreeServiceLibrary() {
  if (g_hServiceLib == nullptr) return;
  platform::CloseLibrary(g_hServiceLib);
  g_hServiceLib = nullptr;
}

}  // namespace vx
