// Screen capture over the simulated platform: permission, sizes at the display's scale, the
// desktop-to-image mapping with its rounded origin, the error texts, and pixels that show the
// desktop where its elements are.
#include "vemor/macos/screenshot.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "standin_fixture.hpp"

namespace vemor::standin_test {
namespace {

namespace pids = sd::default_pids;

using MacOSScreenshotTest = StandinTest;

std::shared_ptr<MacOSScreenshot> provider() {
    auto p = MacOSScreenshot::create();
    EXPECT_TRUE(p) << p.error().message();
    return p ? *p : nullptr;
}

std::array<std::uint8_t, 4> pixel(const Screenshot& s, Point at) {
    const std::size_t i = (static_cast<std::size_t>(at.y) * s.width + at.x) * 4;
    return {s.pixels[i], s.pixels[i + 1], s.pixels[i + 2], s.pixels[i + 3]};
}

Rect frame_of(pid_t pid, const std::string& identifier) {
    auto id = sd::find_element(pid, identifier);
    EXPECT_TRUE(id.has_value()) << identifier;
    const CGPoint p = *sd::attribute(*id, "AXPosition")->get<CGPoint>();
    const CGSize z = *sd::attribute(*id, "AXSize")->get<CGSize>();
    return Rect{static_cast<std::int32_t>(p.x), static_cast<std::int32_t>(p.y),
                static_cast<std::uint32_t>(z.width), static_cast<std::uint32_t>(z.height)};
}

TEST_F(MacOSScreenshotTest, CreationNeedsScreenRecording) {
    EXPECT_TRUE(MacOSScreenshot::create());
    // Without the permission the window list shows no ordinary window.
    sd::clear_window_list();
    auto refused = MacOSScreenshot::create();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), Error(Error::PermissionDenied{
                                   "Enable Screen Recording in System Settings → Privacy & "
                                   "Security → Screen & System Audio Recording."}));
}

TEST_F(MacOSScreenshotTest, AFullCaptureOfARetinaDisplayMapsPointsToPixels) {
    auto shot = provider()->capture_full();
    ASSERT_TRUE(shot) << shot.error().message();
    const Screenshot& s = shot->screenshot;
    EXPECT_EQ(s.width, 2880u);
    EXPECT_EQ(s.height, 1800u);
    EXPECT_EQ(s.pixels.size(), 2880u * 1800u * 4u);
    EXPECT_EQ(s.scale, 2.0f);
    EXPECT_EQ(shot->origin, (Point{0, 0}));
    EXPECT_EQ(s.desktop_to_image(1439, 899), (Point{2878, 1798}));
    EXPECT_EQ(s.desktop_to_image(0, 0), (Point{0, 0}));
    EXPECT_EQ(s.image_to_desktop(2878, 1798), (Point{1439, 899}));
}

TEST_F(MacOSScreenshotTest, RegionsAndDisplayOriginsAreRounded) {
    auto p = provider();
    auto region = p->capture_region(Rect{10, 20, 100, 50});
    ASSERT_TRUE(region) << region.error().message();
    EXPECT_EQ(region->width, 200u);
    EXPECT_EQ(region->height, 100u);
    EXPECT_EQ(region->desktop_to_image(10, 20), (Point{0, 0}));
    EXPECT_EQ(region->desktop_to_image(60, 45), (Point{100, 50}));

    // A display whose origin lies between points: halves round away from zero.
    const std::pair<CGPoint, Point> origins[] = {
        {{-1440.5, 10.5}, {-1441, 11}},
        {{2.4, -0.4}, {2, 0}},
    };
    for (const auto& [origin, rounded] : origins) {
        sd::set_displays({sd::DisplaySpec{.frame = {origin, {300, 200}}, .scale = 1.5}});
        auto full = p->capture_full();
        ASSERT_TRUE(full) << full.error().message();
        EXPECT_EQ(full->origin, rounded);
        EXPECT_EQ(full->screenshot.width, 450u);
        EXPECT_EQ(full->screenshot.height, 300u);
        EXPECT_EQ(full->screenshot.scale, 1.5f);
        EXPECT_EQ(full->screenshot.desktop_to_image(rounded.x, rounded.y), (Point{0, 0}));
    }
}

TEST_F(MacOSScreenshotTest, FailuresCarryTheirCodesAndTexts) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        Rect region;
        Error error;
        std::string log = {};  // what each failed capture writes to standard error
    };
    const Case cases[] = {
        {"empty region", [] {}, Rect{0, 0, 0, 50},
         Error::Platform{-5, "requested rect has zero/negative dimensions"}},
        {"no display", [] { sd::set_shareable_content_available(false); }, Rect{0, 0, 10, 10},
         Error::PermissionDenied{
             "ScreenCaptureKit could not enumerate displays. Enable Screen Recording for this "
             "binary in System Settings → Privacy & Security → Screen & System Audio "
             "Recording."}},
        {"no content, with an error",
         [] { sd::set_shareable_content_error("The user declined TCCs for display capture"); },
         Rect{0, 0, 10, 10},
         Error::PermissionDenied{
             "ScreenCaptureKit could not enumerate displays. Enable Screen Recording for this "
             "binary in System Settings → Privacy & Security → Screen & System Audio "
             "Recording."},
         "vemor SCShareableContent error: The user declined TCCs for display capture\n"},
        {"no image", [] { sd::set_screenshot_image_available(false); }, Rect{0, 0, 10, 10},
         Error::Platform{-2, "SCScreenshotManager returned no image"}},
        {"no image, with an error",
         [] { sd::set_screenshot_error("Stream failed to start: display « 1 »"); },
         Rect{0, 0, 10, 10}, Error::Platform{-2, "SCScreenshotManager returned no image"},
         "vemor SCScreenshotManager error: Stream failed to start: display « 1 »\n"},
        {"exception",
         [] {
             sd::add_fault(sd::Fault{.call = "SCScreenshotManagerStandinCaptureImage", .times = 0});
         },
         Rect{0, 0, 10, 10}, Error::Platform{-9999, "ObjC exception during capture"}},
    };
    auto p = provider();
    for (const Case& c : cases) {
        sd::reset_to_default_desktop();
        c.arrange();
        ::testing::internal::CaptureStderr();
        auto region = p->capture_region(c.region);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.log) << c.what;
        ASSERT_FALSE(region) << c.what;
        EXPECT_EQ(region.error(), c.error) << c.what;
        if (c.region.width != 0) {
            ::testing::internal::CaptureStderr();
            auto full = p->capture_full();
            EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.log) << c.what;
            ASSERT_FALSE(full) << c.what;
            EXPECT_EQ(full.error(), c.error) << c.what;
        }
    }
}

TEST_F(MacOSScreenshotTest, PixelsShowTheDesktopWhereItsElementsAre) {
    auto shot = provider()->capture_full();
    ASSERT_TRUE(shot);
    const Screenshot& s = shot->screenshot;
    auto centre_pixel = [&](pid_t pid, const std::string& id) {
        auto rects = s.desktop_rect_to_image(frame_of(pid, id));
        EXPECT_TRUE(rects && rects->size() == 1u) << id;
        const Rect r = rects->front();
        return pixel(s, Point{r.x + static_cast<std::int32_t>(r.width / 2),
                              r.y + static_cast<std::int32_t>(r.height / 2)});
    };
    using Px = std::array<std::uint8_t, 4>;
    EXPECT_EQ(centre_pixel(pids::kTextEdit, "textedit.save"), (Px{64, 128, 230, 255}));
    EXPECT_EQ(centre_pixel(pids::kTextEdit, "textedit.text"), (Px{252, 252, 248, 255}));
    EXPECT_EQ(centre_pixel(pids::kTextEdit, "textedit.menu.Format"), (Px{220, 220, 220, 255}));
    EXPECT_EQ(centre_pixel(pids::kDock, "dock.Notes"), (Px{200, 120, 60, 255}));
    // Status items over the front application's menu bar.
    EXPECT_EQ(centre_pixel(pids::kSystemUIServer, "status.wifi"), (Px{220, 220, 220, 255}));
    // Behind the front window nothing of the Settings window shows.
    EXPECT_EQ(centre_pixel(pids::kSettings, "settings.apply"), (Px{252, 252, 248, 255}));

    // A region shows the same things at the same scale.
    const Rect save = frame_of(pids::kTextEdit, "textedit.save");
    auto region = provider()->capture_region(save);
    ASSERT_TRUE(region);
    EXPECT_EQ(region->width, save.width * 2);
    EXPECT_EQ(pixel(*region, Point{1, 1}), (Px{64, 128, 230, 255}));

    // On a display that does not start at the desktop's origin, a region is still the desktop
    // rectangle asked for.
    sd::set_displays({sd::DisplaySpec{.frame = {{-300, -200}, {1740, 1100}}, .scale = 2.0}});
    auto moved = provider()->capture_region(save);
    ASSERT_TRUE(moved) << moved.error().message();
    EXPECT_EQ(moved->width, save.width * 2);
    EXPECT_EQ(pixel(*moved, Point{1, 1}), (Px{64, 128, 230, 255}));
    EXPECT_EQ(moved->desktop_to_image(save.x, save.y), (Point{0, 0}));
}

}  // namespace
}  // namespace vemor::standin_test
