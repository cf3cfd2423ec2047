// Tree search over generated trees of 10k and 100k elements, for ten selectors, through two
// paths: the provider method, `find_elements_group` of a mock provider holding the tree (the
// search reads the provider's nodes in place and copies only the matches), and the call a
// library user makes over the whole desktop, a `Locator` with no scope and `elements()`.
//
// `bench/selector_vs_lxml.py` runs this program and lxml on the same tree (written here as XML
// with --export-xml, without indentation, so that both sides see the same elements and nothing
// else) and prints the ratios. Extra flags, read before Google Benchmark's own:
//   --export-xml=DIR   write DIR/tree_10000.xml and DIR/tree_100000.xml
//   --results=FILE     write each path's matches per selector (stable ids, in result order) as
//                      JSON
//   --serve            time on request instead of running the benchmarks (see `serve`)
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/json.hpp"
#include "vemor/locator.hpp"
#include "vemor/mock.hpp"
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

// One application at the top; a node's handle is its position, as the mock provider wants.
struct Tree {
    std::vector<MockNode> nodes;
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

// Renumbers the nodes in pre-order, the order in which a tree read from a document (lxml's
// included) lies in memory.
Tree in_document_order(Tree t) {
    std::vector<std::size_t> order;
    order.reserve(t.nodes.size());
    std::vector<std::size_t> stack{0};
    while (!stack.empty()) {
        const std::size_t i = stack.back();
        stack.pop_back();
        order.push_back(i);
        const auto& kids = t.nodes[i].children;
        for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
    }
    std::vector<std::size_t> position(t.nodes.size());
    for (std::size_t k = 0; k < order.size(); ++k) position[order[k]] = k;
    Tree out;
    out.nodes.reserve(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        MockNode node = std::move(t.nodes[order[k]]);
        node.data.handle = k;
        node.data.stable_id = "e" + std::to_string(k);
        for (auto& c : node.children) c = position[c];
        if (node.parent) node.parent = position[*node.parent];
        out.nodes.push_back(std::move(node));
    }
    return out;
}

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
    auto add = [&](std::uint8_t d, std::optional<std::size_t> parent) {
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
        e.handle = n;
        t.nodes.push_back(MockNode{std::move(e), {}, parent});
        if (parent) t.nodes[*parent].children.push_back(n);
        depth.push_back(d);
    };

    add(0, std::nullopt);
    for (std::size_t i = 0; i < t.nodes.size() && t.nodes.size() < size; ++i) {
        const std::uint8_t d = depth[i];
        if (d >= 14) continue;  // at most 15 levels
        std::uint64_t fan;
        if (d == 0)
            fan = 4 + below(8);
        else if (d == 1)
            fan = 3 + below(10);
        else
            fan = below(2) == 0 ? 0 : 1 + below(12);
        fan = std::min<std::uint64_t>(fan, size - t.nodes.size());
        for (std::uint64_t k = 0; k < fan; ++k) add(static_cast<std::uint8_t>(d + 1), i);
    }
    return in_document_order(std::move(t));
}

const Tree& tree_of(std::size_t size) {
    static const Tree small = generate(kSizes[0], 20240601);
    static const Tree large = generate(kSizes[1], 20240601);
    return size == kSizes[0] ? small : large;
}

const std::shared_ptr<const MockProvider>& provider_of(std::size_t size) {
    static const auto small = std::make_shared<const MockProvider>(tree_of(kSizes[0]).nodes);
    static const auto large = std::make_shared<const MockProvider>(tree_of(kSizes[1]).nodes);
    return size == kSizes[0] ? small : large;
}

// The provider method: the selector parsed, then one search from the top level.
Result<ElementList> search(std::size_t size, std::string_view text) {
    auto group = SelectorGroup::parse(text);
    if (!group) return fail(std::move(group).error());
    return provider_of(size)->find_elements_group(nullptr, *group, std::nullopt, std::nullopt);
}

// The library user's call over the whole desktop: a locator with no scope, all its elements.
Result<std::vector<Element>> locate(std::size_t size, std::string_view text) {
    return Locator(provider_of(size), std::nullopt, std::string(text)).elements();
}

enum class Path { Provider, Locator };

// One timed call of either path; the result is dropped before the next call.
std::size_t run_once(Path path, std::size_t size, std::string_view text) {
    if (path == Path::Provider) {
        auto found = search(size, text);
        benchmark::DoNotOptimize(found);
        return found ? found->size() : 0;
    }
    auto found = locate(size, text);
    benchmark::DoNotOptimize(found);
    return found ? found->size() : 0;
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

void write_xml(const Tree& t, std::size_t index, std::string& out) {
    const MockNode& node = t.nodes[index];
    const ElementData& e = node.data;
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
    if (node.children.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    for (std::size_t c : node.children) write_xml(t, c, out);  // 15 levels at most
    out += "</";
    out += role::to_snake_case(e.role);
    out += '>';
}

bool export_xml(const std::string& dir) {
    for (std::size_t size : kSizes) {
        std::string out = "<?xml version=\"1.0\"?>\n<desktop>";
        write_xml(tree_of(size), 0, out);
        out += "</desktop>\n";
        std::ofstream file(dir + "/tree_" + std::to_string(size) + ".xml", std::ios::binary);
        file << out;
        if (!file) return false;
    }
    return true;
}

// Both paths' matches; the script checks each against lxml's.
bool write_results(const std::string& path) {
    Json all = Json::object();
    for (std::size_t size : kSizes) {
        for (const Query& q : kQueries) {
            const auto found = search(size, q.text);
            const auto located = locate(size, q.text);
            if (!found || !located) return false;
            Json ids = Json::array();
            for (const auto& e : *found) ids.push_back(*e.stable_id);
            Json located_ids = Json::array();
            for (const auto& e : *located) located_ids.push_back(*e.data().stable_id);
            all["provider"][std::to_string(size)][std::string(q.label)] = std::move(ids);
            all["locator"][std::to_string(size)][std::string(q.label)] = std::move(located_ids);
        }
    }
    std::ofstream file(path, std::ios::binary);
    file << json::dump(all);
    return static_cast<bool>(file);
}

void register_all() {
    for (Path path : {Path::Provider, Path::Locator}) {
        for (std::size_t size : kSizes) {
            for (const Query& q : kQueries) {
                const std::string name =
                    std::string(path == Path::Provider ? "provider/" : "locator/") +
                    std::to_string(size) + "/" + std::string(q.label);
                benchmark::RegisterBenchmark(name.c_str(), [path, size, q](benchmark::State& st) {
                    std::size_t matches = 0;
                    for (auto _ : st) matches = run_once(path, size, q.text);
                    st.counters["matches"] = static_cast<double>(matches);
                })->Unit(benchmark::kMillisecond);
            }
        }
    }
}

const Query* query_named(std::string_view label) {
    for (const Query& q : kQueries)
        if (q.label == label) return &q;
    return nullptr;
}

// Timing on request, so that a script can alternate these runs with its peer's in one process
// each. Each input line "PATH SIZE LABEL RUNS" (PATH is provider or locator) is answered with one
// line: the mean seconds of RUNS back-to-back calls, after one untimed call that brings the tree
// back into the caches the peer's run used in between.
int serve() {
    std::string path_word, label;
    std::size_t size = 0, runs = 0;
    while (std::cin >> path_word >> size >> label >> runs) {
        const Query* q = query_named(label);
        const bool known_size = size == kSizes[0] || size == kSizes[1];
        if (!q || !known_size || runs == 0 || (path_word != "provider" && path_word != "locator")) {
            std::cout << "error" << std::endl;
            continue;
        }
        const Path path = path_word == "provider" ? Path::Provider : Path::Locator;
        run_once(path, size, q->text);
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < runs; ++i) run_once(path, size, q->text);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::cout << took.count() / static_cast<double>(runs) << std::endl;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    bool serving = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--serve") {
            serving = true;
        } else if (arg.starts_with("--export-xml=")) {
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
    // Build the trees and their providers before any timing.
    for (std::size_t size : kSizes) provider_of(size);
    if (serving) return serve();
    register_all();
    benchmark::Initialize(&rest_argc, rest.data());
    if (benchmark::ReportUnrecognizedArguments(rest_argc, rest.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
