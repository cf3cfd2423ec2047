#include "vemor/facade/target.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "vemor/facade/providers.hpp"

namespace vemor::cli {

namespace {

// Applications are looked up once: a front end reports "not running" at once, never waits.
constexpr Duration kNoWait{0};

std::string replace_all(std::string_view text, char from, char to) {
    std::string out(text);
    for (char& c : out)
        if (c == from) c = to;
    return out;
}

// The core speaks snake_case operation names; the user typed the kebab-case action name. Only
// an error naming exactly that action is rewritten.
Error rename_action(Error error, std::string_view action) {
    if (const auto* e = error.as<Error::ActionNotSupported>()) {
        if (replace_all(e->action, '_', '-') == action)
            return Error::ActionNotSupported{std::string(action), e->role};
        return error;
    }
    if (const auto* e = error.as<Error::Unsupported>()) {
        const std::string snake = replace_all(action, '-', '_');
        std::string_view feature = e->feature;
        if (!feature.starts_with(snake)) return error;
        std::string_view rest = feature.substr(snake.size());
        if (!rest.empty()) {
            // The next character must end the word: not a letter, digit or underscore.
            const char32_t next = text::decode_utf8(rest.substr(0, 4)).front();
            if (next == U'_' || text::is_alphanumeric(next)) return error;
        }
        return Error::Unsupported{fmt::format("{}{}", action, rest)};
    }
    return error;
}

Result<void> run_action(const Locator& locator, ActionNeed need, std::string_view action,
                        const ActionArgs& args) {
    switch (need) {
        case ActionNeed::Text:
            return action == "set-value" ? locator.set_value(*args.text)
                                         : locator.type_text(*args.text);
        case ActionNeed::Number: return locator.set_numeric_value(*args.number);
        case ActionNeed::Selection:
            return locator.select_text(args.selection->first, args.selection->second);
        case ActionNeed::Point: return locator.move_to(args.point->x, args.point->y);
        case ActionNeed::Size: return locator.resize_to(args.size->first, args.size->second);
        case ActionNeed::None: break;
    }
    if (action == "press") return locator.press();
    if (action == "focus") return locator.focus();
    if (action == "blur") return locator.blur();
    if (action == "toggle") return locator.toggle();
    if (action == "expand") return locator.expand();
    if (action == "collapse") return locator.collapse();
    if (action == "select") return locator.select();
    if (action == "show-menu") return locator.show_menu();
    if (action == "scroll-into-view") return locator.scroll_into_view();
    if (action == "increment") return locator.increment();
    if (action == "decrement") return locator.decrement();
    if (action == "minimize") return locator.minimize();
    if (action == "maximize") return locator.maximize();
    if (action == "enter-fullscreen") return locator.enter_fullscreen();
    if (action == "restore") return locator.restore();
    if (action == "close") return locator.close();
    return locator.activate();
}

bool has_argument(ActionNeed need, const ActionArgs& args) {
    switch (need) {
        case ActionNeed::None: return true;
        case ActionNeed::Text: return args.text.has_value();
        case ActionNeed::Number: return args.number.has_value();
        case ActionNeed::Selection: return args.selection.has_value();
        case ActionNeed::Point: return args.point.has_value();
        case ActionNeed::Size: return args.size.has_value();
    }
    return false;
}

std::string missing_argument_message(ActionNeed need, std::string_view action) {
    switch (need) {
        case ActionNeed::Point: return fmt::format("{} requires --at X,Y", action);
        case ActionNeed::Size: return fmt::format("{} requires --size W,H", action);
        default: return fmt::format("{} requires a value", action);
    }
}

// The table entry of an action name (exact, case-sensitive), or null.
const ActionEntry* find_action(std::string_view action) {
    for (const auto& a : ACTIONS)
        if (a.name == action) return &a;
    return nullptr;
}

}  // namespace

const ProviderHandle& Target::provider() const {
    if (const auto* a = app()) return a->provider();
    return shell()->provider();
}

Element Target::root() const {
    if (const auto* a = app()) return Element(a->data(), a->provider());
    return shell()->as_element();
}

Locator Target::locator(std::string_view selector) const {
    if (const auto* a = app()) return a->locator(selector);
    return shell()->locator(selector);
}

CliResult<App> resolve_app(const Opts& opts) {
    if (opts.app) {
        auto handle = VEMOR_CLI_TRY(facade::provider());
        return VEMOR_CLI_TRY(App::by_name_with(handle, *opts.app, kNoWait));
    }
    if (opts.pid) {
        auto handle = VEMOR_CLI_TRY(facade::provider());
        return VEMOR_CLI_TRY(App::by_pid_with(handle, *opts.pid, kNoWait));
    }
    return usage_error("specify --app NAME or --pid PID");
}

CliResult<std::vector<App>> resolve_apps(const Opts& opts) {
    auto app = VEMOR_CLI_TRY(resolve_app(opts));
    std::vector<App> out;
    out.push_back(std::move(app));
    return out;
}

CliResult<Target> resolve_target(const Opts& opts) {
    if (!opts.shell) return Target(VEMOR_CLI_TRY(resolve_app(opts)));
    if (opts.app)
        return usage_error(
            "--shell and --app are mutually exclusive: --shell targets an OS shell surface, "
            "--app a running application. Use --pid alongside --shell to pick between surfaces "
            "of one kind.");
    auto kind = shell_surface_kind::from_snake_case(*opts.shell);
    if (!kind)
        return usage_error(fmt::format("unknown shell surface kind: {} (expected one of: {})",
                                       *opts.shell, fmt::join(shell_kind_names(), ", ")));
    auto handle = VEMOR_CLI_TRY(facade::provider());
    auto surfaces = VEMOR_CLI_TRY(ShellSurface::list_with(handle));

    const std::string_view kind_name = shell_surface_kind::to_snake_case(*kind);
    const std::string selector =
        opts.pid ? fmt::format("shell_surface[kind={}][pid={}]", kind_name, *opts.pid)
                 : fmt::format("shell_surface[kind={}]", kind_name);
    std::vector<ShellSurface> matching;
    std::vector<ShellSurface> others;
    for (auto& s : surfaces) {
        const bool match = s.kind() == *kind && (!opts.pid || s.pid() == opts.pid);
        (match ? matching : others).push_back(std::move(s));
    }
    if (matching.size() == 1) return Target(std::move(matching.front()));
    if (matching.size() > 1) {
        std::string last_observed =
            opts.pid ? fmt::format("{} {} surfaces share pid {}; pid is the only disambiguator, "
                                   "so this operation cannot pick between them",
                                   matching.size(), kind_name, *opts.pid)
                     : fmt::format("{} {} surfaces are present; `vemor shell` lists their pids",
                                   matching.size(), kind_name);
        return fail_cli(CliError::AmbiguousShellSurface{
            matching.size(), std::string(kind_name),
            Diagnosis{}
                .with_condition(fmt::format("exactly one {} shell surface", kind_name))
                .with_last_observed(std::move(last_observed))
                .with_candidates(describe_shell_surfaces(matching))});
    }
    std::string absence = opts.pid
                              ? fmt::format("no {} surface with pid {} is present", kind_name, *opts.pid)
                              : fmt::format("no {} surface is present", kind_name);
    Diagnosis diagnosis =
        Diagnosis{}
            .with_condition(fmt::format("a {} shell surface", kind_name))
            .with_last_observed(
                fmt::format("{}; {} other shell surface(s) enumerated", absence, others.size()))
            .with_candidates(describe_shell_surfaces(others));
    return fail_cli(CliError(
        Error::diagnose(Error::SelectorNotMatched{selector, std::nullopt}, std::move(diagnosis))));
}

std::vector<std::string> describe_shell_surfaces(std::span<const ShellSurface> surfaces) {
    return shell::surface_candidates(surfaces);
}

const std::vector<std::string_view>& shell_kind_names() {
    static const auto& names = *new std::vector<std::string_view>([] {
        std::vector<std::string_view> out;
        out.reserve(shell_surface_kind::kNames.size());
        for (const auto& entry : shell_surface_kind::kNames) out.push_back(entry.name);
        return out;
    }());
    return names;
}

std::vector<std::string_view> action_names() {
    std::vector<std::string_view> out;
    out.reserve(ACTIONS.size());
    for (const auto& a : ACTIONS) out.push_back(a.name);
    return out;
}

CliResult<void> check_action_name(std::string_view action) {
    if (find_action(action) != nullptr) return {};
    return usage_error(fmt::format("unknown action: {} (expected one of: {})", action,
                                   fmt::join(action_names(), ", ")));
}

CliResult<void> perform_action(const Locator& locator, std::string_view action,
                               const ActionArgs& args) {
    VEMOR_CLI_TRY_VOID(check_action_name(action));
    const ActionEntry* entry = find_action(action);
    if (!has_argument(entry->need, args))
        return usage_error(missing_argument_message(entry->need, action));
    auto done = run_action(locator, entry->need, action, args);
    if (!done) return fail_cli(CliError(rename_action(std::move(done).error(), action)));
    return {};
}

}  // namespace vemor::cli
