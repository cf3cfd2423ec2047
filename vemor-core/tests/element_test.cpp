#include "vemor/element.hpp"

#include <gtest/gtest.h>

namespace vemor {
namespace {

TEST(Element, TreeDumpIsIndentedAndUnescaped) {
    TreeNode root{"window", "Main \"x\"", std::nullopt,
                  {TreeNode{"button", "OK", std::nullopt, {}},
                   TreeNode{"group", std::nullopt, std::nullopt,
                            {TreeNode{"text_field", std::nullopt, "a\"b", {}}}}}};
    std::string out;
    element::write_tree_node(root, 0, out);
    EXPECT_EQ(out,
              "window \"Main \"x\"\"\n"
              "  button \"OK\"\n"
              "  group\n"
              "    text_field value=\"a\"b\"\n");
    std::string nested;
    element::write_tree_node(TreeNode{"button", "B", "1", {}}, 2, nested);
    EXPECT_EQ(nested, "    button \"B\" value=\"1\"\n");
}

TEST(Element, WindowIdentityKeys) {
    struct Case {
        std::optional<std::string> stable_id;
        std::optional<Json> bus;
        std::uint64_t handle;
        std::string key;
    } cases[] = {
        {"7", Json(":1.42"), 0, ":1.42:7"},
        {"7", Json(42), 0, "7"},
        {"7", std::nullopt, 3, "7"},
        {std::nullopt, Json(":1.42"), 12, "h12"},
    };
    for (const auto& c : cases) {
        ElementData e;
        e.stable_id = c.stable_id;
        if (c.bus) e.raw["bus_name"] = *c.bus;
        e.handle = c.handle;
        EXPECT_EQ(app::same_window_identity_key(e), c.key);
    }
    ElementData a, b;
    a.handle = 1;
    b.handle = 1;
    EXPECT_TRUE(app::same_window_identity(a, b));
    b.stable_id = "h1";
    EXPECT_TRUE(app::same_window_identity(a, b));
    b.stable_id = "x";
    EXPECT_FALSE(app::same_window_identity(a, b));
}

TEST(Element, RectJsonHasSortedKeys) {
    EXPECT_EQ(json::dump(to_json(Rect{-5, 10, 200, 100})),
              R"({"height":100,"width":200,"x":-5,"y":10})");
    EXPECT_EQ(checked_state::to_snake_case(CheckedState::Mixed), "mixed");
    EXPECT_EQ(checked_state::from_snake_case("on"), CheckedState::On);
    EXPECT_EQ(checked_state::from_snake_case("On"), std::nullopt);
}

}  // namespace
}  // namespace vemor
