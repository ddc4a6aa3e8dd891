// Helpers shared by the fuzz targets: a hard invariant check and the log-queue drain.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "log/log_thread.h"

// An invariant of the code under test. A violation prints where and aborts, which libFuzzer
// reports as a crash and saves the input as an artifact.
#define VX_FUZZ_CHECK(cond)                                                                      \
  do {                                                                                           \
    if (!(cond)) {                                                                               \
      std::fprintf(stderr, "fuzz invariant violated: %s at %s:%d\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                              \
    }                                                                                            \
  } while (0)

namespace vx::fuzz {

// Takes every line queued on the process's log object. No log thread runs in a fuzz
// target, so without this the queue would grow with every input.
inline std::vector<std::string> TakeLogLines() {
  CLogQueue& queue = g_logThread.Queue();
  queue.SetActive(true);
  std::vector<std::string> lines;
  while (queue.Size() > 0) {
    std::string line;
    if (queue.Pop(line) < 0) break;
    lines.push_back(std::move(line));
  }
  return lines;
}

inline bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

inline bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

}  // namespace vx::fuzz
