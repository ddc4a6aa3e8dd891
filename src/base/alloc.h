// The one allocation function for every buffer the bridge owns: conversion scratch,
// result and message buffers, order arrays, the log format buffer. Tests can make it fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace vx {

// What a new block holds: zeros, or whatever was there, for a caller that writes every byte
// before it reads any (a reply filled to its measured length, or discarded unread).
enum class Fill { kZero, kNone };

// A block of `size` bytes (at least one byte is reserved for size 0), or null.
void* BridgeAlloc(std::size_t size, Fill fill = Fill::kZero);
void BridgeFree(void* block);

// For a block the caller writes in full without having allocated it (one on the stack): under
// test it is poisoned as a Fill::kNone block is, so that a byte left unwritten shows; else
// nothing is done.
void PoisonUnallocated(void* block, std::size_t size);

// Frees a BridgeAlloc block: the deleter of every owner of one.
struct BridgeDeleter {
  void operator()(void* block) const noexcept { BridgeFree(block); }
};
template <typename T>
using BridgeOwned = std::unique_ptr<T, BridgeDeleter>;

// `count` zero-filled records of a plain type `T` in one BridgeAlloc block, or null.
template <typename T>
BridgeOwned<T[]> BridgeAllocArray(std::size_t count) {
  static_assert(std::is_trivial<T>::value, "the records are used without being constructed");
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  return BridgeOwned<T[]>(static_cast<T*>(BridgeAlloc(count * sizeof(T))));
}

// A block of `size` bytes, owned (null when it could not be had).
class BridgeBuffer : public BridgeOwned<unsigned char[]> {
 public:
  explicit BridgeBuffer(std::size_t size, Fill fill = Fill::kZero)
      : BridgeOwned<unsigned char[]>(static_cast<unsigned char*>(BridgeAlloc(size, fill))) {}
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
