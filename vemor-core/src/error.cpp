#include "vemor/error.hpp"

#include <array>

#include <fmt/ranges.h>

namespace vemor {

Diagnosis Diagnosis::with_condition(std::string text) && {
    condition = std::move(text);
    return std::move(*this);
}
Diagnosis Diagnosis::with_selector(std::string text) && {
    selector = std::move(text);
    return std::move(*this);
}
Diagnosis Diagnosis::with_last_observed(std::string text) && {
    last_observed = std::move(text);
    return std::move(*this);
}
Diagnosis Diagnosis::with_candidates(std::vector<std::string> lines) && {
    candidates = std::move(lines);
    return std::move(*this);
}

bool Diagnosis::empty() const {
    return !condition && !selector && !last_observed && candidates.empty() && !scope;
}

std::string Diagnosis::to_string() const {
    std::string out;
    if (condition) out += fmt::format("; waiting for: {}", *condition);
    if (selector) out += fmt::format("; selector: {}", *selector);
    // What was observed and the candidates quote the desktop: a name holding a line feed must
    // not start a line of its own, so every control character of theirs is escaped here.
    if (last_observed)
        out += fmt::format("; last observed: {}", text::escape_controls(*last_observed));
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        out += i == 0 ? "; candidates: " : ", ";
        out += text::escape_controls(candidates[i]);
    }
    if (scope) out += fmt::format("\nsearch scope (bounded):\n{}", *scope);
    return out;
}

namespace error {
std::string diagnosis_suffix(const std::optional<Diagnosis>& diagnosis) {
    if (!diagnosis || diagnosis->empty()) return {};
    return diagnosis->to_string();
}
}  // namespace error

const Diagnosis* Error::diagnosis() const {
    if (auto* e = as<SelectorNotMatched>()) return e->diagnosis ? &*e->diagnosis : nullptr;
    if (auto* e = as<Timeout>()) return e->diagnosis ? &*e->diagnosis : nullptr;
    return nullptr;
}

Error Error::diagnose(Error error, Diagnosis diagnosis) {
    auto replace = [&](std::optional<Diagnosis>& slot) {
        if (diagnosis.empty())
            slot.reset();
        else
            slot = std::move(diagnosis);
    };
    if (auto* e = std::get_if<SelectorNotMatched>(&error.v_)) replace(e->diagnosis);
    if (auto* e = std::get_if<Timeout>(&error.v_)) replace(e->diagnosis);
    return error;
}

namespace {

template <class... F>
struct Overload : F... {
    using F::operator()...;
};

std::string debug_diagnosis(const std::optional<Diagnosis>& d) {
    if (!d) return "None";
    auto opt = [](const std::optional<std::string>& s) {
        return s ? fmt::format("Some({})", text::debug_quote(*s)) : std::string("None");
    };
    std::vector<std::string> quoted;
    for (const auto& c : d->candidates) quoted.push_back(text::debug_quote(c));
    return fmt::format(
        "Some(Diagnosis {{ condition: {}, selector: {}, last_observed: {}, candidates: [{}], "
        "scope: {} }})",
        opt(d->condition), opt(d->selector), opt(d->last_observed), fmt::join(quoted, ", "),
        opt(d->scope));
}

}  // namespace

std::string Error::message() const {
    return std::visit(
        Overload{
            [](const PermissionDenied& e) {
                return fmt::format("Permission denied: {}", e.instructions);
            },
            [](const AccessibilityNotEnabled& e) {
                return fmt::format("Accessibility not enabled for {}: {}",
                                   text::escape_controls(e.app), e.instructions);
            },
            [](const SelectorNotMatched& e) {
                return fmt::format("No element matched selector: {}{}", e.selector,
                                   error::diagnosis_suffix(e.diagnosis));
            },
            [](const ElementStale& e) {
                return fmt::format(
                    "Element stale: could not relocate element for selector: {}", e.selector);
            },
            [](const ActionNotSupported& e) {
                return fmt::format("Action {} not supported on {}", e.action, e.role);
            },
            [](const TextValueNotSupported&) {
                return std::string("Text value input not supported for this element");
            },
            [](const Timeout& e) {
                return fmt::format("Timeout after {}{}", text::duration_debug_1(e.elapsed),
                                   error::diagnosis_suffix(e.diagnosis));
            },
            [](const InvalidSelector& e) {
                return fmt::format("Invalid selector '{}': {}", e.selector, e.message);
            },
            [](const InvalidActionData& e) {
                return fmt::format("Invalid action data: {}", e.message);
            },
            [](const InvalidConfig& e) {
                return fmt::format("Invalid configuration: {}", e.message);
            },
            [](const NoElementBounds&) { return std::string("Element has no bounds"); },
            [](const Unsupported& e) { return fmt::format("Unsupported: {}", e.feature); },
            [](const Platform& e) {
                return fmt::format("Platform error ({}): {}", e.code, e.message);
            },
        },
        v_);
}

std::string Error::debug() const {
    auto q = [](const std::string& s) { return text::debug_quote(s); };
    return std::visit(
        Overload{
            [&](const PermissionDenied& e) {
                return fmt::format("PermissionDenied {{ instructions: {} }}", q(e.instructions));
            },
            [&](const AccessibilityNotEnabled& e) {
                return fmt::format("AccessibilityNotEnabled {{ app: {}, instructions: {} }}",
                                   q(e.app), q(e.instructions));
            },
            [&](const SelectorNotMatched& e) {
                return fmt::format("SelectorNotMatched {{ selector: {}, diagnosis: {} }}",
                                   q(e.selector), debug_diagnosis(e.diagnosis));
            },
            [&](const ElementStale& e) {
                return fmt::format("ElementStale {{ selector: {} }}", q(e.selector));
            },
            [&](const ActionNotSupported& e) {
                return fmt::format("ActionNotSupported {{ action: {}, role: {} }}", q(e.action),
                                   role::to_camel_case(e.role));
            },
            [&](const TextValueNotSupported&) { return std::string("TextValueNotSupported"); },
            [&](const Timeout& e) {
                return fmt::format("Timeout {{ elapsed: {}, diagnosis: {} }}",
                                   text::duration_debug(e.elapsed), debug_diagnosis(e.diagnosis));
            },
            [&](const InvalidSelector& e) {
                return fmt::format("InvalidSelector {{ selector: {}, message: {} }}",
                                   q(e.selector), q(e.message));
            },
            [&](const InvalidActionData& e) {
                return fmt::format("InvalidActionData {{ message: {} }}", q(e.message));
            },
            [&](const InvalidConfig& e) {
                return fmt::format("InvalidConfig {{ message: {} }}", q(e.message));
            },
            [&](const NoElementBounds&) { return std::string("NoElementBounds"); },
            [&](const Unsupported& e) {
                return fmt::format("Unsupported {{ feature: {} }}", q(e.feature));
            },
            [&](const Platform& e) {
                return fmt::format("Platform {{ code: {}, message: {} }}", e.code, q(e.message));
            },
        },
        v_);
}

std::string_view to_string(ErrorKind kind) {
    static constexpr std::array<std::string_view, 13> kNames{
        "PermissionDenied",  "AccessibilityNotEnabled", "SelectorNotMatched", "ElementStale",
        "ActionNotSupported", "TextValueNotSupported",  "Timeout",            "InvalidSelector",
        "InvalidActionData", "InvalidConfig",           "NoElementBounds",    "Unsupported",
        "Platform"};
    auto i = static_cast<std::size_t>(kind);
    return i < kNames.size() ? kNames[i] : std::string_view{};
}

}  // namespace vemor
