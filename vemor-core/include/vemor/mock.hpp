// An in-memory provider over a fixed tree: one test application with a window and common
// widgets, and two shell surfaces (a taskbar and a desktop). It needs no platform; every element
// action and window operation is appended to a log that tests read and clear, so the whole
// query engine can run end to end and its calls be checked.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/error.hpp"
#include "vemor/event.hpp"
#include "vemor/provider.hpp"

namespace vemor {

// One element of the in-memory tree. `data.handle` is the node's index in the node list.
struct MockNode {
    ElementData data;
    std::vector<std::size_t> children;
    std::optional<std::size_t> parent;
    // Set by `close`; never cleared.
    bool closed = false;
};

// One entry of the action log: the handle the operation was called with, the operation's name
// and its value text, if it has one.
struct MockAction {
    std::uint64_t handle = 0;
    std::string action;
    std::optional<std::string> value;
    bool operator==(const MockAction&) const = default;
};

// Callable from several threads at once. The node list and the log each have their own mutex,
// never held together and never held while calling out of the provider. (std::mutex cannot be
// poisoned, so a failure in another thread never locks the provider out.)
class MockProvider final : public Provider {
  public:
    explicit MockProvider(std::vector<MockNode> nodes);

    // A copy of the log, oldest entry first.
    std::vector<MockAction> actions() const;
    void clear_actions() const;
    // Appends a log entry; fails when the handle names a closed node. A handle that names no
    // node is logged all the same.
    Result<void> record(const ElementData& element, std::string_view action,
                        std::optional<std::string> value) const;
    // Succeeds when the handle names an existing node that is not closed, whatever its role.
    Result<void> live_window(const ElementData& element) const;

    Result<ElementList> get_children(const ElementData* parent) const override;
    Result<std::optional<ElementData>> get_parent(const ElementData& element) const override;
    Result<ElementList> list_apps() const override;
    bool splits_app_across_entries() const override { return false; }
    Result<ElementList> app_roots(const ElementData& app) const override;
    Result<ElementData> app_by_pid(std::uint32_t pid) const override;
    Result<ElementData> focused_app() const override;
    Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>> list_shell_surfaces()
        const override;
    Result<ElementList> find_elements_group(const ElementData* root, const SelectorGroup& group,
                                            std::optional<std::size_t> limit,
                                            std::optional<std::uint32_t> max_depth) const override;

    Result<void> press(const ElementData& e) const override;
    Result<void> focus(const ElementData& e) const override;
    Result<void> blur(const ElementData& e) const override;
    Result<void> toggle(const ElementData& e) const override;
    Result<void> select(const ElementData& e) const override;
    Result<void> expand(const ElementData& e) const override;
    Result<void> collapse(const ElementData& e) const override;
    Result<void> show_menu(const ElementData& e) const override;
    Result<void> increment(const ElementData& e) const override;
    Result<void> decrement(const ElementData& e) const override;
    Result<void> scroll_into_view(const ElementData& e) const override;
    Result<void> set_value(const ElementData& e, std::string_view value) const override;
    Result<void> set_numeric_value(const ElementData& e, double value) const override;
    Result<void> type_text(const ElementData& e, std::string_view text) const override;
    Result<void> set_text_selection(const ElementData& e, std::uint32_t start,
                                    std::uint32_t end) const override;
    Result<void> perform_action(const ElementData& e, std::string_view action) const override;

    Result<void> activate(const ElementData& e) const override;
    Result<void> minimize(const ElementData& e) const override;
    Result<void> maximize(const ElementData& e) const override;
    Result<void> enter_fullscreen(const ElementData& e) const override;
    Result<void> restore(const ElementData& e) const override;
    Result<void> close(const ElementData& e) const override;
    Result<void> move_to(const ElementData& e, std::int32_t x, std::int32_t y) const override;
    Result<void> resize_to(const ElementData& e, std::uint32_t width,
                           std::uint32_t height) const override;

    Result<Subscription> subscribe(const ElementData& e) const override;

  private:
    // Checks the node, changes its data under the node lock, then logs `action` with `value`.
    template <class Change>
    Result<void> window_op(const ElementData& e, std::string_view action,
                           std::optional<std::string> value, Change change) const;
    std::optional<ElementData> node_data(std::size_t index) const;

    // The provider contract is const throughout; the tree and the log are its mutable state.
    mutable std::mutex nodes_mutex_;
    mutable std::vector<MockNode> nodes_;
    // The open children of every node as one list of element pointers, lent to the search: built
    // by the first search, dropped when a node closes; used under the node lock only.
    struct ChildIndex {
        std::vector<std::size_t> offsets;  // node i's children: [offsets[i], offsets[i + 1])
        std::vector<selector::LentChild> kids;  // keyed by node position
    };
    mutable std::optional<ChildIndex> child_index_;
    // The application nodes that are not closed, in index order: `list_apps` copies them
    // without reading the rest of the tree. Kept up to date by `close`; used under the node lock.
    mutable std::vector<std::size_t> open_apps_;
    mutable std::mutex log_mutex_;
    mutable std::vector<MockAction> log_;
};

namespace mock {
// A new provider over the 18-node fixture, with an empty log. Each call builds a new one.
std::shared_ptr<MockProvider> build_provider();
// The fixture plus a second "TestApp" entry for the same pid, with one window of its own.
std::shared_ptr<MockProvider> build_split_provider();
// A subscription whose channel has no sender left and no cancel handle: the first receive
// reports the disconnection at once.
Subscription disconnected_subscription();
}  // namespace mock

}  // namespace vemor
