// The public module functions over the process-wide providers.
#pragma once

#include "py.hpp"

namespace vemor::python {

extern PyMethodDef locator_def;

}  // namespace vemor::python
