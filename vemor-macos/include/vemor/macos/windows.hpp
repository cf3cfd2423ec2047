// Window operations on macOS: the provider's activate, minimize, maximize, enter_fullscreen,
// restore, close, move_to and resize_to (defined in windows.cpp as `MacOSProvider` members),
// and the position write they share. Minimising, restoring, full screen and moving report
// success only once the window reads back in the wanted state (settle.hpp).
#pragma once

#include <cstdint>

#include "vemor/error.hpp"
#include "vemor/macos/ax.hpp"
#include "vemor/role.hpp"

namespace vemor::ax {

// How far (in points, on each axis, inclusive) a moved window may land from the wanted point.
inline constexpr double kPositionTolerance = 2.0;

// One AXPosition write; refused writes are `ActionNotSupported` for "move_to".
Result<void> set_window_position(const AXElement& window, std::int32_t x, std::int32_t y,
                                 Role role);

}  // namespace vemor::ax
