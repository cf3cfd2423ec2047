// The words of a command turned into one `Opts` record, and the small parsers of the texts it
// holds: points, key names, held keys, mouse buttons and the extra argument of an action. The
// MCP tools call the same parsers with texts taken from JSON, so a tool and the command of the
// same name accept and refuse alike. Every failure is a `CliError::Usage`.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/facade/cli_error.hpp"
#include "vemor/input.hpp"
#include "vemor/text.hpp"

namespace vemor::cli {

// The 19 flags of the command line; absent flags leave their field empty. Each flag takes the
// next word as its value, whatever it looks like; the last occurrence wins, except `--annotate`,
// whose values are all kept in order. Any other word is a positional.
struct Opts {
    std::optional<std::string> app;           // --app
    std::optional<std::uint32_t> pid;         // --pid
    std::optional<std::string> shell;         // --shell
    std::optional<std::string> value;         // --value
    std::optional<std::string> size;          // --size "W,H"
    std::optional<std::string> from;          // --from "X,Y"
    std::optional<std::string> to;            // --to "X,Y"
    std::optional<std::string> at;            // --at "X,Y"
    std::optional<std::uint32_t> count;       // --count
    std::optional<std::string> held;          // --held "K,K"
    std::optional<std::uint64_t> duration_ms; // --duration-ms
    std::optional<std::string> out;           // --out
    std::vector<std::string> annotate;        // --annotate (repeatable)
    std::optional<std::string> output;        // -o
    std::optional<std::int32_t> dx;           // --dx
    std::optional<std::int32_t> dy;           // --dy
    std::optional<std::string> button;        // --button
    std::optional<std::string> region;        // --region "X,Y,W,H"
    std::optional<std::string> legend;        // --legend
    std::vector<std::string> positional;

    bool operator==(const Opts&) const = default;
};

// The checked extra argument of one action; at most one field is set.
struct ActionArgs {
    std::optional<std::string> text;                                   // set-value, type-text
    std::optional<double> number;                                      // set-numeric-value
    std::optional<std::pair<std::uint32_t, std::uint32_t>> selection;  // select-text
    std::optional<Point> point;                                        // move-to
    std::optional<std::pair<std::uint32_t, std::uint32_t>> size;       // resize-to, both > 0

    bool operator==(const ActionArgs&) const = default;
};

// The words after the command name.
CliResult<Opts> parse_opts(std::span<const std::string> words);

// A decimal integer word: ASCII digits with an optional leading "+" ("-" only for a signed
// type), nothing else, within the type's range. Instances: int32_t, uint32_t, uint64_t.
template <class T>
std::optional<T> parse_integer(std::string_view word);

// The value of a numeric flag at `words[index]` (one past the flag), or the usage error
// "invalid {flag} value '{word}' (expected {expected})" ("{flag} requires a value" when there
// is no such word). Instances: int32_t (--dx, --dy), uint32_t (--pid, --count), uint64_t
// (--duration-ms).
template <class T>
CliResult<T> flag_value_parsed(std::span<const std::string> words, std::size_t index,
                               std::string_view flag, std::string_view expected);

// "X,Y", each piece trimmed of white space; `flag` names the option in messages.
CliResult<Point> parse_point_arg(std::string_view value, std::string_view flag);

// One key name, case-sensitive: the named keys, "F<digits>" function keys and single
// characters.
CliResult<Key> parse_key_name(std::string_view name);

// Comma-separated key names; absent or empty gives no keys.
CliResult<std::vector<Key>> parse_held(std::optional<std::string_view> text);

// "left", "right" or "middle".
CliResult<MouseButton> parse_button(std::string_view name);

// The extra argument of `action` (its kebab-case name as typed) from the texts of --value,
// --at and --size; actions that take none give an empty `ActionArgs`.
CliResult<ActionArgs> parse_action_args(std::string_view action,
                                        std::optional<std::string_view> value,
                                        std::optional<std::string_view> at,
                                        std::optional<std::string_view> size);

// A millisecond count as a `Duration`, clamped to the largest duration instead of overflowing.
Duration duration_from_ms(std::uint64_t ms);

}  // namespace vemor::cli
