// Raw-pipe golden tests of `vemor mcp`: the exact lines the executable writes for a given input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mcp_process.hpp"

namespace vemor::mcp {
namespace {

using testing::call;
using testing::request;
using testing::responses;
using testing::run_vemor;
using testing::split_lines;

constexpr const char* kPerRequestMeta = R"({"_meta":{"io.modelcontextprotocol/protocolVersion":"2025-11-25"}})";

TEST(McpPipe, MalformedInputGauntletIsAnsweredLineByLine) {
    std::string deep_id = "{\"id\":" + std::string(100000, '[') + std::string(100000, ']') +
                          ",\"method\":\"ping\"}\n";
    std::string id_128_deep = "{\"id\":" + std::string(127, '[') + std::string(127, ']') +
                              ",\"method\":\"ping\"}\n";
    struct Case {
        std::string input;
        std::vector<std::string> expected;  // whole lines; a trailing '*' matches a prefix
    };
    const std::vector<Case> cases = {
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n", {R"({"id":1,"jsonrpc":"2.0","result":{}})"}},
        {" \t  \n\n", {}},
        {"not json\n",
         {R"({"error":{"code":-32700,"message":"Parse error: usage error: invalid JSON on stdin: *)"}},
        {"{} {}\n",
         {R"({"error":{"code":-32700,"message":"Parse error: usage error: invalid JSON on stdin: *)"}},
        {"[1,2]\n", {R"({"error":{"code":-32600,"message":"request must be a JSON object"},"id":null,"jsonrpc":"2.0"})"}},
        {"{\"id\":5}\n",
         {R"({"error":{"code":-32600,"message":"request must carry a \"method\""},"id":5,"jsonrpc":"2.0"})"}},
        {"{\"method\":7}\n", {}},
        {"{\"jsonrpc\":\"2.0\",\"id\":\"r\",\"result\":{}}\n",
         {R"({"error":{"code":-32600,"message":"request must carry a \"method\""},"id":"r","jsonrpc":"2.0"})"}},
        {"{\"id\":null,\"method\":\"ping\"}\n", {R"({"id":null,"jsonrpc":"2.0","result":{}})"}},
        {"{\"method\":\"ping\"}\n{\"method\":\"bogus\"}\n", {}},
        {"{\"id\":2,\"method\":\"bogus\"}\n",
         {R"({"error":{"code":-32601,"message":"unknown method: bogus"},"id":2,"jsonrpc":"2.0"})"}},
        {"{\"id\":3,\"method\":\"ping\",\"x\":\"\xff\"}\n",
         {R"({"error":{"code":-32700,"message":"Parse error: Platform error (-1): mcp stdio transport: read stdin: stream did not contain valid UTF-8"},"id":null,"jsonrpc":"2.0"})"}},
        {deep_id,
         {R"({"error":{"code":-32700,"message":"Parse error: usage error: invalid JSON on stdin: nesting deeper than 128 levels at line 1, column 134"},"id":null,"jsonrpc":"2.0"})"}},
        {id_128_deep,
         {"{\"id\":" + std::string(127, '[') + std::string(127, ']') + ",\"jsonrpc\":\"2.0\",\"result\":{}}"}},
        {"{\"id\":4,\"method\":\"ping\"}\r\n", {R"({"id":4,"jsonrpc":"2.0","result":{}})"}},
        {"{\"id\":6,\"method\":\"ping\",\"params\":{\"_meta\":{\"io.modelcontextprotocol/protocolVersion\":\"2024-11-05\"}}}\n",
         {R"({"error":{"code":-32022,"data":{"requested":"2024-11-05","supported":["2026-07-28","2025-11-25","2025-06-18","2025-03-26"]},"message":"Unsupported protocol version"},"id":6,"jsonrpc":"2.0"})"}},
        {"{\"id\":9,\"method\":\"ping\"}", {R"({"id":9,"jsonrpc":"2.0","result":{}})"}},
    };
    std::string input;
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        input += c.input;
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    }
    auto run = run_vemor(input);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.err, "");
    auto lines = split_lines(run.out);
    ASSERT_EQ(lines.size(), expected.size()) << run.out.substr(0, 4000);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (expected[i].ends_with('*'))
            EXPECT_TRUE(lines[i].starts_with(expected[i].substr(0, expected[i].size() - 1))) << lines[i];
        else
            EXPECT_EQ(lines[i], expected[i]);
    }
}

TEST(McpPipe, OverlongLineIsRefusedAndSkipped) {
    std::string huge = "{\"id\":1,\"method\":\"ping\",\"pad\":\"" + std::string((16u << 20) + 10, 'a') + "\"}\n";
    auto run = run_vemor(huge + "{\"id\":2,\"method\":\"ping\"}\n");
    auto lines = split_lines(run.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              R"({"error":{"code":-32700,"message":"Parse error: Platform error (-1): mcp stdio transport: read stdin: message line longer than 16777216 bytes; skipped up to its line feed"},"id":null,"jsonrpc":"2.0"})");
    EXPECT_EQ(lines[1], R"({"id":2,"jsonrpc":"2.0","result":{}})");
}

TEST(McpPipe, HandshakeAnswersServerIdentityAndInstructions) {
    auto run = run_vemor(request(1, "initialize", Json{{"protocolVersion", "2026-07-28"}}) +
                         request(2, "initialize", Json{{"protocolVersion", "2025-03-26"}}) +
                         request(3, "server/discover"));
    auto r = responses(run);
    ASSERT_EQ(r.size(), 3u);
    const Json& init = r[0]["result"];
    EXPECT_EQ(init["protocolVersion"], "2025-11-25");
    EXPECT_EQ(init["capabilities"], Json::parse(R"({"tools":{}})"));
    EXPECT_EQ(init["serverInfo"], Json::parse(R"({"name":"vemor","version":"0.1.0"})"));
    EXPECT_EQ(init["instructions"].get<std::string>().size(), 1459u);
    EXPECT_FALSE(init.contains("resultType"));
    EXPECT_EQ(r[1]["result"]["protocolVersion"], "2025-03-26");
    const Json& discover = r[2]["result"];
    EXPECT_EQ(discover["resultType"], "complete");
    EXPECT_EQ(discover["ttlMs"], 3600000);
    EXPECT_EQ(discover["cacheScope"], "public");
    EXPECT_EQ(discover["supportedVersions"].size(), 4u);
    EXPECT_EQ(discover["_meta"]["io.modelcontextprotocol/serverInfo"]["name"], "vemor");
}

// Whether each tools/list or tools/call result carries "resultType" (and, for tools/list, the
// cache hints), per how the session was opened.
TEST(McpPipe, SessionModeDecidesResultTypeAndCacheHints) {
    struct Case {
        std::string name;
        std::string input;
        std::vector<bool> marked;  // per tools/* response, in order
    };
    const std::string meta = kPerRequestMeta;
    const std::vector<Case> cases = {
        {"undecided", request(1, "tools/list") + call(2, "apps"), {true, true}},
        {"handshake", request(1, "initialize") + request(2, "tools/list", Json::parse(meta)) + call(3, "apps"),
         {false, false}},
        {"per-request notification",
         "{\"method\":\"ping\",\"params\":" + meta + "}\n" + request(1, "initialize") + request(2, "tools/list"),
         {true}},
        {"empty meta decides nothing",
         "{\"id\":1,\"method\":\"ping\",\"params\":{\"_meta\":{\"io.modelcontextprotocol/protocolVersion\":\"\"}}}\n" +
             request(2, "initialize") + request(3, "tools/list"),
         {false}},
        {"refused revision still decides",
         "{\"id\":1,\"method\":\"ping\",\"params\":{\"_meta\":{\"io.modelcontextprotocol/protocolVersion\":\"1999-01-01\"}}}\n" +
             request(2, "initialize") + request(3, "tools/list"),
         {true}},
    };
    for (const Case& c : cases) {
        auto r = responses(run_vemor(c.input));
        std::vector<bool> marked;
        for (const Json& resp : r) {
            if (!resp.contains("result")) continue;
            const Json& result = resp["result"];
            if (!result.contains("tools") && !result.contains("content")) continue;
            marked.push_back(result.contains("resultType"));
            if (result.contains("tools")) EXPECT_EQ(result.contains("ttlMs"), marked.back()) << c.name;
            else EXPECT_FALSE(result.contains("ttlMs")) << c.name;
        }
        EXPECT_EQ(marked, c.marked) << c.name;
    }
}

TEST(McpPipe, ToolsCallProtocolErrors) {
    auto run = run_vemor(request(1, "tools/call", Json{{"arguments", Json::object()}}) +
                         request(2, "tools/call", Json{{"name", "apps"}, {"arguments", Json::array()}}) +
                         request(3, "tools/call", Json{{"name", "nope"}, {"arguments", 5}}) +
                         request(4, "tools/call", Json{{"name", "nope"}}) +
                         request(5, "tools/call", Json{{"name", "Apps"}}));
    auto lines = split_lines(run.out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], R"({"error":{"code":-32602,"message":"tools/call requires a \"name\""},"id":1,"jsonrpc":"2.0"})");
    EXPECT_EQ(lines[1], R"({"error":{"code":-32602,"message":"tools/call \"arguments\" must be an object"},"id":2,"jsonrpc":"2.0"})");
    EXPECT_EQ(lines[2], R"({"error":{"code":-32602,"message":"tools/call \"arguments\" must be an object"},"id":3,"jsonrpc":"2.0"})");
    EXPECT_EQ(lines[3], R"({"error":{"code":-32602,"message":"unknown tool: nope"},"id":4,"jsonrpc":"2.0"})");
    EXPECT_EQ(lines[4], R"({"error":{"code":-32602,"message":"unknown tool: Apps"},"id":5,"jsonrpc":"2.0"})");
}

TEST(McpPipe, EveryToolRefusesBadArgumentsWithItsMessage) {
    struct Case {
        std::string tool;
        std::string arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"windows", R"({"shell":null})", "`windows` lists application windows, not shell surfaces; call `shell` and pass the result to `tree` / `find` / `action`"},
        {"windows", R"({"limit":0})", R"("limit" must be between 1 and 500, got 0)"},
        {"windows", R"({"limit":501})", R"("limit" must be between 1 and 500, got 501)"},
        {"windows", R"({"limit":2.5})", R"("limit" must be a whole number, got 2.5)"},
        {"windows", R"({"limit":"10"})", R"("limit" must be a number, got "10")"},
        {"windows", R"({"app":null})", R"(specify "app" (application name, matched exactly) or "pid" (process id); the `apps` tool lists both for every running application)"},
        {"windows", R"({"pid":0})", R"("pid" must be between 1 and 4294967295, got 0)"},
        {"tree", R"({"max_depth":65,"app":"TextEdit"})", R"("max_depth" must be between 0 and 64, got 65)"},
        {"tree", R"({})", R"(specify "app" (application name, matched exactly) or "pid" (process id); the `apps` tool lists both for every running application, and "shell" targets an OS shell surface instead)"},
        {"tree", R"({"app":"TextEdit","shell":"dock"})", R"(give "app" or "shell", not both: "shell" targets an OS shell surface (the `shell` tool lists them) and "app" targets a running application. Use "pid" with "shell" to pick between surfaces of one kind)"},
        {"tree", R"({"app":7})", R"("app" must be a string)"},
        {"tree", R"({"pid":-3})", R"("pid" must be between 1 and 4294967295, got -3)"},
        {"find", R"({})", R"(missing required argument "selector")"},
        {"find", R"({"selector":""})", R"("selector" must not be empty)"},
        {"find", R"({"selector":null})", R"("selector" must be a string)"},
        {"find", R"({"selector":"button","limit":1e30})", R"("limit" must be a whole number, got 1e+30)"},
        {"action", R"({"selector":"button"})", R"(missing required argument "action")"},
        {"action", R"({"action":"press","selector":"button","value":3})", R"("value" must be a string)"},
        {"action", R"({"action":"set-value","selector":"text_area","app":"NoSuchApp"})", "set-value requires a value"},
        {"action", R"({"action":"move-to","selector":"window","app":"TextEdit"})", "move-to requires --at X,Y"},
        {"action", R"({"action":"Press","selector":"button","app":"NoSuchApp"})", "unknown action: Press (expected one of: press, focus, blur, toggle, expand, collapse, select, show-menu, scroll-into-view, increment, decrement, set-value, set-numeric-value, type-text, select-text, minimize, maximize, enter-fullscreen, restore, close, activate, move-to, resize-to)"},
        {"screenshot", R"({"x":1,"width":5})", "a screenshot region needs all of x, y, width, height (missing: y, height)"},
        {"screenshot", R"({"x":1,"y":1,"width":0,"height":5})", R"("width" must be between 1 and 4294967295, got 0)"},
        {"screenshot", R"({"annotate":"button","app":"TextEdit"})", R"("annotate" must be an array of selectors, one per annotation group)"},
        {"screenshot", R"({"annotate":[""],"app":"TextEdit"})", R"("annotate" entries must not be empty)"},
        {"screenshot", R"({"annotate":[1],"app":"TextEdit"})", R"("annotate" entries must be selector strings)"},
        {"screenshot", R"({"annotate":["button"]})", R"("annotate" resolves selectors against a target, and this call names none: add "app" (application name), "pid" (process id), or "shell" (an OS shell surface). Drop "annotate" for a plain capture, which needs no target)"},
        {"screenshot", R"({"pid":150})", R"("pid" without "annotate" does nothing: a target is only read to resolve annotation selectors, and it never crops the capture. Add "annotate" (an array of selectors) to box that target's elements, or drop it for a plain capture — use "x"/"y"/"width"/"height" to capture part of the screen)"},
        {"screenshot", R"({"app":"A","pid":150,"shell":"dock"})", R"("app", "pid" and "shell" without "annotate" does nothing: a target is only read to resolve annotation selectors, and it never crops the capture. Add "annotate" (an array of selectors) to box that target's elements, or drop them for a plain capture — use "x"/"y"/"width"/"height" to capture part of the screen)"},
        {"events_start", R"({"kinds":[]})", R"("kinds" must name at least one event kind; omit it to receive every kind)"},
        {"events_start", R"({"kinds":"focus_changed"})", R"("kinds" must be an array of event-kind names, e.g. ["focus_changed"])"},
        {"events_start", R"({"kinds":[""]})", R"(each entry in "kinds" must be a non-empty event-kind name)"},
        {"events_start", R"({"kinds":["Focus_Changed"]})", R"(unknown event kind: "Focus_Changed" (expected one of focus_changed, value_changed, name_changed, state_changed, structure_changed, window_opened, window_closed, window_activated, window_deactivated, selection_changed, menu_opened, menu_closed, text_changed, announcement))"},
        {"events_start", R"({"shell":"dock"})", R"("shell" is not a target for the event tools: accessibility events are subscribed per application, and a shell surface has no subscription of its own. Give "app" or "pid")"},
        {"events_start", R"({})", R"(specify "app" (application name, matched exactly) or "pid" (process id); the `apps` tool lists both for every running application)"},
        {"events_poll", R"({"subscription_id":"sub_1","timeout_ms":15001})", R"("timeout_ms" must be between 0 and 15000, got 15001)"},
        {"events_poll", R"({"subscription_id":"sub_1","max":0})", R"("max" must be between 1 and 500, got 0)"},
        {"events_stop", R"({})", R"(missing required argument "subscription_id")"},
        {"click", R"({"y":1})", R"(missing required argument "x")"},
        {"click", R"({"x":2147483648,"y":1})", R"("x" must be between -2147483648 and 2147483647, got 2147483648)"},
        {"click", R"({"x":1,"y":1,"count":11})", R"("count" must be between 1 and 10, got 11)"},
        {"click", R"({"x":1,"y":1,"button":2})", R"("button" must be a string)"},
        {"click", R"({"x":1,"y":1,"button":"primary"})", "unknown button: primary (expected left|right|middle)"},
        {"click", R"({"x":1,"y":1,"held":"Shift"})", R"("held" must be an array of key names)"},
        {"click", R"({"x":1,"y":1,"held":[""]})", R"("held" entries must not be empty)"},
        {"click", R"({"x":1,"y":1,"held":[1]})", R"("held" entries must be key-name strings)"},
        {"move", R"({"x":1})", R"(missing required argument "y")"},
        {"drag", R"({"from_x":0,"from_y":0,"to_x":1,"to_y":1,"duration_ms":60001})", R"("duration_ms" must be between 0 and 60000, got 60001)"},
        {"scroll", R"({"x":1,"y":1,"dx":-2147483649})", R"("dx" must be between -2147483648 and 2147483647, got -2147483649)"},
        {"type", R"({"text":""})", R"("text" must not be empty)"},
        {"key", R"({"key":"enter"})", "unknown key name: enter"},
        {"key", R"({"key":"a","held":["shift"]})", "unknown key name: shift"},
    };
    std::string input;
    int id = 0;
    for (const Case& c : cases) input += call(++id, c.tool, Json::parse(c.arguments));
    auto r = responses(run_vemor(input));
    ASSERT_EQ(r.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Json& result = r[i]["result"];
        EXPECT_EQ(result["isError"], true) << cases[i].tool << " " << cases[i].arguments;
        const Json& failure = result["structuredContent"];
        std::string expected = "usage error: " + cases[i].message;
        EXPECT_EQ(failure["message"], expected) << cases[i].tool << " " << cases[i].arguments;
        EXPECT_EQ(failure["kind"], "invalid_arguments");
        EXPECT_EQ(failure["tool"], cases[i].tool);
        EXPECT_EQ(result["content"], Json::parse(Json{{{"type", "text"}, {"text", expected}}}.dump()));
    }
}

TEST(McpPipe, SubscriptionLifecycle) {
    std::string input = call(1, "events_start", Json{{"app", "TextEdit"}}) +
                        call(2, "events_poll", Json{{"subscription_id", "sub_1"}}) +
                        call(3, "events_stop", Json{{"subscription_id", "sub_1"}}) +
                        call(4, "events_stop", Json{{"subscription_id", "sub_1"}}) +
                        call(5, "events_poll", Json{{"subscription_id", "sub_1"}}) +
                        call(6, "events_poll", Json{{"subscription_id", "sub_99"}});
    for (int i = 0; i < 9; ++i) input += call(10 + i, "events_start", Json{{"pid", 150}});
    auto r = responses(run_vemor(input));
    ASSERT_EQ(r.size(), 15u);
    auto sc = [&](std::size_t i) { return r[i]["result"]["structuredContent"]; };
    EXPECT_EQ(sc(0), Json::parse(R"({"application":"TextEdit","buffer_capacity":1024,"expires_after_ms":300000,"kinds":null,"pid":150,"subscription_id":"sub_1"})"));
    EXPECT_EQ(sc(1), Json::parse(R"({"application":"TextEdit","buffered":0,"count":0,"dropped":0,"dropped_total":0,"events":[],"live":true,"pid":150,"subscription_id":"sub_1","truncated":false})"));
    EXPECT_EQ(sc(2), Json::parse(R"({"delivered_total":0,"discarded":0,"dropped_total":0,"stopped":true,"subscription_id":"sub_1"})"));
    EXPECT_EQ(sc(3), Json::parse(R"({"already_stopped":true,"note":"this subscription had already been reclaimed for idling; nothing was left to stop","stopped":true,"subscription_id":"sub_1"})"));
    EXPECT_EQ(sc(4), Json::parse(R"({"expired":true,"kind":"subscription_expired","live_subscriptions":[],"message":"subscription \"sub_1\" is no longer open: `events_stop` closed it, or it expired after idling past the retention window `events_start` reported as `expires_after_ms`. Start another with `events_start`; no subscriptions are open","subscription_id":"sub_1","tool":"events_poll"})"));
    EXPECT_EQ(sc(5)["kind"], "subscription_not_found");
    EXPECT_EQ(sc(5)["expired"], false);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(sc(6 + i)["subscription_id"], "sub_" + std::to_string(2 + i));
    EXPECT_EQ(sc(14)["message"],
              "usage error: at most 8 event subscriptions may be open at once; stop one with `events_stop` before "
              "starting another. Open now: sub_2 (TextEdit), sub_3 (TextEdit), sub_4 (TextEdit), sub_5 (TextEdit), "
              "sub_6 (TextEdit), sub_7 (TextEdit), sub_8 (TextEdit), sub_9 (TextEdit)");
}

TEST(McpPipe, LiveRoundTripOnTheSimulatedDesktop) {
    std::string input =
        call(1, "tree", Json{{"app", "TextEdit"}, {"max_depth", 0}}) +
        call(2, "find", Json{{"app", "TextEdit"}, {"selector", "check_box"}, {"limit", 1}}) +
        call(3, "action", Json{{"app", "TextEdit"}, {"selector", "check_box"}, {"action", "toggle"}}) +
        call(4, "find", Json{{"app", "TextEdit"}, {"selector", "check_box[checked=\"on\"]"}}) +
        call(5, "screenshot", Json{{"app", "TextEdit"}, {"annotate", {"button[name=\"Save\"]"}}}) +
        call(6, "action", Json{{"app", "TextEdit"}, {"selector", "button[name=\"Nope\"]"}, {"action", "press"}});
    auto run = run_vemor(input, {"mcp"}, {"VEMOR_DEFAULT_TIMEOUT=0.2"});
    auto r = responses(run);
    ASSERT_EQ(r.size(), 6u) << run.err;

    const Json& tree = r[0]["result"]["structuredContent"];
    EXPECT_EQ(tree["truncated"], Json::parse(R"({"by_depth":true,"by_node_limit":false,"node_limit":2000})"));
    EXPECT_FALSE(tree["tree"].contains("children"));
    EXPECT_EQ(tree["tree"]["role"], "application");
    EXPECT_EQ(tree["application"], "TextEdit");
    EXPECT_EQ(tree["pid"], 150);

    const Json& find = r[1]["result"]["structuredContent"];
    EXPECT_EQ(find["match_count"], 2);
    EXPECT_EQ(find["returned"], 1);
    EXPECT_EQ(find["truncated"], true);
    EXPECT_EQ(find["matches"][0]["name"], "Bold");
    EXPECT_EQ(find["matches"][0]["states"]["checked"], "off");

    const Json& ambiguous = r[2]["result"]["structuredContent"];
    EXPECT_EQ(r[2]["result"]["isError"], true);
    EXPECT_EQ(ambiguous["kind"], "ambiguous_selector");
    EXPECT_EQ(ambiguous["match_count"], 2);
    EXPECT_EQ(ambiguous["diagnosis"]["last_observed"], "selector matched 2 elements");
    EXPECT_EQ(ambiguous["diagnosis"]["candidates"][0].get<std::string>().substr(0, 17), "check_box \"Bold\" ");
    // Nothing was toggled: no check box is on.
    EXPECT_EQ(r[3]["result"]["structuredContent"]["kind"], "no_match");

    const Json& shot = r[4]["result"];
    ASSERT_EQ(shot["content"].size(), 2u);
    EXPECT_EQ(shot["content"][0]["type"], "image");
    EXPECT_EQ(shot["content"][0]["mimeType"], "image/png");
    EXPECT_EQ(shot["content"][0]["data"].get<std::string>().substr(0, 8), "iVBORw0K");
    const Json& summary = shot["structuredContent"];
    ASSERT_EQ(summary["legend"].size(), 1u);
    EXPECT_EQ(summary["legend"][0]["tag"], "A1");
    EXPECT_EQ(summary["legend"][0]["selector"], "button[name=\"Save\"]:nth(1)");
    EXPECT_EQ(summary["omitted"], Json::array());
    EXPECT_EQ(summary["truncated"], 0);
    EXPECT_EQ(shot["content"][1]["text"], json::dump(summary));

    const Json& timeout = r[5]["result"]["structuredContent"];
    EXPECT_EQ(timeout["kind"], "timeout");
    const std::string message = timeout["message"];
    EXPECT_TRUE(message.starts_with("Timeout after ")) << message;
    EXPECT_NE(message.find("ms; waiting for: press target actionable (visible && enabled); selector: "
                           "button[name=\"Nope\"]; last observed: selector never matched"),
              std::string::npos)
        << message;
    EXPECT_EQ(timeout["diagnosis"]["condition"], "press target actionable (visible && enabled)");
}

TEST(McpPipe, EndOfInputStopsOpenSubscriptionsAndExits) {
    auto run = run_vemor(call(1, "events_start", Json{{"app", "TextEdit"}}) +
                         call(2, "events_start", Json{{"app", "Settings"}}));
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(split_lines(run.out).size(), 2u);
}

// The action description states the default time-out in force when the tools are listed.
TEST(McpPipe, ActionDescriptionStatesTheDefaultTimeout) {
    struct Case {
        std::string env;
        std::string expected;
    };
    for (const Case& c : std::vector<Case>{
             {"VEMOR_DEFAULT_TIMEOUT", "The wait runs up to the default time-out, currently 5s, which only the environment variable `VEMOR_DEFAULT_TIMEOUT` can change"},
             {"VEMOR_DEFAULT_TIMEOUT=2.5", "currently 2.5s, which"},
             {"VEMOR_DEFAULT_TIMEOUT=0.25", "currently 250ms, which"},
             {"VEMOR_DEFAULT_TIMEOUT=soon", "currently unresolvable (Invalid configuration: "},
         }) {
        auto r = responses(run_vemor(request(1, "tools/list"), {"mcp"}, {c.env}));
        ASSERT_EQ(r.size(), 1u);
        std::string description = r[0]["result"]["tools"][5]["description"];
        EXPECT_NE(description.find(c.expected), std::string::npos) << c.env << "\n" << description;
    }
    auto bad = responses(run_vemor(request(1, "tools/list"), {"mcp"}, {"VEMOR_DEFAULT_TIMEOUT=soon"}));
    std::string description = bad[0]["result"]["tools"][5]["description"];
    EXPECT_NE(description.find(") — every action call will fail until it is fixed, which only"), std::string::npos)
        << description;
}

// A reader that went away: the first response fails to write, and the server ends with that
// error instead of dying of SIGPIPE.
TEST(McpPipe, AClosedStandardOutputEndsTheServerWithAWriteError) {
    auto run = run_vemor("{\"id\":1,\"method\":\"ping\"}\n", {"mcp"}, {}, {.stdout_closed = true});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "error: Platform error (32): mcp stdio transport: write stdout: Broken pipe (os error 32)\n");
}

TEST(McpPipe, ArgumentsAreRefusedBeforeAnyInput) {
    auto run = run_vemor("", {"mcp", "--stdio"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "usage error: vemor mcp takes no arguments (got: --stdio). It serves the accessibility "
              "tools over stdio for an MCP client.\n");
}

}  // namespace
}  // namespace vemor::mcp
