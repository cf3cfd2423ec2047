// The screenshot value: an RGBA image with an optional mapping between desktop points and image
// pixels, its crop, resize and PNG forms, and the capture contract a platform backend implements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/error.hpp"

namespace vemor {

struct Annotation;  // vemor/annotate.hpp

// One captured display area: where it lies on the desktop and where in capture space.
struct CaptureMappingSegment {
    Rect desktop;
    Rect image;
    bool operator==(const CaptureMappingSegment&) const = default;
};

// A pair of 64-bit floats, one per axis.
struct Vec2 {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const Vec2&) const = default;
};

// Ties the pixels of the current image to desktop coordinates. Per axis a capture-space
// coordinate c lies at (c - crop_offset) * scale_factors in the current image.
struct CaptureMapping {
    std::vector<CaptureMappingSegment> segments;
    Vec2 crop_offset{0.0, 0.0};
    Vec2 scale_factors{1.0, 1.0};
    // The display layout the capture was taken under, as the backend names it (0: unnamed).
    // Crop and resize carry it along. Nothing compares it yet: there is no rule for telling
    // that a layout changed, so no staleness check runs (see `stale_mapping_error`).
    std::uint64_t layout_token = 0;

    // One segment: the desktop area (x, y, width / s, height / s) over image (0, 0, width,
    // height), where s is `scale` when finite and positive, else 1.
    static CaptureMapping single(std::int32_t x, std::int32_t y, std::uint32_t width,
                                 std::uint32_t height, float scale);

    bool operator==(const CaptureMapping&) const = default;
};

// The error a conversion reports when its mapping no longer matches the displays.
inline constexpr std::string_view kStaleMappingMessage =
    "screenshot coordinate mapping is stale because the display layout changed; capture a new "
    "screenshot";
Error stale_mapping_error();

inline constexpr std::string_view kNoMappingMessage =
    "screenshot has no coordinate mapping; it was constructed from raw pixels rather than "
    "captured from a desktop";

struct AnnotateOutcome;

// RGBA, 8 bits per channel, rows top to bottom, each exactly width * 4 bytes. The length rule
// is not enforced on construction; the operations that read pixels test it.
struct Screenshot {
    std::vector<std::uint8_t> pixels;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Image pixels per desktop point of a simple single-display capture: a hint only.
    float scale = 1.0f;
    std::optional<CaptureMapping> mapping;

    static Screenshot with_mapping(Screenshot screenshot, CaptureMapping mapping);

    bool has_mapping() const { return mapping.has_value(); }

    Result<Point> desktop_to_image(std::int32_t x, std::int32_t y) const;
    Result<Point> image_to_desktop(std::int32_t x, std::int32_t y) const;
    // The image rectangles, in segment order, of the segments the desktop rectangle meets;
    // rounded outward and never beyond the image.
    Result<std::vector<Rect>> desktop_rect_to_image(const Rect& rect) const;

    // `rect` in image pixels; a rectangle sticking out of the image is clipped.
    Result<Screenshot> crop(const Rect& rect) const;
    Result<Screenshot> crop(std::int32_t x, std::int32_t y, std::uint32_t width,
                            std::uint32_t height) const {
        return crop(Rect{x, y, width, height});
    }
    // Nearest neighbour, top-left sampling.
    Result<Screenshot> resize(std::uint32_t new_width, std::uint32_t new_height) const;

    // 8-bit RGBA PNG, zlib level 6, adaptive row filters, no ancillary chunks.
    Result<std::vector<std::uint8_t>> to_png() const;
    // A path value and a text path behave alike (text converts to a path).
    Result<void> save_png(const std::filesystem::path& path) const;

    // Draws tagged boxes (rectangles in desktop points) on a copy. The origin is the desktop
    // position of the image's top-left corner, used only when there is no mapping. Defined in
    // annotate.cpp; include vemor/annotate.hpp to call it. On a screenshot the caller gives up
    // (`std::move(shot).annotate(...)`) the boxes are drawn in place, saving the copy; on an
    // error that screenshot is left as it was.
    Result<AnnotateOutcome> annotate(std::span<const Annotation> annotations, std::int32_t origin_x,
                                     std::int32_t origin_y) const&;
    Result<AnnotateOutcome> annotate(std::span<const Annotation> annotations, std::int32_t origin_x,
                                     std::int32_t origin_y) &&;
    // The same with rectangles in image pixels; the not-drawn indices come in input order.
    Result<AnnotateOutcome> annotate_physical(std::span<const Annotation> annotations) const&;
    Result<AnnotateOutcome> annotate_physical(std::span<const Annotation> annotations) &&;

    bool operator==(const Screenshot&) const = default;
};

// What the two annotate operations return: the annotated copy (mapping, size and scale of the
// original) and the indices of the annotations of which nothing was drawn.
struct AnnotateOutcome {
    Screenshot image;
    std::vector<std::size_t> not_drawn;
};

// What a full-display capture returns: the image and the desktop position of its top-left
// corner (annotated captures pass it on to `Screenshot::annotate`).
struct FullCapture {
    Screenshot screenshot;
    Point origin;
};

// The platform's capture contract. Implementations are shared handles usable from any thread.
class ScreenshotProvider {
  public:
    virtual ~ScreenshotProvider() = default;
    // The whole main display.
    virtual Result<FullCapture> capture_full() const = 0;
    // The part of the main display inside `rect` (desktop points).
    virtual Result<Screenshot> capture_region(const Rect& rect) const = 0;
};

using ScreenshotProviderHandle = std::shared_ptr<const ScreenshotProvider>;

namespace png {
// The encoder behind `Screenshot::to_png`, for callers that hold bare RGBA rows. The length of
// `rgba` must be width * height * 4 (tested by the caller). Errors carry the encoder's text.
Result<std::vector<std::uint8_t>> encode_rgba(std::span<const std::uint8_t> rgba,
                                              std::uint32_t width, std::uint32_t height);
}  // namespace png

}  // namespace vemor
