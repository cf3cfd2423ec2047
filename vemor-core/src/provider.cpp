#include "vemor/provider.hpp"

#include <unordered_set>

namespace vemor {

namespace provider {
void dedup_by_handle(ElementList& list) {
    std::unordered_set<std::uint64_t> seen;
    seen.reserve(list.size());
    std::erase_if(list, [&](const ElementData& e) { return !seen.insert(e.handle).second; });
}
}  // namespace provider

Result<ElementList> Provider::app_windows(const ElementData& app) const {
    return get_children(&app);
}

Result<ElementList> Provider::find_elements(const ElementData* root,
                                            std::span<const SelectorSegment> segments,
                                            std::optional<std::size_t> limit,
                                            std::optional<std::uint32_t> max_depth) const {
    SelectorGroup group{{Selector{{segments.begin(), segments.end()}}}};
    return find_elements_group(root, group, limit, max_depth);
}

// Each segment's :nth applies once, over the union of the per-element matches, as in the core
// tree search: the per-element searches run without it.
Result<ElementList> Provider::narrow_multi_segment(ElementList candidates,
                                                   std::span<const SelectorSegment> segments,
                                                   std::uint32_t max_depth,
                                                   std::optional<std::size_t> limit) const {
    ElementList current = std::move(candidates);
    for (const auto& segment : segments) {
        SelectorSegment step{segment.simple, std::nullopt};
        step.simple.nth.reset();
        ElementList next;
        for (const auto& e : current) {
            // Every segment after a clause's first carries a combinator; one without it (as a
            // caller may pass a clause's first segment) is taken as a descendant step.
            if (segment.combinator == Combinator::Child) {
                auto children = VEMOR_TRY(get_children(&e));
                for (auto& child : children)
                    if (selector::matches_simple(child, step.simple))
                        next.push_back(std::move(child));
            } else {
                auto found = VEMOR_TRY(find_elements(&e, std::span(&step, 1), std::nullopt,
                                                     max_depth));
                std::move(found.begin(), found.end(), std::back_inserter(next));
            }
        }
        provider::dedup_by_handle(next);
        selector::apply_nth(next, segment.simple.nth);
        current = std::move(next);
    }
    if (limit && current.size() > *limit) current.resize(*limit);
    return current;
}

#define VEMOR_FORWARD_ELEMENT_OP(op) \
    Result<void> ForwardingProvider::op(const ElementData& e) const { return target_.op(e); }

Result<ElementList> ForwardingProvider::get_children(const ElementData* parent) const {
    return target_.get_children(parent);
}
Result<ElementList> ForwardingProvider::app_windows(const ElementData& app) const {
    return target_.app_windows(app);
}
Result<std::optional<ElementData>> ForwardingProvider::get_parent(const ElementData& e) const {
    return target_.get_parent(e);
}
Result<ElementList> ForwardingProvider::list_apps() const { return target_.list_apps(); }
bool ForwardingProvider::splits_app_across_entries() const {
    return target_.splits_app_across_entries();
}
Result<ElementList> ForwardingProvider::app_roots(const ElementData& app) const {
    return target_.app_roots(app);
}
Result<ElementData> ForwardingProvider::app_by_pid(std::uint32_t pid) const {
    return target_.app_by_pid(pid);
}
Result<ElementData> ForwardingProvider::focused_app() const { return target_.focused_app(); }
Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>>
ForwardingProvider::list_shell_surfaces() const {
    return target_.list_shell_surfaces();
}
Result<ElementList> ForwardingProvider::find_elements(
    const ElementData* root, std::span<const SelectorSegment> segments,
    std::optional<std::size_t> limit, std::optional<std::uint32_t> max_depth) const {
    return target_.find_elements(root, segments, limit, max_depth);
}
Result<ElementList> ForwardingProvider::find_elements_group(
    const ElementData* root, const SelectorGroup& group, std::optional<std::size_t> limit,
    std::optional<std::uint32_t> max_depth) const {
    return target_.find_elements_group(root, group, limit, max_depth);
}
Result<ElementList> ForwardingProvider::narrow_multi_segment(
    ElementList candidates, std::span<const SelectorSegment> segments, std::uint32_t max_depth,
    std::optional<std::size_t> limit) const {
    return target_.narrow_multi_segment(std::move(candidates), segments, max_depth, limit);
}
VEMOR_FORWARD_ELEMENT_OP(press)
VEMOR_FORWARD_ELEMENT_OP(focus)
VEMOR_FORWARD_ELEMENT_OP(blur)
VEMOR_FORWARD_ELEMENT_OP(toggle)
VEMOR_FORWARD_ELEMENT_OP(select)
VEMOR_FORWARD_ELEMENT_OP(expand)
VEMOR_FORWARD_ELEMENT_OP(collapse)
VEMOR_FORWARD_ELEMENT_OP(show_menu)
VEMOR_FORWARD_ELEMENT_OP(increment)
VEMOR_FORWARD_ELEMENT_OP(decrement)
VEMOR_FORWARD_ELEMENT_OP(scroll_into_view)
Result<void> ForwardingProvider::set_value(const ElementData& e, std::string_view v) const {
    return target_.set_value(e, v);
}
Result<void> ForwardingProvider::set_numeric_value(const ElementData& e, double v) const {
    return target_.set_numeric_value(e, v);
}
Result<void> ForwardingProvider::type_text(const ElementData& e, std::string_view t) const {
    return target_.type_text(e, t);
}
Result<void> ForwardingProvider::set_text_selection(const ElementData& e, std::uint32_t start,
                                                    std::uint32_t end) const {
    return target_.set_text_selection(e, start, end);
}
Result<void> ForwardingProvider::perform_action(const ElementData& e,
                                                std::string_view action) const {
    return target_.perform_action(e, action);
}
VEMOR_FORWARD_ELEMENT_OP(activate)
VEMOR_FORWARD_ELEMENT_OP(minimize)
VEMOR_FORWARD_ELEMENT_OP(maximize)
VEMOR_FORWARD_ELEMENT_OP(enter_fullscreen)
VEMOR_FORWARD_ELEMENT_OP(restore)
VEMOR_FORWARD_ELEMENT_OP(close)
Result<void> ForwardingProvider::move_to(const ElementData& e, std::int32_t x,
                                         std::int32_t y) const {
    return target_.move_to(e, x, y);
}
Result<void> ForwardingProvider::resize_to(const ElementData& e, std::uint32_t w,
                                           std::uint32_t h) const {
    return target_.resize_to(e, w, h);
}
Result<Subscription> ForwardingProvider::subscribe(const ElementData& e) const {
    return target_.subscribe(e);
}

#undef VEMOR_FORWARD_ELEMENT_OP

}  // namespace vemor
