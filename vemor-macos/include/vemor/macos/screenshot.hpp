// Screen capture on macOS: the first display, whole or a rectangle of it, captured through the
// shim into a `Screenshot` with a one-segment desktop-to-image mapping.
#pragma once

#include <memory>
#include <optional>

#include "vemor/screenshot.hpp"

namespace vemor {

class MacOSScreenshot final : public ScreenshotProvider {
public:
    // The provider, when the process may record the screen. Named `create` because `new` is
    // taken in C++.
    static Result<std::shared_ptr<MacOSScreenshot>> create();

    // The whole first display, with the desktop position of its top-left corner.
    Result<FullCapture> capture_full() const override;
    // The rectangle (desktop points) of the first display.
    Result<Screenshot> capture_region(const Rect& rect) const override;
    // The common body of both: the whole display without a region.
    Result<FullCapture> capture(std::optional<Rect> region) const;

private:
    MacOSScreenshot() = default;
};

}  // namespace vemor
