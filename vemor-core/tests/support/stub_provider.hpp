// A base for test providers: the tree is empty, searches run the core tree search over
// `get_children`, and every other operation fails with `Unsupported("stub")`. Tests override
// what they script.
#pragma once

#include "vemor/provider.hpp"

namespace vemor::testing {

class StubProvider : public Provider {
public:
    Result<ElementList> get_children(const ElementData*) const override { return ElementList{}; }
    Result<std::optional<ElementData>> get_parent(const ElementData&) const override {
        return std::optional<ElementData>();
    }
    Result<ElementList> list_apps() const override { return ElementList{}; }
    bool splits_app_across_entries() const override { return false; }
    Result<ElementList> app_roots(const ElementData& app) const override {
        return ElementList{app};
    }
    Result<ElementData> app_by_pid(std::uint32_t) const override { return unsupported(); }
    Result<ElementData> focused_app() const override { return unsupported(); }
    Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>> list_shell_surfaces()
        const override {
        return unsupported();
    }
    Result<ElementList> find_elements_group(const ElementData* root, const SelectorGroup& group,
                                            std::optional<std::size_t> limit,
                                            std::optional<std::uint32_t> max_depth)
        const override {
        return selector::find_elements_in_tree_group(
            [this](const ElementData* p) { return get_children(p); }, root, group, limit,
            max_depth);
    }
#define VEMOR_STUB_ACTION(op) \
    Result<void> op(const ElementData&) const override { return unsupported(); }
    VEMOR_STUB_ACTION(press)
    VEMOR_STUB_ACTION(focus)
    VEMOR_STUB_ACTION(blur)
    VEMOR_STUB_ACTION(toggle)
    VEMOR_STUB_ACTION(select)
    VEMOR_STUB_ACTION(expand)
    VEMOR_STUB_ACTION(collapse)
    VEMOR_STUB_ACTION(show_menu)
    VEMOR_STUB_ACTION(increment)
    VEMOR_STUB_ACTION(decrement)
    VEMOR_STUB_ACTION(scroll_into_view)
    VEMOR_STUB_ACTION(activate)
    VEMOR_STUB_ACTION(minimize)
    VEMOR_STUB_ACTION(maximize)
    VEMOR_STUB_ACTION(enter_fullscreen)
    VEMOR_STUB_ACTION(restore)
    VEMOR_STUB_ACTION(close)
#undef VEMOR_STUB_ACTION
    Result<void> set_value(const ElementData&, std::string_view) const override {
        return unsupported();
    }
    Result<void> set_numeric_value(const ElementData&, double) const override {
        return unsupported();
    }
    Result<void> type_text(const ElementData&, std::string_view) const override {
        return unsupported();
    }
    Result<void> set_text_selection(const ElementData&, std::uint32_t,
                                    std::uint32_t) const override {
        return unsupported();
    }
    Result<void> perform_action(const ElementData&, std::string_view) const override {
        return unsupported();
    }
    Result<void> move_to(const ElementData&, std::int32_t, std::int32_t) const override {
        return unsupported();
    }
    Result<void> resize_to(const ElementData&, std::uint32_t, std::uint32_t) const override {
        return unsupported();
    }
    Result<Subscription> subscribe(const ElementData&) const override { return unsupported(); }

protected:
    static std::unexpected<Error> unsupported() { return fail(Error::Unsupported{"stub"}); }
};

}  // namespace vemor::testing
