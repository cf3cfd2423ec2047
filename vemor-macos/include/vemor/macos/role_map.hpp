// Turns a macOS accessibility role (AXRole) and subrole (AXSubrole) into the platform-neutral
// `Role`. Pure: no platform call, no state, no allocation.
#pragma once

#include <optional>
#include <string_view>

#include "vemor/role.hpp"

namespace vemor::ax {

// Both texts are compared whole and case-sensitively. A known subrole decides first, whatever
// the role text; otherwise the role text decides; everything else is `Role::Unknown`.
Role map_ax_role(std::string_view role, std::optional<std::string_view> subrole);

}  // namespace vemor::ax
