// Waiting for a window to settle. Minimising and full-screen transitions animate, so the window
// operations report success only once the window reads back in the wanted state: these loops
// poll every 50 ms for up to 5 s, follow a window whose cached element went invalid by finding
// it again among its application's windows, and otherwise fail with a diagnosed time-out.
//
// The loops read the time and sleep through `SettleClock`, so that tests can run them in
// virtual time.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "vemor/error.hpp"
#include "vemor/macos/ax.hpp"
#include "vemor/role.hpp"

namespace vemor::ax {

// How long a loop waits in all, how long it sleeps between polls, and how long a full-screen
// reading must hold before it counts.
inline constexpr std::chrono::milliseconds kSettleDeadline{5000};
inline constexpr std::chrono::milliseconds kSettlePollInterval{50};
inline constexpr std::chrono::milliseconds kFullscreenStability{700};

// The time source and the sleep of the settle loops (and of the window move's loop).
class SettleClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~SettleClock() = default;
    virtual TimePoint now() = 0;
    virtual void sleep_for(std::chrono::nanoseconds duration) = 0;
};

// The clock the calling thread's loops use: the steady clock with real sleeps, unless the
// thread installed another one with `ScopedSettleClock`.
SettleClock& settle_clock();

// Makes the calling thread's loops use `clock` until the guard goes away.
class ScopedSettleClock {
public:
    explicit ScopedSettleClock(SettleClock& clock);
    ~ScopedSettleClock();
    ScopedSettleClock(const ScopedSettleClock&) = delete;
    ScopedSettleClock& operator=(const ScopedSettleClock&) = delete;

private:
    SettleClock* previous_;
};

// A `Platform` error with code -25202: the element no longer exists. Inside the window loops
// this is not the end: the window is looked for again.
bool is_invalid_element_error(const Error& error);

// What one poll of the full-screen loop saw of its window.
struct TargetSample {
    // The application listed the window: its AXFullScreen flag (absent reads false) and
    // whether the attribute is settable.
    struct WindowFound {
        bool fullscreen = false;
        bool settable = false;
    };
    // The window was listed, but reading it failed because its element went invalid.
    struct WindowUnanswered {};
    // The window was not listed; its cached element was read instead.
    struct CachedHandle {
        struct NoAttribute {};
        struct Unreadable {
            std::string error;  // the error's display text
        };
        struct Invalidated {
            std::string error;
        };
        std::variant<bool, NoAttribute, Unreadable> reading;
        std::variant<bool, Invalidated> settable;
    };

    std::variant<WindowFound, WindowUnanswered, CachedHandle> form;

    // Whether the sample shows the wanted state: entering counts while AXFullScreen reads true;
    // leaving only while it reads false and is still settable.
    bool matches(bool wanted) const;
    // The settability the sample read, when it read one.
    std::optional<bool> settable() const;
    // The sample as the time-out's last-observed text.
    std::string last_observed() const;
};

// The application's window that equals `target` (CFEqual), retained; none when the application
// lists no such window or its element went invalid.
Result<std::optional<AXElement>> fresh_target_in_app(const AXElement& application,
                                                     const AXElement& target);

// Waits until AXMinimized reads `wanted`, writing it again after every reading that differs.
Result<void> settle_bool_attr(const AXElement& window, bool wanted, std::string_view op, Role role);

// Waits until the window has read the wanted full-screen state for 700 ms, writing AXFullScreen
// on every poll while the state differs (and while it matches but is still settable).
Result<void> settle_window_fullscreen(const AXElement& window, bool wanted, std::string_view op,
                                      Role role);

// The time-out of a window loop: exactly the 5 s deadline, with what was awaited and seen.
Error settle_timeout(std::string condition, std::string last_observed);

}  // namespace vemor::ax
