#include "vemor/selector.hpp"

#include <gtest/gtest.h>

#include <random>

namespace vemor {
namespace {

struct ErrorCase {
    std::string_view text;
    std::string_view selector;  // the error's selector text
    std::string_view message;
};

TEST(SelectorParse, ErrorsCarryExactMessageAndSelector) {
    const ErrorCase cases[] = {
        {"", "", "empty selector"},
        {"   ", "   ", "empty selector"},
        {"\t", "\t", "empty selector"},
        {" \u3000\n", " \u3000\n", "empty selector"},
        {"button,", "button,", "empty clause in selector group"},
        {",button", ",button", "empty clause in selector group"},
        {" a, ,b ", " a, ,b ", "empty clause in selector group"},
        // Later errors name the trimmed clause, not the whole text.
        {"link, *button ", "*button", "expected combinator (space or '>') between selectors"},
        {"window\tbutton", "window\tbutton",
         "expected combinator (space or '>') between selectors"},
        {"button]", "button]", "expected combinator (space or '>') between selectors"},
        {"button:nth", "button:nth", "expected combinator (space or '>') between selectors"},
        {"button:nth(2)[name='x']", "button:nth(2)[name='x']",
         "expected combinator (space or '>') between selectors"},
        {"button:nth(2):nth(3)", "button:nth(2):nth(3)",
         "expected combinator (space or '>') between selectors"},
        {"butt\u00f6n", "butt\u00f6n", "expected combinator (space or '>') between selectors"},
        {"\u00e9cran", "\u00e9cran", "empty simple selector"},
        {"> button", "> button", "empty simple selector"},
        {"button > > link", "button > > link", "empty simple selector"},
        {"button[]", "button[]", "empty attribute name in filter"},
        {"button[ name='x']", "button[ name='x']", "empty attribute name in filter"},
        {"button[name]", "button[name]", "expected operator (=, *=, ^=, $=)"},
        {"button[name = 'x']", "button[name = 'x']", "expected operator (=, *=, ^=, $=)"},
        {"button[name*'x']", "button[name*'x']", "expected operator (=, *=, ^=, $=)"},
        {"button[name", "button[name", "expected operator (=, *=, ^=, $=)"},
        {"button[name=", "button[name=", "expected '\"' or \"'\" to start attribute value"},
        {"button[name=x]", "button[name=x]", "expected '\"' or \"'\" to start attribute value"},
        {"button[name^=", "button[name^=", "expected '\"' or \"'\" to start attribute value"},
        {"button[name='x]", "button[name='x]", "unterminated string in attribute value"},
        {"button[name=\"x']", "button[name=\"x']", "unterminated string in attribute value"},
        {"button[name='", "button[name='", "unterminated string in attribute value"},
        {"button[name='x' ]", "button[name='x' ]", "expected ']' to close attribute filter"},
        {"button[name='x'", "button[name='x'", "expected ']' to close attribute filter"},
        {"button:first", "button:first", "unknown pseudo-class ':first'"},
        {"button:nth-child(2)", "button:nth-child(2)", "unknown pseudo-class ':nth'"},
        {"button:NTH(2)", "button:NTH(2)", "unknown pseudo-class ':NTH'"},
        {"button:nthx", "button:nthx", "unknown pseudo-class ':nthx'"},
        {"button:12345", "button:12345", "unknown pseudo-class ':'"},
        {"button:nth()", "button:nth()", "invalid number in :nth()"},
        {"button:nth(-1)", "button:nth(-1)", "invalid number in :nth()"},
        {"button:nth(18446744073709551616)", "button:nth(18446744073709551616)",
         "invalid number in :nth(18446744073709551616)"},
        {"button:nth(0)", "button:nth(0)", ":nth() is 1-based, got 0"},
        {"button:nth(00)", "button:nth(00)", ":nth() is 1-based, got 0"},
        {"button:nth(0", "button:nth(0", ":nth() is 1-based, got 0"},
        {"button:nth(2", "button:nth(2", "expected ')' after :nth number"},
        {"button:nth(2x)", "button:nth(2x)", "expected ')' after :nth number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = SelectorGroup::parse(c.text);
        ASSERT_FALSE(parsed.has_value());
        EXPECT_EQ(parsed.error(),
                  Error(Error::InvalidSelector{std::string(c.selector), std::string(c.message)}));
    }
}

TEST(SelectorParse, ErrorDisplayText) {
    const auto parsed = SelectorGroup::parse("button[name='x'");
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error().message(),
              "Invalid selector 'button[name='x'': expected ']' to close attribute filter");
}

TEST(SelectorParse, ClauseParseOfBlankTextHasEmptySelector) {
    const auto parsed = Selector::parse(" \t ");
    ASSERT_FALSE(parsed.has_value());
    EXPECT_EQ(parsed.error(), Error(Error::InvalidSelector{"", "empty selector"}));
}

TEST(SelectorParse, InvalidUtf8IsAnOrdinaryError) {
    const std::string texts[] = {"\xff", "button\xc3", "button[name='\xe2\x82']x", "\xf0\x9f"};
    for (const auto& t : texts) {
        SCOPED_TRACE(t.size());
        EXPECT_FALSE(SelectorGroup::parse(t).has_value());
    }
    // Inside a quoted value any bytes are accepted (and compare as U+FFFD).
    EXPECT_TRUE(SelectorGroup::parse("button[name='\xff']").has_value());
}

TEST(SelectorParse, ArbitraryBytesGiveAGroupOrAnInvalidSelector) {
    // Selector syntax, white space, multi-byte and broken UTF-8, in random runs.
    const std::string_view pieces[] = {
        "button", "*", " ",  ">",        ",",        "[",     "]",
        "name",   "=", "*=", "'",        "\"",       ":nth(", ")",
        "0",      "7", "\t", "\xc3\xa9", "\xe2\x80", "\xff",  "\xf0\x9f\x98\x80",
        ":"};
    std::mt19937 rng(7);
    ElementData e;
    e.name = "\xff\xfe name";
    for (int i = 0; i < 3000; ++i) {
        std::string text;
        const auto n = rng() % 12;
        for (unsigned k = 0; k < n; ++k) text += pieces[rng() % std::size(pieces)];
        const auto parsed = SelectorGroup::parse(text);
        if (!parsed) {
            ASSERT_TRUE(parsed.error().is<Error::InvalidSelector>()) << text;
            continue;
        }
        for (const auto& clause : parsed->selectors)
            for (const auto& segment : clause.segments)
                (void)selector::matches_simple(e, segment.simple);
    }
}

SimpleSelector simple(RoleConstraint role, std::vector<AttrFilter> filters = {},
                      std::optional<std::uint64_t> nth = std::nullopt) {
    return SimpleSelector{.role = std::move(role), .filters = std::move(filters), .nth = nth};
}

SelectorSegment first(SimpleSelector s) { return SelectorSegment{.simple = std::move(s)}; }
SelectorSegment then(Combinator c, SimpleSelector s) {
    return SelectorSegment{.simple = std::move(s), .combinator = c};
}

TEST(SelectorParse, Clauses) {
    using enum Combinator;
    struct Case {
        std::string_view text;
        std::vector<SelectorSegment> segments;
    };
    const AttrFilter ok{"name", MatchOp::Exact, "OK"};
    const Case cases[] = {
        {"*", {first(simple(AnyRole{}))}},
        {"button", {first(simple(Role::Button))}},
        {"check_box", {first(simple(Role::CheckBox))}},
        {"unknown", {first(simple(Role::Unknown))}},
        {"Button", {first(simple(std::string("Button")))}},
        {"AXButton", {first(simple(std::string("AXButton")))}},
        {"*[name=\"OK\"]", {first(simple(AnyRole{}, {ok}))}},
        {"[name=\"OK\"]", {first(simple(AnyRole{}, {ok}))}},
        {"button [name=\"OK\"]",
         {first(simple(Role::Button)), then(Descendant, simple(AnyRole{}, {ok}))}},
        {"window>button", {first(simple(Role::Window)), then(Child, simple(Role::Button))}},
        {"window > button", {first(simple(Role::Window)), then(Child, simple(Role::Button))}},
        {"window   >button", {first(simple(Role::Window)), then(Child, simple(Role::Button))}},
        {"window >", {first(simple(Role::Window))}},
        {"window>", {first(simple(Role::Window))}},
        {"  window group   link ",
         {first(simple(Role::Window)), then(Descendant, simple(Role::Group)),
          then(Descendant, simple(Role::Link))}},
        {":nth(2)", {first(simple(AnyRole{}, {}, 2))}},
        {"button:nth(007)", {first(simple(Role::Button, {}, 7))}},
        {"button:nth(18446744073709551615)",
         {first(simple(Role::Button, {}, 18446744073709551615ull))}},
        {"radio_button:nth(2) > :nth(1)",
         {first(simple(Role::RadioButton, {}, 2)), then(Child, simple(AnyRole{}, {}, 1))}},
        {"text_field[name*='Sea'][value^=\"a\"][stable_id$='z'][x='']",
         {first(simple(Role::TextField, {{"name", MatchOp::Contains, "Sea"},
                                         {"value", MatchOp::StartsWith, "a"},
                                         {"stable_id", MatchOp::EndsWith, "z"},
                                         {"x", MatchOp::Exact, ""}}))}},
        // Quotes of the other kind and backslashes are ordinary characters of a value.
        {"[name='say \"hi\"\\']",
         {first(simple(AnyRole{}, {{"name", MatchOp::Exact, "say \"hi\"\\"}}))}},
        {"[name=\"it's, ok\"]", {first(simple(AnyRole{}, {{"name", MatchOp::Exact, "it's, ok"}}))}},
        {"[name='Größe → ✓']", {first(simple(AnyRole{}, {{"name", MatchOp::Exact, "Größe → ✓"}}))}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = Selector::parse(c.text);
        ASSERT_TRUE(parsed.has_value()) << parsed.error().message();
        EXPECT_EQ(parsed->segments, c.segments);
    }
}

TEST(SelectorParse, GroupSplitsOnlyOutsideQuotes) {
    const auto one = SelectorGroup::parse("button[name='a,b']");
    ASSERT_TRUE(one.has_value());
    ASSERT_EQ(one->selectors.size(), 1u);
    EXPECT_EQ(one->selectors[0].segments[0].simple.filters[0].value, "a,b");

    const auto two = SelectorGroup::parse("button[name='x'], link, link");
    ASSERT_TRUE(two.has_value());
    ASSERT_EQ(two->selectors.size(), 3u);  // a repeated clause stays
    EXPECT_EQ(two->selectors[1], two->selectors[2]);
    EXPECT_EQ(two->selectors[1].segments[0].simple.role, RoleConstraint(Role::Link));
}

TEST(SelectorParse, ParseSimpleReportsPosition) {
    const std::u32string chars = U"é button[name='x'] > link";
    const auto at = Selector::parse_simple(chars, 2, "clause");
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(at->position, 18u);
    EXPECT_EQ(at->simple, simple(Role::Button, {{"name", MatchOp::Exact, "x"}}));

    const auto bad = Selector::parse_simple(chars, 0, "clause");
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error(), Error(Error::InvalidSelector{"clause", "empty simple selector"}));
}

TEST(SelectorText, SplitTopLevelCommas) {
    struct Case {
        std::string_view text;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"", {""}},
        {"a,", {"a", ""}},
        {"a, b ,c", {"a", " b ", "c"}},
        {"[n='a,b'],c", {"[n='a,b']", "c"}},
        {"[n=\"it's\"],c", {"[n=\"it's\"]", "c"}},
        {"x'a,b'y,z", {"x'a,b'y", "z"}},
        {"[n='a,b,c", {"[n='a,b,c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(selector::split_top_level_commas(c.text), c.parts);
    }
}

TEST(SelectorText, ChainCombinator) {
    struct Case {
        std::string_view parent, combinator, child, out;
    };
    const Case cases[] = {
        {"  a  ", " ", "b", "a b"},
        {"a, b", " > ", "c, d", "a > c, a > d, b > c, b > d"},
        {"a,b,c", " ", "[n='x,y'], d", "a [n='x,y'], a d, b [n='x,y'], b d, c [n='x,y'], c d"},
        {"", " ", "b", " b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parent);
        EXPECT_EQ(selector::chain_combinator(c.parent, c.combinator, c.child), c.out);
    }
}

}  // namespace
}  // namespace vemor
