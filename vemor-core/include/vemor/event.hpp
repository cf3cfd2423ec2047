// Accessibility events and the receiving side of an event subscription.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <variant>

#include "vemor/element.hpp"
#include "vemor/enum_names.hpp"
#include "vemor/error.hpp"

namespace vemor {

// The states a state-change event can report. `StateSet::active` has no flag.
enum class StateFlag : std::uint8_t {
    Enabled,
    Visible,
    Focused,
    Checked,
    Selected,
    Expanded,
    Editable,
    Focusable,
    Modal,
    Required,
    Busy,
    Minimized,
    Maximized,
    Fullscreen,
};

namespace state_flag {
inline constexpr std::array<EnumName<StateFlag>, 14> kNames{{
    {StateFlag::Enabled, "enabled"},     {StateFlag::Visible, "visible"},
    {StateFlag::Focused, "focused"},     {StateFlag::Checked, "checked"},
    {StateFlag::Selected, "selected"},   {StateFlag::Expanded, "expanded"},
    {StateFlag::Editable, "editable"},   {StateFlag::Focusable, "focusable"},
    {StateFlag::Modal, "modal"},         {StateFlag::Required, "required"},
    {StateFlag::Busy, "busy"},           {StateFlag::Minimized, "minimized"},
    {StateFlag::Maximized, "maximized"}, {StateFlag::Fullscreen, "fullscreen"},
}};
constexpr std::string_view to_snake_case(StateFlag f) { return name_of(kNames, f); }
constexpr std::optional<StateFlag> from_snake_case(std::string_view text) {
    return value_of(kNames, text);
}
// The debug form: the name capitalised ("Enabled").
std::string debug_name(StateFlag f);
}  // namespace state_flag

// What happened. Only `StateChanged` carries data: the flag and its new value. The 14 kinds are
// told apart by `EventKind::Type`; a C++ enumeration cannot carry data, so the kind is a small
// struct around it.
struct EventKind {
    enum class Type : std::uint8_t {
        FocusChanged,
        ValueChanged,
        NameChanged,
        StateChanged,
        StructureChanged,
        WindowOpened,
        WindowClosed,
        WindowActivated,
        WindowDeactivated,
        SelectionChanged,
        MenuOpened,
        MenuClosed,
        TextChanged,
        Announcement,
    };
    Type type = Type::FocusChanged;
    // Meaningful for `StateChanged` only.
    StateFlag flag = StateFlag::Enabled;
    bool value = false;

    static EventKind state_changed(StateFlag f, bool v) { return {Type::StateChanged, f, v}; }
    bool operator==(const EventKind&) const = default;
};

namespace event_kind {
inline constexpr std::array<EnumName<EventKind::Type>, 14> kNames{{
    {EventKind::Type::FocusChanged, "focus_changed"},
    {EventKind::Type::ValueChanged, "value_changed"},
    {EventKind::Type::NameChanged, "name_changed"},
    {EventKind::Type::StateChanged, "state_changed"},
    {EventKind::Type::StructureChanged, "structure_changed"},
    {EventKind::Type::WindowOpened, "window_opened"},
    {EventKind::Type::WindowClosed, "window_closed"},
    {EventKind::Type::WindowActivated, "window_activated"},
    {EventKind::Type::WindowDeactivated, "window_deactivated"},
    {EventKind::Type::SelectionChanged, "selection_changed"},
    {EventKind::Type::MenuOpened, "menu_opened"},
    {EventKind::Type::MenuClosed, "menu_closed"},
    {EventKind::Type::TextChanged, "text_changed"},
    {EventKind::Type::Announcement, "announcement"},
}};
constexpr std::string_view to_snake_case(EventKind::Type t) { return name_of(kNames, t); }
constexpr std::optional<EventKind::Type> from_snake_case(std::string_view text) {
    return value_of(kNames, text);
}
}  // namespace event_kind

struct Event {
    std::optional<ElementData> target;
    std::string app_name;
    std::chrono::steady_clock::time_point timestamp;
    std::uint32_t app_pid = 0;
    EventKind kind;
};

// An unbounded multi-producer channel: a mutex, a condition variable and a queue. It
// disconnects when the last sender goes away; queued items are still received after that.
template <class T>
class Channel {
public:
    class Sender;
    class Receiver;
    static std::pair<Sender, Receiver> make();

private:
    struct State {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<T> queue;
        std::size_t senders = 0;
        bool receiver_alive = true;
    };
};

template <class T>
class Channel<T>::Sender {
public:
    Sender() = default;
    Sender(const Sender& other) : state_(other.state_) { attach(); }
    Sender(Sender&& other) noexcept = default;
    Sender& operator=(Sender other) noexcept {
        std::swap(state_, other.state_);
        return *this;
    }
    ~Sender() { detach(); }

    // False when the receiver is gone (the item is dropped).
    bool send(T item) const {
        if (!state_) return false;
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->receiver_alive) return false;
            state_->queue.push_back(std::move(item));
        }
        state_->ready.notify_one();
        return true;
    }
    bool receiver_alive() const {
        if (!state_) return false;
        std::lock_guard lock(state_->mutex);
        return state_->receiver_alive;
    }

private:
    friend class Channel<T>;
    explicit Sender(std::shared_ptr<State> s) : state_(std::move(s)) { attach(); }
    void attach() {
        if (!state_) return;
        std::lock_guard lock(state_->mutex);
        ++state_->senders;
    }
    void detach() {
        if (!state_) return;
        {
            std::lock_guard lock(state_->mutex);
            --state_->senders;
        }
        state_->ready.notify_all();
        state_.reset();
    }
    std::shared_ptr<State> state_;
};

template <class T>
class Channel<T>::Receiver {
public:
    enum class Status { Item, Timeout, Disconnected };

    Receiver() = default;
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver&& other) noexcept {
        release();
        state_ = std::move(other.state_);
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { release(); }

    // Waits up to `timeout` for the next item. Queued items come out before a disconnection.
    Status recv_timeout(Duration timeout, std::optional<T>& out) {
        out.reset();
        if (!state_) return Status::Disconnected;
        // A negative wait is no wait (and must not push the deadline below the clock's range).
        if (timeout < Duration::zero()) timeout = Duration::zero();
        std::unique_lock lock(state_->mutex);
        auto ready = [&] { return !state_->queue.empty() || state_->senders == 0; };
        if (!ready()) {
            // A wait beyond the steady clock's range is a wait without end.
            auto deadline = std::chrono::steady_clock::now();
            auto room = std::chrono::steady_clock::time_point::max() - deadline;
            if (timeout >= room)
                state_->ready.wait(lock, ready);
            else
                state_->ready.wait_until(
                    lock,
                    deadline + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   timeout),
                    ready);
        }
        if (!state_->queue.empty()) {
            out.emplace(std::move(state_->queue.front()));
            state_->queue.pop_front();
            return Status::Item;
        }
        return state_->senders == 0 ? Status::Disconnected : Status::Timeout;
    }

    std::optional<T> try_recv() {
        if (!state_) return std::nullopt;
        std::lock_guard lock(state_->mutex);
        if (state_->queue.empty()) return std::nullopt;
        std::optional<T> item(std::move(state_->queue.front()));
        state_->queue.pop_front();
        return item;
    }

    void release() {
        if (!state_) return;
        std::deque<T> dropped;
        {
            std::lock_guard lock(state_->mutex);
            state_->receiver_alive = false;
            dropped.swap(state_->queue);
        }
        state_.reset();
    }

private:
    friend class Channel<T>;
    explicit Receiver(std::shared_ptr<State> s) : state_(std::move(s)) {}
    std::shared_ptr<State> state_;
};

template <class T>
std::pair<typename Channel<T>::Sender, typename Channel<T>::Receiver> Channel<T>::make() {
    auto state = std::make_shared<State>();
    return {Sender(state), Receiver(state)};
}

using EventSender = Channel<Event>::Sender;

// The outcome of one timed wait.
struct RecvStatus {
    enum class Kind { Event, Timeout, Disconnected };
    Kind kind = Kind::Timeout;
    std::optional<Event> event;  // set for `Kind::Event`
};

// The receiving end of an event channel.
class EventReceiver {
public:
    EventReceiver() = default;
    explicit EventReceiver(Channel<Event>::Receiver rx) : rx_(std::move(rx)) {}

    RecvStatus recv_timeout_status(Duration timeout);
    std::optional<Event> try_recv();
    void release() { rx_.release(); }

private:
    Channel<Event>::Receiver rx_;
};

// Holds the stop action of an event source and runs it, at most once, when dropped. The action
// never runs on the producer's own thread (it would wait for itself): dropped there, it is handed
// to a process-wide stopper thread, which is joined at exit after it has run every action left.
class CancelHandle {
public:
    CancelHandle() = default;
    explicit CancelHandle(std::function<void()> stop, std::thread::id producer = {})
        : stop_(std::move(stop)), producer_(producer) {}
    CancelHandle(CancelHandle&& other) noexcept
        : stop_(std::exchange(other.stop_, nullptr)), producer_(other.producer_) {}
    CancelHandle& operator=(CancelHandle&& other) noexcept;
    CancelHandle(const CancelHandle&) = delete;
    CancelHandle& operator=(const CancelHandle&) = delete;
    ~CancelHandle() { cancel(); }

    // Runs the stop action now, if it has not run yet. Never throws: a failing action is
    // dropped.
    void cancel() noexcept;
    // The thread the producer runs on; set by a producer that starts its thread after the
    // handle is built.
    void set_producer(std::thread::id producer) { producer_ = producer; }

private:
    std::function<void()> stop_;
    std::thread::id producer_;
};

// An event receiver and the cancel handle of its source. Dropping it releases the receiver,
// then stops the source.
class Subscription {
public:
    Subscription(EventReceiver receiver, CancelHandle cancel)
        : receiver_(std::move(receiver)), cancel_(std::move(cancel)) {}
    Subscription(Subscription&&) noexcept = default;
    Subscription& operator=(Subscription&&) noexcept;
    ~Subscription();

    RecvStatus recv_status(Duration timeout) { return receiver_.recv_timeout_status(timeout); }
    // The next event, or `Timeout` (elapsed = `timeout`, condition "any accessibility event")
    // for a time-out and a disconnected source alike.
    Result<Event> recv(Duration timeout);
    // The error of a `recv` that received nothing in `timeout`.
    static Error timeout_error(Duration timeout);
    std::optional<Event> try_recv() { return receiver_.try_recv(); }
    // Iteration's step (`SubscriptionIter::next`; in C++ the iterator below and this call):
    // waits in 100 ms slices; none once the source has disconnected and the queue is empty.
    std::optional<Event> next();

    // Range-for support: `for (Event& e : subscription)` ends when the source disconnects.
    class Iterator {
    public:
        using value_type = Event;
        using difference_type = std::ptrdiff_t;
        Iterator() = default;
        explicit Iterator(Subscription* s) : sub_(s) { advance(); }
        Event& operator*() { return *current_; }
        Iterator& operator++() {
            advance();
            return *this;
        }
        void operator++(int) { advance(); }
        bool operator==(std::default_sentinel_t) const { return !current_; }

    private:
        void advance() { current_ = sub_ ? sub_->next() : std::nullopt; }
        Subscription* sub_ = nullptr;
        std::optional<Event> current_;
    };
    Iterator begin() { return Iterator(this); }
    std::default_sentinel_t end() { return {}; }

private:
    EventReceiver receiver_;
    CancelHandle cancel_;
};

inline constexpr Duration kSubscriptionPollSlice = std::chrono::milliseconds(100);

}  // namespace vemor
