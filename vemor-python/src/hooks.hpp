// Test hooks: module functions that hand out objects over a fresh in-memory mock provider, so
// that Python tests drive the same binding paths without a desktop. They never touch the
// process-wide provider. `TestActionProbe` reads the mock's action log; it is made by the
// module but not added to it.
#pragma once

#include "py.hpp"

namespace vemor::python {

PyType_Spec& test_action_probe_spec();

extern PyMethodDef make_test_locator_def;
extern PyMethodDef make_test_action_probe_def;
extern PyMethodDef make_test_app_def;
extern PyMethodDef make_test_shell_surfaces_def;
extern PyMethodDef find_test_shell_surface_def;
extern PyMethodDef make_disconnected_subscription_def;

}  // namespace vemor::python
