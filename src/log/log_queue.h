// The queue that carries every log line to the one log thread: unbounded, guarded by one
// mutex, signalled by one auto-reset event when a push finds a consumer waiting (a consumer
// that is busy finds the line on its next look without being woken).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "platform/platform.h"

namespace vx {

class CLogQueue {
 public:
  CLogQueue() = default;
  ~CLogQueue();
  CLogQueue(const CLogQueue&) = delete;
  CLogQueue& operator=(const CLogQueue&) = delete;

  void Push(std::string line);
  // Waits while the queue is active and empty, then takes the front line into `line`.
  // Returns the number of lines still queued, or -1 (line untouched) when inactive.
  std::int32_t Pop(std::string& line);
  // As Pop, but takes every queued line at once into `lines` (which should be empty) and
  // returns how many; -1 (lines untouched) when inactive.
  std::int32_t PopAll(std::deque<std::string>& lines);
  // Puts `lines` back in front of what is queued, in their order, and empties `lines`: for a
  // consumer that took more than it delivered. Lines that cannot be put back for want of
  // memory are dropped.
  void PushFront(std::deque<std::string>& lines);
  bool IsActive() const { return m_bActive.load(std::memory_order_relaxed); }
  // Inactive: Pop returns at once; deactivating wakes a waiting Pop.
  void SetActive(bool active);

  // For producers that must format under the queue's lock (the shared format buffer).
  platform::Mutex& LockObject() { return m_hMutex; }
  void PushLocked(std::string line);

  // Drops every queued line.
  void Clear();
  std::size_t Size();

 private:
  // With the mutex held: waits while the queue is active and empty; returns with it held.
  void WaitLocked();

  platform::Mutex m_hMutex;
  platform::AutoResetEvent m_hEvent;
  std::deque<std::string> m_lines;
  std::atomic<bool> m_bActive{true};  // written under the mutex
  std::int32_t m_waiters = 0;         // consumers blocked on the event, under the mutex
};

}  // namespace vx
