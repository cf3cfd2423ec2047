// `vemor.Locator`: a lazy, re-resolving query (root, selector text, index, provider). Composing
// keeps the interpreter lock; every resolution, auto-waiting action and wait runs on a private
// copy of the core locator with the lock released.
#pragma once

#include "py.hpp"
#include "vemor/locator.hpp"

namespace vemor::python {

PyType_Spec& locator_spec();

py::Ref make_py_locator(Locator locator);
// The wrapped core locator, or nullptr when `o` is not a `vemor.Locator`.
const Locator* as_locator(PyObject* o);

}  // namespace vemor::python
