#include "vemor/macos/provider.hpp"

#include <fmt/format.h>

#include <charconv>
#include <limits>
#include <unordered_set>

#include "pool.hpp"
#include "vemor/macos/shim.hpp"
#include "vemor/macos/snapshot.hpp"
#include "vemor/text.hpp"

namespace vemor {

// ---- Permissions and the OS version ---------------------------------------------------------

namespace ax {

std::uint32_t parse_major_version(std::string_view version_text) {
    std::string_view t = text::trim(version_text);
    t = t.substr(0, t.find('.'));
    if (t.starts_with('+')) t.remove_prefix(1);
    if (t.empty()) return 0;
    std::uint32_t major = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), major);
    if (ec != std::errc() || end != t.data() + t.size()) return 0;
    return major;
}

std::uint32_t read_macos_major_version() {
    char buffer[256];
    if (!safe_sysctl_os_product_version(buffer, sizeof buffer)) return 0;
    // The platform hands bytes, not necessarily UTF-8: decode defensively, as a reader of the
    // command's output would.
    return parse_major_version(text::encode_utf8(text::decode_utf8(buffer)));
}

std::uint32_t macos_major_version() {
    // Read once per process; concurrent first callers wait for the one reading.
    static const std::uint32_t VERSION = read_macos_major_version();
    return VERSION;
}

std::string accessibility_grant_instructions_for(std::uint32_t major_version) {
    // macOS 27 renamed the pane.
    return fmt::format("Enable Accessibility in System Settings → {}",
                       major_version >= 27 ? "Privacy & Security → Device Control and Data Access"
                                           : "Privacy & Security → Accessibility");
}

std::string accessibility_grant_instructions() {
    return accessibility_grant_instructions_for(macos_major_version());
}

}  // namespace ax

namespace {

constexpr std::string_view kScreenRecordingInstructions =
    "Enable Screen Recording in System Settings → Privacy & Security → Screen & System Audio "
    "Recording.\nOn macOS 26+, this is required to read window content via the accessibility "
    "API.";

// The process-wide handle counter, shared by every provider: handles start at 1 and are never
// handed out twice in a process (0 marks a snapshot that is never cached).
std::atomic<std::uint64_t> NEXT_HANDLE{1};

// The window-list entries (dictionaries) of every window on every layer; none when the list is
// unavailable.
std::optional<ax::CfRef> copy_window_list() {
    ax::CfRef list =
        ax::CfRef::adopt(safe_cg_window_list_copy(kCGWindowListOptionAll, kCGNullWindowID));
    if (!list || list.type_id() != safe_cf_array_get_type_id()) return std::nullopt;
    return list;
}

template <class Fn>
void for_each_window_entry(const ax::CfRef& list, Fn&& fn) {
    auto array = static_cast<CFArrayRef>(list.get());
    const CFTypeID dict_type = safe_cf_dictionary_get_type_id();
    const CFIndex count = safe_cf_array_get_count(array);
    for (CFIndex i = 0; i < count; ++i) {
        CFTypeRef entry = safe_cf_array_get_value(array, i);
        if (!entry || safe_cf_get_type_id(entry) != dict_type) continue;
        if (!fn(static_cast<CFDictionaryRef>(entry))) return;
    }
}

bool is_platform_code(const Error& e, std::initializer_list<std::int64_t> codes) {
    const auto* p = e.as<Error::Platform>();
    if (!p) return false;
    for (auto c : codes)
        if (p->code == c) return true;
    return false;
}

Error not_matched(std::string selector, std::string last_observed) {
    return Error::diagnose(Error::SelectorNotMatched{std::move(selector), std::nullopt},
                           Diagnosis{}.with_last_observed(std::move(last_observed)));
}

std::optional<std::string> owner_name_of(std::int32_t pid) {
    for (const auto& entry : MacOSProvider::list_gui_apps())
        if (entry.pid == pid) return entry.name;
    return std::nullopt;
}

}  // namespace

namespace macos {
std::uint64_t peek_next_handle() { return NEXT_HANDLE.load(); }
}  // namespace macos

Result<std::shared_ptr<MacOSProvider>> MacOSProvider::create() {
    if (!safe_ax_is_process_trusted())
        return fail(Error::PermissionDenied{ax::accessibility_grant_instructions()});
    if (!has_screen_recording_permission())
        return fail(Error::PermissionDenied{std::string(kScreenRecordingInstructions)});
    return std::shared_ptr<MacOSProvider>(new MacOSProvider());
}

// Without Screen Recording the window list still lists windows but hides every ordinary
// (layer 0) one's details; seeing a layer-0 entry at all is the platform's tell.
bool MacOSProvider::has_screen_recording_permission() {
    auto list = copy_window_list();
    if (!list) return false;
    bool found = false;
    for_each_window_entry(*list, [&](CFDictionaryRef entry) {
        CFTypeRef layer = safe_cf_dict_get_value(entry, kCGWindowLayer);
        // An unreadable number must not count as layer 0.
        found = ax::cf_number_i32(layer).value_or(-1) == 0;
        return !found;
    });
    return found;
}

std::vector<MacOSProvider::ProcessEntry> MacOSProvider::list_gui_apps() {
    std::vector<ProcessEntry> out;
    auto list = copy_window_list();
    if (!list) return out;
    std::unordered_set<std::int32_t> seen;
    for_each_window_entry(*list, [&](CFDictionaryRef entry) {
        CFTypeRef pid_value = safe_cf_dict_get_value(entry, kCGWindowOwnerPID);
        if (!pid_value) return true;
        const std::int32_t pid = ax::cf_number_i32(pid_value).value_or(0);
        if (pid <= 0) return true;
        // The first window entry of a process decides, whether or not it names the process.
        if (!seen.insert(pid).second) return true;
        auto name = ax::cf_string_text(safe_cf_dict_get_value(entry, kCGWindowOwnerName));
        if (name && !name->empty()) out.push_back({pid, std::move(*name)});
        return true;
    });
    return out;
}

// ---- Handles ------------------------------------------------------------------------------

Result<AXElement> MacOSProvider::get_cached(std::uint64_t handle) const {
    std::lock_guard lock(cache_mutex_);
    auto it = cache_.find(handle);
    if (it == cache_.end()) return fail(Error::ElementStale{fmt::format("handle:{}", handle)});
    return it->second;
}

Result<ElementData> MacOSProvider::build_element_data(const AXElement& element,
                                                      std::optional<std::uint32_t> pid) const {
    AXElement kept = element;
    const std::uint64_t handle = NEXT_HANDLE.fetch_add(1);
    AXElement replaced;
    {
        std::lock_guard lock(cache_mutex_);
        auto [it, inserted] = cache_.try_emplace(handle, kept);
        if (!inserted) replaced = std::exchange(it->second, kept);
    }
    // The entry stays even when the snapshot fails: the handle is never handed out again.
    return ax::build_snapshot_data(element, pid, handle);
}

std::size_t MacOSProvider::cached_count() const {
    std::lock_guard lock(cache_mutex_);
    return cache_.size();
}

// ---- Applications -------------------------------------------------------------------------

Result<ElementList> MacOSProvider::list_apps() const {
    ElementList apps;
    for (auto& [pid, name] : list_gui_apps()) {
        AXElement app = AXElement::adopt(safe_ax_create_application(pid));
        if (!app) continue;
        auto data = build_element_data(app, static_cast<std::uint32_t>(pid));
        if (!data) {
            // Processes that are gone, busy or without an accessibility bridge are not listed.
            if (is_platform_code(data.error(),
                                 {ax::kInvalidElement, ax::kCannotComplete, ax::kNotImplemented}))
                continue;
            return fail(std::move(data).error());
        }
        data->name = std::move(name);
        if (data->role == Role::Unknown) continue;
        data->role = Role::Application;
        apps.push_back(std::move(*data));
    }
    return apps;
}

Result<ElementData> MacOSProvider::app_by_pid(std::uint32_t pid) const {
    const std::string selector = fmt::format("application[pid={}]", pid);
    // Pid 0 is the kernel, and the platform takes pids as signed 32-bit numbers: a larger one
    // would reach it as a different, negative process id.
    if (pid == 0 || pid > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return fail(not_matched(selector, fmt::format("no process can have pid {}", pid)));
    const auto platform_pid = static_cast<pid_t>(pid);

    AXElement app = AXElement::adopt(safe_ax_create_application(platform_pid));
    if (!app) return fail(not_matched(selector, "AXUIElementCreateApplication returned NULL"));

    ax::AttrRead probe = ax::read_attr(app, "AXRole");
    if (probe.code == ax::kNoValue || probe.code == ax::kInvalidElement ||
        probe.code == ax::kCannotComplete || probe.code == ax::kNotImplemented)
        return fail(not_matched(selector,
                                fmt::format("AX attach probe returned AXError {}: process not yet "
                                            "AX-reachable, exited, or has no accessibility bridge",
                                            probe.code)));
    if (probe.code != 0)
        return fail(Error::Platform{
            probe.code,
            fmt::format("AXUIElementCopyAttributeValue(AXRole) failed while attaching to pid {}",
                        pid)});

    auto data = build_element_data(app, pid);
    if (!data) {
        if (is_platform_code(data.error(),
                             {ax::kInvalidElement, ax::kCannotComplete, ax::kNotImplemented}))
            return fail(not_matched(
                selector, fmt::format("the application stopped answering between the AX attach "
                                      "probe and its snapshot: {}",
                                      data.error().message())));
        return fail(std::move(data).error());
    }
    if (auto name = owner_name_of(platform_pid)) data->name = std::move(*name);
    return data;
}

Result<ElementData> MacOSProvider::focused_app() const {
    AXElement system = AXElement::adopt(safe_ax_create_system_wide());
    if (!system) return fail(Error::Platform{-1, "AXUIElementCreateSystemWide returned NULL"});
    ax::AttrRead focused = ax::read_attr(system, "AXFocusedApplication");
    if (focused.code != 0 || !focused.value ||
        focused.value.type_id() != safe_ax_ui_element_get_type_id())
        return fail(Error::SelectorNotMatched{"focused application", std::nullopt});
    AXElement app = AXElement::retain(static_cast<AXUIElementRef>(focused.value.get()));

    pid_t raw_pid = 0;
    std::optional<std::uint32_t> pid;
    if (safe_ax_get_pid(app.get(), &raw_pid) == 0 && raw_pid > 0)
        pid = static_cast<std::uint32_t>(raw_pid);
    auto data = VEMOR_TRY(build_element_data(app, pid));
    if (pid)
        if (auto name = owner_name_of(raw_pid)) data.name = std::move(*name);
    return data;
}

Result<ElementList> MacOSProvider::app_windows(const ElementData& app) const {
    return get_children(&app);
}

Result<ElementList> MacOSProvider::app_roots(const ElementData& app) const {
    return ElementList{app};
}

// ---- Navigation ---------------------------------------------------------------------------

Result<ElementList> MacOSProvider::get_children(const ElementData* parent) const {
    if (!parent) return list_apps();
    AXElement element = VEMOR_TRY(get_cached(parent->handle));
    std::vector<AXElement> children;
    if (parent->role == Role::Application)
        children = VEMOR_TRY(ax::ax_windows(element));
    else
        children = ax::ax_element_array(element, "AXChildren");

    std::vector<AXElement> kept;
    kept.reserve(children.size());
    for (auto& child : children) {
        const std::string role = ax::ax_string(child, "AXRole").value_or("");
        const auto subrole = ax::ax_string(child, "AXSubrole");
        if (!should_filter_child_with_role(
                parent->role, parent->name, role,
                subrole ? std::optional<std::string_view>(*subrole) : std::nullopt, child))
            kept.push_back(std::move(child));
    }

    // Each snapshot is several round trips to the application: take them in parallel, and
    // gather by position so that order and "first error wins" hold.
    std::vector<std::optional<Result<ElementData>>> results(kept.size());
    VEMOR_TRY_VOID(macos::try_parallel_each("get_children", kept.size(), [&](std::size_t i) {
        results[i].emplace(build_element_data(kept[i], parent->pid));
    }));

    ElementList out;
    out.reserve(results.size());
    for (auto& slot : results) {
        Result<ElementData>& r = *slot;
        if (r) {
            out.push_back(std::move(*r));
            continue;
        }
        // A child that vanished between listing and snapshot is simply gone.
        if (is_platform_code(r.error(), {ax::kInvalidElement})) continue;
        return fail(std::move(r).error());
    }
    return out;
}

Result<std::optional<ElementData>> MacOSProvider::get_parent(const ElementData& element) const {
    AXElement live = VEMOR_TRY(get_cached(element.handle));
    auto parent = ax::ax_attr(live, "AXParent");
    if (!parent || parent->type_id() != safe_ax_ui_element_get_type_id())
        return std::optional<ElementData>();
    AXElement parent_element = AXElement::retain(static_cast<AXUIElementRef>(parent->get()));
    return std::optional<ElementData>(VEMOR_TRY(build_element_data(parent_element, element.pid)));
}

}  // namespace vemor
