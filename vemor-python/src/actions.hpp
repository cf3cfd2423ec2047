// The bindings `vemor.Element` and `vemor.Locator` have in common: the actions and the subtree
// capture, over the core `Element` or `Locator` boxed in `self`. Each parses its arguments with
// the interpreter lock held, then calls the core on a private copy of the target with the lock
// released; a core failure is raised as the mapped Python exception.
#pragma once

#include <cstdint>
#include <string_view>

#include "convert.hpp"
#include "errors.hpp"
#include "py.hpp"

namespace vemor::python::actions {

// None, or the mapped exception of a failed core call.
inline py::Ref done(Result<void> r) {
    if (!r) return raise(std::move(r).error());
    return py::none();
}

template <class Target, Result<void> (Target::*Op)() const>
py::Ref no_argument(PyObject* self) {
    Target target = py::unbox<Target>(self);
    return done(py::detach([&] { return (target.*Op)(); }));
}

template <class Target, Result<void> (Target::*Op)(std::string_view) const>
py::Ref text_action(PyObject* self, const py::Call& call, const char* name, const char* arg) {
    py::Args a;
    if (!a.parse({name, {arg}, 1}, call)) return {};
    auto text = py::to_string(a, 0);
    if (!text) return {};
    Target target = py::unbox<Target>(self);
    return done(py::detach([&] { return (target.*Op)(*text); }));
}

// Two required integers of the same width: a text range, a position or a size.
template <class Target, class Int, Result<void> (Target::*Op)(Int, Int) const>
py::Ref pair_action(PyObject* self, const py::Call& call, const py::Signature& signature) {
    py::Args a;
    if (!a.parse(signature, call)) return {};
    auto first = py::to_int<Int>(a, 0);
    if (!first) return {};
    auto second = py::to_int<Int>(a, 1);
    if (!second) return {};
    Target target = py::unbox<Target>(self);
    return done(py::detach([&] { return (target.*Op)(*first, *second); }));
}

template <class Target>
py::Ref set_value(PyObject* self, const py::Call& call) {
    return text_action<Target, &Target::set_value>(self, call, "set_value", "value");
}
template <class Target>
py::Ref type_text(PyObject* self, const py::Call& call) {
    return text_action<Target, &Target::type_text>(self, call, "type_text", "text");
}
template <class Target>
py::Ref perform_action(PyObject* self, const py::Call& call) {
    return text_action<Target, &Target::perform_action>(self, call, "perform_action", "action");
}

template <class Target>
py::Ref set_numeric_value(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"set_numeric_value", {"value"}, 1}, call)) return {};
    auto value = py::to_double(a, 0);
    if (!value) return {};
    Target target = py::unbox<Target>(self);
    return done(py::detach([&] { return target.set_numeric_value(*value); }));
}

template <class Target>
py::Ref select_text(PyObject* self, const py::Call& call) {
    return pair_action<Target, std::uint32_t, &Target::select_text>(
        self, call, {"select_text", {"start", "end"}, 2});
}
template <class Target>
py::Ref move_to(PyObject* self, const py::Call& call) {
    return pair_action<Target, std::int32_t, &Target::move_to>(self, call,
                                                               {"move_to", {"x", "y"}, 2});
}
template <class Target>
py::Ref resize_to(PyObject* self, const py::Call& call) {
    return pair_action<Target, std::uint32_t, &Target::resize_to>(
        self, call, {"resize_to", {"width", "height"}, 2});
}

template <class Target>
py::Ref tree(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"tree", {"max_depth"}, 0}, call)) return {};
    auto depth = py::to_optional_size(a, 0);
    if (!depth) return {};
    Target target = py::unbox<Target>(self);
    auto node = py::detach([&] { return target.tree(*depth); });
    if (!node) return raise(std::move(node).error());
    return tree_node_to_py(*node);
}

template <class Target>
py::Ref dump(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"dump", {"max_depth"}, 0}, call)) return {};
    auto depth = py::to_optional_size(a, 0);
    if (!depth) return {};
    Target target = py::unbox<Target>(self);
    auto text = py::detach([&] { return target.dump(*depth); });
    if (!text) return raise(std::move(text).error());
    return py::str(*text);
}

}  // namespace vemor::python::actions
