// `vemor.InputSim`: mouse and keyboard input by screen coordinates. Every conversion happens
// before anything is sent; each method then makes one input call with the lock released.
#pragma once

#include "py.hpp"
#include "vemor/input.hpp"

namespace vemor::python {

PyType_Spec& input_sim_spec();

py::Ref make_py_input_sim(InputProviderHandle input);

}  // namespace vemor::python
