#include "vemor/macos/ax.hpp"

#include <fmt/format.h>

#include "vemor/macos/shim.hpp"
#include "vemor/text.hpp"

namespace vemor {

// ---- Owned references ---------------------------------------------------------------------

namespace ax {

CfRef CfRef::retain(CFTypeRef ref) { return CfRef(ref ? safe_cf_retain(ref) : nullptr); }

CfRef::CfRef(const CfRef& other) : ref_(other.ref_ ? safe_cf_retain(other.ref_) : nullptr) {}

CfRef::~CfRef() {
    if (ref_) safe_cf_release(ref_);
}

CFTypeID CfRef::type_id() const { return safe_cf_get_type_id(ref_); }

}  // namespace ax

AXElement AXElement::retain(AXUIElementRef ref) {
    return AXElement(ref ? static_cast<AXUIElementRef>(safe_cf_retain(static_cast<CFTypeRef>(ref)))
                         : nullptr);
}

AXElement::AXElement(const AXElement& other)
    : ref_(other.ref_ ? static_cast<AXUIElementRef>(safe_cf_retain(other.ref_)) : nullptr) {}

AXElement::~AXElement() {
    if (ref_) safe_cf_release(ref_);
}

bool AXElement::same_element(const AXElement& other) const {
    return safe_cf_equal(ref_, other.ref_);
}

std::size_t AXElement::platform_hash() const { return ref_ ? safe_cf_hash(ref_) : 0; }

namespace ax {
namespace {

bool has_type(CFTypeRef value, CFTypeID type) {
    return value != nullptr && type != 0 && safe_cf_get_type_id(value) == type;
}

Error action_not_supported(std::string_view op, Role role) {
    return Error::ActionNotSupported{std::string(op), role};
}

// The fixed attribute and action names the backend asks for, as the platform's constant
// strings (the kAX...Attribute constants), most frequent first; nullptr for any other name.
CFStringRef constant_name(std::string_view text) {
    struct Entry {
        std::string_view text;
        CFStringRef ref;
    };
    static const Entry table[] = {
        {"AXRole", CFSTR("AXRole")},
        {"AXChildren", CFSTR("AXChildren")},
        {"AXSubrole", CFSTR("AXSubrole")},
        {"AXTitle", CFSTR("AXTitle")},
        {"AXValue", CFSTR("AXValue")},
        {"AXDescription", CFSTR("AXDescription")},
        {"AXIdentifier", CFSTR("AXIdentifier")},
        {"AXHelp", CFSTR("AXHelp")},
        {"AXPosition", CFSTR("AXPosition")},
        {"AXSize", CFSTR("AXSize")},
        {"AXEnabled", CFSTR("AXEnabled")},
        {"AXFocused", CFSTR("AXFocused")},
        {"AXSelected", CFSTR("AXSelected")},
        {"AXExpanded", CFSTR("AXExpanded")},
        {"AXParent", CFSTR("AXParent")},
        {"AXWindows", CFSTR("AXWindows")},
        {"AXMinimized", CFSTR("AXMinimized")},
        {"AXFullScreen", CFSTR("AXFullScreen")},
    };
    for (const Entry& e : table)
        if (e.text == text) return e.ref;
    return nullptr;
}

// An attribute or action name for one request: the constant string when there is one,
// otherwise a string created for this request and released with it.
struct RequestName {
    CfRef owned;
    CFStringRef ref = nullptr;
};

RequestName request_name(std::string_view text) {
    if (CFStringRef c = constant_name(text)) return {CfRef(), c};
    RequestName out{make_cf_string(text)};
    out.ref = static_cast<CFStringRef>(out.owned.get());
    return out;
}

}  // namespace

// ---- Converting platform values -----------------------------------------------------------

CfRef make_cf_string(std::string_view text) {
    return CfRef::adopt(
        safe_cf_string_create_with_bytes(text.data(), static_cast<CFIndex>(text.size())));
}

std::optional<std::string> cf_string_text(CFTypeRef value) {
    if (!has_type(value, safe_cf_string_get_type_id())) return std::nullopt;
    auto string = static_cast<CFStringRef>(value);
    CFIndex needed = 0;
    if (!safe_cf_string_get_utf8(string, nullptr, 0, &needed) || needed < 0) return std::nullopt;
    std::string out(static_cast<std::size_t>(needed), '\0');
    CFIndex used = 0;
    if (needed > 0 && !safe_cf_string_get_utf8(string, out.data(), needed, &used))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(used));
    return out;
}

std::optional<double> cf_number_f64(CFTypeRef value) {
    if (!has_type(value, safe_cf_number_get_type_id())) return std::nullopt;
    double out = 0;
    if (!safe_cf_number_get_value(static_cast<CFNumberRef>(value), kCFNumberFloat64Type, &out))
        return std::nullopt;
    return out;
}

std::optional<std::int32_t> cf_number_i32(CFTypeRef value) {
    if (!has_type(value, safe_cf_number_get_type_id())) return std::nullopt;
    std::int32_t out = 0;
    if (!safe_cf_number_get_value(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &out))
        return std::nullopt;
    return out;
}

std::optional<bool> cf_boolean(CFTypeRef value) {
    if (!has_type(value, safe_cf_boolean_get_type_id())) return std::nullopt;
    return safe_cf_boolean_get_value(static_cast<CFBooleanRef>(value));
}

std::optional<CGPoint> ax_value_point(CFTypeRef value) {
    if (!has_type(value, safe_ax_value_get_type_id())) return std::nullopt;
    CGPoint p{};
    if (!safe_ax_value_get_value(static_cast<AXValueRef>(value), kAXValueCGPointType, &p))
        return std::nullopt;
    return p;
}

std::optional<CGSize> ax_value_size(CFTypeRef value) {
    if (!has_type(value, safe_ax_value_get_type_id())) return std::nullopt;
    CGSize s{};
    if (!safe_ax_value_get_value(static_cast<AXValueRef>(value), kAXValueCGSizeType, &s))
        return std::nullopt;
    return s;
}

std::optional<std::string> value_text(CFTypeRef value) {
    if (auto s = cf_string_text(value)) return s;
    if (auto n = cf_number_f64(value)) return text::float_display(*n);
    return std::nullopt;
}

std::optional<double> value_number(CFTypeRef value) {
    if (auto n = cf_number_f64(value)) return n;
    if (auto s = cf_string_text(value)) return text::parse_f64(text::trim(*s));
    return std::nullopt;
}

std::vector<AXElement> element_entries(CFTypeRef array) {
    std::vector<AXElement> out;
    if (!has_type(array, safe_cf_array_get_type_id())) return out;
    auto arr = static_cast<CFArrayRef>(array);
    const CFIndex count = safe_cf_array_get_count(arr);
    out.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    for (CFIndex i = 0; i < count; ++i) {
        CFTypeRef item = safe_cf_array_get_value(arr, i);
        if (item) out.push_back(AXElement::retain(static_cast<AXUIElementRef>(item)));
    }
    return out;
}

// ---- Attribute functions ------------------------------------------------------------------

AttrRead read_attr(const AXElement& element, std::string_view attribute) {
    RequestName name = request_name(attribute);
    CFTypeRef out = nullptr;
    AXError code = safe_ax_copy_attribute_value(element.get(), name.ref, &out);
    CfRef value = CfRef::adopt(out);
    if (code != 0) return {code, CfRef()};
    return {0, std::move(value)};
}

std::optional<CfRef> ax_attr(const AXElement& element, std::string_view attribute) {
    AttrRead r = read_attr(element, attribute);
    if (r.code != 0 || !r.value) return std::nullopt;
    return std::move(r.value);
}

std::optional<std::string> ax_string(const AXElement& element, std::string_view attribute) {
    auto v = ax_attr(element, attribute);
    return v ? cf_string_text(v->get()) : std::nullopt;
}

std::optional<std::string> ax_value_string(const AXElement& element) {
    auto v = ax_attr(element, "AXValue");
    return v ? value_text(v->get()) : std::nullopt;
}

std::optional<double> ax_number_f64(const AXElement& element, std::string_view attribute) {
    auto v = ax_attr(element, attribute);
    return v ? value_number(v->get()) : std::nullopt;
}

std::vector<AXElement> ax_element_array(const AXElement& element, std::string_view attribute) {
    auto v = ax_attr(element, attribute);
    return v ? element_entries(v->get()) : std::vector<AXElement>{};
}

std::vector<std::string> ax_action_names(const AXElement& element) {
    CFArrayRef out = nullptr;
    AXError code = safe_ax_copy_action_names(element.get(), &out);
    CfRef names = CfRef::adopt(out);
    std::vector<std::string> result;
    if (code != 0 || !has_type(names.get(), safe_cf_array_get_type_id())) return result;
    auto arr = static_cast<CFArrayRef>(names.get());
    const CFIndex count = safe_cf_array_get_count(arr);
    for (CFIndex i = 0; i < count; ++i)
        if (auto s = cf_string_text(safe_cf_array_get_value(arr, i))) result.push_back(*s);
    return result;
}

Result<std::vector<AXElement>> ax_windows(const AXElement& application) {
    AttrRead r = read_attr(application, "AXWindows");
    if (is_absent_code(r.code)) return std::vector<AXElement>{};
    if (r.code != 0)
        return fail(Error::Platform{
            r.code,
            fmt::format("AXUIElementCopyAttributeValue(AXWindows) failed (AXError {})", r.code)});
    if (!r.value) return std::vector<AXElement>{};
    if (!has_type(r.value.get(), safe_cf_array_get_type_id()))
        return fail(Error::Platform{
            -1,
            "AXWindows returned a non-array value; the provider answered malformed, not empty"});
    return element_entries(r.value.get());
}

Result<bool> is_attr_settable(const AXElement& element, std::string_view attribute) {
    CfRef name = make_cf_string(attribute);
    bool settable = false;
    AXError code = safe_ax_is_attribute_settable(element.get(),
                                                 static_cast<CFStringRef>(name.get()), &settable);
    if (is_absent_code(code)) return false;
    if (code != 0)
        return fail(
            Error::Platform{code, fmt::format("IsAttributeSettable({}) failed", attribute)});
    return settable;
}

Result<std::optional<bool>> read_bool_attr(const AXElement& element, std::string_view attribute,
                                           std::string_view op, Role role) {
    AttrRead r = read_attr(element, attribute);
    if (is_absent_code(r.code)) return std::optional<bool>();
    if (r.code != 0)
        return fail(Error::Platform{
            r.code, fmt::format("{} read failed while handling {} on a {} (AXError {}); the "
                                "state is unknown, not false",
                                attribute, op, role, r.code)});
    if (!r.value) return std::optional<bool>();
    auto flag = cf_boolean(r.value.get());
    if (!flag)
        return fail(Error::Platform{
            -1, fmt::format("{} returned a non-boolean value while handling {} on a {}; the "
                            "state is unknown, not false",
                            attribute, op, role)});
    return flag;
}

Result<void> set_bool_attr(const AXElement& element, std::string_view attribute, bool value,
                           std::string_view op, Role role) {
    CfRef name = make_cf_string(attribute);
    AXError code = safe_ax_set_attribute_value(element.get(), static_cast<CFStringRef>(name.get()),
                                               safe_cf_boolean_get_constant(value));
    if (code == kActionUnsupported) return fail(action_not_supported(op, role));
    if (code != 0)
        return fail(Error::Platform{
            code, fmt::format("Set {}={} failed", attribute, value ? "true" : "false")});
    return {};
}

Result<void> perform_ax_action(const AXElement& element, std::string_view action,
                               std::string_view op, Role role) {
    CfRef name = make_cf_string(action);
    AXError code = safe_ax_perform_action(element.get(), static_cast<CFStringRef>(name.get()));
    if (code == kActionUnsupported) return fail(action_not_supported(op, role));
    if (code != 0) return fail(Error::Platform{code, fmt::format("{} failed", action)});
    return {};
}

Result<AXElement> owning_app_element(const AXElement& element, std::string_view op, Role role) {
    pid_t pid = 0;
    AXError code = safe_ax_get_pid(element.get(), &pid);
    if (code != 0)
        return fail(Error::Platform{
            code, fmt::format("AXUIElementGetPid failed (AXError {}) while running {} on a {}",
                              code, op, role)});
    if (pid == 0)
        return fail(Error::Platform{
            -1,
            fmt::format("AXUIElementGetPid returned pid 0 while running {} on a {}", op, role)});
    AXElement app = AXElement::adopt(safe_ax_create_application(pid));
    if (!app)
        return fail(Error::Platform{
            kSafeExceptionCaught,
            fmt::format("AXUIElementCreateApplication failed while running {}", op)});
    return app;
}

Result<std::optional<AXElement>> find_close_button(const AXElement& window, Role role) {
    using Found = std::optional<AXElement>;
    AttrRead button = read_attr(window, "AXCloseButton");
    if (!is_absent_code(button.code)) {
        if (button.code != 0)
            return fail(Error::Platform{
                button.code, fmt::format("AXCloseButton read failed for a {} (AXError {}); the "
                                         "close button is unknown, not absent",
                                         role, button.code)});
        if (button.value && button.value.type_id() == safe_cf_get_type_id(window.get()))
            return Found(AXElement::retain(static_cast<AXUIElementRef>(button.value.get())));
    }

    AttrRead children = read_attr(window, "AXChildren");
    if (is_absent_code(children.code)) return Found();
    if (children.code != 0)
        return fail(Error::Platform{
            children.code,
            fmt::format("AXChildren read failed while scanning for the close button of a {} "
                        "(AXError {}); the close button is unknown, not absent",
                        role, children.code)});
    for (const AXElement& child : element_entries(children.value.get())) {
        AttrRead subrole = read_attr(child, "AXSubrole");
        if (is_absent_code(subrole.code)) continue;
        if (subrole.code != 0)
            return fail(Error::Platform{
                subrole.code,
                fmt::format("AXSubrole read failed while scanning for the close button of a {} "
                            "(AXError {}); the close button is unknown, not absent",
                            role, subrole.code)});
        if (cf_string_text(subrole.value.get()) == std::optional<std::string>("AXCloseButton"))
            return Found(child);
    }
    return Found();
}

}  // namespace ax

Result<WindowState> WindowState::probe(const AXElement& window, std::string_view op, Role role) {
    WindowState s;
    s.minimized = VEMOR_TRY(ax::read_bool_attr(window, "AXMinimized", op, role));
    s.fullscreen = VEMOR_TRY(ax::read_bool_attr(window, "AXFullScreen", op, role));
    s.minimized_settable = VEMOR_TRY(ax::is_attr_settable(window, "AXMinimized"));
    s.fullscreen_settable = VEMOR_TRY(ax::is_attr_settable(window, "AXFullScreen"));
    return s;
}

}  // namespace vemor
