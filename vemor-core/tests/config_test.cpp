#include "vemor/config.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string>

using namespace std::chrono_literals;

namespace vemor {
namespace {

TEST(Config, ParsesTheEnvironmentValue) {
    struct Case {
        std::optional<std::string_view> value;
        std::optional<Duration> expected;  // none: an error is expected
        std::string_view message;
    } cases[] = {
        {std::nullopt, Duration{-1}, ""},  // unset: no value (checked below)
        {" 2.5 ", 2500ms, ""},
        {"0", 0s, ""},
        {"-0", 0s, ""},
        {"+3", 3s, ""},
        {"1e-400", 0s, ""},
        {"0.0000000005", 1ns, ""},
        {"1e300", Duration::max(), ""},
        {"-1", std::nullopt,
         "VEMOR_DEFAULT_TIMEOUT: expected a finite, non-negative number of seconds, got \"-1\""},
        {"inf", std::nullopt,
         "VEMOR_DEFAULT_TIMEOUT: expected a finite, non-negative number of seconds, got \"inf\""},
        {"NaN", std::nullopt,
         "VEMOR_DEFAULT_TIMEOUT: expected a finite, non-negative number of seconds, got \"NaN\""},
        {"1e400", std::nullopt,
         "VEMOR_DEFAULT_TIMEOUT: expected a finite, non-negative number of seconds, got "
         "\"1e400\""},
        {"", std::nullopt, "VEMOR_DEFAULT_TIMEOUT: expected a number of seconds, got \"\""},
        {"  ", std::nullopt, "VEMOR_DEFAULT_TIMEOUT: expected a number of seconds, got \"  \""},
        {"5s", std::nullopt, "VEMOR_DEFAULT_TIMEOUT: expected a number of seconds, got \"5s\""},
        {"abc\t", std::nullopt,
         "VEMOR_DEFAULT_TIMEOUT: expected a number of seconds, got \"abc\\t\""},
        {"\xff", std::nullopt, "VEMOR_DEFAULT_TIMEOUT: value is not valid Unicode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.value_or("<unset>"));
        auto r = config::parse_timeout_env(c.value);
        if (!c.value) {
            ASSERT_TRUE(r);
            EXPECT_EQ(*r, std::nullopt);
        } else if (c.expected) {
            ASSERT_TRUE(r) << r.error();
            EXPECT_EQ(*r, c.expected);
        } else {
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error(), c.message);
        }
    }
}

TEST(Config, SecondsRoundToTheNearestNanosecond) {
    struct Case {
        double seconds;
        std::optional<Duration> expected;
    } cases[] = {
        {2.5, 2500ms},
        {-0.0, 0ns},
        {1e-9, 1ns},
        {4e-10, 0ns},
        // Exact, not through a rounded product: the float is 123456789.1234567910432...
        {123456789.123456789, 123456789123456791ns},
        // Exact halves go to the even neighbour: 2^-10 s and 3 * 2^-10 s.
        {0.0009765625, 976562ns},
        {0.0029296875, 2929688ns},
        {9223372036.8547754, 9223372036854774475ns},
        {9223372036.854775807, Duration::max()},
        {1.8446744073709552e19, Duration::max()},
        {std::numeric_limits<double>::max(), Duration::max()},
        {std::numeric_limits<double>::denorm_min(), 0ns},
        {-1e-300, std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt},
        {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(config::duration_from_secs(c.seconds), c.expected);
    }
}

TEST(Config, DeadlinesSaturate) {
    using Clock = std::chrono::steady_clock;
    struct Case {
        Clock::time_point now;
        Duration timeout;
        Clock::time_point expected;
    } cases[] = {
        {Clock::time_point(5s), Duration::max(), Clock::time_point::max()},
        {Clock::time_point(5s), 1s, Clock::time_point(6s)},
        {Clock::time_point::max() - 1s, 1s, Clock::time_point::max()},
        {Clock::time_point::max() - 1s, 2s, Clock::time_point::max()},
        // A clock reading before its epoch leaves more room, not an overflow.
        {Clock::time_point(-1000ns), Duration::max(), Clock::time_point(Duration::max() - 1000ns)},
        // Zero and negative waits are one attempt: the deadline is now.
        {Clock::time_point(5s), 0s, Clock::time_point(5s)},
        {Clock::time_point::min(), -1s, Clock::time_point::min()},
        {Clock::time_point(5s), Duration::min(), Clock::time_point(5s)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.now.time_since_epoch().count());
        EXPECT_EQ(config::deadline_after(c.now, c.timeout), c.expected);
    }
}

// The environment is read once per process, so these run in a fresh child process each.
// `fails` names the first check that went wrong; the child exits with 0 when all held.
int env_unusable_then_programmatic() {
    if (setenv("VEMOR_DEFAULT_TIMEOUT", "abc", 1) != 0) return 1;
    const std::string expected =
        "Invalid configuration: VEMOR_DEFAULT_TIMEOUT: expected a number of seconds, got "
        "\"abc\"";
    for (int call = 0; call < 2; ++call) {
        auto r = config::default_timeout();
        if (r || r.error().message() != expected) return 2 + call;
    }
    // Read once: mending the variable later changes nothing.
    if (setenv("VEMOR_DEFAULT_TIMEOUT", "1", 1) != 0) return 4;
    if (config::default_timeout()) return 5;
    config::set_default_timeout(2s);
    if (config::default_timeout() != Duration(2s)) return 6;
    return 0;
}

int env_unset_gives_five_seconds() {
    if (unsetenv("VEMOR_DEFAULT_TIMEOUT") != 0) return 1;
    if (config::default_timeout() != Duration(5s)) return 2;
    if (setenv("VEMOR_DEFAULT_TIMEOUT", "7", 1) != 0) return 3;
    if (config::default_timeout() != Duration(5s)) return 4;
    return 0;
}

TEST(ConfigProcess, EnvironmentIsReadOnceAndProgrammaticValueHidesItsError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(env_unusable_then_programmatic()), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::_Exit(env_unset_gives_five_seconds()), testing::ExitedWithCode(0), "");
}

// This test sets the programmatic value, which always wins.
TEST(Config, ProgrammaticValueWins) {
    config::set_default_timeout(1500ms);
    EXPECT_EQ(config::default_timeout(), Duration(1500ms));
    config::set_default_timeout(0s);
    EXPECT_EQ(config::default_timeout(), Duration(0s));
}

}  // namespace
}  // namespace vemor
