// Test control of the simulated platform: describe and install a desktop, change it while the
// backend runs, inject faults and latency, and read what the backend did (call log, posted
// events, live CF objects). Separate from platform.h, which only declares what the platform
// itself offers; backend code never includes this header.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vemor/standin/platform.h"

namespace vemor::standin {

// Identity of one user-interface element of the desktop. AX element references denote an
// element by its id; an id that no longer exists makes them invalid (-25202). 0 is never used.
using ElementId = std::uint64_t;

// A reference to another element in a desktop description, resolved when the description is
// installed: the first element of the same application whose AXIdentifier equals `identifier`.
struct Link {
    std::string identifier;
    bool operator==(const Link&) const = default;
};
// A reference to an installed element.
struct ElementRef {
    ElementId id = 0;
    bool operator==(const ElementRef&) const = default;
};
// An explicit "no value" (reads as kAXErrorNoValue); an attribute missing altogether reads as
// kAXErrorAttributeUnsupported.
struct NoValue {
    bool operator==(const NoValue&) const = default;
};

// An attribute value as the desktop keeps it. Reads turn it into the platform's objects:
// bool -> CFBoolean, int64 -> CFNumber (SInt64), double -> CFNumber (Float64), string ->
// CFString, geometry -> AXValue, element -> AXUIElement, list -> CFArray.
struct Value {
    using List = std::vector<Value>;
    std::variant<NoValue, bool, std::int64_t, double, std::string, CGPoint, CGSize, CGRect, CFRange,
                 ElementRef, Link, List>
        v;

    Value() = default;
    Value(NoValue) {}
    Value(bool b) : v(b) {}
    Value(int i) : v(std::int64_t{i}) {}
    Value(std::int64_t i) : v(i) {}
    Value(double d) : v(d) {}
    Value(const char* s) : v(std::string(s)) {}
    Value(std::string s) : v(std::move(s)) {}
    Value(CGPoint p) : v(p) {}
    Value(CGSize s) : v(s) {}
    Value(CGRect r) : v(r) {}
    Value(CFRange r) : v(r) {}
    Value(ElementRef e) : v(e) {}
    Value(Link l) : v(std::move(l)) {}
    Value(List l) : v(std::move(l)) {}

    bool is_none() const { return std::holds_alternative<NoValue>(v); }
    template <class T>
    const T* get() const {
        return std::get_if<T>(&v);
    }
    bool operator==(const Value& o) const;
};

// What performing an action does to the desktop. Every effect that changes an attribute posts
// the matching notification (AXValueChanged, AXFocusedWindowChanged, ...).
struct Effect {
    enum class Kind {
        None,            // accepted, nothing changes
        Toggle,          // AXValue 0 <-> 1 (check box, switch, disclosure)
        Choose,          // AXValue 1 here, 0 on sibling radio buttons
        Increment,       // AXValue += step, kept within AXMinValue..AXMaxValue
        Decrement,       // AXValue -= step, likewise
        Raise,           // the window (or the element's window) becomes frontmost and focused
        CloseWindow,     // the element's window is destroyed (AXUIElementDestroyed)
        MinimizeWindow,  // the element's window gets AXMinimized true
        ZoomWindow,      // the element's window toggles AXFullScreen
        ShowMenu,        // the first AXMenu child is shown (AXHidden false, AXMenuOpened)
        CancelMenu,      // the element's menu is hidden again (AXMenuClosed)
        SetAttribute,    // target's attribute := value
        Notify,          // only posts `notification` on the element
    };
    Kind kind = Kind::None;
    double step = 1.0;
    // For SetAttribute: the element (resolved like a Link; empty means the element itself).
    std::string target;
    std::string attribute;
    Value value;
    std::string notification;

    static Effect none() { return {}; }
    static Effect toggle() { return {.kind = Kind::Toggle}; }
    static Effect choose() { return {.kind = Kind::Choose}; }
    static Effect increment(double step) { return {.kind = Kind::Increment, .step = step}; }
    static Effect decrement(double step) { return {.kind = Kind::Decrement, .step = step}; }
    static Effect raise() { return {.kind = Kind::Raise}; }
    static Effect close_window() { return {.kind = Kind::CloseWindow}; }
    static Effect minimize_window() { return {.kind = Kind::MinimizeWindow}; }
    static Effect zoom_window() { return {.kind = Kind::ZoomWindow}; }
    static Effect show_menu() { return {.kind = Kind::ShowMenu}; }
    static Effect cancel_menu() { return {.kind = Kind::CancelMenu}; }
    static Effect set(std::string target_identifier, std::string attribute, Value value) {
        return {.kind = Kind::SetAttribute,
                .target = std::move(target_identifier),
                .attribute = std::move(attribute),
                .value = std::move(value)};
    }
    static Effect notify(std::string notification) {
        return {.kind = Kind::Notify, .notification = std::move(notification)};
    }
};

struct ActionSpec {
    std::string name;  // "AXPress", "AXIncrement", ...
    Effect effect;
};

// One element of a desktop description, with its subtree. Built fluently:
//   ElementSpec("AXButton").title("OK").action("AXPress", Effect::toggle())
struct ElementSpec {
    std::map<std::string, Value> attributes;
    std::set<std::string> settable;
    std::vector<ActionSpec> actions;
    std::vector<ElementSpec> children;
    // False: the element hangs under its parent (AXParent) but is not listed in the parent's
    // AXChildren; reachable only through an attribute (AXExtrasMenuBar, AXShownMenu).
    bool listed = true;

    ElementSpec() = default;
    explicit ElementSpec(std::string role);

    ElementSpec&& attr(std::string name, Value value) &&;
    ElementSpec&& settable_attr(std::string name, Value value) &&;
    ElementSpec&& subrole(std::string s) &&;
    ElementSpec&& title(std::string s) &&;
    ElementSpec&& description(std::string s) &&;
    ElementSpec&& help(std::string s) &&;
    ElementSpec&& identifier(std::string s) &&;
    ElementSpec&& value(Value v) &&;
    // AXPosition and AXSize.
    ElementSpec&& frame(double x, double y, double width, double height) &&;
    ElementSpec&& enabled(bool on) &&;
    // AXFocused becomes readable and settable; its reading follows the application's focus.
    ElementSpec&& focusable() &&;
    ElementSpec&& action(std::string name, Effect effect = Effect::none()) &&;
    ElementSpec&& child(ElementSpec c) &&;
    ElementSpec&& unlisted() &&;
};

// One entry of the window list. pid, owner name and layer are values so that tests can give
// malformed entries (a string layer, no pid). `window` links the entry to a window element by
// AXIdentifier: the entry then follows that window's title, frame and minimised state, and
// goes away with it.
struct WindowEntrySpec {
    Value pid;
    Value owner_name;
    Value layer = Value(0);
    std::optional<std::string> name;
    CGRect bounds{};
    std::optional<std::string> window;
};

// What each accessibility request to an application costs before it is answered, as on the
// platform, where a request travels to the application as a message and is served on its main
// thread. The transfer time is the message's way there and back: requests in flight spend it
// side by side. The service time is the application's own work: it serves one request at a
// time, in the order they arrive and with no pause between them, so concurrent requests queue
// for it. A request not answered within its messaging time-out of being sent, queueing
// included, waits out the time-out and fails with kAXErrorCannotComplete. Both times are waited
// to within a microsecond or two (the waiting thread's timer slack is lowered to 1 ns).
struct AppLatency {
    std::chrono::microseconds transfer{0};
    std::chrono::microseconds service{0};
    bool operator==(const AppLatency&) const = default;
};

struct AppSpec {
    pid_t pid = 0;
    std::string name;
    // The application element (AXRole "AXApplication", AXTitle = name by default) with its
    // menu bar, windows and other children.
    ElementSpec element;
    // Window-list entries made for each of the application's windows (layer 0) when it is
    // added by `add_application`, or installed with an empty DesktopSpec::window_list.
    bool window_entries = true;
    // The AXIdentifier of the element that has the application's keyboard focus.
    std::optional<std::string> focused_element;
    // False: the process has no accessibility bridge; every request to it but
    // AXUIElementGetPid (answered locally) fails with kAXErrorNotImplemented (-25208).
    bool accessible = true;
    // None by default: the application answers at once.
    AppLatency latency;
};

struct DisplaySpec {
    CGRect frame{};  // points
    double scale = 1.0;
};

struct DesktopSpec {
    std::vector<AppSpec> apps;
    // Front to back. Empty: one entry per window of every application (AppSpec::window_entries),
    // in application order.
    std::vector<WindowEntrySpec> window_list;
    std::vector<DisplaySpec> displays;
    pid_t focused_app = 0;  // 0: no focused application
    bool trusted = true;
    // What `sysctl -n kern.osproductversion` prints; none: the query fails.
    std::optional<std::string> os_version = "15.5";
};

// The desktop every process starts with: menu bar, status items, Dock, Finder with its desktop,
// and three ordinary applications. See default_desktop.cpp for its elements and identifiers.
DesktopSpec default_desktop();

// Process ids of the default desktop.
namespace default_pids {
inline constexpr pid_t kWindowServer = 88;  // owns the menu-bar window; no accessibility
inline constexpr pid_t kDock = 120;
inline constexpr pid_t kSystemUIServer = 130;  // status items
inline constexpr pid_t kFinder = 140;
inline constexpr pid_t kTextEdit = 150;  // frontmost
inline constexpr pid_t kSettings = 160;
inline constexpr pid_t kNotes = 170;
}  // namespace default_pids

// Replaces the whole desktop. Faults, logs and delayed writes are cleared too, and each
// application's latency is the description's; AX references made before refer to nothing
// afterwards (-25202).
void install_desktop(const DesktopSpec& spec);
void reset_to_default_desktop();

// A desktop description in JSON (format: desktop_json.cpp). A failure is a text naming the
// source, the line and what is wrong ("desk.json:12: \"frame\" must be an array of 4 numbers").
// Elements nest at most kMaxElementNesting levels, the application element being the first: the
// desktop and the backend walk element trees recursively, and a desktop this deep is read,
// installed and walked within a 512 KiB stack.
inline constexpr std::size_t kMaxElementNesting = 256;
std::expected<DesktopSpec, std::string> parse_desktop_json(std::string_view json,
                                                           std::string_view source);
std::expected<DesktopSpec, std::string> load_desktop_json_file(const std::string& path);

// Installs a desktop for one scope and restores the default desktop when it ends.
class ScopedDesktop {
public:
    explicit ScopedDesktop(const DesktopSpec& spec) { install_desktop(spec); }
    ~ScopedDesktop() { reset_to_default_desktop(); }
    ScopedDesktop(const ScopedDesktop&) = delete;
    ScopedDesktop& operator=(const ScopedDesktop&) = delete;
};

// --- Process-wide facts ---------------------------------------------------------------------
void set_trusted(bool trusted);
void set_os_version_text(std::optional<std::string> text);
void set_displays(std::vector<DisplaySpec> displays);
// False: the shareable content lists no display (the capture's -1).
void set_shareable_content_available(bool available);
// False: the screenshot manager returns no image (the capture's -2).
void set_screenshot_image_available(bool available);
// A description: the shareable content, or the screenshot manager, fails with an error of that
// description (no content, no image); none: they work again.
void set_shareable_content_error(std::optional<std::string> description);
void set_screenshot_error(std::optional<std::string> description);

// --- Applications, elements and the window list ---------------------------------------------
// Adds an application (in front of the others in the window list); returns its element.
ElementId add_application(const AppSpec& app);
// Removes the application, its elements and its window-list entries (the process exited).
void remove_application(pid_t pid);
std::optional<ElementId> application_element(pid_t pid);
// Adds an element under parent at index (-1: last); links resolve within parent's application.
// A window posts AXWindowCreated.
ElementId add_element(ElementId parent, const ElementSpec& spec, int index = -1);
// Removes the element and its subtree; references to any of them become invalid (-25202).
// With notify, AXUIElementDestroyed is posted for the element first.
void destroy_element(ElementId id, bool notify = false);
// The element stays where it is under a new id (the application recreated its object):
// references made before become invalid, new reads see the element again. Returns the new id.
ElementId renew_element(ElementId id);
bool element_exists(ElementId id);
// The first element in document order of the application (all applications for pid 0) whose
// AXIdentifier is `identifier`, or whose AXRole and AXTitle equal role and title.
std::optional<ElementId> find_element(pid_t pid, const std::string& identifier);
std::optional<ElementId> find_element(pid_t pid, const std::string& role, const std::string& title);
std::vector<ElementId> children_of(ElementId id);
std::optional<ElementId> parent_of(ElementId id);
pid_t pid_of(ElementId id);
// A new AX reference to the element (the caller releases it).
AXUIElementRef element_ref(ElementId id);
// The element an AX reference denotes (0 for the system-wide element or a foreign object).
ElementId element_of(AXUIElementRef ref);

// Attributes. set_attribute posts no notification unless asked.
void set_attribute(ElementId id, const std::string& name, Value value,
                   const std::string& notify = {});
// The attribute is no longer supported (-25205).
void remove_attribute(ElementId id, const std::string& name);
// The stored value (links resolved to ElementRef); none when unsupported.
std::optional<Value> attribute(ElementId id, const std::string& name);
void set_settable(ElementId id, const std::string& name, bool settable);
void set_actions(ElementId id, std::vector<ActionSpec> actions);

// A write of the attribute is accepted (0) but only read back after `reads` further reads
// have returned the old value; none: the write is accepted and never takes effect.
void delay_writes(ElementId id, const std::string& attribute, std::optional<int> reads);

// Every request through this one reference fails with kAXErrorInvalidUIElement (-25202), as
// through a reference the application stopped honouring; it still compares equal (CFEqual) to
// the element's other references, which keep working. AXUIElementGetPid still answers.
void invalidate_reference(AXUIElementRef ref);

void set_focused_application(pid_t pid);
// Focus moved to another window or element posts AXFocusedWindowChanged or
// AXFocusedUIElementChanged on it, as the application would.
void set_focused_window(pid_t pid, std::optional<ElementId> window);
void set_focused_element(pid_t pid, std::optional<ElementId> element);

void add_window_entry(const WindowEntrySpec& entry, int index = -1);
void remove_window_entries(pid_t pid);
void clear_window_list();

// Delivers the notification to every observer registered for it on the element or on its
// application element, on the run loops their sources were added to.
void post_notification(ElementId id, const std::string& notification);
// Registrations currently held by observers of the process (0 for all processes).
std::size_t notification_registrations(pid_t pid = 0);

// --- Faults and latency --------------------------------------------------------------------
struct Fault {
    enum class Kind {
        Raise,       // the call throws NSException
        Code,        // an AXError-returning call returns `code`
        ReturnNull,  // an object-returning call returns NULL; a Boolean one false
    };
    // The platform function's name, e.g. "AXUIElementCopyAttributeValue".
    std::string call;
    Kind kind = Kind::Raise;
    AXError code = kAXErrorFailure;
    // Only uses naming this attribute, action or notification; only uses on this process.
    std::optional<std::string> name;
    std::optional<pid_t> pid;
    // The first use that fails is the nth matching use from now (1-based); `times` uses fail
    // in a row from there (0: every use from there on).
    int nth = 1;
    int times = 1;
};
void add_fault(const Fault& fault);
void clear_faults();

// The application's latency from now on (AppLatency).
void set_latency(pid_t pid, AppLatency latency);
// A service time alone, no transfer time.
void set_latency(pid_t pid, std::chrono::microseconds service);

// --- What the backend did -------------------------------------------------------------------
struct CallRecord {
    std::string call;    // platform function name
    std::string detail;  // attribute, action or notification name when there is one
    pid_t pid = 0;
};
// Accessibility, window-list, run-loop and capture calls, oldest first.
std::vector<CallRecord> call_log();
std::size_t call_count(const std::string& call, const std::string& detail = {});
void clear_call_log();

struct PostedEvent {
    CGEventTapLocation tap = kCGHIDEventTap;
    CGEventType type = kCGEventNull;
    CGPoint location{};
    CGEventFlags flags = 0;
    CGKeyCode keycode = 0;
    bool key_down = false;
    std::u16string text;  // the keyboard event's Unicode string
    std::int64_t click_state = 0;
    std::int64_t button_number = 0;
    std::int32_t wheel1 = 0;
    std::int32_t wheel2 = 0;
    CGScrollEventUnit scroll_unit = kCGScrollEventUnitPixel;
};
// Posting an event also acts on the desktop where the event's own location says: a left press
// and release over one element press it (after activating its application and window and
// focusing it), a key-down carrying text types into the focused text, and the wheel scrolls the
// content of the scroll area under the pointer (see input_effects.cpp).
//
// The record keeps the most recent kPostedEventsKept events, oldest first; older ones are
// dropped and counted, so that a long input run costs time but not memory.
inline constexpr std::size_t kPostedEventsKept = 4096;
std::vector<PostedEvent> posted_events();
std::uint64_t posted_events_dropped();
// Empties the record and zeroes the count of dropped events.
void clear_posted_events();
CGPoint pointer_location();
void set_pointer_location(CGPoint p);
// True: reading the pointer back (an event created without a location, CGEventCreate(NULL))
// reports where the pointer is now until this is turned off, however posted events move it; as
// on the platform, where posting is asynchronous and a read may come before the system moved it.
void set_pointer_reads_stale(bool stale);

// CF objects alive now (constant strings, booleans and run loops are not counted).
long live_object_count();

}  // namespace vemor::standin
