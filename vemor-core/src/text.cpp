#include "vemor/text.hpp"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

namespace vemor::text {
namespace {

constexpr char32_t kReplacement = U'\uFFFD';

struct Decoded {
    char32_t cp;
    std::size_t len;  // bytes consumed, at least 1
    bool valid;
};

// Decodes the code point starting at s[i] (i < s.size()). An invalid sequence gives U+FFFD
// and the length of its maximal subpart: the longest prefix that could still have started a
// well-formed sequence, or one byte when even the first byte could not.
Decoded decode_at(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return {b0, 1, true};

    std::size_t need = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;  // overlong below U+0800
        else if (b0 == 0xED)
            hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;  // overlong below U+10000
        else if (b0 == 0xF4)
            hi = 0x8F;  // above U+10FFFF
    } else {
        // Continuation byte, C0/C1 (always overlong) or F5..FF.
        return {kReplacement, 1, false};
    }

    std::size_t len = 1;
    for (std::size_t k = 0; k < need; ++k) {
        if (i + len >= s.size()) return {kReplacement, len, false};
        const auto b = static_cast<unsigned char>(s[i + len]);
        if (b < lo || b > hi) return {kReplacement, len, false};
        cp = (cp << 6) | (b & 0x3F);
        ++len;
        lo = 0x80;
        hi = 0xBF;
    }
    return {cp, len, true};
}

bool is_ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// Shortest round-trip digits of a finite double: "d1 d2 ... dn" with the first digit at
// decimal exponent `exponent`, i.e. value = d1.d2...dn × 10^exponent.
struct ShortestDigits {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

template <class Float>
ShortestDigits shortest_digits(Float v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));  // e.g. "-1.25e+03"

    ShortestDigits out;
    std::size_t i = 0;
    if (i < sci.size() && sci[i] == '-') {
        out.negative = true;
        ++i;
    }
    for (; i < sci.size() && sci[i] != 'e'; ++i) {
        if (sci[i] != '.') out.digits.push_back(sci[i]);
    }
    if (i < sci.size()) {
        ++i;  // 'e'
        bool neg_exp = false;
        if (i < sci.size() && (sci[i] == '+' || sci[i] == '-')) {
            neg_exp = sci[i] == '-';
            ++i;
        }
        int e = 0;
        for (; i < sci.size(); ++i) e = e * 10 + (sci[i] - '0');
        out.exponent = neg_exp ? -e : e;
    }
    if (out.digits.empty()) out.digits = "0";
    return out;
}

// Positional layout of shortest digits; `force_fraction` adds ".0" to integral values.
std::string positional(const ShortestDigits& d, bool force_fraction) {
    std::string out;
    if (d.negative) out.push_back('-');
    const int n = static_cast<int>(d.digits.size());
    const int e = d.exponent;
    if (e < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-e - 1), '0');
        out += d.digits;
    } else if (e >= n - 1) {
        out += d.digits;
        out.append(static_cast<std::size_t>(e - (n - 1)), '0');
        if (force_fraction) out += ".0";
    } else {
        out.append(d.digits, 0, static_cast<std::size_t>(e + 1));
        out.push_back('.');
        out.append(d.digits, static_cast<std::size_t>(e + 1));
    }
    return out;
}

std::optional<std::string> non_finite_text(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    return std::nullopt;
}

// Duration debug form. `precision` limits the fraction digits (rounding the first dropped digit
// half up); without it every nonzero fraction digit is written.
std::string format_duration(Duration d, std::optional<std::size_t> precision) {
    constexpr std::uint64_t kPerSecond = 1'000'000'000;
    constexpr std::uint64_t kPerMilli = 1'000'000;
    constexpr std::uint64_t kPerMicro = 1'000;

    const auto count = d.count();
    const bool negative = count < 0;
    // Magnitude in unsigned arithmetic, so the most negative count does not overflow.
    const std::uint64_t ns = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(count)
                                      : static_cast<std::uint64_t>(count);

    std::uint64_t integer = 0;
    std::uint64_t fraction = 0;
    std::uint64_t divisor = 0;
    std::string_view unit;
    if (ns >= kPerSecond) {
        integer = ns / kPerSecond;
        fraction = ns % kPerSecond;
        divisor = kPerSecond / 10;
        unit = "s";
    } else if (ns >= kPerMilli) {
        integer = ns / kPerMilli;
        fraction = ns % kPerMilli;
        divisor = kPerMilli / 10;
        unit = "ms";
    } else if (ns >= kPerMicro) {
        integer = ns / kPerMicro;
        fraction = ns % kPerMicro;
        divisor = kPerMicro / 10;
        unit = "\xC2\xB5s";
    } else {
        integer = ns;
        fraction = 0;
        divisor = 1;
        unit = "ns";
    }

    char digits[9] = {'0', '0', '0', '0', '0', '0', '0', '0', '0'};
    std::size_t pos = 0;
    const std::size_t limit = precision ? std::min<std::size_t>(*precision, 9) : 9;
    while (fraction > 0 && pos < limit) {
        digits[pos] = static_cast<char>('0' + fraction / divisor);
        fraction %= divisor;
        divisor /= 10;
        ++pos;
    }
    if (fraction > 0 && fraction >= divisor * 5) {
        bool carry = true;
        for (std::size_t k = pos; carry && k > 0; --k) {
            if (digits[k - 1] < '9') {
                ++digits[k - 1];
                carry = false;
            } else {
                digits[k - 1] = '0';
            }
        }
        if (carry) ++integer;  // at most ~9.2e9 seconds: no overflow
    }
    const std::size_t shown = precision ? std::min<std::size_t>(*precision, 9) : pos;

    std::string out;
    if (negative) out.push_back('-');
    out += std::to_string(integer);
    if (shown > 0) {
        out.push_back('.');
        out.append(digits, shown);
    }
    out += unit;
    return out;
}

// Debug quoting writes a code point as \u{...} when it would be invisible or would merge with
// its neighbour on screen: combining marks (Grapheme_Extend) and the categories Cc, Cf, Cs, Co,
// Cn, Zl, Zp and Zs, except the plain space.
bool needs_unicode_escape(char32_t cp) {
    if (cp < 0x7F) return cp < 0x20;
    const auto c = static_cast<UChar32>(cp);
    if (u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND)) return true;
    switch (u_charType(c)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_SURROGATE:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
        case U_SPACE_SEPARATOR:
            return true;
        default:
            return false;
    }
}

void append_hex(std::string& out, std::uint32_t v) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, 16);
    out.append(buf, res.ptr);
}

// C0, DEL and C1: the code points a terminal may act on instead of showing.
bool is_control(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

// The escape of one code point as the debug forms write it: \n, \r, \t and \0 by name, every
// other one as \u{hex}.
void append_escape(std::string& out, char32_t cp) {
    switch (cp) {
        case U'\n':
            out += "\\n";
            return;
        case U'\r':
            out += "\\r";
            return;
        case U'\t':
            out += "\\t";
            return;
        case U'\0':
            out += "\\0";
            return;
        default:
            out += "\\u{";
            append_hex(out, static_cast<std::uint32_t>(cp));
            out.push_back('}');
    }
}

bool iequals_ascii(std::string_view a, std::string_view lower) {
    if (a.size() != lower.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != lower[i]) return false;
    }
    return true;
}

// True when the three bytes at s[i] (s[i] == 0xE2) encode a bidi control character.
bool is_bidi_at(std::string_view s, std::size_t i) {
    if (i + 2 >= s.size()) return false;
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    const auto b2 = static_cast<unsigned char>(s[i + 2]);
    if (b1 == 0x80) return b2 == 0x8E || b2 == 0x8F || (b2 >= 0xAA && b2 <= 0xAE);
    if (b1 == 0x81) return b2 >= 0xA6 && b2 <= 0xA9;
    return false;
}

// Offset of the first bidi control at or after `from`, or npos.
std::size_t find_bidi(std::string_view s, std::size_t from) {
    while (from < s.size()) {
        const void* hit = std::memchr(s.data() + from, 0xE2, s.size() - from);
        if (hit == nullptr) return std::string_view::npos;
        const auto i = static_cast<std::size_t>(static_cast<const char*>(hit) - s.data());
        if (is_bidi_at(s, i)) return i;
        from = i + 1;
    }
    return std::string_view::npos;
}

// Length of a White_Space code point that ends s (0 if none). Every such code point starts
// with an ASCII byte or a lead byte, so matching from the end agrees with a forward decode.
std::size_t trailing_whitespace_len(std::string_view s) {
    const std::size_t n = s.size();
    if (n == 0) return 0;
    const auto last = static_cast<unsigned char>(s[n - 1]);
    if (last < 0x80) return is_unicode_whitespace(last) ? 1 : 0;
    if (n >= 2 && static_cast<unsigned char>(s[n - 2]) == 0xC2 && (last == 0x85 || last == 0xA0))
        return 2;
    if (n >= 3) {
        const auto lead = static_cast<unsigned char>(s[n - 3]);
        if (lead == 0xE1 || lead == 0xE2 || lead == 0xE3) {
            const Decoded dec = decode_at(s, n - 3);
            if (dec.valid && dec.len == 3 && is_unicode_whitespace(dec.cp)) return 3;
        }
    }
    return 0;
}

void append_utf16_as_utf8(std::string& out, const char16_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        char32_t cp = p[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (p[i + 1] - 0xDC00);
            ++i;
        }
        append_utf8(out, cp);  // lone surrogates become U+FFFD
    }
}

}  // namespace

std::string number_text(double value) {
    if (auto special = non_finite_text(value)) return *special;
    const ShortestDigits d = shortest_digits(value);
    if (d.exponent >= -5 && d.exponent <= 15) return positional(d, true);

    std::string out;
    if (d.negative) out.push_back('-');
    out.push_back(d.digits[0]);
    if (d.digits.size() > 1) {
        out.push_back('.');
        out.append(d.digits, 1);
    }
    out.push_back('e');
    out.push_back(d.exponent < 0 ? '-' : '+');
    out += std::to_string(d.exponent < 0 ? -d.exponent : d.exponent);
    return out;
}

std::string float_display(double value) {
    if (auto special = non_finite_text(value)) return *special;
    return positional(shortest_digits(value), false);
}

std::string float32_display(float value) {
    if (auto special = non_finite_text(value)) return *special;
    return positional(shortest_digits(value), false);
}

std::string duration_debug_1(Duration d) { return format_duration(d, 1); }

std::string duration_debug(Duration d) { return format_duration(d, std::nullopt); }

std::string debug_quote(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out.push_back('"');
    for (std::size_t i = 0; i < s.size();) {
        const Decoded dec = decode_at(s, i);
        const char32_t cp = dec.cp;
        if (cp == U'"' || cp == U'\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(cp));
        } else if (!dec.valid) {
            append_utf8(out, kReplacement);
        } else if (needs_unicode_escape(cp)) {
            append_escape(out, cp);
        } else {
            out.append(s.substr(i, dec.len));
        }
        i += dec.len;
    }
    out.push_back('"');
    return out;
}

namespace {

std::string escape_controls_in(std::string_view s, bool message) {
    const bool plain = std::all_of(s.begin(), s.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b >= 0x20 && b < 0x7F;
    });
    if (plain) return std::string(s);
    std::string out;
    out.reserve(s.size() + 8);
    for (std::size_t i = 0; i < s.size();) {
        const Decoded dec = decode_at(s, i);
        if (!dec.valid && !message)
            append_utf8(out, kReplacement);
        else if (dec.valid && is_control(dec.cp) && !(message && dec.cp == U'\n'))
            append_escape(out, dec.cp);
        else
            out.append(s.substr(i, dec.len));
        i += dec.len;
    }
    return out;
}

}  // namespace

std::string escape_controls(std::string_view s) { return escape_controls_in(s, false); }

std::string escape_message_controls(std::string_view s) { return escape_controls_in(s, true); }

std::u32string decode_utf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const Decoded dec = decode_at(s, i);
        out.push_back(dec.cp);
        i += dec.len;
    }
    return out;
}

void append_utf8(std::string& out, char32_t cp) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string encode_utf8(std::u32string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char32_t cp : s) append_utf8(out, cp);
    return out;
}

bool is_valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        const Decoded dec = decode_at(s, i);
        if (!dec.valid) return false;
        i += dec.len;
    }
    return true;
}

bool is_alphanumeric(char32_t cp) {
    if (cp <= 0x7F)
        return (cp >= '0' && cp <= '9') || (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z');
    if (cp > 0x10FFFF) return false;
    const auto c = static_cast<UChar32>(cp);
    if (u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) return true;
    const auto category = u_charType(c);
    return category == U_DECIMAL_DIGIT_NUMBER || category == U_LETTER_NUMBER ||
           category == U_OTHER_NUMBER;
}

bool is_unicode_whitespace(char32_t cp) {
    if (cp <= 0x7F) return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20;
    switch (cp) {
        case 0x0085:
        case 0x00A0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}

std::string_view trim(std::string_view s) {
    std::size_t start = 0;
    while (start < s.size()) {
        const Decoded dec = decode_at(s, start);
        if (!dec.valid || !is_unicode_whitespace(dec.cp)) break;
        start += dec.len;
    }
    s.remove_prefix(start);
    while (const std::size_t n = trailing_whitespace_len(s)) s.remove_suffix(n);
    return s;
}

std::string to_lowercase(std::string_view s) {
    if (is_ascii(s)) {
        std::string out(s);
        for (char& c : out) c = ascii_lower(c);
        return out;
    }

    std::u16string src;
    src.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const Decoded dec = decode_at(s, i);
        i += dec.len;
        if (dec.cp >= 0x10000) {
            const char32_t v = dec.cp - 0x10000;
            src.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            src.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            src.push_back(static_cast<char16_t>(dec.cp));
        }
    }

    std::string out;
    if (src.size() < static_cast<std::size_t>(std::numeric_limits<int32_t>::max() / 2)) {
        const auto src_len = static_cast<int32_t>(src.size());
        // Lowercasing rarely grows a text (İ does, by one unit); retry once with the exact size.
        std::u16string dest(src.size() + 16, u'\0');
        for (int attempt = 0; attempt < 2; ++attempt) {
            UErrorCode status = U_ZERO_ERROR;
            const int32_t len = u_strToLower(dest.data(), static_cast<int32_t>(dest.size()),
                                             src.data(), src_len, "", &status);
            if (status == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
                dest.assign(static_cast<std::size_t>(len), u'\0');
                continue;
            }
            if (U_FAILURE(status)) break;
            out.reserve(s.size());
            append_utf16_as_utf8(out, dest.data(), static_cast<std::size_t>(len));
            return out;
        }
    }

    // The case mapping failed: lowercase ASCII only, keep the rest.
    out.clear();
    append_utf16_as_utf8(out, src.data(), src.size());
    for (char& c : out) c = ascii_lower(c);
    return out;
}

std::optional<std::string> strip_bidi_opt(std::optional<std::string> s) {
    if (!s) return s;
    return strip_bidi(std::move(*s));
}

std::string strip_bidi(std::string s) {
    std::size_t hit = find_bidi(s, 0);
    if (hit == std::string_view::npos) return s;
    std::string out;
    out.reserve(s.size());
    std::size_t from = 0;
    while (hit != std::string_view::npos) {
        out.append(s, from, hit - from);
        from = hit + 3;
        hit = find_bidi(s, from);
    }
    out.append(s, from);
    return out;
}

bool contains_bidi(std::string_view s) { return find_bidi(s, 0) != std::string_view::npos; }

std::optional<double> parse_f64(std::string_view s) {
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::nullopt;

    constexpr double kInf = std::numeric_limits<double>::infinity();
    if (iequals_ascii(s, "inf") || iequals_ascii(s, "infinity")) return negative ? -kInf : kInf;
    if (iequals_ascii(s, "nan")) {
        return std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
    }

    // digits [. digits] [e|E [+|-] digits], with at least one mantissa digit. Alongside, the
    // decimal exponent of the first nonzero digit, to tell overflow from underflow.
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::int64_t int_digits = 0;
    std::int64_t first_nonzero = -1;  // index among all mantissa digits
    std::int64_t mantissa_digits = 0;
    for (; i < s.size() && is_digit(s[i]); ++i, ++int_digits, ++mantissa_digits) {
        if (first_nonzero < 0 && s[i] != '0') first_nonzero = mantissa_digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        for (; i < s.size() && is_digit(s[i]); ++i, ++mantissa_digits) {
            if (first_nonzero < 0 && s[i] != '0') first_nonzero = mantissa_digits;
        }
    }
    if (mantissa_digits == 0) return std::nullopt;

    std::int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool neg_exp = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            neg_exp = s[i] == '-';
            ++i;
        }
        if (i == s.size() || !is_digit(s[i])) return std::nullopt;
        constexpr std::int64_t kCap = 1'000'000'000'000;  // far past any finite double
        for (; i < s.size() && is_digit(s[i]); ++i) {
            exponent = std::min(exponent * 10 + (s[i] - '0'), kCap);
        }
        if (neg_exp) exponent = -exponent;
    }
    if (i != s.size()) return std::nullopt;

    double value = 0.0;
    const auto res =
        std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        if (first_nonzero < 0) {
            value = 0.0;
        } else {
            const std::int64_t lead_exponent = exponent + (int_digits - 1 - first_nonzero);
            value = lead_exponent >= 0 ? kInf : 0.0;
        }
    } else if (res.ec != std::errc{} || res.ptr != s.data() + s.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace vemor::text
