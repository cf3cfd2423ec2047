#include "vemor/annotate.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace vemor {
namespace {

constexpr Rgb kOrange = ANNOTATION_PALETTE[0];  // E69F00, black text
constexpr Rgb kBlue = ANNOTATION_PALETTE[4];    // 0072B2, white text
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kGrey{10, 10, 10};

Screenshot blank(std::uint32_t w, std::uint32_t h, float scale = 1.0f) {
    std::vector<std::uint8_t> px;
    for (std::size_t i = 0; i < std::size_t{w} * h; ++i) px.insert(px.end(), {10, 10, 10, 255});
    return Screenshot{.pixels = std::move(px), .width = w, .height = h, .scale = scale};
}

Rgb at(const Screenshot& s, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = s.pixels.data() + (std::size_t{y} * s.width + x) * 4;
    EXPECT_EQ(p[3], 255);
    return Rgb{p[0], p[1], p[2]};
}

// One character per pixel: '.' untouched grey, 'o' orange, 'b' blue, '#' black, 'w' white.
std::string render(const Screenshot& s) {
    std::string out;
    for (std::uint32_t y = 0; y < s.height; ++y) {
        for (std::uint32_t x = 0; x < s.width; ++x) {
            Rgb c = at(s, x, y);
            out += c == kGrey     ? '.'
                   : c == kOrange ? 'o'
                   : c == kBlue   ? 'b'
                   : c == kBlack  ? '#'
                   : c == kWhite  ? 'w'
                                  : '?';
        }
        out += '\n';
    }
    return out;
}

annotate::Canvas canvas_of(Screenshot& s) { return {s.pixels, s.width, s.height}; }

TEST(TagTest, BijectiveLettersThenIndex) {
    struct Case {
        std::uint64_t group, index;
        std::string tag;
    };
    const Case cases[] = {
        {0, 0, "A1"},
        {1, 1, "A1"},
        {2, 7, "B7"},
        {26, 10, "Z10"},
        {27, 1, "AA1"},
        {27, 3, "AA3"},
        {28, 12, "AB12"},
        {702, 1, "ZZ1"},
        {703, 1, "AAA1"},
        {1, 100, "A100"},
        {std::numeric_limits<std::uint64_t>::max(), 1, "GKGWBYLWRXTLPO1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        EXPECT_EQ(annotate::tag_for(c.group, c.index), c.tag);
    }
}

TEST(PaletteTest, ForegroundAndGroupColours) {
    for (std::size_t i = 0; i < ANNOTATION_PALETTE.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(annotate::foreground_for(ANNOTATION_PALETTE[i]), i == 4 ? kWhite : kBlack);
    }
    EXPECT_EQ(annotate::foreground_for(kBlack), kWhite);
    EXPECT_EQ(annotate::foreground_for(kWhite), kBlack);
    EXPECT_EQ(annotate::group_color(1), kOrange);
    EXPECT_EQ(annotate::group_color(5), kBlue);
    EXPECT_EQ(annotate::group_color(8), kOrange);
}

TEST(BadgeMetricsTest, SizesFromTagAndUnit) {
    struct Case {
        std::string tag;
        std::int64_t unit;
        std::optional<std::pair<std::int64_t, std::int64_t>> size;
    };
    const Case cases[] = {
        {"A1", 1, {{28, 20}}}, {"a1", 1, {{28, 20}}},   {"A-1", 1, {{28, 20}}},
        {"A1", 2, {{56, 40}}}, {"AB12", 1, {{52, 20}}}, {"-", 1, std::nullopt},
        {"", 1, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        auto m = BadgeMetrics::for_tag(c.tag, 2 * c.unit, c.unit);
        ASSERT_EQ(m.has_value(), c.size.has_value());
        if (!m) continue;
        EXPECT_EQ(std::make_pair(m->width, m->height), *c.size);
        EXPECT_EQ(m->text_inset, 3 * c.unit);
    }
    auto big = BadgeMetrics::for_tag("A1", std::numeric_limits<std::int64_t>::max(), 1);
    EXPECT_EQ(big->width, std::numeric_limits<std::int64_t>::max());
}

TEST(DrawingUnitTest, RoundedAndCapped) {
    const std::pair<float, std::int64_t> cases[] = {
        {1.0f, 1},
        {1.5f, 2},
        {2.0f, 2},
        {2.5f, 3},
        {3.0f, 3},
        {4.0f, 4},
        {7.0f, 4},
        {0.5f, 1},
        {0.4f, 1},
        {0.0f, 1},
        {-2.0f, 1},
        {std::numeric_limits<float>::infinity(), 1},
        {std::numeric_limits<float>::quiet_NaN(), 1},
    };
    for (auto [scale, unit] : cases) {
        SCOPED_TRACE(scale);
        EXPECT_EQ(annotate::drawing_unit(scale), unit);
    }
}

TEST(BadgeSpotTest, Placement) {
    const PxRect image{0, 0, 300, 300};
    struct Case {
        std::string what;
        PxRect box;
        std::vector<PxRect> placed;
        PxRect badge;
    };
    const Case cases[] = {
        {"above left", {50, 50, 150, 150}, {}, {50, 30, 78, 50}},
        {"nothing above: below", {0, 0, 100, 50}, {}, {0, 50, 28, 70}},
        {"above taken", {50, 50, 100, 100}, {{50, 30, 78, 50}}, {50, 100, 78, 120}},
        {"touching is not overlapping", {50, 50, 100, 100}, {{22, 30, 50, 50}}, {50, 30, 78, 50}},
        {"empty placed badges are ignored",
         {50, 50, 100, 100},
         {{50, 30, 50, 50}},
         {50, 30, 78, 50}},
        {"box fills the image: inside", {0, 0, 300, 300}, {}, {1, 1, 29, 21}},
        {"inside the image beats more room", {290, 0, 310, 10}, {}, {262, 0, 290, 20}},
        {"nothing fits: the most visible", {-20, 100, 310, 110}, {}, {281, 101, 309, 121}},
        {"nothing shows: clamped in", {400, 500, 450, 550}, {}, {272, 280, 300, 300}},
        {"nothing shows, above-left", {-100, -100, -50, -60}, {}, {1, 1, 29, 21}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(annotate::badge_spot(c.box, 28, 20, 1, image, c.placed), c.badge);
    }
}

TEST(DrawTest, BoxesStayInsideTheirRectangle) {
    Screenshot s = blank(9, 6);
    annotate::draw_box(canvas_of(s), PxRect{1, 1, 8, 5}, 1, kOrange);
    annotate::draw_box(canvas_of(s), PxRect{3, 2, 4, 4}, 3, kBlue);  // width 1: filled
    annotate::draw_box(canvas_of(s), PxRect{6, 2, 6, 4}, 3, kBlue);  // empty: nothing
    EXPECT_EQ(render(s),
              ".........\n"
              ".ooooooo.\n"
              ".o.b...o.\n"
              ".o.b...o.\n"
              ".ooooooo.\n"
              ".........\n");
}

TEST(DrawTest, ClippedToImageAndBuffer) {
    Screenshot s = blank(5, 4);
    annotate::draw_box(canvas_of(s), PxRect{-3, 2, 3, 9}, 2, kOrange);
    // A canvas whose buffer is shorter than its size: the missing pixels are never written.
    std::vector<std::uint8_t> short_buffer(5 * 4 * 4 - 6, 0);
    annotate::fill_rect({short_buffer, 5, 4}, PxRect{0, 0, 5, 4}, kBlue);
    EXPECT_EQ(render(s),
              ".....\n"
              ".....\n"
              "ooo..\n"
              "ooo..\n");
    // The trailing partial pixel stays untouched; the last whole one is written.
    EXPECT_EQ(short_buffer[short_buffer.size() - 1], 0);
    EXPECT_EQ(short_buffer[short_buffer.size() - 2], 0);
    EXPECT_EQ(short_buffer[short_buffer.size() - 3], 255);
}

TEST(DrawTest, TagFont) {
    Screenshot s = blank(14, 8);
    annotate::draw_tag(canvas_of(s), "a-1z", 1, 0, 1, kBlack);
    EXPECT_EQ(render(s),
              "..###....#...#\n"
              ".#...#..##....\n"
              ".#...#...#....\n"
              ".#####...#....\n"
              ".#...#...#....\n"
              ".#...#...#...#\n"
              ".#...#..###..#\n"
              "..............\n");
    // Every glyph of the table, one check each: digits first, then letters.
    EXPECT_EQ(annotate::glyph_rows('0'),
              (std::array<std::uint8_t, 7>{0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}));
    EXPECT_EQ(annotate::glyph_rows('q'), annotate::glyph_rows('Q'));
    EXPECT_EQ(annotate::glyph_rows('W'),
              (std::array<std::uint8_t, 7>{0x11, 0x11, 0x11, 0x15, 0x15, 0x1B, 0x11}));
    EXPECT_FALSE(annotate::glyph_rows('-'));
}

TEST(AnnotatePhysicalTest, BoxWithBadge) {
    const Screenshot s = blank(34, 27);
    const Annotation a{"A1", Rect{2, 22, 30, 4}, kOrange};
    auto out = s.annotate_physical({&a, 1}).value();
    EXPECT_TRUE(out.not_drawn.empty());
    EXPECT_EQ(render(out.image),
              "..................................\n"
              "..................................\n"
              "..############################....\n"
              "..#oooooooooooooooooooooooooo#....\n"
              "..#oooooooooooooooooooooooooo#....\n"
              "..#oooo######oooooooo##oooooo#....\n"
              "..#oooo######oooooooo##oooooo#....\n"
              "..#oo##oooooo##oooo####oooooo#....\n"
              "..#oo##oooooo##oooo####oooooo#....\n"
              "..#oo##oooooo##oooooo##oooooo#....\n"
              "..#oo##oooooo##oooooo##oooooo#....\n"
              "..#oo##########oooooo##oooooo#....\n"
              "..#oo##########oooooo##oooooo#....\n"
              "..#oo##oooooo##oooooo##oooooo#....\n"
              "..#oo##oooooo##oooooo##oooooo#....\n"
              "..#oo##oooooo##oooooo##oooooo#....\n"
              "..#oo##oooooo##oooooo##oooooo#....\n"
              "..#oo##oooooo##oooo######oooo#....\n"
              "..#oo##oooooo##oooo######oooo#....\n"
              "..#oooooooooooooooooooooooooo#....\n"
              "..#oooooooooooooooooooooooooo#....\n"
              "..############################....\n"
              "..oooooooooooooooooooooooooooooo..\n"
              "..o............................o..\n"
              "..o............................o..\n"
              "..oooooooooooooooooooooooooooooo..\n"
              "..................................\n");
}

TEST(AnnotatePhysicalTest, KeptAndNotDrawn) {
    const Screenshot s = blank(300, 300);
    const std::vector<Annotation> anns = {
        {"A1", Rect{10, 10, 0, 5}, kOrange},      // no width
        {"A2", Rect{-20, 10, 20, 5}, kOrange},    // ends at x = 0
        {"A3", Rect{10, -5, 5, 5}, kOrange},      // ends at y = 0
        {"A4", Rect{300, 10, 5, 5}, kOrange},     // starts at the right edge
        {"A5", Rect{10, 300, 5, 5}, kOrange},     // starts at the bottom edge
        {"A6", Rect{290, 290, 50, 50}, kOrange},  // partly outside: drawn clipped
        {"-", Rect{100, 100, 10, 10}, kBlue},     // no badge, still drawn
    };
    auto out = s.annotate_physical(anns).value();
    EXPECT_EQ(out.not_drawn, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(at(out.image, 290, 290), kOrange);
    EXPECT_EQ(at(out.image, 100, 100), kBlue);
    EXPECT_EQ(at(out.image, 101, 101), kGrey);
    EXPECT_EQ(at(out.image, 100, 99), kGrey);  // no badge above it
    EXPECT_EQ(at(s, 290, 290), kGrey);         // the original is untouched
}

TEST(AnnotatePhysicalTest, ImageWithoutPixelsDrawsNothing) {
    // Each box straddles the zero-size edge: left of it and right of it at once.
    const Annotation a{"A1", Rect{-5, -5, 10, 10}, kOrange};
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{0, 0}, {0, 4}, {4, 0}};
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(fmt::format("{}x{}", w, h));
        const Screenshot s = blank(w, h);
        auto out = s.annotate_physical({&a, 1});
        ASSERT_TRUE(out);
        EXPECT_EQ(out->not_drawn, (std::vector<std::size_t>{0}));
        EXPECT_EQ(out->image, s);
    }
}

TEST(AnnotatePhysicalTest, LargerFirstAndBadgesAvoidEachOther) {
    const Screenshot s = blank(300, 300);
    // Input order small first; the larger box is still drawn (and badged) first.
    const std::vector<Annotation> anns = {{"A2", Rect{50, 50, 50, 50}, kBlue},
                                          {"A1", Rect{50, 50, 100, 100}, kOrange}};
    auto out = s.annotate_physical(anns).value();
    EXPECT_TRUE(out.not_drawn.empty());
    // A1's badge above-left at (50, 30, 78, 50): black ring, orange inside.
    EXPECT_EQ(at(out.image, 50, 30), kBlack);
    EXPECT_EQ(at(out.image, 51, 31), kOrange);
    // A2's badge below-left at (50, 100, 78, 120): white ring, blue inside, white text.
    EXPECT_EQ(at(out.image, 50, 100), kWhite);
    EXPECT_EQ(at(out.image, 77, 119), kWhite);
    EXPECT_EQ(at(out.image, 51, 101), kBlue);
    EXPECT_EQ(at(out.image, 53 + 2, 103), kWhite);  // top row of the A: 0E
    // The smaller box lies on top of the larger one's outline.
    EXPECT_EQ(at(out.image, 60, 50), kBlue);
}

TEST(AnnotatePhysicalTest, UnitFollowsScale) {
    const Screenshot s = blank(300, 300, 2.0f);
    const Annotation a{"A1", Rect{0, 0, 100, 60}, kOrange};
    auto out = s.annotate_physical({&a, 1}).value();
    // Outline 2 pixels thick; badge 56 x 40 below the box with a 2-pixel ring.
    EXPECT_EQ(at(out.image, 60, 1), kOrange);
    EXPECT_EQ(at(out.image, 60, 2), kGrey);
    EXPECT_EQ(at(out.image, 53, 61), kBlack);
    EXPECT_EQ(at(out.image, 53, 62), kOrange);
    EXPECT_EQ(at(out.image, 54, 62), kBlack);
    EXPECT_EQ(at(out.image, 55, 99), kBlack);
    EXPECT_EQ(at(out.image, 56, 80), kGrey);
    // 4-pixel dots: the A's top row starts at x = 6 + 4, y = 66.
    EXPECT_EQ(at(out.image, 10, 66), kBlack);
    EXPECT_EQ(at(out.image, 13, 69), kBlack);
    EXPECT_EQ(at(out.image, 9, 66), kOrange);
}

TEST(AnnotatePhysicalTest, EmptyListAndErrors) {
    const Screenshot s =
        Screenshot::with_mapping(blank(20, 10), CaptureMapping::single(0, 0, 20, 10, 1.0f));
    auto out = s.annotate_physical({}).value();
    EXPECT_EQ(out.image, s);
    EXPECT_TRUE(out.not_drawn.empty());

    Screenshot short_buffer = blank(3, 2);
    short_buffer.pixels.pop_back();
    auto r = short_buffer.annotate(std::vector<Annotation>{}, 0, 0);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error(Error::Platform{-1,
                                               "annotate: screenshot pixel buffer size 23 does "
                                               "not match 3x2 RGBA (24 bytes)"}));
    Screenshot huge{.width = 1u << 31, .height = 1u << 31};
    EXPECT_EQ(huge.annotate_physical({}).error(),
              Error(Error::Platform{-1, "annotate: screenshot dimensions overflow"}));
}

TEST(AnnotateTest, InPlaceMatchesTheCopy) {
    const Screenshot s =
        Screenshot::with_mapping(blank(120, 80), CaptureMapping::single(5, 5, 120, 80, 1.0f));
    const std::vector<Annotation> anns = {{"A1", Rect{10, 10, 40, 30}, kOrange},
                                          {"B1", Rect{60, 20, 30, 30}, kBlue},
                                          {"C1", Rect{500, 20, 30, 30}, kBlue}};
    const AnnotateOutcome copied = s.annotate(anns, 0, 0).value();
    Screenshot mine = s;
    const AnnotateOutcome in_place = std::move(mine).annotate(anns, 0, 0).value();
    EXPECT_EQ(in_place.image, copied.image);
    EXPECT_EQ(in_place.not_drawn, copied.not_drawn);
    EXPECT_EQ(copied.not_drawn, (std::vector<std::size_t>{2}));

    // A refused call leaves the given-up screenshot whole.
    Screenshot broken = blank(3, 2);
    broken.pixels.pop_back();
    EXPECT_FALSE(std::move(broken).annotate_physical(anns));
    EXPECT_EQ(broken.pixels.size(), 23u);
}

TEST(AnnotateTest, WithoutMappingUsesOriginAndScale) {
    const Screenshot s = blank(100, 100, 2.0f);
    const std::vector<Annotation> anns = {{"", Rect{110, 60, 10, 5}, kOrange},
                                          {"", Rect{0, 0, 10, 10}, kOrange}};
    auto out = s.annotate(anns, 100, 50).value();
    // (110 - 100) * 2 = 20, (60 - 50) * 2 = 20, 20 x 10 pixels.
    EXPECT_EQ(at(out.image, 20, 20), kOrange);
    EXPECT_EQ(at(out.image, 39, 29), kOrange);
    EXPECT_EQ(at(out.image, 40, 30), kGrey);
    EXPECT_EQ(at(out.image, 19, 20), kGrey);
    EXPECT_EQ(out.not_drawn, (std::vector<std::size_t>{1}));  // lands left of and above the image

    // Extreme origins saturate instead of wrapping around into the image.
    const Annotation far{"", Rect{std::numeric_limits<std::int32_t>::max(), 0, 10, 10}, kOrange};
    EXPECT_EQ(s.annotate({&far, 1}, std::numeric_limits<std::int32_t>::min(), 0)->not_drawn,
              (std::vector<std::size_t>{0}));
}

TEST(AnnotateTest, ThroughTheMapping) {
    // Two displays side by side, the second at double density.
    CaptureMapping m{
        .segments = {{{0, 0, 100, 100}, {0, 0, 100, 100}}, {{100, 0, 50, 50}, {100, 0, 100, 100}}}};
    const Screenshot s = Screenshot::with_mapping(blank(200, 100), m);
    const std::vector<Annotation> anns = {
        {"A1", Rect{500, 500, 10, 10}, kOrange},  // maps nowhere
        {"A2", Rect{80, 10, 40, 20}, kBlue},      // spans both displays
        {"A3", Rect{10, 10, 0, 10}, kOrange},     // empty
    };
    auto out = s.annotate(anns, 0, 0).value();
    EXPECT_EQ(out.not_drawn, (std::vector<std::size_t>{0, 2}));
    // Two outlines: (80, 10, 20, 20) and (100, 20, 40, 40); one badge, below the first rectangle
    // (above it the badge would stick out of the image).
    EXPECT_EQ(at(out.image, 80, 10), kBlue);
    EXPECT_EQ(at(out.image, 139, 59), kBlue);
    EXPECT_EQ(at(out.image, 80, 30), kWhite);
    EXPECT_EQ(at(out.image, 81, 31), kBlue);
    EXPECT_EQ(at(out.image, 80, 9), kGrey);
    EXPECT_EQ(at(out.image, 100, 19), kGrey);
    EXPECT_EQ(at(out.image, 141, 19), kGrey);  // the second rectangle has no badge
    EXPECT_EQ(out.image.mapping, s.mapping);

    Screenshot raw = blank(10, 10);
    raw.mapping.reset();
    EXPECT_TRUE(raw.annotate(anns, 0, 0));  // no mapping: the origin path
}

}  // namespace
}  // namespace vemor
