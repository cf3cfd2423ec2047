// The text forms of the command: element lines, legend texts and JSON, the tree printer.
#include "vemor/cli/output.hpp"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stub_provider.hpp"
#include "vemor/json.hpp"

namespace vemor::cli {
namespace {

// Runs `body` with standard output sent to a temporary file and returns what it wrote.
std::string capture_stdout(const std::function<void()>& body) {
    FILE* tmp = std::tmpfile();
    EXPECT_NE(tmp, nullptr);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(tmp), STDOUT_FILENO);
    body();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::string out;
    std::rewind(tmp);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, tmp)) > 0;) out.append(buf, n);
    std::fclose(tmp);
    return out;
}

ElementData make(Role role, std::optional<std::string> name = std::nullopt) {
    ElementData e;
    e.role = role;
    e.name = std::move(name);
    e.states.enabled = true;
    e.states.visible = true;
    return e;
}

TEST(OneLineForm, PartsFlagsAndNumbers) {
    ElementData bare = make(Role::StaticText);

    ElementData full = make(Role::Slider, "Vol \"main\"");
    full.value = "a\\b";
    full.numeric_value = 88;
    full.min_value = 0.0000001;
    full.max_value = 1e21;
    full.description = "desc";
    full.states = StateSet{.enabled = false,
                           .visible = false,
                           .focused = true,
                           .active = true,
                           .selected = true,
                           .editable = true,
                           .focusable = true,
                           .modal = true,
                           .required = true,
                           .busy = true,
                           .minimized = true,
                           .maximized = true,
                           .fullscreen = true,
                           .expanded = false,
                           .checked = CheckedState::Mixed};
    full.bounds = Rect{-5, 10, 300, 20};
    full.stable_id = "vol";
    full.actions = {"AXIncrement", "AXDecrement"};

    ElementData partial = make(Role::Window);
    partial.min_value = 1;  // without a numeric value: not shown
    partial.numeric_value = 0.5;
    partial.max_value = -2.25;
    partial.states.minimized = false;
    partial.states.maximized = false;
    partial.states.fullscreen = false;
    partial.states.expanded = true;
    partial.states.checked = CheckedState::Off;

    ElementData only_min = make(Role::Button);
    only_min.min_value = 3;

    // Shortest round-trip digits, even where a fixed precision would round them away or the
    // value is far below the exponent threshold.
    ElementData digits = make(Role::Slider);
    digits.numeric_value = 0.1 + 0.2;
    digits.min_value = -0.0;
    digits.max_value = 5e-324;

    // Texts from another program: their control characters must not reach the terminal raw.
    ElementData hostile = make(Role::Window, "T\x1b]0;pwn\x07");
    hostile.value = "a\nb\tc";
    hostile.description = std::string("d\0\x7f", 3);
    hostile.stable_id = "\xC2\x9B[1m";
    hostile.actions = {"AX\rPress"};

    struct Case {
        const ElementData& element;
        std::string expected;
    } cases[] = {
        {bare, "static_text [enabled visible]"},
        {hostile,
         "window \"T\\u{1b}]0;pwn\\u{7}\" value=\"a\\nb\\tc\" description=\"d\\0\\u{7f}\" "
         "[enabled visible] id=\"\\u{9b}[1m\" actions=[AX\\rPress]"},
        {full,
         "slider \"Vol \"main\"\" value=\"a\\b\" numeric_value=88 min=0.0000001 "
         "max=1000000000000000000000 description=\"desc\" [disabled hidden focused active "
         "minimized maximized fullscreen focusable editable selected modal required busy "
         "checked=mixed collapsed] bounds=(-5,10,300,20) id=\"vol\" "
         "actions=[AXIncrement,AXDecrement]"},
        {partial,
         "window numeric_value=0.5 min=1 max=-2.25 [enabled visible checked=off expanded]"},
        {only_min, "button [enabled visible]"},
        {digits, "slider numeric_value=0.30000000000000004 min=-0 max=0." + std::string(323, '0') +
                     "5 [enabled visible]"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_element_oneline(c.element), c.expected);
}

TEST(LegendName, EscapesAndCutsByCharacter) {
    const std::string e120 = std::string(119, 'x') + "é";
    struct Case {
        std::optional<std::string> name;
        std::string expected;
    } cases[] = {
        {std::nullopt, "-"},
        {"", "\"\""},
        {"Say \"hi\"\\", "\"Say \\\"hi\\\"\\\\\""},
        {std::string("a\tb\rc\nd\0e", 9), "\"a\\tb\\rc\\nd\\0e\""},
        {"bell\x07", "\"bell\\u{7}\""},
        {e120, "\"" + e120 + "\""},
        {e120 + "y", "\"" + e120 + "…\""},
    };
    for (const auto& c : cases) EXPECT_EQ(legend_name(c.name), c.expected);
}

TEST(GroupLetter, BijectiveLetters) {
    EXPECT_EQ(group_letter(0), "A");
    EXPECT_EQ(group_letter(1), "A");
    EXPECT_EQ(group_letter(26), "Z");
    EXPECT_EQ(group_letter(27), "AA");
    EXPECT_EQ(group_letter(703), "AAA");
}

LegendEntry entry(std::string tag, std::size_t group, std::size_t index, std::string selector,
                  std::string role, std::optional<std::string> name, Rect bounds) {
    return LegendEntry{std::move(tag),  group,           index,  std::move(selector),
                       std::move(role), std::move(name), bounds, annotate::group_color(group)};
}

// Three groups, the cap reached in the second: the second and third carry the two notes.
Annotated capped_annotation() {
    Annotated a;
    a.legend = {
        entry("A1", 1, 1, "button:nth(1)", "button", "OK", {10, 20, 80, 24}),
        entry("A2", 1, 2, "button:nth(2)", "button", "Ünïcode", {-4, 0, 8, 1000}),
        entry("B1", 2, 1, "text_field[name=\"q\"]:nth(1)", "text_field", std::nullopt,
              {0, 0, 5, 5}),
    };
    for (int i = 0; i < 7; ++i) {
        a.omitted.push_back(Omission{"button:nth(9)", "button",
                                     i == 0 ? std::optional<std::string>("Gone") : std::nullopt,
                                     i == 1 ? OmissionReason::ZeroArea : OmissionReason::NoBounds});
    }
    a.truncated = 12;
    return a;
}

TEST(LegendText, GroupsEntriesOmissionsAndTruncation) {
    const std::vector<std::string> selectors = {"button", "text_field[name=\"q\"]", "link"};
    EXPECT_EQ(render_legend_text(selectors, capped_annotation()),
              "A  button                #E69F00  2 annotated\n"
              "B  text_field[name=\"q\"]  #56B4E9  1 annotated  (cap reached, so more may have "
              "matched)\n"
              "C  link                  #009E73  0 annotated  (cap reached at or before this "
              "group, so 0 is not \"matched nothing\")\n"
              "\n"
              "A1  button      \"OK\"         bounds=10,20,80,24  button:nth(1)\n"
              // Widths are byte lengths and padding counts characters: the two-byte letters
              // leave this name two spaces wider than its column.
              "A2  button      \"Ünïcode\"    bounds=-4,0,8,1000  button:nth(2)\n"
              "B1  text_field  -            bounds=0,0,5,5      text_field[name=\"q\"]:nth(1)\n"
              "\n"
              "omitted: 7 elements (no_bounds: button \"Gone\", zero_area: button -, no_bounds: "
              "button -, no_bounds: button -, no_bounds: button -, … +2 more)\n"
              "truncated: 12 more elements matched but were not described (cap: 100)\n");
}

TEST(LegendText, SingularFormsAndEmptyCases) {
    Annotated one;
    one.omitted = {Omission{"x", "link", std::nullopt, OmissionReason::OutsideCapture}};
    one.truncated = 1;
    EXPECT_EQ(render_legend_text(std::vector<std::string>{"x"}, one),
              "A  x  #E69F00  0 annotated  (cap reached at or before this group, so 0 is not "
              "\"matched nothing\")\n"
              "\n"
              "omitted: 1 element (outside_capture: link -)\n"
              "truncated: 1 more element matched but was not described (cap: 100)\n");
    EXPECT_EQ(render_legend_text({}, Annotated{}), "");
}

// The whole layout is pinned by the executable's golden test; here the fields that a plain
// capture does not reach: the cap flags of later groups, a null name, the truncated count.
TEST(LegendJson, CapFlagsNullNameAndEmptyForm) {
    Annotated a;
    a.legend = {entry("A1", 1, 1, "button:nth(1)", "button", std::nullopt, {1, 2, 3, 4})};
    a.truncated = 2;
    const std::vector<std::string> selectors = {"button", "link"};
    auto json = render_legend_json(selectors, a);
    ASSERT_TRUE(json.has_value());
    ASSERT_EQ(json->back(), '\n');
    const auto parsed = vemor::json::parse(*json);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ((*parsed)["groups"][0]["capped"], true);
    EXPECT_EQ((*parsed)["groups"][1]["capped"], true);
    EXPECT_EQ((*parsed)["groups"][1]["annotated"], 0);
    EXPECT_EQ((*parsed)["groups"][1]["letter"], "B");
    EXPECT_EQ((*parsed)["groups"][1]["color_hex"], "#56B4E9");
    EXPECT_TRUE((*parsed)["legend"][0]["name"].is_null());
    EXPECT_EQ((*parsed)["truncated"], 2);
    EXPECT_EQ((*parsed)["cap"], 100);

    auto empty = render_legend_json({}, Annotated{});
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(*empty,
              "{\n  \"cap\": 100,\n  \"groups\": [],\n  \"legend\": [],\n  \"omitted\": [],\n"
              "  \"truncated\": 0\n}\n");
}

TEST(EventLine, KindTargetAndStateChange) {
    Event focus{.target = make(Role::Button, "OK \"now\""),
                .kind = {EventKind::Type::FocusChanged}};
    Event unnamed{.target = make(Role::Window), .kind = {EventKind::Type::WindowOpened}};
    Event untargeted{.kind = {EventKind::Type::Announcement}};
    Event state{.target = make(Role::CheckBox, "Bold"),
                .kind = EventKind::state_changed(StateFlag::Fullscreen, true)};
    Event cleared{.kind = EventKind::state_changed(StateFlag::Checked, false)};
    Event hostile{.target = make(Role::Window, "T\x1b]0;pwn\x07"),
                  .kind = {EventKind::Type::NameChanged}};
    EXPECT_EQ(format_event_line(focus), "[focus_changed] button \"OK \"now\"\"\n");
    EXPECT_EQ(format_event_line(unnamed), "[window_opened] window\n");
    EXPECT_EQ(format_event_line(untargeted), "[announcement] -\n");
    EXPECT_EQ(format_event_line(state), "[state_changed] check_box \"Bold\" Fullscreen=true\n");
    EXPECT_EQ(format_event_line(cleared), "[state_changed] - Checked=false\n");
    EXPECT_EQ(format_event_line(hostile), "[name_changed] window \"T\\u{1b}]0;pwn\\u{7}\"\n");
}

// A tree scripted by handle: children per handle, or a failure.
class TreeProvider : public testing::StubProvider {
public:
    std::function<Result<ElementList>(const ElementData&)> children;
    Result<ElementList> get_children(const ElementData* parent) const override {
        if (!parent) return ElementList{};
        return children(*parent);
    }
};

ElementData node(std::uint64_t handle, Role role, std::string name) {
    ElementData e = make(role, std::move(name));
    e.handle = handle;
    return e;
}

TEST(TreePrinter, ConnectorsPrefixesAndInlineErrors) {
    auto provider = std::make_shared<TreeProvider>();
    provider->children = [](const ElementData& e) -> Result<ElementList> {
        switch (e.handle) {
            case 1:
                return ElementList{node(2, Role::Group, "a"), node(5, Role::Group, "b")};
            case 2:
                return ElementList{node(3, Role::Button, "a1"), node(4, Role::Button, "a2")};
            case 3:
                return fail(Error::Platform{-25204, "AXError"});
            case 5:
                return ElementList{node(6, Role::Link, "b1")};
            default:
                return ElementList{};
        }
    };
    const Element root(node(1, Role::Window, "W"), provider);
    const std::string out = capture_stdout(
        [&] { EXPECT_TRUE(print_tree_recursive(root, "", true, true, nullptr).has_value()); });
    EXPECT_EQ(out,
              "window \"W\" [enabled visible]\n"
              "├── group \"a\" [enabled visible]\n"
              "│   ├── button \"a1\" [enabled visible]\n"
              "│   │   └── <error: Platform error (-25204): AXError>\n"
              "│   └── button \"a2\" [enabled visible]\n"
              "└── group \"b\" [enabled visible]\n"
              "    └── link \"b1\" [enabled visible]\n");
}

TEST(TreePrinter, RootWhoseChildrenFailPrintsOneErrorLine) {
    auto provider = std::make_shared<TreeProvider>();
    provider->children = [](const ElementData&) -> Result<ElementList> {
        return fail(Error::Unsupported{"children"});
    };
    const Element root(node(1, Role::Application, "App"), provider);
    const std::string out = capture_stdout(
        [&] { EXPECT_TRUE(print_tree_recursive(root, "", true, true, nullptr).has_value()); });
    EXPECT_EQ(out, "application \"App\" [enabled visible]\n└── <error: Unsupported: children>\n");
}

TEST(TreePrinter, CyclicTreeStopsAtTheDepthLimit) {
    auto provider = std::make_shared<TreeProvider>();
    // Every element is its own only child.
    provider->children = [](const ElementData& e) -> Result<ElementList> { return ElementList{e}; };
    const Element root(node(1, Role::Group, "loop"), provider);
    const std::string out = capture_stdout(
        [&] { EXPECT_TRUE(print_tree_recursive(root, "", true, true, nullptr).has_value()); });
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(out.substr(start, end - start));
    ASSERT_EQ(lines.size(), kMaxTreeDepth + 2);
    EXPECT_EQ(lines.back(),
              std::string(4 * kMaxTreeDepth, ' ') +
                  "└── <error: the tree goes deeper than 512 levels (it may loop back on itself); "
                  "not descending further>");
}

}  // namespace
}  // namespace vemor::cli
