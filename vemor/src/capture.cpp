#include "vemor/facade/capture.hpp"

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "vemor/macos/platform_setup.hpp"
#include "vemor/selector.hpp"
#include "vemor/text.hpp"

#if __has_include("vemor/macos/screenshot.hpp")
#include "vemor/macos/screenshot.hpp"
#define VEMOR_FACADE_HAS_MACOS_SCREENSHOT 1
#endif

namespace vemor::facade {

constinit OnceCell<Result<ScreenshotProviderHandle>> SCREENSHOT_BACKEND;

namespace {

Result<ScreenshotProviderHandle> screenshot_backend() {
    const auto& cell = SCREENSHOT_BACKEND.get_or_init(create_screenshot_backend);
    if (!cell) return fail(cell.error());
    return *cell;
}

// The selector as a string literal for the hint: in double quotes, with only backslash and
// double quote escaped, so that every other character (a combining accent, a tab) is pasted back
// exactly as it was written.
std::string quoted_literal(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

Error rootless_group_error(const std::string& selector) {
    return Error::InvalidSelector{
        selector,
        fmt::format("annotation groups must be scoped to an application: a rootless locator is "
                    "resolved once per application and the results concatenated, so the "
                    "`:nth(n)` every legend entry carries would count within one application "
                    "while the legend counts across all of them — and `{}:nth(n)` would then "
                    "name a different element than the box beside it. Scope the group, e.g. "
                    "`app.locator({})`",
                    selector, quoted_literal(selector))};
}

Error alternation_error(const std::string& selector) {
    return Error::InvalidSelector{
        selector,
        fmt::format("annotation selectors cannot be comma-separated alternations: every legend "
                    "entry names one element as `<selector>:nth(n)`, and `{}:nth(n)` would bind "
                    "to the last clause alone. Pass one annotation group per clause — each then "
                    "also gets its own colour",
                    selector)};
}

// Why the renderer drew nothing of an entry.
Result<OmissionReason> undrawn_reason(const Screenshot& image, const Rect& bounds) {
    if (!image.has_mapping()) {
        const float scale = image.scale;
        const double f = std::isnormal(scale) && scale > 0 ? static_cast<double>(scale) : 1.0;
        auto pixels = [&](std::uint32_t extent) {
            return text::saturating_cast<std::uint32_t>(std::round(extent * f));
        };
        return pixels(bounds.width) == 0 || pixels(bounds.height) == 0
                   ? OmissionReason::ZeroArea
                   : OmissionReason::OutsideCapture;
    }
    auto rects = VEMOR_TRY(image.desktop_rect_to_image(bounds));
    bool all_empty = !rects.empty();
    for (const Rect& r : rects)
        if (r.width != 0 && r.height != 0) all_empty = false;
    return all_empty ? OmissionReason::ZeroArea : OmissionReason::OutsideCapture;
}

}  // namespace

Result<ScreenshotProviderHandle> create_screenshot_backend() {
    VEMOR_TRY_VOID(macos::prepare_platform());
#if defined(VEMOR_FACADE_HAS_MACOS_SCREENSHOT)
    auto created = MacOSScreenshot::create();
    if (!created) return fail(std::move(created).error());
    return ScreenshotProviderHandle(std::move(*created));
#else
    return fail(Error::Unsupported{"screen capture"});
#endif
}

Result<Screenshot> screenshot() {
    auto backend = VEMOR_TRY(screenshot_backend());
    auto full = VEMOR_TRY(backend->capture_full());
    return std::move(full.screenshot);
}

Result<Screenshot> screenshot_region(const Rect& rect) {
    auto backend = VEMOR_TRY(screenshot_backend());
    return backend->capture_region(rect);
}

Result<Screenshot> screenshot_element(const Element& element) {
    if (!element.data().bounds) return fail(Error::NoElementBounds{});
    return screenshot_region(*element.data().bounds);
}

Result<ResolvedGroups> resolve_annotation_groups(std::span<const Locator> groups) {
    ResolvedGroups out;
    for (std::size_t position = 0; position < groups.size(); ++position) {
        const Locator& locator = groups[position];
        const std::size_t group = position + 1;
        const Rgb color = ANNOTATION_PALETTE[(group - 1) % ANNOTATION_PALETTE.size()];
        const std::string selector(text::trim(locator.selector()));
        // The root is checked before the text: a rootless group is refused even unparsable.
        if (!locator.scope()) return fail(rootless_group_error(selector));
        auto parsed = VEMOR_TRY(SelectorGroup::parse(selector));
        if (parsed.selectors.size() > 1) return fail(alternation_error(selector));
        std::optional<std::uint64_t> own_nth;
        if (!parsed.selectors.empty() && !parsed.selectors.front().segments.empty())
            own_nth = parsed.selectors.front().segments.back().simple.nth;

        auto matches = VEMOR_TRY(locator.elements());
        std::size_t first = 0;
        std::size_t last = matches.size();  // one past
        if (auto n = locator.nth_value()) {
            if (*n >= 1 && matches.size() >= *n) {
                first = static_cast<std::size_t>(*n - 1);
                last = first + 1;
            } else {
                first = last = 0;
            }
        }
        for (std::size_t p = first; p < last; ++p) {
            if (out.records.size() >= ANNOTATION_CAP) {
                ++out.truncated;
                continue;
            }
            const ElementData& data = matches[p].data();
            Resolved record{
                .selector = own_nth ? selector : fmt::format("{}:nth({})", selector, p + 1),
                .role = std::string(role::to_snake_case(data.role)),
                .name = data.name,
                .group = group,
                .index = own_nth ? static_cast<std::size_t>(*own_nth) : p + 1,
                .bounds = data.bounds,
                .color = color,
            };
            out.records.push_back(std::move(record));
        }
    }
    return out;
}

Result<Annotated> screenshot_annotated(std::optional<Rect> region, std::span<const Locator> groups) {
    return screenshot_annotated_with(region, groups, screenshot_backend);
}

Result<Annotated> screenshot_annotated_with(std::optional<Rect> region,
                                            std::span<const Locator> groups,
                                            const ScreenshotBackendSource& backend_source) {
    auto resolved = VEMOR_TRY(resolve_annotation_groups(groups));

    std::vector<LegendEntry> legend;
    std::vector<Annotation> annotations;
    std::vector<Omission> omitted;
    for (auto& r : resolved.records) {
        if (!r.bounds) {
            omitted.push_back({r.selector, r.role, r.name, OmissionReason::NoBounds});
            continue;
        }
        if (r.bounds->width == 0 || r.bounds->height == 0) {
            omitted.push_back({r.selector, r.role, r.name, OmissionReason::ZeroArea});
            continue;
        }
        std::string tag = annotate::tag_for(r.group, r.index);
        annotations.push_back(Annotation{tag, *r.bounds, r.color});
        legend.push_back(LegendEntry{
            .tag = std::move(tag),
            .group = r.group,
            .index = r.index,
            .selector = std::move(r.selector),
            .role = std::move(r.role),
            .name = std::move(r.name),
            .bounds = *r.bounds,
            .color = r.color,
        });
    }

    // Only now, with every group resolved, is the screenshot provider fetched.
    auto backend = VEMOR_TRY(backend_source());
    Screenshot shot;
    Point origin;
    if (region) {
        shot = VEMOR_TRY(backend->capture_region(*region));
        origin = Point{region->x, region->y};
    } else {
        auto full = VEMOR_TRY(backend->capture_full());
        shot = std::move(full.screenshot);
        origin = full.origin;
    }
    auto drawn = VEMOR_TRY(std::move(shot).annotate(annotations, origin.x, origin.y));

    // Undrawn entries leave the legend from the highest index down, so the omissions list them
    // in descending legend order.
    for (auto it = drawn.not_drawn.rbegin(); it != drawn.not_drawn.rend(); ++it) {
        const std::size_t i = *it;
        if (i >= legend.size()) continue;
        auto reason = VEMOR_TRY(undrawn_reason(drawn.image, legend[i].bounds));
        LegendEntry entry = std::move(legend[i]);
        legend.erase(legend.begin() + static_cast<std::ptrdiff_t>(i));
        omitted.push_back({std::move(entry.selector), std::move(entry.role), std::move(entry.name),
                           reason});
    }

    return Annotated{
        .image = std::move(drawn.image),
        .legend = std::move(legend),
        .omitted = std::move(omitted),
        .truncated = resolved.truncated,
    };
}

}  // namespace vemor::facade

namespace vemor::cli {

std::vector<Locator> annotation_locators(std::span<const std::string> selectors,
                                         const Target& target) {
    std::vector<Locator> out;
    out.reserve(selectors.size());
    for (const auto& s : selectors) out.push_back(target.locator(s));
    return out;
}

}  // namespace vemor::cli
