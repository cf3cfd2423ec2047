// Accessibility notifications of one application as events: an accessibility observer runs on
// the run loop of a thread of its own, and its callback snapshots the notified element and sends
// one event per kind the notification stands for (`MacOSProvider::subscribe`, events.cpp).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/element.hpp"
#include "vemor/error.hpp"
#include "vemor/event.hpp"
#include "vemor/macos/ax.hpp"

namespace vemor::ax {

// The notifications a subscription registers on the application element, in this order.
inline constexpr std::array<std::string_view, 16> kObservedNotifications{
    "AXFocusedUIElementChanged", "AXValueChanged",         "AXTitleChanged",
    "AXElementBusyChanged",      "AXWindowCreated",        "AXUIElementDestroyed",
    "AXFocusedWindowChanged",    "AXWindowMiniaturized",   "AXWindowDeminiaturized",
    "AXSelectedTextChanged",     "AXSelectedRowsChanged",  "AXSelectedCellsChanged",
    "AXSelectedChildrenChanged", "AXMenuOpened",           "AXMenuClosed",
    "AXAnnouncementRequested",
};

// What the observer callback needs: where its events go and which application they are about.
struct ObserverContext {
    EventSender sender;
    std::string app_name;  // empty when the subscribed element has no name
    std::uint32_t pid = 0;
};

// The event kinds a notification stands for, in the order they are sent. `role` is the notified
// element's AXRole (empty when unreadable), `target` its snapshot (none when it failed) and
// `busy` its AXElementBusy reading, which only "AXElementBusyChanged" uses.
std::vector<EventKind> event_kinds_for(std::string_view notification, std::string_view role,
                                       const std::optional<ElementData>& target, bool busy);

// The function registered with the observer; runs on the observer thread's run loop with the
// subscription's `ObserverContext` as `context`.
void ax_observer_callback(AXObserverRef observer, AXUIElementRef element,
                          CFStringRef notification, void* context) noexcept;

// The clock of the registration retry: the steady clock and a real sleep, or a virtual clock in
// tests.
struct RetryClock {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> sleep;
    static RetryClock real();
};

// Registers every observed notification on the application in passes. A pass that fails takes
// back what it registered; an application that is still starting (-25202, -25204) gets a new
// pass every 100 ms until 2 whole seconds have passed since the first. The error names the
// notification that could not be registered.
Result<void> register_notifications(AXObserverRef observer, const AXElement& application,
                                    void* context, const RetryClock& clock);

// How long `MacOSProvider::subscribe` waits for the observer thread's run loop to report.
inline constexpr std::chrono::milliseconds kObserverStartWait{5000};

// `MacOSProvider::subscribe` with its two waits given: the registration retry's clock and how
// long the observer thread's loop has to report (tests shorten both).
Result<Subscription> subscribe_observer(const ElementData& element, const RetryClock& clock,
                                        std::chrono::milliseconds start_wait);

}  // namespace vemor::ax
