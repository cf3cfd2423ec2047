// `vemor.App` (one running application) and `vemor.ShellSurface` (one shell surface): the two
// entry points into the accessibility tree that are not elements themselves. Lookups and tree
// reads run with the interpreter lock released; locators and element handles keep it.
#pragma once

#include <optional>
#include <utility>

#include "py.hpp"
#include "vemor/app.hpp"
#include "vemor/shell.hpp"

namespace vemor::python {

PyType_Spec& app_spec();
PyType_Spec& shell_surface_spec();

py::Ref make_py_app(App app);
py::Ref make_py_shell_surface(ShellSurface surface);

// The listing and the lookup by kind behind `ShellSurface.list()` and `ShellSurface.by_kind()`,
// over any provider (the test hooks pass a mock).
py::Ref shell_surface_list_impl(const ProviderHandle& provider);
py::Ref shell_surface_by_kind_impl(const ProviderHandle& provider, ShellSurfaceKind kind,
                                   Duration timeout);

// The `timeout` keyword of the lookups, in two steps so that its type is checked with the other
// arguments and its value after them: the number given (none for None or absent), then the
// duration (the process-wide default when no number was given).
std::optional<std::optional<double>> timeout_number(const py::Args& a, std::size_t i);
std::optional<Duration> resolve_timeout(const std::optional<double>& seconds);

// The `(kind, *, timeout=None)` arguments of a lookup by shell-surface kind made by `function`:
// the types first, then the kind's name, then the time-out's value.
std::optional<std::pair<ShellSurfaceKind, Duration>> kind_and_timeout(const char* function,
                                                                     const py::Call& call);

}  // namespace vemor::python
