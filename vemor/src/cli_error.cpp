#include "vemor/facade/cli_error.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "vemor/event.hpp"

namespace vemor::cli {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

constexpr std::string_view kUnknownSubscription =
    "is not a handle this server issued: check the id against what `events_start` returned";
constexpr std::string_view kClosedSubscription =
    "is no longer open: `events_stop` closed it, or it expired after idling past the retention "
    "window `events_start` reported as `expires_after_ms`";

}  // namespace

const Error* CliError::core() const {
    const auto* c = as<Core>();
    return c ? &c->error : nullptr;
}

std::string CliError::message() const {
    return std::visit(
        Overloaded{
            [](const Usage& e) { return fmt::format("usage error: {}", e.message); },
            [](const Message& e) { return e.message; },
            [](const AmbiguousSelector& e) {
                return fmt::format(
                    "Ambiguous selector: matched {} elements, but this operation acts on exactly "
                    "one; narrow it with an attribute filter (e.g. [name=\"…\"]) or pick one with "
                    ":nth(n), 1-based{}",
                    e.count, e.diagnosis.to_string());
            },
            [](const AmbiguousShellSurface& e) {
                return fmt::format(
                    "Ambiguous shell surface: {} {} surfaces are present, but this operation "
                    "targets exactly one; pick one by process id — `--pid PID` on the command "
                    "line, the `pid` argument in MCP{}",
                    e.count, e.kind, e.diagnosis.to_string());
            },
            [](const Subscription& e) {
                std::string open =
                    e.open.empty() ? std::string("no subscriptions are open")
                                   : fmt::format("open subscriptions: {}", fmt::join(e.open, ", "));
                return fmt::format("subscription \"{}\" {}. Start another with `events_start`; {}",
                                   e.id, e.expired ? kClosedSubscription : kUnknownSubscription,
                                   open);
            },
            [](const Core& e) { return e.error.message(); },
        },
        v_);
}

const std::vector<std::string_view>& event_kind_names() {
    static const auto& names = *new std::vector<std::string_view>([] {
        std::vector<std::string_view> out;
        out.reserve(event_kind::kNames.size());
        for (const auto& entry : event_kind::kNames) out.push_back(entry.name);
        return out;
    }());
    return names;
}

}  // namespace vemor::cli
