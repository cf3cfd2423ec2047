// Lazy, re-resolving element queries: a selector text plus a search scope. A locator holds no
// element; every operation resolves the selector afresh through the provider, so it stays
// valid while the interface changes under it. Actions first wait until their target is
// actionable; the `wait_*` operations wait for a named state. All waits poll every 100 ms.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/enum_names.hpp"
#include "vemor/error.hpp"
#include "vemor/provider.hpp"
#include "vemor/selector.hpp"
#include "vemor/text.hpp"

namespace vemor {

// The states a `wait_*` operation can wait for, with the names used in diagnoses.
enum class WaitState : std::uint8_t {
    Attached,
    Detached,
    Visible,
    Hidden,
    Enabled,
    Disabled,
    Focused,
    Unfocused,
};

namespace wait_state {
inline constexpr std::array<EnumName<WaitState>, 8> kNames{{
    {WaitState::Attached, "attached"},
    {WaitState::Detached, "detached"},
    {WaitState::Visible, "visible"},
    {WaitState::Hidden, "hidden"},
    {WaitState::Enabled, "enabled"},
    {WaitState::Disabled, "disabled"},
    {WaitState::Focused, "focused"},
    {WaitState::Unfocused, "unfocused"},
}};
constexpr std::string_view to_snake_case(WaitState s) { return name_of(kNames, s); }
constexpr std::optional<WaitState> from_snake_case(std::string_view text) {
    return value_of(kNames, text);
}
}  // namespace wait_state

// How much an action waits for: element actions need their target visible and enabled; window
// actions and scrolling need it enabled only, so that a minimised window can be restored.
enum class ActionWait : std::uint8_t { Strict, EnabledOnly };

// The poll interval of every wait.
inline constexpr Duration kWaitPollInterval = std::chrono::milliseconds(100);

// `Locator::new` is a C++ keyword: a locator is built with the constructor. The `nth` field is
// read through `nth_value()`, because `nth(n)` is the chaining operation.
class Locator {
public:
    // The caller's predicate for `wait_until`: the current target, or nullptr when the target
    // does not resolve. It is called with no lock held.
    using Predicate = std::function<bool(const ElementData* current)>;

    // A scope of nullopt searches the whole desktop. The text is checked at the first
    // resolution, not here.
    Locator(ProviderHandle provider, std::optional<ElementData> scope, std::string selector);
    // The scope is an application: resolution searches under the application's roots.
    static Locator new_for_app(ProviderHandle provider, ElementData app, std::string selector);

    const ProviderHandle& provider() const { return provider_; }
    const std::optional<ElementData>& scope() const { return scope_; }
    const std::string& selector() const { return selector_; }
    std::optional<std::uint64_t> nth_value() const { return nth_; }
    bool for_app() const { return for_app_; }

    // ---- Chaining: each returns a changed copy -----------------------------------------------
    // Every clause of the current text followed by every clause of `text`; the position is
    // dropped.
    Locator descendant(std::string_view text) const;
    Locator child(std::string_view text) const;
    // The 1-based position of the target among the matches; 0 is refused.
    Result<Locator> nth(std::uint64_t n) const;
    Locator first() const;

    // ---- One-shot resolution -----------------------------------------------------------------
    Result<std::vector<Element>> elements() const;
    Result<std::size_t> count() const;
    // The target now; a miss carries a diagnosis with candidates and the searched scope.
    Result<Element> element() const;
    Result<bool> exists() const;
    Result<TreeNode> tree(std::optional<std::size_t> max_depth) const;
    Result<std::string> dump(std::optional<std::size_t> max_depth) const;

    // ---- Waits -------------------------------------------------------------------------------
    Result<Element> wait_attached(Duration timeout) const;
    Result<void> wait_detached(Duration timeout) const;
    Result<Element> wait_visible(Duration timeout) const;
    Result<void> wait_hidden(Duration timeout) const;
    Result<Element> wait_enabled(Duration timeout) const;
    Result<Element> wait_disabled(Duration timeout) const;
    Result<Element> wait_focused(Duration timeout) const;
    Result<Element> wait_unfocused(Duration timeout) const;
    // The element once `state` holds; nothing for `Detached` and `Hidden`.
    Result<std::optional<Element>> wait_for_state(WaitState state, Duration timeout) const;
    // The target once the predicate accepts it, or nothing when it accepted an absent target.
    Result<std::optional<Element>> wait_until(const Predicate& predicate, Duration timeout) const;

    // ---- Actions: wait until actionable (default time-out), then act once --------------------
    Result<void> press() const;
    Result<void> focus() const;
    Result<void> blur() const;
    Result<void> toggle() const;
    Result<void> select() const;
    Result<void> expand() const;
    Result<void> collapse() const;
    Result<void> show_menu() const;
    Result<void> increment() const;
    Result<void> decrement() const;
    Result<void> set_value(std::string_view text) const;
    Result<void> type_text(std::string_view text) const;
    Result<void> set_numeric_value(double value) const;
    Result<void> select_text(std::uint32_t start, std::uint32_t end) const;
    Result<void> perform_action(std::string_view name) const;
    Result<void> scroll_into_view() const;
    Result<void> activate() const;
    Result<void> minimize() const;
    Result<void> maximize() const;
    Result<void> enter_fullscreen() const;
    Result<void> restore() const;
    Result<void> close() const;
    Result<void> move_to(std::int32_t x, std::int32_t y) const;
    Result<void> resize_to(std::uint32_t width, std::uint32_t height) const;

    // ---- Building blocks ---------------------------------------------------------------------
    // Waits with the default time-out until the target is actionable for `action`.
    Result<Element> auto_wait(std::string_view action, ActionWait kind) const;
    // Every match of `group` in this locator's scope, in resolution order, cut to `limit`.
    Result<std::vector<ElementData>> resolve_group(const SelectorGroup& group,
                                                   std::optional<std::size_t> limit) const;
    // The single target: position `nth`, else the first match.
    Result<ElementData> resolve_data() const;
    // The `Timeout` of a wait that gave up after `elapsed`, with what it last saw.
    Error diagnose_timeout(Duration elapsed, std::string condition, const ElementData* last_seen,
                           bool ever_matched) const;
    // Adds near-miss candidates and a bounded dump of the scope to a miss diagnosis, each only
    // when the diagnosis has none yet.
    void fill_miss_context(Diagnosis& diagnosis) const;
    // A bounded text of what the scope holds: its dump, or the running applications.
    std::string scope_summary() const;

private:
    struct DesktopMatches;
    // A rootless resolution before duplicates are removed: every application's matches, as the
    // provider listed them.
    Result<DesktopMatches> match_desktop(const SelectorGroup& group) const;
    // Polls until `satisfied` accepts the current target (nullptr when absent); returns that
    // target. On time-out: the diagnosed `Timeout` with `condition`.
    Result<std::optional<ElementData>> poll(
        Duration timeout, const std::string& condition,
        const std::function<bool(const ElementData*)>& satisfied) const;
    Result<Element> window_target(std::string_view action) const;

    ProviderHandle provider_;
    std::optional<ElementData> scope_;
    std::string selector_;
    std::optional<std::uint64_t> nth_;
    bool for_app_ = false;
};

namespace locator {
// `role "name"`, or `role (unnamed)` when the element has no name.
std::string short_describe(const ElementData& element);
}  // namespace locator

}  // namespace vemor
