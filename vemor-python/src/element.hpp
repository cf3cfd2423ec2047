// `vemor.Element`: a read-only snapshot of one element bound to the provider that produced it,
// with lazy navigation, subtree capture and the element actions. Every platform call runs on a
// private copy of the element with the interpreter lock released.
#pragma once

#include "py.hpp"
#include "vemor/element.hpp"
#include "vemor/provider.hpp"

namespace vemor::python {

PyType_Spec& element_spec();

// The one way an Element is made.
py::Ref make_py_element(ElementData data, ProviderHandle provider);
// The wrapped core element, or nullptr when `o` is not a `vemor.Element`.
const Element* as_element(PyObject* o);

}  // namespace vemor::python
