#include "vemor/error.hpp"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace vemor {
namespace {

TEST(Error, DisplayTextsOfEveryKind) {
    struct Case {
        Error error;
        std::string_view text;
    } cases[] = {
        {Error::PermissionDenied{"open Settings"}, "Permission denied: open Settings"},
        {Error::AccessibilityNotEnabled{"Mail", "grant it"},
         "Accessibility not enabled for Mail: grant it"},
        // The application's name comes from the desktop.
        {Error::AccessibilityNotEnabled{"Mail\nerror: x\x1b", "grant it"},
         R"(Accessibility not enabled for Mail\nerror: x\u{1b}: grant it)"},
        {Error::SelectorNotMatched{"button", std::nullopt}, "No element matched selector: button"},
        {Error::ElementStale{"button"},
         "Element stale: could not relocate element for selector: button"},
        {Error::ActionNotSupported{"press", Role::StaticText},
         "Action press not supported on static_text"},
        {Error::TextValueNotSupported{}, "Text value input not supported for this element"},
        {Error::Timeout{5s, std::nullopt}, "Timeout after 5.0s"},
        {Error::Timeout{100ms, std::nullopt}, "Timeout after 100.0ms"},
        {Error::InvalidSelector{"a[", "unterminated"}, "Invalid selector 'a[': unterminated"},
        {Error::InvalidActionData{"bad"}, "Invalid action data: bad"},
        {Error::InvalidConfig{"x"}, "Invalid configuration: x"},
        {Error::NoElementBounds{}, "Element has no bounds"},
        {Error::Unsupported{"tabs"}, "Unsupported: tabs"},
        {Error::Platform{-25202, "AXUIElementCopyAttributeValue failed"},
         "Platform error (-25202): AXUIElementCopyAttributeValue failed"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.message(), c.text);
        EXPECT_EQ(fmt::format("{}", c.error), c.text);
    }
}

TEST(Error, KindNumbersFollowTheFixedOrder) {
    EXPECT_EQ(Error(Error::PermissionDenied{}).kind(), ErrorKind::PermissionDenied);
    EXPECT_EQ(static_cast<int>(Error(Error::Timeout{}).kind()), 6);
    EXPECT_EQ(static_cast<int>(Error(Error::Platform{}).kind()), 12);
    EXPECT_EQ(to_string(ErrorKind::NoElementBounds), "NoElementBounds");
}

TEST(Diagnosis, DisplayJoinsPresentFieldsInOrder) {
    struct Case {
        Diagnosis d;
        std::string_view text;
    } cases[] = {
        {Diagnosis{}, ""},
        {Diagnosis{}.with_candidates({"button \"Back\"", "button \"Forward\""}),
         "; candidates: button \"Back\", button \"Forward\""},
        {Diagnosis{}.with_condition(""), "; waiting for: "},
        {Diagnosis{.scope = "app"}, "\nsearch scope (bounded):\napp"},
        {Diagnosis{}.with_condition("visible").with_selector("button").with_last_observed(
             "no match"),
         "; waiting for: visible; selector: button; last observed: no match"},
        // What was observed and the candidates quote the desktop: their controls are escaped,
        // line feeds included, so that a name cannot start a line. The selector is the user's.
        {Diagnosis{}
             .with_selector("a\nb")
             .with_last_observed("matched button \"X\nerror: y\x7f\"")
             .with_candidates({"button \"X\nerror: y\xC2\x9b\"", "button \"\x1b[2J\""}),
         "; selector: a\nb; last observed: matched button \"X\\nerror: y\\u{7f}\"; candidates: "
         "button \"X\\nerror: y\\u{9b}\", button \"\\u{1b}[2J\""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.d.to_string(), c.text);
    EXPECT_TRUE(Diagnosis{}.empty());
    EXPECT_FALSE(Diagnosis{}.with_condition("").empty());
}

TEST(Error, DiagnoseReplacesOrRemovesOnlyOnDiagnosedKinds) {
    auto d = Diagnosis{}.with_condition("enabled");
    Error timeout = Error::diagnose(Error::Timeout{5s, std::nullopt}, d);
    EXPECT_EQ(timeout.message(), "Timeout after 5.0s; waiting for: enabled");
    ASSERT_NE(timeout.diagnosis(), nullptr);

    Error cleared = Error::diagnose(timeout, Diagnosis{});
    EXPECT_EQ(cleared.diagnosis(), nullptr);
    EXPECT_EQ(cleared.message(), "Timeout after 5.0s");

    Error stale = Error::diagnose(Error::ElementStale{"x"}, d);
    EXPECT_EQ(stale, Error(Error::ElementStale{"x"}));

    Error miss = Error::diagnose(Error::SelectorNotMatched{"b", std::nullopt}, Diagnosis{});
    EXPECT_EQ(miss.message(), "No element matched selector: b");

    // Copies are deep: changing the copy's diagnosis leaves the original alone.
    Error copy = timeout;
    copy = Error::diagnose(std::move(copy), Diagnosis{});
    EXPECT_NE(timeout.diagnosis(), nullptr);
}

TEST(Error, DebugFormNamesFields) {
    EXPECT_EQ(Error(Error::Platform{-1, "a\"b"}).debug(),
              "Platform { code: -1, message: \"a\\\"b\" }");
    EXPECT_EQ(Error(Error::NoElementBounds{}).debug(), "NoElementBounds");
    EXPECT_EQ(Error(Error::ActionNotSupported{"press", Role::CheckBox}).debug(),
              "ActionNotSupported { action: \"press\", role: CheckBox }");
}

Result<int> half(int v) {
    if (v % 2) return fail(Error::InvalidActionData{fmt::format("odd: {}", v)});
    return v / 2;
}

Result<int> quarter(int v) {
    int h = VEMOR_TRY(half(v));
    return VEMOR_TRY(half(h));
}

TEST(Error, TryPropagatesTheFirstError) {
    EXPECT_EQ(quarter(8), 2);
    auto r = quarter(6);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "Invalid action data: odd: 3");
}

}  // namespace
}  // namespace vemor
