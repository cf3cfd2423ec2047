// The tool host in process, over the simulated desktop: the catalogue's shapes, and that a
// refused call does nothing at all (no input posted, no action performed).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <variant>
#include <vector>

#include "vemor/config.hpp"
#include "vemor/mcp/protocol.hpp"
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

// `tools/list` is written from the catalogue's cached text, not serialised from a tree: its line
// must be byte for byte what serialising the whole response would give, in every session mode,
// for every kind of id, and after the default time-out it states has changed.
TEST(Catalogue, ListingLineIsTheSerialisedResponse) {
    using namespace std::chrono_literals;
    auto saved = config::default_timeout();
    ASSERT_TRUE(saved);
    const std::string meta =
        R"({"_meta":{"io.modelcontextprotocol/protocolVersion":"2025-11-25"}})";
    struct Case {
        std::string opening;  // the first message, which decides the session mode
        bool marked;          // "resultType" and the cache hints
        Duration timeout;
    };
    const std::vector<Case> cases = {
        {R"({"id":0,"method":"ping"})", true, 5s},
        {R"({"id":0,"method":"initialize"})", false, 2500ms},
        {R"({"id":0,"method":"ping","params":)" + meta + "}", true, 250ms},
        {R"({"id":0,"method":"initialize"})", false, 5s},
    };
    const std::vector<std::string> ids = {
        "1", "-9223372036854775808", "18446744073709551615", "1.5", "null", "true",
        R"("é😀 \"\\ \u0001")", "[]", "{}", R"([[1],{"b":1,"a":[null]}])",
    };
    for (const Case& c : cases) {
        config::set_default_timeout(c.timeout);
        Session session;
        ASSERT_TRUE(session.handle(Json::parse(c.opening)));
        for (const std::string& id_text : ids) {
            Json id = Json::parse(id_text);
            auto response = session.handle(Json{{"id", id}, {"method", "tools/list"}});
            ASSERT_TRUE(response);
            const auto* text = std::get_if<SerializedResponse>(&*response);
            ASSERT_NE(text, nullptr);
            const std::string line = text->text();
            Json result{{"tools", tools::list_definitions()}};
            if (c.marked)
                result.update(
                    Json{{"resultType", "complete"}, {"ttlMs", 3600000}, {"cacheScope", "public"}});
            std::string expected =
                json::dump(Json{{"id", id}, {"jsonrpc", "2.0"}, {"result", result}});
            auto [differs, _] =
                std::mismatch(line.begin(), line.end(), expected.begin(), expected.end());
            std::size_t at = static_cast<std::size_t>(differs - line.begin());
            EXPECT_TRUE(line == expected)
                << c.opening << " id " << id_text << ": differs at byte " << at << ": got \""
                << line.substr(at > 40 ? at - 40 : 0, 80) << "\" expected \""
                << expected.substr(at > 40 ? at - 40 : 0, 80) << "\"";
        }
    }
    config::set_default_timeout(*saved);
    Session session;
    auto response = session.handle(Json{{"id", 1}, {"method", "tools/list"}});
    std::string description = Json::parse(
        std::get<SerializedResponse>(*response).text())["result"]["tools"][5]["description"];
    EXPECT_NE(description.find("currently " + tools::default_timeout_text() + ", which"),
              std::string::npos);
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
