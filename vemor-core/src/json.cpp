#include "vemor/json.hpp"

#include <cmath>
#include <vector>

#include <fmt/format.h>

#include "vemor/text.hpp"

namespace vemor::json {
namespace {

void write_string(std::string& out, std::string_view s) {
    out += '"';
    std::string_view valid = s;
    std::string repaired;
    if (!text::is_valid_utf8(s)) {
        repaired = text::encode_utf8(text::decode_utf8(s));
        valid = repaired;
    }
    for (unsigned char c : valid) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20)
                    out += fmt::format("\\u{:04x}", c);
                else
                    out += static_cast<char>(c);
        }
    }
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
