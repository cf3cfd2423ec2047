#include "input_sim.hpp"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "convert.hpp"
#include "element.hpp"
#include "errors.hpp"
#include "module.hpp"
#include "vemor/config.hpp"
#include "vemor/text.hpp"

namespace vemor::python {

namespace {

const InputProviderHandle& input_of(PyObject* self) {
    return py::unbox<InputProviderHandle>(self);
}

py::Ref done(Result<void> r) {
    if (!r) return raise(std::move(r).error());
    return py::none();
}

// A Python int that fits `std::int32_t`; none (no exception) otherwise.
std::optional<std::int32_t> int32_of(PyObject* o) {
    auto v = int_in(o, std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max());
    if (!v) return std::nullopt;
    return static_cast<std::int32_t>(*v);
}

// A tuple of exactly two 32-bit ints.
std::optional<Point> int_pair(PyObject* o) {
    if (!PyTuple_Check(o) || PyTuple_Size(o) != 2) return std::nullopt;
    auto x = int32_of(PyTuple_GetItem(o, 0));
    auto y = int32_of(PyTuple_GetItem(o, 1));
    if (!x || !y) return std::nullopt;
    return Point{*x, *y};
}

std::optional<Anchor> parse_anchor(PyObject* o) {
    if (!o || o == Py_None) return Anchor{};
    if (PyUnicode_Check(o)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
        if (!utf8) return std::nullopt;
        const std::string_view name(utf8, static_cast<std::size_t>(size));
        if (auto anchor = anchor::from_snake_case(name)) return anchor;
        py::raise(PyExc_ValueError,
                  fmt::format("Unknown anchor: {}. Expected \"center\", \"top_left\", "
                              "\"top_right\", \"bottom_left\", \"bottom_right\", or a (dx, dy) "
                              "tuple",
                              name));
        return std::nullopt;
    }
    if (auto offset = int_pair(o)) return Anchor::offset(offset->x, offset->y);
    py::raise(PyExc_TypeError,
              "expected an anchor name (\"center\", \"top_left\", \"top_right\", "
              "\"bottom_left\", \"bottom_right\") or an (dx, dy) offset tuple");
    return std::nullopt;
}

// An Element (its bounds at the anchor) or an (x, y) tuple (the anchor does not apply).
std::optional<Point> parse_target_anchored(PyObject* o, const Anchor& anchor) {
    if (const Element* element = as_element(o)) {
        const auto& bounds = element->data().bounds;
        if (!bounds) {
            py::raise(PyExc_ValueError, "Element has no bounds");
            return std::nullopt;
        }
        return input::anchor_point(*bounds, anchor);
    }
    if (auto point = int_pair(o)) return point;
    py::raise(PyExc_TypeError, "expected (int, int) tuple or Element for target");
    return std::nullopt;
}

std::optional<Point> parse_target(PyObject* o) { return parse_target_anchored(o, Anchor{}); }

std::optional<MouseButton> button_argument(const py::Args& a, std::size_t i) {
    if (!a[i]) return MouseButton::Left;
    auto name = py::to_string(a, i);
    if (!name) return std::nullopt;
    return parse_button(*name);
}

std::optional<Key> key_argument(const py::Args& a, std::size_t i) {
    auto name = py::to_string(a, i);
    if (!name) return std::nullopt;
    return parse_key(*name);
}

// A list of key names; a bare str is not taken for a list of its characters.
std::optional<std::vector<Key>> held_argument(const py::Args& a, std::size_t i) {
    if (a[i] && PyUnicode_Check(a[i])) {
        py::raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return std::nullopt;
    }
    return parse_keys(a, i);
}

// Seconds to a drag duration: finite, not negative (negative zero is zero) and within the
// core duration's range.
std::optional<Duration> drag_duration(double seconds) {
    constexpr double kMaxNanos = 9223372036854775808.0;
    std::optional<Duration> d;
    if (std::isfinite(seconds) && seconds >= 0.0 && seconds * 1e9 < kMaxNanos)
        d = seconds == 0.0 ? Duration::zero() : config::duration_from_secs(seconds);
    if (!d)
        py::raise(PyExc_ValueError,
                  fmt::format("duration must be a non-negative, finite number of seconds, got {}",
                              text::float_display(seconds)));
    return d;
}

// ---- Methods ------------------------------------------------------------------------------

py::Ref sim_click(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"click", {"target", "button", "count", "held", "anchor"}, 1, 1}, call))
        return {};
    auto anchor = parse_anchor(a[4]);
    if (!anchor) return {};
    auto point = parse_target_anchored(a[0], *anchor);
    if (!point) return {};
    auto button = button_argument(a, 1);
    if (!button) return {};
    std::uint32_t count = 1;
    if (a[2]) {
        auto n = py::to_int<std::uint32_t>(a, 2);
        if (!n) return {};
        count = *n;
    }
    auto held = held_argument(a, 3);
    if (!held) return {};
    ClickOptions options{*button, count, std::move(*held), *anchor};
    Mouse mouse(input_of(self));
    return done(py::detach([&] { return mouse.click_with(*point, options); }));
}

template <MouseButton Button, std::uint32_t Count>
py::Ref sim_click_with(PyObject* self, const py::Call& call, const char* name) {
    py::Args a;
    if (!a.parse({name, {"target"}, 1}, call)) return {};
    auto point = parse_target(a[0]);
    if (!point) return {};
    InputProviderHandle input = input_of(self);
    return done(py::detach([&] { return input->pointer_click(*point, Button, Count); }));
}

py::Ref sim_double_click(PyObject* self, const py::Call& call) {
    return sim_click_with<MouseButton::Left, 2>(self, call, "double_click");
}
py::Ref sim_right_click(PyObject* self, const py::Call& call) {
    return sim_click_with<MouseButton::Right, 1>(self, call, "right_click");
}

py::Ref sim_move_to(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"move_to", {"target"}, 1}, call)) return {};
    auto point = parse_target(a[0]);
    if (!point) return {};
    InputProviderHandle input = input_of(self);
    return done(py::detach([&] { return input->pointer_move(*point); }));
}

template <bool Down>
py::Ref sim_mouse_button(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({Down ? "mouse_down" : "mouse_up", {"button"}, 0}, call)) return {};
    auto button = button_argument(a, 0);
    if (!button) return {};
    Mouse mouse(input_of(self));
    return done(py::detach([&] { return Down ? mouse.down(*button) : mouse.up(*button); }));
}

py::Ref sim_drag(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"drag", {"start", "end", "button", "held", "duration"}, 2, 2}, call)) return {};
    auto start = parse_target(a[0]);
    if (!start) return {};
    auto end = parse_target(a[1]);
    if (!end) return {};
    auto button = button_argument(a, 2);
    if (!button) return {};
    auto held = held_argument(a, 3);
    if (!held) return {};
    double seconds = 0.15;
    if (a[4]) {
        auto given = seconds_argument(a, 4);
        if (!given) return {};
        seconds = *given;
    }
    auto duration = drag_duration(seconds);
    if (!duration) return {};
    DragOptions options{*button, std::move(*held), *duration};
    Mouse mouse(input_of(self));
    return done(py::detach([&] { return mouse.drag_with(*start, *end, options); }));
}

py::Ref sim_scroll(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"scroll", {"target", "dx", "dy"}, 1}, call)) return {};
    auto point = parse_target(a[0]);
    if (!point) return {};
    std::int32_t delta[2] = {0, 0};
    for (std::size_t i = 1; i <= 2; ++i) {
        if (!a[i]) continue;
        auto v = py::to_int<std::int32_t>(a, i);
        if (!v) return {};
        delta[i - 1] = *v;
    }
    InputProviderHandle input = input_of(self);
    return done(py::detach([&] { return input->pointer_scroll(*point, delta[0], delta[1]); }));
}

template <Result<void> (Keyboard::*Op)(const Key&) const>
py::Ref sim_key(PyObject* self, const py::Call& call, const char* name) {
    py::Args a;
    if (!a.parse({name, {"key"}, 1}, call)) return {};
    auto key = key_argument(a, 0);
    if (!key) return {};
    Keyboard keyboard(input_of(self));
    return done(py::detach([&] { return (keyboard.*Op)(*key); }));
}

py::Ref sim_press(PyObject* self, const py::Call& call) {
    return sim_key<&Keyboard::press>(self, call, "press");
}
py::Ref sim_key_down(PyObject* self, const py::Call& call) {
    return sim_key<&Keyboard::down>(self, call, "key_down");
}
py::Ref sim_key_up(PyObject* self, const py::Call& call) {
    return sim_key<&Keyboard::up>(self, call, "key_up");
}

py::Ref sim_chord(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"chord", {"key", "held"}, 1}, call)) return {};
    auto key = key_argument(a, 0);
    if (!key) return {};
    auto held = held_argument(a, 1);
    if (!held) return {};
    Keyboard keyboard(input_of(self));
    return done(py::detach([&] { return keyboard.chord(*key, *held); }));
}

py::Ref sim_type_text(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"type_text", {"text"}, 1}, call)) return {};
    auto text = py::to_string(a, 0);
    if (!text) return {};
    Keyboard keyboard(input_of(self));
    return done(py::detach([&] { return keyboard.type_text(*text); }));
}

PyMethodDef input_sim_methods[] = {
    py::method<sim_click>(
        "click",
        "click($self, target, *, button=\"left\", count=1, held=None, anchor=None)\n--\n\n"
        "Click at `target`.\n\n"
        "``anchor`` picks the spot inside an Element's bounds: \"center\" (the default),\n"
        "\"top_left\", \"top_right\", \"bottom_left\", \"bottom_right\", or a (dx, dy) offset\n"
        "from the top-left corner. It is ignored for an (x, y) target."),
    py::method<sim_double_click>("double_click",
                                 "double_click($self, target)\n--\n\n"
                                 "Left double-click at `target`."),
    py::method<sim_right_click>("right_click",
                                "right_click($self, target)\n--\n\nRight-click at `target`."),
    py::method<sim_move_to>("move_to",
                            "move_to($self, target)\n--\n\n"
                            "Move the pointer to `target` without pressing any button."),
    py::method<sim_mouse_button<true>>(
        "mouse_down",
        "mouse_down($self, button=\"left\")\n--\n\n"
        "Press a mouse button at the current pointer location without releasing it."),
    py::method<sim_mouse_button<false>>(
        "mouse_up",
        "mouse_up($self, button=\"left\")\n--\n\n"
        "Release a mouse button at the current pointer location."),
    py::method<sim_drag>(
        "drag",
        "drag($self, start, end, *, button=\"left\", held=None, duration=0.15)\n--\n\n"
        "Drag from `start` to `end`."),
    py::method<sim_scroll>("scroll",
                           "scroll($self, target, dx=0, dy=0)\n--\n\n"
                           "Scroll at `target`.\n\n"
                           "Positive ``dx`` scrolls right, positive ``dy`` scrolls the content "
                           "down."),
    py::method<sim_press>("press", "press($self, key)\n--\n\nTap a key (press + release)."),
    py::method<sim_chord>("chord",
                          "chord($self, key, held=...)\n--\n\n"
                          "Tap `key` while `held` (list of key names) are held."),
    py::method<sim_key_down>("key_down",
                             "key_down($self, key)\n--\n\nPress `key` without releasing it."),
    py::method<sim_key_up>("key_up",
                           "key_up($self, key)\n--\n\n"
                           "Release a key previously pressed with `key_down()`."),
    py::method<sim_type_text>("type_text",
                              "type_text($self, text)\n--\n\n"
                              "Type literal text into the currently focused control."),
    {},
};

PyType_Slot input_sim_slots[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "Input-simulation façade. Constructed via [`input_sim()`][input_sim_fn].\n\n"
         "Targets are an ``(x, y)`` tuple of screen coordinates or an :class:`Element` (the\n"
         "centre of its bounds unless an anchor says otherwise). Keys are Python strings:\n"
         "printable characters are literal, named keys use their capitalised names such as\n"
         "\"Enter\", \"ArrowUp\" or \"F5\", and the modifiers are \"Shift\", \"Ctrl\", \"Alt\"\n"
         "and \"Meta\". Mouse buttons are \"left\", \"right\" and \"middle\".")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<InputProviderHandle>)},
    {Py_tp_methods, input_sim_methods},
    {0, nullptr},
};

PyType_Spec input_sim_type_spec = {"vemor.InputSim", py::basic_size<InputProviderHandle>(), 0,
                                   py::kClassFlags, input_sim_slots};

}  // namespace

PyType_Spec& input_sim_spec() { return input_sim_type_spec; }

py::Ref make_py_input_sim(InputProviderHandle input) {
    return py::make_boxed(classes().InputSim, std::move(input));
}

}  // namespace vemor::python
