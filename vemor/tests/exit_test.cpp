// A process that calls `exit` while other threads are inside vemor calls: whole-desktop searches,
// actions, typing, simulated input, and a subscription whose observer delivers events. The
// threads cannot be stopped from outside, so everything they can reach must outlive the exit;
// the process then ends with its own exit code, and a sanitizer build has nothing to report.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "facade_test_support.hpp"
#include "vemor/app.hpp"
#include "vemor/facade/providers.hpp"
#include "vemor/locator.hpp"

namespace vemor::facade {
namespace {

// Runs `body` forever on a thread of its own. Detached on purpose: these are the threads that
// are still working when the process exits.
template <class Body>
void keep_running(Body body) {
    std::thread([body] {
        for (;;) body();
    }).detach();
}

[[noreturn]] void exit_with_work_in_flight() {
    auto handle = provider();
    CHILD_CHECK(handle.has_value());
    auto textedit = App::by_name_with(*handle, "TextEdit", std::chrono::seconds(5));
    CHILD_CHECK(textedit.has_value());
    // Left open: its observer keeps delivering while the process exits. This frame is never
    // left, so the threads may refer to what it holds.
    auto subscription = textedit->subscribe();
    CHILD_CHECK(subscription.has_value());

    for (int i = 0; i < 3; ++i) {
        keep_running([whole = Locator(*handle, std::nullopt, "*")] { (void)whole.count(); });
    }
    keep_running([bold = textedit->locator("check_box[name=\"Bold\"]")] { (void)bold.toggle(); });
    keep_running([area = textedit->locator("text_area")] { (void)area.type_text("ab"); });
    auto sim = input_sim();
    CHILD_CHECK(sim.has_value());
    keep_running([sim = *sim] { (void)sim->type_text("ab"); });
    keep_running([&subscription] { (void)subscription->recv(std::chrono::milliseconds(100)); });

    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::exit(0);
}

TEST(ExitDeathTest, ExitingWhileOtherThreadsUseVemorEndsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Where a thread could reach a destroyed static object, a sanitizer build reported it in
    // nearly every run.
    for (int run = 0; run < 20; ++run) {
        EXPECT_EXIT(exit_with_work_in_flight(), ::testing::ExitedWithCode(0), ::testing::IsEmpty())
            << "run " << run;
    }
}

}  // namespace
}  // namespace vemor::facade
