// Base64 of image content: the standard alphabet with "=" padding, no line breaks.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vemor::mcp::base64 {

// 4 * ceil(n / 3) characters for n bytes; empty for an empty input.
std::string encode(std::span<const std::uint8_t> bytes);

}  // namespace vemor::mcp::base64
