#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/recording_provider.hpp"

namespace vemor {
namespace {

using testing::node;
using testing::RecordingProvider;

std::shared_ptr<RecordingProvider> tree_provider() {
    auto p = std::make_shared<RecordingProvider>();
    auto win = node(1, Role::Window, "Main");
    p->add(win, 0);
    p->add(node(2, Role::Button, "OK"), 1);
    auto field = node(3, Role::TextField);
    field.value = "abc";
    p->add(field, 1);
    p->add(node(4, Role::StaticText, "deep"), 3);
    return p;
}

TEST(ElementOps, WindowLikeCheck) {
    struct Case {
        Role role;
        std::vector<std::string> actions;
        std::optional<bool> minimized, fullscreen;
        bool window_like;
    } cases[] = {
        {Role::Window, {}, {}, {}, true},
        {Role::Dialog, {}, {}, {}, false},
        {Role::Dialog, {}, {}, false, true},
        {Role::Dialog, {"close"}, {}, {}, true},
        {Role::Dialog, {}, true, {}, true},
        {Role::Button, {"minimize"}, {}, {}, false},
        {Role::Button, {}, {}, true, false},
        {Role::Dialog, {"Close"}, {}, {}, false},
    };
    auto p = std::make_shared<RecordingProvider>();
    for (const auto& c : cases) {
        ElementData d = node(9, c.role);
        d.actions = c.actions;
        d.states.minimized = c.minimized;
        d.states.fullscreen = c.fullscreen;
        auto r = Element(d, p).close();
        EXPECT_EQ(r.has_value(), c.window_like) << role::to_snake_case(c.role);
        if (!r) {
            EXPECT_EQ(r.error(), Error(Error::ActionNotSupported{"close", c.role}));
        }
    }
}

TEST(ElementOps, ArgumentChecksComeFirst) {
    auto p = std::make_shared<RecordingProvider>();
    Element button(node(5, Role::Button), p);
    Element window(node(6, Role::Window), p);
    struct Case {
        Result<void> result;
        std::string_view message;
    } cases[] = {
        {button.select_text(4, 3), "Invalid action data: select_text start (4) must be <= end (3)"},
        {button.set_numeric_value(std::nan("")),
         "Invalid action data: set_numeric_value requires a finite value, got NaN"},
        {button.set_numeric_value(-INFINITY),
         "Invalid action data: set_numeric_value requires a finite value, got -inf"},
        {button.resize_to(0, 0),
         "Invalid action data: resize_to requires positive width and height, got 0x0"},
        {button.resize_to(10, 10), "Action resize_to not supported on button"},
        {button.move_to(1, 2), "Action move_to not supported on button"},
        {button.minimize(), "Action minimize not supported on button"},
        {button.perform_action("enter_fullscreen"),
         "Action enter_fullscreen not supported on button"},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.result);
        EXPECT_EQ(c.result.error().message(), c.message);
    }
    EXPECT_TRUE(p->calls().empty());

    EXPECT_TRUE(button.select_text(3, 3));
    EXPECT_TRUE(button.set_numeric_value(-0.0));
    EXPECT_TRUE(button.set_numeric_value(1e308));
    EXPECT_TRUE(button.perform_action("move_to"));
    EXPECT_TRUE(window.resize_to(640, 480));
    EXPECT_TRUE(window.perform_action("minimize"));
    EXPECT_THAT(p->calls(),
                ::testing::ElementsAre("set_text_selection 3 3", "set_numeric_value -0",
                                       "set_numeric_value " + text::float_display(1e308),
                                       "perform_action move_to", "resize_to 640 480",
                                       "minimize 6"));
}

TEST(ElementOps, TreeAndDump) {
    auto p = tree_provider();
    auto root = p->get_children(nullptr).value().front();
    Element win(root, p);

    const auto calls_before = p->calls().size();
    auto leaf = win.tree(0);
    ASSERT_TRUE(leaf);
    EXPECT_TRUE(leaf->children.empty());
    EXPECT_EQ(p->calls().size(), calls_before);

    EXPECT_EQ(win.dump(std::nullopt).value(),
              "window \"Main\"\n"
              "  button \"OK\"\n"
              "  text_field value=\"abc\"\n"
              "    static_text \"deep\"\n");
    EXPECT_EQ(win.dump(1).value(),
              "window \"Main\"\n"
              "  button \"OK\"\n"
              "  text_field value=\"abc\"\n");
    auto children = win.children().value();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[1]->role, Role::TextField);
    EXPECT_EQ(children[1].provider(), win.provider());

    p->fail_children_of(3);
    EXPECT_EQ(win.dump(std::nullopt).error().message(), "Platform error (-1): children failed");
}

TEST(ElementOps, TreeStopsAtCycles) {
    auto p = std::make_shared<RecordingProvider>();
    p->add(node(1, Role::Group, "a"), 0);
    p->add(node(2, Role::Group, "b"), 1);
    // A platform that reports an ancestor again as a child.
    p->add(node(1, Role::Group, "a"), 2);
    Element a(node(1, Role::Group, "a"), p);
    auto dump = a.dump(std::nullopt);
    ASSERT_TRUE(dump);
    EXPECT_EQ(*dump, "group \"a\"\n  group \"b\"\n    group \"a\"\n");
}

// A platform that answers every element with one new child, without end.
class EndlessChain : public testing::RecordingProvider {
public:
    Result<ElementList> get_children(const ElementData* parent) const override {
        const std::uint64_t h = parent ? parent->handle : 0;
        return ElementList{node(h + 1, Role::Group)};
    }
};

TEST(ElementOps, TreeOfAnEndlessPlatformIsCut) {
    auto p = std::make_shared<EndlessChain>();
    Element root(node(1, Role::Group), p);
    auto tree = root.tree(std::nullopt);
    ASSERT_TRUE(tree);
    std::size_t levels = 0;
    for (const TreeNode* n = &*tree; !n->children.empty(); n = &n->children.front()) ++levels;
    EXPECT_EQ(levels, 1000u);
    EXPECT_EQ(root.tree(3).value().children.front().children.front().children.size(), 1u);
    auto dump = root.dump(2);
    ASSERT_TRUE(dump);
    EXPECT_EQ(*dump, "group\n  group\n    group\n");
}

}  // namespace
}  // namespace vemor
