#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>

#include <fmt/format.h>

#include "facade_test_support.hpp"
#include "temp_dir.hpp"
#include "vemor/facade/capture.hpp"
#include "vemor/facade/providers.hpp"
#include "vemor/macos/provider.hpp"
#include "vemor/macos/screenshot.hpp"
#include "vemor/standin/control.hpp"

namespace vemor::facade {
namespace {

// The folder of this program's desktop files, removed when the program exits. A death test's
// child runs its test again from the top in a new process, which ends with exit() and so would
// never remove a folder of its own: it writes into its parent's, named in the environment.
const std::filesystem::path& desktop_dir() {
    static std::optional<vemor::testing::TempDir> owned;
    static const std::filesystem::path dir = [] {
        constexpr const char* kVariable = "VEMOR_FACADE_TEST_DIR";
        if (const char* parents = std::getenv(kVariable)) return std::filesystem::path(parents);
        owned.emplace();
        ::setenv(kVariable, owned->path().c_str(), 1);
        return owned->path();
    }();
    return dir;
}

std::string write_file(const std::string& name, const std::string& text) {
    const std::filesystem::path path = desktop_dir() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

std::vector<std::string> app_names() {
    std::vector<std::string> out;
    auto apps = AppExt::list();
    if (!apps) return {apps.error().message()};
    for (const auto& a : *apps) out.push_back(a.name());
    return out;
}

TEST(OnceCell, AThrowingCreationLeavesTheCellEmpty) {
    OnceCell<Result<int>> cell;
    EXPECT_THROW(cell.get_or_init([]() -> Result<int> { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    EXPECT_EQ(cell.get(), nullptr);
    const auto& stored = cell.get_or_init([]() -> Result<int> { return fail(Error::NoElementBounds{}); });
    EXPECT_FALSE(stored);
    // An error result is kept: the next creation never runs.
    const auto& again = cell.get_or_init([]() -> Result<int> { return 1; });
    EXPECT_EQ(&again, &stored);
    EXPECT_FALSE(again);
}

TEST(OnceCell, ConcurrentFirstCallersShareOneCreation) {
    OnceCell<int> cell;
    std::atomic<int> creations{0};
    std::vector<std::jthread> threads;
    std::atomic<int> sum{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            sum += cell.get_or_init([&] {
                ++creations;
                return 5;
            });
        });
    threads.clear();
    EXPECT_EQ(creations.load(), 1);
    EXPECT_EQ(sum.load(), 40);
}

TEST(Provider, HandlesAreDistinctAndShareOneProvider) {
    auto first = provider();
    auto second = provider();
    ASSERT_TRUE(first && second) << (first ? second : first).error().message();
    EXPECT_NE(first->get(), second->get());
    const Provider* shared = *get_provider_ref();
    // An application found through one handle is listed through the other: one handle cache.
    auto finder = App::by_name_with(*first, "Finder", Duration{0});
    ASSERT_TRUE(finder) << finder.error().message();
    auto windows = (*second)->get_children(&finder->data());
    ASSERT_TRUE(windows) << windows.error().message();
    EXPECT_FALSE(windows->empty());
    first->reset();
    second->reset();
    EXPECT_EQ(*get_provider_ref(), shared);
    EXPECT_EQ(*PROVIDER.get(), shared);
}

TEST(InputSim, SimulatorsKeepTheirOwnHeldKeys) {
    auto a = input_sim();
    auto b = input_sim();
    ASSERT_TRUE(a) << a.error().message();
    ASSERT_TRUE(b) << b.error().message();
    ASSERT_TRUE(Keyboard(*a).down(Key{Key::Shift}));
    standin::clear_posted_events();
    ASSERT_TRUE(Mouse(*b).click_with(Point{5, 5}, ClickOptions{}));
    auto events = standin::posted_events();
    ASSERT_FALSE(events.empty());
    for (const auto& e : events) EXPECT_EQ(e.flags & kCGEventFlagMaskShift, 0u);
    ASSERT_TRUE(Keyboard(*a).up(Key{Key::Shift}));
}

TEST(ScreenshotAnnotated, OnTheSimulatedDesktop) {
    auto app = App::by_name_with(provider().value(), "TextEdit", Duration{0});
    ASSERT_TRUE(app) << app.error().message();
    std::vector<Locator> groups{app->locator("check_box"), app->locator("button[name=\"Save\"]")};
    auto result = screenshot_annotated(std::nullopt, groups);
    ASSERT_TRUE(result) << result.error().message();
    std::vector<std::string> tags;
    for (const auto& e : result->legend) tags.push_back(e.tag + " " + e.name.value_or("-"));
    EXPECT_EQ(tags, (std::vector<std::string>{"A1 Bold", "A2 Italic", "B1 Save"}));
    EXPECT_EQ(result->legend[0].bounds, (Rect{310, 134, 180, 20}));
    EXPECT_EQ(result->legend[2].selector, "button[name=\"Save\"]:nth(1)");
    EXPECT_EQ(result->image.width, 2880u);  // the default display: 1440 points at 2 px each
    EXPECT_TRUE(result->omitted.empty());

    auto region = screenshot_region(Rect{300, 100, 100, 50});
    ASSERT_TRUE(region) << region.error().message();
    EXPECT_EQ(region->width, 200u);
}

TEST(ProviderDeathTest, AFailedCreationIsKeptForTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            standin::set_trusted(false);
            auto first = provider();
            CHILD_CHECK(!first);
            CHILD_CHECK(first.error() ==
                        Error(Error::PermissionDenied{ax::accessibility_grant_instructions()}));
            standin::set_trusted(true);
            auto later = provider();
            CHILD_CHECK(!later && later.error() == first.error());
            auto apps = AppExt::list();
            CHILD_CHECK(!apps && apps.error() == first.error());
            CHILD_CHECK(standin::call_count("AXIsProcessTrusted") == 1);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ProviderDeathTest, AFailedScreenshotProviderIsKeptForTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // No ordinary window on the desktop: the Screen Recording probe fails.
            auto empty = standin::parse_desktop_json(R"({"base": "empty"})", "empty");
            CHILD_CHECK(empty.has_value());
            standin::install_desktop(*empty);
            auto first = screenshot();
            CHILD_CHECK(!first && first.error().is<Error::PermissionDenied>());
            // Granted now, yet every capture of this process keeps the first outcome.
            standin::reset_to_default_desktop();
            CHILD_CHECK(MacOSScreenshot::create().has_value());
            auto region = screenshot_region(Rect{0, 0, 10, 10});
            CHILD_CHECK(!region && region.error() == first.error());
            auto annotated = screenshot_annotated(std::nullopt, {});
            CHILD_CHECK(!annotated && annotated.error() == first.error());
            CHILD_CHECK(!screenshot() && screenshot().error() == first.error());
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ProviderDeathTest, TheEnvironmentNamesTheSimulatedDesktop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string path = write_file("facade_solo_desktop.json", R"({
      "displays": [{"frame": [0, 0, 640, 480], "scale": 1}],
      "focused_app": 501,
      "apps": [{"pid": 501, "name": "Solo",
                "children": [{"role": "AXWindow", "title": "Only", "identifier": "solo.w",
                              "frame": [10, 20, 300, 200],
                              "children": [{"role": "AXButton", "title": "Go",
                                            "frame": [20, 60, 50, 20], "enabled": true,
                                            "actions": [{"name": "AXPress", "effect": "none"}]}]}]}]
    })");
    EXPECT_EXIT(
        {
            setenv("VEMOR_SIMULATED_DESKTOP", path.c_str(), 1);
            CHILD_CHECK(app_names() == std::vector<std::string>{"Solo"});
            auto shot = screenshot();
            CHILD_CHECK(!shot || shot->width == 640);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ProviderDeathTest, AnUnusableDesktopIsTheCreationError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string bad = write_file("facade_bad_desktop.json", "{\n  \"apps\": [\n    {\"pid\": \"x\"}]}");
    const std::string missing = (desktop_dir() / "facade_no_such_desktop.json").string();
    EXPECT_EXIT(
        {
            setenv("VEMOR_SIMULATED_DESKTOP", bad.c_str(), 1);
            auto p = provider();
            CHILD_CHECK(!p);
            std::fprintf(stderr, "%s\n", p.error().message().c_str());
            CHILD_CHECK(p.error().message() ==
                        "Invalid configuration: VEMOR_SIMULATED_DESKTOP: " + bad +
                            ":3: \"pid\" must be a number");
            CHILD_CHECK(input_sim().error() == p.error());
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            setenv("VEMOR_SIMULATED_DESKTOP", missing.c_str(), 1);
            auto p = provider();
            CHILD_CHECK(!p && p.error().message() ==
                                  "Invalid configuration: VEMOR_SIMULATED_DESKTOP: " + missing +
                                      ": cannot be read: No such file or directory");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(DesktopJson, MessagesNameTheLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "d:1: unexpected end of input"},
        {"{\"os_version\": \"abc", "d:1: unexpected end of input"},
        {"{\"apps\": [\n{\"pid\": 1}]}", "d:2: an application needs a \"name\""},
        {"{\"apps\": [{\"pid\": 1, \"name\": \"A\",\n \"frame\": [1, 2, 3]}]}",
         "d:2: \"frame\" must be an array of 4 numbers"},
        {"{\"apps\": [{\"pid\": 1, \"name\": \"A\", \"children\": [\n{\"rol\": \"AXButton\"}]}]}",
         "d:2: unknown key \"rol\" in an element"},
        {"{\"apps\": [{\"pid\": 1, \"name\": \"A\"},\n\n {\"pid\": 1, \"name\": \"B\"}]}",
         "d:3: pid 1 is used by two applications"},
        {"{\"apps\": [{\"pid\": 0, \"name\": \"A\"}]}", "d:1: \"pid\" must be a positive process id"},
        {"{\"apps\": [{\"pid\": 1, \"name\": \"A\", \"actions\": [\n{\"name\": \"AXPress\",\n "
         "\"effect\": \"explode\"}]}]}",
         "d:3: unknown effect \"explode\""},
        {"{\"base\": \"custom\"}", "d:1: \"base\" must be \"empty\" or \"default\""},
        {"{\"apps\": [{\"pid\": 1, \"name\": \"A\",\n \"service_us\": -1}]}",
         "d:2: \"service_us\" must be a whole number of microseconds from 0 to 3600000000"},
        {"{\"trusted\": true,\n}", "d:2: expected a quoted key"},
        {"{\"os_version\": \"a\\qb\"}", "d:1: invalid escape in a string"},
        {"{\"os_version\": \"\\ud800\"}", "d:1: unpaired surrogate in a \\u escape"},
        {"{\"os_version\": \"\xff\"}", "d:1: a string is not valid UTF-8"},
        {"{\"focused_app\": 01}", "d:1: invalid number"},
        {"{\"apps\": [{\"pid\": 1, \"name\": \"A\", \"frame\": [0, 0, 1e400, 1]}]}",
         "d:1: number out of range"},
        {"{} {}", "d:1: unexpected text after the desktop description"},
        {"{\"apps\": [\n", "d:2: unexpected end of input"},
        {"{\"apps\": [{\"pid\": 1, \"name\": \"A\", \"value\": {\"dot\": [1, 2]}}]}",
         "d:1: unknown tagged value \"dot\" (expected point, size, rect, range or link)"},
        {std::string(5000, '[') + std::string(5000, ']'),
         "d:1: the desktop description must be an object"},
        {"{\"apps\": [{\"pid\": 1, \"name\": \"A\", \"value\": " + std::string(5000, '[') + "}]}",
         "d:1: nesting deeper than 2048 levels"},
    };
    for (const auto& [json, message] : cases) {
        auto spec = standin::parse_desktop_json(json, "d");
        ASSERT_FALSE(spec) << message;
        EXPECT_EQ(spec.error(), message);
    }
}

// Text the file gave, quoted back in a refusal, has its control characters escaped: a key
// cannot end the message's line and start a forged one.
TEST(DesktopJson, QuotedTextHasItsControlCharactersEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"apps": [{"pid": 1, "name": "A", "children": [{"x\nerror: forged": 1}]}]})",
         R"(d:1: unknown key "x\nerror: forged" in an element)"},
        {R"({"apps": [{"pid": 1, "name": "A", "\u001b[2J\r": 1}]})",
         R"(d:1: unknown key "\u{1b}[2J\r" in an application)"},
        {R"({"\u0000\t\u007f\u0085\u009b": 1})",
         R"(d:1: unknown key "\0\t\u{7f}\u{85}\u{9b}" in the desktop description)"},
        {R"({"displays": [{"frame": [0, 0, 1, 1], "é\n": 1}]})",
         R"(d:1: unknown key "é\n" in a display)"},
        {R"({"window_list": [{"\n": 1}]})", R"(d:1: unknown key "\n" in a window-list entry)"},
        {R"({"apps": [{"pid": 1, "name": "A", "actions": [{"name": "P", "n\n": 1}]}]})",
         R"(d:1: unknown key "n\n" in an action)"},
        {R"({"apps": [{"pid": 1, "name": "A", "actions": [{"name": "P", "set": {"\n": 1}}]}]})",
         R"(d:1: unknown key "\n" in "set")"},
        {R"({"apps": [{"pid": 1, "name": "A", "actions": [{"name": "P", "effect": "a\nb"}]}]})",
         R"(d:1: unknown effect "a\nb")"},
        {R"({"apps": [{"pid": 1, "name": "A", "value": {"p\n": [1, 2]}}]})",
         R"(d:1: unknown tagged value "p\n" (expected point, size, rect, range or link))"},
    };
    for (const auto& [json, message] : cases) {
        auto spec = standin::parse_desktop_json(json, "d");
        ASSERT_FALSE(spec) << message;
        EXPECT_EQ(spec.error(), message);
    }
}

// A desktop whose application "Deep" (pid 501) is the first of `levels` nested elements: a
// window, groups, and last, on a line of its own, a check box "bottom" that a press toggles.
std::string nested_desktop(std::size_t levels) {
    std::string open, close;
    for (std::size_t level = 2; level < levels; ++level) {
        open += fmt::format(R"({{"role": "{}", "frame": [10, 10, 500, 400], "children": [)",
                            level == 2 ? "AXWindow" : "AXGroup");
        close += "]}";
    }
    return R"({"apps": [{"pid": 501, "name": "Deep", "children": [)" + open +
           "\n"
           R"({"role": "AXCheckBox", "identifier": "bottom", "value": 0, )"
           R"("frame": [100, 100, 40, 20], "actions": [{"name": "AXPress", "effect": "toggle"}]})" +
           close + "]}]}";
}

// Runs `body` on a thread with a 512 KiB stack, as small as threads are given.
void on_small_stack(const std::function<void()>& body) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 512 * 1024), 0);
    pthread_t thread;
    auto run = [](void* f) -> void* {
        (*static_cast<const std::function<void()>*>(f))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// The deepest nesting the loader accepts is read, installed, walked, drawn, clicked through and
// removed within a small stack; one level more is refused.
TEST(DesktopJson, TheDeepestNestingAcceptedFitsASmallStack) {
    const std::size_t deepest = standin::kMaxElementNesting;
    auto too_deep = standin::parse_desktop_json(nested_desktop(deepest + 1), "d");
    ASSERT_FALSE(too_deep);
    EXPECT_EQ(too_deep.error(), fmt::format("d:2: elements nested deeper than {} levels", deepest));

    on_small_stack([&] {
        auto spec = standin::parse_desktop_json(nested_desktop(deepest), "d");
        ASSERT_TRUE(spec) << spec.error();
        standin::ScopedDesktop desktop(*spec);
        auto app = App::by_name_with(provider().value(), "Deep", Duration{0});
        ASSERT_TRUE(app) << app.error().message();
        auto tree = app->tree(std::nullopt);
        ASSERT_TRUE(tree) << tree.error().message();
        std::size_t levels = 0;
        for (const TreeNode* n = &*tree; n != nullptr;
             n = n->children.empty() ? nullptr : &n->children.front())
            ++levels;
        EXPECT_EQ(levels, deepest);
        auto shot = screenshot_region(Rect{0, 0, 600, 500});
        ASSERT_TRUE(shot) << shot.error().message();
        auto input = input_sim();
        ASSERT_TRUE(input) << input.error().message();
        ASSERT_TRUE(Mouse(*input).click_with(Point{110, 105}, ClickOptions{}));
        auto bottom = standin::find_element(501, "bottom");
        ASSERT_TRUE(bottom);
        EXPECT_EQ(standin::attribute(*bottom, "AXValue"), standin::Value(1));
        standin::remove_application(501);
        EXPECT_FALSE(standin::element_exists(*bottom));
    });
}

TEST(DesktopJson, ReadsElementsValuesAndTheDefaultBase) {
    auto spec = standin::parse_desktop_json(R"({
      "base": "default", "trusted": false, "os_version": null,
      "apps": [{"pid": 150, "name": "Writer", "focused_element": "w.text",
                "transfer_us": 50, "service_us": 7,
                "children": [{"role": "AXWindow", "identifier": "w", "frame": [1, 2, 3, 4],
                  "attributes": {"AXRange": {"range": [1, 2]}, "AXList": [1, 2.5, "x", null],
                                 "AXParentLink": {"link": "w"}},
                  "settable": ["AXSize"],
                  "actions": ["AXRaise", {"name": "AXPress", "effect": "increment", "step": 5},
                              {"name": "AXCancel", "set": {"target": "w", "attribute": "AXTitle",
                                                           "value": "gone \u00e9\ud83d\ude00"}}],
                  "children": [{"role": "AXTextArea", "identifier": "w.text", "focusable": true}]}]}]
    })",
                                            "d");
    ASSERT_TRUE(spec) << spec.error();
    EXPECT_FALSE(spec->trusted);
    EXPECT_FALSE(spec->os_version);
    EXPECT_EQ(spec->apps.size(), 6u);  // TextEdit (150) replaced by Writer
    const standin::AppSpec& writer = spec->apps.back();
    EXPECT_EQ(writer.name, "Writer");
    EXPECT_EQ(writer.latency, (standin::AppLatency{std::chrono::microseconds(50),
                                                   std::chrono::microseconds(7)}));
    const standin::ElementSpec& window = writer.element.children.at(0);
    EXPECT_EQ(window.attributes.at("AXRange"), standin::Value(CFRange{1, 2}));
    EXPECT_EQ(window.attributes.at("AXList"),
              standin::Value(standin::Value::List{std::int64_t{1}, 2.5, "x", standin::NoValue{}}));
    EXPECT_EQ(window.actions.at(1).effect.kind, standin::Effect::Kind::Increment);
    EXPECT_EQ(window.actions.at(1).effect.step, 5.0);
    EXPECT_EQ(window.actions.at(2).effect.value, standin::Value("gone é😀"));
    EXPECT_TRUE(window.children.at(0).settable.count("AXFocused"));
    // The replaced application's window-list entries go; the new one's window is in front.
    EXPECT_EQ(spec->window_list.front().window, "w");
    for (const auto& entry : spec->window_list)
        EXPECT_NE(entry.window, std::optional<std::string>("textedit.window"));
}

}  // namespace
}  // namespace vemor::facade
