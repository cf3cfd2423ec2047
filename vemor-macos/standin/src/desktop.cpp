#include "desktop.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <thread>
#include <unordered_set>

#include <sys/prctl.h>

namespace vemor::standin {

namespace {

constexpr double kDefaultMessagingTimeout = 6.0;
constexpr std::size_t kCallLogLimit = 200000;

struct Pending {
    Value value;
    int reads_left = 0;
};

struct Node {
    ElementId id = 0;
    pid_t pid = 0;
    ElementId parent = 0;
    std::vector<ElementId> children;
    bool listed = true;
    std::map<std::string, Value> attrs;
    std::set<std::string> settable;
    std::vector<ActionSpec> actions;
    std::map<std::string, Pending> pending;
    std::map<std::string, std::optional<int>> delays;
    // A full-screen window's frame from before it went full screen.
    std::optional<CGRect> windowed_frame;
};

// An application's main thread as its requests see it: busy until the requests booked so far
// are served, one after the other in the order they arrived.
struct Server {
    std::mutex m;
    std::chrono::steady_clock::time_point busy_until{};
};

struct AppState {
    pid_t pid = 0;
    std::string name;
    ElementId root = 0;
    ElementId focused_window = 0;
    ElementId focused_element = 0;
    std::shared_ptr<Server> server = std::make_shared<Server>();
    AppLatency latency;
    bool accessible = true;
};

struct EntryState {
    WindowEntrySpec spec;
    ElementId window = 0;
    CGWindowID number = 0;
};

struct FaultState {
    Fault fault;
    int seen = 0;
};

struct State {
    std::unordered_map<ElementId, Node> nodes;
    std::map<pid_t, AppState> apps;
    std::vector<EntryState> window_list;
    std::vector<DisplayState> displays;
    pid_t focused_app = 0;
    bool trusted = true;
    std::optional<std::string> os_version;
    bool shareable = true;
    bool image = true;
    std::optional<std::string> shareable_error, image_error;
    std::vector<FaultState> faults;
    std::vector<LoggedCall> calls;
    std::deque<PostedEvent> events;  // the most recent kPostedEventsKept
    std::uint64_t events_dropped = 0;
    CGPoint pointer{0, 0};
    std::optional<CGPoint> pointer_read;  // set: reads of the pointer report this
    ElementId next_id = 1;
    CGWindowID next_window = 1;
    float global_timeout = 0;
    std::unordered_set<ObserverObject*> observers;
    // Every id that ever was an application's root element, with its pid. Never cleared: ids
    // are not reused, and references made before an install may still be compared and hashed.
    std::unordered_map<ElementId, pid_t> root_pids;
};

std::atomic<bool> g_any_fault{false};

void install_into(State& s, const DesktopSpec& spec);

State& state() {
    static State* s = [] {
        auto* st = new State;
        install_into(*st, default_desktop());
        return st;
    }();
    return *s;
}

using Lock = std::lock_guard<std::recursive_mutex>;

// --- Tree helpers (desktop mutex held) ------------------------------------------------------

Node* node_of(State& s, ElementId id) {
    auto it = s.nodes.find(id);
    return it == s.nodes.end() ? nullptr : &it->second;
}

const std::string* text_attr(const Node& n, const std::string& name) {
    auto it = n.attrs.find(name);
    return it == n.attrs.end() ? nullptr : it->second.get<std::string>();
}

std::string role_of(const Node& n) {
    const std::string* r = text_attr(n, "AXRole");
    return r != nullptr ? *r : std::string();
}

AppState* app_of(State& s, pid_t pid) {
    auto it = s.apps.find(pid);
    return it == s.apps.end() ? nullptr : &it->second;
}

bool is_app_root(State& s, const Node& n) {
    AppState* a = app_of(s, n.pid);
    return a != nullptr && a->root == n.id;
}

ElementId window_of(State& s, ElementId id) {
    for (Node* n = node_of(s, id); n != nullptr; n = node_of(s, n->parent)) {
        if (role_of(*n) == "AXWindow") return n->id;
    }
    return 0;
}

void walk(State& s, ElementId id, const std::function<bool(Node&)>& visit) {
    Node* n = node_of(s, id);
    if (n == nullptr || !visit(*n)) return;
    std::vector<ElementId> kids = n->children;
    for (ElementId k : kids) walk(s, k, visit);
}

std::optional<ElementId> find_identifier(State& s, pid_t pid, const std::string& ident) {
    std::optional<ElementId> found;
    for (auto& [p, app] : s.apps) {
        if (pid != 0 && p != pid) continue;
        walk(s, app.root, [&](Node& n) {
            if (found) return false;
            const std::string* v = text_attr(n, "AXIdentifier");
            if (v != nullptr && *v == ident) found = n.id;
            return !found;
        });
        if (found) break;
    }
    return found;
}

std::optional<double> number_of(const Value& v) {
    if (auto* i = v.get<std::int64_t>()) return static_cast<double>(*i);
    if (auto* d = v.get<double>()) return *d;
    if (auto* b = v.get<bool>()) return *b ? 1.0 : 0.0;
    return std::nullopt;
}

// A double as int64, saturating (the plain cast is undefined outside the range; NaN gives 0).
std::int64_t to_int64(double d) {
    if (std::isnan(d)) return 0;
    if (d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    if (d >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(d);
}

// A new reference to the element with this id (desktop mutex held).
ElementObject* new_element_object(State& s, ElementId id) {
    auto root = s.root_pids.find(id);
    const bool app_root = root != s.root_pids.end();
    Node* n = node_of(s, id);
    pid_t pid = n != nullptr ? n->pid : app_root ? root->second : 0;
    return new ElementObject(id, pid, false, app_root);
}

// --- Conversions between desktop values and platform objects -----------------------------------

CFTypeRef to_cf(State& s, const Value& v) {
    struct Visitor {
        State& s;
        CFTypeRef operator()(const NoValue&) const { return nullptr; }
        CFTypeRef operator()(bool b) const { return boolean_of(b); }
        CFTypeRef operator()(std::int64_t i) const { return make_number(i); }
        CFTypeRef operator()(double d) const { return make_number(d); }
        CFTypeRef operator()(const std::string& t) const { return make_string(t); }
        CFTypeRef operator()(const CGPoint& p) const {
            return make_ax_value(kAXValueCGPointType, &p);
        }
        CFTypeRef operator()(const CGSize& z) const {
            return make_ax_value(kAXValueCGSizeType, &z);
        }
        CFTypeRef operator()(const CGRect& r) const {
            return make_ax_value(kAXValueCGRectType, &r);
        }
        CFTypeRef operator()(const CFRange& r) const {
            return make_ax_value(kAXValueCFRangeType, &r);
        }
        CFTypeRef operator()(const ElementRef& e) const {
            return ref_of<AXUIElementRef>(new_element_object(s, e.id));
        }
        CFTypeRef operator()(const Link&) const { return nullptr; }
        CFTypeRef operator()(const Value::List& l) const {
            std::vector<CFTypeRef> items;
            for (const Value& x : l) {
                if (CFTypeRef c = std::visit(*this, x.v)) items.push_back(c);
            }
            return make_array(std::move(items));
        }
    };
    return std::visit(Visitor{s}, v.v);
}

std::optional<Value> from_cf(CFTypeRef ref) {
    if (ref == nullptr) return std::nullopt;
    if (auto* b = cast<BooleanObject>(ref)) return Value(b->value);
    if (auto* n = cast<NumberObject>(ref)) {
        return n->is_float() ? Value(n->float_value()) : Value(n->int_value());
    }
    if (auto* t = cast<StringObject>(ref)) return Value(t->utf8());
    if (auto* a = cast<AXValueObject>(ref)) {
        const auto* u = static_cast<const AXValueObject::Storage*>(a->data());
        switch (a->value_type()) {
            case kAXValueCGPointType:
                return Value(u->point);
            case kAXValueCGSizeType:
                return Value(u->size);
            case kAXValueCGRectType:
                return Value(u->rect);
            case kAXValueCFRangeType:
                return Value(u->range);
            default:
                return std::nullopt;
        }
    }
    if (auto* e = cast<ElementObject>(ref)) return Value(ElementRef{e->id});
    if (auto* arr = cast<ArrayObject>(ref)) {
        Value::List l;
        for (CFTypeRef x : arr->items()) {
            auto v = from_cf(x);
            if (!v) return std::nullopt;
            l.push_back(std::move(*v));
        }
        return Value(std::move(l));
    }
    return std::nullopt;
}

// --- Notifications -----------------------------------------------------------------------

void post(State& s, ElementId id, const std::string& notification) {
    Node* n = node_of(s, id);
    if (n == nullptr) return;
    pid_t pid = n->pid;
    AppState* app = app_of(s, pid);
    ElementId root = app != nullptr ? app->root : 0;
    // Collected first: queueing on a loop whose thread has ended releases the observer at once,
    // which may end it and change the observer set.
    std::vector<std::pair<RunLoopObject*, std::function<void(bool)>>> work;
    for (ObserverObject* obs : s.observers) {
        if (obs->pid != pid || obs->source->run_loops.empty()) continue;
        const ObserverObject::Registration* match = nullptr;
        for (const auto& r : obs->registrations) {
            if ((r.element == id || r.element == root) && r.notification == notification) {
                match = &r;
                break;
            }
        }
        if (match == nullptr) continue;
        for (RunLoopObject* rl : obs->source->run_loops) {
            if (!obs->try_retain()) break;
            auto* element = new_element_object(s, id);
            CFStringRef name = make_string(notification);
            void* refcon = match->refcon;
            work.emplace_back(rl, [obs, element, name, refcon](bool deliver) {
                if (deliver) {
                    obs->callback(ref_of<AXObserverRef>(obs), ref_of<AXUIElementRef>(element), name,
                                  refcon);
                }
                mutable_object_of(name)->release();
                element->release();
                obs->release();
            });
        }
    }
    for (auto& [rl, w] : work) rl->enqueue(std::move(w));
}

// --- Attribute model (desktop mutex held) ----------------------------------------------------

void commit(State& s, Node& n, const std::string& name, Value v);
void change_fullscreen_frame(State& s, Node& n, bool fullscreen);
std::optional<CGRect> frame_of(const Node& n);
bool contains(const CGRect& r, double x, double y);

bool is_window_role(const std::string& r) { return r == "AXWindow"; }

// Derived attributes: computed from the tree and the focus, not stored. Returns false when the
// attribute is not derived for this element.
bool derived(State& s, Node& n, const std::string& name, Value& out) {
    // Most reads are of stored attributes: only these names can be answered from the tree.
    // Never destroyed, like the desktop: threads still reading at process exit find it intact.
    static const auto& kDerived = *new std::unordered_set<std::string_view>{
        "AXChildren",          "AXVisibleChildren",  "AXParent",
        "AXWindows",           "AXFocusedWindow",    "AXMainWindow",
        "AXFocusedUIElement",  "AXFrontmost",        "AXWindow",
        "AXTopLevelUIElement", "AXCloseButton",      "AXMinimizeButton",
        "AXZoomButton",        "AXFullScreenButton", "AXMain",
        "AXSelectedChildren",  "AXMenuBar",          "AXFocused"};
    if (!kDerived.contains(name)) return false;
    const std::string role = role_of(n);
    const bool app_root = is_app_root(s, n);
    auto refs = [&](const std::function<bool(Node&)>& keep) {
        Value::List l;
        for (ElementId k : n.children) {
            Node* c = node_of(s, k);
            if (c != nullptr && c->listed && keep(*c)) l.push_back(Value(ElementRef{k}));
        }
        return Value(std::move(l));
    };
    if (name == "AXChildren") {
        if (n.attrs.count(name)) return false;
        out = refs([](Node&) { return true; });
        return true;
    }
    if (name == "AXVisibleChildren") {
        if (n.attrs.count(name)) return false;
        out = refs([](Node& c) {
            auto it = c.attrs.find("AXHidden");
            return it == c.attrs.end() || it->second != Value(true);
        });
        return true;
    }
    if (name == "AXParent") {
        out = app_root || n.parent == 0 ? Value() : Value(ElementRef{n.parent});
        return true;
    }
    if (app_root) {
        AppState* app = app_of(s, n.pid);
        // A value a test stored itself (no value, a malformed answer) overrides the tree's.
        if ((name == "AXWindows" || name == "AXFocusedWindow" || name == "AXMainWindow" ||
             name == "AXFocusedUIElement") &&
            n.attrs.count(name)) {
            return false;
        }
        if (name == "AXWindows") {
            out = refs([](Node& c) { return is_window_role(role_of(c)); });
            return true;
        }
        if (name == "AXFocusedWindow" || name == "AXMainWindow") {
            out = app->focused_window != 0 ? Value(ElementRef{app->focused_window}) : Value();
            return true;
        }
        if (name == "AXFocusedUIElement") {
            out = app->focused_element != 0 ? Value(ElementRef{app->focused_element}) : Value();
            return true;
        }
        if (name == "AXFrontmost") {
            out = Value(s.focused_app == n.pid);
            return true;
        }
        // The application's own menu bar: its first AXMenuBar child (an extras bar is unlisted).
        if (name == "AXMenuBar" && !n.attrs.count(name)) {
            for (ElementId k : n.children) {
                Node* c = node_of(s, k);
                if (c != nullptr && c->listed && role_of(*c) == "AXMenuBar") {
                    out = Value(ElementRef{k});
                    return true;
                }
            }
            return false;
        }
        return false;
    }
    if (name == "AXWindow" || name == "AXTopLevelUIElement") {
        ElementId w = window_of(s, n.parent);
        if (w == 0) return false;
        out = Value(ElementRef{w});
        return true;
    }
    if (is_window_role(role)) {
        static const auto& buttons = *new std::set<std::string>{
            "AXCloseButton", "AXMinimizeButton", "AXZoomButton", "AXFullScreenButton"};
        if (buttons.count(name) && !n.attrs.count(name)) {
            out = Value();
            for (ElementId k : n.children) {
                Node* c = node_of(s, k);
                const std::string* sub = c ? text_attr(*c, "AXSubrole") : nullptr;
                if (sub != nullptr && *sub == name) {
                    out = Value(ElementRef{k});
                    break;
                }
            }
            return true;
        }
        if (name == "AXMain") {
            out = Value(app_of(s, n.pid) && app_of(s, n.pid)->focused_window == n.id);
            return true;
        }
    }
    if (name == "AXFocused" && n.attrs.count(name)) {
        AppState* app = app_of(s, n.pid);
        out = Value(app != nullptr && app->focused_element == n.id);
        return true;
    }
    if (name == "AXSelectedChildren" && !n.attrs.count(name) &&
        (role == "AXList" || role == "AXOutline" || role == "AXTable")) {
        out = refs([](Node& c) {
            auto it = c.attrs.find("AXSelected");
            return it != c.attrs.end() && it->second == Value(true);
        });
        return true;
    }
    return false;
}

std::vector<std::string> attribute_names(State& s, Node& n) {
    std::vector<std::string> names;
    for (auto& [k, v] : n.attrs) names.push_back(k);
    static const char* kCandidates[] = {
        "AXChildren",          "AXVisibleChildren",  "AXParent",
        "AXWindows",           "AXFocusedWindow",    "AXMainWindow",
        "AXFocusedUIElement",  "AXFrontmost",        "AXWindow",
        "AXTopLevelUIElement", "AXCloseButton",      "AXMinimizeButton",
        "AXZoomButton",        "AXFullScreenButton", "AXMain",
        "AXSelectedChildren",  "AXMenuBar"};
    for (const char* c : kCandidates) {
        Value ignored;
        if (std::find(names.begin(), names.end(), c) == names.end() && derived(s, n, c, ignored)) {
            names.emplace_back(c);
        }
    }
    return names;
}

AXError read_attr(State& s, Node& n, const std::string& name, Value& out) {
    if (auto p = n.pending.find(name); p != n.pending.end()) {
        if (p->second.reads_left <= 0) {
            Value v = std::move(p->second.value);
            n.pending.erase(p);
            commit(s, n, name, std::move(v));
        } else {
            --p->second.reads_left;
        }
    }
    if (derived(s, n, name, out)) return out.is_none() ? kAXErrorNoValue : kAXErrorSuccess;
    auto it = n.attrs.find(name);
    if (it == n.attrs.end()) return kAXErrorAttributeUnsupported;
    out = it->second;
    return out.is_none() ? kAXErrorNoValue : kAXErrorSuccess;
}

bool attribute_known(State& s, Node& n, const std::string& name) {
    Value ignored;
    return n.attrs.count(name) > 0 || derived(s, n, name, ignored);
}

bool compatible(const Value& current, const Value& next) {
    if (next.is_none()) return false;
    if (current.is_none()) return true;
    if (current.get<bool>()) return next.get<bool>() != nullptr;
    if (number_of(current) && (current.get<std::int64_t>() || current.get<double>())) {
        return next.get<std::int64_t>() || next.get<double>();
    }
    return current.v.index() == next.v.index();
}

void move_subtree(State& s, Node& n, double dx, double dy) {
    for (ElementId k : n.children) {
        Node* c = node_of(s, k);
        if (c == nullptr) continue;
        auto it = c->attrs.find("AXPosition");
        if (it != c->attrs.end()) {
            if (auto* p = it->second.get<CGPoint>()) {
                it->second = Value(CGPoint{p->x + dx, p->y + dy});
            }
        }
        move_subtree(s, *c, dx, dy);
    }
}

void commit(State& s, Node& n, const std::string& name, Value v) {
    AppState* app = app_of(s, n.pid);
    auto store = [&](const char* notification) {
        Value& slot = n.attrs[name];
        bool changed = !(slot == v);
        slot = std::move(v);
        if (changed && notification != nullptr) post(s, n.id, notification);
    };
    if (name == "AXFocused") {
        if (app == nullptr) return;
        if (v == Value(true)) {
            app->focused_element = n.id;
            post(s, n.id, "AXFocusedUIElementChanged");
        } else if (app->focused_element == n.id) {
            app->focused_element = 0;
        }
        return;
    }
    if (name == "AXMain") {
        if (app != nullptr && v == Value(true)) {
            app->focused_window = n.id;
            post(s, n.id, "AXFocusedWindowChanged");
        }
        return;
    }
    if (name == "AXFrontmost" && is_app_root(s, n)) {
        if (v == Value(true)) {
            s.focused_app = n.pid;
            post(s, n.id, "AXApplicationActivated");
        } else if (s.focused_app == n.pid) {
            s.focused_app = 0;
        }
        return;
    }
    if (name == "AXValue") {
        if (auto d = number_of(v); d && !v.get<bool>()) {
            double lo = -INFINITY, hi = INFINITY;
            if (auto it = n.attrs.find("AXMinValue"); it != n.attrs.end()) {
                lo = number_of(it->second).value_or(lo);
            }
            if (auto it = n.attrs.find("AXMaxValue"); it != n.attrs.end()) {
                hi = number_of(it->second).value_or(hi);
            }
            if (*d < lo || *d > hi) {
                double c = std::clamp(*d, lo, hi);
                v = v.get<std::int64_t>() ? Value(to_int64(c)) : Value(c);
            }
        }
        store("AXValueChanged");
        return;
    }
    if (name == "AXSelectedText") {
        const std::string* text = v.get<std::string>();
        if (text == nullptr) return;
        std::u16string cur, ins;
        if (const std::string* old = text_attr(n, "AXValue")) utf8_to_utf16(*old, cur);
        utf8_to_utf16(*text, ins);
        CFRange r{static_cast<CFIndex>(cur.size()), 0};
        if (auto it = n.attrs.find("AXSelectedTextRange"); it != n.attrs.end()) {
            if (auto* rr = it->second.get<CFRange>()) r = *rr;
        }
        auto loc = static_cast<std::size_t>(std::clamp<CFIndex>(r.location, 0, cur.size()));
        auto len = static_cast<std::size_t>(
            std::clamp<CFIndex>(r.length, 0, static_cast<CFIndex>(cur.size() - loc)));
        cur.replace(loc, len, ins);
        n.attrs["AXValue"] = Value(utf16_to_utf8(cur));
        n.attrs["AXSelectedTextRange"] = Value(CFRange{static_cast<CFIndex>(loc + ins.size()), 0});
        post(s, n.id, "AXValueChanged");
        post(s, n.id, "AXSelectedTextChanged");
        return;
    }
    if (name == "AXSelectedTextRange") return store("AXSelectedTextChanged");
    if (name == "AXMinimized") {
        bool on = v == Value(true);
        // A full-screen window does not go to the Dock; the request is accepted and ignored.
        if (on && n.attrs.count("AXFullScreen") && n.attrs["AXFullScreen"] == Value(true)) return;
        return store(on ? "AXWindowMiniaturized" : "AXWindowDeminiaturized");
    }
    if (name == "AXFullScreen") {
        bool was = n.attrs.count(name) && n.attrs[name] == Value(true);
        store(nullptr);
        bool now = n.attrs[name] == Value(true);
        if (was != now) change_fullscreen_frame(s, n, now);
        return;
    }
    if (name == "AXPosition") {
        auto it = n.attrs.find(name);
        const CGPoint* old = it != n.attrs.end() ? it->second.get<CGPoint>() : nullptr;
        const CGPoint* now = v.get<CGPoint>();
        if (old != nullptr && now != nullptr) move_subtree(s, n, now->x - old->x, now->y - old->y);
        return store("AXMoved");
    }
    if (name == "AXSize") return store("AXResized");
    if (name == "AXTitle") return store("AXTitleChanged");
    if (name == "AXSelected") {
        bool changed = !(n.attrs[name] == v);
        n.attrs[name] = std::move(v);
        if (changed && n.parent != 0) post(s, n.parent, "AXSelectedChildrenChanged");
        return;
    }
    if (name == "AXExpanded") {
        bool on = v == Value(true);
        return store(on ? "AXRowExpanded" : "AXRowCollapsed");
    }
    store(nullptr);
}

// A window going full screen fills its display and gets its own frame back when it leaves;
// the moves post AXMoved and AXResized like any other.
void change_fullscreen_frame(State& s, Node& n, bool fullscreen) {
    std::optional<CGRect> target;
    if (fullscreen) {
        auto frame = frame_of(n);
        if (!frame || s.displays.empty()) return;
        n.windowed_frame = *frame;
        target = s.displays.front().spec.frame;
        for (const DisplayState& d : s.displays)
            if (contains(d.spec.frame, frame->origin.x, frame->origin.y)) target = d.spec.frame;
    } else {
        target = std::exchange(n.windowed_frame, std::nullopt);
    }
    if (!target) return;
    commit(s, n, "AXPosition", Value(target->origin));
    commit(s, n, "AXSize", Value(target->size));
}

// The selection an application makes of a requested range in its text: none (refused) for a
// negative location or length, else the range cut to the text. Elements without text keep the
// range as given.
std::optional<Value> text_range_within(const Node& n, const Value& requested) {
    const CFRange* r = requested.get<CFRange>();
    const std::string* text = text_attr(n, "AXValue");
    if (r == nullptr || text == nullptr) return requested;
    if (r->location < 0 || r->length < 0) return std::nullopt;
    std::u16string units;
    utf8_to_utf16(*text, units);
    const auto size = static_cast<CFIndex>(units.size());
    CFIndex location = std::min(r->location, size);
    CFIndex length = std::min(r->length, size - location);
    return Value(CFRange{location, length});
}

AXError write_attr(State& s, Node& n, const std::string& name, const Value& v) {
    if (!attribute_known(s, n, name)) return kAXErrorAttributeUnsupported;
    if (!n.settable.count(name)) return kAXErrorActionUnsupported;
    // Asking again for the change already under way does not start it over.
    if (auto p = n.pending.find(name); p != n.pending.end() && p->second.value == v)
        return kAXErrorSuccess;
    Value current;
    read_attr(s, n, name, current);
    if (name == "AXFocused" || name == "AXMain" || name == "AXFrontmost") current = Value(false);
    if (!compatible(current, v)) return kAXErrorIllegalArgument;
    if (name == "AXSelectedTextRange") {
        std::optional<Value> range = text_range_within(n, v);
        if (!range) return kAXErrorIllegalArgument;
        if (!(*range == v)) return write_attr(s, n, name, *range);
    }
    if (auto d = n.delays.find(name); d != n.delays.end()) {
        if (!d->second) return kAXErrorSuccess;  // accepted, never takes effect
        if (*d->second > 0) {
            n.pending[name] = Pending{v, *d->second};
            return kAXErrorSuccess;
        }
    }
    n.pending.erase(name);
    commit(s, n, name, v);
    return kAXErrorSuccess;
}

void destroy(State& s, ElementId id);

AXError perform(State& s, Node& n, const std::string& action) {
    auto it = std::find_if(n.actions.begin(), n.actions.end(),
                           [&](const ActionSpec& a) { return a.name == action; });
    if (it == n.actions.end()) return kAXErrorActionUnsupported;
    const Effect effect = it->effect;
    const ElementId id = n.id;
    const pid_t pid = n.pid;
    auto number_value = [&](Node& x) {
        auto v = x.attrs.find("AXValue");
        return v == x.attrs.end() ? 0.0 : number_of(v->second).value_or(0.0);
    };
    auto window_node = [&]() -> Node* {
        ElementId w = window_of(s, id);
        return w ? node_of(s, w) : nullptr;
    };
    switch (effect.kind) {
        case Effect::Kind::None:
            break;
        case Effect::Kind::Toggle:
            commit(s, n, "AXValue", Value(std::int64_t{number_value(n) != 0 ? 0 : 1}));
            break;
        case Effect::Kind::Choose: {
            if (Node* parent = node_of(s, n.parent)) {
                std::vector<ElementId> siblings = parent->children;
                for (ElementId k : siblings) {
                    Node* c = node_of(s, k);
                    if (c != nullptr && k != id && role_of(*c) == "AXRadioButton" &&
                        number_value(*c) != 0) {
                        commit(s, *c, "AXValue", Value(std::int64_t{0}));
                    }
                }
            }
            if (Node* self = node_of(s, id)) commit(s, *self, "AXValue", Value(std::int64_t{1}));
            break;
        }
        case Effect::Kind::Increment:
        case Effect::Kind::Decrement: {
            double step = effect.kind == Effect::Kind::Increment ? effect.step : -effect.step;
            auto v = n.attrs.find("AXValue");
            bool integral = v != n.attrs.end() && v->second.get<std::int64_t>() != nullptr;
            double next = number_value(n) + step;
            commit(s, n, "AXValue", integral ? Value(to_int64(std::round(next))) : Value(next));
            break;
        }
        case Effect::Kind::Raise: {
            Node* w = window_node();
            AppState* app = app_of(s, pid);
            if (w != nullptr && app != nullptr) {
                app->focused_window = w->id;
                // Bring the window's entries to the front of the window list.
                std::stable_partition(s.window_list.begin(), s.window_list.end(),
                                      [&](const EntryState& e) { return e.window == w->id; });
                post(s, w->id, "AXFocusedWindowChanged");
            }
            break;
        }
        case Effect::Kind::CloseWindow:
            if (Node* w = window_node()) {
                ElementId wid = w->id;
                post(s, wid, "AXUIElementDestroyed");
                destroy(s, wid);
            }
            break;
        case Effect::Kind::MinimizeWindow:
            if (Node* w = window_node()) commit(s, *w, "AXMinimized", Value(true));
            break;
        case Effect::Kind::ZoomWindow:
            if (Node* w = window_node()) {
                auto f = w->attrs.find("AXFullScreen");
                bool on = f != w->attrs.end() && f->second == Value(true);
                commit(s, *w, "AXFullScreen", Value(!on));
            }
            break;
        case Effect::Kind::ShowMenu: {
            ElementId target = id;
            for (ElementId k : n.children) {
                Node* c = node_of(s, k);
                if (c != nullptr && role_of(*c) == "AXMenu") {
                    c->attrs["AXHidden"] = Value(false);
                    target = k;
                    break;
                }
            }
            post(s, target, "AXMenuOpened");
            break;
        }
        case Effect::Kind::CancelMenu:
            for (Node* m = &n; m != nullptr; m = node_of(s, m->parent)) {
                if (role_of(*m) == "AXMenu") {
                    m->attrs["AXHidden"] = Value(true);
                    post(s, m->id, "AXMenuClosed");
                    break;
                }
            }
            break;
        case Effect::Kind::SetAttribute: {
            std::optional<ElementId> target =
                effect.target.empty() ? std::optional(id) : find_identifier(s, pid, effect.target);
            if (Node* t = target ? node_of(s, *target) : nullptr) {
                commit(s, *t, effect.attribute, effect.value);
            }
            break;
        }
        case Effect::Kind::Notify:
            post(s, id, effect.notification);
            break;
    }
    return kAXErrorSuccess;
}

// --- Building and removing ---------------------------------------------------------------

void resolve_links(State& s, pid_t pid, Value& v) {
    if (auto* l = v.get<Link>()) {
        auto id = find_identifier(s, pid, l->identifier);
        v = id ? Value(ElementRef{*id}) : Value();
    } else if (auto* list = std::get_if<Value::List>(&v.v)) {
        for (Value& x : *list) resolve_links(s, pid, x);
    }
}

// The element's node without its children. Out of line: build recurses once per level, and its
// frames stay small.
[[gnu::noinline]] Node& add_node(State& s, const ElementSpec& spec, pid_t pid, ElementId parent) {
    const ElementId id = s.next_id++;
    Node& n = s.nodes[id];
    n.id = id;
    n.pid = pid;
    n.parent = parent;
    n.listed = spec.listed;
    n.attrs = spec.attributes;
    n.settable = spec.settable;
    n.actions = spec.actions;
    n.children.reserve(spec.children.size());
    return n;
}

ElementId build(State& s, const ElementSpec& spec, pid_t pid, ElementId parent) {
    const ElementId id = add_node(s, spec, pid, parent).id;
    for (const ElementSpec& c : spec.children) {
        const ElementId k = build(s, c, pid, id);
        s.nodes[id].children.push_back(k);
    }
    return id;
}

void resolve_app_links(State& s, AppState& app) {
    walk(s, app.root, [&](Node& n) {
        for (auto& [k, v] : n.attrs) resolve_links(s, app.pid, v);
        return true;
    });
}

std::vector<EntryState> entries_for(State& s, const AppState& app) {
    std::vector<EntryState> out;
    Node* root = node_of(s, app.root);
    if (root == nullptr) return out;
    for (ElementId k : root->children) {
        Node* c = node_of(s, k);
        if (c == nullptr || !is_window_role(role_of(*c))) continue;
        EntryState e;
        e.spec.pid = Value(static_cast<std::int64_t>(app.pid));
        e.spec.owner_name = Value(app.name);
        e.window = k;
        e.number = s.next_window++;
        out.push_back(std::move(e));
    }
    return out;
}

EntryState entry_from(State& s, const WindowEntrySpec& spec) {
    EntryState e;
    e.spec = spec;
    e.number = s.next_window++;
    if (spec.window) {
        pid_t pid = 0;
        if (auto d = number_of(spec.pid)) pid = static_cast<pid_t>(*d);
        if (auto id = find_identifier(s, pid, *spec.window)) e.window = *id;
    }
    return e;
}

AppState& add_app(State& s, const AppSpec& spec) {
    if (s.apps.count(spec.pid)) platform_crash("add_application: the pid is taken");
    AppState app;
    app.pid = spec.pid;
    app.name = spec.name;
    app.accessible = spec.accessible;
    app.latency = spec.latency;
    app.root = build(s, spec.element, spec.pid, 0);
    // The application element's defaults go on the built root: copying the description to
    // carry them would deep-copy the whole tree.
    Node& root = s.nodes[app.root];
    if (!root.attrs.count("AXRole")) root.attrs["AXRole"] = Value("AXApplication");
    if (!root.attrs.count("AXTitle")) root.attrs["AXTitle"] = Value(spec.name);
    root.settable.insert("AXFrontmost");
    s.root_pids[app.root] = spec.pid;
    AppState& stored = s.apps.emplace(spec.pid, std::move(app)).first->second;
    resolve_app_links(s, stored);
    // The first window is the focused one until a test or an action says otherwise.
    for (ElementId k : s.nodes[stored.root].children) {
        if (is_window_role(role_of(s.nodes[k]))) {
            stored.focused_window = k;
            break;
        }
    }
    if (spec.focused_element) {
        stored.focused_element = find_identifier(s, spec.pid, *spec.focused_element).value_or(0);
    }
    return stored;
}

void destroy(State& s, ElementId id) {
    Node* n = node_of(s, id);
    if (n == nullptr) return;
    if (Node* p = node_of(s, n->parent)) std::erase(p->children, id);
    std::vector<ElementId> doomed;
    walk(s, id, [&](Node& x) {
        doomed.push_back(x.id);
        return true;
    });
    for (ElementId d : doomed) {
        for (auto& [pid, app] : s.apps) {
            if (app.focused_window == d) app.focused_window = 0;
            if (app.focused_element == d) app.focused_element = 0;
        }
        std::erase_if(s.window_list, [&](const EntryState& e) { return e.window == d; });
        s.nodes.erase(d);
    }
}

void install_into(State& s, const DesktopSpec& spec) {
    s.nodes.clear();
    s.apps.clear();
    s.window_list.clear();
    s.faults.clear();
    g_any_fault = false;
    s.calls.clear();
    s.events.clear();
    s.events_dropped = 0;
    s.global_timeout = 0;
    for (ObserverObject* o : s.observers) o->registrations.clear();
    s.trusted = spec.trusted;
    s.os_version = spec.os_version;
    s.shareable = true;
    s.image = true;
    s.shareable_error.reset();
    s.image_error.reset();
    s.displays.clear();
    CGDirectDisplayID did = 1;
    for (const DisplaySpec& d : spec.displays) s.displays.push_back({did++, d});
    for (const AppSpec& a : spec.apps) add_app(s, a);
    if (spec.window_list.empty()) {
        for (const AppSpec& a : spec.apps) {
            if (!a.window_entries) continue;
            auto more = entries_for(s, s.apps[a.pid]);
            s.window_list.insert(s.window_list.end(), more.begin(), more.end());
        }
    } else {
        for (const WindowEntrySpec& w : spec.window_list) s.window_list.push_back(entry_from(s, w));
    }
    s.focused_app = spec.focused_app;
    s.pointer = {0, 0};
    s.pointer_read.reset();
}

// --- Requests --------------------------------------------------------------------------------

// Resolves an element reference to its node; nullptr with the platform's error otherwise.
Node* resolve(State& s, const ElementObject& e, AXError& err) {
    err = kAXErrorSuccess;
    if (e.system_wide) return nullptr;
    ElementId id = e.id;
    if (id == 0) {
        AppState* app = app_of(s, e.pid);
        if (app == nullptr) {
            err = kAXErrorCannotComplete;
            return nullptr;
        }
        id = app->root;
    }
    Node* n = node_of(s, id);
    if (n == nullptr) err = kAXErrorInvalidUIElement;
    return n;
}

// What an application's latency asks of a request: nothing when it answers at once.
struct AppWait {
    std::shared_ptr<Server> server;
    AppLatency latency;
    // duration::max() when the time-out is longer than the clock can count.
    std::chrono::steady_clock::duration timeout{0};
};

// Seconds (positive, possibly infinite) as a clock duration, saturating where the plain
// conversion would be undefined.
std::chrono::steady_clock::duration clock_duration(double seconds) {
    using D = std::chrono::steady_clock::duration;
    const std::chrono::duration<double, D::period> d = std::chrono::duration<double>(seconds);
    // The largest count reads as 2^63 in a double, one past it: from there on, saturate.
    if (!(d.count() < static_cast<double>(D::max().count()))) return D::max();
    return std::chrono::duration_cast<D>(d);
}

// `t + d` for a non-negative d, or the clock's last instant when that is later.
std::chrono::steady_clock::time_point later_by(std::chrono::steady_clock::time_point t,
                                               std::chrono::steady_clock::duration d) {
    using Clock = std::chrono::steady_clock;
    return d >= Clock::time_point::max() - t ? Clock::time_point::max() : t + d;
}

// Desktop mutex held.
AppWait app_wait(State& s, const ElementObject& e) {
    AppState* app = app_of(s, e.pid);
    if (app == nullptr || (app->latency.transfer.count() == 0 && app->latency.service.count() == 0))
        return {};
    const float t = e.timeout.load();
    const double seconds =
        t > 0 ? t : s.global_timeout > 0 ? s.global_timeout : kDefaultMessagingTimeout;
    return {app->server, app->latency, clock_duration(seconds)};
}

// Waits until `deadline` to within a microsecond or two, where a plain sleep overshoots a 50 µs
// wait by more than its length: the thread's timer slack goes down to 1 ns on its first wait,
// and the last stretch, shorter than the kernel's wake-up time, is spun.
void wait_precisely_until(std::chrono::steady_clock::time_point deadline) {
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::microseconds kSpun{25};
    thread_local const bool slack_lowered = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)slack_lowered;
    if (deadline - Clock::now() > kSpun) std::this_thread::sleep_until(deadline - kSpun);
    while (Clock::now() < deadline) {
    }
}

// Spends the application's latency outside the desktop mutex: the transfer time alongside any
// other request in flight; then the service time, after the requests that reached the
// application earlier have been served, so that it serves one at a time with no pause between
// them. A request answered later than its time-out after it was sent waits out the time-out
// and fails with kAXErrorCannotComplete; the application gives up on it then too.
AXError wait_for_app(const AppWait& w) {
    const auto sent = std::chrono::steady_clock::now();
    const auto expires = later_by(sent, w.timeout);
    const auto arrives = later_by(sent, w.latency.transfer);
    wait_precisely_until(std::min(arrives, expires));
    std::chrono::steady_clock::time_point answered;
    {
        std::lock_guard lock(w.server->m);
        answered = later_by(std::max(arrives, w.server->busy_until), w.latency.service);
        w.server->busy_until = std::max(w.server->busy_until, std::min(answered, expires));
    }
    if (answered > expires) {
        wait_precisely_until(expires);
        return kAXErrorCannotComplete;
    }
    wait_precisely_until(answered);
    return kAXErrorSuccess;
}

// The call log's detail for an attribute or action name that may be missing.
std::string_view text_or_empty(const std::string* text) {
    return text != nullptr ? std::string_view(*text) : std::string_view();
}

// `local`: the platform answers the call without asking the application (AXUIElementGetPid).
// The log, the checks and, for an application that answers at once, the answer itself are one
// hold of the desktop mutex, so that concurrent callers take turns once per request.
template <class Body>
AXError ax_request(const char* call, AXUIElementRef element, std::string_view detail, Body&& body,
                   bool local = false) {
    auto* e = cast<ElementObject>(element);
    pid_t pid = e != nullptr ? e->pid : 0;
    std::unique_lock lock(desktop_mutex());
    log_call(call, detail, pid);
    FaultOutcome f = check_fault(call, detail, pid);
    if (f.code) return *f.code;
    if (e == nullptr) return kAXErrorIllegalArgument;
    if (!local && e->invalidated.load()) return kAXErrorInvalidUIElement;
    if (!state().trusted) return kAXErrorAPIDisabled;
    AppState* app = e->system_wide ? nullptr : app_of(state(), e->pid);
    if (!local && app != nullptr && !app->accessible) return kAXErrorNotImplemented;
    if (AppWait w = app_wait(state(), *e); w.server) {
        lock.unlock();
        if (AXError r = wait_for_app(w); r != kAXErrorSuccess) return r;
        lock.lock();
    }
    return body(state(), *e);
}

// The system-wide element answers a few attributes of its own.
AXError read_system_wide(State& s, const std::string& name, Value& out) {
    if (name == "AXRole") {
        out = Value("AXSystemWide");
        return kAXErrorSuccess;
    }
    if (name == "AXFocusedApplication") {
        AppState* app = app_of(s, s.focused_app);
        if (app == nullptr) return kAXErrorNoValue;
        out = Value(ElementRef{app->root});
        return kAXErrorSuccess;
    }
    if (name == "AXFocusedUIElement") {
        AppState* app = app_of(s, s.focused_app);
        if (app == nullptr || app->focused_element == 0) return kAXErrorNoValue;
        out = Value(ElementRef{app->focused_element});
        return kAXErrorSuccess;
    }
    return kAXErrorAttributeUnsupported;
}

AXError read_any(State& s, const ElementObject& e, const std::string& name, Value& out) {
    if (e.system_wide) return read_system_wide(s, name, out);
    AXError err;
    Node* n = resolve(s, e, err);
    if (n == nullptr) return err;
    return read_attr(s, *n, name, out);
}

bool contains(const CGRect& r, double x, double y) {
    return x >= r.origin.x && y >= r.origin.y && x < r.origin.x + r.size.width &&
           y < r.origin.y + r.size.height;
}

std::optional<CGRect> frame_of(const Node& n) {
    auto p = n.attrs.find("AXPosition");
    auto z = n.attrs.find("AXSize");
    if (p == n.attrs.end() || z == n.attrs.end()) return std::nullopt;
    auto* pt = p->second.get<CGPoint>();
    auto* sz = z->second.get<CGSize>();
    if (pt == nullptr || sz == nullptr) return std::nullopt;
    return CGRect{*pt, *sz};
}

bool hidden(const Node& n) {
    auto h = n.attrs.find("AXHidden");
    if (h != n.attrs.end() && h->second == Value(true)) return true;
    auto m = n.attrs.find("AXMinimized");
    return m != n.attrs.end() && m->second == Value(true);
}

ElementId deepest_at(State& s, ElementId id, double x, double y) {
    Node* n = node_of(s, id);
    if (n == nullptr || hidden(*n)) return 0;
    for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) {
        if (ElementId hit = deepest_at(s, *it, x, y)) return hit;
    }
    auto f = frame_of(*n);
    return f && contains(*f, x, y) ? id : 0;
}

}  // namespace

// --- Shared internals ------------------------------------------------------------------------

std::recursive_mutex& desktop_mutex() {
    static auto* m = new std::recursive_mutex;
    return *m;
}

FaultOutcome check_fault(std::string_view call, std::string_view name, pid_t pid) {
    if (!g_any_fault.load(std::memory_order_relaxed)) return {};
    std::optional<Fault> hit;
    {
        Lock lock(desktop_mutex());
        for (FaultState& f : state().faults) {
            if (f.fault.call != call) continue;
            if (f.fault.name && *f.fault.name != name) continue;
            if (f.fault.pid && *f.fault.pid != pid) continue;
            ++f.seen;
            bool active = f.seen >= f.fault.nth &&
                          (f.fault.times == 0 || f.seen < f.fault.nth + f.fault.times);
            if (active && !hit) hit = f.fault;
        }
    }
    if (!hit) return {};
    switch (hit->kind) {
        case Fault::Kind::Raise:
            throw NSException{"NSInternalInconsistencyException",
                              "injected fault in " + std::string(call)};
        case Fault::Kind::Code:
            return FaultOutcome{.code = hit->code};
        case Fault::Kind::ReturnNull:
            return FaultOutcome{.null = true};
    }
    return {};
}

void log_call(const char* call, std::string_view detail, pid_t pid) {
    Lock lock(desktop_mutex());
    auto& calls = state().calls;
    if (calls.size() >= kCallLogLimit)
        calls.erase(calls.begin(), calls.begin() + kCallLogLimit / 2);
    calls.push_back(LoggedCall{call, std::string(detail), pid});
}

// A reference made by AXUIElementCreateApplication denotes the application's root element.
static ElementId effective_id(const ElementObject& e) {
    if (e.id != 0 || e.system_wide) return e.id;
    Lock lock(desktop_mutex());
    AppState* app = app_of(state(), e.pid);
    return app != nullptr ? app->root : 0;
}

bool ElementObject::equals(const CFObject& other) const {
    auto* o = dynamic_cast<const ElementObject*>(&other);
    if (o == nullptr || o->system_wide != system_wide) return false;
    if (system_wide) return true;
    ElementId a = effective_id(*this);
    ElementId b = effective_id(*o);
    if (a == 0 || b == 0) return a == b && pid == o->pid;
    return a == b;
}

CFHashCode ElementObject::hash() const {
    if (system_wide) return 0x5157;
    // An application reference equals every reference to that application's root element, so
    // both hash by the pid. Whether an id is a root never changes, so an object's hash stays
    // the same while applications come and go, as a hash must.
    if (id == 0 || app_root) return 0xA770 + static_cast<CFHashCode>(pid);
    return std::hash<ElementId>{}(id);
}

ObserverObject::ObserverObject(pid_t pid, AXObserverCallback callback)
    : CFObject(kTypeId), pid(pid), callback(callback), source(new SourceObject) {
    Lock lock(desktop_mutex());
    source->observer = this;
    state().observers.insert(this);
}

ObserverObject::~ObserverObject() {
    {
        Lock lock(desktop_mutex());
        state().observers.erase(this);
        registrations.clear();
        source->observer = nullptr;
    }
    source->release();
}

CFArrayRef copy_window_list(CGWindowListOption option) {
    Lock lock(desktop_mutex());
    State& s = state();
    std::vector<CFTypeRef> entries;
    for (const EntryState& e : s.window_list) {
        // Borrowed from the entry or the window, both alive under the lock.
        const std::string* name = e.spec.name ? &*e.spec.name : nullptr;
        CGRect bounds = e.spec.bounds;
        bool on_screen = true;
        if (e.window != 0) {
            Node* w = node_of(s, e.window);
            if (w == nullptr) continue;
            if (const std::string* t = text_attr(*w, "AXTitle")) name = t;
            if (auto f = frame_of(*w)) bounds = *f;
            on_screen = !hidden(*w);
        }
        if ((option & kCGWindowListOptionOnScreenOnly) && !on_screen) continue;
        std::vector<std::pair<CFTypeRef, CFTypeRef>> d;
        auto add = [&](CFStringRef key, CFTypeRef value) {
            if (value != nullptr) d.emplace_back(key, value);
        };
        add(kCGWindowNumber, make_number(static_cast<std::int64_t>(e.number)));
        add(kCGWindowOwnerPID, to_cf(s, e.spec.pid));
        add(kCGWindowOwnerName, to_cf(s, e.spec.owner_name));
        add(kCGWindowLayer, to_cf(s, e.spec.layer));
        if (name) add(kCGWindowName, make_string(*name));
        // Constant keys, looked up once.
        static const CFStringRef kX = CFSTR("X"), kY = CFSTR("Y"), kWidth = CFSTR("Width"),
                                 kHeight = CFSTR("Height");
        std::vector<std::pair<CFTypeRef, CFTypeRef>> b = {
            {kX, make_number(bounds.origin.x)},
            {kY, make_number(bounds.origin.y)},
            {kWidth, make_number(bounds.size.width)},
            {kHeight, make_number(bounds.size.height)}};
        add(kCGWindowBounds, make_dictionary(std::move(b)));
        add(kCGWindowIsOnscreen, boolean_of(on_screen));
        entries.push_back(make_dictionary(std::move(d)));
    }
    return make_array(std::move(entries));
}

std::vector<DisplayState> displays_now() {
    Lock lock(desktop_mutex());
    return state().displays;
}
bool shareable_content_available() {
    Lock lock(desktop_mutex());
    return state().shareable;
}
bool screenshot_image_available() {
    Lock lock(desktop_mutex());
    return state().image;
}
std::optional<std::string> shareable_content_error() {
    Lock lock(desktop_mutex());
    return state().shareable_error;
}
std::optional<std::string> screenshot_error() {
    Lock lock(desktop_mutex());
    return state().image_error;
}
std::optional<std::string> os_version_now() {
    Lock lock(desktop_mutex());
    return state().os_version;
}

void record_posted_event(const PostedEvent& e) {
    Lock lock(desktop_mutex());
    State& s = state();
    if (s.events.size() >= kPostedEventsKept) {
        s.events.pop_front();
        ++s.events_dropped;
    }
    s.events.push_back(e);
    switch (e.type) {
        case kCGEventMouseMoved:
        case kCGEventLeftMouseDown:
        case kCGEventLeftMouseUp:
        case kCGEventRightMouseDown:
        case kCGEventRightMouseUp:
        case kCGEventLeftMouseDragged:
        case kCGEventRightMouseDragged:
        case kCGEventOtherMouseDown:
        case kCGEventOtherMouseUp:
        case kCGEventOtherMouseDragged:
            s.pointer = e.location;
            break;
        default:
            break;
    }
}

CGPoint pointer_now() {
    Lock lock(desktop_mutex());
    return state().pointer;
}

CGPoint pointer_as_read() {
    Lock lock(desktop_mutex());
    return state().pointer_read.value_or(state().pointer);
}

// --- What posted input reaches (input_effects.cpp) ------------------------------------------

// How a child of an application element shows over the windows: 0 not there (windows and the
// desktop's scroll area lie in the window stack), 1 with the applications (the Dock, the focused
// application's menu bar), 2 above them all (the status items' extras bar).
static int overlay_level(const State& s, pid_t pid, const Node& child) {
    const std::string role = role_of(child);
    if (is_window_role(role) || role == "AXScrollArea") return 0;
    if (role == "AXMenuBar") {
        if (!child.listed) return 2;
        return pid == s.focused_app ? 1 : 0;
    }
    return 1;
}

ElementId element_at_point(CGPoint p) {
    Lock lock(desktop_mutex());
    State& s = state();
    // Level 0 here stands for the desktop's own scroll area, under every window.
    auto overlays = [&](int level) -> ElementId {
        // Later applications are drawn over earlier ones.
        for (auto a = s.apps.rbegin(); a != s.apps.rend(); ++a) {
            Node* root = node_of(s, a->second.root);
            if (root == nullptr) continue;
            for (auto k = root->children.rbegin(); k != root->children.rend(); ++k) {
                Node* ch = node_of(s, *k);
                if (ch == nullptr) continue;
                const bool desktop = role_of(*ch) == "AXScrollArea";
                if (level == 0 ? !desktop : overlay_level(s, a->first, *ch) != level) continue;
                if (ElementId hit = deepest_at(s, *k, p.x, p.y)) return hit;
            }
        }
        return 0;
    };
    // As drawn: status items, menu bars and the Dock over the windows, the windows front to
    // back, and the desktop's own scroll area under them all.
    for (int level : {2, 1}) {
        if (ElementId hit = overlays(level)) return hit;
    }
    for (const EntryState& e : s.window_list) {
        if (e.window == 0) continue;
        if (ElementId hit = deepest_at(s, e.window, p.x, p.y)) return hit;
    }
    return overlays(0);
}

std::optional<CGRect> element_frame(ElementId id) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    return n != nullptr ? frame_of(*n) : std::nullopt;
}

std::string element_role(ElementId id) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    return n != nullptr ? role_of(*n) : std::string();
}

bool element_has_action(ElementId id, const std::string& action) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    return n != nullptr && std::any_of(n->actions.begin(), n->actions.end(),
                                       [&](const ActionSpec& a) { return a.name == action; });
}

void perform_as_user(ElementId id, const std::string& action) {
    Lock lock(desktop_mutex());
    if (Node* n = node_of(state(), id)) perform(state(), *n, action);
}

void activate_as_user(ElementId id) {
    Lock lock(desktop_mutex());
    State& s = state();
    Node* n = node_of(s, id);
    AppState* app = n != nullptr ? app_of(s, n->pid) : nullptr;
    // Menu bars, status items and the Dock act without activating their owner.
    const ElementId w = window_of(s, id);
    if (app == nullptr || w == 0) return;
    if (s.focused_app != n->pid) {
        if (Node* root = node_of(s, app->root)) commit(s, *root, "AXFrontmost", Value(true));
    }
    if (app->focused_window != w) {
        std::stable_partition(s.window_list.begin(), s.window_list.end(),
                              [&](const EntryState& e) { return e.window == w; });
        if (Node* win = node_of(s, w)) commit(s, *win, "AXMain", Value(true));
    }
    // Focusable elements (AXFocused readable) take the keyboard focus.
    for (Node* x = node_of(s, id); x != nullptr && x->id != w; x = node_of(s, x->parent)) {
        if (x->attrs.count("AXFocused")) {
            if (app->focused_element != x->id) commit(s, *x, "AXFocused", Value(true));
            break;
        }
    }
}

ElementId keyboard_focus() {
    Lock lock(desktop_mutex());
    State& s = state();
    AppState* app = app_of(s, s.focused_app);
    return app != nullptr ? app->focused_element : 0;
}

void write_as_user(ElementId id, const std::string& attribute, Value value) {
    Lock lock(desktop_mutex());
    if (Node* n = node_of(state(), id)) commit(state(), *n, attribute, std::move(value));
}

void move_content(ElementId id, double dx, double dy) {
    Lock lock(desktop_mutex());
    if (Node* n = node_of(state(), id)) move_subtree(state(), *n, dx, dy);
}

// --- Rendering ---------------------------------------------------------------------------------

namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

Rgb colour_for(const Node& n) {
    static const auto& kColours = *new std::map<std::string, Rgb>{
        {"AXWindow", {236, 236, 236}},      {"AXToolbar", {214, 214, 214}},
        {"AXButton", {64, 128, 230}},       {"AXCheckBox", {90, 180, 90}},
        {"AXRadioButton", {90, 160, 200}},  {"AXTextField", {255, 255, 255}},
        {"AXTextArea", {252, 252, 248}},    {"AXStaticText", {40, 40, 40}},
        {"AXSlider", {150, 110, 200}},      {"AXList", {245, 245, 250}},
        {"AXRow", {230, 235, 245}},         {"AXMenuBar", {246, 246, 246}},
        {"AXMenuBarItem", {220, 220, 220}}, {"AXMenu", {250, 250, 250}},
        {"AXMenuItem", {240, 240, 240}},    {"AXDockItem", {200, 120, 60}},
        {"AXPopUpButton", {100, 150, 220}}, {"AXScrollArea", {58, 110, 165}},
        {"AXGroup", {228, 228, 232}},       {"AXImage", {180, 200, 120}},
    };
    auto it = kColours.find(role_of(n));
    return it != kColours.end() ? it->second : Rgb{200, 200, 200};
}

struct Canvas {
    CGRect source;
    std::size_t width, height;
    std::vector<std::uint8_t>& px;

    void fill(CGRect r, Rgb c) {
        double sx = static_cast<double>(width) / source.size.width;
        double sy = static_cast<double>(height) / source.size.height;
        double x0 = (r.origin.x - source.origin.x) * sx;
        double y0 = (r.origin.y - source.origin.y) * sy;
        double x1 = x0 + r.size.width * sx;
        double y1 = y0 + r.size.height * sy;
        // NaN and values beyond the canvas (infinite for a source of zero size) are clamped
        // before the cast, which would be undefined for them.
        auto clampi = [](double v, std::size_t hi) {
            if (!(v > 0)) return std::size_t{0};
            if (v >= static_cast<double>(hi)) return hi;
            return static_cast<std::size_t>(v);
        };
        std::size_t ix0 = clampi(std::floor(x0), width), ix1 = clampi(std::ceil(x1), width);
        std::size_t iy0 = clampi(std::floor(y0), height), iy1 = clampi(std::ceil(y1), height);
        for (std::size_t y = iy0; y < iy1; ++y) {
            std::uint8_t* row = px.data() + (y * width + ix0) * 4;
            for (std::size_t x = ix0; x < ix1; ++x, row += 4) {
                row[0] = c.r;
                row[1] = c.g;
                row[2] = c.b;
                row[3] = 255;
            }
        }
    }
};

void render_subtree(State& s, Canvas& c, ElementId id) {
    Node* n = node_of(s, id);
    if (n == nullptr || hidden(*n)) return;
    if (auto f = frame_of(*n)) c.fill(*f, colour_for(*n));
    for (ElementId k : n->children) render_subtree(s, c, k);
}

}  // namespace

void render_desktop(CGRect source, std::size_t width, std::size_t height, bool shows_cursor,
                    std::vector<std::uint8_t>& rgba) {
    Lock lock(desktop_mutex());
    State& s = state();
    rgba.assign(width * height * 4, 0);
    Canvas c{source, width, height, rgba};
    c.fill(source, Rgb{58, 110, 165});  // the wallpaper
    // Back to front: the window list is front to back.
    for (auto it = s.window_list.rbegin(); it != s.window_list.rend(); ++it) {
        if (it->window != 0) {
            render_subtree(s, c, it->window);
            continue;
        }
        auto layer = number_of(it->spec.layer);
        if (layer && *layer > 0 && it->spec.bounds.size.width > 0) {
            c.fill(it->spec.bounds, *layer >= 24 ? Rgb{246, 246, 246} : Rgb{70, 70, 80});
        }
    }
    // Menu bars and the Dock of the applications are drawn over the windows, status items over
    // the menu bar.
    for (int level : {1, 2}) {
        for (auto& [pid, app] : s.apps) {
            Node* root = node_of(s, app.root);
            if (root == nullptr) continue;
            for (ElementId k : root->children) {
                Node* ch = node_of(s, k);
                if (ch != nullptr && overlay_level(s, pid, *ch) == level) render_subtree(s, c, k);
            }
        }
    }
    if (shows_cursor) c.fill(CGRect{s.pointer, CGSize{4, 4}}, Rgb{0, 0, 0});
}

// --- Control ---------------------------------------------------------------------------------

bool Value::operator==(const Value& o) const {
    if (v.index() != o.v.index()) return false;
    return std::visit(
        [&](const auto& a) -> bool {
            using T = std::decay_t<decltype(a)>;
            const T& b = std::get<T>(o.v);
            if constexpr (std::is_same_v<T, CGPoint>) {
                return a.x == b.x && a.y == b.y;
            } else if constexpr (std::is_same_v<T, CGSize>) {
                return a.width == b.width && a.height == b.height;
            } else if constexpr (std::is_same_v<T, CGRect>) {
                return a.origin.x == b.origin.x && a.origin.y == b.origin.y &&
                       a.size.width == b.size.width && a.size.height == b.size.height;
            } else if constexpr (std::is_same_v<T, CFRange>) {
                return a.location == b.location && a.length == b.length;
            } else {
                return a == b;
            }
        },
        v);
}

void install_desktop(const DesktopSpec& spec) {
    Lock lock(desktop_mutex());
    install_into(state(), spec);
}

void reset_to_default_desktop() { install_desktop(default_desktop()); }

void set_trusted(bool trusted) {
    Lock lock(desktop_mutex());
    state().trusted = trusted;
}

void set_os_version_text(std::optional<std::string> text) {
    Lock lock(desktop_mutex());
    state().os_version = std::move(text);
}

void set_displays(std::vector<DisplaySpec> displays) {
    Lock lock(desktop_mutex());
    auto& d = state().displays;
    d.clear();
    CGDirectDisplayID id = 1;
    for (auto& x : displays) d.push_back({id++, x});
}

void set_shareable_content_available(bool available) {
    Lock lock(desktop_mutex());
    state().shareable = available;
}

void set_screenshot_image_available(bool available) {
    Lock lock(desktop_mutex());
    state().image = available;
}

void set_shareable_content_error(std::optional<std::string> description) {
    Lock lock(desktop_mutex());
    state().shareable_error = std::move(description);
}

void set_screenshot_error(std::optional<std::string> description) {
    Lock lock(desktop_mutex());
    state().image_error = std::move(description);
}

ElementId add_application(const AppSpec& spec) {
    Lock lock(desktop_mutex());
    State& s = state();
    AppState& app = add_app(s, spec);
    if (spec.window_entries) {
        auto entries = entries_for(s, app);
        s.window_list.insert(s.window_list.begin(), entries.begin(), entries.end());
    }
    return app.root;
}

void remove_application(pid_t pid) {
    Lock lock(desktop_mutex());
    State& s = state();
    AppState* app = app_of(s, pid);
    if (app != nullptr) destroy(s, app->root);
    s.apps.erase(pid);
    if (s.focused_app == pid) s.focused_app = 0;
    std::erase_if(s.window_list, [&](const EntryState& e) {
        auto p = number_of(e.spec.pid);
        return p && static_cast<pid_t>(*p) == pid;
    });
}

std::optional<ElementId> application_element(pid_t pid) {
    Lock lock(desktop_mutex());
    AppState* app = app_of(state(), pid);
    return app != nullptr ? std::optional(app->root) : std::nullopt;
}

ElementId add_element(ElementId parent, const ElementSpec& spec, int index) {
    Lock lock(desktop_mutex());
    State& s = state();
    Node* p = node_of(s, parent);
    if (p == nullptr) platform_crash("add_element: no such parent");
    pid_t pid = p->pid;
    ElementId id = build(s, spec, pid, parent);
    p = node_of(s, parent);  // the map may have rehashed
    if (index < 0 || static_cast<std::size_t>(index) >= p->children.size()) {
        p->children.push_back(id);
    } else {
        p->children.insert(p->children.begin() + index, id);
    }
    walk(s, id, [&](Node& n) {
        for (auto& [k, v] : n.attrs) resolve_links(s, pid, v);
        return true;
    });
    // The application tells its observers of a window it opens.
    if (Node* n = node_of(s, id); n != nullptr && is_window_role(role_of(*n)))
        post(s, id, "AXWindowCreated");
    return id;
}

void destroy_element(ElementId id, bool notify) {
    Lock lock(desktop_mutex());
    State& s = state();
    if (notify) post(s, id, "AXUIElementDestroyed");
    destroy(s, id);
}

ElementId renew_element(ElementId id) {
    Lock lock(desktop_mutex());
    State& s = state();
    auto it = s.nodes.find(id);
    if (it == s.nodes.end()) return 0;
    ElementId fresh = s.next_id++;
    Node n = std::move(it->second);
    s.nodes.erase(it);
    n.id = fresh;
    for (ElementId k : n.children) s.nodes[k].parent = fresh;
    if (Node* p = node_of(s, n.parent))
        std::replace(p->children.begin(), p->children.end(), id, fresh);
    s.nodes.emplace(fresh, std::move(n));
    for (auto& [pid, app] : s.apps) {
        if (app.root == id) {
            app.root = fresh;
            s.root_pids[fresh] = pid;
        }
        if (app.focused_window == id) app.focused_window = fresh;
        if (app.focused_element == id) app.focused_element = fresh;
    }
    for (EntryState& e : s.window_list) {
        if (e.window == id) e.window = fresh;
    }
    std::function<void(Value&)> rekey = [&](Value& v) {
        if (auto* r = std::get_if<ElementRef>(&v.v); r && r->id == id) r->id = fresh;
        if (auto* l = std::get_if<Value::List>(&v.v)) {
            for (Value& x : *l) rekey(x);
        }
    };
    for (auto& [k, node] : s.nodes) {
        for (auto& [name, v] : node.attrs) rekey(v);
    }
    return fresh;
}

bool element_exists(ElementId id) {
    Lock lock(desktop_mutex());
    return node_of(state(), id) != nullptr;
}

std::optional<ElementId> find_element(pid_t pid, const std::string& identifier) {
    Lock lock(desktop_mutex());
    return find_identifier(state(), pid, identifier);
}

std::optional<ElementId> find_element(pid_t pid, const std::string& role,
                                      const std::string& title) {
    Lock lock(desktop_mutex());
    State& s = state();
    std::optional<ElementId> found;
    for (auto& [p, app] : s.apps) {
        if (pid != 0 && p != pid) continue;
        walk(s, app.root, [&](Node& n) {
            if (found) return false;
            const std::string* t = text_attr(n, "AXTitle");
            if (role_of(n) == role && t != nullptr && *t == title) found = n.id;
            return !found;
        });
        if (found) break;
    }
    return found;
}

std::vector<ElementId> children_of(ElementId id) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    return n != nullptr ? n->children : std::vector<ElementId>{};
}

std::optional<ElementId> parent_of(ElementId id) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    if (n == nullptr || n->parent == 0) return std::nullopt;
    return n->parent;
}

pid_t pid_of(ElementId id) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    return n != nullptr ? n->pid : 0;
}

AXUIElementRef element_ref(ElementId id) {
    Lock lock(desktop_mutex());
    return ref_of<AXUIElementRef>(new_element_object(state(), id));
}

ElementId element_of(AXUIElementRef ref) {
    auto* e = cast<ElementObject>(ref);
    if (e == nullptr || e->system_wide) return 0;
    if (e->id != 0) return e->id;
    Lock lock(desktop_mutex());
    AppState* app = app_of(state(), e->pid);
    return app != nullptr ? app->root : 0;
}

void set_attribute(ElementId id, const std::string& name, Value value, const std::string& notify) {
    Lock lock(desktop_mutex());
    State& s = state();
    Node* n = node_of(s, id);
    if (n == nullptr) return;
    resolve_links(s, n->pid, value);
    n->pending.erase(name);
    n->attrs[name] = std::move(value);
    if (!notify.empty()) post(s, id, notify);
}

void remove_attribute(ElementId id, const std::string& name) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    if (n == nullptr) return;
    n->attrs.erase(name);
    n->settable.erase(name);
    n->pending.erase(name);
}

std::optional<Value> attribute(ElementId id, const std::string& name) {
    Lock lock(desktop_mutex());
    State& s = state();
    Node* n = node_of(s, id);
    if (n == nullptr) return std::nullopt;
    Value out;
    if (derived(s, *n, name, out)) return out;
    auto it = n->attrs.find(name);
    if (it == n->attrs.end()) return std::nullopt;
    return it->second;
}

void set_settable(ElementId id, const std::string& name, bool settable) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    if (n == nullptr) return;
    if (settable) {
        n->settable.insert(name);
    } else {
        n->settable.erase(name);
    }
}

void set_actions(ElementId id, std::vector<ActionSpec> actions) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    if (n != nullptr) n->actions = std::move(actions);
}

void delay_writes(ElementId id, const std::string& attribute, std::optional<int> reads) {
    Lock lock(desktop_mutex());
    Node* n = node_of(state(), id);
    if (n != nullptr) n->delays[attribute] = reads;
}

void set_focused_application(pid_t pid) {
    Lock lock(desktop_mutex());
    state().focused_app = pid;
}

void set_focused_window(pid_t pid, std::optional<ElementId> window) {
    Lock lock(desktop_mutex());
    AppState* app = app_of(state(), pid);
    if (app == nullptr) return;
    const ElementId before = std::exchange(app->focused_window, window.value_or(0));
    if (window && *window != before) post(state(), *window, "AXFocusedWindowChanged");
}

void set_focused_element(pid_t pid, std::optional<ElementId> element) {
    Lock lock(desktop_mutex());
    AppState* app = app_of(state(), pid);
    if (app == nullptr) return;
    const ElementId before = std::exchange(app->focused_element, element.value_or(0));
    if (element && *element != before) post(state(), *element, "AXFocusedUIElementChanged");
}

void add_window_entry(const WindowEntrySpec& entry, int index) {
    Lock lock(desktop_mutex());
    State& s = state();
    EntryState e = entry_from(s, entry);
    if (index < 0 || static_cast<std::size_t>(index) >= s.window_list.size()) {
        s.window_list.push_back(std::move(e));
    } else {
        s.window_list.insert(s.window_list.begin() + index, std::move(e));
    }
}

void remove_window_entries(pid_t pid) {
    Lock lock(desktop_mutex());
    std::erase_if(state().window_list, [&](const EntryState& e) {
        auto p = number_of(e.spec.pid);
        return p && static_cast<pid_t>(*p) == pid;
    });
}

void clear_window_list() {
    Lock lock(desktop_mutex());
    state().window_list.clear();
}

void post_notification(ElementId id, const std::string& notification) {
    Lock lock(desktop_mutex());
    post(state(), id, notification);
}

std::size_t notification_registrations(pid_t pid) {
    Lock lock(desktop_mutex());
    std::size_t n = 0;
    for (ObserverObject* o : state().observers) {
        if (pid == 0 || o->pid == pid) n += o->registrations.size();
    }
    return n;
}

void add_fault(const Fault& fault) {
    Lock lock(desktop_mutex());
    state().faults.push_back(FaultState{fault, 0});
    g_any_fault = true;
}

void clear_faults() {
    Lock lock(desktop_mutex());
    state().faults.clear();
    g_any_fault = false;
}

void set_latency(pid_t pid, AppLatency latency) {
    Lock lock(desktop_mutex());
    AppState* app = app_of(state(), pid);
    if (app != nullptr) app->latency = latency;
}

void set_latency(pid_t pid, std::chrono::microseconds service) {
    set_latency(pid, AppLatency{.service = service});
}

std::vector<CallRecord> call_log() {
    Lock lock(desktop_mutex());
    std::vector<CallRecord> out;
    out.reserve(state().calls.size());
    for (const LoggedCall& c : state().calls) out.push_back(CallRecord{c.call, c.detail, c.pid});
    return out;
}

std::size_t call_count(const std::string& call, const std::string& detail) {
    Lock lock(desktop_mutex());
    return static_cast<std::size_t>(
        std::count_if(state().calls.begin(), state().calls.end(), [&](const LoggedCall& r) {
            return r.call == call && (detail.empty() || r.detail == detail);
        }));
}

void clear_call_log() {
    Lock lock(desktop_mutex());
    state().calls.clear();
}

std::vector<PostedEvent> posted_events() {
    Lock lock(desktop_mutex());
    return {state().events.begin(), state().events.end()};
}

std::uint64_t posted_events_dropped() {
    Lock lock(desktop_mutex());
    return state().events_dropped;
}

void clear_posted_events() {
    Lock lock(desktop_mutex());
    state().events.clear();
    state().events_dropped = 0;
}

CGPoint pointer_location() { return pointer_now(); }

void set_pointer_location(CGPoint p) {
    Lock lock(desktop_mutex());
    state().pointer = p;
}

void set_pointer_reads_stale(bool stale) {
    Lock lock(desktop_mutex());
    State& s = state();
    if (stale)
        s.pointer_read = s.pointer;
    else
        s.pointer_read.reset();
}

long live_object_count() { return live_objects(); }

}  // namespace vemor::standin

// --- Accessibility entry points
// -------------------------------------------------------------------

using namespace vemor::standin;

extern "C" {

Boolean AXIsProcessTrusted(void) {
    log_call("AXIsProcessTrusted");
    if (check_fault("AXIsProcessTrusted").null) return false;
    Lock lock(desktop_mutex());
    return state().trusted;
}

CFTypeID AXUIElementGetTypeID(void) {
    check_fault("AXUIElementGetTypeID");
    return kTypeIdAXUIElement;
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
    log_call("AXUIElementCreateApplication", {}, pid);
    if (check_fault("AXUIElementCreateApplication", {}, pid).null) return nullptr;
    // Like the platform, any pid gives an element; requests to a process that does not exist
    // fail when they are made.
    return ref_of<AXUIElementRef>(new ElementObject(0, pid, false));
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
    log_call("AXUIElementCreateSystemWide");
    if (check_fault("AXUIElementCreateSystemWide").null) return nullptr;
    return ref_of<AXUIElementRef>(new ElementObject(0, 0, true));
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
    return ax_request("AXUIElementGetPid", element, {},
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (pid == nullptr) return kAXErrorIllegalArgument;
                          if (e.system_wide) return kAXErrorIllegalArgument;
                          AXError err;
                          if (resolve(s, e, err) == nullptr && err == kAXErrorCannotComplete)
                              return err;
                          *pid = e.pid;
                          return kAXErrorSuccess;
                      },
                      /*local=*/true);
}

AXError AXUIElementCopyAttributeNames(AXUIElementRef element, CFArrayRef* names) {
    if (names != nullptr) *names = nullptr;
    return ax_request("AXUIElementCopyAttributeNames", element, {},
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (names == nullptr) return kAXErrorIllegalArgument;
                          std::vector<std::string> list;
                          if (e.system_wide) {
                              list = {"AXRole", "AXFocusedApplication", "AXFocusedUIElement"};
                          } else {
                              AXError err;
                              Node* n = resolve(s, e, err);
                              if (n == nullptr) return err;
                              list = attribute_names(s, *n);
                          }
                          std::vector<CFTypeRef> items;
                          for (auto& x : list) items.push_back(make_string(x));
                          *names = make_array(std::move(items));
                          return kAXErrorSuccess;
                      });
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
    if (value != nullptr) *value = nullptr;
    const std::string* name = string_text(attribute);
    return ax_request("AXUIElementCopyAttributeValue", element, text_or_empty(name),
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (value == nullptr || name == nullptr) return kAXErrorIllegalArgument;
                          Value v;
                          AXError err = read_any(s, e, *name, v);
                          if (err != kAXErrorSuccess) return err;
                          *value = to_cf(s, v);
                          return *value != nullptr ? kAXErrorSuccess : kAXErrorNoValue;
                      });
}

AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions options,
                                               CFArrayRef* values) {
    if (values != nullptr) *values = nullptr;
    return ax_request("AXUIElementCopyMultipleAttributeValues", element, {},
                      [&](State& s, const ElementObject& e) -> AXError {
                          auto* list = cast<ArrayObject>(attributes);
                          if (values == nullptr || list == nullptr) return kAXErrorIllegalArgument;
                          if (!e.system_wide) {
                              AXError err;
                              if (resolve(s, e, err) == nullptr) return err;
                          }
                          std::vector<CFTypeRef> out;
                          for (CFTypeRef a : list->items()) {
                              const std::string* name = string_text(a);
                              Value v;
                              AXError err = name != nullptr ? read_any(s, e, *name, v)
                                                            : kAXErrorIllegalArgument;
                              CFTypeRef item = err == kAXErrorSuccess ? to_cf(s, v) : nullptr;
                              if (err == kAXErrorSuccess && item == nullptr) err = kAXErrorNoValue;
                              if (err != kAXErrorSuccess) {
                                  if (options & kAXCopyMultipleAttributeOptionStopOnError) {
                                      for (CFTypeRef x : out) mutable_object_of(x)->release();
                                      return err;
                                  }
                                  item = make_ax_value(kAXValueAXErrorType, &err);
                              }
                              out.push_back(item);
                          }
                          *values = make_array(std::move(out));
                          return kAXErrorSuccess;
                      });
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable) {
    if (settable != nullptr) *settable = false;
    const std::string* name = string_text(attribute);
    return ax_request("AXUIElementIsAttributeSettable", element, text_or_empty(name),
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (settable == nullptr || name == nullptr) {
                              return kAXErrorIllegalArgument;
                          }
                          if (e.system_wide) return kAXErrorAttributeUnsupported;
                          AXError err;
                          Node* n = resolve(s, e, err);
                          if (n == nullptr) return err;
                          if (!attribute_known(s, *n, *name)) return kAXErrorAttributeUnsupported;
                          *settable = n->settable.count(*name) > 0;
                          return kAXErrorSuccess;
                      });
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
    const std::string* name = string_text(attribute);
    return ax_request("AXUIElementSetAttributeValue", element, text_or_empty(name),
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (name == nullptr || value == nullptr) return kAXErrorIllegalArgument;
                          if (e.system_wide) return kAXErrorAttributeUnsupported;
                          AXError err;
                          Node* n = resolve(s, e, err);
                          if (n == nullptr) return err;
                          auto v = from_cf(value);
                          if (!v) return kAXErrorIllegalArgument;
                          return write_attr(s, *n, *name, *v);
                      });
}

AXError AXUIElementCopyActionNames(AXUIElementRef element, CFArrayRef* names) {
    if (names != nullptr) *names = nullptr;
    return ax_request("AXUIElementCopyActionNames", element, {},
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (names == nullptr) return kAXErrorIllegalArgument;
                          if (e.system_wide) return kAXErrorAttributeUnsupported;
                          AXError err;
                          Node* n = resolve(s, e, err);
                          if (n == nullptr) return err;
                          std::vector<CFTypeRef> items;
                          for (auto& a : n->actions) items.push_back(make_string(a.name));
                          *names = make_array(std::move(items));
                          return kAXErrorSuccess;
                      });
}

AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action) {
    const std::string* name = string_text(action);
    return ax_request("AXUIElementPerformAction", element, text_or_empty(name),
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (name == nullptr) return kAXErrorIllegalArgument;
                          if (e.system_wide) return kAXErrorActionUnsupported;
                          AXError err;
                          Node* n = resolve(s, e, err);
                          if (n == nullptr) return err;
                          return perform(s, *n, *name);
                      });
}

AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds) {
    auto* e = cast<ElementObject>(element);
    log_call("AXUIElementSetMessagingTimeout", {}, e != nullptr ? e->pid : 0);
    FaultOutcome f = check_fault("AXUIElementSetMessagingTimeout", {}, e != nullptr ? e->pid : 0);
    if (f.code) return *f.code;
    if (e == nullptr || !(timeoutInSeconds >= 0)) return kAXErrorIllegalArgument;
    if (e->system_wide) {
        Lock lock(desktop_mutex());
        state().global_timeout = timeoutInSeconds;
    } else {
        const_cast<ElementObject*>(e)->timeout = timeoutInSeconds;
    }
    return kAXErrorSuccess;
}

AXError AXUIElementCopyElementAtPosition(AXUIElementRef application, float x, float y,
                                         AXUIElementRef* element) {
    if (element != nullptr) *element = nullptr;
    return ax_request("AXUIElementCopyElementAtPosition", application, {},
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (element == nullptr) return kAXErrorIllegalArgument;
                          std::vector<ElementId> roots;
                          if (e.system_wide) {
                              for (auto& entry : s.window_list) {
                                  if (entry.window != 0) roots.push_back(entry.window);
                              }
                          } else {
                              AXError err;
                              Node* n = resolve(s, e, err);
                              if (n == nullptr) return err;
                              roots.push_back(n->id);
                          }
                          for (ElementId r : roots) {
                              if (ElementId hit = deepest_at(s, r, x, y)) {
                                  *element = ref_of<AXUIElementRef>(
                                      new_element_object(s, hit));
                                  return kAXErrorSuccess;
                              }
                          }
                          return kAXErrorNoValue;
                      });
}

// Observers.

CFTypeID AXObserverGetTypeID(void) {
    check_fault("AXObserverGetTypeID");
    return kTypeIdAXObserver;
}

AXError AXObserverCreate(pid_t application, AXObserverCallback callback,
                         AXObserverRef* outObserver) {
    if (outObserver != nullptr) *outObserver = nullptr;
    log_call("AXObserverCreate", {}, application);
    FaultOutcome f = check_fault("AXObserverCreate", {}, application);
    if (f.code) return *f.code;
    if (callback == nullptr || outObserver == nullptr) return kAXErrorIllegalArgument;
    *outObserver = ref_of<AXObserverRef>(new ObserverObject(application, callback));
    return kAXErrorSuccess;
}

AXError AXObserverAddNotification(AXObserverRef observer, AXUIElementRef element,
                                  CFStringRef notification, void* refcon) {
    const std::string* name = string_text(notification);
    auto* obs = cast<ObserverObject>(observer);
    return ax_request("AXObserverAddNotification", element, text_or_empty(name),
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (obs == nullptr) return kAXErrorInvalidUIElementObserver;
                          if (name == nullptr) return kAXErrorIllegalArgument;
                          if (e.system_wide || e.pid != obs->pid) return kAXErrorIllegalArgument;
                          AXError err;
                          Node* n = resolve(s, e, err);
                          if (n == nullptr) return err;
                          for (auto& r : obs->registrations) {
                              if (r.element == n->id && r.notification == *name) {
                                  return kAXErrorNotificationAlreadyRegistered;
                              }
                          }
                          obs->registrations.push_back({n->id, *name, refcon});
                          return kAXErrorSuccess;
                      });
}

AXError AXObserverRemoveNotification(AXObserverRef observer, AXUIElementRef element,
                                     CFStringRef notification) {
    const std::string* name = string_text(notification);
    auto* obs = cast<ObserverObject>(observer);
    return ax_request("AXObserverRemoveNotification", element, text_or_empty(name),
                      [&](State& s, const ElementObject& e) -> AXError {
                          if (obs == nullptr) return kAXErrorInvalidUIElementObserver;
                          if (name == nullptr) return kAXErrorIllegalArgument;
                          AXError err;
                          Node* n = resolve(s, e, err);
                          ElementId id = n != nullptr ? n->id : e.id;
                          auto it = std::find_if(
                              obs->registrations.begin(), obs->registrations.end(),
                              [&](auto& r) { return r.element == id && r.notification == *name; });
                          if (it == obs->registrations.end()) {
                              return kAXErrorNotificationNotRegistered;
                          }
                          obs->registrations.erase(it);
                          return kAXErrorSuccess;
                      });
}

CFRunLoopSourceRef AXObserverGetRunLoopSource(AXObserverRef observer) {
    log_call("AXObserverGetRunLoopSource");
    if (check_fault("AXObserverGetRunLoopSource").null) return nullptr;
    auto* obs = cast<ObserverObject>(observer);
    return obs != nullptr ? ref_of<CFRunLoopSourceRef>(obs->source) : nullptr;
}

// Window list and system queries.

CFArrayRef CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID) {
    log_call("CGWindowListCopyWindowInfo");
    if (check_fault("CGWindowListCopyWindowInfo").null) return nullptr;
    return copy_window_list(option);
}

int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void*, size_t newlen) {
    if (name == nullptr || std::strcmp(name, "kern.osproductversion") != 0 || newlen != 0) {
        errno = ENOENT;
        return -1;
    }
    auto text = os_version_now();
    if (!text) {
        errno = ENOENT;
        return -1;
    }
    std::size_t need = text->size() + 1;
    if (oldp == nullptr) {
        if (oldlenp != nullptr) *oldlenp = need;
        return 0;
    }
    if (oldlenp == nullptr || *oldlenp < need) {
        errno = ENOMEM;
        return -1;
    }
    std::memcpy(oldp, text->c_str(), need);
    *oldlenp = need;
    return 0;
}

}  // extern "C"
