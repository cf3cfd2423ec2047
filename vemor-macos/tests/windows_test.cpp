#include "vemor/macos/windows.hpp"

#include <functional>

#include "ax_test_support.hpp"
#include "virtual_clock.hpp"

namespace vemor::axtest {
namespace {

namespace pids = sd::default_pids;

bool holds(sd::ElementId id, const std::string& attribute, const sd::Value& value) {
    return sd::attribute(id, attribute) == std::optional<sd::Value>(value);
}

sd::Fault code_fault(std::string call, AXError code, std::string name = {}) {
    sd::Fault f{.call = std::move(call), .kind = sd::Fault::Kind::Code, .code = code};
    if (!name.empty()) f.name = std::move(name);
    return f;
}

// Window operations on the default desktop, in virtual time.
class WindowsTest : public DesktopTest {
protected:
    void SetUp() override { install(sd::default_desktop()); }

    // A snapshot of the window (or other element) with this identifier.
    ElementData snapshot(pid_t pid, const std::string& identifier) {
        auto data = value_of(provider().build_element_data(element(find(pid, identifier)), pid));
        sd::clear_call_log();
        return data;
    }
    std::size_t writes(const std::string& attribute = {}) const {
        return sd::call_count("AXUIElementSetAttributeValue", attribute);
    }
};

TEST_F(WindowsTest, OperationsDoWhatTheUserSees) {
    const auto settings = [] { return find(pids::kSettings, "settings.window"); };
    const auto text_edit = [] { return find(pids::kTextEdit, "textedit.window"); };
    const auto archive = [] { return find(pids::kNotes, "notes.archive"); };
    struct Case {
        const char* name;
        pid_t pid;
        const char* window;
        std::function<void(const MacOSProvider&, const ElementData&)> arrange;
        std::function<Result<void>(const MacOSProvider&, const ElementData&)> act;
        std::function<void()> check;
    };
    const auto none = [](const MacOSProvider&, const ElementData&) {};
    const Case cases[] = {
        {"minimize", pids::kSettings, "settings.window", none,
         [](auto& p, auto& w) { return p.minimize(w); },
         [&] { EXPECT_TRUE(holds(settings(), "AXMinimized", true)); }},
        {"restore a minimised window", pids::kNotes, "notes.archive", none,
         [](auto& p, auto& w) { return p.restore(w); },
         [&] { EXPECT_TRUE(holds(archive(), "AXMinimized", false)); }},
        {"enter full screen: the window fills the display", pids::kSettings, "settings.window",
         none, [](auto& p, auto& w) { return p.enter_fullscreen(w); },
         [&] {
             EXPECT_TRUE(holds(settings(), "AXFullScreen", true));
             EXPECT_TRUE(holds(settings(), "AXPosition", CGPoint{0, 0}));
             EXPECT_TRUE(holds(settings(), "AXSize", CGSize{1440, 900}));
         }},
        {"enter full screen from the Dock", pids::kNotes, "notes.archive", none,
         [](auto& p, auto& w) { return p.enter_fullscreen(w); },
         [&] {
             EXPECT_TRUE(holds(archive(), "AXMinimized", false));
             EXPECT_TRUE(holds(archive(), "AXFullScreen", true));
         }},
        {"minimize a full-screen window: it leaves full screen first", pids::kTextEdit,
         "textedit.window",
         [](auto& p, auto& w) { ASSERT_TRUE(p.enter_fullscreen(w)); },
         [](auto& p, auto& w) { return p.minimize(w); },
         [&] {
             EXPECT_TRUE(holds(text_edit(), "AXFullScreen", false));
             EXPECT_TRUE(holds(text_edit(), "AXPosition", CGPoint{300, 100}));
             EXPECT_TRUE(holds(text_edit(), "AXMinimized", true));
         }},
        {"restore a full-screen window", pids::kTextEdit, "textedit.window",
         [](auto& p, auto& w) { ASSERT_TRUE(p.enter_fullscreen(w)); },
         [](auto& p, auto& w) { return p.restore(w); },
         [&] {
             EXPECT_TRUE(holds(text_edit(), "AXFullScreen", false));
             EXPECT_TRUE(holds(text_edit(), "AXSize", CGSize{760, 560}));
         }},
        {"activate brings up a minimised window of a background application", pids::kNotes,
         "notes.archive", none, [](auto& p, auto& w) { return p.activate(w); },
         [&] {
             EXPECT_TRUE(holds(archive(), "AXMinimized", false));
             EXPECT_TRUE(holds(archive(), "AXMain", true));
             EXPECT_TRUE(holds(*sd::application_element(pids::kNotes), "AXFrontmost", true));
         }},
        {"close", pids::kTextEdit, "textedit.window", none,
         [](auto& p, auto& w) { return p.close(w); },
         [&] { EXPECT_FALSE(sd::find_element(pids::kTextEdit, "textedit.window")); }},
        {"move_to carries the content along", pids::kSettings, "settings.window", none,
         [](auto& p, auto& w) { return p.move_to(w, 400, 300); },
         [&] {
             EXPECT_TRUE(holds(settings(), "AXPosition", CGPoint{400, 300}));
             EXPECT_TRUE(holds(find(pids::kSettings, "settings.apply"), "AXPosition",
                               CGPoint{900, 720}));
         }},
        {"resize_to", pids::kSettings, "settings.window", none,
         [](auto& p, auto& w) { return p.resize_to(w, 500, 400); },
         [&] { EXPECT_TRUE(holds(settings(), "AXSize", CGSize{500, 400})); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sd::reset_to_default_desktop();
        const ElementData window = snapshot(c.pid, c.window);
        VirtualClock clock;
        c.arrange(provider(), window);
        EXPECT_EQ(error_text(c.act(provider(), window)), "ok");
        c.check();
    }
}

TEST_F(WindowsTest, RefusalsTouchNothing) {
    struct Case {
        const char* name;
        std::function<void(sd::ElementId)> arrange;
        std::function<Result<void>(const MacOSProvider&, const ElementData&)> act;
        std::string error;
    };
    const Case cases[] = {
        {"AXMinimized read-only", [](auto w) { sd::set_settable(w, "AXMinimized", false); },
         [](auto& p, auto& w) { return p.minimize(w); },
         "ActionNotSupported { action: \"minimize\", role: Window }"},
        {"full screen that cannot be left",
         [](auto w) {
             sd::set_attribute(w, "AXFullScreen", true);
             sd::set_settable(w, "AXFullScreen", false);
         },
         [](auto& p, auto& w) { return p.minimize(w); },
         "ActionNotSupported { action: \"minimize\", role: Window }"},
        {"restore with nothing settable",
         [](auto w) {
             sd::set_settable(w, "AXMinimized", false);
             sd::set_settable(w, "AXFullScreen", false);
         },
         [](auto& p, auto& w) { return p.restore(w); },
         "ActionNotSupported { action: \"restore\", role: Window }"},
        {"full screen read-only and off",
         [](auto w) { sd::set_settable(w, "AXFullScreen", false); },
         [](auto& p, auto& w) { return p.enter_fullscreen(w); },
         "ActionNotSupported { action: \"enter_fullscreen\", role: Window }"},
        {"minimised for good",
         [](auto w) {
             sd::set_attribute(w, "AXMinimized", true);
             sd::set_settable(w, "AXMinimized", false);
         },
         [](auto& p, auto& w) { return p.enter_fullscreen(w); },
         "ActionNotSupported { action: \"enter_fullscreen\", role: Window }"},
        {"no close button",
         [](auto w) {
             sd::destroy_element(find(pids::kSettings, "settings.window.close"));
             sd::set_attribute(w, "AXCloseButton", {});
         },
         [](auto& p, auto& w) { return p.close(w); },
         "ActionNotSupported { action: \"close\", role: Window }"},
        {"fixed position", [](auto w) { sd::set_settable(w, "AXPosition", false); },
         [](auto& p, auto& w) { return p.move_to(w, 10, 10); },
         "ActionNotSupported { action: \"move_to\", role: Window }"},
        {"fixed size", [](auto w) { sd::set_settable(w, "AXSize", false); },
         [](auto& p, auto& w) { return p.resize_to(w, 10, 10); },
         "ActionNotSupported { action: \"resize_to\", role: Window }"},
        {"maximize", [](auto) {}, [](auto& p, auto& w) { return p.maximize(w); },
         "Unsupported { feature: \"maximize on window: macOS Accessibility has no readable or "
         "writable zoom state\" }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sd::reset_to_default_desktop();
        const ElementData window = snapshot(pids::kSettings, "settings.window");
        c.arrange(find(pids::kSettings, "settings.window"));
        sd::clear_call_log();
        VirtualClock clock;
        EXPECT_EQ(error_text(c.act(provider(), window)), c.error);
        EXPECT_EQ(writes(), 0u);
        EXPECT_EQ(sd::call_count("AXUIElementPerformAction"), 0u);
        EXPECT_EQ(clock.sleeps(), 0);
    }
}

TEST_F(WindowsTest, StaleHandles) {
    ElementData window = snapshot(pids::kSettings, "settings.window");
    window.handle = 0;  // never handed out
    const std::string stale = "ElementStale { selector: \"handle:0\" }";
    for (auto op : {&MacOSProvider::activate, &MacOSProvider::minimize,
                    &MacOSProvider::enter_fullscreen, &MacOSProvider::restore,
                    &MacOSProvider::close})
        EXPECT_EQ(error_text((provider().*op)(window)), stale);
    EXPECT_EQ(error_text(provider().move_to(window, 1, 1)), stale);
    EXPECT_EQ(error_text(provider().resize_to(window, 1, 1)), stale);
    // maximize never looks the window up.
    EXPECT_EQ(provider().maximize(window).error().message(),
              "Unsupported: maximize on window: macOS Accessibility has no readable or writable "
              "zoom state");
}

TEST_F(WindowsTest, CloseFindsTheButtonAmongTheChildren) {
    const sd::ElementId id = find(pids::kTextEdit, "textedit.window");
    sd::set_attribute(id, "AXCloseButton", {});  // no value: scan the children
    const ElementData window = snapshot(pids::kTextEdit, "textedit.window");
    EXPECT_EQ(error_text(provider().close(window)), "ok");
    EXPECT_FALSE(sd::element_exists(id));
}

TEST_F(WindowsTest, ActivateWithoutMinimisedStateStillRaises) {
    const sd::ElementId id = find(pids::kSettings, "settings.window");
    const ElementData window = snapshot(pids::kSettings, "settings.window");
    sd::remove_attribute(id, "AXMinimized");
    EXPECT_EQ(error_text(provider().activate(window)), "ok");
    EXPECT_EQ(writes("AXMinimized"), 0u);
    EXPECT_EQ(sd::call_count("AXUIElementPerformAction", "AXRaise"), 1u);
    EXPECT_TRUE(holds(id, "AXMain", true));
}

// ---- Moving ---------------------------------------------------------------------------------

TEST_F(WindowsTest, MoveToWaitsUntilTheWindowIsWithinTwoPoints) {
    // The Settings window stands at (200, 160).
    struct Case {
        const char* name;
        std::function<void(sd::ElementId, AXElement&, VirtualClock&)> arrange;
        std::int32_t x, y;
        std::string result;
        std::size_t writes;
    };
    const Case cases[] = {
        {"two points off on each axis: already there", [](auto, auto&, auto&) {}, 202, 158, "ok", 0},
        {"three points off: moved", [](auto, auto&, auto&) {}, 203, 160, "ok", 1},
        {"stuck",
         [](auto w, auto&, auto&) {
             sd::set_attribute(w, "AXPosition", CGPoint{90, 200});
             sd::delay_writes(w, "AXPosition", std::nullopt);
         },
         100, 200,
         "Timeout after 5.0s; waiting for: window reaches position (100, 200) within 2 points; "
         "last observed: AXPosition reads (90, 200)",
         101},
        {"fractional reading",
         [](auto w, auto&, auto&) {
             sd::set_attribute(w, "AXPosition", CGPoint{-0.5, 12.25});
             sd::delay_writes(w, "AXPosition", std::nullopt);
         },
         100, -200,
         "Timeout after 5.0s; waiting for: window reaches position (100, -200) within 2 points; "
         "last observed: AXPosition reads (-0.5, 12.25)",
         101},
        {"no position: written on every poll",
         [](auto w, auto&, auto&) {
             sd::set_attribute(w, "AXPosition", {});
             sd::delay_writes(w, "AXPosition", std::nullopt);
         },
         100, 200,
         "Timeout after 5.0s; waiting for: window reaches position (100, 200) within 2 points; "
         "last observed: the window has no AXPosition attribute",
         101},
        {"the cached reference went bad: the listed window is moved",
         [](auto, auto& cached, auto& clock) {
             clock.after_each_sleep([&](int n) {
                 if (n == 1) sd::invalidate_reference(cached.get());
             });
         },
         400, 300, "ok", 1},
        {"the window is gone: polling stays on the cached reference",
         [](auto w, auto&, auto& clock) {
             sd::delay_writes(w, "AXPosition", std::nullopt);
             clock.after_each_sleep([w](int n) {
                 if (n == 1) sd::renew_element(w);
             });
         },
         400, 300,
         "Timeout after 5.0s; waiting for: window reaches position (400, 300) within 2 points; "
         "last observed: Platform error (-25202): AXPosition read failed while handling move_to "
         "on a window (AXError -25202); the position is unknown",
         1},
        {"unreadable position",
         [](auto, auto&, auto&) {
             sd::add_fault(
                 code_fault("AXUIElementCopyAttributeValue", kAXErrorCannotComplete, "AXPosition"));
         },
         400, 300,
         "Platform error (-25204): AXPosition read failed while handling move_to on a window "
         "(AXError -25204); the position is unknown",
         0},
        {"not a point", [](auto w, auto&, auto&) { sd::set_attribute(w, "AXPosition", "left"); }, 400,
         300,
         "Platform error (-1): AXPosition returned a non-point value while handling move_to on "
         "a window; the position is unknown",
         0},
        {"write refused",
         [](auto, auto&, auto&) {
             sd::add_fault(
                 code_fault("AXUIElementSetAttributeValue", kAXErrorActionUnsupported, "AXPosition"));
         },
         400, 300, "Action move_to not supported on window", 1},
        {"write failed",
         [](auto, auto&, auto&) {
             sd::add_fault(
                 code_fault("AXUIElementSetAttributeValue", kAXErrorFailure, "AXPosition"));
         },
         400, 300, "Platform error (-25200): Set AXPosition failed", 1},
        {"no point value",
         [](auto, auto&, auto&) {
             sd::add_fault({.call = "AXValueCreate", .kind = sd::Fault::Kind::ReturnNull});
         },
         400, 300,
         "Platform error (-1): Failed to create CGPoint AXValue for window move",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sd::reset_to_default_desktop();
        const sd::ElementId id = find(pids::kSettings, "settings.window");
        const ElementData window = snapshot(pids::kSettings, "settings.window");
        AXElement cached = value_of(provider().get_cached(window.handle));
        VirtualClock clock;
        c.arrange(id, cached, clock);
        sd::clear_call_log();
        auto r = provider().move_to(window, c.x, c.y);
        EXPECT_EQ(r ? "ok" : r.error().message(), c.result);
        EXPECT_EQ(writes("AXPosition"), c.writes);
        sd::clear_faults();
    }
}

TEST_F(WindowsTest, ResizeToWritesOnce) {
    const std::pair<sd::Fault, std::string> cases[] = {
        {code_fault("AXUIElementSetAttributeValue", kAXErrorActionUnsupported, "AXSize"),
         "ActionNotSupported { action: \"resize_to\", role: Window }"},
        {code_fault("AXUIElementSetAttributeValue", kAXErrorFailure, "AXSize"),
         "Platform { code: -25200, message: \"Set AXSize failed\" }"},
        {{.call = "AXValueCreate", .kind = sd::Fault::Kind::ReturnNull},
         "Platform { code: -1, message: \"Failed to create CGSize AXValue for window resize\" }"},
    };
    const ElementData window = snapshot(pids::kSettings, "settings.window");
    for (const auto& [fault, text] : cases) {
        sd::add_fault(fault);
        EXPECT_EQ(error_text(provider().resize_to(window, 300, 200)), text);
        sd::clear_faults();
    }
    // The application may adjust the size afterwards; the write alone counts.
    sd::delay_writes(find(pids::kSettings, "settings.window"), "AXSize", std::nullopt);
    EXPECT_EQ(error_text(provider().resize_to(window, 300, 200)), "ok");
}

}  // namespace
}  // namespace vemor::axtest
