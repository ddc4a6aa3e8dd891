// The simulated service library, loaded through the bridge's own loader, and its control
// functions looked up in the same module.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/loader.h"
#include "bridge/state.h"
#include "log_capture.h"
#include "platform/platform.h"
#include "vxsim.h"

namespace vxtest {

// Unloads whatever the bridge loaded, then loads the variant in `directory`.
inline ::testing::AssertionResult LoadSim(const char* directory, VxSimApi& sim) {
  vx::FreeServiceLibrary();
  vx::testing::ResetBridgeState();
  if (!vx::LoadServiceLibrary(directory)) {
    return ::testing::AssertionFailure() << "cannot load the simulated service from " << directory;
  }
  if (!sim.Load(
          [](const char* name) { return vx::platform::FindSymbol(vx::g_hServiceLib, name); })) {
    return ::testing::AssertionFailure() << "control functions missing in " << directory;
  }
  sim.vxsim_reset();
  return ::testing::AssertionSuccess();
}

inline std::vector<std::string> SimCalls(const VxSimApi& sim) {
  std::vector<std::string> calls;
  for (int i = 0; i < sim.vxsim_call_count(); ++i) calls.emplace_back(sim.vxsim_call(i));
  return calls;
}

inline std::string SimErrors(const VxSimApi& sim) { return sim.vxsim_errors_joined(); }

}  // namespace vxtest
