// A thin C++ layer over the CPython limited API: an owning reference, the release of the
// interpreter lock around one core call, trampolines that keep C++ failures out of the
// interpreter, an argument parser with the interpreter's own kind of messages, and the
// converters every binding shares.
#pragma once

#ifndef Py_LIMITED_API
#error "the extension module is built on the limited API"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace vemor::py {

// One owned reference; null means "an exception is set" wherever a binding returns one.
class Ref {
public:
    Ref() = default;
    static Ref steal(PyObject* o) { return Ref(o); }
    static Ref borrow(PyObject* o) {
        Py_XINCREF(o);
        return Ref(o);
    }
    Ref(const Ref& other) : o_(other.o_) { Py_XINCREF(o_); }
    Ref(Ref&& other) noexcept : o_(std::exchange(other.o_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(o_, other.o_);
        return *this;
    }
    ~Ref() { Py_XDECREF(o_); }

    PyObject* get() const { return o_; }
    PyObject* release() { return std::exchange(o_, nullptr); }
    explicit operator bool() const { return o_ != nullptr; }

private:
    explicit Ref(PyObject* o) : o_(o) {}
    PyObject* o_ = nullptr;
};

// ---- Errors -------------------------------------------------------------------------------

// Sets `type` with the message and returns the null reference, so a binding can
// `return py::raise(PyExc_ValueError, ...)`.
Ref raise(PyObject* type, std::string_view message);
// Type name of an object for messages ("int", "NoneType").
std::string type_name(PyObject* o);

// A raised Python exception taken off the thread, to be raised again unchanged.
class PendingError {
public:
    PendingError() = default;
    PendingError(const PendingError&) = delete;
    PendingError& operator=(const PendingError&) = delete;
    ~PendingError();
    // Takes the thread's current exception (the lock must be held).
    void fetch();
    // Puts it back as the thread's current exception; false when there is none.
    bool restore();
    bool empty() const { return type_ == nullptr; }

private:
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* traceback_ = nullptr;
};

// ---- The interpreter lock -----------------------------------------------------------------

// Inside a `catch (...)` handler: true when what is caught is the forced unwinding that ends the
// thread (a daemon thread re-taking the lock at interpreter exit). It has no C++ exception
// object, so it cannot be caught by type, and it must be thrown on.
inline bool ending_thread() { return !std::current_exception(); }

// Releases the lock on construction and takes it back on destruction. The innermost scope of
// a thread is known to it, so that a callback run inside the scope can take the lock back on
// the thread state the scope saved (`with_lock`).
//
// At interpreter exit, taking the lock back ends a daemon thread with a forced unwind. The
// scope it leaves is then abandoned: nothing takes the lock again on the way out, and
// `lock_lost` tells the objects on that way not to touch the interpreter. The destructor may be
// left by that unwinding, so it must not be noexcept.
class Released {
public:
    Released() : state_(PyEval_SaveThread()), outer_(std::exchange(innermost_, this)) {}
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;
    ~Released() noexcept(false) {
        innermost_ = outer_;
        if (!owed_) return;
        try {
            PyEval_RestoreThread(state_);
        } catch (...) {  // only the thread's ending
            lock_lost_ = true;
            throw;
        }
    }

    // The thread is being unwound without the lock: it is not taken back.
    void abandon() {
        owed_ = false;
        lock_lost_ = true;
    }

    // True once this thread has been ended at interpreter exit while it waited for the lock.
    static bool lock_lost() { return lock_lost_; }

    template <class F>
    friend auto with_lock(F&& call) -> decltype(call());

private:
    static inline thread_local Released* innermost_ = nullptr;
    static inline thread_local bool lock_lost_ = false;
    PyThreadState* state_;
    Released* outer_;
    bool owed_ = true;  // the destructor takes the lock back
};

// Runs `work` with the lock released and returns what it returned. `work` touches no Python
// object, except through `with_lock`. A C++ exception from it is carried across the
// re-acquisition and thrown again with the lock held.
template <class F>
auto detach(F&& work) -> decltype(work()) {
    std::exception_ptr failure;
    {
        Released released;
        try {
            return std::forward<F>(work)();
        } catch (...) {
            if (ending_thread()) {
                released.abandon();
                throw;
            }
            failure = std::current_exception();
        }
    }
    std::rethrow_exception(failure);
}

// Runs `call` with the lock held, from inside `detach` on the same thread (a Python callback
// that a detached core call makes): takes the lock back on the thread state that `detach`
// saved and releases it again afterwards. While the lock is taken back the scope owes nothing,
// so a forced unwind out of the re-acquisition or out of `call` leaves it abandoned.
template <class F>
auto with_lock(F&& call) -> decltype(call()) {
    Released& scope = *Released::innermost_;
    scope.owed_ = false;
    try {
        PyEval_RestoreThread(scope.state_);
    } catch (...) {  // only the thread's ending
        Released::lock_lost_ = true;
        throw;
    }
    const auto release = [&scope] {
        scope.state_ = PyEval_SaveThread();
        scope.owed_ = true;
    };
    try {
        auto result = std::forward<F>(call)();
        release();
        return result;
    } catch (...) {
        if (ending_thread())
            Released::lock_lost_ = true;
        else
            release();
        throw;
    }
}

// In a callback's `catch (...)` handler: when what is caught is the thread's ending at
// interpreter exit, the thread has lost the lock, so the objects the callback holds are left
// as they are (not released) and the unwinding goes on.
inline void rethrow_if_ending_thread(std::initializer_list<Ref*> held) {
    if (!ending_thread()) return;
    for (Ref* r : held) r->release();
    throw;
}

// Drops the references in order, with the lock held. Dropping one may run Python code (a
// `__del__`) that releases the lock, and at interpreter exit taking it back ends the thread: do
// it inside the region that lets that ending through (`rethrow_if_ending_thread`), never in a
// destructor, which cannot be left by it.
inline void drop(std::initializer_list<Ref*> refs) {
    for (Ref* r : refs) Py_XDECREF(r->release());
}

// ---- Trampolines --------------------------------------------------------------------------

// Turns a C++ exception that reached the module boundary into a Python exception (the lock is
// held); the forced unwinding of a thread is let through.
void set_error_from_current_exception();

template <class F>
PyObject* guarded(F&& body) {
    try {
        return std::forward<F>(body)().release();
    } catch (...) {
        if (ending_thread()) throw;
        set_error_from_current_exception();
        return nullptr;
    }
}

// The arguments of one fast call.
struct Call {
    PyObject* const* args;
    Py_ssize_t nargs;
    PyObject* kwnames;
};

using Method = Ref (*)(PyObject* self, const Call& call);
using Getter = Ref (*)(PyObject* self);

template <Method F>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return F(self, Call{args, nargs, kwnames}); });
}

template <Getter F>
PyObject* noargs(PyObject* self, PyObject*) {
    return guarded([&] { return F(self); });
}

template <Getter F>
PyObject* getter(PyObject* self, void*) {
    return guarded([&] { return F(self); });
}

template <Getter F>
PyObject* unaryfunc(PyObject* self) {
    return guarded([&] { return F(self); });
}

// Method-table entries. `doc` starts with the text signature ("name($self, a, b=None)\n--\n\n").
template <Method F>
PyMethodDef method(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall<F>)),
            METH_FASTCALL | METH_KEYWORDS, doc};
}
template <Getter F>
PyMethodDef method_noargs(const char* name, const char* doc) {
    return {name, &noargs<F>, METH_NOARGS, doc};
}
template <Getter F>
PyGetSetDef property(const char* name, const char* doc = nullptr) {
    return {name, &getter<F>, nullptr, doc, nullptr};
}

// ---- Argument parsing ---------------------------------------------------------------------

// A parameter list: every name positional-or-keyword up to `keyword_only_from`, keyword-only
// after it; the first `required` names must be given.
struct Signature {
    const char* function;
    std::initializer_list<const char*> names;
    std::size_t required = 0;
    std::size_t keyword_only_from = SIZE_MAX;
};

// The borrowed argument objects of one call, by parameter position; null when not given.
class Args {
public:
    // False, with the interpreter's kind of TypeError set, for too many, missing, duplicate or
    // unknown arguments.
    bool parse(const Signature& signature, const Call& call);

    PyObject* operator[](std::size_t i) const { return values_[i]; }
    // A given value other than None.
    bool present(std::size_t i) const { return values_[i] && values_[i] != Py_None; }
    const char* function() const { return function_; }
    const char* name(std::size_t i) const { return names_[i]; }

private:
    const char* function_ = "";
    std::vector<const char*> names_;
    std::vector<PyObject*> values_;
};

// Converters: the value, or none with the exception set ("f() argument 'x' must be str, not
// int"; OverflowError for an integer outside the target width).
std::optional<std::string> to_string(const Args& a, std::size_t i);
std::optional<double> to_double(const Args& a, std::size_t i);
std::optional<bool> to_strict_bool(const Args& a, std::size_t i);
template <class Int>
std::optional<Int> to_int(const Args& a, std::size_t i);
// None (or absent) gives an engaged outer optional holding nothing.
std::optional<std::optional<std::size_t>> to_optional_size(const Args& a, std::size_t i);

extern template std::optional<std::int32_t> to_int<std::int32_t>(const Args&, std::size_t);
extern template std::optional<std::uint32_t> to_int<std::uint32_t>(const Args&, std::size_t);
extern template std::optional<std::uint64_t> to_int<std::uint64_t>(const Args&, std::size_t);

// Python's truth of a bool or a NumPy boolean; none otherwise (no exception set).
std::optional<bool> strict_bool(PyObject* o);

// ---- Values to Python ---------------------------------------------------------------------

Ref str(std::string_view s);
Ref str_or_none(const std::optional<std::string>& s);
Ref integer(long long v);
Ref unsigned_integer(unsigned long long v);
Ref floating(double v);
Ref boolean(bool v);
Ref none();
Ref not_implemented();
// A tuple or list of converted items; null when one item is null (the others released).
Ref tuple(std::initializer_list<Ref> items);
Ref list(std::vector<Ref> items);
template <class T, class F>
Ref list_of(const std::vector<T>& values, F&& convert) {
    std::vector<Ref> items;
    items.reserve(values.size());
    for (const auto& v : values) {
        items.push_back(convert(v));
        if (!items.back()) return {};
    }
    return list(std::move(items));
}
template <class T>
Ref optional(const std::optional<T>& v, Ref (*convert)(T)) {
    return v ? convert(*v) : none();
}
// Sets `obj.name = value`; false with the exception set.
bool set_attr(PyObject* obj, const char* name, Ref value);

// ---- Objects holding a C++ value ----------------------------------------------------------

// The instance layout of every class of the module: the object header, then one C++ value.
template <class T>
struct Box {
    PyObject_HEAD
    T value;
};

template <class T>
T& unbox(PyObject* o) {
    return reinterpret_cast<Box<T>*>(o)->value;
}

// A new instance of `type` owning `value`.
template <class T>
Ref make_boxed(PyObject* type, T value) {
    auto alloc = reinterpret_cast<allocfunc>(
        PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
    PyObject* o = alloc(reinterpret_cast<PyTypeObject*>(type), 0);
    if (!o) return {};
    new (&reinterpret_cast<Box<T>*>(o)->value) T(std::move(value));
    return Ref::steal(o);
}

template <class T>
void box_dealloc(PyObject* o) {
    PyTypeObject* type = Py_TYPE(o);
    reinterpret_cast<Box<T>*>(o)->value.~T();
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(o);
    Py_DECREF(type);
}

// The flags of every class: no Python constructor, no subclassing, and no class attribute set or
// deleted after creation.
inline constexpr unsigned int kClassFlags =
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE;

template <class T>
constexpr int basic_size() {
    return static_cast<int>(sizeof(Box<T>));
}

}  // namespace vemor::py
