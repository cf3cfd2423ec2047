#include "vemor/macos/windows.hpp"

#include <fmt/format.h>

#include <cmath>

#include "vemor/macos/provider.hpp"
#include "vemor/macos/settle.hpp"
#include "vemor/macos/shim.hpp"
#include "vemor/text.hpp"

namespace vemor {

namespace {

Error not_supported(std::string_view op, Role role) {
    return Error::ActionNotSupported{std::string(op), role};
}

// Writes a geometry value to the window; -25206 means the window refuses to be moved or sized.
AXError write_attribute(const AXElement& window, std::string_view attribute, CFTypeRef value) {
    ax::CfRef name = ax::make_cf_string(attribute);
    return safe_ax_set_attribute_value(window.get(), static_cast<CFStringRef>(name.get()), value);
}

}  // namespace

namespace ax {

Result<void> set_window_position(const AXElement& window, std::int32_t x, std::int32_t y,
                                 Role role) {
    CfRef point =
        CfRef::adopt(safe_ax_value_create_cg_point(static_cast<double>(x), static_cast<double>(y)));
    if (!point)
        return fail(Error::Platform{-1, "Failed to create CGPoint AXValue for window move"});
    const AXError code = write_attribute(window, "AXPosition", point.get());
    if (code == kActionUnsupported) return fail(not_supported("move_to", role));
    if (code != 0) return fail(Error::Platform{code, "Set AXPosition failed"});
    return {};
}

}  // namespace ax

Result<void> MacOSProvider::activate(const ElementData& e) const {
    constexpr std::string_view op = "activate";
    const AXElement window = VEMOR_TRY(get_cached(e.handle));
    // Un-minimise without waiting: raising the window brings it up anyway.
    auto minimized = VEMOR_TRY(ax::read_bool_attr(window, "AXMinimized", op, e.role));
    if (minimized == std::optional<bool>(true))
        VEMOR_TRY_VOID(ax::set_bool_attr(window, "AXMinimized", false, op, e.role));
    {
        const AXElement application = VEMOR_TRY(ax::owning_app_element(window, op, e.role));
        VEMOR_TRY_VOID(ax::set_bool_attr(application, "AXFrontmost", true, op, e.role));
    }
    return ax::perform_ax_action(window, "AXRaise", op, e.role);
}

Result<void> MacOSProvider::minimize(const ElementData& e) const {
    constexpr std::string_view op = "minimize";
    AXElement window = VEMOR_TRY(get_cached(e.handle));
    const WindowState state = VEMOR_TRY(WindowState::probe(window, op, e.role));
    if (!state.minimized_settable || (state.reads_fullscreen() && !state.fullscreen_settable))
        return fail(not_supported(op, e.role));
    if (state.reads_fullscreen()) {
        // A full-screen window cannot be minimised: leave full screen first, then go on with
        // the window as the application lists it now.
        const AXElement application = VEMOR_TRY(ax::owning_app_element(window, op, e.role));
        VEMOR_TRY_VOID(ax::settle_window_fullscreen(window, false, op, e.role));
        auto found = VEMOR_TRY(ax::fresh_target_in_app(application, window));
        if (found) window = std::move(*found);
    }
    VEMOR_TRY_VOID(ax::set_bool_attr(window, "AXMinimized", true, op, e.role));
    return ax::settle_bool_attr(window, true, op, e.role);
}

Result<void> MacOSProvider::maximize(const ElementData& e) const {
    return fail(Error::Unsupported{fmt::format(
        "maximize on {}: macOS Accessibility has no readable or writable zoom state", e.role)});
}

Result<void> MacOSProvider::enter_fullscreen(const ElementData& e) const {
    constexpr std::string_view op = "enter_fullscreen";
    const AXElement window = VEMOR_TRY(get_cached(e.handle));
    const WindowState state = VEMOR_TRY(WindowState::probe(window, op, e.role));
    // A window already in full screen with a read-only attribute is only confirmed.
    if ((!state.fullscreen_settable && !state.reads_fullscreen()) ||
        (state.reads_minimized() && !state.minimized_settable))
        return fail(not_supported(op, e.role));
    auto minimized = VEMOR_TRY(ax::read_bool_attr(window, "AXMinimized", op, e.role));
    if (minimized == std::optional<bool>(true))
        VEMOR_TRY_VOID(ax::set_bool_attr(window, "AXMinimized", false, op, e.role));
    return ax::settle_window_fullscreen(window, true, op, e.role);
}

Result<void> MacOSProvider::restore(const ElementData& e) const {
    constexpr std::string_view op = "restore";
    const AXElement window = VEMOR_TRY(get_cached(e.handle));
    const WindowState state = VEMOR_TRY(WindowState::probe(window, op, e.role));
    if ((state.reads_minimized() && !state.minimized_settable) ||
        (state.reads_fullscreen() && !state.fullscreen_settable) ||
        (!state.minimized_settable && !state.fullscreen_settable))
        return fail(not_supported(op, e.role));
    if (state.minimized_settable) {
        VEMOR_TRY_VOID(ax::set_bool_attr(window, "AXMinimized", false, op, e.role));
        VEMOR_TRY_VOID(ax::settle_bool_attr(window, false, op, e.role));
    }
    if (state.fullscreen_settable) return ax::settle_window_fullscreen(window, false, op, e.role);
    return {};
}

Result<void> MacOSProvider::close(const ElementData& e) const {
    constexpr std::string_view op = "close";
    const AXElement window = VEMOR_TRY(get_cached(e.handle));
    auto button = VEMOR_TRY(ax::find_close_button(window, e.role));
    if (!button) return fail(not_supported(op, e.role));
    return ax::perform_ax_action(*button, "AXPress", op, e.role);
}

Result<void> MacOSProvider::move_to(const ElementData& e, std::int32_t x, std::int32_t y) const {
    constexpr std::string_view op = "move_to";
    const AXElement window = VEMOR_TRY(get_cached(e.handle));
    if (!VEMOR_TRY(ax::is_attr_settable(window, "AXPosition")))
        return fail(not_supported(op, e.role));
    const AXElement application = VEMOR_TRY(ax::owning_app_element(window, op, e.role));

    ax::SettleClock& clock = ax::settle_clock();
    const auto deadline = clock.now() + ax::kSettleDeadline;
    const double want_x = x;
    const double want_y = y;
    AXElement target = window;
    std::string last_observed;
    for (;;) {
        Result<void> step;
        ax::AttrRead read = ax::read_attr(target, "AXPosition");
        if (ax::is_absent_code(read.code) || (read.code == 0 && !read.value)) {
            last_observed = "the window has no AXPosition attribute";
            step = ax::set_window_position(target, x, y, e.role);
        } else if (read.code != 0) {
            step = fail(Error::Platform{
                read.code, fmt::format("AXPosition read failed while handling {} on a {} "
                                       "(AXError {}); the position is unknown",
                                       op, e.role, read.code)});
        } else if (auto point = ax::ax_value_point(read.value.get()); !point) {
            step = fail(Error::Platform{
                -1, fmt::format("AXPosition returned a non-point value while handling {} on a "
                                "{}; the position is unknown",
                                op, e.role)});
        } else {
            last_observed = fmt::format("AXPosition reads ({}, {})", text::float_display(point->x),
                                        text::float_display(point->y));
            if (std::fabs(point->x - want_x) <= ax::kPositionTolerance &&
                std::fabs(point->y - want_y) <= ax::kPositionTolerance)
                return {};
            step = ax::set_window_position(target, x, y, e.role);
        }
        if (!step) {
            if (!ax::is_invalid_element_error(step.error())) return step;
            last_observed = step.error().message();
            auto found = VEMOR_TRY(ax::fresh_target_in_app(application, window));
            if (found) target = std::move(*found);
        }
        if (clock.now() >= deadline) break;
        clock.sleep_for(ax::kSettlePollInterval);
    }
    return fail(ax::settle_timeout(
        fmt::format("window reaches position ({}, {}) within {} points", x, y, "2"),
        std::move(last_observed)));
}

Result<void> MacOSProvider::resize_to(const ElementData& e, std::uint32_t width,
                                      std::uint32_t height) const {
    constexpr std::string_view op = "resize_to";
    const AXElement window = VEMOR_TRY(get_cached(e.handle));
    if (!VEMOR_TRY(ax::is_attr_settable(window, "AXSize"))) return fail(not_supported(op, e.role));
    ax::CfRef size = ax::CfRef::adopt(
        safe_ax_value_create_cg_size(static_cast<double>(width), static_cast<double>(height)));
    if (!size)
        return fail(Error::Platform{-1, "Failed to create CGSize AXValue for window resize"});
    const AXError code = write_attribute(window, "AXSize", size.get());
    if (code == ax::kActionUnsupported) return fail(not_supported(op, e.role));
    if (code != 0) return fail(Error::Platform{code, "Set AXSize failed"});
    return {};
}

}  // namespace vemor
