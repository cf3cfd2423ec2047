// The value classes: `Rect`, `Screenshot` (an image with its legend), `LegendEntry` and
// `Omission`. None of their methods reaches the platform, so all run with the lock held.
#pragma once

#include <cstdint>
#include <vector>

#include "py.hpp"
#include "vemor/element.hpp"
#include "vemor/legend.hpp"
#include "vemor/screenshot.hpp"

namespace vemor::python {

// What a `vemor.Screenshot` holds: the image and what an annotated capture said about it.
struct ScreenshotValue {
    Screenshot image;
    std::vector<LegendEntry> legend;
    std::vector<Omission> omitted;
    std::uint64_t truncated = 0;
};

PyType_Spec& rect_spec();
PyType_Spec& screenshot_spec();
PyType_Spec& legend_entry_spec();
PyType_Spec& omission_spec();

py::Ref make_py_rect(const Rect& rect);
py::Ref make_py_screenshot(ScreenshotValue value);
py::Ref make_py_legend_entry(const LegendEntry& entry);
py::Ref make_py_omission(const Omission& omission);

}  // namespace vemor::python
