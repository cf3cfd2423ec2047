#include "element.hpp"

#include <string>
#include <vector>

#include <fmt/format.h>

#include "actions.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "events.hpp"
#include "module.hpp"
#include "values.hpp"
#include "vemor/role.hpp"

namespace vemor::python {

namespace {

const Element& element_of(PyObject* self) { return py::unbox<Element>(self); }
const ElementData& data_of(PyObject* self) { return element_of(self).data(); }

// ---- Properties ---------------------------------------------------------------------------

py::Ref optional_float(const std::optional<double>& v) {
    return v ? py::floating(*v) : py::none();
}
py::Ref optional_bool(const std::optional<bool>& v) { return v ? py::boolean(*v) : py::none(); }

py::Ref el_role(PyObject* self) { return py::str(role::to_snake_case(data_of(self).role)); }
py::Ref el_name(PyObject* self) { return py::str_or_none(data_of(self).name); }
py::Ref el_value(PyObject* self) { return py::str_or_none(data_of(self).value); }
py::Ref el_description(PyObject* self) { return py::str_or_none(data_of(self).description); }
py::Ref el_numeric_value(PyObject* self) { return optional_float(data_of(self).numeric_value); }
py::Ref el_min_value(PyObject* self) { return optional_float(data_of(self).min_value); }
py::Ref el_max_value(PyObject* self) { return optional_float(data_of(self).max_value); }
py::Ref el_stable_id(PyObject* self) { return py::str_or_none(data_of(self).stable_id); }
py::Ref el_pid(PyObject* self) {
    const auto& pid = data_of(self).pid;
    return pid ? py::unsigned_integer(*pid) : py::none();
}
py::Ref el_actions(PyObject* self) {
    return py::list_of(data_of(self).actions, [](const std::string& a) { return py::str(a); });
}
py::Ref el_enabled(PyObject* self) { return py::boolean(data_of(self).states.enabled); }
py::Ref el_visible(PyObject* self) { return py::boolean(data_of(self).states.visible); }
py::Ref el_focused(PyObject* self) { return py::boolean(data_of(self).states.focused); }
py::Ref el_active(PyObject* self) { return py::boolean(data_of(self).states.active); }
py::Ref el_checked(PyObject* self) {
    const auto& checked = data_of(self).states.checked;
    return checked ? py::str(checked_state::to_snake_case(*checked)) : py::none();
}
py::Ref el_selected(PyObject* self) { return py::boolean(data_of(self).states.selected); }
py::Ref el_expanded(PyObject* self) { return optional_bool(data_of(self).states.expanded); }
py::Ref el_editable(PyObject* self) { return py::boolean(data_of(self).states.editable); }
py::Ref el_focusable(PyObject* self) { return py::boolean(data_of(self).states.focusable); }
py::Ref el_modal(PyObject* self) { return py::boolean(data_of(self).states.modal); }
py::Ref el_required(PyObject* self) { return py::boolean(data_of(self).states.required); }
py::Ref el_busy(PyObject* self) { return py::boolean(data_of(self).states.busy); }
py::Ref el_minimized(PyObject* self) { return optional_bool(data_of(self).states.minimized); }
py::Ref el_maximized(PyObject* self) { return optional_bool(data_of(self).states.maximized); }
py::Ref el_fullscreen(PyObject* self) { return optional_bool(data_of(self).states.fullscreen); }
py::Ref el_bounds(PyObject* self) {
    const auto& bounds = data_of(self).bounds;
    return bounds ? make_py_rect(*bounds) : py::none();
}
py::Ref el_raw(PyObject* self) {
    py::Ref dict = py::Ref::steal(PyDict_New());
    if (!dict) return {};
    for (const auto& [key, value] : data_of(self).raw) {
        py::Ref converted = json_to_py(value);
        py::Ref name = py::str(key);
        if (!converted || !name) return {};
        if (PyDict_SetItem(dict.get(), name.get(), converted.get()) < 0) return {};
    }
    return dict;
}

py::Ref el_repr(PyObject* self) {
    const ElementData& d = data_of(self);
    std::string text = fmt::format("Element(role='{}'", role::to_snake_case(d.role));
    if (d.name) text += fmt::format(", name='{}'", *d.name);
    if (d.value) text += fmt::format(", value='{}'", *d.value);
    if (!d.states.enabled) text += ", enabled=False";
    if (!d.states.visible) text += ", visible=False";
    if (d.states.focused) text += ", focused=True";
    if (d.states.active) text += ", active=True";
    text += ")";
    return py::str(text);
}

// ---- Navigation and capture ---------------------------------------------------------------

py::Ref wrap_all(Result<ElementList> list, const ProviderHandle& provider) {
    if (!list) return raise(std::move(list).error());
    std::vector<py::Ref> items;
    items.reserve(list->size());
    for (auto& data : *list) {
        items.push_back(make_py_element(std::move(data), provider));
        if (!items.back()) return {};
    }
    return py::list(std::move(items));
}

py::Ref el_children(PyObject* self) {
    Element e = element_of(self);
    auto list = py::detach([&] { return e.provider()->get_children(&e.data()); });
    return wrap_all(std::move(list), e.provider());
}

py::Ref el_parent(PyObject* self) {
    Element e = element_of(self);
    auto parent = py::detach([&] { return e.provider()->get_parent(e.data()); });
    if (!parent) return raise(std::move(parent).error());
    if (!*parent) return py::none();
    return make_py_element(std::move(**parent), e.provider());
}

py::Ref el_subscribe(PyObject* self) {
    const Element& e = element_of(self);
    return subscribe_to(e.data(), e.provider());
}

// ---- Tables -------------------------------------------------------------------------------

PyMethodDef element_methods[] = {
    py::method_noargs<el_children>(
        "children",
        "children($self)\n--\n\nGet direct children (lazy — each call queries the provider)."),
    py::method_noargs<el_parent>(
        "parent",
        "parent($self)\n--\n\nGet parent element (lazy — each call queries the provider)."),
    py::method<actions::tree<Element>>(
        "tree",
        "tree($self, max_depth=None)\n--\n\n"
        "Capture the subtree rooted at this element as a recursive dict snapshot.\n\n"
        "Each dict has the keys ``role``, ``name``, ``value`` and ``children`` (a list of\n"
        "dicts of the same shape). ``max_depth`` limits the traversal: 0 gives only this\n"
        "node, 1 the node and its direct children, ``None`` the full subtree."),
    py::method<actions::dump<Element>>(
        "dump",
        "dump($self, max_depth=None)\n--\n\n"
        "Render the subtree rooted at this element as an indented string.\n\n"
        "Returns the string without printing it; ``max_depth`` has the same semantics as\n"
        "in ``tree()``."),
    py::method_noargs<el_subscribe>(
        "subscribe",
        "subscribe($self)\n--\n\n"
        "Subscribe to accessibility events for this element (typically an app)."),
    py::method_noargs<actions::no_argument<Element, &Element::press>>(
        "press", "press($self)\n--\n\nClick / invoke this element."),
    py::method_noargs<actions::no_argument<Element, &Element::focus>>(
        "focus", "focus($self)\n--\n\nMove keyboard focus to this element."),
    py::method_noargs<actions::no_argument<Element, &Element::blur>>(
        "blur", "blur($self)\n--\n\nRemove keyboard focus from this element."),
    py::method_noargs<actions::no_argument<Element, &Element::toggle>>(
        "toggle", "toggle($self)\n--\n\nToggle this element's checked state."),
    py::method_noargs<actions::no_argument<Element, &Element::expand>>(
        "expand", "expand($self)\n--\n\nExpand this element (e.g. tree node, combo box)."),
    py::method_noargs<actions::no_argument<Element, &Element::collapse>>(
        "collapse", "collapse($self)\n--\n\nCollapse this element."),
    py::method_noargs<actions::no_argument<Element, &Element::select>>(
        "select", "select($self)\n--\n\nSelect this element (e.g. list item, tab)."),
    py::method_noargs<actions::no_argument<Element, &Element::show_menu>>(
        "show_menu", "show_menu($self)\n--\n\nShow this element's context menu."),
    py::method_noargs<actions::no_argument<Element, &Element::scroll_into_view>>(
        "scroll_into_view", "scroll_into_view($self)\n--\n\nScroll this element into view."),
    py::method_noargs<actions::no_argument<Element, &Element::increment>>(
        "increment",
        "increment($self)\n--\n\nIncrement this element's value (e.g. slider, spinner)."),
    py::method_noargs<actions::no_argument<Element, &Element::decrement>>(
        "decrement", "decrement($self)\n--\n\nDecrement this element's value."),
    py::method<actions::set_value<Element>>(
        "set_value", "set_value($self, value)\n--\n\nReplace this element's text value."),
    py::method<actions::set_numeric_value<Element>>(
        "set_numeric_value",
        "set_numeric_value($self, value)\n--\n\nSet this element's numeric value."),
    py::method<actions::type_text<Element>>(
        "type_text", "type_text($self, text)\n--\n\nInsert text at the current cursor position."),
    py::method<actions::select_text<Element>>(
        "select_text",
        "select_text($self, start, end)\n--\n\n"
        "Select the text range from `start` to `end` (0-based character "
        "offsets)."),
    py::method<actions::perform_action<Element>>(
        "perform_action",
        "perform_action($self, action)\n--\n\nPerform an action by its ``snake_case`` name."),
    py::method_noargs<actions::no_argument<Element, &Element::activate>>(
        "activate",
        "activate($self)\n--\n\n"
        "Activate this window: bring it to the foreground and give it focus."),
    py::method_noargs<actions::no_argument<Element, &Element::minimize>>(
        "minimize", "minimize($self)\n--\n\nMinimize this window."),
    py::method_noargs<actions::no_argument<Element, &Element::maximize>>(
        "maximize",
        "maximize($self)\n--\n\nMaximize this window.\n\n"
        "Distinct from ``enter_fullscreen``: this drives the platform's maximized state,\n"
        "not native fullscreen. Raises ``ActionNotSupportedError`` on a platform without\n"
        "an accessible maximize (macOS exposes no readable or writable zoom state)."),
    py::method_noargs<actions::no_argument<Element, &Element::enter_fullscreen>>(
        "enter_fullscreen",
        "enter_fullscreen($self)\n--\n\n"
        "Put this window in native fullscreen (macOS ``AXFullScreen``).\n\n"
        "Distinct from ``maximize``; ``restore`` leaves fullscreen. Raises\n"
        "``ActionNotSupportedError`` on platforms with no fullscreen\n"
        "accessibility API (Windows/Linux)."),
    py::method_noargs<actions::no_argument<Element, &Element::restore>>(
        "restore",
        "restore($self)\n--\n\nRestore this window to its normal state (from\n"
        "minimized/maximized/fullscreen)."),
    py::method_noargs<actions::no_argument<Element, &Element::close>>(
        "close", "close($self)\n--\n\nClose this window."),
    py::method<actions::move_to<Element>>(
        "move_to",
        "move_to($self, x, y)\n--\n\n"
        "Move this window in desktop coordinates (physical pixels on Windows)."),
    py::method<actions::resize_to<Element>>(
        "resize_to",
        "resize_to($self, width, height)\n--\n\n"
        "Resize this window in desktop units (physical pixels on Windows).\n\n"
        "Raises ``InvalidActionDataError`` if ``width`` or ``height`` is 0, and\n"
        "``OverflowError`` if either is negative or exceeds the unsigned 32-bit range."),
    {},
};

constexpr const char* kActiveDoc =
    "Whether this element is the active (foreground) window — the window that\n"
    "currently receives the user's input. Meaningful for window-like elements\n"
    "(windows, dialogs); ``False`` for elements that are not window-like. Distinct\n"
    "from ``focused``, which is element-level keyboard focus.";
constexpr const char* kMinimizedDoc =
    "Whether the window is minimized. ``None`` means unknown or not a window;\n"
    "a platform that cannot report the state says so rather than guessing.";
constexpr const char* kMaximizedDoc =
    "Whether the window is maximized. ``None`` means unknown or not a window.";
constexpr const char* kFullscreenDoc =
    "Whether the window is fullscreen. ``None`` means unknown or not a window.";
constexpr const char* kRawDoc =
    "Platform-specific raw data attached to this element, as a Python dict.\n\n"
    "Keys are provider-defined (on macOS ``ax_role`` and ``ax_subrole``, on Windows\n"
    "``uia_control_type``); values are the JSON representation the provider produced\n"
    "(strings, numbers, booleans, nested objects). Meant for debugging and\n"
    "platform-specific queries; prefer the cross-platform fields for portable logic.";

PyGetSetDef element_getset[] = {
    py::property<el_role>("role"),
    py::property<el_name>("name"),
    py::property<el_value>("value"),
    py::property<el_description>("description"),
    py::property<el_numeric_value>("numeric_value"),
    py::property<el_min_value>("min_value"),
    py::property<el_max_value>("max_value"),
    py::property<el_stable_id>("stable_id"),
    py::property<el_pid>("pid"),
    py::property<el_actions>("actions"),
    py::property<el_enabled>("enabled"),
    py::property<el_visible>("visible"),
    py::property<el_focused>("focused"),
    py::property<el_active>("active", kActiveDoc),
    py::property<el_checked>("checked"),
    py::property<el_selected>("selected"),
    py::property<el_expanded>("expanded"),
    py::property<el_editable>("editable"),
    py::property<el_focusable>("focusable"),
    py::property<el_modal>("modal"),
    py::property<el_required>("required"),
    py::property<el_busy>("busy"),
    py::property<el_minimized>("minimized", kMinimizedDoc),
    py::property<el_maximized>("maximized", kMaximizedDoc),
    py::property<el_fullscreen>("fullscreen", kFullscreenDoc),
    py::property<el_bounds>("bounds"),
    py::property<el_raw>("raw", kRawDoc),
    {},
};

PyType_Slot element_slots[] = {
    {Py_tp_doc, const_cast<char*>("A live element with lazy navigation.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<Element>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<el_repr>)},
    {Py_tp_str, reinterpret_cast<void*>(&py::unaryfunc<el_repr>)},
    {Py_tp_methods, element_methods},
    {Py_tp_getset, element_getset},
    {0, nullptr},
};

PyType_Spec element_type_spec = {"vemor.Element", py::basic_size<Element>(), 0, py::kClassFlags,
                                 element_slots};

}  // namespace

PyType_Spec& element_spec() { return element_type_spec; }

py::Ref make_py_element(ElementData data, ProviderHandle provider) {
    return py::make_boxed(classes().Element, Element(std::move(data), std::move(provider)));
}

const Element* as_element(PyObject* o) {
    return is_instance(o, classes().Element) ? &element_of(o) : nullptr;
}

}  // namespace vemor::python
