// The simulated desktop: its tree, actions and writes with their effects, observers on run
// loops, latency and time-outs, trust, input events.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "standin_fixture.hpp"

namespace vemor::standin_test {
namespace {

namespace pids = sd::default_pids;
using sd::ElementSpec;

using StandinDesktopTest = StandinTest;

std::vector<std::string> titles_of(CFTypeRef array, const char* attribute = "AXTitle") {
    std::vector<std::string> out;
    auto list = static_cast<CFArrayRef>(array);
    for (CFIndex i = 0; i < safe_cf_array_get_count(list); ++i) {
        auto e = static_cast<AXUIElementRef>(safe_cf_array_get_value(list, i));
        Read r = read(e, attribute);
        out.push_back(r.code == 0 ? text_of(r.value.get()) : "<" + std::to_string(r.code) + ">");
    }
    return out;
}

int64_t number(CFTypeRef n) {
    int64_t v = -1;
    safe_cf_number_get_value(static_cast<CFNumberRef>(n), kCFNumberSInt64Type, &v);
    return v;
}

double real(CFTypeRef n) {
    double v = -1;
    safe_cf_number_get_value(static_cast<CFNumberRef>(n), kCFNumberFloat64Type, &v);
    return v;
}

TEST_F(StandinDesktopTest, ApplicationsListTheirWindowsAndChildren) {
    auto notes = own(safe_ax_create_application(pids::kNotes));
    Read windows = read(notes.get(), "AXWindows");
    ASSERT_EQ(windows.code, 0);
    EXPECT_EQ(titles_of(windows.value.get()), (std::vector<std::string>{"Notes", "Archive"}));
    Read children = read(notes.get(), "AXChildren");
    EXPECT_EQ(titles_of(children.value.get(), "AXRole"),
              (std::vector<std::string>{"AXMenuBar", "AXWindow", "AXWindow"}));

    auto finder = own(safe_ax_create_application(pids::kFinder));
    Read desktop = read(finder.get(), "AXChildren");
    EXPECT_EQ(titles_of(desktop.value.get(), "AXDescription"),
              (std::vector<std::string>{"<-25205>", "desktop", "<-25205>"}));

    // Status items hang off AXExtrasMenuBar, not AXChildren.
    auto ui = own(safe_ax_create_application(pids::kSystemUIServer));
    Read extras = read(ui.get(), "AXExtrasMenuBar");
    ASSERT_EQ(extras.code, 0);
    Read items = read(static_cast<AXUIElementRef>(extras.value.get()), "AXChildren");
    EXPECT_EQ(titles_of(items.value.get(), "AXDescription"),
              (std::vector<std::string>{"Wi-Fi", "Battery", "Clock"}));
    EXPECT_EQ(titles_of(read(ui.get(), "AXChildren").value.get()), std::vector<std::string>{});
}

TEST_F(StandinDesktopTest, WindowAttributes) {
    auto window = element(pids::kSettings, "settings.window");
    Read close = read(window.get(), "AXCloseButton");
    ASSERT_EQ(close.code, 0);
    EXPECT_EQ(
        text_of(read(static_cast<AXUIElementRef>(close.value.get()), "AXSubrole").value.get()),
        "AXCloseButton");
    Read pos = read(window.get(), "AXPosition");
    CGPoint p{};
    ASSERT_TRUE(
        safe_ax_value_get_value(static_cast<AXValueRef>(pos.value.get()), kAXValueCGPointType, &p));
    EXPECT_EQ(p.x, 200);
    EXPECT_EQ(p.y, 160);
    EXPECT_EQ(read(window.get(), "AXHelp").code, kAXErrorAttributeUnsupported);
    auto status = element(pids::kSettings, "settings.status");
    Read parent = read(status.get(), "AXWindow");
    EXPECT_TRUE(safe_cf_equal(parent.value.get(), window.get()));
    auto app = own(safe_ax_create_application(pids::kSettings));
    EXPECT_EQ(read(app.get(), "AXParent").code, kAXErrorNoValue);
}

TEST_F(StandinDesktopTest, SystemWideFocus) {
    auto system = own(safe_ax_create_system_wide());
    Read app = read(system.get(), "AXFocusedApplication");
    ASSERT_EQ(app.code, 0);
    pid_t pid = 0;
    EXPECT_EQ(safe_ax_get_pid(static_cast<AXUIElementRef>(app.value.get()), &pid), 0);
    EXPECT_EQ(pid, pids::kTextEdit);
    auto created = own(safe_ax_create_application(pids::kTextEdit));
    EXPECT_TRUE(safe_cf_equal(created.get(), app.value.get()));
    EXPECT_EQ(safe_cf_hash(created.get()), safe_cf_hash(app.value.get()));
    Read focused = read(system.get(), "AXFocusedUIElement");
    EXPECT_TRUE(
        safe_cf_equal(focused.value.get(), element(pids::kTextEdit, "textedit.text").get()));

    sd::set_focused_application(0);
    EXPECT_EQ(read(system.get(), "AXFocusedApplication").code, kAXErrorNoValue);
}

// Every way of reaching an application's root element denotes the same element: equal, with
// one hash, whichever reference was made first.
TEST_F(StandinDesktopTest, ApplicationReferencesEqualTheirRootElement) {
    const pid_t pid = pids::kSettings;
    auto system = own(safe_ax_create_system_wide());
    sd::set_focused_application(pid);
    Read focused = read(system.get(), "AXFocusedApplication");
    Read window_parent = read(element(pid, "settings.window").get(), "AXParent");
    Read bar_parent = read(element(pid, "settings.menubar").get(), "AXParent");
    auto created = own(safe_ax_create_application(pid));
    auto root = own(sd::element_ref(*sd::application_element(pid)));
    struct Way {
        const char* name;
        CFTypeRef ref;
    };
    const Way ways[] = {
        {"AXUIElementCreateApplication", created.get()},
        {"the root element", root.get()},
        {"AXFocusedApplication", focused.value.get()},
        {"AXParent of a window", window_parent.value.get()},
        {"AXParent of the menu bar", bar_parent.value.get()},
    };
    for (const Way& a : ways) {
        for (const Way& b : ways) {
            SCOPED_TRACE(std::string(a.name) + " / " + b.name);
            ASSERT_NE(a.ref, nullptr);
            EXPECT_TRUE(safe_cf_equal(a.ref, b.ref));
            EXPECT_EQ(safe_cf_hash(a.ref), safe_cf_hash(b.ref));
        }
    }
    EXPECT_FALSE(safe_cf_equal(created.get(), element(pid, "settings.window").get()));
    auto other = own(safe_ax_create_application(pids::kNotes));
    EXPECT_FALSE(safe_cf_equal(created.get(), other.get()));

    // A reference made before the application exists: the same hash before and after, and
    // equal to the root once the application is there.
    auto early = own(safe_ax_create_application(901));
    const CFHashCode before = safe_cf_hash(early.get());
    sd::add_application(sd::AppSpec{.pid = 901, .name = "Late"});
    auto late_root = own(sd::element_ref(*sd::application_element(901)));
    EXPECT_EQ(safe_cf_hash(early.get()), before);
    EXPECT_TRUE(safe_cf_equal(early.get(), late_root.get()));
    EXPECT_EQ(safe_cf_hash(late_root.get()), before);
    // Once the application is gone its old root is stale: equal only to itself.
    sd::remove_application(901);
    EXPECT_FALSE(safe_cf_equal(early.get(), late_root.get()));
    EXPECT_EQ(safe_cf_hash(late_root.get()), before);
}

TEST_F(StandinDesktopTest, ProcessesWithoutAnAccessibilityBridgeAnswerNotImplemented) {
    sd::add_application(sd::AppSpec{.pid = 902, .name = "Daemon", .accessible = false});
    auto app = own(safe_ax_create_application(902));
    EXPECT_EQ(read(app.get(), "AXRole").code, kAXErrorNotImplemented);
    EXPECT_EQ(safe_ax_perform_action(app.get(), str("AXRaise").get()), kAXErrorNotImplemented);
    // The pid is known without asking the process.
    pid_t pid = 0;
    EXPECT_EQ(safe_ax_get_pid(app.get(), &pid), 0);
    EXPECT_EQ(pid, 902);
}

TEST_F(StandinDesktopTest, ActionsAndWritesHaveEffects) {
    auto bold = element(pids::kTextEdit, "textedit.bold");
    auto press = str("AXPress");
    ASSERT_EQ(safe_ax_perform_action(bold.get(), press.get()), 0);
    EXPECT_EQ(number(read(bold.get(), "AXValue").value.get()), 1);
    ASSERT_EQ(safe_ax_perform_action(bold.get(), press.get()), 0);
    EXPECT_EQ(number(read(bold.get(), "AXValue").value.get()), 0);
    EXPECT_EQ(safe_ax_perform_action(bold.get(), str("AXIncrement").get()),
              kAXErrorActionUnsupported);

    auto dark = element(pids::kSettings, "settings.dark");
    ASSERT_EQ(safe_ax_perform_action(dark.get(), press.get()), 0);
    EXPECT_EQ(number(read(dark.get(), "AXValue").value.get()), 1);
    EXPECT_EQ(number(read(element(pids::kSettings, "settings.light").get(), "AXValue").value.get()),
              0);

    auto volume = element(pids::kSettings, "settings.volume");
    ASSERT_EQ(safe_ax_perform_action(volume.get(), str("AXIncrement").get()), 0);
    EXPECT_EQ(real(read(volume.get(), "AXValue").value.get()), 60.0);
    auto too_loud = own(safe_cf_number_create_f64(250));
    ASSERT_EQ(safe_ax_set_attribute_value(volume.get(), str("AXValue").get(), too_loud.get()), 0);
    EXPECT_EQ(real(read(volume.get(), "AXValue").value.get()), 100.0);
    EXPECT_EQ(safe_ax_set_attribute_value(volume.get(), str("AXValue").get(), str("loud").get()),
              kAXErrorIllegalArgument);
    EXPECT_EQ(safe_ax_set_attribute_value(volume.get(), str("AXRole").get(), str("x").get()),
              kAXErrorActionUnsupported);

    auto apply = element(pids::kSettings, "settings.apply");
    ASSERT_EQ(safe_ax_perform_action(apply.get(), press.get()), 0);
    EXPECT_EQ(
        text_of(read(element(pids::kSettings, "settings.status").get(), "AXValue").value.get()),
        "Applied");
}

TEST_F(StandinDesktopTest, TypingReplacesTheSelection) {
    auto text = element(pids::kTextEdit, "textedit.text");
    auto range = own(safe_ax_value_create_cf_range(7, 5));
    ASSERT_EQ(
        safe_ax_set_attribute_value(text.get(), str("AXSelectedTextRange").get(), range.get()), 0);
    ASSERT_EQ(
        safe_ax_set_attribute_value(text.get(), str("AXSelectedText").get(), str("there").get()),
        0);
    EXPECT_EQ(text_of(read(text.get(), "AXValue").value.get()), "Hello, there.");
}

TEST_F(StandinDesktopTest, ClosingAWindowRemovesItAndItsEntry) {
    auto window = element(pids::kSettings, "settings.window");
    auto close = element(pids::kSettings, "settings.window.close");
    ASSERT_EQ(safe_ax_perform_action(close.get(), str("AXPress").get()), 0);
    EXPECT_EQ(read(window.get(), "AXTitle").code, kAXErrorInvalidUIElement);
    auto app = own(safe_ax_create_application(pids::kSettings));
    EXPECT_EQ(titles_of(read(app.get(), "AXWindows").value.get()), std::vector<std::string>{});
    auto list = own(safe_cg_window_list_copy(kCGWindowListOptionAll, kCGNullWindowID));
    EXPECT_EQ(safe_cf_array_get_count(list.get()), 8);
}

TEST_F(StandinDesktopTest, OnScreenListLeavesOutMinimizedWindows) {
    auto all = own(safe_cg_window_list_copy(kCGWindowListOptionAll, kCGNullWindowID));
    auto shown = own(safe_cg_window_list_copy(kCGWindowListOptionOnScreenOnly, kCGNullWindowID));
    EXPECT_EQ(safe_cf_array_get_count(all.get()), 9);
    EXPECT_EQ(safe_cf_array_get_count(shown.get()), 8);
}

TEST_F(StandinDesktopTest, ApplicationsComeAndGo) {
    sd::AppSpec spec{.pid = 900, .name = "Calc"};
    spec.element.children.push_back(
        ElementSpec("AXWindow").title("Calc").identifier("calc.w").frame(0, 0, 100, 100));
    sd::add_application(spec);
    auto app = own(safe_ax_create_application(900));
    EXPECT_EQ(text_of(read(app.get(), "AXTitle").value.get()), "Calc");
    auto list = own(safe_cg_window_list_copy(kCGWindowListOptionAll, kCGNullWindowID));
    auto first = static_cast<CFDictionaryRef>(safe_cf_array_get_value(list.get(), 0));
    EXPECT_EQ(text_of(safe_cf_dict_get_value(first, kCGWindowName)), "Calc");

    sd::remove_application(900);
    EXPECT_EQ(read(app.get(), "AXTitle").code, kAXErrorCannotComplete);
}

TEST_F(StandinDesktopTest, UntrustedProcessesAreRefused) {
    sd::set_trusted(false);
    EXPECT_FALSE(safe_ax_is_process_trusted());
    auto app = own(safe_ax_create_application(pids::kNotes));
    EXPECT_EQ(read(app.get(), "AXRole").code, kAXErrorAPIDisabled);
}

// A request times out when transfer and service together outlast its time-out, whichever of
// the two is long; the default time-out (0: the platform's) outlasts them.
TEST_F(StandinDesktopTest, SlowApplicationsTimeOut) {
    using std::chrono::milliseconds;
    const struct {
        sd::AppLatency latency;
        float timeout;
        AXError code;
    } cases[] = {
        {{.service = milliseconds(30)}, 0.005f, kAXErrorCannotComplete},
        {{.transfer = milliseconds(30)}, 0.005f, kAXErrorCannotComplete},
        {{.transfer = milliseconds(3), .service = milliseconds(3)}, 0.005f,
         kAXErrorCannotComplete},
        {{.transfer = milliseconds(2), .service = milliseconds(2)}, 0.005f, 0},
        {{.transfer = milliseconds(30), .service = milliseconds(30)}, 0, 0},
    };
    auto app = own(safe_ax_create_application(pids::kNotes));
    for (const auto& c : cases) {
        sd::set_latency(pids::kNotes, c.latency);
        ASSERT_EQ(safe_ax_set_messaging_timeout(app.get(), c.timeout), 0);
        EXPECT_EQ(read(app.get(), "AXRole").code, c.code)
            << c.latency.transfer.count() << " us + " << c.latency.service.count() << " us";
    }
}

// A time-out longer than the clock can count, on the element or system-wide, waits as long as
// the request takes; a negative or NaN one is refused and leaves the time-out as it was.
TEST_F(StandinDesktopTest, AHugeTimeOutWaitsAsLongAsTheRequestTakes) {
    using std::chrono::milliseconds;
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const struct {
        float timeout;
        AXError set;
    } cases[] = {
        {kInf, 0},
        {std::numeric_limits<float>::max(), 0},
        {1e10f, 0},
        {std::numeric_limits<float>::quiet_NaN(), kAXErrorIllegalArgument},
        {-1.0f, kAXErrorIllegalArgument},
        {-kInf, kAXErrorIllegalArgument},
    };
    sd::set_latency(pids::kNotes, {.transfer = milliseconds(1), .service = milliseconds(1)});
    auto app = own(safe_ax_create_application(pids::kNotes));
    auto system_wide = own(safe_ax_create_system_wide());
    for (const auto& c : cases) {
        for (AXUIElementRef target : {app.get(), system_wide.get()}) {
            EXPECT_EQ(safe_ax_set_messaging_timeout(target, c.timeout), c.set) << c.timeout;
            EXPECT_EQ(read(app.get(), "AXRole").code, 0) << c.timeout;
            // The element's own time-out goes back to the system-wide one.
            ASSERT_EQ(safe_ax_set_messaging_timeout(app.get(), 0), 0);
        }
    }
}

// --- Observers on run loops ------------------------------------------------------------------

TEST_F(StandinDesktopTest, ObserversDeliverOnTheirRunLoop) {
    Received received{.attribute = "AXTitle"};
    AXObserverRef observer = nullptr;
    ASSERT_EQ(safe_ax_observer_create(pids::kTextEdit, on_notification, &observer), 0);
    auto app = own(safe_ax_create_application(pids::kTextEdit));
    for (const char* n : {"AXValueChanged", "AXUIElementDestroyed"}) {
        ASSERT_EQ(safe_ax_observer_add_notification(observer, app.get(), str(n).get(), &received),
                  0);
    }
    EXPECT_EQ(safe_ax_observer_add_notification(observer, app.get(), str("AXValueChanged").get(),
                                                &received),
              kAXErrorNotificationAlreadyRegistered);
    EXPECT_EQ(sd::notification_registrations(pids::kTextEdit), 2u);

    ObserverLoop loop(observer);
    ASSERT_EQ(safe_ax_perform_action(element(pids::kTextEdit, "textedit.bold").get(),
                                     str("AXPress").get()),
              0);
    sd::post_notification(*sd::find_element(pids::kTextEdit, "textedit.save"), "AXValueChanged");
    sd::post_notification(*sd::find_element(pids::kTextEdit, "textedit.save"), "AXTitleChanged");
    auto received_lines = [&](std::size_t n) {
        return vemor::testing::eventually([&] {
            std::lock_guard lock(received.m);
            return received.lines.size() >= n;
        });
    };
    // The callbacks read the elements, so the window goes only after they ran.
    EXPECT_TRUE(received_lines(2)) << "the two value changes were never delivered";
    sd::destroy_element(*sd::find_element(pids::kTextEdit, "textedit.window"), true);
    EXPECT_TRUE(received_lines(3)) << "the window's destruction was never delivered";
    loop.stop();
    EXPECT_EQ(received.lines,
              (std::vector<std::string>{"AXValueChanged Bold", "AXValueChanged Save",
                                        "AXUIElementDestroyed -25202"}));
    safe_cf_release(observer);
    EXPECT_EQ(sd::notification_registrations(pids::kTextEdit), 0u);
}

void stop_on_entry(CFRunLoopObserverRef, CFRunLoopActivity activity, void* entries) {
    ++*static_cast<int*>(entries);
    EXPECT_EQ(activity, static_cast<CFRunLoopActivity>(kCFRunLoopEntry));
    safe_cf_run_loop_stop(safe_cf_run_loop_get_current());
}

TEST_F(StandinDesktopTest, RunLoopsWithoutSourcesReturnAtOnceAndOnlyARunningLoopStops) {
    EXPECT_EQ(safe_cf_run_loop_run_in_mode(10, false), kCFRunLoopRunFinished);
    AXObserverRef observer = nullptr;
    ASSERT_EQ(safe_ax_observer_create(pids::kNotes, on_notification, &observer), 0);
    int entries = 0;
    CFRunLoopObserverRef entry =
        safe_cf_run_loop_observer_create(kCFRunLoopEntry, true, stop_on_entry, &entries);
    ASSERT_NE(entry, nullptr);
    std::thread t([&] {
        safe_cf_run_loop_add_source(safe_ax_observer_get_run_loop_source(observer));
        safe_cf_run_loop_add_observer(entry);
        // The stop flag belongs to a run: a stop before the run is lost, and the run ends only
        // through the stop its entry observer makes.
        safe_cf_run_loop_stop(safe_cf_run_loop_get_current());
        safe_cf_run_loop_run();
        EXPECT_EQ(entries, 1);
        safe_cf_run_loop_remove_observer(entry);
        EXPECT_EQ(safe_cf_run_loop_run_in_mode(0.001, false), kCFRunLoopRunTimedOut);
    });
    t.join();
    safe_cf_release(entry);
    safe_cf_release(observer);
}

// --- Input events --------------------------------------------------------------------------

TEST_F(StandinDesktopTest, PostedEventsAreLoggedAndMoveThePointer) {
    sd::clear_posted_events();
    CGEventRef move =
        CGEventCreateMouseEvent(nullptr, kCGEventMouseMoved, CGPoint{40, 50}, kCGMouseButtonLeft);
    CGEventSetFlags(move, kCGEventFlagMaskShift);
    CGEventPost(kCGHIDEventTap, move);
    CFRelease(move);
    CGEventRef key = CGEventCreateKeyboardEvent(nullptr, 0, true);
    const UniChar text[] = {'h', 'i'};
    CGEventKeyboardSetUnicodeString(key, 2, text);
    CGEventPost(kCGHIDEventTap, key);
    CFRelease(key);
    CGEventRef wheel = CGEventCreateScrollWheelEvent(nullptr, kCGScrollEventUnitLine, 2, 3, -1);
    CGEventPost(kCGHIDEventTap, wheel);
    CFRelease(wheel);

    auto events = sd::posted_events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].type, static_cast<CGEventType>(kCGEventMouseMoved));
    EXPECT_EQ(events[0].flags, static_cast<CGEventFlags>(kCGEventFlagMaskShift));
    EXPECT_EQ(events[1].text, u"hi");
    EXPECT_TRUE(events[1].key_down);
    EXPECT_EQ(events[2].wheel1, 3);
    EXPECT_EQ(events[2].wheel2, -1);
    CGEventRef here = CGEventCreate(nullptr);
    EXPECT_EQ(CGEventGetLocation(here).x, 40);
    EXPECT_EQ(CGEventGetLocation(here).y, 50);
    CFRelease(here);
}

// Every number a desktop description turns into an integer is whole and fits, or the
// description is refused with the line and what is wrong.
TEST(DesktopJsonIntegers, AreWholeAndInRange) {
    const auto app = [](std::string pid, std::string value) {
        return "{\"base\": \"empty\", \"apps\": [{\"pid\": " + pid +
               ", \"name\": \"A\",\n \"value\": " + value + "}]}";
    };
    const std::string location = "d:2: \"range\" location must be ";
    const std::string length = "d:2: \"range\" length must be ";
    const std::string cf_index = "from -9223372036854775808 to 9223372036854775807";
    struct Case {
        std::string json;
        std::string error;  // empty: accepted
        CFRange range = {};
    };
    const Case cases[] = {
        {app("5", "{\"range\": [1e300, 0]}"), location + "an integer"},
        {app("5", "{\"range\": [1.5, 0]}"), location + "an integer"},
        {app("5", "{\"range\": [0, 2.0]}"), length + "an integer"},
        {app("5", "{\"range\": [9223372036854775808, 0]}"), location + cf_index},
        {app("5", "{\"range\": [0, -9223372036854775809]}"), length + cf_index},
        {app("5", "{\"range\": [9223372036854775807, -9223372036854775808]}"), "",
         CFRange{std::numeric_limits<CFIndex>::max(), std::numeric_limits<CFIndex>::min()}},
        {app("1e300", "null"), "d:1: \"pid\" must be an integer"},
        {app("99999999999999999999", "null"), "d:1: \"pid\" must be a positive process id"},
        {app("4294967301", "null"), "d:1: \"pid\" must be a positive process id"},
        {"{\"focused_app\":\n\n -1}", "d:3: \"focused_app\" must be a positive process id"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        auto spec = sd::parse_desktop_json(c.json, "d");
        if (!c.error.empty()) {
            ASSERT_FALSE(spec);
            EXPECT_EQ(spec.error(), c.error);
            continue;
        }
        ASSERT_TRUE(spec) << spec.error();
        const sd::Value& value = spec->apps.at(0).element.attributes.at("AXValue");
        ASSERT_NE(value.get<CFRange>(), nullptr);
        EXPECT_EQ(value.get<CFRange>()->location, c.range.location);
        EXPECT_EQ(value.get<CFRange>()->length, c.range.length);
    }
}

}  // namespace
}  // namespace vemor::standin_test
