// The simulated platform under concurrent use, as the backend's parallel search uses it: many
// threads reading while the desktop changes and notifications flow to a run-loop thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "standin_fixture.hpp"

namespace vemor::standin_test {
namespace {

namespace pids = sd::default_pids;

using StandinThreadsTest = StandinTest;

void count_notification(AXObserverRef, AXUIElementRef element, CFStringRef, void* context) {
    read(element, "AXRole");  // callbacks may call back into the platform
    static_cast<std::atomic<int>*>(context)->fetch_add(1);
}

TEST_F(StandinThreadsTest, ConcurrentReadersWritersAndObservers) {
    sd::set_latency(pids::kNotes, std::chrono::microseconds(50));
    std::atomic<int> delivered{0};
    AXObserverRef observer = nullptr;
    ASSERT_EQ(safe_ax_observer_create(pids::kSettings, count_notification, &observer), 0);
    {
        auto app = own(safe_ax_create_application(pids::kSettings));
        ASSERT_EQ(safe_ax_observer_add_notification(observer, app.get(),
                                                    str("AXValueChanged").get(), &delivered),
                  0);
    }
    ObserverLoop loop(observer);

    std::vector<std::thread> readers;
    for (int t = 0; t < 6; ++t) {
        readers.emplace_back([t] {
            pid_t pid = t % 2 == 0 ? pids::kNotes : pids::kFinder;
            auto app = own(safe_ax_create_application(pid));
            for (int i = 0; i < 100; ++i) {
                Read windows = read(app.get(), "AXWindows");
                auto list = static_cast<CFArrayRef>(windows.value.get());
                for (CFIndex k = 0; k < safe_cf_array_get_count(list); ++k) {
                    auto w = static_cast<AXUIElementRef>(safe_cf_array_get_value(list, k));
                    read(w, "AXTitle");
                    read(w, "AXChildren");
                }
            }
        });
    }
    std::thread writer([] {
        auto check = element(pids::kSettings, "settings.scrollbars");
        auto press = str("AXPress");
        for (int i = 0; i < 200; ++i) safe_ax_perform_action(check.get(), press.get());
        for (int i = 0; i < 20; ++i) {
            if (auto id = sd::find_element(pids::kFinder, "finder.window")) sd::renew_element(*id);
        }
    });
    writer.join();
    for (auto& r : readers) r.join();
    EXPECT_TRUE(vemor::testing::eventually([&] { return delivered.load() >= 200; }))
        << "only " << delivered.load() << " of the 200 value changes were delivered";
    loop.stop();
    safe_cf_release(observer);
    EXPECT_EQ(delivered.load(), 200);
}

}  // namespace
}  // namespace vemor::standin_test
