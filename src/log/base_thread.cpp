#include "log/base_thread.h"

#include "base/boundary.h"

namespace vx {

std::atomic<std::int32_t> g_bThreadRunEnable{1};

CBaseThread::CBaseThread() : m_bRun(0), m_bStarted(0), m_dwThreadId(0), m_hThread(nullptr) {
  m_bRun.exchange(1);
  m_bStarted.exchange(0);
}

CBaseThread::~CBaseThread() {
  if (m_hThread != nullptr) platform::CloseThread(m_hThread);
}

std::int32_t CBaseThread::Start() {
  m_cs.Enter();
  if (m_bStarted.load() != 1) {
    g_bThreadRunEnable.exchange(1);
    m_bRun.exchange(1);
    if (m_hThread != nullptr) {
      platform::CloseThread(m_hThread);
      m_hThread = nullptr;
    }
    m_dwThreadId = 0;
    // Created suspended: the started flag is set before the body can run, so a body
    // that returns at once still leaves the object not started.
    m_hThread = platform::CreateThread(&CBaseThread::ThreadProc, this, &m_dwThreadId);
    if (m_hThread != nullptr) {
      m_bStarted.exchange(1);
      platform::ResumeThread(m_hThread);
    }
  }
  m_cs.Leave();
  return 0;
}

std::int32_t CBaseThread::Stop() { return m_bRun.exchange(0); }

void CBaseThread::Join() {
  m_cs.Enter();
  if (m_hThread != nullptr) {
    platform::WaitThread(m_hThread);
    platform::CloseThread(m_hThread);
    m_hThread = nullptr;
  }
  m_bStarted.exchange(0);
  m_cs.Leave();
}

bool CBaseThread::ShouldStop() { return !(g_bThreadRunEnable.load() == 1 && m_bRun.load() == 1); }

unsigned CBaseThread::ThreadProc(void* self) {
  if (self == nullptr) return 0;
  auto* thread = static_cast<CBaseThread*>(self);
  // Nothing may unwind out of a thread's first frame.
  const std::uint32_t exitCode =
      Guarded([] { return std::uint32_t{0}; }, [thread] { return thread->Run(); });
  thread->m_bStarted.exchange(0);
  return exitCode;
}

}  // namespace vx
