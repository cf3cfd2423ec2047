#include <fmt/format.h>

#include <utility>

#include "vemor/mock.hpp"
#include "vemor/text.hpp"

namespace vemor {

namespace {

constexpr std::string_view kClosedElement =
    "element handle {} belongs to a closed window; cannot act on it";
constexpr std::string_view kStaleWindow = "stale window handle: no live node {}";
constexpr std::string_view kClosedWindow =
    "window handle {} belongs to a closed window; cannot act on it";
constexpr std::string_view kMoveToNeedsCoordinates =
    "perform_action(\"move_to\") requires coordinates; call move_to(x, y)";
constexpr std::string_view kResizeToNeedsDimensions =
    "perform_action(\"resize_to\") requires dimensions; call resize_to(width, height)";
constexpr std::string_view kNoSubscribe = "MockProvider does not support subscribe";

constexpr std::size_t kTaskbarNode = 13;
constexpr std::size_t kDesktopNode = 16;

std::unexpected<Error> platform_error(std::string message) {
    return fail(Error::Platform{-1, std::move(message)});
}

// The index of the node a handle names, if any. The handle is compared in 64 bits so that a
// handle beyond the list never wraps onto a low index.
std::optional<std::size_t> node_index(const std::vector<MockNode>& nodes, std::uint64_t handle) {
    if (handle >= static_cast<std::uint64_t>(nodes.size())) return std::nullopt;
    return static_cast<std::size_t>(handle);
}

const std::vector<std::string>& kWindowActions = *new std::vector<std::string>{
    "activate", "minimize", "maximize", "enter_fullscreen",
    "restore",  "close",    "move_to",  "resize_to",
};

struct NodeSpec {
    Role role;
    const char* name;
    std::vector<std::size_t> children;
};

std::vector<MockNode> fixture_nodes() {
    // Roles, names and children first; the fields that differ from the defaults below.
    const std::vector<NodeSpec> specs{
        {Role::Application, "TestApp", {1}},
        {Role::Window, "Main Window", {2, 5}},
        {Role::Toolbar, "Navigation", {3, 4}},
        {Role::Button, "Back", {}},
        {Role::Button, "Forward", {}},
        {Role::Group, "Content", {6, 7, 8, 9, 10}},
        {Role::TextField, "Search", {}},
        {Role::CheckBox, "Agree", {}},
        {Role::Slider, "Volume", {}},
        {Role::StaticText, "Status", {}},
        {Role::List, "Items", {11, 12}},
        {Role::ListItem, "Item 1", {}},
        {Role::ListItem, "Item 2", {}},
        {Role::Toolbar, "Taskbar", {14, 15}},
        {Role::Button, "Show Hidden Icons", {}},
        {Role::Button, "Volume", {}},
        {Role::List, "Desktop", {17}},
        {Role::ListItem, "Trash", {}},
    };

    std::vector<MockNode> nodes(specs.size());
    for (std::size_t i = 0; i < specs.size(); ++i) {
        MockNode& n = nodes[i];
        n.data.role = specs[i].role;
        n.data.name = specs[i].name;
        n.data.handle = i;
        n.data.pid = i <= 12 ? 1234u : 4242u;
        n.data.states.enabled = true;
        n.data.states.visible = true;
        n.children = specs[i].children;
    }
    for (std::size_t i = 0; i < nodes.size(); ++i)
        for (std::size_t c : nodes[i].children) nodes[c].parent = i;

    auto& app = nodes[0].data;
    app.description = "Test application";
    app.stable_id = "app-root";
    app.bounds = Rect{0, 0, 1920, 1080};
    app.raw["ax_role"] = Json("AXApplication");

    auto& window = nodes[1].data;
    window.bounds = Rect{100, 50, 800, 600};
    window.states.focused = true;
    window.states.active = true;
    window.actions = kWindowActions;

    auto& back = nodes[3].data;
    back.description = "Go back";
    back.stable_id = "btn-back";
    back.bounds = Rect{110, 60, 50, 30};
    back.states.focusable = true;
    back.actions = {"press", "focus"};

    auto& forward = nodes[4].data;
    forward.bounds = Rect{170, 60, 50, 30};
    forward.states.enabled = false;
    forward.states.focusable = true;
    forward.actions = {"press", "focus"};

    auto& search = nodes[6].data;
    search.value = "hello";
    search.description = "Search field";
    search.bounds = Rect{200, 120, 300, 25};
    search.states.editable = true;
    search.states.focusable = true;
    search.actions = {"focus", "set_value", "type_text"};

    auto& agree = nodes[7].data;
    agree.states.focusable = true;
    agree.states.checked = CheckedState::On;
    agree.actions = {"press", "focus"};

    auto& volume = nodes[8].data;
    volume.value = "75";
    volume.numeric_value = 75.0;
    volume.min_value = 0.0;
    volume.max_value = 100.0;
    volume.states.focusable = true;
    volume.actions = {"increment", "decrement", "set_value", "focus"};

    nodes[9].data.value = "Loading...";
    nodes[9].data.states.visible = false;

    nodes[10].data.states.expanded = true;

    for (std::size_t i : {11, 12, 17}) {
        nodes[i].data.states.focusable = true;
        nodes[i].data.actions = {"select", "focus"};
    }
    nodes[11].data.states.selected = true;

    auto& taskbar = nodes[13].data;
    taskbar.stable_id = "Shell_TrayWnd";
    taskbar.bounds = Rect{0, 1040, 1920, 40};

    auto& chevron = nodes[14].data;
    chevron.description = "Open the tray overflow";
    chevron.stable_id = "systray-chevron";
    chevron.bounds = Rect{1700, 1045, 30, 30};
    chevron.states.focusable = true;
    chevron.actions = {"press", "focus"};

    auto& tray_volume = nodes[15].data;
    tray_volume.stable_id = "SystemTrayIcon";
    tray_volume.bounds = Rect{1740, 1045, 30, 30};
    tray_volume.states.focusable = true;
    tray_volume.actions = {"press", "focus"};

    nodes[16].data.stable_id = "Progman";
    return nodes;
}

}  // namespace

MockProvider::MockProvider(std::vector<MockNode> nodes) : nodes_(std::move(nodes)) {
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].data.role == Role::Application && !nodes_[i].closed) open_apps_.push_back(i);
}

// ---- Log -----------------------------------------------------------------------------------

std::vector<MockAction> MockProvider::actions() const {
    std::lock_guard lock(log_mutex_);
    return log_;
}

void MockProvider::clear_actions() const {
    std::lock_guard lock(log_mutex_);
    log_.clear();
}

Result<void> MockProvider::record(const ElementData& element, std::string_view action,
                                  std::optional<std::string> value) const {
    {
        std::lock_guard lock(nodes_mutex_);
        auto index = node_index(nodes_, element.handle);
        if (index && nodes_[*index].closed)
            return platform_error(fmt::format(fmt::runtime(kClosedElement), element.handle));
    }
    std::lock_guard lock(log_mutex_);
    log_.push_back(MockAction{element.handle, std::string(action), std::move(value)});
    return {};
}

Result<void> MockProvider::live_window(const ElementData& element) const {
    std::lock_guard lock(nodes_mutex_);
    auto index = node_index(nodes_, element.handle);
    if (!index) return platform_error(fmt::format(fmt::runtime(kStaleWindow), element.handle));
    if (nodes_[*index].closed)
        return platform_error(fmt::format(fmt::runtime(kClosedWindow), element.handle));
    return {};
}

// ---- Tree and applications -----------------------------------------------------------------

std::optional<ElementData> MockProvider::node_data(std::size_t index) const {
    std::lock_guard lock(nodes_mutex_);
    if (index >= nodes_.size()) return std::nullopt;
    return nodes_[index].data;
}

Result<ElementList> MockProvider::get_children(const ElementData* parent) const {
    std::lock_guard lock(nodes_mutex_);
    ElementList out;
    if (!parent) {
        if (!nodes_.empty()) out.push_back(nodes_[0].data);
        return out;
    }
    auto index = node_index(nodes_, parent->handle);
    if (!index || nodes_[*index].closed) return out;
    const MockNode& node = nodes_[*index];
    out.reserve(node.children.size());
    for (std::size_t c : node.children)
        if (!nodes_[c].closed) out.push_back(nodes_[c].data);
    return out;
}

Result<std::optional<ElementData>> MockProvider::get_parent(const ElementData& element) const {
    std::lock_guard lock(nodes_mutex_);
    auto index = node_index(nodes_, element.handle);
    if (!index || nodes_[*index].closed || !nodes_[*index].parent)
        return std::optional<ElementData>{};
    // A closed parent is still reported: only the element itself must be live.
    return std::optional<ElementData>{nodes_[*nodes_[*index].parent].data};
}

Result<ElementList> MockProvider::list_apps() const {
    std::lock_guard lock(nodes_mutex_);
    ElementList out;
    out.reserve(open_apps_.size());
    for (std::size_t i : open_apps_) out.push_back(nodes_[i].data);
    return out;
}

Result<ElementList> MockProvider::app_roots(const ElementData& app) const {
    if (!app.pid) return ElementList{app};
    auto apps = VEMOR_TRY(list_apps());
    std::erase_if(apps, [&](const ElementData& e) { return e.pid != app.pid; });
    return apps;
}

Result<ElementData> MockProvider::app_by_pid(std::uint32_t pid) const {
    auto apps = VEMOR_TRY(list_apps());
    std::size_t without_pid = 0;
    for (auto& e : apps) {
        if (e.pid == pid) return std::move(e);
        if (!e.pid) ++without_pid;
    }
    Error error = Error::SelectorNotMatched{fmt::format("application[pid={}]", pid), {}};
    return fail(Error::diagnose(
        std::move(error),
        Diagnosis{}.with_last_observed(fmt::format(
            "enumerated {} running apps, {} without a resolvable pid", apps.size(), without_pid))));
}

Result<ElementData> MockProvider::focused_app() const {
    auto app = node_data(0);
    if (!app) return fail(Error::Platform{-1, "MockProvider has no nodes"});
    return std::move(*app);
}

Result<std::vector<std::pair<ShellSurfaceKind, ElementData>>> MockProvider::list_shell_surfaces()
    const {
    std::vector<std::pair<ShellSurfaceKind, ElementData>> out;
    if (auto taskbar = node_data(kTaskbarNode))
        out.emplace_back(ShellSurfaceKind::Taskbar, std::move(*taskbar));
    if (auto desktop = node_data(kDesktopNode))
        out.emplace_back(ShellSurfaceKind::Desktop, std::move(*desktop));
    return out;
}

namespace {

// The node list lent to the search, as `get_children` lists it: the first node alone at the top
// level, a closed node without children, closed children left out. A child's key is its
// position.
class LentNodes final : public selector::LentTree {
  public:
    LentNodes(const std::vector<MockNode>& nodes, const std::vector<std::size_t>& offsets,
              const std::vector<selector::LentChild>& kids)
        : nodes_(nodes), offsets_(offsets), kids_(kids) {
        if (!nodes_.empty()) top_ = selector::LentChild{&nodes_[0].data, 0};
    }

    std::span<const selector::LentChild> children_of(const ElementData* parent) const override {
        if (!parent) return nodes_.empty() ? std::span<const selector::LentChild>() : std::span(&top_, 1);
        auto index = node_index(nodes_, parent->handle);
        if (!index) return {};
        return children(*index);
    }

    std::span<const selector::LentChild> children(std::size_t key) const override {
        return std::span(kids_).subspan(offsets_[key], offsets_[key + 1] - offsets_[key]);
    }

  private:
    const std::vector<MockNode>& nodes_;
    const std::vector<std::size_t>& offsets_;
    const std::vector<selector::LentChild>& kids_;
    selector::LentChild top_;
};

}  // namespace

// The search reads the node list in place, under the node lock, and copies only the matches.
Result<ElementList> MockProvider::find_elements_group(
    const ElementData* root, const SelectorGroup& group, std::optional<std::size_t> limit,
    std::optional<std::uint32_t> max_depth) const {
    std::lock_guard lock(nodes_mutex_);
    if (!child_index_) {
        ChildIndex index;
        index.offsets.reserve(nodes_.size() + 1);
        for (const MockNode& node : nodes_) {
            index.offsets.push_back(index.kids.size());
            if (node.closed) continue;
            for (std::size_t c : node.children)
                if (!nodes_[c].closed) index.kids.push_back({&nodes_[c].data, c});
        }
        index.offsets.push_back(index.kids.size());
        child_index_ = std::move(index);
    }
    const LentNodes lent(nodes_, child_index_->offsets, child_index_->kids);
    return selector::find_elements_in_lent_tree(lent, root, group, limit, max_depth);
}

// ---- Element actions -----------------------------------------------------------------------

#define VEMOR_MOCK_RECORDED_OP(op)                              \
    Result<void> MockProvider::op(const ElementData& e) const { \
        return record(e, #op, std::nullopt);                    \
    }

VEMOR_MOCK_RECORDED_OP(press)
VEMOR_MOCK_RECORDED_OP(focus)
VEMOR_MOCK_RECORDED_OP(blur)
VEMOR_MOCK_RECORDED_OP(toggle)
VEMOR_MOCK_RECORDED_OP(select)
VEMOR_MOCK_RECORDED_OP(expand)
VEMOR_MOCK_RECORDED_OP(collapse)
VEMOR_MOCK_RECORDED_OP(show_menu)
VEMOR_MOCK_RECORDED_OP(increment)
VEMOR_MOCK_RECORDED_OP(decrement)
VEMOR_MOCK_RECORDED_OP(scroll_into_view)

#undef VEMOR_MOCK_RECORDED_OP

Result<void> MockProvider::set_value(const ElementData& e, std::string_view value) const {
    return record(e, "set_value", std::string(value));
}

Result<void> MockProvider::set_numeric_value(const ElementData& e, double value) const {
    return record(e, "set_numeric_value", text::float_display(value));
}

Result<void> MockProvider::type_text(const ElementData& e, std::string_view text) const {
    return record(e, "type_text", std::string(text));
}

Result<void> MockProvider::set_text_selection(const ElementData& e, std::uint32_t start,
                                              std::uint32_t end) const {
    return record(e, "set_text_selection", fmt::format("{}..{}", start, end));
}

Result<void> MockProvider::perform_action(const ElementData& e, std::string_view action) const {
    if (action == "close") return close(e);
    if (action == "restore") return restore(e);
    if (action == "minimize") return minimize(e);
    if (action == "maximize") return maximize(e);
    if (action == "enter_fullscreen") return enter_fullscreen(e);
    if (action == "activate") return activate(e);
    if (action == "move_to")
        return fail(Error::InvalidActionData{std::string(kMoveToNeedsCoordinates)});
    if (action == "resize_to")
        return fail(Error::InvalidActionData{std::string(kResizeToNeedsDimensions)});
    // The mock does not check that the element advertises the action.
    return record(e, action, std::nullopt);
}

// ---- Window operations ---------------------------------------------------------------------

// The check, the change and the log entry are three critical sections: concurrent calls may
// interleave between them, but each sees a consistent node list.
template <class Change>
Result<void> MockProvider::window_op(const ElementData& e, std::string_view action,
                                     std::optional<std::string> value, Change change) const {
    VEMOR_TRY_VOID(live_window(e));
    {
        std::lock_guard lock(nodes_mutex_);
        auto index = node_index(nodes_, e.handle);
        // Closed by another thread since the check: refuse rather than change a closed node.
        if (index && nodes_[*index].closed)
            return platform_error(fmt::format(fmt::runtime(kClosedWindow), e.handle));
        if (index) change(nodes_[*index].data);
    }
    return record(e, action, std::move(value));
}

Result<void> MockProvider::activate(const ElementData& e) const {
    return window_op(e, "activate", std::nullopt, [](ElementData&) {});
}

Result<void> MockProvider::minimize(const ElementData& e) const {
    return window_op(e, "minimize", std::nullopt, [](ElementData& d) {
        d.states.minimized = true;
        d.states.maximized = false;
        d.states.fullscreen = false;
        d.states.visible = false;
    });
}

Result<void> MockProvider::maximize(const ElementData& e) const {
    return window_op(e, "maximize", std::nullopt, [](ElementData& d) {
        d.states.minimized = false;
        d.states.maximized = true;
        d.states.visible = true;
    });
}

Result<void> MockProvider::enter_fullscreen(const ElementData& e) const {
    return window_op(e, "enter_fullscreen", std::nullopt, [](ElementData& d) {
        d.states.fullscreen = true;
        d.states.minimized = false;
        d.states.maximized = false;
        d.states.visible = true;
    });
}

Result<void> MockProvider::restore(const ElementData& e) const {
    return window_op(e, "restore", std::nullopt, [](ElementData& d) {
        d.states.minimized = false;
        d.states.maximized = false;
        d.states.fullscreen = false;
        d.states.visible = true;
    });
}

Result<void> MockProvider::move_to(const ElementData& e, std::int32_t x, std::int32_t y) const {
    return window_op(e, "move_to", fmt::format("{},{}", x, y), [x, y](ElementData& d) {
        if (d.bounds) {
            d.bounds->x = x;
            d.bounds->y = y;
        }
    });
}

Result<void> MockProvider::resize_to(const ElementData& e, std::uint32_t width,
                                     std::uint32_t height) const {
    return window_op(e, "resize_to", fmt::format("{}x{}", width, height),
                     [width, height](ElementData& d) {
                         if (d.bounds) {
                             d.bounds->width = width;
                             d.bounds->height = height;
                         }
                     });
}

// Logged before the change, so that a refused log entry leaves the window open.
Result<void> MockProvider::close(const ElementData& e) const {
    VEMOR_TRY_VOID(live_window(e));
    VEMOR_TRY_VOID(record(e, "close", std::nullopt));
    std::lock_guard lock(nodes_mutex_);
    auto index = node_index(nodes_, e.handle);
    if (!index) return {};
    child_index_.reset();
    nodes_[*index].data.states.visible = false;
    std::vector<std::size_t> stack{*index};
    bool closed_app = false;
    while (!stack.empty()) {
        const std::size_t i = stack.back();
        stack.pop_back();
        nodes_[i].closed = true;
        closed_app = closed_app || nodes_[i].data.role == Role::Application;
        stack.insert(stack.end(), nodes_[i].children.begin(), nodes_[i].children.end());
    }
    if (closed_app) std::erase_if(open_apps_, [&](std::size_t i) { return nodes_[i].closed; });
    return {};
}

Result<Subscription> MockProvider::subscribe(const ElementData&) const {
    return platform_error(std::string(kNoSubscribe));
}

// ---- Builders ------------------------------------------------------------------------------

namespace mock {

std::shared_ptr<MockProvider> build_provider() {
    return std::make_shared<MockProvider>(fixture_nodes());
}

std::shared_ptr<MockProvider> build_split_provider() {
    std::vector<MockNode> nodes = fixture_nodes();

    MockNode app = nodes[0];
    app.data.stable_id = "second-app-root";
    app.data.handle = 18;
    app.parent.reset();
    app.children = {19};

    MockNode window = nodes[1];
    window.data.name = "Second Window";
    window.data.stable_id = "second-window";
    window.data.handle = 19;
    window.parent = 18;
    window.children.clear();

    nodes.push_back(std::move(app));
    nodes.push_back(std::move(window));
    return std::make_shared<MockProvider>(std::move(nodes));
}

Subscription disconnected_subscription() {
    auto channel = Channel<Event>::make();
    // Dropping the only sender disconnects the channel before anyone receives.
    { auto sender = std::move(channel.first); }
    return Subscription(EventReceiver(std::move(channel.second)), CancelHandle{});
}

}  // namespace mock
}  // namespace vemor
