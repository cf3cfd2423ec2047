// The default time-out of every auto-waiting operation: set by the program, else by the
// environment variable VEMOR_DEFAULT_TIMEOUT (read once), else 5 seconds.
#pragma once

#include <chrono>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "vemor/error.hpp"
#include "vemor/text.hpp"

namespace vemor::config {

inline constexpr std::string_view kTimeoutEnvVar = "VEMOR_DEFAULT_TIMEOUT";
inline constexpr Duration kBuiltinDefaultTimeout = std::chrono::seconds(5);

// The effective default, or `InvalidConfig` when the variable is unusable and the program has
// set no value of its own.
Result<Duration> default_timeout();

// Replaces the programmatic default; there is no way to clear it again.
void set_default_timeout(Duration timeout);

// Parses a value of VEMOR_DEFAULT_TIMEOUT (none when the variable is unset) into a duration,
// or the error message naming the variable. Seconds beyond the longest representable duration
// saturate to it.
std::expected<std::optional<Duration>, std::string> parse_timeout_env(
    std::optional<std::string_view> value);

// Converts float seconds to a duration, rounded to the nearest nanosecond and saturated at
// the longest duration; none for a negative or non-finite number.
std::optional<Duration> duration_from_secs(double seconds);

// `now + timeout` on the steady clock, saturated instead of overflowing.
std::chrono::steady_clock::time_point deadline_after(std::chrono::steady_clock::time_point now,
                                                     Duration timeout);

}  // namespace vemor::config
