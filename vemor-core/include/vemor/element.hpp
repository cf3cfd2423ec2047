// The platform-neutral snapshot of one user-interface element and its geometry and state
// records. The element bound to its provider (`Element`) lives in element_ops.hpp.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/enum_names.hpp"
#include "vemor/error.hpp"
#include "vemor/json.hpp"
#include "vemor/role.hpp"

namespace vemor {

// A rectangle in screen points.
struct Rect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool operator==(const Rect&) const = default;
};

// {"height":..,"width":..,"x":..,"y":..}
Json to_json(const Rect& r);

// A position in screen points.
struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const Point&) const = default;
};

enum class CheckedState : std::uint8_t { Off, On, Mixed };

namespace checked_state {
inline constexpr std::array<EnumName<CheckedState>, 3> kNames{{
    {CheckedState::Off, "off"},
    {CheckedState::On, "on"},
    {CheckedState::Mixed, "mixed"},
}};
constexpr std::string_view to_snake_case(CheckedState s) { return name_of(kNames, s); }
constexpr std::optional<CheckedState> from_snake_case(std::string_view text) {
    return value_of(kNames, text);
}
}  // namespace checked_state

struct StateSet {
    bool enabled = false;
    bool visible = false;
    bool focused = false;
    // The element is the active (foreground) window, the one that receives the user's input.
    bool active = false;
    bool selected = false;
    bool editable = false;
    bool focusable = false;
    bool modal = false;
    bool required = false;
    bool busy = false;
    // Absent when the platform does not report the state for this element.
    std::optional<bool> minimized;
    std::optional<bool> maximized;
    std::optional<bool> fullscreen;
    std::optional<bool> expanded;
    std::optional<CheckedState> checked;
    bool operator==(const StateSet&) const = default;
};

// A plain, deep-copied snapshot of one element; providers fill it field by field.
struct ElementData {
    Role role = Role::Unknown;
    std::optional<std::string> name;
    std::optional<std::string> value;
    std::optional<std::string> description;
    std::optional<Rect> bounds;
    // The action names the application advertises, in its order: not a capability list.
    std::vector<std::string> actions;
    StateSet states;
    std::optional<double> numeric_value;
    std::optional<double> min_value;
    std::optional<double> max_value;
    std::optional<std::string> stable_id;
    std::optional<std::uint32_t> pid;
    // Provider-defined raw attributes ("ax_role", "ax_subrole", "shell_kind", ...).
    std::map<std::string, Json> raw;
    // The provider's element handle: its key to the platform element and the identity used to
    // remove duplicate matches. Meaningful only to the provider that produced it.
    std::uint64_t handle = 0;

    bool operator==(const ElementData&) const = default;
};

// A nested, provider-free copy of a subtree.
struct TreeNode {
    std::string role;
    std::optional<std::string> name;
    std::optional<std::string> value;
    std::vector<TreeNode> children;
    bool operator==(const TreeNode&) const = default;
};

namespace element {
// Appends the indented text dump of `node` (two spaces per level, role, ` "name"`,
// ` value="value"`, unescaped) in pre-order.
void write_tree_node(const TreeNode& node, std::size_t depth, std::string& out);
// The same dump for a message: the control characters of names and values, line feeds
// included, are escaped (`text::escape_controls`), so that every line feed is the dump's own.
void write_tree_node_escaped(const TreeNode& node, std::size_t depth, std::string& out);
}  // namespace element

namespace app {
// The key by which windows are told apart when several roots or entries are merged:
// "{bus_name}:{stable_id}", the stable id alone, or "h{handle}". `same_window_identity::key`
// is spelled `same_window_identity_key`: C++ cannot give a function and a scope one name.
std::string same_window_identity_key(const ElementData& element);
bool same_window_identity(const ElementData& a, const ElementData& b);
}  // namespace app

}  // namespace vemor

namespace vemor {

class Provider;
using ProviderHandle = std::shared_ptr<const Provider>;

// An `ElementData` bound to the provider that produced it. Every operation checks its
// arguments, then forwards to the provider operation of the same meaning.
class Element {
public:
    Element(const ElementData& data, ProviderHandle provider)
        : data_(data), provider_(std::move(provider)) {}
    Element(ElementData&& data, ProviderHandle provider)
        : data_(std::move(data)), provider_(std::move(provider)) {}

    const ElementData& data() const { return data_; }
    const ElementData* operator->() const { return &data_; }
    const ProviderHandle& provider() const { return provider_; }

    Result<void> press() const;
    Result<void> focus() const;
    Result<void> blur() const;
    Result<void> toggle() const;
    Result<void> select() const;
    Result<void> expand() const;
    Result<void> collapse() const;
    Result<void> show_menu() const;
    Result<void> increment() const;
    Result<void> decrement() const;
    Result<void> scroll_into_view() const;
    Result<void> set_value(std::string_view text) const;
    Result<void> type_text(std::string_view text) const;
    Result<void> set_numeric_value(double value) const;
    Result<void> select_text(std::uint32_t start, std::uint32_t end) const;
    Result<void> activate() const;
    Result<void> minimize() const;
    Result<void> maximize() const;
    Result<void> enter_fullscreen() const;
    Result<void> restore() const;
    Result<void> close() const;
    Result<void> move_to(std::int32_t x, std::int32_t y) const;
    Result<void> resize_to(std::uint32_t width, std::uint32_t height) const;
    // The window operations by name go through their own checks; any other name is forwarded.
    Result<void> perform_action(std::string_view name) const;

    Result<std::vector<Element>> children() const;
    Result<TreeNode> tree(std::optional<std::size_t> max_depth) const;
    Result<std::string> dump(std::optional<std::size_t> max_depth) const;

    // Fails with `ActionNotSupported` (the operation's name and the role) unless the element is
    // a window, or a dialog that shows some window capability.
    Result<void> require_window_like(std::string_view operation) const;

private:
    ElementData data_;
    ProviderHandle provider_;
};

namespace element {
// Wraps each snapshot as an `Element` sharing `provider`.
std::vector<Element> bind_all(std::vector<ElementData> list, const ProviderHandle& provider);

// Builds the subtree under `element` down to `max_depth` levels below `depth`.
Result<TreeNode> build_tree_node(const Element& element, std::optional<std::size_t> max_depth,
                                 std::size_t depth);
}  // namespace element

}  // namespace vemor
