#include "events.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "convert.hpp"
#include "element.hpp"
#include "errors.hpp"
#include "module.hpp"

namespace vemor::python {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kDefaultReceiveSeconds = 5.0;
constexpr Duration kIterationSlice = std::chrono::milliseconds(100);
constexpr Duration kWaitForSlice = std::chrono::milliseconds(50);

// ---- Event --------------------------------------------------------------------------------

struct EventValue {
    Event event;
    ProviderHandle provider;
};

const Event& event_of(PyObject* self) { return py::unbox<EventValue>(self).event; }

py::Ref make_py_event(Event event, const ProviderHandle& provider) {
    return py::make_boxed(classes().Event, EventValue{std::move(event), provider});
}

bool is_state_change(const Event& e) { return e.kind.type == EventKind::Type::StateChanged; }

py::Ref ev_event_type(PyObject* self) {
    return py::str(event_kind::to_snake_case(event_of(self).kind.type));
}
py::Ref ev_app_name(PyObject* self) { return py::str(event_of(self).app_name); }
py::Ref ev_app_pid(PyObject* self) { return py::unsigned_integer(event_of(self).app_pid); }
py::Ref ev_state_flag(PyObject* self) {
    const Event& e = event_of(self);
    return is_state_change(e) ? py::str(state_flag::to_snake_case(e.kind.flag)) : py::none();
}
py::Ref ev_state_value(PyObject* self) {
    const Event& e = event_of(self);
    return is_state_change(e) ? py::boolean(e.kind.value) : py::none();
}
// A new Element on every access.
py::Ref ev_target(PyObject* self) {
    const EventValue& v = py::unbox<EventValue>(self);
    if (!v.event.target) return py::none();
    return make_py_element(*v.event.target, v.provider);
}

py::Ref ev_repr(PyObject* self) {
    const Event& e = event_of(self);
    return py::str(fmt::format("Event(event_type='{}', app_name='{}', app_pid={})",
                               event_kind::to_snake_case(e.kind.type), e.app_name, e.app_pid));
}

PyGetSetDef event_getset[] = {
    py::property<ev_event_type>("event_type", "The event kind's name (see ``EventType``)."),
    py::property<ev_app_name>("app_name", "Name of the application that sent the event."),
    py::property<ev_app_pid>("app_pid", "Process id of the application that sent the event."),
    py::property<ev_state_flag>("state_flag",
                                "For ``state_changed`` events the state that changed, else None."),
    py::property<ev_state_value>("state_value",
                                 "For ``state_changed`` events the state's new value, else None."),
    py::property<ev_target>("target", "The element the event is about, or None."),
    {},
};

PyType_Slot event_slots[] = {
    {Py_tp_doc, const_cast<char*>("One accessibility event received from a Subscription.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<EventValue>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<ev_repr>)},
    {Py_tp_str, reinterpret_cast<void*>(&py::unaryfunc<ev_repr>)},
    {Py_tp_getset, event_getset},
    {0, nullptr},
};

PyType_Spec event_type_spec_value = {"vemor.Event", py::basic_size<EventValue>(), 0,
                                     py::kClassFlags, event_slots};

// ---- EventType ----------------------------------------------------------------------------

struct Nothing {};

PyType_Slot event_type_slots[] = {
    {Py_tp_doc, const_cast<char*>("The event kinds' names, to compare with Event.event_type.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<Nothing>)},
    {0, nullptr},
};

PyType_Spec event_type_type_spec = {"vemor.EventType", py::basic_size<Nothing>(), 0,
                                    py::kClassFlags, event_type_slots};

// ---- Subscription -------------------------------------------------------------------------

// Who waits for the turn: a call from another thread (recv, try_recv, wait_for, close, repr)
// waiting for its first turn goes before the slices of receives under way: every slice of an
// iteration, and the later slices of a recv or wait_for.
enum class Priority : std::uint8_t { Call, Slice };
// A place in line: the priority, then the ticket, which gives the order of arrival.
using LineKey = std::pair<Priority, std::uint64_t>;

// The open subscription (empty once closed) and the turn to use it, one thread at a time.
// Threads wait for the turn in line, calls before slices and each in order of arrival. A
// receive holds the turn for one slice, with the interpreter lock released, and then goes to the
// back of the line. A thread that steps out of line between slices (to run signal handlers or a
// predicate) keeps its ticket, but is passed while it is away.
struct SubscriptionState {
    ProviderHandle provider;
    std::mutex mutex;  // guards the turn and the line; never held across a wait for events
    std::condition_variable turn_free;
    bool busy = false;  // a thread has the turn
    std::uint64_t next_ticket = 0;
    std::set<LineKey> waiting;  // the threads waiting for the turn now; the first goes next
    std::optional<Subscription> subscription;
};
using SubscriptionBox = std::unique_ptr<SubscriptionState>;

SubscriptionState& state_of(PyObject* self) { return *py::unbox<SubscriptionBox>(self); }

// The turn while it is held; given back on destruction. A call that uses the subscription with
// the interpreter lock held keeps it in its own frame, so that a thread ended at interpreter exit
// on its way back from the wait still gives the turn back as it unwinds.
class Turn {
public:
    explicit Turn(SubscriptionState& s) : s_(s) {}
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    ~Turn() {
        if (!held_) return;
        {
            std::lock_guard lock(s_.mutex);
            s_.busy = false;
        }
        s_.turn_free.notify_all();
    }

private:
    friend class Place;
    SubscriptionState& s_;
    bool held_ = false;
};

// A thread's place in line for the turn.
class Place {
public:
    Place(SubscriptionState& s, Priority priority) : s_(s), priority_(priority) {
        std::lock_guard lock(s_.mutex);
        ticket_ = s_.next_ticket++;
    }

    // After a slice: the next one waits at the back of the line.
    void to_back() {
        priority_ = Priority::Slice;
        std::lock_guard lock(s_.mutex);
        ticket_ = s_.next_ticket++;
    }

    // Takes the turn if it is free and nobody waiting is ahead; never waits.
    bool try_take(Turn& turn) {
        std::lock_guard lock(s_.mutex);
        if (s_.busy || (!s_.waiting.empty() && *s_.waiting.begin() < key())) return false;
        take(turn);
        return true;
    }

    // Waits in line, for at most `patience` when one is given; true once `turn` holds the turn.
    // Leaves the line on every way out.
    bool wait(Turn& turn, std::optional<Duration> patience) {
        std::unique_lock lock(s_.mutex);
        const LineKey me = key();
        s_.waiting.insert(me);
        const auto first_and_free = [&] { return !s_.busy && *s_.waiting.begin() == me; };
        bool first = true;
        if (patience)
            first = s_.turn_free.wait_for(lock, *patience, first_and_free);
        else
            s_.turn_free.wait(lock, first_and_free);
        s_.waiting.erase(me);
        if (first) take(turn);
        return first;
    }

private:
    LineKey key() const { return {priority_, ticket_}; }
    void take(Turn& turn) {
        s_.busy = true;
        turn.held_ = true;
    }

    SubscriptionState& s_;
    Priority priority_;
    std::uint64_t ticket_ = 0;
};

// The turn for a call that uses the subscription with the interpreter lock held (try_recv,
// close, repr): at once when it is free and nobody waits ahead, else waited for with the lock
// released, so that other threads and signal handlers keep running.
void take_turn_holding_interpreter(SubscriptionState& s, Turn& turn) {
    Place place(s, Priority::Call);
    if (place.try_take(turn)) return;
    py::detach([&] { place.wait(turn, std::nullopt); });
}

py::Ref closed() {
    return py::raise(exceptions().PlatformError, "Subscription is closed");
}

// `timeout` of recv and wait_for: a number of seconds, 5.0 when left out, None refused.
std::optional<Duration> receive_timeout(const py::Args& a, std::size_t i) {
    if (!a[i]) return timeout_from(kDefaultReceiveSeconds);
    auto seconds = seconds_argument(a, i);
    if (!seconds) return std::nullopt;
    return timeout_from(*seconds);
}

// The time of a blocking receive, taken a slice at a time: at most `limit` from its start (no
// limit for iteration).
struct Slices {
    Duration slice;
    Duration limit = Duration::max();
    Clock::time_point start = Clock::now();

    Duration elapsed() const {
        return std::chrono::duration_cast<Duration>(Clock::now() - start);
    }
    bool over() const { return elapsed() >= limit; }
    // The next slice: a whole one, or what is left of the limit.
    Duration next() const {
        const Duration e = elapsed();
        return e >= limit ? Duration::zero() : std::min(limit - e, slice);
    }
};

// What one turn at the subscription gave.
struct SliceResult {
    enum class Kind { NoTurn, Closed, Received };
    Kind kind = Kind::NoTurn;  // NoTurn: the wait for the turn ran out first
    RecvStatus status;         // for `Received`
};

// One slice of a blocking receive, with the interpreter lock released: waits in line for at most
// a slice (the caller then runs signal handlers and comes back), then receives for the next
// slice, measured once the turn is held, and goes to the back of the line.
SliceResult receive_slice(SubscriptionState& s, Place& place, const Slices& slices) {
    return py::detach([&]() -> SliceResult {
        Turn turn(s);
        if (!place.wait(turn, slices.slice)) return {};
        place.to_back();
        if (!s.subscription) return {SliceResult::Kind::Closed, {}};
        return {SliceResult::Kind::Received, s.subscription->recv_status(slices.next())};
    });
}

py::Ref sub_recv(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"recv", {"timeout"}, 0}, call)) return {};
    auto timeout = receive_timeout(a, 0);
    if (!timeout) return {};
    SubscriptionState& s = state_of(self);
    Place place(s, Priority::Call);
    const Slices slices{kIterationSlice, *timeout};
    for (;;) {
        SliceResult slice = receive_slice(s, place, slices);
        if (slice.kind == SliceResult::Kind::Closed) return closed();
        if (slice.kind == SliceResult::Kind::Received) {
            if (slice.status.kind == RecvStatus::Kind::Event)
                return make_py_event(std::move(*slice.status.event), s.provider);
            if (slice.status.kind == RecvStatus::Kind::Disconnected)
                return raise(Subscription::timeout_error(*timeout));
        }
        if (slices.over()) return raise(Subscription::timeout_error(*timeout));
        if (PyErr_CheckSignals() < 0) return {};
    }
}

py::Ref sub_try_recv(PyObject* self) {
    SubscriptionState& s = state_of(self);
    std::optional<Event> event;
    {
        Turn turn(s);
        take_turn_holding_interpreter(s, turn);
        if (!s.subscription) return closed();
        event = s.subscription->try_recv();
    }
    if (!event) return py::none();
    return make_py_event(std::move(*event), s.provider);
}

py::Ref sub_wait_for(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"wait_for", {"predicate", "timeout"}, 1}, call)) return {};
    PyObject* const predicate = a[0];  // the caller's reference lasts the whole call
    auto timeout = receive_timeout(a, 1);
    if (!timeout) return {};
    SubscriptionState& s = state_of(self);
    Place place(s, Priority::Call);
    const Slices slices{kWaitForSlice, *timeout};
    std::uint64_t rejected = 0;
    for (;;) {
        const Duration elapsed = slices.elapsed();
        if (elapsed >= *timeout) {
            Error error = Error::diagnose(
                Error::Timeout{elapsed, std::nullopt},
                Diagnosis{}
                    .with_condition("event matching predicate")
                    .with_last_observed(
                        fmt::format("{} event(s) received, none matched", rejected)));
            return raise(std::move(error));
        }
        SliceResult slice = receive_slice(s, place, slices);
        if (slice.kind == SliceResult::Kind::Closed) return closed();
        if (slice.kind == SliceResult::Kind::NoTurn ||
            slice.status.kind == RecvStatus::Kind::Timeout) {
            if (PyErr_CheckSignals() < 0) return {};
            continue;
        }
        if (slice.status.kind == RecvStatus::Kind::Disconnected)
            return py::raise(exceptions().PlatformError,
                             "Subscription event source disconnected before predicate "
                             "matched");
        Event& event = *slice.status.event;
        // One call of the predicate. What it returned and the event it saw are dropped in the
        // region that lets the thread's ending through: dropping one may run Python code that
        // releases the interpreter lock, and at interpreter exit taking it back ends the thread.
        std::optional<bool> accepted;
        std::string wrong_type;
        bool called = false;
        {
            py::Ref seen;
            py::Ref result;
            try {
                seen = make_py_event(event, s.provider);
                if (seen)
                    result = py::Ref::steal(
                        PyObject_CallFunctionObjArgs(predicate, seen.get(), nullptr));
                if (result) {
                    called = true;
                    accepted = py::strict_bool(result.get());
                    if (!accepted) wrong_type = py::type_name(result.get());
                }
                py::drop({&result, &seen});
            } catch (...) {
                py::rethrow_if_ending_thread({&seen, &result});
                throw;
            }
        }
        if (!called) return {};
        if (!accepted)
            return py::raise(PyExc_TypeError,
                             fmt::format("wait_for() predicate must return bool, not {}",
                                         wrong_type));
        if (*accepted) return make_py_event(std::move(event), s.provider);
        ++rejected;
    }
}

// Dropping the core subscription stops its event source (joining the platform's observer).
py::Ref sub_close(PyObject* self) {
    SubscriptionState& s = state_of(self);
    Turn turn(s);
    take_turn_holding_interpreter(s, turn);
    s.subscription.reset();
    return py::none();
}

py::Ref sub_enter(PyObject* self) { return py::Ref::borrow(self); }

py::Ref sub_exit(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"__exit__", {"_exc_type", "_exc_val", "_exc_tb"}, 0}, call)) return {};
    if (!sub_close(self)) return {};
    return py::boolean(false);
}

py::Ref sub_iter(PyObject* self) { return py::Ref::borrow(self); }

// Waits in short slices so that Ctrl-C gets through; a null result without an exception ends
// the iteration once the source has disconnected.
py::Ref sub_next(PyObject* self) {
    SubscriptionState& s = state_of(self);
    Place place(s, Priority::Slice);
    const Slices slices{kIterationSlice};
    for (;;) {
        SliceResult slice = receive_slice(s, place, slices);
        if (slice.kind == SliceResult::Kind::Closed) return closed();
        if (slice.kind == SliceResult::Kind::Received) {
            switch (slice.status.kind) {
                case RecvStatus::Kind::Event:
                    return make_py_event(std::move(*slice.status.event), s.provider);
                case RecvStatus::Kind::Disconnected:
                    return {};
                case RecvStatus::Kind::Timeout:
                    break;
            }
        }
        if (PyErr_CheckSignals() < 0) return {};
    }
}

py::Ref sub_repr(PyObject* self) {
    SubscriptionState& s = state_of(self);
    bool open = false;
    {
        Turn turn(s);
        take_turn_holding_interpreter(s, turn);
        open = s.subscription.has_value();
    }
    return py::str(open ? "Subscription(active)" : "Subscription(closed)");
}

PyMethodDef subscription_methods[] = {
    py::method<sub_recv>("recv", "recv($self, timeout=5.0)\n--\n\n"),
    py::method_noargs<sub_try_recv>("try_recv", "try_recv($self)\n--\n\n"),
    py::method<sub_wait_for>("wait_for", "wait_for($self, predicate, timeout=5.0)\n--\n\n"),
    py::method_noargs<sub_close>("close", "close($self)\n--\n\n"),
    py::method_noargs<sub_enter>("__enter__", "__enter__($self)\n--\n\n"),
    py::method<sub_exit>("__exit__",
                         "__exit__($self, _exc_type=None, _exc_val=None, _exc_tb=None)\n--\n\n"),
    {},
};

PyType_Slot subscription_slots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A stream of accessibility events from one application or element.\n\n"
                    "Receive with ``recv()``, ``try_recv()`` or ``wait_for()``, or iterate; "
                    "iteration ends when the event source goes away. ``close()`` (or leaving a "
                    "``with`` block) stops the event source.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<SubscriptionBox>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<sub_repr>)},
    {Py_tp_str, reinterpret_cast<void*>(&py::unaryfunc<sub_repr>)},
    {Py_tp_iter, reinterpret_cast<void*>(&py::unaryfunc<sub_iter>)},
    {Py_tp_iternext, reinterpret_cast<void*>(&py::unaryfunc<sub_next>)},
    {Py_tp_methods, subscription_methods},
    {0, nullptr},
};

PyType_Spec subscription_type_spec = {"vemor.Subscription", py::basic_size<SubscriptionBox>(),
                                      0, py::kClassFlags, subscription_slots};

}  // namespace

PyType_Spec& event_spec() { return event_type_spec_value; }
PyType_Spec& event_type_spec() { return event_type_type_spec; }
PyType_Spec& subscription_spec() { return subscription_type_spec; }

bool fill_event_type(PyObject* type) {
    // The class is immutable, so setting an attribute on it is refused. The constants go into
    // its own dictionary instead (the type's `__dict__` slot, reached without the read-only
    // proxy), while it is being created and before anything has looked an attribute up on it;
    // none of them names a special method. The attribute cache is then told of the change.
    py::Ref dict = py::Ref::steal(PyObject_GenericGetDict(type, nullptr));
    if (!dict) return false;
    for (const auto& entry : event_kind::kNames) {
        std::string attribute(entry.name);
        for (char& c : attribute) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        py::Ref value = py::str(entry.name);
        if (!value || PyDict_SetItemString(dict.get(), attribute.c_str(), value.get()) < 0)
            return false;
    }
    PyType_Modified(reinterpret_cast<PyTypeObject*>(type));
    return true;
}

py::Ref make_py_subscription(Subscription subscription, ProviderHandle provider) {
    auto state = std::make_unique<SubscriptionState>();
    state->provider = std::move(provider);
    state->subscription.emplace(std::move(subscription));
    return py::make_boxed(classes().Subscription, std::move(state));
}

py::Ref subscribe_to(const ElementData& data, const ProviderHandle& provider) {
    ElementData copy = data;
    ProviderHandle handle = provider;
    auto subscription = py::detach([&] { return handle->subscribe(copy); });
    if (!subscription) return raise(std::move(subscription).error());
    return make_py_subscription(std::move(*subscription), std::move(handle));
}

}  // namespace vemor::python
