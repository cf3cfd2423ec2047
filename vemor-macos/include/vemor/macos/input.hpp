// Input simulation on macOS: the `InputProvider` contract over CoreGraphics events posted at the
// HID event tap, so the system treats them like input from real devices. Coordinates are desktop
// points; the accessibility tree is not touched.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>

#include "vemor/input.hpp"
#include "vemor/macos/platform.hpp"

namespace vemor {

namespace input {

// The HIToolbox virtual key code of a key: named keys, F1 to F20, and the lower-case letters,
// digits and unshifted punctuation of the US keyboard. Any other character is `Unsupported`
// (type it with `type_text`); F0 and F21 and above are `InvalidActionData`.
Result<std::uint16_t> vk_for(const Key& key);

// The CoreGraphics event-flag bit of a modifier key; 0 for every other key.
std::uint64_t modifier_flag(const Key& key);

}  // namespace input

class MacOSInputProvider final : public InputProvider {
public:
    // How the provider waits between the steps of a drag.
    using Sleep = std::function<void(Duration)>;

    // Waits on the calling thread with the system clock.
    MacOSInputProvider();
    // Waits through `sleep` instead (tests count the waits rather than spend them).
    explicit MacOSInputProvider(Sleep sleep);

    Result<void> pointer_move(Point p) const override;
    // Press and release where the pointer is now.
    Result<void> pointer_down(MouseButton button) const override;
    Result<void> pointer_up(MouseButton button) const override;
    Result<void> pointer_click(Point p, MouseButton button, std::uint32_t count) const override;
    Result<void> pointer_scroll(Point p, std::int32_t dx, std::int32_t dy) const override;
    Result<void> key_down(const Key& key) const override;
    Result<void> key_up(const Key& key) const override;
    // Posted in chunks of at most 20 characters, each as one key-down and one key-up event.
    Result<void> type_text(std::string_view text) const override;
    // Press at `from`, dragged steps 16 ms apart (one per whole 16 ms of the duration, at least
    // one), the last exactly at `to`, release there.
    Result<void> pointer_drag(Point from, Point to, MouseButton button,
                              Duration duration) const override;

    // Posts the event at the HID event tap, with the flags of the modifier keys held through
    // this provider added to its own, and releases it. Serialised per provider.
    void post(CGEventRef event) const;

    // The event-flag bits of the modifier keys pressed through this provider and not released.
    std::uint64_t held_modifiers() const { return held_modifiers_.load(); }

private:
    Sleep sleep_;
    mutable std::mutex post_mutex_;
    mutable std::atomic<std::uint64_t> held_modifiers_{0};
};

}  // namespace vemor
