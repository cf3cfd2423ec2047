// Matching one element against a simple selector, and the tree search over a children function.
//
// The search is the hot path of every query: it prepares each simple selector once (attribute
// names resolved to ids, filter values lowercased), compares ASCII texts without allocating, and
// walks the tree with an explicit stack so that a deep tree cannot exhaust the thread's stack.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <deque>
#include <numeric>
#include <type_traits>
#include <unordered_set>
#include <utility>

#include "huge_pages.hpp"
#include "vemor/enum_names.hpp"
#include "vemor/json.hpp"
#include "vemor/selector.hpp"
#include "vemor/text.hpp"

namespace vemor::selector {
namespace {

// ---- Attribute texts -----------------------------------------------------------------------

enum class Attr : std::uint8_t {
    Role,
    Name,
    Value,
    Description,
    StableId,
    Enabled,
    Visible,
    Focused,
    Active,
    Selected,
    Editable,
    Focusable,
    Modal,
    Required,
    Busy,
    Minimized,
    Maximized,
    Fullscreen,
    Expanded,
    Checked,
    Bounds,
    NumericValue,
    MinValue,
    MaxValue,
    Raw,  // any other name: looked up in the element's raw map
};

constexpr std::array<EnumName<Attr>, 24> kAttrNames{{
    {Attr::Role, "role"},           {Attr::Name, "name"},
    {Attr::Value, "value"},         {Attr::Description, "description"},
    {Attr::StableId, "stable_id"},  {Attr::Enabled, "enabled"},
    {Attr::Visible, "visible"},     {Attr::Focused, "focused"},
    {Attr::Active, "active"},       {Attr::Selected, "selected"},
    {Attr::Editable, "editable"},   {Attr::Focusable, "focusable"},
    {Attr::Modal, "modal"},         {Attr::Required, "required"},
    {Attr::Busy, "busy"},           {Attr::Minimized, "minimized"},
    {Attr::Maximized, "maximized"}, {Attr::Fullscreen, "fullscreen"},
    {Attr::Expanded, "expanded"},   {Attr::Checked, "checked"},
    {Attr::Bounds, "bounds"},       {Attr::NumericValue, "numeric_value"},
    {Attr::MinValue, "min_value"},  {Attr::MaxValue, "max_value"},
}};

Attr attr_of(std::string_view name) { return value_of(kAttrNames, name).value_or(Attr::Raw); }

using Text = std::optional<std::string_view>;

Text bool_text(bool b) { return b ? std::string_view("true") : std::string_view("false"); }
Text opt_bool_text(const std::optional<bool>& b) {
    if (!b) return std::nullopt;
    return bool_text(*b);
}
Text opt_string_text(const std::optional<std::string>& s) {
    if (!s) return std::nullopt;
    return std::string_view(*s);
}
Text number_field_text(const std::optional<double>& v, std::string& scratch) {
    if (!v || !std::isfinite(*v)) return std::nullopt;
    scratch = text::number_text(*v);
    return std::string_view(scratch);
}

Text raw_text(const Json& v, std::string& scratch) {
    switch (v.type()) {
        case Json::value_t::null:
        case Json::value_t::binary:
        case Json::value_t::discarded:
            return std::nullopt;
        case Json::value_t::boolean:
            return bool_text(v.get<bool>());
        case Json::value_t::string:
            return std::string_view(v.get_ref<const std::string&>());
        case Json::value_t::number_float: {
            // JSON has no NaN or infinity: such a value reads as null, so it is absent.
            const double d = v.get<double>();
            if (!std::isfinite(d)) return std::nullopt;
            scratch = text::number_text(d);
            return std::string_view(scratch);
        }
        default:
            // Integers in plain decimal; arrays and objects as compact JSON with sorted keys.
            scratch = json::dump(v);
            return std::string_view(scratch);
    }
}

// The attribute text, viewing the element's own strings where it can; texts that must be built
// go to `scratch`, so the view lives until `scratch` changes.
Text attr_text(const ElementData& e, Attr id, std::string_view name, std::string& scratch) {
    const StateSet& s = e.states;
    switch (id) {
        case Attr::Role:
            return role::to_snake_case(e.role);
        case Attr::Name:
            return opt_string_text(e.name);
        case Attr::Value:
            return opt_string_text(e.value);
        case Attr::Description:
            return opt_string_text(e.description);
        case Attr::StableId:
            return opt_string_text(e.stable_id);
        case Attr::Enabled:
            return bool_text(s.enabled);
        case Attr::Visible:
            return bool_text(s.visible);
        case Attr::Focused:
            return bool_text(s.focused);
        case Attr::Active:
            return bool_text(s.active);
        case Attr::Selected:
            return bool_text(s.selected);
        case Attr::Editable:
            return bool_text(s.editable);
        case Attr::Focusable:
            return bool_text(s.focusable);
        case Attr::Modal:
            return bool_text(s.modal);
        case Attr::Required:
            return bool_text(s.required);
        case Attr::Busy:
            return bool_text(s.busy);
        case Attr::Minimized:
            return opt_bool_text(s.minimized);
        case Attr::Maximized:
            return opt_bool_text(s.maximized);
        case Attr::Fullscreen:
            return opt_bool_text(s.fullscreen);
        case Attr::Expanded:
            return opt_bool_text(s.expanded);
        case Attr::Checked:
            if (!s.checked) return std::nullopt;
            return checked_state::to_snake_case(*s.checked);
        case Attr::Bounds:
            if (!e.bounds) return std::nullopt;
            scratch = fmt::format(R"({{"height":{},"width":{},"x":{},"y":{}}})", e.bounds->height,
                                  e.bounds->width, e.bounds->x, e.bounds->y);
            return std::string_view(scratch);
        case Attr::NumericValue:
            return number_field_text(e.numeric_value, scratch);
        case Attr::MinValue:
            return number_field_text(e.min_value, scratch);
        case Attr::MaxValue:
            return number_field_text(e.max_value, scratch);
        case Attr::Raw:
            break;
    }
    if (e.raw.empty()) return std::nullopt;
    const auto it = e.raw.find(std::string(name));
    if (it == e.raw.end()) return std::nullopt;
    return raw_text(it->second, scratch);
}

// ---- Comparisons ---------------------------------------------------------------------------

bool is_ascii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

bool ascii_equal_ci(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// Case-insensitive test of two ASCII texts; the same as comparing their Unicode lowercase forms.
bool ascii_match(MatchOp op, std::string_view hay, std::string_view needle) {
    if (needle.size() > hay.size()) return false;
    switch (op) {
        case MatchOp::StartsWith:
            return ascii_equal_ci(hay.data(), needle.data(), needle.size());
        case MatchOp::EndsWith:
            return ascii_equal_ci(hay.data() + (hay.size() - needle.size()), needle.data(),
                                  needle.size());
        case MatchOp::Contains: {
            if (needle.empty()) return true;
            const char first = lower(needle[0]);
            const std::size_t last_start = hay.size() - needle.size();
            for (std::size_t i = 0; i <= last_start; ++i)
                if (lower(hay[i]) == first &&
                    ascii_equal_ci(hay.data() + i + 1, needle.data() + 1, needle.size() - 1))
                    return true;
            return false;
        }
        case MatchOp::Exact:
            return hay == needle;
    }
    return false;
}

// Substring, prefix or suffix test on texts that are already lowercase.
bool plain_match(MatchOp op, std::string_view hay, std::string_view needle) {
    switch (op) {
        case MatchOp::Contains:
            return hay.find(needle) != std::string_view::npos;
        case MatchOp::StartsWith:
            return hay.starts_with(needle);
        case MatchOp::EndsWith:
            return hay.ends_with(needle);
        case MatchOp::Exact:
            return hay == needle;
    }
    return false;
}

bool raw_role_matches(const ElementData& e, const std::string& name) {
    if (e.raw.empty()) return false;
    static const auto& kKeys =
        *new std::array<std::string, 4>{"ax_role", "ax_subrole", "atspi_role", "class_name"};
    for (const std::string& key : kKeys) {
        const auto it = e.raw.find(key);
        if (it != e.raw.end() && it->second.is_string() &&
            it->second.get_ref<const std::string&>() == name)
            return true;
    }
    return false;
}

[[gnu::always_inline]] inline bool role_matches(const ElementData& e, const RoleConstraint& role) {
    if (const Role* r = std::get_if<Role>(&role)) return e.role == *r;
    if (const std::string* raw = std::get_if<std::string>(&role)) return raw_role_matches(e, *raw);
    return true;
}

// A simple selector made ready for many elements: attribute ids looked up and case-insensitive
// needles lowercased once.
class PreparedSimple {
  public:
    explicit PreparedSimple(const SimpleSelector& simple) : simple_(&simple) {
        filters_.reserve(simple.filters.size());
        for (const AttrFilter& f : simple.filters) {
            Filter p{.id = attr_of(f.attr), .filter = &f};
            if (f.op != MatchOp::Exact) {
                p.needle = text::to_lowercase(f.value);
                p.needle_ascii = is_ascii(p.needle);
            }
            filters_.push_back(std::move(p));
        }
    }

    // Asked once per element walked: inlined into the walk, with the role test.
    [[gnu::always_inline]] bool operator()(const ElementData& e) const {
        if (!role_matches(e, simple_->role)) return false;
        for (const Filter& f : filters_)
            if (!matches(e, f)) return false;
        return true;
    }

  private:
    struct Filter {
        Attr id = Attr::Raw;
        const AttrFilter* filter = nullptr;
        std::string needle;  // lowercased value, for the case-insensitive operators
        bool needle_ascii = true;
    };

    bool matches(const ElementData& e, const Filter& f) const {
        const Text hay = attr_text(e, f.id, f.filter->attr, scratch_);
        if (!hay) return false;
        if (f.filter->op == MatchOp::Exact) return *hay == f.filter->value;
        if (is_ascii(*hay)) {
            // The lowercase form of ASCII text is ASCII, so it cannot hold a non-ASCII needle.
            return f.needle_ascii && ascii_match(f.filter->op, *hay, f.needle);
        }
        return plain_match(f.filter->op, text::to_lowercase(*hay), f.needle);
    }

    const SimpleSelector* simple_;
    std::vector<Filter> filters_;
    mutable std::string scratch_;
};

// ---- Tree walks ----------------------------------------------------------------------------

// The list type a children function hands back: an owned vector or a lent span.
template <class Fetch>
using KidsOf = typename std::invoke_result_t<Fetch&, const ElementData*>::value_type;

template <class Kids>
inline constexpr bool kOwnedKids = std::is_same_v<Kids, std::vector<ElementData>>;

// Pre-order walk of everything below `parent` down to `max_depth` (its children are at
// `depth`), handing each child that `match` accepts to `sink.add`. `sink.last()` tells that the
// next match fills the sink: the walk then ends without asking for that child's children. When
// `path` is given it holds the current child's path during `sink.add` and is restored on return.
template <class Fetch, class Match, class Sink>
Result<void> walk(Fetch& fetch, const ElementData* parent, std::uint32_t depth,
                  std::uint32_t max_depth, ChildIndexPath* path, const Match& match, Sink& sink) {
    if (depth > max_depth) return {};
    using Kids = KidsOf<Fetch>;
    struct Frame {
        Kids kids;
        std::size_t next;
        std::uint32_t depth;
    };
    auto first = fetch(parent);
    if (!first) return fail(std::move(first).error());
    if (first->empty()) return {};

    const std::size_t base = path ? path->size() : 0;
    std::vector<Frame> stack;
    stack.push_back(Frame{std::move(*first), 0, depth});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.kids.size()) {
            stack.pop_back();
            continue;
        }
        const std::size_t index = frame.next++;
        const std::uint32_t child_depth = frame.depth;
        // A vector's buffer survives the move of its frame, so `child` stays valid below.
        auto& child = frame.kids[index];
        if (path) {
            path->resize(base + stack.size() - 1);
            path->push_back(static_cast<std::uint32_t>(index));
        }
        const bool matched = match(child);
        if (matched && sink.last()) {
            sink.add(std::as_const(child));
            break;
        }
        std::optional<Kids> kids;
        if (child_depth < max_depth) {
            auto fetched = fetch(&child);
            if (!fetched) {
                if (path) path->resize(base);
                return fail(std::move(fetched).error());
            }
            if (!fetched->empty()) kids.emplace(std::move(*fetched));
        }
        // An owned list is read once, so a match can be moved out of it once its children are
        // known.
        if (matched) {
            if constexpr (kOwnedKids<Kids>)
                sink.add(std::move(child));
            else
                sink.add(child);
        }
        if (kids) stack.push_back(Frame{std::move(*kids), 0, child_depth + 1});
    }
    if (path) path->resize(base);
    return {};
}

template <class Item>
struct ItemSink {
    std::vector<Item>& items;
    std::optional<std::size_t> limit;
    bool last() const { return limit && items.size() + 1 >= *limit; }
    void add(const ElementData& e) {
        if constexpr (std::is_pointer_v<Item>)
            items.push_back(&e);
        else
            items.push_back(e);
    }
    void add(ElementData&& e) { items.push_back(std::move(e)); }
};

template <class Item>
using PathItem = std::pair<ChildIndexPath, Item>;

template <class Item>
struct PathSink {
    std::vector<PathItem<Item>>& items;
    const ChildIndexPath& path;
    bool last() const { return false; }
    void add(const ElementData& e) {
        if constexpr (std::is_pointer_v<Item>)
            items.emplace_back(path, &e);
        else
            items.emplace_back(path, e);
    }
    void add(ElementData&& e) { items.emplace_back(path, std::move(e)); }
};

template <class Fetch, class Match, class Item>
Result<void> collect(Fetch& fetch, const ElementData* parent, const Match& match,
                     std::uint32_t depth, std::uint32_t max_depth, std::vector<Item>& items,
                     std::optional<std::size_t> limit) {
    if (depth > max_depth) return {};
    if (limit && items.size() >= *limit) return {};
    ItemSink<Item> sink{items, limit};
    return walk(fetch, parent, depth, max_depth, nullptr, match, sink);
}

template <class Fetch, class Match, class Item>
Result<void> collect_paths(Fetch& fetch, const ElementData* parent, const Match& match,
                           std::uint32_t depth, std::uint32_t max_depth, ChildIndexPath& path,
                           std::vector<PathItem<Item>>& items) {
    PathSink<Item> sink{items, path};
    return walk(fetch, parent, depth, max_depth, &path, match, sink);
}

// Positions of `list` in path order; among equal paths the earlier entry comes first.
template <class Item>
std::vector<std::size_t> path_order(const std::vector<PathItem<Item>>& list) {
    std::vector<std::size_t> order(list.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return list[a].first < list[b].first; });
    return order;
}

template <class Item>
void remove_duplicate_paths(std::vector<PathItem<Item>>& list) {
    if (list.size() < 2) return;
    const auto order = path_order(list);
    std::vector<bool> drop(list.size(), false);
    for (std::size_t k = 1; k < order.size(); ++k)
        if (list[order[k]].first == list[order[k - 1]].first) drop[order[k]] = true;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (drop[i]) continue;
        if (kept != i) list[kept] = std::move(list[i]);
        ++kept;
    }
    list.resize(kept);
}

// A top-level search for `application` reads only the top level (the application list).
std::uint32_t first_bound(const ElementData* root, const SimpleSelector& simple,
                          std::uint32_t max_depth) {
    const Role* role = std::get_if<Role>(&simple.role);
    if (root == nullptr && role != nullptr && *role == Role::Application) return 0;
    return max_depth;
}

std::vector<ElementData> materialize(std::vector<ElementData>&& items) { return std::move(items); }
std::vector<ElementData> materialize(std::vector<const ElementData*>&& items) {
    std::vector<ElementData> out;
    out.reserve(items.size());
    memory::advise_huge_pages(out.data(), out.capacity() * sizeof(ElementData));
    for (const ElementData* e : items) out.push_back(*e);
    return out;
}

// One clause over a lending lookup; the items point into the lookup's lists.
template <class Lookup>
Result<std::vector<PathItem<const ElementData*>>> search_clause_paths(
    Lookup& lookup, const ElementData* root, const Selector& clause,
    std::optional<std::uint32_t> max_depth) {
    using Item = const ElementData*;
    std::vector<PathItem<Item>> current;
    if (clause.segments.empty()) return current;
    const std::uint32_t m = max_depth.value_or(kDefaultMaxDepth);
    const SelectorSegment& first = clause.segments.front();

    ChildIndexPath path;
    VEMOR_TRY_VOID(collect_paths(lookup, root, PreparedSimple(first.simple), 0,
                                 first_bound(root, first.simple, m), path, current));
    keep_nth(current, first.simple.nth);

    for (std::size_t s = 1; s < clause.segments.size(); ++s) {
        const SelectorSegment& segment = clause.segments[s];
        const PreparedSimple match(segment.simple);
        std::vector<PathItem<Item>> next;
        for (const auto& [p, e] : current) {
            if (segment.combinator == Combinator::Child) {
                auto kids = lookup(e);
                if (!kids) return fail(std::move(kids).error());
                for (std::size_t i = 0; i < kids->size(); ++i) {
                    if (!match((*kids)[i])) continue;
                    ChildIndexPath q = p;
                    q.push_back(static_cast<std::uint32_t>(i));
                    next.emplace_back(std::move(q), &(*kids)[i]);
                }
            } else {
                // Start from E's own path so that every match carries its path from the root.
                ChildIndexPath prefix = p;
                VEMOR_TRY_VOID(collect_paths(lookup, e, match, 0, m, prefix, next));
            }
        }
        remove_duplicate_paths(next);
        keep_nth(next, segment.simple.nth);
        current = std::move(next);
    }
    return current;
}

// ---- The search ----------------------------------------------------------------------------

std::size_t kid_count(const std::vector<ElementData>& kids) { return kids.size(); }
std::size_t kid_count(std::span<const ElementData> kids) { return kids.size(); }
std::size_t kid_count(std::span<const LentChild> kids) { return kids.size(); }
const ElementData* kid_at(const std::vector<ElementData>& kids, std::size_t i) { return &kids[i]; }
const ElementData* kid_at(std::span<const ElementData> kids, std::size_t i) { return &kids[i]; }
const ElementData* kid_at(std::span<const LentChild> kids, std::size_t i) {
    return kids[i].element;
}

// Where the search gets its lists: a children function asked about an element...
template <class Fetch>
struct FetchSource {
    using Kids = KidsOf<Fetch>;
    Fetch& fetch;
    auto top(const ElementData* root) { return fetch(root); }
    auto below(const Kids& kids, std::size_t i) { return fetch(kid_at(kids, i)); }
};

// ...or a lent tree asked by its own key.
struct LentSource {
    using Kids = std::span<const LentChild>;
    const LentTree& tree;
    Result<Kids> top(const ElementData* root) { return tree.children_of(root); }
    Result<Kids> below(const Kids& kids, std::size_t i) { return tree.children(kids[i].key); }
};

// What the walk does at one element: keep it, ask for its children, end the walk there.
struct WalkStep {
    bool selected = false;
    bool descend = false;
    bool last = false;
};

// One pre-order walk for the whole group: every parent's children are asked for at most once,
// only where something below can still be selected, and the selection comes out in document
// order. Owned lists give up their matches by move; lent ones are copied at the end.
// `decide(child, depth, kept)` says what to do at each element, `kept` being how many the walk
// has kept so far; the element that ends the walk never has its children asked for.
template <class Source, class Decide>
Result<std::vector<ElementData>> walk_source(Source& source, const ElementData* root,
                                             Decide&& decide) {
    using Kids = typename Source::Kids;
    constexpr bool kOwned = kOwnedKids<Kids>;
    using Item = std::conditional_t<kOwned, ElementData, const ElementData*>;
    std::vector<Item> out;

    struct Frame {
        Kids kids;
        std::size_t next;
        std::uint32_t depth;
    };
    auto first = source.top(root);
    if (!first) return fail(std::move(first).error());
    std::vector<Frame> stack;
    stack.push_back(Frame{std::move(*first), 0, 0});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == kid_count(frame.kids)) {
            stack.pop_back();
            continue;
        }
        const std::size_t index = frame.next++;
        const std::uint32_t depth = frame.depth;
        const ElementData* child = kid_at(frame.kids, index);
        const WalkStep step = decide(*child, depth, out.size());
        std::optional<Kids> kids;
        if (step.descend && !step.last) {
            auto fetched = source.below(frame.kids, index);
            if (!fetched) return fail(std::move(fetched).error());
            if (kid_count(*fetched) != 0) kids.emplace(std::move(*fetched));
        }
        if (step.selected) {
            // A vector's buffer survives the moves of its frame, so `child` is still valid.
            if constexpr (kOwned)
                out.push_back(std::move(frame.kids[index]));
            else
                out.push_back(child);
        }
        if (step.last) break;
        if (kids) stack.push_back(Frame{std::move(*kids), 0, depth + 1});
    }
    return materialize(std::move(out));
}

// A group of one single-segment clause (most queries): the same walk without the bookkeeping
// of later segments and several clauses.
template <class Source>
Result<std::vector<ElementData>> search_one_step(Source& source, const ElementData* root,
                                                 const SimpleSelector& simple,
                                                 std::optional<std::size_t> limit,
                                                 std::uint32_t bound) {
    const std::optional<std::uint64_t> nth = simple.nth;
    if (nth && *nth == 0) return std::vector<ElementData>{};
    const PreparedSimple test(simple);
    std::uint64_t count = 0;
    return walk_source(source, root,
                       [&](const ElementData& child, std::uint32_t depth, std::size_t kept) {
                           WalkStep step;
                           step.descend = depth < bound;
                           if (test(child)) {
                               ++count;
                               step.selected = !nth || count == *nth;
                               step.last = nth ? step.selected : (limit && kept + 1 >= *limit);
                           }
                           return step;
                       });
}

template <class Source>
Result<std::vector<ElementData>> search_source(Source source, const ElementData* root,
                                               const SelectorGroup& group,
                                               std::optional<std::size_t> limit,
                                               std::optional<std::uint32_t> max_depth) {
    if (group.selectors.empty() || (limit && *limit == 0)) return std::vector<ElementData>{};
    if (group.selectors.size() == 1 && group.selectors[0].segments.size() == 1) {
        const SimpleSelector& simple = group.selectors[0].segments[0].simple;
        return search_one_step(source, root, simple, limit,
                               first_bound(root, simple, max_depth.value_or(kDefaultMaxDepth)));
    }

    TreeMatcher matcher(group, root == nullptr, max_depth.value_or(kDefaultMaxDepth));
    std::vector<PreparedSimple> tests;
    tests.reserve(matcher.tests().size());
    for (const SimpleSelector* s : matcher.tests()) tests.emplace_back(*s);
    if (matcher.done()) return std::vector<ElementData>{};

    return walk_source(
        source, root, [&](const ElementData& child, std::uint32_t depth, std::size_t kept) {
            const auto v = matcher.visit(depth, [&](std::size_t t) { return tests[t](child); });
            // The match that fills the limit, or settles the last clause, ends the walk: its
            // children are never asked for.
            const bool last = matcher.done() || (v.selected && limit && kept + 1 >= *limit);
            return WalkStep{.selected = v.selected, .descend = v.descend, .last = last};
        });
}

template <class Fetch>
Result<std::vector<ElementData>> search_group(Fetch& fetch, const ElementData* root,
                                              const SelectorGroup& group,
                                              std::optional<std::size_t> limit,
                                              std::optional<std::uint32_t> max_depth) {
    return search_source(FetchSource<Fetch>{fetch}, root, group, limit, max_depth);
}

}  // namespace

// ---- The matcher of a whole group ------------------------------------------------------------

TreeMatcher::TreeMatcher(const SelectorGroup& group, bool top_level, std::uint32_t max_depth)
    : max_depth_(max_depth) {
    auto test_of = [&](const SimpleSelector& simple) {
        for (std::size_t t = 0; t < tests_.size(); ++t)
            if (*tests_[t] == simple) return t;
        tests_.push_back(&simple);
        return tests_.size() - 1;
    };
    for (std::size_t c = 0; c < group.selectors.size(); ++c) {
        const auto& segments = group.selectors[c].segments;
        if (segments.empty()) continue;
        const std::size_t last = steps_.size() + segments.size() - 1;
        for (std::size_t s = 0; s < segments.size(); ++s) {
            const SimpleSelector& simple = segments[s].simple;
            Step step;
            step.test = test_of(simple);
            step.clause = c;
            step.last = last;
            step.first = s == 0;
            step.child = s > 0 && segments[s].combinator == Combinator::Child;
            step.nth = simple.nth;
            if (s == 0) step.bound = top_level ? first_bound(nullptr, simple, max_depth) : max_depth;
            steps_.push_back(step);
        }
        if (!segments.back().simple.nth || *segments.back().simple.nth != 0) ++open_clauses_;
    }
    counts_.assign(steps_.size(), 0);
    memo_.assign(tests_.size(), Memo{});
}


// ---- Public interface ----------------------------------------------------------------------

bool match_op(MatchOp op, std::string_view value, std::optional<std::string_view> text) {
    if (!text) return false;
    if (op == MatchOp::Exact) return *text == value;
    if (is_ascii(*text) && is_ascii(value)) return ascii_match(op, *text, value);
    return plain_match(op, text::to_lowercase(*text), text::to_lowercase(value));
}

std::optional<std::string> resolve_attr(const ElementData& element, std::string_view attr) {
    std::string scratch;
    const Text t = attr_text(element, attr_of(attr), attr, scratch);
    if (!t) return std::nullopt;
    return std::string(*t);
}

bool matches_simple(const ElementData& element, const SimpleSelector& simple) {
    if (!role_matches(element, simple.role)) return false;
    std::string scratch;
    for (const AttrFilter& f : simple.filters)
        if (!match_op(f.op, f.value, attr_text(element, attr_of(f.attr), f.attr, scratch)))
            return false;
    return true;
}

Result<void> collect_matching(const ChildrenFn& children, const ElementData* parent,
                              const SimpleSelector& simple, std::uint32_t depth,
                              std::uint32_t max_depth, std::vector<ElementData>& results,
                              std::optional<std::size_t> limit) {
    return collect(children, parent, PreparedSimple(simple), depth, max_depth, results, limit);
}

Result<void> collect_matching_with_paths(const ChildrenLookup& children, const ElementData* parent,
                                         const SimpleSelector& simple, std::uint32_t depth,
                                         std::uint32_t max_depth, ChildIndexPath& path,
                                         std::vector<PathMatch>& results) {
    return collect_paths(children, parent, PreparedSimple(simple), depth, max_depth, path, results);
}

void apply_nth(std::vector<ElementData>& list, std::optional<std::uint64_t> nth) {
    keep_nth(list, nth);
}

void apply_nth_paths(std::vector<PathMatch>& list, std::optional<std::uint64_t> nth) {
    keep_nth(list, nth);
}

Result<std::vector<ElementData>> find_elements_in_tree(const ChildrenFn& children,
                                                       const ElementData* root,
                                                       const Selector& clause,
                                                       std::optional<std::size_t> limit,
                                                       std::optional<std::uint32_t> max_depth) {
    return search_group(children, root, SelectorGroup{{clause}}, limit, max_depth);
}

Result<std::vector<PathMatch>> find_elements_in_tree_with_paths(
    const ChildrenLookup& children, const ElementData* root, const Selector& clause,
    std::optional<std::uint32_t> max_depth) {
    auto found = VEMOR_TRY(search_clause_paths(children, root, clause, max_depth));
    std::vector<PathMatch> out;
    out.reserve(found.size());
    for (auto& [path, e] : found) out.emplace_back(std::move(path), *e);
    return out;
}

Result<std::vector<ElementData>> find_elements_in_tree_group(
    const ChildrenFn& children, const ElementData* root, const SelectorGroup& group,
    std::optional<std::size_t> limit, std::optional<std::uint32_t> max_depth) {
    return search_group(children, root, group, limit, max_depth);
}

Result<std::vector<ElementData>> find_elements_in_tree_group_view(
    const ChildrenLookup& children, const ElementData* root, const SelectorGroup& group,
    std::optional<std::size_t> limit, std::optional<std::uint32_t> max_depth) {
    return search_group(children, root, group, limit, max_depth);
}

Result<std::vector<ElementData>> find_elements_in_lent_tree(const LentTree& tree,
                                                            const ElementData* root,
                                                            const SelectorGroup& group,
                                                            std::optional<std::size_t> limit,
                                                            std::optional<std::uint32_t> max_depth) {
    return search_source(LentSource{tree}, root, group, limit, max_depth);
}

}  // namespace vemor::selector
