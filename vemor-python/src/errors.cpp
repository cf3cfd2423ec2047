#include "errors.hpp"

#include <type_traits>
#include <variant>

#include <fmt/format.h>

#include "module.hpp"
#include "vemor/role.hpp"
#include "vemor/text.hpp"

namespace vemor::python {

namespace {

py::Ref build(PyObject* type, std::string_view message) {
    py::Ref text = py::str(message);
    if (!text) return {};
    return py::Ref::steal(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
}

}  // namespace

double seconds(Duration d) {
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(d);
    const auto nanos = d - whole;
    return static_cast<double>(whole.count()) + static_cast<double>(nanos.count()) / 1e9;
}

py::Ref to_py_err(Error error) {
    const Exceptions& exc = exceptions();
    const std::string message = error.message();
    return std::visit(
        [&](const auto& kind) -> py::Ref {
            using K = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<K, Error::PermissionDenied>) {
                return build(exc.PermissionDeniedError, kind.instructions);
            } else if constexpr (std::is_same_v<K, Error::AccessibilityNotEnabled>) {
                return build(exc.AccessibilityNotEnabledError,
                             fmt::format("Accessibility not enabled for {}: {}",
                                         text::escape_controls(kind.app),
                                         kind.instructions));
            } else if constexpr (std::is_same_v<K, Error::SelectorNotMatched>) {
                return attach_diagnosis_attrs(build(exc.SelectorNotMatchedError, message),
                                              kind.selector, std::nullopt,
                                              kind.diagnosis ? &*kind.diagnosis : nullptr);
            } else if constexpr (std::is_same_v<K, Error::ElementStale>) {
                return attach_diagnosis_attrs(
                    build(exc.SelectorNotMatchedError,
                          fmt::format("Element stale: {}", kind.selector)),
                    kind.selector, std::nullopt, nullptr);
            } else if constexpr (std::is_same_v<K, Error::ActionNotSupported>) {
                return build(exc.ActionNotSupportedError,
                             fmt::format("{} not supported on {}", kind.action,
                                         role::to_snake_case(kind.role)));
            } else if constexpr (std::is_same_v<K, Error::TextValueNotSupported>) {
                return build(exc.ActionNotSupportedError,
                             "Text value not supported for this element");
            } else if constexpr (std::is_same_v<K, Error::Timeout>) {
                const Diagnosis* d = kind.diagnosis ? &*kind.diagnosis : nullptr;
                return attach_diagnosis_attrs(build(exc.TimeoutError, message),
                                              d ? d->selector : std::nullopt,
                                              seconds(kind.elapsed), d);
            } else if constexpr (std::is_same_v<K, Error::InvalidSelector>) {
                return build(exc.InvalidSelectorError,
                             fmt::format("Invalid selector '{}': {}", kind.selector,
                                         kind.message));
            } else if constexpr (std::is_same_v<K, Error::InvalidActionData>) {
                return build(exc.InvalidActionDataError,
                             fmt::format("Invalid action data: {}", kind.message));
            } else if constexpr (std::is_same_v<K, Error::InvalidConfig>) {
                return build(PyExc_ValueError,
                             fmt::format("Invalid configuration: {}", kind.message));
            } else if constexpr (std::is_same_v<K, Error::NoElementBounds>) {
                return build(PyExc_ValueError,
                             "Element has no bounds; cannot compute a screen point");
            } else if constexpr (std::is_same_v<K, Error::Unsupported>) {
                return build(exc.ActionNotSupportedError,
                             fmt::format("Unsupported: {}", kind.feature));
            } else {
                static_assert(std::is_same_v<K, Error::Platform>);
                return build(exc.PlatformError,
                             fmt::format("Platform error ({}): {}", kind.code, kind.message));
            }
        },
        error.variant());
}

py::Ref raise(Error error) {
    py::Ref exception = to_py_err(std::move(error));
    if (exception)
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())), exception.get());
    return {};
}

py::Ref attach_diagnosis_attrs(py::Ref exception, const std::optional<std::string>& selector,
                               std::optional<double> elapsed, const Diagnosis* diagnosis) {
    if (!exception) return exception;
    PyObject* e = exception.get();
    auto set = [e](const char* name, py::Ref value) {
        if (!py::set_attr(e, name, std::move(value))) PyErr_Clear();
    };
    auto text = [](const std::optional<std::string>& s) { return py::str_or_none(s); };
    set("selector", text(selector));
    set("elapsed", elapsed ? py::floating(*elapsed) : py::none());
    set("condition", text(diagnosis ? diagnosis->condition : std::nullopt));
    set("last_observed", text(diagnosis ? diagnosis->last_observed : std::nullopt));
    set("candidates", diagnosis ? py::list_of(diagnosis->candidates,
                                              [](const std::string& c) { return py::str(c); })
                                : py::list({}));
    set("scope", text(diagnosis ? diagnosis->scope : std::nullopt));
    return exception;
}

bool PredicateSlot::occupied() const { return !pending_.empty(); }

void PredicateSlot::park() { pending_.fetch(); }

bool PredicateSlot::restore() {
    std::lock_guard lock(mutex_);
    return pending_.restore();
}

}  // namespace vemor::python
