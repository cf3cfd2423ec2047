#include "vemor/mcp/protocol.hpp"

#include <algorithm>
#include <exception>
#include <utility>

#include <fmt/format.h>

#include "vemor/mcp/transport.hpp"

#ifndef VEMOR_MCP_VERSION
#define VEMOR_MCP_VERSION "0.0.0"
#endif

namespace vemor::mcp {
namespace protocol {

const std::string_view kInstructions =
    "Read and drive desktop application UIs through platform accessibility APIs.\n"
    "\n"
    "Start with `apps` to find a running application, then `tree` to see its structure. Address "
    "elements with vemor selectors, which are CSS-like: `button[name=\"OK\"]`, "
    "`text_field[name*=\"Search\"]`, `window > group button`. Prefer `action` over the mouse and "
    "keyboard tools — it calls the application's own accessibility action and does not depend "
    "on window position or focus.\n"
    "\n"
    "OS shell UI — the taskbar, the desktop, docks and panels, the menu bar, status items, open "
    "flyouts — is reached the same way: `shell` lists what is on screen, and `tree`, `find` and "
    "`action` take a `shell` argument in place of `app`.\n"
    "\n"
    "`action` acts on exactly one element and auto-waits for it, so a selector that matches "
    "several is refused rather than applied to the first, and no retry loop of your own is "
    "needed. Its `ok: true` means the application accepted the call, not that anything changed "
    "— confirm by reading the tree again.\n"
    "\n"
    "To watch what an application does rather than poll its tree, `events_start` returns a "
    "handle, `events_poll` drains buffered events, and `events_stop` closes it. Start the "
    "subscription before the action you want to observe.\n"
    "\n"
    "The input and screenshot tools work in screen coordinates only. Get those from `find`, "
    "which returns each match's `bounds` and `center`.\n"
    "\n"
    "Trees are depth-limited and match lists are capped; both say so in the result when output "
    "was truncated.";

Json supported_versions() {
    Json out = Json::array();
    for (std::string_view v : kSupportedVersions) out.push_back(std::string(v));
    return out;
}

Json server_info() { return Json{{"name", "vemor"}, {"version", VEMOR_MCP_VERSION}}; }

void with_cache_hints(Json& result) {
    result["ttlMs"] = kCacheTtlMs;
    result["cacheScope"] = kCacheScope;
}

Json error_response(Json id, std::int64_t code, std::string message, std::optional<Json> data) {
    Json error{{"code", code}, {"message", std::move(message)}};
    if (data) error["data"] = std::move(*data);
    return Json{{"jsonrpc", "2.0"}, {"id", std::move(id)}, {"error", std::move(error)}};
}

Json parse_error_response(const cli::CliError& error) {
    return error_response(nullptr, kParseError, fmt::format("Parse error: {}", error.message()));
}

}  // namespace protocol

namespace {

// params "_meta" / "io.modelcontextprotocol/protocolVersion" when it is a non-empty string.
const std::string* meta_version(const Json& params) {
    if (!params.is_object()) return nullptr;
    auto meta = params.find("_meta");
    if (meta == params.end() || !meta->is_object()) return nullptr;
    auto v = meta->find(protocol::kVersionMetaKey);
    if (v == meta->end() || !v->is_string()) return nullptr;
    const auto& s = v->get_ref<const std::string&>();
    return s.empty() ? nullptr : &s;
}

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& list, std::string_view v) {
    return std::find(list.begin(), list.end(), v) != list.end();
}

const Json& kNull = *new Json(nullptr);

}  // namespace

Session::Session(std::unique_ptr<ToolHost> tools) : tools_(std::move(tools)) {}

SerializedResponse Session::tools_list_response(const Json& id) const {
    using namespace protocol;
    // Keys in byte order, as the serialiser writes them: "id", "jsonrpc", "result"; in the
    // result "cacheScope", "resultType", "tools", "ttlMs".
    static const auto& marked_head = *new std::string(fmt::format(
        ",\"jsonrpc\":\"2.0\",\"result\":{{\"cacheScope\":\"{}\",\"resultType\":\"{}\",\"tools\":",
        kCacheScope, kResultComplete));
    static const auto& marked_tail =
        *new std::string(fmt::format(",\"ttlMs\":{}}}}}", kCacheTtlMs));
    constexpr std::string_view plain_head = ",\"jsonrpc\":\"2.0\",\"result\":{\"tools\":";
    constexpr std::string_view plain_tail = "}}";
    bool marked = mode_ != SessionMode::Handshake;

    SerializedResponse out{.head = "{\"id\":",
                           .body = tools_->list_text(),
                           .tail = marked ? std::string_view(marked_tail) : plain_tail};
    out.head += json::dump(id);
    out.head += marked ? std::string_view(marked_head) : plain_head;
    return out;
}

std::optional<Response> Session::handle(const Json& message) {
    using namespace protocol;
    if (!message.is_object())
        return error_response(nullptr, kInvalidRequest, "request must be a JSON object");
    std::optional<Json> id;
    if (auto it = message.find("id"); it != message.end()) id = *it;
    auto method_it = message.find("method");
    if (method_it == message.end() || !method_it->is_string()) {
        if (!id) return std::nullopt;
        return error_response(std::move(*id), kInvalidRequest, "request must carry a \"method\"");
    }
    const std::string& method = method_it->get_ref<const std::string&>();
    auto params_it = message.find("params");
    const Json& params = params_it == message.end() ? kNull : *params_it;
    const std::string* requested = meta_version(params);

    if (mode_ == SessionMode::Undecided) {
        if (requested)
            mode_ = SessionMode::PerRequest;
        else if (method == "initialize")
            mode_ = SessionMode::Handshake;
    }
    if (!id) return std::nullopt;

    if (requested && !listed(kSupportedVersions, *requested))
        return error_response(std::move(*id), kUnsupportedVersion, "Unsupported protocol version",
                              Json{{"requested", *requested}, {"supported", supported_versions()}});

    std::expected<Json, RpcError> result;
    if (method == "ping") {
        result = Json::object();
    } else if (method == "initialize") {
        std::string_view version = kDefaultVersion;
        if (params.is_object()) {
            auto v = params.find("protocolVersion");
            if (v != params.end() && v->is_string() &&
                listed(kHandshakeVersions, v->get_ref<const std::string&>()))
                version = v->get_ref<const std::string&>();
        }
        result = Json{{"protocolVersion", std::string(version)},
                      {"capabilities", {{"tools", Json::object()}}},
                      {"serverInfo", server_info()},
                      {"instructions", std::string(kInstructions)}};
    } else if (method == "server/discover") {
        Json r{{"resultType", kResultComplete},
               {"supportedVersions", supported_versions()},
               {"capabilities", {{"tools", Json::object()}}},
               {"instructions", std::string(kInstructions)},
               {"_meta", {{std::string(kServerInfoMetaKey), server_info()}}}};
        with_cache_hints(r);
        result = std::move(r);
    } else if (method == "tools/list") {
        // An id read from input nests at most 128 levels; a deeper one, built in process, takes
        // the tree form, which the transport refuses to write.
        if (!transport::nests_deeper_than(*id, transport::kMaxNesting))
            return Response(tools_list_response(*id));
        Json r{{"tools", tools_->list()}};
        if (mode_ != SessionMode::Handshake) {
            r["resultType"] = kResultComplete;
            with_cache_hints(r);
        }
        result = std::move(r);
    } else if (method == "tools/call") {
        result = tools_call_result(params);
    } else {
        result = std::unexpected(RpcError{kMethodNotFound, fmt::format("unknown method: {}", method)});
    }

    if (!result)
        return error_response(std::move(*id), result.error().code, std::move(result.error().message),
                              std::move(result.error().data));
    return Json{{"jsonrpc", "2.0"}, {"id", std::move(*id)}, {"result", std::move(*result)}};
}

std::expected<Json, RpcError> Session::tools_call_result(const Json& params) {
    using namespace protocol;
    const Json* name = nullptr;
    const Json* arguments = nullptr;
    if (params.is_object()) {
        if (auto it = params.find("name"); it != params.end()) name = &*it;
        if (auto it = params.find("arguments"); it != params.end()) arguments = &*it;
    }
    if (!name || !name->is_string())
        return std::unexpected(RpcError{kInvalidParams, "tools/call requires a \"name\""});
    Json empty = Json::object();
    if (arguments && arguments->is_null()) arguments = nullptr;
    if (arguments && !arguments->is_object())
        return std::unexpected(
            RpcError{kInvalidParams, "tools/call \"arguments\" must be an object"});
    const std::string& tool = name->get_ref<const std::string&>();
    if (!tools_->has_tool(tool))
        return std::unexpected(RpcError{kInvalidParams, fmt::format("unknown tool: {}", tool)});

    Json result = Json::object();
    if (mode_ != SessionMode::Handshake) result["resultType"] = kResultComplete;
    cli::CliResult<ToolOutput> output = [&]() -> cli::CliResult<ToolOutput> {
        // A tool that throws (it should not) fails alone; the session goes on.
        try {
            return tools_->call(tool, arguments ? *arguments : empty);
        } catch (const std::exception& e) {
            return cli::fail_cli(platform_error(-1, fmt::format("internal error: {}", e.what())));
        } catch (...) {
            return cli::fail_cli(platform_error(-1, "internal error"));
        }
    }();
    if (output) {
        result["content"] = std::move(output->content);
        if (output->structured_content) result["structuredContent"] = std::move(*output->structured_content);
        result["isError"] = false;
    } else {
        Failure failure = tools::describe_failure(tool, output.error());
        result["content"] = Json::array({Json{{"type", "text"}, {"text", failure.message}}});
        result["structuredContent"] = std::move(failure.object);
        result["isError"] = true;
    }
    return result;
}

}  // namespace vemor::mcp
