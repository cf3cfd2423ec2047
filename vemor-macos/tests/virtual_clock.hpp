// Virtual time for the window loops: while one of these lives, the calling thread's loops read
// its time and "sleep" by moving it forward, so a 5 s wait takes no time at all. Hooks run after
// each sleep, so a test can change the simulated desktop between two polls.
#pragma once

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "vemor/macos/settle.hpp"

namespace vemor::axtest {

class VirtualClock final : public ax::SettleClock {
public:
    TimePoint now() override { return TimePoint{} + elapsed_; }
    void sleep_for(std::chrono::nanoseconds duration) override {
        elapsed_ += duration;
        ++sleeps_;
        for (auto& hook : hooks_) hook(sleeps_);
    }

    // Runs `hook` after every sleep with the number of sleeps so far.
    void after_each_sleep(std::function<void(int)> hook) { hooks_.push_back(std::move(hook)); }

    int sleeps() const { return sleeps_; }
    std::chrono::nanoseconds elapsed() const { return elapsed_; }

private:
    std::chrono::nanoseconds elapsed_{0};
    int sleeps_ = 0;
    std::vector<std::function<void(int)>> hooks_;
    ax::ScopedSettleClock installed_{*this};
};

}  // namespace vemor::axtest
