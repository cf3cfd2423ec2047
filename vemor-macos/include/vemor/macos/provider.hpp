// The macOS accessibility provider: the `Provider` contract over the live accessibility tree.
// Elements are named by 64-bit handles: every snapshot takes the next number of a process-wide
// counter and keeps its platform element under it in a cache, so later operations can find
// the live element again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "vemor/macos/ax.hpp"
#include "vemor/provider.hpp"

namespace vemor {

namespace ax {

// "Enable Accessibility in System Settings → {pane}", the pane named as the running macOS
// version names it.
std::string accessibility_grant_instructions();
// The same text for a given major version (0: unknown).
std::string accessibility_grant_instructions_for(std::uint32_t major_version);
// The macOS major version, read once per process; 0 when unknown.
std::uint32_t macos_major_version();
// The major version in an OS product version text ("26.1" -> 26, "+27.0" -> 27); 0 when the
// text does not start with a number that fits 32 bits.
std::uint32_t parse_major_version(std::string_view version_text);
// Reads the OS product version now, without the per-process cache.
std::uint32_t read_macos_major_version();

}  // namespace ax

class MacOSProvider final : public Provider {
public:
    // A process entry of the window list: the owning process and its name.
    struct ProcessEntry {
        std::int32_t pid = 0;
        std::string name;
        bool operator==(const ProcessEntry&) const = default;
    };

    // The provider, after checking that the process is trusted for Accessibility and may read
    // window content (Screen Recording). Named `create` because `new` is taken in C++.
    static Result<std::shared_ptr<MacOSProvider>> create();
    static bool has_screen_recording_permission();

    // The live element behind a handle, with its own reference; `ElementStale` when the
    // handle was never handed out by this provider.
    Result<AXElement> get_cached(std::uint64_t handle) const;
    // Snapshots the element under a new handle and keeps the element in the cache.
    Result<ElementData> build_element_data(const AXElement& element,
                                           std::optional<std::uint32_t> pid) const;
    static std::vector<ProcessEntry> list_gui_apps();

    // Decorations that `get_children` and the search hide: a window's title-bar buttons and
    // title label, an application's menu bar (reachable as a shell surface instead).
    static bool should_filter_child_with_role(Role parent_role,
                                              const std::optional<std::string>& parent_name,
                                              std::string_view role_text,
                                              std::optional<std::string_view> subrole,
                                              const AXElement& child);

    // ---- Tree and applications ----
    Result<ElementList> get_children(const ElementData* parent) const override;
    Result<ElementList> app_windows(const ElementData& app) const override;
    Result<std::optional<ElementData>> get_parent(const ElementData& element) const override;
    Result<ElementList> list_apps() const override;
    bool splits_app_across_entries() const override { return false; }
    Result<ElementList> app_roots(const ElementData& app) const override;
    Result<ElementData> app_by_pid(std::uint32_t pid) const override;
    Result<ElementData> focused_app() const override;

    // ---- Search: a parallel walk of the live tree (search.cpp) ----
    Result<ElementList> find_elements(const ElementData* root,
                                      std::span<const SelectorSegment> segments,
                                      std::optional<std::size_t> limit,
                                      std::optional<std::uint32_t> max_depth) const override;
    Result<ElementList> find_elements_group(const ElementData* root, const SelectorGroup& group,
                                            std::optional<std::size_t> limit,
                                            std::optional<std::uint32_t> max_depth) const override;
    // The contract's default narrowing, step by step, except that duplicates are removed by
    // platform equality before each segment's :nth: every snapshot here takes a new handle, so
    // the default's removal by handle would let an element reached through two nested
    // candidates count twice.
    Result<ElementList> narrow_multi_segment(ElementList candidates,
                                             std::span<const SelectorSegment> segments,
                                             std::uint32_t max_depth,
                                             std::optional<std::size_t> limit) const override;

    // ---- Shell surfaces (shell_surfaces.cpp) ----
    // The frontmost menu bar, the status-item bars, the Dock, the desktop and the shown
    // status menus, in that order; a fresh scan on every call.
    Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>> list_shell_surfaces()
        const override;
    // The status-item bar of one process, snapshotted under the process name; none when it has
    // none or its snapshot fails (reported on standard error).
    std::optional<std::pair<ShellSurfaceKind, ElementData>> status_item_surfaces(
        const ProcessEntry& process) const;
    // The menus shown from the status-item bars (pid-sorted), each listed once.
    Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>> shown_status_menu_surfaces(
        const std::vector<std::pair<ShellSurfaceKind, ElementData>>& status_items) const;
    // The desktop among the children of the first process named "Finder".
    Result<std::optional<std::pair<ShellSurfaceKind, ElementData>>> desktop_surface(
        const std::vector<ProcessEntry>& processes) const;

    // ---- Element actions (actions.cpp) ----
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

    // ---- Window operations (windows.cpp), waiting in the settle loops of settle.hpp ----
    Result<void> activate(const ElementData& e) const override;
    Result<void> minimize(const ElementData& e) const override;
    Result<void> maximize(const ElementData& e) const override;
    Result<void> enter_fullscreen(const ElementData& e) const override;
    Result<void> restore(const ElementData& e) const override;
    Result<void> close(const ElementData& e) const override;
    Result<void> move_to(const ElementData& e, std::int32_t x, std::int32_t y) const override;
    Result<void> resize_to(const ElementData& e, std::uint32_t width,
                           std::uint32_t height) const override;

    // ---- Events (events.cpp): an observer on a run loop of its own thread ----
    Result<Subscription> subscribe(const ElementData& e) const override;

    // Number of handles this provider holds (for tests and diagnostics).
    std::size_t cached_count() const;

    // One match of the parallel walk: the clause whose first segment matched, and the element.
    struct WalkMatch {
        std::size_t clause = 0;
        AXElement element;
    };
    // One level of the parallel walk: examines the children of `parent` (at `depth`) and their
    // subtrees against the first segment of each clause (nullptr: the clause takes no part),
    // and returns the matches in document order, cut at `limit` per level.
    static std::vector<WalkMatch> collect_matching_ax_group(
        const AXElement& parent, Role parent_role, const std::optional<std::string>& parent_name,
        std::span<const SimpleSelector* const> firsts, std::optional<std::uint32_t> pid,
        std::uint32_t depth, std::uint32_t max_depth, std::optional<std::size_t> limit);

private:
    MacOSProvider() = default;

    // Walk of the whole desktop (no root): every application in parallel.
    Result<ElementList> find_on_desktop(const SelectorGroup& group,
                                        std::optional<std::size_t> limit,
                                        std::uint32_t max_depth) const;
    Result<ElementList> find_under_root(const ElementData& root, const SelectorGroup& group,
                                        std::optional<std::size_t> limit,
                                        std::uint32_t max_depth) const;

    mutable std::mutex cache_mutex_;
    mutable std::unordered_map<std::uint64_t, AXElement> cache_;
};

namespace macos {
// The first handle the process-wide counter will hand out next (for tests).
std::uint64_t peek_next_handle();
}  // namespace macos

}  // namespace vemor
