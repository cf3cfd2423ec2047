#include "vemor/macos/windows.hpp"

#include <functional>

#include "ax_test_support.hpp"
#include "virtual_clock.hpp"

namespace vemor::axtest {
namespace {

namespace pids = sd::default_pids;
using Arrange = std::function<void(sd::ElementId, AXElement&, VirtualClock&)>;

// An operation by name: move_to and resize_to with their two numbers, every other one through
// perform_action, which leads to the window operation of that name.
struct Op {
    std::string_view name;
    std::int32_t a = 0, b = 0;
};

Result<void> apply(const MacOSProvider& p, const ElementData& e, const Op& op) {
    if (op.name == "move_to") return p.move_to(e, op.a, op.b);
    if (op.name == "resize_to")
        return p.resize_to(e, static_cast<std::uint32_t>(op.a), static_cast<std::uint32_t>(op.b));
    return p.perform_action(e, op.name);
}

bool holds(pid_t pid, const char* identifier, const char* attribute, const sd::Value& value) {
    auto id = sd::find_element(pid, identifier);
    return id && sd::attribute(*id, attribute) == std::optional<sd::Value>(value);
}

sd::Fault code_fault(const char* call, AXError code, const char* name) {
    return {.call = call, .kind = sd::Fault::Kind::Code, .code = code, .name = name};
}

void nothing(sd::ElementId, AXElement&, VirtualClock&) {}

struct Case {
    const char* name;
    pid_t pid;
    const char* window;
    Arrange arrange;
    Op op;
    std::string outcome;  // "ok" or the error's message
    std::function<bool()> shows = [] { return true; };
    std::size_t writes = 0;  // of AXPosition, for move_to
};

// Window operations on the default desktop, in virtual time.
class WindowsTest : public DesktopTest {
protected:
    void run(const Case& c) {
        SCOPED_TRACE(c.name);
        install(sd::default_desktop());
        const sd::ElementId id = find(c.pid, c.window);
        const ElementData window =
            value_of(provider().build_element_data(element(id), static_cast<std::uint32_t>(c.pid)));
        AXElement cached = value_of(provider().get_cached(window.handle));
        VirtualClock clock;
        c.arrange(id, cached, clock);
        sd::clear_call_log();
        auto r = apply(provider(), window, c.op);
        EXPECT_EQ(r ? "ok" : r.error().message(), c.outcome);
        if (c.shows) {
            EXPECT_TRUE(c.shows());
        }
        if (c.op.name == "move_to") {
            EXPECT_EQ(sd::call_count("AXUIElementSetAttributeValue", "AXPosition"), c.writes);
        }
        sd::clear_faults();
        cached = {};
        check_released();
    }
};

TEST_F(WindowsTest, OperationsDoWhatTheUserSees) {
    using namespace pids;
    const auto fullscreen = [](sd::ElementId, AXElement& w, VirtualClock&) {
        ASSERT_TRUE(ax::set_bool_attr(w, "AXFullScreen", true, "test", Role::Window));
    };
    const Case cases[] = {
        {"minimize",
         kSettings,
         "settings.window",
         nothing,
         {"minimize"},
         "ok",
         [] { return holds(kSettings, "settings.window", "AXMinimized", true); }},
        {"restore from the Dock",
         kNotes,
         "notes.archive",
         nothing,
         {"restore"},
         "ok",
         [] { return holds(kNotes, "notes.archive", "AXMinimized", false); }},
        {"full screen fills the display",
         kSettings,
         "settings.window",
         nothing,
         {"enter_fullscreen"},
         "ok",
         [] {
             return holds(kSettings, "settings.window", "AXSize", CGSize{1440, 900});
         }},
        // Already in full screen with a read-only attribute: confirmed, never written.
        {"full screen already, read-only",
         kSettings,
         "settings.window",
         [](auto w, auto&, auto&) {
             sd::set_attribute(w, "AXFullScreen", true);
             sd::set_settable(w, "AXFullScreen", false);
         },
         {"enter_fullscreen"},
         "ok",
         [] { return sd::call_count("AXUIElementSetAttributeValue") == 0; }},
        {"full screen from the Dock",
         kNotes,
         "notes.archive",
         nothing,
         {"enter_fullscreen"},
         "ok",
         [] { return holds(kNotes, "notes.archive", "AXMinimized", false); }},
        // A full-screen window must leave full screen before it can go to the Dock.
        {"minimize a full-screen window",
         kTextEdit,
         "textedit.window",
         fullscreen,
         {"minimize"},
         "ok",
         [] {
             return holds(kTextEdit, "textedit.window", "AXPosition", CGPoint{300, 100}) &&
                    holds(kTextEdit, "textedit.window", "AXMinimized", true);
         }},
        {"activate a minimised window of a background application",
         kNotes,
         "notes.archive",
         nothing,
         {"activate"},
         "ok",
         [] {
             return holds(kNotes, "notes.archive", "AXMinimized", false) &&
                    holds(kNotes, "notes.archive", "AXMain", true) &&
                    sd::attribute(*sd::application_element(kNotes), "AXFrontmost") ==
                        std::optional<sd::Value>(true);
         }},
        {"activate without a minimised state still raises",
         kSettings,
         "settings.window",
         [](auto w, auto&, auto&) { sd::remove_attribute(w, "AXMinimized"); },
         {"activate"},
         "ok",
         [] { return holds(kSettings, "settings.window", "AXMain", true); }},
        {"close",
         kTextEdit,
         "textedit.window",
         nothing,
         {"close"},
         "ok",
         [] { return !sd::find_element(kTextEdit, "textedit.window"); }},
        {"close by the child button",
         kTextEdit,
         "textedit.window",
         [](auto w, auto&, auto&) { sd::set_attribute(w, "AXCloseButton", {}); },
         {"close"},
         "ok",
         [] { return !sd::find_element(kTextEdit, "textedit.window"); }},
        {"move_to carries the content along",
         kSettings,
         "settings.window",
         nothing,
         {"move_to", 400, 300},
         "ok",
         [] {
             return holds(kSettings, "settings.apply", "AXPosition", CGPoint{900, 720});
         },
         1},
        {"resize_to",
         kSettings,
         "settings.window",
         nothing,
         {"resize_to", 500, 400},
         "ok",
         [] {
             return holds(kSettings, "settings.window", "AXSize", CGSize{500, 400});
         }},
    };
    for (const auto& c : cases) run(c);
}

TEST_F(WindowsTest, RefusalsTouchNothing) {
    using namespace pids;
    const auto settable = [](const char* attribute, bool on) {
        return
            [=](sd::ElementId w, AXElement&, VirtualClock&) { sd::set_settable(w, attribute, on); };
    };
    const auto stale = [](sd::ElementId w, AXElement&, VirtualClock&) { sd::destroy_element(w); };
    const auto untouched = [] {
        return sd::call_count("AXUIElementSetAttributeValue") == 0 &&
               sd::call_count("AXUIElementPerformAction") == 0;
    };
    const std::pair<Op, std::string> refused[] = {
        {{"minimize"}, "AXMinimized"},
        {{"restore"}, "AXMinimized"},
        {{"move_to", 1, 2}, "AXPosition"},
        {{"resize_to", 1, 2}, "AXSize"},
    };
    for (const auto& [op, attribute] : refused) {
        auto arrange = [&](sd::ElementId w, AXElement& e, VirtualClock& c) {
            settable(attribute.c_str(), false)(w, e, c);
            if (op.name == "restore") sd::set_settable(w, "AXFullScreen", false);
        };
        run({"read-only", kSettings, "settings.window", arrange, op,
             fmt::format("Action {} not supported on window", op.name), untouched});
    }
    const Case cases[] = {
        {"full screen that cannot be left",
         kSettings,
         "settings.window",
         [](auto w, auto&, auto&) {
             sd::set_attribute(w, "AXFullScreen", true);
             sd::set_settable(w, "AXFullScreen", false);
         },
         {"minimize"},
         "Action minimize not supported on window",
         untouched},
        {"full screen read-only and off",
         kSettings,
         "settings.window",
         settable("AXFullScreen", false),
         {"enter_fullscreen"},
         "Action enter_fullscreen not supported on window",
         untouched},
        {"minimised for good",
         kNotes,
         "notes.archive",
         settable("AXMinimized", false),
         {"enter_fullscreen"},
         "Action enter_fullscreen not supported on window",
         untouched},
        {"no close button",
         kSettings,
         "settings.window",
         [](auto w, auto&, auto&) {
             sd::destroy_element(find(kSettings, "settings.window.close"));
             sd::set_attribute(w, "AXCloseButton", {});
         },
         {"close"},
         "Action close not supported on window",
         untouched},
        // maximize never even looks the window up.
        {"maximize",
         kSettings,
         "settings.window",
         stale,
         {"maximize"},
         "Unsupported: maximize on window: macOS Accessibility has no readable or writable zoom "
         "state",
         untouched},
        {"stale",
         kSettings,
         "settings.window",
         stale,
         {"minimize"},
         "Platform error (-25202): AXMinimized read failed while handling minimize on a window "
         "(AXError -25202); the state is unknown, not false"},
    };
    for (const auto& c : cases) run(c);
}

TEST_F(WindowsTest, MoveToWaitsUntilTheWindowIsWithinTwoPoints) {
    using namespace pids;
    // The Settings window stands at (200, 160).
    const auto stuck_at = [](CGPoint p) {
        return [=](sd::ElementId w, AXElement&, VirtualClock&) {
            sd::set_attribute(w, "AXPosition", p);
            sd::delay_writes(w, "AXPosition", std::nullopt);
        };
    };
    const auto fault = [](sd::Fault f) {
        return [=](sd::ElementId, AXElement&, VirtualClock&) { sd::add_fault(f); };
    };
    const std::string timeout = "Timeout after 5.0s; waiting for: window reaches position ";
    const Case cases[] = {
        {"two points off on each axis: there",
         kSettings,
         "settings.window",
         nothing,
         {"move_to", 202, 158},
         "ok",
         {},
         0},
        {"three points off: moved",
         kSettings,
         "settings.window",
         nothing,
         {"move_to", 203, 160},
         "ok",
         {},
         1},
        {"stuck",
         kSettings,
         "settings.window",
         stuck_at({90, 200}),
         {"move_to", 100, 200},
         timeout + "(100, 200) within 2 points; last observed: AXPosition reads (90, 200)",
         {},
         101},
        {"fractions",
         kSettings,
         "settings.window",
         stuck_at({-0.5, 12.25}),
         {"move_to", 100, -200},
         timeout + "(100, -200) within 2 points; last observed: AXPosition reads (-0.5, 12.25)",
         {},
         101},
        {"no position: written on every poll",
         kSettings,
         "settings.window",
         [](auto w, auto&, auto&) {
             sd::set_attribute(w, "AXPosition", {});
             sd::delay_writes(w, "AXPosition", std::nullopt);
         },
         {"move_to", 100, 200},
         timeout + "(100, 200) within 2 points; last observed: the window has no AXPosition "
                   "attribute",
         {},
         101},
        {"cached reference went bad: the listed window moves",
         kSettings,
         "settings.window",
         [](auto w, auto& cached, auto& clock) {
             sd::delay_writes(w, "AXPosition", 1);
             clock.after_each_sleep([&cached](int n) {
                 if (n == 1) sd::invalidate_reference(cached.get());
             });
         },
         {"move_to", 400, 300},
         "ok",
         {},
         2},
        {"window gone: polling stays on the cached reference",
         kSettings,
         "settings.window",
         [](auto w, auto&, auto& clock) {
             sd::delay_writes(w, "AXPosition", std::nullopt);
             clock.after_each_sleep([w](int n) {
                 if (n == 1) sd::renew_element(w);
             });
         },
         {"move_to", 400, 300},
         timeout + "(400, 300) within 2 points; last observed: Platform error (-25202): "
                   "AXPosition read failed while handling move_to on a window (AXError -25202); "
                   "the position is unknown",
         {},
         1},
        {"unreadable",
         kSettings,
         "settings.window",
         fault(code_fault("AXUIElementCopyAttributeValue", kAXErrorCannotComplete, "AXPosition")),
         {"move_to", 400, 300},
         "Platform error (-25204): AXPosition read failed while handling move_to on a window "
         "(AXError -25204); the position is unknown",
         {},
         0},
        {"not a point",
         kSettings,
         "settings.window",
         [](auto w, auto&, auto&) { sd::set_attribute(w, "AXPosition", "left"); },
         {"move_to", 400, 300},
         "Platform error (-1): AXPosition returned a non-point value while handling move_to on a "
         "window; the position is unknown",
         {},
         0},
        {"write refused",
         kSettings,
         "settings.window",
         fault(code_fault("AXUIElementSetAttributeValue", kAXErrorActionUnsupported, "AXPosition")),
         {"move_to", 400, 300},
         "Action move_to not supported on window",
         {},
         1},
        {"write failed",
         kSettings,
         "settings.window",
         fault(code_fault("AXUIElementSetAttributeValue", kAXErrorFailure, "AXPosition")),
         {"move_to", 400, 300},
         "Platform error (-25200): Set AXPosition failed",
         {},
         1},
        // The application may adjust the size afterwards; the accepted write alone counts.
        {"resize_to does not wait",
         kSettings,
         "settings.window",
         [](auto w, auto&, auto&) { sd::delay_writes(w, "AXSize", std::nullopt); },
         {"resize_to", 300, 200},
         "ok"},
        {"resize_to failed",
         kSettings,
         "settings.window",
         fault(code_fault("AXUIElementSetAttributeValue", kAXErrorFailure, "AXSize")),
         {"resize_to", 300, 200},
         "Platform error (-25200): Set AXSize failed"},
    };
    for (const auto& c : cases) run(c);
}

}  // namespace
}  // namespace vemor::axtest
