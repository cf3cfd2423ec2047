// Window loops on several caller threads at once: each thread's clock is its own (one waits in
// virtual time, one on the steady clock), the operations meet in the shared handle cache, and
// every platform object is released.
#include <string>
#include <thread>

#include "ax_test_support.hpp"
#include "virtual_clock.hpp"

namespace vemor::axtest {
namespace {

namespace pids = sd::default_pids;

class WindowLoopThreadsTest : public DesktopTest {
protected:
    void SetUp() override { install(sd::default_desktop()); }
    ElementData snapshot(pid_t pid, const std::string& identifier) {
        return value_of(provider().build_element_data(element(find(pid, identifier)), pid));
    }
};

// Runs `body` on a thread of its own and gives back its outcome as text.
template <class Body>
std::jthread run(std::string& outcome, Body body) {
    return std::jthread([&outcome, body] {
        try {
            outcome = body();
        } catch (...) {
            outcome = "exception";
        }
    });
}

std::string text(const Result<void>& r) { return r ? "ok" : r.error().message(); }

TEST_F(WindowLoopThreadsTest, EachThreadWaitsOnItsOwnClock) {
    const ElementData settings = snapshot(pids::kSettings, "settings.window");
    const ElementData notes = snapshot(pids::kNotes, "notes.window");
    const ElementData text_edit = snapshot(pids::kTextEdit, "textedit.window");
    // Minimising takes two further readings; full screen holds only from 700 ms on.
    sd::delay_writes(find(pids::kSettings, "settings.window"), "AXMinimized", 2);

    const MacOSProvider& p = provider();
    std::string virtual_minimize, virtual_fullscreen, steady_move;
    int minimize_sleeps = -1, fullscreen_sleeps = -1;
    {
        auto a = run(virtual_minimize, [&] {
            VirtualClock clock;
            auto r = p.minimize(settings);
            minimize_sleeps = clock.sleeps();
            return text(r);
        });
        auto b = run(virtual_fullscreen, [&] {
            VirtualClock clock;
            auto r = p.enter_fullscreen(notes);
            fullscreen_sleeps = clock.sleeps();
            return text(r);
        });
        // The steady clock: the window is already where it should be, so no sleep is needed.
        auto c = run(steady_move, [&] { return text(p.move_to(text_edit, 301, 99)); });
    }
    EXPECT_EQ(virtual_minimize, "ok");
    EXPECT_EQ(minimize_sleeps, 2);
    EXPECT_EQ(virtual_fullscreen, "ok");
    EXPECT_EQ(fullscreen_sleeps, 15);
    EXPECT_EQ(steady_move, "ok");
    EXPECT_EQ(sd::attribute(find(pids::kSettings, "settings.window"), "AXMinimized"),
              std::optional<sd::Value>(true));
    EXPECT_EQ(sd::attribute(find(pids::kNotes, "notes.window"), "AXFullScreen"),
              std::optional<sd::Value>(true));
}

}  // namespace
}  // namespace vemor::axtest
