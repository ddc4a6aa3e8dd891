// Local time, synchronisation and threads on Windows: GetLocalTime, mutex and auto-reset
// event objects, SignalObjectAndWait, critical sections and _beginthreadex.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <process.h>

#include <cstdint>
#include <new>

#include "platform/platform.h"

namespace vx::platform {

LocalTime GetLocalTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

// ---- Mutex, auto-reset event, critical section --------------------------------------

Mutex::Mutex() : m_impl(::CreateMutexW(nullptr, FALSE, nullptr)) {}
Mutex::~Mutex() {
  if (m_impl != nullptr) ::CloseHandle(m_impl);
}
void Mutex::Lock() { ::WaitForSingleObject(m_impl, INFINITE); }
void Mutex::Unlock() { ::ReleaseMutex(m_impl); }
bool Mutex::Valid() const { return m_impl != nullptr; }

AutoResetEvent::AutoResetEvent() : m_impl(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
AutoResetEvent::~AutoResetEvent() {
  if (m_impl != nullptr) ::CloseHandle(m_impl);
}
void AutoResetEvent::Set() { ::SetEvent(m_impl); }
void AutoResetEvent::Wait() { ::WaitForSingleObject(m_impl, INFINITE); }
bool AutoResetEvent::TimedWait(std::uint32_t microseconds) {
  const DWORD milliseconds = static_cast<DWORD>((std::uint64_t{microseconds} + 999) / 1000);
  return ::WaitForSingleObject(m_impl, milliseconds) == WAIT_OBJECT_0;
}
bool AutoResetEvent::Valid() const { return m_impl != nullptr; }

void AutoResetEvent::UnlockAndWait(Mutex& held) {
  ::SignalObjectAndWait(held.m_impl, m_impl, INFINITE, FALSE);
}

namespace {
CRITICAL_SECTION* AsSection(void* impl) { return static_cast<CRITICAL_SECTION*>(impl); }
}  // namespace

CriticalSection::CriticalSection() : m_impl(new (std::nothrow) CRITICAL_SECTION) {
  if (m_impl != nullptr) ::InitializeCriticalSection(AsSection(m_impl));
}
CriticalSection::~CriticalSection() {
  if (m_impl == nullptr) return;
  ::DeleteCriticalSection(AsSection(m_impl));
  delete AsSection(m_impl);
}
void CriticalSection::Enter() { ::EnterCriticalSection(AsSection(m_impl)); }
void CriticalSection::Leave() { ::LeaveCriticalSection(AsSection(m_impl)); }

// ---- Threads ---------------------------------------------------------------------------

// _beginthreadex wants an __stdcall entry; on x64 there is one calling convention, so the
// bridge's entry type is that type.
ThreadHandle CreateThread(ThreadEntry entry, void* argument, std::uint32_t* threadId) {
  unsigned id = 0;
  const std::uintptr_t thread =
      ::_beginthreadex(nullptr, 0, entry, argument, CREATE_SUSPENDED, &id);
  if (thread == 0) return nullptr;
  if (threadId != nullptr) *threadId = id;
  return reinterpret_cast<HANDLE>(thread);
}

void ResumeThread(ThreadHandle thread) { ::ResumeThread(static_cast<HANDLE>(thread)); }

void WaitThread(ThreadHandle thread) {
  ::WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
}

void CloseThread(ThreadHandle thread) { ::CloseHandle(static_cast<HANDLE>(thread)); }

}  // namespace vx::platform
