#include "vemor/mcp/tools.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include <fmt/format.h>

#include "vemor/app.hpp"
#include "vemor/facade/capture.hpp"
#include "vemor/facade/providers.hpp"
#include "vemor/facade/window_list.hpp"
#include "vemor/shell.hpp"

namespace vemor::mcp {
namespace tools {
namespace {

// The value under `key`, or nullptr when the key is absent or null.
const Json* present(const Json& args, std::string_view key) {
    auto it = args.find(key);
    if (it == args.end() || it->is_null()) return nullptr;
    return &*it;
}

bool has_key(const Json& args, std::string_view key) { return args.contains(key); }

std::string json_text(const Json& v) { return vemor::json::dump(v); }

std::unexpected<cli::CliError> usage(std::string message) {
    return cli::usage_error(std::move(message));
}

// An optional string whose wrong type has the plain "must be a string" message.
cli::CliResult<std::optional<std::string>> opt_string_key(const Json& args, std::string_view key) {
    return opt_str(args, key);
}

Json pid_json(std::optional<std::uint32_t> pid) { return pid ? Json(*pid) : Json(nullptr); }

std::size_t scalar_count(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

constexpr std::string_view kSpecifyApp =
    "specify \"app\" (application name, matched exactly) or \"pid\" (process id); the `apps` "
    "tool lists both for every running application";

}  // namespace

cli::CliResult<std::string> req_str(const Json& args, std::string_view key) {
    auto it = args.find(key);
    if (it == args.end()) return usage(fmt::format("missing required argument \"{}\"", key));
    if (!it->is_string()) return usage(fmt::format("\"{}\" must be a string", key));
    const auto& s = it->get_ref<const std::string&>();
    if (s.empty()) return usage(fmt::format("\"{}\" must not be empty", key));
    return s;
}

cli::CliResult<std::optional<std::string>> opt_str(const Json& args, std::string_view key) {
    const Json* v = present(args, key);
    if (!v) return std::optional<std::string>{};
    if (!v->is_string()) return usage(fmt::format("\"{}\" must be a string", key));
    return std::optional<std::string>(v->get<std::string>());
}

cli::CliResult<std::optional<std::int64_t>> opt_int(const Json& args, std::string_view key) {
    const Json* v = present(args, key);
    if (!v) return std::optional<std::int64_t>{};
    auto not_whole = [&] {
        return usage(fmt::format("\"{}\" must be a whole number, got {}", key, json_text(*v)));
    };
    if (v->is_number_unsigned()) {
        auto u = v->get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return not_whole();
        return std::optional<std::int64_t>(static_cast<std::int64_t>(u));
    }
    if (v->is_number_integer()) return std::optional<std::int64_t>(v->get<std::int64_t>());
    if (v->is_number_float()) {
        // A whole number written with a fraction or an exponent (5.0, 1e3) is still whole.
        double d = v->get<double>();
        if (!std::isfinite(d) || d != std::trunc(d) || d < -9223372036854775808.0 ||
            d >= 9223372036854775808.0)
            return not_whole();
        return std::optional<std::int64_t>(static_cast<std::int64_t>(d));
    }
    return usage(fmt::format("\"{}\" must be a number, got {}", key, json_text(*v)));
}

cli::CliResult<std::int64_t> req_bounded(const Json& args, std::string_view key, std::int64_t min,
                                         std::int64_t max) {
    auto value = VEMOR_CLI_TRY(opt_int(args, key));
    if (!value) return usage(fmt::format("missing required argument \"{}\"", key));
    if (*value < min || *value > max)
        return usage(fmt::format("\"{}\" must be between {} and {}, got {}", key, min, max, *value));
    return *value;
}

cli::CliResult<std::int32_t> req_i32(const Json& args, std::string_view key) {
    auto v = VEMOR_CLI_TRY(req_bounded(args, key, std::numeric_limits<std::int32_t>::min(),
                                       std::numeric_limits<std::int32_t>::max()));
    return static_cast<std::int32_t>(v);
}

cli::CliResult<std::int64_t> opt_bounded(const Json& args, std::string_view key,
                                         std::int64_t fallback, const Bounds& bounds) {
    auto value = VEMOR_CLI_TRY(opt_int(args, key));
    if (!value) return fallback;
    auto max = static_cast<std::int64_t>(bounds.maximum);
    if (*value < bounds.minimum || *value > max)
        return usage(fmt::format("\"{}\" must be between {} and {}, got {}", key, bounds.minimum,
                                 bounds.maximum, *value));
    return *value;
}

cli::CliResult<std::optional<std::uint32_t>> pid_arg(const Json& args) {
    auto value = VEMOR_CLI_TRY(opt_int(args, "pid"));
    if (!value) return std::optional<std::uint32_t>{};
    if (*value < 1 || *value > 4294967295LL)
        return usage(fmt::format("\"pid\" must be between 1 and 4294967295, got {}", *value));
    return std::optional<std::uint32_t>(static_cast<std::uint32_t>(*value));
}

cli::CliResult<std::vector<Key>> held_keys(const Json& args) {
    const Json* v = present(args, "held");
    if (!v) return std::vector<Key>{};
    if (!v->is_array()) return usage("\"held\" must be an array of key names");
    std::string joined;
    bool first = true;
    for (const Json& entry : *v) {
        if (!entry.is_string()) return usage("\"held\" entries must be key-name strings");
        const auto& s = entry.get_ref<const std::string&>();
        if (s.empty()) return usage("\"held\" entries must not be empty");
        if (!first) joined += ',';
        first = false;
        joined += s;
    }
    return cli::parse_held(std::string_view(joined));
}

cli::CliResult<std::uint64_t> opt_usize(const Json& args) {
    auto ms = VEMOR_CLI_TRY(opt_bounded(args, "duration_ms", kDefaultDragDurationMs, kDragDurationMs));
    return static_cast<std::uint64_t>(ms);
}

cli::CliResult<cli::Target> target(const Json& args) {
    auto app = VEMOR_CLI_TRY(opt_string_key(args, "app"));
    auto pid = VEMOR_CLI_TRY(pid_arg(args));
    auto shell = VEMOR_CLI_TRY(opt_string_key(args, "shell"));
    if (app && shell)
        return usage(
            "give \"app\" or \"shell\", not both: \"shell\" targets an OS shell surface (the "
            "`shell` tool lists them) and \"app\" targets a running application. Use \"pid\" with "
            "\"shell\" to pick between surfaces of one kind");
    if (!app && !pid && !shell)
        return usage(
            "specify \"app\" (application name, matched exactly) or \"pid\" (process id); the "
            "`apps` tool lists both for every running application, and \"shell\" targets an OS "
            "shell surface instead");
    cli::Opts opts;
    opts.app = std::move(app);
    opts.pid = pid;
    opts.shell = std::move(shell);
    return cli::resolve_target(opts);
}

void target_fields(const cli::Target& target, Json& map) {
    if (const App* app = target.app()) {
        map["application"] = app->name();
        map["pid"] = pid_json(app->pid());
    } else if (const ShellSurface* shell = target.shell()) {
        map["shell"] = Json{{"kind", std::string(shell_surface_kind::to_snake_case(shell->kind()))},
                            {"name", shell->name()},
                            {"pid", pid_json(shell->pid())}};
        map["pid"] = pid_json(shell->pid());
    }
}

cli::CliError ambiguous(std::size_t count, std::string_view selector,
                        std::span<const Element> matches) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < matches.size() && i < kMaxCandidates; ++i)
        lines.push_back(describe_candidate(matches[i].data()));
    if (count > kMaxCandidates) lines.push_back(fmt::format("… (+{} more matches)", count - kMaxCandidates));
    Diagnosis d = Diagnosis{}
                      .with_selector(std::string(selector))
                      .with_last_observed(fmt::format("selector matched {} elements", count))
                      .with_candidates(std::move(lines));
    return cli::CliError::AmbiguousSelector{count, std::move(d)};
}

// ---- Query tools -------------------------------------------------------------------------------

cli::CliResult<ToolOutput> tool_apps() {
    auto handle = VEMOR_CLI_TRY(facade::provider());
    auto apps = VEMOR_CLI_TRY(App::list_with(handle));
    Json list = Json::array();
    for (const App& app : apps)
        list.push_back(Json{{"pid", pid_json(app.pid())},
                            {"name", app.name()},
                            {"foreground", app.data().states.focused}});
    Json result = Json::object();
    result["count"] = list.size();
    result["applications"] = std::move(list);
    return ToolOutput::json(std::move(result));
}

cli::CliResult<ToolOutput> tool_shell() {
    auto handle = VEMOR_CLI_TRY(facade::provider());
    auto surfaces = VEMOR_CLI_TRY(ShellSurface::list_with(handle));
    Json list = Json::array();
    for (const ShellSurface& s : surfaces)
        list.push_back(Json{{"kind", std::string(shell_surface_kind::to_snake_case(s.kind()))},
                            {"name", s.name()},
                            {"pid", pid_json(s.pid())}});
    Json result = Json::object();
    result["count"] = list.size();
    result["surfaces"] = std::move(list);
    return ToolOutput::json(std::move(result));
}

cli::CliResult<ToolOutput> tool_windows(const Json& args) {
    if (has_key(args, "shell"))
        return usage(
            "`windows` lists application windows, not shell surfaces; call `shell` and pass the "
            "result to `tree` / `find` / `action`");
    auto limit = static_cast<std::size_t>(
        VEMOR_CLI_TRY(opt_bounded(args, "limit", kDefaultListLimit, kListLimit)));
    std::vector<App> apps;
    if (!has_key(args, "app") && !has_key(args, "pid")) {
        apps = VEMOR_CLI_TRY(facade::AppExt::list());
    } else {
        auto app = VEMOR_CLI_TRY(opt_string_key(args, "app"));
        auto pid = VEMOR_CLI_TRY(pid_arg(args));
        if (!app && !pid) return usage(std::string(kSpecifyApp));
        cli::Opts opts;
        opts.app = std::move(app);
        opts.pid = pid;
        apps = VEMOR_CLI_TRY(cli::resolve_apps(opts));
    }
    std::vector<Element> windows;
    std::vector<std::string> errors;
    for (const App& app : apps) {
        auto listed = app.windows();
        if (!listed) {
            errors.push_back(fmt::format("{}: {}", app.name(), listed.error().message()));
            continue;
        }
        for (Element& w : *listed) windows.push_back(std::move(w));
    }
    windows = cli::dedup_windows(std::move(windows));
    Json listed = Json::array();
    for (std::size_t i = 0; i < windows.size() && i < limit; ++i)
        listed.push_back(element_data_json(windows[i].data()));
    Json error_lines = Json::array();
    for (std::size_t i = 0; i < errors.size() && i < limit; ++i) error_lines.push_back(errors[i]);
    Json result = Json::object();
    result["count"] = windows.size();
    result["returned"] = listed.size();
    result["truncated"] = windows.size() > limit;
    result["windows"] = std::move(listed);
    result["errors"] = std::move(error_lines);
    result["errors_truncated"] = errors.size() > limit;
    return ToolOutput::json(std::move(result));
}

cli::CliResult<ToolOutput> tool_tree(const Json& args) {
    auto max_depth = static_cast<std::size_t>(
        VEMOR_CLI_TRY(opt_bounded(args, "max_depth", kDefaultTreeDepth, kTreeDepth)));
    cli::Target t = VEMOR_CLI_TRY(target(args));
    std::size_t budget = kTreeNodeLimit;
    bool by_depth = false;
    Json tree = build_node(t.root(), max_depth, 0, budget, by_depth, &t);
    Json result = Json::object();
    target_fields(t, result);
    result["max_depth"] = max_depth;
    result["truncated"] = Json{{"by_depth", by_depth},
                               {"by_node_limit", budget == 0},
                               {"node_limit", kTreeNodeLimit}};
    result["tree"] = std::move(tree);
    return ToolOutput::json(std::move(result));
}

cli::CliResult<ToolOutput> tool_find(const Json& args) {
    std::string selector = VEMOR_CLI_TRY(req_str(args, "selector"));
    auto limit = static_cast<std::size_t>(
        VEMOR_CLI_TRY(opt_bounded(args, "limit", kDefaultListLimit, kListLimit)));
    cli::Target t = VEMOR_CLI_TRY(target(args));
    Locator locator = t.locator(selector);
    std::vector<Element> matches = VEMOR_CLI_TRY(locator.elements());
    if (matches.empty()) {
        // A second resolution gives the diagnosed miss; should it find something after all,
        // that one element is the answer.
        Element found = VEMOR_CLI_TRY(locator.element());
        matches.push_back(std::move(found));
    }
    Json listed = Json::array();
    for (std::size_t i = 0; i < matches.size() && i < limit; ++i)
        listed.push_back(element_data_json(matches[i].data()));
    Json result = Json::object();
    result["selector"] = selector;
    target_fields(t, result);
    result["match_count"] = matches.size();
    result["returned"] = listed.size();
    result["truncated"] = matches.size() > limit;
    result["matches"] = std::move(listed);
    return ToolOutput::json(std::move(result));
}

cli::CliResult<ToolOutput> tool_action(const Json& args) {
    std::string action = VEMOR_CLI_TRY(req_str(args, "action"));
    std::string selector = VEMOR_CLI_TRY(req_str(args, "selector"));
    auto value = VEMOR_CLI_TRY(opt_string_key(args, "value"));
    auto at = VEMOR_CLI_TRY(opt_string_key(args, "at"));
    auto size = VEMOR_CLI_TRY(opt_str(args, "size"));
    auto opt_view = [](const std::optional<std::string>& s) {
        return s ? std::optional<std::string_view>(*s) : std::nullopt;
    };
    cli::ActionArgs parsed =
        VEMOR_CLI_TRY(cli::parse_action_args(action, opt_view(value), opt_view(at), opt_view(size)));
    // The verb is an argument too: an unknown one is refused before anything is resolved.
    VEMOR_CLI_TRY_VOID(cli::check_action_name(action));
    cli::Target t = VEMOR_CLI_TRY(target(args));
    return tool_action_parsed(t, action, selector, parsed);
}

cli::CliResult<ToolOutput> tool_action_parsed(const cli::Target& target, std::string_view action,
                                              std::string_view selector,
                                              const cli::ActionArgs& parsed) {
    Locator locator = target.locator(selector);
    std::vector<Element> matches = VEMOR_CLI_TRY(locator.elements());
    if (matches.size() >= 2) return cli::fail_cli(ambiguous(matches.size(), selector, matches));
    VEMOR_CLI_TRY_VOID(cli::perform_action(locator, action, parsed));
    Json result = Json::object();
    result["ok"] = true;
    result["action"] = std::string(action);
    result["selector"] = std::string(selector);
    target_fields(target, result);
    return ToolOutput::json(std::move(result));
}

cli::CliResult<ToolOutput> tool_screenshot(const Json& args) {
    static constexpr std::array<std::string_view, 4> kRegionKeys{"x", "y", "width", "height"};
    std::vector<std::string_view> given, missing;
    for (std::string_view key : kRegionKeys) (present(args, key) ? given : missing).push_back(key);
    std::optional<Rect> region;
    if (!given.empty() && !missing.empty())
        return usage(fmt::format(
            "a screenshot region needs all of x, y, width, height (missing: {})",
            fmt::join(missing, ", ")));
    if (missing.empty()) {
        auto width = VEMOR_CLI_TRY(req_bounded(args, "width", kRegionSize.minimum,
                                               static_cast<std::int64_t>(kRegionSize.maximum)));
        auto height = VEMOR_CLI_TRY(req_bounded(args, "height", kRegionSize.minimum,
                                                static_cast<std::int64_t>(kRegionSize.maximum)));
        auto x = VEMOR_CLI_TRY(req_i32(args, "x"));
        auto y = VEMOR_CLI_TRY(req_i32(args, "y"));
        region = Rect{x, y, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
    }

    std::vector<std::string> selectors;
    if (const Json* annotate = present(args, "annotate")) {
        if (!annotate->is_array())
            return usage("\"annotate\" must be an array of selectors, one per annotation group");
        for (const Json& entry : *annotate) {
            if (!entry.is_string()) return usage("\"annotate\" entries must be selector strings");
            if (entry.get_ref<const std::string&>().empty())
                return usage("\"annotate\" entries must not be empty");
            selectors.push_back(entry.get<std::string>());
        }
    }
    std::vector<std::string> target_keys;
    for (std::string_view key : {"app", "pid", "shell"})
        if (present(args, key)) target_keys.push_back(fmt::format("\"{}\"", key));
    if (!selectors.empty() && target_keys.empty())
        return usage(
            "\"annotate\" resolves selectors against a target, and this call names none: add "
            "\"app\" (application name), \"pid\" (process id), or \"shell\" (an OS shell surface). "
            "Drop \"annotate\" for a plain capture, which needs no target");
    if (selectors.empty() && !target_keys.empty()) {
        std::string keys = target_keys.size() == 1
                               ? target_keys[0]
                               : fmt::format("{} and {}",
                                             fmt::join(target_keys.begin(), target_keys.end() - 1, ", "),
                                             target_keys.back());
        std::string_view pronoun = target_keys.size() == 1 ? "it" : "them";
        return usage(fmt::format(
            "{} without \"annotate\" does nothing: a target is only read to resolve annotation "
            "selectors, and it never crops the capture. Add \"annotate\" (an array of selectors) "
            "to box that target's elements, or drop {} for a plain capture — use "
            "\"x\"/\"y\"/\"width\"/\"height\" to capture part of the screen",
            keys, pronoun));
    }

    if (selectors.empty()) {
        Screenshot shot = region ? VEMOR_CLI_TRY(facade::screenshot_region(*region))
                                 : VEMOR_CLI_TRY(facade::screenshot());
        std::vector<std::uint8_t> png = VEMOR_CLI_TRY(shot.to_png());
        return ToolOutput::png(png, capture_summary(shot, png.size()));
    }
    cli::Target t = VEMOR_CLI_TRY(target(args));
    std::vector<Locator> locators = cli::annotation_locators(selectors, t);
    Annotated annotated = VEMOR_CLI_TRY(facade::screenshot_annotated(region, locators));
    std::vector<std::uint8_t> png = VEMOR_CLI_TRY(annotated.image.to_png());
    Json summary = capture_summary(annotated.image, png.size());
    summary["legend"] = VEMOR_CLI_TRY(legend_json("legend", annotated.legend));
    summary["omitted"] = VEMOR_CLI_TRY(legend_json("omitted", annotated.omitted));
    summary["truncated"] = annotated.truncated;
    return ToolOutput::png(png, std::move(summary));
}

// ---- Event tools -------------------------------------------------------------------------------

cli::CliResult<ToolOutput> tool_events_start(events::Registry& registry, const Json& args) {
    std::optional<std::vector<std::string>> kinds;
    if (const Json* list = present(args, "kinds")) {
        if (!list->is_array())
            return usage("\"kinds\" must be an array of event-kind names, e.g. [\"focus_changed\"]");
        if (list->empty())
            return usage(
                "\"kinds\" must name at least one event kind; omit it to receive every kind");
        const auto& names = cli::event_kind_names();
        kinds.emplace();
        for (const Json& entry : *list) {
            if (!entry.is_string() || entry.get_ref<const std::string&>().empty())
                return usage("each entry in \"kinds\" must be a non-empty event-kind name");
            const auto& name = entry.get_ref<const std::string&>();
            if (std::find(names.begin(), names.end(), name) == names.end())
                return usage(fmt::format("unknown event kind: \"{}\" (expected one of {})", name,
                                         fmt::join(names, ", ")));
            if (std::find(kinds->begin(), kinds->end(), name) == kinds->end())
                kinds->push_back(name);
        }
    }
    if (const Json* shell = present(args, "shell")) {
        if (shell->is_string())
            return usage(
                "\"shell\" is not a target for the event tools: accessibility events are "
                "subscribed per application, and a shell surface has no subscription of its own. "
                "Give \"app\" or \"pid\"");
        return usage("\"shell\" must be a string");
    }
    auto app_name = VEMOR_CLI_TRY(opt_string_key(args, "app"));
    auto pid = VEMOR_CLI_TRY(pid_arg(args));
    if (!app_name && !pid) return usage(std::string(kSpecifyApp));
    cli::Opts opts;
    opts.app = std::move(app_name);
    opts.pid = pid;
    App app = VEMOR_CLI_TRY(cli::resolve_app(opts));
    Subscription subscription = VEMOR_CLI_TRY(app.subscribe());
    Json result =
        VEMOR_CLI_TRY(registry.start(app.name(), app.pid(), std::move(subscription), std::move(kinds)));
    return ToolOutput::json(std::move(result));
}

cli::CliResult<ToolOutput> tool_events_poll(events::Registry& registry, const Json& args) {
    std::string id = VEMOR_CLI_TRY(req_str(args, "subscription_id"));
    auto max = VEMOR_CLI_TRY(opt_bounded(args, "max", kDefaultPollMax, kListLimit));
    auto timeout_ms = VEMOR_CLI_TRY(opt_bounded(args, "timeout_ms", 0, kPollTimeoutMs));
    Json result = VEMOR_CLI_TRY(registry.poll(id, static_cast<std::size_t>(max),
                                              std::chrono::milliseconds(timeout_ms)));
    return ToolOutput::json(std::move(result));
}

cli::CliResult<ToolOutput> tool_events_stop(events::Registry& registry, const Json& args) {
    std::string id = VEMOR_CLI_TRY(req_str(args, "subscription_id"));
    Json result = VEMOR_CLI_TRY(registry.stop(id));
    return ToolOutput::json(std::move(result));
}

// ---- Input tools -------------------------------------------------------------------------------

namespace {

cli::CliResult<MouseButton> button_arg(const Json& args) {
    auto name = VEMOR_CLI_TRY(opt_str(args, "button"));
    if (!name) return MouseButton::Left;
    return cli::parse_button(*name);
}

}  // namespace

cli::CliResult<ToolOutput> tool_click(const Json& args) {
    std::int32_t x = VEMOR_CLI_TRY(req_i32(args, "x"));
    std::int32_t y = VEMOR_CLI_TRY(req_i32(args, "y"));
    MouseButton button = VEMOR_CLI_TRY(button_arg(args));
    auto count = VEMOR_CLI_TRY(opt_bounded(args, "count", 1, kClickCount));
    std::vector<Key> held = VEMOR_CLI_TRY(held_keys(args));
    ClickOptions options;
    options.button = button;
    options.count = static_cast<std::uint32_t>(count);
    options.held = std::move(held);
    auto input = VEMOR_CLI_TRY(facade::input_sim());
    VEMOR_CLI_TRY_VOID(Mouse(input).click_with(Point{x, y}, options));
    return ToolOutput::json(Json{{"ok", true}, {"x", x}, {"y", y}});
}

cli::CliResult<ToolOutput> tool_move(const Json& args) {
    std::int32_t x = VEMOR_CLI_TRY(req_i32(args, "x"));
    std::int32_t y = VEMOR_CLI_TRY(req_i32(args, "y"));
    auto input = VEMOR_CLI_TRY(facade::input_sim());
    VEMOR_CLI_TRY_VOID(input->pointer_move(Point{x, y}));
    return ToolOutput::json(Json{{"ok", true}, {"x", x}, {"y", y}});
}

cli::CliResult<ToolOutput> tool_drag(const Json& args) {
    std::int32_t from_x = VEMOR_CLI_TRY(req_i32(args, "from_x"));
    std::int32_t from_y = VEMOR_CLI_TRY(req_i32(args, "from_y"));
    std::int32_t to_x = VEMOR_CLI_TRY(req_i32(args, "to_x"));
    std::int32_t to_y = VEMOR_CLI_TRY(req_i32(args, "to_y"));
    MouseButton button = VEMOR_CLI_TRY(button_arg(args));
    std::uint64_t duration_ms = VEMOR_CLI_TRY(opt_usize(args));
    std::vector<Key> held = VEMOR_CLI_TRY(held_keys(args));
    DragOptions options;
    options.button = button;
    options.held = std::move(held);
    options.duration = std::chrono::milliseconds(duration_ms);
    auto input = VEMOR_CLI_TRY(facade::input_sim());
    VEMOR_CLI_TRY_VOID(Mouse(input).drag_with(Point{from_x, from_y}, Point{to_x, to_y}, options));
    return ToolOutput::json(Json{{"ok", true},
                                 {"from", {{"x", from_x}, {"y", from_y}}},
                                 {"to", {{"x", to_x}, {"y", to_y}}}});
}

cli::CliResult<ToolOutput> tool_scroll(const Json& args) {
    std::int32_t x = VEMOR_CLI_TRY(req_i32(args, "x"));
    std::int32_t y = VEMOR_CLI_TRY(req_i32(args, "y"));
    auto dx = static_cast<std::int32_t>(VEMOR_CLI_TRY(opt_bounded(args, "dx", 0, kCoordinate)));
    auto dy = static_cast<std::int32_t>(VEMOR_CLI_TRY(opt_bounded(args, "dy", 0, kCoordinate)));
    auto input = VEMOR_CLI_TRY(facade::input_sim());
    VEMOR_CLI_TRY_VOID(input->pointer_scroll(Point{x, y}, dx, dy));
    return ToolOutput::json(Json{{"ok", true}, {"x", x}, {"y", y}, {"dx", dx}, {"dy", dy}});
}

cli::CliResult<ToolOutput> tool_type(const Json& args) {
    std::string text = VEMOR_CLI_TRY(req_str(args, "text"));
    auto input = VEMOR_CLI_TRY(facade::input_sim());
    VEMOR_CLI_TRY_VOID(Keyboard(input).type_text(text));
    return ToolOutput::json(Json{{"ok", true}, {"typed_characters", scalar_count(text)}});
}

cli::CliResult<ToolOutput> tool_key(const Json& args) {
    std::string name = VEMOR_CLI_TRY(req_str(args, "key"));
    Key key = VEMOR_CLI_TRY(cli::parse_key_name(name));
    std::vector<Key> held = VEMOR_CLI_TRY(held_keys(args));
    auto input = VEMOR_CLI_TRY(facade::input_sim());
    Keyboard keyboard(input);
    if (held.empty())
        VEMOR_CLI_TRY_VOID(keyboard.press(key));
    else
        VEMOR_CLI_TRY_VOID(keyboard.chord(key, held));
    return ToolOutput::json(Json{{"ok", true}, {"key", name}});
}

}  // namespace tools

cli::CliResult<ToolOutput> VemorTools::call(std::string_view name, const Json& arguments) {
    using namespace tools;
    if (name == "apps") return tool_apps();
    if (name == "shell") return tool_shell();
    if (name == "windows") return tool_windows(arguments);
    if (name == "tree") return tool_tree(arguments);
    if (name == "find") return tool_find(arguments);
    if (name == "action") return tool_action(arguments);
    if (name == "click") return tool_click(arguments);
    if (name == "move") return tool_move(arguments);
    if (name == "drag") return tool_drag(arguments);
    if (name == "scroll") return tool_scroll(arguments);
    if (name == "key") return tool_key(arguments);
    if (name == "type") return tool_type(arguments);
    if (name == "screenshot") return tool_screenshot(arguments);
    if (name == "events_start") return tool_events_start(registry_, arguments);
    if (name == "events_poll") return tool_events_poll(registry_, arguments);
    if (name == "events_stop") return tool_events_stop(registry_, arguments);
    return cli::usage_error(fmt::format("unknown tool: {}", name));
}

}  // namespace vemor::mcp
