// Tree search over generated trees of 10k and 100k elements, for ten selectors.
//
// `bench/selector_vs_lxml.py` runs this program and lxml + cssselect on the same tree (written
// here as XML with --export-xml) and prints the ratios. Extra flags, read before Google
// Benchmark's own:
//   --export-xml=DIR   write DIR/tree_10000.xml and DIR/tree_100000.xml
//   --results=FILE     write each selector's matches (stable ids, in result order) as JSON
// Two children functions are timed: "owned" copies each child list, as a provider's
// `get_children` does; "view" lends the lists of the in-memory tree.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/json.hpp"
#include "vemor/selector.hpp"

namespace {

using namespace vemor;

// The ten selectors; the script holds the lxml form of each under the same label.
struct Query {
    std::string_view label;
    std::string_view text;
};
constexpr Query kQueries[] = {
    {"type", "button"},
    {"name_exact", "[name=\"Open\"]"},
    {"name_contains", "[name*=\"FILE\"]"},
    {"descendant", "window button"},
    {"child", "group > button"},
    {"compound", "button[name=\"Save\"][enabled=\"true\"]"},
    {"nth", "button:nth(500)"},
    {"union", "link, check_box"},
    {"no_match", "button[name=\"No such name\"]"},
    {"any", "*"},
};

constexpr std::size_t kSizes[] = {10'000, 100'000};

// Nodes are stored breadth-first, so the children of a node sit next to each other and can be
// lent as one span. Handles are positions + 1.
struct Tree {
    std::vector<ElementData> nodes;
    std::vector<std::uint32_t> first_child;
    std::vector<std::uint32_t> child_count;
    std::uint32_t top_count = 0;

    std::span<const ElementData> kids(const ElementData* parent) const {
        if (parent == nullptr) return {nodes.data(), top_count};
        const std::size_t i = parent->handle - 1;
        return {nodes.data() + first_child[i], child_count[i]};
    }
};

constexpr std::string_view kWords[] = {
    "Open",   "Save",    "Close",  "Search", "File",    "Edit",     "View",  "Help",
    "Cancel", "OK",      "Apply",  "Reset",  "Profile", "Inbox",    "Draft", "Settings",
    "Print",  "Export",  "Import", "Share",  "Delete",  "Archive",  "Reply", "Forward",
    "Zoom",   "Refresh", "Back",   "Next",   "Home",    "file list"};

struct Weighted {
    Role role;
    unsigned weight;
};
constexpr Weighted kInnerRoles[] = {
    {Role::Group, 20},   {Role::Button, 15},  {Role::StaticText, 18}, {Role::TextField, 5},
    {Role::Link, 8},     {Role::CheckBox, 4}, {Role::List, 4},        {Role::ListItem, 8},
    {Role::Image, 6},    {Role::MenuItem, 4}, {Role::Toolbar, 2},     {Role::TableRow, 3},
    {Role::TableCell, 3}};

Tree generate(std::size_t size, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    auto below = [&](std::uint64_t n) { return rng() % n; };
    unsigned total_weight = 0;
    for (const auto& w : kInnerRoles) total_weight += w.weight;
    auto inner_role = [&] {
        auto pick = static_cast<unsigned>(below(total_weight));
        for (const auto& w : kInnerRoles) {
            if (pick < w.weight) return w.role;
            pick -= w.weight;
        }
        return Role::Group;
    };

    Tree t;
    std::vector<std::uint8_t> depth;
    auto add = [&](std::uint8_t d) {
        ElementData e;
        e.role = d == 0 ? Role::Application : d == 1 ? Role::Window : inner_role();
        const auto n = t.nodes.size();
        if (below(10) != 0) {
            std::string name(kWords[below(std::size(kWords))]);
            if (below(2) == 0) name += " " + std::to_string(below(100));
            e.name = std::move(name);
        }
        if (e.role == Role::TextField || e.role == Role::StaticText)
            e.value = std::string(kWords[below(std::size(kWords))]) + " text";
        e.states.enabled = below(10) != 0;
        e.stable_id = "e" + std::to_string(n);
        e.handle = n + 1;
        t.nodes.push_back(std::move(e));
        t.first_child.push_back(0);
        t.child_count.push_back(0);
        depth.push_back(d);
    };

    t.top_count = 4;
    for (unsigned i = 0; i < t.top_count; ++i) add(0);
    for (std::size_t i = 0; i < t.nodes.size() && t.nodes.size() < size; ++i) {
        const std::uint8_t d = depth[i];
        if (d >= 14) continue;  // at most 15 levels
        std::uint64_t fan;
        if (d == 0)
            fan = 1 + below(4);
        else if (d == 1)
            fan = 3 + below(10);
        else
            fan = below(2) == 0 ? 0 : 1 + below(12);
        fan = std::min<std::uint64_t>(fan, size - t.nodes.size());
        t.first_child[i] = static_cast<std::uint32_t>(t.nodes.size());
        t.child_count[i] = static_cast<std::uint32_t>(fan);
        for (std::uint64_t k = 0; k < fan; ++k) add(static_cast<std::uint8_t>(d + 1));
    }
    return t;
}

const Tree& tree_of(std::size_t size) {
    static const Tree small = generate(kSizes[0], 20240601);
    static const Tree large = generate(kSizes[1], 20240601);
    return size == kSizes[0] ? small : large;
}

selector::ChildrenFn owned_children(const Tree& t) {
    return [&t](const ElementData* parent) -> Result<std::vector<ElementData>> {
        const auto kids = t.kids(parent);
        return std::vector<ElementData>(kids.begin(), kids.end());
    };
}

selector::ChildrenLookup lent_children(const Tree& t) {
    return [&t](const ElementData* parent) -> Result<std::span<const ElementData>> {
        return t.kids(parent);
    };
}

void append_escaped(std::string& out, std::string_view s) {
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
}

void write_xml(const Tree& t, const ElementData* parent, int depth, std::string& out) {
    for (const ElementData& e : t.kids(parent)) {
        out.append(static_cast<std::size_t>(depth), ' ');
        out += '<';
        out += role::to_snake_case(e.role);
        auto attr = [&](std::string_view key, const std::optional<std::string>& v) {
            if (!v) return;
            out += ' ';
            out += key;
            out += "=\"";
            append_escaped(out, *v);
            out += '"';
        };
        attr("name", e.name);
        attr("value", e.value);
        attr("stable_id", e.stable_id);
        attr("enabled", std::string(e.states.enabled ? "true" : "false"));
        if (t.kids(&e).empty()) {
            out += "/>\n";
            continue;
        }
        out += ">\n";
        write_xml(t, &e, depth + 1, out);
        out.append(static_cast<std::size_t>(depth), ' ');
        out += "</";
        out += role::to_snake_case(e.role);
        out += ">\n";
    }
}

bool export_xml(const std::string& dir) {
    for (std::size_t size : kSizes) {
        std::string out = "<?xml version=\"1.0\"?>\n<desktop>\n";
        write_xml(tree_of(size), nullptr, 1, out);
        out += "</desktop>\n";
        std::ofstream file(dir + "/tree_" + std::to_string(size) + ".xml", std::ios::binary);
        file << out;
        if (!file) return false;
    }
    return true;
}

bool write_results(const std::string& path) {
    Json all = Json::object();
    for (std::size_t size : kSizes) {
        for (const Query& q : kQueries) {
            const auto group = SelectorGroup::parse(q.text);
            if (!group) return false;
            const auto found = selector::find_elements_in_tree_group(
                owned_children(tree_of(size)), nullptr, *group, std::nullopt, std::nullopt);
            if (!found) return false;
            Json ids = Json::array();
            for (const auto& e : *found) ids.push_back(*e.stable_id);
            all[std::to_string(size)][std::string(q.label)] = std::move(ids);
        }
    }
    std::ofstream file(path, std::ios::binary);
    file << json::dump(all);
    return static_cast<bool>(file);
}

void register_all() {
    for (std::size_t size : kSizes) {
        for (const Query& q : kQueries) {
            for (const bool view : {false, true}) {
                const std::string name = std::string(view ? "view/" : "owned/") +
                                         std::to_string(size) + "/" + std::string(q.label);
                benchmark::RegisterBenchmark(name.c_str(), [size, q, view](benchmark::State& st) {
                    const Tree& t = tree_of(size);
                    const selector::ChildrenFn owned = owned_children(t);
                    const selector::ChildrenLookup lent = lent_children(t);
                    std::size_t matches = 0;
                    for (auto _ : st) {
                        auto group = SelectorGroup::parse(q.text);
                        auto found = view ? selector::find_elements_in_tree_group_view(
                                                lent, nullptr, *group, std::nullopt, std::nullopt)
                                          : selector::find_elements_in_tree_group(
                                                owned, nullptr, *group, std::nullopt, std::nullopt);
                        matches = found ? found->size() : 0;
                        benchmark::DoNotOptimize(found);
                    }
                    st.counters["matches"] = static_cast<double>(matches);
                })->Unit(benchmark::kMillisecond);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--export-xml=")) {
            if (!export_xml(std::string(arg.substr(13)))) {
                std::cerr << "cannot write the XML trees\n";
                return 1;
            }
        } else if (arg.starts_with("--results=")) {
            if (!write_results(std::string(arg.substr(10)))) {
                std::cerr << "cannot write the results\n";
                return 1;
            }
        } else {
            rest.push_back(argv[i]);
        }
    }
    int rest_argc = static_cast<int>(rest.size());
    register_all();
    benchmark::Initialize(&rest_argc, rest.data());
    if (benchmark::ReportUnrecognizedArguments(rest_argc, rest.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
