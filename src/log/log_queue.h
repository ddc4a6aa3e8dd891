// The queue that carries every log line to the one log thread: unbounded, guarded by one
// mutex, signalled by one auto-reset event after every push.
#pragma once

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
  // Inactive: Pop returns at once; deactivating wakes a waiting Pop.
  void SetActive(bool active);

  // For producers that must format under the queue's lock (the shared format buffer).
  platform::Mutex& LockObject() { return m_hMutex; }
  void PushLocked(std::string line);

  // Drops every queued line.
  void Clear();
  std::size_t Size();

 private:
  platform::Mutex m_hMutex;
  platform::AutoResetEvent m_hEvent;
  std::deque<std::string> m_lines;
  bool m_bActive = true;
};

}  // namespace vx
