// One input provider shared between threads: events are posted one at a time under its lock,
// and a modifier held through it reaches the events posted while it is down.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "standin_fixture.hpp"
#include "vemor/macos/input.hpp"

namespace vemor::standin_test {
namespace {

using InputThreadsTest = StandinTest;

TEST_F(InputThreadsTest, ThreadsShareOneProvider) {
    const auto input = std::make_shared<const MacOSInputProvider>([](Duration) {});
    constexpr int kThreads = 4, kRounds = 40;
    std::atomic<int> failures{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                try {
                    for (int i = 0; i < kRounds; ++i) {
                        const Point p{100 + t, 900 - i};
                        if (!input->pointer_click(p, MouseButton::Right, 1)) ++failures;
                        if (!input->pointer_drag(p, {p.x + 10, p.y}, MouseButton::Right,
                                                 std::chrono::milliseconds(48))) {
                            ++failures;
                        }
                        if (!input->type_text("ab")) ++failures;
                    }
                } catch (...) {
                    ++failures;
                }
            });
        }
        // Held and released while the others post.
        for (int i = 0; i < kRounds; ++i) {
            EXPECT_TRUE(input->key_down(Key{Key::Shift}));
            EXPECT_TRUE(input->key_up(Key{Key::Shift}));
        }
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(input->held_modifiers(), 0u);
    // Per round: click 3, drag 1 + 1 + 3 + 1, typing 2.
    EXPECT_EQ(sd::posted_events().size(),
              static_cast<std::size_t>(kThreads * kRounds * 11 + kRounds * 2));
}

}  // namespace
}  // namespace vemor::standin_test
