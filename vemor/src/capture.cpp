#include "vemor/facade/capture.hpp"

namespace vemor::facade {
constinit OnceCell<Result<ScreenshotProviderHandle>> SCREENSHOT_BACKEND;
Result<ScreenshotProviderHandle> create_screenshot_backend() {
    return fail(Error::Unsupported{"screenshot"});
}
Result<Screenshot> screenshot() { return fail(Error::Unsupported{"screenshot"}); }
Result<Screenshot> screenshot_region(const Rect&) { return fail(Error::Unsupported{"screenshot"}); }
Result<Screenshot> screenshot_element(const Element&) {
    return fail(Error::Unsupported{"screenshot"});
}
Result<ResolvedGroups> resolve_annotation_groups(std::span<const Locator>) {
    return fail(Error::Unsupported{"screenshot"});
}
Result<Annotated> screenshot_annotated(std::optional<Rect>, std::span<const Locator>) {
    return fail(Error::Unsupported{"screenshot"});
}
Result<Annotated> screenshot_annotated_with(std::optional<Rect>, std::span<const Locator>,
                                            const ScreenshotBackendSource&) {
    return fail(Error::Unsupported{"screenshot"});
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
