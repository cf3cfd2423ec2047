// What the process does to its platform once, before the first provider, input simulator or
// screenshot provider is made. On macOS nothing; on other systems, where the backend runs over
// the simulated platform, the desktop that `VEMOR_SIMULATED_DESKTOP` names (a JSON file) is
// installed in place of the default one.
#pragma once

#include "vemor/error.hpp"

namespace vemor::macos {

// The environment variable naming a JSON desktop description (non-Apple builds only).
inline constexpr const char* kSimulatedDesktopVariable = "VEMOR_SIMULATED_DESKTOP";

// Runs once per process; later calls return the first outcome. A description that cannot be
// read or is malformed gives `InvalidConfig` naming the variable, the file, the line and the
// fault.
Result<void> prepare_platform();

}  // namespace vemor::macos
