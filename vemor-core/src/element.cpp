#include "vemor/element.hpp"

#include <fmt/format.h>

namespace vemor {

Json to_json(const Rect& r) {
    return Json{{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
}

namespace element {

void write_tree_node(const TreeNode& root, std::size_t root_depth, std::string& out) {
    // Iterative pre-order walk, so a very deep tree cannot exhaust the stack.
    struct Item {
        const TreeNode* node;
        std::size_t depth;
    };
    std::vector<Item> stack{{&root, root_depth}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        out.append(2 * depth, ' ');
        out += node->role;
        if (node->name) fmt::format_to(std::back_inserter(out), " \"{}\"", *node->name);
        if (node->value) fmt::format_to(std::back_inserter(out), " value=\"{}\"", *node->value);
        out += '\n';
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
            stack.push_back({&*it, depth + 1});
    }
}

}  // namespace element

namespace app {

std::string same_window_identity_key(const ElementData& element) {
    if (!element.stable_id) return fmt::format("h{}", element.handle);
    auto bus = element.raw.find("bus_name");
    if (bus != element.raw.end() && bus->second.is_string())
        return fmt::format("{}:{}", bus->second.get_ref<const std::string&>(), *element.stable_id);
    return *element.stable_id;
}

bool same_window_identity(const ElementData& a, const ElementData& b) {
    return same_window_identity_key(a) == same_window_identity_key(b);
}

}  // namespace app
}  // namespace vemor
