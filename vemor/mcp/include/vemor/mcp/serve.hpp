// `vemor mcp`: the Model Context Protocol server on standard input and output. It reads one
// message, answers it and writes the answer before it reads the next; it returns at end of
// input, after its event subscriptions have been shut down.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "vemor/facade/cli_error.hpp"
#include "vemor/mcp/protocol.hpp"
#include "vemor/mcp/transport.hpp"

namespace vemor::mcp {

// Written to standard error when standard input is a terminal.
inline constexpr std::string_view kBanner =
    "vemor mcp: serving Model Context Protocol over stdio (JSON-RPC on stdin/stdout, one message "
    "per line). This is meant to be launched by an MCP client, not run interactively. Ctrl-D to "
    "exit.";

// Standard input failing this many reads in a row ends the server with the last failure.
inline constexpr int kMaxConsecutiveReadFailures = 5;

// `args` are the words after `mcp`; any word is a usage error before any I/O.
cli::CliResult<void> serve(std::span<const std::string> args);

// The loop: until end of input, a failed write, or repeated read failures.
cli::CliResult<void> serve_stream(transport::LineReader& reader, int out_fd, Session& session);

}  // namespace vemor::mcp
