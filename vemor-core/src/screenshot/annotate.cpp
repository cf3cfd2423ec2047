// Tagged boxes over a screenshot: outlines, badge placement, the 5x7 font and the tag names.
#include "vemor/annotate.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "vemor/text.hpp"

namespace vemor {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

std::int64_t sat_add(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? kMax : kMin;
    return r;
}

std::int64_t sat_sub(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? kMax : kMin;
    return r;
}

std::int64_t sat_mul(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) return ((a < 0) != (b < 0)) ? kMin : kMax;
    return r;
}

// Digits 0-9, then A-Z; bit 4 of a row is the leftmost dot.
constexpr std::uint8_t kGlyphs[36][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
    {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},  // A
    {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},  // B
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E},  // C
    {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C},  // D
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},  // E
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},  // F
    {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F},  // G
    {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},  // H
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},  // I
    {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},  // J
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},  // K
    {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},  // L
    {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11},  // M
    {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},  // N
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // O
    {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},  // P
    {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D},  // Q
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},  // R
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},  // S
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},  // T
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // U
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},  // V
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x1B, 0x11},  // W
    {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},  // X
    {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04},  // Y
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},  // Z
};

// Glyph index of an ASCII letter (either case) or digit, or -1.
int glyph_index(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return 10 + (c - 'A');
    if (c >= 'a' && c <= 'z') return 10 + (c - 'a');
    return -1;
}

bool overlaps(const PxRect& a, const PxRect& b) {
    if (a.empty() || b.empty()) return false;
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

bool inside(const PxRect& r, const PxRect& image) {
    if (r.empty()) return true;
    return r.x0 >= image.x0 && r.y0 >= image.y0 && r.x1 <= image.x1 && r.y1 <= image.y1;
}

PxRect sized(std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
    return PxRect{x, y, sat_add(x, w), sat_add(y, h)};
}

Error platform(std::string message) { return Error::Platform{-1, std::move(message)}; }

}  // namespace

std::int64_t PxRect::area() const {
    if (empty()) return 0;
    return sat_mul(sat_sub(x1, x0), sat_sub(y1, y0));
}

PxRect PxRect::intersect(const PxRect& o) const {
    return PxRect{std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
}

std::optional<BadgeMetrics> BadgeMetrics::for_tag(std::string_view tag, std::int64_t g,
                                                  std::int64_t p) {
    std::int64_t n = 0;
    for (char c : tag)
        if (glyph_index(c) >= 0) ++n;
    if (n == 0) return std::nullopt;
    std::int64_t inset = sat_add(p, g);
    std::int64_t width =
        sat_add(sat_add(sat_mul(sat_mul(5, g), n), sat_mul(g, n - 1)), sat_mul(2, inset));
    std::int64_t height = sat_add(sat_mul(7, g), sat_mul(2, inset));
    return BadgeMetrics{
        .width = width, .height = height, .glyph_unit = g, .pad = p, .text_inset = inset};
}

namespace annotate {

PxRect badge_spot(const PxRect& box, std::int64_t w, std::int64_t h, std::int64_t gap,
                  const PxRect& image, std::span<const PxRect> placed) {
    const std::int64_t above = sat_sub(box.y0, h);
    const std::int64_t right_aligned = sat_sub(box.x1, w);
    const std::int64_t in_left = sat_add(box.x0, gap);
    const std::int64_t in_top = sat_add(box.y0, gap);
    const std::int64_t in_right = sat_sub(sat_sub(box.x1, gap), w);
    const std::int64_t in_bottom = sat_sub(sat_sub(box.y1, gap), h);
    const PxRect candidates[10] = {
        sized(box.x0, above, w, h),               // above, left-aligned
        sized(right_aligned, above, w, h),        // above, right-aligned
        sized(box.x0, box.y1, w, h),              // below, left-aligned
        sized(right_aligned, box.y1, w, h),       // below, right-aligned
        sized(sat_sub(box.x0, w), box.y0, w, h),  // left of the box
        sized(box.x1, box.y0, w, h),              // right of the box
        sized(in_left, in_top, w, h),             // inside, top-left
        sized(in_right, in_top, w, h),            // inside, top-right
        sized(in_left, in_bottom, w, h),          // inside, bottom-left
        sized(in_right, in_bottom, w, h),         // inside, bottom-right
    };
    struct Score {
        bool visible;
        bool clear;
        bool within;
        std::int64_t area;
        auto operator<=>(const Score&) const = default;
    };
    std::optional<Score> best_score;
    PxRect best{};
    for (const PxRect& c : candidates) {
        std::int64_t area = c.intersect(image).area();
        bool clear = std::none_of(placed.begin(), placed.end(),
                                  [&](const PxRect& b) { return overlaps(c, b); });
        Score s{area > 0, clear, inside(c, image), area};
        if (!best_score || s > *best_score) {
            best_score = s;
            best = c;
        }
    }
    if (best_score && best_score->area > 0) return best;
    // Nothing shows anywhere: keep the badge on the image near the box's top-left corner.
    std::int64_t x = std::max(
        image.x0, std::min(sat_sub(image.x1, w), sat_add(std::max(image.x0, box.x0), gap)));
    std::int64_t y = std::max(
        image.y0, std::min(sat_sub(image.y1, h), sat_add(std::max(image.y0, box.y0), gap)));
    return sized(x, y, w, h);
}

Rgb foreground_for(const Rgb& color) {
    auto channel = [](std::uint8_t v) {
        double c = v / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    double l = 0.2126 * channel(color[0]) + 0.7152 * channel(color[1]) + 0.0722 * channel(color[2]);
    double with_black = (l + 0.05) / 0.05;
    double with_white = 1.05 / (l + 0.05);
    if (with_black < with_white) return Rgb{255, 255, 255};
    return Rgb{0, 0, 0};
}

void fill_rect(Canvas canvas, const PxRect& rect, const Rgb& color) {
    const std::int64_t x0 = std::max<std::int64_t>(rect.x0, 0);
    const std::int64_t y0 = std::max<std::int64_t>(rect.y0, 0);
    const std::int64_t x1 = std::min<std::int64_t>(rect.x1, canvas.width);
    const std::int64_t y1 = std::min<std::int64_t>(rect.y1, canvas.height);
    if (x1 <= x0 || y1 <= y0) return;
    // Whole pixels the buffer holds: a short buffer clips the last rows.
    const std::uint64_t buffer_pixels = canvas.pixels.size() / 4;
    const std::uint8_t px[4] = {color[0], color[1], color[2], 255};
    std::uint32_t pattern = 0;
    std::memcpy(&pattern, px, 4);
    std::uint8_t* base = canvas.pixels.data();
    for (std::int64_t y = y0; y < y1; ++y) {
        const std::uint64_t row = static_cast<std::uint64_t>(y) * canvas.width;
        const std::uint64_t begin = row + static_cast<std::uint64_t>(x0);
        if (begin >= buffer_pixels) return;
        const std::uint64_t end = std::min(row + static_cast<std::uint64_t>(x1), buffer_pixels);
        std::uint8_t* p = base + begin * 4;
        for (std::uint64_t i = begin; i < end; ++i, p += 4) std::memcpy(p, &pattern, 4);
    }
}

void draw_box(Canvas canvas, const PxRect& r, std::int64_t thickness, const Rgb& color) {
    if (r.empty()) return;
    const std::int64_t ty = std::min(sat_sub(r.y1, r.y0), thickness);
    const std::int64_t tx = std::min(sat_sub(r.x1, r.x0), thickness);
    fill_rect(canvas, PxRect{r.x0, r.y0, r.x1, sat_add(r.y0, ty)}, color);
    fill_rect(canvas, PxRect{r.x0, sat_sub(r.y1, ty), r.x1, r.y1}, color);
    fill_rect(canvas, PxRect{r.x0, r.y0, sat_add(r.x0, tx), r.y1}, color);
    fill_rect(canvas, PxRect{sat_sub(r.x1, tx), r.y0, r.x1, r.y1}, color);
}

void draw_tag(Canvas canvas, std::string_view text, std::int64_t x, std::int64_t y, std::int64_t g,
              const Rgb& color) {
    for (char c : text) {
        int gi = glyph_index(c);
        if (gi < 0) continue;
        if (x >= std::int64_t{canvas.width}) return;
        for (std::int64_t r = 0; r < 7; ++r) {
            const std::uint8_t bits = kGlyphs[gi][r];
            const std::int64_t top = sat_add(y, sat_mul(r, g));
            for (std::int64_t k = 0; k < 5; ++k) {
                if ((bits & (1u << (4 - k))) == 0) continue;
                fill_rect(canvas, sized(sat_add(x, sat_mul(k, g)), top, g, g), color);
            }
        }
        x = sat_add(x, sat_mul(6, g));
    }
}

std::string tag_for(std::uint64_t group, std::uint64_t index) {
    std::uint64_t g = std::max<std::uint64_t>(group, 1);
    std::uint64_t i = std::max<std::uint64_t>(index, 1);
    std::string letters;
    while (g > 0) {
        letters.push_back(static_cast<char>('A' + (g - 1) % 26));
        g = (g - 1) / 26;
    }
    std::reverse(letters.begin(), letters.end());
    return letters + std::to_string(i);
}

Rgb group_color(std::uint64_t group) {
    return ANNOTATION_PALETTE[(std::max<std::uint64_t>(group, 1) - 1) % ANNOTATION_PALETTE.size()];
}

std::optional<std::array<std::uint8_t, 7>> glyph_rows(char c) {
    int gi = glyph_index(c);
    if (gi < 0) return std::nullopt;
    std::array<std::uint8_t, 7> rows{};
    std::copy(std::begin(kGlyphs[gi]), std::end(kGlyphs[gi]), rows.begin());
    return rows;
}

std::int64_t drawing_unit(float scale) {
    std::int64_t r = 1;
    if (std::isfinite(scale) && scale > 0.0f)
        r = text::saturating_cast<std::int64_t>(std::round(static_cast<double>(scale)));
    return std::min<std::int64_t>(4, std::max<std::int64_t>(1, r));
}

}  // namespace annotate

namespace {

Result<void> check_canvas(const Screenshot& s) {
    const std::uint64_t n = std::uint64_t{s.width} * std::uint64_t{s.height};
    if (n > (std::uint64_t{1} << 62) - 1)
        return fail(platform("annotate: screenshot dimensions overflow"));
    if (s.pixels.size() != 4 * n)
        return fail(platform(fmt::format(
            "annotate: screenshot pixel buffer size {} does not match {}x{} RGBA ({} bytes)",
            s.pixels.size(), s.width, s.height, 4 * n)));
    return {};
}

// Draws into `target` (already checked) and returns the indices not drawn, in input order.
std::vector<std::size_t> draw_all(Screenshot& target, std::span<const Annotation> annotations) {
    const std::int64_t u = annotate::drawing_unit(target.scale);
    const std::int64_t w = target.width;
    const std::int64_t h = target.height;
    std::vector<std::size_t> not_drawn;

    struct Kept {
        std::size_t index;
        PxRect box;
        std::int64_t area;
    };
    std::vector<Kept> kept;
    kept.reserve(annotations.size());
    // An image without pixels shows nothing: a box straddling its zero-size edge would otherwise
    // pass the tests below and be reported as drawn.
    const bool has_pixels = w > 0 && h > 0;
    for (std::size_t i = 0; i < annotations.size(); ++i) {
        const Rect& r = annotations[i].rect;
        const PxRect box{r.x, r.y, std::int64_t{r.x} + r.width, std::int64_t{r.y} + r.height};
        if (has_pixels && r.width > 0 && r.height > 0 && box.y1 > 0 && box.y0 < h &&
            box.x0 < w && box.x1 > 0)
            kept.push_back(Kept{i, box, box.area()});
        else
            not_drawn.push_back(i);
    }
    // Larger boxes first, so that smaller ones and their badges lie on top.
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Kept& a, const Kept& b) { return a.area > b.area; });

    annotate::Canvas canvas{target.pixels, target.width, target.height};
    const PxRect image{0, 0, w, h};
    std::vector<PxRect> placed;
    placed.reserve(kept.size());
    for (const Kept& k : kept) {
        const Annotation& a = annotations[k.index];
        annotate::draw_box(canvas, k.box, u, a.color);
        std::optional<BadgeMetrics> m = BadgeMetrics::for_tag(a.tag, 2 * u, u);
        if (!m) continue;
        const PxRect b = annotate::badge_spot(k.box, m->width, m->height, u, image, placed);
        const Rgb text_color = annotate::foreground_for(a.color);
        annotate::fill_rect(canvas, b, text_color);
        annotate::fill_rect(
            canvas, PxRect{sat_add(b.x0, u), sat_add(b.y0, u), sat_sub(b.x1, u), sat_sub(b.y1, u)},
            a.color);
        annotate::draw_tag(canvas, a.tag, sat_add(b.x0, 3 * u), sat_add(b.y0, 3 * u), 2 * u,
                           text_color);
        placed.push_back(b);
    }
    return not_drawn;
}

// Annotations in desktop points become physical ones (image pixels); `owner` tells, for each,
// the annotation it came from.
struct Physical {
    std::vector<Annotation> annotations;
    std::vector<std::size_t> owner;
};

Result<Physical> to_physical(const Screenshot& s, std::span<const Annotation> annotations,
                             std::int32_t origin_x, std::int32_t origin_y) {
    Physical p;
    p.annotations.reserve(annotations.size());
    p.owner.reserve(annotations.size());
    const double f = (std::isfinite(s.scale) && s.scale > 0.0f) ? double(s.scale) : 1.0;
    auto to_i32 = [](double v) { return text::saturating_cast<std::int32_t>(v); };
    auto to_u32 = [](double v) { return text::saturating_cast<std::uint32_t>(v); };
    for (std::size_t i = 0; i < annotations.size(); ++i) {
        const Annotation& a = annotations[i];
        if (!s.mapping) {
            // The differences saturate at the 32-bit limits before scaling.
            const std::int32_t dx = to_i32(double(a.rect.x) - double(origin_x));
            const std::int32_t dy = to_i32(double(a.rect.y) - double(origin_y));
            const Rect r{to_i32(std::round(dx * f)), to_i32(std::round(dy * f)),
                         to_u32(std::round(a.rect.width * f)),
                         to_u32(std::round(a.rect.height * f))};
            p.annotations.push_back(Annotation{a.tag, r, a.color});
            p.owner.push_back(i);
            continue;
        }
        std::vector<Rect> rects = VEMOR_TRY(s.desktop_rect_to_image(a.rect));
        for (std::size_t j = 0; j < rects.size(); ++j) {
            // One badge per annotation: only the first rectangle carries the tag.
            p.annotations.push_back(Annotation{j == 0 ? a.tag : std::string(), rects[j], a.color});
            p.owner.push_back(i);
        }
    }
    return p;
}

// An annotation is drawn when any of its rectangles is; the rest are listed in ascending order.
AnnotateOutcome by_annotation(AnnotateOutcome drawn, const Physical& p, std::size_t count) {
    std::vector<bool> missing(p.annotations.size(), false);
    for (std::size_t k : drawn.not_drawn) missing[k] = true;
    std::vector<bool> any(count, false);
    for (std::size_t k = 0; k < p.annotations.size(); ++k)
        if (!missing[k]) any[p.owner[k]] = true;
    drawn.not_drawn.clear();
    for (std::size_t i = 0; i < count; ++i)
        if (!any[i]) drawn.not_drawn.push_back(i);
    return drawn;
}

}  // namespace

Result<AnnotateOutcome> Screenshot::annotate_physical(
    std::span<const Annotation> annotations) const& {
    VEMOR_TRY_VOID(check_canvas(*this));
    AnnotateOutcome outcome;
    try {
        outcome.image = *this;
    } catch (const std::bad_alloc&) {
        return fail(platform(
            fmt::format("screenshot buffer of {} bytes cannot be allocated", pixels.size())));
    }
    outcome.not_drawn = draw_all(outcome.image, annotations);
    return outcome;
}

Result<AnnotateOutcome> Screenshot::annotate_physical(std::span<const Annotation> annotations) && {
    VEMOR_TRY_VOID(check_canvas(*this));
    AnnotateOutcome outcome{.image = std::move(*this)};
    outcome.not_drawn = draw_all(outcome.image, annotations);
    return outcome;
}

Result<AnnotateOutcome> Screenshot::annotate(std::span<const Annotation> annotations,
                                             std::int32_t origin_x, std::int32_t origin_y) const& {
    Physical p = VEMOR_TRY(to_physical(*this, annotations, origin_x, origin_y));
    AnnotateOutcome drawn = VEMOR_TRY(annotate_physical(p.annotations));
    return by_annotation(std::move(drawn), p, annotations.size());
}

Result<AnnotateOutcome> Screenshot::annotate(std::span<const Annotation> annotations,
                                             std::int32_t origin_x, std::int32_t origin_y) && {
    Physical p = VEMOR_TRY(to_physical(*this, annotations, origin_x, origin_y));
    AnnotateOutcome drawn = VEMOR_TRY(std::move(*this).annotate_physical(p.annotations));
    return by_annotation(std::move(drawn), p, annotations.size());
}

}  // namespace vemor
