#include "vemor/text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace {

using namespace std::chrono_literals;
using vemor::Duration;
namespace text = vemor::text;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(TextNumber, NumberText) {
    struct Case {
        double input;
        const char* expected;
    };
    const Case cases[] = {
        {50.0, "50.0"},
        {0.00001, "0.00001"},
        {0.000015, "0.000015"},
        {0.000001, "1e-6"},
        {1e15, "1000000000000000.0"},
        {1e16, "1e+16"},
        {-1e16, "-1e+16"},
        {0.5, "0.5"},
        {-2.25, "-2.25"},
        {123456.789, "123456.789"},
        {0.1 + 0.2, "0.30000000000000004"},
        {2.5e-7, "2.5e-7"},
        {123456789012345680.0, "1.2345678901234568e+17"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        {std::numeric_limits<double>::denorm_min(), "5e-324"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {kNaN, "NaN"},
        {kInf, "inf"},
        {-kInf, "-inf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(text::number_text(c.input), c.expected);
    }
}

TEST(TextNumber, FloatDisplay) {
    struct Case {
        double input;
        std::string expected;
    };
    const Case cases[] = {
        {42.0, "42"},
        {0.5, "0.5"},
        {-1.5, "-1.5"},
        {0.0, "0"},
        {-0.0, "-0"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1e23, "100000000000000000000000"},
        {1e-7, "0.0000001"},
        {123456.789, "123456.789"},
        {std::numeric_limits<double>::denorm_min(), "0." + std::string(323, '0') + "5"},
        {std::numeric_limits<double>::max(), "17976931348623157" + std::string(292, '0')},
        {kNaN, "NaN"},
        {kInf, "inf"},
        {-kInf, "-inf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(text::float_display(c.input), c.expected);
    }
}

struct DurationCase {
    Duration input;
    const char* expected;
};

TEST(TextDuration, DebugOneDecimal) {
    const DurationCase cases[] = {
        {5s, "5.0s"},
        {100ms, "100.0ms"},
        {1500ns, "1.5\xC2\xB5s"},
        {0ns, "0.0ns"},
        {999ns, "999.0ns"},
        {1000ns, "1.0\xC2\xB5s"},
        {999'950ns, "1000.0\xC2\xB5s"},
        {999'960'000ns, "1000.0ms"},
        {999'999'999ns, "1000.0ms"},
        {1'049'999ns, "1.0ms"},
        {1'050'000ns, "1.1ms"},
        {1'940'000'000ns, "1.9s"},
        {1'950'000'000ns, "2.0s"},
        {1'999'999'999ns, "2.0s"},
        {90s, "90.0s"},
        {Duration::max(), "9223372036.9s"},
        {-1500ms, "-1.5s"},
        {Duration::min(), "-9223372036.9s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(text::duration_debug_1(c.input), c.expected);
    }
}

TEST(TextDuration, Debug) {
    const DurationCase cases[] = {
        {5s, "5s"},
        {2500ms, "2.5s"},
        {250ms, "250ms"},
        {1'000'000'001ns, "1.000000001s"},
        {1500ns, "1.5\xC2\xB5s"},
        {1'000'001ns, "1.000001ms"},
        {123'456'789ns, "123.456789ms"},
        {999ns, "999ns"},
        {0ns, "0ns"},
        {Duration::max(), "9223372036.854775807s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(text::duration_debug(c.input), c.expected);
    }
}

TEST(TextQuote, DebugQuote) {
    struct Case {
        std::string input;
        const char* expected;
    };
    const Case cases[] = {
        {"", R"("")"},
        {"plain", R"("plain")"},
        {"a\"b", R"("a\"b")"},
        {"back\\slash", R"("back\\slash")"},
        {"it's", R"("it's")"},
        {"l1\nl2\r\t", R"("l1\nl2\r\t")"},
        {std::string("a\0b", 3), R"("a\0b")"},
        {"\x1b[0m", R"("\u{1b}[0m")"},
        {"\x01\x1f\x7f", R"("\u{1}\u{1f}\u{7f}")"},
        {"\xC2\x85", R"("\u{85}")"},
        {"\xC2\x9F", R"("\u{9f}")"},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
        // Invisible and combining characters are spelled out; visible ones stay.
        {"soft\xC2\xADhyphen\xE2\x80\x8B", R"("soft\u{ad}hyphen\u{200b}")"},
        {"nb\xC2\xA0sp\xE3\x80\x80\xE2\x80\xA8", R"("nb\u{a0}sp\u{3000}\u{2028}")"},
        {"e\xCC\x81 \xE2\x9D\xA4\xEF\xB8\x8F", "\"e\\u{301} \xE2\x9D\xA4\\u{fe0f}\""},
        {"\xEE\x80\x80\xCD\xB8\xE2\x81\xA8x\xE2\x81\xA9", R"("\u{e000}\u{378}\u{2068}x\u{2069}")"},
        {"\xE4\xB8\xAD \xEF\xBF\xBD ~", "\"\xE4\xB8\xAD \xEF\xBF\xBD ~\""},
        {"a\xFF"
         "b",
         "\"a\xEF\xBF\xBD"
         "b\""},
        {"a\xE2\x82", "\"a\xEF\xBF\xBD\""},
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(text::debug_quote(c.input), c.expected);
    }
}

// Only what a terminal would act on is escaped; every printable character, visible or not, stays.
TEST(TextQuote, EscapeControls) {
    struct Case {
        std::string input;
        const char* expected;
    };
    const Case cases[] = {
        {"", ""},
        {"Say \"hi\" \\ it's", "Say \"hi\" \\ it's"},
        {"caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"},
        {"soft\xC2\xADhyphen e\xCC\x81\xE2\x80\x8B\xC2\xA0",
         "soft\xC2\xADhyphen e\xCC\x81\xE2\x80\x8B\xC2\xA0"},
        {"T\x1b]0;pwn\x07", R"(T\u{1b}]0;pwn\u{7})"},
        {std::string("l1\nl2\r\t\0", 8), R"(l1\nl2\r\t\0)"},
        {"\x01\x1f\x7f", R"(\u{1}\u{1f}\u{7f})"},
        {"\xC2\x80m\xC2\x9B[\xC2\x9F", R"(\u{80}m\u{9b}[\u{9f})"},
        // A lone byte that a terminal might take for an 8-bit control is not passed on either.
        {"a\x9B[2Jb", "a\xEF\xBF\xBD[2Jb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(text::escape_controls(c.input), c.expected);
    }
    // A message laid out on several lines keeps its line feeds, and the user's own bytes.
    EXPECT_EQ(text::escape_message_controls("a\n  b\x1b[2J\r\xff\n"), "a\n  b\\u{1b}[2J\\r\xff\n");
}

TEST(TextUtf8, Decode) {
    constexpr char32_t R = U'\uFFFD';
    struct Case {
        const char* name;
        std::string input;
        std::u32string expected;
    };
    const Case cases[] = {
        {"empty", "", U""},
        {"ascii", "ab", U"ab"},
        {"two-byte", "\xC3\xA9", U"\u00E9"},
        {"four-byte", "\xF0\x9F\x98\x80", U"\U0001F600"},
        {"highest", "\xF4\x8F\xBF\xBF", U"\U0010FFFF"},
        {"U+FFFF", "\xEF\xBF\xBF", U"\uFFFF"},
        {"overlong two", "\xC0\xAF", {R, R}},
        {"overlong three", "\xE0\x80\x80", {R, R, R}},
        {"overlong four", "\xF0\x80\x80\x80", {R, R, R, R}},
        {"surrogate", "\xED\xA0\x80", {R, R, R}},
        {"above max", "\xF4\x90\x80\x80", {R, R, R, R}},
        {"F5 lead", "\xF5\x80", {R, R}},
        {"lone continuations", "\x80\xBF", {R, R}},
        {"truncated three at end", "a\xE2\x82", {U'a', R}},
        {"truncated four at end", "\xF0\x9F\x98", {R}},
        {"truncated then ascii",
         "\xE2\x82"
         "A",
         {R, U'A'}},
        {"mixed maximal subparts",
         "a\xF1\x80\x80\xE1\x80\xC2"
         "b\x80"
         "c\x80\xBF"
         "d",
         {U'a', R, R, R, U'b', R, U'c', R, R, U'd'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text::decode_utf8(c.input), c.expected);
        EXPECT_EQ(text::is_valid_utf8(c.input), c.expected.find(R) == std::u32string::npos);
    }
}

TEST(TextUtf8, DecodeStopsAtViewEnd) {
    // The bytes after the view would complete the sequence; they must not be read.
    const std::string euro = "\xE2\x82\xAC";
    EXPECT_EQ(text::decode_utf8(std::string_view(euro.data(), 2)), std::u32string(1, U'\uFFFD'));
    EXPECT_FALSE(text::is_valid_utf8(std::string_view(euro.data(), 2)));
    EXPECT_EQ(text::trim(std::string_view(euro.data(), 2)).size(), 2u);
}

TEST(TextUtf8, Encode) {
    struct Case {
        char32_t input;
        std::string_view expected;
    };
    const Case cases[] = {
        {U'\0', std::string_view("\0", 1)},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
        {0xD800, "\xEF\xBF\xBD"},
        {0xDFFF, "\xEF\xBF\xBD"},
        {0x110000, "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<std::uint32_t>(c.input));
        std::string out;
        text::append_utf8(out, c.input);
        EXPECT_EQ(out, c.expected);
    }
    const std::u32string all = U"a\u00E9\u20AC\U0001F600";
    EXPECT_EQ(text::decode_utf8(text::encode_utf8(all)), all);
}

TEST(TextWhitespace, Property) {
    for (char32_t cp : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A,
                        0x2028, 0x2029, 0x202F, 0x205F, 0x3000}) {
        EXPECT_TRUE(text::is_unicode_whitespace(cp)) << std::hex << static_cast<std::uint32_t>(cp);
    }
    for (char32_t cp : {0x00, 0x08, 0x0E, 0x1F, 0x21, 0x84, 0x86, 0x180E, 0x200B, 0x200C, 0x2060,
                        0xFEFF, 0xFFFD}) {
        EXPECT_FALSE(text::is_unicode_whitespace(cp)) << std::hex << static_cast<std::uint32_t>(cp);
    }
}

TEST(TextWhitespace, Trim) {
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"", ""},
        {"\t", ""},
        {" \n\r\t ", ""},
        {"  a b  ", "a b"},
        {"x", "x"},
        {"\xE3\x80\x80x\xC2\xA0", "x"},
        {"\xE2\x80\xA8"
         "a\xC2\x85\xE1\x9A\x80",
         "a"},
        {"\xE2\x80\x8B"
         "a\xE2\x80\x8B",
         "\xE2\x80\x8B"
         "a\xE2\x80\x8B"},
        {"\xEF\xBB\xBF"
         "a",
         "\xEF\xBB\xBF"
         "a"},
        {" \xFF ", "\xFF"},
        {"a\xE2\x80", "a\xE2\x80"},
        {"\x80\xE2\x80\x80", "\x80"},
        {"\xF0\xE2\x80\x80", "\xF0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(text::trim(c.input), c.expected);
    }
    const std::string_view padded = "  core  ";
    EXPECT_EQ(text::trim(padded).data(), padded.data() + 2);
}

TEST(TextCase, ToLowercase) {
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"", ""},
        {"HeLLo, World 42", "hello, world 42"},
        {"I", "i"},
        {"\xC3\x89"
         "COLE",
         "\xC3\xA9"
         "cole"},
        // ΟΔΟΣ -> οδος (final sigma)
        {"\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3", "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82"},
        // Σ alone -> σ
        {"\xCE\xA3", "\xCF\x83"},
        // ΑΣΑ -> ασα (not final)
        {"\xCE\x91\xCE\xA3\xCE\x91", "\xCE\xB1\xCF\x83\xCE\xB1"},
        // ΑΣ. Β -> ας. β
        {"\xCE\x91\xCE\xA3. \xCE\x92", "\xCE\xB1\xCF\x82. \xCE\xB2"},
        // İ -> i + combining dot above
        {"\xC4\xB0", "i\xCC\x87"},
        // ẞ -> ß
        {"\xE1\xBA\x9E", "\xC3\x9F"},
        // Deseret capital letter (outside the BMP)
        {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},
        {"A\xFF"
         "B",
         "a\xEF\xBF\xBD"
         "b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(text::to_lowercase(c.input), c.expected);
    }
}

TEST(TextBidi, Strip) {
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"\xE2\x80\x8E"
         "a\xE2\x80\x8F",
         "a"},
        {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD\xE2\x80\xAE"
         "b",
         "b"},
        {"x\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9y", "xy"},
        // U+061C, U+200B, U+2065, U+206A, U+202F and the euro sign stay.
        {"\xD8\x9C\xE2\x80\x8B\xE2\x81\xA5\xE2\x81\xAA\xE2\x80\xAF\xE2\x82\xAC",
         "\xD8\x9C\xE2\x80\x8B\xE2\x81\xA5\xE2\x81\xAA\xE2\x80\xAF\xE2\x82\xAC"},
        {"a\xE2\x80", "a\xE2\x80"},
        {"\xE2\xE2\x80\x8E", "\xE2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const std::string expected = c.expected;
        EXPECT_EQ(text::strip_bidi(c.input), expected);
        EXPECT_EQ(text::contains_bidi(c.input), expected != c.input);
        EXPECT_EQ(text::strip_bidi_opt(std::string(c.input)), expected);
    }
    EXPECT_EQ(text::strip_bidi_opt(std::nullopt), std::nullopt);
}

TEST(TextBidi, UnchangedTextIsNotCopied) {
    std::string s(200, 'q');
    const char* buffer = s.data();
    const std::string out = text::strip_bidi(std::move(s));
    EXPECT_EQ(out.data(), buffer);
}

TEST(TextParse, Valid) {
    struct Case {
        const char* input;
        double expected;
    };
    const Case cases[] = {
        {"0", 0.0},
        {"-0", -0.0},
        {"-0.0e5", -0.0},
        {"00012", 12.0},
        {"1.5", 1.5},
        {"+2.5", 2.5},
        {"-2.5", -2.5},
        {".5", 0.5},
        {"5.", 5.0},
        {"1e5", 1e5},
        {"1E5", 1e5},
        {"1e+5", 1e5},
        {"2.5e-7", 2.5e-7},
        {"100e306", 1e308},
        {"0.0001e312", 1e308},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"5e-324", std::numeric_limits<double>::denorm_min()},
        {"1e400", kInf},
        {"-1e400", -kInf},
        {"1e99999999999999999999999", kInf},
        {"1e-400", 0.0},
        {"-1e-400", -0.0},
        {"1000e-1002", 0.0},
        {"0e999999999999999999999", 0.0},
        {"inf", kInf},
        {"-inf", -kInf},
        {"InFiNiTy", kInf},
        {"+INFINITY", kInf},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const auto got = text::parse_f64(c.input);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(*got, c.expected);
        EXPECT_EQ(std::signbit(*got), std::signbit(c.expected));
    }
    for (const char* nan : {"nan", "NaN", "-nan", "+NAN"}) {
        SCOPED_TRACE(nan);
        const auto got = text::parse_f64(nan);
        ASSERT_TRUE(got.has_value());
        EXPECT_TRUE(std::isnan(*got));
    }
}

TEST(TextParse, Invalid) {
    for (const char* input :
         {"",      " 1",    "1 ",        "5s",  "e5",       "1e",    "1e+",     ".",
          ".e5",   "+",     "-",         "--1", "+-1",      "1_000", "0x10",    "1.2.3",
          "1e5.5", "infin", "infinityx", "in",  "nan(123)", "-nanx", "\xD9\xA1"}) {
        SCOPED_TRACE(input);
        EXPECT_EQ(text::parse_f64(input), std::nullopt);
    }
}

}  // namespace
