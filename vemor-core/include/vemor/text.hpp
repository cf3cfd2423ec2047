// Text forms shared by every module: number texts, duration texts, debug quoting, Unicode
// trimming and case folding, defensive UTF-8 decoding and bidi stripping.
//
// Several user-visible texts follow fixed conventions (for example "Timeout after 5.0s",
// "50.0" in JSON, "1e+16"); each convention lives in exactly one function here.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemor {

// The duration type of every wait and time-out in the system.
using Duration = std::chrono::nanoseconds;

namespace text {

// Number text of JSON output and selector attribute text: shortest round-trip digits,
// positional with at least one decimal when the first digit's decimal exponent is -5..15
// ("50.0", "0.00001", "1000000000000000.0"), else scientific with a signed exponent
// ("1e+16", "2.5e-7"). Non-finite values (never valid JSON) are written "NaN", "inf", "-inf".
std::string number_text(double value);

// Float display without exponent: shortest digits, no ".0" for integral values ("42", "0.5",
// "-0"), large integral values written out in full ("100000000000000000000000" for 1e23),
// "NaN", "inf", "-inf".
std::string float_display(double value);
// The same for a 32-bit float, from the float's own shortest digits (1.1f is "1.1", not the
// digits of the double it widens to).
std::string float32_display(float value);

// Duration debug form with one decimal, "{:.1?}": "5.0s", "100.0ms", "1.5µs", "0.0ns". The unit
// is the largest in which the value is at least 1, chosen before rounding.
std::string duration_debug_1(Duration d);

// Duration debug form, "{:?}": "5s", "2.5s", "250ms", "1.5µs", "0ns" (shortest exact digits).
std::string duration_debug(Duration d);

// Debug quoting of a string: double quotes around it, with `"`, `\` and control characters
// escaped (`\n`, `\t`, `\r`, `\0`, `\u{1b}`, ...). Other characters that would not show (format
// characters, separators other than the space, private-use and unassigned code points) and
// combining marks are written as `\u{hex}` too. Invalid UTF-8 bytes are written as U+FFFD.
std::string debug_quote(std::string_view s);

// The text with its control characters (C0, DEL and C1) escaped as `debug_quote` escapes them
// (`\n`, `\t`, `\r`, `\0`, `\u{1b}`, `\u{9b}`, ...) and invalid UTF-8 bytes written as U+FFFD;
// everything else, quotes, backslashes and non-ASCII text included, is kept. For writing text
// that came from another program to a terminal without letting it drive the terminal.
std::string escape_controls(std::string_view s);

// An error message for a terminal: control characters escaped as `escape_controls` escapes
// them, except line feeds, which lay the message out on several lines. Bytes that are not UTF-8
// are kept: only the user's own arguments bring them into a message (text from the platform
// is converted to UTF-8 on the way in), and they show what the user typed.
std::string escape_message_controls(std::string_view s);

// Decodes UTF-8 to code points; every invalid or truncated sequence becomes U+FFFD. Never reads
// outside the input.
std::u32string decode_utf8(std::string_view s);

// Encodes one code point (surrogates and values above U+10FFFF as U+FFFD).
void append_utf8(std::string& out, char32_t cp);
std::string encode_utf8(std::u32string_view s);

// True when the bytes are well-formed UTF-8.
bool is_valid_utf8(std::string_view s);

// Unicode White_Space property.
bool is_unicode_whitespace(char32_t cp);

// A letter or digit in the Unicode sense: the Alphabetic property or a numeric general
// category (Nd, Nl, No).
bool is_alphanumeric(char32_t cp);

// Removes leading and trailing Unicode White_Space (not U+200B). Works on valid and invalid
// UTF-8 alike (invalid bytes are never whitespace).
std::string_view trim(std::string_view s);

// Full Unicode lowercase mapping (final sigma included). Invalid UTF-8 bytes become U+FFFD.
std::string to_lowercase(std::string_view s);

// Removes the eleven bidirectional control characters (U+200E, U+200F, U+202A..U+202E,
// U+2066..U+2069). Absent stays absent; a text without them is returned unchanged.
std::optional<std::string> strip_bidi_opt(std::optional<std::string> s);
// The same for a plain text; returns the input when nothing needs removing.
std::string strip_bidi(std::string s);
bool contains_bidi(std::string_view s);

// Parses a 64-bit float the way a decimal-number reader does: optional sign (+ or -),
// digits with optional fraction and exponent, or "inf", "infinity", "nan" in any case.
// Overflow gives infinity, underflow zero. Anything else (empty text, spaces, "5s", hex)
// gives none.
std::optional<double> parse_f64(std::string_view s);

// Converts a double to an integer type, saturating at the type's limits; NaN gives 0.
template <class Int>
Int saturating_cast(double v);

}  // namespace text
}  // namespace vemor

#include <limits>
template <class Int>
Int vemor::text::saturating_cast(double v) {
    if (v != v) return 0;
    constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
    // The upper limit rounded to double may exceed the type's max (2^63 for int64): compare >=.
    constexpr double hi = static_cast<double>(std::numeric_limits<Int>::max());
    if (v <= lo) return std::numeric_limits<Int>::min();
    if (v >= hi) return std::numeric_limits<Int>::max();
    return static_cast<Int>(v);
}
