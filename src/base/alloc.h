// The one allocation function for every buffer the bridge owns: conversion scratch,
// result and message buffers, order arrays, the log format buffer. Tests can make it fail.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vx {

// What a new block holds: zeros, or whatever was there, for a caller that writes every byte
// before it reads any (a reply filled to its measured length, or discarded unread).
enum class Fill { kZero, kNone };

// A block of `size` bytes (at least one byte is reserved for size 0), or null.
void* BridgeAlloc(std::size_t size, Fill fill = Fill::kZero);
void BridgeFree(void* block);

// Owning pointer for a BridgeAlloc block.
class BridgeBuffer {
 public:
  explicit BridgeBuffer(std::size_t size, Fill fill = Fill::kZero)
      : m_data(static_cast<unsigned char*>(BridgeAlloc(size, fill))) {}
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
// While set, blocks allocated with Fill::kNone come filled with kPoisonByte, so a byte their
// user forgets to write shows.
constexpr unsigned char kPoisonByte = 0xA5;
void PoisonUnfilledBlocks(bool poison);
}  // namespace testing

}  // namespace vx
