#include "vemor/event.hpp"

#include <cctype>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vemor {

namespace state_flag {
std::string debug_name(StateFlag f) {
    std::string name(to_snake_case(f));
    if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}
}  // namespace state_flag

RecvStatus EventReceiver::recv_timeout_status(Duration timeout) {
    std::optional<Event> event;
    switch (rx_.recv_timeout(timeout, event)) {
        case Channel<Event>::Receiver::Status::Item:
            return {RecvStatus::Kind::Event, std::move(event)};
        case Channel<Event>::Receiver::Status::Timeout: return {RecvStatus::Kind::Timeout, {}};
        case Channel<Event>::Receiver::Status::Disconnected:
            return {RecvStatus::Kind::Disconnected, {}};
    }
    return {RecvStatus::Kind::Disconnected, {}};
}

std::optional<Event> EventReceiver::try_recv() { return rx_.try_recv(); }

namespace {

// Runs a stop action; a failing one must not end the process from the destructor that runs it.
void run_stop(std::function<void()>& stop) noexcept {
    try {
        stop();
    } catch (...) {
    }
    try {
        stop = nullptr;
    } catch (...) {
    }
}

// Runs the stop actions that producers dropped on their own threads. One thread, started on first
// use. Never destroyed: producers still running while the process exits may post to it, and its
// thread ends with the process.
class Stopper {
public:
    static Stopper& instance() {
        static Stopper& stopper = *new Stopper;
        return stopper;
    }

    void post(std::function<void()>& stop) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(stop));
            if (!thread_.joinable()) {
                try {
                    thread_ = std::jthread([this] { run(); });
                } catch (...) {
                    // No thread now: the action waits for the next post.
                }
            }
        }
        ready_.notify_one();
    }

private:
    Stopper() = default;

    void run() noexcept {
        std::unique_lock lock(mutex_);
        for (;;) {
            ready_.wait(lock, [&] { return !queue_.empty(); });
            auto stop = std::move(queue_.front());
            queue_.pop_front();
            // Never run a stop action under the lock: it may drop further handles.
            lock.unlock();
            run_stop(stop);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    std::jthread thread_;
};

}  // namespace

CancelHandle& CancelHandle::operator=(CancelHandle&& other) noexcept {
    if (this != &other) {
        cancel();
        stop_ = std::exchange(other.stop_, nullptr);
        producer_ = other.producer_;
    }
    return *this;
}

// Runs inside destructors: nothing may escape. A stop action that fails, or a stopper that cannot
// start its thread, never ends the process.
void CancelHandle::cancel() noexcept {
    auto stop = std::exchange(stop_, nullptr);
    if (!stop) return;
    if (producer_ != std::thread::id{} && producer_ == std::this_thread::get_id()) {
        // Stopping a source usually joins its thread; from that very thread it would wait for
        // itself, so the stop runs on the stopper thread instead.
        try {
            Stopper::instance().post(stop);
            return;
        } catch (...) {
        }
    }
    run_stop(stop);
}

Subscription& Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        receiver_.release();
        cancel_.cancel();
        receiver_ = std::move(other.receiver_);
        cancel_ = std::move(other.cancel_);
    }
    return *this;
}

Subscription::~Subscription() {
    // Release the receiver first, so the producer stops queueing before its source is stopped.
    receiver_.release();
    cancel_.cancel();
}

Result<Event> Subscription::recv(Duration timeout) {
    auto status = recv_status(timeout);
    if (status.kind == RecvStatus::Kind::Event) return std::move(*status.event);
    return fail(timeout_error(timeout));
}

Error Subscription::timeout_error(Duration timeout) {
    return Error(Error::Timeout{timeout, Diagnosis{}.with_condition("any accessibility event")});
}

std::optional<Event> Subscription::next() {
    for (;;) {
        auto status = recv_status(kSubscriptionPollSlice);
        switch (status.kind) {
            case RecvStatus::Kind::Event: return std::move(status.event);
            case RecvStatus::Kind::Disconnected: return std::nullopt;
            case RecvStatus::Kind::Timeout: continue;
        }
    }
}

}  // namespace vemor
