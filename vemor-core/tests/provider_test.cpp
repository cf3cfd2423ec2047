#include "vemor/provider.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
