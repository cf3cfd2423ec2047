// JSON forms of the legend records.
#include "vemor/legend.hpp"

namespace vemor {
namespace {

Json optional_text(const std::optional<std::string>& s) { return s ? Json(*s) : Json(nullptr); }

Json color_json(const Rgb& c) { return Json::array({c[0], c[1], c[2]}); }

}  // namespace

Json to_json(const LegendEntry& e) {
    Json j = Json::object();
    j["tag"] = e.tag;
    j["group"] = static_cast<std::uint64_t>(e.group);
    j["index"] = static_cast<std::uint64_t>(e.index);
    j["selector"] = e.selector;
    j["role"] = e.role;
    j["name"] = optional_text(e.name);
    j["bounds"] = to_json(e.bounds);
    j["color"] = color_json(e.color);
    return j;
}

Json to_json(const Omission& o) {
    Json j = Json::object();
    j["selector"] = o.selector;
    j["role"] = o.role;
    j["name"] = optional_text(o.name);
    j["reason"] = to_json(o.reason);
    return j;
}

Json to_json(OmissionReason reason) {
    return Json(std::string(omission_reason::to_snake_case(reason)));
}

Json to_json(const std::vector<LegendEntry>& entries) {
    Json a = Json::array();
    for (const LegendEntry& e : entries) a.push_back(to_json(e));
    return a;
}

Json to_json(const std::vector<Omission>& omissions) {
    Json a = Json::array();
    for (const Omission& o : omissions) a.push_back(to_json(o));
    return a;
}

}  // namespace vemor
