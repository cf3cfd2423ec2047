// Posted input acting on the desktop as a user's would. Every event acts where its own location
// says, not where the pointer was before it:
// - left button down and up over the same element press it (the nearest element up its tree
//   with AXPress, when enabled); the press first activates what it lands in, as a click does;
// - a key-down event carrying text, without Command or Control, types the text into the focused
//   element's selection (or its end);
// - the scroll wheel moves the content of the scroll area under the event, ten points a line,
//   no further than the content reaches (positive wheel 1 moves the content down, positive
//   wheel 2 moves it right, as the platform's wheels do).
#include <algorithm>
#include <mutex>
#include <utility>

#include "desktop.hpp"

namespace vemor::standin {

namespace {

constexpr double kPointsPerLine = 10.0;

// The element the left button went down on (desktop mutex).
ElementId g_pressed = 0;

bool enabled(ElementId id) {
    auto v = attribute(id, "AXEnabled");
    return !v || !(*v == Value(false));
}

ElementId press_target(ElementId hit) {
    for (ElementId x = hit; x != 0; x = parent_of(x).value_or(0)) {
        if (element_has_action(x, "AXPress")) return x;
        if (element_role(x) == "AXWindow") break;
    }
    return 0;
}

void type_into_focus(const std::u16string& text) {
    const ElementId focus = keyboard_focus();
    if (focus == 0 || !enabled(focus)) return;
    auto value = attribute(focus, "AXValue");
    if (!value || value->get<std::string>() == nullptr) return;
    write_as_user(focus, "AXSelectedText", Value(utf16_to_utf8(text)));
    if (attribute(focus, "AXNumberOfCharacters")) {
        std::u16string now;
        if (auto v = attribute(focus, "AXValue"); v && v->get<std::string>()) {
            utf8_to_utf16(*v->get<std::string>(), now);
        }
        write_as_user(focus, "AXNumberOfCharacters", Value(static_cast<std::int64_t>(now.size())));
    }
}

// How far content at [lo, lo + len) may move by delta inside a view at [view, view + view_len):
// never so far that it leaves a gap at either end, and not at all when it fits the view.
double allowed_shift(double delta, double view, double view_len, double lo, double len) {
    if (!(len > view_len)) return 0.0;
    const double min_lo = std::min(view + view_len - len, lo);
    const double max_lo = std::max(view, lo);
    return std::clamp(lo + delta, min_lo, max_lo) - lo;
}

void scroll_area(ElementId area, double dx, double dy) {
    auto view = element_frame(area);
    if (!view) return;
    std::optional<CGRect> content;
    for (ElementId k : children_of(area)) {
        auto f = element_frame(k);
        if (!f) continue;
        if (!content) {
            content = *f;
            continue;
        }
        const double x0 = std::min(content->origin.x, f->origin.x);
        const double y0 = std::min(content->origin.y, f->origin.y);
        const double x1 =
            std::max(content->origin.x + content->size.width, f->origin.x + f->size.width);
        const double y1 =
            std::max(content->origin.y + content->size.height, f->origin.y + f->size.height);
        content = CGRect{{x0, y0}, {x1 - x0, y1 - y0}};
    }
    if (!content) return;
    const double sx =
        allowed_shift(dx, view->origin.x, view->size.width, content->origin.x, content->size.width);
    const double sy = allowed_shift(dy, view->origin.y, view->size.height, content->origin.y,
                                    content->size.height);
    if (sx != 0.0 || sy != 0.0) move_content(area, sx, sy);
}

}  // namespace

void act_on_posted_event(const PostedEvent& e) {
    std::lock_guard lock(desktop_mutex());
    switch (e.type) {
        case kCGEventLeftMouseDown: {
            g_pressed = element_at_point(e.location);
            if (g_pressed != 0) activate_as_user(g_pressed);
            break;
        }
        case kCGEventLeftMouseUp: {
            const ElementId hit = element_at_point(e.location);
            const ElementId pressed = std::exchange(g_pressed, 0);
            if (hit == 0 || hit != pressed) break;
            const ElementId target = press_target(hit);
            if (target != 0 && enabled(target)) perform_as_user(target, "AXPress");
            break;
        }
        case kCGEventKeyDown:
            if (!e.text.empty() &&
                (e.flags & (kCGEventFlagMaskCommand | kCGEventFlagMaskControl)) == 0) {
                type_into_focus(e.text);
            }
            break;
        case kCGEventScrollWheel: {
            const double unit = e.scroll_unit == kCGScrollEventUnitLine ? kPointsPerLine : 1.0;
            for (ElementId x = element_at_point(e.location); x != 0; x = parent_of(x).value_or(0)) {
                if (element_role(x) == "AXScrollArea") {
                    scroll_area(x, e.wheel2 * unit, e.wheel1 * unit);
                    break;
                }
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace vemor::standin
