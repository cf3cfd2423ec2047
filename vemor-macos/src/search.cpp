// The selector search on macOS: instead of snapshotting whole subtrees, walk the live
// accessibility tree level by level on the work-stealing pool, test each child on a few cheap
// attributes, and snapshot only what is selected. Which elements a selector selects, and in what
// order, is decided by the core's `selector::TreeMatcher` over the walked tree in document order,
// so every provider gives a selector the same meaning. Neither the walk nor the decision recurses:
// a deep tree costs memory, never stack.
#include <algorithm>
#include <limits>
#include <unordered_map>

#include <fmt/format.h>

#include "pool.hpp"
#include "vemor/macos/provider.hpp"
#include "vemor/macos/role_map.hpp"
#include "vemor/macos/snapshot.hpp"
#include "vemor/text.hpp"

namespace vemor {
namespace {

using WalkMatch = MacOSProvider::WalkMatch;

constexpr std::string_view kSearchOperation = "selector search";

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

// One element the walk examined: where it sits, and which tests it passed.
struct Node {
    AXElement element;  // kept only when it passed a test
    std::optional<std::uint32_t> pid;
    std::optional<ElementData> data;  // an application of the desktop, snapshotted already
    std::uint32_t depth = 0;
    std::size_t first_child = 0;
    std::size_t child_count = 0;
    bool passed_any = false;
};

// One child as a pool worker found it.
struct Examined {
    AXElement element;
    Role role = Role::Unknown;
    std::optional<std::string> title;
    std::vector<std::uint8_t> passes;
};

// Tests one child: the child filter first (a hidden child yields nothing and is not walked),
// then every test, cheap attributes first; a full snapshot only when a filter needs one.
std::optional<Examined> examine(const AXElement& child, Role parent_role,
                                const std::optional<std::string>& parent_name,
                                std::span<const SimpleSelector* const> tests,
                                std::optional<std::uint32_t> pid) {
    const auto role_text = ax::ax_string(child, "AXRole");
    const auto subrole = ax::ax_string(child, "AXSubrole");
    const std::optional<std::string_view> subrole_view =
        subrole ? std::optional<std::string_view>(*subrole) : std::nullopt;
    if (MacOSProvider::should_filter_child_with_role(parent_role, parent_name,
                                                     role_text.value_or(""), subrole_view, child))
        return std::nullopt;
    Examined out;
    out.element = child;
    out.role = ax::map_ax_role(role_text.value_or(""), subrole_view);
    out.passes.assign(tests.size(), 0);
    ChildReads reads(child, out.role);
    std::optional<Result<ElementData>> snapshot;  // built once, only when a filter needs it
    for (std::size_t t = 0; t < tests.size(); ++t) {
        const SimpleSelector& simple = *tests[t];
        bool passed;
        if (needs_full_snapshot(simple)) {
            if (!snapshot) snapshot = ax::build_snapshot_data(child, pid, 0);
            passed = *snapshot && selector::matches_simple(**snapshot, simple);
        } else {
            passed = fast_match(simple, reads, out.role, role_text, subrole);
        }
        out.passes[t] = passed ? 1 : 0;
    }
    // A parent's name matters to the child filter only under a window (its title label is
    // compared with it), so only a window's title is read for its children.
    if (out.role == Role::Window) out.title = reads.title();
    return out;
}

// The examined part of one tree, read level by level and kept in arrays that give every node its
// children's range, from which document order follows. Each level is one parallel map on the
// pool: every child of the level is examined, and the children of those kept are read, each in
// its own task, so that requests to one application overlap while it answers them. The results
// are put in place in child order once the level is done.
class Walk {
public:
    // `reach`: the deepest depth any test can matter at; nothing deeper is read.
    Walk(std::span<const SimpleSelector* const> tests, std::uint64_t reach)
        : tests_(tests), reach_(reach) {}

    // A top-level node whose tests are already decided (an application of the desktop), at
    // depth 0; its children are read by `run`.
    void add_top(AXElement element, ElementData data) {
        Node node;
        node.pid = data.pid;
        for (const SimpleSelector* test : tests_) {
            const bool passed = selector::matches_simple(data, *test);
            passes_.push_back(passed ? 1 : 0);
            node.passed_any = node.passed_any || passed;
        }
        if (reach_ >= 1) {
            start_depth_ = 1;
            tops_.push_back(Parent{nodes_.size(), data.role, data.name, data.pid});
            top_elements_.push_back(element);
        }
        if (node.passed_any) node.element = std::move(element);
        node.data = std::move(data);
        nodes_.push_back(std::move(node));
        ++top_count_;
    }

    // The children of a search root, at depth `depth`, read by `run`.
    void add_root(AXElement root, Role role, std::optional<std::string> name,
                  std::optional<std::uint32_t> pid, std::uint32_t depth) {
        if (depth > reach_) return;
        start_depth_ = depth;
        tops_.push_back(Parent{kNoNode, role, std::move(name), pid});
        top_elements_.push_back(std::move(root));
    }

    // Reads every level below the top one, level by level.
    void run() {
        Level level;
        level.depth = start_depth_;
        level.parents = std::move(tops_);
        level.children.resize(level.parents.size());
        macos::parallel_each(level.parents.size(), [&](std::size_t i) {
            level.children[i] = ax::ax_element_array(top_elements_[i], "AXChildren");
        });
        top_elements_.clear();
        while (!level.parents.empty()) level = run_level(std::move(level));
    }

    // Pre-order over the walked tree: visit(index) answers whether to go below the node, and
    // returns false from `keep_going` to stop.
    template <class Visit>
    void preorder(Visit&& visit) const {
        struct Range {
            std::size_t next;
            std::size_t end;
        };
        std::vector<Range> stack{{0, top_count_}};
        while (!stack.empty()) {
            Range& range = stack.back();
            if (range.next == range.end) {
                stack.pop_back();
                continue;
            }
            const std::size_t index = range.next++;
            const auto [descend, keep_going] = visit(index);
            if (!keep_going) return;
            const Node& node = nodes_[index];
            if (descend && node.child_count != 0)
                stack.push_back({node.first_child, node.first_child + node.child_count});
        }
    }

    bool passed(std::size_t node, std::size_t test) const {
        return passes_[node * tests_.size() + test] != 0;
    }
    const Node& node(std::size_t index) const { return nodes_[index]; }

private:
    static constexpr std::size_t kNoNode = std::numeric_limits<std::size_t>::max();

    // What a level's children need of their parent: the child filter's role and name, and the
    // pid the parent's subtree belongs to.
    struct Parent {
        std::size_t node;  // kNoNode for a search root, which is not part of the walk
        Role role;
        std::optional<std::string> name;
        std::optional<std::uint32_t> pid;
    };

    // One level: its parents, in document order, and each parent's children as read.
    struct Level {
        std::uint32_t depth = 0;
        std::vector<Parent> parents;
        std::vector<std::vector<AXElement>> children;
    };

    // One child of a level as its task left it: examined, and its own children read.
    struct Visited {
        std::optional<Examined> examined;
        std::vector<AXElement> children;
    };

    Level run_level(Level level) {
        struct Task {
            std::size_t parent;
            std::size_t child;
        };
        std::vector<Task> tasks;
        for (std::size_t p = 0; p < level.parents.size(); ++p)
            for (std::size_t c = 0; c < level.children[p].size(); ++c) tasks.push_back({p, c});
        const bool read_below = std::uint64_t{level.depth} + 1 <= reach_;

        std::vector<Visited> visited(tasks.size());
        macos::parallel_each(tasks.size(), [&](std::size_t t) {
            const Parent& parent = level.parents[tasks[t].parent];
            const AXElement& child = level.children[tasks[t].parent][tasks[t].child];
            Visited& v = visited[t];
            v.examined = examine(child, parent.role, parent.name, tests_, parent.pid);
            if (v.examined && read_below) v.children = ax::ax_element_array(child, "AXChildren");
        });

        Level next;
        next.depth = level.depth + 1;
        std::size_t t = 0;
        for (std::size_t p = 0; p < level.parents.size(); ++p) {
            const std::size_t first = nodes_.size();
            for (std::size_t c = 0; c < level.children[p].size(); ++c, ++t) {
                Visited& v = visited[t];
                if (!v.examined) continue;
                if (!v.children.empty()) {
                    next.parents.push_back(Parent{nodes_.size(), v.examined->role,
                                                  std::move(v.examined->title),
                                                  level.parents[p].pid});
                    next.children.push_back(std::move(v.children));
                }
                append(std::move(*v.examined), level.depth, level.parents[p].pid);
            }
            if (level.parents[p].node == kNoNode) {
                top_count_ = nodes_.size();
            } else {
                nodes_[level.parents[p].node].first_child = first;
                nodes_[level.parents[p].node].child_count = nodes_.size() - first;
            }
        }
        return next;
    }

    void append(Examined&& e, std::uint32_t depth, std::optional<std::uint32_t> pid) {
        Node node;
        node.passed_any = std::any_of(e.passes.begin(), e.passes.end(),
                                      [](std::uint8_t p) { return p != 0; });
        passes_.insert(passes_.end(), e.passes.begin(), e.passes.end());
        // Only an element that passed a test is needed after its level: it may be selected.
        if (node.passed_any) node.element = std::move(e.element);
        node.pid = pid;
        node.depth = depth;
        nodes_.push_back(std::move(node));
    }

    std::span<const SimpleSelector* const> tests_;
    std::uint64_t reach_;
    std::vector<Node> nodes_;
    std::vector<std::uint8_t> passes_;
    std::size_t top_count_ = 0;
    // The parents whose children `run` reads first, with their elements.
    std::vector<Parent> tops_;
    std::vector<AXElement> top_elements_;
    std::uint32_t start_depth_ = 0;  // the depth of the children read first
};

// The deepest depth at which any clause can select something: its first segment's bound, then
// each later segment up to max depth + 1 levels further.
std::uint64_t reach_of(const SelectorGroup& group, bool top_level, std::uint32_t max_depth) {
    std::uint64_t reach = 0;
    for (const auto& clause : group.selectors) {
        if (clause.segments.empty()) continue;
        const Role* role = std::get_if<Role>(&clause.segments[0].simple.role);
        const std::uint64_t bound = top_level && role && *role == Role::Application ? 0 : max_depth;
        reach = std::max(reach, bound + (clause.segments.size() - 1) * (std::uint64_t{max_depth} + 1));
    }
    return reach;
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

// Decides the selection over the walked tree (in document order, as the core search does),
// then snapshots it on the calling thread. An element that vanished since the walk is left out
// and the next one takes its place under the limit; any other snapshot failure ends the search.
Result<ElementList> select_walked(const MacOSProvider& provider, std::span<const Walk> walks,
                                  selector::TreeMatcher& matcher,
                                  std::optional<std::size_t> limit) {
    std::vector<const Node*> chosen;
    for (const Walk& walk : walks) {
        if (matcher.done()) break;
        walk.preorder([&](std::size_t index) {
            const auto v = matcher.visit(walk.node(index).depth,
                                         [&](std::size_t t) { return walk.passed(index, t); });
            if (v.selected) chosen.push_back(&walk.node(index));
            return std::pair{v.descend, !matcher.done()};
        });
    }
    dedup_by_platform_identity(chosen, [](const Node* n) { return n->element; });

    ElementList out;
    for (const Node* chosen_node : chosen) {
        if (limit && out.size() >= *limit) break;
        const Node& node = *chosen_node;
        if (node.data) {
            out.push_back(*node.data);
            continue;
        }
        auto data = provider.build_element_data(node.element, node.pid);
        if (!data) {
            const auto* p = data.error().as<Error::Platform>();
            if (p && p->code == ax::kInvalidElement) continue;
            return fail(std::move(data).error());
        }
        out.push_back(std::move(*data));
    }
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
    std::vector<const SimpleSelector*> tests;
    std::vector<std::size_t> clause_of;
    for (std::size_t c = 0; c < firsts.size(); ++c) {
        if (!firsts[c]) continue;
        tests.push_back(firsts[c]);
        clause_of.push_back(c);
    }
    Walk walk(tests, max_depth);
    walk.add_root(parent, parent_role, parent_name, pid, depth);
    walk.run();
    walk.preorder([&](std::size_t index) {
        for (std::size_t t = 0; t < tests.size(); ++t) {
            if (limit && out.size() >= *limit) return std::pair{false, false};
            if (walk.passed(index, t)) out.push_back({clause_of[t], walk.node(index).element});
        }
        return std::pair{true, true};
    });
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
    // Whatever escapes below (an allocation failure) is this operation's Platform error.
    try {
        if (!root) return find_on_desktop(group, limit, depth);
        return find_under_root(*root, group, limit, depth);
    } catch (const std::exception& e) {
        return fail(Error::Platform{-1, fmt::format("{}: {}", kSearchOperation, e.what())});
    } catch (...) {
        return fail(Error::Platform{-1, fmt::format("{}: unknown failure", kSearchOperation)});
    }
}

Result<ElementList> MacOSProvider::find_under_root(const ElementData& root,
                                                   const SelectorGroup& group,
                                                   std::optional<std::size_t> limit,
                                                   std::uint32_t max_depth) const {
    const AXElement element = VEMOR_TRY(get_cached(root.handle));
    selector::TreeMatcher matcher(group, false, max_depth);
    Walk walk(matcher.tests(), reach_of(group, false, max_depth));
    walk.add_root(element, root.role, root.name, root.pid, 0);
    walk.run();
    return select_walked(*this, std::span(&walk, 1), matcher, limit);
}

// The whole desktop: the applications are the top level (depth 0). Each application's tree is
// walked in a pool task of its own, so that the applications' walks overlap rather than wait for
// each other level by level; inside each, every level is a parallel map of its own. A clause
// whose first segment is `application` looks at the top level only, as in the core tree search.
Result<ElementList> MacOSProvider::find_on_desktop(const SelectorGroup& group,
                                                   std::optional<std::size_t> limit,
                                                   std::uint32_t max_depth) const {
    ElementList apps = VEMOR_TRY(list_apps());
    selector::TreeMatcher matcher(group, true, max_depth);
    const std::uint64_t reach = reach_of(group, true, max_depth);
    std::vector<Walk> walks;
    walks.reserve(apps.size());
    for (auto& app : apps) {
        auto live = get_cached(app.handle);
        if (!live) return fail(std::move(live).error());  // the first application's error wins
        walks.emplace_back(matcher.tests(), reach);
        walks.back().add_top(std::move(*live), std::move(app));
    }
    VEMOR_TRY_VOID(macos::try_parallel_each(kSearchOperation, walks.size(),
                                            [&](std::size_t a) { walks[a].run(); }));
    return select_walked(*this, walks, matcher, limit);
}

}  // namespace vemor
