#include "vemor/json.hpp"

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

}  // namespace
}  // namespace vemor
