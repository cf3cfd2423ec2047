// The selector search on macOS: instead of snapshotting whole subtrees, walk the live
// accessibility tree on the work-stealing pool, test each child on a few cheap attributes, and
// snapshot only what matched. Results come back in document order, as the core tree search
// returns them.
#include <algorithm>
#include <unordered_map>

#include "pool.hpp"
#include "vemor/macos/provider.hpp"
#include "vemor/macos/role_map.hpp"
#include "vemor/macos/snapshot.hpp"
#include "vemor/text.hpp"

namespace vemor {
namespace {

using WalkMatch = MacOSProvider::WalkMatch;

using macos::parallel_each;

bool is_fast_path_attr(std::string_view attr) {
    return attr == "role" || attr == "name" || attr == "value" || attr == "description";
}

bool needs_full_snapshot(const SimpleSelector& simple) {
    return std::any_of(simple.filters.begin(), simple.filters.end(),
                       [](const AttrFilter& f) { return !is_fast_path_attr(f.attr); });
}

// The few attributes the fast path looks at, read at most once per child and only when a
// filter asks for them.
class ChildReads {
public:
    ChildReads(const AXElement& element, Role role) : element_(element), role_(role) {}

    const std::optional<std::string>& title() { return read(title_, "AXTitle"); }

    // Names, descriptions and values as the snapshot derives them, bidi marks removed (the
    // snapshot stores them stripped, so `[name="OK"]` must see the stripped text here too).
    std::optional<std::string> text_of(std::string_view attr) {
        if (attr == "name") return text::strip_bidi_opt(raw_name());
        if (attr == "value") {
            if (role_ == Role::CheckBox || role_ == Role::RadioButton) return std::nullopt;
            return text::strip_bidi_opt(value());
        }
        if (attr == "description") {
            if (const auto& help = read(help_, "AXHelp")) return text::strip_bidi_opt(help);
            const auto& desc = read(description_, "AXDescription");
            if (desc && desc != raw_name()) return text::strip_bidi_opt(desc);
            return std::nullopt;
        }
        return std::string(role::to_snake_case(role_));
    }

private:
    const std::optional<std::string>& read(std::optional<std::optional<std::string>>& slot,
                                           std::string_view attribute) {
        if (!slot) slot = ax::ax_string(element_, attribute);
        return *slot;
    }
    const std::optional<std::string>& value() {
        if (!value_) value_ = ax::ax_value_string(element_);
        return *value_;
    }
    std::optional<std::string> raw_name() {
        if (const auto& t = title()) return t;
        if (role_ == Role::StaticText) return value();
        return read(description_, "AXDescription");
    }

    const AXElement& element_;
    Role role_;
    std::optional<std::optional<std::string>> title_, description_, help_, value_;
};

bool role_holds(const RoleConstraint& constraint, Role mapped,
                const std::optional<std::string>& role_text,
                const std::optional<std::string>& subrole) {
    if (std::holds_alternative<AnyRole>(constraint)) return true;
    if (const Role* r = std::get_if<Role>(&constraint)) return *r == mapped;
    // A raw role word names the platform role or subrole, as the full matcher reads them from
    // a snapshot's raw attributes.
    const auto& word = std::get<std::string>(constraint);
    return role_text == word || subrole == word;
}

bool fast_match(const SimpleSelector& simple, ChildReads& reads, Role mapped,
                const std::optional<std::string>& role_text,
                const std::optional<std::string>& subrole) {
    if (!role_holds(simple.role, mapped, role_text, subrole)) return false;
    for (const auto& f : simple.filters) {
        auto text = reads.text_of(f.attr);
        if (!selector::match_op(f.op, f.value,
                                text ? std::optional<std::string_view>(*text) : std::nullopt))
            return false;
    }
    return true;
}

// The matches of one child and of its subtree, in pre-order.
std::vector<WalkMatch> examine_child(const AXElement& child, Role parent_role,
                                     const std::optional<std::string>& parent_name,
                                     std::span<const SimpleSelector* const> firsts,
                                     std::optional<std::uint32_t> pid, std::uint32_t depth,
                                     std::uint32_t max_depth, std::optional<std::size_t> limit) {
    std::vector<WalkMatch> out;
    const auto role_text = ax::ax_string(child, "AXRole");
    const auto subrole = ax::ax_string(child, "AXSubrole");
    const std::optional<std::string_view> subrole_view =
        subrole ? std::optional<std::string_view>(*subrole) : std::nullopt;
    if (MacOSProvider::should_filter_child_with_role(parent_role, parent_name,
                                                     role_text.value_or(""), subrole_view, child))
        return out;
    const Role mapped = ax::map_ax_role(role_text.value_or(""), subrole_view);

    ChildReads reads(child, mapped);
    std::optional<Result<ElementData>> snapshot;  // built once, only when a filter needs it
    for (std::size_t c = 0; c < firsts.size(); ++c) {
        const SimpleSelector* simple = firsts[c];
        if (!simple) continue;
        bool matched;
        if (needs_full_snapshot(*simple)) {
            if (!snapshot) snapshot = ax::build_snapshot_data(child, pid, 0);
            matched = *snapshot && selector::matches_simple(**snapshot, *simple);
        } else {
            matched = fast_match(*simple, reads, mapped, role_text, subrole);
        }
        if (matched) out.push_back({c, child});
    }

    auto below = MacOSProvider::collect_matching_ax_group(child, mapped, reads.title(), firsts, pid,
                                                          depth + 1, max_depth, limit);
    std::move(below.begin(), below.end(), std::back_inserter(out));
    return out;
}

// A match turned into a snapshot with a handle; `index` is its position in the walk.
struct Found {
    std::size_t index = 0;
    std::size_t clause = 0;
    AXElement element;
    ElementData data;
};

struct Snapshots {
    std::vector<Found> found;
    bool vanished = false;
};

// Snapshots the walk's matches in order. An element that vanished since the walk is skipped
// (and reported, so that a limited walk can be redone); any other failure ends the search.
Result<Snapshots> snapshot_matches(const MacOSProvider& provider, std::vector<WalkMatch> walk,
                                   std::optional<std::uint32_t> pid) {
    Snapshots out;
    out.found.reserve(walk.size());
    for (auto& m : walk) {
        auto data = provider.build_element_data(m.element, pid);
        if (!data) {
            const auto* p = data.error().as<Error::Platform>();
            if (p && p->code == ax::kInvalidElement) {
                out.vanished = true;
                continue;
            }
            return fail(std::move(data).error());
        }
        out.found.push_back({0, m.clause, std::move(m.element), std::move(*data)});
    }
    return out;
}

// The walk limit: pushed into the walk only where it cannot change the result, that is for a
// group of one clause, whose first segment needs at most max(nth, limit) matches.
std::optional<std::size_t> walk_limit_for(const SelectorGroup& group,
                                          std::optional<std::size_t> limit) {
    if (group.selectors.size() != 1) return std::nullopt;
    const auto& segments = group.selectors[0].segments;
    const auto nth = segments[0].simple.nth;
    std::optional<std::size_t> n;
    if (nth) n = static_cast<std::size_t>(std::min<std::uint64_t>(*nth, SIZE_MAX));
    if (segments.size() > 1) return n;  // every narrowed match may survive: only nth bounds it
    if (n && limit) return std::max(*n, *limit);
    return n ? n : limit;
}

// Keeps, in order, the entries whose platform element was not seen before (entries without an
// element are always kept). The platform hands out a fresh reference on every read and every
// snapshot takes a new handle, so identity is platform equality (bucketed by the platform hash),
// neither the reference's address nor the handle.
template <class T, class ElementOf>
void dedup_by_platform_identity(std::vector<T>& list, ElementOf element_of) {
    std::unordered_map<std::size_t, std::vector<std::size_t>> seen;  // hash -> kept positions
    std::vector<T> kept;
    std::vector<AXElement> kept_elements;
    kept.reserve(list.size());
    kept_elements.reserve(list.size());
    for (auto& item : list) {
        AXElement e = element_of(item);
        if (!e.is_null()) {
            auto& bucket = seen[e.platform_hash()];
            const bool dup = std::any_of(bucket.begin(), bucket.end(), [&](std::size_t k) {
                return kept_elements[k].same_element(e);
            });
            if (dup) continue;
            bucket.push_back(kept.size());
        }
        kept.push_back(std::move(item));
        kept_elements.push_back(std::move(e));
    }
    list = std::move(kept);
}

// The steps after the walk: per-clause :nth, narrowing of multi-segment clauses, document
// order, duplicate removal, the limit.
Result<ElementList> finish(const MacOSProvider& provider, std::vector<Found> found,
                           const SelectorGroup& group, std::optional<std::size_t> limit,
                           std::uint32_t max_depth) {
    std::vector<std::vector<Found>> per_clause(group.selectors.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        found[i].index = i;
        per_clause[found[i].clause].push_back(std::move(found[i]));
    }

    std::vector<Found> combined;
    for (std::size_t c = 0; c < group.selectors.size(); ++c) {
        const auto& segments = group.selectors[c].segments;
        auto& list = per_clause[c];
        // The first segment's :nth picks within its own clause, as in the core tree search.
        selector::keep_nth(list, segments[0].simple.nth);
        if (segments.size() == 1) {
            std::move(list.begin(), list.end(), std::back_inserter(combined));
            continue;
        }
        const std::span<const SelectorSegment> rest(segments.begin() + 1, segments.end());
        for (auto& entry : list) {
            auto narrowed = VEMOR_TRY(provider.narrow_multi_segment(ElementList{entry.data}, rest,
                                                                    max_depth, std::nullopt));
            for (auto& e : narrowed) {
                auto identity = provider.get_cached(e.handle);
                combined.push_back(
                    {entry.index, 0, identity ? std::move(*identity) : AXElement(), std::move(e)});
            }
        }
    }

    std::stable_sort(combined.begin(), combined.end(),
                     [](const Found& a, const Found& b) { return a.index < b.index; });
    dedup_by_platform_identity(combined, [](const Found& f) { return f.element; });
    if (limit && combined.size() > *limit) combined.resize(*limit);

    ElementList out;
    out.reserve(combined.size());
    for (auto& f : combined) out.push_back(std::move(f.data));
    return out;
}

bool group_is_empty(const SelectorGroup& group) {
    return group.selectors.empty() ||
           std::any_of(group.selectors.begin(), group.selectors.end(),
                       [](const Selector& s) { return s.segments.empty(); });
}

}  // namespace

std::vector<WalkMatch> MacOSProvider::collect_matching_ax_group(
    const AXElement& parent, Role parent_role, const std::optional<std::string>& parent_name,
    std::span<const SimpleSelector* const> firsts, std::optional<std::uint32_t> pid,
    std::uint32_t depth, std::uint32_t max_depth, std::optional<std::size_t> limit) {
    std::vector<WalkMatch> out;
    if (depth > max_depth) return out;
    const std::vector<AXElement> children = ax::ax_element_array(parent, "AXChildren");

    // Gathered by position, so document order holds whatever the scheduling.
    std::vector<std::vector<WalkMatch>> per_child(children.size());
    parallel_each(children.size(), [&](std::size_t i) {
        per_child[i] = examine_child(children[i], parent_role, parent_name, firsts, pid, depth,
                                     max_depth, limit);
    });

    for (auto& matches : per_child) {
        for (auto& m : matches) {
            if (limit && out.size() >= *limit) return out;
            out.push_back(std::move(m));
        }
    }
    return out;
}

Result<ElementList> MacOSProvider::find_elements(const ElementData* root,
                                                 std::span<const SelectorSegment> segments,
                                                 std::optional<std::size_t> limit,
                                                 std::optional<std::uint32_t> max_depth) const {
    SelectorGroup group{{Selector{{segments.begin(), segments.end()}}}};
    return find_elements_group(root, group, limit, max_depth);
}

Result<ElementList> MacOSProvider::narrow_multi_segment(ElementList candidates,
                                                        std::span<const SelectorSegment> segments,
                                                        std::uint32_t max_depth,
                                                        std::optional<std::size_t> limit) const {
    ElementList current = std::move(candidates);
    for (const auto& segment : segments) {
        // One step of the default narrowing without its :nth, which applies once the step's
        // matches are told apart by platform identity.
        SelectorSegment step = segment;
        step.simple.nth.reset();
        current = VEMOR_TRY(
            Provider::narrow_multi_segment(std::move(current), std::span(&step, 1), max_depth,
                                           std::nullopt));
        dedup_by_platform_identity(current, [this](const ElementData& e) {
            auto live = get_cached(e.handle);
            return live ? std::move(*live) : AXElement();
        });
        selector::keep_nth(current, segment.simple.nth);
    }
    if (limit && current.size() > *limit) current.resize(*limit);
    return current;
}

Result<ElementList> MacOSProvider::find_elements_group(
    const ElementData* root, const SelectorGroup& group, std::optional<std::size_t> limit,
    std::optional<std::uint32_t> max_depth) const {
    if (group_is_empty(group)) return ElementList{};
    const std::uint32_t depth = max_depth.value_or(selector::kDefaultMaxDepth);
    if (!root) return find_on_desktop(group, limit, depth);
    return find_under_root(*root, group, limit, depth);
}

Result<ElementList> MacOSProvider::find_under_root(const ElementData& root,
                                                   const SelectorGroup& group,
                                                   std::optional<std::size_t> limit,
                                                   std::uint32_t max_depth) const {
    const AXElement element = VEMOR_TRY(get_cached(root.handle));
    std::vector<const SimpleSelector*> firsts;
    for (const auto& clause : group.selectors) firsts.push_back(&clause.segments[0].simple);

    std::optional<std::size_t> walk_limit = walk_limit_for(group, limit);
    for (;;) {
        auto walk = collect_matching_ax_group(element, root.role, root.name, firsts, root.pid, 0,
                                              max_depth, walk_limit);
        auto snaps = VEMOR_TRY(snapshot_matches(*this, std::move(walk), root.pid));
        // A limited walk that lost a match may have stopped short: walk again in full.
        if (snaps.vanished && walk_limit) {
            walk_limit.reset();
            continue;
        }
        return finish(*this, std::move(snaps.found), group, limit, max_depth);
    }
}

// The whole desktop: the applications are the top level (depth 0) and are walked in parallel,
// each application's requests overlapping with the others'. A clause whose first segment is
// `application` looks at the top level only, as in the core tree search.
Result<ElementList> MacOSProvider::find_on_desktop(const SelectorGroup& group,
                                                   std::optional<std::size_t> limit,
                                                   std::uint32_t max_depth) const {
    const ElementList apps = VEMOR_TRY(list_apps());
    std::vector<const SimpleSelector*> top, below;
    for (const auto& clause : group.selectors) {
        const SimpleSelector& first = clause.segments[0].simple;
        top.push_back(&first);
        const Role* r = std::get_if<Role>(&first.role);
        below.push_back(r && *r == Role::Application ? nullptr : &first);
    }
    const bool walk_below = std::any_of(below.begin(), below.end(),
                                        [](const SimpleSelector* s) { return s != nullptr; });

    std::optional<std::size_t> walk_limit = walk_limit_for(group, limit);
    for (;;) {
        std::vector<std::optional<Result<Snapshots>>> per_app(apps.size());
        parallel_each(apps.size(), [&](std::size_t a) {
            const ElementData& app = apps[a];
            Snapshots snaps;
            auto live = get_cached(app.handle);
            if (!live) {
                per_app[a].emplace(fail(std::move(live).error()));
                return;
            }
            for (std::size_t c = 0; c < top.size(); ++c)
                if (selector::matches_simple(app, *top[c]))
                    snaps.found.push_back({0, c, *live, app});
            if (walk_below) {
                auto walk = collect_matching_ax_group(*live, app.role, app.name, below, app.pid, 1,
                                                      max_depth, walk_limit);
                auto more = snapshot_matches(*this, std::move(walk), app.pid);
                if (!more) {
                    per_app[a].emplace(fail(std::move(more).error()));
                    return;
                }
                snaps.vanished = more->vanished;
                std::move(more->found.begin(), more->found.end(), std::back_inserter(snaps.found));
            }
            per_app[a].emplace(std::move(snaps));
        });

        std::vector<Found> found;
        bool vanished = false;
        for (auto& slot : per_app) {
            Result<Snapshots>& r = *slot;
            if (!r) return fail(std::move(r).error());  // the first application's error wins
            vanished = vanished || r->vanished;
            std::move(r->found.begin(), r->found.end(), std::back_inserter(found));
        }
        if (vanished && walk_limit) {
            walk_limit.reset();
            continue;
        }
        return finish(*this, std::move(found), group, limit, max_depth);
    }
}

}  // namespace vemor
