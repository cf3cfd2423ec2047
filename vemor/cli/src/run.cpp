#include "vemor/cli/run.hpp"

#include <fmt/format.h>
#include <spawn.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include "vemor/cli/commands.hpp"
#include "vemor/cli/output.hpp"
#include "vemor/facade/target.hpp"
#include "vemor/macos/provider.hpp"
#include "vemor/mcp/serve.hpp"
#include "vemor/text.hpp"

extern char** environ;

namespace vemor::cli {
namespace {

// One line per entry; the kinds placeholder is filled by `help_text`.
constexpr std::string_view kHelp = R"help(vemor — accessibility tree explorer

Usage:

Accessibility tree:
  vemor apps                                List running applications
  vemor shell                               List OS shell surfaces: KIND PID NAME
  vemor windows [--app NAME | --pid PID]    List top-level windows
  vemor tree   [TARGET]                     Print the accessibility tree
  vemor find   SELECTOR [TARGET] [-o pretty|bounds|center]
                                            Find elements matching a selector
  vemor action ACTION SELECTOR [TARGET] [--value V]
                                            [--at X,Y] [--size W,H]
                                            Perform an action on an element
  vemor events [--app NAME | --pid PID]     Stream accessibility events

TARGET — what tree/find/action search (--shell and --app are exclusive):
  --app NAME | --pid PID                    A running application
  --shell KIND [--pid PID]                  An OS shell surface, as listed by
                                            `vemor shell`. Add --pid when
                                            several surfaces share a kind: it
                                            is the only disambiguator, and it
                                            cannot separate several surfaces
                                            owned by one process (two panel
                                            rows from one xfce4-panel).
      KIND is one of:
      {}
      Kinds are platform-specific though the list is not: menu_bar,
      status_items and dock are macOS only, taskbar is Windows only,
      panel is Linux only, desktop and flyout are macOS and Windows.
      `vemor shell` lists what this machine actually has.

Input simulation (coords only — no selectors, no a11y):
  vemor click  --at X,Y [--button left|right|middle] [--count N] [--held K,K]
  vemor move   --at X,Y
  vemor drag   --from X,Y --to X,Y [--button B] [--duration-ms MS] [--held K,K]
  vemor scroll --at X,Y [--dx N] [--dy N]
  vemor key    KEY [--held K,K]
  vemor type   TEXT

Screenshot (pixels; --annotate adds selectors and a11y):
  vemor screenshot [--region X,Y,W,H] --out PATH
                   [--app NAME | --pid PID | --shell KIND]
                   [--annotate SELECTOR]... [--legend text|json|none]
                                            --out - writes PNG bytes to stdout.
                                            With no --annotate: a plain capture,
                                            no target, no a11y.
  Each --annotate is one group: it boxes every element its selector matches in
  TARGET, in that group's colour, and the legend on stdout maps each box's tag
  to a selector that acts on it (A7 -> button:nth(7)). Repeat for more groups.
  Boxes come from the accessibility tree, so --annotate needs a target and gains
  its failures (app not found, no match); an app with no tree gets no boxes.
  --out - and a legend both want stdout: pick --out FILE, or --legend none.

Model Context Protocol:
  vemor mcp                                 Serve the above as MCP tools over
                                            stdio (for MCP clients, not humans)

Compose a11y + input/screenshot via `find -o bounds|center`:
  region=$(vemor find 'button[name="OK"]' --app Safari -o bounds)
  vemor screenshot --region "$region" --out button.png
  vemor click --at "$(vemor find 'button[name="OK"]' --app Safari -o center)"

Actions: press, focus, blur, toggle, expand, collapse, select, show-menu,
  scroll-into-view, increment, decrement,
  set-value (requires --value), type-text (requires --value),
  set-numeric-value (requires --value), select-text (requires --value START,END),
  minimize, maximize, enter-fullscreen, restore, close, activate,
  move-to (requires --at X,Y), resize-to (requires --size W,H)

Exit codes:
  0  success
  1  operation failed (app not found, no selector match, platform error)
  2  usage error (unknown flag value, missing or invalid argument))help";

using Handler = CliResult<void> (*)(Words);

CliResult<void> serve_mcp(Words words) { return mcp::serve(words); }

struct Command {
    std::string_view name;
    Handler handler;
};

constexpr std::array<Command, 15> kCommands{{
    {"apps", cmd_apps},
    {"shell", cmd_shell},
    {"windows", cmd_windows},
    {"tree", cmd_tree},
    {"find", cmd_find},
    {"action", cmd_action},
    {"events", cmd_events},
    {"click", cmd_click},
    {"move", cmd_move},
    {"drag", cmd_drag},
    {"scroll", cmd_scroll},
    {"key", cmd_key},
    {"type", cmd_type},
    {"screenshot", cmd_screenshot},
    {"mcp", serve_mcp},
}};

bool is_accessibility_permission_error(const CliError& error) {
    const Error* core = error.core();
    if (!core) return false;
    const auto* denied = core->as<Error::PermissionDenied>();
    return denied && denied->instructions == ax::accessibility_grant_instructions();
}

// One line from standard input, without its line feed; none when the read fails or nothing
// at all could be read.
std::optional<std::string> read_stdin_line() {
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        if (c == '\n') return line;
        line.push_back(c);
    }
    if (line.empty()) return std::nullopt;
    return line;
}

bool is_yes(std::string_view answer) {
    std::string lower;
    for (char c : text::trim(answer))
        lower.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
    return lower == "y" || lower == "yes";
}

// Starts `open` on the settings pane without waiting for it; a failure to start is ignored.
void open_accessibility_settings() {
    std::string program = "open";
    std::string url(kAccessibilitySettingsUrl);
    std::array<char*, 3> argv{program.data(), url.data(), nullptr};
    pid_t child = 0;
    (void)::posix_spawnp(&child, "open", nullptr, nullptr, argv.data(), environ);
}

void offer_accessibility_settings() {
    write_stderr(fmt::format(
        "\nHint: grant Accessibility to the app running vemor (the terminal it was launched "
        "from)\n{}\nthen restart the app (or the terminal).\nOpen System Settings now? [y/N] ",
        ax::accessibility_grant_instructions()));
    std::optional<std::string> answer = read_stdin_line();
    if (answer && is_yes(*answer)) open_accessibility_settings();
}

}  // namespace

std::string help_text() {
    std::string kinds;
    for (std::string_view name : shell_kind_names()) {
        if (!kinds.empty()) kinds += ", ";
        kinds += name;
    }
    return fmt::format(fmt::runtime(kHelp), kinds);
}

CliResult<void> run(std::span<const std::string> args) {
    if (!args.empty()) {
        for (const Command& command : kCommands) {
            if (args.front() == command.name) return command.handler(args.subspan(1));
        }
    }
    write_stderr(help_text() + "\n");
    return {};
}

int run_main(std::span<const std::string> args) {
    CliResult<void> result = run(args);
    if (result) return 0;
    const CliError& error = result.error();
    const bool usage = error.is<CliError::Usage>();
    // Texts a message quotes from the desktop arrive escaped, line feeds included; what is left
    // are the user's own arguments, whose control characters are escaped here so that nothing
    // drives the terminal. Line feeds stay: the message's layout and the user's own.
    const std::string message = text::escape_message_controls(error.message());
    write_stderr(usage ? message + "\n" : fmt::format("error: {}\n", message));
    const bool serving_mcp = !args.empty() && args.front() == "mcp";
    if (!serving_mcp && is_accessibility_permission_error(error) && ::isatty(STDIN_FILENO))
        offer_accessibility_settings();
    return usage ? 2 : 1;
}

}  // namespace vemor::cli
