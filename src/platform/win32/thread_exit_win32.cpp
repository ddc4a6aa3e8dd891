// The thread-exit hook on Windows: one fiber-local storage index whose callback runs the
// hook's function when a thread ends (FlsAlloc; DllMain is not involved), and one
// thread-local storage index that holds each thread's value for it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace vx::platform {

namespace {

// Guards the index's life: a request never lands on an index that was freed (and perhaps
// handed to someone else since).
SRWLOCK g_hookLock = SRWLOCK_INIT;
DWORD g_index = FLS_OUT_OF_INDEXES;
// Thread-local, not fiber-local: the value belongs to the thread, whichever fiber asked.
// TLS slots live in the thread's own block, which is still there while its FLS callbacks
// run at its exit.
std::atomic<DWORD> g_valueIndex{TLS_OUT_OF_INDEXES};
std::atomic<ThreadExitFunction> g_onExit{nullptr};

// A thread stores its own id. The callback also runs when FlsFree drops the values of
// every thread (on the freeing thread) and when a fiber is deleted (on the deleting
// thread): only a value stored by the thread that runs the callback means "this thread
// is ending". Thread ids are never 0, so the value is never null.
void* RequestValue() {
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(::GetCurrentThreadId()));
}

void NTAPI AtThreadExit(void* request) {
  if (request != RequestValue()) return;
  const ThreadExitFunction onExit = g_onExit.load(std::memory_order_acquire);
  if (onExit == nullptr) return;
  void* const value = ::TlsGetValue(g_valueIndex.load(std::memory_order_acquire));
  if (value != nullptr) onExit(value);
}

class ExclusiveHold {
 public:
  ExclusiveHold() { ::AcquireSRWLockExclusive(&g_hookLock); }
  ~ExclusiveHold() { ::ReleaseSRWLockExclusive(&g_hookLock); }
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;
};

}  // namespace

bool InstallThreadExitHook(ThreadExitFunction onExit) {
  ExclusiveHold hold;
  if (g_index != FLS_OUT_OF_INDEXES) return true;
  const DWORD valueIndex = ::TlsAlloc();
  if (valueIndex == TLS_OUT_OF_INDEXES) return false;
  const DWORD index = ::FlsAlloc(&AtThreadExit);
  if (index == FLS_OUT_OF_INDEXES) {
    ::TlsFree(valueIndex);
    return false;
  }
  g_valueIndex.store(valueIndex, std::memory_order_release);
  g_onExit.store(onExit, std::memory_order_release);
  g_index = index;
  return true;
}

bool RunAtThreadExit(void* value) {
  if (value == nullptr) return false;
  ExclusiveHold hold;
  return g_index != FLS_OUT_OF_INDEXES &&
         ::TlsSetValue(g_valueIndex.load(std::memory_order_relaxed), value) != FALSE &&
         ::FlsSetValue(g_index, RequestValue()) != FALSE;
}

void RemoveThreadExitHook() {
  ExclusiveHold hold;
  if (g_index == FLS_OUT_OF_INDEXES) return;
  // FlsFree calls the callback for every value still stored, on this thread: with the
  // function cleared first, each of those calls does nothing, whatever thread it names.
  g_onExit.store(nullptr, std::memory_order_release);
  ::FlsFree(g_index);
  g_index = FLS_OUT_OF_INDEXES;
  ::TlsFree(g_valueIndex.exchange(TLS_OUT_OF_INDEXES, std::memory_order_acq_rel));
}

}  // namespace vx::platform
