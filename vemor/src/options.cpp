#include "vemor/facade/options.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>

#include <fmt/format.h>

namespace vemor::cli {

namespace {

enum class Flag : std::uint8_t {
    App,
    Pid,
    Shell,
    Value,
    Size,
    From,
    To,
    At,
    Count,
    Held,
    DurationMs,
    Out,
    Annotate,
    Output,
    Dx,
    Dy,
    Button,
    Region,
    Legend,
};

struct FlagName {
    std::string_view word;
    Flag flag;
};

constexpr std::array<FlagName, 19> kFlags{{
    {"--app", Flag::App},
    {"--pid", Flag::Pid},
    {"--shell", Flag::Shell},
    {"--value", Flag::Value},
    {"--size", Flag::Size},
    {"--from", Flag::From},
    {"--to", Flag::To},
    {"--at", Flag::At},
    {"--count", Flag::Count},
    {"--held", Flag::Held},
    {"--duration-ms", Flag::DurationMs},
    {"--out", Flag::Out},
    {"--annotate", Flag::Annotate},
    {"-o", Flag::Output},
    {"--dx", Flag::Dx},
    {"--dy", Flag::Dy},
    {"--button", Flag::Button},
    {"--region", Flag::Region},
    {"--legend", Flag::Legend},
}};

std::optional<Flag> flag_of(std::string_view word) {
    for (const auto& f : kFlags)
        if (f.word == word) return f.flag;
    return std::nullopt;
}

// Splits at every comma; empty pieces stay.
std::vector<std::string_view> split_commas(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        auto comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            out.push_back(text.substr(start));
            return out;
        }
        out.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

struct NamedKey {
    std::string_view name;
    Key::Kind kind;
};

constexpr std::array<NamedKey, 31> kKeyNames{{
    {"Shift", Key::Shift},         {"Ctrl", Key::Ctrl},           {"Control", Key::Ctrl},
    {"Alt", Key::Alt},             {"Option", Key::Alt},          {"Meta", Key::Meta},
    {"Cmd", Key::Meta},            {"Command", Key::Meta},        {"Win", Key::Meta},
    {"Super", Key::Meta},          {"Enter", Key::Enter},         {"Return", Key::Enter},
    {"Escape", Key::Escape},       {"Esc", Key::Escape},          {"Backspace", Key::Backspace},
    {"Tab", Key::Tab},             {"Space", Key::Space},         {"Delete", Key::Delete},
    {"Insert", Key::Insert},       {"ArrowUp", Key::ArrowUp},     {"Up", Key::ArrowUp},
    {"ArrowDown", Key::ArrowDown}, {"Down", Key::ArrowDown},      {"ArrowLeft", Key::ArrowLeft},
    {"Left", Key::ArrowLeft},      {"ArrowRight", Key::ArrowRight}, {"Right", Key::ArrowRight},
    {"Home", Key::Home},           {"End", Key::End},             {"PageUp", Key::PageUp},
    {"PageDown", Key::PageDown},
}};

bool all_ascii_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// The two pieces of "A,B" as unsigned 32-bit integers (trimmed), or which piece failed.
struct PairParse {
    std::optional<std::pair<std::uint32_t, std::uint32_t>> value;
    int bad_piece = 0;  // 1 or 2
    std::string_view piece;
};
PairParse parse_u32_pair(std::string_view first, std::string_view second) {
    auto a = parse_integer<std::uint32_t>(text::trim(first));
    if (!a) return {std::nullopt, 1, first};
    auto b = parse_integer<std::uint32_t>(text::trim(second));
    if (!b) return {std::nullopt, 2, second};
    return {std::pair{*a, *b}, 0, {}};
}

CliResult<ActionArgs> parse_select_text(std::string_view value) {
    auto pieces = split_commas(value);
    if (pieces.size() != 2)
        return usage_error(
            fmt::format("select-text value must be START,END (e.g. 0,5), got: {}", value));
    auto parsed = parse_u32_pair(pieces[0], pieces[1]);
    if (parsed.bad_piece == 1)
        return usage_error(fmt::format("invalid START in select-text value: {}", parsed.piece));
    if (parsed.bad_piece == 2)
        return usage_error(fmt::format("invalid END in select-text value: {}", parsed.piece));
    return ActionArgs{.selection = parsed.value};
}

CliResult<ActionArgs> parse_resize_size(std::string_view size) {
    constexpr std::string_view flag = "--size";
    auto pieces = split_commas(size);
    if (pieces.size() != 2) return usage_error(fmt::format("{} must be W,H (got: {})", flag, size));
    auto parsed = parse_u32_pair(pieces[0], pieces[1]);
    if (parsed.bad_piece == 1)
        return usage_error(fmt::format("invalid W in {}: {}", flag, parsed.piece));
    if (parsed.bad_piece == 2)
        return usage_error(fmt::format("invalid H in {}: {}", flag, parsed.piece));
    if (parsed.value->first == 0 || parsed.value->second == 0)
        return usage_error(
            fmt::format("{} must be W,H with positive values (got: {})", flag, size));
    return ActionArgs{.size = parsed.value};
}

}  // namespace

template <class T>
std::optional<T> parse_integer(std::string_view word) {
    static_assert(std::is_integral_v<T>);
    bool negative = false;
    if (!word.empty() && (word.front() == '+' || (std::is_signed_v<T> && word.front() == '-'))) {
        negative = word.front() == '-';
        word.remove_prefix(1);
    }
    if (!all_ascii_digits(word)) return std::nullopt;
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), magnitude);
    if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
    if constexpr (std::is_signed_v<T>) {
        constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
        if (negative) {
            if (magnitude > max + 1) return std::nullopt;
            // -(max + 1) is the minimum; computed without overflowing.
            return magnitude == max + 1 ? std::numeric_limits<T>::min()
                                        : static_cast<T>(-static_cast<T>(magnitude));
        }
        if (magnitude > max) return std::nullopt;
        return static_cast<T>(magnitude);
    } else {
        if (magnitude > std::numeric_limits<T>::max()) return std::nullopt;
        return static_cast<T>(magnitude);
    }
}

template std::optional<std::int32_t> parse_integer<std::int32_t>(std::string_view);
template std::optional<std::uint32_t> parse_integer<std::uint32_t>(std::string_view);
template std::optional<std::uint64_t> parse_integer<std::uint64_t>(std::string_view);

template <class T>
CliResult<T> flag_value_parsed(std::span<const std::string> words, std::size_t index,
                               std::string_view flag, std::string_view expected) {
    if (index >= words.size()) return usage_error(fmt::format("{} requires a value", flag));
    const std::string& word = words[index];
    auto value = parse_integer<T>(word);
    if (!value)
        return usage_error(
            fmt::format("invalid {} value '{}' (expected {})", flag, word, expected));
    return *value;
}

template CliResult<std::int32_t> flag_value_parsed<std::int32_t>(std::span<const std::string>,
                                                                 std::size_t, std::string_view,
                                                                 std::string_view);
template CliResult<std::uint32_t> flag_value_parsed<std::uint32_t>(std::span<const std::string>,
                                                                   std::size_t, std::string_view,
                                                                   std::string_view);
template CliResult<std::uint64_t> flag_value_parsed<std::uint64_t>(std::span<const std::string>,
                                                                   std::size_t, std::string_view,
                                                                   std::string_view);

CliResult<Opts> parse_opts(std::span<const std::string> words) {
    Opts opts;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        auto flag = flag_of(word);
        if (!flag) {
            opts.positional.push_back(word);
            continue;
        }
        if (i + 1 >= words.size()) return usage_error(fmt::format("{} requires a value", word));
        const std::size_t at = ++i;
        const std::string& value = words[at];
        switch (*flag) {
            case Flag::App: opts.app = value; break;
            case Flag::Pid:
                opts.pid = VEMOR_CLI_TRY(
                    flag_value_parsed<std::uint32_t>(words, at, word, "an integer process id"));
                break;
            case Flag::Shell: opts.shell = value; break;
            case Flag::Value: opts.value = value; break;
            case Flag::Size: opts.size = value; break;
            case Flag::From: opts.from = value; break;
            case Flag::To: opts.to = value; break;
            case Flag::At: opts.at = value; break;
            case Flag::Count:
                opts.count = VEMOR_CLI_TRY(
                    flag_value_parsed<std::uint32_t>(words, at, word, "a positive integer"));
                break;
            case Flag::Held: opts.held = value; break;
            case Flag::DurationMs:
                opts.duration_ms = VEMOR_CLI_TRY(flag_value_parsed<std::uint64_t>(
                    words, at, word, "milliseconds as an integer"));
                break;
            case Flag::Out: opts.out = value; break;
            case Flag::Annotate: opts.annotate.push_back(value); break;
            case Flag::Output: opts.output = value; break;
            case Flag::Dx:
                opts.dx = VEMOR_CLI_TRY(flag_value_parsed<std::int32_t>(words, at, word, "an integer"));
                break;
            case Flag::Dy:
                opts.dy = VEMOR_CLI_TRY(flag_value_parsed<std::int32_t>(words, at, word, "an integer"));
                break;
            case Flag::Button: opts.button = value; break;
            case Flag::Region: opts.region = value; break;
            case Flag::Legend: opts.legend = value; break;
        }
    }
    return opts;
}

CliResult<Point> parse_point_arg(std::string_view value, std::string_view flag) {
    auto pieces = split_commas(value);
    if (pieces.size() != 2) return usage_error(fmt::format("{} must be X,Y (got: {})", flag, value));
    auto x = parse_integer<std::int32_t>(text::trim(pieces[0]));
    if (!x) return usage_error(fmt::format("invalid X in {}: {}", flag, pieces[0]));
    auto y = parse_integer<std::int32_t>(text::trim(pieces[1]));
    if (!y) return usage_error(fmt::format("invalid Y in {}: {}", flag, pieces[1]));
    return Point{*x, *y};
}

CliResult<Key> parse_key_name(std::string_view name) {
    for (const auto& k : kKeyNames)
        if (k.name == name) return Key{k.kind};
    if (name.size() >= 2 && name.front() == 'F' && all_ascii_digits(name.substr(1))) {
        auto number = parse_integer<std::uint8_t>(name.substr(1));
        if (!number) return usage_error(fmt::format("invalid function key: {}", name));
        return Key::function(*number);
    }
    if (text::is_valid_utf8(name)) {
        auto chars = text::decode_utf8(name);
        if (chars.size() == 1) return Key::character(chars.front());
    }
    return usage_error(fmt::format("unknown key name: {}", name));
}

CliResult<std::vector<Key>> parse_held(std::optional<std::string_view> text) {
    std::vector<Key> keys;
    if (!text || text->empty()) return keys;
    for (auto piece : split_commas(*text)) keys.push_back(VEMOR_CLI_TRY(parse_key_name(text::trim(piece))));
    return keys;
}

CliResult<MouseButton> parse_button(std::string_view name) {
    if (auto button = mouse_button::from_snake_case(name)) return *button;
    return usage_error(fmt::format("unknown button: {} (expected left|right|middle)", name));
}

CliResult<ActionArgs> parse_action_args(std::string_view action,
                                        std::optional<std::string_view> value,
                                        std::optional<std::string_view> at,
                                        std::optional<std::string_view> size) {
    auto requires_value = [&] { return usage_error(fmt::format("{} requires a value", action)); };
    if (action == "set-value" || action == "type-text") {
        if (!value) return requires_value();
        return ActionArgs{.text = std::string(*value)};
    }
    if (action == "set-numeric-value") {
        if (!value) return requires_value();
        auto number = text::parse_f64(text::trim(*value));
        if (!number)
            return usage_error(fmt::format(
                "set-numeric-value value must be a number (e.g. 88 or 0.5), got: {}", *value));
        if (!std::isfinite(*number))
            return usage_error(
                fmt::format("set-numeric-value value must be finite, got: {}", *value));
        return ActionArgs{.number = *number};
    }
    if (action == "select-text") {
        if (!value) return requires_value();
        return parse_select_text(*value);
    }
    if (action == "move-to") {
        if (!at) return usage_error(fmt::format("{} requires --at X,Y", action));
        return ActionArgs{.point = VEMOR_CLI_TRY(parse_point_arg(*at, "--at"))};
    }
    if (action == "resize-to") {
        if (!size) return usage_error(fmt::format("{} requires --size W,H", action));
        return parse_resize_size(*size);
    }
    return ActionArgs{};
}

Duration duration_from_ms(std::uint64_t ms) {
    constexpr auto max_ms = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Duration::max()).count());
    if (ms > max_ms) return Duration::max();
    return std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

}  // namespace vemor::cli
