// The public module functions over the process-wide providers, and the console script's entry.
#pragma once

#include "py.hpp"

namespace vemor::python {

extern PyMethodDef locator_def;
extern PyMethodDef set_default_timeout_def;
extern PyMethodDef get_default_timeout_def;
extern PyMethodDef input_sim_def;
extern PyMethodDef screenshot_def;
extern PyMethodDef cli_main_def;

}  // namespace vemor::python
