// The platform-neutral role of a user-interface element.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <fmt/format.h>

namespace vemor {

// Forty roles, numbered 0..39; the ordinal indexes both name tables, so the order is fixed.
// A C++ enumeration has no member functions: the role's operations are the free functions in
// namespace `role` below (`role::to_snake_case`, `role::from_snake_case`).
enum class Role : std::uint8_t {
    Unknown,
    Window,
    Application,
    Button,
    CheckBox,
    RadioButton,
    TextField,
    TextArea,
    StaticText,
    ComboBox,
    List,
    ListItem,
    Menu,
    MenuItem,
    MenuBar,
    Tab,
    TabGroup,
    Table,
    TableRow,
    TableCell,
    Toolbar,
    ScrollBar,
    Slider,
    Image,
    Link,
    Group,
    Dialog,
    Alert,
    ProgressBar,
    TreeItem,
    WebArea,
    Heading,
    Separator,
    SplitGroup,
    Switch,
    SpinButton,
    Tooltip,
    Status,
    Navigation,
    ScrollThumb,
};

inline constexpr std::size_t kRoleCount = 40;

namespace role {

// The snake_case name used in selectors and output ("check_box").
std::string_view to_snake_case(Role role);
// The member's own name ("CheckBox"), for debug output only.
std::string_view to_camel_case(Role role);
// Exact, case-sensitive match against the 40 names; anything else is none.
std::optional<Role> from_snake_case(std::string_view text);

}  // namespace role
}  // namespace vemor

template <>
struct fmt::formatter<vemor::Role> : fmt::formatter<std::string_view> {
    auto format(vemor::Role r, fmt::format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(vemor::role::to_snake_case(r), ctx);
    }
};
