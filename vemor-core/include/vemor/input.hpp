// Input simulation in screen coordinates: keys, buttons, click and drag options, the
// `InputProvider` contract, and the `Mouse` and `Keyboard` helpers over it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/enum_names.hpp"
#include "vemor/error.hpp"

namespace vemor {

class Element;

// One keyboard key: a kind and, for `Char` and `F`, a payload. A C++ enumeration cannot carry
// data, so `Key` is a small struct: `Key::character(U'a')`, `Key::function(5)`, `Key{Key::Shift}`.
struct Key {
    enum Kind : std::uint8_t {
        Char,
        Shift,
        Ctrl,
        Alt,   // Option on macOS
        Meta,  // Command on macOS
        Enter,
        Escape,
        Backspace,
        Tab,
        Space,
        Delete,
        Insert,
        ArrowUp,
        ArrowDown,
        ArrowLeft,
        ArrowRight,
        Home,
        End,
        PageUp,
        PageDown,
        F,
    };
    Kind kind = Char;
    char32_t ch = 0;         // for `Char`
    std::uint8_t number = 0;  // for `F`

    static constexpr Key character(char32_t c) { return Key{Char, c, 0}; }
    static constexpr Key function(std::uint8_t n) { return Key{F, 0, n}; }
    bool operator==(const Key&) const = default;

    // A `Char` holding an ASCII upper-case letter is refused: type the lower-case key with
    // `Shift` held instead.
    static Result<void> validate(const Key& key);
};

enum class MouseButton : std::uint8_t { Left, Right, Middle };

namespace mouse_button {
inline constexpr std::array<EnumName<MouseButton>, 3> kNames{{
    {MouseButton::Left, "left"},
    {MouseButton::Right, "right"},
    {MouseButton::Middle, "middle"},
}};
constexpr std::string_view to_snake_case(MouseButton b) { return name_of(kNames, b); }
constexpr std::optional<MouseButton> from_snake_case(std::string_view text) {
    return value_of(kNames, text);
}
}  // namespace mouse_button

// Where in an element's bounds a click lands: a named spot or an offset from the top-left.
struct Anchor {
    enum class Kind : std::uint8_t { Center, TopLeft, TopRight, BottomLeft, BottomRight, Offset };
    Kind kind = Kind::Center;
    std::int32_t dx = 0;  // for `Offset`
    std::int32_t dy = 0;

    static constexpr Anchor offset(std::int32_t x, std::int32_t y) {
        return Anchor{Kind::Offset, x, y};
    }
    bool operator==(const Anchor&) const = default;
};

namespace anchor {
// The names of the five named spots; an offset has no name of its own.
inline constexpr std::array<EnumName<Anchor::Kind>, 5> kNames{{
    {Anchor::Kind::Center, "center"},
    {Anchor::Kind::TopLeft, "top_left"},
    {Anchor::Kind::TopRight, "top_right"},
    {Anchor::Kind::BottomLeft, "bottom_left"},
    {Anchor::Kind::BottomRight, "bottom_right"},
}};
constexpr std::optional<Anchor> from_snake_case(std::string_view text) {
    auto kind = value_of(kNames, text);
    if (!kind) return std::nullopt;
    return Anchor{*kind};
}
}  // namespace anchor

// The builder that replaces the held keys is `held(keys)` by name; a C++ member function cannot
// share its name with the field `held`, so it is `with_held(keys)` here (on both option types).
// It returns the options by value, so a chain on a temporary never leaves a dangling reference.
struct ClickOptions {
    MouseButton button = MouseButton::Left;
    std::uint32_t count = 1;
    std::vector<Key> held;
    Anchor anchor;

    ClickOptions with_held(std::vector<Key> keys) const& {
        ClickOptions out = *this;
        out.held = std::move(keys);
        return out;
    }
    ClickOptions with_held(std::vector<Key> keys) && {
        held = std::move(keys);
        return std::move(*this);
    }
};

struct DragOptions {
    MouseButton button = MouseButton::Left;
    std::vector<Key> held;
    // 0.15 s.
    Duration duration = std::chrono::milliseconds(150);

    DragOptions with_held(std::vector<Key> keys) const& {
        DragOptions out = *this;
        out.held = std::move(keys);
        return out;
    }
    DragOptions with_held(std::vector<Key> keys) && {
        held = std::move(keys);
        return std::move(*this);
    }
};

// The platform contract for input. Safe to use from any thread.
class InputProvider {
public:
    virtual ~InputProvider() = default;
    virtual Result<void> pointer_move(Point p) const = 0;
    virtual Result<void> pointer_down(MouseButton button) const = 0;
    virtual Result<void> pointer_up(MouseButton button) const = 0;
    virtual Result<void> pointer_click(Point p, MouseButton button, std::uint32_t count) const = 0;
    // Positive dx scrolls right, positive dy scrolls the content down.
    virtual Result<void> pointer_scroll(Point p, std::int32_t dx, std::int32_t dy) const = 0;
    virtual Result<void> key_down(const Key& key) const = 0;
    virtual Result<void> key_up(const Key& key) const = 0;
    virtual Result<void> type_text(std::string_view text) const = 0;
    virtual Result<void> pointer_drag(Point from, Point to, MouseButton button,
                                      Duration duration) const = 0;
};

using InputProviderHandle = std::shared_ptr<const InputProvider>;

class Mouse {
public:
    explicit Mouse(InputProviderHandle input) : input_(std::move(input)) {}
    Result<void> move_to(Point p) const { return input_->pointer_move(p); }
    Result<void> down(MouseButton button) const { return input_->pointer_down(button); }
    Result<void> up(MouseButton button) const { return input_->pointer_up(button); }
    Result<void> scroll(Point p, std::int32_t dx, std::int32_t dy) const {
        return input_->pointer_scroll(p, dx, dy);
    }
    // A click target is a point, or an element clicked at the anchor point of its bounds.
    Result<void> click_with(Point target, const ClickOptions& options) const;
    Result<void> click_with(const Element& target, const ClickOptions& options) const;
    Result<void> click_with(const ElementData& target, const ClickOptions& options) const;
    Result<void> drag_with(Point from, Point to, const DragOptions& options) const;

private:
    Result<void> click_at(std::optional<Rect> bounds, std::optional<Point> point,
                          const ClickOptions& options) const;
    InputProviderHandle input_;
};

class Keyboard {
public:
    explicit Keyboard(InputProviderHandle input) : input_(std::move(input)) {}
    Result<void> down(const Key& key) const;
    Result<void> up(const Key& key) const;
    Result<void> press(const Key& key) const;
    Result<void> chord(const Key& key, const std::vector<Key>& modifiers) const;
    Result<void> type_text(std::string_view text) const { return input_->type_text(text); }

private:
    InputProviderHandle input_;
};

namespace input {
// The point of an anchor inside `bounds`; sums saturate at the 32-bit limits.
Point anchor_point(const Rect& bounds, const Anchor& anchor);
}  // namespace input

}  // namespace vemor
