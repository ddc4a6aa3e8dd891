// Code pages on Windows: MultiByteToWideChar and WideCharToMultiByte with CP_ACP or
// CP_UTF8, and (one way) no default character and no used-default flag.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <clocale>
#include <mutex>

#include "platform/ansi_to_utf8_stack.h"
#include "platform/platform.h"

namespace vx::platform {

// UTF-16 units are wchar_t to Windows and char16_t to the rest of the bridge: the same
// 16-bit units, so buffers pass through unchanged.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be a UTF-16 unit on Windows");

namespace {
UINT Win32CodePage(CodePage page) { return page == CodePage::Utf8 ? CP_UTF8 : CP_ACP; }
}  // namespace

// Windows documents -1 (up to and including the terminator) and positive lengths; other
// negative lengths are refused here rather than left to the system's undocumented handling.
int MultiByteToWide(CodePage page, const char* text, int length, char16_t* out, int capacity) {
  if (length < -1) return 0;
  return ::MultiByteToWideChar(Win32CodePage(page), 0, text, length,
                               reinterpret_cast<wchar_t*>(out), capacity);
}

// Into the ANSI code page without "best fit": with flags 0 Windows maps many characters the
// code page lacks to look-alikes (U+FF02 to '"', U+221E to '8', U+010B to 'c'), which can
// give text new structure (a quote in a JSON string) or name another file. With
// WC_NO_BEST_FIT_CHARS each becomes the default character '?'. Windows refuses the flag
// for CP_UTF8, which represents every character anyway.
int WideToMultiByte(CodePage page, const char16_t* text, int length, char* out, int capacity) {
  if (length < -1) return 0;
  const UINT codePage = Win32CodePage(page);
  const DWORD flags =
      (codePage == CP_ACP && ::GetACP() != CP_UTF8) ? DWORD{WC_NO_BEST_FIT_CHARS} : DWORD{0};
  return ::WideCharToMultiByte(codePage, flags, reinterpret_cast<const wchar_t*>(text), length, out,
                               capacity, nullptr, nullptr);
}

bool AnsiIsUtf8() { return ::GetACP() == CP_UTF8; }

// MultiByteToWideChar and WideCharToMultiByte are the system's own, table-driven and quick:
// the two steps through UTF-16 on the stack are the route of every code page.
AnsiToUtf8Route AnsiToUtf8RouteForThread() {
  return AnsiToUtf8Route{AnsiToUtf8ThroughUtf16, nullptr};
}

namespace {

using ConfigThreadLocaleFn = int(__cdecl*)(int);

// The runtime's _configthreadlocale, or null. MinGW's msvcrt import library links a stub
// that always refuses per-thread locales, so there the system's msvcrt.dll is asked for
// the real function (which Windows has from Vista on).
ConfigThreadLocaleFn FindConfigThreadLocale() {
#if defined(_MSC_VER) || defined(_UCRT)
  return &::_configthreadlocale;
#else
  const HMODULE crt = ::GetModuleHandleW(L"msvcrt.dll");
  if (crt == nullptr) return nullptr;
  return reinterpret_cast<ConfigThreadLocaleFn>(
      reinterpret_cast<void*>(::GetProcAddress(crt, "_configthreadlocale")));
#endif
}

ConfigThreadLocaleFn ConfigThreadLocale() {
  static const ConfigThreadLocaleFn function = FindConfigThreadLocale();
  return function;
}

// Held by the scopes of a runtime without per-thread locales.
std::mutex g_localeSwitches;

}  // namespace

ThreadLocaleScope::ThreadLocaleScope() : m_previous(-1), m_locked(false) {
  const ConfigThreadLocaleFn configure = ConfigThreadLocale();
  if (configure != nullptr) m_previous = configure(_ENABLE_PER_THREAD_LOCALE);
  if (m_previous == -1) {
    g_localeSwitches.lock();
    m_locked = true;
  }
}

ThreadLocaleScope::~ThreadLocaleScope() {
  if (m_locked) {
    g_localeSwitches.unlock();
  } else if (m_previous == _DISABLE_PER_THREAD_LOCALE) {
    ConfigThreadLocale()(_DISABLE_PER_THREAD_LOCALE);
  }
}

bool ThreadLocaleScope::PerThread() {
  const ConfigThreadLocaleFn configure = ConfigThreadLocale();
  if (configure == nullptr) return false;
  const int previous = configure(_ENABLE_PER_THREAD_LOCALE);
  if (previous == _DISABLE_PER_THREAD_LOCALE) configure(_DISABLE_PER_THREAD_LOCALE);
  return previous != -1;
}

}  // namespace vx::platform
