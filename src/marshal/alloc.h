// The one allocation function for every buffer the bridge owns: conversion scratch,
// result and message buffers, order arrays, the log format buffer. Tests can make it fail.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vx {

// Zero-filled block of `size` bytes (at least one byte is reserved for size 0), or null.
void* BridgeAlloc(std::size_t size);
void BridgeFree(void* block);

// Owning pointer for a BridgeAlloc block.
class BridgeBuffer {
 public:
  explicit BridgeBuffer(std::size_t size)
      : m_data(static_cast<unsigned char*>(BridgeAlloc(size))) {}
  ~BridgeBuffer() { BridgeFree(m_data); }
  BridgeBuffer(const BridgeBuffer&) = delete;
  BridgeBuffer& operator=(const BridgeBuffer&) = delete;
  unsigned char* get() const { return m_data; }
  explicit operator bool() const { return m_data != nullptr; }

 private:
  unsigned char* m_data;
};

namespace testing {
// Fault injection. The Nth allocation from now (1-based) fails; 0 disarms. Counts
// allocations process-wide, from every thread.
void FailAllocationAfter(std::uint64_t n);
// Every allocation fails while set.
void FailAllAllocations(bool fail);
// Number of allocations made since start (successful or not).
std::uint64_t AllocationCount();
}  // namespace testing

}  // namespace vx
