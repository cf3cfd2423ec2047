#include "vemor/app.hpp"

#include <chrono>
#include <thread>
#include <unordered_set>
#include <utility>

#include <fmt/format.h>

#include "vemor/config.hpp"

namespace vemor {
namespace {

constexpr std::size_t kMaxDiagnosisApps = 20;

// One lookup attempt: the application found, or the miss to report if time runs out.
struct Attempt {
    std::optional<App> found;
    std::optional<Error> miss;
};

// An application that is not there yet is retried; every other error ends the lookup.
Result<Attempt> miss_or_fail(Error error) {
    if (error.is<Error::SelectorNotMatched>()) return Attempt{std::nullopt, std::move(error)};
    return fail(std::move(error));
}

Result<App> poll_lookup(const ProviderHandle& provider, Duration timeout,
                        const std::function<Result<Attempt>()>& attempt) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = config::deadline_after(Clock::now(), timeout);
    for (;;) {
        auto outcome = VEMOR_TRY(attempt());
        if (outcome.found) return std::move(*outcome.found);
        if (Clock::now() >= deadline)
            return fail(app::merge_diagnosis(std::move(*outcome.miss),
                                             app::running_apps_diagnosis(*provider)));
        std::this_thread::sleep_for(kWaitPollInterval);
    }
}

// Appends the elements whose window identity is new to `out`.
void append_unique(std::vector<ElementData>& out, std::unordered_set<std::string>& keys,
                   std::vector<ElementData> more) {
    for (auto& d : more)
        if (keys.insert(app::same_window_identity_key(d)).second) out.push_back(std::move(d));
}

}  // namespace

namespace app {

void dedup_processes(ElementList& list) {
    std::unordered_set<std::uint32_t> seen;
    ElementList kept;
    kept.reserve(list.size());
    for (auto& d : list)
        if (!d.pid || seen.insert(*d.pid).second) kept.push_back(std::move(d));
    list = std::move(kept);
}

Result<void> tag_focused(const Provider& provider, ElementList& list) {
    auto focused = provider.focused_app();
    if (!focused) {
        if (!focused.error().is<Error::SelectorNotMatched>()) return fail(focused.error());
        for (auto& d : list) d.states.focused = false;
        return {};
    }
    const ElementData& f = *focused;
    for (auto& d : list) {
        bool same = same_window_identity(d, f);
        if (!same && f.pid) same = d.pid == f.pid;
        d.states.focused = same;
    }
    return {};
}

Diagnosis running_apps_diagnosis(const Provider& provider) {
    Diagnosis diagnosis = Diagnosis{}.with_condition("application discovery");
    auto apps = provider.list_apps();
    if (!apps) {
        diagnosis.candidates.push_back(
            fmt::format("(application enumeration failed: {})", apps.error()));
        return diagnosis;
    }
    for (std::size_t i = 0; i < apps->size() && i < kMaxDiagnosisApps; ++i) {
        const auto& a = (*apps)[i];
        std::string line = fmt::format("\"{}\"", a.name.value_or(""));
        if (a.pid) line += fmt::format(" (pid={})", *a.pid);
        diagnosis.candidates.push_back(std::move(line));
    }
    if (apps->size() > kMaxDiagnosisApps)
        diagnosis.candidates.push_back(
            fmt::format("… (+{} more)", apps->size() - kMaxDiagnosisApps));
    return diagnosis;
}

Error merge_diagnosis(Error error, const Diagnosis& extra) {
    if (!error.is<Error::SelectorNotMatched>() && !error.is<Error::Timeout>()) return error;
    Diagnosis merged = error.diagnosis() ? *error.diagnosis() : Diagnosis{};
    if (!merged.condition) merged.condition = extra.condition;
    if (!merged.last_observed) merged.last_observed = extra.last_observed;
    if (merged.candidates.empty()) merged.candidates = extra.candidates;
    if (!merged.scope) merged.scope = extra.scope;
    return Error::diagnose(std::move(error), std::move(merged));
}

}  // namespace app

App App::from_data(ProviderHandle provider, ElementData data) {
    std::string name = data.name.value_or("");
    auto pid = data.pid;
    return App(std::move(data), std::move(name), pid, std::move(provider));
}

Result<std::vector<App>> App::list_with(const ProviderHandle& provider) {
    auto list = VEMOR_TRY(provider->list_apps());
    app::dedup_processes(list);
    VEMOR_TRY_VOID(app::tag_focused(*provider, list));
    std::vector<App> out;
    out.reserve(list.size());
    for (auto& d : list) out.push_back(from_data(provider, std::move(d)));
    return out;
}

Result<App> App::by_pid_with(const ProviderHandle& provider, std::uint32_t pid, Duration timeout) {
    return poll_lookup(provider, timeout, [&]() -> Result<Attempt> {
        auto found = provider->app_by_pid(pid);
        if (!found) return miss_or_fail(std::move(found).error());
        return Attempt{from_data(provider, std::move(*found)), std::nullopt};
    });
}

Result<App> App::by_name_with(const ProviderHandle& provider, std::string_view name,
                              Duration timeout) {
    if (name.find('"') != std::string_view::npos)
        return fail(Error::InvalidSelector{
            std::string(name),
            "app name contains a double quote, which cannot be escaped in the selector "
            "grammar; use App::find_with with a name predicate instead"});
    return poll_lookup(provider, timeout, [&]() -> Result<Attempt> {
        auto list = provider->list_apps();
        if (!list) return miss_or_fail(std::move(list).error());
        app::dedup_processes(*list);
        for (auto& d : *list)
            if (d.name && *d.name == name)
                return Attempt{from_data(provider, std::move(d)), std::nullopt};
        return Attempt{
            std::nullopt,
            Error::SelectorNotMatched{fmt::format("application[name=\"{}\"]", name), std::nullopt}};
    });
}

Result<App> App::foreground_with(const ProviderHandle& provider, Duration timeout) {
    return poll_lookup(provider, timeout, [&]() -> Result<Attempt> {
        auto found = provider->focused_app();
        if (!found) return miss_or_fail(std::move(found).error());
        found->states.focused = true;
        return Attempt{from_data(provider, std::move(*found)), std::nullopt};
    });
}

Result<App> App::find_with(const ProviderHandle& provider, const Predicate& predicate,
                           Duration timeout) {
    return find_matching(
        provider, [&](const App& candidate) -> Result<bool> { return predicate(candidate); },
        timeout);
}

Result<App> App::try_find_with(const ProviderHandle& provider, const FalliblePredicate& predicate,
                               Duration timeout) {
    return find_matching(provider, predicate, timeout);
}

Result<App> App::find_matching(const ProviderHandle& provider, const FalliblePredicate& predicate,
                               Duration timeout) {
    return poll_lookup(provider, timeout, [&]() -> Result<Attempt> {
        auto list = provider->list_apps();
        if (!list) return miss_or_fail(std::move(list).error());
        app::dedup_processes(*list);
        VEMOR_TRY_VOID(app::tag_focused(*provider, *list));
        for (auto& d : *list) {
            // A predicate's own error ends the search, even a miss: it is not the
            // application's absence.
            const bool accepted = VEMOR_TRY(predicate(from_data(provider, d)));
            if (accepted) return Attempt{from_data(provider, std::move(d)), std::nullopt};
        }
        return Attempt{std::nullopt,
                       Error::SelectorNotMatched{"application matching predicate", std::nullopt}};
    });
}

Result<std::vector<Element>> App::windows_with(const ProviderHandle& provider,
                                               const ElementData& app) {
    if (app.role != Role::Application) return fail(Error::ActionNotSupported{"windows", app.role});
    auto roots = VEMOR_TRY(provider->app_roots(app));
    std::vector<ElementData> kept;
    std::unordered_set<std::string> keys;
    for (const auto& root : roots)
        append_unique(kept, keys, VEMOR_TRY(provider->app_windows(root)));
    if (roots.size() == 1 && app.pid && provider->splits_app_across_entries()) {
        // One process listed as several entries: gather the windows of its other entries too.
        auto entries = VEMOR_TRY(provider->list_apps());
        for (const auto& entry : entries) {
            if (entry.pid != app.pid || app::same_window_identity(entry, app)) continue;
            append_unique(kept, keys, VEMOR_TRY(provider->app_windows(entry)));
        }
    }
    std::erase_if(kept, [](const ElementData& d) {
        return d.role != Role::Window && d.role != Role::Dialog;
    });
    return element::bind_all(std::move(kept), provider);
}

Result<std::vector<Element>> App::windows() const { return windows_with(provider_, data_); }

Result<std::vector<Element>> App::children() const {
    auto roots = VEMOR_TRY(provider_->app_roots(data_));
    std::vector<ElementData> kept;
    std::unordered_set<std::string> keys;
    for (const auto& root : roots)
        append_unique(kept, keys, VEMOR_TRY(provider_->get_children(&root)));
    return element::bind_all(std::move(kept), provider_);
}

Result<TreeNode> App::tree(std::optional<std::size_t> max_depth) const {
    auto node = VEMOR_TRY(element::build_tree_node(Element(data_, provider_), 0, 0));
    if (max_depth == std::size_t{0}) return node;
    std::optional<std::size_t> below;
    if (max_depth) below = *max_depth - 1;
    auto children = VEMOR_TRY(this->children());
    for (const auto& child : children)
        node.children.push_back(VEMOR_TRY(element::build_tree_node(child, below, 0)));
    return node;
}

Result<std::string> App::dump(std::optional<std::size_t> max_depth) const {
    auto node = VEMOR_TRY(tree(max_depth));
    std::string out;
    element::write_tree_node(node, 0, out);
    return out;
}

Locator App::locator(std::string_view selector) const {
    return Locator::new_for_app(provider_, data_, std::string(selector));
}

Result<Subscription> App::subscribe() const { return provider_->subscribe(data_); }

}  // namespace vemor
