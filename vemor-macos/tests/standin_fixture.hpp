// A fixture for suites that drive the simulated platform: each test starts on the default
// desktop and must give back every platform object it took.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "eventually.hpp"

#include "vemor/macos/shim.hpp"
#include "vemor/standin/control.hpp"

namespace vemor::standin_test {

namespace sd = vemor::standin;

class StandinTest : public ::testing::Test {
protected:
    void SetUp() override {
        sd::reset_to_default_desktop();
        baseline_ = sd::live_object_count();
    }
    void TearDown() override {
        sd::clear_faults();
        EXPECT_EQ(sd::live_object_count(), baseline_) << "platform objects were not released";
        sd::reset_to_default_desktop();
    }

private:
    long baseline_ = 0;
};

// Owns one reference to a platform object.
struct CfReleaser {
    void operator()(const void* p) const { safe_cf_release(p); }
};
template <class Ref>
using Owned = std::unique_ptr<std::remove_pointer_t<Ref>, CfReleaser>;
template <class Ref>
Owned<Ref> own(Ref r) {
    return Owned<Ref>(r);
}

inline Owned<CFStringRef> str(const std::string& s) {
    return own(safe_cf_string_create(s.c_str()));
}

inline std::string text_of(CFTypeRef s) {
    CFIndex used = 0;
    if (!safe_cf_string_get_utf8(static_cast<CFStringRef>(s), nullptr, 0, &used)) return "<none>";
    std::string out(static_cast<std::size_t>(used), '\0');
    safe_cf_string_get_utf8(static_cast<CFStringRef>(s), out.data(), used, &used);
    return out;
}

// A new reference to the element with this identifier in the default desktop.
inline Owned<AXUIElementRef> element(pid_t pid, const std::string& identifier) {
    auto id = sd::find_element(pid, identifier);
    EXPECT_TRUE(id.has_value()) << identifier;
    return own(id ? sd::element_ref(*id) : nullptr);
}

// Reads an attribute; the value (possibly NULL) and the code.
struct Read {
    AXError code;
    Owned<CFTypeRef> value;
};
inline Read read(AXUIElementRef e, const std::string& attribute) {
    CFTypeRef v = nullptr;
    AXError code = safe_ax_copy_attribute_value(e, str(attribute).get(), &v);
    return Read{code, own(v)};
}

// Notifications an observer received, one line each: the notification and the element's
// `attribute` (or the code of a failed read).
struct Received {
    std::string attribute;
    std::mutex m;
    std::vector<std::string> lines;
};
inline void on_notification(AXObserverRef, AXUIElementRef element, CFStringRef notification,
                            void* context) {
    auto* r = static_cast<Received*>(context);
    Read got = read(element, r->attribute);
    std::lock_guard lock(r->m);
    r->lines.push_back(text_of(notification) + " " +
                       (got.code == 0 ? text_of(got.value.get()) : std::to_string(got.code)));
}

// Delivers `observer`'s notifications on a run loop of its own thread, from construction until
// `stop()` or destruction.
class ObserverLoop {
public:
    explicit ObserverLoop(AXObserverRef observer)
        : thread_([this, observer] {
              safe_cf_run_loop_add_source(safe_ax_observer_get_run_loop_source(observer));
              loop_ = safe_cf_run_loop_get_current();
              safe_cf_run_loop_run();
          }) {
        if (!vemor::testing::eventually([this] { return loop_.load() != nullptr; })) {
            // The thread is stuck inside the platform, where nothing can stop or join it.
            ADD_FAILURE() << "the observer's run loop never started";
            std::abort();
        }
    }
    ObserverLoop(const ObserverLoop&) = delete;
    ObserverLoop& operator=(const ObserverLoop&) = delete;
    ~ObserverLoop() { stop(); }

    void stop() {
        if (!thread_.joinable()) return;
        safe_cf_run_loop_stop(loop_);
        thread_.join();
    }

private:
    std::atomic<CFRunLoopRef> loop_{nullptr};
    std::thread thread_;
};

}  // namespace vemor::standin_test
