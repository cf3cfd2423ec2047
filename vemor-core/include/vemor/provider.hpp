// The contract between the platform-neutral core and an accessibility backend: 37 operations
// in a fixed order. Three have a default here (`app_windows`, `find_elements`,
// `narrow_multi_segment`); a backend supplies the rest. Providers are shared between threads
// and keep their own locks. An optional element argument is a pointer: nullptr means absent
// (for `get_children` and the searches, the top level of the desktop).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/error.hpp"
#include "vemor/event.hpp"
#include "vemor/selector.hpp"
#include "vemor/shell.hpp"

namespace vemor {

using ElementList = std::vector<ElementData>;

class Provider {
public:
    virtual ~Provider() = default;

    // 0-11: tree, applications, search.
    virtual Result<ElementList> get_children(const ElementData* parent) const = 0;
    virtual Result<ElementList> app_windows(const ElementData& app) const;
    virtual Result<std::optional<ElementData>> get_parent(const ElementData& element) const = 0;
    virtual Result<ElementList> list_apps() const = 0;
    virtual bool splits_app_across_entries() const = 0;
    virtual Result<ElementList> app_roots(const ElementData& app) const = 0;
    virtual Result<ElementData> app_by_pid(std::uint32_t pid) const = 0;
    virtual Result<ElementData> focused_app() const = 0;
    virtual Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>> list_shell_surfaces()
        const = 0;
    virtual Result<ElementList> find_elements(const ElementData* root,
                                              std::span<const SelectorSegment> segments,
                                              std::optional<std::size_t> limit,
                                              std::optional<std::uint32_t> max_depth) const;
    virtual Result<ElementList> find_elements_group(const ElementData* root,
                                                    const SelectorGroup& group,
                                                    std::optional<std::size_t> limit,
                                                    std::optional<std::uint32_t> max_depth)
        const = 0;
    virtual Result<ElementList> narrow_multi_segment(ElementList candidates,
                                                     std::span<const SelectorSegment> segments,
                                                     std::uint32_t max_depth,
                                                     std::optional<std::size_t> limit) const;

    // 12-27: element actions, performed once without waiting.
    virtual Result<void> press(const ElementData& element) const = 0;
    virtual Result<void> focus(const ElementData& element) const = 0;
    virtual Result<void> blur(const ElementData& element) const = 0;
    virtual Result<void> toggle(const ElementData& element) const = 0;
    virtual Result<void> select(const ElementData& element) const = 0;
    virtual Result<void> expand(const ElementData& element) const = 0;
    virtual Result<void> collapse(const ElementData& element) const = 0;
    virtual Result<void> show_menu(const ElementData& element) const = 0;
    virtual Result<void> increment(const ElementData& element) const = 0;
    virtual Result<void> decrement(const ElementData& element) const = 0;
    virtual Result<void> scroll_into_view(const ElementData& element) const = 0;
    virtual Result<void> set_value(const ElementData& element, std::string_view value) const = 0;
    virtual Result<void> set_numeric_value(const ElementData& element, double value) const = 0;
    virtual Result<void> type_text(const ElementData& element, std::string_view text) const = 0;
    virtual Result<void> set_text_selection(const ElementData& element, std::uint32_t start,
                                            std::uint32_t end) const = 0;
    virtual Result<void> perform_action(const ElementData& element,
                                        std::string_view action) const = 0;

    // 28-35: window operations; a backend may wait until the platform reports the new state.
    virtual Result<void> activate(const ElementData& element) const = 0;
    virtual Result<void> minimize(const ElementData& element) const = 0;
    virtual Result<void> maximize(const ElementData& element) const = 0;
    virtual Result<void> enter_fullscreen(const ElementData& element) const = 0;
    virtual Result<void> restore(const ElementData& element) const = 0;
    virtual Result<void> close(const ElementData& element) const = 0;
    virtual Result<void> move_to(const ElementData& element, std::int32_t x,
                                 std::int32_t y) const = 0;
    virtual Result<void> resize_to(const ElementData& element, std::uint32_t width,
                                   std::uint32_t height) const = 0;

    // 36: events of the element's application.
    virtual Result<Subscription> subscribe(const ElementData& element) const = 0;
};

// A provider used through a reference: every operation, the defaults included, runs on the
// target unchanged. The target must outlive the forwarder.
class ForwardingProvider final : public Provider {
public:
    explicit ForwardingProvider(const Provider& target) : target_(target) {}

    Result<ElementList> get_children(const ElementData* parent) const override;
    Result<ElementList> app_windows(const ElementData& app) const override;
    Result<std::optional<ElementData>> get_parent(const ElementData& element) const override;
    Result<ElementList> list_apps() const override;
    bool splits_app_across_entries() const override;
    Result<ElementList> app_roots(const ElementData& app) const override;
    Result<ElementData> app_by_pid(std::uint32_t pid) const override;
    Result<ElementData> focused_app() const override;
    Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>> list_shell_surfaces()
        const override;
    Result<ElementList> find_elements(const ElementData* root,
                                      std::span<const SelectorSegment> segments,
                                      std::optional<std::size_t> limit,
                                      std::optional<std::uint32_t> max_depth) const override;
    Result<ElementList> find_elements_group(const ElementData* root, const SelectorGroup& group,
                                            std::optional<std::size_t> limit,
                                            std::optional<std::uint32_t> max_depth)
        const override;
    Result<ElementList> narrow_multi_segment(ElementList candidates,
                                             std::span<const SelectorSegment> segments,
                                             std::uint32_t max_depth,
                                             std::optional<std::size_t> limit) const override;
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
    const Provider& target_;
};

namespace provider {
// Removes later entries whose handle was already seen, keeping the first occurrence.
void dedup_by_handle(ElementList& list);
}  // namespace provider

}  // namespace vemor
