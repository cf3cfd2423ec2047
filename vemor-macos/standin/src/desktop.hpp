// The in-memory desktop behind the simulated platform: applications, their element trees, the
// window list, focus, observers, faults and logs. One recursive mutex guards it all; the
// per-application latency is waited outside it, each application serving its requests one at a
// time on a timeline of its own.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cf_objects.hpp"
#include "vemor/standin/control.hpp"

namespace vemor::standin {

// What a matching fault asks the call to do instead of its work (a Raise fault throws).
struct FaultOutcome {
    bool null = false;            // return NULL / false
    std::optional<AXError> code;  // return this AXError
};
// Logs nothing; consults the installed faults for the call. Cheap when none are installed.
FaultOutcome check_fault(std::string_view call, std::string_view name = {}, pid_t pid = 0);

// An AX element reference: a fresh object per copy, equal to every other reference to the same
// element.
class ElementObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdAXUIElement;
    ElementObject(ElementId id, pid_t pid, bool system_wide, bool app_root = false)
        : CFObject(kTypeId), id(id), pid(pid), system_wide(system_wide), app_root(app_root) {}
    bool equals(const CFObject& other) const override;
    CFHashCode hash() const override;

    // 0 for the system-wide element and for references made by AXUIElementCreateApplication,
    // which denote whatever root element the application has when they are used.
    const ElementId id;
    const pid_t pid;
    const bool system_wide;
    // `id` is (or was) an application's root element; `pid` is then that application's.
    const bool app_root;
    std::atomic<float> timeout{0};
    // Requests through this reference fail with -25202 (invalidate_reference).
    std::atomic<bool> invalidated{false};
};

class SourceObject;

class ObserverObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdAXObserver;
    ObserverObject(pid_t pid, AXObserverCallback callback);
    ~ObserverObject() override;

    struct Registration {
        ElementId element;
        std::string notification;
        void* refcon;
    };
    const pid_t pid;
    const AXObserverCallback callback;
    SourceObject* const source;               // owned (one reference)
    std::vector<Registration> registrations;  // guarded by the desktop mutex
};

class RunLoopObject;

// A run-loop observer (CFRunLoopObserverCreate): a callout for the loop's activities.
class RunLoopObserverObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdRunLoopObserver;
    RunLoopObserverObject(CFOptionFlags activities, bool repeats, CFRunLoopObserverCallBack callout,
                          const CFRunLoopObserverContext* context);
    ~RunLoopObserverObject() override;
    // Calls the callout when the observer asks for the activity and is still valid; a
    // non-repeating observer becomes invalid after its first callout.
    void fire(CFRunLoopActivity activity);

private:
    const CFOptionFlags activities_;
    const bool repeats_;
    const CFRunLoopObserverCallBack callout_;
    CFRunLoopObserverContext context_{};
    std::atomic<bool> valid_{true};
};

class SourceObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdRunLoopSource;
    SourceObject() : CFObject(kTypeId) {}
    ObserverObject* observer = nullptr;     // cleared when the observer goes; desktop mutex
    std::vector<RunLoopObject*> run_loops;  // where the source was added; desktop mutex
};

// A thread's run loop. Immortal: other threads may still hold its reference after the thread
// ended (stopping it then does nothing).
class RunLoopObject final : public CFObject {
public:
    static constexpr CFTypeID kTypeId = kTypeIdRunLoop;
    RunLoopObject() : CFObject(kTypeId, true) {}

    // Queues work for the thread running the loop: called with true when the loop runs it,
    // with false when the loop's thread has ended (only to release what it holds).
    void enqueue(std::function<void(bool)> work);
    // The loop's thread ends: queued work is discarded, later work too.
    void retire();
    bool retired() {
        std::lock_guard lock(m_);
        return retired_;
    }
    CFRunLoopRunResult run(double seconds, bool return_after_source_handled);
    void stop();
    void wake_up();
    // Run-loop observers added (each retained once).
    void add_observer(RunLoopObserverObject* observer);
    void remove_observer(RunLoopObserverObject* observer);

    // Sources added (each retained once); guarded by the desktop mutex.
    std::vector<SourceObject*> sources;

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void(bool)>> queue_;
    std::vector<RunLoopObserverObject*> observers_;
    bool stop_requested_ = false;
    bool woken_ = false;
    bool retired_ = false;
};

std::recursive_mutex& desktop_mutex();

// Window-list entries as the platform builds them, front to back (a new array).
CFArrayRef copy_window_list(CGWindowListOption option);

// A platform call as the log keeps it: the name is the caller's static string, so logging a
// call allocates nothing for it (details fit the string's inline buffer as a rule).
struct LoggedCall {
    const char* call;
    std::string detail;
    pid_t pid = 0;
};

// Logs a platform call; `call` is a string literal.
void log_call(const char* call, std::string_view detail = {}, pid_t pid = 0);

// Rendering for the capture: fills rgba (width x height) with the desktop seen through the
// rectangle `source` in desktop points.
void render_desktop(CGRect source, std::size_t width, std::size_t height, bool shows_cursor,
                    std::vector<std::uint8_t>& rgba);

struct DisplayState {
    CGDirectDisplayID id;
    DisplaySpec spec;
};
std::vector<DisplayState> displays_now();
bool shareable_content_available();
bool screenshot_image_available();
// The description of the error the call delivers, if any.
std::optional<std::string> shareable_content_error();
std::optional<std::string> screenshot_error();
std::optional<std::string> os_version_now();

// Posted events and the pointer (under the desktop mutex).
void record_posted_event(const PostedEvent& e);
CGPoint pointer_now();
// Where a read of the pointer says it is (see set_pointer_reads_stale).
CGPoint pointer_as_read();

// What posted input reaches, for input_effects.cpp (each takes the desktop mutex).
// The frontmost visible element under the point, as drawn; 0 over the bare wallpaper.
ElementId element_at_point(CGPoint p);
std::optional<CGRect> element_frame(ElementId id);
std::string element_role(ElementId id);
bool element_has_action(ElementId id, const std::string& action);
// Performs the action as the application does for a user: no call log, no faults.
void perform_as_user(ElementId id, const std::string& action);
// A click's activation of an element in a window: its application comes to the front, the
// window is raised and becomes main, and the nearest focusable element takes the focus.
void activate_as_user(ElementId id);
// The element with the keyboard focus in the focused application; 0 for none.
ElementId keyboard_focus();
// Changes an attribute as the application does, with its notifications.
void write_as_user(ElementId id, const std::string& attribute, Value value);
// Moves every descendant of the element (not the element itself).
void move_content(ElementId id, double dx, double dy);
// Acts on the desktop as the input would (called by CGEventPost after recording the event).
void act_on_posted_event(const PostedEvent& e);

}  // namespace vemor::standin
