// Shell surfaces over the simulated desktop: which surfaces are found, in which order, under
// which names, and what each failure of the scan does.
#include <gmock/gmock.h>

#include "ax_test_support.hpp"
#include "vemor/macos/shell_surfaces.hpp"
#include "vemor/macos/shim.hpp"

namespace vemor::axtest {
namespace {

namespace pids = sd::default_pids;

// One line per surface: kind, name, pid and the element's identifier (or role).
std::vector<std::string> lines(const Result<ax::SurfaceList>& surfaces) {
    std::vector<std::string> out;
    if (!surfaces) return {surfaces.error().debug()};
    for (const auto& [kind, data] : *surfaces) {
        auto id = data.raw.find("ax_identifier");
        out.push_back(fmt::format(
            "{} {} pid={} {}", shell_surface_kind::to_snake_case(kind), data.name.value_or("<none>"),
            data.pid ? fmt::format("{}", *data.pid) : "<none>",
            id != data.raw.end() ? id->second.get<std::string>() : role::to_snake_case(data.role)));
    }
    return out;
}

class ShellSurfacesTest : public DesktopTest {
protected:
    void SetUp() override { install(sd::default_desktop()); }
    std::vector<std::string> scan() { return lines(provider().list_shell_surfaces()); }
    void press(pid_t pid, const std::string& identifier) {
        ASSERT_EQ(sd::find_element(pid, identifier).has_value(), true) << identifier;
        AXElement e = element(find(pid, identifier));
        auto name = ax::make_cf_string("AXPress");
        ASSERT_EQ(safe_ax_perform_action(e.get(), static_cast<CFStringRef>(name.get())), 0);
    }
};

TEST_F(ShellSurfacesTest, DefaultDesktopThenAShownStatusMenu) {
    const std::vector<std::string> resting = {
        "menu_bar TextEdit pid=150 textedit.menubar",
        "status_items SystemUIServer pid=130 status.bar",
        "dock Dock pid=120 application",
        "desktop desktop pid=140 finder.desktop",
    };
    EXPECT_EQ(scan(), resting);

    // The Wi-Fi menu opens; it is reachable through the item's visible children and, below,
    // through the bar's AXShownMenu as well, and is listed once under the status bar's name.
    press(pids::kSystemUIServer, "status.wifi");
    sd::set_attribute(find(pids::kSystemUIServer, "status.bar"), "AXShownMenu",
                      sd::ElementRef{find(pids::kSystemUIServer, "status.wifi.menu")});
    auto shown = resting;
    shown.push_back("flyout SystemUIServer pid=130 status.wifi.menu");
    EXPECT_EQ(scan(), shown);
}

TEST_F(ShellSurfacesTest, FrontmostMenuBarFailures) {
    struct Case {
        const char* what;
        std::optional<AXError> menu_bar_code;  // none: no frontmost application at all
        std::string first;
    };
    const Case cases[] = {
        {"not answering", ax::kCannotComplete, "status_items SystemUIServer pid=130 status.bar"},
        {"no accessibility", ax::kNotImplemented,
         "status_items SystemUIServer pid=130 status.bar"},
        {"no frontmost application", std::nullopt,
         "status_items SystemUIServer pid=130 status.bar"},
        {"any other code", kAXErrorFailure,
         "Platform { code: -25200, message: \"AXUIElementCopyAttributeValue(AXMenuBar) failed "
         "on the frontmost application (pid 150)\" }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.menu_bar_code) {
            sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                           .kind = sd::Fault::Kind::Code,
                           .code = *c.menu_bar_code,
                           .name = "AXMenuBar",
                           .times = 0});
        } else {
            sd::set_focused_application(0);
        }
        EXPECT_EQ(scan().front(), c.first);
        sd::clear_faults();
        sd::set_focused_application(pids::kTextEdit);
    }
}

TEST_F(ShellSurfacesTest, NoProcessesIsAnError) {
    provider();  // created while the window list still proves Screen Recording
    sd::clear_window_list();
    EXPECT_EQ(scan(), (std::vector<std::string>{
                          "Platform { code: -1, message: \"CGWindowListCopyWindowInfo listed no "
                          "processes; cannot enumerate shell surfaces\" }"}));
}

TEST_F(ShellSurfacesTest, AStatusBarThatCannotBeSnapshottedIsReportedAndSkipped) {
    for (const char* call : {"AXUIElementCopyMultipleAttributeValues", "AXUIElementCopyAttributeValue"})
        sd::add_fault({.call = call,
                       .kind = sd::Fault::Kind::Code,
                       .code = kAXErrorFailure,
                       .name = std::string(call).ends_with("Value") ? "AXRole" : std::optional<std::string>(),
                       .pid = pids::kSystemUIServer,
                       .times = 0});
    testing::internal::CaptureStderr();
    auto found = scan();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(found, testing::Not(testing::Contains(testing::HasSubstr("status_items"))));
    EXPECT_THAT(found, testing::Contains("dock Dock pid=120 application"));
    EXPECT_EQ(err.rfind("status-item surface snapshot failed for pid 130: Platform { code: -25200",
                        0),
              0u)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// Processes listed out of pid order, two of each recognised name, and desktop candidates that
// differ only in their description.
TEST_F(ShellSurfacesTest, PidOrderFirstNamedProcessAndTheDesktopRule) {
    auto status_app = [](pid_t pid, std::string name, std::string id) {
        sd::AppSpec a = app(pid, std::move(name), {});
        auto menu = ElementSpec("AXMenu").identifier(id + ".menu").frame(10, 24, 100, 40);
        a.element =
            ElementSpec("AXApplication")
                .attr("AXExtrasMenuBar", sd::Link{id})
                .child(ElementSpec("AXMenuBar")
                           .identifier(id)
                           .frame(900, 0, 100, 24)
                           .unlisted()
                           .child(ElementSpec("AXMenuBarItem").frame(900, 0, 30, 24).child(menu)));
        a.window_entries = false;
        return a;
    };
    auto finder = [](pid_t pid, std::vector<std::string> descriptions) {
        std::vector<ElementSpec> children;
        for (auto& d : descriptions)
            children.push_back(ElementSpec("AXScrollArea").description(d).identifier(d).frame(
                0, 0, 100, 100));
        sd::AppSpec a = app(pid, "Finder", std::move(children));
        a.window_entries = false;
        return a;
    };
    sd::AppSpec dock = app(620, "Dock", {});
    dock.window_entries = false;
    sd::AppSpec later_dock = app(610, "Dock", {});
    later_dock.window_entries = false;
    sd::DesktopSpec d = desktop({status_app(650, "Late", "late.bar"),
                                 status_app(630, "Early", "early.bar"), dock, later_dock,
                                 finder(640, {"desktop folder", "Desktop"}),
                                 finder(600, {"desktop"})});
    d.focused_app = 0;
    for (pid_t pid : {650, 630, 620, 610, 640, 600})
        d.window_list.push_back({.pid = sd::Value(static_cast<std::int64_t>(pid)),
                                 .owner_name = sd::Value(pid == 650   ? "Late"
                                                         : pid == 630 ? "Early"
                                                         : pid <= 620 && pid >= 610 ? "Dock"
                                                                                    : "Finder"),
                                 .layer = sd::Value(0)});
    install(d);
    // Both status menus show at once, found through their items' children.
    for (const char* bar : {"late.bar", "early.bar"}) {
        pid_t pid = std::string(bar) == "late.bar" ? 650 : 630;
        sd::set_attribute(find(pid, std::string(bar) + ".menu"), "AXHidden", false);
    }
    EXPECT_EQ(scan(), (std::vector<std::string>{
                          "status_items Early pid=630 early.bar",
                          "status_items Late pid=650 late.bar",
                          "dock Dock pid=620 application",
                          "desktop Desktop pid=640 Desktop",
                          "flyout Early pid=630 early.bar.menu",
                          "flyout Late pid=650 late.bar.menu",
                      }));
}

TEST(ShellSurfaceRules, DesktopDescriptionAndNoMenuBarCodes) {
    for (const char* yes : {"desktop", "Desktop", "DESKTOP", "dEsKtOp"})
        EXPECT_TRUE(ax::is_desktop_description(yes)) << yes;
    for (const char* no : {"", "desktop ", " desktop", "desktops", "desk top", "Desktop folder"})
        EXPECT_FALSE(ax::is_desktop_description(no)) << no;
    for (AXError code : {-25212, -25205, -25208, -25204, -25202})
        EXPECT_TRUE(ax::is_no_menu_bar_code(code)) << code;
    for (AXError code : {0, -25200, -25201, -25211, -9999})
        EXPECT_FALSE(ax::is_no_menu_bar_code(code)) << code;
}

}  // namespace
}  // namespace vemor::axtest
