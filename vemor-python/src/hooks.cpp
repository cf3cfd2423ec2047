#include "hooks.hpp"

#include <memory>

#include "app.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "events.hpp"
#include "locator.hpp"
#include "module.hpp"
#include "vemor/mock.hpp"

namespace vemor::python {

namespace {

using ProbeHandle = std::shared_ptr<MockProvider>;

const ProbeHandle& probe_of(PyObject* self) { return py::unbox<ProbeHandle>(self); }

py::Ref probe_locator(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"locator", {"selector"}, 1}, call)) return {};
    auto selector = py::to_string(a, 0);
    if (!selector) return {};
    return make_py_locator(Locator(probe_of(self), std::nullopt, std::move(*selector)));
}

py::Ref probe_actions(PyObject* self) {
    return py::list_of(probe_of(self)->actions(), [](const MockAction& entry) {
        return py::list({py::unsigned_integer(entry.handle), py::str(entry.action),
                         py::str_or_none(entry.value)});
    });
}

py::Ref probe_clear(PyObject* self) {
    probe_of(self)->clear_actions();
    return py::none();
}

PyMethodDef probe_methods[] = {
    py::method<probe_locator>("locator",
                              "locator($self, selector)\n--\n\n"
                              "A rootless locator over this probe's mock provider."),
    py::method_noargs<probe_actions>("actions",
                                     "actions($self)\n--\n\n"
                                     "The recorded actions, oldest first, each "
                                     "[handle, action, data]."),
    py::method_noargs<probe_clear>("clear", "clear($self)\n--\n\nForget the recorded actions."),
    {},
};

PyType_Slot probe_slots[] = {
    {Py_tp_doc, const_cast<char*>("Reads the action log of one test mock provider.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<ProbeHandle>)},
    {Py_tp_methods, probe_methods},
    {0, nullptr},
};

PyType_Spec probe_type_spec = {"vemor.TestActionProbe", py::basic_size<ProbeHandle>(), 0,
                               py::kClassFlags, probe_slots};

py::Ref make_test_locator(PyObject*) {
    return make_py_locator(Locator(mock::build_provider(), std::nullopt, "application"));
}

py::Ref make_test_action_probe(PyObject*) {
    return py::make_boxed(classes().TestActionProbe, ProbeHandle(mock::build_provider()));
}

// "TestApp" in one attempt, with the lock held.
py::Ref make_test_app(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"_make_test_app", {"split"}, 0}, call)) return {};
    bool split = false;
    if (a[0]) {
        auto given = py::to_strict_bool(a, 0);
        if (!given) return {};
        split = *given;
    }
    ProviderHandle provider = split ? ProviderHandle(mock::build_split_provider())
                                    : ProviderHandle(mock::build_provider());
    auto app = App::find_with(
        provider, [](const App& candidate) { return candidate.name() == "TestApp"; },
        Duration::zero());
    if (!app) return raise(std::move(app).error());
    return make_py_app(std::move(*app));
}

py::Ref make_test_shell_surfaces(PyObject*) {
    return shell_surface_list_impl(mock::build_provider());
}

// The kind is checked before a mock exists.
py::Ref find_test_shell_surface(PyObject*, const py::Call& call) {
    auto args = kind_and_timeout("_find_test_shell_surface", call);
    if (!args) return {};
    return shell_surface_by_kind_impl(mock::build_provider(), args->first, args->second);
}

py::Ref make_disconnected_subscription(PyObject*) {
    return make_py_subscription(mock::disconnected_subscription(), mock::build_provider());
}

}  // namespace

PyType_Spec& test_action_probe_spec() { return probe_type_spec; }

PyMethodDef make_test_locator_def = py::method_noargs<make_test_locator>(
    "_make_test_locator",
    "_make_test_locator()\n--\n\n"
    "A rootless Locator for \"application\" over a fresh mock provider.");

PyMethodDef make_test_action_probe_def = py::method_noargs<make_test_action_probe>(
    "_make_test_action_probe",
    "_make_test_action_probe()\n--\n\n"
    "A TestActionProbe over a fresh mock provider.");

PyMethodDef make_test_app_def = py::method<make_test_app>(
    "_make_test_app",
    "_make_test_app(split=False)\n--\n\n"
    "The App \"TestApp\" over a fresh mock provider (with ``split``, one that registers the\n"
    "application as two entries).");

PyMethodDef make_test_shell_surfaces_def = py::method_noargs<make_test_shell_surfaces>(
    "_make_test_shell_surfaces",
    "_make_test_shell_surfaces()\n--\n\n"
    "The shell surfaces of a fresh mock provider, as ShellSurface.list() gives them.");

PyMethodDef find_test_shell_surface_def = py::method<find_test_shell_surface>(
    "_find_test_shell_surface",
    "_find_test_shell_surface(kind, *, timeout=None)\n--\n\n"
    "The one shell surface of `kind` of a fresh mock provider, as ShellSurface.by_kind()\n"
    "finds it.");

PyMethodDef make_disconnected_subscription_def =
    py::method_noargs<make_disconnected_subscription>(
        "_make_disconnected_subscription",
        "_make_disconnected_subscription()\n--\n\n"
        "A Subscription whose event source has already gone away.");

}  // namespace vemor::python
