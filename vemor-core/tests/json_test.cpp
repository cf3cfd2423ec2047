#include "vemor/json.hpp"

#include "vemor/selector.hpp"
#include "vemor/text.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace vemor {
namespace {

TEST(Json, CompactAndPrettyForms) {
    Json v = {{"b", 50.0}, {"a", Json::array({1, -2, 1e16, 0.00001})}, {"c", nullptr},
              {"d", Json::object()}, {"e", "q\"\n\x01"}, {"f", Json::array()}, {"g", true}};
    EXPECT_EQ(json::dump(v),
              R"({"a":[1,-2,1e+16,0.00001],"b":50.0,"c":null,"d":{},"e":"q\"\n\u0001","f":[],"g":true})");
    EXPECT_EQ(json::dump_pretty(Json{{"k", Json::array({1, 2})}, {"o", {{"x", 1}}}}),
              "{\n  \"k\": [\n    1,\n    2\n  ],\n  \"o\": {\n    \"x\": 1\n  }\n}");
}

TEST(Json, InvalidUtf8IsReplacedAndParseErrorsAreValues) {
    EXPECT_EQ(json::dump(Json("a\xff")), "\"a\xEF\xBF\xBD\"");
    EXPECT_EQ(json::parse("{"), std::nullopt);
    EXPECT_EQ(json::parse(R"({"a":1})"), (Json{{"a", 1}}));
}

// Text is scanned several bytes at a time: every ASCII byte and every two-byte character up to
// U+00BF, at every position around those steps, in ASCII text and after a multi-byte
// character, is written as its one form. Controls (C0, DEL, C1) are escaped, nothing else.
TEST(Json, EveryControlIsEscapedWherever) {
    auto written = [](char32_t c) -> std::string {
        switch (c) {
            case '"': return "\\\"";
            case '\\': return "\\\\";
            case '\n': return "\\n";
            case '\r': return "\\r";
            case '\t': return "\\t";
            case '\b': return "\\b";
            case '\f': return "\\f";
        }
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return fmt::format("\\u{:04x}", +c);
        std::string utf8;
        text::append_utf8(utf8, c);
        return utf8;
    };
    for (std::string_view prefix : {"", "\xC3\xA9"}) {
        for (std::size_t at = 0; at < 18; ++at) {
            for (char32_t c = 0; c < 0xC0; ++c) {
                std::string character;
                text::append_utf8(character, c);
                const std::string text = std::string(prefix) + std::string(at, 'a') + character +
                                         std::string(17 - at, 'a');
                const std::string expected = "\"" + std::string(prefix) + std::string(at, 'a') +
                                             written(c) + std::string(17 - at, 'a') + "\"";
                ASSERT_EQ(json::dump(Json(text)), expected) << "U+" << +c << " at " << at;
            }
        }
    }
    // Several in one step, in keys too; the escapes read back as the same value.
    const Json value = {{"k\xC2\x85", "\xC2\xA0\x01\xC2\x85\"\x7F\xC2\xA9\xC2\x9B" "a\\bcdefgh"}};
    EXPECT_EQ(json::dump(value),
              R"({"k\u0085":")" "\xC2\xA0" R"(\u0001\u0085\"\u007f)" "\xC2\xA9"
              R"(\u009ba\\bcdefgh"})");
    EXPECT_EQ(json::parse(json::dump(value)), value);
}

// Values from outside may nest without bound: the writer must not recurse per level, and the
// matcher reaches it through a raw attribute.
TEST(Json, DeeplyNestedValuesAreWrittenWhole) {
    constexpr std::size_t kDepth = 100'000;
    const std::string text = std::string(kDepth, '[') + std::string(kDepth, ']');
    auto nested = json::parse(text);
    ASSERT_TRUE(nested.has_value());
    EXPECT_EQ(json::dump(*nested), text);
    const std::string pretty = json::dump_pretty(Json::array({Json::array({1})}));
    EXPECT_EQ(pretty, "[\n  [\n    1\n  ]\n]");

    ElementData e;
    e.raw["deep"] = std::move(*nested);
    SimpleSelector simple;
    simple.filters.push_back(AttrFilter{"deep", MatchOp::StartsWith, "[[[]"});
    EXPECT_FALSE(selector::matches_simple(e, simple));
    simple.filters[0].value = "[[[[";
    EXPECT_TRUE(selector::matches_simple(e, simple));
}

}  // namespace
}  // namespace vemor
