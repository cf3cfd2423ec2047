#include "convert.hpp"

#include <cmath>
#include <utility>

#include <fmt/format.h>

#include "errors.hpp"
#include "vemor/config.hpp"

namespace vemor::python {

namespace {

struct KeyName {
    std::string_view name;
    Key::Kind kind;
};

constexpr KeyName kKeyNames[] = {
    {"Shift", Key::Shift},         {"Ctrl", Key::Ctrl},
    {"Control", Key::Ctrl},        {"Alt", Key::Alt},
    {"Option", Key::Alt},          {"Meta", Key::Meta},
    {"Cmd", Key::Meta},            {"Command", Key::Meta},
    {"Win", Key::Meta},            {"Super", Key::Meta},
    {"Enter", Key::Enter},         {"Return", Key::Enter},
    {"Esc", Key::Escape},          {"Escape", Key::Escape},
    {"Backspace", Key::Backspace}, {"Tab", Key::Tab},
    {"Space", Key::Space},         {"Delete", Key::Delete},
    {"Insert", Key::Insert},       {"Up", Key::ArrowUp},
    {"ArrowUp", Key::ArrowUp},     {"Down", Key::ArrowDown},
    {"ArrowDown", Key::ArrowDown}, {"Left", Key::ArrowLeft},
    {"ArrowLeft", Key::ArrowLeft}, {"Right", Key::ArrowRight},
    {"ArrowRight", Key::ArrowRight}, {"Home", Key::Home},
    {"End", Key::End},             {"PageUp", Key::PageUp},
    {"PageDown", Key::PageDown},
};

// The largest time-out the core duration holds, in seconds (2^63 ns).
constexpr double kMaxTimeoutNanos = 9223372036854775808.0;

}  // namespace

std::optional<Key> parse_key(std::string_view name) {
    for (const auto& entry : kKeyNames)
        if (entry.name == name) return Key{entry.kind};
    if (name.size() >= 2 && name[0] == 'F' &&
        name.substr(1).find_first_not_of("0123456789") == std::string_view::npos) {
        unsigned value = 0;
        for (char c : name.substr(1)) {
            value = value * 10 + static_cast<unsigned>(c - '0');
            if (value > 255) {
                py::raise(PyExc_ValueError, fmt::format("Invalid function key: {}", name));
                return std::nullopt;
            }
        }
        return Key::function(static_cast<std::uint8_t>(value));
    }
    const std::u32string scalars = text::decode_utf8(name);
    if (scalars.size() == 1 && text::is_valid_utf8(name)) return Key::character(scalars[0]);
    py::raise(PyExc_ValueError, fmt::format("Unknown key name: {}", name));
    return std::nullopt;
}

std::optional<std::vector<Key>> parse_keys(const py::Args& args, std::size_t i) {
    std::vector<Key> keys;
    if (!args.present(i)) return keys;
    PyObject* names = args[i];
    // Any sequence of names (a list, a tuple, a deque, ...), but a str is not read as a list of
    // its characters.
    if (PyUnicode_Check(names) || !PySequence_Check(names)) {
        py::raise(PyExc_TypeError,
                  fmt::format("{}() argument '{}' must be a list of str, not {}", args.function(),
                              args.name(i), py::type_name(names)));
        return std::nullopt;
    }
    const Py_ssize_t n = PySequence_Size(names);
    if (n < 0) return std::nullopt;
    for (Py_ssize_t k = 0; k < n; ++k) {
        py::Ref item = py::Ref::steal(PySequence_GetItem(names, k));
        if (!item) return std::nullopt;
        if (!PyUnicode_Check(item.get())) {
            py::raise(PyExc_TypeError,
                      fmt::format("{}() argument '{}' must be a list of str, not a list holding {}",
                                  args.function(), args.name(i), py::type_name(item.get())));
            return std::nullopt;
        }
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(item.get(), &size);
        if (!utf8) return std::nullopt;
        auto key = parse_key(std::string_view(utf8, static_cast<std::size_t>(size)));
        if (!key) return std::nullopt;
        keys.push_back(*key);
    }
    return keys;
}

std::optional<MouseButton> parse_button(std::string_view name) {
    if (auto button = mouse_button::from_snake_case(name)) return button;
    py::raise(PyExc_ValueError,
              fmt::format("Unknown mouse button: {}. Expected \"left\", \"right\", or \"middle\"",
                          name));
    return std::nullopt;
}

std::optional<double> seconds_argument(const py::Args& args, std::size_t i) {
    PyObject* o = args[i];
    if (!PyLong_Check(o)) return py::to_double(args, i);
    const double v = PyLong_AsDouble(o);
    if (v != -1.0 || !PyErr_Occurred()) return v;
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return std::nullopt;
    PyErr_Clear();
    // Only the sign is read here: the int is known to be beyond any 64-bit value.
    int overflow = 0;
    PyLong_AsLongLongAndOverflow(o, &overflow);
    return overflow < 0 ? -HUGE_VAL : HUGE_VAL;
}

std::optional<Duration> timeout_from(double seconds) {
    // A finite value beyond the core duration is refused like a negative one rather than
    // clamped: a silently shortened wait would be a surprise.
    if (std::isnan(seconds) || seconds < 0.0 || !std::isfinite(seconds) ||
        seconds * 1e9 >= kMaxTimeoutNanos) {
        py::raise(PyExc_ValueError,
                  fmt::format("timeout must be a non-negative number of seconds, got {}",
                              text::float_display(seconds)));
        return std::nullopt;
    }
    if (seconds == 0.0) return Duration::zero();
    return config::duration_from_secs(seconds);
}

std::optional<Duration> timeout_argument(const py::Args& args, std::size_t i) {
    if (!args.present(i)) {
        auto d = config::default_timeout();
        if (!d) {
            raise(std::move(d).error());
            return std::nullopt;
        }
        return *d;
    }
    auto seconds = seconds_argument(args, i);
    if (!seconds) return std::nullopt;
    return timeout_from(*seconds);
}

py::Ref json_to_py(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null:
        case Json::value_t::discarded:
            return py::none();
        case Json::value_t::boolean:
            return py::boolean(value.get<bool>());
        case Json::value_t::number_integer:
            return py::integer(value.get<std::int64_t>());
        case Json::value_t::number_unsigned:
            return py::unsigned_integer(value.get<std::uint64_t>());
        case Json::value_t::number_float:
            return py::floating(value.get<double>());
        case Json::value_t::string:
            return py::str(value.get_ref<const std::string&>());
        case Json::value_t::binary:
            return py::none();
        case Json::value_t::array: {
            std::vector<py::Ref> items;
            items.reserve(value.size());
            for (const auto& item : value) {
                items.push_back(json_to_py(item));
                if (!items.back()) return {};
            }
            return py::list(std::move(items));
        }
        case Json::value_t::object: {
            // nlohmann keeps object keys sorted, so insertion follows the sorted key order.
            py::Ref dict = py::Ref::steal(PyDict_New());
            if (!dict) return {};
            for (const auto& [key, item] : value.items()) {
                py::Ref converted = json_to_py(item);
                py::Ref name = py::str(key);
                if (!converted || !name) return {};
                if (PyDict_SetItem(dict.get(), name.get(), converted.get()) < 0) return {};
            }
            return dict;
        }
    }
    return py::none();
}

py::Ref tree_node_to_py(const TreeNode& node) {
    py::Ref dict = py::Ref::steal(PyDict_New());
    if (!dict) return {};
    std::pair<const char*, py::Ref> entries[] = {
        {"role", py::str(node.role)},
        {"name", py::str_or_none(node.name)},
        {"value", py::str_or_none(node.value)},
        {"children", py::list_of(node.children, tree_node_to_py)},
    };
    for (auto& [key, item] : entries) {
        if (!item || PyDict_SetItemString(dict.get(), key, item.get()) < 0) return {};
    }
    return dict;
}

std::optional<ShellSurfaceKind> parse_shell_kind(std::string_view text) {
    if (auto kind = shell_surface_kind::from_snake_case(text)) return kind;
    py::raise(PyExc_ValueError,
              fmt::format("unknown shell surface kind '{}'; expected one of: {}", text,
                          fmt::join(shell_surface_kinds::KINDS, ", ")));
    return std::nullopt;
}

std::optional<long long> int_in(PyObject* o, long long min, long long max) {
    if (!PyLong_Check(o)) return std::nullopt;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (v == -1 && !overflow && PyErr_Occurred()) {
        PyErr_Clear();
        return std::nullopt;
    }
    if (overflow || v < min || v > max) return std::nullopt;
    return v;
}

}  // namespace vemor::python
