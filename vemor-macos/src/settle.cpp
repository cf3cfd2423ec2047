#include "vemor/macos/settle.hpp"

#include <fmt/format.h>

#include <thread>

#include "vemor/macos/shim.hpp"

namespace vemor::ax {

// ---- The clock ----------------------------------------------------------------------------

namespace {

class SteadyClock final : public SettleClock {
public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::nanoseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

SteadyClock g_steady_clock;
thread_local SettleClock* t_clock = nullptr;

std::string_view bool_text(bool value) { return value ? "true" : "false"; }

}  // namespace

SettleClock& settle_clock() { return t_clock ? *t_clock : g_steady_clock; }

ScopedSettleClock::ScopedSettleClock(SettleClock& clock) : previous_(t_clock) { t_clock = &clock; }
ScopedSettleClock::~ScopedSettleClock() { t_clock = previous_; }

bool is_invalid_element_error(const Error& error) {
    const auto* p = error.as<Error::Platform>();
    return p != nullptr && p->code == kInvalidElement;
}

Error settle_timeout(std::string condition, std::string last_observed) {
    return Error::diagnose(Error::Timeout{kSettleDeadline, std::nullopt},
                           Diagnosis{}
                               .with_condition(std::move(condition))
                               .with_last_observed(std::move(last_observed)));
}

// ---- Samples ------------------------------------------------------------------------------

bool TargetSample::matches(bool wanted) const {
    auto match = [&](bool fullscreen, bool settable) {
        return wanted ? fullscreen : !fullscreen && settable;
    };
    if (const auto* found = std::get_if<WindowFound>(&form))
        return match(found->fullscreen, found->settable);
    if (const auto* cached = std::get_if<CachedHandle>(&form)) {
        const bool* reading = std::get_if<bool>(&cached->reading);
        const bool* settable = std::get_if<bool>(&cached->settable);
        return reading && settable && match(*reading, *settable);
    }
    return false;
}

std::optional<bool> TargetSample::settable() const {
    if (const auto* found = std::get_if<WindowFound>(&form)) return found->settable;
    if (const auto* cached = std::get_if<CachedHandle>(&form))
        if (const bool* settable = std::get_if<bool>(&cached->settable)) return *settable;
    return std::nullopt;
}

std::string TargetSample::last_observed() const {
    if (const auto* found = std::get_if<WindowFound>(&form))
        return fmt::format("the target window reads AXFullScreen={} (settable={})",
                           bool_text(found->fullscreen), bool_text(found->settable));
    if (std::holds_alternative<WindowUnanswered>(form))
        return "the app did not answer a readable sample of the target window";
    const auto& cached = std::get<CachedHandle>(form);
    std::string reading;
    if (const bool* flag = std::get_if<bool>(&cached.reading)) {
        if (const bool* settable = std::get_if<bool>(&cached.settable))
            reading = fmt::format("reads AXFullScreen={} (settable={})", bool_text(*flag),
                                  bool_text(*settable));
        else
            reading = fmt::format(
                "reads AXFullScreen={} but its settability probe was invalidated: {}",
                bool_text(*flag), std::get<CachedHandle::Invalidated>(cached.settable).error);
    } else if (std::holds_alternative<CachedHandle::NoAttribute>(cached.reading)) {
        reading = "has no AXFullScreen attribute";
    } else {
        reading = fmt::format("could not be read: {}",
                              std::get<CachedHandle::Unreadable>(cached.reading).error);
    }
    return fmt::format("the target window is not enumerable; its cached handle {}", reading);
}

// ---- Finding the window again -------------------------------------------------------------

Result<std::optional<AXElement>> fresh_target_in_app(const AXElement& application,
                                                     const AXElement& target) {
    auto windows = ax_windows(application);
    if (!windows) {
        if (is_invalid_element_error(windows.error())) return std::optional<AXElement>();
        return fail(std::move(windows).error());
    }
    for (AXElement& window : *windows)
        if (safe_cf_equal(window.get(), target.get()))
            return std::optional<AXElement>(std::move(window));
    return std::optional<AXElement>();
}

// ---- The AXMinimized loop -----------------------------------------------------------------

Result<void> settle_bool_attr(const AXElement& window, bool wanted, std::string_view op,
                              Role role) {
    constexpr std::string_view kAttribute = "AXMinimized";
    const AXElement application = VEMOR_TRY(owning_app_element(window, op, role));
    SettleClock& clock = settle_clock();
    const auto deadline = clock.now() + kSettleDeadline;
    AXElement target = window;
    std::string last_observed;
    for (;;) {
        Result<void> step;
        auto reading = read_bool_attr(target, kAttribute, op, role);
        if (!reading) {
            step = fail(std::move(reading).error());
        } else if (!reading->has_value()) {
            // Nothing to write: the window cannot say whether it is minimised.
            last_observed = fmt::format("the window has no {} attribute", kAttribute);
        } else {
            const bool value = **reading;
            last_observed = fmt::format("{} reads {}", kAttribute, bool_text(value));
            if (value == wanted) return {};
            step = set_bool_attr(target, kAttribute, wanted, op, role);
        }
        if (!step) {
            if (!is_invalid_element_error(step.error())) return step;
            last_observed = step.error().message();
            // Always looked for by the cached element: that is the identity the caller meant.
            auto found = VEMOR_TRY(fresh_target_in_app(application, window));
            if (found) target = std::move(*found);
        }
        if (clock.now() >= deadline) break;
        clock.sleep_for(kSettlePollInterval);
    }
    return fail(settle_timeout(wanted ? "window enters minimized state (AXMinimized=true)"
                                      : "window leaves minimized state (AXMinimized=false)",
                               std::move(last_observed)));
}

// ---- The AXFullScreen loop ----------------------------------------------------------------

namespace {

// One poll's sample; errors other than an invalid element end the loop.
Result<TargetSample> sample_fullscreen(const AXElement& application, const AXElement& window,
                                       std::string_view op, Role role) {
    constexpr std::string_view kAttribute = "AXFullScreen";
    auto found = VEMOR_TRY(fresh_target_in_app(application, window));
    if (found) {
        const AXElement listed = std::move(*found);
        auto reading = read_bool_attr(listed, kAttribute, op, role);
        if (!reading) {
            if (is_invalid_element_error(reading.error()))
                return TargetSample{TargetSample::WindowUnanswered{}};
            return fail(std::move(reading).error());
        }
        auto settable = is_attr_settable(listed, kAttribute);
        if (!settable) {
            if (is_invalid_element_error(settable.error()))
                return TargetSample{TargetSample::WindowUnanswered{}};
            return fail(std::move(settable).error());
        }
        return TargetSample{TargetSample::WindowFound{reading->value_or(false), *settable}};
    }

    TargetSample::CachedHandle cached;
    auto reading = read_bool_attr(window, kAttribute, op, role);
    if (reading) {
        if (reading->has_value())
            cached.reading = **reading;
        else
            cached.reading = TargetSample::CachedHandle::NoAttribute{};
    } else if (is_invalid_element_error(reading.error())) {
        cached.reading = TargetSample::CachedHandle::Unreadable{reading.error().message()};
    } else {
        return fail(std::move(reading).error());
    }
    auto settable = is_attr_settable(window, kAttribute);
    if (settable)
        cached.settable = *settable;
    else if (is_invalid_element_error(settable.error()))
        cached.settable = TargetSample::CachedHandle::Invalidated{settable.error().message()};
    else
        return fail(std::move(settable).error());
    return TargetSample{std::move(cached)};
}

}  // namespace

Result<void> settle_window_fullscreen(const AXElement& window, bool wanted, std::string_view op,
                                      Role role) {
    using TimePoint = SettleClock::TimePoint;
    const AXElement application = VEMOR_TRY(owning_app_element(window, op, role));
    SettleClock& clock = settle_clock();
    const auto deadline = clock.now() + kSettleDeadline;
    // Since when the current match has held, seen as a listed window or as the cached handle
    // (unset: no match is holding).
    struct Since {
        bool set = false;
        TimePoint at{};
        void start(TimePoint t) {
            if (!set) at = t;
            set = true;
        }
        void clear() { set = false; }
        bool held(TimePoint t) const { return set && t - at >= kFullscreenStability; }
    };
    Since window_stable_since;
    Since handle_stable_since;
    std::optional<std::string> last_retry_failure;
    std::optional<TargetSample> sample;
    for (;;) {
        const TimePoint t = clock.now();
        sample = VEMOR_TRY(sample_fullscreen(application, window, op, role));
        const bool matched = sample->matches(wanted);

        // A match must hold, seen the same way (listed window or cached handle), for the
        // stability interval with no mismatch between.
        const bool listed = std::holds_alternative<TargetSample::WindowFound>(sample->form);
        if (!matched) {
            window_stable_since.clear();
            handle_stable_since.clear();
        } else if (listed) {
            window_stable_since.start(t);
            handle_stable_since.clear();
        } else {
            handle_stable_since.start(t);
            window_stable_since.clear();
        }
        if (window_stable_since.held(t) || handle_stable_since.held(t)) return {};

        // A window already in the wanted state with a read-only attribute is left alone.
        if (!(matched && sample->settable() == std::optional<bool>(false))) {
            auto written = set_bool_attr(window, "AXFullScreen", wanted, op, role);
            if (written)
                last_retry_failure.reset();
            else if (is_invalid_element_error(written.error()))
                last_retry_failure = written.error().message();
            else
                return written;
        }

        if (clock.now() >= deadline) break;
        clock.sleep_for(kSettlePollInterval);
    }
    std::string last_observed = sample->last_observed();
    if (last_retry_failure)
        last_observed =
            fmt::format("{}; the last retry set failed: {}", last_observed, *last_retry_failure);
    return fail(settle_timeout(wanted ? "window enters fullscreen (AXFullScreen=true)"
                                      : "window leaves fullscreen (AXFullScreen=false with "
                                        "IsAttributeSettable=true)",
                               std::move(last_observed)));
}

}  // namespace vemor::ax
