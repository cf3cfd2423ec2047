#include "vemor/macos/snapshot.hpp"

#include <fmt/format.h>

#include <array>
#include <cmath>

#include "vemor/macos/provider.hpp"
#include "vemor/macos/role_map.hpp"
#include "vemor/macos/shim.hpp"
#include "vemor/text.hpp"

namespace vemor {
namespace ax {
namespace {

// The batch, in request order; the indices below name the slots.
constexpr std::array<std::string_view, 17> kBatch{
    "AXRole",     "AXSubrole", "AXTitle",      "AXDescription", "AXHelp",       "AXValue",
    "AXEnabled",  "AXFocused", "AXSelected",   "AXHidden",      "AXExpanded",   "AXModal",
    "AXPosition", "AXSize",    "AXIdentifier", "AXMinimized",   "AXFullScreen",
};
enum Slot : std::size_t {
    kRole,
    kSubrole,
    kTitle,
    kDescription,
    kHelp,
    kValue,
    kEnabled,
    kFocused,
    kSelected,
    kHidden,
    kExpanded,
    kModal,
    kPosition,
    kSize,
    kIdentifier,
    kMinimized,
    kFullScreen,
};

// The batch answer: the array (owned) and one borrowed value per slot. A slot may hold the
// platform's error placeholder; every reader checks the type, so a placeholder reads as absent.
struct BatchAttrs {
    CfRef array;
    std::array<CFTypeRef, kBatch.size()> slots{};

    std::optional<std::string> string(std::size_t index) const {
        return cf_string_text(slots[index]);
    }
};

// What the batch path and the fallback path both produce.
struct AttrRecord {
    std::string role;
    std::optional<std::string> subrole, title, description, help, value_text, identifier;
    std::optional<std::int32_t> value_i32;
    std::optional<double> value_f64;
    std::optional<bool> value_bool;
    std::optional<bool> enabled, focused, selected, hidden, expanded, modal, minimized, fullscreen;
    std::optional<CGPoint> point;
    std::optional<CGSize> size;
};

void fill_from_slots(AttrRecord& r, const std::array<CFTypeRef, kBatch.size()>& s) {
    r.subrole = cf_string_text(s[kSubrole]);
    r.title = cf_string_text(s[kTitle]);
    r.description = cf_string_text(s[kDescription]);
    r.help = cf_string_text(s[kHelp]);
    r.identifier = cf_string_text(s[kIdentifier]);
    r.value_text = value_text(s[kValue]);
    r.value_f64 = value_number(s[kValue]);
    r.value_i32 = cf_number_i32(s[kValue]);
    r.value_bool = cf_boolean(s[kValue]);
    r.enabled = cf_boolean(s[kEnabled]);
    r.focused = cf_boolean(s[kFocused]);
    r.selected = cf_boolean(s[kSelected]);
    r.hidden = cf_boolean(s[kHidden]);
    r.expanded = cf_boolean(s[kExpanded]);
    r.modal = cf_boolean(s[kModal]);
    r.minimized = cf_boolean(s[kMinimized]);
    r.fullscreen = cf_boolean(s[kFullScreen]);
    r.point = ax_value_point(s[kPosition]);
    r.size = ax_value_size(s[kSize]);
}

// One round trip for all 17 attributes; none when the platform refuses the batch.
std::optional<BatchAttrs> read_batch(const AXElement& element) {
    std::array<CfRef, kBatch.size()> names;
    std::array<CFTypeRef, kBatch.size()> raw{};
    for (std::size_t i = 0; i < kBatch.size(); ++i) {
        names[i] = make_cf_string(kBatch[i]);
        raw[i] = names[i].get();
    }
    CfRef request = CfRef::adopt(safe_cf_array_create(raw.data(), kBatch.size()));
    if (!request) return std::nullopt;
    CFArrayRef out = nullptr;
    AXError code = safe_ax_copy_multiple_attribute_values(
        element.get(), static_cast<CFArrayRef>(request.get()), &out);
    BatchAttrs batch{CfRef::adopt(out), {}};
    if (code != 0 || !batch.array || batch.array.type_id() != safe_cf_array_get_type_id())
        return std::nullopt;
    auto array = static_cast<CFArrayRef>(batch.array.get());
    const CFIndex count = safe_cf_array_get_count(array);
    for (std::size_t i = 0; i < kBatch.size() && static_cast<CFIndex>(i) < count; ++i)
        batch.slots[i] = safe_cf_array_get_value(array, static_cast<CFIndex>(i));
    return batch;
}

Result<AttrRecord> read_record(const AXElement& element) {
    AttrRecord r;
    if (auto batch = read_batch(element)) {
        r.role = batch->string(kRole).value_or("");
        fill_from_slots(r, batch->slots);
        return r;
    }

    // Fallback: one read per attribute. The role is read strictly here: an unreadable role
    // means the element is unreadable, which must not pass for a role-less element.
    AttrRead role = read_attr(element, "AXRole");
    if (role.code != 0 && !is_absent_code(role.code))
        return fail(Error::Platform{
            role.code, fmt::format("AXRole read failed while building an element snapshot "
                                   "(AXError {}); the element is unreadable, not role-less",
                                   role.code)});
    if (role.value) {
        auto text = cf_string_text(role.value.get());
        if (!text)
            return fail(Error::Platform{-1,
                                        "AXRole returned a non-string value; the provider "
                                        "answered malformed, not role-less"});
        r.role = std::move(*text);
    }
    std::array<CfRef, kBatch.size()> owned;
    std::array<CFTypeRef, kBatch.size()> slots{};
    for (std::size_t i = kSubrole; i < kBatch.size(); ++i) {
        if (auto v = ax_attr(element, kBatch[i])) owned[i] = std::move(*v);
        slots[i] = owned[i].get();
    }
    fill_from_slots(r, slots);
    return r;
}

bool is_one_of(Role role, std::initializer_list<Role> roles) {
    for (Role r : roles)
        if (r == role) return true;
    return false;
}

bool is_window_like(Role role) { return role == Role::Window || role == Role::Dialog; }

// The element is the focused window of the focused application.
bool is_active_window(const AXElement& element, std::uint32_t pid) {
    AXElement system = AXElement::adopt(safe_ax_create_system_wide());
    if (!system) return false;
    auto focused_app = ax_attr(system, "AXFocusedApplication");
    if (!focused_app || focused_app->type_id() != safe_ax_ui_element_get_type_id()) return false;
    pid_t focused_pid = 0;
    if (safe_ax_get_pid(static_cast<AXUIElementRef>(focused_app->get()), &focused_pid) != 0 ||
        focused_pid <= 0 || static_cast<std::uint32_t>(focused_pid) != pid)
        return false;
    AXElement app = AXElement::adopt(safe_ax_create_application(focused_pid));
    if (!app) return false;
    auto window = ax_attr(app, "AXFocusedWindow");
    return window && safe_cf_equal(window->get(), element.get());
}

bool array_contains(CFTypeRef array, const AXElement& element) {
    if (!array || safe_cf_get_type_id(array) != safe_cf_array_get_type_id()) return false;
    auto arr = static_cast<CFArrayRef>(array);
    const CFIndex count = safe_cf_array_get_count(arr);
    for (CFIndex i = 0; i < count; ++i)
        if (safe_cf_equal(safe_cf_array_get_value(arr, i), element.get())) return true;
    return false;
}

// Rows and cells without AXSelected: membership in the container's AXSelectedChildren (the
// parent's, or the grandparent's when the parent does not answer).
bool selected_by_container(const AXElement& element) {
    auto parent_ref = ax_attr(element, "AXParent");
    if (!parent_ref || parent_ref->type_id() != safe_ax_ui_element_get_type_id()) return false;
    AXElement parent = AXElement::retain(static_cast<AXUIElementRef>(parent_ref->get()));
    auto selected = ax_attr(parent, "AXSelectedChildren");
    if (!selected) {
        auto grand_ref = ax_attr(parent, "AXParent");
        if (!grand_ref || grand_ref->type_id() != safe_ax_ui_element_get_type_id()) return false;
        AXElement grandparent = AXElement::retain(static_cast<AXUIElementRef>(grand_ref->get()));
        selected = ax_attr(grandparent, "AXSelectedChildren");
    }
    return selected && array_contains(selected->get(), element);
}

CheckedState checked_from(const AttrRecord& r) {
    if (r.value_i32)
        return *r.value_i32 == 1   ? CheckedState::On
               : *r.value_i32 == 2 ? CheckedState::Mixed
                                   : CheckedState::Off;
    if (r.value_bool) return *r.value_bool ? CheckedState::On : CheckedState::Off;
    if (r.value_f64) return *r.value_f64 > 0.5 ? CheckedState::On : CheckedState::Off;
    return CheckedState::Off;
}

Json finite_or_null(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

std::map<std::string, Json> raw_attributes(const AttrRecord& r) {
    std::map<std::string, Json> raw;
    raw["ax_role"] = r.role;
    if (r.subrole) raw["ax_subrole"] = *r.subrole;
    if (r.identifier) raw["ax_identifier"] = *r.identifier;
    if (r.title) raw["AXTitle"] = *r.title;
    if (r.description) raw["AXDescription"] = *r.description;
    if (r.help) raw["AXHelp"] = *r.help;
    const std::pair<const char*, const std::optional<bool>*> flags[] = {
        {"AXEnabled", &r.enabled}, {"AXFocused", &r.focused},   {"AXSelected", &r.selected},
        {"AXHidden", &r.hidden},   {"AXExpanded", &r.expanded}, {"AXModal", &r.modal},
    };
    for (const auto& [key, flag] : flags)
        if (*flag) raw[key] = **flag;
    if (r.point)
        raw["AXPosition"] =
            Json{{"x", finite_or_null(r.point->x)}, {"y", finite_or_null(r.point->y)}};
    if (r.size)
        raw["AXSize"] = Json{{"width", finite_or_null(r.size->width)},
                             {"height", finite_or_null(r.size->height)}};
    if (r.value_f64)
        raw["AXValue"] = std::isfinite(*r.value_f64) ? *r.value_f64 : 0.0;
    else if (r.value_text)
        raw["AXValue"] = *r.value_text;
    return raw;
}

void add_action(std::vector<std::string>& actions, std::string name) {
    for (const auto& a : actions)
        if (a == name) return;
    actions.push_back(std::move(name));
}

bool offers(const std::vector<std::string>& platform_actions, std::string_view name) {
    for (const auto& a : platform_actions)
        if (a == name) return true;
    return false;
}

// Which window operations the window can take, judged from its current state; the probes fail
// the snapshot rather than silently dropping actions.
Result<void> add_window_actions(std::vector<std::string>& actions, const AXElement& element,
                                Role role, const std::vector<std::string>& platform_actions) {
    constexpr std::string_view op = "the window actions";
    if (offers(platform_actions, "AXRaise")) add_action(actions, "activate");
    WindowState s = VEMOR_TRY(WindowState::probe(element, op, role));
    const bool m_set = s.minimized_settable, f_set = s.fullscreen_settable;
    const bool m = s.reads_minimized(), f = s.reads_fullscreen();
    if (m_set && (f_set || !f)) add_action(actions, "minimize");
    if ((f_set || f) && (m_set || !m)) add_action(actions, "enter_fullscreen");
    const bool restore = m ? (m_set && (f_set || !f)) : f ? f_set : (f_set || m_set);
    if (restore) add_action(actions, "restore");
    auto close = VEMOR_TRY(find_close_button(element, role));
    if (close) add_action(actions, "close");
    if (VEMOR_TRY(is_attr_settable(element, "AXPosition"))) add_action(actions, "move_to");
    if (VEMOR_TRY(is_attr_settable(element, "AXSize"))) add_action(actions, "resize_to");
    return {};
}

ElementData null_snapshot(std::optional<std::uint32_t> pid, std::uint64_t handle) {
    ElementData d;
    d.role = Role::Unknown;
    d.states.enabled = true;
    d.states.visible = true;
    d.pid = pid;
    d.handle = handle;
    return d;
}

}  // namespace

std::string action_name_for(std::string_view platform_action) {
    static constexpr std::pair<std::string_view, std::string_view> kKnown[] = {
        {"AXPress", "press"},        {"AXConfirm", "press"},       {"AXRaise", "activate"},
        {"AXShowMenu", "show_menu"}, {"AXIncrement", "increment"}, {"AXDecrement", "decrement"},
    };
    for (const auto& [platform, name] : kKnown)
        if (platform == platform_action) return std::string(name);
    std::string_view rest = platform_action;
    if (rest.starts_with("AX")) rest.remove_prefix(2);
    std::string out;
    out.reserve(rest.size() + 4);
    for (char c : rest) {
        if (c >= 'A' && c <= 'Z') {
            if (!out.empty()) out.push_back('_');
            out.push_back(static_cast<char>(c - 'A' + 'a'));
        } else {
            out.push_back(c);
        }
    }
    return out;
}

Result<ElementData> build_snapshot_data(const AXElement& element, std::optional<std::uint32_t> pid,
                                        std::uint64_t handle) {
    if (element.is_null()) return null_snapshot(pid, handle);
    AttrRecord r = VEMOR_TRY(read_record(element));

    ElementData d;
    d.role =
        map_ax_role(r.role, r.subrole ? std::optional<std::string_view>(*r.subrole) : std::nullopt);
    const Role role = d.role;

    // Texts: comparisons use the texts as read; only the stored results lose their bidi marks.
    std::optional<std::string> name_source = r.title                    ? r.title
                                             : role == Role::StaticText ? r.value_text
                                                                        : r.description;
    std::optional<std::string> description =
        r.help ? r.help
               : (r.description && r.description != name_source ? r.description : std::nullopt);
    const bool is_checkable = role == Role::CheckBox || role == Role::RadioButton;
    d.name = text::strip_bidi_opt(name_source);
    d.description = text::strip_bidi_opt(std::move(description));
    d.value = is_checkable ? std::nullopt : text::strip_bidi_opt(r.value_text);
    if (is_checkable) d.states.checked = checked_from(r);

    if (is_one_of(role, {Role::ScrollBar, Role::Slider, Role::ProgressBar, Role::SpinButton})) {
        d.numeric_value = r.value_f64;
        d.min_value = ax_number_f64(element, "AXMinValue");
        d.max_value = ax_number_f64(element, "AXMaxValue");
    }

    StateSet& st = d.states;
    st.enabled = r.enabled.value_or(true);
    st.visible = !r.hidden.value_or(false);
    st.focused = r.focused.value_or(false);
    st.active = is_window_like(role) && pid && is_active_window(element, *pid);
    if (r.selected)
        st.selected = *r.selected;
    else if (is_one_of(role, {Role::ListItem, Role::TableRow, Role::TableCell}))
        st.selected = selected_by_container(element);
    st.editable = role == Role::TextField || role == Role::TextArea;
    st.focusable =
        r.focused.has_value() ||
        is_one_of(role, {Role::Button, Role::CheckBox, Role::RadioButton, Role::TextField,
                         Role::TextArea, Role::ComboBox, Role::ListItem, Role::MenuItem, Role::Tab,
                         Role::Slider, Role::Link, Role::TreeItem, Role::Switch, Role::SpinButton});
    st.modal = r.modal.value_or(false);
    if (is_window_like(role)) {
        st.minimized = r.minimized;
        st.fullscreen = r.fullscreen;
    }
    st.expanded = r.expanded;

    if (r.point && r.size && (r.size->width > 0 || r.size->height > 0))
        d.bounds = Rect{text::saturating_cast<std::int32_t>(r.point->x),
                        text::saturating_cast<std::int32_t>(r.point->y),
                        text::saturating_cast<std::uint32_t>(r.size->width),
                        text::saturating_cast<std::uint32_t>(r.size->height)};

    const std::vector<std::string> platform_actions = ax_action_names(element);
    for (const auto& a : platform_actions) add_action(d.actions, action_name_for(a));
    if (r.focused) add_action(d.actions, "focus");
    if (is_one_of(role, {Role::TextField, Role::TextArea, Role::Slider}))
        add_action(d.actions, "set_value");
    if (is_one_of(role, {Role::CheckBox, Role::RadioButton, Role::Switch}) &&
        offers(platform_actions, "AXPress"))
        add_action(d.actions, "toggle");
    if (is_window_like(role))
        VEMOR_TRY_VOID(add_window_actions(d.actions, element, role, platform_actions));

    d.raw = raw_attributes(r);
    d.stable_id = r.identifier;
    d.pid = pid;
    d.handle = handle;
    return d;
}

}  // namespace ax

bool MacOSProvider::should_filter_child_with_role(Role parent_role,
                                                  const std::optional<std::string>& parent_name,
                                                  std::string_view role_text,
                                                  std::optional<std::string_view> subrole,
                                                  const AXElement& child) {
    if (parent_role == Role::Window) {
        // The title-bar buttons are window operations, not content.
        if (subrole && (*subrole == "AXCloseButton" || *subrole == "AXMinimizeButton" ||
                        *subrole == "AXZoomButton" || *subrole == "AXFullScreenButton"))
            return true;
        // A title label repeating the window's name adds nothing.
        const bool plain = !subrole || subrole->empty() || *subrole == "AXUnknown";
        if (role_text == "AXStaticText" && plain && parent_name)
            return ax::ax_string(child, "AXValue") == parent_name;
        return false;
    }
    if (parent_role == Role::Application) return role_text == "AXMenuBar";
    return false;
}

}  // namespace vemor
