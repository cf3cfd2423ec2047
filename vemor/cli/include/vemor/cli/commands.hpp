// The commands of the `vemor` tool apart from `mcp`. Each takes the words after its name,
// fetches providers only when it needs them, prints its result on standard output and returns
// any failure for `run_main` to report.
#pragma once

#include <span>
#include <string>

#include "vemor/facade/cli_error.hpp"

namespace vemor::cli {

using Words = std::span<const std::string>;

CliResult<void> cmd_apps(Words words);
CliResult<void> cmd_shell(Words words);
CliResult<void> cmd_windows(Words words);
CliResult<void> cmd_tree(Words words);
CliResult<void> cmd_find(Words words);
CliResult<void> cmd_action(Words words);
CliResult<void> cmd_events(Words words);
CliResult<void> cmd_click(Words words);
CliResult<void> cmd_move(Words words);
CliResult<void> cmd_drag(Words words);
CliResult<void> cmd_scroll(Words words);
CliResult<void> cmd_key(Words words);
CliResult<void> cmd_type(Words words);
CliResult<void> cmd_screenshot(Words words);

}  // namespace vemor::cli
