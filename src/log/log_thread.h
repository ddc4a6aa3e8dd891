// The log object: the Log queue, the one format buffer, and the worker thread that hands
// each queued line to Java's logAPICallBack.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "log/base_thread.h"
#include "log/log_queue.h"

#if defined(__GNUC__)
#define VX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VX_PRINTF_FORMAT(fmt, args)
#endif

namespace vx {

class CLogThread : public CBaseThread {
 public:
  // Formatted text is cut at this many characters and marked with "...".
  static constexpr std::size_t kFormatLimit = 1023996;
  static constexpr std::size_t kFormatBufferSize = 1024000;

  CLogThread();
  ~CLogThread() override;

  // Clears the run flag, then deactivates the queue (waking a waiting Pop). In this order a
  // thread that (re)activates the queue at any point still ends: before the deactivation it
  // is woken by it, after it the flag is seen cleared.
  std::int32_t Stop() override;

  // Formats one line printf-style into the shared format buffer and queues it.
  void WriteLog(const char* format, ...) VX_PRINTF_FORMAT(2, 3);
  void WriteLogV(const char* format, std::va_list args) VX_PRINTF_FORMAT(2, 0);

  // Queues a copy of a line the caller built (a fixed text and a time stamp), without
  // formatting. A line that finds no memory is dropped.
  void WriteText(const char* text, std::size_t length);

  CLogQueue& Queue() { return m_logQueue; }

  // Where the thread delivers: the VM and the callback object as setJniEnv stored them. Each
  // run reads them once, at its start, and ends at once when either is null.
  void SetJavaTarget(JavaVM* vm, jobject callbackObject);

 protected:
  std::uint32_t Run() override;

 private:
  CLogQueue m_logQueue;
  char* m_pFormatBuf;
  std::atomic<JavaVM*> m_vm{nullptr};
  std::atomic<jobject> m_callbackObject{nullptr};
};

// The process's log object. It lives from library load to library unload; at process
// exit it is left alone while its thread still runs (a blocked waiter cannot be torn down).
extern CLogThread& g_logThread;

namespace testing {
// Seams for tests that force an interleaving: `beforeActivate` runs on the log thread just
// before it activates the queue, `betweenStopSteps` in Stop between its two steps. Null
// removes a seam.
void SetLogThreadSeams(void (*beforeActivate)(), void (*betweenStopSteps)());
}  // namespace testing

// Local time as "YYYY-MM-DD hh:mm:ss".
std::string GetTimeStamp();
// The same text in a buffer of the calling thread, valid until its next call.
const char* CurrentTimeStamp();

}  // namespace vx

// The service library's log sink: queues the line unchanged. 1 for null, else 0.
extern "C" int NativeLogCallBack(const char* line);
