#include "vemor/role.hpp"

#include <gtest/gtest.h>

#include "vemor/shell.hpp"

namespace vemor {
namespace {

TEST(Role, EveryRoleRoundTripsThroughItsName) {
    for (std::size_t i = 0; i < kRoleCount; ++i) {
        auto r = static_cast<Role>(i);
        EXPECT_EQ(role::from_snake_case(role::to_snake_case(r)), r) << i;
        EXPECT_EQ(fmt::format("{}", r), role::to_snake_case(r));
    }
}

TEST(Role, ParsingIsExactAndCaseSensitive) {
    struct Case {
        std::string_view text;
        std::optional<Role> expected;
    } cases[] = {
        {"button", Role::Button},       {"check_box", Role::CheckBox},
        {"unknown", Role::Unknown},     {"scroll_thumb", Role::ScrollThumb},
        {"Button", std::nullopt},       {"BUTTON", std::nullopt},
        {" button", std::nullopt},      {"checkbox", std::nullopt},
        {"", std::nullopt},             {"progress_bar_x", std::nullopt},
        {"tab", Role::Tab},             {"ta", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(role::from_snake_case(c.text), c.expected) << c.text;
}

TEST(Role, OrdinalsAndCamelNamesAreFixed) {
    EXPECT_EQ(static_cast<int>(Role::Window), 1);
    EXPECT_EQ(static_cast<int>(Role::Dialog), 26);
    EXPECT_EQ(static_cast<int>(Role::ScrollThumb), 39);
    EXPECT_EQ(role::to_camel_case(Role::CheckBox), "CheckBox");
    EXPECT_EQ(role::to_snake_case(Role::SpinButton), "spin_button");
}

TEST(ShellSurfaceKind, NamesRoundTripAndParseExactly) {
    for (const auto& entry : shell_surface_kind::kNames)
        EXPECT_EQ(shell_surface_kind::from_snake_case(fmt::format("{}", entry.value)), entry.value);
    struct Case {
        std::string_view text;
        std::optional<ShellSurfaceKind> expected;
    } cases[] = {
        {"dock", ShellSurfaceKind::Dock}, {"menu_bar", ShellSurfaceKind::MenuBar},
        {"Dock", std::nullopt},           {"menubar", std::nullopt},
        {" dock", std::nullopt},          {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shell_surface_kind::from_snake_case(c.text), c.expected) << c.text;
    EXPECT_EQ(static_cast<int>(ShellSurfaceKind::Unknown), 7);
}

}  // namespace
}  // namespace vemor
