#include "vemor/json.hpp"

#include "vemor/selector.hpp"

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
