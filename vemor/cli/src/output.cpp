#include "vemor/cli/output.hpp"

#include <fmt/format.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "vemor/annotate.hpp"
#include "vemor/event.hpp"
#include "vemor/json.hpp"
#include "vemor/facade/stdio.hpp"
#include "vemor/role.hpp"
#include "vemor/text.hpp"

namespace vemor::cli {
namespace {

std::size_t char_count(std::string_view s) { return text::decode_utf8(s).size(); }

// Left-aligns `value` in a column `width` wide, the padding counted in characters (the widths
// themselves are byte lengths, so a multi-byte value comes out wider than its column).
void append_padded(std::string& out, std::string_view value, std::size_t width) {
    out += value;
    const std::size_t chars = char_count(value);
    if (chars < width) out.append(width - chars, ' ');
}

std::string color_hex(const Rgb& c) { return fmt::format("#{:02X}{:02X}{:02X}", c[0], c[1], c[2]); }

Rgb palette_color(std::size_t group) {
    return ANNOTATION_PALETTE[(std::max<std::size_t>(group, 1) - 1) % ANNOTATION_PALETTE.size()];
}

std::string bounds_text(const Rect& r) {
    return fmt::format("bounds={},{},{},{}", r.x, r.y, r.width, r.height);
}

// The group that took the last described place: later groups may have matched more.
std::size_t cap_group(const Annotated& annotated) {
    std::size_t group = 0;
    for (const auto& entry : annotated.legend) group = std::max(group, entry.group);
    return group == 0 ? 1 : group;
}

std::size_t group_count(const Annotated& annotated, std::size_t group) {
    return static_cast<std::size_t>(
        std::count_if(annotated.legend.begin(), annotated.legend.end(),
                      [&](const LegendEntry& e) { return e.group == group; }));
}

void append_flags(std::string& out, const StateSet& s) {
    std::vector<std::string_view> flags;
    flags.push_back(s.enabled ? "enabled" : "disabled");
    flags.push_back(s.visible ? "visible" : "hidden");
    if (s.focused) flags.push_back("focused");
    if (s.active) flags.push_back("active");
    if (s.minimized.value_or(false)) flags.push_back("minimized");
    if (s.maximized.value_or(false)) flags.push_back("maximized");
    if (s.fullscreen.value_or(false)) flags.push_back("fullscreen");
    if (s.focusable) flags.push_back("focusable");
    if (s.editable) flags.push_back("editable");
    if (s.selected) flags.push_back("selected");
    if (s.modal) flags.push_back("modal");
    if (s.required) flags.push_back("required");
    if (s.busy) flags.push_back("busy");
    std::string checked;
    if (s.checked) {
        checked = fmt::format("checked={}", checked_state::to_snake_case(*s.checked));
        flags.push_back(checked);
    }
    if (s.expanded) flags.push_back(*s.expanded ? "expanded" : "collapsed");
    out += '[';
    out += fmt::format("{}", fmt::join(flags, " "));
    out += ']';
}

CliResult<void> print_tree_at(const Element& element, const std::string& prefix, bool last,
                              bool root, const Target* target, std::size_t depth) {
    std::string_view connector = root ? "" : (last ? "└── " : "├── ");
    VEMOR_CLI_TRY_VOID(
        write_stdout(fmt::format("{}{}{}\n", prefix, connector, format_element_oneline(element))));

    const std::string child_prefix = root ? prefix : prefix + (last ? "    " : "│   ");
    Result<std::vector<Element>> children = [&]() -> Result<std::vector<Element>> {
        if (target) {
            if (const App* app = target->app()) return app->children();
            if (const ShellSurface* surface = target->shell()) return surface->children();
        }
        return element.children();
    }();
    if (!children) {
        return write_stdout(
            fmt::format("{}└── <error: {}>\n", child_prefix, children.error().message()));
    }
    if (children->empty()) return {};
    if (depth >= kMaxTreeDepth) {
        return write_stdout(fmt::format(
            "{}└── <error: the tree goes deeper than {} levels (it may loop back on itself); "
            "not descending further>\n",
            child_prefix, kMaxTreeDepth));
    }
    for (std::size_t i = 0; i < children->size(); ++i) {
        VEMOR_CLI_TRY_VOID(print_tree_at((*children)[i], child_prefix, i + 1 == children->size(),
                                         false, nullptr, depth + 1));
    }
    return {};
}

}  // namespace

std::string format_element_oneline(const ElementData& e) {
    std::string out(role::to_snake_case(e.role));
    if (e.name) out += fmt::format(" \"{}\"", text::escape_controls(*e.name));
    if (e.value) out += fmt::format(" value=\"{}\"", text::escape_controls(*e.value));
    if (e.numeric_value) {
        out += fmt::format(" numeric_value={}", text::float_display(*e.numeric_value));
        if (e.min_value) out += fmt::format(" min={}", text::float_display(*e.min_value));
        if (e.max_value) out += fmt::format(" max={}", text::float_display(*e.max_value));
    }
    if (e.description)
        out += fmt::format(" description=\"{}\"", text::escape_controls(*e.description));
    out += ' ';
    append_flags(out, e.states);
    if (e.bounds) {
        out += fmt::format(" bounds=({},{},{},{})", e.bounds->x, e.bounds->y, e.bounds->width,
                           e.bounds->height);
    }
    if (e.stable_id) out += fmt::format(" id=\"{}\"", text::escape_controls(*e.stable_id));
    if (!e.actions.empty())
        out += fmt::format(" actions=[{}]",
                           text::escape_controls(fmt::format("{}", fmt::join(e.actions, ","))));
    return out;
}

std::string format_event_line(const Event& event) {
    std::string target = "-";
    if (event.target) {
        target = std::string(role::to_snake_case(event.target->role));
        if (event.target->name)
            target += fmt::format(" \"{}\"", text::escape_controls(*event.target->name));
    }
    std::string change;
    if (event.kind.type == EventKind::Type::StateChanged) {
        change = fmt::format(" {}={}", state_flag::debug_name(event.kind.flag),
                             event.kind.value ? "true" : "false");
    }
    const auto index = static_cast<std::size_t>(event.kind.type);
    return fmt::format("[{}] {}{}\n", event_kind_names().at(index), target, change);
}

CliResult<void> print_tree_recursive(const Element& element, const std::string& prefix, bool last,
                                     bool root, const Target* target) {
    return print_tree_at(element, prefix, last, root, target, 0);
}

std::string legend_name(const std::optional<std::string>& name) {
    if (!name) return "-";
    constexpr std::size_t kMaxChars = 120;
    std::u32string chars = text::decode_utf8(*name);
    if (chars.size() <= kMaxChars) return text::debug_quote(*name);
    chars.resize(kMaxChars);
    chars.push_back(U'…');
    return text::debug_quote(text::encode_utf8(chars));
}

std::string group_letter(std::size_t group) {
    std::string tag = annotate::tag_for(group, 1);
    while (!tag.empty() && tag.back() >= '0' && tag.back() <= '9') tag.pop_back();
    return tag;
}

std::string render_legend_text(std::span<const std::string> selectors, const Annotated& annotated) {
    std::string out;
    const std::size_t cap = cap_group(annotated);

    if (!selectors.empty()) {
        std::vector<std::string> letters;
        std::size_t letter_width = 0;
        std::size_t selector_width = 0;
        for (std::size_t g = 1; g <= selectors.size(); ++g) {
            letters.push_back(group_letter(g));
            letter_width = std::max(letter_width, letters.back().size());
            selector_width = std::max(selector_width, selectors[g - 1].size());
        }
        for (std::size_t g = 1; g <= selectors.size(); ++g) {
            const std::size_t count = group_count(annotated, g);
            append_padded(out, letters[g - 1], letter_width);
            out += "  ";
            append_padded(out, selectors[g - 1], selector_width);
            out += fmt::format("  {}  {} annotated", color_hex(palette_color(g)), count);
            if (annotated.truncated > 0 && g >= cap) {
                out += count == 0 ? "  (cap reached at or before this group, so 0 is not \"matched "
                                    "nothing\")"
                                  : "  (cap reached, so more may have matched)";
            }
            out += '\n';
        }
    }

    if (!annotated.legend.empty()) {
        struct Row {
            std::string name;
            std::string bounds;
        };
        std::vector<Row> rows;
        std::size_t widths[4] = {0, 0, 0, 0};
        for (const auto& e : annotated.legend) {
            rows.push_back({legend_name(e.name), bounds_text(e.bounds)});
            widths[0] = std::max(widths[0], e.tag.size());
            widths[1] = std::max(widths[1], e.role.size());
            widths[2] = std::max(widths[2], rows.back().name.size());
            widths[3] = std::max(widths[3], rows.back().bounds.size());
        }
        out += '\n';
        for (std::size_t i = 0; i < annotated.legend.size(); ++i) {
            const auto& e = annotated.legend[i];
            append_padded(out, e.tag, widths[0]);
            out += "  ";
            append_padded(out, e.role, widths[1]);
            out += "  ";
            append_padded(out, rows[i].name, widths[2]);
            out += "  ";
            append_padded(out, rows[i].bounds, widths[3]);
            out += "  ";
            out += e.selector;
            out += '\n';
        }
    }

    if (!annotated.omitted.empty()) {
        constexpr std::size_t kListed = 5;
        std::vector<std::string> items;
        for (std::size_t i = 0; i < annotated.omitted.size() && i < kListed; ++i) {
            const auto& o = annotated.omitted[i];
            items.push_back(fmt::format("{}: {} {}", omission_reason::to_snake_case(o.reason),
                                        o.role, legend_name(o.name)));
        }
        if (annotated.omitted.size() > kListed)
            items.push_back(fmt::format("… +{} more", annotated.omitted.size() - kListed));
        const std::size_t n = annotated.omitted.size();
        out += fmt::format("\nomitted: {} element{} ({})\n", n, n == 1 ? "" : "s",
                           fmt::join(items, ", "));
    }

    if (annotated.truncated > 0) {
        const std::size_t n = annotated.truncated;
        out += fmt::format("truncated: {} more element{} matched but {} not described (cap: {})\n",
                           n, n == 1 ? "" : "s", n == 1 ? "was" : "were", kLegendCap);
    }
    return out;
}

CliResult<std::string> render_legend_json(std::span<const std::string> selectors,
                                          const Annotated& annotated) {
    try {
        const std::size_t cap = cap_group(annotated);
        Json groups = Json::array();
        for (std::size_t g = 1; g <= selectors.size(); ++g) {
            const Rgb color = palette_color(g);
            groups.push_back(Json{
                {"annotated", group_count(annotated, g)},
                {"capped", annotated.truncated > 0 && g >= cap},
                {"color", Json::array({color[0], color[1], color[2]})},
                {"color_hex", color_hex(color)},
                {"group", g},
                {"letter", group_letter(g)},
                {"selector", selectors[g - 1]},
            });
        }
        Json root = {
            {"cap", kLegendCap},
            {"groups", std::move(groups)},
            {"legend", to_json(annotated.legend)},
            {"omitted", to_json(annotated.omitted)},
            {"truncated", annotated.truncated},
        };
        // Every other output of the command is line-oriented; so is this one.
        return json::dump_pretty(root) + "\n";
    } catch (const std::exception& ex) {
        return std::unexpected(
            CliError(Error::Platform{-1, fmt::format("render legend as JSON: {}", ex.what())}));
    }
}

CliResult<void> write_screenshot(const Screenshot& shot, std::string_view path) {
    if (path == "-") {
        Result<std::vector<std::uint8_t>> png = shot.to_png();
        if (!png) return std::unexpected(CliError(std::move(png).error()));
        return write_stdout(
            std::string_view(reinterpret_cast<const char*>(png->data()), png->size()));
    }
    if (Result<void> saved = shot.save_png(std::filesystem::path(std::string(path))); !saved)
        return std::unexpected(CliError(std::move(saved).error()));
    write_stderr(fmt::format("wrote {} ({}x{} @{}x)\n", path, shot.width, shot.height,
                             text::float32_display(shot.scale)));
    return {};
}

CliResult<void> write_stdout(std::string_view bytes) {
    const int err = facade::write_all(STDOUT_FILENO, bytes);
    if (err == 0) return {};
    std::string reason =
        err > 0 ? std::system_category().message(err) : std::string("failed to write whole buffer");
    return std::unexpected(CliError(Error::Platform{err, fmt::format("write stdout: {}", reason)}));
}

void write_stderr(std::string_view bytes) { (void)facade::write_all(STDERR_FILENO, bytes); }

}  // namespace vemor::cli
