// The one error type of the command-line tool and of the MCP tools that reuse its helpers. The
// variant decides the report: usage errors exit with 2, the rest with 1; the MCP server maps
// each to a failure kind.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "vemor/error.hpp"

namespace vemor::cli {

enum class CliErrorKind : std::uint8_t {
    Usage,
    Message,
    AmbiguousSelector,
    AmbiguousShellSurface,
    Subscription,
    Core,
};

class CliError {
public:
    // "usage error: {message}"
    struct Usage {
        std::string message;
        bool operator==(const Usage&) const = default;
    };
    // The message alone.
    struct Message {
        std::string message;
        bool operator==(const Message&) const = default;
    };
    // A selector that an operation on exactly one element matched `count` times.
    struct AmbiguousSelector {
        std::size_t count = 0;
        Diagnosis diagnosis;
        bool operator==(const AmbiguousSelector&) const = default;
    };
    // `count` shell surfaces of kind `kind` (its snake_case name) where one was needed.
    struct AmbiguousShellSurface {
        std::size_t count = 0;
        std::string kind;
        Diagnosis diagnosis;
        bool operator==(const AmbiguousShellSurface&) const = default;
    };
    // An MCP event subscription id that is unknown (`expired` clear) or closed (`expired` set);
    // `open` lists the ids still open.
    struct Subscription {
        std::string id;
        bool expired = false;
        std::vector<std::string> open;
        bool operator==(const Subscription&) const = default;
    };
    // A core error, shown as its own text.
    struct Core {
        Error error;
        bool operator==(const Core&) const = default;
    };

    using Variant =
        std::variant<Usage, Message, AmbiguousSelector, AmbiguousShellSurface, Subscription, Core>;

    template <class K>
        requires std::is_constructible_v<Variant, K&&> &&
                 (!std::is_same_v<std::remove_cvref_t<K>, CliError>)
    CliError(K&& kind) : v_(std::forward<K>(kind)) {}
    // Every core error passes on unchanged as `Core`.
    CliError(Error error) : v_(Core{std::move(error)}) {}

    static CliError usage(std::string message) { return Usage{std::move(message)}; }
    static CliError message_only(std::string message) { return Message{std::move(message)}; }

    CliErrorKind kind() const { return static_cast<CliErrorKind>(v_.index()); }
    const Variant& variant() const { return v_; }
    template <class K>
    const K* as() const {
        return std::get_if<K>(&v_);
    }
    template <class K>
    bool is() const {
        return std::holds_alternative<K>(v_);
    }
    // The core error of a `Core`, else nullptr.
    const Error* core() const;

    // The display text (`CliError::fmt`).
    std::string message() const;

    bool operator==(const CliError&) const = default;

private:
    Variant v_;
};

template <class T>
using CliResult = std::expected<T, CliError>;

inline std::unexpected<CliError> fail_cli(CliError e) {
    return std::unexpected<CliError>(std::move(e));
}
inline std::unexpected<CliError> usage_error(std::string message) {
    return std::unexpected<CliError>(CliError::Usage{std::move(message)});
}

// The 14 event-kind names in event-kind order, built once per process.
const std::vector<std::string_view>& event_kind_names();

}  // namespace vemor::cli

// Early return for `CliResult` (and `Result`, whose error becomes `CliError::Core`):
// `auto x = VEMOR_CLI_TRY(f());` / `VEMOR_CLI_TRY_VOID(g());`.
#define VEMOR_CLI_TRY(expr)                                                            \
    ({                                                                                 \
        auto&& vemor_cli_try_result_ = (expr);                                         \
        if (!vemor_cli_try_result_)                                                    \
            return ::vemor::cli::fail_cli(                                             \
                ::vemor::cli::CliError(std::move(vemor_cli_try_result_).error()));     \
        std::move(*vemor_cli_try_result_);                                             \
    })

#define VEMOR_CLI_TRY_VOID(expr)                                                       \
    do {                                                                               \
        auto&& vemor_cli_try_result_ = (expr);                                         \
        if (!vemor_cli_try_result_)                                                    \
            return ::vemor::cli::fail_cli(                                             \
                ::vemor::cli::CliError(std::move(vemor_cli_try_result_).error()));     \
    } while (0)

template <>
struct fmt::formatter<vemor::cli::CliError> : fmt::formatter<std::string_view> {
    auto format(const vemor::cli::CliError& e, fmt::format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(e.message(), ctx);
    }
};
