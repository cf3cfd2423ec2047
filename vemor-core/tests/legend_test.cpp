#include "vemor/legend.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vemor {
namespace {

TEST(LegendJsonTest, EntriesWithAndWithoutName) {
    const std::vector<LegendEntry> entries = {
        {.tag = "B7",
         .group = 2,
         .index = 7,
         .selector = "button:nth(7)",
         .role = "button",
         .name = std::nullopt,
         .bounds = {-1440, -20, 80, 24},
         .color = ANNOTATION_PALETTE[1]},
        {.tag = "A1",
         .group = 1,
         .index = 1,
         .selector = "text_field[name*=\"Search\"]:nth(1)",
         .role = "text_field",
         .name = "Search \"all\"",
         .bounds = {10, 20, 300, 22},
         .color = ANNOTATION_PALETTE[0]},
    };
    EXPECT_EQ(json::dump(to_json(entries)),
              R"j([{"bounds":{"height":24,"width":80,"x":-1440,"y":-20},"color":[86,180,233],)j"
              R"j("group":2,"index":7,"name":null,"role":"button","selector":"button:nth(7)",)j"
              R"j("tag":"B7"},)j"
              R"j({"bounds":{"height":22,"width":300,"x":10,"y":20},"color":[230,159,0],)j"
              R"j("group":1,"index":1,"name":"Search \"all\"","role":"text_field",)j"
              R"j("selector":"text_field[name*=\"Search\"]:nth(1)","tag":"A1"}])j");
    EXPECT_TRUE(to_json(entries[0])["group"].is_number_integer());
}

TEST(LegendJsonTest, Omissions) {
    const std::vector<Omission> omitted = {
        {"button:nth(3)", "button", std::nullopt, OmissionReason::NoBounds},
        {"list:nth(1)", "list", "Files", OmissionReason::ZeroArea},
        {"window:nth(2)", "window", "Other", OmissionReason::OutsideCapture},
    };
    EXPECT_EQ(json::dump_pretty(to_json(omitted[0])),
              "{\n"
              "  \"name\": null,\n"
              "  \"reason\": \"no_bounds\",\n"
              "  \"role\": \"button\",\n"
              "  \"selector\": \"button:nth(3)\"\n"
              "}");
    EXPECT_EQ(json::dump(to_json(omitted)),
              R"j([{"name":null,"reason":"no_bounds","role":"button","selector":"button:nth(3)"},)j"
              R"j({"name":"Files","reason":"zero_area","role":"list","selector":"list:nth(1)"},)j"
              R"j({"name":"Other","reason":"outside_capture","role":"window",)j"
              R"j("selector":"window:nth(2)"}])j");
    EXPECT_EQ(json::dump(to_json(std::vector<Omission>{})), "[]");
}

TEST(OmissionReasonTest, NamesRoundTrip) {
    for (const auto& [value, name] : omission_reason::kNames) {
        SCOPED_TRACE(name);
        EXPECT_EQ(omission_reason::from_snake_case(name), value);
        EXPECT_EQ(to_json(value), Json(std::string(name)));
    }
    EXPECT_EQ(omission_reason::from_snake_case("outside"), std::nullopt);
    EXPECT_EQ(omission_reason::from_snake_case("No_Bounds"), std::nullopt);
}

}  // namespace
}  // namespace vemor
