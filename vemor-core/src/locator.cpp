#include "vemor/locator.hpp"

#include <chrono>
#include <cmath>
#include <thread>
#include <unordered_set>
#include <utility>

#include <fmt/format.h>

#include "huge_pages.hpp"
#include "vemor/config.hpp"
#include "vemor/text.hpp"

namespace vemor {
namespace {

// Diagnoses stay small: a few candidates, a shallow scope dump, a bounded application list.
constexpr std::size_t kMaxCandidates = 8;
constexpr std::size_t kScopeDumpDepth = 5;
constexpr std::size_t kMaxScopeLines = 40;
constexpr std::size_t kMaxScopeApps = 40;

const ElementData* ptr(const std::optional<ElementData>& d) { return d ? &*d : nullptr; }

bool is_miss(const Error& e) { return e.is<Error::SelectorNotMatched>(); }

// The lines of a text; a final line feed ends the last line and does not start another.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

std::string join_lines(std::span<const std::string_view> lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        out += lines[i];
    }
    return out;
}

}  // namespace

namespace locator {
std::string short_describe(const ElementData& element) {
    auto role = role::to_snake_case(element.role);
    if (element.name) return fmt::format("{} \"{}\"", role, *element.name);
    return fmt::format("{} (unnamed)", role);
}
}  // namespace locator

Locator::Locator(ProviderHandle provider, std::optional<ElementData> scope, std::string selector)
    : provider_(std::move(provider)), scope_(std::move(scope)), selector_(std::move(selector)) {}

Locator Locator::new_for_app(ProviderHandle provider, ElementData app, std::string selector) {
    Locator l(std::move(provider), std::move(app), std::move(selector));
    l.for_app_ = true;
    return l;
}

// ---- Chaining ----------------------------------------------------------------------------

Locator Locator::descendant(std::string_view text) const {
    Locator l = *this;
    l.selector_ = selector::chain_combinator(selector_, " ", text);
    l.nth_.reset();
    return l;
}

Locator Locator::child(std::string_view text) const {
    Locator l = *this;
    l.selector_ = selector::chain_combinator(selector_, " > ", text);
    l.nth_.reset();
    return l;
}

Result<Locator> Locator::nth(std::uint64_t n) const {
    if (n == 0) return fail(Error::InvalidActionData{"Locator::nth() is 1-based, got 0"});
    Locator l = *this;
    l.nth_ = n;
    return l;
}

Locator Locator::first() const {
    Locator l = *this;
    l.nth_ = 1;
    return l;
}

// ---- Resolution --------------------------------------------------------------------------

// The matches of a whole-desktop resolution as the provider handed them over, in order: each
// list is moved in whole, and merged once the total is known.
struct Locator::DesktopMatches {
    std::vector<ElementList> parts;
    std::size_t total = 0;

    void add(ElementList list) {
        if (list.empty()) return;
        total += list.size();
        parts.push_back(std::move(list));
    }
};

Result<Locator::DesktopMatches> Locator::match_desktop(const SelectorGroup& group) const {
    // Each application, then everything below it; an application can itself be a match
    // (`application[name="Mail"]`).
    const Provider& provider = *provider_;
    auto apps = VEMOR_TRY(provider.list_apps());
    DesktopMatches found;
    for (const auto& app : apps) {
        for (const auto& clause : group.selectors) {
            if (clause.segments.empty() ||
                !selector::matches_simple(app, clause.segments.front().simple))
                continue;
            if (clause.segments.size() == 1) {
                found.add(ElementList{app});
                continue;
            }
            auto rest = std::span<const SelectorSegment>(clause.segments).subspan(1);
            found.add(VEMOR_TRY(
                provider.narrow_multi_segment({app}, rest, selector::kDefaultMaxDepth, {})));
        }
        found.add(VEMOR_TRY(provider.find_elements_group(&app, group, {}, {})));
    }
    return found;
}

namespace {

// The handles already taken while merging, for the first-occurrence rule: open addressing over
// a table sized once for the whole merge, so that a large result costs no allocation per match.
class HandleSet {
public:
    explicit HandleSet(std::size_t expected) {
        std::size_t capacity = 16;
        while (capacity < 2 * expected) capacity *= 2;
        slots_.assign(capacity, kEmpty);
        mask_ = capacity - 1;
    }

    // True when `handle` was not in the set.
    bool insert(std::uint64_t handle) {
        if (handle == kEmpty) return !std::exchange(has_empty_value_, true);
        // Fibonacci hashing spreads handles that count up from zero.
        std::size_t i = static_cast<std::size_t>((handle * 0x9E3779B97F4A7C15ull) >> 20) & mask_;
        while (slots_[i] != kEmpty) {
            if (slots_[i] == handle) return false;
            i = (i + 1) & mask_;
        }
        slots_[i] = handle;
        return true;
    }

private:
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    std::vector<std::uint64_t> slots_;
    std::size_t mask_ = 0;
    bool has_empty_value_ = false;
};

// The first occurrence of each handle, over the lists of a merge in their order. Handles that
// only ever increase cannot repeat (a provider that numbers its elements as it walks hands them
// out that way), so such a merge needs no set at all.
class FirstOccurrence {
public:
    FirstOccurrence(const std::vector<ElementList>& parts, std::size_t total) {
        std::optional<std::uint64_t> previous;
        for (const auto& part : parts) {
            for (const auto& d : part) {
                if (previous && d.handle <= *previous) {
                    seen_.emplace(total);
                    return;
                }
                previous = d.handle;
            }
        }
    }

    bool keep(const ElementData& d) { return !seen_ || seen_->insert(d.handle); }

private:
    std::optional<HandleSet> seen_;
};

// Moves every match into `out` through `emit`, each handle once, stopping at `limit`. `out` is
// reserved once, on huge pages when large.
template <class Out, class Emit>
void merge_into(std::vector<ElementList>& parts, std::size_t total,
                std::optional<std::size_t> limit, std::vector<Out>& out, Emit emit) {
    const std::size_t wanted = limit ? std::min(*limit, total) : total;
    out.reserve(wanted);
    memory::advise_huge_pages(out.data(), out.capacity() * sizeof(Out));
    FirstOccurrence first(parts, total);
    for (auto& part : parts) {
        for (auto& d : part) {
            if (out.size() == wanted) return;
            if (first.keep(d)) emit(out, std::move(d));
        }
    }
}

}  // namespace

Result<std::vector<ElementData>> Locator::resolve_group(const SelectorGroup& group,
                                                        std::optional<std::size_t> limit) const {
    const Provider& provider = *provider_;
    if (!scope_) {
        auto found = VEMOR_TRY(match_desktop(group));
        if (found.parts.size() == 1) {
            // One list (one application): it becomes the result itself, its duplicates removed
            // in place.
            auto& only = found.parts.front();
            FirstOccurrence first(found.parts, only.size());
            std::size_t kept = 0;
            for (std::size_t i = 0; i < only.size(); ++i) {
                if (!first.keep(only[i])) continue;
                if (kept != i) only[kept] = std::move(only[i]);
                ++kept;
            }
            only.resize(limit ? std::min(*limit, kept) : kept);
            return std::move(only);
        }
        std::vector<ElementData> out;
        merge_into(found.parts, found.total, limit, out,
                   [](std::vector<ElementData>& o, ElementData&& d) { o.push_back(std::move(d)); });
        return out;
    }

    std::vector<ElementData> roots;
    if (for_app_) roots = VEMOR_TRY(provider.app_roots(*scope_));
    if (roots.empty()) return provider.find_elements_group(&*scope_, group, limit, {});
    if (roots.size() == 1) return provider.find_elements_group(&roots.front(), group, limit, {});

    // Several roots of one application: their windows are gathered under the scope, each
    // window once, and the core walks that merged tree.
    std::vector<ElementData> windows;
    std::unordered_set<std::string> keys;
    for (const auto& root : roots) {
        auto children = VEMOR_TRY(provider.get_children(&root));
        for (auto& c : children)
            if (keys.insert(app::same_window_identity_key(c)).second)
                windows.push_back(std::move(c));
    }
    const std::uint64_t scope_handle = scope_->handle;
    selector::ChildrenFn children = [&](const ElementData* node) -> Result<ElementList> {
        if (node && node->handle == scope_handle) return windows;
        return provider.get_children(node);
    };
    return selector::find_elements_in_tree_group(children, &*scope_, group, limit, {});
}

Result<ElementData> Locator::resolve_data() const {
    auto group = VEMOR_TRY(SelectorGroup::parse(selector_));
    const std::uint64_t index = nth_ ? *nth_ - 1 : 0;
    // Several clauses are merged into document order first, so a limit cannot cut early.
    std::optional<std::size_t> limit;
    if (group.selectors.size() == 1) limit = static_cast<std::size_t>(index) + 1;
    auto list = VEMOR_TRY(resolve_group(group, limit));
    if (index < list.size()) return std::move(list[index]);
    Error::SelectorNotMatched miss{selector_, std::nullopt};
    if (!list.empty())
        miss.diagnosis = Diagnosis{}.with_last_observed(fmt::format(
            "selector matched {} element(s); nth({}) requested", list.size(), index + 1));
    return fail(std::move(miss));
}

Result<std::vector<Element>> Locator::elements() const {
    auto group = VEMOR_TRY(SelectorGroup::parse(selector_));
    if (scope_) return element::bind_all(VEMOR_TRY(resolve_group(group, std::nullopt)), provider_);
    // The whole desktop: the provider's lists are merged straight into the elements.
    auto found = VEMOR_TRY(match_desktop(group));
    std::vector<Element> out;
    merge_into(
        found.parts, found.total, std::nullopt, out,
        [&](std::vector<Element>& o, ElementData&& d) { o.emplace_back(std::move(d), provider_); });
    return out;
}

Result<std::size_t> Locator::count() const {
    auto group = VEMOR_TRY(SelectorGroup::parse(selector_));
    auto list = VEMOR_TRY(resolve_group(group, std::nullopt));
    return list.size();
}

Result<Element> Locator::element() const {
    auto found = resolve_data();
    if (found) return Element(std::move(*found), provider_);
    const auto* miss = found.error().as<Error::SelectorNotMatched>();
    if (!miss) return fail(std::move(found).error());
    Diagnosis diagnosis = miss->diagnosis.value_or(Diagnosis{});
    fill_miss_context(diagnosis);
    return fail(Error::diagnose(Error::SelectorNotMatched{miss->selector, std::nullopt},
                                std::move(diagnosis)));
}

Result<bool> Locator::exists() const {
    auto found = resolve_data();
    if (found) return true;
    if (is_miss(found.error())) return false;
    return fail(std::move(found).error());
}

Result<TreeNode> Locator::tree(std::optional<std::size_t> max_depth) const {
    auto target = VEMOR_TRY(element());
    return target.tree(max_depth);
}

Result<std::string> Locator::dump(std::optional<std::size_t> max_depth) const {
    auto target = VEMOR_TRY(element());
    return target.dump(max_depth);
}

// ---- Waits -------------------------------------------------------------------------------

Result<std::optional<ElementData>> Locator::poll(
    Duration timeout, const std::string& condition,
    const std::function<bool(const ElementData*)>& satisfied) const {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = config::deadline_after(start, timeout);
    bool ever_matched = false;
    for (;;) {
        std::optional<ElementData> current;
        auto found = resolve_data();
        if (found) {
            current = std::move(*found);
            ever_matched = true;
        } else if (!is_miss(found.error())) {
            return fail(std::move(found).error());
        }
        if (satisfied(ptr(current))) return current;
        const auto now = Clock::now();
        if (now >= deadline)
            return fail(diagnose_timeout(std::chrono::duration_cast<Duration>(now - start),
                                         condition, ptr(current), ever_matched));
        std::this_thread::sleep_for(kWaitPollInterval);
    }
}

Result<std::optional<Element>> Locator::wait_for_state(WaitState state, Duration timeout) const {
    auto satisfied = [state](const ElementData* d) {
        switch (state) {
            case WaitState::Attached:
                return d != nullptr;
            case WaitState::Detached:
                return d == nullptr;
            case WaitState::Visible:
                return d && d->states.visible;
            case WaitState::Hidden:
                return !d || !d->states.visible;
            case WaitState::Enabled:
                return d && d->states.enabled;
            case WaitState::Disabled:
                return d && !d->states.enabled;
            case WaitState::Focused:
                return d && d->states.focused;
            case WaitState::Unfocused:
                return d && !d->states.focused;
        }
        return false;
    };
    auto found = VEMOR_TRY(poll(timeout, std::string(wait_state::to_snake_case(state)), satisfied));
    if (state == WaitState::Detached || state == WaitState::Hidden || !found)
        return std::optional<Element>();
    return std::optional<Element>(Element(std::move(*found), provider_));
}

namespace {
// The states that only hold for a present target always come back with the element.
Result<Element> present(Result<std::optional<Element>> r) {
    if (!r) return fail(std::move(r).error());
    if (!r->has_value()) return fail(Error::Platform{-1, "wait ended without its target"});
    return std::move(**r);
}
Result<void> absent(Result<std::optional<Element>> r) {
    VEMOR_TRY_VOID(std::move(r));
    return {};
}
}  // namespace

Result<Element> Locator::wait_attached(Duration timeout) const {
    return present(wait_for_state(WaitState::Attached, timeout));
}
Result<void> Locator::wait_detached(Duration timeout) const {
    return absent(wait_for_state(WaitState::Detached, timeout));
}
Result<Element> Locator::wait_visible(Duration timeout) const {
    return present(wait_for_state(WaitState::Visible, timeout));
}
Result<void> Locator::wait_hidden(Duration timeout) const {
    return absent(wait_for_state(WaitState::Hidden, timeout));
}
Result<Element> Locator::wait_enabled(Duration timeout) const {
    return present(wait_for_state(WaitState::Enabled, timeout));
}
Result<Element> Locator::wait_disabled(Duration timeout) const {
    return present(wait_for_state(WaitState::Disabled, timeout));
}
Result<Element> Locator::wait_focused(Duration timeout) const {
    return present(wait_for_state(WaitState::Focused, timeout));
}
Result<Element> Locator::wait_unfocused(Duration timeout) const {
    return present(wait_for_state(WaitState::Unfocused, timeout));
}

Result<std::optional<Element>> Locator::wait_until(const Predicate& predicate,
                                                   Duration timeout) const {
    auto found = VEMOR_TRY(poll(timeout, "custom predicate", predicate));
    if (!found) return std::optional<Element>();
    return std::optional<Element>(Element(std::move(*found), provider_));
}

Result<Element> Locator::auto_wait(std::string_view action, ActionWait kind) const {
    const Duration timeout = VEMOR_TRY(config::default_timeout());
    const bool strict = kind == ActionWait::Strict;
    auto condition =
        fmt::format("{} target actionable ({})", action, strict ? "visible && enabled" : "enabled");
    auto actionable = [strict](const ElementData* d) {
        return d && d->states.enabled && (!strict || d->states.visible);
    };
    auto found = VEMOR_TRY(poll(timeout, condition, actionable));
    return Element(std::move(*found), provider_);
}

// ---- Diagnoses ---------------------------------------------------------------------------

Error Locator::diagnose_timeout(Duration elapsed, std::string condition,
                                const ElementData* last_seen, bool ever_matched) const {
    Diagnosis diagnosis = Diagnosis{}.with_condition(std::move(condition)).with_selector(selector_);
    if (last_seen) {
        diagnosis.last_observed = fmt::format(
            "matched {} (visible={}, enabled={}, focused={})", locator::short_describe(*last_seen),
            last_seen->states.visible, last_seen->states.enabled, last_seen->states.focused);
    } else if (ever_matched) {
        diagnosis.last_observed = "selector matched earlier in the wait but no longer matches";
    } else {
        diagnosis.last_observed = "selector never matched";
        fill_miss_context(diagnosis);
    }
    return Error::diagnose(Error::Timeout{elapsed, std::nullopt}, std::move(diagnosis));
}

void Locator::fill_miss_context(Diagnosis& diagnosis) const {
    if (diagnosis.candidates.empty()) {
        // Elements of the role the selector asked for, whatever their names: the near misses.
        auto parsed = SelectorGroup::parse(selector_);
        if (parsed && !parsed->selectors.empty() && !parsed->selectors.front().segments.empty()) {
            const RoleConstraint& role = parsed->selectors.front().segments.back().simple.role;
            if (!std::holds_alternative<AnyRole>(role)) {
                SelectorGroup by_role{
                    {Selector{{SelectorSegment{SimpleSelector{role, {}, {}}, std::nullopt}}}}};
                auto found = resolve_group(by_role, kMaxCandidates);
                if (found) {
                    for (const auto& d : *found) {
                        if (diagnosis.candidates.size() == kMaxCandidates) break;
                        diagnosis.candidates.push_back(locator::short_describe(d));
                    }
                } else {
                    diagnosis.candidates.push_back(
                        fmt::format("(candidate search failed: {})", found.error()));
                }
            }
        }
    }
    if (!diagnosis.scope) diagnosis.scope = scope_summary();
}

std::string Locator::scope_summary() const {
    // Names and values are written escaped: every line feed of the summary is its own.
    if (scope_) {
        auto tree = Element(*scope_, provider_).tree(kScopeDumpDepth);
        if (!tree) return fmt::format("(scope dump failed: {})", tree.error());
        std::string dumped;
        element::write_tree_node_escaped(*tree, 0, dumped);
        auto lines = split_lines(dumped);
        if (lines.size() <= kMaxScopeLines) return join_lines(lines);
        return fmt::format("{}\n… (+{} more lines truncated)",
                           join_lines(std::span(lines).first(kMaxScopeLines)),
                           lines.size() - kMaxScopeLines);
    }
    auto apps = provider_->list_apps();
    if (!apps) return fmt::format("(application enumeration failed: {})", apps.error());
    std::string out;
    for (std::size_t i = 0; i < apps->size() && i < kMaxScopeApps; ++i) {
        const auto& a = (*apps)[i];
        if (i) out += '\n';
        fmt::format_to(std::back_inserter(out), "application \"{}\"",
                       text::escape_controls(a.name.value_or("")));
        if (a.pid) fmt::format_to(std::back_inserter(out), " (pid={})", *a.pid);
    }
    if (apps->size() > kMaxScopeApps)
        fmt::format_to(std::back_inserter(out), "\n… (+{} more applications)",
                       apps->size() - kMaxScopeApps);
    return out;
}

// ---- Actions -----------------------------------------------------------------------------

#define VEMOR_LOCATOR_ELEMENT_ACTION(op)                             \
    Result<void> Locator::op() const {                               \
        auto target = VEMOR_TRY(auto_wait(#op, ActionWait::Strict)); \
        return provider_->op(target.data());                         \
    }

VEMOR_LOCATOR_ELEMENT_ACTION(press)
VEMOR_LOCATOR_ELEMENT_ACTION(focus)
VEMOR_LOCATOR_ELEMENT_ACTION(blur)
VEMOR_LOCATOR_ELEMENT_ACTION(toggle)
VEMOR_LOCATOR_ELEMENT_ACTION(select)
VEMOR_LOCATOR_ELEMENT_ACTION(expand)
VEMOR_LOCATOR_ELEMENT_ACTION(collapse)
VEMOR_LOCATOR_ELEMENT_ACTION(show_menu)
VEMOR_LOCATOR_ELEMENT_ACTION(increment)
VEMOR_LOCATOR_ELEMENT_ACTION(decrement)

#undef VEMOR_LOCATOR_ELEMENT_ACTION

Result<void> Locator::set_value(std::string_view text) const {
    auto target = VEMOR_TRY(auto_wait("set_value", ActionWait::Strict));
    return provider_->set_value(target.data(), text);
}

Result<void> Locator::type_text(std::string_view text) const {
    auto target = VEMOR_TRY(auto_wait("type_text", ActionWait::Strict));
    return provider_->type_text(target.data(), text);
}

Result<void> Locator::set_numeric_value(double value) const {
    if (!std::isfinite(value))
        return fail(Error::InvalidActionData{fmt::format(
            "set_numeric_value requires a finite value, got {}", text::float_display(value))});
    auto target = VEMOR_TRY(auto_wait("set_numeric_value", ActionWait::Strict));
    return provider_->set_numeric_value(target.data(), value);
}

Result<void> Locator::select_text(std::uint32_t start, std::uint32_t end) const {
    if (start > end)
        return fail(Error::InvalidActionData{
            fmt::format("select_text start ({}) must be <= end ({})", start, end)});
    auto target = VEMOR_TRY(auto_wait("select_text", ActionWait::Strict));
    return provider_->set_text_selection(target.data(), start, end);
}

Result<void> Locator::perform_action(std::string_view name) const {
    if (name == "close") return close();
    if (name == "restore") return restore();
    if (name == "activate") return activate();
    if (name == "minimize") return minimize();
    if (name == "maximize") return maximize();
    if (name == "enter_fullscreen") return enter_fullscreen();
    auto target = VEMOR_TRY(auto_wait("perform_action", ActionWait::Strict));
    return target.perform_action(name);
}

Result<void> Locator::scroll_into_view() const {
    auto target = VEMOR_TRY(auto_wait("scroll_into_view", ActionWait::EnabledOnly));
    return provider_->scroll_into_view(target.data());
}

Result<Element> Locator::window_target(std::string_view action) const {
    auto target = VEMOR_TRY(auto_wait(action, ActionWait::EnabledOnly));
    VEMOR_TRY_VOID(target.require_window_like(action));
    return target;
}

#define VEMOR_LOCATOR_WINDOW_ACTION(op)              \
    Result<void> Locator::op() const {               \
        auto target = VEMOR_TRY(window_target(#op)); \
        return provider_->op(target.data());         \
    }

VEMOR_LOCATOR_WINDOW_ACTION(activate)
VEMOR_LOCATOR_WINDOW_ACTION(minimize)
VEMOR_LOCATOR_WINDOW_ACTION(maximize)
VEMOR_LOCATOR_WINDOW_ACTION(enter_fullscreen)
VEMOR_LOCATOR_WINDOW_ACTION(restore)
VEMOR_LOCATOR_WINDOW_ACTION(close)

#undef VEMOR_LOCATOR_WINDOW_ACTION

Result<void> Locator::move_to(std::int32_t x, std::int32_t y) const {
    auto target = VEMOR_TRY(window_target("move_to"));
    return provider_->move_to(target.data(), x, y);
}

Result<void> Locator::resize_to(std::uint32_t width, std::uint32_t height) const {
    if (width == 0 || height == 0)
        return fail(Error::InvalidActionData{
            fmt::format("resize_to requires positive width and height, got {}x{}", width, height)});
    auto target = VEMOR_TRY(window_target("resize_to"));
    return provider_->resize_to(target.data(), width, height);
}

}  // namespace vemor
