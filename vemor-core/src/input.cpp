#include "vemor/input.hpp"

#include <algorithm>
#include <limits>

#include <fmt/format.h>

#include "vemor/element.hpp"

namespace vemor {

Result<void> Key::validate(const Key& key) {
    if (key.kind == Char && key.ch >= U'A' && key.ch <= U'Z') {
        char upper = static_cast<char>(key.ch);
        char lower = static_cast<char>(key.ch - U'A' + U'a');
        return fail(Error::InvalidActionData{fmt::format(
            "Key::Char('{}') is uppercase; use Key::Char('{}') with Key::Shift held to produce "
            "an uppercase letter",
            upper, lower)});
    }
    return {};
}

namespace input {
namespace {

std::int32_t clamp_i32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// The last pixel inside a run of n: a zero-sized rectangle behaves as one of size 1.
std::int64_t far_edge(std::uint32_t n) {
    return std::min<std::int64_t>(std::max<std::uint32_t>(n, 1) - 1,
                                  std::numeric_limits<std::int32_t>::max());
}

}  // namespace

Point anchor_point(const Rect& b, const Anchor& a) {
    const std::int64_t x = b.x, y = b.y;
    switch (a.kind) {
        case Anchor::Kind::Center: return {clamp_i32(x + b.width / 2), clamp_i32(y + b.height / 2)};
        case Anchor::Kind::TopLeft: return {b.x, b.y};
        case Anchor::Kind::TopRight: return {clamp_i32(x + far_edge(b.width)), b.y};
        case Anchor::Kind::BottomLeft: return {b.x, clamp_i32(y + far_edge(b.height))};
        case Anchor::Kind::BottomRight:
            return {clamp_i32(x + far_edge(b.width)), clamp_i32(y + far_edge(b.height))};
        case Anchor::Kind::Offset: return {clamp_i32(x + a.dx), clamp_i32(y + a.dy)};
    }
    return {b.x, b.y};
}

}  // namespace input

namespace {

Result<void> validate_all(const std::vector<Key>& keys) {
    for (const auto& k : keys) VEMOR_TRY_VOID(Key::validate(k));
    return {};
}

// Releases the first `count` keys of `held` in reverse order; the first release error is kept.
Result<void> release_keys(const InputProvider& input, const std::vector<Key>& held,
                          std::size_t count) {
    Result<void> release;
    for (std::size_t i = count; i-- > 0;) {
        auto r = input.key_up(held[i]);
        if (!r && release) release = std::move(r);
    }
    return release;
}

// Presses `held` in order, runs `action`, then releases the keys in reverse order, also when
// the action failed. The action's error wins over a release error. When a press fails, the keys
// already down are released (in reverse order) before its error returns: a modifier left down
// would otherwise stay stuck on the user's keyboard.
template <class Action>
Result<void> with_held_keys(const InputProvider& input, const std::vector<Key>& held,
                            Action&& action) {
    for (std::size_t i = 0; i < held.size(); ++i) {
        auto pressed = input.key_down(held[i]);
        if (!pressed) {
            (void)release_keys(input, held, i);
            return pressed;
        }
    }
    Result<void> main = action();
    Result<void> release = release_keys(input, held, held.size());
    if (!main) return main;
    return release;
}

}  // namespace

Result<void> Mouse::click_at(std::optional<Rect> bounds, std::optional<Point> point,
                             const ClickOptions& options) const {
    VEMOR_TRY_VOID(validate_all(options.held));
    if (!point) {
        if (!bounds) return fail(Error::NoElementBounds{});
        point = input::anchor_point(*bounds, options.anchor);
    }
    return with_held_keys(*input_, options.held, [&] {
        return input_->pointer_click(*point, options.button, options.count);
    });
}

Result<void> Mouse::click_with(Point target, const ClickOptions& options) const {
    return click_at(std::nullopt, target, options);
}

Result<void> Mouse::click_with(const ElementData& target, const ClickOptions& options) const {
    return click_at(target.bounds, std::nullopt, options);
}

Result<void> Mouse::click_with(const Element& target, const ClickOptions& options) const {
    return click_with(target.data(), options);
}

Result<void> Mouse::drag_with(Point from, Point to, const DragOptions& options) const {
    VEMOR_TRY_VOID(validate_all(options.held));
    return with_held_keys(*input_, options.held, [&] {
        return input_->pointer_drag(from, to, options.button, options.duration);
    });
}

Result<void> Keyboard::down(const Key& key) const {
    VEMOR_TRY_VOID(Key::validate(key));
    return input_->key_down(key);
}

Result<void> Keyboard::up(const Key& key) const {
    VEMOR_TRY_VOID(Key::validate(key));
    return input_->key_up(key);
}

Result<void> Keyboard::press(const Key& key) const {
    VEMOR_TRY_VOID(Key::validate(key));
    VEMOR_TRY_VOID(input_->key_down(key));
    return input_->key_up(key);
}

Result<void> Keyboard::chord(const Key& key, const std::vector<Key>& modifiers) const {
    VEMOR_TRY_VOID(Key::validate(key));
    VEMOR_TRY_VOID(validate_all(modifiers));
    return with_held_keys(*input_, modifiers, [&]() -> Result<void> {
        VEMOR_TRY_VOID(input_->key_down(key));
        return input_->key_up(key);
    });
}

}  // namespace vemor
