#include "vemor/facade/window_list.hpp"

#include <unordered_set>

#include <fmt/format.h>

namespace vemor::cli {

std::string window_key(const ElementData& element) {
    const std::uint32_t pid = element.pid.value_or(0);
    auto bus = element.raw.find("bus_name");
    if (bus != element.raw.end() && bus->second.is_string() && element.stable_id)
        return fmt::format("{}:{}:{}", pid, bus->second.get_ref<const std::string&>(),
                           *element.stable_id);
    return fmt::format("{}:h{}", pid, element.handle);
}

std::vector<Element> dedup_windows(std::vector<Element> windows) {
    std::unordered_set<std::string> seen;
    std::vector<Element> out;
    out.reserve(windows.size());
    for (auto& w : windows)
        if (seen.insert(window_key(w.data())).second) out.push_back(std::move(w));
    return out;
}

}  // namespace vemor::cli
