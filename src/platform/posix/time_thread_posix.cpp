#include <chrono>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/platform.h"

namespace vx::platform {

LocalTime GetLocalTime() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

// ---- Mutex, auto-reset event, critical section --------------------------------------

namespace {
struct EventState {
  std::mutex lock;
  std::condition_variable wake;
  bool signalled = false;
};

std::mutex& AsMutex(void* impl) { return *static_cast<std::mutex*>(impl); }
EventState& AsEvent(void* impl) { return *static_cast<EventState*>(impl); }
std::recursive_mutex& AsSection(void* impl) { return *static_cast<std::recursive_mutex*>(impl); }
}  // namespace

Mutex::Mutex() : m_impl(new (std::nothrow) std::mutex) {}
Mutex::~Mutex() { delete static_cast<std::mutex*>(m_impl); }
void Mutex::Lock() { AsMutex(m_impl).lock(); }
void Mutex::Unlock() { AsMutex(m_impl).unlock(); }
bool Mutex::Valid() const { return m_impl != nullptr; }

AutoResetEvent::AutoResetEvent() : m_impl(new (std::nothrow) EventState) {}
AutoResetEvent::~AutoResetEvent() { delete static_cast<EventState*>(m_impl); }
bool AutoResetEvent::Valid() const { return m_impl != nullptr; }

void AutoResetEvent::Set() {
  EventState& event = AsEvent(m_impl);
  std::lock_guard<std::mutex> guard(event.lock);
  event.signalled = true;
  event.wake.notify_one();
}

void AutoResetEvent::Wait() {
  EventState& event = AsEvent(m_impl);
  std::unique_lock<std::mutex> guard(event.lock);
  event.wake.wait(guard, [&event] { return event.signalled; });
  event.signalled = false;
}

bool AutoResetEvent::TimedWait(std::uint32_t microseconds) {
  EventState& event = AsEvent(m_impl);
  std::unique_lock<std::mutex> guard(event.lock);
  const bool signalled = event.wake.wait_for(guard, std::chrono::microseconds(microseconds),
                                             [&event] { return event.signalled; });
  event.signalled = false;
  return signalled;
}

void AutoResetEvent::UnlockAndWait(Mutex& held) {
  EventState& event = AsEvent(m_impl);
  // Taking the event's own lock before releasing `held` closes the gap: a Set issued by a
  // thread that acquires `held` after us must wait for our wait to begin.
  std::unique_lock<std::mutex> guard(event.lock);
  held.Unlock();
  event.wake.wait(guard, [&event] { return event.signalled; });
  event.signalled = false;
}

CriticalSection::CriticalSection() : m_impl(new (std::nothrow) std::recursive_mutex) {}
CriticalSection::~CriticalSection() { delete static_cast<std::recursive_mutex*>(m_impl); }
void CriticalSection::Enter() { AsSection(m_impl).lock(); }
void CriticalSection::Leave() { AsSection(m_impl).unlock(); }

// ---- Threads ---------------------------------------------------------------------------

namespace {
struct StartGate {
  std::mutex lock;
  std::condition_variable wake;
  bool resumed = false;
};

struct PosixThread {
  std::thread thread;
  std::shared_ptr<StartGate> gate;
};
}  // namespace

ThreadHandle CreateThread(ThreadEntry entry, void* argument, std::uint32_t* threadId) {
  auto* handle = new (std::nothrow) PosixThread;
  if (handle == nullptr) return nullptr;
  try {
    handle->gate = std::make_shared<StartGate>();
    std::shared_ptr<StartGate> gate = handle->gate;
    handle->thread = std::thread([gate, entry, argument] {
      {
        std::unique_lock<std::mutex> guard(gate->lock);
        gate->wake.wait(guard, [&gate] { return gate->resumed; });
      }
      entry(argument);
    });
  } catch (const std::exception&) {
    delete handle;
    return nullptr;
  }
  if (threadId != nullptr) {
    *threadId = static_cast<std::uint32_t>(std::hash<std::thread::id>{}(handle->thread.get_id()));
  }
  return handle;
}

void ResumeThread(ThreadHandle thread) {
  auto* handle = static_cast<PosixThread*>(thread);
  std::lock_guard<std::mutex> guard(handle->gate->lock);
  handle->gate->resumed = true;
  handle->gate->wake.notify_one();
}

void WaitThread(ThreadHandle thread) {
  auto* handle = static_cast<PosixThread*>(thread);
  if (handle->thread.joinable()) handle->thread.join();
}

void CloseThread(ThreadHandle thread) {
  auto* handle = static_cast<PosixThread*>(thread);
  if (handle->thread.joinable()) handle->thread.detach();
  delete handle;
}

}  // namespace vx::platform
