#include "locator.hpp"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "actions.hpp"
#include "convert.hpp"
#include "element.hpp"
#include "errors.hpp"
#include "module.hpp"

namespace vemor::python {

namespace {

const Locator& locator_of(PyObject* self) { return py::unbox<Locator>(self); }

py::Ref loc_selector(PyObject* self) { return py::str(locator_of(self).selector()); }

py::Ref loc_repr(PyObject* self) {
    return py::str(fmt::format("Locator(selector='{}')", locator_of(self).selector()));
}

// ---- Composing ----------------------------------------------------------------------------

py::Ref loc_nth(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"nth", {"n"}, 1}, call)) return {};
    auto n = py::to_int<std::uint64_t>(a, 0);
    if (!n) return {};
    // The core's own refusal words it for C++ callers; Python users read the Python spelling.
    if (*n == 0) return raise(Error::InvalidActionData{"Locator.nth is 1-based; got 0"});
    auto next = locator_of(self).nth(*n);
    if (!next) return raise(std::move(next).error());
    return make_py_locator(std::move(*next));
}

py::Ref loc_first(PyObject* self) { return make_py_locator(locator_of(self).first()); }

py::Ref loc_child(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"child", {"selector"}, 1}, call)) return {};
    auto text = py::to_string(a, 0);
    if (!text) return {};
    return make_py_locator(locator_of(self).child(*text));
}

py::Ref loc_descendant(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"descendant", {"selector"}, 1}, call)) return {};
    auto text = py::to_string(a, 0);
    if (!text) return {};
    return make_py_locator(locator_of(self).descendant(*text));
}

// ---- One-shot queries ---------------------------------------------------------------------

py::Ref loc_exists(PyObject* self) {
    Locator l = locator_of(self);
    auto found = py::detach([&] { return l.exists(); });
    if (!found) return raise(std::move(found).error());
    return py::boolean(*found);
}

py::Ref loc_count(PyObject* self) {
    Locator l = locator_of(self);
    auto n = py::detach([&] { return l.count(); });
    if (!n) return raise(std::move(n).error());
    return py::unsigned_integer(*n);
}

py::Ref wrap_element(Result<Element> e) {
    if (!e) return raise(std::move(e).error());
    ProviderHandle provider = e->provider();
    return make_py_element(ElementData(e->data()), std::move(provider));
}

py::Ref loc_element(PyObject* self) {
    Locator l = locator_of(self);
    return wrap_element(py::detach([&] { return l.element(); }));
}

py::Ref loc_elements(PyObject* self) {
    Locator l = locator_of(self);
    auto list = py::detach([&] { return l.elements(); });
    if (!list) return raise(std::move(list).error());
    std::vector<py::Ref> items;
    items.reserve(list->size());
    for (auto& e : *list) {
        items.push_back(make_py_element(ElementData(e.data()), e.provider()));
        if (!items.back()) return {};
    }
    return py::list(std::move(items));
}

// ---- Waits --------------------------------------------------------------------------------

template <Result<Element> (Locator::*Wait)(Duration) const>
py::Ref loc_wait_for(PyObject* self, const py::Call& call, const char* name) {
    py::Args a;
    if (!a.parse({name, {"timeout"}, 0}, call)) return {};
    auto timeout = timeout_argument(a, 0);
    if (!timeout) return {};
    Locator l = locator_of(self);
    return wrap_element(py::detach([&] { return (l.*Wait)(*timeout); }));
}

template <Result<void> (Locator::*Wait)(Duration) const>
py::Ref loc_wait_gone(PyObject* self, const py::Call& call, const char* name) {
    py::Args a;
    if (!a.parse({name, {"timeout"}, 0}, call)) return {};
    auto timeout = timeout_argument(a, 0);
    if (!timeout) return {};
    Locator l = locator_of(self);
    return actions::done(py::detach([&] { return (l.*Wait)(*timeout); }));
}

py::Ref loc_wait_visible(PyObject* self, const py::Call& call) {
    return loc_wait_for<&Locator::wait_visible>(self, call, "wait_visible");
}
py::Ref loc_wait_attached(PyObject* self, const py::Call& call) {
    return loc_wait_for<&Locator::wait_attached>(self, call, "wait_attached");
}
py::Ref loc_wait_detached(PyObject* self, const py::Call& call) {
    return loc_wait_gone<&Locator::wait_detached>(self, call, "wait_detached");
}
py::Ref loc_wait_enabled(PyObject* self, const py::Call& call) {
    return loc_wait_for<&Locator::wait_enabled>(self, call, "wait_enabled");
}
py::Ref loc_wait_hidden(PyObject* self, const py::Call& call) {
    return loc_wait_gone<&Locator::wait_hidden>(self, call, "wait_hidden");
}
py::Ref loc_wait_disabled(PyObject* self, const py::Call& call) {
    return loc_wait_for<&Locator::wait_disabled>(self, call, "wait_disabled");
}
py::Ref loc_wait_focused(PyObject* self, const py::Call& call) {
    return loc_wait_for<&Locator::wait_focused>(self, call, "wait_focused");
}
py::Ref loc_wait_unfocused(PyObject* self, const py::Call& call) {
    return loc_wait_for<&Locator::wait_unfocused>(self, call, "wait_unfocused");
}

py::Ref loc_wait_until(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"wait_until", {"predicate", "timeout"}, 1}, call)) return {};
    PyObject* const predicate = a[0];  // the caller's reference lasts the whole call
    auto timeout = timeout_argument(a, 1);
    if (!timeout) return {};
    Locator l = locator_of(self);
    const ProviderHandle provider = l.provider();
    PredicateSlot slot;

    // One call of the predicate, with the interpreter lock held: the lock first, the slot second.
    const auto judge = [&](const ElementData* current) -> bool {
        std::lock_guard lock(slot.mutex());
        if (slot.occupied()) return true;
        py::Ref argument;
        py::Ref result;
        try {
            argument = current ? make_py_element(*current, provider) : py::none();
            if (argument)
                result = py::Ref::steal(
                    PyObject_CallFunctionObjArgs(predicate, argument.get(), nullptr));
            std::optional<bool> satisfied = result ? py::strict_bool(result.get()) : std::nullopt;
            if (result && !satisfied)
                py::raise(PyExc_TypeError,
                          fmt::format("wait_until() predicate must return bool, not {}",
                                      py::type_name(result.get())));
            if (!satisfied) slot.park();
            // Here, not in the destructors: dropping may run Python code that ends the thread.
            py::drop({&result, &argument});
            return satisfied.value_or(true);
        } catch (...) {
            py::rethrow_if_ending_thread({&argument, &result});
            py::set_error_from_current_exception();
            slot.park();
            return true;
        }
    };
    // Called by the core wait on this thread, with no core or provider lock held and without
    // the interpreter lock.
    const Locator::Predicate adapter = [&](const ElementData* current) {
        return py::with_lock([&] { return judge(current); });
    };
    auto waited = py::detach([&] { return l.wait_until(adapter, *timeout); });
    if (slot.restore()) return {};
    if (!waited) return raise(std::move(waited).error());
    return py::none();
}

// ---- Tables -------------------------------------------------------------------------------

constexpr const char* kTreeDoc =
    "tree($self, max_depth=None)\n--\n\n"
    "Capture the subtree rooted at the matched element as a recursive dict.\n\n"
    "Each dict has the keys ``role``, ``name``, ``value`` and ``children`` (a list of\n"
    "dicts of the same shape). ``max_depth`` limits the traversal: 0 gives only the\n"
    "matched node, 1 the node and its direct children, ``None`` the full subtree.\n\n"
    "Resolves the selector once and fails fast with ``SelectorNotMatchedError`` if\n"
    "there is no match, without auto-waiting.";
constexpr const char* kDumpDoc =
    "dump($self, max_depth=None)\n--\n\n"
    "Render the subtree rooted at the matched element as an indented string.\n\n"
    "Returns the string without printing it; depth and resolution as in ``tree()``.";
constexpr const char* kWaitUntilDoc =
    "wait_until($self, predicate, timeout=None)\n--\n\n"
    "Wait until an arbitrary Python predicate is satisfied.\n\n"
    "A predicate that *raises* aborts the wait immediately and propagates the\n"
    "exception; it is not swallowed as \"not yet\" (which would resurface later as a\n"
    "misleading time-out). This mirrors ``App.find``.";

PyMethodDef locator_methods[] = {
    py::method<loc_nth>("nth", "nth($self, n)\n--\n\n"),
    py::method_noargs<loc_first>("first", "first($self)\n--\n\n"),
    py::method<loc_child>("child", "child($self, selector)\n--\n\n"),
    py::method<loc_descendant>("descendant", "descendant($self, selector)\n--\n\n"),
    py::method_noargs<loc_exists>("exists", "exists($self)\n--\n\n"),
    py::method_noargs<loc_count>("count", "count($self)\n--\n\n"),
    py::method_noargs<loc_element>("element", "element($self)\n--\n\n"),
    py::method_noargs<loc_elements>("elements", "elements($self)\n--\n\n"),
    py::method<actions::tree<Locator>>("tree", kTreeDoc),
    py::method<actions::dump<Locator>>("dump", kDumpDoc),
    py::method_noargs<actions::no_argument<Locator, &Locator::press>>("press",
                                                                      "press($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::focus>>("focus",
                                                                      "focus($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::blur>>("blur", "blur($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::toggle>>("toggle",
                                                                       "toggle($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::expand>>("expand",
                                                                       "expand($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::collapse>>("collapse",
                                                                         "collapse($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::select>>("select",
                                                                       "select($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::show_menu>>(
        "show_menu", "show_menu($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::scroll_into_view>>(
        "scroll_into_view", "scroll_into_view($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::increment>>(
        "increment", "increment($self)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::decrement>>(
        "decrement", "decrement($self)\n--\n\n"),
    py::method<actions::set_value<Locator>>("set_value", "set_value($self, value)\n--\n\n"),
    py::method<actions::set_numeric_value<Locator>>("set_numeric_value",
                                                    "set_numeric_value($self, value)\n--\n\n"),
    py::method<actions::type_text<Locator>>("type_text", "type_text($self, text)\n--\n\n"),
    py::method<actions::select_text<Locator>>("select_text",
                                              "select_text($self, start, end)\n--\n\n"),
    py::method<actions::perform_action<Locator>>("perform_action",
                                                 "perform_action($self, action)\n--\n\n"),
    py::method_noargs<actions::no_argument<Locator, &Locator::activate>>(
        "activate",
        "activate($self)\n--\n\n"
        "Activate the matched window: bring it to the foreground and give it\nfocus."),
    py::method_noargs<actions::no_argument<Locator, &Locator::minimize>>(
        "minimize", "minimize($self)\n--\n\nMinimize the matched window."),
    py::method_noargs<actions::no_argument<Locator, &Locator::maximize>>(
        "maximize",
        "maximize($self)\n--\n\nMaximize the matched window.\n\n"
        "Distinct from ``enter_fullscreen``: this drives the platform's maximized\n"
        "state, not native fullscreen."),
    py::method_noargs<actions::no_argument<Locator, &Locator::enter_fullscreen>>(
        "enter_fullscreen",
        "enter_fullscreen($self)\n--\n\nPut the matched window in native fullscreen.\n\n"
        "Distinct from ``maximize``; ``restore`` leaves fullscreen."),
    py::method_noargs<actions::no_argument<Locator, &Locator::restore>>(
        "restore",
        "restore($self)\n--\n\n"
        "Restore the matched window to its normal state (from minimized,\n"
        "maximized, or fullscreen).\n\n"
        "The inverse of ``minimize``, ``maximize`` and ``enter_fullscreen``: it clears\n"
        "every special state the platform can clear. There is no separate method to\n"
        "leave fullscreen, because leaving fullscreen is the same absolute state write."),
    py::method_noargs<actions::no_argument<Locator, &Locator::close>>(
        "close", "close($self)\n--\n\nClose the matched window."),
    py::method<actions::move_to<Locator>>(
        "move_to",
        "move_to($self, x, y)\n--\n\n"
        "Move the matched window to the given desktop coordinates\n"
        "(top-left origin)."),
    py::method<actions::resize_to<Locator>>(
        "resize_to",
        "resize_to($self, width, height)\n--\n\n"
        "Resize the matched window to the given desktop dimensions.\n\n"
        "Raises ``InvalidActionDataError`` if ``width`` or ``height`` is 0, before any\n"
        "auto-wait polling begins, and ``OverflowError`` if either is negative or\n"
        "exceeds the unsigned 32-bit range."),
    py::method<loc_wait_visible>("wait_visible", "wait_visible($self, timeout=None)\n--\n\n"),
    py::method<loc_wait_attached>("wait_attached", "wait_attached($self, timeout=None)\n--\n\n"),
    py::method<loc_wait_detached>("wait_detached", "wait_detached($self, timeout=None)\n--\n\n"),
    py::method<loc_wait_enabled>("wait_enabled", "wait_enabled($self, timeout=None)\n--\n\n"),
    py::method<loc_wait_hidden>("wait_hidden", "wait_hidden($self, timeout=None)\n--\n\n"),
    py::method<loc_wait_disabled>("wait_disabled", "wait_disabled($self, timeout=None)\n--\n\n"),
    py::method<loc_wait_focused>("wait_focused", "wait_focused($self, timeout=None)\n--\n\n"),
    py::method<loc_wait_unfocused>("wait_unfocused", "wait_unfocused($self, timeout=None)\n--\n\n"),
    py::method<loc_wait_until>("wait_until", kWaitUntilDoc),
    {},
};

PyGetSetDef locator_getset[] = {
    py::property<loc_selector>("selector"),
    {},
};

PyType_Slot locator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<Locator>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<loc_repr>)},
    {Py_tp_methods, locator_methods},
    {Py_tp_getset, locator_getset},
    {0, nullptr},
};

PyType_Spec locator_type_spec = {"vemor.Locator", py::basic_size<Locator>(), 0, py::kClassFlags,
                                 locator_slots};

}  // namespace

PyType_Spec& locator_spec() { return locator_type_spec; }

py::Ref make_py_locator(Locator locator) {
    return py::make_boxed(classes().Locator, std::move(locator));
}

const Locator* as_locator(PyObject* o) {
    return is_instance(o, classes().Locator) ? &locator_of(o) : nullptr;
}

}  // namespace vemor::python
