// Event subscriptions of the MCP server: each core subscription becomes a handle that the agent
// polls between tool calls. A drainer thread per subscription moves events into a bounded ring;
// a handle left unpolled for 300 s is reclaimed at the next event tool call; the registry ends
// every subscription with the session.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "vemor/event.hpp"
#include "vemor/facade/cli_error.hpp"
#include "vemor/json.hpp"
#include "vemor/text.hpp"

namespace vemor::mcp::events {

using Clock = std::chrono::steady_clock;
// The registry's clock; tests substitute one they can move forward.
using Now = std::function<Clock::time_point()>;

inline constexpr std::size_t kMaxOpen = 8;
inline constexpr std::size_t kRingCapacity = 1024;
inline constexpr std::chrono::seconds kIdleRetention{300};
inline constexpr Duration kReceiveSlice = std::chrono::milliseconds(100);
inline constexpr std::size_t kIdsListed = 20;
// "vemor-mcp-events" cut to the 15 characters a Linux thread name holds.
inline constexpr const char* kThreadName = "vemor-mcp-event";

// One buffered event.
struct Buffered {
    Event event;
    // 0, 1, 2, ... in arrival order; filtered-out events take no number.
    std::uint64_t sequence = 0;
    // Whole milliseconds from the subscription's start to its arrival, saturating.
    std::uint64_t at_ms = 0;
};

// The ring shared by an entry and its drainer thread.
struct Shared {
    struct Queue {
        std::deque<Buffered> ring;  // oldest first, at most kRingCapacity
        std::uint64_t dropped = 0;  // evicted since the last poll
        std::uint64_t dropped_total = 0;
        std::uint64_t delivered_total = 0;
        std::uint64_t next_sequence = 0;
        bool live = true;   // until the source disconnects or the entry is shut down
        bool stop = false;  // set by `Entry::shut_down`; the drainer ends when it sees it
    };
    std::mutex mutex;
    // Signalled after each buffered event, at disconnection and at shut-down.
    std::condition_variable changed;
    Queue queue;  // guarded by `mutex`
};

// What the drainer thread owns.
struct DrainerState {
    Subscription subscription;
    std::optional<std::vector<std::string>> kinds;
    Clock::time_point start;
    std::shared_ptr<Shared> shared;
    Now now;
};

// The drainer thread's body: receives in 100 ms slices until stopped or disconnected. Never
// throws; the subscription is dropped (its platform source stopped) when it returns.
void spawn_drainer(DrainerState state) noexcept;

// One open subscription. Dropping the last reference shuts it down.
class Entry {
public:
    Entry(std::string id, std::string application, std::optional<std::uint32_t> pid,
          std::shared_ptr<Shared> shared, Clock::time_point start, std::jthread drainer);
    ~Entry();
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    const std::string& id() const { return id_; }
    const std::string& application() const { return application_; }
    std::optional<std::uint32_t> pid() const { return pid_; }
    const std::shared_ptr<Shared>& shared() const { return shared_; }

    Duration idle_for(Clock::time_point now) const;
    void touch(Clock::time_point now);

    // Asks the drainer to stop and wakes every poll waiting on this entry; does not wait.
    void request_stop();
    // `request_stop`, then joins the drainer thread (within one receive slice). Calling it
    // again returns at once.
    void shut_down();

private:
    std::string id_;
    std::string application_;
    std::optional<std::uint32_t> pid_;
    std::shared_ptr<Shared> shared_;
    mutable std::mutex last_poll_mutex_;
    Clock::time_point last_poll_;
    std::mutex drainer_mutex_;
    std::jthread drainer_;
};

// The open subscriptions of one session.
class Registry {
public:
    explicit Registry(Now now = {});
    // Shuts down every open entry, in list order.
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // {"application", "buffer_capacity", "expires_after_ms", "kinds", "pid", "subscription_id"}.
    cli::CliResult<Json> start(std::string application, std::optional<std::uint32_t> pid,
                               Subscription subscription,
                               std::optional<std::vector<std::string>> kinds);
    // Up to `max` events, oldest first; waits up to `timeout` for the first one when the ring
    // is empty (zero: no wait).
    cli::CliResult<Json> poll(std::string_view id, std::size_t max, Duration timeout);
    cli::CliResult<Json> stop(std::string_view id);
    // Removes and shuts down the entries idle for 300 s or more.
    void sweep();
    // The subscription-handle error for an id that is not open.
    cli::CliError miss(std::string_view id) const;

    std::size_t open_count() const;
    // Whether the open entry's event source is still connected; none when the id is not open.
    std::optional<bool> live(std::string_view id) const;

private:
    std::shared_ptr<Entry> find(std::string_view id) const;

    Now now_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;  // guarded by `mutex_`, oldest first
    std::atomic<std::uint64_t> next_id_{1};
};

// The event object: sequence, at_ms, kind, the state flag and value of a state change,
// application, pid and the target element.
Json event_json(const Buffered& buffered);

// Whole milliseconds of a non-negative duration, saturating; 0 for a negative one.
std::uint64_t whole_ms(Duration d);

}  // namespace vemor::mcp::events
