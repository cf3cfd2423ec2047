// Window identity across applications: the key that tells two window snapshots apart, and the
// de-duplication of a joined window list (the `windows` command and the MCP `windows` tool).
#pragma once

#include <string>
#include <vector>

#include "vemor/element.hpp"

namespace vemor::cli {

// "{pid}:{inner}" (pid 0 when absent); inner is "{bus_name}:{stable_id}" when the raw
// attribute "bus_name" is a JSON string and a stable id is present, else "h{handle}".
std::string window_key(const ElementData& element);
inline std::string window_key(const Element& element) { return window_key(element.data()); }

// Keeps the first window of each key, in order.
std::vector<Element> dedup_windows(std::vector<Element> windows);

}  // namespace vemor::cli
