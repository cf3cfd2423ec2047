#include "vemor/mcp/events.hpp"

#include <pthread.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <limits>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "vemor/config.hpp"
#include "vemor/mcp/results.hpp"

namespace vemor::mcp::events {
namespace {

// "sub_{N}" (one leading "+" allowed) with N within 64 bits, else none.
std::optional<std::uint64_t> id_number(std::string_view id) {
    constexpr std::string_view prefix = "sub_";
    if (!id.starts_with(prefix)) return std::nullopt;
    std::string_view digits = id.substr(prefix.size());
    if (digits.starts_with('+')) digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t n = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return n;
}

Json pid_json(std::optional<std::uint32_t> pid) { return pid ? Json(*pid) : Json(nullptr); }

void mark_gone(Shared& shared) noexcept {
    try {
        {
            std::lock_guard lock(shared.mutex);
            shared.queue.live = false;
        }
        shared.changed.notify_all();
    } catch (...) {
    }
}

}  // namespace

std::uint64_t whole_ms(Duration d) {
    if (d <= Duration::zero()) return 0;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    return static_cast<std::uint64_t>(ms);
}

void spawn_drainer(DrainerState state) noexcept {
    Shared& shared = *state.shared;
    try {
        for (;;) {
            {
                std::lock_guard lock(shared.mutex);
                if (shared.queue.stop) break;
            }
            RecvStatus status = state.subscription.recv_status(kReceiveSlice);
            if (status.kind == RecvStatus::Kind::Timeout) continue;
            if (status.kind == RecvStatus::Kind::Disconnected || !status.event) {
                mark_gone(shared);
                break;
            }
            Event& event = *status.event;
            if (state.kinds) {
                std::string_view name = event_kind::to_snake_case(event.kind.type);
                if (std::find(state.kinds->begin(), state.kinds->end(), name) ==
                    state.kinds->end())
                    continue;
            }
            std::uint64_t at_ms = whole_ms(state.now() - state.start);
            {
                std::lock_guard lock(shared.mutex);
                Shared::Queue& q = shared.queue;
                std::uint64_t sequence = q.next_sequence++;
                if (q.ring.size() >= kRingCapacity) {
                    q.ring.pop_front();
                    ++q.dropped;
                    ++q.dropped_total;
                }
                q.ring.push_back(Buffered{std::move(event), sequence, at_ms});
            }
            shared.changed.notify_all();
        }
    } catch (...) {
        // Nothing may escape a thread body; the subscription simply ends.
        mark_gone(shared);
    }
}

Entry::Entry(std::string id, std::string application, std::optional<std::uint32_t> pid,
             std::shared_ptr<Shared> shared, Clock::time_point start, std::jthread drainer)
    : id_(std::move(id)),
      application_(std::move(application)),
      pid_(pid),
      shared_(std::move(shared)),
      last_poll_(start),
      drainer_(std::move(drainer)) {}

Entry::~Entry() { shut_down(); }

Duration Entry::idle_for(Clock::time_point now) const {
    std::lock_guard lock(last_poll_mutex_);
    return now - last_poll_;
}

void Entry::touch(Clock::time_point now) {
    std::lock_guard lock(last_poll_mutex_);
    last_poll_ = now;
}

void Entry::request_stop() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->queue.live = false;
        shared_->queue.stop = true;
    }
    shared_->changed.notify_all();
}

void Entry::shut_down() {
    request_stop();
    std::jthread drainer;
    {
        std::lock_guard lock(drainer_mutex_);
        drainer = std::move(drainer_);
    }
    if (drainer.joinable()) drainer.join();
}

Registry::Registry(Now now) : now_(now ? std::move(now) : Now([] { return Clock::now(); })) {}

Registry::~Registry() {
    std::vector<std::shared_ptr<Entry>> entries;
    {
        std::lock_guard lock(mutex_);
        entries.swap(entries_);
    }
    // Every drainer is told first, so they all wind down within one receive slice together.
    for (const auto& entry : entries) entry->request_stop();
    for (const auto& entry : entries) entry->shut_down();
}

std::size_t Registry::open_count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void Registry::sweep() {
    std::vector<std::shared_ptr<Entry>> removed;
    {
        std::lock_guard lock(mutex_);
        Clock::time_point now = now_();
        auto idle = [&](const std::shared_ptr<Entry>& e) { return e->idle_for(now) >= kIdleRetention; };
        for (const auto& entry : entries_)
            if (idle(entry)) removed.push_back(entry);
        std::erase_if(entries_, idle);
    }
    for (const auto& entry : removed) entry->request_stop();
    for (const auto& entry : removed) entry->shut_down();
}

std::optional<bool> Registry::live(std::string_view id) const {
    std::shared_ptr<Entry> entry = find(id);
    if (!entry) return std::nullopt;
    std::lock_guard lock(entry->shared()->mutex);
    return entry->shared()->queue.live;
}

std::shared_ptr<Entry> Registry::find(std::string_view id) const {
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_)
        if (entry->id() == id) return entry;
    return nullptr;
}

cli::CliError Registry::miss(std::string_view id) const {
    cli::CliError::Subscription error{.id = std::string(id)};
    std::optional<std::uint64_t> n = id_number(id);
    error.expired = n && *n > 0 && *n < next_id_.load();
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
        if (error.open.size() == kIdsListed) break;
        error.open.push_back(entry->id());
    }
    return error;
}

cli::CliResult<Json> Registry::start(std::string application, std::optional<std::uint32_t> pid,
                                     Subscription subscription,
                                     std::optional<std::vector<std::string>> kinds) {
    sweep();
    {
        std::lock_guard lock(mutex_);
        if (entries_.size() >= kMaxOpen) {
            std::vector<std::string> open;
            for (const auto& entry : entries_) {
                if (open.size() == kIdsListed) break;
                open.push_back(fmt::format("{} ({})", entry->id(), entry->application()));
            }
            return cli::usage_error(fmt::format(
                "at most {} event subscriptions may be open at once; stop one with `events_stop` "
                "before starting another. Open now: {}",
                kMaxOpen, fmt::join(open, ", ")));
        }
    }
    std::string id = fmt::format("sub_{}", next_id_.fetch_add(1));
    auto shared = std::make_shared<Shared>();
    Clock::time_point start = now_();
    std::jthread drainer;
    try {
        drainer = std::jthread(spawn_drainer, DrainerState{.subscription = std::move(subscription),
                                                           .kinds = kinds,
                                                           .start = start,
                                                           .shared = shared,
                                                           .now = now_});
    } catch (const std::system_error& e) {
        return cli::fail_cli(platform_error(
            e.code().value(), fmt::format("could not start the event drainer thread: {}", e.what())));
    } catch (const std::exception& e) {
        return cli::fail_cli(platform_error(
            0, fmt::format("could not start the event drainer thread: {}", e.what())));
    }
    // Named from here, so that the name is in place when `start` returns.
    pthread_setname_np(drainer.native_handle(), kThreadName);
    auto entry = std::make_shared<Entry>(id, application, pid, shared, start, std::move(drainer));
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    Json result = Json::object();
    result["subscription_id"] = id;
    result["application"] = std::move(application);
    result["pid"] = pid_json(pid);
    result["kinds"] = kinds ? Json(*kinds) : Json(nullptr);
    result["buffer_capacity"] = kRingCapacity;
    result["expires_after_ms"] =
        std::chrono::duration_cast<std::chrono::milliseconds>(kIdleRetention).count();
    return result;
}

cli::CliResult<Json> Registry::poll(std::string_view id, std::size_t max, Duration timeout) {
    sweep();
    std::shared_ptr<Entry> entry = find(id);
    if (!entry) return cli::fail_cli(miss(id));
    entry->touch(now_());

    Shared& shared = *entry->shared();
    Json events = Json::array();
    std::size_t remaining = 0;
    std::uint64_t dropped = 0;
    std::uint64_t dropped_total = 0;
    bool live = false;
    {
        std::unique_lock lock(shared.mutex);
        Shared::Queue& q = shared.queue;
        if (q.ring.empty() && timeout > Duration::zero()) {
            auto deadline = config::deadline_after(Clock::now(), timeout);
            while (q.ring.empty() && q.live && Clock::now() < deadline)
                shared.changed.wait_until(lock, deadline);
        }
        std::size_t n = std::min(q.ring.size(), max);
        for (std::size_t i = 0; i < n; ++i) {
            events.push_back(event_json(q.ring.front()));
            q.ring.pop_front();
        }
        remaining = q.ring.size();
        dropped = std::exchange(q.dropped, 0);
        q.delivered_total += n;
        dropped_total = q.dropped_total;
        live = q.live;
    }
    entry->touch(now_());

    Json result = Json::object();
    result["subscription_id"] = entry->id();
    result["application"] = entry->application();
    result["pid"] = pid_json(entry->pid());
    result["count"] = events.size();
    result["events"] = std::move(events);
    result["dropped"] = dropped;
    result["dropped_total"] = dropped_total;
    result["buffered"] = remaining;
    result["truncated"] = remaining > 0;
    result["live"] = live;
    return result;
}

cli::CliResult<Json> Registry::stop(std::string_view id) {
    sweep();
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const auto& e) { return e->id() == id; });
        if (it != entries_.end()) {
            entry = *it;
            entries_.erase(it);
        }
    }
    if (!entry) {
        cli::CliError error = miss(id);
        if (error.as<cli::CliError::Subscription>()->expired) {
            return Json{{"subscription_id", std::string(id)},
                        {"stopped", true},
                        {"already_stopped", true},
                        {"note",
                         "this subscription had already been reclaimed for idling; nothing was "
                         "left to stop"}};
        }
        return cli::fail_cli(std::move(error));
    }
    entry->shut_down();
    Shared& shared = *entry->shared();
    std::lock_guard lock(shared.mutex);
    return Json{{"subscription_id", std::string(id)},
                {"stopped", true},
                {"delivered_total", shared.queue.delivered_total},
                {"dropped_total", shared.queue.dropped_total},
                {"discarded", shared.queue.ring.size()}};
}

Json event_json(const Buffered& b) {
    Json out = Json::object();
    out["sequence"] = b.sequence;
    out["at_ms"] = b.at_ms;
    out["kind"] = std::string(event_kind::to_snake_case(b.event.kind.type));
    if (b.event.kind.type == EventKind::Type::StateChanged) {
        out["state_flag"] = std::string(state_flag::to_snake_case(b.event.kind.flag));
        out["state_value"] = b.event.kind.value;
    }
    out["application"] = b.event.app_name;
    out["pid"] = b.event.app_pid;
    if (b.event.target) out["target"] = tools::element_data_json(*b.event.target);
    return out;
}

}  // namespace vemor::mcp::events
