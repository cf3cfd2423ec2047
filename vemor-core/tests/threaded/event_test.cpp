#include "vemor/event.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace vemor {
namespace {

Event make_event(std::uint32_t pid, EventKind::Type type = EventKind::Type::FocusChanged) {
    return Event{std::nullopt, "App", std::chrono::steady_clock::now(), pid, EventKind{type}};
}

TEST(Events, RecvTimeoutErrorNamesTheRequestedWait) {
    auto [tx, rx] = Channel<Event>::make();
    Subscription sub(EventReceiver(std::move(rx)), CancelHandle());
    auto r = sub.recv(0s);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "Timeout after 0.0ns; waiting for: any accessibility event");
    EXPECT_EQ(sub.try_recv().has_value(), false);
    EXPECT_EQ(sub.recv_status(1ms).kind, RecvStatus::Kind::Timeout);
}

TEST(Events, QueuedEventsComeOutBeforeDisconnection) {
    auto [tx, rx] = Channel<Event>::make();
    Subscription sub(EventReceiver(std::move(rx)), CancelHandle());
    {
        auto producer = std::move(tx);
        std::jthread t([s = std::move(producer)] {
            for (std::uint32_t i = 1; i <= 3; ++i) s.send(make_event(i));
        });
    }
    std::vector<std::uint32_t> pids;
    for (Event& e : sub) pids.push_back(e.app_pid);
    EXPECT_EQ(pids, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(sub.recv_status(1s).kind, RecvStatus::Kind::Disconnected);
    auto r = sub.recv(2s);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "Timeout after 2.0s; waiting for: any accessibility event");
}

TEST(Events, ManyProducers) {
    auto [tx, rx] = Channel<Event>::make();
    Subscription sub(EventReceiver(std::move(rx)), CancelHandle());
    {
        std::vector<std::jthread> producers;
        for (int p = 0; p < 4; ++p)
            producers.emplace_back([s = tx] {
                for (int i = 0; i < 250; ++i) s.send(make_event(1));
            });
        tx = Channel<Event>::Sender();
    }
    int count = 0;
    while (sub.recv_status(1s).kind == RecvStatus::Kind::Event) ++count;
    EXPECT_EQ(count, 1000);
}

TEST(Events, StopActionRunsOnceAfterTheReceiverIsReleased) {
    auto [tx, rx] = Channel<Event>::make();
    std::atomic<int> stops = 0;
    std::atomic<bool> receiver_alive_at_stop = true;
    {
        Subscription sub(EventReceiver(std::move(rx)),
                         CancelHandle([&, s = tx] {
                             receiver_alive_at_stop = s.receiver_alive();
                             ++stops;
                         }));
        Subscription moved = std::move(sub);
    }
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(receiver_alive_at_stop);
    EXPECT_FALSE(tx.send(make_event(1)));
}

TEST(Events, StopActionNeverRunsOnTheProducerThread) {
    std::atomic<bool> ran_on_producer = true;
    std::atomic<bool> done = false;
    std::thread::id producer_id;
    {
        std::jthread producer([&] {
            producer_id = std::this_thread::get_id();
            CancelHandle handle([&] {
                ran_on_producer = std::this_thread::get_id() == producer_id;
                done = true;
            });
            handle.set_producer(std::this_thread::get_id());
        });
    }
    for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(done);
    EXPECT_FALSE(ran_on_producer);
}

TEST(Events, DroppingWithoutStopActionOnlyReleasesTheReceiver) {
    auto [tx, rx] = Channel<Event>::make();
    ASSERT_TRUE(tx.send(make_event(1)));
    {
        Subscription sub(EventReceiver(std::move(rx)), CancelHandle());
        EXPECT_TRUE(tx.receiver_alive());
    }
    EXPECT_FALSE(tx.receiver_alive());
    EXPECT_FALSE(tx.send(make_event(2)));
}

// A negative wait is one look at the queue; the most negative one must not overflow the deadline.
TEST(Events, NegativeWaitsDoNotWait) {
    auto [tx, rx] = Channel<Event>::make();
    Subscription sub(EventReceiver(std::move(rx)), CancelHandle());
    EXPECT_EQ(sub.recv_status(-1s).kind, RecvStatus::Kind::Timeout);
    EXPECT_EQ(sub.recv_status(Duration::min()).kind, RecvStatus::Kind::Timeout);
    ASSERT_TRUE(tx.send(make_event(7)));
    auto status = sub.recv_status(Duration::min());
    ASSERT_EQ(status.kind, RecvStatus::Kind::Event);
    EXPECT_EQ(status.event->app_pid, 7u);
    tx = Channel<Event>::Sender();
    EXPECT_EQ(sub.recv_status(-1s).kind, RecvStatus::Kind::Disconnected);
}

// Several producers drop their own subscriptions at once: every stop action runs exactly once,
// none on its producer's thread.
TEST(Events, StopActionsHandedOverByProducersAllRun) {
    constexpr int kProducers = 8;
    std::atomic<int> stops = 0;
    std::atomic<int> on_producer = 0;
    {
        std::vector<std::jthread> producers;
        for (int i = 0; i < kProducers; ++i)
            producers.emplace_back([&] {
                const auto self = std::this_thread::get_id();
                auto [tx, rx] = Channel<Event>::make();
                Subscription sub(EventReceiver(std::move(rx)), CancelHandle([&, self] {
                                     if (std::this_thread::get_id() == self) ++on_producer;
                                     ++stops;
                                 }, self));
            });
    }
    for (int i = 0; i < 500 && stops < kProducers; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(stops, kProducers);
    EXPECT_EQ(on_producer, 0);
}

// A stop action that throws, dropped by a destructor on any thread, ends nothing but itself; the
// stopper keeps serving the actions handed over after it.
TEST(Events, FailingStopActionsNeverEndTheProcess) {
    std::atomic<int> ran = 0;
    auto failing = [&] {
        ++ran;
        throw std::runtime_error("stop failed");
    };
    { CancelHandle handle(failing); }
    EXPECT_EQ(ran, 1);
    std::atomic<bool> after = false;
    {
        std::jthread producer([&] {
            const auto self = std::this_thread::get_id();
            // Dropped in reverse order: the failing action is handed over first.
            CancelHandle second([&] { after = true; }, self);
            CancelHandle first(failing, self);
        });
    }
    for (int i = 0; i < 500 && !(after && ran == 2); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ran, 2);
    EXPECT_TRUE(after);
}

TEST(Events, Names) {
    EXPECT_EQ(event_kind::to_snake_case(EventKind::Type::WindowDeactivated),
              "window_deactivated");
    EXPECT_EQ(event_kind::from_snake_case("announcement"), EventKind::Type::Announcement);
    EXPECT_EQ(event_kind::from_snake_case("Announcement"), std::nullopt);
    EXPECT_EQ(state_flag::from_snake_case("fullscreen"), StateFlag::Fullscreen);
    EXPECT_EQ(state_flag::debug_name(StateFlag::Focusable), "Focusable");
    EXPECT_EQ(static_cast<int>(StateFlag::Fullscreen), 13);
}

}  // namespace
}  // namespace vemor
