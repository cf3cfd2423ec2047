// Running applications: listing, lookup with waiting (by process id, by exact name, the
// foreground one, or by a caller's predicate), and an application's windows, children and tree.
// Every failed lookup carries the list of running applications in its diagnosis.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/error.hpp"
#include "vemor/event.hpp"
#include "vemor/locator.hpp"
#include "vemor/provider.hpp"
#include "vemor/text.hpp"

namespace vemor {

// One running application bound to the provider that reported it. Immutable; `data()` carries
// the foreground tag in `states.focused` when it came from a list made here.
class App {
public:
    // Accepts or rejects one candidate application.
    using Predicate = std::function<bool(const App& candidate)>;
    // As `Predicate`, but may fail; a failure ends the search at once.
    using FalliblePredicate = std::function<Result<bool>(const App& candidate)>;

    // Never fails: the name is the element's name or the empty string.
    static App from_data(ProviderHandle provider, ElementData data);

    // One enumeration, no polling: one entry per process, tagged with the foreground flag.
    static Result<std::vector<App>> list_with(const ProviderHandle& provider);
    static Result<App> by_pid_with(const ProviderHandle& provider, std::uint32_t pid,
                                   Duration timeout);
    // Exact, case-sensitive comparison with the application's name.
    static Result<App> by_name_with(const ProviderHandle& provider, std::string_view name,
                                    Duration timeout);
    static Result<App> foreground_with(const ProviderHandle& provider, Duration timeout);
    static Result<App> find_with(const ProviderHandle& provider, const Predicate& predicate,
                                 Duration timeout);
    static Result<App> try_find_with(const ProviderHandle& provider,
                                     const FalliblePredicate& predicate, Duration timeout);
    // The polling search behind both finders.
    static Result<App> find_matching(const ProviderHandle& provider,
                                     const FalliblePredicate& predicate, Duration timeout);
    // The windows and dialogs of an application element, each once, also when the provider
    // registers one process as several entries.
    static Result<std::vector<Element>> windows_with(const ProviderHandle& provider,
                                                     const ElementData& app);

    const ElementData& data() const { return data_; }
    const std::string& name() const { return name_; }
    std::optional<std::uint32_t> pid() const { return pid_; }
    const ProviderHandle& provider() const { return provider_; }

    Result<std::vector<Element>> windows() const;
    // Every child of every root, each window identity once; not filtered by role.
    Result<std::vector<Element>> children() const;
    Result<TreeNode> tree(std::optional<std::size_t> max_depth) const;
    Result<std::string> dump(std::optional<std::size_t> max_depth) const;
    Locator locator(std::string_view selector) const;
    Result<Subscription> subscribe() const;

private:
    App(ElementData data, std::string name, std::optional<std::uint32_t> pid,
        ProviderHandle provider)
        : data_(std::move(data)),
          name_(std::move(name)),
          pid_(pid),
          provider_(std::move(provider)) {}

    ElementData data_;
    std::string name_;
    std::optional<std::uint32_t> pid_;
    ProviderHandle provider_;
};

namespace app {

// Keeps the first entry of each process id, in order; entries without a pid are all kept.
void dedup_processes(ElementList& list);

// Sets each entry's `focused` state to whether it is the foreground application. "Nothing
// focused" clears every flag; any other failure is returned and leaves the list as it was.
Result<void> tag_focused(const Provider& provider, ElementList& list);

// "application discovery" with one candidate line per running application (at most 20).
Diagnosis running_apps_diagnosis(const Provider& provider);

// Fills the empty fields of a miss's or time-out's diagnosis from `extra` (never the
// selector); other kinds come back unchanged.
Error merge_diagnosis(Error error, const Diagnosis& extra);

}  // namespace app
}  // namespace vemor
