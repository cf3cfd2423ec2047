// What a command or tool operates on (`--app`, `--pid`, `--shell`), the exact errors of a
// missing, contradictory, unknown, absent or ambiguous choice, and the 23 named element actions
// of the `action` command and the MCP `action` tool.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vemor/app.hpp"
#include "vemor/element.hpp"
#include "vemor/facade/cli_error.hpp"
#include "vemor/facade/options.hpp"
#include "vemor/locator.hpp"
#include "vemor/shell.hpp"

namespace vemor::cli {

// An application or a shell surface.
class Target {
public:
    Target(App app) : v_(std::move(app)) {}
    Target(ShellSurface shell) : v_(std::move(shell)) {}

    // nullptr when the target is the other kind.
    const App* app() const { return std::get_if<App>(&v_); }
    const ShellSurface* shell() const { return std::get_if<ShellSurface>(&v_); }
    const std::variant<App, ShellSurface>& variant() const { return v_; }
    const ProviderHandle& provider() const;

    // Where a tree dump or a search starts: the application's element (on a new handle of its
    // provider) or the surface's element.
    Element root() const;
    // A lazy locator for `selector` rooted at the target (`App::locator` or
    // `ShellSurface::locator`).
    Locator locator(std::string_view selector) const;

private:
    std::variant<App, ShellSurface> v_;
};

// The application named by `--app` (exact name), else by `--pid`; one attempt, no waiting.
CliResult<App> resolve_app(const Opts& opts);
// The same, as a list of exactly one application.
CliResult<std::vector<App>> resolve_apps(const Opts& opts);
// An application, or with `--shell` the one shell surface of that kind (and `--pid`).
CliResult<Target> resolve_target(const Opts& opts);

// Diagnosis lines `kind "name" (pid=N)`, at most 20, then "… (+N more)".
std::vector<std::string> describe_shell_surfaces(std::span<const ShellSurface> surfaces);

// The eight shell-surface kind names, in kind order.
const std::vector<std::string_view>& shell_kind_names();

// What an action needs besides its target.
enum class ActionNeed : std::uint8_t { None, Text, Number, Selection, Point, Size };

struct ActionEntry {
    std::string_view name;  // kebab-case, as the user types it
    ActionNeed need = ActionNeed::None;
};

// The 23 actions, in the order of the usage message.
inline constexpr std::array<ActionEntry, 23> ACTIONS{{
    {"press", ActionNeed::None},
    {"focus", ActionNeed::None},
    {"blur", ActionNeed::None},
    {"toggle", ActionNeed::None},
    {"expand", ActionNeed::None},
    {"collapse", ActionNeed::None},
    {"select", ActionNeed::None},
    {"show-menu", ActionNeed::None},
    {"scroll-into-view", ActionNeed::None},
    {"increment", ActionNeed::None},
    {"decrement", ActionNeed::None},
    {"set-value", ActionNeed::Text},
    {"set-numeric-value", ActionNeed::Number},
    {"type-text", ActionNeed::Text},
    {"select-text", ActionNeed::Selection},
    {"minimize", ActionNeed::None},
    {"maximize", ActionNeed::None},
    {"enter-fullscreen", ActionNeed::None},
    {"restore", ActionNeed::None},
    {"close", ActionNeed::None},
    {"activate", ActionNeed::None},
    {"move-to", ActionNeed::Point},
    {"resize-to", ActionNeed::Size},
}};

// The 23 action names in table order.
std::vector<std::string_view> action_names();

// Success when `action` is one of the 23 names (exact, case-sensitive); else the usage error
// "unknown action: ..." listing them. Callers check the name before they resolve a target.
CliResult<void> check_action_name(std::string_view action);

// Runs one action of the table on the locator (which waits for an actionable target); error
// texts name the action as the user typed it.
CliResult<void> perform_action(const Locator& locator, std::string_view action,
                               const ActionArgs& args);

}  // namespace vemor::cli
