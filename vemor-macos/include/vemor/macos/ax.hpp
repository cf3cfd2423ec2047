// Owned accessibility elements and the small attribute functions through which the whole macOS
// backend reads and writes attributes and performs actions. Everything here reaches the platform
// through the safe_* shim, so a platform exception shows as AXError -9999.
//
// Error texts name the call that failed and the AXError and, where a caller could misread the
// failure, say what it does not mean ("the state is unknown, not false").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vemor/error.hpp"
#include "vemor/macos/platform.hpp"
#include "vemor/role.hpp"

namespace vemor {

namespace ax {

// Owns one counted reference to any CoreFoundation object (or none); releases it when dropped.
class CfRef {
public:
    CfRef() = default;
    // Takes over a reference the caller already owns (the result of a Copy or Create call).
    static CfRef adopt(CFTypeRef ref) { return CfRef(ref); }
    // Takes a new reference to a borrowed object (the result of a Get call).
    static CfRef retain(CFTypeRef ref);

    CfRef(const CfRef& other);
    CfRef(CfRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    CfRef& operator=(CfRef other) noexcept {
        std::swap(ref_, other.ref_);
        return *this;
    }
    ~CfRef();

    CFTypeRef get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    // The object's type id, or 0 for none.
    CFTypeID type_id() const;

private:
    explicit CfRef(CFTypeRef ref) : ref_(ref) {}
    CFTypeRef ref_ = nullptr;
};

}  // namespace ax

// An owned, counted reference to one accessibility element, which may be null. A copy takes an
// extra reference; dropping releases one; a null reference is never retained or released.
class AXElement {
public:
    AXElement() = default;
    // Takes over a reference the caller owns (AXUIElementCreate*, a copied attribute value).
    static AXElement adopt(AXUIElementRef ref) { return AXElement(ref); }
    // Takes a new reference to a borrowed element (an entry of an array).
    static AXElement retain(AXUIElementRef ref);

    AXElement(const AXElement& other);
    AXElement(AXElement&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    AXElement& operator=(AXElement other) noexcept {
        std::swap(ref_, other.ref_);
        return *this;
    }
    ~AXElement();

    AXUIElementRef get() const { return ref_; }
    bool is_null() const { return ref_ == nullptr; }
    explicit operator bool() const { return ref_ != nullptr; }

    // Platform equality: two references to the same user-interface element are equal even
    // when they are distinct objects.
    bool same_element(const AXElement& other) const;
    // The platform hash, consistent with `same_element`; 0 for a null element.
    std::size_t platform_hash() const;

private:
    explicit AXElement(AXUIElementRef ref) : ref_(ref) {}
    AXUIElementRef ref_ = nullptr;
};

// One probe of a window's minimised and full-screen state.
struct WindowState {
    // Absent when the window has no value for the attribute.
    std::optional<bool> minimized;
    std::optional<bool> fullscreen;
    bool minimized_settable = false;
    bool fullscreen_settable = false;

    bool reads_minimized() const { return minimized.value_or(false); }
    bool reads_fullscreen() const { return fullscreen.value_or(false); }

    // Reads AXMinimized, AXFullScreen and whether each is settable, in that order; the first
    // error ends the probe. `op` and `role` name the operation in the error texts.
    static Result<WindowState> probe(const AXElement& window, std::string_view op, Role role);

    bool operator==(const WindowState&) const = default;
};

namespace ax {

// AXError codes the backend tells apart.
inline constexpr AXError kInvalidElement = -25202;
inline constexpr AXError kCannotComplete = -25204;
inline constexpr AXError kAttributeUnsupported = -25205;
inline constexpr AXError kActionUnsupported = -25206;
inline constexpr AXError kNotImplemented = -25208;
inline constexpr AXError kNoValue = -25212;

// No value and an unsupported attribute both mean "the attribute is absent", never an error.
constexpr bool is_absent_code(AXError code) {
    return code == kNoValue || code == kAttributeUnsupported;
}

// ---- Converting platform values (borrowed; none of these take ownership) ------------------

// A new platform string from UTF-8 text (none for text the platform refuses).
CfRef make_cf_string(std::string_view text);
// The text of a CFString; none for any other type or a NULL value.
std::optional<std::string> cf_string_text(CFTypeRef value);
// A CFNumber read as a double; none for another type or when the platform reports the
// conversion as lossy.
std::optional<double> cf_number_f64(CFTypeRef value);
// A CFNumber read as a signed 32-bit integer; none unless the conversion is exact.
std::optional<std::int32_t> cf_number_i32(CFTypeRef value);
// A CFBoolean's value; none for any other type.
std::optional<bool> cf_boolean(CFTypeRef value);
// An AXValue of point or size type; none for anything else.
std::optional<CGPoint> ax_value_point(CFTypeRef value);
std::optional<CGSize> ax_value_size(CFTypeRef value);
// Strings as they are, numbers in plain decimal without exponent (3.0 gives "3"); else none.
std::optional<std::string> value_text(CFTypeRef value);
// Numbers as doubles; strings trimmed of Unicode white space and parsed as decimal floats
// (exponents, inf and NaN included); else none.
std::optional<double> value_number(CFTypeRef value);
// The non-null entries of a CFArray, each retained; an empty list for anything else.
std::vector<AXElement> element_entries(CFTypeRef array);

// ---- Attribute functions ------------------------------------------------------------------

// One attribute read with the platform's code; `value` (owned) is set only when the code is 0.
struct AttrRead {
    AXError code = 0;
    CfRef value;
};
AttrRead read_attr(const AXElement& element, std::string_view attribute);

// The attribute's value, owned by the caller; present only when the read returns 0 and a value.
std::optional<CfRef> ax_attr(const AXElement& element, std::string_view attribute);
// A string attribute; any other value type counts as absent.
std::optional<std::string> ax_string(const AXElement& element, std::string_view attribute);
// AXValue as text: strings unchanged, numbers in plain decimal, anything else absent.
std::optional<std::string> ax_value_string(const AXElement& element);
// AXMinValue / AXMaxValue and the like: numbers, or strings that parse as a decimal float.
std::optional<double> ax_number_f64(const AXElement& element, std::string_view attribute);
// An array attribute's non-null entries, retained, in order; empty on any failure.
std::vector<AXElement> ax_element_array(const AXElement& element, std::string_view attribute);
// The action names the element offers, in the platform's order; empty on failure.
std::vector<std::string> ax_action_names(const AXElement& element);
// An application's windows (AXWindows); none at all is an empty list, a malformed answer an error.
Result<std::vector<AXElement>> ax_windows(const AXElement& application);
Result<bool> is_attr_settable(const AXElement& element, std::string_view attribute);
// A boolean attribute; absent when the element has no value for it.
Result<std::optional<bool>> read_bool_attr(const AXElement& element, std::string_view attribute,
                                           std::string_view op, Role role);
Result<void> set_bool_attr(const AXElement& element, std::string_view attribute, bool value,
                           std::string_view op, Role role);
Result<void> perform_ax_action(const AXElement& element, std::string_view action,
                               std::string_view op, Role role);
// The application element of the element's process.
Result<AXElement> owning_app_element(const AXElement& element, std::string_view op, Role role);

// The window's close button (AXCloseButton, else the child whose subrole is AXCloseButton), or
// none when it has none.
Result<std::optional<AXElement>> find_close_button(const AXElement& window, Role role);

}  // namespace ax
}  // namespace vemor
