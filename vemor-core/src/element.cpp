#include "vemor/element.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include <fmt/format.h>

#include "vemor/provider.hpp"
#include "vemor/text.hpp"

namespace vemor {

Json to_json(const Rect& r) {
    return Json{{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
}

namespace element {
namespace {

// `text` writes a name or a value as the dump shows it.
template <class Text>
void write_tree(const TreeNode& root, std::size_t root_depth, std::string& out, Text text) {
    // Iterative pre-order walk, so a very deep tree cannot exhaust the stack.
    struct Item {
        const TreeNode* node;
        std::size_t depth;
    };
    std::vector<Item> stack{{&root, root_depth}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        out.append(2 * depth, ' ');
        out += node->role;
        if (node->name) fmt::format_to(std::back_inserter(out), " \"{}\"", text(*node->name));
        if (node->value)
            fmt::format_to(std::back_inserter(out), " value=\"{}\"", text(*node->value));
        out += '\n';
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
            stack.push_back({&*it, depth + 1});
    }
}

}  // namespace

void write_tree_node(const TreeNode& root, std::size_t root_depth, std::string& out) {
    write_tree(root, root_depth, out, [](const std::string& s) -> const std::string& { return s; });
}

void write_tree_node_escaped(const TreeNode& root, std::size_t root_depth, std::string& out) {
    write_tree(root, root_depth, out,
               [](const std::string& s) { return text::escape_controls(s); });
}

}  // namespace element

namespace app {

std::string same_window_identity_key(const ElementData& element) {
    if (!element.stable_id) return fmt::format("h{}", element.handle);
    auto bus = element.raw.find("bus_name");
    if (bus != element.raw.end() && bus->second.is_string())
        return fmt::format("{}:{}", bus->second.get_ref<const std::string&>(), *element.stable_id);
    return *element.stable_id;
}

bool same_window_identity(const ElementData& a, const ElementData& b) {
    return same_window_identity_key(a) == same_window_identity_key(b);
}

}  // namespace app
}  // namespace vemor

// ---- Element operations ----------------------------------------------------------------

namespace vemor {
namespace {

constexpr std::array<std::string_view, 8> kWindowActions{
    "activate", "minimize", "maximize", "enter_fullscreen", "restore", "close", "move_to",
    "resize_to"};

// A platform tree is not guaranteed to be finite or acyclic; past this depth a subtree is cut.
// A `TreeNode` is destroyed, copied and compared recursively, so the bound also keeps those
// within the small stacks of secondary threads; no real interface nests this deep.
constexpr std::size_t kTreeDepthLimit = 1000;

}  // namespace

Result<void> Element::require_window_like(std::string_view operation) const {
    const bool advertises = std::ranges::any_of(data_.actions, [](const std::string& a) {
        return std::ranges::find(kWindowActions, a) != kWindowActions.end();
    });
    bool window_like;
    if (advertises || data_.states.minimized || data_.states.maximized)
        window_like = data_.role == Role::Window || data_.role == Role::Dialog;
    else
        window_like = data_.role == Role::Window ||
                      (data_.role == Role::Dialog && data_.states.fullscreen.has_value());
    if (!window_like) return fail(Error::ActionNotSupported{std::string(operation), data_.role});
    return {};
}

#define VEMOR_ELEMENT_FORWARD(op) \
    Result<void> Element::op() const { return provider_->op(data_); }
#define VEMOR_ELEMENT_WINDOW_OP(op)                \
    Result<void> Element::op() const {             \
        VEMOR_TRY_VOID(require_window_like(#op));  \
        return provider_->op(data_);               \
    }

VEMOR_ELEMENT_FORWARD(press)
VEMOR_ELEMENT_FORWARD(focus)
VEMOR_ELEMENT_FORWARD(blur)
VEMOR_ELEMENT_FORWARD(toggle)
VEMOR_ELEMENT_FORWARD(select)
VEMOR_ELEMENT_FORWARD(expand)
VEMOR_ELEMENT_FORWARD(collapse)
VEMOR_ELEMENT_FORWARD(show_menu)
VEMOR_ELEMENT_FORWARD(increment)
VEMOR_ELEMENT_FORWARD(decrement)
VEMOR_ELEMENT_FORWARD(scroll_into_view)
VEMOR_ELEMENT_WINDOW_OP(activate)
VEMOR_ELEMENT_WINDOW_OP(minimize)
VEMOR_ELEMENT_WINDOW_OP(maximize)
VEMOR_ELEMENT_WINDOW_OP(enter_fullscreen)
VEMOR_ELEMENT_WINDOW_OP(restore)
VEMOR_ELEMENT_WINDOW_OP(close)

#undef VEMOR_ELEMENT_FORWARD
#undef VEMOR_ELEMENT_WINDOW_OP

Result<void> Element::set_value(std::string_view text) const {
    return provider_->set_value(data_, text);
}

Result<void> Element::type_text(std::string_view text) const {
    return provider_->type_text(data_, text);
}

Result<void> Element::set_numeric_value(double value) const {
    if (!std::isfinite(value))
        return fail(Error::InvalidActionData{fmt::format(
            "set_numeric_value requires a finite value, got {}", text::float_display(value))});
    return provider_->set_numeric_value(data_, value);
}

Result<void> Element::select_text(std::uint32_t start, std::uint32_t end) const {
    if (start > end)
        return fail(Error::InvalidActionData{
            fmt::format("select_text start ({}) must be <= end ({})", start, end)});
    return provider_->set_text_selection(data_, start, end);
}

Result<void> Element::move_to(std::int32_t x, std::int32_t y) const {
    VEMOR_TRY_VOID(require_window_like("move_to"));
    return provider_->move_to(data_, x, y);
}

Result<void> Element::resize_to(std::uint32_t width, std::uint32_t height) const {
    if (width == 0 || height == 0)
        return fail(Error::InvalidActionData{fmt::format(
            "resize_to requires positive width and height, got {}x{}", width, height)});
    VEMOR_TRY_VOID(require_window_like("resize_to"));
    return provider_->resize_to(data_, width, height);
}

Result<void> Element::perform_action(std::string_view name) const {
    if (name == "close") return close();
    if (name == "restore") return restore();
    if (name == "activate") return activate();
    if (name == "minimize") return minimize();
    if (name == "maximize") return maximize();
    if (name == "enter_fullscreen") return enter_fullscreen();
    return provider_->perform_action(data_, name);
}

Result<std::vector<Element>> Element::children() const {
    return element::bind_all(VEMOR_TRY(provider_->get_children(&data_)), provider_);
}

Result<TreeNode> Element::tree(std::optional<std::size_t> max_depth) const {
    return element::build_tree_node(*this, max_depth, 0);
}

Result<std::string> Element::dump(std::optional<std::size_t> max_depth) const {
    auto node = VEMOR_TRY(tree(max_depth));
    std::string out;
    element::write_tree_node(node, 0, out);
    return out;
}

namespace element {

std::vector<Element> bind_all(std::vector<ElementData> list, const ProviderHandle& provider) {
    std::vector<Element> out;
    out.reserve(list.size());
    for (auto& d : list) out.emplace_back(std::move(d), provider);
    return out;
}

// Built iteratively in pre-order (the provider is asked in the same order as a recursive walk
// would ask it), keeping only the current path: one frame per level with that level's children
// and the next one to open. A child whose handle repeats one of its ancestors' closes a cycle and
// is kept as a leaf; nothing deeper than kTreeDepthLimit levels is built.
Result<TreeNode> build_tree_node(const Element& element, std::optional<std::size_t> max_depth,
                                 std::size_t depth) {
    auto make_node = [](const ElementData& d) {
        return TreeNode{std::string(role::to_snake_case(d.role)), d.name, d.value, {}};
    };
    struct Frame {
        ElementList children;  // of the frame's node, in the same order as its child nodes
        TreeNode* node;
        std::size_t next = 0;
        std::uint64_t handle;  // the frame's element, 0 when it has none
    };
    const Provider& provider = *element.provider();
    std::vector<Frame> path;
    // Opens `data` (at `level`): its children become nodes under `node` and a frame on the path.
    auto open = [&](const ElementData& data, TreeNode* node, std::size_t level) -> Result<void> {
        if (max_depth && level >= *max_depth) return {};
        if (level - depth >= kTreeDepthLimit) return {};
        if (data.handle != 0 && std::ranges::any_of(path, [&](const Frame& f) {
                return f.handle == data.handle;
            }))
            return {};
        auto children = VEMOR_TRY(provider.get_children(&data));
        node->children.reserve(children.size());
        for (const auto& c : children) node->children.push_back(make_node(c));
        path.push_back(Frame{std::move(children), node, 0, data.handle});
        return {};
    };

    TreeNode root = make_node(element.data());
    VEMOR_TRY_VOID(open(element.data(), &root, depth));
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next == frame.children.size()) {
            path.pop_back();
            continue;
        }
        const std::size_t i = frame.next++;
        // `frame` may move when the path grows: take what is needed first.
        const ElementData child = std::move(frame.children[i]);
        TreeNode* node = &frame.node->children[i];
        VEMOR_TRY_VOID(open(child, node, depth + path.size()));
    }
    return root;
}

}  // namespace element
}  // namespace vemor
