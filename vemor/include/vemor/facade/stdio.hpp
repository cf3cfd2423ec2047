// Writing to the process's standard streams, shared by the command line and the MCP server.
#pragma once

#include <span>
#include <string_view>

namespace vemor::facade {

// Writes the whole buffer to a descriptor, retrying interrupted writes and waiting on a
// descriptor left non-blocking by whoever started us. 0 on success, else the error number (-1
// when the descriptor took nothing without saying why).
int write_all(int fd, std::string_view bytes);
// The pieces one after another, gathered into as few writes as the descriptor allows.
int write_all(int fd, std::span<const std::string_view> pieces);

}  // namespace vemor::facade
