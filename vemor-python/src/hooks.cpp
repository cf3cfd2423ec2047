#include "hooks.hpp"

#include <memory>

#include "errors.hpp"
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

}  // namespace vemor::python
