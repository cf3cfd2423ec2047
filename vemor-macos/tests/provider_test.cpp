#include "vemor/macos/provider.hpp"

#include <limits>

#include "ax_test_support.hpp"

namespace vemor::axtest {
namespace {

constexpr pid_t kEditor = 701;
constexpr pid_t kViewer = 702;

std::vector<std::string> names_of(const ElementList& list) {
    std::vector<std::string> out;
    for (const auto& e : list) out.push_back(e.name.value_or("(none)"));
    return out;
}

sd::WindowEntrySpec entry(sd::Value pid, sd::Value owner, sd::Value layer = 0) {
    sd::WindowEntrySpec e;
    e.pid = std::move(pid);
    e.owner_name = std::move(owner);
    e.layer = std::move(layer);
    return e;
}

// ---- Permissions and the OS version ---------------------------------------------------------

TEST(MacOSVersion, ParsesTheMajorNumber) {
    const std::pair<std::string_view, std::uint32_t> cases[] = {
        {"26.1", 26},
        {"27", 27},
        {"+27.0", 27},
        {"", 0},
        {" 15.5\n", 15},
        {"+", 0},
        {"-1.0", 0},
        {"abc", 0},
        {"26a.1", 0},
        {".5", 0},
        {"4294967295.1", 4294967295u},
        {"4294967296", 0},
        {"++1", 0},
    };
    for (const auto& [text, major] : cases) EXPECT_EQ(ax::parse_major_version(text), major) << text;
}

TEST(MacOSVersion, GrantInstructionsNameThePaneOfTheVersion) {
    const std::pair<std::uint32_t, std::string_view> cases[] = {
        {0, "Enable Accessibility in System Settings → Privacy & Security → Accessibility"},
        {26, "Enable Accessibility in System Settings → Privacy & Security → Accessibility"},
        {27,
         "Enable Accessibility in System Settings → Privacy & Security → Device Control and "
         "Data Access"},
        {40,
         "Enable Accessibility in System Settings → Privacy & Security → Device Control and "
         "Data Access"},
    };
    for (const auto& [major, text] : cases)
        EXPECT_EQ(ax::accessibility_grant_instructions_for(major), text) << major;
    EXPECT_EQ(ax::accessibility_grant_instructions(),
              ax::accessibility_grant_instructions_for(ax::macos_major_version()));
}

class ProviderTest : public DesktopTest {
protected:
    void install_default() {
        auto main = window("Main").identifier("main");
        main.children = {button("").subrole("AXCloseButton"),
                         button("").subrole("AXMinimizeButton"),
                         button("").subrole("AXZoomButton"),
                         button("").subrole("AXFullScreenButton"),
                         ElementSpec("AXStaticText").value("Main"),
                         ElementSpec("AXStaticText").value("Body").identifier("body"),
                         button("OK").identifier("ok")};
        install(desktop({
            app(kEditor, "Editor",
                {ElementSpec("AXMenuBar"), std::move(main), window("Second").identifier("second")}),
            app(kViewer, "Viewer", {window("Photo").identifier("photo")}),
        }));
    }

    ElementData app_data(pid_t pid) { return value_of(provider().app_by_pid(pid)); }
    ElementData window_data(pid_t pid, const std::string& title) {
        for (auto& w : value_of(provider().app_windows(app_data(pid))))
            if (w.name == title) return w;
        ADD_FAILURE() << "no window " << title;
        return {};
    }
};

TEST_F(ProviderTest, AccessibilityTrustIsCheckedFirst) {
    install_default();
    sd::set_trusted(false);
    sd::clear_call_log();
    auto p = MacOSProvider::create();
    EXPECT_EQ(error_text(p),
              debug(Error::PermissionDenied{ax::accessibility_grant_instructions()}));
    EXPECT_EQ(sd::call_count("CGWindowListCopyWindowInfo"), 0u);
}

TEST_F(ProviderTest, ScreenRecordingNeedsAReadableLayerZeroEntry) {
    auto spec = desktop({app(kEditor, "Editor", {window("Main")})});
    const std::string instructions =
        "Enable Screen Recording in System Settings → Privacy & Security → Screen & System Audio "
        "Recording.\nOn macOS 26+, this is required to read window content via the "
        "accessibility API.";
    EXPECT_EQ(instructions.size(), 183u);
    struct Case {
        const char* what;
        std::vector<sd::WindowEntrySpec> entries;
        bool granted;
    };
    const Case cases[] = {
        {"layer 0 entry", {entry(kEditor, "Editor", 25), entry(kEditor, "Editor", 0)}, true},
        {"only a text layer", {entry(kEditor, "Editor", "0")}, false},
        {"only a fractional layer", {entry(kEditor, "Editor", 0.5)}, false},
        {"only other layers", {entry(kEditor, "Editor", 25)}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        spec.window_list = c.entries;
        install(spec);
        EXPECT_EQ(MacOSProvider::has_screen_recording_permission(), c.granted);
        auto p = MacOSProvider::create();
        if (c.granted)
            EXPECT_TRUE(p) << error_text(p);
        else
            EXPECT_EQ(error_text(p), debug(Error::PermissionDenied{instructions}));
        check_released();
    }
}

TEST_F(ProviderTest, VersionIsReadFromTheSystem) {
    install_default();
    sd::set_os_version_text("26.1");
    EXPECT_EQ(ax::read_macos_major_version(), 26u);
    sd::set_os_version_text("27");
    EXPECT_EQ(ax::read_macos_major_version(), 27u);
    sd::set_os_version_text("Darwin");
    EXPECT_EQ(ax::read_macos_major_version(), 0u);
    sd::set_os_version_text(std::nullopt);
    EXPECT_EQ(ax::read_macos_major_version(), 0u);
}

// ---- Handles ------------------------------------------------------------------------------

TEST_F(ProviderTest, HandlesCountUpAndAreNeverReused) {
    install_default();
    AXElement ok = element(find(kEditor, "ok"));
    auto first = value_of(provider().build_element_data(ok, kEditor));
    auto second = value_of(provider().build_element_data(ok, kEditor));
    EXPECT_GE(first.handle, 1u);
    EXPECT_EQ(second.handle, first.handle + 1);

    // A failed snapshot still uses up its handle.
    sd::add_fault(
        {.call = "AXUIElementCopyMultipleAttributeValues", .kind = sd::Fault::Kind::Raise});
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25204,
                   .name = "AXRole"});
    EXPECT_FALSE(provider().build_element_data(ok, kEditor));
    EXPECT_EQ(value_of(provider().build_element_data(ok, kEditor)).handle, first.handle + 3);

    auto live = value_of(provider().get_cached(first.handle));
    EXPECT_TRUE(live.same_element(ok));
    EXPECT_EQ(error_text(provider().get_cached(0)), debug(Error::ElementStale{"handle:0"}));
    // Another provider knows none of these handles.
    auto other = value_of(MacOSProvider::create());
    EXPECT_EQ(error_text(other->get_cached(first.handle)),
              debug(Error::ElementStale{fmt::format("handle:{}", first.handle)}));
}

// ---- Applications -------------------------------------------------------------------------

TEST_F(ProviderTest, ApplicationsFromTheWindowList) {
    auto spec = desktop({
        app(kEditor, "Editor", {window("A")}),
        app(kViewer, "Viewer", {window("B")}),
        app(703, "Nameless", {window("C")}),
        app(704, "Odd", {window("D")}),
    });
    spec.apps[3].element.attributes["AXRole"] = "AXGroup";
    spec.window_list = {
        entry(kViewer, "Viewer Pro"), entry(703, sd::NoValue{}),
        entry(kEditor, "Editor"),     entry(kViewer, "Viewer again"),
        entry(703, "Late name"),      entry(704, "Odd"),
        entry(0, "Kernel"),           entry(-5, "Negative"),
        entry("x", "Bad pid"),        entry(705, "Gone"),
    };
    install(spec);
    auto apps = value_of(provider().list_apps());
    EXPECT_EQ(names_of(apps), (std::vector<std::string>{"Viewer Pro", "Editor", "Odd"}));
    for (const auto& a : apps) EXPECT_EQ(a.role, Role::Application);
    EXPECT_EQ(apps[0].pid, std::optional<std::uint32_t>(kViewer));
    EXPECT_EQ(names_of(value_of(provider().get_children(nullptr))), names_of(apps));

    // An application whose role reads as nothing known is not an application.
    sd::set_attribute(*sd::application_element(704), "AXRole", "AXWhatever");
    EXPECT_EQ(names_of(value_of(provider().list_apps())),
              (std::vector<std::string>{"Viewer Pro", "Editor"}));
}

TEST_F(ProviderTest, ApplicationsThatCannotAnswerAreSkipped) {
    install_default();
    const auto unreadable_role = [](AXError code) {
        sd::add_fault({.call = "AXUIElementCopyMultipleAttributeValues",
                       .kind = sd::Fault::Kind::Raise,
                       .pid = kEditor});
        sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                       .kind = sd::Fault::Kind::Code,
                       .code = code,
                       .name = "AXRole",
                       .pid = kEditor});
    };
    for (AXError code : {-25202, -25204, -25208}) {
        unreadable_role(code);
        EXPECT_EQ(names_of(value_of(provider().list_apps())), std::vector<std::string>{"Viewer"})
            << code;
        sd::clear_faults();
    }
    unreadable_role(-25200);
    EXPECT_EQ(error_text(provider().list_apps()),
              debug(Error::Platform{-25200,
                                    "AXRole read failed while building an element "
                                    "snapshot (AXError -25200); the element is "
                                    "unreadable, not role-less"}));
}

TEST_F(ProviderTest, ApplicationByPid) {
    install_default();
    sd::clear_call_log();
    for (std::uint32_t pid : {0u, 2147483648u, std::numeric_limits<std::uint32_t>::max()}) {
        auto r = provider().app_by_pid(pid);
        ASSERT_FALSE(r);
        const auto* e = r.error().as<Error::SelectorNotMatched>();
        ASSERT_TRUE(e) << r.error().debug();
        EXPECT_EQ(e->selector, fmt::format("application[pid={}]", pid));
    }
    EXPECT_EQ(sd::call_count("AXUIElementCreateApplication"), 0u);

    auto editor = value_of(provider().app_by_pid(kEditor));
    EXPECT_EQ(editor.name, "Editor");
    EXPECT_EQ(editor.role, Role::Application);
    EXPECT_EQ(value_of(provider().app_roots(editor)), ElementList{editor});
    EXPECT_FALSE(provider().splits_app_across_entries());

    // Found without any window, named as the application names itself.
    sd::add_application(app(709, "Daemon", {}));
    EXPECT_EQ(value_of(provider().app_by_pid(709)).name, "Daemon");

    // A process that exited is not reachable: a miss, not a platform failure.
    sd::remove_application(kViewer);
    auto gone = provider().app_by_pid(kViewer);
    ASSERT_FALSE(gone);
    ASSERT_TRUE(gone.error().is<Error::SelectorNotMatched>()) << gone.error().debug();
    EXPECT_TRUE(gone.error().diagnosis()->last_observed->starts_with("AX attach probe returned"));

    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25205,
                   .name = "AXRole"});
    EXPECT_EQ(error_text(provider().app_by_pid(kEditor)),
              debug(Error::Platform{-25205,
                                    "AXUIElementCopyAttributeValue(AXRole) failed while "
                                    "attaching to pid 701"}));
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25212,
                   .name = "AXRole"});
    EXPECT_EQ(error_text(provider().app_by_pid(kEditor)),
              debug(Error::diagnose(
                  Error::SelectorNotMatched{"application[pid=701]", std::nullopt},
                  Diagnosis{}.with_last_observed(
                      "AX attach probe returned AXError -25212: process not yet AX-reachable, "
                      "exited, or has no accessibility bridge"))));
}

TEST_F(ProviderTest, FocusedApplication) {
    install_default();
    sd::set_focused_application(kViewer);
    auto focused = value_of(provider().focused_app());
    EXPECT_EQ(focused.name, "Viewer");
    EXPECT_EQ(focused.pid, std::optional<std::uint32_t>(kViewer));
    sd::set_focused_application(0);
    EXPECT_EQ(error_text(provider().focused_app()),
              debug(Error::SelectorNotMatched{"focused application", std::nullopt}));
}

// ---- Navigation ---------------------------------------------------------------------------

TEST_F(ProviderTest, ChildrenHideDecorations) {
    install_default();
    auto editor = app_data(kEditor);
    EXPECT_EQ(names_of(value_of(provider().get_children(&editor))),
              (std::vector<std::string>{"Main", "Second"}));
    auto main = window_data(kEditor, "Main");
    EXPECT_EQ(names_of(value_of(provider().get_children(&main))),
              (std::vector<std::string>{"Body", "OK"}));

    auto parent = value_of(provider().get_parent(value_of(provider().get_children(&main))[1]));
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->name, "Main");
    EXPECT_EQ(value_of(provider().get_parent(editor)), std::nullopt);

    ElementData stale = main;
    stale.handle = 0;
    EXPECT_EQ(error_text(provider().get_children(&stale)), debug(Error::ElementStale{"handle:0"}));
    EXPECT_EQ(error_text(provider().get_parent(stale)), debug(Error::ElementStale{"handle:0"}));
}

TEST_F(ProviderTest, ChildThatVanishesBeforeItsSnapshotIsLeftOut) {
    install_default();
    auto second = window_data(kViewer, "Photo");
    sd::add_element(find(kViewer, "photo"), button("Only").identifier("only"));
    // The child filter reads the role once; the snapshot's fallback reads it again and finds
    // the element gone.
    const auto vanish_on_snapshot = [](AXError code) {
        sd::add_fault(
            {.call = "AXUIElementCopyMultipleAttributeValues", .kind = sd::Fault::Kind::Raise});
        sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                       .kind = sd::Fault::Kind::Code,
                       .code = code,
                       .name = "AXRole",
                       .nth = 2});
    };
    vanish_on_snapshot(-25202);
    EXPECT_TRUE(value_of(provider().get_children(&second)).empty());
    sd::clear_faults();
    vanish_on_snapshot(-25204);
    EXPECT_EQ(error_text(provider().get_children(&second)),
              debug(Error::Platform{-25204,
                                    "AXRole read failed while building an element "
                                    "snapshot (AXError -25204); the element is "
                                    "unreadable, not role-less"}));
}

// ---- Search -------------------------------------------------------------------------------

SelectorGroup parse(std::string_view text) {
    auto g = SelectorGroup::parse(text);
    EXPECT_TRUE(g) << error_text(g);
    return g ? *g : SelectorGroup{};
}

ElementSpec nested(int levels, ElementSpec leaf) {
    for (int i = 0; i < levels; ++i) {
        auto g = ElementSpec("AXGroup");
        g.children.push_back(std::move(leaf));
        leaf = std::move(g);
    }
    return leaf;
}

class SearchTest : public ProviderTest {
protected:
    std::vector<std::string> search(const std::string& selector, const ElementData* root,
                                    std::optional<std::size_t> limit = std::nullopt,
                                    std::optional<std::uint32_t> max_depth = std::nullopt) {
        auto found = provider().find_elements_group(root, parse(selector), limit, max_depth);
        EXPECT_TRUE(found) << error_text(found);
        if (!found) return {};
        provider::dedup_by_handle(*found);  // handles must be unique already
        std::vector<std::string> out;
        for (const auto& e : *found)
            out.push_back(std::string(role::to_snake_case(e.role)) + ":" + e.name.value_or(""));
        return out;
    }
};

TEST_F(SearchTest, DefaultDepthReachesFiftyOneLevels) {
    auto w = window("Deep").identifier("deep");
    w.children = {nested(50, button("Found")), nested(51, button("TooDeep"))};
    install(desktop({app(kEditor, "Editor", {std::move(w)})}));
    auto root = window_data(kEditor, "Deep");
    EXPECT_EQ(search("button", &root), std::vector<std::string>{"button:Found"});
    EXPECT_EQ(search("button", &root, std::nullopt, 51),
              (std::vector<std::string>{"button:Found", "button:TooDeep"}));
    EXPECT_TRUE(search("button", &root, std::nullopt, 49).empty());
}

TEST_F(SearchTest, DocumentOrderAndDuplicates) {
    auto w = window("Win").identifier("win");
    auto inner = ElementSpec("AXGroup").title("Inner");
    inner.children = {button("C"), ElementSpec("AXLink").title("D")};
    auto outer = ElementSpec("AXGroup").title("Outer");
    outer.children = {std::move(inner), button("E")};
    w.children = {button("A"), ElementSpec("AXLink").title("B"), std::move(outer),
                  button("").subrole("AXCloseButton"), ElementSpec("AXStaticText").value("Win")};
    install(desktop({app(kEditor, "Editor", {std::move(w)})}));
    auto root = window_data(kEditor, "Win");

    // Clauses interleave in tree order; a child matching both clauses comes once.
    EXPECT_EQ(search("link, button", &root),
              (std::vector<std::string>{"button:A", "link:B", "button:C", "link:D", "button:E"}));
    EXPECT_EQ(search("button, [name=\"C\"], button", &root),
              (std::vector<std::string>{"button:A", "button:C", "button:E"}));
    // Nested groups reach C twice through fresh platform references: returned once.
    EXPECT_EQ(search("group button", &root), (std::vector<std::string>{"button:C", "button:E"}));
    // Narrowed matches come in document order too, whatever the order of their parents.
    EXPECT_EQ(search("group > button", &root), (std::vector<std::string>{"button:C", "button:E"}));
    // Title-bar buttons and the window's title label are not content.
    EXPECT_EQ(search("static_text, AXButton[name=\"\"]", &root), std::vector<std::string>{});
    EXPECT_EQ(search("button:nth(2)", &root, 1), std::vector<std::string>{"button:C"});
    EXPECT_EQ(search("button", &root, 2), (std::vector<std::string>{"button:A", "button:C"}));
    EXPECT_EQ(search("button", &root, 0), std::vector<std::string>{});
    EXPECT_EQ(search("group:nth(2) button", &root), std::vector<std::string>{"button:C"});
    EXPECT_TRUE(
        value_of(provider().find_elements_group(&root, SelectorGroup{}, std::nullopt, std::nullopt))
            .empty());
}

TEST_F(SearchTest, DegenerateGroupsAndNth) {
    auto w = window("Win").identifier("win");
    w.children = {button("A"), button("B")};
    install(desktop({app(kEditor, "Editor", {std::move(w)})}));
    auto root = window_data(kEditor, "Win");
    struct Case {
        const char* what;
        SelectorGroup group;
    };
    std::vector<Case> cases;
    {
        SelectorGroup g = parse("button");
        g.selectors.push_back(Selector{});
        cases.push_back({"a clause without segments", std::move(g)});
    }
    {
        // The parser never yields :nth(0), but a group built in code may.
        SelectorGroup g = parse("button");
        g.selectors[0].segments[0].simple.nth = 0;
        cases.push_back({"nth 0 on the only segment", std::move(g)});
    }
    {
        SelectorGroup g = parse("button, link");
        g.selectors[0].segments[0].simple.nth = 0;
        g.selectors[1].segments[0].simple.nth = 0;
        cases.push_back({"nth 0 in several clauses", std::move(g)});
    }
    {
        SelectorGroup g = parse("button button");
        g.selectors[0].segments[0].simple.nth = 0;
        cases.push_back({"nth 0 on a first segment", std::move(g)});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto found = provider().find_elements_group(&root, c.group, std::nullopt, std::nullopt);
        EXPECT_EQ(error_text(found), "ok");
        if (found) {
            EXPECT_TRUE(found->empty()) << found->size();
        }
    }
}

// Every snapshot takes a new handle, so an element reached from two nested candidates must be
// told apart by platform identity before a later segment's :nth counts it.
TEST_F(SearchTest, NarrowingCountsEachElementOnce) {
    auto w = window("Win").identifier("win");
    auto inner = ElementSpec("AXGroup").title("Inner");
    inner.children = {button("C")};
    auto outer = ElementSpec("AXGroup").title("Outer");
    outer.children = {std::move(inner), button("E")};
    w.children = {button("A"), std::move(outer)};
    install(desktop({app(kEditor, "Editor", {std::move(w)})}));
    auto editor = app_data(kEditor);
    auto win = window_data(kEditor, "Win");

    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"window group button", {"button:C", "button:E"}},
        {"window group button:nth(1)", {"button:C"}},
        {"window group button:nth(2)", {"button:E"}},
        {"window group button:nth(3)", {}},
        {"window group:nth(2) button", {"button:C"}},
    };
    for (const auto& [selector, expected] : cases) EXPECT_EQ(search(selector, &editor), expected)
        << selector;

    const auto segments = parse("group button:nth(3)").selectors[0].segments;
    EXPECT_TRUE(value_of(provider().narrow_multi_segment({win}, segments, 50, std::nullopt)).empty());
    const auto all = parse("group button").selectors[0].segments;
    EXPECT_EQ(names_of(value_of(provider().narrow_multi_segment({win}, all, 50, std::nullopt))),
              (std::vector<std::string>{"C", "E"}));
    EXPECT_EQ(names_of(value_of(provider().narrow_multi_segment({win}, all, 50, 1))),
              std::vector<std::string>{"C"});
}

// Fast-path filters are decided from a few attribute reads; a filter outside that set takes a
// full snapshot of every child examined. Matches are snapshotted once more, with a handle.
TEST_F(SearchTest, FullSnapshotsOnlyWhenAFilterNeedsThem) {
    auto w = window("Win").identifier("win");
    w.children = {ElementSpec("AXTextField").description("Search"), button("A"), button("B")};
    install(desktop({app(kEditor, "Editor", {std::move(w)})}));
    auto root = window_data(kEditor, "Win");
    const std::pair<const char*, std::size_t> cases[] = {
        {"text_field[name=\"Search\"]", 1},
        {"button[name^=\"A\"]", 1},
        {"button[enabled=\"true\"]", 3 + 2},
        {"text_field[focused=\"false\"], button", 3 + 3},
    };
    for (const auto& [selector, batches] : cases) {
        SCOPED_TRACE(selector);
        sd::clear_call_log();
        EXPECT_FALSE(search(selector, &root).empty());
        EXPECT_EQ(sd::call_count("AXUIElementCopyMultipleAttributeValues"), batches);
    }
}

TEST_F(SearchTest, FastPathAndFullSnapshotAgree) {
    auto w = window("Win").identifier("win");
    auto off = button("Off");
    off.attributes["AXEnabled"] = false;
    w.children = {button("\u200eOK\u200f").description("Confirm"), std::move(off),
                  ElementSpec("AXTextField").description("Search").value("cats"),
                  ElementSpec("AXCheckBox").title("Bold").value(1),
                  ElementSpec("AXStaticText").value("Label").help("Tip")};
    install(desktop({app(kEditor, "Editor", {std::move(w)})}));
    auto root = window_data(kEditor, "Win");
    struct Case {
        const char* selector;
        std::vector<std::string> found;
    };
    const Case cases[] = {
        {"button[name=\"OK\"]", {"button:OK"}},
        {"[description=\"Confirm\"]", {"button:OK"}},
        {"text_field[name=\"Search\"]", {"text_field:Search"}},
        {"text_field[value^=\"CA\"]", {"text_field:Search"}},
        {"[value=\"1\"]", {}},
        {"check_box[checked=\"on\"]", {"check_box:Bold"}},
        {"[name=\"Label\"][description=\"Tip\"]", {"static_text:Label"}},
        {"button[enabled=\"false\"]", {"button:Off"}},
        {"button[enabled=\"true\"][name=\"OK\"]", {"button:OK"}},
        {"AXTextField", {"text_field:Search"}},
        {"[role=\"check_box\"]", {"check_box:Bold"}},
    };
    for (const auto& c : cases) EXPECT_EQ(search(c.selector, &root), c.found) << c.selector;
}

TEST_F(SearchTest, VanishedMatchUnderALimitGivesWayToTheNext) {
    auto w = window("Win").identifier("win");
    w.children = {button("B1"), button("B2"), button("B3")};
    install(desktop({app(kEditor, "Editor", {std::move(w)})}));
    auto root = window_data(kEditor, "Win");
    sd::clear_call_log();
    // Every snapshot takes the one-by-one path; the walk reads each child's role once (three
    // reads), so the fourth role read is the first match's snapshot, which finds it gone: the
    // next match is snapshotted in its place, without walking again.
    sd::add_fault({.call = "AXUIElementCopyMultipleAttributeValues",
                   .kind = sd::Fault::Kind::Raise,
                   .times = 0});
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25202,
                   .name = "AXRole",
                   .nth = 4});
    EXPECT_EQ(search("button", &root, 1), std::vector<std::string>{"button:B2"});
    EXPECT_EQ(sd::call_count("AXUIElementCopyAttributeValue", "AXRole"), 3u + 1u + 1u);
}

TEST_F(SearchTest, WholeDesktop) {
    install_default();
    EXPECT_EQ(search("application", nullptr),
              (std::vector<std::string>{"application:Editor", "application:Viewer"}));
    EXPECT_EQ(search("application window", nullptr),
              (std::vector<std::string>{"window:Main", "window:Second", "window:Photo"}));
    EXPECT_EQ(
        search("window, button", nullptr),
        (std::vector<std::string>{"window:Main", "button:OK", "window:Second", "window:Photo"}));
    EXPECT_EQ(search("window", nullptr, 2),
              (std::vector<std::string>{"window:Main", "window:Second"}));
    EXPECT_EQ(search("[name=\"Editor\"]", nullptr), std::vector<std::string>{"application:Editor"});
}

TEST_F(SearchTest, StaleRootAndTheOneClauseForm) {
    install_default();
    auto main = window_data(kEditor, "Main");
    ElementData stale = main;
    stale.handle = 0;
    EXPECT_EQ(error_text(provider().find_elements_group(&stale, parse("button"), std::nullopt,
                                                        std::nullopt)),
              debug(Error::ElementStale{"handle:0"}));
    auto found = provider().find_elements(&main, parse("button").selectors[0].segments, 5, 3);
    EXPECT_EQ(names_of(value_of(std::move(found))), std::vector<std::string>{"OK"});
}

}  // namespace
}  // namespace vemor::axtest
