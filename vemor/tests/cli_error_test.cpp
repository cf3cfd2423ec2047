#include <gtest/gtest.h>

#include <fmt/format.h>

#include "vemor/facade/cli_error.hpp"

namespace vemor::cli {
namespace {

TEST(CliError, Displays) {
    const Diagnosis diagnosis = Diagnosis{}.with_condition("c").with_candidates({"a", "b"});
    struct Case {
        CliError error;
        std::string text;
    };
    const Case cases[] = {
        {CliError::Usage{"m"}, "usage error: m"},
        {CliError::Message{"plain"}, "plain"},
        {CliError::AmbiguousSelector{3, diagnosis},
         "Ambiguous selector: matched 3 elements, but this operation acts on exactly one; narrow "
         "it with an attribute filter (e.g. [name=\"…\"]) or pick one with :nth(n), 1-based; "
         "waiting for: c; candidates: a, b"},
        {CliError::AmbiguousShellSurface{2, "status_items", Diagnosis{}},
         "Ambiguous shell surface: 2 status_items surfaces are present, but this operation "
         "targets exactly one; pick one by process id — `--pid PID` on the command line, the "
         "`pid` argument in MCP"},
        {CliError::Subscription{"s1", false, {}},
         "subscription \"s1\" is not a handle this server issued: check the id against what "
         "`events_start` returned. Start another with `events_start`; no subscriptions are open"},
        {CliError::Subscription{"s1", true, {"s2", "s3"}},
         "subscription \"s1\" is no longer open: `events_stop` closed it, or it expired after "
         "idling past the retention window `events_start` reported as `expires_after_ms`. Start "
         "another with `events_start`; open subscriptions: s2, s3"},
        {CliError(Error::Platform{-1, "x"}), "Platform error (-1): x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.message(), c.text);
        EXPECT_EQ(fmt::format("{}", c.error), c.text);
    }
}

TEST(CliError, CoreErrorsPassThroughUnchanged) {
    auto inner = []() -> Result<int> { return fail(Error::NoElementBounds{}); };
    auto outer = [&]() -> CliResult<int> { return VEMOR_CLI_TRY(inner()); };
    auto r = outer();
    ASSERT_FALSE(r);
    ASSERT_NE(r.error().core(), nullptr);
    EXPECT_EQ(*r.error().core(), Error(Error::NoElementBounds{}));
    EXPECT_EQ(r.error().kind(), CliErrorKind::Core);
}

TEST(EventKindNames, FourteenInEventOrder) {
    const auto& names = event_kind_names();
    ASSERT_EQ(names.size(), 14u);
    EXPECT_EQ(names.front(), "focus_changed");
    EXPECT_EQ(names[4], "structure_changed");
    EXPECT_EQ(names.back(), "announcement");
    EXPECT_EQ(&names, &event_kind_names());
}

}  // namespace
}  // namespace vemor::cli
