// The replaced global allocation functions of the unit-test binary (see failing_new.h). They
// take their memory from malloc, which AddressSanitizer and ThreadSanitizer intercept, so
// both still see every block.
#include "failing_new.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "fakejni/fakejni.h"

namespace vxtest {
namespace {

thread_local bool t_armed = false;
thread_local std::uint64_t t_count = 0;
thread_local std::uint64_t t_failAt = 0;

bool ShouldFail() {
  if (!t_armed || vx::fakejni::InsideJvm()) return false;
  return ++t_count == t_failAt;
}

// Over-aligned blocks come from malloc too, with room to align and the start of the malloc'd
// block kept just before the aligned one, for FreeAligned.
void* MallocAligned(std::size_t size, std::size_t alignment) {
  void* raw = std::malloc(size + alignment + sizeof(void*));
  if (raw == nullptr) return nullptr;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
  auto* block = reinterpret_cast<void**>((start + alignment - 1) & ~(alignment - 1));
  block[-1] = raw;
  return block;
}

void* Allocate(std::size_t size, std::size_t alignment) {
  if (ShouldFail()) throw std::bad_alloc();
  if (size == 0) size = 1;
  for (;;) {
    void* block =
        alignment <= alignof(std::max_align_t) ? std::malloc(size) : MallocAligned(size, alignment);
    if (block != nullptr) return block;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void* AllocateNoThrow(std::size_t size, std::size_t alignment) noexcept {
  try {
    return Allocate(size, alignment);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

FailingNewWindow::FailingNewWindow(std::uint64_t failAt) {
  t_count = 0;
  t_failAt = failAt;
  t_armed = true;
}

FailingNewWindow::~FailingNewWindow() {
  t_armed = false;
  t_failAt = 0;
}

std::uint64_t FailingNewWindow::Count() const { return t_count; }

void FreeAligned(void* block) noexcept {
  if (block != nullptr) std::free(static_cast<void**>(block)[-1]);
}

}  // namespace vxtest

namespace {
constexpr std::size_t kPlain = alignof(std::max_align_t);
}

void* operator new(std::size_t size) { return vxtest::Allocate(size, kPlain); }
void* operator new[](std::size_t size) { return vxtest::Allocate(size, kPlain); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return vxtest::AllocateNoThrow(size, kPlain);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return vxtest::AllocateNoThrow(size, kPlain);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return vxtest::Allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return vxtest::Allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return vxtest::AllocateNoThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return vxtest::AllocateNoThrow(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { vxtest::FreeAligned(block); }
void operator delete[](void* block, std::align_val_t) noexcept { vxtest::FreeAligned(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  vxtest::FreeAligned(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  vxtest::FreeAligned(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  vxtest::FreeAligned(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  vxtest::FreeAligned(block);
}
