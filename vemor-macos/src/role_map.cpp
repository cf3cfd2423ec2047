#include "vemor/macos/role_map.hpp"

#include <utility>

namespace vemor::ax {
namespace {

using Entry = std::pair<std::string_view, Role>;

// Subroles that name the element more precisely than its role does ("AXGroup" that is really a
// dialog, "AXButton" that is a tab).
constexpr Entry kSubroles[] = {
    {"AXDialog", Role::Dialog},          {"AXSwitch", Role::Switch},
    {"AXHeading", Role::Heading},        {"AXTabButton", Role::Tab},
    {"AXOutlineRow", Role::TreeItem},    {"AXSystemAlert", Role::Alert},
    {"AXApplicationAlert", Role::Alert}, {"AXLandmarkNavigation", Role::Navigation},
};

// AXButton and AXMenuButton also look at the subrole; they are handled before this table.
constexpr Entry kRoles[] = {
    {"AXWindow", Role::Window},
    {"AXDrawer", Role::Window},
    {"AXApplication", Role::Application},
    {"AXDockItem", Role::Button},
    {"AXSortButton", Role::Button},
    {"AXCheckBox", Role::CheckBox},
    {"AXRadioButton", Role::RadioButton},
    {"AXTextField", Role::TextField},
    {"AXSecureTextField", Role::TextField},
    {"AXTextArea", Role::TextArea},
    {"AXStaticText", Role::StaticText},
    {"AXComboBox", Role::ComboBox},
    {"AXPopUpButton", Role::ComboBox},
    {"AXList", Role::List},
    {"AXOutline", Role::List},
    {"AXMenu", Role::Menu},
    {"AXMenuItem", Role::MenuItem},
    {"AXMenuBarItem", Role::MenuItem},
    {"AXMenuBar", Role::MenuBar},
    {"AXMenuBarExtra", Role::MenuBar},
    {"AXTabGroup", Role::TabGroup},
    {"AXTable", Role::Table},
    {"AXGrid", Role::Table},
    {"AXRow", Role::TableRow},
    {"AXCell", Role::TableCell},
    {"AXToolbar", Role::Toolbar},
    {"AXScrollBar", Role::ScrollBar},
    {"AXSlider", Role::Slider},
    {"AXImage", Role::Image},
    {"AXLink", Role::Link},
    {"AXGroup", Role::Group},
    {"AXColumn", Role::Group},
    {"AXBrowser", Role::Group},
    {"AXScrollArea", Role::Group},
    {"AXRadioGroup", Role::Group},
    {"AXLayoutArea", Role::Group},
    {"AXPopover", Role::Group},
    {"AXSheet", Role::Dialog},
    {"AXDialog", Role::Dialog},
    {"AXProgressIndicator", Role::ProgressBar},
    {"AXBusyIndicator", Role::ProgressBar},
    {"AXLevelIndicator", Role::ProgressBar},
    {"AXDisclosureTriangle", Role::TreeItem},
    {"AXWebArea", Role::WebArea},
    {"AXHeading", Role::Heading},
    {"Heading", Role::Heading},
    {"AXSplitter", Role::Separator},
    {"AXSplitGroup", Role::SplitGroup},
    {"AXIncrementor", Role::SpinButton},
    {"AXHelpTag", Role::Tooltip},
    {"AXToolTip", Role::Tooltip},
    {"AXStatusBar", Role::Status},
    {"AXValueIndicator", Role::ScrollThumb},
    {"AXGrowArea", Role::ScrollThumb},
};

template <std::size_t N>
std::optional<Role> lookup(const Entry (&table)[N], std::string_view text) {
    // string_view equality compares lengths first, so most misses cost one size comparison.
    for (const auto& [word, role] : table)
        if (word == text) return role;
    return std::nullopt;
}

}  // namespace

Role map_ax_role(std::string_view role, std::optional<std::string_view> subrole) {
    if (subrole)
        if (auto r = lookup(kSubroles, *subrole)) return *r;
    if (role == "AXButton")
        return subrole == std::string_view("AXDisclosureTriangle") ? Role::TreeItem : Role::Button;
    if (role == "AXMenuButton")
        return subrole == std::string_view("AXSegment") ? Role::Button : Role::ComboBox;
    if (auto r = lookup(kRoles, role)) return *r;
    return Role::Unknown;
}

}  // namespace vemor::ax
