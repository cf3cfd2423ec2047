// Input simulation with CoreGraphics events. Every event goes through `MacOSInputProvider::post`,
// which adds the flags of the modifier keys this provider holds down.
#include "vemor/macos/input.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "vemor/text.hpp"

namespace vemor {

namespace {

struct EventReleaser {
    void operator()(CGEventRef event) const { CFRelease(event); }
};
using Event = std::unique_ptr<std::remove_pointer_t<CGEventRef>, EventReleaser>;

constexpr std::uint32_t kMaxChunkCharacters = 20;
constexpr auto kDragStepPause = std::chrono::milliseconds(16);
constexpr std::int64_t kDragStepMilliseconds = 16;

struct ButtonTypes {
    CGEventType down, up, dragged;
};

ButtonTypes types_of(MouseButton button) {
    switch (button) {
        case MouseButton::Right:
            return {kCGEventRightMouseDown, kCGEventRightMouseUp, kCGEventRightMouseDragged};
        case MouseButton::Middle:
            return {kCGEventOtherMouseDown, kCGEventOtherMouseUp, kCGEventOtherMouseDragged};
        case MouseButton::Left:
            break;
    }
    return {kCGEventLeftMouseDown, kCGEventLeftMouseUp, kCGEventLeftMouseDragged};
}

// The button's position in `MouseButton` is also its CoreGraphics button number.
CGMouseButton number_of(MouseButton button) { return static_cast<CGMouseButton>(button); }

Result<Event> mouse_event(CGEventType type, CGPoint at, CGMouseButton button) {
    CGEventRef e = CGEventCreateMouseEvent(nullptr, type, at, button);
    if (e == nullptr) {
        return fail(Error::Platform{
            -1, fmt::format("CGEventCreateMouseEvent failed (type={})", static_cast<int>(type))});
    }
    return Event(e);
}

Result<Event> keyboard_event(CGKeyCode code, bool down) {
    CGEventRef e = CGEventCreateKeyboardEvent(nullptr, code, down);
    if (e == nullptr) return fail(Error::Platform{-1, "CGEventCreateKeyboardEvent failed"});
    return Event(e);
}

CGPoint point_of(Point p) { return CGPoint{static_cast<double>(p.x), static_cast<double>(p.y)}; }

// Where the pointer is now, as the platform reports it: an event created without a location
// carries the pointer's.
Result<CGPoint> pointer_now() {
    Event e(CGEventCreate(nullptr));
    if (!e) return fail(Error::Platform{-1, "CGEventCreate failed"});
    return CGEventGetLocation(e.get());
}

// The offset of drag step t along one axis, rounded half away from zero and clamped to the
// signed 32-bit range (NaN counts as 0).
double step_offset(double t, std::int32_t from, std::int32_t to) {
    const double v = std::round(t * (static_cast<double>(to) - static_cast<double>(from)));
    if (std::isnan(v)) return 0.0;
    return std::clamp(v, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                      static_cast<double>(std::numeric_limits<std::int32_t>::max()));
}

std::u16string to_utf16(std::u32string_view chars) {
    std::u16string out;
    out.reserve(chars.size());
    for (char32_t c : chars) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

// HIToolbox key codes of the US keyboard's unshifted characters.
constexpr std::array<std::pair<char32_t, std::uint16_t>, 47> kCharCodes{{
    {U'a', 0x00},  {U'b', 0x0B}, {U'c', 0x08},  {U'd', 0x02}, {U'e', 0x0E}, {U'f', 0x03},
    {U'g', 0x05},  {U'h', 0x04}, {U'i', 0x22},  {U'j', 0x26}, {U'k', 0x28}, {U'l', 0x25},
    {U'm', 0x2E},  {U'n', 0x2D}, {U'o', 0x1F},  {U'p', 0x23}, {U'q', 0x0C}, {U'r', 0x0F},
    {U's', 0x01},  {U't', 0x11}, {U'u', 0x20},  {U'v', 0x09}, {U'w', 0x0D}, {U'x', 0x07},
    {U'y', 0x10},  {U'z', 0x06}, {U'0', 0x1D},  {U'1', 0x12}, {U'2', 0x13}, {U'3', 0x14},
    {U'4', 0x15},  {U'5', 0x17}, {U'6', 0x16},  {U'7', 0x1A}, {U'8', 0x1C}, {U'9', 0x19},
    {U'\'', 0x27}, {U',', 0x2B}, {U'-', 0x1B},  {U'.', 0x2F}, {U'/', 0x2C}, {U';', 0x29},
    {U'=', 0x18},  {U'[', 0x21}, {U'\\', 0x2A}, {U']', 0x1E}, {U'`', 0x32},
}};

// F1 to F20.
constexpr std::array<std::uint16_t, 20> kFunctionCodes{
    0x7A, 0x78, 0x63, 0x76, 0x60, 0x61, 0x62, 0x64, 0x65, 0x6D,
    0x67, 0x6F, 0x69, 0x6B, 0x71, 0x6A, 0x40, 0x4F, 0x50, 0x5A,
};

}  // namespace

namespace input {

Result<std::uint16_t> vk_for(const Key& key) {
    switch (key.kind) {
        case Key::Char: {
            for (const auto& [c, code] : kCharCodes) {
                if (c == key.ch) return code;
            }
            std::string shown;
            text::append_utf8(shown, key.ch);
            return fail(Error::Unsupported{fmt::format(
                "Key::Char('{}') has no HIToolbox virtual-key mapping; use Keyboard::type_text "
                "for arbitrary characters",
                shown)});
        }
        case Key::Shift:
            return 0x38;
        case Key::Ctrl:
            return 0x3B;
        case Key::Alt:
            return 0x3A;
        case Key::Meta:
            return 0x37;
        case Key::Enter:
            return 0x24;
        case Key::Escape:
            return 0x35;
        case Key::Backspace:
            return 0x33;
        case Key::Tab:
            return 0x30;
        case Key::Space:
            return 0x31;
        case Key::Delete:
            return 0x75;
        case Key::Insert:
            return 0x72;
        case Key::ArrowUp:
            return 0x7E;
        case Key::ArrowDown:
            return 0x7D;
        case Key::ArrowLeft:
            return 0x7B;
        case Key::ArrowRight:
            return 0x7C;
        case Key::Home:
            return 0x73;
        case Key::End:
            return 0x77;
        case Key::PageUp:
            return 0x74;
        case Key::PageDown:
            return 0x79;
        case Key::F:
            if (key.number >= 1 && key.number <= kFunctionCodes.size()) {
                return kFunctionCodes[key.number - 1];
            }
            return fail(Error::InvalidActionData{
                fmt::format("F{} has no HIToolbox keycode on macOS", key.number)});
    }
    return fail(Error::Unsupported{fmt::format("key kind {}", static_cast<int>(key.kind))});
}

std::uint64_t modifier_flag(const Key& key) {
    switch (key.kind) {
        case Key::Shift:
            return kCGEventFlagMaskShift;
        case Key::Ctrl:
            return kCGEventFlagMaskControl;
        case Key::Alt:
            return kCGEventFlagMaskAlternate;
        case Key::Meta:
            return kCGEventFlagMaskCommand;
        default:
            return 0;
    }
}

}  // namespace input

MacOSInputProvider::MacOSInputProvider()
    : MacOSInputProvider([](Duration d) { std::this_thread::sleep_for(d); }) {}

MacOSInputProvider::MacOSInputProvider(Sleep sleep) : sleep_(std::move(sleep)) {}

void MacOSInputProvider::post(CGEventRef event) const {
    std::lock_guard lock(post_mutex_);
    const std::uint64_t held = held_modifiers_.load();
    if (held != 0) CGEventSetFlags(event, held | CGEventGetFlags(event));
    CGEventPost(kCGHIDEventTap, event);
    CFRelease(event);
}

Result<void> MacOSInputProvider::pointer_move(Point p) const {
    Event e = VEMOR_TRY(mouse_event(kCGEventMouseMoved, point_of(p), kCGMouseButtonLeft));
    post(e.release());
    return {};
}

// The press and release carry the pointer's current location: the platform acts on a button
// event where the event says, and callers move the pointer first.
Result<void> MacOSInputProvider::pointer_down(MouseButton button) const {
    const CGPoint at = VEMOR_TRY(pointer_now());
    Event e = VEMOR_TRY(mouse_event(types_of(button).down, at, number_of(button)));
    post(e.release());
    return {};
}

Result<void> MacOSInputProvider::pointer_up(MouseButton button) const {
    const CGPoint at = VEMOR_TRY(pointer_now());
    Event e = VEMOR_TRY(mouse_event(types_of(button).up, at, number_of(button)));
    post(e.release());
    return {};
}

Result<void> MacOSInputProvider::pointer_click(Point p, MouseButton button,
                                               std::uint32_t count) const {
    if (count == 0) return {};
    VEMOR_TRY_VOID(pointer_move(p));
    const ButtonTypes types = types_of(button);
    const CGPoint at = point_of(p);
    for (std::uint32_t i = 1; i <= count; ++i) {
        for (CGEventType type : {types.down, types.up}) {
            Event e = VEMOR_TRY(mouse_event(type, at, number_of(button)));
            CGEventSetIntegerValueField(e.get(), kCGMouseEventClickState, i);
            post(e.release());
        }
    }
    return {};
}

Result<void> MacOSInputProvider::pointer_scroll(Point p, std::int32_t dx, std::int32_t dy) const {
    VEMOR_TRY_VOID(pointer_move(p));
    CGEventRef e = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitLine, 2, dy, dx);
    if (e == nullptr) return fail(Error::Platform{-1, "CGEventCreateScrollWheelEvent failed"});
    post(e);
    return {};
}

Result<void> MacOSInputProvider::key_down(const Key& key) const {
    const std::uint16_t code = VEMOR_TRY(input::vk_for(key));
    Event e = VEMOR_TRY(keyboard_event(code, true));
    // Set before posting, so the key's own down event carries its flag.
    if (std::uint64_t flag = input::modifier_flag(key)) held_modifiers_.fetch_or(flag);
    post(e.release());
    return {};
}

Result<void> MacOSInputProvider::key_up(const Key& key) const {
    const std::uint16_t code = VEMOR_TRY(input::vk_for(key));
    Event e = VEMOR_TRY(keyboard_event(code, false));
    // Cleared before posting, so the key's own up event no longer carries it.
    if (std::uint64_t flag = input::modifier_flag(key)) held_modifiers_.fetch_and(~flag);
    post(e.release());
    return {};
}

Result<void> MacOSInputProvider::type_text(std::string_view text) const {
    const std::u32string chars = text::decode_utf8(text);
    for (std::size_t start = 0; start < chars.size(); start += kMaxChunkCharacters) {
        const std::u16string chunk =
            to_utf16(std::u32string_view(chars).substr(start, kMaxChunkCharacters));
        for (bool down : {true, false}) {
            Event e = VEMOR_TRY(keyboard_event(0, down));
            CGEventKeyboardSetUnicodeString(e.get(), chunk.size(),
                                            reinterpret_cast<const UniChar*>(chunk.data()));
            post(e.release());
        }
    }
    return {};
}

Result<void> MacOSInputProvider::pointer_drag(Point from, Point to, MouseButton button,
                                              Duration duration) const {
    const ButtonTypes types = types_of(button);
    const CGMouseButton number = number_of(button);
    // Pressed at `from` and released at `to` as known here, never as read back: posting is
    // asynchronous, so a read may still see the pointer where it was before the move.
    VEMOR_TRY_VOID(pointer_move(from));
    {
        Event e = VEMOR_TRY(mouse_event(types.down, point_of(from), number));
        post(e.release());
    }
    const std::int64_t ms = std::max<std::int64_t>(0, duration.count() / 1'000'000);
    const std::int64_t steps = std::max<std::int64_t>(1, ms / kDragStepMilliseconds);
    for (std::int64_t i = 1; i <= steps; ++i) {
        CGPoint at = point_of(to);
        if (i < steps) {
            const double t = static_cast<double>(i) / static_cast<double>(steps);
            at = CGPoint{static_cast<double>(from.x) + step_offset(t, from.x, to.x),
                         static_cast<double>(from.y) + step_offset(t, from.y, to.y)};
        }
        Event e = VEMOR_TRY(mouse_event(types.dragged, at, number));
        post(e.release());
        if (i < steps) sleep_(kDragStepPause);
    }
    Event e = VEMOR_TRY(mouse_event(types.up, point_of(to), number));
    post(e.release());
    return {};
}

}  // namespace vemor
