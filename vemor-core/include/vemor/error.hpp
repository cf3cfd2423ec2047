// The one error type of the system, the near-miss `Diagnosis` that two of its kinds carry, and
// `Result<T>`, the return type of every fallible operation.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "vemor/role.hpp"
#include "vemor/text.hpp"

namespace vemor {

// What a failed wait or search was looking for and what it saw instead. The builders are named
// `with_*` because C++ cannot give a member function and a field the same name.
//
// The fields hold the texts as observed (a candidate's name keeps its line feeds); the scope is
// a laid-out dump whose desktop texts are escaped already, since only its own line feeds may
// break its lines.
struct Diagnosis {
    std::optional<std::string> condition;
    std::optional<std::string> selector;
    std::optional<std::string> last_observed;
    std::vector<std::string> candidates;
    std::optional<std::string> scope;

    Diagnosis with_condition(std::string text) &&;
    Diagnosis with_selector(std::string text) &&;
    Diagnosis with_last_observed(std::string text) &&;
    Diagnosis with_candidates(std::vector<std::string> lines) &&;

    bool empty() const;
    // "; waiting for: ...; selector: ...; last observed: ...; candidates: a, b" and the scope
    // block, each part only when present. The last observed text and the candidates have
    // their control characters escaped (`text::escape_controls`), line feeds included.
    std::string to_string() const;

    bool operator==(const Diagnosis&) const = default;
};

// The thirteen kinds, in their fixed order (the order is the kind's number).
enum class ErrorKind : std::uint8_t {
    PermissionDenied,
    AccessibilityNotEnabled,
    SelectorNotMatched,
    ElementStale,
    ActionNotSupported,
    TextValueNotSupported,
    Timeout,
    InvalidSelector,
    InvalidActionData,
    InvalidConfig,
    NoElementBounds,
    Unsupported,
    Platform,
};

// A kind with its fields. Each kind is a nested struct and `Error` holds exactly one of them;
// an `Error` converts implicitly from any kind, so `return fail(Error::Timeout{...})` reads as
// the kind it builds.
class Error {
public:
    struct PermissionDenied {
        std::string instructions;
        bool operator==(const PermissionDenied&) const = default;
    };
    struct AccessibilityNotEnabled {
        std::string app;
        std::string instructions;
        bool operator==(const AccessibilityNotEnabled&) const = default;
    };
    struct SelectorNotMatched {
        std::string selector;
        std::optional<Diagnosis> diagnosis;
        bool operator==(const SelectorNotMatched&) const = default;
    };
    struct ElementStale {
        std::string selector;
        bool operator==(const ElementStale&) const = default;
    };
    struct ActionNotSupported {
        std::string action;
        Role role = Role::Unknown;
        bool operator==(const ActionNotSupported&) const = default;
    };
    struct TextValueNotSupported {
        bool operator==(const TextValueNotSupported&) const = default;
    };
    struct Timeout {
        Duration elapsed{};
        std::optional<Diagnosis> diagnosis;
        bool operator==(const Timeout&) const = default;
    };
    struct InvalidSelector {
        std::string selector;
        std::string message;
        bool operator==(const InvalidSelector&) const = default;
    };
    struct InvalidActionData {
        std::string message;
        bool operator==(const InvalidActionData&) const = default;
    };
    struct InvalidConfig {
        std::string message;
        bool operator==(const InvalidConfig&) const = default;
    };
    struct NoElementBounds {
        bool operator==(const NoElementBounds&) const = default;
    };
    struct Unsupported {
        std::string feature;
        bool operator==(const Unsupported&) const = default;
    };
    struct Platform {
        std::int64_t code = 0;
        std::string message;
        bool operator==(const Platform&) const = default;
    };

    // Alternatives in the order of `ErrorKind`.
    using Variant =
        std::variant<PermissionDenied, AccessibilityNotEnabled, SelectorNotMatched, ElementStale,
                     ActionNotSupported, TextValueNotSupported, Timeout, InvalidSelector,
                     InvalidActionData, InvalidConfig, NoElementBounds, Unsupported, Platform>;

    template <class K>
        requires std::is_constructible_v<Variant, K&&> &&
                 (!std::is_same_v<std::remove_cvref_t<K>, Error>)
    Error(K&& kind) : v_(std::forward<K>(kind)) {}

    ErrorKind kind() const { return static_cast<ErrorKind>(v_.index()); }
    const Variant& variant() const { return v_; }

    // The kind's fields, or nullptr when the error is of another kind.
    template <class K>
    const K* as() const {
        return std::get_if<K>(&v_);
    }
    template <class K>
    bool is() const {
        return std::holds_alternative<K>(v_);
    }

    // The diagnosis of a `SelectorNotMatched` or `Timeout`, if any.
    const Diagnosis* diagnosis() const;

    // Replaces the diagnosis of the two diagnosed kinds (an empty diagnosis removes it); every
    // other kind is returned unchanged.
    static Error diagnose(Error error, Diagnosis diagnosis);

    // The display text: the kind's message, with the diagnosis suffix for the diagnosed kinds.
    std::string message() const;
    // The kind's name followed by its fields by name ("Platform { code: -1, message: \"x\" }").
    std::string debug() const;

    bool operator==(const Error&) const = default;

private:
    Variant v_;
};

// Debug name of a kind ("SelectorNotMatched").
std::string_view to_string(ErrorKind kind);

namespace error {
// The text appended to the diagnosed messages: empty without a diagnosis or for an empty one.
std::string diagnosis_suffix(const std::optional<Diagnosis>& diagnosis);
}  // namespace error

template <class T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(Error e) { return std::unexpected<Error>(std::move(e)); }

}  // namespace vemor

// Early return on error: `auto x = VEMOR_TRY(f());` yields the value or returns the error from
// the enclosing function. Use `VEMOR_TRY_VOID(g());` for a `Result<void>`.
#define VEMOR_TRY(expr)                                                   \
    ({                                                                    \
        auto&& vemor_try_result_ = (expr);                                \
        if (!vemor_try_result_)                                           \
            return ::vemor::fail(std::move(vemor_try_result_).error());   \
        std::move(*vemor_try_result_);                                    \
    })

#define VEMOR_TRY_VOID(expr)                                              \
    do {                                                                  \
        auto&& vemor_try_result_ = (expr);                                \
        if (!vemor_try_result_)                                           \
            return ::vemor::fail(std::move(vemor_try_result_).error());   \
    } while (0)

template <>
struct fmt::formatter<vemor::Error> : fmt::formatter<std::string_view> {
    auto format(const vemor::Error& e, fmt::format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(e.message(), ctx);
    }
};

template <>
struct fmt::formatter<vemor::Diagnosis> : fmt::formatter<std::string_view> {
    auto format(const vemor::Diagnosis& d, fmt::format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(d.to_string(), ctx);
    }
};
