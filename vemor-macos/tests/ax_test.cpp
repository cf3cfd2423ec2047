#include "vemor/macos/ax.hpp"

#include "ax_test_support.hpp"

namespace vemor::axtest {
namespace {

constexpr pid_t kPid = 501;

class AxTest : public DesktopTest {
protected:
    void SetUp() override {
        auto w = window("Main").identifier("main");
        w.children.push_back(button("OK").identifier("ok").subrole("AXCloseButton"));
        w.children.push_back(ElementSpec("AXStaticText").identifier("label").value("Main"));
        w.settable.insert("AXMinimized");
        w.attributes["AXMinimized"] = false;
        install(desktop({
            app(kPid, "Editor",
                {std::move(w), ElementSpec("AXWindow").identifier("bare").title("Bare"),
                 ElementSpec("AXGroup").identifier("values")}),
            app(kPid + 1, "Empty", {}),
        }));
        values_ = find(kPid, "values");
    }

    sd::ElementId values_ = 0;
};

TEST_F(AxTest, CopiesRetainAndDropsRelease) {
    AXElement a = element(find(kPid, "ok"));
    ASSERT_FALSE(a.is_null());
    EXPECT_EQ(CFGetRetainCount(a.get()), 1);
    {
        AXElement b = a;
        EXPECT_EQ(b.get(), a.get());
        EXPECT_EQ(CFGetRetainCount(a.get()), 2);
        AXElement c = std::move(b);
        EXPECT_TRUE(b.is_null());
        EXPECT_EQ(CFGetRetainCount(a.get()), 2);
    }
    EXPECT_EQ(CFGetRetainCount(a.get()), 1);

    // A fresh reference to the same element is another object but the same element.
    AXElement again = element(find(kPid, "ok"));
    EXPECT_NE(again.get(), a.get());
    EXPECT_TRUE(again.same_element(a));
    EXPECT_EQ(again.platform_hash(), a.platform_hash());
    EXPECT_FALSE(AXElement().same_element(a));
}

TEST_F(AxTest, ValueTextAndNumbers) {
    struct Case {
        sd::Value value;
        std::optional<std::string> text;
        std::optional<double> number;
    };
    const Case cases[] = {
        {0.5, "0.5", 0.5},
        {1, "1", 1.0},
        {3.0, "3", 3.0},
        {-0.25, "-0.25", -0.25},
        {1e21, "1000000000000000000000", 1e21},
        {"42", "42", 42.0},
        {" 12.5\u00a0", " 12.5\u00a0", 12.5},
        {"1e3", "1e3", 1000.0},
        // The platform reports 2^53 + 1 as a lossy double: absent, not rounded.
        {(std::int64_t{1} << 53) + 1, std::nullopt, std::nullopt},
        {std::int64_t{1} << 53, "9007199254740992", 9007199254740992.0},
        {"abc", "abc", std::nullopt},
        {true, std::nullopt, std::nullopt},
        {CGPoint{1, 2}, std::nullopt, std::nullopt},
        {sd::NoValue{}, std::nullopt, std::nullopt},
    };
    AXElement e = element(values_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.value_or("(none)"));
        sd::set_attribute(values_, "AXValue", c.value);
        sd::set_attribute(values_, "AXMinValue", c.value);
        EXPECT_EQ(ax::ax_value_string(e), c.text);
        EXPECT_EQ(ax::ax_number_f64(e, "AXMinValue"), c.number);
    }
    sd::remove_attribute(values_, "AXValue");
    EXPECT_EQ(ax::ax_value_string(e), std::nullopt);
}

TEST_F(AxTest, StringsArraysAndActionNames) {
    AXElement w = element(find(kPid, "main"));
    EXPECT_EQ(ax::ax_string(w, "AXTitle"), "Main");
    EXPECT_EQ(ax::ax_string(w, "AXPosition"), std::nullopt);  // not a string
    EXPECT_EQ(ax::ax_string(w, "AXNoSuchThing"), std::nullopt);

    auto children = ax::ax_element_array(w, "AXChildren");
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(ax::ax_string(children[1], "AXValue"), "Main");
    EXPECT_TRUE(ax::ax_element_array(w, "AXTitle").empty());

    sd::set_actions(find(kPid, "ok"), {{"AXShowMenu", {}}, {"AXPress", {}}, {"AXCancel", {}}});
    EXPECT_EQ(ax::ax_action_names(element(find(kPid, "ok"))),
              (std::vector<std::string>{"AXShowMenu", "AXPress", "AXCancel"}));
    sd::add_fault({.call = "AXUIElementCopyActionNames", .kind = sd::Fault::Kind::Raise});
    EXPECT_TRUE(ax::ax_action_names(element(find(kPid, "ok"))).empty());
}

TEST_F(AxTest, Windows) {
    auto editor = element(*sd::application_element(kPid));
    auto windows = ax::ax_windows(editor);
    ASSERT_TRUE(windows) << error_text(windows);
    ASSERT_EQ(windows->size(), 2u);
    EXPECT_EQ(ax::ax_string((*windows)[1], "AXTitle"), "Bare");

    // No windows at all is an empty list, not an error.
    auto none = ax::ax_windows(element(*sd::application_element(kPid + 1)));
    ASSERT_TRUE(none) << error_text(none);
    EXPECT_TRUE(none->empty());

    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25204,
                   .name = "AXWindows"});
    EXPECT_EQ(error_text(ax::ax_windows(editor)),
              debug(Error::Platform{
                  -25204, "AXUIElementCopyAttributeValue(AXWindows) failed (AXError -25204)"}));
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Raise,
                   .name = "AXWindows"});
    EXPECT_EQ(error_text(ax::ax_windows(editor)),
              debug(Error::Platform{
                  -9999, "AXUIElementCopyAttributeValue(AXWindows) failed (AXError -9999)"}));
    sd::clear_faults();

    // No value and an unsupported attribute are "no windows"; an answer of the wrong type is an
    // error, never an empty list.
    const sd::ElementId root = *sd::application_element(kPid);
    sd::set_attribute(root, "AXWindows", sd::NoValue{});
    windows = ax::ax_windows(editor);
    ASSERT_TRUE(windows) << error_text(windows);
    EXPECT_TRUE(windows->empty());
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25205,
                   .name = "AXWindows"});
    windows = ax::ax_windows(editor);
    ASSERT_TRUE(windows) << error_text(windows);
    EXPECT_TRUE(windows->empty());
    sd::set_attribute(root, "AXWindows", "Main");
    EXPECT_EQ(error_text(ax::ax_windows(editor)),
              debug(Error::Platform{-1,
                                    "AXWindows returned a non-array value; the provider "
                                    "answered malformed, not empty"}));
}

TEST_F(AxTest, BooleanReadsAndWrites) {
    AXElement w = element(find(kPid, "main"));
    auto read = [&](const char* attr) {
        return ax::read_bool_attr(w, attr, "minimize", Role::Window);
    };
    EXPECT_EQ(value_of(read("AXMinimized")), std::optional<bool>(false));
    EXPECT_EQ(value_of(read("AXFullScreen")), std::optional<bool>());
    EXPECT_EQ(value_of(read("AXNoSuchThing")), std::optional<bool>());
    sd::set_attribute(find(kPid, "main"), "AXFullScreen", sd::NoValue{});
    EXPECT_EQ(value_of(read("AXFullScreen")), std::optional<bool>());

    sd::set_attribute(find(kPid, "main"), "AXFullScreen", "yes");
    EXPECT_EQ(error_text(read("AXFullScreen")),
              debug(Error::Platform{-1,
                                    "AXFullScreen returned a non-boolean value while "
                                    "handling minimize on a window; the state is unknown, "
                                    "not false"}));
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25204,
                   .name = "AXMinimized"});
    EXPECT_EQ(error_text(read("AXMinimized")),
              debug(Error::Platform{-25204,
                                    "AXMinimized read failed while handling minimize on "
                                    "a window (AXError -25204); the state is unknown, "
                                    "not false"}));

    ASSERT_TRUE(ax::set_bool_attr(w, "AXMinimized", true, "minimize", Role::Window));
    EXPECT_EQ(sd::attribute(find(kPid, "main"), "AXMinimized"), sd::Value(true));
    EXPECT_EQ(error_text(ax::set_bool_attr(w, "AXTitle", true, "minimize", Role::Window)),
              debug(Error::ActionNotSupported{"minimize", Role::Window}));
    sd::add_fault(
        {.call = "AXUIElementSetAttributeValue", .kind = sd::Fault::Kind::Code, .code = -25200});
    EXPECT_EQ(error_text(ax::set_bool_attr(w, "AXMinimized", false, "restore", Role::Window)),
              debug(Error::Platform{-25200, "Set AXMinimized=false failed"}));
    sd::add_fault({.call = "AXUIElementSetAttributeValue", .kind = sd::Fault::Kind::Raise});
    EXPECT_EQ(error_text(ax::set_bool_attr(w, "AXMinimized", true, "minimize", Role::Window)),
              debug(Error::Platform{-9999, "Set AXMinimized=true failed"}));
}

TEST_F(AxTest, SettableProbesAndActions) {
    AXElement w = element(find(kPid, "main"));
    EXPECT_TRUE(value_of(ax::is_attr_settable(w, "AXMinimized")));
    EXPECT_FALSE(value_of(ax::is_attr_settable(w, "AXTitle")));
    EXPECT_FALSE(value_of(ax::is_attr_settable(w, "AXNoSuchThing")));
    sd::add_fault({.call = "AXUIElementIsAttributeSettable", .kind = sd::Fault::Kind::Raise});
    EXPECT_EQ(error_text(ax::is_attr_settable(w, "AXPosition")),
              debug(Error::Platform{-9999, "IsAttributeSettable(AXPosition) failed"}));

    AXElement ok = element(find(kPid, "ok"));
    EXPECT_TRUE(ax::perform_ax_action(ok, "AXPress", "press", Role::Button));
    EXPECT_EQ(error_text(ax::perform_ax_action(ok, "AXShowMenu", "show_menu", Role::Button)),
              debug(Error::ActionNotSupported{"show_menu", Role::Button}));
    sd::add_fault(
        {.call = "AXUIElementPerformAction", .kind = sd::Fault::Kind::Code, .code = -25204});
    EXPECT_EQ(error_text(ax::perform_ax_action(ok, "AXPress", "press", Role::Button)),
              debug(Error::Platform{-25204, "AXPress failed"}));
    sd::add_fault({.call = "AXUIElementPerformAction", .kind = sd::Fault::Kind::Raise});
    EXPECT_EQ(error_text(ax::perform_ax_action(ok, "AXPress", "press", Role::Button)),
              debug(Error::Platform{-9999, "AXPress failed"}));
}

TEST_F(AxTest, OwningApplication) {
    AXElement ok = element(find(kPid, "ok"));
    auto app = ax::owning_app_element(ok, "activate", Role::Button);
    ASSERT_TRUE(app) << error_text(app);
    pid_t pid = 0;
    EXPECT_EQ(AXUIElementGetPid(app->get(), &pid), 0);
    EXPECT_EQ(pid, kPid);
    EXPECT_EQ(ax::ax_string(*app, "AXRole"), "AXApplication");

    sd::add_fault({.call = "AXUIElementGetPid", .kind = sd::Fault::Kind::Code, .code = -25202});
    EXPECT_EQ(error_text(ax::owning_app_element(ok, "activate", Role::Button)),
              debug(Error::Platform{-25202,
                                    "AXUIElementGetPid failed (AXError -25202) while "
                                    "running activate on a button"}));
    // A reference to an element that never existed carries no process.
    EXPECT_EQ(error_text(ax::owning_app_element(AXElement::adopt(sd::element_ref(999999)),
                                                "activate", Role::Button)),
              debug(Error::Platform{-1,
                                    "AXUIElementGetPid returned pid 0 while running activate "
                                    "on a button"}));
    sd::add_fault({.call = "AXUIElementCreateApplication", .kind = sd::Fault::Kind::ReturnNull});
    EXPECT_EQ(error_text(ax::owning_app_element(ok, "activate", Role::Button)),
              debug(Error::Platform{-9999,
                                    "AXUIElementCreateApplication failed while running "
                                    "activate"}));
}

TEST_F(AxTest, CloseButtonAndWindowState) {
    AXElement main = element(find(kPid, "main"));
    auto close = ax::find_close_button(main, Role::Window);
    ASSERT_TRUE(close) << error_text(close);
    ASSERT_TRUE(close->has_value());
    EXPECT_TRUE((*close)->same_element(element(find(kPid, "ok"))));

    AXElement bare = element(find(kPid, "bare"));
    auto none = ax::find_close_button(bare, Role::Window);
    ASSERT_TRUE(none) << error_text(none);
    EXPECT_FALSE(none->has_value());

    // Found through the children when the window's AXCloseButton has no value.
    sd::set_attribute(find(kPid, "main"), "AXCloseButton", sd::NoValue{});
    close = ax::find_close_button(main, Role::Dialog);
    ASSERT_TRUE(close && close->has_value()) << error_text(close);

    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25204,
                   .name = "AXSubrole"});
    EXPECT_EQ(error_text(ax::find_close_button(main, Role::Dialog)),
              debug(Error::Platform{-25204,
                                    "AXSubrole read failed while scanning for the close "
                                    "button of a dialog (AXError -25204); the close "
                                    "button is unknown, not absent"}));
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25204,
                   .name = "AXChildren"});
    EXPECT_EQ(error_text(ax::find_close_button(main, Role::Window)),
              debug(Error::Platform{-25204,
                                    "AXChildren read failed while scanning for the close "
                                    "button of a window (AXError -25204); the close "
                                    "button is unknown, not absent"}));
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Raise,
                   .name = "AXCloseButton"});
    EXPECT_EQ(error_text(ax::find_close_button(main, Role::Window)),
              debug(Error::Platform{-9999,
                                    "AXCloseButton read failed for a window (AXError "
                                    "-9999); the close button is unknown, not absent"}));

    sd::clear_faults();
    // An AXCloseButton answer that is not an element sends the search to the children; a child
    // whose subrole is not a string is passed over.
    sd::set_attribute(find(kPid, "main"), "AXCloseButton", "close");
    sd::add_element(find(kPid, "main"), ElementSpec("AXGroup").attr("AXSubrole", 7), 0);
    close = ax::find_close_button(main, Role::Window);
    ASSERT_TRUE(close && close->has_value()) << error_text(close);
    EXPECT_TRUE((*close)->same_element(element(find(kPid, "ok"))));
    // Children that are not an array: no button, not an error.
    sd::set_attribute(find(kPid, "main"), "AXChildren", "none");
    close = ax::find_close_button(main, Role::Window);
    ASSERT_TRUE(close) << error_text(close);
    EXPECT_FALSE(close->has_value());
    sd::remove_attribute(find(kPid, "main"), "AXChildren");

    auto state = WindowState::probe(main, "restore", Role::Window);
    ASSERT_TRUE(state) << error_text(state);
    EXPECT_EQ(*state, (WindowState{false, std::nullopt, true, false}));
    EXPECT_FALSE(state->reads_minimized());
    sd::add_fault({.call = "AXUIElementCopyAttributeValue",
                   .kind = sd::Fault::Kind::Code,
                   .code = -25204,
                   .name = "AXFullScreen"});
    EXPECT_EQ(error_text(WindowState::probe(main, "restore", Role::Window)),
              debug(Error::Platform{-25204,
                                    "AXFullScreen read failed while handling restore on "
                                    "a window (AXError -25204); the state is unknown, "
                                    "not false"}));
}

}  // namespace
}  // namespace vemor::axtest
