#include "vemor/macos/events.hpp"

#include <fmt/format.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "vemor/macos/provider.hpp"
#include "vemor/macos/shim.hpp"
#include "vemor/macos/snapshot.hpp"

namespace vemor {

namespace ax {

std::vector<EventKind> event_kinds_for(std::string_view notification, std::string_view role,
                                       const std::optional<ElementData>& target, bool busy) {
    using T = EventKind::Type;
    const auto one = [](T type) { return std::vector<EventKind>{EventKind{type}}; };
    if (notification == "AXFocusedUIElementChanged") return one(T::FocusChanged);
    if (notification == "AXValueChanged") {
        std::vector<EventKind> out{EventKind{T::ValueChanged}};
        if (role == "AXCheckBox" || role == "AXRadioButton") {
            const bool on = target && target->states.checked == CheckedState::On;
            out.push_back(EventKind::state_changed(StateFlag::Checked, on));
        } else if (role == "AXTextArea" || role == "AXTextField" || role == "AXSearchField") {
            out.push_back(EventKind{T::TextChanged});
        } else if (role == "AXStaticText") {
            // A label with a title of its own keeps its name when its value changes.
            if (!(target && target->raw.contains("AXTitle")))
                out.push_back(EventKind{T::NameChanged});
        }
        return out;
    }
    if (notification == "AXTitleChanged") return one(T::NameChanged);
    if (notification == "AXElementBusyChanged")
        return {EventKind::state_changed(StateFlag::Busy, busy)};
    if (notification == "AXWindowCreated") return one(T::WindowOpened);
    if (notification == "AXUIElementDestroyed")
        return one(role == "AXWindow" ? T::WindowClosed : T::StructureChanged);
    if (notification == "AXFocusedWindowChanged") return one(T::WindowActivated);
    if (notification == "AXWindowMiniaturized")
        return {EventKind::state_changed(StateFlag::Minimized, true)};
    if (notification == "AXWindowDeminiaturized")
        return {EventKind::state_changed(StateFlag::Minimized, false)};
    if (notification == "AXSelectedTextChanged" || notification == "AXSelectedRowsChanged" ||
        notification == "AXSelectedCellsChanged" || notification == "AXSelectedChildrenChanged")
        return one(T::SelectionChanged);
    if (notification == "AXMenuOpened") return one(T::MenuOpened);
    if (notification == "AXMenuClosed") return one(T::MenuClosed);
    if (notification == "AXAnnouncementRequested") return one(T::Announcement);
    return {};
}

namespace {

// AXElementBusy as a strict boolean: anything else, or a failed read, counts as not busy.
bool read_busy(AXUIElementRef element) {
    CfRef name = make_cf_string("AXElementBusy");
    CFTypeRef raw = nullptr;
    const AXError code =
        safe_ax_copy_attribute_value(element, static_cast<CFStringRef>(name.get()), &raw);
    CfRef value = CfRef::adopt(raw);
    if (code != 0 || !value) return false;
    return cf_boolean(value.get()).value_or(false);
}

}  // namespace

void ax_observer_callback(AXObserverRef, AXUIElementRef element, CFStringRef notification,
                          void* context) noexcept {
    try {
        auto* ctx = static_cast<ObserverContext*>(context);
        if (ctx == nullptr) return;
        const std::string name = cf_string_text(notification).value_or("");

        std::string role;
        std::optional<ElementData> target;
        if (element != nullptr) {
            const AXElement notified = AXElement::retain(element);
            role = ax_string(notified, "AXRole").value_or("");
            auto snapshot = build_snapshot_data(notified, ctx->pid, 0);
            if (snapshot) {
                target = std::move(*snapshot);
            } else {
                fmt::print(stderr, "AX notification target snapshot failed ({}): {}\n", ctx->pid,
                           snapshot.error().debug());
                std::fflush(stderr);
            }
        }
        const bool busy =
            name == "AXElementBusyChanged" && element != nullptr && read_busy(element);

        for (const EventKind& kind : event_kinds_for(name, role, target, busy)) {
            // A receiver that is gone drops the event; the subscription is ending anyway.
            ctx->sender.send(Event{.target = target,
                                   .app_name = ctx->app_name,
                                   .timestamp = std::chrono::steady_clock::now(),
                                   .app_pid = ctx->pid,
                                   .kind = kind});
        }
    } catch (...) {
        // Nothing may unwind into the platform's run loop; the notification is lost.
    }
}

RetryClock RetryClock::real() {
    return RetryClock{.now = [] { return std::chrono::steady_clock::now(); },
                      .sleep = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }};
}

Result<void> register_notifications(AXObserverRef observer, const AXElement& application,
                                    void* context, const RetryClock& clock) {
    std::array<CfRef, kObservedNotifications.size()> names;
    for (std::size_t i = 0; i < names.size(); ++i)
        names[i] = make_cf_string(kObservedNotifications[i]);
    const auto as_string = [&](std::size_t i) { return static_cast<CFStringRef>(names[i].get()); };

    const auto start = clock.now();
    for (;;) {
        std::size_t registered = 0;
        AXError failed = 0;
        for (; registered < names.size(); ++registered) {
            failed = safe_ax_observer_add_notification(observer, application.get(),
                                                       as_string(registered), context);
            if (failed != 0) break;
        }
        if (failed == 0) return {};
        for (std::size_t i = 0; i < registered; ++i)
            safe_ax_observer_remove_notification(observer, application.get(), as_string(i));

        // An application that has just started may not answer yet: try again for a while.
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::seconds>(clock.now() - start).count();
        if ((failed == kInvalidElement || failed == kCannotComplete) && elapsed <= 1) {
            clock.sleep(std::chrono::milliseconds(100));
            continue;
        }
        return fail(Error::Platform{
            failed, fmt::format("AXObserverAddNotification({}) failed",
                                kObservedNotifications[registered])});
    }
}

}  // namespace ax

namespace {

// How long the stop action waits for the loop to end before it asks again.
constexpr auto kStopRepeat = std::chrono::milliseconds(100);
constexpr std::string_view kStartFailed = "Failed to start observer RunLoop";

// One observer and its context, owned together by the subscriber, the observer thread and the
// stop action: whichever lets go last releases them, so a thread that outlives a failed start
// never touches released objects.
struct ObserverRun {
    ax::CfRef observer;
    ax::ObserverContext context;

    std::mutex mutex;
    std::condition_variable changed;
    // The thread's loop, once known; held, so that a stop arriving after the thread ended never
    // reaches a loop the platform has already freed with its thread.
    ax::CfRef run_loop;
    bool ready = false;               // the loop is running
    bool cancelled = false;           // the subscriber stopped waiting: never run the loop
    bool ended = false;               // the thread runs the loop no more
};

CFRunLoopRef loop_of(const ObserverRun& run) {
    return static_cast<CFRunLoopRef>(const_cast<void*>(run.run_loop.get()));
}

void mark_ended(ObserverRun& run) {
    {
        std::lock_guard lock(run.mutex);
        run.ended = true;
    }
    run.changed.notify_all();
}

// Called by the loop itself as it starts running: only from here on does a stop reach it (the
// platform keeps the stop flag per run), so only here is the subscriber told that it runs.
void on_loop_entry(CFRunLoopObserverRef, CFRunLoopActivity, void* info) {
    auto* run = static_cast<ObserverRun*>(info);
    {
        std::lock_guard lock(run->mutex);
        if (run->cancelled) {
            safe_cf_run_loop_stop(loop_of(*run));
            return;
        }
        run->ready = true;
    }
    run->changed.notify_all();
}

void observe(const std::shared_ptr<ObserverRun>& run) noexcept {
    try {
        auto observer = static_cast<AXObserverRef>(const_cast<void*>(run->observer.get()));
        CFRunLoopSourceRef source = safe_ax_observer_get_run_loop_source(observer);
        ax::CfRef entry = ax::CfRef::adopt(
            safe_cf_run_loop_observer_create(kCFRunLoopEntry, false, on_loop_entry, run.get()));
        if (source != nullptr && entry) {
            bool cancelled = false;
            {
                std::lock_guard lock(run->mutex);
                cancelled = run->cancelled;
                run->run_loop = ax::CfRef::retain(safe_cf_run_loop_get_current());
            }
            if (!cancelled) {
                auto entry_observer =
                    static_cast<CFRunLoopObserverRef>(const_cast<void*>(entry.get()));
                safe_cf_run_loop_add_observer(entry_observer);
                safe_cf_run_loop_add_source(source);
                safe_cf_run_loop_run();
                safe_cf_run_loop_remove_source(source);
                safe_cf_run_loop_remove_observer(entry_observer);
            }
        }
    } catch (...) {
        // Reported to the subscriber as a loop that never started.
    }
    mark_ended(*run);
}

// Stops the thread's loop until the thread reports that it runs it no more. The platform keeps
// the stop flag per run, so a stop that comes before the loop runs is lost: it is asked again
// until one lands. A thread that never got its loop ends by itself.
void stop_until_ended(ObserverRun& run) {
    CFRunLoopRef loop = nullptr;
    {
        std::lock_guard lock(run.mutex);
        loop = loop_of(run);
    }
    for (;;) {
        safe_cf_run_loop_stop(loop);
        std::unique_lock lock(run.mutex);
        if (run.changed.wait_for(lock, kStopRepeat, [&] { return run.ended; })) break;
    }
}

// The observer thread as the stop action holds it.
struct ObserverThread {
    std::shared_ptr<ObserverRun> run;
    std::jthread thread;

    void stop() {
        if (!run) return;
        stop_until_ended(*run);
        if (thread.joinable()) thread.join();
        // The context goes with the last owner: the channel disconnects, the observer is released.
        run.reset();
    }
};

Error not_matched_application(std::uint32_t pid) {
    return Error::diagnose(
        Error::SelectorNotMatched{fmt::format("application[pid={}]", pid), std::nullopt},
        Diagnosis{}.with_last_observed("AXUIElementCreateApplication returned NULL while subscribing"));
}

}  // namespace

Result<Subscription> MacOSProvider::subscribe(const ElementData& element) const {
    return ax::subscribe_observer(element, ax::RetryClock::real(), ax::kObserverStartWait);
}

Result<Subscription> ax::subscribe_observer(const ElementData& element, const RetryClock& clock,
                                            std::chrono::milliseconds start_wait) {
    if (!element.pid) return fail(Error::Platform{-1, "Element has no PID for subscribe"});
    const std::uint32_t pid = *element.pid;
    const auto platform_pid = static_cast<pid_t>(pid);

    auto [sender, receiver] = Channel<Event>::make();
    auto run = std::make_shared<ObserverRun>();
    run->context = ax::ObserverContext{
        .sender = std::move(sender), .app_name = element.name.value_or(""), .pid = pid};

    AXObserverRef observer = nullptr;
    const AXError created =
        safe_ax_observer_create(platform_pid, ax::ax_observer_callback, &observer);
    run->observer = ax::CfRef::adopt(observer);
    if (created != 0 || observer == nullptr)
        return fail(Error::Platform{created, "AXObserverCreate failed"});

    {
        AXElement application = AXElement::adopt(safe_ax_create_application(platform_pid));
        if (!application) return fail(not_matched_application(pid));
        VEMOR_TRY_VOID(ax::register_notifications(observer, application, &run->context, clock));
    }

    std::jthread thread;
    try {
        thread = std::jthread([run] { observe(run); });
    } catch (const std::system_error&) {
        return fail(Error::Platform{-1, std::string(kStartFailed)});
    }

    bool started = false;
    {
        std::unique_lock lock(run->mutex);
        run->changed.wait_for(lock, start_wait, [&] { return run->ready || run->ended; });
        started = run->ready;
        if (!started) run->cancelled = true;
    }
    if (!started) {
        // Cancelled, the thread no longer starts the loop; but it may already be running one that
        // never reported (its entry observer could not be added), which only a stop ends.
        stop_until_ended(*run);
        thread.join();
        return fail(Error::Platform{-1, std::string(kStartFailed)});
    }

    const std::thread::id producer = thread.get_id();
    auto stopper = std::make_shared<ObserverThread>(ObserverThread{run, std::move(thread)});
    run.reset();
    return Subscription(EventReceiver(std::move(receiver)),
                        CancelHandle([stopper] { stopper->stop(); }, producer));
}

}  // namespace vemor
