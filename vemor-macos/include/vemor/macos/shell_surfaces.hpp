// The parts of the macOS desktop that belong to the system rather than to an application
// window: the frontmost application's menu bar, status-item bars, the Dock, the Finder's
// desktop and the menus shown from status items (`MacOSProvider::list_shell_surfaces`,
// shell_surfaces.cpp). The helpers here are the scan's small rules.
#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/macos/platform.hpp"
#include "vemor/shell.hpp"

namespace vemor::ax {

using SurfaceList = std::vector<std::pair<ShellSurfaceKind, ElementData>>;

// How long one request may take through an element the scan reads; an application that does
// not answer stalls the scan this long per request at most.
inline constexpr float kShellMessagingTimeout = 0.25f;

// AXMenuBar read codes that mean the application simply has no menu bar: absent, not
// implemented, not answering, or gone.
bool is_no_menu_bar_code(AXError code);

// "desktop" in any ASCII case, as the whole text.
bool is_desktop_description(std::string_view description);

// Stable sort by the snapshot's pid: absent first, then ascending; equal pids keep their order.
void sort_surfaces_by_pid(SurfaceList& surfaces);

}  // namespace vemor::ax
