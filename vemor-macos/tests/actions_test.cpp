#include "vemor/macos/actions.hpp"

#include <functional>

#include "ax_test_support.hpp"

namespace vemor::axtest {
namespace {

namespace pids = sd::default_pids;

TEST(ActionForm, PlatformNamesOfActionNames) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"raise", "AXRaise"},       {"show_menu", "AXShowMenu"}, {"Raise", "AXRaise"},
        {"AXRaise", "AXAXRaise"},   {"", "AX"},                  {"a__b", "AXAB"},
        {"_x_", "AXX"},             {"9lives", "AX9lives"},      {"scroll_to_é", "AXScrollToé"},
        {"zoom-in", "AXZoom-in"},
    };
    for (const auto& [name, form] : cases) EXPECT_EQ(ax::ax_action_form(name), form) << name;
}

using Act = std::function<Result<void>(const MacOSProvider&, const ElementData&)>;

// Element actions on the default desktop, as a user sees their effect.
class ActionsTest : public DesktopTest {
protected:
    void SetUp() override { install(sd::default_desktop()); }

    ElementData snapshot(pid_t pid, const std::string& identifier) {
        auto data = value_of(provider().build_element_data(element(find(pid, identifier)), pid));
        sd::clear_call_log();
        return data;
    }
};

TEST_F(ActionsTest, EachActionDoesWhatTheUserSees) {
    struct Case {
        pid_t pid;
        const char* target;
        Act act;
        const char* watched;  // the element whose attribute shows the effect
        const char* attribute;
        sd::Value shown;
    };
    const Case cases[] = {
        {pids::kSettings, "settings.scrollbars", [](auto& p, auto& e) { return p.press(e); },
         "settings.scrollbars", "AXValue", 0},
        {pids::kSettings, "settings.hidemenu", [](auto& p, auto& e) { return p.toggle(e); },
         "settings.hidemenu", "AXValue", 1},
        {pids::kSettings, "settings.wifi", [](auto& p, auto& e) { return p.toggle(e); },
         "settings.wifi", "AXValue", 0},
        {pids::kSettings, "settings.dark", [](auto& p, auto& e) { return p.toggle(e); },
         "settings.light", "AXValue", 0},
        {pids::kSettings, "settings.name", [](auto& p, auto& e) { return p.focus(e); },
         "settings.name", "AXFocused", true},
        {pids::kTextEdit, "textedit.text", [](auto& p, auto& e) { return p.blur(e); },
         "textedit.text", "AXFocused", false},
        {pids::kFinder, "finder.files.Photos", [](auto& p, auto& e) { return p.select(e); },
         "finder.files.Photos", "AXSelected", true},
        {pids::kFinder, "finder.files.Invoices", [](auto& p, auto& e) { return p.expand(e); },
         "finder.files.Invoices", "AXExpanded", true},
        {pids::kFinder, "finder.files.Invoices",
         [](auto& p, auto& e) -> Result<void> {
             VEMOR_TRY_VOID(p.expand(e));
             return p.collapse(e);
         },
         "finder.files.Invoices", "AXExpanded", false},
        {pids::kTextEdit, "textedit.size", [](auto& p, auto& e) { return p.show_menu(e); },
         "textedit.size.menu", "AXHidden", false},
        {pids::kSettings, "settings.volume", [](auto& p, auto& e) { return p.increment(e); },
         "settings.volume", "AXValue", 60.0},
        {pids::kSettings, "settings.volume", [](auto& p, auto& e) { return p.decrement(e); },
         "settings.volume", "AXValue", 40.0},
        {pids::kSettings, "settings.name",
         [](auto& p, auto& e) { return p.set_value(e, "Studio 2"); }, "settings.name", "AXValue",
         "Studio 2"},
        {pids::kSettings, "settings.volume",
         [](auto& p, auto& e) { return p.set_numeric_value(e, 72.5); }, "settings.volume",
         "AXValue", 72.5},
        // The caret stands at the end of the text.
        {pids::kTextEdit, "textedit.text", [](auto& p, auto& e) { return p.type_text(e, " Bye."); },
         "textedit.text", "AXValue", "Hello, world. Bye."},
        {pids::kTextEdit, "textedit.text",
         [](auto& p, auto& e) -> Result<void> {
             VEMOR_TRY_VOID(p.set_text_selection(e, 0, 5));
             return p.type_text(e, "Howdy");
         },
         "textedit.text", "AXValue", "Howdy, world."},
        {pids::kTextEdit, "textedit.text",
         [](auto& p, auto& e) { return p.set_text_selection(e, 7, 99); }, "textedit.text",
         "AXSelectedTextRange", CFRange{7, 6}},
        {pids::kSettings, "settings.apply", [](auto& p, auto& e) { return p.press(e); },
         "settings.status", "AXValue", "Applied"},
        {pids::kNotes, "notes.archive", [](auto& p, auto& e) { return p.perform_action(e, "raise"); },
         "notes.archive", "AXMain", true},
        {pids::kNotes, "notes.archive",
         [](auto& p, auto& e) { return p.perform_action(e, "AXRaise"); }, "notes.archive", "AXMain",
         true},
        {pids::kSettings, "settings.volume",
         [](auto& p, auto& e) { return p.perform_action(e, "increment"); }, "settings.volume",
         "AXValue", 60.0},
        {pids::kTextEdit, "textedit.bold", [](auto& p, auto& e) { return p.perform_action(e, "toggle"); },
         "textedit.bold", "AXValue", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        sd::reset_to_default_desktop();
        const ElementData target = snapshot(c.pid, c.target);
        EXPECT_EQ(error_text(c.act(provider(), target)), "ok");
        EXPECT_EQ(sd::attribute(find(c.pid, c.watched), c.attribute), std::optional(c.shown))
            << c.attribute;
    }
}

TEST_F(ActionsTest, FailuresAndRefusals) {
    struct Case {
        pid_t pid;
        const char* target;
        std::optional<sd::Fault> fault;
        Act act;
        std::string error;
    };
    auto code = [](const char* call, AXError c, const char* name) {
        return sd::Fault{.call = call, .kind = sd::Fault::Kind::Code, .code = c, .name = name};
    };
    const Case cases[] = {
        {pids::kSettings, "settings.name", code("AXUIElementSetAttributeValue", -25200, "AXFocused"),
         [](auto& p, auto& e) { return p.focus(e); },
         "Platform { code: -25200, message: \"Set AXFocused=true failed\" }"},
        {pids::kSettings, "settings.name", code("AXUIElementSetAttributeValue", -25200, "AXFocused"),
         [](auto& p, auto& e) { return p.blur(e); },
         "Platform { code: -25200, message: \"Set AXFocused=false failed\" }"},
        {pids::kSettings, "settings.volume", std::nullopt,
         [](auto& p, auto& e) { return p.select(e); },
         "Platform { code: -25205, message: \"Set AXSelected=true failed\" }"},
        {pids::kFinder, "finder.files.Readme.txt", std::nullopt,
         [](auto& p, auto& e) { return p.expand(e); },
         "ActionNotSupported { action: \"expand\", role: TreeItem }"},
        {pids::kFinder, "finder.files.Photos",
         code("AXUIElementIsAttributeSettable", -25200, "AXExpanded"),
         [](auto& p, auto& e) { return p.collapse(e); },
         "Platform { code: -25200, message: \"IsAttributeSettable(AXExpanded) failed\" }"},
        {pids::kSettings, "settings.volume", std::nullopt,
         [](auto& p, auto& e) { return p.show_menu(e); },
         "ActionNotSupported { action: \"show_menu\", role: Slider }"},
        {pids::kSettings, "settings.volume", code("AXUIElementPerformAction", -25204, "AXIncrement"),
         [](auto& p, auto& e) { return p.increment(e); },
         "Platform { code: -25204, message: \"AXIncrement failed\" }"},
        {pids::kSettings, "settings.status", std::nullopt,
         [](auto& p, auto& e) { return p.set_value(e, "x"); },
         "ActionNotSupported { action: \"set_value\", role: StaticText }"},
        {pids::kSettings, "settings.name", code("AXUIElementSetAttributeValue", -25200, "AXValue"),
         [](auto& p, auto& e) { return p.set_value(e, "x"); },
         "Platform { code: -25200, message: \"Set AXValue (string) failed\" }"},
        {pids::kSettings, "settings.volume", code("AXUIElementSetAttributeValue", -25200, "AXValue"),
         [](auto& p, auto& e) { return p.set_numeric_value(e, 1); },
         "Platform { code: -25200, message: \"Set AXValue (number) failed\" }"},
        {pids::kSettings, "settings.volume", std::nullopt,
         [](auto& p, auto& e) { return p.type_text(e, "x"); },
         "Platform { code: -25205, message: \"Set AXSelectedText failed\" }"},
        // An end before the start asks for a negative length, which a text field refuses.
        {pids::kSettings, "settings.name", std::nullopt,
         [](auto& p, auto& e) { return p.set_text_selection(e, 5, 2); },
         "Platform { code: -25201, message: \"Set AXSelectedTextRange failed\" }"},
        {pids::kSettings, "settings.name",
         sd::Fault{.call = "AXValueCreate", .kind = sd::Fault::Kind::ReturnNull},
         [](auto& p, auto& e) { return p.set_text_selection(e, 0, 2); },
         "Platform { code: -1, message: \"Failed to create CFRange value for text selection\" }"},
        {pids::kSettings, "settings.name", std::nullopt,
         [](auto& p, auto& e) { return p.perform_action(e, "set_value"); },
         "ActionNotSupported { action: \"set_value\", role: TextField }"},
        {pids::kSettings, "settings.name", std::nullopt,
         [](auto& p, auto& e) { return p.perform_action(e, ""); },
         "ActionNotSupported { action: \"\", role: TextField }"},
        {pids::kSettings, "settings.name", code("AXUIElementPerformAction", -25200, "AXConfirm"),
         [](auto& p, auto& e) { return p.perform_action(e, "confirm"); },
         "Platform { code: -25200, message: \"AXConfirm\" }"},
        {pids::kSettings, "settings.name",
         code("AXUIElementPerformAction", kAXErrorActionUnsupported, "AXConfirm"),
         [](auto& p, auto& e) { return p.perform_action(e, "confirm"); },
         "ActionNotSupported { action: \"confirm\", role: TextField }"},
        {pids::kSettings, "settings.window", std::nullopt,
         [](auto& p, auto& e) { return p.perform_action(e, "maximize"); },
         "Unsupported { feature: \"maximize on window: macOS Accessibility has no readable or "
         "writable zoom state\" }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        sd::reset_to_default_desktop();
        const ElementData target = snapshot(c.pid, c.target);
        if (c.fault) sd::add_fault(*c.fault);
        EXPECT_EQ(error_text(c.act(provider(), target)), c.error);
        sd::clear_faults();
    }
}

TEST_F(ActionsTest, ChecksBeforeTheLookupHoldEvenForStaleHandles) {
    struct Case {
        const char* target;
        Act act;
        std::string error;
    };
    const Case cases[] = {
        {"settings.volume", [](auto& p, auto& e) { return p.press(e); },
         "ActionNotSupported { action: \"press\", role: Slider }"},
        {"settings.apply", [](auto& p, auto& e) { return p.toggle(e); },
         "ActionNotSupported { action: \"toggle\", role: Button }"},
        {"settings.window", [](auto& p, auto& e) { return p.perform_action(e, "move_to"); },
         "InvalidActionData { message: \"perform_action(\\\"move_to\\\") requires coordinates; "
         "call move_to(x, y)\" }"},
        {"settings.window", [](auto& p, auto& e) { return p.perform_action(e, "resize_to"); },
         "InvalidActionData { message: \"perform_action(\\\"resize_to\\\") requires dimensions; "
         "call resize_to(width, height)\" }"},
        {"settings.volume", [](auto& p, auto& e) { return p.scroll_into_view(e); }, "ok"},
        {"settings.apply", [](auto& p, auto& e) { return p.perform_action(e, "scroll_into_view"); },
         "ok"},
        {"settings.apply", [](auto& p, auto& e) { return p.press(e); },
         "ElementStale { selector: \"handle:0\" }"},
        {"settings.apply", [](auto& p, auto& e) { return p.perform_action(e, "raise"); },
         "ElementStale { selector: \"handle:0\" }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        ElementData target = snapshot(pids::kSettings, c.target);
        target.handle = 0;
        EXPECT_EQ(error_text(c.act(provider(), target)), c.error);
        EXPECT_TRUE(sd::call_log().empty());
    }
}

TEST_F(ActionsTest, TextSelectionSendsASignedLength) {
    // An element that keeps whatever range it is given shows what was sent.
    const sd::ElementId group = sd::add_element(
        find(pids::kTextEdit, "textedit.window"),
        ElementSpec("AXGroup").identifier("ranged").settable_attr("AXSelectedTextRange",
                                                                  CFRange{0, 0}));
    const ElementData target = snapshot(pids::kTextEdit, "ranged");
    EXPECT_EQ(error_text(provider().set_text_selection(target, 5, 2)), "ok");
    EXPECT_EQ(sd::attribute(group, "AXSelectedTextRange"), std::optional<sd::Value>(CFRange{5, -3}));
}

}  // namespace
}  // namespace vemor::axtest
