// The tool catalogue of the MCP server: the 16 tool names in listing order, each tool's
// definition (name, title, description, input schema) and the shared property schemas. The
// `action` description always states the default time-out in force at the moment of listing;
// the serialised listing is built again whenever that text changes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/json.hpp"

namespace vemor::mcp::tools {

// The catalogue order of `tools/list`.
inline constexpr std::array<std::string_view, 16> kToolNames{
    "apps",  "shell", "windows", "tree",       "find",         "action",
    "click", "move",  "drag",    "scroll",     "key",          "type",
    "screenshot",     "events_start",          "events_poll",  "events_stop",
};

// The range of an integer argument.
struct Bounds {
    std::int64_t minimum = 0;
    std::uint64_t maximum = 0;

    // {"type": "integer", "minimum", "maximum", "description"}.
    Json property(std::string description) const;
};

inline constexpr Bounds kCoordinate{-2147483648LL, 2147483647ULL};
inline constexpr Bounds kPid{1, 4294967295ULL};
inline constexpr Bounds kRegionSize{1, 4294967295ULL};
inline constexpr Bounds kClickCount{1, 10};
inline constexpr Bounds kListLimit{1, 500};
inline constexpr Bounds kPollTimeoutMs{0, 15000};
inline constexpr Bounds kDragDurationMs{0, 60000};
inline constexpr Bounds kTreeDepth{0, 64};

inline constexpr std::int64_t kDefaultListLimit = 50;
inline constexpr std::int64_t kDefaultTreeDepth = 12;
inline constexpr std::size_t kTreeNodeLimit = 2000;
inline constexpr std::int64_t kDefaultPollMax = 100;
inline constexpr std::int64_t kDefaultDragDurationMs = 150;
inline constexpr std::size_t kAnnotationCap = 100;

// True for exactly the 16 names (byte-for-byte).
bool is_tool_name(std::string_view name);

// The 16 definitions in catalogue order, built afresh.
Json list_definitions();
// The same as compact JSON text, built once for each default time-out text it states and shared
// afterwards, so that a listing copies no tree and serialises nothing.
std::shared_ptr<const std::string> list_definitions_text();
// One definition; a name outside the catalogue gets a placeholder without a title.
Json tool_definition(std::string_view name);
Json tool(std::string_view name, std::string_view title, std::string description, Json schema);
// {"type": "object", "properties", "required", "additionalProperties": false}.
Json object_schema(Json properties, std::vector<std::string> required);

Json held_property();
// "app" and "pid".
Json app_properties();
// "app", "pid" and "shell".
Json app_target_properties();
// "x" and "y" with `label` before the fixed text.
Json point_properties(std::string_view label);
Json subscription_id_property();

// The descriptions built at listing time.
std::string action_description();
// "5s" from the default time-out, or the unresolvable form with its error.
std::string default_timeout_text();

// Shared texts, exposed for the tests that pin them.
extern const std::string_view kActionsNote;
extern const std::string_view kSelectorNote;

}  // namespace vemor::mcp::tools
