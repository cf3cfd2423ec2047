// The JSON-RPC session of the MCP server: request validation, how the client negotiates the
// protocol revision (per request in `_meta`, or by an `initialize` handshake), the revision
// check, and the five methods `ping`, `initialize`, `server/discover`, `tools/list` and
// `tools/call`.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "vemor/facade/cli_error.hpp"
#include "vemor/json.hpp"
#include "vemor/mcp/tools.hpp"

namespace vemor::mcp {

namespace protocol {

// Newest first.
inline constexpr std::array<std::string_view, 4> kSupportedVersions{
    "2026-07-28", "2025-11-25", "2025-06-18", "2025-03-26"};
inline constexpr std::string_view kDefaultVersion = "2025-11-25";
// What `initialize` answers with when the client asks for it; anything else gets the default.
inline constexpr std::array<std::string_view, 3> kHandshakeVersions{"2025-11-25", "2025-06-18",
                                                                    "2025-03-26"};
inline constexpr std::string_view kVersionMetaKey = "io.modelcontextprotocol/protocolVersion";
inline constexpr std::string_view kServerInfoMetaKey = "io.modelcontextprotocol/serverInfo";
inline constexpr std::int64_t kCacheTtlMs = 3600000;
inline constexpr std::string_view kCacheScope = "public";
inline constexpr std::string_view kResultComplete = "complete";

inline constexpr std::int64_t kParseError = -32700;
inline constexpr std::int64_t kInvalidRequest = -32600;
inline constexpr std::int64_t kMethodNotFound = -32601;
inline constexpr std::int64_t kInvalidParams = -32602;
inline constexpr std::int64_t kUnsupportedVersion = -32022;

// The seven paragraphs an agent reads first.
extern const std::string_view kInstructions;

Json supported_versions();
// {"name": "vemor", "version": the package version}.
Json server_info();
// Adds "ttlMs" and "cacheScope".
void with_cache_hints(Json& result);
// {"error": {"code", "data"?, "message"}, "id", "jsonrpc": "2.0"}.
Json error_response(Json id, std::int64_t code, std::string message,
                    std::optional<Json> data = std::nullopt);
// Id null, -32700, "Parse error: {}" with the error's text.
Json parse_error_response(const cli::CliError& error);

}  // namespace protocol

// How the client negotiates the protocol revision; decided by the first message that shows it.
enum class SessionMode : std::uint8_t { Undecided, PerRequest, Handshake };

// A response serialised already, in three pieces written one after another without a line
// feed: the answer to `tools/list`, whose middle piece is the catalogue's cached text.
struct SerializedResponse {
    std::string head;
    std::shared_ptr<const std::string> body;
    std::string_view tail;  // static text

    std::string text() const { return head + *body + std::string(tail); }
};

// One response: a value for the transport to serialise, or one serialised already.
using Response = std::variant<Json, SerializedResponse>;

// A JSON-RPC error raised while answering a request.
struct RpcError {
    std::int64_t code = 0;
    std::string message;
    std::optional<Json> data;
};

class Session {
public:
    // The session's tool host: `VemorTools` over the process-wide providers unless given.
    explicit Session(std::unique_ptr<ToolHost> tools = std::make_unique<VemorTools>());

    // The response to one message, or none (notifications, and requests that may not be
    // answered).
    std::optional<Response> handle(const Json& message);
    // The result of `tools/call`, or the protocol error.
    std::expected<Json, RpcError> tools_call_result(const Json& params);

    SessionMode mode() const { return mode_; }
    ToolHost& tools() { return *tools_; }

private:
    std::unique_ptr<ToolHost> tools_;
    SessionMode mode_ = SessionMode::Undecided;

    // The `tools/list` response for `id`.
    SerializedResponse tools_list_response(const Json& id) const;
};

}  // namespace vemor::mcp
