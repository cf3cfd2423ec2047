#include "vemor/macos/actions.hpp"

#include <vector>

#include "ax_test_support.hpp"

namespace vemor::axtest {
namespace {

namespace pids = sd::default_pids;

TEST(ActionForm, PlatformNamesOfActionNames) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"raise", "AXRaise"},
        {"show_menu", "AXShowMenu"},
        {"Raise", "AXRaise"},
        {"AXRaise", "AXAXRaise"},
        {"", "AX"},
        {"a__b", "AXAB"},
        {"_x_", "AXX"},
        {"9lives", "AX9lives"},
        {"scroll_to_é", "AXScrollToé"},
        {"zoom-in", "AXZoom-in"},
    };
    for (const auto& [name, form] : cases) EXPECT_EQ(ax::ax_action_form(name), form) << name;
}

// An operation by name with its arguments; those without arguments go through perform_action,
// which leads to the operation of that name.
struct Op {
    std::string_view name;
    std::string_view text = {};
    double number = 0;
    std::uint32_t start = 0, end = 0;
};

Result<void> apply(const MacOSProvider& p, const ElementData& e, const std::vector<Op>& ops) {
    for (const Op& op : ops) {
        Result<void> r;
        if (op.name == "set_value")
            r = p.set_value(e, op.text);
        else if (op.name == "type_text")
            r = p.type_text(e, op.text);
        else if (op.name == "set_numeric_value")
            r = p.set_numeric_value(e, op.number);
        else if (op.name == "set_text_selection")
            r = p.set_text_selection(e, op.start, op.end);
        else
            r = p.perform_action(e, op.name);
        if (!r) return r;
    }
    return {};
}

class ActionsTest : public DesktopTest {
protected:
    void SetUp() override { install(sd::default_desktop()); }

    ElementData snapshot(pid_t pid, const std::string& identifier) {
        auto data = value_of(provider().build_element_data(element(find(pid, identifier)),
                                                           static_cast<std::uint32_t>(pid)));
        sd::clear_call_log();
        return data;
    }
};

TEST_F(ActionsTest, EachActionDoesWhatTheUserSees) {
    using namespace pids;
    struct Case {
        pid_t pid;
        const char* target;
        std::vector<Op> ops;
        const char* watched;  // the element whose attribute shows the effect
        const char* attribute;
        sd::Value shown;
    };
    const Case cases[] = {
        {kSettings, "settings.scrollbars", {{"press"}}, "settings.scrollbars", "AXValue", 0},
        {kSettings, "settings.wifi", {{"toggle"}}, "settings.wifi", "AXValue", 0},
        {kSettings, "settings.dark", {{"toggle"}}, "settings.light", "AXValue", 0},
        {kSettings, "settings.name", {{"focus"}}, "settings.name", "AXFocused", true},
        {kTextEdit, "textedit.text", {{"blur"}}, "textedit.text", "AXFocused", false},
        {kFinder, "finder.files.Photos", {{"select"}}, "finder.files.Photos", "AXSelected", true},
        {kFinder,
         "finder.files.Invoices",
         {{"expand"}},
         "finder.files.Invoices",
         "AXExpanded",
         true},
        {kFinder,
         "finder.files.Invoices",
         {{"expand"}, {"collapse"}},
         "finder.files.Invoices",
         "AXExpanded",
         false},
        {kTextEdit, "textedit.size", {{"show_menu"}}, "textedit.size.menu", "AXHidden", false},
        {kSettings, "settings.volume", {{"increment"}}, "settings.volume", "AXValue", 60.0},
        {kSettings, "settings.volume", {{"decrement"}}, "settings.volume", "AXValue", 40.0},
        {kSettings,
         "settings.volume",
         {{"set_numeric_value", {}, 72.5}},
         "settings.volume",
         "AXValue",
         72.5},
        {kSettings,
         "settings.name",
         {{"set_value", "Studio 2"}},
         "settings.name",
         "AXValue",
         "Studio 2"},
        // The caret stands at the end of the text; a selection is replaced by what is typed.
        {kTextEdit,
         "textedit.text",
         {{"type_text", " Bye."}},
         "textedit.text",
         "AXValue",
         "Hello, world. Bye."},
        {kTextEdit,
         "textedit.text",
         {{"set_text_selection", {}, 0, 0, 5}, {"type_text", "Howdy"}},
         "textedit.text",
         "AXValue",
         "Howdy, world."},
        {kTextEdit,
         "textedit.text",
         {{"set_text_selection", {}, 0, 7, 99}},
         "textedit.text",
         "AXSelectedTextRange",
         CFRange{7, 6}},
        {kNotes, "notes.archive", {{"raise"}}, "notes.archive", "AXMain", true},
        {kNotes, "notes.archive", {{"AXRaise"}}, "notes.archive", "AXMain", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        sd::reset_to_default_desktop();
        EXPECT_EQ(error_text(apply(provider(), snapshot(c.pid, c.target), c.ops)), "ok");
        EXPECT_EQ(sd::attribute(find(c.pid, c.watched), c.attribute), std::optional(c.shown))
            << c.attribute;
    }
}

TEST_F(ActionsTest, FailuresAndRefusals) {
    using namespace pids;
    struct Case {
        pid_t pid;
        const char* target;
        std::optional<sd::Fault> fault;
        Op op;
        std::string error;
        bool stale = false;  // the checks before the lookup hold even for a stale handle
    };
    auto code = [](const char* call, AXError c, const char* name) {
        return sd::Fault{.call = call, .kind = sd::Fault::Kind::Code, .code = c, .name = name};
    };
    const Case cases[] = {
        {kSettings, "settings.volume", {}, {"press"}, "Action press not supported on slider", true},
        {kSettings,
         "settings.apply",
         {},
         {"toggle"},
         "Action toggle not supported on button",
         true},
        {kSettings,
         "settings.window",
         {},
         {"move_to"},
         "Invalid action data: perform_action(\"move_to\") requires coordinates; call move_to(x, "
         "y)",
         true},
        {kSettings,
         "settings.window",
         {},
         {"resize_to"},
         "Invalid action data: perform_action(\"resize_to\") requires dimensions; call "
         "resize_to(width, height)",
         true},
        {kSettings, "settings.volume", {}, {"scroll_into_view"}, "ok", true},
        {kSettings,
         "settings.apply",
         {},
         {"press"},
         "Element stale: could not relocate element for selector: handle:0",
         true},
        {kSettings,
         "settings.name",
         code("AXUIElementSetAttributeValue", -25200, "AXFocused"),
         {"blur"},
         "Platform error (-25200): Set AXFocused=false failed"},
        {kSettings,
         "settings.volume",
         {},
         {"select"},
         "Platform error (-25205): Set AXSelected=true failed"},
        {kFinder,
         "finder.files.Readme.txt",
         {},
         {"expand"},
         "Action expand not supported on tree_item"},
        {kFinder,
         "finder.files.Photos",
         code("AXUIElementIsAttributeSettable", -25200, "AXExpanded"),
         {"collapse"},
         "Platform error (-25200): IsAttributeSettable(AXExpanded) failed"},
        {kSettings,
         "settings.volume",
         {},
         {"show_menu"},
         "Action show_menu not supported on slider"},
        {kSettings,
         "settings.volume",
         code("AXUIElementPerformAction", -25204, "AXIncrement"),
         {"increment"},
         "Platform error (-25204): AXIncrement failed"},
        {kSettings,
         "settings.status",
         {},
         {"set_value", "x"},
         "Action set_value not supported on static_text"},
        {kSettings,
         "settings.name",
         code("AXUIElementSetAttributeValue", -25200, "AXValue"),
         {"set_value", "x"},
         "Platform error (-25200): Set AXValue (string) failed"},
        {kSettings,
         "settings.volume",
         code("AXUIElementSetAttributeValue", -25200, "AXValue"),
         {"set_numeric_value", {}, 1},
         "Platform error (-25200): Set AXValue (number) failed"},
        {kSettings,
         "settings.volume",
         {},
         {"type_text", "x"},
         "Platform error (-25205): Set AXSelectedText failed"},
        // An end before the start asks for a negative length, which a text field refuses.
        {kSettings,
         "settings.name",
         {},
         {"set_text_selection", {}, 0, 5, 2},
         "Platform error (-25201): Set AXSelectedTextRange failed"},
        {kSettings,
         "settings.name",
         sd::Fault{.call = "AXValueCreate", .kind = sd::Fault::Kind::ReturnNull},
         {"set_text_selection", {}, 0, 0, 2},
         "Platform error (-1): Failed to create CFRange value for text selection"},
        {kSettings,
         "settings.name",
         {},
         {"set_value"},
         "Action set_value not supported on text_field"},
        {kSettings, "settings.name", {}, {""}, "Action  not supported on text_field"},
        {kSettings,
         "settings.name",
         code("AXUIElementPerformAction", -25200, "AXConfirm"),
         {"confirm"},
         "Platform error (-25200): AXConfirm"},
        {kSettings,
         "settings.name",
         code("AXUIElementPerformAction", -25206, "AXConfirm"),
         {"confirm"},
         "Action confirm not supported on text_field"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        sd::reset_to_default_desktop();
        ElementData target = snapshot(c.pid, c.target);
        if (c.stale) target.handle = 0;
        if (c.fault) sd::add_fault(*c.fault);
        auto r = c.op.name == "set_value" && c.op.text.empty()
                     ? provider().perform_action(target, "set_value")
                     : apply(provider(), target, {c.op});
        EXPECT_EQ(r ? "ok" : r.error().message(), c.error);
        if (c.stale) {
            EXPECT_TRUE(sd::call_log().empty());
        }
        sd::clear_faults();
    }
}

TEST_F(ActionsTest, TextSelectionSendsASignedLength) {
    // An element that keeps whatever range it is given shows what was sent.
    const sd::ElementId group =
        sd::add_element(find(pids::kTextEdit, "textedit.window"),
                        ElementSpec("AXGroup").identifier("ranged").settable_attr(
                            "AXSelectedTextRange", CFRange{0, 0}));
    const ElementData target = snapshot(pids::kTextEdit, "ranged");
    EXPECT_EQ(error_text(provider().set_text_selection(target, 5, 2)), "ok");
    EXPECT_EQ(sd::attribute(group, "AXSelectedTextRange"),
              std::optional<sd::Value>(CFRange{5, -3}));
}

}  // namespace
}  // namespace vemor::axtest
