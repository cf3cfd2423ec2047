#include "vemor/config.hpp"

#include <cmath>
#include <cstdlib>
#include <mutex>

#include <fmt/format.h>

namespace vemor::config {
namespace {

std::mutex g_programmatic_mutex;
std::optional<Duration> g_programmatic;

using EnvOutcome = std::expected<std::optional<Duration>, std::string>;

const EnvOutcome& env_default() {
    static const EnvOutcome outcome = [] {
        const char* raw = std::getenv(std::string(kTimeoutEnvVar).c_str());
        return parse_timeout_env(raw ? std::optional<std::string_view>(raw) : std::nullopt);
    }();
    return outcome;
}

}  // namespace

std::optional<Duration> duration_from_secs(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return std::nullopt;
    double ns = std::round(seconds * 1e9);
    // Duration::max() is 2^63 - 1 ns, which rounds up to 2^63 as a double.
    if (ns >= 9223372036854775807.0) return Duration::max();
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
    auto room = Clock::time_point::max() - now;
    if (timeout >= std::chrono::duration_cast<Duration>(room)) return Clock::time_point::max();
    return now + std::chrono::duration_cast<Clock::duration>(timeout);
}

}  // namespace vemor::config
