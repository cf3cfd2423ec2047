#include "vemor/provider.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/recording_provider.hpp"
#include "vemor/mock.hpp"

namespace vemor {
namespace {

ElementData handle_only(std::uint64_t handle) {
    ElementData e;
    e.handle = handle;
    return e;
}

std::vector<std::uint64_t> handles_of(const ElementList& list) {
    std::vector<std::uint64_t> out;
    for (const auto& e : list) out.push_back(e.handle);
    return out;
}

// Narrowing over several candidates takes each segment's :nth once, over the union of what the
// candidates yield, the way the tree search does; not once per candidate.
TEST(ProviderDefaults, NarrowAppliesNthOverTheUnion) {
    auto p = mock::build_provider();
    struct Case {
        std::vector<std::uint64_t> candidates;
        const char* selector;
        std::optional<std::size_t> limit;
        std::vector<std::uint64_t> expected;
    };
    // 0 is "TestApp" (buttons 3 and 4), 13 the taskbar (buttons 14 and 15).
    const Case cases[] = {
        {{0, 13}, "button:nth(2)", std::nullopt, {4}},
        {{0, 13}, "button:nth(3)", std::nullopt, {14}},
        {{0, 13}, "button:nth(5)", std::nullopt, {}},
        {{0, 13}, "button", 3, {3, 4, 14}},
        {{0, 0}, "button", std::nullopt, {3, 4}},
        {{0, 13}, "toolbar > button:nth(2)", std::nullopt, {4}},
        {{1}, "list > list_item:nth(1)", std::nullopt, {11}},
        {{13, 0}, "button:nth(1)", std::nullopt, {14}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        ElementList candidates;
        // Every node is reachable from the top-level nodes.
        ElementList pending = p->list_apps().value();
        const auto surfaces = p->list_shell_surfaces().value();
        for (const auto& [kind, e] : surfaces) pending.push_back(e);
        ElementList all;
        while (!pending.empty()) {
            all.push_back(std::move(pending.back()));
            pending.pop_back();
            auto children = p->get_children(&all.back()).value();
            std::move(children.begin(), children.end(), std::back_inserter(pending));
        }
        for (auto h : c.candidates)
            for (const auto& e : all)
                if (e.handle == h) candidates.push_back(e);
        ASSERT_EQ(candidates.size(), c.candidates.size());
        auto segments = Selector::parse(c.selector).value().segments;
        auto narrowed = p->narrow_multi_segment(candidates, segments, 50, c.limit);
        EXPECT_EQ(handles_of(narrowed.value()), c.expected);
    }

    // A rootless `application button:nth(2)`: the first segment over the desktop, the rest
    // narrowed from its matches.
    auto segments = Selector::parse("application button:nth(2)").value().segments;
    auto apps =
        p->find_elements(nullptr, std::span(segments).first(1), std::nullopt, std::nullopt).value();
    ASSERT_EQ(handles_of(apps), std::vector<std::uint64_t>{0});
    auto found = p->narrow_multi_segment(apps, std::span(segments).subspan(1), 50, std::nullopt);
    ASSERT_EQ(found.value().size(), 1u);
    EXPECT_EQ(found.value()[0].name, "Forward");
}

// A target that also overrides the contract's three defaults, so that a forwarder which ran a
// default itself (instead of the target's) would show in the call log.
class DefaultsTarget : public testing::RecordingProvider {
public:
    DefaultsTarget() {
        add(testing::node(1, Role::Application, "App"), 0);
        add(testing::node(2, Role::Window, "Main"), 1);
        add(testing::node(3, Role::Button, "OK"), 2);
        add(testing::node(4, Role::Button, "Cancel"), 2);
        add(testing::node(5, Role::Toolbar, "Bar"), 0);
    }
    Result<ElementList> app_windows(const ElementData& app) const override {
        log("app_windows");
        return Provider::app_windows(app);
    }
    Result<ElementList> find_elements(const ElementData* root,
                                      std::span<const SelectorSegment> segments,
                                      std::optional<std::size_t> limit,
                                      std::optional<std::uint32_t> max_depth) const override {
        log("find_elements");
        return Provider::find_elements(root, segments, limit, max_depth);
    }
    Result<ElementList> narrow_multi_segment(ElementList candidates,
                                             std::span<const SelectorSegment> segments,
                                             std::uint32_t max_depth,
                                             std::optional<std::size_t> limit) const override {
        log("narrow_multi_segment");
        return Provider::narrow_multi_segment(std::move(candidates), segments, max_depth, limit);
    }
};

std::string show(const Result<void>& r) { return r ? "ok" : r.error().message(); }
std::string show(bool b) { return b ? "true" : "false"; }
std::string show(const Result<ElementData>& r) {
    return r ? fmt::format("#{}", r->handle) : r.error().message();
}
std::string show(const Result<std::optional<ElementData>>& r) {
    if (!r) return r.error().message();
    return *r ? fmt::format("#{}", (*r)->handle) : "none";
}
std::string show(const Result<ElementList>& r) {
    return r ? fmt::format("{}", handles_of(*r)) : r.error().message();
}
std::string show(const Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>>& r) {
    if (!r) return r.error().message();
    std::string out;
    for (const auto& [kind, e] : *r) out += fmt::format("{} #{};", kind, e.handle);
    return out;
}
std::string show(const Result<Subscription>& r) {
    return r ? "subscription" : r.error().message();
}

// Every one of the 37 operations, called directly on a target and through a forwarder to an
// identical target: the same answer, and the same calls on the target, starting with the
// operation of that name (the defaults included).
TEST(ProviderForwarding, AllOperationsReachTheTarget) {
    using P = const Provider&;
    ElementData app = testing::node(1, Role::Application, "App");
    ElementData window = testing::node(2, Role::Window, "Main");
    ElementData button = testing::node(3, Role::Button, "OK");
    const auto group = SelectorGroup::parse("button").value();
    const auto segments = Selector::parse("window > button:nth(2)").value().segments;
    struct Case {
        const char* first_call;
        std::function<std::string(P)> call;
    };
    const std::vector<Case> cases{
        {"get_children 0", [&](P p) { return show(p.get_children(nullptr)); }},
        {"app_windows", [&](P p) { return show(p.app_windows(app)); }},
        {"get_parent", [&](P p) { return show(p.get_parent(button)); }},
        {"get_children 0", [&](P p) { return show(p.list_apps()); }},
        {"splits_app_across_entries", [&](P p) { return show(p.splits_app_across_entries()); }},
        {"get_children 1", [&](P p) { return show(p.app_roots(app)); }},
        {"app_by_pid 7", [&](P p) { return show(p.app_by_pid(7)); }},
        {"focused_app", [&](P p) { return show(p.focused_app()); }},
        {"list_shell_surfaces", [&](P p) { return show(p.list_shell_surfaces()); }},
        {"find_elements",
         [&](P p) { return show(p.find_elements(&app, group.selectors[0].segments, 1, 9)); }},
        {"find_elements_group",
         [&](P p) { return show(p.find_elements_group(nullptr, group, {}, {})); }},
        {"narrow_multi_segment",
         [&](P p) {
             return show(p.narrow_multi_segment({app}, std::span(segments).subspan(1), 50, {}));
         }},
        {"press 3", [&](P p) { return show(p.press(button)); }},
        {"focus 3", [&](P p) { return show(p.focus(button)); }},
        {"blur 3", [&](P p) { return show(p.blur(button)); }},
        {"toggle 3", [&](P p) { return show(p.toggle(button)); }},
        {"select 3", [&](P p) { return show(p.select(button)); }},
        {"expand 3", [&](P p) { return show(p.expand(button)); }},
        {"collapse 3", [&](P p) { return show(p.collapse(button)); }},
        {"show_menu 3", [&](P p) { return show(p.show_menu(button)); }},
        {"increment 3", [&](P p) { return show(p.increment(button)); }},
        {"decrement 3", [&](P p) { return show(p.decrement(button)); }},
        {"scroll_into_view 3", [&](P p) { return show(p.scroll_into_view(button)); }},
        {"set_value v", [&](P p) { return show(p.set_value(button, "v")); }},
        {"set_numeric_value 0.5", [&](P p) { return show(p.set_numeric_value(button, 0.5)); }},
        {"type_text t", [&](P p) { return show(p.type_text(button, "t")); }},
        {"set_text_selection 1 2", [&](P p) { return show(p.set_text_selection(button, 1, 2)); }},
        {"perform_action open", [&](P p) { return show(p.perform_action(button, "open")); }},
        {"activate 2", [&](P p) { return show(p.activate(window)); }},
        {"minimize 2", [&](P p) { return show(p.minimize(window)); }},
        {"maximize 2", [&](P p) { return show(p.maximize(window)); }},
        {"enter_fullscreen 2", [&](P p) { return show(p.enter_fullscreen(window)); }},
        {"restore 2", [&](P p) { return show(p.restore(window)); }},
        {"close 2", [&](P p) { return show(p.close(window)); }},
        {"move_to -3 4", [&](P p) { return show(p.move_to(window, -3, 4)); }},
        {"resize_to 5 6", [&](P p) { return show(p.resize_to(window, 5, 6)); }},
        {"subscribe 1", [&](P p) { return show(p.subscribe(app)); }},
    };
    ASSERT_EQ(cases.size(), 37u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first_call);
        DefaultsTarget direct;
        const std::string expected = c.call(direct);
        DefaultsTarget forwarded;
        EXPECT_EQ(c.call(ForwardingProvider(forwarded)), expected);
        const auto calls = forwarded.calls();
        EXPECT_EQ(calls, direct.calls());
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front(), c.first_call);
    }
}

// The defaults over a tree provider: `app_windows` is the application's children, and an error
// from a per-element step ends the narrowing with that error.
TEST(ProviderDefaults, WindowsAndNarrowingErrors) {
    DefaultsTarget p;
    ElementData app = testing::node(1, Role::Application, "App");
    EXPECT_EQ(handles_of(p.app_windows(app).value()), std::vector<std::uint64_t>{2});

    const auto child = Selector::parse("window > button").value().segments;
    const auto descendant = Selector::parse("window button:nth(2)").value().segments;
    EXPECT_EQ(handles_of(p.narrow_multi_segment({app}, child, 50, {}).value()),
              (std::vector<std::uint64_t>{3, 4}));
    EXPECT_EQ(handles_of(
                  p.narrow_multi_segment({app}, std::span(child).subspan(1), 50, 1).value()),
              std::vector<std::uint64_t>{});
    ElementData window = testing::node(2, Role::Window, "Main");
    EXPECT_EQ(handles_of(
                  p.narrow_multi_segment({window}, std::span(child).subspan(1), 50, 1).value()),
              std::vector<std::uint64_t>{3});
    EXPECT_EQ(handles_of(
                  p.narrow_multi_segment({app}, std::span(descendant).subspan(1), 50, {}).value()),
              std::vector<std::uint64_t>{4});

    p.fail_children_of(2);
    for (const auto& segs : {child, descendant}) {
        auto r = p.narrow_multi_segment({window}, std::span(segs).subspan(1), 50, {});
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message(), "Platform error (-1): children failed");
    }
}

TEST(ProviderForwarding, SameAnswersAsTheTarget) {
    auto mock = mock::build_provider();
    ForwardingProvider fwd(*mock);
    const ElementData app = mock->focused_app().value();
    const ElementData window = mock->get_children(&app).value().at(0);
    const auto group = SelectorGroup::parse("button, slider").value();

    EXPECT_EQ(fwd.get_children(nullptr), mock->get_children(nullptr));
    EXPECT_EQ(fwd.get_children(&app), mock->get_children(&app));
    EXPECT_EQ(fwd.app_windows(app), mock->app_windows(app));
    EXPECT_EQ(fwd.get_parent(window), mock->get_parent(window));
    EXPECT_EQ(fwd.list_apps(), mock->list_apps());
    EXPECT_EQ(fwd.splits_app_across_entries(), mock->splits_app_across_entries());
    EXPECT_EQ(fwd.app_roots(app), mock->app_roots(app));
    EXPECT_EQ(fwd.app_by_pid(1234), mock->app_by_pid(1234));
    EXPECT_EQ(fwd.app_by_pid(4242), mock->app_by_pid(4242));
    EXPECT_EQ(fwd.list_shell_surfaces(), mock->list_shell_surfaces());
    EXPECT_EQ(fwd.find_elements_group(nullptr, group, std::nullopt, std::nullopt),
              mock->find_elements_group(nullptr, group, std::nullopt, std::nullopt));
    EXPECT_EQ(fwd.narrow_multi_segment({app}, group.selectors[1].segments, 50, std::nullopt),
              mock->narrow_multi_segment({app}, group.selectors[1].segments, 50, std::nullopt));
    EXPECT_EQ(fwd.subscribe(app).error(), mock->subscribe(app).error());

    // Actions reach the target's log; failures come back unchanged.
    ASSERT_TRUE(fwd.set_numeric_value(window, 0.5));
    ASSERT_TRUE(fwd.move_to(window, 3, 4));
    EXPECT_EQ(fwd.perform_action(window, "move_to"), mock->perform_action(window, "move_to"));
    EXPECT_EQ(fwd.minimize(handle_only(99)), mock->minimize(handle_only(99)));
    EXPECT_EQ(mock->actions(), (std::vector<MockAction>{
                                   {1, "set_numeric_value", "0.5"},
                                   {1, "move_to", "3,4"},
                               }));

    // Through a shared handle, as the query engine holds providers.
    ProviderHandle handle = mock::build_provider();
    EXPECT_EQ(ForwardingProvider(*handle).list_apps(), handle->list_apps());
}

}  // namespace
}  // namespace vemor
