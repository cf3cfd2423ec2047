// CoreGraphics events: created, changed and posted. Posting records a copy in the desktop's
// event log, moves the pointer for mouse events and acts on the desktop (input_effects.cpp).
#include <algorithm>
#include <cstdarg>
#include <map>

#include "desktop.hpp"

namespace vemor::standin {

namespace {

class EventObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdCGEvent;
    EventObject() : CFObject(kTypeId) {}
    PostedEvent e;
    std::map<CGEventField, std::int64_t> fields;
};

EventObject* event_of(CGEventRef ref) {
    auto* e = cast<EventObject>(ref);
    if (e == nullptr) platform_crash("CGEvent function given a non-event");
    return e;
}

bool is_mouse_type(CGEventType t) {
    switch (t) {
        case kCGEventLeftMouseDown:
        case kCGEventLeftMouseUp:
        case kCGEventRightMouseDown:
        case kCGEventRightMouseUp:
        case kCGEventMouseMoved:
        case kCGEventLeftMouseDragged:
        case kCGEventRightMouseDragged:
        case kCGEventOtherMouseDown:
        case kCGEventOtherMouseUp:
        case kCGEventOtherMouseDragged:
            return true;
        default:
            return false;
    }
}

CGEventRef new_event(PostedEvent e) {
    auto* o = new EventObject;
    o->e = std::move(e);
    return ref_of<CGEventRef>(o);
}

}  // namespace

}  // namespace vemor::standin

using namespace vemor::standin;

extern "C" {

CFTypeID CGEventGetTypeID(void) { return kTypeIdCGEvent; }

CGEventRef CGEventCreate(CGEventSourceRef) {
    if (check_fault("CGEventCreate").null) return nullptr;
    return new_event(PostedEvent{.location = pointer_as_read()});
}

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton) {
    if (check_fault("CGEventCreateMouseEvent").null) return nullptr;
    if (!is_mouse_type(mouseType)) return nullptr;
    return new_event(PostedEvent{.type = mouseType,
                                 .location = mouseCursorPosition,
                                 .button_number = static_cast<std::int64_t>(mouseButton)});
}

CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef, CGScrollEventUnit units,
                                          uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                                          int32_t) {
    if (check_fault("CGEventCreateScrollWheelEvent").null) return nullptr;
    if (wheelCount < 1 || wheelCount > 3) return nullptr;
    return new_event(PostedEvent{.type = kCGEventScrollWheel,
                                 .location = pointer_now(),
                                 .wheel1 = wheel1,
                                 .wheel2 = wheelCount >= 2 ? wheel2 : 0,
                                 .scroll_unit = units});
}

CGEventRef CGEventCreateScrollWheelEvent(CGEventSourceRef source, CGScrollEventUnit units,
                                         uint32_t wheelCount, int32_t wheel1, ...) {
    int32_t wheel2 = 0, wheel3 = 0;
    va_list ap;
    va_start(ap, wheel1);
    if (wheelCount >= 2) wheel2 = va_arg(ap, int32_t);
    if (wheelCount >= 3) wheel3 = va_arg(ap, int32_t);
    va_end(ap);
    return CGEventCreateScrollWheelEvent2(source, units, wheelCount, wheel1, wheel2, wheel3);
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef, CGKeyCode virtualKey, bool keyDown) {
    if (check_fault("CGEventCreateKeyboardEvent").null) return nullptr;
    return new_event(PostedEvent{.type = keyDown ? kCGEventKeyDown : kCGEventKeyUp,
                                 .location = pointer_now(),
                                 .keycode = virtualKey,
                                 .key_down = keyDown});
}

void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount stringLength,
                                     const UniChar* unicodeString) {
    EventObject* e = event_of(event);
    if (unicodeString == nullptr) stringLength = 0;
    e->e.text.assign(reinterpret_cast<const char16_t*>(unicodeString), stringLength);
}

void CGEventKeyboardGetUnicodeString(CGEventRef event, UniCharCount maxStringLength,
                                     UniCharCount* actualStringLength, UniChar* unicodeString) {
    EventObject* e = event_of(event);
    UniCharCount n = std::min<UniCharCount>(maxStringLength, e->e.text.size());
    if (unicodeString != nullptr) {
        for (UniCharCount i = 0; i < n; ++i) unicodeString[i] = e->e.text[i];
    }
    if (actualStringLength != nullptr) *actualStringLength = n;
}

CGEventType CGEventGetType(CGEventRef event) { return event_of(event)->e.type; }
CGPoint CGEventGetLocation(CGEventRef event) { return event_of(event)->e.location; }
void CGEventSetLocation(CGEventRef event, CGPoint location) {
    event_of(event)->e.location = location;
}
CGEventFlags CGEventGetFlags(CGEventRef event) { return event_of(event)->e.flags; }
void CGEventSetFlags(CGEventRef event, CGEventFlags flags) { event_of(event)->e.flags = flags; }

int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field) {
    EventObject* e = event_of(event);
    switch (field) {
        case kCGMouseEventClickState:
            return e->e.click_state;
        case kCGMouseEventButtonNumber:
            return e->e.button_number;
        case kCGKeyboardEventKeycode:
            return e->e.keycode;
        case kCGScrollWheelEventDeltaAxis1:
            return e->e.wheel1;
        case kCGScrollWheelEventDeltaAxis2:
            return e->e.wheel2;
        default: {
            auto it = e->fields.find(field);
            return it == e->fields.end() ? 0 : it->second;
        }
    }
}

void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value) {
    EventObject* e = event_of(event);
    switch (field) {
        case kCGMouseEventClickState:
            e->e.click_state = value;
            break;
        case kCGMouseEventButtonNumber:
            e->e.button_number = value;
            break;
        case kCGKeyboardEventKeycode:
            e->e.keycode = static_cast<CGKeyCode>(value);
            break;
        case kCGScrollWheelEventDeltaAxis1:
            e->e.wheel1 = static_cast<int32_t>(value);
            break;
        case kCGScrollWheelEventDeltaAxis2:
            e->e.wheel2 = static_cast<int32_t>(value);
            break;
        default:
            e->fields[field] = value;
            break;
    }
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    EventObject* e = event_of(event);
    log_call("CGEventPost");
    PostedEvent copy = e->e;
    copy.tap = tap;
    record_posted_event(copy);
    act_on_posted_event(copy);
}

}  // extern "C"
