// Accessibility events over the simulated desktop: what each notification becomes, what the
// desktop's own changes deliver, and how subscribing fails.
#include <gmock/gmock.h>

#include <chrono>

#include "ax_test_support.hpp"
#include "vemor/macos/events.hpp"
#include "vemor/macos/shim.hpp"

namespace vemor::axtest {
namespace {

namespace pids = sd::default_pids;
using namespace std::chrono_literals;

std::string kind_text(const EventKind& k) {
    std::string out(event_kind::to_snake_case(k.type));
    if (k.type == EventKind::Type::StateChanged)
        out += fmt::format("({}, {})", state_flag::to_snake_case(k.flag), k.value);
    return out;
}

std::string kinds_text(const std::vector<EventKind>& kinds) {
    std::vector<std::string> parts;
    for (const auto& k : kinds) parts.push_back(kind_text(k));
    return fmt::format("{}", fmt::join(parts, " "));
}

// "kind target-name" per event; "-" for an event without a target.
std::string event_line(const Event& e) {
    return fmt::format("{} {}", kind_text(e.kind),
                       e.target ? e.target->name.value_or("<unnamed>") : "-");
}

TEST(EventKinds, EachNotificationAndRole) {
    ElementData checked;
    checked.states.checked = CheckedState::On;
    ElementData mixed;
    mixed.states.checked = CheckedState::Mixed;
    ElementData titled;
    titled.raw["AXTitle"] = "Status";
    const std::optional<ElementData> none;
    struct Case {
        std::string_view notification, role;
        std::optional<ElementData> target;
        bool busy;
        std::string kinds;
    };
    const Case cases[] = {
        {"AXFocusedUIElementChanged", "AXButton", none, false, "focus_changed"},
        {"AXValueChanged", "AXCheckBox", checked, false,
         "value_changed state_changed(checked, true)"},
        {"AXValueChanged", "AXRadioButton", mixed, false,
         "value_changed state_changed(checked, false)"},
        {"AXValueChanged", "AXCheckBox", none, false,
         "value_changed state_changed(checked, false)"},
        {"AXValueChanged", "AXSearchField", none, false, "value_changed text_changed"},
        {"AXValueChanged", "AXStaticText", titled, false, "value_changed"},
        {"AXValueChanged", "AXStaticText", none, false, "value_changed name_changed"},
        {"AXValueChanged", "AXcheckbox", checked, false, "value_changed"},
        {"AXValueChanged", "AXSlider", none, false, "value_changed"},
        {"AXTitleChanged", "", none, false, "name_changed"},
        {"AXElementBusyChanged", "", none, true, "state_changed(busy, true)"},
        {"AXWindowCreated", "AXWindow", none, false, "window_opened"},
        {"AXUIElementDestroyed", "AXWindow", none, false, "window_closed"},
        {"AXUIElementDestroyed", "", none, false, "structure_changed"},
        {"AXFocusedWindowChanged", "AXWindow", none, false, "window_activated"},
        {"AXWindowMiniaturized", "AXWindow", none, false, "state_changed(minimized, true)"},
        {"AXWindowDeminiaturized", "AXWindow", none, false, "state_changed(minimized, false)"},
        {"AXSelectedCellsChanged", "AXTable", none, false, "selection_changed"},
        {"AXMenuOpened", "AXMenu", none, false, "menu_opened"},
        {"AXMenuClosed", "AXMenu", none, false, "menu_closed"},
        {"AXAnnouncementRequested", "", none, false, "announcement"},
        {"AXMoved", "AXWindow", none, false, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kinds_text(ax::event_kinds_for(c.notification, c.role, c.target, c.busy)),
                  c.kinds)
            << c.notification << " " << c.role;
    // Every registered notification stands for at least one event.
    for (std::string_view n : ax::kObservedNotifications)
        EXPECT_NE(kinds_text(ax::event_kinds_for(n, "", none, false)), "") << n;
}

class EventsTest : public DesktopTest {
protected:
    void SetUp() override { install(sd::default_desktop()); }

    Subscription subscribe(pid_t pid) {
        auto app = value_of(provider().app_by_pid(static_cast<std::uint32_t>(pid)));
        auto sub = provider().subscribe(app);
        EXPECT_TRUE(sub) << error_text(sub);
        return sub ? std::move(*sub) : Subscription(EventReceiver(), CancelHandle());
    }

    // The next n events; a missing one shows as "<none>".
    static std::vector<Event> take(Subscription& sub, std::size_t n) {
        std::vector<Event> out;
        while (out.size() < n) {
            auto status = sub.recv_status(10s);
            if (status.kind != RecvStatus::Kind::Event) break;
            out.push_back(std::move(*status.event));
        }
        return out;
    }
    static std::vector<std::string> take_lines(Subscription& sub, std::size_t n) {
        std::vector<std::string> out;
        for (const auto& e : take(sub, n)) out.push_back(event_line(e));
        while (out.size() < n) out.push_back("<none>");
        return out;
    }

    static void act(pid_t pid, const std::string& identifier, const char* action = "AXPress") {
        AXElement e = element(find(pid, identifier));
        auto name = ax::make_cf_string(action);
        ASSERT_EQ(safe_ax_perform_action(e.get(), static_cast<CFStringRef>(name.get())), 0)
            << identifier;
    }
    static void write(pid_t pid, const std::string& identifier, const char* attribute,
                      CFTypeRef value) {
        AXElement e = element(find(pid, identifier));
        auto name = ax::make_cf_string(attribute);
        ASSERT_EQ(safe_ax_set_attribute_value(e.get(), static_cast<CFStringRef>(name.get()), value),
                  0)
            << identifier << " " << attribute;
    }
};

TEST_F(EventsTest, CheckBoxValueChangesGiveValueThenCheckedState) {
    {
        Subscription sub = subscribe(pids::kSettings);
        EXPECT_EQ(sd::notification_registrations(pids::kSettings), 16u);
        act(pids::kSettings, "settings.hidemenu");
        auto events = take(sub, 2);
        ASSERT_EQ(events.size(), 2u);
        const std::string name = "Automatically hide the menu bar";
        for (const Event& e : events) {
            EXPECT_EQ(e.app_name, "Settings");
            EXPECT_EQ(e.app_pid, 160u);
            ASSERT_TRUE(e.target);
            EXPECT_EQ(e.target->name, name);
            EXPECT_EQ(e.target->handle, 0u);
        }
        EXPECT_EQ(kind_text(events[0].kind), "value_changed");
        EXPECT_EQ(kind_text(events[1].kind), "state_changed(checked, true)");
        EXPECT_LE(events[0].timestamp, events[1].timestamp);

        act(pids::kSettings, "settings.hidemenu");
        EXPECT_EQ(take_lines(sub, 2), (std::vector<std::string>{
                                          "value_changed " + name,
                                          "state_changed(checked, false) " + name}));
    }
    // Dropped: the observer and everything it registered are gone (the fixture checks the
    // platform objects).
    EXPECT_EQ(sd::notification_registrations(pids::kSettings), 0u);
}

TEST_F(EventsTest, TheDesktopNotifiesAsARealApplicationWould) {
    Subscription sub = subscribe(pids::kSettings);
    sd::set_settable(find(pids::kSettings, "settings.window"), "AXTitle", true);
    struct Case {
        const char* what;
        std::function<void()> change;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"a text field's value",
         [] { write(pids::kSettings, "settings.name", "AXValue", ax::make_cf_string("Mac").get()); },
         {"value_changed Computer name", "text_changed Computer name"}},
        {"a label's value, through a button",
         [] { act(pids::kSettings, "settings.apply"); },
         {"value_changed Applied", "name_changed Applied"}},
        {"a window title",
         [] {
             write(pids::kSettings, "settings.window", "AXTitle",
                   ax::make_cf_string("Preferences").get());
         },
         {"name_changed Preferences"}},
        {"focus",
         [] {
             write(pids::kSettings, "settings.name", "AXFocused", safe_cf_boolean_get_constant(true));
         },
         {"focus_changed Computer name"}},
        {"a menu",
         [] { act(pids::kSettings, "settings.language"); },
         {"menu_opened <unnamed>"}},
        {"a new window",
         [] {
             sd::add_element(*sd::application_element(pids::kSettings),
                             window("About")
                                 .identifier("settings.about")
                                 .action("AXRaise", sd::Effect::raise())
                                 .child(ElementSpec("AXButton")
                                            .subrole("AXCloseButton")
                                            .identifier("settings.about.close")
                                            .action("AXPress", sd::Effect::close_window())));
         },
         {"window_opened About"}},
        {"the new window raised",
         [] { act(pids::kSettings, "settings.about", "AXRaise"); },
         {"window_activated About"}},
        {"minimising",
         [] { act(pids::kSettings, "settings.window.minimize"); },
         {"state_changed(minimized, true) Preferences"}},
        // The window is gone by the time its notification is handled: nothing can tell it was
        // a window any more.
        {"closing",
         [] { act(pids::kSettings, "settings.about.close"); },
         {"structure_changed -"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        EXPECT_EQ(take_lines(sub, c.events.size()), c.events);
    }
    EXPECT_FALSE(sub.try_recv());
}

TEST_F(EventsTest, AnUnreadableTargetCostsOnlyTheTarget) {
    Subscription sub = subscribe(pids::kSettings);
    // The callback reads the role, then the snapshot's batch and, that failing, the role again.
    sd::add_fault({.call = "AXUIElementCopyMultipleAttributeValues",
                   .kind = sd::Fault::Kind::Code,
                   .code = kAXErrorFailure,
                   .pid = pids::kSettings,
                   .times = 0});
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = kAXErrorFailure,
                   .name = "AXRole",
                   .pid = pids::kSettings,
                   .nth = 2});
    testing::internal::CaptureStderr();
    act(pids::kSettings, "settings.scrollbars");
    auto lines = take_lines(sub, 2);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines, (std::vector<std::string>{"value_changed -", "state_changed(checked, false) -"}));
    EXPECT_EQ(err,
              "AX notification target snapshot failed (160): Platform { code: -25200, message: "
              "\"AXRole read failed while building an element snapshot (AXError -25200); the "
              "element is unreadable, not role-less\" }\n");
}

TEST_F(EventsTest, SubscribeFailures) {
    struct Case {
        const char* what;
        std::optional<sd::Fault> fault;
        std::string error;
    };
    const Case cases[] = {
        {"observer", sd::Fault{.call = "AXObserverCreate", .kind = sd::Fault::Kind::Code},
         "Platform { code: -25200, message: \"AXObserverCreate failed\" }"},
        {"application",
         sd::Fault{.call = "AXUIElementCreateApplication", .kind = sd::Fault::Kind::ReturnNull},
         "SelectorNotMatched { selector: \"application[pid=160]\", diagnosis: Some(Diagnosis { "
         "condition: None, selector: None, last_observed: Some(\"AXUIElementCreateApplication "
         "returned NULL while subscribing\"), candidates: [], scope: None }) }"},
        {"an unsupported notification gives up at once",
         sd::Fault{.call = "AXObserverAddNotification",
                   .kind = sd::Fault::Kind::Code,
                   .code = kAXErrorAttributeUnsupported,
                   .name = "AXTitleChanged",
                   .times = 0},
         "Platform { code: -25205, message: \"AXObserverAddNotification(AXTitleChanged) "
         "failed\" }"},
        {"no run-loop source",
         sd::Fault{.call = "AXObserverGetRunLoopSource", .kind = sd::Fault::Kind::ReturnNull},
         "Platform { code: -1, message: \"Failed to start observer RunLoop\" }"},
        // The loop runs but never reports: the wait runs out and the loop must be stopped.
        {"the loop's entry observer cannot be added",
         sd::Fault{.call = "CFRunLoopAddObserver", .kind = sd::Fault::Kind::Raise},
         "Platform { code: -1, message: \"Failed to start observer RunLoop\" }"},
        {"an element without a pid", std::nullopt,
         "Platform { code: -1, message: \"Element has no PID for subscribe\" }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto app = value_of(provider().app_by_pid(pids::kSettings));
        if (c.fault) sd::add_fault(*c.fault);
        else app.pid.reset();
        // A short start wait: the loop that never reports costs no five seconds.
        auto sub = ax::subscribe_observer(app, ax::RetryClock::real(), 200ms);
        EXPECT_EQ(error_text(sub), c.error);
        sd::clear_faults();
        EXPECT_EQ(sd::notification_registrations(pids::kSettings), 0u);
    }
}

// The registration retry on a virtual clock: no test waits the two seconds.
class RegistrationTest : public EventsTest {
protected:
    struct VirtualClock {
        std::chrono::steady_clock::time_point now{};
        ax::RetryClock clock() {
            return {.now = [this] { return now; },
                    .sleep = [this](std::chrono::milliseconds d) { now += d; }};
        }
    };

    void SetUp() override {
        EventsTest::SetUp();
        AXObserverRef raw = nullptr;
        ASSERT_EQ(safe_ax_observer_create(pids::kNotes, ax::ax_observer_callback, &raw), 0);
        observer_ = ax::CfRef::adopt(raw);
        application_ = AXElement::adopt(safe_ax_create_application(pids::kNotes));
        sd::clear_call_log();
    }
    void TearDown() override {
        application_ = {};
        observer_ = {};
        EventsTest::TearDown();
    }
    Result<void> register_all(VirtualClock& clock) {
        return ax::register_notifications(
            static_cast<AXObserverRef>(const_cast<void*>(observer_.get())), application_,
            nullptr, clock.clock());
    }
    ax::CfRef observer_;
    AXElement application_;
};

TEST_F(RegistrationTest, AnApplicationThatNeverAnswersIsGivenUpAfterTwoSeconds) {
    sd::add_fault({.call = "AXObserverAddNotification",
                   .kind = sd::Fault::Kind::Code,
                   .code = ax::kCannotComplete,
                   .times = 0});
    VirtualClock clock;
    auto r = register_all(clock);
    EXPECT_EQ(error_text(r),
              "Platform { code: -25204, message: \"AXObserverAddNotification("
              "AXFocusedUIElementChanged) failed\" }");
    // Passes at 0.0, 0.1, ... 2.0 s: the last one starts once two whole seconds have passed.
    EXPECT_EQ(sd::call_count("AXObserverAddNotification"), 21u);
    EXPECT_EQ(clock.now.time_since_epoch(), 2000ms);
}

TEST_F(RegistrationTest, AFailedPassTakesBackWhatItRegisteredAndTriesAgain) {
    sd::add_fault({.call = "AXObserverAddNotification",
                   .kind = sd::Fault::Kind::Code,
                   .code = ax::kInvalidElement,
                   .name = "AXWindowCreated"});
    VirtualClock clock;
    EXPECT_EQ(error_text(register_all(clock)), "ok");
    EXPECT_EQ(sd::call_count("AXObserverRemoveNotification"), 4u);
    EXPECT_EQ(sd::call_count("AXObserverAddNotification"), 5u + 16u);
    EXPECT_EQ(sd::notification_registrations(pids::kNotes), 16u);
    EXPECT_EQ(clock.now.time_since_epoch(), 100ms);
}

}  // namespace
}  // namespace vemor::axtest
