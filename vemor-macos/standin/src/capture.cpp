// Displays, the window-list keys and the capture: the stand-in of ScreenCaptureKit's shareable
// content and screenshot manager renders the desktop's windows and elements as flat colours.
#include <cmath>
#include <cstring>

#include "desktop.hpp"

using namespace vemor::standin;

extern "C" {

const CFStringRef kCGWindowNumber = StandinCFStringMakeConstant("kCGWindowNumber");
const CFStringRef kCGWindowOwnerPID = StandinCFStringMakeConstant("kCGWindowOwnerPID");
const CFStringRef kCGWindowOwnerName = StandinCFStringMakeConstant("kCGWindowOwnerName");
const CFStringRef kCGWindowName = StandinCFStringMakeConstant("kCGWindowName");
const CFStringRef kCGWindowLayer = StandinCFStringMakeConstant("kCGWindowLayer");
const CFStringRef kCGWindowBounds = StandinCFStringMakeConstant("kCGWindowBounds");
const CFStringRef kCGWindowIsOnscreen = StandinCFStringMakeConstant("kCGWindowIsOnscreen");

namespace {

// Points times scale as a pixel count; NaN, negative and huge products are clamped before the
// cast, which would be undefined for them.
size_t pixels_of(double points, double scale) {
    double v = std::round(points * scale);
    if (!(v > 0)) return 0;
    if (v >= 1e15) return static_cast<size_t>(1e15);
    return static_cast<size_t>(v);
}

// Hands an error's description to the caller, as the completion handler's error.
void deliver_error(const std::optional<std::string>& description, CFStringRef* error) {
    if (error != nullptr) *error = description ? make_string(*description) : nullptr;
}

}  // namespace

CGDirectDisplayID CGMainDisplayID(void) {
    auto d = displays_now();
    return d.empty() ? 0 : d.front().id;
}

CGError CGGetActiveDisplayList(uint32_t maxDisplays, CGDirectDisplayID* activeDisplays,
                               uint32_t* displayCount) {
    auto d = displays_now();
    uint32_t n = 0;
    for (const auto& x : d) {
        if (activeDisplays != nullptr && n < maxDisplays) activeDisplays[n] = x.id;
        if (activeDisplays == nullptr || n < maxDisplays) ++n;
    }
    if (displayCount != nullptr) *displayCount = n;
    return kCGErrorSuccess;
}

CGRect CGDisplayBounds(CGDirectDisplayID display) {
    for (const auto& x : displays_now()) {
        if (x.id == display) return x.spec.frame;
    }
    return CGRect{};
}

size_t CGDisplayPixelsWide(CGDirectDisplayID display) {
    for (const auto& x : displays_now()) {
        if (x.id == display) return pixels_of(x.spec.frame.size.width, x.spec.scale);
    }
    return 0;
}

size_t CGDisplayPixelsHigh(CGDirectDisplayID display) {
    for (const auto& x : displays_now()) {
        if (x.id == display) return pixels_of(x.spec.frame.size.height, x.spec.scale);
    }
    return 0;
}

size_t SCShareableContentStandinGetDisplays(SCStandinDisplay* displays, size_t maxDisplays,
                                            CFStringRef* error) {
    if (error != nullptr) *error = nullptr;
    log_call("SCShareableContentStandinGetDisplays");
    if (check_fault("SCShareableContentStandinGetDisplays").null) return 0;
    if (auto failed = shareable_content_error()) {
        deliver_error(failed, error);
        return 0;
    }
    if (!shareable_content_available()) return 0;
    auto d = displays_now();
    for (size_t i = 0; i < d.size() && i < maxDisplays && displays != nullptr; ++i) {
        const DisplaySpec& s = d[i].spec;
        displays[i] = SCStandinDisplay{
            .displayID = d[i].id,
            .frame = s.frame,
            .width = pixels_of(s.frame.size.width, s.scale),
            .height = pixels_of(s.frame.size.height, s.scale)};
    }
    return d.size();
}

CGImageRef SCScreenshotManagerStandinCaptureImage(CGDirectDisplayID display, CGRect sourceRect,
                                                  size_t width, size_t height, Boolean showsCursor,
                                                  CFStringRef* error) {
    if (error != nullptr) *error = nullptr;
    log_call("SCScreenshotManagerStandinCaptureImage");
    if (check_fault("SCScreenshotManagerStandinCaptureImage").null) return nullptr;
    if (auto failed = screenshot_error()) {
        deliver_error(failed, error);
        return nullptr;
    }
    if (!screenshot_image_available() || width == 0 || height == 0) return nullptr;
    // Refuse absurd sizes as the platform would fail to allocate them.
    if (width > 32768 || height > 32768) return nullptr;
    CGRect frame{};
    bool found = false;
    for (const auto& x : displays_now()) {
        if (x.id == display) {
            frame = x.spec.frame;
            found = true;
        }
    }
    if (!found) return nullptr;
    CGRect source = frame;
    if (sourceRect.size.width > 0 && sourceRect.size.height > 0) {
        source =
            CGRect{{frame.origin.x + sourceRect.origin.x, frame.origin.y + sourceRect.origin.y},
                   sourceRect.size};
    }
    auto* image = new ImageObject(width, height);
    render_desktop(source, width, height, showsCursor != 0, image->rgba);
    return ref_of<CGImageRef>(image);
}

CFTypeID CGImageGetTypeID(void) { return kTypeIdCGImage; }

size_t CGImageGetWidth(CGImageRef image) {
    auto* i = cast<ImageObject>(image);
    return i != nullptr ? i->width : 0;
}

size_t CGImageGetHeight(CGImageRef image) {
    auto* i = cast<ImageObject>(image);
    return i != nullptr ? i->height : 0;
}

CGImageRef CGImageRetain(CGImageRef image) {
    if (image != nullptr) mutable_object_of(image)->retain();
    return image;
}

void CGImageRelease(CGImageRef image) {
    if (image != nullptr) mutable_object_of(image)->release();
}

Boolean CGImageStandinCopyRGBA(CGImageRef image, void* buffer, size_t width, size_t height,
                               size_t bytesPerRow) {
    auto* i = cast<ImageObject>(image);
    if (i == nullptr || buffer == nullptr || width != i->width || height != i->height ||
        bytesPerRow < width * 4) {
        return false;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (size_t y = 0; y < height; ++y) {
        std::memcpy(out + y * bytesPerRow, i->rgba.data() + y * width * 4, width * 4);
    }
    return true;
}

}  // extern "C"
