// What an annotated capture says about its boxes: a legend entry per drawn box and an omission
// per matched element that is not in the picture, so that the legend never silently disagrees
// with the image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/annotate.hpp"
#include "vemor/element.hpp"
#include "vemor/enum_names.hpp"
#include "vemor/json.hpp"
#include "vemor/screenshot.hpp"

namespace vemor {

// One drawn box.
struct LegendEntry {
    // The badge text, e.g. "B7".
    std::string tag;
    // 1-based selector group and 1-based position among the group's matches.
    std::size_t group = 0;
    std::size_t index = 0;
    // "{selector}:nth({index})": reaches this element again in the group's scope.
    std::string selector;
    // snake_case role name.
    std::string role;
    std::optional<std::string> name;
    // Desktop points, as the element reported them (not image pixels).
    Rect bounds;
    Rgb color{};
    bool operator==(const LegendEntry&) const = default;
};

enum class OmissionReason : std::uint8_t { NoBounds, ZeroArea, OutsideCapture };

namespace omission_reason {
inline constexpr std::array<EnumName<OmissionReason>, 3> kNames{{
    {OmissionReason::NoBounds, "no_bounds"},
    {OmissionReason::ZeroArea, "zero_area"},
    {OmissionReason::OutsideCapture, "outside_capture"},
}};
constexpr std::string_view to_snake_case(OmissionReason r) { return name_of(kNames, r); }
constexpr std::optional<OmissionReason> from_snake_case(std::string_view text) {
    return value_of(kNames, text);
}
}  // namespace omission_reason

// One matched element that is not drawn.
struct Omission {
    std::string selector;
    std::string role;
    std::optional<std::string> name;
    OmissionReason reason = OmissionReason::NoBounds;
    bool operator==(const Omission&) const = default;
};

// The result of an annotated capture: the image, the drawn boxes, the omitted matches and the
// number of matches left undescribed because of the box limit.
struct Annotated {
    Screenshot image;
    std::vector<LegendEntry> legend;
    std::vector<Omission> omitted;
    std::size_t truncated = 0;
};

// Objects with sorted keys; "name" is null when absent, numbers are integers.
Json to_json(const LegendEntry& entry);
Json to_json(const Omission& omission);
Json to_json(OmissionReason reason);
Json to_json(const std::vector<LegendEntry>& entries);
Json to_json(const std::vector<Omission>& omissions);

}  // namespace vemor
