// Operating-system shell surfaces: menu bar, status items, taskbar, panel, dock, desktop,
// flyouts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include <fmt/format.h>

#include "vemor/enum_names.hpp"

namespace vemor {

enum class ShellSurfaceKind : std::uint8_t {
    MenuBar,
    StatusItems,
    Taskbar,
    Panel,
    Dock,
    Desktop,
    Flyout,
    Unknown,
};

// `ShellSurfaceKind::from_snake_case` and its display form; an enumeration cannot carry
// functions in C++, so they live in this namespace.
namespace shell_surface_kind {

inline constexpr std::array<EnumName<ShellSurfaceKind>, 8> kNames{{
    {ShellSurfaceKind::MenuBar, "menu_bar"},
    {ShellSurfaceKind::StatusItems, "status_items"},
    {ShellSurfaceKind::Taskbar, "taskbar"},
    {ShellSurfaceKind::Panel, "panel"},
    {ShellSurfaceKind::Dock, "dock"},
    {ShellSurfaceKind::Desktop, "desktop"},
    {ShellSurfaceKind::Flyout, "flyout"},
    {ShellSurfaceKind::Unknown, "unknown"},
}};

constexpr std::string_view to_snake_case(ShellSurfaceKind kind) { return name_of(kNames, kind); }
constexpr std::optional<ShellSurfaceKind> from_snake_case(std::string_view text) {
    return value_of(kNames, text);
}

}  // namespace shell_surface_kind
}  // namespace vemor

template <>
struct fmt::formatter<vemor::ShellSurfaceKind> : fmt::formatter<std::string_view> {
    auto format(vemor::ShellSurfaceKind k, fmt::format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(
            vemor::shell_surface_kind::to_snake_case(k), ctx);
    }
};
