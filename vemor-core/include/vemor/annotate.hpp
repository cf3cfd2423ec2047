// The annotation renderer: opaque outline boxes with a small badge carrying a tag ("A1",
// "AA3") in a built-in 5x7 font, placed where it shows and covers no earlier badge.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/screenshot.hpp"

namespace vemor {

// Red, green, blue.
using Rgb = std::array<std::uint8_t, 3>;

// One box to draw: `rect` is in desktop points for `Screenshot::annotate` and in image pixels
// for `Screenshot::annotate_physical`. Only ASCII letters and digits of the tag are drawn; a tag
// without any gives a box without badge.
struct Annotation {
    std::string tag;
    Rect rect;
    Rgb color{};
    bool operator==(const Annotation&) const = default;
};

// Colours of the selector groups: group g (from 1) takes entry (g - 1) mod 7.
inline constexpr std::array<Rgb, 7> ANNOTATION_PALETTE{{
    {0xE6, 0x9F, 0x00},
    {0x56, 0xB4, 0xE9},
    {0x00, 0x9E, 0x73},
    {0xF0, 0xE4, 0x42},
    {0x00, 0x72, 0xB2},
    {0xD5, 0x5E, 0x00},
    {0xCC, 0x79, 0xA7},
}};

// A half-open pixel rectangle; empty when x1 <= x0 or y1 <= y0. Sums and differences of its
// coordinates saturate at the 64-bit limits.
struct PxRect {
    std::int64_t x0 = 0;
    std::int64_t y0 = 0;
    std::int64_t x1 = 0;
    std::int64_t y1 = 0;

    bool empty() const { return x1 <= x0 || y1 <= y0; }
    // Saturates at the 64-bit limit; 0 when empty.
    std::int64_t area() const;
    PxRect intersect(const PxRect& other) const;
    bool operator==(const PxRect&) const = default;
};

// The size of one badge (all in pixels).
struct BadgeMetrics {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t glyph_unit = 0;
    std::int64_t pad = 0;
    // pad + glyph unit: from the badge's corner to the text's corner.
    std::int64_t text_inset = 0;

    // None when the tag has no ASCII letter or digit.
    static std::optional<BadgeMetrics> for_tag(std::string_view tag, std::int64_t glyph_unit,
                                               std::int64_t pad);
    bool operator==(const BadgeMetrics&) const = default;
};

namespace annotate {

// An RGBA pixel buffer with its size; every write is clipped to the image and to the buffer.
struct Canvas {
    std::span<std::uint8_t> pixels;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The badge's place among ten spots around and inside the box: shown over hiding, clear of
// placed badges over covering them, wholly inside over clipped, more visible over less.
PxRect badge_spot(const PxRect& box, std::int64_t w, std::int64_t h, std::int64_t gap,
                  const PxRect& image, std::span<const PxRect> placed);

// Black or white, whichever contrasts more with `color` (WCAG 2.0 luminance; a tie gives
// black).
Rgb foreground_for(const Rgb& color);

// Fills `rect` (clipped) with opaque `color`.
void fill_rect(Canvas canvas, const PxRect& rect, const Rgb& color);
// An outline of the given thickness lying inside `rect`.
void draw_box(Canvas canvas, const PxRect& rect, std::int64_t thickness, const Rgb& color);
// The tag's letters and digits in the 5x7 font, `glyph_unit` pixels per dot, left to right
// from (x, y) without wrapping.
void draw_tag(Canvas canvas, std::string_view text, std::int64_t x, std::int64_t y,
              std::int64_t glyph_unit, const Rgb& color);

// Bijective base-26 letters of the group, then the index in decimal (0 counts as 1).
std::string tag_for(std::uint64_t group, std::uint64_t index);

// Palette colour of a 1-based group (group 0 counts as 1).
Rgb group_color(std::uint64_t group);

// The seven row bytes of the glyph for an ASCII letter (either case) or digit, or none.
std::optional<std::array<std::uint8_t, 7>> glyph_rows(char c);

// The drawing unit of a screenshot scale: the scale rounded, within 1..4 (1 when unusable).
std::int64_t drawing_unit(float scale);

}  // namespace annotate
}  // namespace vemor
