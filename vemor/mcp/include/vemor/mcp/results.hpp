// The two shapes a tool call ends in, a `ToolOutput` or a failure, and the JSON forms the tools
// share: the element object, the depth- and budget-limited tree, the near-miss diagnosis, the
// one-line candidate of an ambiguous match, the screenshot summary and the legend lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/error.hpp"
#include "vemor/facade/cli_error.hpp"
#include "vemor/facade/target.hpp"
#include "vemor/json.hpp"
#include "vemor/legend.hpp"
#include "vemor/screenshot.hpp"

namespace vemor::mcp {

// The successful result of one tool call: MCP content items and the structured content.
struct ToolOutput {
    std::vector<Json> content;
    std::optional<Json> structured_content;

    // One text item holding the compact JSON of `value`; `value` is the structured content.
    static ToolOutput json(Json value);
    // An image item with the PNG bytes in base64, then a text item with the compact JSON of
    // `summary`; `summary` is the structured content.
    static ToolOutput png(std::span<const std::uint8_t> png_bytes, Json summary);
};

// `CliError::Core` holding `Error::Platform`.
inline cli::CliError platform_error(std::int64_t code, std::string message) {
    return cli::CliError(Error(Error::Platform{code, std::move(message)}));
}

// What `describe_failure` makes of a `CliError`.
struct Failure {
    std::string message;
    Json object;
};

namespace tools {

// Most candidate lines a diagnosis object or an ambiguity carries.
inline constexpr std::size_t kMaxCandidates = 20;

// The element object: role, optional texts, bounds and centre, numbers, actions and states.
Json element_data_json(const ElementData& element);
Json states_json(const StateSet& states);

// The tree object of `element` and its descendants. Stops at `max_depth` (setting
// `truncated_by_depth`) and when `budget` reaches 0; every child built takes one unit.
// `root_target`, given only on the top call, supplies the first level of children.
Json build_node(const Element& element, std::size_t max_depth, std::size_t depth,
                std::size_t& budget, bool& truncated_by_depth, const cli::Target* root_target);

Json diagnosis_json(const Diagnosis& diagnosis);

// The failure "kind" of an error ("invalid_arguments", "no_match", ...).
std::string_view failure_kind(const cli::CliError& error);
// The message text and the failure object ("tool", "message", "kind" and the variant's keys).
Failure describe_failure(std::string_view tool, const cli::CliError& error);

// `role "name" [value="v" checked=on selected disabled hidden at (x,y)]`.
std::string describe_candidate(const ElementData& element);

// {"bytes", "height", "scale", "width"}.
Json capture_summary(const Screenshot& shot, std::size_t png_length);

// The legend entries or omissions as a JSON array; `name` ("legend" or "omitted") names the
// list in the error.
cli::CliResult<Json> legend_json(std::string_view name, std::span<const LegendEntry> entries);
cli::CliResult<Json> legend_json(std::string_view name, std::span<const Omission> omissions);

// The text itself when it has at most `n` scalar values, else its first `n` and "…".
std::string truncate(std::string_view text, std::size_t n);

// Inserts `key` only when the value is present.
template <class T>
void insert_some(Json& map, std::string_view key, const std::optional<T>& value) {
    if (value) map[std::string(key)] = *value;
}

}  // namespace tools
}  // namespace vemor::mcp
