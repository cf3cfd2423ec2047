// Shared by the accessibility-backend suites: small desktop builders and a fixture that checks
// every platform object the backend took was released again.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vemor/json.hpp"
#include "vemor/macos/ax.hpp"
#include "vemor/macos/provider.hpp"
#include "vemor/standin/control.hpp"

namespace vemor::axtest {

namespace sd = vemor::standin;
using sd::ElementSpec;

inline ElementSpec window(std::string title) {
    return ElementSpec("AXWindow")
        .subrole("AXStandardWindow")
        .title(std::move(title))
        .frame(100, 100, 800, 600);
}

inline ElementSpec button(std::string title) {
    return ElementSpec("AXButton").title(std::move(title)).action("AXPress");
}

inline sd::AppSpec app(pid_t pid, std::string name, std::vector<ElementSpec> children) {
    sd::AppSpec a;
    a.pid = pid;
    a.name = name;
    a.element = ElementSpec("AXApplication");
    a.element.children = std::move(children);
    return a;
}

inline sd::DesktopSpec desktop(std::vector<sd::AppSpec> apps) {
    sd::DesktopSpec d;
    d.apps = std::move(apps);
    d.focused_app = d.apps.empty() ? 0 : d.apps.front().pid;
    return d;
}

// The debug text of an error, or "ok": failures print whole in test output.
template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("ok") : r.error().debug();
}
inline std::string debug(Error e) { return e.debug(); }

// The value of a result that must have succeeded (a default value after reporting otherwise).
template <class T>
T value_of(Result<T> r) {
    EXPECT_TRUE(r) << error_text(r);
    return r ? std::move(*r) : T{};
}

// Every field of a snapshot as one compact JSON text, so that whole snapshots compare as
// golden texts and print readably when they differ.
inline std::string snapshot_text(const ElementData& d) {
    auto opt = [](const auto& v) { return v ? Json(*v) : Json(nullptr); };
    const StateSet& s = d.states;
    Json states = {
        {"enabled", s.enabled},
        {"visible", s.visible},
        {"focused", s.focused},
        {"active", s.active},
        {"selected", s.selected},
        {"editable", s.editable},
        {"focusable", s.focusable},
        {"modal", s.modal},
        {"required", s.required},
        {"busy", s.busy},
        {"minimized", opt(s.minimized)},
        {"maximized", opt(s.maximized)},
        {"fullscreen", opt(s.fullscreen)},
        {"expanded", opt(s.expanded)},
        {"checked", s.checked ? Json(checked_state::to_snake_case(*s.checked)) : Json(nullptr)}};
    Json out = {{"role", role::to_snake_case(d.role)},
                {"name", opt(d.name)},
                {"value", opt(d.value)},
                {"description", opt(d.description)},
                {"bounds", d.bounds ? to_json(*d.bounds) : Json(nullptr)},
                {"actions", d.actions},
                {"states", states},
                {"numeric_value", opt(d.numeric_value)},
                {"min_value", opt(d.min_value)},
                {"max_value", opt(d.max_value)},
                {"stable_id", opt(d.stable_id)},
                {"pid", opt(d.pid)},
                {"raw", d.raw},
                {"handle", d.handle}};
    return json::dump(out);
}

// An owned reference to an installed element.
inline AXElement element(sd::ElementId id) { return AXElement::adopt(sd::element_ref(id)); }

inline sd::ElementId find(pid_t pid, const std::string& identifier) {
    auto id = sd::find_element(pid, identifier);
    EXPECT_TRUE(id) << "no element " << identifier;
    return id.value_or(0);
}

// Installs a desktop per test and, when the test ends, checks that the live platform objects
// are back to what they were right after the install.
class DesktopTest : public ::testing::Test {
protected:
    void install(const sd::DesktopSpec& spec) {
        sd::install_desktop(spec);
        baseline_ = sd::live_object_count();
        installed_ = true;
    }

    // A provider over the installed desktop (the permission checks pass on it).
    MacOSProvider& provider() {
        if (!provider_) {
            auto p = MacOSProvider::create();
            EXPECT_TRUE(p) << (p ? "" : p.error().message());
            if (p) provider_ = std::move(*p);
        }
        return *provider_;
    }

    // Drops the provider and checks that every platform object taken since the install was
    // released; for tests that install several desktops one after the other.
    void check_released() {
        provider_.reset();
        if (installed_) {
            EXPECT_EQ(sd::live_object_count(), baseline_) << "platform objects leaked";
        }
        installed_ = false;
    }

    void TearDown() override {
        provider_.reset();
        if (installed_) {
            EXPECT_EQ(sd::live_object_count(), baseline_) << "platform objects leaked";
        }
        sd::reset_to_default_desktop();
    }

    std::shared_ptr<MacOSProvider> provider_;

private:
    long baseline_ = 0;
    bool installed_ = false;
};

}  // namespace vemor::axtest
