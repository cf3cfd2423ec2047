#include "vemor/macos/snapshot.hpp"

#include "ax_test_support.hpp"

namespace vemor::axtest {
namespace {

constexpr pid_t kPid = 610;

class SnapshotTest : public DesktopTest {
protected:
    // Installs one application whose window holds `content`, then snapshots the element with
    // the identifier "it" (handle 7, pid kPid).
    Result<ElementData> snap(ElementSpec content, bool pid_known = true) {
        auto w = window("Doc").identifier("win");
        w.children.push_back(std::move(content));
        install(desktop({app(kPid, "Writer", {std::move(w)})}));
        return snapshot_of("it", pid_known);
    }
    Result<ElementData> snapshot_of(const std::string& identifier, bool pid_known = true) {
        return ax::build_snapshot_data(
            element(find(kPid, identifier)),
            pid_known ? std::optional<std::uint32_t>(kPid) : std::nullopt, 7);
    }
    std::string text_of(ElementSpec content) {
        auto d = snap(std::move(content));
        return d ? snapshot_text(*d) : d.error().debug();
    }
};

TEST_F(SnapshotTest, ButtonWhole) {
    auto spec =
        button("OK\u200f").identifier("it").description("OK\u200f").frame(10.9, -5.5, 80, 24.99);
    spec.actions.push_back({"AXPress", {}});
    spec.actions.push_back({"AXConfirm", {}});
    spec.actions.push_back({"AXScrollToVisible", {}});
    EXPECT_EQ(text_of(std::move(spec)),
              "{\"actions\":[\"press\",\"scroll_to_visible\"],"
              "\"bounds\":{\"height\":24,\"width\":80,\"x\":10,\"y\":-5},\"description\":null,"
              "\"handle\":7,\"max_value\":null,\"min_value\":null,\"name\":\"OK\","
              "\"numeric_value\":null,\"pid\":610,"
              "\"raw\":{\"AXDescription\":\"OK\u200f\",\"AXPosition\":{\"x\":10.9,\"y\":-5.5},"
              "\"AXSize\":{\"height\":24.99,\"width\":80.0},\"AXTitle\":\"OK\u200f\","
              "\"ax_identifier\":\"it\",\"ax_role\":\"AXButton\"},\"role\":\"button\","
              "\"stable_id\":\"it\",\"states\":{\"active\":false,\"busy\":false,"
              "\"checked\":null,\"editable\":false,\"enabled\":true,\"expanded\":null,"
              "\"focusable\":true,\"focused\":false,\"fullscreen\":null,\"maximized\":null,"
              "\"minimized\":null,\"modal\":false,\"required\":false,\"selected\":false,"
              "\"visible\":true},\"value\":null}");
}

TEST_F(SnapshotTest, NullElement) {
    auto d = ax::build_snapshot_data(AXElement(), 3u, 9);
    ASSERT_TRUE(d);
    ElementData expected;
    expected.states.enabled = true;
    expected.states.visible = true;
    expected.pid = 3;
    expected.handle = 9;
    EXPECT_EQ(snapshot_text(*d), snapshot_text(expected));
}

TEST_F(SnapshotTest, NamesDescriptionsAndValues) {
    struct Case {
        const char* what;
        ElementSpec spec;
        std::optional<std::string> name, description, value;
    };
    Case cases[] = {
        {"static text named by its value", ElementSpec("AXStaticText").value("Hello"), "Hello",
         std::nullopt, "Hello"},
        {"title and equal description", ElementSpec("AXButton").title("OK").description("OK"), "OK",
         std::nullopt, std::nullopt},
        {"help wins over description",
         ElementSpec("AXButton").title("OK").description("OK").help("Confirms"), "OK", "Confirms",
         std::nullopt},
        {"description names an untitled element", ElementSpec("AXImage").description("Logo"),
         "Logo", std::nullopt, std::nullopt},
        {"untitled static text without value has no name",
         ElementSpec("AXStaticText").description("Caption"), std::nullopt, "Caption", std::nullopt},
        {"bidi marks are stripped after comparing",
         ElementSpec("AXButton").title("\u202aSave\u202c").description("\u202aSave\u202c"), "Save",
         std::nullopt, std::nullopt},
        {"numeric value text", ElementSpec("AXTextField").value(42.0), std::nullopt, std::nullopt,
         "42"},
        {"check box has no value", ElementSpec("AXCheckBox").title("Bold").value(1), "Bold",
         std::nullopt, std::nullopt},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto d = snap(std::move(c.spec).identifier("it"));
        ASSERT_TRUE(d) << error_text(d);
        EXPECT_EQ(d->name, c.name);
        EXPECT_EQ(d->description, c.description);
        EXPECT_EQ(d->value, c.value);
        check_released();
    }
}

TEST_F(SnapshotTest, CheckedState) {
    struct Case {
        std::string role, subrole;
        sd::Value value;
        std::optional<CheckedState> checked;
    };
    const Case cases[] = {
        {"AXCheckBox", "", 1, CheckedState::On},
        {"AXCheckBox", "", 2, CheckedState::Mixed},
        {"AXCheckBox", "", 0, CheckedState::Off},
        {"AXCheckBox", "", 7, CheckedState::Off},
        {"AXCheckBox", "", 0.7, CheckedState::On},
        {"AXCheckBox", "", 0.3, CheckedState::Off},
        {"AXRadioButton", "", true, CheckedState::On},
        {"AXRadioButton", "", "0.9", CheckedState::On},
        {"AXCheckBox", "", sd::NoValue{}, CheckedState::Off},
        {"AXCheckBox", "AXSwitch", 1, std::nullopt},
        {"AXButton", "", 1, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.role + "/" + c.subrole);
        auto spec = ElementSpec(c.role).identifier("it").value(c.value);
        if (!c.subrole.empty()) spec.attributes["AXSubrole"] = c.subrole;
        auto d = snap(std::move(spec));
        ASSERT_TRUE(d) << error_text(d);
        EXPECT_EQ(d->states.checked, c.checked);
        check_released();
    }
}

TEST_F(SnapshotTest, NumbersOnlyForRangeRoles) {
    auto d = snap(ElementSpec("AXTextField").identifier("it").value("42"));
    ASSERT_TRUE(d) << error_text(d);
    EXPECT_EQ(d->value, "42");
    EXPECT_EQ(d->numeric_value, std::nullopt);
    EXPECT_EQ(json::dump(d->raw.at("AXValue")), "42.0");
    EXPECT_EQ(d->actions, std::vector<std::string>{"set_value"});
    EXPECT_TRUE(d->states.editable);
    check_released();

    d = snap(ElementSpec("AXSlider")
                 .identifier("it")
                 .value("42")
                 .attr("AXMinValue", 0)
                 .attr("AXMaxValue", " 100.5 "));
    ASSERT_TRUE(d) << error_text(d);
    EXPECT_EQ(d->numeric_value, 42.0);
    EXPECT_EQ(d->min_value, 0.0);
    EXPECT_EQ(d->max_value, 100.5);
    check_released();

    // A non-finite reading keeps its number but stores 0 in the raw map.
    d = snap(ElementSpec("AXProgressIndicator").identifier("it").value("nan"));
    ASSERT_TRUE(d) << error_text(d);
    EXPECT_TRUE(d->numeric_value && std::isnan(*d->numeric_value));
    EXPECT_EQ(json::dump(d->raw.at("AXValue")), "0.0");
}

TEST_F(SnapshotTest, Bounds) {
    struct Case {
        double x, y, w, h;
        std::optional<Rect> bounds;
    };
    const Case cases[] = {
        {1, 2, 0, 0, std::nullopt},
        {1.9, -2.9, 10.9, 0, Rect{1, -2, 10, 0}},
        {-1e12, 3e12, 1e12, -4, Rect{INT32_MIN, INT32_MAX, UINT32_MAX, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.w);
        auto d = snap(ElementSpec("AXGroup").identifier("it").frame(c.x, c.y, c.w, c.h));
        ASSERT_TRUE(d) << error_text(d);
        EXPECT_EQ(d->bounds, c.bounds);
        check_released();
    }
}

TEST_F(SnapshotTest, ActionNames) {
    struct Case {
        std::string_view platform, name;
    };
    const Case cases[] = {
        {"AXPress", "press"},         {"AXConfirm", "press"},
        {"AXRaise", "activate"},      {"AXShowMenu", "show_menu"},
        {"AXIncrement", "increment"}, {"AXDecrement", "decrement"},
        {"AXCancel", "cancel"},       {"AXScrollToVisible", "scroll_to_visible"},
        {"MyCustom", "my_custom"},    {"AX", ""},
        {"AXÉtéNow", "Été_now"},      {"openURL", "open_u_r_l"},
    };
    for (const auto& c : cases) EXPECT_EQ(ax::action_name_for(c.platform), c.name) << c.platform;

    auto spec = ElementSpec("AXCheckBox").identifier("it").focusable();
    spec.actions = {{"AXPress", {}}, {"AXPress", {}}, {"AXShowMenu", {}}, {"AXConfirm", {}}};
    auto d = snap(std::move(spec));
    ASSERT_TRUE(d) << error_text(d);
    EXPECT_EQ(d->actions, (std::vector<std::string>{"press", "show_menu", "focus", "toggle"}));
    EXPECT_TRUE(d->states.focusable);
}

TEST_F(SnapshotTest, WindowActions) {
    struct Case {
        const char* what;
        sd::Value minimized, fullscreen;
        bool m_settable, f_settable;
        std::vector<std::string> actions;
    };
    const Case cases[] = {
        {"fullscreen, only minimise settable",
         false,
         true,
         true,
         false,
         {"activate", "enter_fullscreen", "close", "move_to"}},
        {"ordinary, only minimise settable",
         false,
         false,
         true,
         false,
         {"activate", "minimize", "restore", "close", "move_to"}},
        {"ordinary, both settable",
         false,
         false,
         true,
         true,
         {"activate", "minimize", "enter_fullscreen", "restore", "close", "move_to"}},
        {"minimised, nothing settable",
         true,
         sd::NoValue{},
         false,
         false,
         {"activate", "close", "move_to"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto w = window("Doc").identifier("it").action("AXRaise");
        w.attributes["AXMinimized"] = c.minimized;
        w.attributes["AXFullScreen"] = c.fullscreen;
        if (c.m_settable) w.settable.insert("AXMinimized");
        if (c.f_settable) w.settable.insert("AXFullScreen");
        w.settable.insert("AXPosition");
        w.children.push_back(button("").subrole("AXCloseButton"));
        install(desktop({app(kPid, "Writer", {std::move(w)})}));
        auto d = snapshot_of("it");
        ASSERT_TRUE(d) << error_text(d);
        EXPECT_EQ(d->actions, c.actions);
        EXPECT_EQ(d->states.minimized, c.minimized.get<bool>()
                                           ? std::optional<bool>(*c.minimized.get<bool>())
                                           : std::nullopt);
        check_released();
    }
}

TEST_F(SnapshotTest, WindowProbeFailureFailsTheSnapshot) {
    install(desktop({app(kPid, "Writer", {window("Doc").identifier("it")})}));
    sd::add_fault(
        {.call = "AXUIElementIsAttributeSettable", .kind = sd::Fault::Kind::Code, .code = -25204});
    EXPECT_EQ(error_text(snapshot_of("it")),
              debug(Error::Platform{-25204, "IsAttributeSettable(AXMinimized) failed"}));
}

TEST_F(SnapshotTest, ActiveWindowNeedsFocusAndPid) {
    install(desktop(
        {app(kPid, "Writer", {window("One").identifier("one"), window("Two").identifier("two")})}));
    EXPECT_TRUE(snapshot_of("one")->states.active);
    EXPECT_FALSE(snapshot_of("two")->states.active);
    EXPECT_FALSE(snapshot_of("one", false)->states.active);
    sd::set_focused_application(0);
    EXPECT_FALSE(snapshot_of("one")->states.active);
}

TEST_F(SnapshotTest, SelectionOfRowsFromTheirContainer) {
    auto row = [](const char* id) { return ElementSpec("AXRow").identifier(id); };
    auto table = ElementSpec("AXTable").identifier("table");
    auto inner = ElementSpec("AXGroup").identifier("inner");
    inner.children = {row("deep"), row("deep2")};
    table.children = {row("r1"), row("r2"), std::move(inner)};
    install(desktop({app(kPid, "Writer", {std::move(table)})}));
    const auto table_id = find(kPid, "table");
    sd::set_attribute(
        table_id, "AXSelectedChildren",
        sd::Value::List{sd::ElementRef{find(kPid, "r2")}, sd::ElementRef{find(kPid, "deep2")}});

    EXPECT_FALSE(snapshot_of("r1")->states.selected);
    EXPECT_TRUE(snapshot_of("r2")->states.selected);
    // The inner group does not answer: the table (grandparent) decides.
    EXPECT_TRUE(snapshot_of("deep2")->states.selected);
    EXPECT_FALSE(snapshot_of("deep")->states.selected);
    // AXSelected, when readable, wins.
    sd::set_attribute(find(kPid, "r2"), "AXSelected", false);
    EXPECT_FALSE(snapshot_of("r2")->states.selected);
    // An answer that is not an array selects nothing.
    sd::set_attribute(table_id, "AXSelectedChildren", "r1");
    EXPECT_FALSE(snapshot_of("deep2")->states.selected);
}

TEST_F(SnapshotTest, FallbackPathReadsTheSame) {
    auto spec = ElementSpec("AXSlider")
                    .identifier("it")
                    .title("Volume")
                    .value(0.5)
                    .frame(1, 2, 3, 4)
                    .attr("AXMinValue", 0)
                    .attr("AXMaxValue", 1)
                    .focusable()
                    .action("AXIncrement");
    spec.attributes["AXHidden"] = true;
    auto batch = snap(std::move(spec));
    ASSERT_TRUE(batch) << error_text(batch);
    sd::add_fault({.call = "AXUIElementCopyMultipleAttributeValues",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25204});
    auto single = snapshot_of("it");
    ASSERT_TRUE(single) << error_text(single);
    EXPECT_EQ(snapshot_text(*single), snapshot_text(*batch));
    EXPECT_EQ(sd::call_count("AXUIElementCopyAttributeValue", "AXSubrole"), 1u);
}

TEST_F(SnapshotTest, FallbackReadsTheRoleStrictly) {
    install(desktop({app(kPid, "Writer", {ElementSpec("AXGroup").identifier("it")})}));
    const sd::Fault batch_fails{.call = "AXUIElementCopyMultipleAttributeValues",
                                .kind = sd::Fault::Kind::Raise};

    sd::add_fault(batch_fails);
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25204,
                   .name = "AXRole"});
    EXPECT_EQ(error_text(snapshot_of("it")),
              debug(Error::Platform{-25204,
                                    "AXRole read failed while building an element "
                                    "snapshot (AXError -25204); the element is "
                                    "unreadable, not role-less"}));

    sd::add_fault(batch_fails);
    sd::set_attribute(find(kPid, "it"), "AXRole", 5);
    EXPECT_EQ(error_text(snapshot_of("it")),
              debug(Error::Platform{-1,
                                    "AXRole returned a non-string value; the provider "
                                    "answered malformed, not role-less"}));

    // The batch path never fails on the role: it is unknown.
    auto d = snapshot_of("it");
    ASSERT_TRUE(d) << error_text(d);
    EXPECT_EQ(d->role, Role::Unknown);
    EXPECT_EQ(d->raw.at("ax_role"), "");

    sd::add_fault(batch_fails);
    sd::remove_attribute(find(kPid, "it"), "AXRole");
    d = snapshot_of("it");
    ASSERT_TRUE(d) << error_text(d);
    EXPECT_EQ(d->role, Role::Unknown);
}

TEST_F(SnapshotTest, ChildFilter) {
    install(desktop(
        {app(kPid, "Writer", {ElementSpec("AXStaticText").identifier("label").value("Doc")})}));
    AXElement label = element(find(kPid, "label"));
    const std::optional<std::string> doc = "Doc", other = "Other";
    struct Case {
        Role parent;
        const std::optional<std::string>* parent_name;
        std::string_view role;
        std::optional<std::string_view> subrole;
        bool hidden;
    };
    const Case cases[] = {
        {Role::Window, &other, "AXButton", "AXCloseButton", true},
        {Role::Window, &other, "AXButton", "AXMinimizeButton", true},
        {Role::Window, &other, "AXButton", "AXZoomButton", true},
        {Role::Window, &other, "AXButton", "AXFullScreenButton", true},
        {Role::Dialog, &other, "AXButton", "AXCloseButton", false},
        {Role::Window, &doc, "AXStaticText", std::nullopt, true},
        {Role::Window, &doc, "AXStaticText", "", true},
        {Role::Window, &doc, "AXStaticText", "AXUnknown", true},
        {Role::Window, &doc, "AXStaticText", "AXHeading", false},
        {Role::Window, &other, "AXStaticText", std::nullopt, false},
        {Role::Group, &doc, "AXStaticText", std::nullopt, false},
        {Role::Application, &doc, "AXMenuBar", std::nullopt, true},
        {Role::Application, &doc, "AXWindow", std::nullopt, false},
    };
    const std::optional<std::string> none;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << role::to_snake_case(c.parent) << " " << c.role << " "
                                        << c.subrole.value_or("-"));
        EXPECT_EQ(MacOSProvider::should_filter_child_with_role(c.parent, *c.parent_name, c.role,
                                                               c.subrole, label),
                  c.hidden);
    }
    EXPECT_FALSE(MacOSProvider::should_filter_child_with_role(Role::Window, none, "AXStaticText",
                                                              std::nullopt, label));
}

}  // namespace
}  // namespace vemor::axtest
