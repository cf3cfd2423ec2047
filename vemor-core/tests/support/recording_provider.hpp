// A small provider for unit tests of the core: a fixed tree given as parent links, every call
// recorded by name. Operations without a tree meaning succeed and are recorded; toolbars are
// reported as taskbar shell surfaces. The contract's defaults are left to the contract.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "vemor/provider.hpp"

namespace vemor::testing {

class RecordingProvider : public Provider {
public:
    // Elements with parent handle 0 form the top level.
    void add(ElementData e, std::uint64_t parent) { nodes_.push_back({parent, std::move(e)}); }
    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // Makes `get_children` of this handle fail.
    void fail_children_of(std::uint64_t handle) { failing_ = handle; }

    Result<ElementList> get_children(const ElementData* parent) const override {
        std::uint64_t h = parent ? parent->handle : 0;
        log("get_children " + std::to_string(h));
        if (failing_ && h == *failing_) return fail(Error::Platform{-1, "children failed"});
        ElementList out;
        for (const auto& [p, n] : nodes_)
            if (p == h) out.push_back(n);
        return out;
    }
    Result<std::optional<ElementData>> get_parent(const ElementData& e) const override {
        log("get_parent");
        for (const auto& [p, n] : nodes_) {
            if (n.handle != e.handle) continue;
            for (const auto& [pp, candidate] : nodes_)
                if (candidate.handle == p) return std::optional<ElementData>(candidate);
        }
        return std::optional<ElementData>{};
    }
    Result<ElementList> list_apps() const override { return get_children(nullptr); }
    bool splits_app_across_entries() const override {
        log("splits_app_across_entries");
        return false;
    }
    Result<ElementList> app_roots(const ElementData& app) const override {
        return get_children(&app);
    }
    Result<ElementData> app_by_pid(std::uint32_t pid) const override {
        log("app_by_pid " + std::to_string(pid));
        return fail(Error::Platform{-1, "no app"});
    }
    Result<ElementData> focused_app() const override {
        log("focused_app");
        return fail(Error::Platform{-1, "no app"});
    }
    Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>> list_shell_surfaces()
        const override {
        log("list_shell_surfaces");
        std::vector<std::pair<ShellSurfaceKind, ElementData>> out;
        for (const auto& [p, n] : nodes_)
            if (n.role == Role::Toolbar) out.emplace_back(ShellSurfaceKind::Taskbar, n);
        return out;
    }
    Result<ElementList> find_elements_group(const ElementData* root, const SelectorGroup& group,
                                            std::optional<std::size_t> limit,
                                            std::optional<std::uint32_t> max_depth)
        const override {
        log("find_elements_group");
        return selector::find_elements_in_tree_group(
            [this](const ElementData* p) { return get_children(p); }, root, group, limit,
            max_depth);
    }

#define VEMOR_RECORD_OP(op)                                          \
    Result<void> op(const ElementData& e) const override {           \
        log(std::string(#op " ") + std::to_string(e.handle));        \
        return {};                                                   \
    }
    VEMOR_RECORD_OP(press)
    VEMOR_RECORD_OP(focus)
    VEMOR_RECORD_OP(blur)
    VEMOR_RECORD_OP(toggle)
    VEMOR_RECORD_OP(select)
    VEMOR_RECORD_OP(expand)
    VEMOR_RECORD_OP(collapse)
    VEMOR_RECORD_OP(show_menu)
    VEMOR_RECORD_OP(increment)
    VEMOR_RECORD_OP(decrement)
    VEMOR_RECORD_OP(scroll_into_view)
    VEMOR_RECORD_OP(activate)
    VEMOR_RECORD_OP(minimize)
    VEMOR_RECORD_OP(maximize)
    VEMOR_RECORD_OP(enter_fullscreen)
    VEMOR_RECORD_OP(restore)
    VEMOR_RECORD_OP(close)
#undef VEMOR_RECORD_OP
    Result<void> set_value(const ElementData&, std::string_view v) const override {
        log("set_value " + std::string(v));
        return {};
    }
    Result<void> set_numeric_value(const ElementData&, double v) const override {
        log("set_numeric_value " + text::float_display(v));
        return {};
    }
    Result<void> type_text(const ElementData&, std::string_view t) const override {
        log("type_text " + std::string(t));
        return {};
    }
    Result<void> set_text_selection(const ElementData&, std::uint32_t s,
                                    std::uint32_t e) const override {
        log("set_text_selection " + std::to_string(s) + " " + std::to_string(e));
        return {};
    }
    Result<void> perform_action(const ElementData&, std::string_view a) const override {
        log("perform_action " + std::string(a));
        return {};
    }
    Result<void> move_to(const ElementData&, std::int32_t x, std::int32_t y) const override {
        log("move_to " + std::to_string(x) + " " + std::to_string(y));
        return {};
    }
    Result<void> resize_to(const ElementData&, std::uint32_t w, std::uint32_t h) const override {
        log("resize_to " + std::to_string(w) + " " + std::to_string(h));
        return {};
    }
    Result<Subscription> subscribe(const ElementData& e) const override {
        log("subscribe " + std::to_string(e.handle));
        return fail(Error::Platform{-1, "no events"});
    }

protected:
    void log(std::string s) const {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(s));
    }

private:
    std::vector<std::pair<std::uint64_t, ElementData>> nodes_;  // (parent handle, element)
    std::optional<std::uint64_t> failing_;
    mutable std::mutex mutex_;
    mutable std::vector<std::string> calls_;
};

inline ElementData node(std::uint64_t handle, Role role, std::optional<std::string> name = {}) {
    ElementData e;
    e.handle = handle;
    e.role = role;
    e.name = std::move(name);
    return e;
}

}  // namespace vemor::testing
