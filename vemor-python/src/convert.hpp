// Conversions between Python arguments and core values, shared by every class and function so
// that keys, buttons, time-outs, JSON values, tree snapshots and shell-surface kinds read and
// fail the same way everywhere. Each conversion that fails sets the Python exception and
// returns none; no core call has started at that point.
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "py.hpp"
#include "vemor/element.hpp"
#include "vemor/input.hpp"
#include "vemor/json.hpp"
#include "vemor/shell.hpp"
#include "vemor/text.hpp"

namespace vemor::python {

// "Enter", "Cmd", "F5", "a", ...: ValueError "Unknown key name: {}" or "Invalid function key: {}".
std::optional<Key> parse_key(std::string_view name);
// None or absent gives no keys; otherwise a list or tuple of key names, parsed in order.
std::optional<std::vector<Key>> parse_keys(const py::Args& args, std::size_t i);
// "left", "right" or "middle".
std::optional<MouseButton> parse_button(std::string_view name);
// A number of seconds: a float, or an int read as a float. An int beyond the float range reads
// as the infinity of its sign, where rounding puts it, so that the caller's range check refuses
// it with its own ValueError rather than the interpreter's OverflowError, which names nothing.
std::optional<double> seconds_argument(const py::Args& args, std::size_t i);
// Non-negative finite seconds that fit the core duration; ValueError otherwise.
std::optional<Duration> timeout_from(double seconds);
// A `timeout` argument: None or absent gives the process-wide default (its configuration error
// raised mapped), anything else a float through `timeout_from`.
std::optional<Duration> timeout_argument(const py::Args& args, std::size_t i);

py::Ref json_to_py(const Json& value);
py::Ref tree_node_to_py(const TreeNode& node);

std::optional<ShellSurfaceKind> parse_shell_kind(std::string_view text);

// A Python int within [min, max]; none otherwise, with no exception set (the caller words
// the error for the whole argument).
std::optional<long long> int_in(PyObject* o, long long min, long long max);

namespace shell_surface_kinds {
// The kind names in their order, as the unknown-kind message lists them.
inline constexpr std::array<std::string_view, 8> KINDS = [] {
    std::array<std::string_view, 8> names{};
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = shell_surface_kind::kNames[i].name;
    return names;
}();
}  // namespace shell_surface_kinds

}  // namespace vemor::python
