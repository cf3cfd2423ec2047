#include "vemor/json.hpp"

#include <cmath>

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

void write(std::string& out, const Json& v, int indent, int depth) {
    auto newline = [&](int d) {
        if (indent < 0) return;
        out += '\n';
        out.append(static_cast<std::size_t>(indent * d), ' ');
    };
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
        case Json::value_t::array: {
            out += '[';
            if (v.empty()) {
                out += ']';
                break;
            }
            bool first = true;
            for (const auto& item : v) {
                if (!first) out += ',';
                first = false;
                newline(depth + 1);
                write(out, item, indent, depth + 1);
            }
            newline(depth);
            out += ']';
            break;
        }
        case Json::value_t::object: {
            out += '{';
            if (v.empty()) {
                out += '}';
                break;
            }
            bool first = true;
            for (auto it = v.begin(); it != v.end(); ++it) {
                if (!first) out += ',';
                first = false;
                newline(depth + 1);
                write_string(out, it.key());
                out += indent < 0 ? ":" : ": ";
                write(out, it.value(), indent, depth + 1);
            }
            newline(depth);
            out += '}';
            break;
        }
        case Json::value_t::binary:
        case Json::value_t::discarded: out += "null"; break;
    }
}

}  // namespace

std::string dump(const Json& value) {
    std::string out;
    write(out, value, -1, 0);
    return out;
}

std::string dump_pretty(const Json& value) {
    std::string out;
    write(out, value, 2, 0);
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
