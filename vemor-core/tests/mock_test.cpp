#include "vemor/mock.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace vemor {
namespace {

ElementData handle_only(std::uint64_t handle) {
    ElementData e;
    e.handle = handle;
    return e;
}

// The node as every operation reports it, found from the top-level nodes down.
ElementData node(const MockProvider& p, std::uint64_t handle) {
    ElementList pending = p.list_apps().value();
    const auto surfaces = p.list_shell_surfaces().value();
    for (const auto& [kind, surface] : surfaces) pending.push_back(surface);
    while (!pending.empty()) {
        ElementData e = std::move(pending.back());
        pending.pop_back();
        if (e.handle == handle) return e;
        auto children = p.get_children(&e).value();
        std::move(children.begin(), children.end(), std::back_inserter(pending));
    }
    ADD_FAILURE() << "no live node " << handle;
    return {};
}

// One line per element: every field that differs from the fixture's defaults.
std::string describe(const ElementData& e) {
    std::string out = fmt::format("{} {} {}", e.handle, e.role, text::debug_quote(*e.name));
    if (e.pid != 1234u) out += fmt::format(" pid={}", e.pid ? fmt::format("{}", *e.pid) : "-");
    if (e.value) out += " value=" + text::debug_quote(*e.value);
    if (e.description) out += " description=" + text::debug_quote(*e.description);
    if (e.stable_id) out += " id=" + *e.stable_id;
    if (e.bounds)
        out += fmt::format(" bounds=({},{},{},{})", e.bounds->x, e.bounds->y, e.bounds->width,
                           e.bounds->height);
    if (e.numeric_value || e.min_value || e.max_value)
        out += fmt::format(" numeric={}/{}/{}", e.numeric_value.value_or(-1),
                           e.min_value.value_or(-1), e.max_value.value_or(-1));
    for (const auto& [k, v] : e.raw) out += fmt::format(" raw.{}={}", k, json::dump(v));
    const StateSet& s = e.states;
    if (!s.enabled) out += " !enabled";
    if (!s.visible) out += " !visible";
    for (auto [on, name] : {std::pair{s.focused, "focused"},
                            {s.active, "active"},
                            {s.selected, "selected"},
                            {s.editable, "editable"},
                            {s.focusable, "focusable"},
                            {s.modal, "modal"},
                            {s.required, "required"},
                            {s.busy, "busy"}})
        if (on) out += fmt::format(" {}", name);
    if (s.expanded) out += fmt::format(" expanded={}", *s.expanded);
    if (s.checked) out += fmt::format(" checked={}", checked_state::to_snake_case(*s.checked));
    if (s.minimized || s.maximized || s.fullscreen) out += " window-states";
    if (!e.actions.empty()) out += fmt::format(" [{}]", fmt::join(e.actions, ","));
    return out;
}

// Pre-order walk through `get_children`, checking each child's parent on the way.
void walk(const MockProvider& p, const ElementData& e, int depth, std::string& out) {
    out += std::string(2 * depth, ' ') + describe(e) + "\n";
    const auto children = p.get_children(&e).value();
    for (const auto& child : children) {
        auto parent = p.get_parent(child).value();
        EXPECT_TRUE(parent && parent->handle == e.handle) << child.handle;
        walk(p, child, depth + 1, out);
    }
}

std::string describe_tree(const MockProvider& p) {
    std::string out;
    const auto top = p.get_children(nullptr).value();
    for (const auto& app : top) walk(p, app, 0, out);
    const auto surfaces = p.list_shell_surfaces().value();
    for (const auto& [kind, surface] : surfaces) {
        out += fmt::format("{}: ", kind);
        walk(p, surface, 0, out);
    }
    return out;
}

constexpr std::string_view kWindowActions =
    "[activate,minimize,maximize,enter_fullscreen,restore,close,move_to,resize_to]";

TEST(MockFixture, Shape) {
    auto p = mock::build_provider();
    const std::string expected = fmt::format(
        "0 application \"TestApp\" description=\"Test application\" id=app-root "
        "bounds=(0,0,1920,1080) raw.ax_role=\"AXApplication\"\n"
        "  1 window \"Main Window\" bounds=(100,50,800,600) focused active {}\n"
        "    2 toolbar \"Navigation\"\n"
        "      3 button \"Back\" description=\"Go back\" id=btn-back bounds=(110,60,50,30) "
        "focusable [press,focus]\n"
        "      4 button \"Forward\" bounds=(170,60,50,30) !enabled focusable [press,focus]\n"
        "    5 group \"Content\"\n"
        "      6 text_field \"Search\" value=\"hello\" description=\"Search field\" "
        "bounds=(200,120,300,25) editable focusable [focus,set_value,type_text]\n"
        "      7 check_box \"Agree\" focusable checked=on [press,focus]\n"
        "      8 slider \"Volume\" value=\"75\" numeric=75/0/100 focusable "
        "[increment,decrement,set_value,focus]\n"
        "      9 static_text \"Status\" value=\"Loading...\" !visible\n"
        "      10 list \"Items\" expanded=true\n"
        "        11 list_item \"Item 1\" selected focusable [select,focus]\n"
        "        12 list_item \"Item 2\" focusable [select,focus]\n"
        "taskbar: 13 toolbar \"Taskbar\" pid=4242 id=Shell_TrayWnd bounds=(0,1040,1920,40)\n"
        "  14 button \"Show Hidden Icons\" pid=4242 description=\"Open the tray overflow\" "
        "id=systray-chevron bounds=(1700,1045,30,30) focusable [press,focus]\n"
        "  15 button \"Volume\" pid=4242 id=SystemTrayIcon bounds=(1740,1045,30,30) focusable "
        "[press,focus]\n"
        "desktop: 16 list \"Desktop\" pid=4242 id=Progman\n"
        "  17 list_item \"Trash\" pid=4242 focusable [select,focus]\n",
        kWindowActions);
    EXPECT_EQ(describe_tree(*p), expected);
    EXPECT_TRUE(p->actions().empty());
    EXPECT_FALSE(p->splits_app_across_entries());
}

TEST(MockFixture, SplitVariantAddsSecondEntry) {
    auto p = mock::build_split_provider();
    // The desktop's top level still shows the first entry only.
    auto top = p->get_children(nullptr).value();
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].handle, 0u);

    auto apps = p->list_apps().value();
    ASSERT_EQ(apps.size(), 2u);
    std::string second;
    walk(*p, apps[1], 0, second);
    EXPECT_EQ(
        second,
        fmt::format("18 application \"TestApp\" description=\"Test application\" "
                    "id=second-app-root bounds=(0,0,1920,1080) raw.ax_role=\"AXApplication\"\n"
                    "  19 window \"Second Window\" id=second-window bounds=(100,50,800,600) "
                    "focused active {}\n",
                    kWindowActions));
    EXPECT_FALSE(p->get_parent(apps[1]).value());

    auto roots = p->app_roots(apps[0]).value();
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[0].handle, 0u);
    EXPECT_EQ(roots[1].handle, 18u);
    EXPECT_FALSE(p->splits_app_across_entries());
    // Each call builds its own provider.
    EXPECT_NE(mock::build_split_provider(), p);
}

TEST(MockQueries, Applications) {
    auto p = mock::build_provider();
    auto apps = p->list_apps().value();
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0], node(*p, 0));
    EXPECT_EQ(p->focused_app().value(), node(*p, 0));
    EXPECT_EQ(p->app_by_pid(1234).value(), node(*p, 0));
    EXPECT_EQ(p->app_windows(apps[0]).value(), ElementList{node(*p, 1)});

    // Without a pid, the element stands for itself.
    ElementData no_pid = node(*p, 13);
    no_pid.pid.reset();
    EXPECT_EQ(p->app_roots(no_pid).value(), ElementList{no_pid});
    // A pid that no application has gives no roots.
    EXPECT_TRUE(p->app_roots(node(*p, 13)).value().empty());
}

TEST(MockQueries, AppByPidMiss) {
    auto p = mock::build_provider();
    auto r = p->app_by_pid(4242);
    ASSERT_FALSE(r);
    const auto* miss = r.error().as<Error::SelectorNotMatched>();
    ASSERT_TRUE(miss);
    EXPECT_EQ(miss->selector, "application[pid=4242]");
    EXPECT_EQ(miss->diagnosis, Diagnosis{}.with_last_observed(
                                   "enumerated 1 running apps, 0 without a resolvable pid"));
}

TEST(MockQueries, ResultsAreCopies) {
    auto p = mock::build_provider();
    const ElementData app = node(*p, 0);
    auto before = p->get_children(&app).value();
    ASSERT_TRUE(p->minimize(node(*p, 1)));
    EXPECT_EQ(before.at(0).states.minimized, std::nullopt);
    EXPECT_EQ(node(*p, 1).states.minimized, true);
}

TEST(MockQueries, HandlesThatNameNoNode) {
    auto p = mock::build_provider();
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    // 2^32 and 2^32 + 1 would alias nodes 0 and 1 if cut to 32 bits.
    for (std::uint64_t h : std::vector<std::uint64_t>{18, 99, 1ull << 32, (1ull << 32) + 1, kMax}) {
        SCOPED_TRACE(h);
        const ElementData e = handle_only(h);
        EXPECT_TRUE(p->get_children(&e).value().empty());
        EXPECT_FALSE(p->get_parent(e).value());
        EXPECT_EQ(
            p->live_window(e).error(),
            Error(Error::Platform{-1, fmt::format("stale window handle: no live node {}", h)}));
        EXPECT_EQ(p->minimize(e).error(), p->live_window(e).error());
        // Element actions do not look the handle up: they are logged all the same.
        p->clear_actions();
        ASSERT_TRUE(p->press(e));
        EXPECT_EQ(p->actions(), (std::vector<MockAction>{{h, "press", std::nullopt}}));
    }
}

TEST(MockSearch, SelectorsOverTheTree) {
    auto p = mock::build_provider();
    struct Case {
        const char* selector;
        std::optional<std::uint64_t> root;
        std::optional<std::size_t> limit;
        std::vector<std::uint64_t> handles;
    };
    const Case cases[] = {
        {"button", std::nullopt, std::nullopt, {3, 4}},
        {"button", 13, std::nullopt, {14, 15}},
        {"list_item", std::nullopt, 1, {11}},
        {"slider, button", std::nullopt, std::nullopt, {3, 4, 8}},
        {"group > list list_item:nth(2)", std::nullopt, std::nullopt, {12}},
        {"[name=\"Volume\"]", std::nullopt, std::nullopt, {8}},
        {"window button[name=\"Nope\"]", std::nullopt, std::nullopt, {}},
        {"list_item", 16, std::nullopt, {17}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        auto group = SelectorGroup::parse(c.selector).value();
        std::optional<ElementData> root;
        if (c.root) root = node(*p, *c.root);
        auto found =
            p->find_elements_group(root ? &*root : nullptr, group, c.limit, std::nullopt).value();
        std::vector<std::uint64_t> handles;
        for (const auto& e : found) handles.push_back(e.handle);
        EXPECT_EQ(handles, c.handles);
        if (group.selectors.size() == 1) {
            auto single = p->find_elements(root ? &*root : nullptr, group.selectors[0].segments,
                                           c.limit, std::nullopt);
            EXPECT_EQ(single.value(), found);
        }
    }
}

// Each operation, called on a live node of the fixture, with its log entry.
struct OpCase {
    const char* name;
    std::function<Result<void>(const MockProvider&, const ElementData&)> call;
    std::uint64_t handle;
    std::optional<std::string> value;
    const char* logged_as = nullptr;  // when it differs from `name`
};

const std::vector<OpCase>& op_cases() {
    using P = const MockProvider&;
    using E = const ElementData&;
    static const std::vector<OpCase> cases{
        // "Forward" is disabled: the mock checks neither states nor advertised actions.
        {"press", [](P p, E e) { return p.press(e); }, 4, std::nullopt},
        {"focus", [](P p, E e) { return p.focus(e); }, 6, std::nullopt},
        {"blur", [](P p, E e) { return p.blur(e); }, 6, std::nullopt},
        {"toggle", [](P p, E e) { return p.toggle(e); }, 7, std::nullopt},
        {"select", [](P p, E e) { return p.select(e); }, 12, std::nullopt},
        {"expand", [](P p, E e) { return p.expand(e); }, 10, std::nullopt},
        {"collapse", [](P p, E e) { return p.collapse(e); }, 10, std::nullopt},
        {"show_menu", [](P p, E e) { return p.show_menu(e); }, 5, std::nullopt},
        {"increment", [](P p, E e) { return p.increment(e); }, 8, std::nullopt},
        {"decrement", [](P p, E e) { return p.decrement(e); }, 8, std::nullopt},
        {"scroll_into_view", [](P p, E e) { return p.scroll_into_view(e); }, 9, std::nullopt},
        {"set_value", [](P p, E e) { return p.set_value(e, " new\tvalue "); }, 6, " new\tvalue "},
        {"set_numeric_value", [](P p, E e) { return p.set_numeric_value(e, 50.0); }, 8, "50"},
        {"type_text", [](P p, E e) { return p.type_text(e, "héllo"); }, 6, "héllo"},
        {"set_text_selection", [](P p, E e) { return p.set_text_selection(e, 2, 5); }, 6, "2..5"},
        {"perform_action", [](P p, E e) { return p.perform_action(e, "open"); }, 3, std::nullopt,
         "open"},
        {"activate", [](P p, E e) { return p.activate(e); }, 1, std::nullopt},
        {"minimize", [](P p, E e) { return p.minimize(e); }, 1, std::nullopt},
        {"maximize", [](P p, E e) { return p.maximize(e); }, 1, std::nullopt},
        {"enter_fullscreen", [](P p, E e) { return p.enter_fullscreen(e); }, 1, std::nullopt},
        {"restore", [](P p, E e) { return p.restore(e); }, 1, std::nullopt},
        {"move_to", [](P p, E e) { return p.move_to(e, -5, 10); }, 1, "-5,10"},
        {"resize_to", [](P p, E e) { return p.resize_to(e, 640, 480); }, 1, "640x480"},
        {"close", [](P p, E e) { return p.close(e); }, 1, std::nullopt},
    };
    return cases;
}

TEST(MockActions, EachOperationLogsOneEntry) {
    for (const OpCase& c : op_cases()) {
        SCOPED_TRACE(c.name);
        auto p = mock::build_provider();
        ASSERT_TRUE(c.call(*p, node(*p, c.handle)));
        EXPECT_EQ(
            p->actions(),
            (std::vector<MockAction>{{c.handle, c.logged_as ? c.logged_as : c.name, c.value}}));
        p->clear_actions();
        EXPECT_TRUE(p->actions().empty());
    }
}

TEST(MockActions, NumericValueTexts) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {42.0, "42"},
        {0.5, "0.5"},
        {-0.0, "-0"},
        {-2.25, "-2.25"},
        {1e23, "100000000000000000000000"},
        {1e-7, "0.0000001"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto p = mock::build_provider();
        ASSERT_TRUE(p->set_numeric_value(node(*p, 8), c.value));
        EXPECT_EQ(p->actions().at(0).value, c.text);
    }
}

TEST(MockActions, PerformActionByName) {
    struct Case {
        const char* name;
        std::optional<Error> error;
        std::vector<MockAction> log;
    };
    const Case cases[] = {
        {"open", std::nullopt, {{1, "open", std::nullopt}}},
        {"AXRaise", std::nullopt, {{1, "AXRaise", std::nullopt}}},
        {"", std::nullopt, {{1, "", std::nullopt}}},
        {"Close", std::nullopt, {{1, "Close", std::nullopt}}},
        {"activate", std::nullopt, {{1, "activate", std::nullopt}}},
        {"minimize", std::nullopt, {{1, "minimize", std::nullopt}}},
        {"close", std::nullopt, {{1, "close", std::nullopt}}},
        {"move_to",
         Error::InvalidActionData{
             "perform_action(\"move_to\") requires coordinates; call move_to(x, y)"},
         {}},
        {"resize_to",
         Error::InvalidActionData{
             "perform_action(\"resize_to\") requires dimensions; call resize_to(width, height)"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = mock::build_provider();
        auto r = p->perform_action(node(*p, 1), c.name);
        if (c.error)
            EXPECT_EQ(r.error(), *c.error);
        else
            EXPECT_TRUE(r) << r.error().message();
        EXPECT_EQ(p->actions(), c.log);
    }
    // Names that are window operations go through the window check; others do not.
    auto p = mock::build_provider();
    EXPECT_FALSE(p->perform_action(handle_only(99), "restore"));
    EXPECT_FALSE(p->perform_action(handle_only(99), "activate"));
    EXPECT_TRUE(p->perform_action(handle_only(99), "open"));
}

TEST(MockWindows, StateChanges) {
    using Op = Result<void> (MockProvider::*)(const ElementData&) const;
    struct Case {
        const char* name;
        std::vector<Op> ops;
        // minimized, maximized, fullscreen, visible
        std::optional<bool> minimized, maximized, fullscreen;
        bool visible;
    };
    const Case cases[] = {
        {"activate", {&MockProvider::activate}, std::nullopt, std::nullopt, std::nullopt, true},
        {"minimize", {&MockProvider::minimize}, true, false, false, false},
        {"minimize maximize",
         {&MockProvider::minimize, &MockProvider::maximize},
         false,
         true,
         false,
         true},
        {"fullscreen maximize",
         {&MockProvider::enter_fullscreen, &MockProvider::maximize},
         false,
         true,
         true,
         true},
        {"maximize fullscreen",
         {&MockProvider::maximize, &MockProvider::enter_fullscreen},
         false,
         false,
         true,
         true},
        {"minimize restore",
         {&MockProvider::minimize, &MockProvider::restore},
         false,
         false,
         false,
         true},
        {"maximize alone", {&MockProvider::maximize}, false, true, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = mock::build_provider();
        for (Op op : c.ops) ASSERT_TRUE(((*p).*op)(node(*p, 1)));
        const StateSet s = node(*p, 1).states;
        EXPECT_EQ(s.minimized, c.minimized);
        EXPECT_EQ(s.maximized, c.maximized);
        EXPECT_EQ(s.fullscreen, c.fullscreen);
        EXPECT_EQ(s.visible, c.visible);
        EXPECT_EQ(p->actions().size(), c.ops.size());
    }
}

TEST(MockWindows, MoveAndResize) {
    auto p = mock::build_provider();
    ASSERT_TRUE(p->move_to(node(*p, 1), -5, 10));
    EXPECT_EQ(node(*p, 1).bounds, (Rect{-5, 10, 800, 600}));
    ASSERT_TRUE(p->resize_to(node(*p, 1), 640, 480));
    EXPECT_EQ(node(*p, 1).bounds, (Rect{-5, 10, 640, 480}));
    // No bounds: nothing to change, logged all the same.
    ASSERT_TRUE(p->move_to(node(*p, 2), 1, 2));
    ASSERT_TRUE(p->resize_to(node(*p, 2), 3, 4));
    EXPECT_EQ(node(*p, 2).bounds, std::nullopt);
    EXPECT_EQ(p->actions(), (std::vector<MockAction>{
                                {1, "move_to", "-5,10"},
                                {1, "resize_to", "640x480"},
                                {2, "move_to", "1,2"},
                                {2, "resize_to", "3x4"},
                            }));
    // Any live node passes the window check, whatever its role.
    EXPECT_TRUE(p->live_window(node(*p, 17)));
}

Error closed_element(std::uint64_t h) {
    return Error::Platform{
        -1, fmt::format("element handle {} belongs to a closed window; cannot act on it", h)};
}
Error closed_window(std::uint64_t h) {
    return Error::Platform{
        -1, fmt::format("window handle {} belongs to a closed window; cannot act on it", h)};
}

TEST(MockWindows, CloseIsPermanent) {
    auto p = mock::build_provider();
    const ElementData window = node(*p, 1);
    const ElementData back = node(*p, 3);
    const ElementData item = node(*p, 12);
    const auto surfaces_before = p->list_shell_surfaces().value();
    ASSERT_TRUE(p->close(window));
    EXPECT_EQ(p->actions(), (std::vector<MockAction>{{1, "close", std::nullopt}}));

    const ElementData app = node(*p, 0);
    EXPECT_TRUE(p->get_children(&app).value().empty());
    EXPECT_TRUE(p->get_children(&window).value().empty());
    EXPECT_FALSE(p->get_parent(back).value());
    EXPECT_EQ(p->list_shell_surfaces().value(), surfaces_before);
    EXPECT_EQ(p->list_apps().value().size(), 1u);

    // Every node below the window is closed, however deep.
    for (const OpCase& c : op_cases()) {
        SCOPED_TRACE(c.name);
        for (const ElementData* e : {&window, &back, &item}) {
            auto r = c.call(*p, *e);
            ASSERT_FALSE(r);
            const bool window_check = c.handle == 1 && std::string_view(c.name) != "perform_action";
            EXPECT_EQ(r.error(),
                      window_check ? closed_window(e->handle) : closed_element(e->handle));
        }
    }
    EXPECT_EQ(p->actions().size(), 1u);
    EXPECT_EQ(p->find_elements_group(nullptr, SelectorGroup::parse("button").value(), std::nullopt,
                                     std::nullopt)
                  .value(),
              ElementList{});
}

TEST(MockWindows, ClosingTheApplicationHidesIt) {
    auto p = mock::build_split_provider();
    ASSERT_TRUE(p->close(node(*p, 0)));
    auto apps = p->list_apps().value();
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].handle, 18u);
    EXPECT_FALSE(p->get_parent(handle_only(1)).value());
    // The desktop's top level is node 0, closed or not.
    EXPECT_EQ(p->get_children(nullptr).value().size(), 1u);
    EXPECT_EQ(p->app_by_pid(1234).value().handle, 18u);
}

// `list_apps` answers from the application nodes kept aside when the tree is built and dropped
// as they close: it must equal a scan of every node (applications not closed, in index order),
// also for applications nested under other nodes and closed through an ancestor.
TEST(MockQueries, ApplicationListFollowsBuildsAndCloses) {
    auto nodes = [] {
        // 0 app > 1 window > 2 app; 3 group > 4 app; 5 app closed when built; 6 app.
        const std::vector<std::pair<Role, std::vector<std::size_t>>> shape{
            {Role::Application, {1}}, {Role::Window, {2}}, {Role::Application, {}},
            {Role::Group, {4}},       {Role::Application, {}}, {Role::Application, {}},
            {Role::Application, {}},
        };
        std::vector<MockNode> out(shape.size());
        for (std::size_t i = 0; i < shape.size(); ++i) {
            out[i].data.role = shape[i].first;
            out[i].data.handle = i;
            out[i].children = shape[i].second;
            for (std::size_t c : out[i].children) out[c].parent = i;
        }
        out[5].closed = true;
        return out;
    };
    struct Case {
        const char* name;
        std::vector<std::uint64_t> closes;
        std::vector<std::uint64_t> apps;
    } cases[] = {
        {"as built", {}, {0, 2, 4, 6}},
        {"a window holding an application", {1}, {0, 4, 6}},
        {"a group holding an application", {3}, {0, 2, 6}},
        {"an application and what it holds", {0}, {4, 6}},
        {"two in turn, the last one first", {6, 2}, {0, 4}},
        {"everything", {0, 3, 6}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MockProvider p(nodes());
        for (std::uint64_t h : c.closes) ASSERT_TRUE(p.close(handle_only(h)));
        const ElementList apps = p.list_apps().value();
        std::vector<std::uint64_t> listed;
        for (const auto& e : apps) listed.push_back(e.handle);
        EXPECT_EQ(listed, c.apps);
    }
}

TEST(MockEvents, SubscribeIsRefused) {
    auto p = mock::build_provider();
    auto r = p->subscribe(node(*p, 0));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error(Error::Platform{-1, "MockProvider does not support subscribe"}));
}

TEST(MockEvents, DisconnectedSubscription) {
    auto sub = mock::disconnected_subscription();
    // A wait that did not see the disconnection would block for the whole hour.
    EXPECT_EQ(sub.recv_status(std::chrono::hours(1)).kind, RecvStatus::Kind::Disconnected);
    EXPECT_FALSE(sub.try_recv());
    EXPECT_FALSE(sub.next());
    auto r = sub.recv(std::chrono::hours(1));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), ErrorKind::Timeout);
}

// Locks are taken per step, never held across a call out: many threads act, search and close
// at once without deadlock, and every successful call is logged exactly once.
TEST(MockConcurrency, ActionsSearchesAndCloseInterleave) {
    auto p = mock::build_provider();
    const auto group = SelectorGroup::parse("button, list_item").value();
    std::atomic<int> logged{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (p->press(handle_only(static_cast<std::uint64_t>(3 + t)))) ++logged;
                if (p->move_to(handle_only(1), t, i)) ++logged;
                auto found = p->find_elements_group(nullptr, group, std::nullopt, std::nullopt);
                ASSERT_TRUE(found);
                auto narrowed = p->narrow_multi_segment(
                    p->list_apps().value(), group.selectors[0].segments, 50, std::nullopt);
                ASSERT_TRUE(narrowed);
                if (t == 0 && i == 100 && p->close(handle_only(1))) ++logged;
            }
        });
    threads.clear();
    EXPECT_EQ(p->actions().size(), static_cast<std::size_t>(logged.load()));
    const ElementData app = node(*p, 0);
    EXPECT_TRUE(p->get_children(&app).value().empty());
}

}  // namespace
}  // namespace vemor
