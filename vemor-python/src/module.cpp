// The module's entry point and its execution slot: the default time-out check, then the
// classes, the exception classes and the functions, each from one ordered table.

#include "module.hpp"

#include <string>

#include "app.hpp"
#include "element.hpp"
#include "events.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "hooks.hpp"
#include "input_sim.hpp"
#include "locator.hpp"
#include "values.hpp"
#include "vemor/config.hpp"

namespace vemor::python {

namespace {

// Process-wide: created by the first execution of the module, never released.
Classes g_classes;
Exceptions g_exceptions;
bool g_created = false;

struct ClassEntry {
    const char* name;
    // Null for a class that is not part of this build yet; its entry keeps the order.
    PyType_Spec* (*spec)();
    PyObject* Classes::*cell;
};

template <PyType_Spec& (*Get)()>
PyType_Spec* spec_of() {
    return &Get();
}

// Added to the module in this order.
const ClassEntry kClasses[] = {
    {"App", spec_of<app_spec>, &Classes::App},
    {"Element", spec_of<element_spec>, &Classes::Element},
    {"Event", spec_of<event_spec>, &Classes::Event},
    {"EventType", spec_of<event_type_spec>, &Classes::EventType},
    {"InputSim", spec_of<input_sim_spec>, &Classes::InputSim},
    {"LegendEntry", spec_of<legend_entry_spec>, &Classes::LegendEntry},
    {"Locator", spec_of<locator_spec>, &Classes::Locator},
    {"Omission", spec_of<omission_spec>, &Classes::Omission},
    {"Rect", spec_of<rect_spec>, &Classes::Rect},
    {"Screenshot", spec_of<screenshot_spec>, &Classes::Screenshot},
    {"ShellSurface", spec_of<shell_surface_spec>, &Classes::ShellSurface},
    {"Subscription", spec_of<subscription_spec>, &Classes::Subscription},
};

// Created with the classes but not added to the module.
const ClassEntry kHiddenClasses[] = {
    {"TestActionProbe", spec_of<test_action_probe_spec>, &Classes::TestActionProbe},
};

struct ExceptionEntry {
    const char* name;
    // The type name given at creation: the module name and the class name.
    const char* qualified;
    PyObject* Exceptions::*cell;
};

// Registered in this order; the first is the base of all the others.
const ExceptionEntry kExceptions[] = {
    {"VemorError", "_native.VemorError", &Exceptions::VemorError},
    {"PermissionDeniedError", "_native.PermissionDeniedError",
     &Exceptions::PermissionDeniedError},
    {"AccessibilityNotEnabledError", "_native.AccessibilityNotEnabledError",
     &Exceptions::AccessibilityNotEnabledError},
    {"SelectorNotMatchedError", "_native.SelectorNotMatchedError",
     &Exceptions::SelectorNotMatchedError},
    {"ActionNotSupportedError", "_native.ActionNotSupportedError",
     &Exceptions::ActionNotSupportedError},
    {"TimeoutError", "_native.TimeoutError", &Exceptions::TimeoutError},
    {"InvalidSelectorError", "_native.InvalidSelectorError", &Exceptions::InvalidSelectorError},
    {"InvalidActionDataError", "_native.InvalidActionDataError",
     &Exceptions::InvalidActionDataError},
    {"PlatformError", "_native.PlatformError", &Exceptions::PlatformError},
};

struct FunctionEntry {
    const char* name;
    // Null for a function that is not part of this build yet.
    PyMethodDef* def;
};

// Added to the module in this order.
const FunctionEntry kFunctions[] = {
    {"locator", &locator_def},
    {"set_default_timeout", &set_default_timeout_def},
    {"get_default_timeout", &get_default_timeout_def},
    {"input_sim", &input_sim_def},
    {"screenshot", &screenshot_def},
    {"_cli_main", &cli_main_def},
    {"_make_test_locator", &make_test_locator_def},
    {"_make_test_app", &make_test_app_def},
    {"_make_test_shell_surfaces", &make_test_shell_surfaces_def},
    {"_find_test_shell_surface", &find_test_shell_surface_def},
    {"_make_disconnected_subscription", &make_disconnected_subscription_def},
    {"_make_test_action_probe", &make_test_action_probe_def},
};

bool create_classes() {
    auto create = [](const ClassEntry& entry) {
        if (!entry.spec) return true;
        PyObject* type = PyType_FromSpec(entry.spec());
        if (!type) return false;
        g_classes.*entry.cell = type;
        return true;
    };
    for (const auto& entry : kClasses)
        if (!create(entry)) return false;
    for (const auto& entry : kHiddenClasses)
        if (!create(entry)) return false;
    return fill_event_type(g_classes.EventType);
}

bool create_exceptions() {
    for (const auto& entry : kExceptions) {
        PyObject* base = g_exceptions.VemorError ? g_exceptions.VemorError : PyExc_Exception;
        PyObject* type = PyErr_NewException(entry.qualified, base, nullptr);
        if (!type) {
            PyErr_Clear();
            py::raise(PyExc_RuntimeError, "Failed to initialize new exception type.");
            return false;
        }
        g_exceptions.*entry.cell = type;
    }
    return true;
}

// Everything is created once per process; a later execution of the module (after it was
// removed from sys.modules) adds the same objects again.
bool create_once() {
    if (g_created) return true;
    if (!create_classes() || !create_exceptions()) return false;
    g_created = true;
    return true;
}

bool add_classes(PyObject* module) {
    for (const auto& entry : kClasses) {
        PyObject* type = g_classes.*entry.cell;
        if (type && PyModule_AddObjectRef(module, entry.name, type) < 0) return false;
    }
    return true;
}

bool register_exceptions(PyObject* module) {
    py::Ref vemor_name = py::str("vemor");
    if (!vemor_name) return false;
    for (const auto& entry : kExceptions) {
        PyObject* type = g_exceptions.*entry.cell;
        if (PyObject_SetAttrString(type, "__module__", vemor_name.get()) < 0) return false;
        if (PyModule_AddObjectRef(module, entry.name, type) < 0) return false;
    }
    return true;
}

bool add_functions(PyObject* module) {
    py::Ref module_name = py::Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return false;
    for (const auto& entry : kFunctions) {
        if (!entry.def) continue;
        py::Ref function =
            py::Ref::steal(PyCFunction_NewEx(entry.def, module, module_name.get()));
        if (!function || PyModule_AddObjectRef(module, entry.name, function.get()) < 0)
            return false;
    }
    return true;
}

// The classes are shared by the whole process; a second interpreter would get objects that
// belong to the first one.
bool in_main_interpreter() {
    if (PyInterpreterState_GetID(PyInterpreterState_Get()) == 0) return true;
    py::raise(PyExc_ImportError,
              "vemor._native cannot be loaded in a sub-interpreter; import it in the main "
              "interpreter only");
    return false;
}

bool fill(PyObject* module) {
    if (!in_main_interpreter()) return false;
    // Only the check matters: an unusable VEMOR_DEFAULT_TIMEOUT fails the import.
    if (auto timeout = config::default_timeout(); !timeout) {
        raise(std::move(timeout).error());
        return false;
    }
    return create_once() && add_classes(module) && register_exceptions(module) &&
           add_functions(module);
}

int exec_native(PyObject* module) {
    PyObject* ok = py::guarded([&] { return fill(module) ? py::none() : py::Ref(); });
    if (!ok) return -1;
    Py_DECREF(ok);
    return 0;
}

PyModuleDef_Slot native_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_native)},
    {0, nullptr},
};

PyModuleDef native_module = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "Desktop accessibility automation: the native core of the vemor package.",
    0,
    nullptr,
    native_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

const Classes& classes() { return g_classes; }
const Exceptions& exceptions() { return g_exceptions; }

}  // namespace vemor::python

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
    return PyModuleDef_Init(&vemor::python::native_module);
}
