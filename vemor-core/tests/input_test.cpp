#include "vemor/input.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <mutex>

namespace vemor {
namespace {

std::string key_name(const Key& k) {
    if (k.kind == Key::Char) return fmt::format("'{}'", static_cast<char>(k.ch));
    if (k.kind == Key::F) return fmt::format("F{}", k.number);
    static constexpr const char* kNames[] = {"Char", "Shift", "Ctrl", "Alt", "Meta", "Enter"};
    return k.kind < 6 ? kNames[k.kind] : fmt::format("key{}", static_cast<int>(k.kind));
}

// Records every call; operations named in `failing` fail.
class RecordingInput : public InputProvider {
public:
    mutable std::vector<std::string> log;
    std::vector<std::string> failing;

    Result<void> record(std::string entry) const {
        log.push_back(entry);
        for (const auto& f : failing)
            if (entry == f) return fail(Error::Platform{-1, entry + " failed"});
        return {};
    }
    Result<void> pointer_move(Point p) const override {
        return record(fmt::format("move {},{}", p.x, p.y));
    }
    Result<void> pointer_down(MouseButton b) const override {
        return record(fmt::format("down {}", mouse_button::to_snake_case(b)));
    }
    Result<void> pointer_up(MouseButton b) const override {
        return record(fmt::format("up {}", mouse_button::to_snake_case(b)));
    }
    Result<void> pointer_click(Point p, MouseButton b, std::uint32_t n) const override {
        return record(fmt::format("click {},{} {} x{}", p.x, p.y, mouse_button::to_snake_case(b), n));
    }
    Result<void> pointer_scroll(Point p, std::int32_t dx, std::int32_t dy) const override {
        return record(fmt::format("scroll {},{} {} {}", p.x, p.y, dx, dy));
    }
    Result<void> key_down(const Key& k) const override { return record("keydown " + key_name(k)); }
    Result<void> key_up(const Key& k) const override { return record("keyup " + key_name(k)); }
    Result<void> type_text(std::string_view t) const override {
        return record(fmt::format("type {}", t));
    }
    Result<void> pointer_drag(Point a, Point b, MouseButton, Duration d) const override {
        return record(fmt::format("drag {},{} {},{} {}", a.x, a.y, b.x, b.y,
                                  text::duration_debug(d)));
    }
};

TEST(Input, AnchorPoints) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    struct Case {
        Rect r;
        Anchor a;
        Point p;
    } cases[] = {
        {{10, 20, 100, 50}, Anchor{}, {60, 45}},
        {{10, 20, 100, 50}, Anchor{Anchor::Kind::TopLeft}, {10, 20}},
        {{10, 20, 100, 50}, Anchor{Anchor::Kind::TopRight}, {109, 20}},
        {{10, 20, 100, 50}, Anchor{Anchor::Kind::BottomLeft}, {10, 69}},
        {{10, 20, 100, 50}, Anchor{Anchor::Kind::BottomRight}, {109, 69}},
        {{10, 20, 0, 0}, Anchor{Anchor::Kind::BottomRight}, {10, 20}},
        {{10, 20, 101, 51}, Anchor{}, {60, 45}},
        {{10, 20, 100, 50}, Anchor::offset(-15, 7), {-5, 27}},
        {{2147483600, 0, 200, 10}, Anchor{}, {kMax, 5}},
        {{2147483600, 0, 200, 10}, Anchor{Anchor::Kind::BottomRight}, {kMax, 9}},
        {{0, 0, 4294967295u, 4294967295u}, Anchor{Anchor::Kind::BottomRight}, {kMax, kMax}},
        {{-2147483647 - 1, 0, 1, 1}, Anchor::offset(-5, 0), {-2147483647 - 1, 0}},
    };
    for (const auto& c : cases) {
        auto p = input::anchor_point(c.r, c.a);
        EXPECT_EQ(p, c.p) << c.r.x << "," << c.r.y << " " << c.r.width << "x" << c.r.height;
    }
    EXPECT_EQ(anchor::from_snake_case("bottom_right"), Anchor{Anchor::Kind::BottomRight});
    EXPECT_EQ(anchor::from_snake_case("bottom-right"), std::nullopt);
}

TEST(Input, UppercaseCharKeysAreRefused) {
    auto r = Key::validate(Key::character(U'A'));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(),
              "Invalid action data: Key::Char('A') is uppercase; use Key::Char('a') with "
              "Key::Shift held to produce an uppercase letter");
    EXPECT_TRUE(Key::validate(Key::character(U'a')));
    EXPECT_TRUE(Key::validate(Key::character(U'\u00C9')));
    EXPECT_TRUE(Key::validate(Key::function(12)));
}

TEST(Input, OptionDefaultsAndHeldBuilder) {
    const ClickOptions click;
    EXPECT_EQ(click.button, MouseButton::Left);
    EXPECT_EQ(click.count, 1u);
    EXPECT_EQ(click.anchor, Anchor{});
    const DragOptions drag;
    EXPECT_EQ(drag.duration, Duration(150'000'000));
    // The builder replaces the list and leaves the options it was called on alone.
    const ClickOptions held = click.with_held({Key{Key::Alt}}).with_held({Key{Key::Meta}});
    EXPECT_EQ(held.held, std::vector<Key>{Key{Key::Meta}});
    EXPECT_TRUE(click.held.empty());
    EXPECT_EQ(drag.with_held({Key{Key::Ctrl}}).held, std::vector<Key>{Key{Key::Ctrl}});
}

TEST(Input, ClickHoldsKeysAroundTheClick) {
    auto input = std::make_shared<RecordingInput>();
    Mouse mouse(input);
    ClickOptions opts = ClickOptions{.button = MouseButton::Right, .count = 2}.with_held(
        {Key{Key::Meta}, Key{Key::Shift}});
    ASSERT_TRUE(mouse.click_with(Point{5, 6}, opts));
    EXPECT_THAT(input->log, ::testing::ElementsAre("keydown Meta", "keydown Shift",
                                                   "click 5,6 right x2", "keyup Shift",
                                                   "keyup Meta"));
}

TEST(Input, FailuresAndReleases) {
    struct Case {
        std::vector<std::string> failing;
        std::vector<std::string> log;
        std::string error;  // empty: success
    } cases[] = {
        // The click fails: both keys are still released and the click's error wins.
        {{"click 60,45 left x1", "keyup Shift"},
         {"keydown Meta", "keydown Shift", "click 60,45 left x1", "keyup Shift", "keyup Meta"},
         "Platform error (-1): click 60,45 left x1 failed"},
        // A release fails: the rest are still released and the first release error returns.
        {{"keyup Shift"},
         {"keydown Meta", "keydown Shift", "click 60,45 left x1", "keyup Shift", "keyup Meta"},
         "Platform error (-1): keyup Shift failed"},
        // A press fails: no click; the keys already down are released and the press error
        // returns, so no modifier stays stuck.
        {{"keydown Shift"}, {"keydown Meta", "keydown Shift", "keyup Meta"},
         "Platform error (-1): keydown Shift failed"},
        // ... and the press error wins over a failing release.
        {{"keydown Shift", "keyup Meta"}, {"keydown Meta", "keydown Shift", "keyup Meta"},
         "Platform error (-1): keydown Shift failed"},
        {{"keydown Meta"}, {"keydown Meta"}, "Platform error (-1): keydown Meta failed"},
    };
    ElementData target;
    target.bounds = Rect{10, 20, 100, 50};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        auto input = std::make_shared<RecordingInput>();
        input->failing = c.failing;
        auto r = Mouse(input).click_with(
            target, ClickOptions{}.with_held({Key{Key::Meta}, Key{Key::Shift}}));
        EXPECT_EQ(input->log, c.log);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message(), c.error);
    }
}

TEST(Input, ValidationAndBoundsFailBeforeAnyKey) {
    auto input = std::make_shared<RecordingInput>();
    Mouse mouse(input);
    ElementData no_bounds;
    EXPECT_EQ(mouse.click_with(no_bounds, ClickOptions{}.with_held({Key{Key::Shift}}))
                  .error()
                  .message(),
              "Element has no bounds");
    EXPECT_FALSE(mouse.click_with(Point{}, ClickOptions{}.with_held(
                                               {Key{Key::Shift}, Key::character(U'Q')})));
    EXPECT_FALSE(Keyboard(input).chord(Key::character(U'x'), {Key{Key::Ctrl}, Key::character(U'Z')}));
    EXPECT_TRUE(input->log.empty());
}

TEST(Input, KeyboardAndDrag) {
    auto input = std::make_shared<RecordingInput>();
    Keyboard kb(input);
    ASSERT_TRUE(kb.chord(Key::character(U'a'), {Key{Key::Shift}, Key{Key::Ctrl}}));
    ASSERT_TRUE(kb.press(Key{Key::Enter}));
    ASSERT_TRUE(Mouse(input).drag_with({1, 2}, {3, 4}, DragOptions{}.with_held({Key{Key::Alt}})));
    EXPECT_THAT(input->log,
                ::testing::ElementsAre("keydown Shift", "keydown Ctrl", "keydown 'a'",
                                       "keyup 'a'", "keyup Ctrl", "keyup Shift", "keydown Enter",
                                       "keyup Enter", "keydown Alt", "drag 1,2 3,4 150ms",
                                       "keyup Alt"));

    // Chords and drags release what they pressed the same way, in reverse order.
    struct Case {
        std::vector<std::string> failing;
        bool drag;
        std::vector<std::string> log;
        std::string error;
    } cases[] = {
        {{"keydown Ctrl"}, false, {"keydown Shift", "keydown Ctrl", "keyup Shift"},
         "Platform error (-1): keydown Ctrl failed"},
        {{"keydown 'a'"}, false,
         {"keydown Shift", "keydown Ctrl", "keydown 'a'", "keyup Ctrl", "keyup Shift"},
         "Platform error (-1): keydown 'a' failed"},
        {{"keyup 'a'", "keyup Shift"}, false,
         {"keydown Shift", "keydown Ctrl", "keydown 'a'", "keyup 'a'", "keyup Ctrl",
          "keyup Shift"},
         "Platform error (-1): keyup 'a' failed"},
        {{"keydown Ctrl"}, true, {"keydown Shift", "keydown Ctrl", "keyup Shift"},
         "Platform error (-1): keydown Ctrl failed"},
        {{"drag 1,2 3,4 150ms", "keyup Ctrl"}, true,
         {"keydown Shift", "keydown Ctrl", "drag 1,2 3,4 150ms", "keyup Ctrl", "keyup Shift"},
         "Platform error (-1): drag 1,2 3,4 150ms failed"},
        {{"keyup Ctrl", "keyup Shift"}, true,
         {"keydown Shift", "keydown Ctrl", "drag 1,2 3,4 150ms", "keyup Ctrl", "keyup Shift"},
         "Platform error (-1): keyup Ctrl failed"},
    };
    const std::vector<Key> mods{Key{Key::Shift}, Key{Key::Ctrl}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        auto in = std::make_shared<RecordingInput>();
        in->failing = c.failing;
        auto r = c.drag ? Mouse(in).drag_with({1, 2}, {3, 4}, DragOptions{}.with_held(mods))
                        : Keyboard(in).chord(Key::character(U'a'), mods);
        EXPECT_EQ(in->log, c.log);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().message(), c.error);
    }

    auto failing = std::make_shared<RecordingInput>();
    failing->failing = {"keydown Enter"};
    EXPECT_FALSE(Keyboard(failing).press(Key{Key::Enter}));
    EXPECT_THAT(failing->log, ::testing::ElementsAre("keydown Enter"));
}

}  // namespace
}  // namespace vemor
