// The tool host in process, over the simulated desktop: the catalogue's shapes, and that a
// refused call does nothing at all (no input posted, no action performed).
#include <gtest/gtest.h>

#include "vemor/mcp/tools.hpp"
#include "vemor/standin/control.hpp"

namespace vemor::mcp {
namespace {

TEST(Catalogue, SixteenToolsInOrderWithTheirSchemaShapes) {
    VemorTools tools;
    Json list = tools.list();
    ASSERT_EQ(list.size(), 16u);
    for (std::size_t i = 0; i < 16; ++i) {
        const Json& t = list[i];
        EXPECT_EQ(t["name"], tools::kToolNames[i]);
        EXPECT_TRUE(t.contains("title"));
        const Json& schema = t["inputSchema"];
        EXPECT_EQ(schema["type"], "object");
        EXPECT_EQ(schema["additionalProperties"], false);
        bool bare = t["name"] == "apps" || t["name"] == "shell";
        EXPECT_EQ(schema.contains("properties"), !bare) << t["name"];
        EXPECT_EQ(schema.contains("required"), !bare) << t["name"];
    }
    EXPECT_EQ(list[2]["inputSchema"]["required"], Json::array());
    EXPECT_EQ(list[5]["inputSchema"]["required"], Json::parse(R"(["action","selector"])"));
    EXPECT_EQ(list[8]["inputSchema"]["required"], Json::parse(R"(["from_x","from_y","to_x","to_y"])"));

    const Json& click = list[6]["inputSchema"]["properties"];
    EXPECT_EQ(click["x"], Json::parse(R"({"description":"Screen coordinate to click. X, in screen coordinates.","maximum":2147483647,"minimum":-2147483648,"type":"integer"})"));
    EXPECT_EQ(click["button"]["enum"], Json::parse(R"(["left","right","middle"])"));
    EXPECT_EQ(click["button"]["description"], "Mouse button. Default \"left\".");
    EXPECT_EQ(click["held"], Json::parse(R"({"description":"Modifier keys held for the duration of the gesture, e.g. [\"Shift\", \"Meta\"].","items":{"type":"string"},"type":"array"})"));
    const Json& action = list[5]["inputSchema"]["properties"];
    EXPECT_EQ(action["action"]["enum"].size(), 23u);
    EXPECT_EQ(action["action"]["enum"][22], "resize-to");
    EXPECT_EQ(action["shell"]["enum"], Json::parse(R"(["menu_bar","status_items","taskbar","panel","dock","desktop","flyout","unknown"])"));
    EXPECT_TRUE(action["app"]["description"].get<std::string>().starts_with(
        "Application name, matched exactly and case-sensitively"));
    EXPECT_EQ(list[14]["inputSchema"]["properties"]["timeout_ms"]["maximum"], 15000);
    EXPECT_EQ(list[13]["inputSchema"]["properties"]["kinds"]["items"]["enum"].size(), 14u);
    EXPECT_EQ(list[0]["description"], "List running applications with their process ids. Start here to find the `app` or `pid` the other tools need.");
    EXPECT_TRUE(list[3]["description"].get<std::string>().ends_with(tools::kActionsNote));

    for (std::string_view name : {"Apps", "events", "", "apps "}) EXPECT_FALSE(tools.has_tool(name)) << name;
    EXPECT_EQ(tools::tool_definition("nope"), Json::parse(R"({"description":"internal error: tool has no definition","inputSchema":{"type":"object"},"name":"nope"})"));
}

class RefusedCalls : public ::testing::Test {
protected:
    void SetUp() override { standin::reset_to_default_desktop(); }
    void TearDown() override { standin::reset_to_default_desktop(); }
};

TEST_F(RefusedCalls, PostNoInputAndPerformNoAction) {
    VemorTools tools;
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"click", R"({"x":10,"y":10,"count":0})"},
        {"click", R"({"x":10,"y":10,"held":["Shift","nope"]})"},
        {"click", R"({"x":10,"y":10,"button":"primary"})"},
        {"move", R"({"x":10})"},
        {"drag", R"({"from_x":0,"from_y":0,"to_x":5,"to_y":5,"held":[""]})"},
        {"scroll", R"({"x":1,"y":1,"dy":1.5})"},
        {"type", R"({"text":null})"},
        {"key", R"({"key":"a","held":["Ctrl","hyper"]})"},
        {"key", R"({"key":"enter"})"},
        {"action", R"({"app":"TextEdit","selector":"check_box","action":"toggle"})"},
        {"action", R"({"app":"TextEdit","selector":"button","action":"pres"})"},
        {"action", R"({"app":"Settings","selector":"slider","action":"set-numeric-value","value":"inf"})"},
    };
    for (const auto& [name, arguments] : refused) {
        standin::clear_posted_events();
        standin::clear_call_log();
        auto result = tools.call(name, Json::parse(arguments));
        EXPECT_FALSE(result) << name << " " << arguments;
        EXPECT_TRUE(standin::posted_events().empty()) << name << " " << arguments;
        EXPECT_EQ(standin::call_count("AXUIElementPerformAction"), 0u) << name << " " << arguments;
        EXPECT_EQ(standin::call_count("AXUIElementSetAttributeValue"), 0u) << name << " " << arguments;
    }
    // The same calls made valid do reach the desktop.
    standin::clear_posted_events();
    ASSERT_TRUE(tools.call("click", Json::parse(R"({"x":10,"y":10,"held":["Shift"]})")));
    EXPECT_FALSE(standin::posted_events().empty());
    standin::clear_call_log();
    ASSERT_TRUE(tools.call("action", Json::parse(R"({"app":"TextEdit","selector":"check_box[name=\"Bold\"]","action":"toggle"})")));
    EXPECT_EQ(standin::call_count("AXUIElementPerformAction"), 1u);
}

TEST_F(RefusedCalls, InputToolsEchoWhatTheyDid) {
    VemorTools tools;
    struct Case {
        std::string tool;
        std::string arguments;
        std::string result;
    };
    for (const Case& c : std::vector<Case>{
             {"click", R"({"x":10,"y":-20,"count":3})", R"({"ok":true,"x":10,"y":-20})"},
             {"move", R"({"x":1,"y":2})", R"({"ok":true,"x":1,"y":2})"},
             {"drag", R"({"from_x":1,"from_y":2,"to_x":3,"to_y":4,"duration_ms":0})", R"({"from":{"x":1,"y":2},"ok":true,"to":{"x":3,"y":4}})"},
             {"scroll", R"({"x":5,"y":6})", R"({"dx":0,"dy":0,"ok":true,"x":5,"y":6})"},
             {"type", R"({"text":"héllo"})", R"({"ok":true,"typed_characters":5})"},
             {"key", R"({"key":"Return","held":["Shift"]})", R"({"key":"Return","ok":true})"},
         }) {
        auto result = tools.call(c.tool, Json::parse(c.arguments));
        ASSERT_TRUE(result) << c.tool << ": " << result.error().message();
        EXPECT_EQ(*result->structured_content, Json::parse(c.result)) << c.tool;
    }
}

}  // namespace
}  // namespace vemor::mcp
