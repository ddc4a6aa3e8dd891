// The bridge's only window onto the operating system. Everything above this layer is
// platform-neutral; win32/ and posix/ each implement this header in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vx::platform {

// ---- Dynamic libraries -------------------------------------------------------------

using LibraryHandle = void*;

// File name appended to the directory that Java names: "\VeltrixAPI_x64.dll" on Windows,
// "/libVeltrixAPI_x64.so" on Linux, "/libVeltrixAPI_x64.dylib" on macOS.
const char* ServiceLibrarySuffix();

// Opens a library by path. Null on failure.
// Windows: LoadLibraryExW on the path's UTF-16 form, with LOAD_WITH_ALTERED_SEARCH_PATH when
// the path is absolute, so that the DLLs the library imports are found beside it. That form
// is `widePath` (NUL-terminated) when given, which keeps the characters the ANSI code page
// lacks; otherwise `path` read in the ANSI code page.
// POSIX: dlopen(path, RTLD_NOW | RTLD_LOCAL); `widePath` is not used.
LibraryHandle OpenLibrary(const char* path, const char16_t* widePath = nullptr);

// After a failed OpenLibrary on the same thread: a non-zero code (GetLastError on
// Windows; a stable code derived from errno or the loader's message on POSIX) and the
// loader's own text ("" where the platform gives none).
struct LoadError {
  int code;
  std::string text;
};
LoadError LastLoadError();

// The address of `name` exported by the library itself, or null. On POSIX a symbol that
// the library merely inherits from one of its dependencies does not count.
void* FindSymbol(LibraryHandle library, const char* name);

void CloseLibrary(LibraryHandle library);

// ---- Code pages ----------------------------------------------------------------------

// The process's narrow ("ANSI") code page, or UTF-8.
enum class CodePage { Ansi, Utf8 };

// MultiByteToWideChar with flags 0: converts `length` bytes (no terminator implied).
// With capacity 0 it measures: returns the UTF-16 units the text needs. Otherwise writes
// at most `capacity` units and returns the number written, or 0 when they do not fit.
// Invalid input bytes become U+FFFD; in a double-byte ANSI code page, a lead byte without
// a valid trail becomes the code page's default character ('?'; U+30FB in 932) together
// with that trail byte (a NUL trail stays), as Windows' tables make it.
int MultiByteToWide(CodePage page, const char* text, int length, char16_t* out, int capacity);

// WideCharToMultiByte with no default character: as above in the other direction.
// Characters the code page cannot represent become its default character '?', each on its
// own: no "best fit" look-alike (WC_NO_BEST_FIT_CHARS into an ANSI code page that is not
// UTF-8; flags 0 otherwise).
int WideToMultiByte(CodePage page, const char16_t* text, int length, char* out, int capacity);

// True when the narrow code page is UTF-8 itself (conversions between the two are then
// the identity on valid text).
bool AnsiIsUtf8();

// ANSI text straight to UTF-8 in one step, with the bytes of MultiByteToWide into UTF-16
// followed by WideToMultiByte to UTF-8, up to the first U+0000 (a text without NUL bytes
// decodes to none in any code page known). `convert` takes `length` bytes, none of them NUL,
// and converts any text of 1 to kAnsiToUtf8RouteBytes bytes without allocating: with
// capacity 0 it measures, otherwise it writes at most `capacity` bytes into `out`. It
// returns the size, 0 when the bytes do not fit, or -1 when the code page needs more room
// than the route has on the stack (none known does, but a longer text may): the caller
// then converts through memory of its own. `state` is handed back to it.
struct AnsiToUtf8Route {
  int (*convert)(const void* state, const char* text, int length, char* out, int capacity);
  const void* state;
};
constexpr int kAnsiToUtf8RouteBytes = 512;

// The route for the calling thread's ANSI code page as it is now; `convert` is never null.
// Windows: MultiByteToWideChar and WideCharToMultiByte through UTF-16 on the stack. POSIX:
// the double-byte codesets by table in one loop, the others through UTF-16 on the stack.
// A route stays callable for the life of the process, but a table route keeps converting
// from the codeset it was fetched for after the locale changes.
AnsiToUtf8Route AnsiToUtf8RouteForThread();

// For one scope, keeps changes that the calling thread makes to the C runtime's locale
// (setlocale) from reaching other threads. MinGW's libstdc++ reads every double by
// switching the whole process's C locale to "C" and back, so two threads doing it at once
// can leave the wrong locale behind, and any other thread sees "C" meanwhile. On Windows
// the scope turns on the runtime's per-thread locale (_configthreadlocale); where the
// runtime has none (msvcrt.dll before Vista, and Wine's), scopes exclude one another
// instead, so that at least their own switches cannot interleave and the locale left
// behind is the one before; other threads can still see "C" while a scope reads a double.
// Only that fallback runs in this project's tests (under Wine); the per-thread path is
// built for Windows but has not run here. On POSIX, libstdc++ reads numbers without
// touching the locale, and the scope does nothing.
class ThreadLocaleScope {
 public:
  ThreadLocaleScope();
  ~ThreadLocaleScope();
  ThreadLocaleScope(const ThreadLocaleScope&) = delete;
  ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;

  // True when changes stay on this thread (Windows with per-thread locales).
  static bool PerThread();

 private:
  int m_previous;
  bool m_locked;
};

// ---- Local time ----------------------------------------------------------------------

struct LocalTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};
LocalTime GetLocalTime();

// ---- Synchronisation -----------------------------------------------------------------

// A Windows mutex: Lock blocks without a time limit.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();
  bool Valid() const;

 private:
  friend class AutoResetEvent;
  void* m_impl;
};

// Holds a Mutex for one scope.
class ScopedLock {
 public:
  explicit ScopedLock(Mutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
  ~ScopedLock() { m_mutex.Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Mutex& m_mutex;
};

// A Windows auto-reset event, created not signalled: Set wakes at most one waiter, and a
// Set with nobody waiting stays set until the next wait consumes it.
class AutoResetEvent {
 public:
  AutoResetEvent();
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;
  void Set();
  void Wait();
  // Waits at most about `microseconds` (Windows rounds up to whole milliseconds and to its
  // timer's tick) and consumes the signal if there was one; true when signalled.
  bool TimedWait(std::uint32_t microseconds);
  bool Valid() const;

  // SignalObjectAndWait(mutex, event): releases `held` (which the caller owns) and starts
  // waiting on this event in one step, so no Set can fall between the two. Returns with
  // `held` released; the caller locks it again.
  void UnlockAndWait(Mutex& held);

 private:
  void* m_impl;
};

// A critical section: recursive, process-local.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  void* m_impl;
};

// ---- Threads -------------------------------------------------------------------------

using ThreadHandle = void*;
using ThreadEntry = unsigned (*)(void* argument);

// Creates a thread that will run entry(argument), suspended: it runs once ResumeThread is
// called. Returns null on failure.
ThreadHandle CreateThread(ThreadEntry entry, void* argument, std::uint32_t* threadId);
void ResumeThread(ThreadHandle thread);
// Waits without a time limit for the thread to end.
void WaitThread(ThreadHandle thread);
// Releases the handle; a thread not waited for is detached.
void CloseThread(ThreadHandle thread);

// ---- Thread-exit hook ----------------------------------------------------------------

// One process-wide hook that runs a function on a thread as that thread ends, for every
// thread that asked for it: a pthread key destructor on POSIX, a fiber-local storage
// callback (FlsAlloc) on Windows. The function runs on the ending thread itself, after its
// own code has returned, and at most once per request. It receives the value the thread
// stored with its request.
using ThreadExitFunction = void (*)(void* value);

// Registers `onExit`; false when the system refuses (no key or FLS index left). While a
// hook is registered, a second call changes nothing and returns true.
bool InstallThreadExitHook(ThreadExitFunction onExit);
// Asks for `onExit(value)` when the calling thread ends; `value` must not be null. False
// when no hook is registered or the request cannot be stored. Asking again replaces the
// value.
bool RunAtThreadExit(void* value);
// Unregisters the hook: once it returns, no thread exit calls `onExit` any more, whatever
// the threads asked for before (on Windows, freeing the FLS index hands every stored value
// to the callback on the freeing thread; those calls are recognised and ignored). A thread
// already inside `onExit` may still be finishing it.
void RemoveThreadExitHook();

}  // namespace vx::platform
