#include "vemor/macos/role_map.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace vemor {
namespace {

struct Case {
    std::string_view role;
    std::optional<std::string_view> subrole;
    Role expected;
};

TEST(MapAxRole, SubroleDecidesFirst) {
    const Case cases[] = {
        {"AXGroup", "AXDialog", Role::Dialog},
        {"AXButton", "AXTabButton", Role::Tab},
        {"AXRow", "AXOutlineRow", Role::TreeItem},
        {"AXCheckBox", "AXSwitch", Role::Switch},
        {"AXStaticText", "AXHeading", Role::Heading},
        {"AXWindow", "AXSystemAlert", Role::Alert},
        {"", "AXApplicationAlert", Role::Alert},
        {"AXGroup", "AXLandmarkNavigation", Role::Navigation},
        // A subrole outside the table leaves the decision to the role text.
        {"AXButton", "AXCloseButton", Role::Button},
        {"AXWindow", "AXStandardWindow", Role::Window},
        // An empty subrole is not "no subrole" but still matches no rule.
        {"AXList", "", Role::List},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.role << " / " << c.subrole.value_or("(none)"));
        EXPECT_EQ(ax::map_ax_role(c.role, c.subrole), c.expected);
    }
}

TEST(MapAxRole, RoleTextsThatLookAtTheSubrole) {
    const Case cases[] = {
        {"AXButton", std::nullopt, Role::Button},
        {"AXButton", "AXDisclosureTriangle", Role::TreeItem},
        {"AXMenuButton", std::nullopt, Role::ComboBox},
        {"AXMenuButton", "AXSegment", Role::Button},
        {"AXMenuButton", "AXSegmentX", Role::ComboBox},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.role << " / " << c.subrole.value_or("(none)"));
        EXPECT_EQ(ax::map_ax_role(c.role, c.subrole), c.expected);
    }
}

TEST(MapAxRole, EveryRoleTextOfTheTable) {
    const Case cases[] = {
        {"AXWindow", {}, Role::Window},
        {"AXDrawer", {}, Role::Window},
        {"AXApplication", {}, Role::Application},
        {"AXDockItem", {}, Role::Button},
        {"AXSortButton", {}, Role::Button},
        {"AXCheckBox", {}, Role::CheckBox},
        {"AXRadioButton", {}, Role::RadioButton},
        {"AXTextField", {}, Role::TextField},
        {"AXSecureTextField", {}, Role::TextField},
        {"AXTextArea", {}, Role::TextArea},
        {"AXStaticText", {}, Role::StaticText},
        {"AXComboBox", {}, Role::ComboBox},
        {"AXPopUpButton", {}, Role::ComboBox},
        {"AXList", {}, Role::List},
        {"AXOutline", {}, Role::List},
        {"AXMenu", {}, Role::Menu},
        {"AXMenuItem", {}, Role::MenuItem},
        {"AXMenuBarItem", {}, Role::MenuItem},
        {"AXMenuBar", {}, Role::MenuBar},
        {"AXMenuBarExtra", {}, Role::MenuBar},
        {"AXTabGroup", {}, Role::TabGroup},
        {"AXTable", {}, Role::Table},
        {"AXGrid", {}, Role::Table},
        {"AXRow", {}, Role::TableRow},
        {"AXCell", {}, Role::TableCell},
        {"AXToolbar", {}, Role::Toolbar},
        {"AXScrollBar", {}, Role::ScrollBar},
        {"AXSlider", {}, Role::Slider},
        {"AXImage", {}, Role::Image},
        {"AXLink", {}, Role::Link},
        {"AXGroup", {}, Role::Group},
        {"AXColumn", {}, Role::Group},
        {"AXBrowser", {}, Role::Group},
        {"AXScrollArea", {}, Role::Group},
        {"AXRadioGroup", {}, Role::Group},
        {"AXLayoutArea", {}, Role::Group},
        {"AXPopover", {}, Role::Group},
        {"AXSheet", {}, Role::Dialog},
        {"AXDialog", {}, Role::Dialog},
        {"AXProgressIndicator", {}, Role::ProgressBar},
        {"AXBusyIndicator", {}, Role::ProgressBar},
        {"AXLevelIndicator", {}, Role::ProgressBar},
        {"AXDisclosureTriangle", {}, Role::TreeItem},
        {"AXWebArea", {}, Role::WebArea},
        {"AXHeading", {}, Role::Heading},
        {"Heading", {}, Role::Heading},
        {"AXSplitter", {}, Role::Separator},
        {"AXSplitGroup", {}, Role::SplitGroup},
        {"AXIncrementor", {}, Role::SpinButton},
        {"AXHelpTag", {}, Role::Tooltip},
        {"AXToolTip", {}, Role::Tooltip},
        {"AXStatusBar", {}, Role::Status},
        {"AXValueIndicator", {}, Role::ScrollThumb},
        {"AXGrowArea", {}, Role::ScrollThumb},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.role);
        EXPECT_EQ(ax::map_ax_role(c.role, c.subrole), c.expected);
    }
}

TEST(MapAxRole, EverythingElseIsUnknown) {
    // Subrole-only words, unlisted roles, and near misses in case or spacing.
    const std::string_view texts[] = {
        "",
        "AXColorWell",
        "AXRuler",
        "AXMatte",
        "AXUnknown",
        "AXSwitch",
        "AXTabButton",
        "AXOutlineRow",
        "AXSystemAlert",
        "AXApplicationAlert",
        "AXLandmarkNavigation",
        "AXSegment",
        "axbutton",
        "AXButton ",
        " AXWindow",
        "heading",
    };
    for (auto t : texts) {
        SCOPED_TRACE(t);
        EXPECT_EQ(ax::map_ax_role(t, std::nullopt), Role::Unknown);
    }
}

}  // namespace
}  // namespace vemor
