// The Function table: one typed entry per service function, null until resolved. The loader
// writes the entries while exports on other threads may read them: each is an atomic, read
// with acquire (a plain load on x64).
#pragma once

#include <atomic>
#include <cstddef>

#include "bridge/service_api.h"

namespace vx {

struct FunctionTable {
#define VX_TABLE_ENTRY(name, type) std::atomic<type> name{nullptr};
  VX_SERVICE_FUNCTIONS(VX_TABLE_ENTRY)
#undef VX_TABLE_ENTRY
};

extern FunctionTable g_functions;

constexpr std::size_t kServiceFunctionCount = 34;

// Name and label ("pfn" + name) of each entry, in resolution order.
struct FunctionEntryInfo {
  const char* name;
  const char* label;
};
extern const FunctionEntryInfo kServiceFunctions[kServiceFunctionCount];

// Resolves every entry from `library`, in order; unresolved names become null.
void ResolveFunctionTable(void* library);
// Sets every entry to null.
void ClearFunctionTable();

}  // namespace vx

// The label of an entry, spelled from its name: VX_LABEL(csd) is "pfncsd".
#define VX_LABEL(name) "pfn" #name

// Reads an entry; when it is null, queues the missing-entry line with its label and
// yields null.
#define VX_REQUIRE(name) \
  ::vx::RequireEntry(::vx::g_functions.name.load(std::memory_order_acquire), VX_LABEL(name))

namespace vx {
void LogMissingEntry(const char* label);

template <typename Fn>
Fn RequireEntry(Fn entry, const char* label) {
  if (entry == nullptr) LogMissingEntry(label);
  return entry;
}
}  // namespace vx
