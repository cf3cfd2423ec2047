#include "vemor/screenshot.hpp"

#include <gtest/gtest.h>
#include <spng.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace vemor {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Pixel (x, y) holds (x, y, x ^ y, 255) modulo 256, so any pixel tells where it came from.
Screenshot pattern(std::uint32_t w, std::uint32_t h, float scale = 1.0f) {
    std::vector<std::uint8_t> px(std::size_t{w} * h * 4);
    std::uint8_t* p = px.data();
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x, p += 4) {
            p[0] = std::uint8_t(x);
            p[1] = std::uint8_t(y);
            p[2] = std::uint8_t(x ^ y);
            p[3] = 255;
        }
    return Screenshot{.pixels = std::move(px), .width = w, .height = h, .scale = scale};
}

const Screenshot& retina_capture() {
    static const Screenshot s = Screenshot::with_mapping(
        pattern(2880, 1800, 2.0f), CaptureMapping::single(0, 0, 2880, 1800, 2.0f));
    return s;
}

std::string message_of(const Error& e) {
    const auto* p = e.as<Error::Platform>();
    return p ? p->message : "not a platform error: " + e.debug();
}

template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("ok") : message_of(r.error());
}

const std::uint8_t* pixel(const Screenshot& s, std::uint32_t x, std::uint32_t y) {
    return s.pixels.data() + (std::size_t{y} * s.width + x) * 4;
}

TEST(CaptureMappingTest, SingleSegmentFromScale) {
    struct Case {
        float scale;
        std::uint32_t w, h;
        Rect desktop;
    };
    const Case cases[] = {
        {2.0f, 2880, 1800, {7, -3, 1440, 900}},
        {1.0f, 1920, 1080, {7, -3, 1920, 1080}},
        {0.0f, 640, 480, {7, -3, 640, 480}},
        {-2.0f, 640, 480, {7, -3, 640, 480}},
        {kNaN, 640, 480, {7, -3, 640, 480}},
        {kInf, 640, 480, {7, -3, 640, 480}},
        {2.0f, 5, 3, {7, -3, 3, 2}},  // halves round away from zero
        {3.0f, 100, 100, {7, -3, 33, 33}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scale);
        CaptureMapping m = CaptureMapping::single(7, -3, c.w, c.h, c.scale);
        ASSERT_EQ(m.segments.size(), 1u);
        EXPECT_EQ(m.segments[0].desktop, c.desktop);
        EXPECT_EQ(m.segments[0].image, (Rect{0, 0, c.w, c.h}));
        EXPECT_EQ(m.crop_offset, (Vec2{0.0, 0.0}));
        EXPECT_EQ(m.scale_factors, (Vec2{1.0, 1.0}));
    }
}

TEST(ScreenshotMappingTest, DesktopToImageAndBack) {
    const Screenshot& s = retina_capture();
    struct Case {
        Point desktop;
        std::string image;  // "x,y" or the error
    };
    const Case cases[] = {
        {{0, 0}, "0,0"},
        {{1439, 899}, "2878,1798"},
        {{720, 450}, "1440,900"},
        {{1440, 0}, "desktop point is outside the captured display areas"},
        {{0, 900}, "desktop point is outside the captured display areas"},
        {{-1, 0}, "desktop point is outside the captured display areas"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        auto r = s.desktop_to_image(c.desktop.x, c.desktop.y);
        EXPECT_EQ(r ? fmt::format("{},{}", r->x, r->y) : message_of(r.error()), c.image);
    }
    EXPECT_EQ(s.image_to_desktop(2879, 1799).value(), (Point{1439, 899}));
    EXPECT_EQ(s.image_to_desktop(2878, 1798).value(), (Point{1439, 899}));
    EXPECT_EQ(error_text(s.image_to_desktop(2880, 0)), "image point is outside the screenshot");
}

TEST(ScreenshotMappingTest, WithoutMapping) {
    const Screenshot raw = pattern(4, 4);
    const std::string no_mapping =
        "screenshot has no coordinate mapping; it was constructed from raw pixels rather than "
        "captured from a desktop";
    EXPECT_FALSE(raw.has_mapping());
    EXPECT_EQ(error_text(raw.desktop_to_image(0, 0)), no_mapping);
    EXPECT_EQ(error_text(raw.image_to_desktop(1, 1)), no_mapping);
    EXPECT_EQ(error_text(raw.desktop_rect_to_image(Rect{0, 0, 1, 1})), no_mapping);
    // Bounds come before the mapping check.
    EXPECT_EQ(error_text(raw.image_to_desktop(-1, 0)), "image point is outside the screenshot");
    EXPECT_EQ(raw.desktop_to_image(0, 0).error().as<Error::Platform>()->code, -1);
}

TEST(ScreenshotMappingTest, GapsBetweenSegments) {
    // Two displays side by side at scale 1, the second one 100 points lower, plus an unusable
    // segment that every conversion skips.
    CaptureMapping m{.segments = {{{0, 0, 100, 100}, {0, 0, 100, 100}},
                                  {{100, 0, 0, 50}, {100, 0, 0, 50}},
                                  {{100, 100, 100, 100}, {100, 0, 100, 100}}}};
    const Screenshot s = Screenshot::with_mapping(pattern(200, 100), m);
    EXPECT_EQ(s.desktop_to_image(150, 150).value(), (Point{150, 50}));
    EXPECT_EQ(error_text(s.desktop_to_image(150, 50)),
              "desktop point is outside the captured display areas");
    EXPECT_EQ(s.image_to_desktop(150, 50).value(), (Point{150, 150}));
    auto rects = s.desktop_rect_to_image(Rect{90, 90, 20, 20}).value();
    EXPECT_EQ(rects, (std::vector<Rect>{{90, 90, 10, 10}, {100, 0, 10, 10}}));

    m.segments = {{{0, 0, 100, 100}, {0, 0, 0, 100}}};
    const Screenshot broken = Screenshot::with_mapping(pattern(200, 100), m);
    EXPECT_EQ(error_text(broken.image_to_desktop(5, 5)),
              "image point does not belong to a captured display");
}

TEST(ScreenshotMappingTest, DesktopRectToImage) {
    const Screenshot& s = retina_capture();
    struct Case {
        Rect desktop;
        std::vector<Rect> image;
    };
    const Case cases[] = {
        {{10, 20, 30, 40}, {{20, 40, 60, 80}}},
        {{1400, 880, 100, 100}, {{2800, 1760, 80, 40}}},  // half off: clipped
        {{-50, -50, 60, 60}, {{0, 0, 20, 20}}},
        {{1440, 0, 10, 10}, {}},  // wholly off
        {{0, 0, 0, 10}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fmt::format("{},{}", c.desktop.x, c.desktop.y));
        EXPECT_EQ(s.desktop_rect_to_image(c.desktop).value(), c.image);
    }
    // At scale 1.5 a point covers one and a half pixels; partly covered pixels count.
    const Screenshot odd = Screenshot::with_mapping(pattern(150, 150, 1.5f),
                                                    CaptureMapping::single(0, 0, 150, 150, 1.5f));
    EXPECT_EQ(odd.desktop_rect_to_image(Rect{1, 1, 1, 1}).value(),
              (std::vector<Rect>{{1, 1, 2, 2}}));
}

TEST(ScreenshotCropTest, KeepsMappingTrue) {
    Screenshot capture = retina_capture();
    capture.mapping->layout_token = 42;
    const Screenshot c = capture.crop(Rect{100, 50, 200, 100}).value();
    EXPECT_EQ(c.width, 200u);
    EXPECT_EQ(c.height, 100u);
    EXPECT_EQ(c.scale, 2.0f);
    EXPECT_EQ(c.mapping->crop_offset, (Vec2{100.0, 50.0}));
    EXPECT_EQ(c.mapping->layout_token, 42u);
    EXPECT_EQ(c.desktop_to_image(60, 30).value(), (Point{20, 10}));
    EXPECT_EQ(error_text(c.desktop_to_image(40, 30)),
              "desktop point is outside the captured display areas");
    EXPECT_EQ(c.image_to_desktop(20, 10).value(), (Point{60, 30}));
    EXPECT_EQ(c.desktop_rect_to_image(Rect{0, 0, 10, 10}).value(), std::vector<Rect>{});
    // The content is the source's: pixel (0, 0) was (100, 50).
    EXPECT_EQ(pixel(c, 0, 0)[0], 100);
    EXPECT_EQ(pixel(c, 0, 0)[1], 50);
    EXPECT_EQ(pixel(c, 199, 99)[0], std::uint8_t(299));
    EXPECT_EQ(pixel(c, 199, 99)[1], 149);
}

TEST(ScreenshotCropTest, ClipsAndRefuses) {
    const Screenshot s = pattern(40, 30);
    struct Case {
        Rect rect;
        std::string result;  // "WxH@x,y" of the first pixel, or the error
    };
    const Case cases[] = {
        {{-10, -10, 20, 20}, "10x10@0,0"},
        {{35, 25, 100, 100}, "5x5@35,25"},
        {{5, 5, 0, 10}, "crop rectangle is outside the screenshot or empty"},
        {{40, 0, 10, 10}, "crop rectangle is outside the screenshot or empty"},
        {{-20, 0, 20, 10}, "crop rectangle is outside the screenshot or empty"},
        {{std::numeric_limits<std::int32_t>::max(), 0, std::numeric_limits<std::uint32_t>::max(),
          1},
         "crop rectangle is outside the screenshot or empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        auto r = s.crop(c.rect);
        EXPECT_EQ(r ? fmt::format("{}x{}@{},{}", r->width, r->height, pixel(*r, 0, 0)[0],
                                  pixel(*r, 0, 0)[1])
                    : message_of(r.error()),
                  c.result);
    }
    EXPECT_FALSE(s.crop(Rect{0, 0, 10, 10})->has_mapping());
}

TEST(ScreenshotResizeTest, HalfSizeFollowsMapping) {
    const Screenshot& capture = retina_capture();
    const Screenshot half = capture.resize(1440, 900).value();
    EXPECT_EQ(half.scale, 1.0f);
    EXPECT_EQ(half.mapping->scale_factors, (Vec2{0.5, 0.5}));
    EXPECT_EQ(half.desktop_to_image(1439, 899).value(), (Point{1439, 899}));
    // Same content, rounded outward: desktop (10, 10, 5, 5) was pixels 20..30 and is now 10..15.
    EXPECT_EQ(half.desktop_rect_to_image(Rect{10, 10, 5, 5}).value(),
              (std::vector<Rect>{{10, 10, 5, 5}}));
    // Nearest neighbour from the top-left: destination (3, 2) takes source (6, 4).
    EXPECT_EQ(pixel(half, 3, 2)[0], 6);
    EXPECT_EQ(pixel(half, 3, 2)[1], 4);

    // Crop, then resize: the offsets are in capture pixels.
    const Screenshot cropped = capture.crop(Rect{100, 50, 200, 100})->resize(100, 50).value();
    EXPECT_EQ(cropped.desktop_to_image(60, 30).value(), (Point{10, 5}));
    EXPECT_EQ(cropped.image_to_desktop(10, 5).value(), (Point{60, 30}));
}

TEST(ScreenshotResizeTest, UpscaleRepeatsPixels) {
    const Screenshot s = pattern(2, 2).resize(4, 3).value();
    std::string rows;
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (std::uint32_t x = 0; x < 4; ++x)
            rows += fmt::format("{}{} ", pixel(s, x, y)[0], pixel(s, x, y)[1]);
        rows += '\n';
    }
    EXPECT_EQ(rows, "00 00 10 10 \n00 00 10 10 \n01 01 11 11 \n");
    EXPECT_FALSE(s.has_mapping());
}

TEST(ScreenshotResizeTest, Refusals) {
    const Screenshot empty{};
    EXPECT_EQ(error_text(empty.resize(0, 5)), "resize dimensions must be non-zero");
    EXPECT_EQ(error_text(empty.resize(5, 5)), "cannot resize an empty screenshot");
    EXPECT_EQ(error_text(pattern(3, 3).resize(3, 0)), "resize dimensions must be non-zero");
    // A target too large to hold is an error, not the end of the process.
    EXPECT_EQ(error_text(pattern(1, 1).resize(std::numeric_limits<std::uint32_t>::max(), 1u << 30)),
              "screenshot buffer of 18446744069414584320 bytes cannot be allocated");
    EXPECT_EQ(error_text(pattern(1, 1).resize(std::numeric_limits<std::uint32_t>::max(),
                                              std::numeric_limits<std::uint32_t>::max())),
              "screenshot dimensions overflow");
}

TEST(ScreenshotBufferTest, WrongLengthIsReported) {
    Screenshot s = pattern(3, 2);
    s.pixels.pop_back();
    const std::string rgba = "screenshot pixel buffer size 23 does not match 3x2 RGBA";
    EXPECT_EQ(error_text(s.crop(Rect{0, 0, 2, 2})), rgba);
    EXPECT_EQ(error_text(s.resize(6, 4)), rgba);
    EXPECT_EQ(error_text(s.to_png()), rgba + " (24 bytes)");

    Screenshot huge{.width = std::numeric_limits<std::uint32_t>::max(),
                    .height = std::numeric_limits<std::uint32_t>::max()};
    EXPECT_EQ(error_text(huge.to_png()), "screenshot dimensions overflow");
    EXPECT_EQ(error_text(huge.crop(Rect{0, 0, 1, 1})), "screenshot dimensions overflow");
}

// Decodes with libspng, an encoder-independent reader, and checks the header fields.
struct Decoded {
    spng_ihdr ihdr{};
    std::vector<std::uint8_t> rgba;
    std::vector<std::string> chunks;
};

Decoded decode(const std::vector<std::uint8_t>& png) {
    Decoded d;
    // Chunk types straight from the byte stream (libspng hides the ones it does not know).
    for (std::size_t at = 8; at + 8 <= png.size();) {
        std::size_t len =
            (std::size_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
        d.chunks.emplace_back(reinterpret_cast<const char*>(png.data() + at + 4), 4);
        at += 12 + len;
    }
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    EXPECT_EQ(spng_set_png_buffer(ctx, png.data(), png.size()), 0);
    EXPECT_EQ(spng_get_ihdr(ctx, &d.ihdr), 0);
    std::size_t size = 0;
    EXPECT_EQ(spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size), 0);
    d.rgba.resize(size);
    EXPECT_EQ(spng_decode_image(ctx, d.rgba.data(), size, SPNG_FMT_RGBA8, 0), 0);
    spng_ctx_free(ctx);
    return d;
}

TEST(ScreenshotPngTest, DecodesToTheSamePixels) {
    std::mt19937 rng(5);
    Screenshot noisy = pattern(37, 23);
    for (std::size_t i = 0; i < noisy.pixels.size(); i += 7) noisy.pixels[i] = std::uint8_t(rng());
    Screenshot one{.pixels = {12, 34, 56, 78}, .width = 1, .height = 1};
    Screenshot wide = pattern(3000, 2);  // rows longer than a filter scratch row guess
    for (const Screenshot* s : {&one, &noisy, &wide}) {
        SCOPED_TRACE(s->width);
        auto png = s->to_png();
        ASSERT_TRUE(png) << png.error().message();
        EXPECT_EQ(std::vector<std::uint8_t>(png->begin(), png->begin() + 8),
                  (std::vector<std::uint8_t>{137, 80, 78, 71, 13, 10, 26, 10}));
        Decoded d = decode(*png);
        EXPECT_EQ(d.ihdr.width, s->width);
        EXPECT_EQ(d.ihdr.height, s->height);
        EXPECT_EQ(d.ihdr.bit_depth, 8);
        EXPECT_EQ(d.ihdr.color_type, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA);
        EXPECT_EQ(d.ihdr.interlace_method, 0);
        EXPECT_EQ(d.chunks.front(), "IHDR");
        EXPECT_EQ(d.chunks.back(), "IEND");
        for (std::size_t i = 1; i + 1 < d.chunks.size(); ++i) EXPECT_EQ(d.chunks[i], "IDAT");
        EXPECT_EQ(d.rgba, s->pixels);
    }
}

TEST(ScreenshotPngTest, LargeFrameRoundTrips) {
    // Big enough to be filtered in several bands.
    Screenshot s = pattern(1024, 700);
    std::mt19937 rng(9);
    for (std::size_t i = 0; i < s.pixels.size(); i += 13) s.pixels[i] = std::uint8_t(rng());
    auto png = s.to_png();
    ASSERT_TRUE(png);
    EXPECT_EQ(decode(*png).rgba, s.pixels);
    EXPECT_LT(png->size(), s.pixels.size());
}

TEST(ScreenshotPngTest, EmptyImageIsAnEncoderError) {
    EXPECT_EQ(error_text(Screenshot{}.to_png()), "png encode: invalid image width");
    EXPECT_EQ(error_text(Screenshot{.width = 3}.to_png()), "png encode: invalid image height");
}

// Each test writes into a folder of its own (ctest runs them side by side).
class SavePngTest : public ::testing::Test {
  protected:
    vemor::testing::TempDir dir_;
};

TEST_F(SavePngTest, WritesAndTruncates) {
    const auto path = dir_.path() / "shot.png";
    std::ofstream(path) << std::string(100000, 'x');
    const Screenshot s = pattern(8, 8);
    ASSERT_TRUE(s.save_png(path.string()));  // a text path behaves like a path value
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes, s.to_png().value());
}

TEST_F(SavePngTest, ReportsTheOsError) {
    auto r = pattern(2, 2).save_png(dir_.path() / "missing" / "shot.png");
    ASSERT_FALSE(r);
    const auto* p = r.error().as<Error::Platform>();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->code, ENOENT);
    EXPECT_EQ(p->message, "save_png: No such file or directory");
    // Encoding errors pass through unchanged.
    EXPECT_EQ(error_text(Screenshot{}.save_png(dir_.path() / "x.png")),
              "png encode: invalid image width");
}

TEST_F(SavePngTest, RefusesANameWithNul) {
    // Writing to "shot.png" instead of the whole name would silently hit another file.
    const std::string name = (dir_.path() / "shot.png").string() + std::string(1, '\0') + "x";
    auto r = pattern(2, 2).save_png(name);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error(Error::Platform{-1, "save_png: path contains a NUL byte"}));
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "shot.png"));
}

TEST(ScreenshotStaleTest, MessageIsKept) {
    EXPECT_EQ(message_of(stale_mapping_error()),
              "screenshot coordinate mapping is stale because the display layout changed; "
              "capture a new screenshot");
}

}  // namespace
}  // namespace vemor
