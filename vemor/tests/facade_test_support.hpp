// Test doubles of the facade suites: a mock tree of any size, a provider that forwards to a mock
// but lets a test script one operation's error, and a screenshot provider that hands out blank
// captures and counts how often it was asked; and the check of the suites' child processes.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vemor/mock.hpp"
#include "vemor/screenshot.hpp"

// Checks run in a child process; a failed one ends it with a message and exit code 1.
#define CHILD_CHECK(cond)                                                           \
    do {                                                                            \
        if (!(cond)) {                                                              \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #cond); \
            std::exit(1);                                                           \
        }                                                                           \
    } while (0)

namespace vemor::facade_test {

// One widget under the single window of the test application.
struct Widget {
    Role role = Role::Button;
    std::string name;
    std::optional<Rect> bounds;
};

// Node 0: the application "Big" (pid 77), node 1: its window, then the widgets in order.
inline std::shared_ptr<MockProvider> build_tree(const std::vector<Widget>& widgets) {
    std::vector<MockNode> nodes(2 + widgets.size());
    auto init = [&](std::size_t i, Role role, std::string name, std::optional<Rect> bounds) {
        MockNode& n = nodes[i];
        n.data.role = role;
        n.data.name = std::move(name);
        n.data.handle = i;
        n.data.pid = 77u;
        n.data.bounds = bounds;
        n.data.states.enabled = true;
        n.data.states.visible = true;
    };
    init(0, Role::Application, "Big", Rect{0, 0, 800, 600});
    init(1, Role::Window, "Main", Rect{0, 0, 800, 600});
    nodes[0].children = {1};
    nodes[1].parent = 0;
    for (std::size_t k = 0; k < widgets.size(); ++k) {
        init(k + 2, widgets[k].role, widgets[k].name, widgets[k].bounds);
        nodes[k + 2].parent = 1;
        nodes[1].children.push_back(k + 2);
    }
    return std::make_shared<MockProvider>(std::move(nodes));
}

// Blank captures of a `width` x `height` desktop at the origin; with `mapped` the captures carry
// a one-segment mapping, otherwise none.
class BlankScreens final : public ScreenshotProvider {
public:
    BlankScreens(std::uint32_t width, std::uint32_t height, float scale, bool mapped)
        : width_(width), height_(height), scale_(scale), mapped_(mapped) {}

    Result<FullCapture> capture_full() const override {
        ++captures;
        return FullCapture{image(0, 0, width_, height_), Point{0, 0}};
    }
    Result<Screenshot> capture_region(const Rect& r) const override {
        ++captures;
        return image(r.x, r.y, r.width, r.height);
    }

    mutable std::atomic<int> captures{0};

private:
    Screenshot image(std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h) const {
        const auto pw = static_cast<std::uint32_t>(w * scale_);
        const auto ph = static_cast<std::uint32_t>(h * scale_);
        Screenshot s{.pixels = std::vector<std::uint8_t>(std::size_t{pw} * ph * 4, 0),
                     .width = pw,
                     .height = ph,
                     .scale = scale_};
        if (mapped_) s.mapping = CaptureMapping::single(x, y, pw, ph, scale_);
        return s;
    }

    std::uint32_t width_, height_;
    float scale_;
    bool mapped_;
};

// Forwards every operation to a mock, except that `scroll_into_view` and `minimize` fail with
// the scripted error when one is set.
class ScriptedProvider final : public Provider {
public:
    explicit ScriptedProvider(std::shared_ptr<MockProvider> mock) : m_(std::move(mock)) {}
    std::optional<Error> scripted;

#define VEMOR_FORWARD(ret, name, params, args) \
    ret name params const override { return m_->name args; }
    VEMOR_FORWARD(Result<ElementList>, get_children, (const ElementData* p), (p))
    VEMOR_FORWARD(Result<ElementList>, app_windows, (const ElementData& a), (a))
    VEMOR_FORWARD(Result<std::optional<ElementData>>, get_parent, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<ElementList>, list_apps, (), ())
    VEMOR_FORWARD(bool, splits_app_across_entries, (), ())
    VEMOR_FORWARD(Result<ElementList>, app_roots, (const ElementData& a), (a))
    VEMOR_FORWARD(Result<ElementData>, app_by_pid, (std::uint32_t pid), (pid))
    VEMOR_FORWARD(Result<ElementData>, focused_app, (), ())
    using Surfaces = std::vector<std::pair<ShellSurfaceKind, ElementData>>;
    VEMOR_FORWARD(Result<Surfaces>, list_shell_surfaces, (), ())
    VEMOR_FORWARD(Result<ElementList>, find_elements,
                  (const ElementData* r, std::span<const SelectorSegment> s,
                   std::optional<std::size_t> l, std::optional<std::uint32_t> d),
                  (r, s, l, d))
    VEMOR_FORWARD(Result<ElementList>, find_elements_group,
                  (const ElementData* r, const SelectorGroup& g, std::optional<std::size_t> l,
                   std::optional<std::uint32_t> d),
                  (r, g, l, d))
    VEMOR_FORWARD(Result<ElementList>, narrow_multi_segment,
                  (ElementList c, std::span<const SelectorSegment> s, std::uint32_t d,
                   std::optional<std::size_t> l),
                  (std::move(c), s, d, l))
    VEMOR_FORWARD(Result<void>, press, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, focus, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, blur, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, toggle, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, select, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, expand, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, collapse, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, show_menu, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, increment, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, decrement, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, set_value, (const ElementData& e, std::string_view v), (e, v))
    VEMOR_FORWARD(Result<void>, set_numeric_value, (const ElementData& e, double v), (e, v))
    VEMOR_FORWARD(Result<void>, type_text, (const ElementData& e, std::string_view v), (e, v))
    VEMOR_FORWARD(Result<void>, set_text_selection,
                  (const ElementData& e, std::uint32_t s, std::uint32_t t), (e, s, t))
    VEMOR_FORWARD(Result<void>, perform_action, (const ElementData& e, std::string_view a), (e, a))
    VEMOR_FORWARD(Result<void>, activate, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, maximize, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, enter_fullscreen, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, restore, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, close, (const ElementData& e), (e))
    VEMOR_FORWARD(Result<void>, move_to, (const ElementData& e, std::int32_t x, std::int32_t y),
                  (e, x, y))
    VEMOR_FORWARD(Result<void>, resize_to,
                  (const ElementData& e, std::uint32_t w, std::uint32_t h), (e, w, h))
    VEMOR_FORWARD(Result<Subscription>, subscribe, (const ElementData& e), (e))
#undef VEMOR_FORWARD

    Result<void> scroll_into_view(const ElementData& e) const override {
        if (scripted) return fail(*scripted);
        return m_->scroll_into_view(e);
    }
    Result<void> minimize(const ElementData& e) const override {
        if (scripted) return fail(*scripted);
        return m_->minimize(e);
    }

private:
    std::shared_ptr<MockProvider> m_;
};

}  // namespace vemor::facade_test
