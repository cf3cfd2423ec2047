#include "vemor/config.hpp"

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <type_traits>

#include <fmt/format.h>

namespace vemor::config {
namespace {

std::mutex g_programmatic_mutex;
std::optional<Duration> g_programmatic;

using EnvOutcome = std::expected<std::optional<Duration>, std::string>;

const EnvOutcome& env_default() {
    // Never destroyed: threads still waiting while the process exits read it.
    static const EnvOutcome& outcome = *new EnvOutcome([] {
        const char* raw = std::getenv(std::string(kTimeoutEnvVar).c_str());
        return parse_timeout_env(raw ? std::optional<std::string_view>(raw) : std::nullopt);
    }());
    return outcome;
}

}  // namespace

std::optional<Duration> duration_from_secs(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return std::nullopt;
    if (seconds == 0) return Duration::zero();  // negative zero included

    // Exact arithmetic on the float's bits: seconds = m * 2^shift with an integral m < 2^53,
    // so m * 10^9 < 2^83 fits 128 bits. Multiplying in floating point would be off by up to
    // 64 ns near the top of the range.
    using U128 = unsigned __int128;
    int exponent = 0;
    const double fraction = std::frexp(seconds, &exponent);  // in [0.5, 1)
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const int shift = exponent - 53;
    const U128 scaled = U128{mantissa} * 1'000'000'000u;
    const auto longest = static_cast<U128>(Duration::max().count());

    U128 ns = 0;
    if (shift >= 0) {
        // Far past 2^63 ns: the longest duration stands in for "wait forever".
        if (shift >= 64 || scaled > (longest >> shift)) return Duration::max();
        ns = scaled << shift;
    } else if (shift > -128) {
        const int drop = -shift;
        ns = scaled >> drop;
        const U128 rest = scaled & ((U128{1} << drop) - 1);
        const U128 half = U128{1} << (drop - 1);
        // Nearest nanosecond; an exact half goes to the even neighbour.
        if (rest > half || (rest == half && (ns & 1) != 0)) ++ns;
    }
    if (ns > longest) return Duration::max();
    return Duration(static_cast<Duration::rep>(ns));
}

std::expected<std::optional<Duration>, std::string> parse_timeout_env(
    std::optional<std::string_view> value) {
    if (!value) return std::optional<Duration>{};
    if (!text::is_valid_utf8(*value))
        return std::unexpected(fmt::format("{}: value is not valid Unicode", kTimeoutEnvVar));
    auto parsed = text::parse_f64(text::trim(*value));
    if (!parsed)
        return std::unexpected(fmt::format("{}: expected a number of seconds, got {}",
                                           kTimeoutEnvVar, text::debug_quote(*value)));
    auto d = duration_from_secs(*parsed);
    if (!d)
        return std::unexpected(
            fmt::format("{}: expected a finite, non-negative number of seconds, got {}",
                        kTimeoutEnvVar, text::debug_quote(*value)));
    return std::optional<Duration>(*d);
}

Result<Duration> default_timeout() {
    {
        std::lock_guard lock(g_programmatic_mutex);
        if (g_programmatic) return *g_programmatic;
    }
    const auto& env = env_default();
    if (!env) return fail(Error::InvalidConfig{env.error()});
    return env->value_or(kBuiltinDefaultTimeout);
}

void set_default_timeout(Duration timeout) {
    std::lock_guard lock(g_programmatic_mutex);
    g_programmatic = timeout;
}

std::chrono::steady_clock::time_point deadline_after(std::chrono::steady_clock::time_point now,
                                                     Duration timeout) {
    using Clock = std::chrono::steady_clock;
    static_assert(std::is_same_v<Clock::duration, Duration>,
                  "the steady clock counts nanoseconds on every supported platform");
    // A wait of zero or less is a single attempt: its deadline is now.
    if (timeout <= Duration::zero()) return now;
    // Compare against the room left instead of adding, which could overflow.
    if (now > Clock::time_point::max() - timeout) return Clock::time_point::max();
    return now + timeout;
}

}  // namespace vemor::config
