// The system's JSON writer. Values are nlohmann JSON trees (objects keep their keys sorted);
// the writer uses the system's number text ("50.0", "1e+16") for floats and never throws:
// invalid UTF-8 inside strings is written as U+FFFD. Strings have every control character
// escaped, DEL and C1 (U+007F..U+009F) included ("\u007f", "\u009b"), so that text from other
// programs never reaches a terminal raw; the rest of the text is written as it is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vemor {

using Json = nlohmann::json;

namespace json {

// Compact form: no spaces, one line.
std::string dump(const Json& value);
// Pretty form: two-space indentation, "key": value.
std::string dump_pretty(const Json& value);

// Parses JSON text; a syntax error gives none (the parser's exception never escapes).
std::optional<Json> parse(std::string_view text);

}  // namespace json
}  // namespace vemor
