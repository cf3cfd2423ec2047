// The event registry with its drainer threads, over event sources the test feeds by hand.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "eventually.hpp"
#include "vemor/mcp/events.hpp"

namespace vemor::mcp::events {
namespace {

using namespace std::chrono_literals;

struct Source {
    EventSender sender;
    Subscription subscription;
};

Source source() {
    auto [tx, rx] = Channel<Event>::make();
    return {std::move(tx), Subscription(EventReceiver(std::move(rx)), CancelHandle())};
}

Event event(EventKind kind) {
    Event e;
    e.app_name = "Notes";
    e.app_pid = 170;
    e.kind = kind;
    return e;
}
Event event(EventKind::Type type) { return event(EventKind{type}); }

// A registry clock that the test moves forward.
struct TestClock {
    std::shared_ptr<std::atomic<std::int64_t>> seconds = std::make_shared<std::atomic<std::int64_t>>(0);
    Now now() const {
        return [s = seconds] { return Clock::now() + std::chrono::seconds(s->load()); };
    }
};

Json started(Registry& r, Source& s, std::optional<std::vector<std::string>> kinds = {}) {
    auto result = r.start("Notes", 170, std::move(s.subscription), std::move(kinds));
    EXPECT_TRUE(result) << (result ? "" : result.error().message());
    return result ? *result : Json();
}

void wait_disconnected(const Registry& r, std::string_view id) {
    EXPECT_TRUE(vemor::testing::eventually([&] { return r.live(id) != true; }))
        << id << " never saw its source go away";
}

TEST(Registry, IdsCountUpAndTheNinthStartIsRefused) {
    Registry r;
    std::vector<Source> sources;
    for (int i = 0; i < 9; ++i) sources.push_back(source());
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(started(r, sources[i])["subscription_id"], "sub_" + std::to_string(i + 1));
    auto refused = r.start("Settings", std::nullopt, std::move(sources[8].subscription), std::nullopt);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message(),
              "usage error: at most 8 event subscriptions may be open at once; stop one with "
              "`events_stop` before starting another. Open now: sub_1 (Notes), sub_2 (Notes), sub_3 "
              "(Notes), sub_4 (Notes), sub_5 (Notes), sub_6 (Notes), sub_7 (Notes), sub_8 (Notes)");
    // The refused subscription was released at once.
    EXPECT_FALSE(sources[8].sender.receiver_alive());

    ASSERT_TRUE(r.stop("sub_3"));
    EXPECT_FALSE(sources[2].sender.receiver_alive());
    Source again = source();
    EXPECT_EQ(started(r, again)["subscription_id"], "sub_9");
}

TEST(Registry, PollWithoutWaitingOnAnEmptyRing) {
    Registry r;
    Source s = source();
    Json start = started(r, s);
    EXPECT_EQ(start, Json::parse(R"({"application":"Notes","buffer_capacity":1024,"expires_after_ms":300000,"kinds":null,"pid":170,"subscription_id":"sub_1"})"));
    EXPECT_EQ(*r.poll("sub_1", 100, 0ms), Json::parse(R"({"application":"Notes","buffered":0,"count":0,"dropped":0,"dropped_total":0,"events":[],"live":true,"pid":170,"subscription_id":"sub_1","truncated":false})"));
}

TEST(Registry, AWaitingPollReturnsWithTheFirstEventOrAtDisconnection) {
    Registry r;
    Source s = source();
    started(r, s);
    std::jthread producer([&] {
        std::this_thread::sleep_for(20ms);
        s.sender.send(event(EventKind::Type::FocusChanged));
    });
    Json polled = *r.poll("sub_1", 100, 15s);
    EXPECT_EQ(polled["count"], 1);
    EXPECT_EQ(polled["events"][0]["kind"], "focus_changed");
    producer.join();

    s.sender = EventSender();  // the source goes away
    Json after = *r.poll("sub_1", 100, 15s);
    EXPECT_EQ(after["count"], 0);
    EXPECT_EQ(after["live"], false);
}

TEST(Registry, TheRingKeepsTheNewest1024AndCountsEvictions) {
    Registry r;
    Source s = source();
    for (int i = 0; i < 1030; ++i) s.sender.send(event(EventKind::Type::ValueChanged));
    s.sender = EventSender();
    started(r, s);
    wait_disconnected(r, "sub_1");

    Json first = *r.poll("sub_1", 100, 0ms);
    EXPECT_EQ(first["count"], 100);
    EXPECT_EQ(first["events"][0]["sequence"], 6);
    EXPECT_EQ(first["events"][99]["sequence"], 105);
    EXPECT_EQ(first["dropped"], 6);
    EXPECT_EQ(first["dropped_total"], 6);
    EXPECT_EQ(first["buffered"], 924);
    EXPECT_EQ(first["truncated"], true);
    Json second = *r.poll("sub_1", 500, 0ms);
    EXPECT_EQ(second["dropped"], 0);
    EXPECT_EQ(second["dropped_total"], 6);
    EXPECT_EQ(second["events"][0]["sequence"], 106);
    EXPECT_EQ(*r.stop("sub_1"), Json::parse(R"({"delivered_total":600,"discarded":424,"dropped_total":6,"stopped":true,"subscription_id":"sub_1"})"));
}

TEST(Registry, KindFilterAndStateChangeFields) {
    Registry r;
    Source s = source();
    started(r, s, std::vector<std::string>{"focus_changed", "state_changed"});
    s.sender.send(event(EventKind::Type::FocusChanged));
    s.sender.send(event(EventKind::Type::ValueChanged));
    s.sender.send(event(EventKind::state_changed(StateFlag::Checked, true)));
    s.sender = EventSender();
    wait_disconnected(r, "sub_1");
    Json polled = *r.poll("sub_1", 100, 0ms);
    ASSERT_EQ(polled["count"], 2);
    const Json& focus = polled["events"][0];
    EXPECT_EQ(focus["sequence"], 0);
    EXPECT_FALSE(focus.contains("state_flag"));
    EXPECT_FALSE(focus.contains("target"));
    EXPECT_EQ(focus["application"], "Notes");
    EXPECT_EQ(focus["pid"], 170);
    const Json& state = polled["events"][1];
    EXPECT_EQ(state["sequence"], 1);
    EXPECT_EQ(state["state_flag"], "checked");
    EXPECT_EQ(state["state_value"], true);
}

TEST(Registry, IdleHandlesAreReclaimedAndUnknownIdsTold) {
    TestClock clock;
    Registry r(clock.now());
    Source s = source();
    started(r, s);
    clock.seconds->store(301);

    auto polled = r.poll("sub_1", 100, 0ms);
    ASSERT_FALSE(polled);
    const auto* miss = polled.error().as<cli::CliError::Subscription>();
    ASSERT_NE(miss, nullptr);
    EXPECT_TRUE(miss->expired);
    EXPECT_FALSE(s.sender.receiver_alive());  // reclaiming dropped the platform subscription
    EXPECT_EQ(r.stop("sub_1")->at("already_stopped"), true);

    struct Case {
        std::string id;
        bool expired;
    };
    for (const Case& c : std::vector<Case>{{"sub_+1", true}, {"sub_2", false}, {"sub_0", false},
                                           {"sub_1x", false}, {"sub_18446744073709551616", false},
                                           {"1", false}}) {
        auto stopped = r.stop(c.id);
        EXPECT_EQ(stopped.has_value(), c.expired) << c.id;
        if (!stopped) {
            EXPECT_FALSE(stopped.error().as<cli::CliError::Subscription>()->expired) << c.id;
        }
    }
}

TEST(Registry, DrainerThreadsAreNamedAndJoinedWithTheRegistry) {
    Source a = source();
    Source b = source();
    {
        Registry r;
        started(r, a);
        started(r, b);
        int named = 0;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::ifstream comm(task.path() / "comm");
            std::string name;
            std::getline(comm, name);
            named += name == "vemor-mcp-event";
        }
        EXPECT_EQ(named, 2);
    }
    EXPECT_FALSE(a.sender.receiver_alive());
    EXPECT_FALSE(b.sender.receiver_alive());
}

}  // namespace
}  // namespace vemor::mcp::events
