// The selector language: `button[name="OK"]`, `window > group button`, `radio_button:nth(2)`,
// `link, button`. The parser turns text into a `SelectorGroup`; the matcher tests one element
// against a `SimpleSelector`; the tree search evaluates a whole group over any children function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/error.hpp"
#include "vemor/role.hpp"

namespace vemor {

// How a segment relates to the previous one: `Descendant` is written as spaces (any depth
// below), `Child` as `>` (direct child).
enum class Combinator : std::uint8_t { Descendant, Child };

// `=` is exact and case-sensitive; `*=`, `^=`, `$=` compare after Unicode lowercasing.
enum class MatchOp : std::uint8_t { Exact, Contains, StartsWith, EndsWith };

// The "any" role constraint (written `*` or nothing).
struct AnyRole {
    bool operator==(const AnyRole&) const = default;
};

// Role constraint of a simple selector: any, a known `Role`, or a raw platform role name kept
// exactly as typed ("AXButton", "Button"). A tagged union in C++.
using RoleConstraint = std::variant<AnyRole, Role, std::string>;

// One bracketed condition: `[attr op "value"]`.
struct AttrFilter {
    std::string attr;
    MatchOp op = MatchOp::Exact;
    std::string value;
    bool operator==(const AttrFilter&) const = default;
};

// One compound condition on a single element; `nth` (1-based, never 0) keeps only that match.
struct SimpleSelector {
    RoleConstraint role;
    std::vector<AttrFilter> filters;
    std::optional<std::uint64_t> nth;
    bool operator==(const SimpleSelector&) const = default;
};

// One step of a clause; `combinator` is absent on the first segment only.
struct SelectorSegment {
    SimpleSelector simple;
    std::optional<Combinator> combinator;
    bool operator==(const SelectorSegment&) const = default;
};

// The result of `Selector::parse_simple`: the simple selector and the position (in characters)
// of the first character not consumed.
struct SimpleParse {
    SimpleSelector simple;
    std::size_t position = 0;
    bool operator==(const SimpleParse&) const = default;
};

// One clause: segments from outermost to innermost.
struct Selector {
    std::vector<SelectorSegment> segments;

    static Result<Selector> parse(std::string_view text);
    // Parses one simple selector of `clause` (already decoded to code points) from `start`.
    // Errors carry `clause` as their selector text.
    static Result<SimpleParse> parse_simple(std::u32string_view chars, std::size_t start,
                                            std::string_view clause);

    bool operator==(const Selector&) const = default;
};

// The comma-separated union of clauses, in text order (at least one).
struct SelectorGroup {
    std::vector<Selector> selectors;

    static Result<SelectorGroup> parse(std::string_view text);

    bool operator==(const SelectorGroup&) const = default;
};

namespace selector {

// Splits at commas outside single- or double-quoted runs; always at least one part.
std::vector<std::string> split_top_level_commas(std::string_view text);

// Every clause of `parent` joined with every clause of `child` by `combinator`, joined by ", ".
std::string chain_combinator(std::string_view parent, std::string_view combinator,
                             std::string_view child);

// ---- Matching ----------------------------------------------------------------------------

bool matches_simple(const ElementData& element, const SimpleSelector& simple);

// Compares one attribute text (absent never matches) with a filter value.
bool match_op(MatchOp op, std::string_view value, std::optional<std::string_view> text);

// The text a filter on `attr` compares with, or none when the attribute is absent.
std::optional<std::string> resolve_attr(const ElementData& element, std::string_view attr);

// ---- Tree search -------------------------------------------------------------------------

// The maximum depth of a search when the caller gives none.
inline constexpr std::uint32_t kDefaultMaxDepth = 50;

// Children of `parent` in document order; nullptr asks for the top level of the tree.
using ChildrenFn = std::function<Result<std::vector<ElementData>>(const ElementData* parent)>;

// A children function that lends its lists instead of copying them: each span must stay valid
// until the search that asked for it returns (an in-memory tree, or a cache).
using ChildrenLookup =
    std::function<Result<std::span<const ElementData>>(const ElementData* parent)>;

// Positions (from 0) of the child taken at each level below the search root. Compared
// lexicographically, paths give document order.
using ChildIndexPath = std::vector<std::uint32_t>;
using PathMatch = std::pair<ChildIndexPath, ElementData>;

// Appends, in pre-order, every element below `parent` that matches `simple`. The children of
// `parent` are at `depth`; nothing deeper than `max_depth` is examined. Stops as soon as
// `results` holds `limit` entries. Only the children function's errors are returned.
Result<void> collect_matching(const ChildrenFn& children, const ElementData* parent,
                              const SimpleSelector& simple, std::uint32_t depth,
                              std::uint32_t max_depth, std::vector<ElementData>& results,
                              std::optional<std::size_t> limit);

// As `collect_matching`, without a limit, recording each match's path: `path` is the path of
// `parent` on entry and is the same again on return.
Result<void> collect_matching_with_paths(const ChildrenLookup& children, const ElementData* parent,
                                         const SimpleSelector& simple, std::uint32_t depth,
                                         std::uint32_t max_depth, ChildIndexPath& path,
                                         std::vector<PathMatch>& results);

// Keeps only the nth entry (1-based), or nothing when the list is shorter; none keeps all. A
// programmatic nth of 0 names no entry. The one :nth rule of every search, for any entry type.
template <class T>
void keep_nth(std::vector<T>& list, std::optional<std::uint64_t> nth) {
    if (!nth) return;
    if (*nth == 0 || list.size() < *nth) {
        list.clear();
        return;
    }
    T keep = std::move(list[static_cast<std::size_t>(*nth - 1)]);
    list.clear();
    list.push_back(std::move(keep));
}

// Keeps only the nth entry (1-based), or nothing when the list is shorter; none keeps all.
void apply_nth(std::vector<ElementData>& list, std::optional<std::uint64_t> nth);
void apply_nth_paths(std::vector<PathMatch>& list, std::optional<std::uint64_t> nth);

// One clause, in discovery order, duplicates (by handle) removed.
Result<std::vector<ElementData>> find_elements_in_tree(const ChildrenFn& children,
                                                       const ElementData* root,
                                                       const Selector& clause,
                                                       std::optional<std::size_t> limit,
                                                       std::optional<std::uint32_t> max_depth);

// One clause with the path of each match (relative to `root`), duplicates (by path) removed.
Result<std::vector<PathMatch>> find_elements_in_tree_with_paths(
    const ChildrenLookup& children, const ElementData* root, const Selector& clause,
    std::optional<std::uint32_t> max_depth);

// The whole group below `root` (nullptr: the top level). One clause gives discovery order;
// several clauses give document order, each position once. The first error of the children
// function ends the search and is returned.
Result<std::vector<ElementData>> find_elements_in_tree_group(
    const ChildrenFn& children, const ElementData* root, const SelectorGroup& group,
    std::optional<std::size_t> limit, std::optional<std::uint32_t> max_depth);

inline Result<std::vector<ElementData>> find_elements_in_tree_group(
    const ChildrenFn& children, const std::optional<ElementData>& root, const SelectorGroup& group,
    std::optional<std::size_t> limit, std::optional<std::uint32_t> max_depth) {
    return find_elements_in_tree_group(children, root ? &*root : nullptr, group, limit, max_depth);
}

// The same search over a lending children function: same results, no copies of the elements
// that do not match.
Result<std::vector<ElementData>> find_elements_in_tree_group_view(
    const ChildrenLookup& children, const ElementData* root, const SelectorGroup& group,
    std::optional<std::size_t> limit, std::optional<std::uint32_t> max_depth);

}  // namespace selector
}  // namespace vemor
