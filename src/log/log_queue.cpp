#include "log/log_queue.h"

#include <new>
#include <utility>

namespace vx {

CLogQueue::~CLogQueue() { Clear(); }

void CLogQueue::Push(std::string line) {
  platform::ScopedLock lock(m_hMutex);
  PushLocked(std::move(line));
}

void CLogQueue::PushLocked(std::string line) {
  m_lines.push_back(std::move(line));
  if (m_waiters > 0) m_hEvent.Set();
}

void CLogQueue::PushCopy(const char* text, std::size_t length) {
  if (length > kSpareCapacity) {  // no spare would hold it: copied outside the lock
    Push(std::string(text, length));
    return;
  }
  platform::ScopedLock lock(m_hMutex);
  PushCopyLocked(text, length);
}

void CLogQueue::PushCopyLocked(const char* text, std::size_t length) {
  if (m_spares.empty() || length > kSpareCapacity) {
    PushLocked(std::string(text, length));
    return;
  }
  // Should the copy or the push throw, the spare stays where it was.
  std::string& line = m_spares.back();
  line.assign(text, length);
  PushLocked(std::move(line));
  m_spares.pop_back();
}

void CLogQueue::WaitLocked() {
  while (m_bActive.load(std::memory_order_relaxed) && m_lines.empty()) {
    ++m_waiters;
    m_hEvent.UnlockAndWait(m_hMutex);
    m_hMutex.Lock();
    --m_waiters;
  }
}

std::int32_t CLogQueue::Pop(std::string& line) {
  m_hMutex.Lock();
  WaitLocked();
  std::int32_t remaining = -1;
  if (m_bActive.load(std::memory_order_relaxed)) {
    line = std::move(m_lines.front());
    m_lines.pop_front();
    remaining = static_cast<std::int32_t>(m_lines.size());
  }
  m_hMutex.Unlock();
  return remaining;
}

std::int32_t CLogQueue::PopAll(std::deque<std::string>& lines) {
  m_hMutex.Lock();
  WaitLocked();
  std::int32_t taken = -1;
  if (m_bActive.load(std::memory_order_relaxed)) {
    taken = static_cast<std::int32_t>(m_lines.size());
    lines.swap(m_lines);
  }
  m_hMutex.Unlock();
  return taken;
}

void CLogQueue::PushFront(std::deque<std::string>& lines) {
  platform::ScopedLock lock(m_hMutex);
  try {
    // Last first, each to the front: a push_front that fails leaves the queue as it was.
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
      m_lines.push_front(std::move(*line));
  } catch (const std::bad_alloc&) {
    // The lines not yet put back are lost; what was queued stays queued.
  }
  lines.clear();
  if (m_waiters > 0 && !m_lines.empty()) m_hEvent.Set();
}

void CLogQueue::Recycle(std::deque<std::string>& lines) {
  {
    platform::ScopedLock lock(m_hMutex);
    if (m_spares.capacity() < kMaxSpares) {
      try {
        m_spares.reserve(kMaxSpares);
      } catch (const std::bad_alloc&) {
        // Only what fits the room already there is kept.
      }
    }
    for (std::string& line : lines) {
      if (m_spares.size() == m_spares.capacity()) break;  // never grows here
      if (line.capacity() > kSpareCapacity) continue;
      line.clear();
      m_spares.push_back(std::move(line));
    }
  }
  lines.clear();  // what was not kept is freed outside the lock
}

void CLogQueue::Linger(std::uint32_t microseconds) {
  // A deactivation after this test has set the event, which then ends the wait at once. A
  // signal left over from an earlier wake-up ends it early, which costs nothing.
  if (!IsActive()) return;
  m_hEvent.TimedWait(microseconds);
}

void CLogQueue::SetActive(bool active) {
  platform::ScopedLock lock(m_hMutex);
  m_bActive.store(active, std::memory_order_relaxed);
  if (!active) m_hEvent.Set();
}

void CLogQueue::Clear() {
  platform::ScopedLock lock(m_hMutex);
  m_lines.clear();
}

bool CLogQueue::HasWaitingConsumer() {
  platform::ScopedLock lock(m_hMutex);
  return m_waiters > 0;
}

std::size_t CLogQueue::Size() {
  platform::ScopedLock lock(m_hMutex);
  return m_lines.size();
}

}  // namespace vx
