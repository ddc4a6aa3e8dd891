// The queue that carries every log line to the one log thread: unbounded, guarded by one
// mutex, signalled by one auto-reset event when a push finds a consumer waiting (a consumer
// that is busy finds the line on its next look without being woken).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vx {

class CLogQueue {
 public:
  CLogQueue() = default;
  ~CLogQueue();
  CLogQueue(const CLogQueue&) = delete;
  CLogQueue& operator=(const CLogQueue&) = delete;

  void Push(std::string line);
  // Queues a copy of `length` bytes at `text`, in a line handed back by Recycle when there is
  // one, so that a steady stream of short lines costs no allocation. May throw
  // std::bad_alloc; nothing is queued then.
  void PushCopy(const char* text, std::size_t length);
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
  // Empties `lines`, keeping some of their (delivered) strings for PushCopy to fill again.
  void Recycle(std::deque<std::string>& lines);
  // Waits up to about `microseconds` without counting as a waiting consumer, so producers
  // do not signal: lines pushed meanwhile wait for the next PopAll. Deactivating the queue
  // ends the wait at once (at once too when the queue is inactive already).
  void Linger(std::uint32_t microseconds);
  bool IsActive() const { return m_bActive.load(std::memory_order_relaxed); }
  // Inactive: Pop returns at once; deactivating wakes a waiting Pop.
  void SetActive(bool active);

  // For producers that must format under the queue's lock (the shared format buffer).
  platform::Mutex& LockObject() { return m_hMutex; }
  void PushLocked(std::string line);
  void PushCopyLocked(const char* text, std::size_t length);

  // True while a consumer is blocked in Pop or PopAll.
  bool HasWaitingConsumer();

  // Drops every queued line.
  void Clear();
  std::size_t Size();

 private:
  // At most this many emptied lines are kept, each of at most this capacity.
  static constexpr std::size_t kMaxSpares = 1024;
  static constexpr std::size_t kSpareCapacity = 256;

  // With the mutex held: waits while the queue is active and empty; returns with it held.
  void WaitLocked();

  platform::Mutex m_hMutex;
  platform::AutoResetEvent m_hEvent;
  std::deque<std::string> m_lines;
  // Emptied lines for PushCopy, under the mutex. A line is thus made and freed by the same
  // threads only now and then, instead of made by a producer and freed by the consumer
  // every time (the slow road of the allocator on both sides).
  std::vector<std::string> m_spares;
  // The consumer reads the flag after every line it delivers: it lives on a cache line of
  // its own, away from the members every push writes, which would otherwise bounce
  // between the producer's core and the consumer's.
  alignas(64) std::atomic<bool> m_bActive{true};  // written under the mutex
  std::int32_t m_waiters = 0;                     // consumers blocked on the event, under the mutex
};

}  // namespace vx
