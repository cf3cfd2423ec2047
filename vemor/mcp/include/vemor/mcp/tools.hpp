// The tool host of the MCP server: `ToolHost`, which the session calls, and `VemorTools`, its
// implementation with the 16 tools. Every tool reads and checks all of its arguments before it
// fetches a provider, resolves a target or posts input, so a refused call does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/facade/cli_error.hpp"
#include "vemor/facade/options.hpp"
#include "vemor/facade/target.hpp"
#include "vemor/input.hpp"
#include "vemor/json.hpp"
#include "vemor/mcp/catalogue.hpp"
#include "vemor/mcp/events.hpp"
#include "vemor/mcp/results.hpp"

namespace vemor::mcp {

// What the session needs of a tool host.
class ToolHost {
public:
    virtual ~ToolHost() = default;
    // Runs one tool; `arguments` is an object.
    virtual cli::CliResult<ToolOutput> call(std::string_view name, const Json& arguments) = 0;
    virtual bool has_tool(std::string_view name) const = 0;
    // The tool definitions in catalogue order.
    virtual Json list() const = 0;
    // The same as compact JSON text: what `tools/list` writes.
    virtual std::shared_ptr<const std::string> list_text() const {
        return std::make_shared<const std::string>(json::dump(list()));
    }
};

// The 16 tools over the process-wide providers; its one piece of state is the session's
// event registry.
class VemorTools final : public ToolHost {
public:
    explicit VemorTools(events::Now now = {}) : registry_(std::move(now)) {}

    cli::CliResult<ToolOutput> call(std::string_view name, const Json& arguments) override;
    bool has_tool(std::string_view name) const override { return tools::is_tool_name(name); }
    Json list() const override { return tools::list_definitions(); }
    std::shared_ptr<const std::string> list_text() const override {
        return tools::list_definitions_text();
    }

    events::Registry& registry() { return registry_; }

private:
    events::Registry registry_;
};

namespace tools {

// ---- Argument readers: every failure is a usage error naming the key ---------------------
// Required non-empty string; null counts as the wrong type.
cli::CliResult<std::string> req_str(const Json& args, std::string_view key);
// Optional string (null counts as absent); an empty string is accepted.
cli::CliResult<std::optional<std::string>> opt_str(const Json& args, std::string_view key);
// Optional whole number within 64 signed bits (null counts as absent).
cli::CliResult<std::optional<std::int64_t>> opt_int(const Json& args, std::string_view key);
// Required whole number within [min, max].
cli::CliResult<std::int64_t> req_bounded(const Json& args, std::string_view key,
                                         std::int64_t min, std::int64_t max);
cli::CliResult<std::int32_t> req_i32(const Json& args, std::string_view key);
// Optional whole number within the bounds, `fallback` when absent.
cli::CliResult<std::int64_t> opt_bounded(const Json& args, std::string_view key,
                                         std::int64_t fallback, const Bounds& bounds);
// Optional process id, 1..=4294967295.
cli::CliResult<std::optional<std::uint32_t>> pid_arg(const Json& args);
// "held": an array of key names, or none.
cli::CliResult<std::vector<Key>> held_keys(const Json& args);
// "duration_ms" of `drag`: 150 when absent, 0..=60000.
cli::CliResult<std::uint64_t> opt_usize(const Json& args);

// "app", "pid" and "shell" resolved to an application or a shell surface.
cli::CliResult<cli::Target> target(const Json& args);
// "application" and "pid", or "shell" ({"kind", "name", "pid"}) and "pid".
void target_fields(const cli::Target& target, Json& map);
// The refusal of an `action` selector that matched `count` elements.
cli::CliError ambiguous(std::size_t count, std::string_view selector,
                        std::span<const Element> matches);

// ---- Handlers ---------------------------------------------------------------------------------
cli::CliResult<ToolOutput> tool_apps();
cli::CliResult<ToolOutput> tool_shell();
cli::CliResult<ToolOutput> tool_windows(const Json& args);
cli::CliResult<ToolOutput> tool_tree(const Json& args);
cli::CliResult<ToolOutput> tool_find(const Json& args);
cli::CliResult<ToolOutput> tool_action(const Json& args);
cli::CliResult<ToolOutput> tool_action_parsed(const cli::Target& target, std::string_view action,
                                              std::string_view selector,
                                              const cli::ActionArgs& parsed);
cli::CliResult<ToolOutput> tool_screenshot(const Json& args);
cli::CliResult<ToolOutput> tool_events_start(events::Registry& registry, const Json& args);
cli::CliResult<ToolOutput> tool_events_poll(events::Registry& registry, const Json& args);
cli::CliResult<ToolOutput> tool_events_stop(events::Registry& registry, const Json& args);
cli::CliResult<ToolOutput> tool_click(const Json& args);
cli::CliResult<ToolOutput> tool_move(const Json& args);
cli::CliResult<ToolOutput> tool_drag(const Json& args);
cli::CliResult<ToolOutput> tool_scroll(const Json& args);
cli::CliResult<ToolOutput> tool_type(const Json& args);
cli::CliResult<ToolOutput> tool_key(const Json& args);

}  // namespace tools
}  // namespace vemor::mcp
