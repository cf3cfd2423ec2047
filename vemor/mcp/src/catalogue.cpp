#include "vemor/mcp/catalogue.hpp"

#include <algorithm>
#include <mutex>
#include <utility>

#include <fmt/format.h>

#include "vemor/config.hpp"
#include "vemor/facade/cli_error.hpp"
#include "vemor/facade/target.hpp"
#include "vemor/input.hpp"
#include "vemor/text.hpp"

namespace vemor::mcp::tools {

const std::string_view kActionsNote =
    R"txt(`actions` on an element lists the actions the application advertises through the platform's accessibility action interface. It is neither the set of verbs that `action` accepts nor a list of what the element can do: many elements support verbs they do not advertise, and an empty list rules nothing out. Choose the verb from the element's properties instead: `increment`, `decrement` and `set-numeric-value` for anything with a `numeric_value`; `set-value`, `type-text` and `select-text` for anything `editable`; `focus` for anything `focusable`; `toggle` for anything with a `checked` state; `expand` and `collapse` for anything that reports `expanded`. `press` applies to any control. A verb the element cannot perform comes back as an `action_not_supported` failure naming the verb and the element's role, so pick another rather than retrying. Window verbs apply to windows, and to dialogs that show a window capability.)txt";

const std::string_view kSelectorNote =
    R"txt(Roles are snake_case: `check_box`, `radio_button`, `text_field`, `static_text`, `list_item`, `menu_item`. Attribute filters always take a quoted value, as in `[name="OK"]`; there is no presence-only form such as `[name]`. Operators: `=` is exact and case-sensitive; `*=` (contains), `^=` (starts with) and `$=` (ends with) ignore case. Several filters on one element are ANDed: `button[name^="Save"][enabled="true"]`. A space is the descendant combinator (`window button` finds buttons anywhere inside a window), `>` the child combinator (`group > button` takes direct children only), and a comma unions clauses (`button[name="OK"], button[name="Cancel"]`). `:nth(n)` is the only pseudo-class: it picks the n-th match, 1-based, in document order, as in `radio_button:nth(2)`. States are matched as attributes: `checked` takes `on`, `off` or `mixed`; the boolean states (`enabled`, `visible`, `focused`, `selected`, `editable`, `focusable`, `expanded`) and the window states (`minimized`, `maximized`, `fullscreen`) take `true` or `false`. A window state the platform cannot report is absent rather than false, so `[minimized="false"]` does not match a window whose state is unknown. Matching reads the element's current properties, so a selector written from an old tree may need refreshing.)txt";

namespace {

constexpr std::string_view kAppDescription =
    R"txt(Application name, matched exactly and case-sensitively: not a substring, so the WinForms test application answers to `vemor-winforms-test-app` and not to `winforms`. Take the spelling from the `apps` tool rather than guessing, since an application often reports its interpreter or bundle name (a Qt application run under Python reports `python`). Give this, `pid`, or `shell`.)txt";

constexpr std::string_view kPidDescription =
    R"txt(Process id of the target application. Give this or `app`. Alongside `shell` it picks between surfaces of one kind: it is the only way to do so, and it cannot separate several surfaces owned by one process (two panel rows drawn by one panel process, say), which stay ambiguous and are refused rather than guessed at. A name given in `app` wins over this.)txt";

constexpr std::string_view kShellDescription =
    R"txt(Target an OS shell surface instead of an application: the taskbar, the desktop, a dock or panel, the menu bar, a process's status items, or an open flyout. Call `shell` first and pass one of the kinds it lists rather than guessing, spelled exactly as listed, in lower case. Reads and searches start at the surface's own element. Exclusive with `app`. When several surfaces of one kind are on screen (two panels, or the status items of several processes), add `pid` to pick one; otherwise the call fails as `ambiguous_shell_surface` and names the candidates. Which kinds exist depends on the platform: `menu_bar`, `status_items` and `dock` are macOS only, `taskbar` is Windows only, `panel` is Linux only, and `desktop` and `flyout` are macOS and Windows; `unknown` covers a surface the platform could not classify. A kind the platform cannot produce is not refused up front: it is looked for like any other and comes back as `no_match` after the wait, so read that as "not on this machine" rather than as a passing failure worth retrying.)txt";

constexpr std::string_view kShellToolDescription =
    R"txt(List the OS shell surfaces on screen: the taskbar, the desktop, docks and panels, the menu bar, per-process status items, and any open flyout. Each row gives the `kind` to pass as `shell` to `tree`, `find` and `action`, with the surface's `name` and its owning `pid`. Rows come in the platform's order; one process may own several surfaces, and several processes may each own one of the same kind, which is when `pid` is needed to pick. The listing is live: a flyout exists only while it is open, and a kind missing here is not on screen right now, which is a matter of scope and not a failure. Enumerating never opens, presses or focuses anything, so content that only appears behind a press has to be opened first: on Windows, for example, press the taskbar button named Show Hidden Icons with `action`, call `shell` again, and target the `flyout` it now lists.)txt";

constexpr std::string_view kWindowsToolDescription =
    R"txt(List the top-level windows of one application (give `app` or `pid`) or of every running application when neither is given. Each window is reported in the shape `find` returns: `name`, `bounds` and `center`, `states` and the advertised `actions`. Results are capped at `limit`, and `truncated` says whether more windows exist than were returned. An application whose windows cannot be enumerated (it is busy, has no accessibility support, or quit meanwhile) does not fail the call: it is skipped and reported as one line in `errors`, which is capped at the same limit and flagged by `errors_truncated`, and `count` covers only the windows listed. Windows reported by several entries of one process are listed once. The list is a snapshot: call again after acting to see the new state. Window states the platform cannot report (`minimized`, `maximized`, `fullscreen`) are omitted rather than guessed. To act on a window, pass it to `action` with a window verb: `activate`, `minimize`, `maximize`, `enter-fullscreen`, `restore`, `close`, `move-to` (needs `at` as X,Y) or `resize-to` (needs `size` as W,H). `maximize` zooms the window to fill the screen in its current space; `enter-fullscreen` gives it a full-screen space of its own. `restore` leaves all three states: it un-minimizes, un-maximizes and leaves full screen, whichever applies.)txt";

constexpr std::string_view kTreeToolDescription =
    R"txt(Read an application's accessibility tree: roles, names, values, states, screen bounds, and advertised actions. Use it before acting, to find the element and a selector for it, and again afterwards to confirm that the change took effect. Pass `shell` in place of `app` / `pid` to read an OS shell surface instead.)txt";

constexpr std::string_view kFindToolDescription =
    R"txt(Find elements matching a selector. Each match reports its `bounds` and `center` in screen coordinates (the coordinates the input and screenshot tools take), its `states` and its advertised actions. A selector that matches nothing comes back as a failure carrying the near-miss candidates that were in scope, so the selector can be corrected rather than guessed again.)txt";

constexpr std::string_view kActionToolTemplate =
    R"txt(Perform an accessibility action on an element. Prefer it over the mouse and keyboard tools: it calls the application's own accessibility action and works whatever the window position or focus. The selector must match exactly one element; a selector that matches several is refused as `ambiguous_selector` with the candidates listed, never applied to the first. The call auto-waits for a visible and enabled match (the window verbs and `scroll-into-view` wait only for enabled, so a minimized window can be restored); `restore` leaves minimized, maximized or fullscreen. The wait runs up to the default time-out, currently {}, which only the environment variable `{}` can change; a call that cannot succeed takes that long and returns a `timeout` failure, so no retry loop of your own is needed. `ok: true` means the application accepted the call, not that anything changed: read the tree again to confirm.

{})txt";

constexpr std::string_view kScreenshotToolTemplate =
    R"txt(Capture the screen, or a region of it, as a PNG. Take region coordinates from `find`. `annotate` draws a box over every element that each of its selectors matches; it needs a target (`app`, `pid` or `shell`), never crops the capture (only `x`/`y`/`width`/`height` crop), and gives no boxes for an application without an accessibility tree. A target without `annotate` is refused, since it would do nothing. Each box carries a tag made of its group letter and a 1-based number, and that number is the `:nth(n)` argument: every legend entry carries the finished selector that reaches its element again. With `annotate` the result gains `legend` (tag, group, index, selector, role, name, bounds, color), `omitted` (matches that could not be drawn, with reason no_bounds, zero_area or outside_capture) and `truncated`. At most {} elements are described in total, boxes and omissions together; the matches past the cap are counted in `truncated`.)txt";

constexpr std::string_view kEventsStartTemplate =
    R"txt(Start watching an application's accessibility events — focus moves, value and state changes, windows opening, selections, announcements. Returns a `subscription_id` to pass to `events_poll` and `events_stop`. Watching is per application, so there is no `shell` argument. Events are buffered from the moment this returns. Up to {} events are held; past that the oldest are evicted and counted. The handle is reclaimed after {} minutes without a poll, and a reclaimed handle then polls as `subscription_expired` (stopping it still succeeds). At most {} subscriptions may be open at once; another start is refused and names the open handles.)txt";

constexpr std::string_view kEventsPollTemplate =
    R"txt(Take buffered events from a subscription, oldest first. Returns at most `max` ({} by default) and by default does not block. Each event carries `kind`, `sequence`, `at_ms`, the `target` element in the shape `find` returns, and for `state_changed` also `state_flag` and `state_value`. `dropped` counts events evicted since the previous poll. `live: false` means the platform dropped the subscription; it is not a liveness check on the application. An event is a snapshot from when it fired, not the element's current state.)txt";

constexpr std::string_view kEventsStopDescription =
    R"txt(Close a subscription and release the underlying platform subscription. The result reports how many events it delivered, how many were dropped, and how many were still held (and are now discarded) when it closed. Stopping is worth doing rather than letting the handle expire: the platform keeps observing the application until the subscription ends.)txt";

constexpr std::string_view kFindSelectorDescription =
    R"txt(vemor selector, CSS-like. Examples: `button[name="OK"]`, `text_field[name*="Search"]`, `window > group button`, `check_box[checked="on"]`, `radio_button:nth(2)`, `button[name="OK"], button[name="Cancel"]`.)txt";

constexpr std::string_view kActionSelectorDescription =
    R"txt(Selector for the element to act on. It must match exactly one element: several matches are refused with `ambiguous_selector` and the list of matches, so narrow it with an attribute filter or `:nth(n)`. Examples: `button[name="Save As"]`, `text_field[name="Search"]`, `check_box[checked="off"]`, `radio_button:nth(2)`, `window[name="Settings"]`.)txt";

constexpr std::string_view kAnnotateDescription =
    R"txt(Selectors to draw onto the capture, one annotation group per entry and in order: the first selector is group `A`, the second `B`. Every element a selector matches gets an outlined box in its group's colour, a tag, and one `legend` entry. It needs a target (`app`, `pid` or `shell`); omit it for a plain capture that reads no accessibility tree. Each entry must be a non-empty selector.)txt";

constexpr std::string_view kKindsDescription =
    R"txt(Kinds to buffer, e.g. ["focus_changed", "value_changed"]. Omit it to receive every kind. Filtering happens before buffering, so on a chatty application it keeps the events you want from being evicted by the ones you do not.)txt";

constexpr std::string_view kPollTimeoutDescription =
    R"txt(How long to wait for the first event when the buffer is empty. The default, 0, drains whatever has arrived and returns at once. A blocking poll returns as soon as one event lands, without waiting for more; while it waits it blocks every other tool call of this server, so keep it short and prefer polling again after your next action. Values above 15000 are refused.)txt";

constexpr std::string_view kKeyDescription =
    R"txt(Key to press: a single character ("a", "7"), a named key ("Enter", "Tab", "Escape", "ArrowUp", "Home"), a function key ("F1" to "F24") or a modifier ("Shift", "Ctrl", "Alt", "Meta").)txt";

constexpr std::string_view kValueDescription =
    R"txt(Argument for actions that need one: the text for `set-value` and `type-text`, a number for `set-numeric-value` (e.g. "88", within the element's `min_value`..`max_value`), or `START,END` character offsets for `select-text`.)txt";

constexpr std::string_view kAtDescription =
    R"txt(`X,Y` desktop coordinates (physical pixels on Windows, logical points elsewhere) for `move-to`. Required for `move-to`; ignored otherwise.)txt";

constexpr std::string_view kSizeDescription =
    R"txt(`W,H` desktop dimensions (physical pixels on Windows, logical points elsewhere) for `resize-to`, both positive. Required for `resize-to`; ignored otherwise.)txt";

Json string_property(std::string description) {
    return Json{{"type", "string"}, {"description", std::move(description)}};
}

template <class Names>
Json choices(const Names& names) {
    Json out = Json::array();
    for (const auto& n : names) out.push_back(std::string(n));
    return out;
}

Json string_choice_property(Json allowed, std::string description) {
    return Json{{"type", "string"}, {"enum", std::move(allowed)}, {"description", std::move(description)}};
}

std::string with_note(std::string_view text, std::string_view note) {
    return fmt::format("{}\n\n{}", text, note);
}

Json no_arguments_schema() { return Json{{"type", "object"}, {"additionalProperties", false}}; }

Json region_property(std::string_view edge, const Bounds& bounds) {
    return bounds.property(fmt::format(
        "{} of the region to capture, in screen coordinates. Give all four to capture a region, "
        "or none to capture the whole screen.",
        edge));
}

Json button_choices() {
    Json out = Json::array();
    for (const auto& entry : mouse_button::kNames) out.push_back(std::string(entry.name));
    return out;
}

Json button_property(std::string_view lead) {
    return string_choice_property(button_choices(), fmt::format("{} Default \"left\".", lead));
}

}  // namespace

Json Bounds::property(std::string description) const {
    return Json{{"type", "integer"},
                {"minimum", minimum},
                {"maximum", maximum},
                {"description", std::move(description)}};
}

bool is_tool_name(std::string_view name) {
    return std::find(kToolNames.begin(), kToolNames.end(), name) != kToolNames.end();
}

Json tool(std::string_view name, std::string_view title, std::string description, Json schema) {
    return Json{{"name", std::string(name)},
                {"title", std::string(title)},
                {"description", std::move(description)},
                {"inputSchema", std::move(schema)}};
}

Json object_schema(Json properties, std::vector<std::string> required) {
    return Json{{"type", "object"},
                {"properties", std::move(properties)},
                {"required", std::move(required)},
                {"additionalProperties", false}};
}

Json held_property() {
    return Json{{"type", "array"},
                {"items", {{"type", "string"}}},
                {"description",
                 "Modifier keys held for the duration of the gesture, e.g. [\"Shift\", \"Meta\"]."}};
}

Json app_properties() {
    return Json{{"app", string_property(std::string(kAppDescription))},
                {"pid", kPid.property(std::string(kPidDescription))}};
}

Json app_target_properties() {
    Json props = app_properties();
    props["shell"] =
        string_choice_property(choices(cli::shell_kind_names()), std::string(kShellDescription));
    return props;
}

Json point_properties(std::string_view label) {
    return Json{{"x", kCoordinate.property(fmt::format("{} X, in screen coordinates.", label))},
                {"y", kCoordinate.property(fmt::format("{} Y, in screen coordinates.", label))}};
}

Json subscription_id_property() { return string_property("Handle returned by `events_start`."); }

std::string default_timeout_text() {
    Result<Duration> timeout = config::default_timeout();
    if (!timeout)
        return fmt::format("unresolvable ({}) — every action call will fail until it is fixed",
                           timeout.error().message());
    return text::duration_debug(*timeout);
}

std::string action_description() {
    return fmt::format(fmt::runtime(kActionToolTemplate), default_timeout_text(),
                       config::kTimeoutEnvVar, kActionsNote);
}

Json tool_definition(std::string_view name) {
    if (name == "apps")
        return tool(name, "List applications",
                    "List running applications with their process ids. Start here to find the "
                    "`app` or `pid` the other tools need.",
                    no_arguments_schema());
    if (name == "shell")
        return tool(name, "List OS shell surfaces", std::string(kShellToolDescription),
                    no_arguments_schema());
    if (name == "windows") {
        Json props = app_properties();
        props["limit"] =
            kListLimit.property(fmt::format("Maximum windows to return. Default {}.", kDefaultListLimit));
        return tool(name, "List top-level windows", std::string(kWindowsToolDescription),
                    object_schema(std::move(props), {}));
    }
    if (name == "tree") {
        Json props = app_target_properties();
        props["max_depth"] = kTreeDepth.property(fmt::format(
            "How deep to walk. Default {}. 0 returns the application node alone. Results are also "
            "capped at {} nodes; `truncated` in the result says whether either limit was hit.",
            kDefaultTreeDepth, kTreeNodeLimit));
        return tool(name, "Read accessibility tree", with_note(kTreeToolDescription, kActionsNote),
                    object_schema(std::move(props), {}));
    }
    if (name == "find") {
        Json props = app_target_properties();
        props["selector"] = string_property(with_note(kFindSelectorDescription, kSelectorNote));
        props["limit"] =
            kListLimit.property(fmt::format("Maximum matches to return. Default {}.", kDefaultListLimit));
        return tool(name, "Find elements", with_note(kFindToolDescription, kActionsNote),
                    object_schema(std::move(props), {"selector"}));
    }
    if (name == "action") {
        Json props = app_target_properties();
        props["action"] = string_choice_property(
            choices(cli::action_names()),
            "Accessibility action to perform. These require `value`: set-value, "
            "set-numeric-value, type-text, select-text. `move-to` requires `at` (X,Y) and "
            "`resize-to` requires `size` (W,H): the platform needs coordinates and cannot be told "
            "a feature off the action name alone.");
        props["selector"] = string_property(with_note(kActionSelectorDescription, kSelectorNote));
        props["value"] = string_property(std::string(kValueDescription));
        props["at"] = string_property(std::string(kAtDescription));
        props["size"] = string_property(std::string(kSizeDescription));
        return tool(name, "Perform accessibility action", action_description(),
                    object_schema(std::move(props), {"action", "selector"}));
    }
    if (name == "click") {
        Json props = point_properties("Screen coordinate to click.");
        props["button"] = button_property("Mouse button.");
        props["count"] = kClickCount.property("Consecutive clicks. 2 is a double-click. Default 1.");
        props["held"] = held_property();
        return tool(name, "Click",
                    "Click at a screen coordinate. Coordinates only: get them from `find`, which "
                    "reports each match's `center`.",
                    object_schema(std::move(props), {"x", "y"}));
    }
    if (name == "move")
        return tool(name, "Move pointer",
                    "Move the mouse pointer to a screen coordinate without pressing anything.",
                    object_schema(point_properties("Screen coordinate to move to."), {"x", "y"}));
    if (name == "drag") {
        Json props = Json::object();
        for (auto [key, label] : {std::pair{"from_x", "Starting X"}, std::pair{"from_y", "Starting Y"},
                                  std::pair{"to_x", "Ending X"}, std::pair{"to_y", "Ending Y"}})
            props[key] = kCoordinate.property(fmt::format("{}, in screen coordinates.", label));
        props["button"] = button_property("Mouse button held during the drag.");
        props["duration_ms"] = kDragDurationMs.property(
            "How long the drag takes, in milliseconds. Default 150. Slower drags are more "
            "reliable in applications that animate.");
        props["held"] = held_property();
        return tool(name, "Drag", "Press at one screen coordinate, move to another, and release.",
                    object_schema(std::move(props), {"from_x", "from_y", "to_x", "to_y"}));
    }
    if (name == "scroll") {
        Json props = point_properties("Screen coordinate to scroll over.");
        props["dx"] =
            kCoordinate.property("Horizontal scroll delta. Positive scrolls right. Default 0.");
        props["dy"] = kCoordinate.property("Vertical scroll delta. Positive scrolls down. Default 0.");
        return tool(name, "Scroll", "Scroll the wheel over a screen coordinate.",
                    object_schema(std::move(props), {"x", "y"}));
    }
    if (name == "key")
        return tool(name, "Press key",
                    "Press a key, optionally as a chord with modifiers held. Goes to whatever "
                    "currently has keyboard focus.",
                    object_schema(Json{{"key", string_property(std::string(kKeyDescription))},
                                       {"held", held_property()}},
                                  {"key"}));
    if (name == "type")
        return tool(name, "Type text",
                    "Type text into whatever currently has keyboard focus. To put text into a "
                    "specific field, prefer `action` with `set-value` or `type-text`, which "
                    "targets the element directly.",
                    object_schema(Json{{"text", string_property("Text to type.")}}, {"text"}));
    if (name == "screenshot") {
        Json props = app_target_properties();
        props["x"] = region_property("Left edge", kCoordinate);
        props["y"] = region_property("Top edge", kCoordinate);
        props["width"] = region_property("Width", kRegionSize);
        props["height"] = region_property("Height", kRegionSize);
        props["annotate"] = Json{{"type", "array"},
                                 {"items", {{"type", "string"}}},
                                 {"description", std::string(kAnnotateDescription)}};
        return tool(name, "Capture screenshot",
                    fmt::format(fmt::runtime(kScreenshotToolTemplate), kAnnotationCap),
                    object_schema(std::move(props), {}));
    }
    if (name == "events_start") {
        Json props{
            {"app", string_property("Application name, matched exactly and case-sensitively. Take "
                                    "the spelling from the `apps` tool rather than guessing it. "
                                    "Give this or `pid`.")},
            {"pid", kPid.property("Process id of the application to watch. Give this or `app`.")},
            {"kinds", Json{{"type", "array"},
                           {"items", {{"type", "string"}, {"enum", choices(cli::event_kind_names())}}},
                           {"description", std::string(kKindsDescription)}}},
        };
        return tool(name, "Start watching events",
                    fmt::format(fmt::runtime(kEventsStartTemplate), 1024, 5, 8),
                    object_schema(std::move(props), {}));
    }
    if (name == "events_poll") {
        Json props{
            {"subscription_id", subscription_id_property()},
            {"max", kListLimit.property(fmt::format(
                        "Most events to return in one call. Default {}. `buffered` in the result "
                        "says how many are still waiting and `truncated` says whether any were.",
                        kDefaultPollMax))},
            {"timeout_ms", kPollTimeoutMs.property(std::string(kPollTimeoutDescription))},
        };
        return tool(name, "Poll buffered events",
                    fmt::format(fmt::runtime(kEventsPollTemplate), kDefaultPollMax),
                    object_schema(std::move(props), {"subscription_id"}));
    }
    if (name == "events_stop")
        return tool(name, "Stop watching events", std::string(kEventsStopDescription),
                    object_schema(Json{{"subscription_id", subscription_id_property()}},
                                  {"subscription_id"}));
    return Json{{"name", std::string(name)},
                {"description", "internal error: tool has no definition"},
                {"inputSchema", {{"type", "object"}}}};
}

Json list_definitions() {
    Json out = Json::array();
    for (std::string_view name : kToolNames) out.push_back(tool_definition(name));
    return out;
}

std::shared_ptr<const std::string> list_definitions_text() {
    // Only the default time-out stated in the `action` description can change between listings,
    // so the text is built again only when that time-out's text differs from the last one built.
    struct Cache {
        std::mutex mutex;
        std::string built_for;
        std::shared_ptr<const std::string> built;
    };
    static auto& cache = *new Cache;
    std::string timeout = default_timeout_text();
    std::lock_guard lock(cache.mutex);
    if (!cache.built || timeout != cache.built_for) {
        cache.built = std::make_shared<const std::string>(json::dump(list_definitions()));
        cache.built_for = std::move(timeout);
    }
    return cache.built;
}

}  // namespace vemor::mcp::tools
