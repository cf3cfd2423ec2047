// Operating-system shell surfaces: menu bar, status items, taskbar, panel, dock, desktop,
// flyouts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "vemor/element.hpp"
#include "vemor/enum_names.hpp"
#include "vemor/error.hpp"
#include "vemor/text.hpp"

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

// provider.hpp includes this header; the locator is only named here.
class Locator;

// One shell surface as a provider listed it, bound to that provider. Its root element carries
// the raw attribute "shell_kind" (the kind's name as a JSON string), so selectors can match it.
class ShellSurface {
public:
    ShellSurface(ShellSurfaceKind kind, ElementData data, ProviderHandle provider);

    // Every surface the provider lists now, in its order; no waiting.
    static Result<std::vector<ShellSurface>> list_with(const ProviderHandle& provider);
    // The single surface of `kind`, waiting up to `timeout` for one to appear. Several of the
    // kind fail at once: waiting cannot make them fewer.
    static Result<ShellSurface> by_kind_with(const ProviderHandle& provider, ShellSurfaceKind kind,
                                             Duration timeout);

    const ElementData& data() const { return data_; }
    // The element's name when present and not empty, else the kind's name.
    const std::string& name() const { return name_; }
    std::optional<std::uint32_t> pid() const { return pid_; }
    ShellSurfaceKind kind() const { return kind_; }
    const ProviderHandle& provider() const { return provider_; }

    Element as_element() const;
    Result<std::vector<Element>> children() const;
    // A lazy query rooted at this surface; nothing is resolved yet.
    Locator locator(std::string_view selector) const;

private:
    ElementData data_;
    std::string name_;
    std::optional<std::uint32_t> pid_;
    ProviderHandle provider_;
    ShellSurfaceKind kind_;
};

namespace shell {
// Diagnosis lines for a list of surfaces: `kind "name" (pid=N)` for the first 20, then a line
// counting the rest.
std::vector<std::string> surface_candidates(std::span<const ShellSurface> surfaces);
}  // namespace shell

}  // namespace vemor

template <>
struct fmt::formatter<vemor::ShellSurfaceKind> : fmt::formatter<std::string_view> {
    auto format(vemor::ShellSurfaceKind k, fmt::format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(vemor::shell_surface_kind::to_snake_case(k),
                                                        ctx);
    }
};
