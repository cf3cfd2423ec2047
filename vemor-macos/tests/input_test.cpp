// Input simulation over the simulated platform: the events posted, their flags, click states,
// drag steps and typed chunks, the error texts, and what the input does to the desktop.
#include "vemor/macos/input.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "standin_fixture.hpp"

namespace vemor::standin_test {
namespace {

namespace pids = sd::default_pids;
using sd::ElementSpec;

using MacOSInputTest = StandinTest;

constexpr CGEventFlags kShift = 0x20000;

// A provider whose drag pauses are counted, not spent.
struct Recorded {
    std::vector<Duration> sleeps;
    MacOSInputProvider input{[this](Duration d) { sleeps.push_back(d); }};
};

std::vector<CGEventType> types_of(const std::vector<sd::PostedEvent>& events) {
    std::vector<CGEventType> out;
    for (const auto& e : events) out.push_back(e.type);
    return out;
}

Point centre_of(pid_t pid, const std::string& identifier) {
    auto id = sd::find_element(pid, identifier);
    EXPECT_TRUE(id.has_value()) << identifier;
    auto pos = sd::attribute(*id, "AXPosition");
    auto size = sd::attribute(*id, "AXSize");
    const CGPoint p = *pos->get<CGPoint>();
    const CGSize s = *size->get<CGSize>();
    return Point{static_cast<std::int32_t>(p.x + s.width / 2),
                 static_cast<std::int32_t>(p.y + s.height / 2)};
}

sd::Value attribute_of(pid_t pid, const std::string& identifier, const std::string& name) {
    auto id = sd::find_element(pid, identifier);
    EXPECT_TRUE(id.has_value()) << identifier;
    return id ? sd::attribute(*id, name).value_or(sd::Value()) : sd::Value();
}

// ---- Key codes --------------------------------------------------------------------------------

TEST(MacOSKeyCodes, NamedKeysCharactersAndFunctionKeys) {
    const std::pair<Key, std::uint16_t> cases[] = {
        {Key{Key::Shift}, 0x38},      {Key{Key::Ctrl}, 0x3B},        {Key{Key::Alt}, 0x3A},
        {Key{Key::Meta}, 0x37},       {Key{Key::Enter}, 0x24},       {Key{Key::Escape}, 0x35},
        {Key{Key::Backspace}, 0x33},  {Key{Key::Tab}, 0x30},         {Key{Key::Space}, 0x31},
        {Key{Key::Delete}, 0x75},     {Key{Key::Insert}, 0x72},      {Key{Key::ArrowUp}, 0x7E},
        {Key{Key::ArrowDown}, 0x7D},  {Key{Key::ArrowLeft}, 0x7B},   {Key{Key::ArrowRight}, 0x7C},
        {Key{Key::Home}, 0x73},       {Key{Key::End}, 0x77},         {Key{Key::PageUp}, 0x74},
        {Key{Key::PageDown}, 0x79},   {Key::character(U'a'), 0x00},  {Key::character(U'z'), 0x06},
        {Key::character(U'0'), 0x1D}, {Key::character(U'9'), 0x19},  {Key::character(U'\\'), 0x2A},
        {Key::character(U'`'), 0x32}, {Key::character(U'\''), 0x27}, {Key::character(U'/'), 0x2C},
        {Key::function(1), 0x7A},     {Key::function(12), 0x6F},     {Key::function(20), 0x5A},
    };
    for (const auto& [key, code] : cases) {
        auto got = input::vk_for(key);
        ASSERT_TRUE(got.has_value()) << static_cast<int>(key.kind);
        EXPECT_EQ(*got, code) << static_cast<int>(key.kind) << " " << static_cast<int>(key.ch);
    }
}

TEST(MacOSKeyCodes, UnmappedKeysAreRefusedWithTheirTexts) {
    const std::pair<Key, Error> cases[] = {
        {Key::character(U'A'),
         Error::Unsupported{"Key::Char('A') has no HIToolbox virtual-key mapping; use "
                            "Keyboard::type_text for arbitrary characters"}},
        {Key::character(U'é'),
         Error::Unsupported{"Key::Char('é') has no HIToolbox virtual-key mapping; use "
                            "Keyboard::type_text for arbitrary characters"}},
        {Key::character(U' '),
         Error::Unsupported{"Key::Char(' ') has no HIToolbox virtual-key mapping; use "
                            "Keyboard::type_text for arbitrary characters"}},
        {Key::function(21), Error::InvalidActionData{"F21 has no HIToolbox keycode on macOS"}},
        {Key::function(0), Error::InvalidActionData{"F0 has no HIToolbox keycode on macOS"}},
    };
    for (const auto& [key, error] : cases) EXPECT_EQ(input::vk_for(key).error(), error);
}

// ---- Events posted ----------------------------------------------------------------------------

TEST_F(MacOSInputTest, HeldShiftIsCarriedUntilReleased) {
    MacOSInputProvider input, other;
    ASSERT_TRUE(input.key_down(Key{Key::Shift}));
    ASSERT_TRUE(input.pointer_move({40, 50}));
    ASSERT_TRUE(input.pointer_down(MouseButton::Left));
    ASSERT_TRUE(input.pointer_up(MouseButton::Left));
    ASSERT_TRUE(input.pointer_click({60, 70}, MouseButton::Left, 1));
    ASSERT_TRUE(other.pointer_move({1, 1}));  // another provider's keys are its own
    ASSERT_TRUE(input.key_up(Key{Key::Shift}));
    ASSERT_TRUE(input.pointer_move({80, 90}));
    // A refused key changes nothing held.
    EXPECT_FALSE(input.key_down(Key::function(0)));
    EXPECT_EQ(input.held_modifiers(), 0u);

    const auto events = sd::posted_events();
    const std::vector<std::pair<CGEventType, CGEventFlags>> expected = {
        {kCGEventKeyDown, kShift},
        {kCGEventMouseMoved, kShift},
        {kCGEventLeftMouseDown, kShift},
        {kCGEventLeftMouseUp, kShift},
        {kCGEventMouseMoved, kShift},
        {kCGEventLeftMouseDown, kShift},
        {kCGEventLeftMouseUp, kShift},
        {kCGEventMouseMoved, 0},
        {kCGEventKeyUp, 0},
        {kCGEventMouseMoved, 0},
    };
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].type, expected[i].first) << i;
        EXPECT_EQ(events[i].flags, expected[i].second) << i;
        EXPECT_EQ(events[i].tap, kCGHIDEventTap) << i;
    }
    EXPECT_EQ(events[0].keycode, 0x38);
    // The press and release happen where the pointer is, not at the origin.
    EXPECT_EQ(events[2].location.x, 40);
    EXPECT_EQ(events[2].location.y, 50);
    EXPECT_EQ(events[3].location.x, 40);
}

TEST_F(MacOSInputTest, ModifierFlagsAddUp) {
    MacOSInputProvider input;
    ASSERT_TRUE(input.key_down(Key{Key::Meta}));
    ASSERT_TRUE(input.key_down(Key{Key::Alt}));
    ASSERT_TRUE(input.key_down(Key{Key::Ctrl}));
    ASSERT_TRUE(input.key_down(Key::character(U'q')));
    ASSERT_TRUE(input.key_up(Key{Key::Meta}));
    const auto events = sd::posted_events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].flags, 0x100000u);
    EXPECT_EQ(events[1].flags, 0x180000u);
    EXPECT_EQ(events[3].flags, 0x1C0000u);
    EXPECT_EQ(events[3].keycode, 0x0C);
    EXPECT_TRUE(events[3].key_down);
    EXPECT_EQ(events[4].flags, 0xC0000u);
    EXPECT_FALSE(events[4].key_down);
}

TEST_F(MacOSInputTest, ClicksPostTheirClickStates) {
    MacOSInputProvider input;
    ASSERT_TRUE(input.pointer_click({5, 6}, MouseButton::Left, 0));
    EXPECT_TRUE(sd::posted_events().empty());

    ASSERT_TRUE(input.pointer_click({5, 6}, MouseButton::Left, 3));
    auto events = sd::posted_events();
    EXPECT_EQ(types_of(events), (std::vector<CGEventType>{5, 1, 2, 1, 2, 1, 2}));
    std::vector<std::int64_t> states;
    for (std::size_t i = 1; i < events.size(); ++i) {
        states.push_back(events[i].click_state);
        EXPECT_EQ(events[i].location.x, 5);
        EXPECT_EQ(events[i].location.y, 6);
        EXPECT_EQ(events[i].button_number, 0);
    }
    EXPECT_EQ(states, (std::vector<std::int64_t>{1, 1, 2, 2, 3, 3}));

    sd::clear_posted_events();
    ASSERT_TRUE(input.pointer_click({5, 6}, MouseButton::Right, 1));
    ASSERT_TRUE(input.pointer_click({5, 6}, MouseButton::Middle, 1));
    events = sd::posted_events();
    EXPECT_EQ(types_of(events), (std::vector<CGEventType>{5, 3, 4, 5, 25, 26}));
    EXPECT_EQ(events[1].button_number, 1);
    EXPECT_EQ(events[4].button_number, 2);
}

TEST_F(MacOSInputTest, DragsStepEvery16MillisecondsAndEndOnTheTarget) {
    struct Case {
        Duration duration;
        MouseButton button;
        std::size_t steps;
        CGPoint first;
        CGEventType down, dragged, up;
    };
    const Case cases[] = {
        {std::chrono::milliseconds(150), MouseButton::Left, 9, {31, 36}, 1, 6, 2},
        {Duration::zero(), MouseButton::Left, 1, {120, 80}, 1, 6, 2},
        {std::chrono::milliseconds(16), MouseButton::Right, 1, {120, 80}, 3, 7, 4},
        {std::chrono::microseconds(47999), MouseButton::Middle, 2, {70, 55}, 25, 27, 26},
    };
    // Off the origin, so a press made at (0, 0) shows.
    const Point from{20, 30}, to{120, 80};
    // With stale reads the pointer reads back where it was before the drag, as on the platform
    // when the system has not yet handled the posted moves.
    for (bool stale : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(stale ? "stale reads" : "fresh reads");
            sd::clear_posted_events();
            sd::set_pointer_reads_stale(false);
            sd::set_pointer_location({700, 700});
            sd::set_pointer_reads_stale(stale);
            Recorded r;
            ASSERT_TRUE(r.input.pointer_drag(from, to, c.button, c.duration));
            const auto events = sd::posted_events();
            ASSERT_EQ(events.size(), c.steps + 3);
            EXPECT_EQ(events[0].type, kCGEventMouseMoved);
            EXPECT_EQ(events[1].type, c.down);
            // Pressed where the drag starts and released where it ends.
            EXPECT_EQ(events[1].location.x, from.x);
            EXPECT_EQ(events[1].location.y, from.y);
            for (std::size_t i = 2; i < c.steps + 2; ++i) EXPECT_EQ(events[i].type, c.dragged);
            EXPECT_EQ(events[2].location.x, c.first.x);
            EXPECT_EQ(events[2].location.y, c.first.y);
            EXPECT_EQ(events[c.steps + 1].location.x, to.x);
            EXPECT_EQ(events[c.steps + 1].location.y, to.y);
            EXPECT_EQ(events.back().type, c.up);
            EXPECT_EQ(events.back().location.x, to.x);
            EXPECT_EQ(events.back().location.y, to.y);
            EXPECT_EQ(events.back().button_number, static_cast<std::int64_t>(c.button));
            EXPECT_EQ(r.sleeps, std::vector<Duration>(c.steps - 1, std::chrono::milliseconds(16)));
        }
}

TEST_F(MacOSInputTest, ALongRunKeepsOnlyTheMostRecentEvents) {
    MacOSInputProvider input;
    // Off every display, so the clicks press nothing. One move and 2 * 3000 button events.
    ASSERT_TRUE(input.pointer_click({-5000, -5000}, MouseButton::Left, 3000));
    const auto events = sd::posted_events();
    ASSERT_EQ(events.size(), sd::kPostedEventsKept);
    EXPECT_EQ(sd::posted_events_dropped(), 6001 - sd::kPostedEventsKept);
    // The first kept event is the 1906th posted: the press of click 953.
    EXPECT_EQ(events.front().type, kCGEventLeftMouseDown);
    EXPECT_EQ(events.front().click_state, 953);
    EXPECT_EQ(events.back().type, kCGEventLeftMouseUp);
    EXPECT_EQ(events.back().click_state, 3000);
    sd::clear_posted_events();
    EXPECT_TRUE(sd::posted_events().empty());
    EXPECT_EQ(sd::posted_events_dropped(), 0u);
}

TEST_F(MacOSInputTest, DragStepsRoundHalvesAwayFromZero) {
    Recorded r;
    // 64 ms: four steps of a quarter; 2 * 0.25 * -10 = -5 exactly, 1 * 0.25 * -10 = -2.5.
    ASSERT_TRUE(
        r.input.pointer_drag({10, 0}, {0, 10}, MouseButton::Left, std::chrono::milliseconds(64)));
    const auto events = sd::posted_events();
    ASSERT_EQ(events.size(), 7u);
    const std::vector<std::pair<double, double>> expected = {{7, 3}, {5, 5}, {2, 8}, {0, 10}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(events[i + 2].location.x, expected[i].first) << i;
        EXPECT_EQ(events[i + 2].location.y, expected[i].second) << i;
    }
}

TEST_F(MacOSInputTest, TextIsTypedInChunksOfTwentyCharacters) {
    MacOSInputProvider input;
    ASSERT_TRUE(input.type_text(""));
    EXPECT_TRUE(sd::posted_events().empty());

    const std::string text = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHI";  // 45
    ASSERT_TRUE(input.type_text(text));
    auto events = sd::posted_events();
    ASSERT_EQ(events.size(), 6u);
    std::u16string joined;
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].keycode, 0);
        EXPECT_EQ(events[i].key_down, i % 2 == 0);
        EXPECT_EQ(events[i].text, events[i - i % 2].text);
        if (i % 2 == 0) joined += events[i].text;
    }
    EXPECT_EQ(events[0].text.size(), 20u);
    EXPECT_EQ(events[4].text.size(), 5u);
    EXPECT_EQ(joined, u"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHI");

    sd::clear_posted_events();
    std::string emoji;
    for (int i = 0; i < 21; ++i) emoji += "😀";
    ASSERT_TRUE(input.type_text(emoji));
    events = sd::posted_events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].text.size(), 40u);
    EXPECT_EQ(events[0].text.substr(0, 2), u"😀");
    EXPECT_EQ(events[2].text, u"😀");
}

TEST_F(MacOSInputTest, ScrollMovesThenTurnsTheWheelsByLines) {
    MacOSInputProvider input;
    ASSERT_TRUE(input.pointer_scroll({30, 40}, 0, 3));
    ASSERT_TRUE(input.pointer_scroll({30, 40}, -2, 0));
    const auto events = sd::posted_events();
    EXPECT_EQ(types_of(events), (std::vector<CGEventType>{5, 22, 5, 22}));
    EXPECT_EQ(events[1].wheel1, 3);
    EXPECT_EQ(events[1].wheel2, 0);
    EXPECT_EQ(events[3].wheel1, 0);
    EXPECT_EQ(events[3].wheel2, -2);
    EXPECT_EQ(events[1].scroll_unit, kCGScrollEventUnitLine);
    EXPECT_EQ(events[1].location.x, 30);
    EXPECT_EQ(events[1].location.y, 40);
}

TEST_F(MacOSInputTest, EventsThatCannotBeCreatedAreErrors) {
    using Kind = sd::Fault::Kind;
    struct Case {
        const char* call;
        int nth;
        std::function<Result<void>(const MacOSInputProvider&)> run;
        Error error;
        std::size_t posted;
    };
    const Case cases[] = {
        {"CGEventCreateMouseEvent", 1,
         [](auto& i) {
             return i.pointer_move({1, 2});
         },
         Error::Platform{-1, "CGEventCreateMouseEvent failed (type=5)"}, 0},
        {"CGEventCreateMouseEvent", 3,
         [](auto& i) {
             return i.pointer_click({1, 2}, MouseButton::Right, 2);
         },
         Error::Platform{-1, "CGEventCreateMouseEvent failed (type=4)"}, 2},
        // The press stays down when a step fails.
        {"CGEventCreateMouseEvent", 4,
         [](auto& i) {
             return i.pointer_drag({0, 0}, {9, 9}, MouseButton::Middle, Duration::zero());
         },
         Error::Platform{-1, "CGEventCreateMouseEvent failed (type=26)"}, 3},
        {"CGEventCreateScrollWheelEvent", 1,
         [](auto& i) {
             return i.pointer_scroll({1, 2}, 0, 1);
         },
         Error::Platform{-1, "CGEventCreateScrollWheelEvent failed"}, 1},
        {"CGEventCreateKeyboardEvent", 1, [](auto& i) { return i.key_down(Key{Key::Shift}); },
         Error::Platform{-1, "CGEventCreateKeyboardEvent failed"}, 0},
        // Chunks already posted stay typed.
        {"CGEventCreateKeyboardEvent", 3,
         [](auto& i) { return i.type_text("abcdefghijklmnopqrstuvwxyz"); },
         Error::Platform{-1, "CGEventCreateKeyboardEvent failed"}, 2},
    };
    for (const Case& c : cases) {
        sd::clear_faults();
        sd::clear_posted_events();
        sd::add_fault(sd::Fault{.call = c.call, .kind = Kind::ReturnNull, .nth = c.nth});
        Recorded r;
        auto result = c.run(r.input);
        ASSERT_FALSE(result) << c.call << " " << c.nth;
        EXPECT_EQ(result.error(), c.error);
        EXPECT_EQ(sd::posted_events().size(), c.posted) << c.call << " " << c.nth;
        EXPECT_EQ(r.input.held_modifiers(), 0u);
    }
}

// ---- What the input does to the desktop -----------------------------------------------------

TEST_F(MacOSInputTest, AClickPressesWhatItLandsOnAndTheApplicationTells) {
    Received received{.attribute = "AXIdentifier"};
    AXObserverRef observer = nullptr;
    ASSERT_EQ(safe_ax_observer_create(pids::kTextEdit, on_notification, &observer), 0);
    auto app = own(safe_ax_create_application(pids::kTextEdit));
    ASSERT_EQ(safe_ax_observer_add_notification(observer, app.get(), str("AXValueChanged").get(),
                                                &received),
              0);
    CFRunLoopSourceRef source = safe_ax_observer_get_run_loop_source(observer);
    safe_cf_run_loop_add_source(source);

    MacOSInputProvider input;
    ASSERT_TRUE(
        input.pointer_click(centre_of(pids::kTextEdit, "textedit.italic"), MouseButton::Left, 1));
    EXPECT_EQ(attribute_of(pids::kTextEdit, "textedit.italic", "AXValue"), sd::Value(1));
    // Pressed and released through the pointer where it was moved to.
    ASSERT_TRUE(input.pointer_move(centre_of(pids::kTextEdit, "textedit.save")));
    ASSERT_TRUE(input.pointer_down(MouseButton::Left));
    ASSERT_TRUE(input.pointer_up(MouseButton::Left));
    EXPECT_EQ(attribute_of(pids::kTextEdit, "textedit.status", "AXValue"), sd::Value("Saved"));
    // A press released elsewhere presses nothing.
    // (The Bold check box lies partly under Italic: pressed at its visible left end.)
    ASSERT_TRUE(input.pointer_drag({315, 140}, {5, 500}, MouseButton::Left, Duration::zero()));
    EXPECT_EQ(attribute_of(pids::kTextEdit, "textedit.bold", "AXValue"), sd::Value(0));
    ASSERT_TRUE(input.pointer_click({315, 140}, MouseButton::Left, 2));
    EXPECT_EQ(attribute_of(pids::kTextEdit, "textedit.bold", "AXValue"), sd::Value(0));
    // What the front window covers cannot be clicked.
    ASSERT_TRUE(
        input.pointer_click(centre_of(pids::kSettings, "settings.apply"), MouseButton::Left, 1));
    EXPECT_EQ(attribute_of(pids::kSettings, "settings.status", "AXValue"), sd::Value(""));

    // A status item shows its menu without taking the focus from the application.
    ASSERT_TRUE(
        input.pointer_click(centre_of(pids::kSystemUIServer, "status.wifi"), MouseButton::Left, 1));
    EXPECT_EQ(attribute_of(pids::kSystemUIServer, "status.wifi.menu", "AXHidden"),
              sd::Value(false));
    auto editor = own(safe_ax_create_application(pids::kTextEdit));
    EXPECT_EQ(read(editor.get(), "AXFrontmost").value.get(), safe_cf_boolean_get_constant(true));

    safe_cf_run_loop_run_in_mode(0, false);
    safe_cf_run_loop_remove_source(source);
    safe_cf_release(observer);
    EXPECT_EQ(received.lines,
              (std::vector<std::string>{
                  "AXValueChanged textedit.italic", "AXValueChanged textedit.status",
                  "AXValueChanged textedit.bold", "AXValueChanged textedit.bold"}));
}

TEST_F(MacOSInputTest, TypingGoesIntoTheFocusedTextField) {
    MacOSInputProvider input;
    ASSERT_TRUE(input.type_text(", again"));
    EXPECT_EQ(attribute_of(pids::kTextEdit, "textedit.text", "AXValue"),
              sd::Value("Hello, world., again"));
    EXPECT_EQ(attribute_of(pids::kTextEdit, "textedit.text", "AXNumberOfCharacters"),
              sd::Value(20));

    // A click into another application's search field brings it forward and focuses the field.
    ASSERT_TRUE(input.pointer_click(centre_of(pids::kNotes, "notes.search"), MouseButton::Left, 1));
    const std::string text = "milk, eggs, flour, butter, sugar, salt and yeast ✓";
    ASSERT_TRUE(input.type_text(text));
    EXPECT_EQ(attribute_of(pids::kNotes, "notes.search", "AXValue"), sd::Value(text));
    EXPECT_EQ(attribute_of(pids::kTextEdit, "textedit.text", "AXValue"),
              sd::Value("Hello, world., again"));

    // Shortcuts type nothing.
    ASSERT_TRUE(input.key_down(Key{Key::Meta}));
    ASSERT_TRUE(input.type_text("v"));
    ASSERT_TRUE(input.key_up(Key{Key::Meta}));
    EXPECT_EQ(attribute_of(pids::kNotes, "notes.search", "AXValue"), sd::Value(text));
}

TEST_F(MacOSInputTest, TheWheelScrollsTheAreaUnderThePointer) {
    sd::DesktopSpec spec;
    spec.displays = {sd::DisplaySpec{.frame = {{0, 0}, {800, 600}}}};
    spec.focused_app = 901;
    spec.apps.push_back(sd::AppSpec{
        .pid = 901,
        .name = "Reader",
        .element =
            ElementSpec().child(ElementSpec("AXWindow")
                                    .identifier("reader.window")
                                    .frame(0, 0, 400, 300)
                                    .child(ElementSpec("AXScrollArea")
                                               .identifier("reader.scroll")
                                               .frame(0, 0, 200, 100)
                                               .child(ElementSpec("AXGroup")
                                                          .identifier("reader.page")
                                                          .frame(0, 0, 200, 400)
                                                          .child(ElementSpec("AXStaticText")
                                                                     .identifier("reader.line")
                                                                     .frame(0, 40, 200, 20))))),
    });
    sd::ScopedDesktop desktop(spec);
    MacOSInputProvider input;
    auto y_of = [](const char* id) {
        return sd::attribute(*sd::find_element(901, id), "AXPosition")->get<CGPoint>()->y;
    };
    const std::pair<std::int32_t, double> steps[] = {
        {-3, -30},     // content moves up by three lines
        {-100, -300},  // no further than its end
        {5, -250},
        {40, 0},  // no further than its start
    };
    for (const auto& [dy, page_y] : steps) {
        ASSERT_TRUE(input.pointer_scroll({50, 50}, 0, dy));
        EXPECT_EQ(y_of("reader.page"), page_y) << dy;
        EXPECT_EQ(y_of("reader.line"), page_y + 40) << dy;
    }
    // Outside the scroll area nothing moves; content that fits does not move sideways.
    ASSERT_TRUE(input.pointer_scroll({300, 50}, 0, -3));
    ASSERT_TRUE(input.pointer_scroll({50, 50}, 4, 0));
    EXPECT_EQ(y_of("reader.page"), 0);
    EXPECT_EQ(sd::attribute(*sd::find_element(901, "reader.page"), "AXPosition")->get<CGPoint>()->x,
              0);
}

}  // namespace
}  // namespace vemor::standin_test
