#include "app.hpp"

#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "convert.hpp"
#include "element.hpp"
#include "errors.hpp"
#include "events.hpp"
#include "locator.hpp"
#include "module.hpp"
#include "vemor/config.hpp"
#include "vemor/facade/providers.hpp"

namespace vemor::python {

namespace {

const App& app_of(PyObject* self) { return py::unbox<App>(self); }
const ShellSurface& surface_of(PyObject* self) { return py::unbox<ShellSurface>(self); }

PyMethodDef static_method(PyMethodDef def) {
    def.ml_flags |= METH_STATIC;
    return def;
}

py::Ref pid_or_none(const std::optional<std::uint32_t>& pid) {
    return pid ? py::unsigned_integer(*pid) : py::none();
}

py::Ref wrap_elements(Result<std::vector<Element>> elements) {
    if (!elements) return raise(std::move(elements).error());
    return py::list_of(*elements,
                       [](const Element& e) { return make_py_element(e.data(), e.provider()); });
}

py::Ref wrap_app(Result<App> app) {
    if (!app) return raise(std::move(app).error());
    return make_py_app(std::move(*app));
}

Result<ProviderHandle> process_provider() { return facade::provider(); }

// `tree()` and `dump()` of an App and of a ShellSurface differ only in the root they read:
// `root_of` gives a copy of it, taken after the arguments and before the lock is released.
App app_root(PyObject* self) { return app_of(self); }
Element surface_root(PyObject* self) { return surface_of(self).as_element(); }

template <typename RootOf>
py::Ref tree_of(PyObject* self, const py::Call& call, RootOf root_of) {
    py::Args a;
    if (!a.parse({"tree", {"max_depth"}, 0}, call)) return {};
    auto depth = py::to_optional_size(a, 0);
    if (!depth) return {};
    auto root = root_of(self);
    auto node = py::detach([&] { return root.tree(*depth); });
    if (!node) return raise(std::move(node).error());
    return tree_node_to_py(*node);
}

template <typename RootOf>
py::Ref dump_of(PyObject* self, const py::Call& call, RootOf root_of) {
    py::Args a;
    if (!a.parse({"dump", {"max_depth"}, 0}, call)) return {};
    auto depth = py::to_optional_size(a, 0);
    if (!depth) return {};
    auto root = root_of(self);
    auto text = py::detach([&] { return root.dump(*depth); });
    if (!text) return raise(std::move(text).error());
    return py::str(*text);
}

// ---- App: lookups -------------------------------------------------------------------------

py::Ref app_by_name(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"by_name", {"name", "timeout"}, 1, 1}, call)) return {};
    auto name = py::to_string(a, 0);
    if (!name) return {};
    auto seconds = timeout_number(a, 1);
    if (!seconds) return {};
    auto timeout = resolve_timeout(*seconds);
    if (!timeout) return {};
    auto provider = process_provider();
    if (!provider) return raise(std::move(provider).error());
    return wrap_app(py::detach([&] { return App::by_name_with(*provider, *name, *timeout); }));
}

py::Ref app_by_pid(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"by_pid", {"pid", "timeout"}, 1, 1}, call)) return {};
    auto pid = py::to_int<std::uint32_t>(a, 0);
    if (!pid) return {};
    auto seconds = timeout_number(a, 1);
    if (!seconds) return {};
    auto timeout = resolve_timeout(*seconds);
    if (!timeout) return {};
    auto provider = process_provider();
    if (!provider) return raise(std::move(provider).error());
    return wrap_app(py::detach([&] { return App::by_pid_with(*provider, *pid, *timeout); }));
}

py::Ref app_foreground(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"foreground", {"timeout"}, 0, 0}, call)) return {};
    auto seconds = timeout_number(a, 0);
    if (!seconds) return {};
    auto timeout = resolve_timeout(*seconds);
    if (!timeout) return {};
    auto provider = process_provider();
    if (!provider) return raise(std::move(provider).error());
    return wrap_app(py::detach([&] { return App::foreground_with(*provider, *timeout); }));
}

py::Ref app_list(PyObject*) {
    auto provider = process_provider();
    if (!provider) return raise(std::move(provider).error());
    auto apps = py::detach([&] { return App::list_with(*provider); });
    if (!apps) return raise(std::move(apps).error());
    return py::list_of(*apps, [](const App& app) { return make_py_app(app); });
}

// The predicate runs on this thread with the interpreter lock taken back for each call; its
// exception is parked and raised unchanged once the search has ended.
py::Ref app_find(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"find", {"predicate", "timeout"}, 1, 1}, call)) return {};
    PyObject* const predicate = a[0];  // the caller's reference lasts the whole call
    auto seconds = timeout_number(a, 1);
    if (!seconds) return {};
    auto timeout = resolve_timeout(*seconds);
    if (!timeout) return {};
    auto provider = process_provider();
    if (!provider) return raise(std::move(provider).error());
    PredicateSlot slot;
    const auto raised = [] {
        return fail(Error::Platform{-1, "find() predicate raised"});
    };
    // One call of the predicate, with the interpreter lock held.
    const auto judge = [&](const App& candidate) -> Result<bool> {
        std::lock_guard lock(slot.mutex());
        if (slot.occupied()) return raised();
        py::Ref argument;
        py::Ref result;
        try {
            argument = make_py_app(candidate);
            if (argument)
                result = py::Ref::steal(
                    PyObject_CallFunctionObjArgs(predicate, argument.get(), nullptr));
            const int truth = result ? PyObject_IsTrue(result.get()) : -1;
            if (truth < 0) slot.park();
            // Here, not in the destructors: dropping may run Python code that ends the thread.
            py::drop({&result, &argument});
            if (truth >= 0) return truth == 1;
            return raised();
        } catch (...) {
            py::rethrow_if_ending_thread({&argument, &result});
            py::set_error_from_current_exception();
            slot.park();
            return raised();
        }
    };
    const App::FalliblePredicate adapter = [&](const App& candidate) {
        return py::with_lock([&] { return judge(candidate); });
    };
    auto found = py::detach([&] { return App::find_matching(*provider, adapter, *timeout); });
    if (slot.restore()) return {};
    return wrap_app(std::move(found));
}

// ---- App: instance ------------------------------------------------------------------------

py::Ref app_locator(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"locator", {"selector"}, 1}, call)) return {};
    auto selector = py::to_string(a, 0);
    if (!selector) return {};
    const App& app = app_of(self);
    return make_py_locator(Locator::new_for_app(app.provider(), app.data(), std::move(*selector)));
}

py::Ref app_children(PyObject* self) {
    App app = app_of(self);
    return wrap_elements(py::detach([&] { return app.children(); }));
}

py::Ref app_windows(PyObject* self) {
    App app = app_of(self);
    return wrap_elements(
        py::detach([&] { return App::windows_with(app.provider(), app.data()); }));
}

py::Ref app_as_element(PyObject* self) {
    const App& app = app_of(self);
    return make_py_element(app.data(), app.provider());
}

py::Ref app_tree(PyObject* self, const py::Call& call) {
    return tree_of(self, call, app_root);
}

py::Ref app_dump(PyObject* self, const py::Call& call) {
    return dump_of(self, call, app_root);
}

py::Ref app_subscribe(PyObject* self) {
    const App& app = app_of(self);
    return subscribe_to(app.data(), app.provider());
}

py::Ref app_name(PyObject* self) { return py::str(app_of(self).name()); }
py::Ref app_pid(PyObject* self) { return pid_or_none(app_of(self).pid()); }
py::Ref app_is_foreground(PyObject* self) {
    return py::boolean(app_of(self).data().states.focused);
}
py::Ref app_focused(PyObject* self) {
    if (PyErr_WarnEx(PyExc_DeprecationWarning,
                     "App.focused is a deprecated alias for App.is_foreground; 'focused' refers "
                     "to element keyboard focus elsewhere in the API",
                     2) < 0)
        return {};
    return app_is_foreground(self);
}

py::Ref app_repr(PyObject* self) {
    const App& app = app_of(self);
    if (!app.pid()) return py::str(fmt::format("App(name='{}')", app.name()));
    return py::str(fmt::format("App(name='{}', pid={})", app.name(), *app.pid()));
}

PyMethodDef app_methods[] = {
    static_method(py::method<app_by_name>(
        "by_name", "by_name(name, *, timeout=None)\n--\n\nFind an application by exact name.")),
    static_method(py::method<app_by_pid>(
        "by_pid", "by_pid(pid, *, timeout=None)\n--\n\nFind an application by process ID.")),
    static_method(py::method<app_foreground>(
        "foreground",
        "foreground(*, timeout=None)\n--\n\n"
        "Resolve the application that currently holds the system foreground.")),
    static_method(py::method_noargs<app_list>("list",
                                              "list()\n--\n\nList all running applications.")),
    static_method(py::method<app_find>(
        "find",
        "find(predicate, *, timeout=None)\n--\n\n"
        "Find an application matching `predicate`.\n\n"
        "The predicate is called with each running application (an ``App``) and its result\n"
        "is judged by truthiness. A predicate that raises ends the search at once and its\n"
        "exception propagates unchanged.")),
    py::method<app_locator>(
        "locator",
        "locator($self, selector)\n--\n\n"
        "Create a Locator scoped to this application's accessibility tree."),
    py::method_noargs<app_children>(
        "children",
        "children($self)\n--\n\nGet direct children (typically windows) of this application."),
    py::method_noargs<app_windows>(
        "windows", "windows($self)\n--\n\nList the top-level windows of this application."),
    py::method_noargs<app_as_element>(
        "as_element",
        "as_element($self)\n--\n\nGet an :class:`Element` handle for the application root."),
    py::method<app_tree>(
        "tree",
        "tree($self, max_depth=None)\n--\n\n"
        "Capture this application's accessibility tree as a recursive dict snapshot."),
    py::method<app_dump>(
        "dump",
        "dump($self, max_depth=None)\n--\n\n"
        "Render this application's accessibility tree as an indented string."),
    py::method_noargs<app_subscribe>(
        "subscribe",
        "subscribe($self)\n--\n\nSubscribe to accessibility events from this application."),
    {},
};

PyGetSetDef app_getset[] = {
    py::property<app_name>("name", "The application's name."),
    py::property<app_pid>("pid", "The application's process id, or None."),
    py::property<app_is_foreground>(
        "is_foreground",
        "Whether this application held the system foreground when it was resolved."),
    py::property<app_focused>(
        "focused", "Deprecated alias for ``is_foreground``; it warns on every access."),
    {},
};

PyType_Slot app_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("A running application.\n\n"
                       "Not an :class:`Element`: it represents the application as a whole and "
                       "offers ``locator()`` to search its accessibility tree.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<App>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<app_repr>)},
    {Py_tp_str, reinterpret_cast<void*>(&py::unaryfunc<app_repr>)},
    {Py_tp_methods, app_methods},
    {Py_tp_getset, app_getset},
    {0, nullptr},
};

PyType_Spec app_type_spec = {"vemor.App", py::basic_size<App>(), 0, py::kClassFlags, app_slots};

// ---- ShellSurface -------------------------------------------------------------------------

py::Ref surface_list(PyObject*) {
    auto provider = process_provider();
    if (!provider) return raise(std::move(provider).error());
    return shell_surface_list_impl(*provider);
}

py::Ref surface_by_kind(PyObject*, const py::Call& call) {
    auto args = kind_and_timeout("by_kind", call);
    if (!args) return {};
    auto provider = process_provider();
    if (!provider) return raise(std::move(provider).error());
    return shell_surface_by_kind_impl(*provider, args->first, args->second);
}

py::Ref surface_locator(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"locator", {"selector"}, 1}, call)) return {};
    auto selector = py::to_string(a, 0);
    if (!selector) return {};
    const ShellSurface& s = surface_of(self);
    return make_py_locator(Locator(s.provider(), s.data(), std::move(*selector)));
}

py::Ref surface_children(PyObject* self) {
    ShellSurface s = surface_of(self);
    return wrap_elements(py::detach([&] { return s.children(); }));
}

py::Ref surface_as_element(PyObject* self) {
    const ShellSurface& s = surface_of(self);
    return make_py_element(s.data(), s.provider());
}

py::Ref surface_tree(PyObject* self, const py::Call& call) {
    return tree_of(self, call, surface_root);
}

py::Ref surface_dump(PyObject* self, const py::Call& call) {
    return dump_of(self, call, surface_root);
}

py::Ref surface_kind(PyObject* self) {
    return py::str(shell_surface_kind::to_snake_case(surface_of(self).kind()));
}
py::Ref surface_name(PyObject* self) { return py::str(surface_of(self).name()); }
py::Ref surface_pid(PyObject* self) { return pid_or_none(surface_of(self).pid()); }

py::Ref surface_repr(PyObject* self) {
    const ShellSurface& s = surface_of(self);
    const auto kind = shell_surface_kind::to_snake_case(s.kind());
    if (!s.pid()) return py::str(fmt::format("ShellSurface(kind='{}', name='{}')", kind, s.name()));
    return py::str(
        fmt::format("ShellSurface(kind='{}', name='{}', pid={})", kind, s.name(), *s.pid()));
}

PyMethodDef surface_methods[] = {
    static_method(py::method_noargs<surface_list>(
        "list", "list()\n--\n\nList the OS shell surfaces currently on screen.")),
    static_method(py::method<surface_by_kind>(
        "by_kind",
        "by_kind(kind, *, timeout=None)\n--\n\nWait for exactly one shell surface of `kind`.")),
    py::method<surface_locator>(
        "locator",
        "locator($self, selector)\n--\n\n"
        "Create a Locator scoped to this surface's accessibility tree."),
    py::method_noargs<surface_children>(
        "children", "children($self)\n--\n\nGet direct children of the surface root."),
    py::method_noargs<surface_as_element>(
        "as_element",
        "as_element($self)\n--\n\nGet an :class:`Element` handle for the surface root."),
    py::method<surface_tree>(
        "tree",
        "tree($self, max_depth=None)\n--\n\n"
        "Capture this surface's accessibility tree as a recursive dict snapshot."),
    py::method<surface_dump>(
        "dump",
        "dump($self, max_depth=None)\n--\n\n"
        "Render this surface's accessibility tree as an indented string."),
    {},
};

PyGetSetDef surface_getset[] = {
    py::property<surface_kind>("kind", "The surface's kind, such as \"menu_bar\" or \"dock\"."),
    py::property<surface_name>("name", "The surface's name."),
    py::property<surface_pid>("pid", "The owning process id, or None."),
    {},
};

PyType_Slot surface_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("An operating-system shell surface: menu bar, status items, taskbar, "
                       "panel, dock, desktop or flyout.\n\n"
                       "Not an :class:`Element`: it represents the surface as a whole and offers "
                       "``locator()`` to search its accessibility tree.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<ShellSurface>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<surface_repr>)},
    {Py_tp_str, reinterpret_cast<void*>(&py::unaryfunc<surface_repr>)},
    {Py_tp_methods, surface_methods},
    {Py_tp_getset, surface_getset},
    {0, nullptr},
};

PyType_Spec surface_type_spec = {"vemor.ShellSurface", py::basic_size<ShellSurface>(), 0,
                                 py::kClassFlags, surface_slots};

}  // namespace

PyType_Spec& app_spec() { return app_type_spec; }
PyType_Spec& shell_surface_spec() { return surface_type_spec; }

py::Ref make_py_app(App app) { return py::make_boxed(classes().App, std::move(app)); }

py::Ref make_py_shell_surface(ShellSurface surface) {
    return py::make_boxed(classes().ShellSurface, std::move(surface));
}

py::Ref shell_surface_list_impl(const ProviderHandle& provider) {
    auto surfaces = py::detach([&] { return ShellSurface::list_with(provider); });
    if (!surfaces) return raise(std::move(surfaces).error());
    return py::list_of(*surfaces, [](const ShellSurface& s) { return make_py_shell_surface(s); });
}

py::Ref shell_surface_by_kind_impl(const ProviderHandle& provider, ShellSurfaceKind kind,
                                   Duration timeout) {
    auto surface = py::detach([&] { return ShellSurface::by_kind_with(provider, kind, timeout); });
    if (!surface) return raise(std::move(surface).error());
    return make_py_shell_surface(std::move(*surface));
}

std::optional<std::optional<double>> timeout_number(const py::Args& a, std::size_t i) {
    if (!a.present(i)) return std::optional<double>();
    auto seconds = seconds_argument(a, i);
    if (!seconds) return std::nullopt;
    return std::optional<double>(*seconds);
}

std::optional<Duration> resolve_timeout(const std::optional<double>& seconds) {
    if (seconds) return timeout_from(*seconds);
    auto d = config::default_timeout();
    if (!d) {
        raise(std::move(d).error());
        return std::nullopt;
    }
    return *d;
}

std::optional<std::pair<ShellSurfaceKind, Duration>> kind_and_timeout(const char* function,
                                                                     const py::Call& call) {
    py::Args a;
    if (!a.parse({function, {"kind", "timeout"}, 1, 1}, call)) return std::nullopt;
    auto kind_name = py::to_string(a, 0);
    if (!kind_name) return std::nullopt;
    auto seconds = timeout_number(a, 1);
    if (!seconds) return std::nullopt;
    auto kind = parse_shell_kind(*kind_name);
    if (!kind) return std::nullopt;
    auto timeout = resolve_timeout(*seconds);
    if (!timeout) return std::nullopt;
    return std::pair{*kind, *timeout};
}

}  // namespace vemor::python
