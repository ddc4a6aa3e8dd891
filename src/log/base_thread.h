// Base of the bridge's worker threads: owns at most one OS thread at a time, gives the
// body a cheap cooperative stop test, and lets its owner stop and join it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace vx {

// Process-wide run-enable flag shared by every worker. Set to 1 at load and by every
// Start; nothing clears it.
extern std::atomic<std::int32_t> g_bThreadRunEnable;

class CBaseThread {
 public:
  CBaseThread();
  virtual ~CBaseThread();
  CBaseThread(const CBaseThread&) = delete;
  CBaseThread& operator=(const CBaseThread&) = delete;

  // Creates the thread unless one is owned and its body has not returned. Always 0.
  virtual std::int32_t Start();
  // Requests a stop without waiting; returns the previous run flag.
  virtual std::int32_t Stop();
  // Waits without a time limit for the owned thread, then releases it. Never call from
  // the worker itself.
  virtual void Join();
  // True once a stop was requested (or the process-wide flag is not 1).
  virtual bool ShouldStop();

  bool IsStarted() const { return m_bStarted.load() == 1; }

  // Thread entry: runs the body of `self` (a CBaseThread*) and clears its started flag.
  static unsigned ThreadProc(void* self);

 protected:
  virtual std::uint32_t Run() = 0;

 private:
  std::atomic<std::int32_t> m_bRun;
  std::atomic<std::int32_t> m_bStarted;
  platform::CriticalSection m_cs;
  std::uint32_t m_dwThreadId;
  platform::ThreadHandle m_hThread;
};

}  // namespace vx
