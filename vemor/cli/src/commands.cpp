#include "vemor/cli/commands.hpp"

#include <fmt/format.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "vemor/app.hpp"
#include "vemor/cli/output.hpp"
#include "vemor/event.hpp"
#include "vemor/facade/capture.hpp"
#include "vemor/facade/options.hpp"
#include "vemor/facade/providers.hpp"
#include "vemor/facade/target.hpp"
#include "vemor/facade/window_list.hpp"
#include "vemor/input.hpp"
#include "vemor/role.hpp"
#include "vemor/shell.hpp"
#include "vemor/text.hpp"

namespace vemor::cli {

using facade::input_sim;
using facade::provider;
using facade::screenshot;
using facade::screenshot_annotated;
using facade::screenshot_region;
using facade::ShellSurfaceExt;

namespace {

// Splits at every `sep`, keeping empty pieces.
std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        std::size_t pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            pieces.push_back(s.substr(start));
            return pieces;
        }
        pieces.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

CliResult<Point> required_point(const std::optional<std::string>& text, std::string_view flag,
                                std::string_view missing) {
    if (!text) return usage_error(fmt::format("missing {}", missing));
    return parse_point_arg(*text, flag);
}

CliResult<Rect> parse_region(std::string_view text) {
    std::vector<std::string_view> pieces = split(text, ',');
    if (pieces.size() != 4)
        return usage_error(fmt::format("--region must be X,Y,W,H (got: {})", text));
    auto x = parse_integer<std::int32_t>(text::trim(pieces[0]));
    if (!x) return usage_error(fmt::format("invalid X in --region: {}", pieces[0]));
    auto y = parse_integer<std::int32_t>(text::trim(pieces[1]));
    if (!y) return usage_error(fmt::format("invalid Y in --region: {}", pieces[1]));
    auto w = parse_integer<std::uint32_t>(text::trim(pieces[2]));
    if (!w) return usage_error(fmt::format("invalid W in --region: {}", pieces[2]));
    auto h = parse_integer<std::uint32_t>(text::trim(pieces[3]));
    if (!h) return usage_error(fmt::format("invalid H in --region: {}", pieces[3]));
    return Rect{*x, *y, *w, *h};
}

std::string plural(std::size_t n, std::string_view suffix) {
    return n == 1 ? std::string() : std::string(suffix);
}

}  // namespace

CliResult<void> cmd_apps(Words) {
    ProviderHandle handle = VEMOR_CLI_TRY(provider());
    std::vector<App> apps = VEMOR_CLI_TRY(App::list_with(handle));
    if (apps.empty()) return write_stdout("No applications found.\n");
    for (const App& app : apps) {
        const std::string pid = app.pid() ? fmt::format("{}", *app.pid()) : "-";
        VEMOR_CLI_TRY_VOID(
            write_stdout(fmt::format("{} {}{}\n", pid, text::escape_controls(app.name()),
                                     app.data().states.focused ? " focused" : "")));
    }
    return {};
}

CliResult<void> cmd_shell(Words words) {
    if (!words.empty()) {
        return usage_error(fmt::format(
            "vemor shell takes no arguments (got: {}). It lists every surface; pass --shell KIND "
            "to tree, find or action to target one.",
            words.front()));
    }
    std::vector<ShellSurface> surfaces = VEMOR_CLI_TRY(ShellSurfaceExt::list());
    if (surfaces.empty()) return write_stdout("No shell surfaces found.\n");
    for (const ShellSurface& s : surfaces) {
        const std::string pid = s.pid() ? fmt::format("{}", *s.pid()) : "-";
        VEMOR_CLI_TRY_VOID(write_stdout(
            fmt::format("{} {} {}\n", s.kind(), pid, text::escape_controls(s.name()))));
    }
    return {};
}

CliResult<void> cmd_windows(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    if (!opts.positional.empty()) {
        return usage_error(
            fmt::format("usage: vemor windows [--app NAME | --pid PID]; unexpected argument: {}",
                        opts.positional.front()));
    }
    if (opts.shell) {
        return usage_error(
            "usage: vemor windows [--app NAME | --pid PID]; --shell is not supported here — "
            "`vemor shell` lists OS shell surfaces");
    }
    std::vector<App> apps;
    if (opts.app || opts.pid) {
        apps = VEMOR_CLI_TRY(resolve_apps(opts));
    } else {
        ProviderHandle handle = VEMOR_CLI_TRY(provider());
        apps = VEMOR_CLI_TRY(App::list_with(handle));
    }

    std::vector<Element> all;
    std::vector<std::string> failures;
    for (const App& app : apps) {
        Result<std::vector<Element>> windows = app.windows();
        if (!windows) {
            failures.push_back(fmt::format("{}: {}", text::escape_controls(app.name()),
                                           windows.error().message()));
            continue;
        }
        for (Element& w : *windows) all.push_back(std::move(w));
    }
    std::vector<Element> kept = dedup_windows(std::move(all));

    if (kept.empty()) {
        VEMOR_CLI_TRY_VOID(write_stdout("No windows found.\n"));
    } else {
        for (const Element& w : kept)
            VEMOR_CLI_TRY_VOID(write_stdout(format_element_oneline(w) + "\n"));
        VEMOR_CLI_TRY_VOID(
            write_stdout(fmt::format("({} window{})\n", kept.size(), plural(kept.size(), "s"))));
    }

    if (!failures.empty()) {
        for (const std::string& f : failures) write_stderr(fmt::format("error: {}\n", f));
        return fail_cli(CliError::Message{
            fmt::format("{} of {} application(s) could not be enumerated; see stderr for details",
                        failures.size(), apps.size())});
    }
    return {};
}

CliResult<void> cmd_tree(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    const Target target = VEMOR_CLI_TRY(resolve_target(opts));
    return print_tree_recursive(target.root(), "", true, true, &target);
}

CliResult<void> cmd_find(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    if (opts.positional.empty()) {
        return usage_error(
            "usage: vemor find SELECTOR [--app NAME | --pid PID | --shell KIND] "
            "[-o pretty|bounds|center]");
    }
    const std::string& selector = opts.positional.front();
    const Target target = VEMOR_CLI_TRY(resolve_target(opts));
    std::vector<Element> matches = VEMOR_CLI_TRY(target.locator(selector).elements());
    if (matches.empty())
        return fail_cli(
            CliError::Message{fmt::format("no elements matched selector: {}", selector)});

    const std::string_view format = opts.output ? std::string_view(*opts.output) : "pretty";
    if (format == "pretty") {
        for (const Element& e : matches)
            VEMOR_CLI_TRY_VOID(write_stdout(format_element_oneline(e) + "\n"));
        return write_stdout(
            fmt::format("({} match{})\n", matches.size(), plural(matches.size(), "es")));
    }
    if (format != "bounds" && format != "center") {
        return usage_error(
            fmt::format("unknown -o format: {} (expected pretty|bounds|center)", format));
    }
    for (const Element& e : matches) {
        if (!e->bounds) {
            write_stderr(fmt::format("warning: skipping {} \"{}\": element has no bounds\n",
                                     role::to_snake_case(e->role),
                                     e->name ? text::escape_controls(*e->name) : "(unnamed)"));
            continue;
        }
        const Rect& b = *e->bounds;
        if (format == "bounds") {
            VEMOR_CLI_TRY_VOID(
                write_stdout(fmt::format("{},{},{},{}\n", b.x, b.y, b.width, b.height)));
        } else {
            const std::int64_t cx = std::int64_t{b.x} + b.width / 2;
            const std::int64_t cy = std::int64_t{b.y} + b.height / 2;
            VEMOR_CLI_TRY_VOID(write_stdout(fmt::format("{},{}\n", cx, cy)));
        }
    }
    return {};
}

CliResult<void> cmd_action(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    if (opts.positional.size() < 2) {
        return usage_error(
            "usage: vemor action ACTION SELECTOR [--app NAME | --pid PID | --shell KIND] "
            "[--value V] [--at X,Y] [--size W,H]");
    }
    const std::string& action = opts.positional[0];
    const std::string& selector = opts.positional[1];
    auto optional_view = [](const std::optional<std::string>& s) {
        return s ? std::optional<std::string_view>(*s) : std::nullopt;
    };
    const ActionArgs args = VEMOR_CLI_TRY(parse_action_args(
        action, optional_view(opts.value), optional_view(opts.at), optional_view(opts.size)));
    // An unknown verb is refused before anything is looked up, as the MCP `action` tool does.
    VEMOR_CLI_TRY_VOID(check_action_name(action));
    const Target target = VEMOR_CLI_TRY(resolve_target(opts));
    VEMOR_CLI_TRY_VOID(perform_action(target.locator(selector), action, args));
    return write_stdout("ok\n");
}

CliResult<void> cmd_events(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    if (opts.shell) {
        return usage_error(
            "--shell is not supported by `events`: accessibility events are subscribed per "
            "application. Use --app NAME or --pid PID.");
    }
    const App app = VEMOR_CLI_TRY(resolve_app(opts));
    Subscription subscription = VEMOR_CLI_TRY(app.subscribe());
    write_stderr(fmt::format("Listening for events on \"{}\" (ctrl-c to stop)...\n",
                             text::escape_controls(app.name())));
    for (Event& event : subscription) VEMOR_CLI_TRY_VOID(write_stdout(format_event_line(event)));
    return {};
}

CliResult<void> cmd_click(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    const Point at = VEMOR_CLI_TRY(required_point(opts.at, "--at", "--at X,Y"));
    ClickOptions options;
    options.button = VEMOR_CLI_TRY(parse_button(opts.button.value_or("left")));
    options.count = opts.count.value_or(1);
    options.held = VEMOR_CLI_TRY(parse_held(opts.held));
    InputProviderHandle input = VEMOR_CLI_TRY(input_sim());
    VEMOR_CLI_TRY_VOID(Mouse(std::move(input)).click_with(at, options));
    return write_stdout("ok\n");
}

CliResult<void> cmd_move(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    const Point at = VEMOR_CLI_TRY(required_point(opts.at, "--at", "--at X,Y"));
    InputProviderHandle input = VEMOR_CLI_TRY(input_sim());
    VEMOR_CLI_TRY_VOID(input->pointer_move(at));
    return write_stdout("ok\n");
}

CliResult<void> cmd_drag(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    if (!opts.from) return usage_error("missing --from X,Y");
    if (!opts.to) return usage_error("missing --to X,Y");
    const Point from = VEMOR_CLI_TRY(parse_point_arg(*opts.from, "--from"));
    const Point to = VEMOR_CLI_TRY(parse_point_arg(*opts.to, "--to"));
    DragOptions options;
    options.button = VEMOR_CLI_TRY(parse_button(opts.button.value_or("left")));
    options.held = VEMOR_CLI_TRY(parse_held(opts.held));
    options.duration = duration_from_ms(opts.duration_ms.value_or(150));
    InputProviderHandle input = VEMOR_CLI_TRY(input_sim());
    VEMOR_CLI_TRY_VOID(Mouse(std::move(input)).drag_with(from, to, options));
    return write_stdout("ok\n");
}

CliResult<void> cmd_scroll(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    const Point at = VEMOR_CLI_TRY(required_point(opts.at, "--at", "--at X,Y"));
    InputProviderHandle input = VEMOR_CLI_TRY(input_sim());
    VEMOR_CLI_TRY_VOID(input->pointer_scroll(at, opts.dx.value_or(0), opts.dy.value_or(0)));
    return write_stdout("ok\n");
}

CliResult<void> cmd_key(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    if (opts.positional.empty()) return usage_error("usage: vemor key KEY [--held K,K]");
    const Key key = VEMOR_CLI_TRY(parse_key_name(opts.positional.front()));
    const std::vector<Key> held = VEMOR_CLI_TRY(parse_held(opts.held));
    InputProviderHandle input = VEMOR_CLI_TRY(input_sim());
    const Keyboard keyboard(std::move(input));
    if (held.empty())
        VEMOR_CLI_TRY_VOID(keyboard.press(key));
    else
        VEMOR_CLI_TRY_VOID(keyboard.chord(key, held));
    return write_stdout("ok\n");
}

CliResult<void> cmd_type(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    if (opts.positional.empty()) return usage_error("usage: vemor type TEXT");
    InputProviderHandle input = VEMOR_CLI_TRY(input_sim());
    VEMOR_CLI_TRY_VOID(Keyboard(std::move(input)).type_text(opts.positional.front()));
    return write_stdout("ok\n");
}

CliResult<void> cmd_screenshot(Words words) {
    const Opts opts = VEMOR_CLI_TRY(parse_opts(words));
    if (!opts.out) return usage_error("missing --out PATH (use - for stdout)");
    const std::string& out = *opts.out;
    std::optional<Rect> region;
    if (opts.region) region = VEMOR_CLI_TRY(parse_region(*opts.region));

    if (opts.annotate.empty()) {
        if (opts.legend) {
            return usage_error(fmt::format(
                "--legend {} has nothing to describe: add --annotate SELECTOR, or drop --legend",
                *opts.legend));
        }
        const Screenshot shot = VEMOR_CLI_TRY(region ? screenshot_region(*region) : screenshot());
        return write_screenshot(shot, out);
    }

    const std::string legend = opts.legend.value_or("text");
    if (legend != "text" && legend != "json" && legend != "none") {
        return usage_error(
            fmt::format("unknown --legend value: {} (expected text|json|none)", legend));
    }
    if (out == "-" && legend != "none") {
        return usage_error(
            "--out - writes PNG bytes to stdout, and the legend would corrupt them: write the "
            "image to a file with --out FILE, or drop the legend with --legend none");
    }
    if (!opts.app && !opts.pid && !opts.shell) {
        return usage_error(
            "--annotate resolves selectors against a target, and this command has none: add "
            "--app NAME, --pid PID, or --shell KIND");
    }
    const Target target = VEMOR_CLI_TRY(resolve_target(opts));
    const std::vector<Locator> groups = annotation_locators(opts.annotate, target);
    const Annotated annotated = VEMOR_CLI_TRY(screenshot_annotated(region, groups));
    VEMOR_CLI_TRY_VOID(write_screenshot(annotated.image, out));
    if (legend == "text") return write_stdout(render_legend_text(opts.annotate, annotated));
    if (legend == "json") {
        const std::string json = VEMOR_CLI_TRY(render_legend_json(opts.annotate, annotated));
        return write_stdout(json);
    }
    return {};
}

}  // namespace vemor::cli
