// Subscriptions made and dropped from several threads while the desktop keeps notifying, and
// the shell-surface scan's parallel status-item step from several callers at once.
#include <atomic>
#include <chrono>
#include <thread>

#include "ax_test_support.hpp"
#include "vemor/macos/events.hpp"
#include "vemor/macos/shim.hpp"

namespace vemor::axtest {
namespace {

namespace pids = sd::default_pids;
using namespace std::chrono_literals;

class EventThreadsTest : public DesktopTest {
protected:
    void SetUp() override { install(sd::default_desktop()); }

    std::vector<ElementData> apps_of(std::initializer_list<pid_t> pids) {
        std::vector<ElementData> apps;
        for (pid_t pid : pids)
            apps.push_back(value_of(provider().app_by_pid(static_cast<std::uint32_t>(pid))));
        return apps;
    }

    // Presses the given elements over and over until the thread is asked to stop (at the
    // latest when it goes out of scope), so that their applications keep notifying.
    std::jthread keep_pressing(std::vector<std::pair<pid_t, std::string>> targets) {
        return std::jthread([this, targets = std::move(targets)](std::stop_token stop) {
            std::vector<AXElement> elements;
            for (const auto& [pid, id] : targets) elements.push_back(element(find(pid, id)));
            auto press = ax::make_cf_string("AXPress");
            while (!stop.stop_requested())
                for (const auto& e : elements)
                    safe_ax_perform_action(e.get(), static_cast<CFStringRef>(press.get()));
        });
    }
};

// Dropping at once must stop a loop that has only just started: each drop below comes right
// after its subscribe, while a writer keeps the observed applications busy notifying.
TEST_F(EventThreadsTest, SubscribeAndDropAtOnceFromSeveralThreads) {
    const auto apps = apps_of({pids::kSettings, pids::kTextEdit, pids::kNotes});
    std::jthread writer = keep_pressing(
        {{pids::kSettings, "settings.scrollbars"}, {pids::kTextEdit, "textedit.bold"}});

    MacOSProvider& shared = provider();
    std::atomic<int> received{0};
    std::atomic<int> failures{0};
    {
        std::vector<std::jthread> subscribers;
        for (int t = 0; t < 4; ++t) {
            subscribers.emplace_back([&, t] {
                for (int i = 0; i < 20; ++i) {
                    auto sub = shared.subscribe(apps[static_cast<std::size_t>(t + i) % 3]);
                    if (!sub) {
                        ++failures;
                        continue;
                    }
                    // Every other one takes an event first, so drops also meet a loop that is
                    // busy delivering.
                    if (i % 2 == 0 && sub->try_recv()) ++received;
                }
            });
        }
    }
    // One more that is certain to see an event before it goes.
    {
        auto sub = provider().subscribe(apps[0]);
        ASSERT_TRUE(sub) << error_text(sub);
        auto status = sub->recv_status(10s);
        EXPECT_EQ(status.kind, RecvStatus::Kind::Event);
    }
    writer.request_stop();
    writer.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(sd::notification_registrations(), 0u);
}

// Loops that run but never report (their entry observer could not be added) while the writer
// keeps notifying: every subscribe gives up after its wait, and stops and joins its thread.
TEST_F(EventThreadsTest, LoopsThatNeverReportAreStoppedFromSeveralThreads) {
    sd::add_fault({.call = "CFRunLoopAddObserver", .kind = sd::Fault::Kind::Raise, .times = 0});
    const auto apps = apps_of({pids::kSettings, pids::kTextEdit});
    std::jthread writer = keep_pressing({{pids::kSettings, "settings.scrollbars"}});
    std::atomic<int> refused{0};
    {
        std::vector<std::jthread> subscribers;
        for (int t = 0; t < 4; ++t) {
            subscribers.emplace_back([&, t] {
                for (int i = 0; i < 3; ++i) {
                    auto sub = ax::subscribe_observer(apps[static_cast<std::size_t>(t + i) % 2],
                                                      ax::RetryClock::real(), 50ms);
                    if (error_text(sub) ==
                        "Platform { code: -1, message: \"Failed to start observer RunLoop\" }")
                        ++refused;
                }
            });
        }
    }
    writer.request_stop();
    writer.join();
    EXPECT_EQ(refused.load(), 12);
    EXPECT_EQ(sd::notification_registrations(), 0u);
}

// Status items are read on the shared pool, one task per process, from several callers at
// once, over applications that answer one request at a time: every caller gets the same pid
// order and every platform object is released.
TEST_F(EventThreadsTest, ParallelStatusItemsFromSeveralCallers) {
    constexpr int kProcesses = 12;
    std::vector<sd::AppSpec> apps;
    std::vector<std::string> expected;
    for (int i = 0; i < kProcesses; ++i) {
        // Listed in descending pid order, so that sorting is needed.
        const pid_t pid = 900 - i;
        const std::string id = fmt::format("extras{}", pid);
        sd::AppSpec a = app(pid, fmt::format("Extras{}", pid), {});
        a.element = ElementSpec("AXApplication")
                        .attr("AXExtrasMenuBar", sd::Link{id})
                        .child(ElementSpec("AXMenuBar").identifier(id).frame(0, 0, 50, 24).unlisted());
        a.window_entries = false;
        apps.push_back(std::move(a));
    }
    sd::DesktopSpec d = desktop(std::move(apps));
    d.focused_app = 0;
    for (int i = 0; i < kProcesses; ++i)
        d.window_list.push_back({.pid = sd::Value(std::int64_t{900 - i}),
                                 .owner_name = sd::Value(fmt::format("Extras{}", 900 - i)),
                                 .layer = sd::Value(0)});
    for (int i = kProcesses - 1; i >= 0; --i)
        expected.push_back(fmt::format("Extras{} {}", 900 - i, 900 - i));
    install(d);
    for (int i = 0; i < kProcesses; ++i) sd::set_latency(900 - i, 50us);

    MacOSProvider& shared = provider();  // one provider, made before the callers start
    std::atomic<int> mismatches{0};
    {
        std::vector<std::jthread> callers;
        for (int t = 0; t < 3; ++t) {
            callers.emplace_back([&] {
                for (int round = 0; round < 4; ++round) {
                    auto found = shared.list_shell_surfaces();
                    std::vector<std::string> got;
                    if (found)
                        for (const auto& [kind, data] : *found)
                            got.push_back(fmt::format("{} {}", data.name.value_or(""),
                                                      data.pid.value_or(0)));
                    if (got != expected) ++mismatches;
                }
            });
        }
    }
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace vemor::axtest
