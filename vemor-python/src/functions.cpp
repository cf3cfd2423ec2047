#include "functions.hpp"

#include "errors.hpp"
#include "locator.hpp"
#include "vemor/facade/providers.hpp"

namespace vemor::python {

namespace {

// The first call of a process creates the platform provider, with the lock held.
py::Ref locator_function(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"locator", {"selector"}, 1}, call)) return {};
    auto selector = py::to_string(a, 0);
    if (!selector) return {};
    auto provider = facade::provider();
    if (!provider) return raise(std::move(provider).error());
    return make_py_locator(Locator(std::move(*provider), std::nullopt, std::move(*selector)));
}

}  // namespace

PyMethodDef locator_def = py::method<locator_function>(
    "locator",
    "locator(selector)\n--\n\n"
    "A lazy Locator for `selector` over every running application.");

}  // namespace vemor::python
