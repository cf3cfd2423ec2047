// Locators waiting and acting while another thread changes the tree under them.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "vemor/app.hpp"
#include "vemor/config.hpp"
#include "vemor/locator.hpp"
#include "vemor/mock.hpp"

namespace vemor {
namespace {

using namespace std::chrono_literals;

TEST(LocatorWait, DetachesWhenAnotherThreadClosesTheWindow) {
    auto mock = mock::build_provider();
    auto app = App::by_name_with(mock, "TestApp", 0s).value();
    auto back = app.locator("button[name=\"Back\"]");
    ASSERT_TRUE(back.wait_attached(0s));

    std::jthread closer([&] {
        std::this_thread::sleep_for(20ms);
        auto window = app.locator("window").element();
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->close());
    });
    // Generous: the window closes long before; the wait ends as soon as it sees that.
    auto r = back.wait_detached(10s);
    ASSERT_TRUE(r) << r.error().message();
    closer.join();
    EXPECT_EQ(mock->actions(), (std::vector<MockAction>{{1, "close", {}}}));
    EXPECT_FALSE(back.exists().value());
}

TEST(LocatorWait, ActionsRaceAClose) {
    config::set_default_timeout(0s);
    auto mock = mock::build_provider();
    Locator window(mock, std::nullopt, "window");
    Locator field(mock, std::nullopt, "text_field");
    std::atomic<bool> go{false};
    std::atomic<int> done{0};
    std::vector<std::jthread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 20; ++i) {
                auto r = t % 2 ? field.set_value("x") : window.restore();
                // The target vanishes (a time-out), or the provider refuses a closed node.
                if (!r) {
                    EXPECT_TRUE(r.error().is<Error::Timeout>() || r.error().is<Error::Platform>())
                        << r.error().message();
                }
            }
            ++done;
        });
    }
    go = true;
    std::this_thread::sleep_for(1ms);
    auto closed = window.close();
    ASSERT_TRUE(closed) << closed.error().message();
    workers.clear();
    EXPECT_EQ(done, 4);
    EXPECT_FALSE(window.exists().value());
    auto polled = field.wait_until([](const ElementData* d) { return d == nullptr; }, 0s);
    ASSERT_TRUE(polled);
    EXPECT_FALSE(polled->has_value());
}

}  // namespace
}  // namespace vemor
