// Reading what the bridge queued for the log thread, in tests that run no log thread.
#pragma once

#include <string>
#include <vector>

#include "log/log_thread.h"

namespace vxtest {

// Takes every line queued on the process's log object. Reactivates the queue first: an
// earlier test's unload may have left it inactive.
inline std::vector<std::string> TakeLogLines() {
  vx::CLogQueue& queue = vx::g_logThread.Queue();
  queue.SetActive(true);
  std::vector<std::string> lines;
  std::string line;
  while (queue.Size() > 0 && queue.Pop(line) >= 0) lines.push_back(line);
  return lines;
}

}  // namespace vxtest
