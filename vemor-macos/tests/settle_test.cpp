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

TEST(TargetSample, LeavingFullscreenCountsOnlyWhileSettable) {
    struct Case {
        Sample sample;
        bool enter, leave;
    };
    const Case cases[] = {
        {{Sample::WindowFound{true, false}}, true, false},
        {{Sample::WindowFound{false, true}}, false, true},
        {{Sample::WindowFound{false, false}}, false, false},
        {{Cached{true, true}}, true, false},
        {{Cached{false, true}}, false, true},
        {{Cached{false, Cached::Invalidated{"E"}}}, false, false},
        {{Cached{Cached::NoAttribute{}, true}}, false, false},
        {{Sample::WindowUnanswered{}}, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.sample.matches(true), c.enter) << c.sample.last_observed();
        EXPECT_EQ(c.sample.matches(false), c.leave) << c.sample.last_observed();
    }
}

class SettleTest : public DesktopTest {
protected:
    void SetUp() override {
        install(sd::default_desktop());
        id_ = find(pids::kSettings, "settings.window");
    }
    AXElement window() const { return element(id_); }
    bool reads(const std::string& attribute) const {
        return sd::attribute(id_, attribute) == std::optional<sd::Value>(true);
    }
    std::size_t writes(const std::string& attribute) const {
        return sd::call_count("AXUIElementSetAttributeValue", attribute);
    }
    sd::ElementId id_ = 0;
};

// ---- The AXMinimized loop -------------------------------------------------------------------

TEST_F(SettleTest, MinimizedLoopSucceedsOnceTheWindowReadsTheWantedValue) {
    struct Case {
        const char* name;
        bool start_minimized;
        std::optional<int> delay;  // reads until a write shows
        int sleeps;
        std::size_t writes;
    };
    const Case cases[] = {
        {"already minimised: no write", true, 0, 0, 0},
        {"takes effect at once", false, 0, 1, 1},
        // The repeated write does not restart the animation.
        {"animates over three reads", false, 3, 4, 4},
    };
    for (const auto& c : cases) {
        sd::set_attribute(id_, "AXMinimized", c.start_minimized);
        sd::delay_writes(id_, "AXMinimized", c.delay);
        sd::clear_call_log();
        VirtualClock clock;
        EXPECT_EQ(error_text(ax::settle_bool_attr(window(), true, "minimize", Role::Window)), "ok")
            << c.name;
        EXPECT_TRUE(reads("AXMinimized")) << c.name;
        EXPECT_EQ(clock.sleeps(), c.sleeps) << c.name;
        EXPECT_EQ(writes("AXMinimized"), c.writes) << c.name;
    }
}

TEST_F(SettleTest, MinimizedLoopTimesOutAfterExactlyFiveSeconds) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        bool wanted;
        std::string message;
        std::size_t writes;
    };
    const Case cases[] = {
        {"the write never takes effect",
         [&] { sd::delay_writes(id_, "AXMinimized", std::nullopt); }, true,
         "Timeout after 5.0s; waiting for: window enters minimized state (AXMinimized=true); "
         "last observed: AXMinimized reads false",
         101},
        {"no value: nothing is written", [&] { sd::set_attribute(id_, "AXMinimized", {}); }, false,
         "Timeout after 5.0s; waiting for: window leaves minimized state (AXMinimized=false); "
         "last observed: the window has no AXMinimized attribute",
         0},
    };
    for (const auto& c : cases) {
        sd::reset_to_default_desktop();
        id_ = find(pids::kSettings, "settings.window");
        c.arrange();
        sd::clear_call_log();
        VirtualClock clock;
        auto r = ax::settle_bool_attr(window(), c.wanted, "restore", Role::Window);
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error().message(), c.message) << c.name;
        EXPECT_EQ(r.error(), ax::settle_timeout(r.error().diagnosis()->condition.value(),
                                                r.error().diagnosis()->last_observed.value()));
        EXPECT_EQ(clock.elapsed(), std::chrono::seconds(5)) << c.name;
        EXPECT_EQ(writes("AXMinimized"), c.writes) << c.name;
    }
}

TEST_F(SettleTest, MinimizedLoopFollowsAnInvalidatedWindow) {
    // The cached reference goes bad while the application still lists the window: the loop goes
    // on with the listed one (the bad reference would fail every request).
    AXElement cached = window();
    sd::invalidate_reference(cached.get());
    VirtualClock clock;
    EXPECT_EQ(error_text(ax::settle_bool_attr(cached, true, "minimize", Role::Window)), "ok");
    EXPECT_TRUE(reads("AXMinimized"));
    EXPECT_EQ(clock.sleeps(), 2);
}

TEST_F(SettleTest, MinimizedLoopKeepsTheCachedWindowWhenNoneIsListed) {
    AXElement cached = window();
    sd::renew_element(id_);  // the application made a new window object
    VirtualClock clock;
    auto r = ax::settle_bool_attr(cached, true, "minimize", Role::Window);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "Timeout after 5.0s; waiting for: window enters minimized state (AXMinimized=true); "
              "last observed: Platform error (-25202): AXMinimized read failed while handling "
              "minimize on a window (AXError -25202); the state is unknown, not false");
}

TEST_F(SettleTest, OtherErrorsEndTheLoopsAtOnce) {
    const std::pair<sd::Fault, std::string> cases[] = {
        {{.call = "AXUIElementCopyAttributeValue",
          .kind = sd::Fault::Kind::Code,
          .code = kAXErrorCannotComplete,
          .name = "AXMinimized"},
         "Platform { code: -25204, message: \"AXMinimized read failed while handling minimize on "
         "a window (AXError -25204); the state is unknown, not false\" }"},
        {{.call = "AXUIElementSetAttributeValue",
          .kind = sd::Fault::Kind::Code,
          .code = kAXErrorActionUnsupported,
          .name = "AXMinimized"},
         "ActionNotSupported { action: \"minimize\", role: Window }"},
        {{.call = "AXUIElementGetPid", .kind = sd::Fault::Kind::Code, .code = kAXErrorFailure},
         "Platform { code: -25200, message: \"AXUIElementGetPid failed (AXError -25200) while "
         "running minimize on a window\" }"},
    };
    for (const auto& [fault, text] : cases) {
        sd::add_fault(fault);
        VirtualClock clock;
        EXPECT_EQ(error_text(ax::settle_bool_attr(window(), true, "minimize", Role::Window)), text);
        EXPECT_EQ(clock.sleeps(), 0);
        sd::clear_faults();
    }
}

TEST_F(SettleTest, FreshTargetIsTheEqualListedWindow) {
    AXElement app = element(sd::application_element(pids::kSettings).value());
    auto found = value_of(ax::fresh_target_in_app(app, window()));
    ASSERT_TRUE(found);
    EXPECT_TRUE(found->same_element(window()));

    AXElement other = element(find(pids::kNotes, "notes.window"));
    EXPECT_FALSE(value_of(ax::fresh_target_in_app(app, other)));

    // An application that went away lists nothing; a malformed list is an error.
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = kAXErrorInvalidUIElement,
                   .name = "AXWindows"});
    EXPECT_FALSE(value_of(ax::fresh_target_in_app(app, window())));
    sd::clear_faults();
    sd::set_attribute(*sd::application_element(pids::kSettings), "AXWindows", "x");
    EXPECT_EQ(error_text(ax::fresh_target_in_app(app, window())),
              "Platform { code: -1, message: \"AXWindows returned a non-array value; the provider "
              "answered malformed, not empty\" }");
}

// ---- The AXFullScreen loop ------------------------------------------------------------------

TEST_F(SettleTest, FullscreenNeedsReadingsSevenHundredMillisecondsApart) {
    struct Case {
        const char* name;
        bool start, settable, wanted;
        int sleeps;
        std::size_t writes;
    };
    const Case cases[] = {
        // Written at 0 ms, reads true from 50 ms, holds until 750 ms.
        {"enters", false, true, true, 15, 15},
        {"already in, read-only: confirmed without writing", true, false, true, 14, 0},
        {"leaves", true, true, false, 15, 15},
    };
    for (const auto& c : cases) {
        sd::set_attribute(id_, "AXFullScreen", c.start);
        sd::set_settable(id_, "AXFullScreen", c.settable);
        sd::clear_call_log();
        VirtualClock clock;
        EXPECT_EQ(error_text(ax::settle_window_fullscreen(window(), c.wanted, "enter_fullscreen",
                                                          Role::Window)),
                  "ok")
            << c.name;
        EXPECT_EQ(reads("AXFullScreen"), c.wanted) << c.name;
        EXPECT_EQ(clock.sleeps(), c.sleeps) << c.name;
        EXPECT_EQ(writes("AXFullScreen"), c.writes) << c.name;
    }
}

TEST_F(SettleTest, FullscreenTimesOut) {
    struct Case {
        const char* name;
        bool wanted;
        std::function<void(VirtualClock&)> arrange;
        std::string last_observed;
    };
    const Case cases[] = {
        {"reads false but read-only: leaving does not count", false,
         [&](VirtualClock&) {
             sd::add_fault({.call = "AXUIElementIsAttributeSettable",
                            .kind = sd::Fault::Kind::Code,
                            .code = 0,
                            .name = "AXFullScreen",
                            .times = 0});
         },
         "the target window reads AXFullScreen=false (settable=false)"},
        {"flapping readings restart the stability window", true,
         [&](VirtualClock& clock) {
             sd::delay_writes(id_, "AXFullScreen", std::nullopt);
             clock.after_each_sleep(
                 [&](int n) { sd::set_attribute(id_, "AXFullScreen", n % 2 == 1); });
         },
         "the target window reads AXFullScreen=false (settable=true)"},
        {"switching between the listed window and the cached handle restarts it too", true,
         [&](VirtualClock& clock) {
             sd::set_attribute(id_, "AXFullScreen", true);
             sd::set_settable(id_, "AXFullScreen", false);
             clock.after_each_sleep([&](int n) {
                 const sd::ElementId app = *sd::application_element(pids::kSettings);
                 if (n % 2 == 1)
                     sd::set_attribute(app, "AXWindows", sd::Value::List{});
                 else
                     sd::remove_attribute(app, "AXWindows");
             });
         },
         "the target window reads AXFullScreen=true (settable=false)"},
        {"a write refused as invalid is kept as the last retry failure", true,
         [&](VirtualClock&) {
             // The listed window answers; the cached reference, which the loop writes to, not.
             sd::add_fault({.call = "AXUIElementSetAttributeValue",
                            .kind = sd::Fault::Kind::Code,
                            .code = kAXErrorInvalidUIElement,
                            .name = "AXFullScreen",
                            .times = 0});
         },
         "the target window reads AXFullScreen=false (settable=true); the last retry set failed: "
         "Platform error (-25202): Set AXFullScreen=true failed"},
        {"a later successful write clears it", true,
         [&](VirtualClock&) {
             sd::delay_writes(id_, "AXFullScreen", std::nullopt);
             sd::add_fault({.call = "AXUIElementSetAttributeValue",
                            .kind = sd::Fault::Kind::Code,
                            .code = kAXErrorInvalidUIElement,
                            .name = "AXFullScreen"});
         },
         "the target window reads AXFullScreen=false (settable=true)"},
        {"the window is gone: its cached handle is read", true,
         [&](VirtualClock&) { sd::renew_element(id_); },
         "the target window is not enumerable; its cached handle could not be read: Platform "
         "error (-25202): AXFullScreen read failed while handling enter_fullscreen on a window "
         "(AXError -25202); the state is unknown, not false; the last retry set failed: "
         "Platform error (-25202): Set AXFullScreen=true failed"},
    };
    for (const auto& c : cases) {
        AXElement cached = window();
        VirtualClock clock;
        c.arrange(clock);
        auto r = ax::settle_window_fullscreen(cached, c.wanted, "enter_fullscreen", Role::Window);
        ASSERT_FALSE(r) << c.name;
        const Diagnosis* d = r.error().diagnosis();
        ASSERT_TRUE(d) << c.name;
        EXPECT_EQ(d->condition, c.wanted ? "window enters fullscreen (AXFullScreen=true)"
                                         : "window leaves fullscreen (AXFullScreen=false with "
                                           "IsAttributeSettable=true)")
            << c.name;
        EXPECT_EQ(d->last_observed, c.last_observed) << c.name;
        EXPECT_EQ(r.error().as<Error::Timeout>()->elapsed, std::chrono::seconds(5)) << c.name;
        sd::clear_faults();
        sd::reset_to_default_desktop();
        id_ = find(pids::kSettings, "settings.window");
    }
}

TEST_F(SettleTest, FullscreenSettlesOnTheCachedHandleWhenTheWindowIsNotListed) {
    sd::set_attribute(*sd::application_element(pids::kSettings), "AXWindows", sd::Value::List{});
    VirtualClock clock;
    EXPECT_EQ(error_text(ax::settle_window_fullscreen(window(), true, "enter_fullscreen",
                                                      Role::Window)),
              "ok");
    EXPECT_TRUE(reads("AXFullScreen"));
    EXPECT_EQ(clock.sleeps(), 15);
}

}  // namespace
}  // namespace vemor::axtest
