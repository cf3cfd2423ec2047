// One element snapshot: the live accessibility element read in one batched round trip and
// turned into a platform-neutral `ElementData`.
#pragma once

#include <cstdint>
#include <optional>

#include "vemor/element.hpp"
#include "vemor/error.hpp"
#include "vemor/macos/ax.hpp"

namespace vemor::ax {

// `pid` and `handle` are copied into the snapshot unchanged. Handle 0 marks a snapshot that is
// never entered in a provider's handle cache (search probes, event targets). Windows and
// dialogs fail when their window-action probes fail: a window whose application stopped
// answering yields an error, not a snapshot that silently lacks its actions.
Result<ElementData> build_snapshot_data(const AXElement& element, std::optional<std::uint32_t> pid,
                                        std::uint64_t handle);

// The snake_case action name of a platform action ("AXScrollToVisible" -> "scroll_to_visible").
std::string action_name_for(std::string_view platform_action);

}  // namespace vemor::ax
