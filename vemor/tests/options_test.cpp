#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "vemor/facade/options.hpp"

namespace vemor::cli {
namespace {

std::string usage_text(const CliError& e) {
    const auto* u = e.as<CliError::Usage>();
    return u ? u->message : "not a usage error: " + e.message();
}

CliResult<Opts> parse(std::vector<std::string> words) { return parse_opts(words); }

TEST(ParseOpts, KeepsTheLastValueAndEveryAnnotate) {
    auto opts = parse({"--app", "A", "--annotate", "a", "x", "--app", "B", "--annotate", "b",
                       "-v", "--pid", "+7", "--dx", "-5", "--dy", "+5", "--duration-ms",
                       "18446744073709551615", "-o", "bounds", "--app=C"});
    ASSERT_TRUE(opts) << opts.error().message();
    EXPECT_EQ(opts->app, "B");
    EXPECT_EQ(opts->annotate, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(opts->positional, (std::vector<std::string>{"x", "-v", "--app=C"}));
    EXPECT_EQ(opts->pid, 7u);
    EXPECT_EQ(opts->dx, -5);
    EXPECT_EQ(opts->dy, 5);
    EXPECT_EQ(opts->duration_ms, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(opts->output, "bounds");
}

TEST(ParseOpts, AFlagTakesTheNextWordWhateverItIs) {
    auto opts = parse({"--app", "--pid"});
    ASSERT_TRUE(opts);
    EXPECT_EQ(opts->app, "--pid");
    EXPECT_FALSE(opts->pid);
    EXPECT_EQ(parse({})->positional.size(), 0u);
}

TEST(ParseOpts, Messages) {
    struct Case {
        std::vector<std::string> words;
        std::string message;
    };
    const Case cases[] = {
        {{"--annotate"}, "--annotate requires a value"},
        {{"x", "-o"}, "-o requires a value"},
        {{"--pid", "-5"}, "invalid --pid value '-5' (expected an integer process id)"},
        {{"--pid", "4294967296"},
         "invalid --pid value '4294967296' (expected an integer process id)"},
        {{"--count", "4294967296"}, "invalid --count value '4294967296' (expected a positive integer)"},
        {{"--count", "+"}, "invalid --count value '+' (expected a positive integer)"},
        {{"--count", ""}, "invalid --count value '' (expected a positive integer)"},
        {{"--count", " 1"}, "invalid --count value ' 1' (expected a positive integer)"},
        {{"--count", "0x10"}, "invalid --count value '0x10' (expected a positive integer)"},
        {{"--count", "１"}, "invalid --count value '１' (expected a positive integer)"},
        {{"--duration-ms", "18446744073709551616"},
         "invalid --duration-ms value '18446744073709551616' (expected milliseconds as an "
         "integer)"},
        {{"--dx", "-"}, "invalid --dx value '-' (expected an integer)"},
        {{"--dy", "2147483648"}, "invalid --dy value '2147483648' (expected an integer)"},
        {{"--dy", "+-1"}, "invalid --dy value '+-1' (expected an integer)"},
    };
    for (const auto& c : cases) {
        auto opts = parse(c.words);
        ASSERT_FALSE(opts) << c.message;
        EXPECT_EQ(usage_text(opts.error()), c.message);
    }
}

TEST(ParseInteger, SignedLimits) {
    EXPECT_EQ(parse_integer<std::int32_t>("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(parse_integer<std::int32_t>("+2147483647"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(parse_integer<std::int32_t>("-2147483649"), std::nullopt);
    EXPECT_EQ(parse_integer<std::int32_t>("-0"), 0);
    EXPECT_EQ(parse_integer<std::uint32_t>("007"), 7u);
    EXPECT_EQ(parse_integer<std::uint32_t>("-0"), std::nullopt);
}

TEST(FlagValueParsed, MissingWordIsRequiresAValue) {
    std::vector<std::string> words{"--dx"};
    auto v = flag_value_parsed<std::int32_t>(words, 1, "--dx", "an integer");
    ASSERT_FALSE(v);
    EXPECT_EQ(usage_text(v.error()), "--dx requires a value");
}

TEST(DurationFromMs, ClampsInsteadOfOverflowing) {
    EXPECT_EQ(duration_from_ms(150), std::chrono::milliseconds(150));
    EXPECT_EQ(duration_from_ms(std::numeric_limits<std::uint64_t>::max()), Duration::max());
    EXPECT_EQ(duration_from_ms(9'223'372'036'854'776ULL), Duration::max());
    EXPECT_EQ(duration_from_ms(9'223'372'036'854ULL), std::chrono::milliseconds(9'223'372'036'854LL));
}

TEST(ParsePointArg, TrimsUnicodeWhiteSpaceAndNamesTheBadPiece) {
    EXPECT_EQ(parse_point_arg(" 10 , 20 ", "--at"), (Point{10, 20}));
    EXPECT_EQ(parse_point_arg("\u00a0-3,\u3000+4\u2003", "--at"), (Point{-3, 4}));
    struct Case {
        std::string value;
        std::string message;
    };
    const Case cases[] = {
        {"10", "--at must be X,Y (got: 10)"},
        {"1,2,3", "--at must be X,Y (got: 1,2,3)"},
        {"", "--at must be X,Y (got: )"},
        {" x ,2", "invalid X in --at:  x "},
        {"1, 2.5", "invalid Y in --at:  2.5"},
        {"1,", "invalid Y in --at: "},
        {"1,\u200b2", "invalid Y in --at: \u200b2"},
    };
    for (const auto& c : cases) {
        auto p = parse_point_arg(c.value, "--at");
        ASSERT_FALSE(p) << c.value;
        EXPECT_EQ(usage_text(p.error()), c.message);
    }
}

TEST(ParseKeyName, NamesFunctionKeysAndCharacters) {
    struct Case {
        std::string name;
        Key key;
    };
    const Case cases[] = {
        {"Shift", Key{Key::Shift}},       {"Control", Key{Key::Ctrl}},
        {"Option", Key{Key::Alt}},        {"Super", Key{Key::Meta}},
        {"Cmd", Key{Key::Meta}},          {"Return", Key{Key::Enter}},
        {"Esc", Key{Key::Escape}},        {"Up", Key{Key::ArrowUp}},
        {"Right", Key{Key::ArrowRight}},  {"PageUp", Key{Key::PageUp}},
        {"PageDown", Key{Key::PageDown}}, {"End", Key{Key::End}},
        {"F12", Key::function(12)},       {"F01", Key::function(1)},
        {"F0", Key::function(0)},         {"F255", Key::function(255)},
        {"F", Key::character(U'F')},      {"a", Key::character(U'a')},
        {"A", Key::character(U'A')},      {"é", Key::character(U'é')},
        {"😀", Key::character(U'😀')},
    };
    for (const auto& c : cases) {
        auto key = parse_key_name(c.name);
        ASSERT_TRUE(key) << c.name;
        EXPECT_EQ(*key, c.key) << c.name;
    }
    const std::pair<std::string, std::string> failures[] = {
        {"F256", "invalid function key: F256"},
        {"F99999999999999999999999", "invalid function key: F99999999999999999999999"},
        {"Fx", "unknown key name: Fx"},
        {"f5", "unknown key name: f5"},
        {"enter", "unknown key name: enter"},
        {"", "unknown key name: "},
        {"ab", "unknown key name: ab"},
        {"e\u0301", "unknown key name: e\u0301"},
        {"\xff", "unknown key name: \xff"},
    };
    for (const auto& [name, message] : failures) {
        auto key = parse_key_name(name);
        ASSERT_FALSE(key) << name;
        EXPECT_EQ(usage_text(key.error()), message);
    }
}

TEST(ParseHeld, SplitsTrimsAndKeepsEmptyPieces) {
    EXPECT_EQ(*parse_held("Shift, Cmd"), (std::vector<Key>{Key{Key::Shift}, Key{Key::Meta}}));
    EXPECT_TRUE(parse_held(std::nullopt)->empty());
    EXPECT_TRUE(parse_held("")->empty());
    for (const char* text : {"Shift,", "Shift,,Ctrl", " "}) {
        auto keys = parse_held(text);
        ASSERT_FALSE(keys) << text;
        EXPECT_EQ(usage_text(keys.error()), "unknown key name: ");
    }
    EXPECT_EQ(usage_text(parse_held("Shift,Hyper").error()), "unknown key name: Hyper");
}

TEST(ParseButton, ExactNames) {
    EXPECT_EQ(*parse_button("middle"), MouseButton::Middle);
    EXPECT_EQ(usage_text(parse_button("Left").error()),
              "unknown button: Left (expected left|right|middle)");
}

TEST(ParseActionArgs, Arguments) {
    using P = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_EQ(*parse_action_args("set-value", " x ", {}, {}), ActionArgs{.text = " x "});
    EXPECT_EQ(*parse_action_args("type-text", "", {}, {}), ActionArgs{.text = ""});
    EXPECT_EQ(*parse_action_args("set-numeric-value", " 88 ", {}, {}), ActionArgs{.number = 88});
    EXPECT_EQ(*parse_action_args("set-numeric-value", "-2.5e1", {}, {}),
              ActionArgs{.number = -25});
    EXPECT_EQ(*parse_action_args("select-text", "5, 2", {}, {}), (ActionArgs{.selection = P{5, 2}}));
    EXPECT_EQ(*parse_action_args("move-to", {}, " 1,-2", {}), (ActionArgs{.point = Point{1, -2}}));
    EXPECT_EQ(*parse_action_args("resize-to", {}, {}, "+640, 480"), (ActionArgs{.size = P{640, 480}}));
    // Actions without an argument ignore the texts, known or not.
    EXPECT_EQ(*parse_action_args("press", "v", "bad", "bad"), ActionArgs{});
    EXPECT_EQ(*parse_action_args("set_value", {}, {}, {}), ActionArgs{});
}

TEST(ParseActionArgs, Messages) {
    struct Case {
        std::string action;
        std::optional<std::string> value, at, size;
        std::string message;
    };
    const Case cases[] = {
        {"set-value", {}, {}, {}, "set-value requires a value"},
        {"type-text", {}, "1,2", {}, "type-text requires a value"},
        {"set-numeric-value", {}, {}, {}, "set-numeric-value requires a value"},
        {"set-numeric-value", "88px", {}, {},
         "set-numeric-value value must be a number (e.g. 88 or 0.5), got: 88px"},
        {"set-numeric-value", "", {}, {},
         "set-numeric-value value must be a number (e.g. 88 or 0.5), got: "},
        {"set-numeric-value", " inf", {}, {}, "set-numeric-value value must be finite, got:  inf"},
        {"set-numeric-value", "NaN", {}, {}, "set-numeric-value value must be finite, got: NaN"},
        {"set-numeric-value", "1e999", {}, {}, "set-numeric-value value must be finite, got: 1e999"},
        {"select-text", {}, {}, {}, "select-text requires a value"},
        {"select-text", "5", {}, {}, "select-text value must be START,END (e.g. 0,5), got: 5"},
        {"select-text", "1,2,3", {}, {},
         "select-text value must be START,END (e.g. 0,5), got: 1,2,3"},
        {"select-text", "-1,2", {}, {}, "invalid START in select-text value: -1"},
        {"select-text", "1, x", {}, {}, "invalid END in select-text value:  x"},
        {"move-to", "1,2", {}, "1,2", "move-to requires --at X,Y"},
        {"move-to", {}, "1", {}, "--at must be X,Y (got: 1)"},
        {"move-to", {}, "a,1", {}, "invalid X in --at: a"},
        {"resize-to", {}, {}, {}, "resize-to requires --size W,H"},
        {"resize-to", {}, {}, "10", "--size must be W,H (got: 10)"},
        {"resize-to", {}, {}, "-1,10", "invalid W in --size: -1"},
        {"resize-to", {}, {}, "10,4294967296", "invalid H in --size: 4294967296"},
        {"resize-to", {}, {}, "0,10", "--size must be W,H with positive values (got: 0,10)"},
        {"resize-to", {}, {}, "10, 0", "--size must be W,H with positive values (got: 10, 0)"},
    };
    auto view = [](const std::optional<std::string>& s) -> std::optional<std::string_view> {
        if (!s) return std::nullopt;
        return std::string_view(*s);
    };
    for (const auto& c : cases) {
        auto args = parse_action_args(c.action, view(c.value), view(c.at), view(c.size));
        ASSERT_FALSE(args) << c.message;
        EXPECT_EQ(usage_text(args.error()), c.message);
    }
}

}  // namespace
}  // namespace vemor::cli
