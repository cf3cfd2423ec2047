// The capture entry points of every front end: the whole desktop, a region, one element, and
// the annotated capture, which resolves groups of locators into numbered boxes, a legend that
// names each box by a selector reaching exactly that element, and the matches it could not
// draw. They share one process-wide screenshot provider, created on first use.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vemor/annotate.hpp"
#include "vemor/element.hpp"
#include "vemor/error.hpp"
#include "vemor/facade/providers.hpp"
#include "vemor/facade/target.hpp"
#include "vemor/legend.hpp"
#include "vemor/locator.hpp"
#include "vemor/screenshot.hpp"

namespace vemor::facade {

// The most matches an annotated capture describes (drawn boxes and omissions together); the
// rest are counted in `Annotated::truncated`.
inline constexpr std::size_t ANNOTATION_CAP = 100;

// The process-wide screenshot provider, or the error its creation returned. Never reset.
extern constinit OnceCell<Result<ScreenshotProviderHandle>> SCREENSHOT_BACKEND;

// Creates the platform screenshot provider (what `SCREENSHOT_BACKEND` stores).
Result<ScreenshotProviderHandle> create_screenshot_backend();

// The whole desktop.
Result<Screenshot> screenshot();
// A desktop rectangle, in points.
Result<Screenshot> screenshot_region(const Rect& rect);
// The element's bounds; `NoElementBounds` before any capture when it has none.
Result<Screenshot> screenshot_element(const Element& element);

// One described match of an annotated capture, before the capture decides its fate.
struct Resolved {
    std::string selector;  // "{selector}:nth({index})", or the selector itself when it ends in :nth
    std::string role;      // snake_case
    std::optional<std::string> name;
    std::size_t group = 0;  // 1-based
    std::size_t index = 0;  // 1-based, shown in the tag
    std::optional<Rect> bounds;
    Rgb color{};
    bool operator==(const Resolved&) const = default;
};

// The groups resolved into at most `ANNOTATION_CAP` records, in group order; matches beyond
// the cap are counted in `truncated`. Fails on the first unusable or failing group.
struct ResolvedGroups {
    std::vector<Resolved> records;
    std::size_t truncated = 0;
};
Result<ResolvedGroups> resolve_annotation_groups(std::span<const Locator> groups);

// A capture of `region` (the whole desktop when absent) with the matches of each locator
// (group g = position g - 1) boxed and described.
Result<Annotated> screenshot_annotated(std::optional<Rect> region, std::span<const Locator> groups);

// The same over a given source of the screenshot provider, fetched only after every group is
// resolved (tests pass their own).
using ScreenshotBackendSource = std::function<Result<ScreenshotProviderHandle>()>;
Result<Annotated> screenshot_annotated_with(std::optional<Rect> region,
                                            std::span<const Locator> groups,
                                            const ScreenshotBackendSource& backend);

}  // namespace vemor::facade

namespace vemor::cli {
// One annotation group per selector text, in order, each a locator rooted at the target (as
// `--annotate` builds them).
std::vector<Locator> annotation_locators(std::span<const std::string> selectors,
                                         const Target& target);
}  // namespace vemor::cli
