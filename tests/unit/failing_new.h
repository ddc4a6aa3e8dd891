// The unit-test binary replaces the global operator new (every form) with one that can be
// made to fail on demand: the throwing forms throw std::bad_alloc, the nothrow forms return
// null. Only allocations of the arming thread count, and none made inside the fake JVM (a
// real JVM never throws C++ exceptions at its callers).
#pragma once

#include <cstdint>

namespace vxtest {

// For its lifetime, counts the calling thread's allocations and fails the `failAt`-th one
// (1-based; 0 fails none, only counting).
class FailingNewWindow {
 public:
  explicit FailingNewWindow(std::uint64_t failAt);
  ~FailingNewWindow();
  FailingNewWindow(const FailingNewWindow&) = delete;
  FailingNewWindow& operator=(const FailingNewWindow&) = delete;

  // Allocations counted so far (the failed one included).
  std::uint64_t Count() const;
};

}  // namespace vxtest
