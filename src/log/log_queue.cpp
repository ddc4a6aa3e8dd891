#include "log/log_queue.h"

#include <utility>

namespace vx {

CLogQueue::~CLogQueue() { Clear(); }

void CLogQueue::Push(std::string line) {
  platform::ScopedLock lock(m_hMutex);
  PushLocked(std::move(line));
}

void CLogQueue::PushLocked(std::string line) {
  m_lines.push_back(std::move(line));
  m_hEvent.Set();
}

std::int32_t CLogQueue::Pop(std::string& line) {
  m_hMutex.Lock();
  while (m_bActive && m_lines.empty()) {
    m_hEvent.UnlockAndWait(m_hMutex);
    m_hMutex.Lock();
  }
  std::int32_t remaining = -1;
  if (m_bActive) {
    line = std::move(m_lines.front());
    m_lines.pop_front();
    remaining = static_cast<std::int32_t>(m_lines.size());
  }
  m_hMutex.Unlock();
  return remaining;
}

void CLogQueue::SetActive(bool active) {
  platform::ScopedLock lock(m_hMutex);
  m_bActive = active;
  if (!active) m_hEvent.Set();
}

void CLogQueue::Clear() {
  platform::ScopedLock lock(m_hMutex);
  m_lines.clear();
}

std::size_t CLogQueue::Size() {
  platform::ScopedLock lock(m_hMutex);
  return m_lines.size();
}

}  // namespace vx
