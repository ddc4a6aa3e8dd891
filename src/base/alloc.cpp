#include "base/alloc.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vx {

namespace {
std::atomic<std::uint64_t> g_allocationCount{0};
std::atomic<std::uint64_t> g_failAt{0};  // allocation number that fails; 0: none
std::atomic<bool> g_failAll{false};
std::atomic<bool> g_poison{false};
}  // namespace

void* BridgeAlloc(std::size_t size, Fill fill) {
  const std::uint64_t number = g_allocationCount.fetch_add(1, std::memory_order_relaxed) + 1;
  if (g_failAll.load(std::memory_order_relaxed)) return nullptr;
  std::uint64_t failAt = g_failAt.load(std::memory_order_relaxed);
  if (failAt != 0 && number == failAt &&
      g_failAt.compare_exchange_strong(failAt, 0, std::memory_order_relaxed)) {
    return nullptr;
  }
  if (size == 0) size = 1;
  if (fill == Fill::kZero) return std::calloc(size, 1);
  void* block = std::malloc(size);
  if (block != nullptr && g_poison.load(std::memory_order_relaxed)) {
    std::memset(block, testing::kPoisonByte, size);
  }
  return block;
}

void BridgeFree(void* block) { std::free(block); }

void PoisonUnallocated(void* block, std::size_t size) {
  if (g_poison.load(std::memory_order_relaxed)) std::memset(block, testing::kPoisonByte, size);
}

namespace testing {
void FailAllocationAfter(std::uint64_t n) {
  g_failAt.store(n == 0 ? 0 : g_allocationCount.load(std::memory_order_relaxed) + n,
                 std::memory_order_relaxed);
}
void FailAllAllocations(bool fail) { g_failAll.store(fail, std::memory_order_relaxed); }
void PoisonUnfilledBlocks(bool poison) { g_poison.store(poison, std::memory_order_relaxed); }
std::uint64_t AllocationCount() { return g_allocationCount.load(std::memory_order_relaxed); }
}  // namespace testing

}  // namespace vx
