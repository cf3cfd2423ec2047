// Core errors as Python exceptions, the diagnosis attributes of the diagnosed ones, and the slot
// that carries an exception raised by a Python predicate out of a detached core wait.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "py.hpp"
#include "vemor/error.hpp"

namespace vemor::python {

// The exception instance for a core error (the lock must be held); null when even building it
// failed, with that failure set.
py::Ref to_py_err(Error error);

// Raises `to_py_err(error)` and returns the null reference.
py::Ref raise(Error error);

// Sets selector, elapsed, condition, last_observed, candidates and scope on `exception`, in
// that order; a failure to set one is dropped. Returns the same exception.
py::Ref attach_diagnosis_attrs(py::Ref exception, const std::optional<std::string>& selector,
                               std::optional<double> elapsed, const Diagnosis* diagnosis);

// Seconds of a duration as a float (whole seconds plus nanoseconds / 1e9).
double seconds(Duration d);

// Holds at most one exception that a Python callback raised inside a detached core call. The
// callback takes the interpreter lock first and the slot's mutex second.
class PredicateSlot {
public:
    // Called with the lock held. True when an exception is already parked: the callback must
    // report "satisfied" without calling Python again.
    bool occupied() const;
    // Parks the thread's current exception (the lock held).
    void park();
    // After the detached call, with the lock held: raises the parked exception and returns
    // true, or returns false when nothing is parked.
    bool restore();

    std::mutex& mutex() { return mutex_; }

private:
    std::mutex mutex_;
    py::PendingError pending_;
};

}  // namespace vemor::python
