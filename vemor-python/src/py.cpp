#include "py.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>

namespace vemor::py {

Ref raise(PyObject* type, std::string_view message) {
    Ref text = str(message);
    if (text) PyErr_SetObject(type, text.get());
    return {};
}

std::string type_name(PyObject* o) {
    Ref name = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)),
                                                 "__name__"));
    if (!name || !PyUnicode_Check(name.get())) {
        PyErr_Clear();
        return "object";
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (!utf8) {
        PyErr_Clear();
        return "object";
    }
    return std::string(utf8, static_cast<std::size_t>(size));
}

PendingError::~PendingError() {
    if (Released::lock_lost()) return;  // the thread is ending at interpreter exit: left as is
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(traceback_);
}

void PendingError::fetch() {
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(traceback_);
    PyErr_Fetch(&type_, &value_, &traceback_);
}

bool PendingError::restore() {
    if (!type_) return false;
    PyErr_Restore(std::exchange(type_, nullptr), std::exchange(value_, nullptr),
                  std::exchange(traceback_, nullptr));
    return true;
}

void set_error_from_current_exception() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise(PyExc_RuntimeError, fmt::format("internal error: {}", e.what()));
    } catch (...) {
        raise(PyExc_RuntimeError, "internal error");
    }
}

// ---- Argument parsing ---------------------------------------------------------------------

namespace {

bool name_equals(PyObject* key, const char* name) {
    return PyUnicode_CompareWithASCIIString(key, name) == 0;
}

}  // namespace

bool Args::parse(const Signature& signature, const Call& call) {
    function_ = signature.function;
    names_.assign(signature.names.begin(), signature.names.end());
    values_.assign(names_.size(), nullptr);
    const std::size_t positional_max = std::min(signature.keyword_only_from, names_.size());
    const auto nargs = static_cast<std::size_t>(call.nargs);
    if (nargs > positional_max) {
        raise(PyExc_TypeError,
              positional_max == 0
                  ? fmt::format("{}() takes no positional arguments", function_)
                  : fmt::format("{}() takes at most {} positional {} ({} given)", function_,
                                positional_max, positional_max == 1 ? "argument" : "arguments",
                                nargs));
        return false;
    }
    for (std::size_t i = 0; i < nargs; ++i) values_[i] = call.args[i];
    const Py_ssize_t nkw = call.kwnames ? PyTuple_Size(call.kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GetItem(call.kwnames, k);
        std::size_t found = names_.size();
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (name_equals(key, names_[i])) {
                found = i;
                break;
            }
        }
        if (found == names_.size()) {
            Ref repr = Ref::steal(PyObject_Str(key));
            const char* text = repr ? PyUnicode_AsUTF8AndSize(repr.get(), nullptr) : nullptr;
            if (!text) return false;
            raise(PyExc_TypeError,
                  fmt::format("{}() got an unexpected keyword argument '{}'", function_, text));
            return false;
        }
        if (values_[found]) {
            raise(PyExc_TypeError,
                  fmt::format("{}() got multiple values for argument '{}'", function_,
                              names_[found]));
            return false;
        }
        values_[found] = call.args[call.nargs + k];
    }
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (!values_[i]) {
            raise(PyExc_TypeError, fmt::format("{}() missing required argument '{}' (pos {})",
                                               function_, names_[i], i + 1));
            return false;
        }
    }
    return true;
}

namespace {

void wrong_type(const Args& a, std::size_t i, std::string_view expected) {
    raise(PyExc_TypeError, fmt::format("{}() argument '{}' must be {}, not {}", a.function(),
                                       a.name(i), expected, type_name(a[i])));
}

}  // namespace

std::optional<std::string> to_string(const Args& a, std::size_t i) {
    PyObject* o = a[i];
    if (!PyUnicode_Check(o)) {
        wrong_type(a, i, "str");
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
    if (!utf8) return std::nullopt;
    return std::string(utf8, static_cast<std::size_t>(size));
}

std::optional<double> to_double(const Args& a, std::size_t i) {
    PyObject* o = a[i];
    if (PyFloat_Check(o)) return PyFloat_AsDouble(o);
    if (PyLong_Check(o)) {
        const double v = PyLong_AsDouble(o);
        if (v == -1.0 && PyErr_Occurred()) return std::nullopt;
        return v;
    }
    wrong_type(a, i, "float");
    return std::nullopt;
}

std::optional<bool> strict_bool(PyObject* o) {
    if (PyBool_Check(o)) return o == Py_True;
    // NumPy's boolean scalar ("numpy.bool_", "numpy.bool") without importing NumPy.
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
    Ref module = Ref::steal(PyObject_GetAttrString(type, "__module__"));
    Ref name = Ref::steal(PyObject_GetAttrString(type, "__name__"));
    if (!module || !name) {
        PyErr_Clear();
        return std::nullopt;
    }
    if (PyUnicode_Check(module.get()) && PyUnicode_Check(name.get()) &&
        PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
        (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0)) {
        const int truth = PyObject_IsTrue(o);
        if (truth < 0) {
            PyErr_Clear();
            return std::nullopt;
        }
        return truth == 1;
    }
    return std::nullopt;
}

std::optional<bool> to_strict_bool(const Args& a, std::size_t i) {
    if (auto b = strict_bool(a[i])) return b;
    wrong_type(a, i, "bool");
    return std::nullopt;
}

template <class Int>
std::optional<Int> to_int(const Args& a, std::size_t i) {
    PyObject* o = a[i];
    if (!PyLong_Check(o)) {
        wrong_type(a, i, "int");
        return std::nullopt;
    }
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (v == -1 && !overflow && PyErr_Occurred()) return std::nullopt;
    if constexpr (std::is_unsigned_v<Int>) {
        if (overflow < 0 || (!overflow && v < 0)) {
            raise(PyExc_OverflowError,
                  fmt::format("{}() argument '{}': can't convert negative int to unsigned",
                              a.function(), a.name(i)));
            return std::nullopt;
        }
        if (overflow > 0) {
            if constexpr (sizeof(Int) == 8) {
                const unsigned long long u = PyLong_AsUnsignedLongLong(o);
                if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
                    PyErr_Clear();
                } else {
                    return static_cast<Int>(u);
                }
            }
        } else if (static_cast<unsigned long long>(v) <= std::numeric_limits<Int>::max()) {
            return static_cast<Int>(v);
        }
    } else {
        if (!overflow && v >= std::numeric_limits<Int>::min() &&
            v <= std::numeric_limits<Int>::max())
            return static_cast<Int>(v);
    }
    raise(PyExc_OverflowError,
          fmt::format("{}() argument '{}': int too large to convert", a.function(), a.name(i)));
    return std::nullopt;
}

template std::optional<std::int32_t> to_int<std::int32_t>(const Args&, std::size_t);
template std::optional<std::uint32_t> to_int<std::uint32_t>(const Args&, std::size_t);
template std::optional<std::uint64_t> to_int<std::uint64_t>(const Args&, std::size_t);

std::optional<std::optional<std::size_t>> to_optional_size(const Args& a, std::size_t i) {
    if (!a.present(i)) return std::optional<std::size_t>();
    auto v = to_int<std::uint64_t>(a, i);
    if (!v) return std::nullopt;
    return std::optional<std::size_t>(static_cast<std::size_t>(*v));
}

// ---- Values to Python ---------------------------------------------------------------------

Ref str(std::string_view s) {
    return Ref::steal(
        PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace"));
}

Ref str_or_none(const std::optional<std::string>& s) { return s ? str(*s) : none(); }
Ref integer(long long v) { return Ref::steal(PyLong_FromLongLong(v)); }
Ref unsigned_integer(unsigned long long v) { return Ref::steal(PyLong_FromUnsignedLongLong(v)); }
Ref floating(double v) { return Ref::steal(PyFloat_FromDouble(v)); }
Ref boolean(bool v) { return Ref::borrow(v ? Py_True : Py_False); }
Ref none() { return Ref::borrow(Py_None); }
Ref not_implemented() { return Ref::borrow(Py_NotImplemented); }

Ref tuple(std::initializer_list<Ref> items) {
    for (const auto& item : items)
        if (!item) return {};
    Ref t = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    if (!t) return {};
    Py_ssize_t i = 0;
    for (const auto& item : items) PyTuple_SetItem(t.get(), i++, Ref(item).release());
    return t;
}

Ref list(std::vector<Ref> items) {
    Ref l = Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!l) return {};
    Py_ssize_t i = 0;
    for (auto& item : items) {
        if (!item) return {};
        PyList_SetItem(l.get(), i++, item.release());
    }
    return l;
}

bool set_attr(PyObject* obj, const char* name, Ref value) {
    if (!value) return false;
    return PyObject_SetAttrString(obj, name, value.get()) == 0;
}

}  // namespace vemor::py
