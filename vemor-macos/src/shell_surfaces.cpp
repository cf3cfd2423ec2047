#include "vemor/macos/shell_surfaces.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "pool.hpp"
#include "vemor/macos/provider.hpp"
#include "vemor/macos/shim.hpp"

namespace vemor {

namespace ax {

bool is_no_menu_bar_code(AXError code) {
    return is_absent_code(code) || code == kNotImplemented || code == kCannotComplete ||
           code == kInvalidElement;
}

bool is_desktop_description(std::string_view description) {
    constexpr std::string_view kDesktop = "desktop";
    if (description.size() != kDesktop.size()) return false;
    for (std::size_t i = 0; i < kDesktop.size(); ++i) {
        char c = description[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kDesktop[i]) return false;
    }
    return true;
}

void sort_surfaces_by_pid(SurfaceList& surfaces) {
    std::stable_sort(surfaces.begin(), surfaces.end(),
                     [](const auto& a, const auto& b) { return a.second.pid < b.second.pid; });
}

}  // namespace ax

namespace {

using ax::SurfaceList;
using Surface = std::pair<ShellSurfaceKind, ElementData>;

// Bounds every request made through the element for as long as it lives, then gives the
// element back its platform default.
class MessagingTimeout {
public:
    explicit MessagingTimeout(const AXElement& element)
        : element_(element),
          set_(safe_ax_set_messaging_timeout(element.get(), ax::kShellMessagingTimeout) == 0) {}
    ~MessagingTimeout() {
        if (set_) safe_ax_set_messaging_timeout(element_.get(), 0);
    }
    MessagingTimeout(const MessagingTimeout&) = delete;
    MessagingTimeout& operator=(const MessagingTimeout&) = delete;
    bool set() const { return set_; }

private:
    const AXElement& element_;
    const bool set_;
};

// An attribute whose value is an element; none for any other answer.
std::optional<AXElement> element_attr(const AXElement& element, std::string_view attribute) {
    auto value = ax::ax_attr(element, attribute);
    if (!value || value->type_id() != safe_ax_ui_element_get_type_id()) return std::nullopt;
    return AXElement::retain(static_cast<AXUIElementRef>(value->get()));
}

bool has_role(const AXElement& element, std::string_view role) {
    return ax::ax_string(element, "AXRole") == role;
}

const MacOSProvider::ProcessEntry* first_named(
    const std::vector<MacOSProvider::ProcessEntry>& processes, std::string_view name) {
    auto it = std::find_if(processes.begin(), processes.end(),
                           [&](const auto& p) { return p.name == name; });
    return it == processes.end() ? nullptr : &*it;
}

Result<std::optional<Surface>> frontmost_menu_bar(
    const MacOSProvider& provider, const std::vector<MacOSProvider::ProcessEntry>& processes) {
    AXElement system = AXElement::adopt(safe_ax_create_system_wide());
    if (!system) return fail(Error::Platform{-1, "AXUIElementCreateSystemWide returned NULL"});
    auto application = element_attr(system, "AXFocusedApplication");
    if (!application) return std::optional<Surface>();
    MessagingTimeout timeout(*application);
    if (!timeout.set()) return std::optional<Surface>();

    pid_t raw_pid = 0;
    std::optional<std::uint32_t> pid;
    if (safe_ax_get_pid(application->get(), &raw_pid) == 0 && raw_pid > 0)
        pid = static_cast<std::uint32_t>(raw_pid);

    ax::AttrRead read = ax::read_attr(*application, "AXMenuBar");
    if (read.code != 0 && !ax::is_no_menu_bar_code(read.code))
        return fail(Error::Platform{
            read.code,
            fmt::format("AXUIElementCopyAttributeValue(AXMenuBar) failed on the frontmost "
                        "application{}",
                        pid ? fmt::format(" (pid {})", *pid) : std::string())});
    if (read.code != 0 || !read.value || read.value.type_id() != safe_ax_ui_element_get_type_id())
        return std::optional<Surface>();

    const AXElement bar = AXElement::retain(static_cast<AXUIElementRef>(read.value.get()));
    ElementData data = VEMOR_TRY(provider.build_element_data(bar, pid));
    if (pid) {
        auto it = std::find_if(processes.begin(), processes.end(),
                               [&](const auto& p) { return p.pid == raw_pid; });
        if (it != processes.end()) data.name = it->name;
    }
    return std::optional<Surface>(Surface{ShellSurfaceKind::MenuBar, std::move(data)});
}

Result<std::optional<Surface>> dock_surface(
    const MacOSProvider& provider, const std::vector<MacOSProvider::ProcessEntry>& processes) {
    const auto* dock = first_named(processes, "Dock");
    if (!dock) return std::optional<Surface>();
    AXElement application = AXElement::adopt(safe_ax_create_application(dock->pid));
    if (!application) return std::optional<Surface>();
    MessagingTimeout timeout(application);
    if (!timeout.set()) return std::optional<Surface>();
    ElementData data =
        VEMOR_TRY(provider.build_element_data(application, static_cast<std::uint32_t>(dock->pid)));
    data.name = dock->name;
    return std::optional<Surface>(Surface{ShellSurfaceKind::Dock, std::move(data)});
}

// AXShownMenu and AXShownMenuUIElement: an array of menus or one menu.
void append_shown(const AXElement& candidate, std::string_view attribute,
                  std::vector<AXElement>& menus) {
    ax::AttrRead read = ax::read_attr(candidate, attribute);
    if (read.code != 0 || !read.value) return;
    if (read.value.type_id() == safe_cf_array_get_type_id()) {
        const CFTypeID element_type = safe_ax_ui_element_get_type_id();
        for (auto& menu : ax::element_entries(read.value.get()))
            if (safe_cf_get_type_id(menu.get()) == element_type) menus.push_back(std::move(menu));
        return;
    }
    // Only an element can be a menu; any other answer is malformed and skipped.
    if (read.value.type_id() == safe_ax_ui_element_get_type_id())
        menus.push_back(AXElement::retain(static_cast<AXUIElementRef>(read.value.get())));
}

}  // namespace

std::optional<Surface> MacOSProvider::status_item_surfaces(const ProcessEntry& process) const {
    try {
        AXElement application = AXElement::adopt(safe_ax_create_application(process.pid));
        if (!application) return std::nullopt;
        MessagingTimeout timeout(application);
        if (!timeout.set()) return std::nullopt;
        auto bar = element_attr(application, "AXExtrasMenuBar");
        if (!bar) return std::nullopt;
        auto data = build_element_data(*bar, static_cast<std::uint32_t>(process.pid));
        if (!data) {
            fmt::print(stderr, "status-item surface snapshot failed for pid {}: {}\n", process.pid,
                       data.error().debug());
            std::fflush(stderr);
            return std::nullopt;
        }
        data->name = process.name;
        return Surface{ShellSurfaceKind::StatusItems, std::move(*data)};
    } catch (...) {
        // A task on the shared pool must not throw; a process that cannot be read is skipped.
        return std::nullopt;
    }
}

Result<SurfaceList> MacOSProvider::shown_status_menu_surfaces(
    const SurfaceList& status_items) const {
    SurfaceList out;
    // Menus already listed: one reachable from several places is listed where first found.
    std::vector<AXElement> seen;
    for (const auto& [kind, item] : status_items) {
        const AXElement bar = VEMOR_TRY(get_cached(item.handle));
        std::vector<AXElement> candidates{bar};
        if (item.pid) {
            AXElement application =
                AXElement::adopt(safe_ax_create_application(static_cast<pid_t>(*item.pid)));
            if (application) candidates.push_back(std::move(application));
        }
        for (auto& child : ax::ax_element_array(bar, "AXChildren"))
            candidates.push_back(std::move(child));

        for (const AXElement& candidate : candidates) {
            MessagingTimeout timeout(candidate);
            if (!timeout.set()) continue;
            std::vector<AXElement> menus;
            for (auto& child : ax::ax_element_array(candidate, "AXVisibleChildren"))
                if (has_role(child, "AXMenu")) menus.push_back(std::move(child));
            // A menu among all the children counts only when it is on screen.
            for (auto& child : ax::ax_element_array(candidate, "AXChildren")) {
                if (!has_role(child, "AXMenu")) continue;
                const ElementData probe = VEMOR_TRY(build_element_data(child, item.pid));
                if (probe.states.visible && probe.bounds && probe.bounds->width != 0 &&
                    probe.bounds->height != 0)
                    menus.push_back(std::move(child));
            }
            append_shown(candidate, "AXShownMenu", menus);
            append_shown(candidate, "AXShownMenuUIElement", menus);

            for (AXElement& menu : menus) {
                if (std::any_of(seen.begin(), seen.end(),
                                [&](const AXElement& s) { return s.same_element(menu); }))
                    continue;
                ElementData data = VEMOR_TRY(build_element_data(menu, item.pid));
                data.name = item.name;
                seen.push_back(std::move(menu));
                out.emplace_back(ShellSurfaceKind::Flyout, std::move(data));
            }
        }
    }
    return out;
}

Result<std::optional<Surface>> MacOSProvider::desktop_surface(
    const std::vector<ProcessEntry>& processes) const {
    const auto* finder = first_named(processes, "Finder");
    if (!finder) return std::optional<Surface>();
    AXElement application = AXElement::adopt(safe_ax_create_application(finder->pid));
    if (!application) return std::optional<Surface>();
    MessagingTimeout timeout(application);
    if (!timeout.set()) return std::optional<Surface>();
    for (const AXElement& child : ax::ax_element_array(application, "AXChildren")) {
        if (!has_role(child, "AXScrollArea")) continue;
        auto description = ax::ax_string(child, "AXDescription");
        if (!description || !ax::is_desktop_description(*description)) continue;
        ElementData data =
            VEMOR_TRY(build_element_data(child, static_cast<std::uint32_t>(finder->pid)));
        return std::optional<Surface>(Surface{ShellSurfaceKind::Desktop, std::move(data)});
    }
    return std::optional<Surface>();
}

Result<SurfaceList> MacOSProvider::list_shell_surfaces() const {
    const std::vector<ProcessEntry> processes = list_gui_apps();
    if (processes.empty())
        return fail(Error::Platform{
            -1, "CGWindowListCopyWindowInfo listed no processes; cannot enumerate shell surfaces"});

    auto menu_bar = VEMOR_TRY(frontmost_menu_bar(*this, processes));

    // Every GUI process is asked for its status-item bar at once; the answers are put back in
    // pid order, whichever finished first.
    std::vector<std::optional<Surface>> found(processes.size());
    VEMOR_TRY_VOID(macos::try_parallel_each(
        "list_shell_surfaces", processes.size(),
        [&](std::size_t i) { found[i] = status_item_surfaces(processes[i]); }));
    SurfaceList status_items;
    for (auto& slot : found)
        if (slot) status_items.push_back(std::move(*slot));
    ax::sort_surfaces_by_pid(status_items);

    SurfaceList flyouts = VEMOR_TRY(shown_status_menu_surfaces(status_items));
    ax::sort_surfaces_by_pid(flyouts);

    SurfaceList out;
    if (menu_bar) out.push_back(std::move(*menu_bar));
    for (auto& s : status_items) out.push_back(std::move(s));
    if (auto dock = VEMOR_TRY(dock_surface(*this, processes))) out.push_back(std::move(*dock));
    if (auto desktop = VEMOR_TRY(desktop_surface(processes))) out.push_back(std::move(*desktop));
    for (auto& s : flyouts) out.push_back(std::move(s));
    return out;
}

}  // namespace vemor
