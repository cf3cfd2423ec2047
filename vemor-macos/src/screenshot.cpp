// Screen capture through `safe_cg_capture_rgba`: the shim hands back a malloc'ed RGBA buffer,
// which is copied into the screenshot and released at once.
#include "vemor/macos/screenshot.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>

#include "vemor/macos/provider.hpp"
#include "vemor/macos/shim.hpp"

namespace vemor {

namespace {

constexpr std::string_view kScreenRecordingInstructions =
    "Enable Screen Recording in System Settings → Privacy & Security → Screen & System Audio "
    "Recording.";
constexpr std::string_view kNoDisplayInstructions =
    "ScreenCaptureKit could not enumerate displays. Enable Screen Recording for this binary in "
    "System Settings → Privacy & Security → Screen & System Audio Recording.";

constexpr std::uint64_t kMaxPixelCount = (std::uint64_t{1} << 62) - 1;

Error capture_error(std::int32_t code) {
    switch (code) {
        case -1:
            return Error::PermissionDenied{std::string(kNoDisplayInstructions)};
        case -2:
            return Error::Platform{-2, "SCScreenshotManager returned no image"};
        case -3:
            return Error::Platform{-3, "pixel buffer allocation failed"};
        case -4:
            return Error::Platform{-4, "bitmap context creation failed"};
        case -5:
            return Error::Platform{-5, "requested rect has zero/negative dimensions"};
        case kSafeExceptionCaught:
            return Error::Platform{kSafeExceptionCaught, "ObjC exception during capture"};
        default:
            return Error::Platform{code, fmt::format("SCK capture failed with code {}", code)};
    }
}

// Nearest integer, halves away from zero, clamped to the signed 32-bit range; NaN gives 0.
std::int32_t round_origin(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::round(v);
    if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(r);
}

// Frees the shim's buffer on every path.
struct ShimPixels {
    std::uint8_t* data = nullptr;
    ~ShimPixels() { safe_cg_free_pixels(data); }
};

}  // namespace

Result<std::shared_ptr<MacOSScreenshot>> MacOSScreenshot::create() {
    if (!MacOSProvider::has_screen_recording_permission()) {
        return fail(Error::PermissionDenied{std::string(kScreenRecordingInstructions)});
    }
    return std::shared_ptr<MacOSScreenshot>(new MacOSScreenshot());
}

Result<FullCapture> MacOSScreenshot::capture_full() const { return capture(std::nullopt); }

Result<Screenshot> MacOSScreenshot::capture_region(const Rect& rect) const {
    FullCapture c = VEMOR_TRY(capture(rect));
    return std::move(c.screenshot);
}

Result<FullCapture> MacOSScreenshot::capture(std::optional<Rect> region) const {
    ShimPixels pixels;
    std::uint32_t width = 0, height = 0;
    double scale = 1.0, origin_x = 0, origin_y = 0;
    const std::int32_t code =
        safe_cg_capture_rgba(region ? 1 : 0, &pixels.data, &width, &height, &scale, &origin_x,
                             &origin_y, region ? static_cast<double>(region->x) : 0.0,
                             region ? static_cast<double>(region->y) : 0.0,
                             region ? static_cast<double>(region->width) : 0.0,
                             region ? static_cast<double>(region->height) : 0.0);
    if (code != 0) return fail(capture_error(code));
    if (pixels.data == nullptr) return fail(capture_error(0));
    if (width == 0 || height == 0) {
        return fail(Error::Platform{-2, "captured image has zero dimensions"});
    }
    const std::uint64_t count = std::uint64_t{width} * height;
    if (count > kMaxPixelCount) return fail(Error::Platform{-1, "screenshot dimensions overflow"});

    Screenshot shot;
    try {
        shot.pixels.assign(pixels.data, pixels.data + count * 4);
    } catch (const std::bad_alloc&) {
        return fail(capture_error(-3));
    }
    shot.width = width;
    shot.height = height;
    shot.scale = static_cast<float>(scale);
    const std::int32_t ox = round_origin(origin_x);
    const std::int32_t oy = round_origin(origin_y);
    const float s = shot.scale;
    shot =
        Screenshot::with_mapping(std::move(shot), CaptureMapping::single(ox, oy, width, height, s));
    return FullCapture{.screenshot = std::move(shot), .origin = Point{ox, oy}};
}

}  // namespace vemor
