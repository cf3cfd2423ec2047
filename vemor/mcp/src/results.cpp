#include "vemor/mcp/results.hpp"

#include <cmath>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "vemor/input.hpp"
#include "vemor/mcp/base64.hpp"
#include "vemor/role.hpp"
#include "vemor/text.hpp"

namespace vemor::mcp {

ToolOutput ToolOutput::json(Json value) {
    ToolOutput out;
    out.content.push_back(Json{{"type", "text"}, {"text", vemor::json::dump(value)}});
    out.structured_content = std::move(value);
    return out;
}

ToolOutput ToolOutput::png(std::span<const std::uint8_t> png_bytes, Json summary) {
    ToolOutput out;
    out.content.push_back(
        Json{{"type", "image"}, {"data", base64::encode(png_bytes)}, {"mimeType", "image/png"}});
    out.content.push_back(Json{{"type", "text"}, {"text", vemor::json::dump(summary)}});
    out.structured_content = std::move(summary);
    return out;
}

namespace tools {
namespace {

// A number, or null when it is not finite (JSON has no such numbers).
Json number_or_null(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

// The centre of the bounds; the sums saturate rather than overflow.
Point centre(const Rect& r) { return input::anchor_point(r, Anchor{}); }

}  // namespace

Json states_json(const StateSet& s) {
    Json out = Json::object();
    out["enabled"] = s.enabled;
    out["visible"] = s.visible;
    auto flag = [&](const char* key, bool on) {
        if (on) out[key] = true;
    };
    flag("focused", s.focused);
    flag("focusable", s.focusable);
    flag("active", s.active);
    flag("editable", s.editable);
    flag("selected", s.selected);
    flag("modal", s.modal);
    flag("required", s.required);
    flag("busy", s.busy);
    if (s.checked) out["checked"] = std::string(checked_state::to_snake_case(*s.checked));
    insert_some(out, "expanded", s.expanded);
    insert_some(out, "minimized", s.minimized);
    insert_some(out, "maximized", s.maximized);
    insert_some(out, "fullscreen", s.fullscreen);
    return out;
}

Json element_data_json(const ElementData& e) {
    Json out = Json::object();
    out["role"] = std::string(role::to_snake_case(e.role));
    insert_some(out, "name", e.name);
    insert_some(out, "value", e.value);
    insert_some(out, "description", e.description);
    insert_some(out, "id", e.stable_id);
    if (e.bounds) {
        out["bounds"] = to_json(*e.bounds);
        Point c = centre(*e.bounds);
        out["center"] = Json{{"x", c.x}, {"y", c.y}};
    }
    if (e.numeric_value) {
        out["numeric_value"] = number_or_null(*e.numeric_value);
        if (e.min_value) out["min_value"] = number_or_null(*e.min_value);
        if (e.max_value) out["max_value"] = number_or_null(*e.max_value);
    }
    if (!e.actions.empty()) out["actions"] = e.actions;
    out["states"] = states_json(e.states);
    return out;
}

Json build_node(const Element& element, std::size_t max_depth, std::size_t depth,
                std::size_t& budget, bool& truncated_by_depth, const cli::Target* root_target) {
    Json node = element_data_json(element.data());
    if (depth >= max_depth) {
        truncated_by_depth = true;
        return node;
    }
    if (budget == 0) return node;
    Result<std::vector<Element>> children = [&]() -> Result<std::vector<Element>> {
        if (root_target) {
            if (const App* app = root_target->app()) return app->children();
            if (const ShellSurface* shell = root_target->shell()) return shell->children();
        }
        return element.children();
    }();
    if (!children) {
        node["children_error"] = children.error().message();
        return node;
    }
    Json built = Json::array();
    for (const Element& child : *children) {
        if (budget == 0) break;
        --budget;
        built.push_back(build_node(child, max_depth, depth + 1, budget, truncated_by_depth, nullptr));
    }
    if (!built.empty()) node["children"] = std::move(built);
    return node;
}

Json diagnosis_json(const Diagnosis& d) {
    Json out = Json::object();
    insert_some(out, "condition", d.condition);
    insert_some(out, "selector", d.selector);
    insert_some(out, "last_observed", d.last_observed);
    if (!d.candidates.empty()) {
        std::size_t shown = std::min(d.candidates.size(), kMaxCandidates);
        Json lines = Json::array();
        for (std::size_t i = 0; i < shown; ++i) lines.push_back(d.candidates[i]);
        out["candidates"] = std::move(lines);
        if (d.candidates.size() > kMaxCandidates)
            out["candidates_omitted"] = d.candidates.size() - kMaxCandidates;
    }
    insert_some(out, "scope", d.scope);
    return out;
}

std::string_view failure_kind(const cli::CliError& error) {
    using E = cli::CliError;
    if (error.is<E::Usage>()) return "invalid_arguments";
    if (error.is<E::Message>()) return "no_match";
    if (error.is<E::AmbiguousSelector>()) return "ambiguous_selector";
    if (error.is<E::AmbiguousShellSurface>()) return "ambiguous_shell_surface";
    if (const auto* s = error.as<E::Subscription>())
        return s->expired ? "subscription_expired" : "subscription_not_found";
    switch (error.as<E::Core>()->error.kind()) {
        case ErrorKind::PermissionDenied: return "permission_denied";
        case ErrorKind::AccessibilityNotEnabled: return "accessibility_not_enabled";
        case ErrorKind::SelectorNotMatched: return "no_match";
        case ErrorKind::ElementStale: return "element_stale";
        case ErrorKind::ActionNotSupported: return "action_not_supported";
        case ErrorKind::TextValueNotSupported: return "text_value_not_supported";
        case ErrorKind::Timeout: return "timeout";
        case ErrorKind::InvalidSelector: return "invalid_selector";
        case ErrorKind::InvalidActionData: return "invalid_action_data";
        case ErrorKind::InvalidConfig: return "invalid_config";
        case ErrorKind::NoElementBounds: return "no_element_bounds";
        case ErrorKind::Unsupported: return "unsupported";
        case ErrorKind::Platform: return "platform";
    }
    return "platform";
}

Failure describe_failure(std::string_view tool, const cli::CliError& error) {
    using E = cli::CliError;
    Failure f{error.message(), Json::object()};
    f.object["tool"] = std::string(tool);
    f.object["message"] = f.message;
    f.object["kind"] = std::string(failure_kind(error));
    if (const auto* a = error.as<E::AmbiguousSelector>()) {
        f.object["match_count"] = a->count;
        f.object["diagnosis"] = diagnosis_json(a->diagnosis);
    } else if (const auto* s = error.as<E::AmbiguousShellSurface>()) {
        f.object["match_count"] = s->count;
        f.object["shell_kind"] = s->kind;
        f.object["diagnosis"] = diagnosis_json(s->diagnosis);
    } else if (const auto* sub = error.as<E::Subscription>()) {
        f.object["subscription_id"] = sub->id;
        f.object["expired"] = sub->expired;
        f.object["live_subscriptions"] = sub->open;
    } else if (const auto* core = error.as<E::Core>()) {
        if (const auto* miss = core->error.as<Error::SelectorNotMatched>()) {
            if (miss->diagnosis) {
                Json d = diagnosis_json(*miss->diagnosis);
                if (!d.contains("selector")) d["selector"] = miss->selector;
                f.object["diagnosis"] = std::move(d);
            }
        } else if (const auto* timeout = core->error.as<Error::Timeout>()) {
            if (timeout->diagnosis) f.object["diagnosis"] = diagnosis_json(*timeout->diagnosis);
        }
    }
    return f;
}

std::string truncate(std::string_view text, std::size_t n) {
    // Count scalar values without decoding: every byte that does not continue a sequence
    // starts one (invalid bytes count one each, as their U+FFFD replacement would).
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (count == n) return std::string(text.substr(0, i)) + "…";
        ++count;
    }
    return std::string(text);
}

std::string describe_candidate(const ElementData& e) {
    std::string role(role::to_snake_case(e.role));
    std::string out = e.name ? fmt::format("{} \"{}\"", role, truncate(*e.name, 60))
                             : role + " (unnamed)";
    std::vector<std::string> markers;
    if (e.value) markers.push_back(fmt::format("value=\"{}\"", truncate(*e.value, 40)));
    if (e.states.checked)
        markers.push_back(fmt::format("checked={}", checked_state::to_snake_case(*e.states.checked)));
    if (e.states.selected) markers.emplace_back("selected");
    if (!e.states.enabled) markers.emplace_back("disabled");
    if (!e.states.visible) markers.emplace_back("hidden");
    if (e.bounds) {
        Point c = centre(*e.bounds);
        markers.push_back(fmt::format("at ({},{})", c.x, c.y));
    }
    if (!markers.empty()) out += fmt::format(" [{}]", fmt::join(markers, " "));
    return out;
}

Json capture_summary(const Screenshot& shot, std::size_t png_length) {
    return Json{{"width", shot.width},
                {"height", shot.height},
                {"scale", static_cast<double>(shot.scale)},
                {"bytes", png_length}};
}

cli::CliResult<Json> legend_json(std::string_view, std::span<const LegendEntry> entries) {
    Json out = Json::array();
    for (const LegendEntry& e : entries) out.push_back(to_json(e));
    return out;
}

cli::CliResult<Json> legend_json(std::string_view, std::span<const Omission> omissions) {
    Json out = Json::array();
    for (const Omission& o : omissions) out.push_back(to_json(o));
    return out;
}

}  // namespace tools
}  // namespace vemor::mcp
