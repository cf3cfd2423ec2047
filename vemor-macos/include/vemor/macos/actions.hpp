// Element actions on macOS: the provider's press, focus, blur, toggle, select, expand,
// collapse, show_menu, increment, decrement, scroll_into_view, set_value, set_numeric_value,
// type_text, set_text_selection and perform_action (defined in actions.cpp as `MacOSProvider`
// members), and the rule that turns an action name into the platform's action name.
#pragma once

#include <string>
#include <string_view>

namespace vemor::ax {

// The platform form of an action name: "AX", then the name without its underscores, with the
// first letter and every letter after an underscore upper-cased when it is an ASCII lower-case
// letter ("raise" -> "AXRaise", "show_menu" -> "AXShowMenu"); other characters are kept.
std::string ax_action_form(std::string_view name);

}  // namespace vemor::ax
