#include "log/log_thread.h"

#include <jni.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <new>
#include <utility>

#include "base/alloc.h"
#include "base/boundary.h"
#include "base/jni_util.h"
#include "text/text.h"

namespace vx {

CLogThread& g_logThread = *new CLogThread();

namespace {
// Destroys the log object with the library, unless its thread still runs: at process exit
// the thread may be blocked on the queue, and tearing the queue down under it would hang.
struct LogObjectReaper {
  ~LogObjectReaper() {
    if (!g_logThread.IsStarted()) delete &g_logThread;
  }
} s_logObjectReaper;
}  // namespace

CLogThread::CLogThread() : m_pFormatBuf(static_cast<char*>(BridgeAlloc(kFormatBufferSize))) {
  if (m_pFormatBuf != nullptr) {
    m_pFormatBuf[kFormatLimit] = '.';
    m_pFormatBuf[kFormatLimit + 1] = '.';
    m_pFormatBuf[kFormatLimit + 2] = '.';
    m_pFormatBuf[kFormatLimit + 3] = '\0';
  }
}

CLogThread::~CLogThread() {
  BridgeFree(m_pFormatBuf);
  m_pFormatBuf = nullptr;
}

namespace {
std::atomic<void (*)()> g_seamBeforeActivate{nullptr};
std::atomic<void (*)()> g_seamBetweenStopSteps{nullptr};

void RunSeam(const std::atomic<void (*)()>& seam) {
  if (auto hook = seam.load(std::memory_order_acquire)) hook();
}
}  // namespace

namespace testing {
void SetLogThreadSeams(void (*beforeActivate)(), void (*betweenStopSteps)()) {
  g_seamBeforeActivate.store(beforeActivate, std::memory_order_release);
  g_seamBetweenStopSteps.store(betweenStopSteps, std::memory_order_release);
}
}  // namespace testing

std::int32_t CLogThread::Stop() {
  // The flag first. Deactivated first, a thread still starting could activate the queue
  // again, find the flag set, consume the signal and wait for good once the flag is cleared.
  const std::int32_t previous = CBaseThread::Stop();
  RunSeam(g_seamBetweenStopSteps);
  m_logQueue.SetActive(false);
  return previous;
}

void CLogThread::WriteLog(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  WriteLogV(format, args);
  va_end(args);
}

void CLogThread::WriteLogV(const char* format, std::va_list args) {
  if (m_pFormatBuf == nullptr || format == nullptr) return;
  // One format buffer for the process: formatting, copying out and pushing happen under
  // the queue's lock.
  platform::ScopedLock lock(m_logQueue.LockObject());
  try {
    // Room for kFormatLimit characters; on a cut, vsnprintf's terminator lands on the
    // first marker dot, which is put back so the text reads on into "...".
    const int written = std::vsnprintf(m_pFormatBuf, kFormatLimit + 1, format, args);
    if (written >= 0 && static_cast<std::size_t>(written) >= kFormatLimit) {
      m_pFormatBuf[kFormatLimit] = '.';
    }
    m_logQueue.PushCopyLocked(m_pFormatBuf, std::strlen(m_pFormatBuf));
  } catch (const std::bad_alloc&) {
    // No memory for the line: it is dropped, the producer carries on.
  }
}

namespace {

// After a batch smaller than this the thread lingers this long. A bigger batch means the
// lines come faster than Java takes them, and the thread is better off looking again at once.
constexpr std::int32_t kLingerBelowLines = 1024;
constexpr std::uint32_t kLingerMicroseconds = 1000;

// One line to logAPICallBack as UTF-8 without terminator. ASCII text (nearly every line) is
// the same in every code page and goes as it is, without a converted copy.
void DeliverLine(JNIEnv* env, jobject callbackObject, jmethodID logMethod,
                 const std::string& line) {
  const std::size_t length = std::strlen(line.c_str());
  LocalRef<jbyteArray> bytes(
      env, IsAscii(line.c_str(), length) && length <= static_cast<std::size_t>(INT32_MAX)
               ? NewJavaByteArray(env, line.c_str(), static_cast<std::int32_t>(length))
               : StringToUtf8ByteArray(env, line));
  if (!bytes) ClearPendingException(env);  // a failed NewByteArray: the line goes as null
  CallJavaIntMethod(env, callbackObject, logMethod, bytes.get());
  ClearPendingException(env);  // what logAPICallBack threw is dropped with its line
}

}  // namespace

void CLogThread::SetJavaTarget(JavaVM* vm, jobject callbackObject) {
  m_vm.store(vm);
  m_callbackObject.store(callbackObject);
}

std::uint32_t CLogThread::Run() {
  JavaVM* vm = m_vm.load();
  jobject callbackObject = m_callbackObject.load();
  if (vm == nullptr || callbackObject == nullptr) return 0;

  // A daemon thread: an ordinary attached thread would keep the JVM from exiting after
  // main returns, and nothing would ever stop this one. Detached when the run ends.
  ScopedAttach attach(vm, ScopedAttach::Daemon{});
  JNIEnv* env = attach.env();
  if (env == nullptr) return 0;

  jmethodID logMethod = nullptr;
  LocalRef<jclass> callbackClass(env, env->GetObjectClass(callbackObject));
  if (callbackClass) {
    logMethod = env->GetMethodID(callbackClass.get(), "logAPICallBack", "([B)I");
  }
  ClearPendingException(env);

  RunSeam(g_seamBeforeActivate);
  m_logQueue.SetActive(true);
  // Every line queued at a wake-up is taken at once and delivered in order; a stop seen
  // between two lines puts the rest back, in front of what was queued since. After a small
  // batch the thread lingers before it looks again, so that a steady trickle of lines (one
  // per callback) wakes it once per linger instead of once per line; after a big one it is
  // behind and looks again at once.
  std::deque<std::string> batch;
  while (!ShouldStop()) {
    const std::int32_t taken = m_logQueue.PopAll(batch);
    if (taken <= 0) continue;
    std::size_t delivered = 0;
    while (delivered < batch.size()) {
      const std::string& line = batch[delivered++];
      if (!line.empty() && logMethod != nullptr) {
        // A line whose delivery throws is dropped; no Java exception is left behind.
        Guarded([env] { ClearPendingException(env); },
                [&] { DeliverLine(env, callbackObject, logMethod, line); });
      }
      if (delivered < batch.size() && (ShouldStop() || !m_logQueue.IsActive())) break;
    }
    if (delivered < batch.size()) {
      batch.erase(batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(delivered));
      m_logQueue.PushFront(batch);
      continue;
    }
    m_logQueue.Recycle(batch);
    if (taken < kLingerBelowLines) m_logQueue.Linger(kLingerMicroseconds);
  }

  return 0;
}

// Each thread keeps the stamp of the last second it formatted. It is reused only while the
// clock still reads the same second, and kept only when the clock read that second both
// before and after the local time was taken, so it is the text that second gives.
const char* CurrentTimeStamp() {
  struct Cached {
    std::time_t second = -1;
    char text[64] = {};
  };
  thread_local Cached cached;
  const std::time_t before = std::time(nullptr);
  if (before != cached.second || before == static_cast<std::time_t>(-1)) {
    const platform::LocalTime now = platform::GetLocalTime();
    std::snprintf(cached.text, sizeof cached.text, "%d-%02d-%02d %02d:%02d:%02d", now.year,
                  now.month, now.day, now.hour, now.minute, now.second);
    cached.second = std::time(nullptr) == before ? before : static_cast<std::time_t>(-1);
  }
  return cached.text;
}

std::string GetTimeStamp() { return CurrentTimeStamp(); }

void CLogThread::WriteText(const char* text, std::size_t length) {
  if (m_pFormatBuf == nullptr) return;  // as WriteLog: no log object, no lines
  try {
    m_logQueue.PushCopy(text, length);
  } catch (const std::bad_alloc&) {
    // No memory for the line: it is dropped, the producer carries on.
  }
}

}  // namespace vx

extern "C" int NativeLogCallBack(const char* line) {
  if (line == nullptr) return 1;
  // A line that cannot be queued is dropped: the service's thread must not see an exception.
  vx::Guarded([line] { vx::g_logThread.Queue().PushCopy(line, std::strlen(line)); });
  return 0;
}
