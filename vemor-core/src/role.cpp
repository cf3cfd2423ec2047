#include "vemor/role.hpp"

#include <array>

namespace vemor::role {
namespace {

struct RoleNames {
    std::string_view snake;
    std::string_view camel;
};

// Indexed by the role's ordinal.
constexpr std::array<RoleNames, kRoleCount> kNames{{
    {"unknown", "Unknown"},
    {"window", "Window"},
    {"application", "Application"},
    {"button", "Button"},
    {"check_box", "CheckBox"},
    {"radio_button", "RadioButton"},
    {"text_field", "TextField"},
    {"text_area", "TextArea"},
    {"static_text", "StaticText"},
    {"combo_box", "ComboBox"},
    {"list", "List"},
    {"list_item", "ListItem"},
    {"menu", "Menu"},
    {"menu_item", "MenuItem"},
    {"menu_bar", "MenuBar"},
    {"tab", "Tab"},
    {"tab_group", "TabGroup"},
    {"table", "Table"},
    {"table_row", "TableRow"},
    {"table_cell", "TableCell"},
    {"toolbar", "Toolbar"},
    {"scroll_bar", "ScrollBar"},
    {"slider", "Slider"},
    {"image", "Image"},
    {"link", "Link"},
    {"group", "Group"},
    {"dialog", "Dialog"},
    {"alert", "Alert"},
    {"progress_bar", "ProgressBar"},
    {"tree_item", "TreeItem"},
    {"web_area", "WebArea"},
    {"heading", "Heading"},
    {"separator", "Separator"},
    {"split_group", "SplitGroup"},
    {"switch", "Switch"},
    {"spin_button", "SpinButton"},
    {"tooltip", "Tooltip"},
    {"status", "Status"},
    {"navigation", "Navigation"},
    {"scroll_thumb", "ScrollThumb"},
}};

constexpr std::size_t kShortestName = 3;
constexpr std::size_t kLongestName = 12;

}  // namespace

std::string_view to_snake_case(Role role) {
    auto i = static_cast<std::size_t>(role);
    return i < kNames.size() ? kNames[i].snake : kNames[0].snake;
}

std::string_view to_camel_case(Role role) {
    auto i = static_cast<std::size_t>(role);
    return i < kNames.size() ? kNames[i].camel : kNames[0].camel;
}

std::optional<Role> from_snake_case(std::string_view text) {
    if (text.size() < kShortestName || text.size() > kLongestName) return std::nullopt;
    for (std::size_t i = 0; i < kNames.size(); ++i)
        if (kNames[i].snake == text) return static_cast<Role>(i);
    return std::nullopt;
}

}  // namespace vemor::role
