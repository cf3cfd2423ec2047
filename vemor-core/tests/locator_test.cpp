#include "vemor/locator.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "support/stub_provider.hpp"

#include "vemor/app.hpp"
#include "vemor/config.hpp"
#include "vemor/mock.hpp"

namespace vemor {
namespace {

using namespace std::chrono_literals;

// A provider over a plain tree held in the test: top-level entries under nullptr, children by
// handle. Every action fails; only the tree and the search are meaningful.
class TreeProvider : public testing::StubProvider {
public:
    std::map<std::uint64_t, ElementList> children;  // by parent handle
    ElementList top;

    Result<ElementList> get_children(const ElementData* parent) const override {
        if (!parent) return top;
        auto it = children.find(parent->handle);
        return it == children.end() ? ElementList{} : it->second;
    }
    Result<ElementList> list_apps() const override { return top; }
};

ElementData node(Role role, std::optional<std::string> name, std::uint64_t handle,
                 std::optional<std::uint32_t> pid = std::nullopt) {
    ElementData d;
    d.role = role;
    d.name = std::move(name);
    d.handle = handle;
    d.pid = pid;
    d.states.enabled = true;
    d.states.visible = true;
    return d;
}

class LocatorTest : public ::testing::Test {
protected:
    void SetUp() override { config::set_default_timeout(0s); }
    // A test may lengthen the wait: whichever way it ends, the tests after it wait for nothing.
    void TearDown() override { config::set_default_timeout(0s); }

    Locator desktop(std::string selector) const {
        return Locator(mock_, std::nullopt, std::move(selector));
    }
    ElementData app_data() const { return mock_->list_apps()->front(); }

    std::shared_ptr<MockProvider> mock_ = mock::build_provider();
};

TEST_F(LocatorTest, MissingButtonNamesCandidatesAndApplications) {
    auto r = desktop(R"(button[name="Nope"])").element();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "No element matched selector: button[name=\"Nope\"]; candidates: button \"Back\", "
              "button \"Forward\"\n"
              "search scope (bounded):\n"
              "application \"TestApp\" (pid=1234)");
}

TEST_F(LocatorTest, MissInsideAnApplicationDumpsItsTree) {
    auto app = App::from_data(mock_, app_data());
    auto r = app.locator("slider[name=\"Bass\"]").element();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "No element matched selector: slider[name=\"Bass\"]; candidates: slider \"Volume\"\n"
              "search scope (bounded):\n"
              "application \"TestApp\"\n"
              "  window \"Main Window\"\n"
              "    toolbar \"Navigation\"\n"
              "      button \"Back\"\n"
              "      button \"Forward\"\n"
              "    group \"Content\"\n"
              "      text_field \"Search\" value=\"hello\"\n"
              "      check_box \"Agree\"\n"
              "      slider \"Volume\" value=\"75\"\n"
              "      static_text \"Status\" value=\"Loading...\"\n"
              "      list \"Items\"\n"
              "        list_item \"Item 1\"\n"
              "        list_item \"Item 2\"");
}

TEST_F(LocatorTest, PressOnDisabledButtonTimesOutWithWhatItSaw) {
    auto r = desktop(R"(button[name="Forward"])").press();
    ASSERT_FALSE(r);
    ASSERT_TRUE(r.error().is<Error::Timeout>());
    ASSERT_NE(r.error().diagnosis(), nullptr);
    EXPECT_EQ(r.error().diagnosis()->to_string(),
              "; waiting for: press target actionable (visible && enabled)"
              "; selector: button[name=\"Forward\"]"
              "; last observed: matched button \"Forward\" (visible=true, enabled=false, "
              "focused=false)");
    EXPECT_TRUE(mock_->actions().empty());
}

TEST_F(LocatorTest, ActionsReachTheProviderOnce) {
    struct Case {
        const char* selector;
        std::function<Result<void>(const Locator&)> act;
        MockAction logged;
    } cases[] = {
        {"button[name=\"Back\"]", [](auto& l) { return l.press(); }, {3, "press", {}}},
        {"text_field", [](auto& l) { return l.focus(); }, {6, "focus", {}}},
        {"text_field", [](auto& l) { return l.blur(); }, {6, "blur", {}}},
        {"check_box", [](auto& l) { return l.toggle(); }, {7, "toggle", {}}},
        {"list_item", [](auto& l) { return l.select(); }, {11, "select", {}}},
        {"list", [](auto& l) { return l.expand(); }, {10, "expand", {}}},
        {"list", [](auto& l) { return l.collapse(); }, {10, "collapse", {}}},
        {"list_item:nth(2)", [](auto& l) { return l.show_menu(); }, {12, "show_menu", {}}},
        {"slider", [](auto& l) { return l.increment(); }, {8, "increment", {}}},
        {"slider", [](auto& l) { return l.decrement(); }, {8, "decrement", {}}},
        {"text_field", [](auto& l) { return l.set_value("x y"); }, {6, "set_value", "x y"}},
        {"text_field", [](auto& l) { return l.type_text("abc"); }, {6, "type_text", "abc"}},
        {"slider",
         [](auto& l) { return l.set_numeric_value(50.0); },
         {8, "set_numeric_value", "50"}},
        {"text_field",
         [](auto& l) { return l.select_text(3, 3); },
         {6, "set_text_selection", "3..3"}},
        {"button", [](auto& l) { return l.perform_action("open"); }, {3, "open", {}}},
        // Hidden but enabled: scrolling waits for enabled only.
        {"static_text", [](auto& l) { return l.scroll_into_view(); }, {9, "scroll_into_view", {}}},
        {"window", [](auto& l) { return l.activate(); }, {1, "activate", {}}},
        {"window", [](auto& l) { return l.maximize(); }, {1, "maximize", {}}},
        {"window", [](auto& l) { return l.enter_fullscreen(); }, {1, "enter_fullscreen", {}}},
        {"window", [](auto& l) { return l.move_to(-5, 10); }, {1, "move_to", "-5,10"}},
        {"window", [](auto& l) { return l.resize_to(640, 480); }, {1, "resize_to", "640x480"}},
        {"window", [](auto& l) { return l.perform_action("maximize"); }, {1, "maximize", {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged.action);
        auto mock = mock::build_provider();
        auto r = c.act(Locator(mock, std::nullopt, c.selector));
        ASSERT_TRUE(r) << r.error().message();
        EXPECT_EQ(mock->actions(), std::vector<MockAction>{c.logged});
    }
}

TEST_F(LocatorTest, ArgumentsAreRefusedBeforeAnyWait) {
    // A long default time-out and a selector that matches nothing: only a check made before
    // waiting can answer at once with these errors.
    config::set_default_timeout(3600s);
    auto none = desktop("button[name=\"Nope\"]");
    struct Case {
        std::function<Result<void>(const Locator&)> act;
        const char* message;
    } cases[] = {
        {[](auto& l) { return l.set_numeric_value(std::nan("")); },
         "Invalid action data: set_numeric_value requires a finite value, got NaN"},
        {[](auto& l) { return l.set_numeric_value(-std::numeric_limits<double>::infinity()); },
         "Invalid action data: set_numeric_value requires a finite value, got -inf"},
        {[](auto& l) { return l.select_text(4, 3); },
         "Invalid action data: select_text start (4) must be <= end (3)"},
        {[](auto& l) { return l.resize_to(0, 480); },
         "Invalid action data: resize_to requires positive width and height, got 0x480"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        auto r = c.act(none);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message(), c.message);
    }
    auto bad = desktop("button[");
    auto r = bad.press();
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().is<Error::InvalidSelector>());
    EXPECT_TRUE(mock_->actions().empty());
}

TEST_F(LocatorTest, MinimizedWindowCanBeRestored) {
    auto window = desktop("window[name=\"Main Window\"]");
    ASSERT_TRUE(window.minimize());
    auto hidden = window.element();
    ASSERT_TRUE(hidden);
    EXPECT_FALSE((*hidden)->states.visible);
    ASSERT_TRUE(window.restore());
    EXPECT_EQ(mock_->actions(), (std::vector<MockAction>{{1, "minimize", {}}, {1, "restore", {}}}));
    EXPECT_TRUE(window.element().value()->states.visible);
}

TEST_F(LocatorTest, PerformActionTakesTheWindowPathByName) {
    // Hidden but enabled: the window path of perform_action waits for enabled only.
    auto window = desktop("window[name=\"Main Window\"]");
    ASSERT_TRUE(window.perform_action("minimize"));
    ASSERT_TRUE(window.perform_action("restore"));
    EXPECT_EQ(mock_->actions(), (std::vector<MockAction>{{1, "minimize", {}}, {1, "restore", {}}}));
}

TEST(LocatorWaitNames, EveryActionWaitsUnderItsOwnName) {
    // A disabled window: no action can proceed, so each one times out and names its wait.
    config::set_default_timeout(0s);
    auto tree = std::make_shared<TreeProvider>();
    tree->top = {node(Role::Application, "App", 100, 7)};
    ElementData window = node(Role::Window, "W", 101, 7);
    window.states.enabled = false;
    tree->children[100] = {window};
    Locator l(tree, std::nullopt, "window");
    const std::string strict = "visible && enabled";
    const std::string enabled = "enabled";
    struct Case {
        std::string name;
        std::function<Result<void>(const Locator&)> act;
        std::string kind;
    } cases[] = {
        {"press", [](auto& x) { return x.press(); }, strict},
        {"focus", [](auto& x) { return x.focus(); }, strict},
        {"blur", [](auto& x) { return x.blur(); }, strict},
        {"toggle", [](auto& x) { return x.toggle(); }, strict},
        {"select", [](auto& x) { return x.select(); }, strict},
        {"expand", [](auto& x) { return x.expand(); }, strict},
        {"collapse", [](auto& x) { return x.collapse(); }, strict},
        {"show_menu", [](auto& x) { return x.show_menu(); }, strict},
        {"increment", [](auto& x) { return x.increment(); }, strict},
        {"decrement", [](auto& x) { return x.decrement(); }, strict},
        {"set_value", [](auto& x) { return x.set_value("v"); }, strict},
        {"type_text", [](auto& x) { return x.type_text("t"); }, strict},
        {"set_numeric_value", [](auto& x) { return x.set_numeric_value(1.5); }, strict},
        {"select_text", [](auto& x) { return x.select_text(1, 2); }, strict},
        {"perform_action", [](auto& x) { return x.perform_action("AXPress"); }, strict},
        {"scroll_into_view", [](auto& x) { return x.scroll_into_view(); }, enabled},
        {"activate", [](auto& x) { return x.activate(); }, enabled},
        {"minimize", [](auto& x) { return x.minimize(); }, enabled},
        {"maximize", [](auto& x) { return x.maximize(); }, enabled},
        {"enter_fullscreen", [](auto& x) { return x.enter_fullscreen(); }, enabled},
        {"restore", [](auto& x) { return x.restore(); }, enabled},
        {"close", [](auto& x) { return x.close(); }, enabled},
        {"move_to", [](auto& x) { return x.move_to(1, 2); }, enabled},
        {"resize_to", [](auto& x) { return x.resize_to(3, 4); }, enabled},
        // The six window names go to the window operations, wait names included.
        {"close", [](auto& x) { return x.perform_action("close"); }, enabled},
        {"enter_fullscreen", [](auto& x) { return x.perform_action("enter_fullscreen"); }, enabled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = c.act(l);
        ASSERT_FALSE(r);
        ASSERT_TRUE(r.error().is<Error::Timeout>()) << r.error().message();
        EXPECT_EQ(r.error().diagnosis()->condition,
                  fmt::format("{} target actionable ({})", c.name, c.kind));
        EXPECT_EQ(r.error().diagnosis()->last_observed,
                  "matched window \"W\" (visible=true, enabled=false, focused=false)");
    }
}

TEST_F(LocatorTest, WindowActionsNeedAWindowLikeTarget) {
    auto r = desktop("button[name=\"Back\"]").minimize();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error(Error::ActionNotSupported{"minimize", Role::Button}));
    r = desktop("button[name=\"Back\"]").perform_action("close");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error(Error::ActionNotSupported{"close", Role::Button}));
    EXPECT_TRUE(mock_->actions().empty());
}

TEST_F(LocatorTest, PerformActionUsesItsOwnWaitName) {
    auto r = desktop("button[name=\"Forward\"]").perform_action("press");
    ASSERT_FALSE(r);
    ASSERT_NE(r.error().diagnosis(), nullptr);
    EXPECT_EQ(r.error().diagnosis()->condition,
              "perform_action target actionable (visible && enabled)");
}

TEST_F(LocatorTest, ElementOfAClosedWindowCannotBeActedOn) {
    auto back = desktop("button[name=\"Back\"]").element();
    ASSERT_TRUE(back);
    ASSERT_TRUE(desktop("window").perform_action("close"));
    auto r = back->press();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "Platform error (-1): element handle 3 belongs to a closed window; cannot act on it");
    EXPECT_EQ(mock_->actions(), (std::vector<MockAction>{{1, "close", {}}}));
    EXPECT_EQ(desktop("button").count(), std::size_t{0});
}

TEST_F(LocatorTest, NthPicksAPositionAndReportsShortLists) {
    auto zero = desktop("button").nth(0);
    ASSERT_FALSE(zero);
    EXPECT_EQ(zero.error().message(), "Invalid action data: Locator::nth() is 1-based, got 0");

    auto second = desktop("button").nth(2).value();
    EXPECT_EQ(second.element().value()->name, "Forward");
    EXPECT_EQ(desktop("button").first().element().value()->name, "Back");

    auto third = desktop("button").nth(3).value();
    auto r = third.element();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "No element matched selector: button; last observed: selector matched 2 "
              "element(s); nth(3) requested; candidates: button \"Back\", button \"Forward\"\n"
              "search scope (bounded):\n"
              "application \"TestApp\" (pid=1234)");
    EXPECT_EQ(third.count(), std::size_t{2});
    EXPECT_EQ(third.elements().value().size(), 2u);
    EXPECT_EQ(third.exists(), false);
}

TEST_F(LocatorTest, ChainingJoinsClausesAndDropsThePosition) {
    auto l = desktop("toolbar, group").nth(2).value().descendant("button");
    EXPECT_EQ(l.selector(), "toolbar button, group button");
    EXPECT_EQ(l.nth_value(), std::nullopt);
    auto c = desktop("window").first().child("group");
    EXPECT_EQ(c.selector(), "window > group");
    EXPECT_EQ(c.nth_value(), std::nullopt);
    EXPECT_EQ(c.element().value()->name, "Content");
}

TEST_F(LocatorTest, RootlessResolutionMatchesApplicationsThemselves) {
    struct Case {
        const char* selector;
        std::vector<std::uint64_t> handles;
    } cases[] = {
        {"application[name=\"TestApp\"]", {0}},
        {"application button", {3, 4}},
        {"application > window", {1}},
        {"check_box, button", {3, 4, 7}},
        {"button, button", {3, 4}},
        {"application[name=\"Other\"]", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        auto found = desktop(c.selector).elements();
        ASSERT_TRUE(found) << found.error().message();
        std::vector<std::uint64_t> handles;
        for (const auto& e : *found) handles.push_back(e->handle);
        EXPECT_EQ(handles, c.handles);
    }
}

// A rootless resolution merges every application's matches: each handle once, the first
// occurrence kept, whatever order the handles come in (repeated, falling, the largest value,
// zero) and however many lists the applications yield.
TEST(LocatorDesktop, MergedMatchesKeepTheFirstOfEachHandle) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    auto buttons = [](std::vector<std::uint64_t> handles) {
        ElementList out;
        for (std::uint64_t h : handles) out.push_back(node(Role::Button, "b", h));
        return out;
    };
    // Two applications sharing elements, in falling and repeated order.
    auto shared = std::make_shared<TreeProvider>();
    shared->top = {node(Role::Application, "A", 10), node(Role::Application, "B", 5)};
    shared->children[10] = buttons({7, kMax, 3});
    shared->children[5] = buttons({3, kMax, 0, 0});
    // One application whose handles rise but repeat once.
    auto rising = std::make_shared<TreeProvider>();
    rising->top = {node(Role::Application, "A", 1)};
    rising->children[1] = buttons({2, 3, 3, 4});

    struct Case {
        std::shared_ptr<TreeProvider> provider;
        const char* selector;
        std::vector<std::uint64_t> handles;
    } cases[] = {
        {shared, "button", {7, kMax, 3, 0}},
        {shared, "*", {10, 7, kMax, 3, 5, 0}},
        {shared, "application", {10, 5}},
        {rising, "button", {2, 3, 4}},
        {rising, "*", {1, 2, 3, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        const Locator l(c.provider, std::nullopt, c.selector);
        auto found = l.elements();
        ASSERT_TRUE(found) << found.error().message();
        std::vector<std::uint64_t> handles;
        for (const auto& e : *found) handles.push_back(e->handle);
        EXPECT_EQ(handles, c.handles);
        EXPECT_EQ(l.count(), c.handles.size());
        // A position resolves with a limit, cut from the same merge.
        for (std::size_t i = 0; i < c.handles.size(); ++i)
            EXPECT_EQ(l.nth(i + 1).value().element().value()->handle, c.handles[i]) << i;
        EXPECT_FALSE(l.nth(c.handles.size() + 1).value().exists().value());
    }
}

TEST_F(LocatorTest, SeveralApplicationRootsAreSearchedTogether) {
    auto split = mock::build_split_provider();
    auto l = Locator::new_for_app(split, split->list_apps()->front(), "window");
    auto found = l.elements();
    ASSERT_TRUE(found);
    ASSERT_EQ(found->size(), 2u);
    EXPECT_EQ((*found)[0]->name, "Main Window");
    EXPECT_EQ((*found)[1]->name, "Second Window");
    EXPECT_EQ(l.nth(2).value().element().value()->handle, 19u);
}

TEST_F(LocatorTest, WaitsForEachState) {
    struct Case {
        WaitState state;
        const char* selector;
        bool succeeds;
        bool element;
        const char* last_observed;
    } cases[] = {
        {WaitState::Attached, "button", true, true, nullptr},
        {WaitState::Detached, "link", true, false, nullptr},
        {WaitState::Detached, "button", false, false,
         "matched button \"Back\" (visible=true, enabled=true, focused=false)"},
        {WaitState::Visible, "static_text", false, false,
         "matched static_text \"Status\" (visible=false, enabled=true, focused=false)"},
        {WaitState::Hidden, "static_text", true, false, nullptr},
        {WaitState::Hidden, "link", true, false, nullptr},
        {WaitState::Enabled, "button:nth(2)", false, false,
         "matched button \"Forward\" (visible=true, enabled=false, focused=false)"},
        {WaitState::Disabled, "button:nth(2)", true, true, nullptr},
        {WaitState::Disabled, "link", false, false, "selector never matched"},
        {WaitState::Focused, "window", true, true, nullptr},
        {WaitState::Unfocused, "window", false, false,
         "matched window \"Main Window\" (visible=true, enabled=true, focused=true)"},
        {WaitState::Unfocused, "button", true, true, nullptr},
    };
    for (const auto& c : cases) {
        std::string trace = fmt::format("{} {}", wait_state::to_snake_case(c.state), c.selector);
        SCOPED_TRACE(trace);
        auto r = desktop(c.selector).wait_for_state(c.state, 0s);
        ASSERT_EQ(r.has_value(), c.succeeds) << (r ? "" : r.error().message());
        if (r) {
            EXPECT_EQ(r->has_value(), c.element);
            continue;
        }
        ASSERT_TRUE(r.error().is<Error::Timeout>());
        const Diagnosis* d = r.error().diagnosis();
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->condition, std::string(wait_state::to_snake_case(c.state)));
        EXPECT_EQ(d->selector, c.selector);
        EXPECT_EQ(d->last_observed, c.last_observed);
    }
    EXPECT_TRUE(desktop("link").wait_hidden(0s));
    EXPECT_EQ(desktop("button").wait_attached(0s).value()->name, "Back");
}

TEST_F(LocatorTest, NeverMatchedTimeoutCarriesCandidatesAndScope) {
    auto r = desktop("button[name=\"Nope\"]").wait_disabled(0s);
    ASSERT_FALSE(r);
    ASSERT_TRUE(r.error().is<Error::Timeout>());
    EXPECT_EQ(r.error().diagnosis()->to_string(),
              "; waiting for: disabled; selector: button[name=\"Nope\"]; last observed: "
              "selector never matched; candidates: button \"Back\", button \"Forward\"\n"
              "search scope (bounded):\n"
              "application \"TestApp\" (pid=1234)");
    // A role constraint of "any" gives no candidates.
    auto any = desktop("[name=\"Nope\"]").wait_attached(0s);
    ASSERT_FALSE(any);
    EXPECT_TRUE(any.error().diagnosis()->candidates.empty());
}

TEST_F(LocatorTest, TargetThatVanishesDuringTheWait) {
    // The predicate closes the window on its first call, so the second attempt misses.
    auto window = desktop("window").element().value();
    int calls = 0;
    auto r = desktop("button[name=\"Back\"]")
                 .wait_until(
                     [&](const ElementData*) {
                         if (calls++ == 0) {
                             EXPECT_TRUE(mock_->close(window.data()));
                         }
                         return false;
                     },
                     150ms);
    ASSERT_FALSE(r);
    EXPECT_GE(calls, 2);
    const Diagnosis* d = r.error().diagnosis();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->condition, "custom predicate");
    EXPECT_EQ(d->last_observed, "selector matched earlier in the wait but no longer matches");
    EXPECT_TRUE(d->candidates.empty());
    EXPECT_EQ(d->scope, std::nullopt);
}

TEST_F(LocatorTest, WaitUntilHandsOverTheTargetOrNothing) {
    std::vector<bool> seen_present;
    auto absent = desktop("link").wait_until(
        [&](const ElementData* d) {
            seen_present.push_back(d != nullptr);
            return true;
        },
        0s);
    ASSERT_TRUE(absent);
    EXPECT_FALSE(absent->has_value());
    auto present = desktop("slider").wait_until(
        [&](const ElementData* d) { return d && d->numeric_value == 75.0; }, 0s);
    ASSERT_TRUE(present);
    EXPECT_EQ((*present)->data().name, "Volume");
    EXPECT_EQ(seen_present, std::vector<bool>{false});
}

TEST_F(LocatorTest, TreeAndDumpOfTheTarget) {
    EXPECT_EQ(desktop("list").dump(std::nullopt).value(),
              "list \"Items\"\n  list_item \"Item 1\"\n  list_item \"Item 2\"\n");
    EXPECT_EQ(desktop("window").tree(0).value(),
              (TreeNode{"window", "Main Window", std::nullopt, {}}));
    auto r = desktop("link").dump(1);
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().diagnosis(), nullptr);
}

TEST_F(LocatorTest, ShortDescriptions) {
    EXPECT_EQ(locator::short_describe(node(Role::Button, "OK", 1)), "button \"OK\"");
    EXPECT_EQ(locator::short_describe(node(Role::Button, "", 1)), "button \"\"");
    EXPECT_EQ(locator::short_describe(node(Role::TextField, std::nullopt, 1)),
              "text_field (unnamed)");
}

TEST(LocatorScope, LongDumpsAndApplicationListsAreCut) {
    auto tree = std::make_shared<TreeProvider>();
    // A scope with 40 children dumps as 41 lines: 40 are kept.
    ElementData root = node(Role::Group, "Root", 1000);
    for (std::uint64_t i = 0; i < 40; ++i)
        tree->children[1000].push_back(node(Role::Button, fmt::format("B{}", i), i + 1));
    auto summary = Locator(tree, root, "link").scope_summary();
    EXPECT_TRUE(summary.starts_with("group \"Root\"\n  button \"B0\"\n"));
    EXPECT_TRUE(summary.ends_with("  button \"B38\"\n… (+1 more lines truncated)"));
    // Exactly 40 lines: nothing cut, no empty last line.
    tree->children[1000].pop_back();
    summary = Locator(tree, root, "link").scope_summary();
    EXPECT_TRUE(summary.ends_with("  button \"B38\"")) << summary;

    for (std::uint32_t i = 0; i < 41; ++i)
        tree->top.push_back(node(Role::Application, fmt::format("A{}", i), 5000 + i,
                                 i == 40 ? std::nullopt : std::optional(i)));
    summary = Locator(tree, std::nullopt, "link").scope_summary();
    EXPECT_TRUE(summary.starts_with("application \"A0\" (pid=0)\napplication \"A1\" (pid=1)\n"));
    EXPECT_TRUE(summary.ends_with("application \"A39\" (pid=39)\n… (+1 more applications)"));
}

// Names and values come from other programs: in a miss's message they cannot start lines of
// their own, while the diagnosis keeps the candidates as they are.
TEST(LocatorScope, DesktopTextsAreEscapedInTheMessageOnly) {
    auto tree = std::make_shared<TreeProvider>();
    ElementData app = node(Role::Application, "App\nerror: forged\x7f", 1, 7);
    ElementData field = node(Role::TextField, "F\n  button \"Fake\"", 2);
    field.value = "v\xC2\x85\nw";
    tree->top = {app};
    tree->children[1] = {field};

    auto scoped = Locator(tree, app, "text_field[name=\"x\"]").element();
    ASSERT_FALSE(scoped);
    EXPECT_EQ(scoped.error().message(),
              "No element matched selector: text_field[name=\"x\"]; candidates: text_field "
              R"("F\n  button "Fake"")" "\n"
              "search scope (bounded):\n"
              R"(application "App\nerror: forged\u{7f}")" "\n"
              R"(  text_field "F\n  button "Fake"" value="v\u{85}\nw")");
    EXPECT_EQ(scoped.error().diagnosis()->candidates,
              std::vector<std::string>{"text_field \"F\n  button \"Fake\"\""});

    auto rootless = Locator(tree, std::nullopt, "text_field[name=\"x\"]").element();
    ASSERT_FALSE(rootless);
    EXPECT_EQ(rootless.error().diagnosis()->scope,
              R"(application "App\nerror: forged\u{7f}" (pid=7))");
}

TEST(LocatorScope, FailuresInsideADiagnosisBecomeItsText) {
    // Neither children nor applications can be read.
    class Failing : public TreeProvider {
        Result<ElementList> get_children(const ElementData*) const override {
            return fail(Error::Platform{-1, "gone"});
        }
        Result<ElementList> list_apps() const override {
            return fail(Error::Platform{-2, "no apps"});
        }
    };
    auto failing = std::make_shared<Failing>();
    Locator scoped(failing, node(Role::Group, "G", 1), "button");
    Diagnosis d;
    scoped.fill_miss_context(d);
    EXPECT_EQ(d.candidates,
              std::vector<std::string>{"(candidate search failed: Platform error (-1): gone)"});
    EXPECT_EQ(d.scope, "(scope dump failed: Platform error (-1): gone)");

    Locator rootless(failing, std::nullopt, "button");
    Diagnosis r;
    rootless.fill_miss_context(r);
    EXPECT_EQ(r.candidates,
              std::vector<std::string>{"(candidate search failed: Platform error (-2): no apps)"});
    EXPECT_EQ(r.scope, "(application enumeration failed: Platform error (-2): no apps)");

    // A diagnosis that already has candidates and a scope is left alone.
    Diagnosis full = Diagnosis{}.with_candidates({"x"});
    full.scope = "s";
    scoped.fill_miss_context(full);
    EXPECT_EQ(full.candidates, std::vector<std::string>{"x"});
    EXPECT_EQ(full.scope, "s");

    // Provider errors other than a miss end a resolution unchanged.
    auto e = scoped.exists();
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error(), Error(Error::Platform{-1, "gone"}));
}

}  // namespace
}  // namespace vemor
