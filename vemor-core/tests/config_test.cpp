#include "vemor/config.hpp"

#include <gtest/gtest.h>

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

TEST(Config, DeadlinesSaturate) {
    auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(config::deadline_after(now, Duration::max()),
              std::chrono::steady_clock::time_point::max());
    EXPECT_EQ(config::deadline_after(now, 1s), now + 1s);
}

// The environment is read once per process; this test sets the programmatic value, which
// always wins.
TEST(Config, ProgrammaticValueWins) {
    config::set_default_timeout(1500ms);
    EXPECT_EQ(config::default_timeout(), Duration(1500ms));
    config::set_default_timeout(0s);
    EXPECT_EQ(config::default_timeout(), Duration(0s));
}

}  // namespace
}  // namespace vemor
