// The selector language: `button[name="OK"]`, `window > group button`, `radio_button:nth(2)`,
// `link, button`. The parser turns text into a `SelectorGroup`; the matcher tests one element
// against a `SimpleSelector`; the tree search evaluates a whole group over any children function.
#pragma once

#include <algorithm>
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

// One clause: the whole-group search of a group of that one clause.
Result<std::vector<ElementData>> find_elements_in_tree(const ChildrenFn& children,
                                                       const ElementData* root,
                                                       const Selector& clause,
                                                       std::optional<std::size_t> limit,
                                                       std::optional<std::uint32_t> max_depth);

// One clause with the path of each match (relative to `root`), duplicates (by path) removed.
Result<std::vector<PathMatch>> find_elements_in_tree_with_paths(
    const ChildrenLookup& children, const ElementData* root, const Selector& clause,
    std::optional<std::uint32_t> max_depth);

// The whole group below `root` (nullptr: the top level), in document order, each position once.
// The first error of the children function ends the search and is returned.
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

// One element of a lent tree, with the key by which the tree lists its children.
struct LentChild {
    const ElementData* element = nullptr;
    std::size_t key = 0;
};

// A tree held in memory that lends its elements to the search instead of copying them: only
// the matches are copied. Lending cannot fail; a lent list and the elements it points to stay
// valid until the search that was lent them returns.
class LentTree {
  public:
    virtual ~LentTree() = default;
    // The children of `parent` (nullptr: the top level), in document order.
    virtual std::span<const LentChild> children_of(const ElementData* parent) const = 0;
    // The children of the element lent with `key`, in document order.
    virtual std::span<const LentChild> children(std::size_t key) const = 0;
};

// The same search over a lent tree: same results, no copies of the elements that do not match.
Result<std::vector<ElementData>> find_elements_in_lent_tree(const LentTree& tree,
                                                            const ElementData* root,
                                                            const SelectorGroup& group,
                                                            std::optional<std::size_t> limit,
                                                            std::optional<std::uint32_t> max_depth);

// Decides, one element at a time in document order, which elements a group selects: the one
// meaning of a selector for every search and every provider. It is fed every element the search
// examines, in pre-order, with its depth (the search root's children are at depth 0), and
// answers whether the element is selected and whether anything below it can still be.
//
// A clause's first segment examines elements down to the max depth (with no search root and the
// role `application`, the top level only); a later segment examines the children (`>`) of the
// previous segment's selection, or everything below it down to the max depth counted afresh.
// A segment's :nth keeps the nth element of its selection in document order, so an element's
// fate is settled when it is visited.
class TreeMatcher {
  public:
    TreeMatcher(const SelectorGroup& group, bool top_level, std::uint32_t max_depth);

    // The distinct simple selectors that `visit` asks about, in a fixed order.
    const std::vector<const SimpleSelector*>& tests() const { return tests_; }

    struct Visit {
        bool selected = false;
        // Whether the element's children are worth examining.
        bool descend = false;
    };

    // The next element in pre-order, at `depth` (at most one more than the previous element's).
    // `passes(i)` tells whether it satisfies tests()[i]; it is asked only what matters here, at
    // most once per test.
    template <class Passes>
    Visit visit(std::uint32_t depth, Passes&& passes);

    // Nothing later in document order can be selected.
    bool done() const { return open_clauses_ == 0; }

  private:
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    struct Step {
        std::size_t test = 0;
        std::size_t clause = 0;
        std::size_t last = 0;  // the clause's last step
        bool first = false;
        bool child = false;
        std::uint64_t bound = 0;  // first steps: the deepest depth examined
        std::optional<std::uint64_t> nth;
    };
    bool exhausted(std::size_t k) const {
        return steps_[k].nth && counts_[k] >= *steps_[k].nth;
    }

    std::vector<const SimpleSelector*> tests_;
    std::vector<Step> steps_;
    std::vector<std::uint64_t> counts_;
    // Per depth on the current path, per step: the depth of the nearest element selected by the
    // step before, or kNone.
    std::vector<std::uint64_t> near_;
    struct Memo {
        std::uint64_t stamp = 0;
        bool passed = false;
    };
    std::vector<Memo> memo_;
    std::uint64_t stamp_ = 0;
    std::uint64_t max_depth_ = 0;
    std::size_t open_clauses_ = 0;
};

template <class Passes>
TreeMatcher::Visit TreeMatcher::visit(std::uint32_t depth, Passes&& passes) {
    // Entries deeper than `depth` belong to elements already left; they are overwritten, never
    // read, so the vector only grows.
    const std::size_t k_count = steps_.size();
    const std::size_t at = static_cast<std::size_t>(depth) * k_count;
    if (near_.size() < at + k_count) near_.resize(at + k_count, kNone);
    std::uint64_t* entry = near_.data() + at;
    const std::uint64_t* parent = depth == 0 ? nullptr : entry - k_count;
    for (std::size_t k = 0; k < k_count; ++k) entry[k] = parent ? parent[k] : kNone;
    // A test's answer is remembered for the element of the current stamp only.
    ++stamp_;
    auto test = [&](std::size_t t) {
        if (memo_[t].stamp != stamp_) memo_[t] = Memo{stamp_, passes(t)};
        return memo_[t].passed;
    };

    Visit v;
    const std::uint64_t d = depth;
    for (std::size_t k = 0; k < k_count; ++k) {
        const Step& s = steps_[k];
        if (exhausted(s.last)) {
            k = s.last;  // the clause can select nothing more
            continue;
        }
        if (exhausted(k)) continue;
        bool candidate;
        if (s.first) {
            candidate = d <= s.bound;
        } else {
            const std::uint64_t n = parent ? parent[k] : kNone;
            candidate = n != kNone && (s.child ? n + 1 == d : d - n - 1 <= max_depth_);
        }
        if (!candidate || !test(s.test)) continue;
        ++counts_[k];
        if (s.nth && counts_[k] != *s.nth) continue;
        if (k == s.last) {
            v.selected = true;
            if (s.nth) --open_clauses_;
        } else {
            entry[k + 1] = d;
        }
    }
    for (std::size_t k = 0; k < k_count && !v.descend; ++k) {
        const Step& s = steps_[k];
        if (exhausted(s.last)) {
            k = s.last;
            continue;
        }
        if (exhausted(k)) continue;
        if (s.first) {
            v.descend = d + 1 <= s.bound;
        } else if (entry[k] != kNone) {
            v.descend = s.child ? entry[k] == d : d - entry[k] <= max_depth_;
        }
    }
    return v;
}

}  // namespace selector
}  // namespace vemor
