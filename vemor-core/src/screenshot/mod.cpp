// The screenshot value: desktop-to-image mapping, crop, resize and PNG output.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "vemor/screenshot.hpp"
#include "vemor/text.hpp"

namespace vemor {
namespace {

constexpr std::string_view kPointOutsideDisplays =
    "desktop point is outside the captured display areas";
constexpr std::string_view kImagePointOutside = "image point is outside the screenshot";
constexpr std::string_view kImagePointNoDisplay =
    "image point does not belong to a captured display";
constexpr std::string_view kCropEmpty = "crop rectangle is outside the screenshot or empty";
constexpr std::string_view kResizeZero = "resize dimensions must be non-zero";
constexpr std::string_view kResizeEmpty = "cannot resize an empty screenshot";
constexpr std::string_view kDimensionsOverflow = "screenshot dimensions overflow";

Error platform(std::string_view message) { return Error::Platform{-1, std::string(message)}; }

// width * height * 4 in the platform's size type.
Result<std::size_t> rgba_len(std::uint64_t width, std::uint64_t height) {
    std::size_t n = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(width), static_cast<std::size_t>(height),
                               &n) ||
        __builtin_mul_overflow(n, std::size_t{4}, &n))
        return fail(platform(kDimensionsOverflow));
    return n;
}

// The length test shared by crop and resize.
Result<void> check_buffer(const Screenshot& s) {
    std::size_t expected = VEMOR_TRY(rgba_len(s.width, s.height));
    if (s.pixels.size() != expected)
        return fail(
            platform(fmt::format("screenshot pixel buffer size {} does not match {}x{} RGBA",
                                 s.pixels.size(), s.width, s.height)));
    return {};
}

// A buffer that cannot be had is an error for the caller, never the end of the process.
Result<std::vector<std::uint8_t>> allocate(std::size_t len, bool zeroed) {
    try {
        std::vector<std::uint8_t> v;
        if (zeroed)
            v.resize(len);
        else
            v.reserve(len);
        return v;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return fail(platform(fmt::format("screenshot buffer of {} bytes cannot be allocated", len)));
}

bool segment_usable(const CaptureMappingSegment& s) {
    return s.desktop.width != 0 && s.desktop.height != 0 && s.image.width != 0 &&
           s.image.height != 0;
}

const CaptureMapping* mapping_of(const Screenshot& s) { return s.mapping ? &*s.mapping : nullptr; }

std::int64_t end_of(std::int32_t start, std::uint32_t size) {
    return std::int64_t{start} + std::int64_t{size};
}

std::uint32_t to_u32(double v) { return text::saturating_cast<std::uint32_t>(v); }
std::int32_t to_i32(double v) { return text::saturating_cast<std::int32_t>(v); }

}  // namespace

Error stale_mapping_error() { return platform(kStaleMappingMessage); }

CaptureMapping CaptureMapping::single(std::int32_t x, std::int32_t y, std::uint32_t width,
                                      std::uint32_t height, float scale) {
    double s = (std::isfinite(scale) && scale > 0.0f) ? static_cast<double>(scale) : 1.0;
    Rect desktop{x, y, to_u32(std::round(double(width) / s)),
                 to_u32(std::round(double(height) / s))};
    return CaptureMapping{
        .segments = {CaptureMappingSegment{desktop, Rect{0, 0, width, height}}},
        .crop_offset = {0.0, 0.0},
        .scale_factors = {1.0, 1.0},
    };
}

Screenshot Screenshot::with_mapping(Screenshot screenshot, CaptureMapping mapping) {
    screenshot.mapping = std::move(mapping);
    return screenshot;
}

Result<Point> Screenshot::desktop_to_image(std::int32_t px, std::int32_t py) const {
    const CaptureMapping* m = mapping_of(*this);
    if (m == nullptr) return fail(platform(kNoMappingMessage));
    for (const CaptureMappingSegment& seg : m->segments) {
        if (!segment_usable(seg)) continue;
        const Rect& d = seg.desktop;
        const Rect& im = seg.image;
        if (!(d.x <= px && px < end_of(d.x, d.width) && d.y <= py && py < end_of(d.y, d.height)))
            continue;
        // The operation order matters: a pixel boundary floors differently otherwise.
        double u = ((double(px) - d.x) * im.width / d.width + im.x - m->crop_offset.x) *
                   m->scale_factors.x;
        double v = ((double(py) - d.y) * im.height / d.height + im.y - m->crop_offset.y) *
                   m->scale_factors.y;
        if (!(0.0 <= u && u < double(width) && 0.0 <= v && v < double(height))) continue;
        return Point{to_i32(std::floor(u)), to_i32(std::floor(v))};
    }
    return fail(platform(kPointOutsideDisplays));
}

Result<Point> Screenshot::image_to_desktop(std::int32_t x, std::int32_t y) const {
    if (x < 0 || y < 0 || std::int64_t{x} >= std::int64_t{width} ||
        std::int64_t{y} >= std::int64_t{height})
        return fail(platform(kImagePointOutside));
    const CaptureMapping* m = mapping_of(*this);
    if (m == nullptr) return fail(platform(kNoMappingMessage));
    double u = double(x) / m->scale_factors.x + m->crop_offset.x;
    double v = double(y) / m->scale_factors.y + m->crop_offset.y;
    for (const CaptureMappingSegment& seg : m->segments) {
        if (!segment_usable(seg)) continue;
        const Rect& d = seg.desktop;
        const Rect& im = seg.image;
        if (!(im.x <= u && u < double(end_of(im.x, im.width)) && im.y <= v &&
              v < double(end_of(im.y, im.height))))
            continue;
        double dx = d.x + (u - im.x) * d.width / im.width;
        double dy = d.y + (v - im.y) * d.height / im.height;
        return Point{to_i32(std::floor(dx)), to_i32(std::floor(dy))};
    }
    return fail(platform(kImagePointNoDisplay));
}

Result<std::vector<Rect>> Screenshot::desktop_rect_to_image(const Rect& rect) const {
    const CaptureMapping* m = mapping_of(*this);
    if (m == nullptr) return fail(platform(kNoMappingMessage));
    std::vector<Rect> out;
    for (const CaptureMappingSegment& seg : m->segments) {
        const Rect& d = seg.desktop;
        const Rect& im = seg.image;
        if (im.width == 0 || im.height == 0) continue;
        std::int64_t x0 = std::max<std::int64_t>(rect.x, d.x);
        std::int64_t y0 = std::max<std::int64_t>(rect.y, d.y);
        std::int64_t x1 = std::min(end_of(rect.x, rect.width), end_of(d.x, d.width));
        std::int64_t y1 = std::min(end_of(rect.y, rect.height), end_of(d.y, d.height));
        if (x1 <= x0 || y1 <= y0) continue;
        auto f = [&](std::int64_t e) {
            return ((double(e) - d.x) * im.width / d.width + im.x - m->crop_offset.x) *
                   m->scale_factors.x;
        };
        auto g = [&](std::int64_t e) {
            return ((double(e) - d.y) * im.height / d.height + im.y - m->crop_offset.y) *
                   m->scale_factors.y;
        };
        double left = std::floor(std::max(f(x0), 0.0));
        double right = std::ceil(std::min(f(x1), double(width)));
        if (right <= left) continue;
        double top = std::floor(std::max(g(y0), 0.0));
        double bottom = std::ceil(std::min(g(y1), double(height)));
        if (bottom <= top) continue;
        out.push_back(Rect{to_i32(left), to_i32(top), to_u32(right - left), to_u32(bottom - top)});
    }
    return out;
}

Result<Screenshot> Screenshot::crop(const Rect& rect) const {
    std::int64_t x0 = std::max<std::int64_t>(rect.x, 0);
    std::int64_t y0 = std::max<std::int64_t>(rect.y, 0);
    std::int64_t x1 = std::min<std::int64_t>(end_of(rect.x, rect.width), width);
    std::int64_t y1 = std::min<std::int64_t>(end_of(rect.y, rect.height), height);
    if (x1 - x0 <= 0 || y1 - y0 <= 0) return fail(platform(kCropEmpty));
    VEMOR_TRY_VOID(check_buffer(*this));

    const auto new_w = static_cast<std::uint32_t>(x1 - x0);
    const auto new_h = static_cast<std::uint32_t>(y1 - y0);
    std::size_t new_len = VEMOR_TRY(rgba_len(new_w, new_h));
    std::vector<std::uint8_t> out = VEMOR_TRY(allocate(new_len, false));
    const std::size_t row_bytes = std::size_t{new_w} * 4;
    for (std::int64_t y = y0; y < y1; ++y) {
        const std::uint8_t* src =
            pixels.data() +
            (static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x0)) * 4;
        out.insert(out.end(), src, src + row_bytes);
    }

    Screenshot result{.pixels = std::move(out), .width = new_w, .height = new_h, .scale = scale};
    if (mapping) {
        CaptureMapping m = *mapping;
        m.crop_offset.x += double(x0) / m.scale_factors.x;
        m.crop_offset.y += double(y0) / m.scale_factors.y;
        result.mapping = std::move(m);
    }
    return result;
}

Result<Screenshot> Screenshot::resize(std::uint32_t new_width, std::uint32_t new_height) const {
    if (new_width == 0 || new_height == 0) return fail(platform(kResizeZero));
    if (width == 0 || height == 0) return fail(platform(kResizeEmpty));
    VEMOR_TRY_VOID(check_buffer(*this));
    std::size_t new_len = VEMOR_TRY(rgba_len(new_width, new_height));
    std::vector<std::uint8_t> out = VEMOR_TRY(allocate(new_len, true));

    // Source column of each destination column, computed once rather than per row.
    std::vector<std::uint32_t> src_col;
    try {
        src_col.resize(new_width);
    } catch (const std::bad_alloc&) {
        return fail(platform(
            fmt::format("screenshot buffer of {} bytes cannot be allocated", new_width * 4ull)));
    }
    for (std::uint64_t dx = 0; dx < new_width; ++dx)
        src_col[dx] = static_cast<std::uint32_t>(dx * width / new_width);

    const std::size_t dst_stride = std::size_t{new_width} * 4;
    const std::size_t src_stride = std::size_t{width} * 4;
    std::uint64_t prev_sy = UINT64_MAX;
    for (std::uint64_t dy = 0; dy < new_height; ++dy) {
        std::uint64_t sy = dy * height / new_height;
        std::uint8_t* dst = out.data() + dy * dst_stride;
        if (sy == prev_sy) {
            std::memcpy(dst, dst - dst_stride, dst_stride);
            continue;
        }
        prev_sy = sy;
        const std::uint8_t* src = pixels.data() + sy * src_stride;
        for (std::size_t dx = 0; dx < new_width; ++dx)
            std::memcpy(dst + dx * 4, src + std::size_t{src_col[dx]} * 4, 4);
    }

    Screenshot result{.pixels = std::move(out),
                      .width = new_width,
                      .height = new_height,
                      .scale = static_cast<float>(new_width) * scale / static_cast<float>(width)};
    if (mapping) {
        CaptureMapping m = *mapping;
        m.scale_factors.x *= double(new_width) / double(width);
        m.scale_factors.y *= double(new_height) / double(height);
        result.mapping = std::move(m);
    }
    return result;
}

Result<std::vector<std::uint8_t>> Screenshot::to_png() const {
    std::size_t expected = VEMOR_TRY(rgba_len(width, height));
    if (pixels.size() != expected)
        return fail(platform(
            fmt::format("screenshot pixel buffer size {} does not match {}x{} RGBA ({} bytes)",
                        pixels.size(), width, height, expected)));
    return png::encode_rgba(pixels, width, height);
}

Result<void> Screenshot::save_png(const std::filesystem::path& path) const {
    std::vector<std::uint8_t> bytes = VEMOR_TRY(to_png());
    auto os_error = [](int err) {
        return fail(
            Error::Platform{err, fmt::format("save_png: {}", std::system_category().message(err))});
    };
    // The system would stop reading the name at a NUL and write to another file. The refusal
    // is ours, not the system's, so it carries no system error number.
    if (path.native().find('\0') != std::string::npos)
        return fail(Error::Platform{-1, "save_png: path contains a NUL byte"});
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return os_error(errno);
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            return os_error(err);
        }
        if (n == 0) {
            ::close(fd);
            return fail(Error::Platform{-1, "save_png: failed to write whole buffer"});
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    // A delayed write error (full disk on a network file system) shows only at close.
    if (::close(fd) != 0 && errno != EINTR) return os_error(errno);
    return {};
}

}  // namespace vemor
