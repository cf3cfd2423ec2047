#include "vemor/macos/settle.hpp"

#include "ax_test_support.hpp"
#include "virtual_clock.hpp"

namespace vemor::axtest {
namespace {

namespace pids = sd::default_pids;
using Sample = ax::TargetSample;
using Cached = Sample::CachedHandle;

TEST(TargetSample, LastObservedTexts) {
    const std::pair<Sample, std::string_view> cases[] = {
        {{Sample::WindowFound{true, false}},
         "the target window reads AXFullScreen=true (settable=false)"},
        {{Sample::WindowUnanswered{}},
         "the app did not answer a readable sample of the target window"},
        {{Cached{false, true}},
         "the target window is not enumerable; its cached handle reads AXFullScreen=false "
         "(settable=true)"},
        {{Cached{true, Cached::Invalidated{"E"}}},
         "the target window is not enumerable; its cached handle reads AXFullScreen=true but its "
         "settability probe was invalidated: E"},
        {{Cached{Cached::NoAttribute{}, Cached::Invalidated{"E"}}},
         "the target window is not enumerable; its cached handle has no AXFullScreen attribute"},
        {{Cached{Cached::Unreadable{"E"}, true}},
         "the target window is not enumerable; its cached handle could not be read: E"},
    };
    for (const auto& [sample, text] : cases) EXPECT_EQ(sample.last_observed(), text);
}

// The loops on the Settings window of the default desktop, in virtual time. `arrange` changes
// the desktop before the loop starts (and may hook the clock to change it between polls).
struct LoopCase {
    const char* name;
    std::function<void(sd::ElementId, AXElement&, VirtualClock&)> arrange;
    bool fullscreen;  // which loop
    bool wanted;
    std::string outcome;  // "ok" or the error's message
    int sleeps;
    std::size_t writes;
};

class SettleTest : public DesktopTest {
protected:
    void run(const LoopCase& c) {
        SCOPED_TRACE(c.name);
        install(sd::default_desktop());
        const sd::ElementId id = find(pids::kSettings, "settings.window");
        AXElement cached = element(id);
        VirtualClock clock;
        c.arrange(id, cached, clock);
        sd::clear_call_log();
        auto r = c.fullscreen
                     ? ax::settle_window_fullscreen(cached, c.wanted, "restore", Role::Window)
                     : ax::settle_bool_attr(cached, c.wanted, "restore", Role::Window);
        EXPECT_EQ(r ? "ok" : r.error().message(), c.outcome);
        if (!r && r.error().is<Error::Timeout>()) {
            EXPECT_EQ(r.error().as<Error::Timeout>()->elapsed, std::chrono::seconds(5));
        }
        if (r) {
            const char* attribute = c.fullscreen ? "AXFullScreen" : "AXMinimized";
            EXPECT_EQ(sd::attribute(sd::find_element(pids::kSettings, "settings.window").value(),
                                    attribute),
                      std::optional<sd::Value>(c.wanted));
        }
        EXPECT_EQ(clock.sleeps(), c.sleeps);
        EXPECT_EQ(sd::call_count("AXUIElementSetAttributeValue",
                                 c.fullscreen ? "AXFullScreen" : "AXMinimized"),
                  c.writes);
        sd::clear_faults();
        cached = {};
        check_released();
    }
};

void nothing(sd::ElementId, AXElement&, VirtualClock&) {}

sd::Fault code_fault(const char* call, AXError code, const char* name, int times = 1) {
    return {
        .call = call, .kind = sd::Fault::Kind::Code, .code = code, .name = name, .times = times};
}

constexpr const char* kInvalidRead =
    "Platform error (-25202): AXMinimized read failed while handling restore on a window (AXError "
    "-25202); the state is unknown, not false";

TEST_F(SettleTest, MinimizedLoop) {
    const LoopCase cases[] = {
        {"already there: no write",
         [](auto w, auto&, auto&) { sd::set_attribute(w, "AXMinimized", true); }, false, true, "ok",
         0, 0},
        {"takes effect at once", nothing, false, true, "ok", 1, 1},
        // Writing again while the window animates does not start the animation over.
        {"animates over three readings",
         [](auto w, auto&, auto&) { sd::delay_writes(w, "AXMinimized", 3); }, false, true, "ok", 4,
         4},
        {"never takes effect",
         [](auto w, auto&, auto&) { sd::delay_writes(w, "AXMinimized", std::nullopt); }, false,
         true,
         "Timeout after 5.0s; waiting for: window enters minimized state (AXMinimized=true); last "
         "observed: AXMinimized reads false",
         100, 101},
        {"no value: never written",
         [](auto w, auto&, auto&) { sd::set_attribute(w, "AXMinimized", {}); }, false, false,
         "Timeout after 5.0s; waiting for: window leaves minimized state (AXMinimized=false); "
         "last observed: the window has no AXMinimized attribute",
         100, 0},
        // The bad reference would fail every request: the loop goes on with the listed window.
        {"reference invalidated, the window still listed",
         [](auto, auto& cached, auto&) { sd::invalidate_reference(cached.get()); }, false, true,
         "ok", 2, 1},
        {"window gone: the cached reference is kept",
         [](auto w, auto&, auto&) { sd::renew_element(w); }, false, true,
         std::string("Timeout after 5.0s; waiting for: window enters minimized state "
                     "(AXMinimized=true); last observed: ") +
             kInvalidRead,
         100, 0},
        {"other errors end the loop",
         [](auto, auto&, auto&) {
             sd::add_fault(
                 code_fault("AXUIElementSetAttributeValue", kAXErrorCannotComplete, "AXMinimized"));
         },
         false, true, "Platform error (-25204): Set AXMinimized=true failed", 0, 1},
    };
    for (const auto& c : cases) run(c);
}

TEST_F(SettleTest, FullscreenLoop) {
    const auto unlisted = [](int) {
        const sd::ElementId app = *sd::application_element(pids::kSettings);
        sd::set_attribute(app, "AXWindows", sd::Value::List{});
    };
    const auto listed = [](int) {
        sd::remove_attribute(*sd::application_element(pids::kSettings), "AXWindows");
    };
    const auto read_only_on = [](sd::ElementId w) {
        sd::set_attribute(w, "AXFullScreen", true);
        sd::set_settable(w, "AXFullScreen", false);
    };
    const LoopCase cases[] = {
        // Written at 0 ms, reads true from 50 ms, has held 700 ms at 750 ms.
        {"enters", nothing, true, true, "ok", 15, 15},
        {"already in, read-only: confirmed without a write",
         [&](auto w, auto&, auto&) { read_only_on(w); }, true, true, "ok", 14, 0},
        {"not listed: settles on the cached reference", [&](auto, auto&, auto&) { unlisted(0); },
         true, true, "ok", 15, 15},
        {"reads false but read-only: leaving does not count",
         [](auto, auto&, auto&) {
             sd::add_fault(code_fault("AXUIElementIsAttributeSettable", 0, "AXFullScreen", 0));
         },
         true, false,
         "Timeout after 5.0s; waiting for: window leaves fullscreen (AXFullScreen=false with "
         "IsAttributeSettable=true); last observed: the target window reads AXFullScreen=false "
         "(settable=false)",
         100, 101},
        {"flapping readings restart the 700 ms",
         [](auto w, auto&, auto& clock) {
             sd::delay_writes(w, "AXFullScreen", std::nullopt);
             clock.after_each_sleep(
                 [w](int n) { sd::set_attribute(w, "AXFullScreen", n % 2 == 1); });
         },
         true, true,
         "Timeout after 5.0s; waiting for: window enters fullscreen (AXFullScreen=true); last "
         "observed: the target window reads AXFullScreen=false (settable=true)",
         100, 101},
        {"switching between listed window and cached reference restarts them too",
         [&](auto w, auto&, auto& clock) {
             read_only_on(w);
             clock.after_each_sleep([&](int n) { n % 2 ? unlisted(n) : listed(n); });
         },
         true, true,
         "Timeout after 5.0s; waiting for: window enters fullscreen (AXFullScreen=true); last "
         "observed: the target window reads AXFullScreen=true (settable=false)",
         100, 0},
        {"writes refused as invalid are the last retry failure",
         [](auto, auto&, auto&) {
             sd::add_fault(code_fault("AXUIElementSetAttributeValue", kAXErrorInvalidUIElement,
                                      "AXFullScreen", 0));
         },
         true, true,
         "Timeout after 5.0s; waiting for: window enters fullscreen (AXFullScreen=true); last "
         "observed: the target window reads AXFullScreen=false (settable=true); the last retry set "
         "failed: Platform error (-25202): Set AXFullScreen=true failed",
         100, 101},
        {"a later successful write clears it",
         [](auto w, auto&, auto&) {
             sd::delay_writes(w, "AXFullScreen", std::nullopt);
             sd::add_fault(code_fault("AXUIElementSetAttributeValue", kAXErrorInvalidUIElement,
                                      "AXFullScreen"));
         },
         true, true,
         "Timeout after 5.0s; waiting for: window enters fullscreen (AXFullScreen=true); last "
         "observed: the target window reads AXFullScreen=false (settable=true)",
         100, 101},
        {"window gone: its cached reference is read",
         [](auto w, auto&, auto&) { sd::renew_element(w); }, true, true,
         "Timeout after 5.0s; waiting for: window enters fullscreen (AXFullScreen=true); last "
         "observed: the target window is not enumerable; its cached handle could not be read: "
         "Platform error (-25202): AXFullScreen read failed while handling restore on a window "
         "(AXError -25202); the state is unknown, not false; the last retry set failed: Platform "
         "error (-25202): Set AXFullScreen=true failed",
         100, 101},
    };
    for (const auto& c : cases) run(c);
}

}  // namespace
}  // namespace vemor::axtest
