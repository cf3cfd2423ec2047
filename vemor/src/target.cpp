#include "vemor/facade/target.hpp"

namespace vemor::cli {
const ProviderHandle& Target::provider() const {
    if (const auto* a = app()) return a->provider();
    return shell()->provider();
}
Element Target::root() const {
    if (const auto* a = app()) return Element(a->data(), a->provider());
    return shell()->as_element();
}
Locator Target::locator(std::string_view selector) const {
    if (const auto* a = app()) return a->locator(selector);
    return shell()->locator(selector);
}
CliResult<App> resolve_app(const Opts&) { return fail_cli(CliError::Usage{"not yet"}); }
CliResult<std::vector<App>> resolve_apps(const Opts&) {
    return fail_cli(CliError::Usage{"not yet"});
}
CliResult<Target> resolve_target(const Opts&) { return fail_cli(CliError::Usage{"not yet"}); }
std::vector<std::string> describe_shell_surfaces(std::span<const ShellSurface>) { return {}; }
const std::vector<std::string_view>& shell_kind_names() {
    static const std::vector<std::string_view> names;
    return names;
}
std::vector<std::string_view> action_names() { return {}; }
CliResult<void> perform_action(const Locator&, std::string_view, const ActionArgs&) {
    return fail_cli(CliError::Usage{"not yet"});
}
}  // namespace vemor::cli
