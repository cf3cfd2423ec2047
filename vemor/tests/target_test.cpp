#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "facade_test_support.hpp"
#include "vemor/config.hpp"
#include "vemor/facade/providers.hpp"
#include "vemor/facade/target.hpp"
#include "vemor/standin/control.hpp"

namespace vemor::cli {
namespace {

namespace pids = standin::default_pids;

std::string usage_text(const CliError& e) {
    const auto* u = e.as<CliError::Usage>();
    return u ? u->message : "not a usage error: " + e.message();
}

Opts opts_of(std::vector<std::string> words) { return parse_opts(words).value(); }

TEST(ResolveTarget, UsageErrorsComeBeforeAnyLookup) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "specify --app NAME or --pid PID"},
        {{"--shell", "Dock", "--app", "TextEdit"},
         "--shell and --app are mutually exclusive: --shell targets an OS shell surface, --app a "
         "running application. Use --pid alongside --shell to pick between surfaces of one kind."},
        {{"--shell", "Dock"},
         "unknown shell surface kind: Dock (expected one of: menu_bar, status_items, taskbar, "
         "panel, dock, desktop, flyout, unknown)"},
        {{"--shell", "status-items"},
         "unknown shell surface kind: status-items (expected one of: menu_bar, status_items, "
         "taskbar, panel, dock, desktop, flyout, unknown)"},
    };
    for (const auto& [words, message] : cases) {
        auto target = resolve_target(opts_of(words));
        ASSERT_FALSE(target) << message;
        EXPECT_EQ(usage_text(target.error()), message);
    }
    EXPECT_EQ(usage_text(resolve_apps(Opts{}).error()), "specify --app NAME or --pid PID");
}

TEST(ResolveApp, ByNameFirstThenByPid) {
    auto by_name = resolve_app(opts_of({"--app", "TextEdit", "--pid", "99999"}));
    ASSERT_TRUE(by_name) << by_name.error().message();
    EXPECT_EQ(by_name->pid(), std::optional<std::uint32_t>(pids::kTextEdit));

    auto by_pid = resolve_apps(opts_of({"--pid", std::to_string(pids::kNotes)}));
    ASSERT_TRUE(by_pid) << by_pid.error().message();
    ASSERT_EQ(by_pid->size(), 1u);
    EXPECT_EQ(by_pid->front().name(), "Notes");

    for (auto words : {std::vector<std::string>{"--app", "Nope"}, {"--pid", "0"}}) {
        auto missing = resolve_app(opts_of(words));
        ASSERT_FALSE(missing);
        ASSERT_NE(missing.error().core(), nullptr) << missing.error().message();
        EXPECT_TRUE(missing.error().core()->is<Error::SelectorNotMatched>());
    }
}

TEST(ResolveTarget, RootOfAnApplicationAndOfASurface) {
    auto app = resolve_target(opts_of({"--app", "Finder"}));
    ASSERT_TRUE(app) << app.error().message();
    ASSERT_NE(app->app(), nullptr);
    EXPECT_EQ(app->root().data(), app->app()->data());
    auto windows = app->locator("window").elements();
    ASSERT_TRUE(windows) << windows.error().message();
    EXPECT_EQ(windows->size(), 1u);

    auto dock = resolve_target(opts_of({"--shell", "dock"}));
    ASSERT_TRUE(dock) << dock.error().message();
    ASSERT_NE(dock->shell(), nullptr);
    EXPECT_EQ(dock->shell()->kind(), ShellSurfaceKind::Dock);
    EXPECT_EQ(dock->root().data(), dock->shell()->data());
    EXPECT_EQ(dock->shell()->pid(), std::optional<std::uint32_t>(pids::kDock));
}

TEST(ResolveTarget, NoSurfaceOfTheKindAndPid) {
    auto all = facade::ShellSurfaceExt::list();
    ASSERT_TRUE(all) << all.error().message();

    auto target = resolve_target(opts_of({"--shell", "dock", "--pid", "+5"}));
    ASSERT_FALSE(target);
    const Error* core = target.error().core();
    ASSERT_NE(core, nullptr) << target.error().message();
    const auto* miss = core->as<Error::SelectorNotMatched>();
    ASSERT_NE(miss, nullptr);
    EXPECT_EQ(miss->selector, "shell_surface[kind=dock][pid=5]");
    ASSERT_TRUE(miss->diagnosis);
    EXPECT_EQ(miss->diagnosis->condition, "a dock shell surface");
    EXPECT_EQ(miss->diagnosis->last_observed,
              "no dock surface with pid 5 is present; " + std::to_string(all->size()) +
                  " other shell surface(s) enumerated");
    EXPECT_EQ(miss->diagnosis->candidates, describe_shell_surfaces(*all));
    EXPECT_NE(std::find(miss->diagnosis->candidates.begin(), miss->diagnosis->candidates.end(),
                        "dock \"Dock\" (pid=120)"),
              miss->diagnosis->candidates.end());

    // "unknown" is a kind like any other.
    auto unknown = resolve_target(opts_of({"--shell", "unknown"}));
    ASSERT_FALSE(unknown);
    ASSERT_NE(unknown.error().core(), nullptr);
    EXPECT_EQ(unknown.error().core()->diagnosis()->last_observed,
              "no unknown surface is present; " + std::to_string(all->size()) +
                  " other shell surface(s) enumerated");
}

TEST(ResolveTarget, TwoSurfacesOfOneKindAreAmbiguous) {
    // A second process with a status-item bar beside the default SystemUIServer.
    auto spec = standin::parse_desktop_json(R"({
      "base": "default",
      "apps": [{"pid": 135, "name": "ExtraServer",
                "attributes": {"AXExtrasMenuBar": {"link": "extra.bar"}},
                "children": [
                  {"role": "AXMenuBar", "identifier": "extra.bar", "unlisted": true,
                   "frame": [1000, 0, 100, 24]},
                  {"role": "AXWindow", "title": "Extra", "frame": [10, 10, 100, 100]}]}]
    })",
                                            "two-status-bars");
    ASSERT_TRUE(spec) << spec.error();
    standin::ScopedDesktop desktop(*spec);

    auto target = resolve_target(opts_of({"--shell", "status_items"}));
    ASSERT_FALSE(target);
    const auto* ambiguous = target.error().as<CliError::AmbiguousShellSurface>();
    ASSERT_NE(ambiguous, nullptr) << target.error().message();
    EXPECT_EQ(ambiguous->count, 2u);
    EXPECT_EQ(ambiguous->kind, "status_items");
    EXPECT_EQ(ambiguous->diagnosis.condition, "exactly one status_items shell surface");
    EXPECT_EQ(ambiguous->diagnosis.last_observed,
              "2 status_items surfaces are present; `vemor shell` lists their pids");
    EXPECT_EQ(ambiguous->diagnosis.candidates,
              (std::vector<std::string>{"status_items \"SystemUIServer\" (pid=130)",
                                        "status_items \"ExtraServer\" (pid=135)"}));
    EXPECT_FALSE(ambiguous->diagnosis.selector);

    auto one = resolve_target(opts_of({"--shell", "status_items", "--pid", "135"}));
    ASSERT_TRUE(one) << one.error().message();
    EXPECT_EQ(one->shell()->name(), "ExtraServer");
}

TEST(DescribeShellSurfaces, TwentyLinesThenTheRestCounted) {
    auto mock = mock::build_provider();
    std::vector<ShellSurface> surfaces;
    for (int i = 0; i < 25; ++i) {
        ElementData data;
        data.name = "S\"" + std::to_string(i);
        if (i != 0) data.pid = static_cast<std::uint32_t>(i);
        surfaces.emplace_back(ShellSurfaceKind::Taskbar, data, mock);
    }
    auto lines = describe_shell_surfaces(surfaces);
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[0], "taskbar \"S\"0\"");
    EXPECT_EQ(lines[19], "taskbar \"S\"19\" (pid=19)");
    EXPECT_EQ(lines[20], "… (+5 more)");
    EXPECT_EQ(describe_shell_surfaces(std::span(surfaces).first(20)).size(), 20u);
    EXPECT_EQ(shell_kind_names().size(), 8u);
}

class PerformAction : public ::testing::Test {
protected:
    void SetUp() override { config::set_default_timeout(std::chrono::milliseconds(300)); }

    std::shared_ptr<MockProvider> mock = mock::build_provider();
    std::shared_ptr<facade_test::ScriptedProvider> scripted =
        std::make_shared<facade_test::ScriptedProvider>(mock);
    App app = App::from_data(scripted, mock->list_apps().value().front());
};

TEST_F(PerformAction, UnknownActionsAndMissingArguments) {
    const Locator back = app.locator("button[name=\"Back\"]");
    const std::pair<std::string, std::string> cases[] = {
        {"Press",
         "unknown action: Press (expected one of: press, focus, blur, toggle, expand, collapse, "
         "select, show-menu, scroll-into-view, increment, decrement, set-value, "
         "set-numeric-value, type-text, select-text, minimize, maximize, enter-fullscreen, "
         "restore, close, activate, move-to, resize-to)"},
        {"show_menu",
         "unknown action: show_menu (expected one of: press, focus, blur, toggle, expand, "
         "collapse, select, show-menu, scroll-into-view, increment, decrement, set-value, "
         "set-numeric-value, type-text, select-text, minimize, maximize, enter-fullscreen, "
         "restore, close, activate, move-to, resize-to)"},
        {"set-value", "set-value requires a value"},
        {"type-text", "type-text requires a value"},
        {"set-numeric-value", "set-numeric-value requires a value"},
        {"select-text", "select-text requires a value"},
        {"move-to", "move-to requires --at X,Y"},
        {"resize-to", "resize-to requires --size W,H"},
    };
    for (const auto& [action, message] : cases) {
        auto done = perform_action(back, action, ActionArgs{});
        ASSERT_FALSE(done) << action;
        EXPECT_EQ(usage_text(done.error()), message);
    }
    EXPECT_TRUE(mock->actions().empty());
    EXPECT_EQ(action_names().size(), ACTIONS.size());
}

TEST_F(PerformAction, RunsTheLocatorOperationWithItsArgument) {
    const Locator search = app.locator("text_field");
    ASSERT_TRUE(perform_action(app.locator("button[name=\"Back\"]"), "press", {}));
    ASSERT_TRUE(perform_action(search, "set-value", ActionArgs{.text = "hi"}));
    ASSERT_TRUE(perform_action(search, "select-text", ActionArgs{.selection = std::pair{1u, 2u}}));
    auto log = mock->actions();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].action, "press");
    EXPECT_EQ(log[0].handle, 3u);
    EXPECT_EQ(log[1].value, "hi");
    // The locator's own check still applies, after the table's.
    auto backwards = perform_action(search, "select-text", ActionArgs{.selection = std::pair{5u, 2u}});
    ASSERT_FALSE(backwards);
    EXPECT_EQ(backwards.error().message(),
              "Invalid action data: select_text start (5) must be <= end (2)");
}

TEST_F(PerformAction, ErrorsNameTheActionAsTyped) {
    auto fullscreen = perform_action(app.locator("button[name=\"Back\"]"), "enter-fullscreen", {});
    ASSERT_FALSE(fullscreen);
    ASSERT_NE(fullscreen.error().core(), nullptr);
    EXPECT_EQ(*fullscreen.error().core(),
              Error(Error::ActionNotSupported{"enter-fullscreen", Role::Button}));

    const Locator window = app.locator("window");
    scripted->scripted = Error::ActionNotSupported{"close", Role::Window};
    EXPECT_EQ(*perform_action(window, "minimize", {}).error().core(),
              Error(Error::ActionNotSupported{"close", Role::Window}));

    const std::pair<std::string, std::string> features[] = {
        {"scroll_into_view", "scroll-into-view"},
        {"scroll_into_view is not available here", "scroll-into-view is not available here"},
        {"scroll_into_view: no scroll area", "scroll-into-view: no scroll area"},
        {"scroll_into_view… later", "scroll-into-view… later"},
        {"scroll_into_viewer", "scroll_into_viewer"},
        {"scroll_into_view_2", "scroll_into_view_2"},
        {"scroll_into_viewé", "scroll_into_viewé"},
        {"scroll_into_view٣", "scroll_into_view٣"},
        {"scroll", "scroll"},
    };
    for (const auto& [feature, shown] : features) {
        scripted->scripted = Error::Unsupported{feature};
        auto done = perform_action(window, "scroll-into-view", {});
        ASSERT_FALSE(done);
        EXPECT_EQ(*done.error().core(), Error(Error::Unsupported{shown})) << feature;
    }
    // Only the error of the action that ran is rewritten.
    scripted->scripted = Error::Unsupported{"minimize is not available"};
    EXPECT_EQ(*perform_action(window, "scroll-into-view", {}).error().core(),
              Error(Error::Unsupported{"minimize is not available"}));
}

}  // namespace
}  // namespace vemor::cli
