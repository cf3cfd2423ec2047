#include "vemor/macos/actions.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "vemor/macos/provider.hpp"
#include "vemor/macos/shim.hpp"
#include "vemor/text.hpp"

namespace vemor {

namespace ax {

std::string ax_action_form(std::string_view name) {
    std::string out = "AX";
    out.reserve(name.size() + 2);
    bool word_start = true;
    for (char c : name) {
        if (c == '_') {
            word_start = true;
            continue;
        }
        out.push_back(word_start && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
        word_start = false;
    }
    return out;
}

}  // namespace ax

namespace {

Error not_supported(std::string_view op, Role role) {
    return Error::ActionNotSupported{std::string(op), role};
}

// One attribute write: -25206 means the element does not take it; any other failure is reported
// with `failure` and the platform's code.
Result<void> write_attribute(const AXElement& element, std::string_view attribute, CFTypeRef value,
                             std::string_view op, Role role, std::string_view failure) {
    ax::CfRef name = ax::make_cf_string(attribute);
    const AXError code =
        safe_ax_set_attribute_value(element.get(), static_cast<CFStringRef>(name.get()), value);
    if (code == ax::kActionUnsupported) return fail(not_supported(op, role));
    if (code != 0) return fail(Error::Platform{code, std::string(failure)});
    return {};
}

// A platform string of the text; ill-formed UTF-8 is written with U+FFFD, as the platform
// refuses to build a string of it.
ax::CfRef text_value(std::string_view text) {
    if (text::is_valid_utf8(text)) return ax::make_cf_string(text);
    return ax::make_cf_string(text::encode_utf8(text::decode_utf8(text)));
}

bool is_toggleable(Role role) {
    return role == Role::CheckBox || role == Role::RadioButton || role == Role::Switch;
}

}  // namespace

// ---- Actions ------------------------------------------------------------------------------

Result<void> MacOSProvider::press(const ElementData& e) const {
    // Judged from the snapshot, before the element is looked up.
    if (std::find(e.actions.begin(), e.actions.end(), "press") == e.actions.end())
        return fail(not_supported("press", e.role));
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return ax::perform_ax_action(element, "AXPress", "press", e.role);
}

Result<void> MacOSProvider::toggle(const ElementData& e) const {
    // Only controls that hold an on/off state toggle; a plain button merely presses.
    if (!is_toggleable(e.role)) return fail(not_supported("toggle", e.role));
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return ax::perform_ax_action(element, "AXPress", "toggle", e.role);
}

Result<void> MacOSProvider::focus(const ElementData& e) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return ax::set_bool_attr(element, "AXFocused", true, "focus", e.role);
}

Result<void> MacOSProvider::blur(const ElementData& e) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return ax::set_bool_attr(element, "AXFocused", false, "blur", e.role);
}

Result<void> MacOSProvider::select(const ElementData& e) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return ax::set_bool_attr(element, "AXSelected", true, "select", e.role);
}

namespace {

Result<void> set_expanded(const AXElement& element, bool expanded, std::string_view op, Role role) {
    if (!VEMOR_TRY(ax::is_attr_settable(element, "AXExpanded")))
        return fail(not_supported(op, role));
    return ax::set_bool_attr(element, "AXExpanded", expanded, op, role);
}

}  // namespace

Result<void> MacOSProvider::expand(const ElementData& e) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return set_expanded(element, true, "expand", e.role);
}

Result<void> MacOSProvider::collapse(const ElementData& e) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return set_expanded(element, false, "collapse", e.role);
}

Result<void> MacOSProvider::show_menu(const ElementData& e) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return ax::perform_ax_action(element, "AXShowMenu", "show_menu", e.role);
}

Result<void> MacOSProvider::increment(const ElementData& e) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return ax::perform_ax_action(element, "AXIncrement", "increment", e.role);
}

Result<void> MacOSProvider::decrement(const ElementData& e) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    return ax::perform_ax_action(element, "AXDecrement", "decrement", e.role);
}

// The platform scrolls an element into view by itself when it is acted on.
Result<void> MacOSProvider::scroll_into_view(const ElementData&) const { return {}; }

// ---- Values and text ----------------------------------------------------------------------

Result<void> MacOSProvider::set_value(const ElementData& e, std::string_view value) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    const ax::CfRef text = text_value(value);
    return write_attribute(element, "AXValue", text.get(), "set_value", e.role,
                           "Set AXValue (string) failed");
}

Result<void> MacOSProvider::set_numeric_value(const ElementData& e, double value) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    const ax::CfRef number = ax::CfRef::adopt(safe_cf_number_create_f64(value));
    return write_attribute(element, "AXValue", number.get(), "set_numeric_value", e.role,
                           "Set AXValue (number) failed");
}

Result<void> MacOSProvider::type_text(const ElementData& e, std::string_view text) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    const ax::CfRef typed = text_value(text);
    return write_attribute(element, "AXSelectedText", typed.get(), "type_text", e.role,
                           "Set AXSelectedText failed");
}

Result<void> MacOSProvider::set_text_selection(const ElementData& e, std::uint32_t start,
                                               std::uint32_t end) const {
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    // The length is signed: an end before the start is sent as it is, and the application
    // decides what it makes of it.
    const ax::CfRef range = ax::CfRef::adopt(safe_ax_value_create_cf_range(
        static_cast<std::int64_t>(start),
        static_cast<std::int64_t>(end) - static_cast<std::int64_t>(start)));
    if (!range)
        return fail(Error::Platform{-1, "Failed to create CFRange value for text selection"});
    return write_attribute(element, "AXSelectedTextRange", range.get(), "set_text_selection",
                           e.role, "Set AXSelectedTextRange failed");
}

// ---- Actions by name ----------------------------------------------------------------------

Result<void> MacOSProvider::perform_action(const ElementData& e, std::string_view action) const {
    using Op = Result<void> (MacOSProvider::*)(const ElementData&) const;
    static constexpr std::pair<std::string_view, Op> kNamed[] = {
        {"press", &MacOSProvider::press},
        {"toggle", &MacOSProvider::toggle},
        {"expand", &MacOSProvider::expand},
        {"collapse", &MacOSProvider::collapse},
        {"decrement", &MacOSProvider::decrement},
        {"focus", &MacOSProvider::focus},
        {"blur", &MacOSProvider::blur},
        {"select", &MacOSProvider::select},
        {"show_menu", &MacOSProvider::show_menu},
        {"increment", &MacOSProvider::increment},
        {"scroll_into_view", &MacOSProvider::scroll_into_view},
        {"close", &MacOSProvider::close},
        {"restore", &MacOSProvider::restore},
        {"activate", &MacOSProvider::activate},
        {"minimize", &MacOSProvider::minimize},
        {"maximize", &MacOSProvider::maximize},
        {"enter_fullscreen", &MacOSProvider::enter_fullscreen},
    };
    for (const auto& [name, op] : kNamed)
        if (name == action) return (this->*op)(e);
    if (action == "move_to")
        return fail(Error::InvalidActionData{
            "perform_action(\"move_to\") requires coordinates; call move_to(x, y)"});
    if (action == "resize_to")
        return fail(Error::InvalidActionData{
            "perform_action(\"resize_to\") requires dimensions; call resize_to(width, height)"});

    // Any other name is an action the element itself offers, by its platform name ("raise"
    // is AXRaise) or exactly as given.
    const AXElement element = VEMOR_TRY(get_cached(e.handle));
    const std::vector<std::string> offered = ax::ax_action_names(element);
    auto offers = [&](std::string_view name) {
        return std::find(offered.begin(), offered.end(), name) != offered.end();
    };
    std::string platform_name = ax::ax_action_form(action);
    if (!offers(platform_name)) {
        if (!offers(action)) return fail(not_supported(action, e.role));
        platform_name = std::string(action);
    }
    const ax::CfRef name = ax::make_cf_string(platform_name);
    const AXError code =
        safe_ax_perform_action(element.get(), static_cast<CFStringRef>(name.get()));
    if (code == ax::kActionUnsupported) return fail(not_supported(action, e.role));
    if (code != 0) return fail(Error::Platform{code, platform_name});
    return {};
}

}  // namespace vemor
