// The module's process-wide class and exception objects. The execution slot creates them once,
// in their registration order, the first time the module is executed; they live for the life of
// the process (the module refuses to load in a second interpreter, so one set serves all).
#pragma once

#include "py.hpp"

namespace vemor::python {

struct Classes {
    PyObject* App = nullptr;
    PyObject* Element = nullptr;
    PyObject* Event = nullptr;
    PyObject* EventType = nullptr;
    PyObject* InputSim = nullptr;
    PyObject* LegendEntry = nullptr;
    PyObject* Locator = nullptr;
    PyObject* Omission = nullptr;
    PyObject* Rect = nullptr;
    PyObject* Screenshot = nullptr;
    PyObject* ShellSurface = nullptr;
    PyObject* Subscription = nullptr;
    // Made by the module but not added to it.
    PyObject* TestActionProbe = nullptr;
};

struct Exceptions {
    PyObject* VemorError = nullptr;
    PyObject* PermissionDeniedError = nullptr;
    PyObject* AccessibilityNotEnabledError = nullptr;
    PyObject* SelectorNotMatchedError = nullptr;
    PyObject* ActionNotSupportedError = nullptr;
    PyObject* TimeoutError = nullptr;
    PyObject* InvalidSelectorError = nullptr;
    PyObject* InvalidActionDataError = nullptr;
    PyObject* PlatformError = nullptr;
};

// Filled by the execution slot before any binding can run.
const Classes& classes();
const Exceptions& exceptions();

// True when `o` is an instance of `type` (a class of this module).
inline bool is_instance(PyObject* o, PyObject* type) {
    return type && PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(type));
}

}  // namespace vemor::python
