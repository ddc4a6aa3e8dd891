#include "bridge/function_table.h"

#include <cstring>

#include "log/log_lines.h"
#include "platform/platform.h"

namespace vx {

FunctionTable g_functions;

const FunctionEntryInfo kServiceFunctions[kServiceFunctionCount] = {
#define VX_INFO_ENTRY(name, type) {#name, VX_LABEL(name)},
    VX_SERVICE_FUNCTIONS(VX_INFO_ENTRY)
#undef VX_INFO_ENTRY
};

namespace {
template <typename Fn>
void Resolve(void* library, const char* name, std::atomic<Fn>& entry) {
  void* address = platform::FindSymbol(library, name);
  // Object and function pointers have the same width on every platform we build for.
  Fn function;
  std::memcpy(&function, &address, sizeof function);
  entry.store(function, std::memory_order_release);
}
}  // namespace

void ResolveFunctionTable(void* library) {
#define VX_RESOLVE_ENTRY(name, type) Resolve(library, #name, g_functions.name);
  VX_SERVICE_FUNCTIONS(VX_RESOLVE_ENTRY)
#undef VX_RESOLVE_ENTRY
}

void ClearFunctionTable() {
#define VX_CLEAR_ENTRY(name, type) g_functions.name.store(nullptr, std::memory_order_release);
  VX_SERVICE_FUNCTIONS(VX_CLEAR_ENTRY)
#undef VX_CLEAR_ENTRY
}

void LogMissingEntry(const char* label) { logline::MissingEntry(label); }

static_assert(sizeof(FunctionTable) == kServiceFunctionCount * sizeof(void*),
              "one pointer per service function");

}  // namespace vx
