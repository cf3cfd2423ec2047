// Tool results: element and tree objects, diagnoses, failure objects, candidate lines, base64.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "vemor/mcp/base64.hpp"
#include "vemor/mcp/results.hpp"
#include "vemor/mock.hpp"

namespace vemor::mcp::tools {
namespace {

ElementData button(std::string name = {}) {
    ElementData e;
    e.role = Role::Button;
    if (!name.empty()) e.name = std::move(name);
    e.states.enabled = true;
    e.states.visible = true;
    return e;
}

TEST(ElementJson, WritesOnlyWhatThereIs) {
    EXPECT_EQ(element_data_json(button()),
              Json::parse(R"({"role":"button","states":{"enabled":true,"visible":true}})"));

    ElementData e = button("OK");
    e.value = "v";
    e.description = "d";
    e.stable_id = "ok";
    e.bounds = Rect{10, 20, 5, 7};
    e.numeric_value = 2.5;
    e.max_value = 9;
    e.actions = {"press"};
    e.states.focused = true;
    e.states.checked = CheckedState::Mixed;
    e.states.expanded = false;
    EXPECT_EQ(json::dump(element_data_json(e)),
              R"({"actions":["press"],"bounds":{"height":7,"width":5,"x":10,"y":20},"center":{"x":12,"y":23},"description":"d","id":"ok","max_value":9.0,"name":"OK","numeric_value":2.5,"role":"button","states":{"checked":"mixed","enabled":true,"expanded":false,"focused":true,"visible":true},"value":"v"})");

    ElementData odd = button();
    odd.min_value = 1;  // without a numeric value: not written
    odd.bounds = Rect{std::numeric_limits<std::int32_t>::max(), 0, 10, 0};
    Json j = element_data_json(odd);
    EXPECT_FALSE(j.contains("min_value"));
    EXPECT_EQ(j["center"]["x"], std::numeric_limits<std::int32_t>::max());  // saturates
    odd.numeric_value = std::nan("");
    EXPECT_EQ(json::dump(element_data_json(odd)["numeric_value"]), "null");
}

TEST(CandidateLine, HeadAndMarkers) {
    EXPECT_EQ(describe_candidate(button()), "button (unnamed)");
    ElementData e = button(std::string(61, 'n'));
    e.value = std::string(41, 'v');
    e.states.checked = CheckedState::On;
    e.states.selected = true;
    e.states.enabled = false;
    e.states.visible = false;
    e.bounds = Rect{10, 20, 5, 5};
    EXPECT_EQ(describe_candidate(e), "button \"" + std::string(60, 'n') + "…\" [value=\"" +
                                         std::string(40, 'v') +
                                         "…\" checked=on selected disabled hidden at (12,22)]");
    EXPECT_EQ(truncate("ééé", 3), "ééé");
    EXPECT_EQ(truncate("éééé", 3), "ééé…");
}

TEST(DiagnosisJson, CapsCandidatesAtTwenty) {
    Diagnosis d;
    d.condition = "c";
    for (int i = 0; i < 20; ++i) d.candidates.push_back(std::to_string(i));
    EXPECT_FALSE(diagnosis_json(d).contains("candidates_omitted"));
    d.candidates.push_back("20");
    Json j = diagnosis_json(d);
    EXPECT_EQ(j["candidates"].size(), 20u);
    EXPECT_EQ(j["candidates_omitted"], 1);
    EXPECT_EQ(j["condition"], "c");
}

TEST(Failure, KindsAndVariantKeys) {
    using E = cli::CliError;
    struct Case {
        cli::CliError error;
        std::string kind;
    };
    const std::vector<Case> cases = {
        {E::Usage{"m"}, "invalid_arguments"},
        {E::Message{"m"}, "no_match"},
        {E::AmbiguousSelector{3, Diagnosis{}}, "ambiguous_selector"},
        {E::AmbiguousShellSurface{2, "panel", Diagnosis{}}, "ambiguous_shell_surface"},
        {E::Subscription{"sub_9", false, {}}, "subscription_not_found"},
        {E::Subscription{"sub_1", true, {"sub_2"}}, "subscription_expired"},
        {Error(Error::PermissionDenied{"x"}), "permission_denied"},
        {Error(Error::AccessibilityNotEnabled{"a", "b"}), "accessibility_not_enabled"},
        {Error(Error::SelectorNotMatched{"s", {}}), "no_match"},
        {Error(Error::ElementStale{"s"}), "element_stale"},
        {Error(Error::ActionNotSupported{"press", Role::Button}), "action_not_supported"},
        {Error(Error::TextValueNotSupported{}), "text_value_not_supported"},
        {Error(Error::Timeout{}), "timeout"},
        {Error(Error::InvalidSelector{"s", "m"}), "invalid_selector"},
        {Error(Error::InvalidActionData{"m"}), "invalid_action_data"},
        {Error(Error::InvalidConfig{"m"}), "invalid_config"},
        {Error(Error::NoElementBounds{}), "no_element_bounds"},
        {Error(Error::Unsupported{"f"}), "unsupported"},
        {Error(Error::Platform{-1, "m"}), "platform"},
    };
    for (const Case& c : cases) {
        Failure f = describe_failure("find", c.error);
        EXPECT_EQ(f.object["kind"], c.kind);
        EXPECT_EQ(f.object["tool"], "find");
        EXPECT_EQ(f.object["message"], c.error.message());
        EXPECT_EQ(f.message, c.error.message());
    }
    EXPECT_EQ(describe_failure("action", E::AmbiguousShellSurface{2, "panel", Diagnosis{}.with_condition("c")}).object,
              Json::parse(R"({"diagnosis":{"condition":"c"},"kind":"ambiguous_shell_surface","match_count":2,"message":"Ambiguous shell surface: 2 panel surfaces are present, but this operation targets exactly one; pick one by process id — `--pid PID` on the command line, the `pid` argument in MCP; waiting for: c","shell_kind":"panel","tool":"action"})"));
    EXPECT_EQ(describe_failure("events_poll", E::Subscription{"x", false, {"sub_2"}}).object["live_subscriptions"],
              Json::parse(R"(["sub_2"])"));

    // A miss whose diagnosis has no selector gets the error's own; one that has keeps it.
    Error miss = Error::diagnose(Error::SelectorNotMatched{"button", {}}, Diagnosis{}.with_condition("c"));
    EXPECT_EQ(describe_failure("find", miss).object["diagnosis"]["selector"], "button");
    Error own = Error::diagnose(Error::SelectorNotMatched{"button", {}}, Diagnosis{}.with_selector("mine"));
    EXPECT_EQ(describe_failure("find", own).object["diagnosis"]["selector"], "mine");
    EXPECT_FALSE(describe_failure("find", Error(Error::SelectorNotMatched{"b", {}})).object.contains("diagnosis"));
}

// A provider over: Root(application) > [A(window) > [a1, a2], B, C].
std::shared_ptr<MockProvider> small_tree() {
    auto node = [](Role role, std::string name, std::vector<std::size_t> children,
                   std::optional<std::size_t> parent, std::uint64_t handle) {
        MockNode n;
        n.data.role = role;
        n.data.name = std::move(name);
        n.data.handle = handle;
        n.children = std::move(children);
        n.parent = parent;
        return n;
    };
    return std::make_shared<MockProvider>(std::vector<MockNode>{
        node(Role::Application, "Root", {1, 2, 3}, std::nullopt, 0),
        node(Role::Window, "A", {4, 5}, 0, 1),
        node(Role::Button, "B", {}, 0, 2),
        node(Role::Button, "C", {}, 0, 3),
        node(Role::Button, "a1", {}, 1, 4),
        node(Role::Button, "a2", {}, 1, 5),
    });
}

// The tree object reduced to names: "Root(A(a1,a2),B,C)".
std::string shape(const Json& node) {
    std::string out = node["name"];
    if (node.contains("children")) {
        out += '(';
        bool first = true;
        for (const Json& c : node["children"]) {
            if (!first) out += ',';
            first = false;
            out += shape(c);
        }
        out += ')';
    }
    return out;
}

TEST(BuildNode, DepthLimitAndNodeBudget) {
    auto provider = small_tree();
    Element root(provider->get_children(nullptr).value().at(0), provider);
    struct Case {
        std::size_t max_depth;
        std::size_t budget;
        std::string shape;
        bool by_depth;
        std::size_t left;
    };
    for (const Case& c : std::vector<Case>{{0, 2000, "Root", true, 2000},
                                           {1, 2000, "Root(A,B,C)", true, 1997},
                                           {12, 2000, "Root(A(a1,a2),B,C)", false, 1995},
                                           {12, 2, "Root(A(a1))", false, 0},
                                           {12, 0, "Root", false, 0}}) {
        std::size_t budget = c.budget;
        bool by_depth = false;
        Json tree = build_node(root, c.max_depth, 0, budget, by_depth, nullptr);
        EXPECT_EQ(shape(tree), c.shape) << c.max_depth << "/" << c.budget;
        EXPECT_EQ(by_depth, c.by_depth) << c.max_depth << "/" << c.budget;
        EXPECT_EQ(budget, c.left) << c.max_depth << "/" << c.budget;
    }
}

TEST(Base64, PaddingFollowsTheRemainder) {
    auto enc = [](std::string_view s) {
        return base64::encode(std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
    };
    EXPECT_EQ(enc(""), "");
    EXPECT_EQ(enc("f"), "Zg==");
    EXPECT_EQ(enc("fo"), "Zm8=");
    EXPECT_EQ(enc("foo"), "Zm9v");
    EXPECT_EQ(enc("foobar"), "Zm9vYmFy");
    EXPECT_EQ(enc("\xff\xfe\xfd\xfc"), "//79/A==");
}

TEST(ToolOutputShapes, TextAndImageItems) {
    ToolOutput j = ToolOutput::json(Json{{"b", 1}, {"a", "é"}});
    EXPECT_EQ(Json(j.content), Json::parse(R"([{"text":"{\"a\":\"é\",\"b\":1}","type":"text"}])"));
    EXPECT_EQ(*j.structured_content, (Json{{"a", "é"}, {"b", 1}}));
    std::uint8_t bytes[] = {1, 2, 3};
    ToolOutput p = ToolOutput::png(bytes, Json{{"width", 1}});
    EXPECT_EQ(Json(p.content), Json::parse(R"([{"data":"AQID","mimeType":"image/png","type":"image"},{"text":"{\"width\":1}","type":"text"}])"));
}

}  // namespace
}  // namespace vemor::mcp::tools
