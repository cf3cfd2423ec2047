#include "vemor/json.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <fmt/format.h>

#include "vemor/text.hpp"

namespace vemor::json {
namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

static_assert(std::endian::native == std::endian::little,
              "the first byte of a word is its least significant");

// The bytes of a JSON string that are not written as they are: C0 controls, '"' and '\\', DEL,
// and 0xC2, the lead byte of the C1 controls U+0080..U+009F (and of U+00A0..U+00BF, which are
// written as they are).
constexpr std::array<bool, 256> kSpecial = [] {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < 0x20; ++c) table[c] = true;
    for (unsigned char c : {'"', '\\', '\x7F', '\xC2'}) table[c] = true;
    return table;
}();

// Bit 7 of each special byte of `w` (`kSpecial`), exact in the lowest one: a borrow may also
// mark bytes above it, never one below.
constexpr std::uint64_t special_bytes(std::uint64_t w) {
    auto zero = [](std::uint64_t v) { return (v - kOnes) & ~v; };
    return (((w - kOnes * 0x20) & ~w) | zero(w ^ (kOnes * '"')) | zero(w ^ (kOnes * '\\')) |
            zero(w ^ (kOnes * 0x7F)) | zero(w ^ (kOnes * 0xC2))) &
           kHighs;
}

std::uint64_t word_at(std::string_view s, std::size_t i) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, sizeof w);
    return w;
}

// ASCII text is valid UTF-8 as it stands.
bool ascii_only(std::string_view s) {
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8)
        if ((word_at(s, i) & kHighs) != 0) return false;
    for (; i < s.size(); ++i)
        if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
    return true;
}

// Writes the escape of a special byte other than 0xC2.
void write_escape(std::string& out, unsigned char c) {
    switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default: out += fmt::format("\\u{:04x}", c); break;
    }
}

void write_string(std::string& out, std::string_view s) {
    out += '"';
    std::string_view valid = s;
    std::string repaired;
    if (!ascii_only(s) && !text::is_valid_utf8(s)) {
        repaired = text::encode_utf8(text::decode_utf8(s));
        valid = repaired;
    }
    // Runs of bytes written as they are are appended whole; eight bytes are looked at a time,
    // and the first special one among them is found at once.
    std::size_t run = 0;
    std::size_t i = 0;
    const std::size_t n = valid.size();
    while (i < n) {
        if (i + 8 <= n) {
            const std::uint64_t special = special_bytes(word_at(valid, i));
            if (special == 0) {
                i += 8;
                continue;
            }
            i += static_cast<std::size_t>(std::countr_zero(special)) / 8;
        } else if (!kSpecial[static_cast<unsigned char>(valid[i])]) {
            ++i;
            continue;
        }
        const auto c = static_cast<unsigned char>(valid[i]);
        if (c != 0xC2) {
            out.append(valid.data() + run, i - run);
            write_escape(out, c);
            run = ++i;
            continue;
        }
        // Valid UTF-8: a continuation byte follows. A C1 control is written as an escape (the
        // same value) so that none reaches a terminal raw; U+00A0..U+00BF stay as they are.
        const auto next = static_cast<unsigned char>(valid[i + 1]);
        if (next <= 0x9F) {
            out.append(valid.data() + run, i - run);
            out += fmt::format("\\u{:04x}", next);
            run = i + 2;
        }
        i += 2;
    }
    out.append(valid.data() + run, n - run);
    out += '"';
}

void write_scalar(std::string& out, const Json& v) {
    switch (v.type()) {
        case Json::value_t::null: out += "null"; break;
        case Json::value_t::boolean: out += v.get<bool>() ? "true" : "false"; break;
        case Json::value_t::number_integer: out += fmt::format("{}", v.get<std::int64_t>()); break;
        case Json::value_t::number_unsigned:
            out += fmt::format("{}", v.get<std::uint64_t>());
            break;
        case Json::value_t::number_float: {
            double d = v.get<double>();
            // JSON has no non-finite numbers; they are written as null.
            out += std::isfinite(d) ? text::number_text(d) : "null";
            break;
        }
        case Json::value_t::string: write_string(out, v.get_ref<const std::string&>()); break;
        case Json::value_t::array:
        case Json::value_t::object:
        case Json::value_t::binary:
        case Json::value_t::discarded: out += "null"; break;
    }
}

// Values can come from outside and nest without bound, so the writer keeps its own stack of the
// open arrays and objects instead of recursing once per level.
void write(std::string& out, const Json& value, int indent) {
    struct Open {
        const Json* container;
        Json::const_iterator next;
    };
    std::vector<Open> open;
    auto newline = [&](std::size_t d) {
        if (indent < 0) return;
        out += '\n';
        out.append(static_cast<std::size_t>(indent) * d, ' ');
    };
    // Writes a scalar or an empty container whole; opens any other container.
    auto start = [&](const Json& v) {
        if (!v.is_array() && !v.is_object()) {
            write_scalar(out, v);
            return;
        }
        out += v.is_array() ? '[' : '{';
        if (v.empty()) {
            out += v.is_array() ? ']' : '}';
            return;
        }
        open.push_back(Open{&v, v.cbegin()});
    };

    start(value);
    while (!open.empty()) {
        Open& top = open.back();
        const std::size_t depth = open.size();
        if (top.next == top.container->cend()) {
            newline(depth - 1);
            out += top.container->is_array() ? ']' : '}';
            open.pop_back();
            continue;
        }
        if (top.next != top.container->cbegin()) out += ',';
        newline(depth);
        if (top.container->is_object()) {
            write_string(out, top.next.key());
            out += indent < 0 ? ":" : ": ";
        }
        const Json& item = *top.next;
        ++top.next;
        start(item);  // may grow `open`: `top` is not used after this
    }
}

}  // namespace

std::string dump(const Json& value) {
    std::string out;
    write(out, value, -1);
    return out;
}

std::string dump_pretty(const Json& value) {
    std::string out;
    write(out, value, 2);
    return out;
}

std::optional<Json> parse(std::string_view text) {
    // Syntax errors come back as a discarded value; anything the library still throws (it is
    // allowed to, for example on allocation) is a parse failure too.
    try {
        Json v = Json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (v.is_discarded()) return std::nullopt;
        return v;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace vemor::json
