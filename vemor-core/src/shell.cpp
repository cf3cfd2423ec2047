#include "vemor/shell.hpp"

#include <chrono>
#include <thread>
#include <utility>

#include "vemor/config.hpp"
#include "vemor/locator.hpp"
#include "vemor/provider.hpp"

namespace vemor {
namespace {

constexpr std::size_t kMaxSurfaceCandidates = 20;

std::string surface_name(ShellSurfaceKind kind, const ElementData& data) {
    if (data.name && !data.name->empty()) return *data.name;
    return std::string(shell_surface_kind::to_snake_case(kind));
}

}  // namespace

ShellSurface::ShellSurface(ShellSurfaceKind kind, ElementData data, ProviderHandle provider)
    : data_(std::move(data)),
      name_(surface_name(kind, data_)),
      pid_(data_.pid),
      provider_(std::move(provider)),
      kind_(kind) {
    // The kind is ours to state: it replaces whatever the provider put under the key.
    data_.raw["shell_kind"] = Json(std::string(shell_surface_kind::to_snake_case(kind)));
}

Result<std::vector<ShellSurface>> ShellSurface::list_with(const ProviderHandle& provider) {
    auto pairs = VEMOR_TRY(provider->list_shell_surfaces());
    std::vector<ShellSurface> out;
    out.reserve(pairs.size());
    for (auto& [kind, data] : pairs) out.emplace_back(kind, std::move(data), provider);
    return out;
}

Result<ShellSurface> ShellSurface::by_kind_with(const ProviderHandle& provider,
                                                ShellSurfaceKind kind, Duration timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = config::deadline_after(Clock::now(), timeout);
    const auto kind_name = shell_surface_kind::to_snake_case(kind);
    const std::string selector = fmt::format("shell_surface[kind={}]", kind_name);
    for (;;) {
        auto surfaces = VEMOR_TRY(list_with(provider));
        std::vector<ShellSurface> matching;
        std::vector<ShellSurface> others;
        for (auto& s : surfaces) (s.kind() == kind ? matching : others).push_back(std::move(s));
        if (matching.size() > 1) {
            Diagnosis diagnosis =
                Diagnosis{}
                    .with_condition(fmt::format("exactly one {} shell surface", kind_name))
                    .with_last_observed(fmt::format(
                        "{} {} surfaces are present; disambiguate with ShellSurface::list() "
                        "and pick by pid",
                        matching.size(), kind_name))
                    .with_candidates(shell::surface_candidates(matching));
            return fail(Error::diagnose(Error::SelectorNotMatched{selector, std::nullopt},
                                        std::move(diagnosis)));
        }
        if (matching.size() == 1) return std::move(matching.front());
        if (Clock::now() >= deadline) {
            Diagnosis diagnosis =
                Diagnosis{}
                    .with_condition(fmt::format("a {} shell surface", kind_name))
                    .with_last_observed(
                        fmt::format("no {} surface present; {} other shell surface(s) enumerated",
                                    kind_name, others.size()))
                    .with_candidates(shell::surface_candidates(others));
            return fail(Error::diagnose(Error::SelectorNotMatched{selector, std::nullopt},
                                        std::move(diagnosis)));
        }
        std::this_thread::sleep_for(kWaitPollInterval);
    }
}

Element ShellSurface::as_element() const { return Element(data_, provider_); }

Result<std::vector<Element>> ShellSurface::children() const {
    return element::bind_all(VEMOR_TRY(provider_->get_children(&data_)), provider_);
}

Locator ShellSurface::locator(std::string_view selector) const {
    return Locator(provider_, data_, std::string(selector));
}

namespace shell {

std::vector<std::string> surface_candidates(std::span<const ShellSurface> surfaces) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < surfaces.size() && i < kMaxSurfaceCandidates; ++i) {
        const auto& s = surfaces[i];
        std::string line = fmt::format("{} \"{}\"", s.kind(), s.name());
        if (s.pid()) line += fmt::format(" (pid={})", *s.pid());
        lines.push_back(std::move(line));
    }
    if (surfaces.size() > kMaxSurfaceCandidates)
        lines.push_back(fmt::format("… (+{} more)", surfaces.size() - kMaxSurfaceCandidates));
    return lines;
}

}  // namespace shell
}  // namespace vemor
