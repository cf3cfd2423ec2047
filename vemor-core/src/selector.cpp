// Selector text to `SelectorGroup`, and the two helpers that build selector text from text.
#include "vemor/selector.hpp"

#include <fmt/format.h>

#include <limits>

#include "vemor/text.hpp"

namespace vemor {
namespace {

constexpr std::string_view kEmptySelector = "empty selector";
constexpr std::string_view kEmptyClause = "empty clause in selector group";
constexpr std::string_view kExpectedCombinator =
    "expected combinator (space or '>') between selectors";
constexpr std::string_view kEmptySimple = "empty simple selector";
constexpr std::string_view kEmptyAttrName = "empty attribute name in filter";
constexpr std::string_view kExpectedOperator = "expected operator (=, *=, ^=, $=)";
constexpr std::string_view kExpectedQuote = "expected '\"' or \"'\" to start attribute value";
constexpr std::string_view kUnterminated = "unterminated string in attribute value";
constexpr std::string_view kExpectedCloseBracket = "expected ']' to close attribute filter";
constexpr std::string_view kUnknownPseudo = "unknown pseudo-class ':{}'";
constexpr std::string_view kInvalidNth = "invalid number in :nth({})";
constexpr std::string_view kNthZero = ":nth() is 1-based, got 0";
constexpr std::string_view kExpectedCloseParen = "expected ')' after :nth number";

std::unexpected<Error> invalid(std::string_view selector, std::string message) {
    return fail(Error::InvalidSelector{std::string(selector), std::move(message)});
}

bool is_word(char32_t c) {
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') ||
           c == U'_';
}
bool is_letter(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }
bool is_digit(char32_t c) { return c >= U'0' && c <= U'9'; }

// End of the run starting at `i` whose characters satisfy `pred`.
template <class Pred>
std::size_t run_end(std::u32string_view chars, std::size_t i, Pred pred) {
    while (i < chars.size() && pred(chars[i])) ++i;
    return i;
}

// Runs of word characters, letters and digits are ASCII, so narrowing is exact.
std::string ascii_text(std::u32string_view chars) {
    std::string out;
    out.reserve(chars.size());
    for (char32_t c : chars) out.push_back(static_cast<char>(c));
    return out;
}

std::optional<std::uint64_t> parse_u64(std::u32string_view digits) {
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (char32_t c : digits) {
        const auto d = static_cast<std::uint64_t>(c - U'0');
        if (value > (kMax - d) / 10) return std::nullopt;
        value = value * 10 + d;
    }
    return value;
}

}  // namespace

Result<SimpleParse> Selector::parse_simple(std::u32string_view chars, std::size_t start,
                                           std::string_view clause) {
    SimpleParse out;
    std::size_t i = start;
    const std::size_t n = chars.size();
    bool explicit_any = false;
    bool has_role_word = false;

    if (i < n && chars[i] == U'*') {
        explicit_any = true;
        ++i;
    } else {
        const std::size_t end = run_end(chars, i, is_word);
        if (end > i) {
            std::string word = ascii_text(chars.substr(i, end - i));
            if (auto known = role::from_snake_case(word))
                out.simple.role = *known;
            else
                out.simple.role = std::move(word);
            has_role_word = true;
            i = end;
        }
    }

    while (i < n) {
        if (chars[i] == U'[') {
            const std::size_t name_start = i + 1;
            const std::size_t name_end = run_end(chars, name_start, is_word);
            if (name_end == name_start) return invalid(clause, std::string(kEmptyAttrName));
            AttrFilter filter{.attr = ascii_text(chars.substr(name_start, name_end - name_start))};

            std::size_t k = name_end;
            if (k + 1 < n && chars[k + 1] == U'=' &&
                (chars[k] == U'*' || chars[k] == U'^' || chars[k] == U'$')) {
                filter.op = chars[k] == U'*'   ? MatchOp::Contains
                            : chars[k] == U'^' ? MatchOp::StartsWith
                                               : MatchOp::EndsWith;
                k += 2;
            } else if (k < n && chars[k] == U'=') {
                filter.op = MatchOp::Exact;
                k += 1;
            } else {
                return invalid(clause, std::string(kExpectedOperator));
            }

            if (k >= n || (chars[k] != U'"' && chars[k] != U'\''))
                return invalid(clause, std::string(kExpectedQuote));
            const char32_t quote = chars[k];
            const std::size_t value_start = k + 1;
            const std::size_t close = chars.find(quote, value_start);
            if (close == std::u32string_view::npos)
                return invalid(clause, std::string(kUnterminated));
            if (close + 1 >= n || chars[close + 1] != U']')
                return invalid(clause, std::string(kExpectedCloseBracket));
            filter.value = text::encode_utf8(chars.substr(value_start, close - value_start));
            out.simple.filters.push_back(std::move(filter));
            i = close + 2;
        } else if (chars[i] == U':' && n - i >= 5) {
            const std::size_t name_start = i + 1;
            const std::size_t name_end = run_end(chars, name_start, is_letter);
            const std::u32string_view name = chars.substr(name_start, name_end - name_start);
            if (name != U"nth" || name_end >= n || chars[name_end] != U'(')
                return invalid(clause, fmt::format(fmt::runtime(kUnknownPseudo), ascii_text(name)));
            const std::size_t digits_start = name_end + 1;
            const std::size_t digits_end = run_end(chars, digits_start, is_digit);
            const std::u32string_view digits =
                chars.substr(digits_start, digits_end - digits_start);
            const auto number = parse_u64(digits);
            if (!number)
                return invalid(clause, fmt::format(fmt::runtime(kInvalidNth), ascii_text(digits)));
            if (*number == 0) return invalid(clause, std::string(kNthZero));
            if (digits_end >= n || chars[digits_end] != U')')
                return invalid(clause, std::string(kExpectedCloseParen));
            // `:nth(n)` closes its simple selector; it alone is enough to make one.
            out.simple.nth = *number;
            out.position = digits_end + 1;
            return out;
        } else {
            break;
        }
    }

    if (!explicit_any && !has_role_word && out.simple.filters.empty())
        return invalid(clause, std::string(kEmptySimple));
    out.position = i;
    return out;
}

Result<Selector> Selector::parse(std::string_view text) {
    const std::string_view clause = text::trim(text);
    if (clause.empty()) return invalid("", std::string(kEmptySelector));
    const std::u32string chars = text::decode_utf8(clause);
    const std::size_t n = chars.size();

    Selector out;
    auto first = VEMOR_TRY(parse_simple(chars, 0, clause));
    out.segments.push_back(SelectorSegment{.simple = std::move(first.simple)});
    std::size_t i = first.position;

    while (i < n) {
        Combinator combinator = Combinator::Descendant;
        bool spaced = false;
        if (chars[i] == U' ') {
            i = run_end(chars, i, [](char32_t c) { return c == U' '; });
            if (i == n) break;
            spaced = true;
        }
        if (chars[i] == U'>') {
            i = run_end(chars, i + 1, [](char32_t c) { return c == U' '; });
            // A trailing `>` adds nothing: "window >" is "window".
            if (i == n) break;
            combinator = Combinator::Child;
        } else if (!spaced) {
            return invalid(clause, std::string(kExpectedCombinator));
        }
        auto next = VEMOR_TRY(parse_simple(chars, i, clause));
        out.segments.push_back(
            SelectorSegment{.simple = std::move(next.simple), .combinator = combinator});
        i = next.position;
    }
    return out;
}

Result<SelectorGroup> SelectorGroup::parse(std::string_view text) {
    const std::string_view trimmed = text::trim(text);
    if (trimmed.empty()) return invalid(text, std::string(kEmptySelector));
    SelectorGroup group;
    for (const std::string& part : selector::split_top_level_commas(trimmed)) {
        if (text::trim(part).empty()) return invalid(text, std::string(kEmptyClause));
        group.selectors.push_back(VEMOR_TRY(Selector::parse(part)));
    }
    return group;
}

namespace selector {

std::vector<std::string> split_top_level_commas(std::string_view text) {
    // Quotes and commas are ASCII and never occur inside a multi-byte sequence, so a byte walk
    // splits exactly where a character walk would, and keeps invalid bytes as they are.
    std::vector<std::string> parts;
    std::string current;
    char open_quote = 0;
    for (char c : text) {
        if (open_quote != 0) {
            current.push_back(c);
            if (c == open_quote) open_quote = 0;
        } else if (c == '"' || c == '\'') {
            open_quote = c;
            current.push_back(c);
        } else if (c == ',') {
            parts.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    parts.push_back(std::move(current));
    return parts;
}

std::string chain_combinator(std::string_view parent, std::string_view combinator,
                             std::string_view child) {
    const auto parents = split_top_level_commas(parent);
    const auto children = split_top_level_commas(child);
    std::string out;
    bool first = true;
    for (const auto& p : parents) {
        for (const auto& c : children) {
            if (!first) out += ", ";
            first = false;
            out += text::trim(p);
            out += combinator;
            out += text::trim(c);
        }
    }
    return out;
}

}  // namespace selector
}  // namespace vemor
