// Waits with a deadline for what another thread brings about, so that a test whose awaited
// state never comes fails instead of hanging.
#pragma once

#include <chrono>
#include <thread>

namespace vemor::testing {

// Whether `ready()` came to hold within `limit`.
template <class Ready>
bool eventually(Ready&& ready, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= give_up) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

}  // namespace vemor::testing
