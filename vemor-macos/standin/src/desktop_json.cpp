// A whole simulated desktop read from JSON, for benchmarks and front-end tests that need large
// or particular trees (`VEMOR_SIMULATED_DESKTOP` names such a file). The reader is a one-pass
// pull parser that builds the description directly, so a 100 000-element tree loads without an
// intermediate document, and every error names the line it was found on.
//
// Format (every key optional unless marked; unknown keys are errors):
//   {
//     "base": "empty" | "default",   // "default": start from the default desktop; an app
//                                    // listed here replaces the default one with its pid
//     "displays": [{"frame": [x, y, w, h], "scale": 2.0}],   // default: the default display
//     "focused_app": 150, "trusted": true, "os_version": "15.5" | null,
//     "apps": [{"pid": 150 (required), "name": "TextEdit" (required),
//               "window_entries": true, "focused_element": "identifier", "accessible": true,
//               "transfer_us": 50, "service_us": 10,   // latency per request (AppLatency)
//               ...element keys of the application element (no "role" needed)}],
//     "window_list": [{"pid": v, "owner_name": v, "layer": v, "name": "t",
//                      "bounds": [x, y, w, h], "window": "identifier"}]
//   }
// Element keys: "role" ("AXButton"), "subrole", "title", "description", "help", "identifier",
// "value" (a value), "frame" [x, y, w, h], "enabled" (bool), "focusable" (bool),
// "attributes" {"AXName": value}, "settable" ["AXValue"], "actions" ["AXPress" or
// {"name": "AXPress", "effect": "toggle", "step": 10} or {"name": .., "set": {"target": id,
// "attribute": name, "value": v}} or {"name": .., "notify": "AXName"}], "children" [elements]
// (at most kMaxElementNesting levels of elements, the application's own being the first),
// "unlisted" (bool). Values: true/false, integers, other numbers, strings, null (no value),
// arrays (lists), {"point": [x, y]}, {"size": [w, h]}, {"rect": [x, y, w, h]},
// {"range": [location, length]} (integers), {"link": "identifier"}. Effects: none, toggle, choose,
// increment, decrement, raise, close_window, minimize_window, zoom_window, show_menu,
// cancel_menu. Shell surfaces are ordinary elements, as on the platform: a Dock process's
// AXList, a SystemUIServer's unlisted AXMenuBar linked as "AXExtrasMenuBar", Finder's desktop.
// The provider's Screen Recording probe needs at least one ordinary window on the desktop.
#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "vemor/standin/control.hpp"
#include "vemor/text.hpp"

namespace vemor::standin {

namespace {

// Nesting deeper than this is refused rather than risking the stack.
constexpr std::size_t kMaxDepth = 2048;

struct LoadError {
    std::size_t line;
    std::string what;
};

struct Number {
    double d = 0;
    std::int64_t i = 0;
    bool written_integral = false;  // no fraction, no exponent
    bool integral = false;          // and it fits `i`
};

// What a CFIndex can hold, as the loader says it.
constexpr std::string_view kCFIndexRange = "from -9223372036854775808 to 9223372036854775807";
static_assert(std::numeric_limits<CFIndex>::min() == std::numeric_limits<std::int64_t>::min() &&
              std::numeric_limits<CFIndex>::max() == std::numeric_limits<std::int64_t>::max());

// Text from the file (a key, a name) as a refusal quotes it: its control characters escaped, so
// that it cannot end the message's line or drive a terminal.
std::string quoted(std::string_view text) {
    return "\"" + text::escape_controls(text) + "\"";
}

class Reader {
public:
    explicit Reader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    std::size_t line() const { return line_; }

    // At the end of the input every complaint is that the input ended. Out of line, taking
    // views: the readers that nest build no text in their own frames.
    [[noreturn, gnu::noinline]] void fail(std::string_view what) const {
        if (p_ >= end_) what = "unexpected end of input";
        throw LoadError{line_, std::string(what)};
    }
    // `what` followed by `rest` ("\"frame\"", " must be an array").
    [[noreturn, gnu::noinline]] void fail(std::string_view what, std::string_view rest) const {
        fail(std::string(what) + std::string(rest));
    }
    [[noreturn]] void fail_at(std::size_t line, std::string what) const {
        throw LoadError{line, std::move(what)};
    }

    void ws() {
        while (p_ < end_) {
            const char c = *p_;
            if (c == '\n') {
                ++line_;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
            ++p_;
        }
    }

    // The next significant character, or 0 at the end.
    char peek() {
        ws();
        return p_ < end_ ? *p_ : '\0';
    }

    void expect(char c, std::string_view what) {
        if (peek() != c) fail(fmt_what("expected", what));
        ++p_;
    }

    void finish() {
        if (peek() != '\0') fail("unexpected text after the desktop description");
    }

    // Calls on_member(key, key_line) with the reader at the member's value.
    template <class F>
    void object(std::string_view what, F&& on_member) {
        if (peek() != '{') fail(what, " must be an object");
        enter();
        ++p_;
        if (peek() == '}') {
            ++p_;
            leave();
            return;
        }
        for (;;) {
            if (peek() != '"') fail("expected a quoted key");
            const std::size_t key_line = line_;
            std::string key = string_token();
            expect(':', "':' after a key");
            on_member(std::string_view(key), key_line);
            const char c = peek();
            if (c == ',') {
                ++p_;
                continue;
            }
            if (c == '}') {
                ++p_;
                break;
            }
            fail("expected ',' or '}' after an object member");
        }
        leave();
    }

    template <class F>
    void array(std::string_view what, F&& on_item) {
        if (peek() != '[') fail(what, " must be an array");
        enter();
        ++p_;
        if (peek() == ']') {
            ++p_;
            leave();
            return;
        }
        for (;;) {
            on_item();
            const char c = peek();
            if (c == ',') {
                ++p_;
                continue;
            }
            if (c == ']') {
                ++p_;
                break;
            }
            fail("expected ',' or ']' after an array item");
        }
        leave();
    }

    std::string string(std::string_view what) {
        if (peek() != '"') fail(what, " must be a string");
        return string_token();
    }

    bool boolean(std::string_view what) {
        const char c = peek();
        if (c == 't' && literal("true")) return true;
        if (c == 'f' && literal("false")) return false;
        fail(what, " must be true or false");
    }

    bool null() {
        if (peek() == 'n' && literal("null")) return true;
        return false;
    }

    Number number(std::string_view what) {
        const char c = peek();
        if (c != '-' && (c < '0' || c > '9')) fail(what, " must be a number");
        return number_token();
    }

    double real(std::string_view what) { return number(what).d; }

    // A number the description turns into an integer: written as one (no fraction, no
    // exponent), and from min to max; `range` tells what that range is ("a positive process
    // id"). A double is never converted: out of range its conversion would be undefined.
    std::int64_t integer(std::string_view what, std::int64_t min, std::int64_t max,
                         std::string_view range) {
        const Number n = number(what);
        if (!n.written_integral) fail(what, " must be an integer");
        if (!n.integral || n.i < min || n.i > max)
            fail(std::string(what) + " must be " + std::string(range));
        return n.i;
    }

    // Any JSON value as a desktop value. Lists nest as deep as the nesting cap allows, so
    // everything else is read out of line, keeping this recursion's frames small.
    Value value() {
        if (peek() != '[') return scalar_value();
        Value::List list;
        array("a list", [&] { list.push_back(value()); });
        return Value(std::move(list));
    }

    [[gnu::noinline]] Value scalar_value() {
        const char c = peek();
        switch (c) {
            case '"': return Value(string_token());
            case 't':
            case 'f': return Value(boolean("a value"));
            case 'n':
                if (literal("null")) return Value(NoValue{});
                fail("invalid literal");
            case '{': return tagged_value();
            default: {
                Number n = number("a value");
                return n.integral ? Value(n.i) : Value(n.d);
            }
        }
    }

    // An array of exactly N numbers, each read by item(its index) with the reader at it.
    template <std::size_t N, class Item>
    void number_array(std::string_view what, Item&& item) {
        std::size_t count = 0;
        const std::string message = std::string(what) + " must be an array of " +
                                    std::to_string(N) + " numbers";
        if (peek() != '[') fail(message);
        array(what, [&] {
            const char c = peek();
            if (count >= N || (c != '-' && (c < '0' || c > '9'))) fail(message);
            item(count++);
        });
        if (count != N) fail(message);
    }

    template <std::size_t N>
    std::array<double, N> numbers(std::string_view what) {
        std::array<double, N> out{};
        number_array<N>(what, [&](std::size_t i) { out[i] = number_token().d; });
        return out;
    }

private:
    static std::string fmt_what(std::string_view a, std::string_view b) {
        return std::string(a) + " " + std::string(b);
    }

    void enter() {
        if (++depth_ > kMaxDepth) fail("nesting deeper than 2048 levels");
    }
    void leave() { --depth_; }

    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - p_) < word.size() ||
            std::memcmp(p_, word.data(), word.size()) != 0)
            return false;
        p_ += word.size();
        return true;
    }

    Value tagged_value() {
        Value out;
        bool seen = false;
        object("a tagged value", [&](std::string_view key, std::size_t) {
            if (seen) fail("a tagged value has exactly one key");
            seen = true;
            if (key == "point") {
                auto v = numbers<2>("\"point\"");
                out = Value(CGPoint{v[0], v[1]});
            } else if (key == "size") {
                auto v = numbers<2>("\"size\"");
                out = Value(CGSize{v[0], v[1]});
            } else if (key == "rect") {
                auto v = numbers<4>("\"rect\"");
                out = Value(CGRect{{v[0], v[1]}, {v[2], v[3]}});
            } else if (key == "range") {
                std::array<CFIndex, 2> v{};
                number_array<2>("\"range\"", [&](std::size_t i) {
                    v[i] = integer(i == 0 ? "\"range\" location" : "\"range\" length",
                                   std::numeric_limits<CFIndex>::min(),
                                   std::numeric_limits<CFIndex>::max(), kCFIndexRange);
                });
                out = Value(CFRange{v[0], v[1]});
            } else if (key == "link") {
                out = Value(Link{string("\"link\"")});
            } else {
                fail("unknown tagged value " + quoted(key) +
                     " (expected point, size, rect, range or link)");
            }
        });
        if (!seen) fail("a tagged value has exactly one key");
        return out;
    }

    // Out of line: the nested value reader's frames stay small.
    [[gnu::noinline]] static bool too_large(const char* start, const char* end) {
        return std::isinf(std::strtod(std::string(start, end).c_str(), nullptr));
    }

    Number number_token() {
        const char* start = p_;
        const char* q = p_;
        if (q < end_ && *q == '-') ++q;
        const char* digits = q;
        while (q < end_ && *q >= '0' && *q <= '9') ++q;
        if (q == digits || (*digits == '0' && q - digits > 1)) fail("invalid number");
        bool integral = true;
        if (q < end_ && *q == '.') {
            integral = false;
            const char* frac = ++q;
            while (q < end_ && *q >= '0' && *q <= '9') ++q;
            if (q == frac) fail("invalid number");
        }
        if (q < end_ && (*q == 'e' || *q == 'E')) {
            integral = false;
            ++q;
            if (q < end_ && (*q == '+' || *q == '-')) ++q;
            const char* exp = q;
            while (q < end_ && *q >= '0' && *q <= '9') ++q;
            if (q == exp) fail("invalid number");
        }
        p_ = q;
        Number n;
        n.written_integral = integral;
        if (integral) {
            auto [ptr, ec] = std::from_chars(start, q, n.i);
            if (ec == std::errc() && ptr == q) {
                n.integral = true;
                n.d = static_cast<double>(n.i);
                return n;
            }
        }
        auto [ptr, ec] = std::from_chars(start, q, n.d);
        if (ptr != q || (ec != std::errc() && ec != std::errc::result_out_of_range))
            fail("invalid number");
        // Out of range leaves the double untouched: a number too small for a double is 0, one
        // too large for it is refused rather than read as 0 (strtod tells the two apart).
        if (ec == std::errc::result_out_of_range && too_large(start, q)) fail("number out of range");
        return n;
    }

    unsigned hex4() {
        if (end_ - p_ < 4) {
            p_ = end_;
            fail("");
        }
        unsigned v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = *p_++;
            v <<= 4;
            if (c >= '0' && c <= '9') v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') v |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= static_cast<unsigned>(c - 'A' + 10);
            else fail("invalid \\u escape");
        }
        return v;
    }

    std::string string_token() {
        ++p_;  // opening quote
        std::string out;
        for (;;) {
            const char* run = p_;
            while (p_ < end_ && *p_ != '"' && *p_ != '\\' &&
                   static_cast<unsigned char>(*p_) >= 0x20)
                ++p_;
            out.append(run, p_);
            if (p_ >= end_) fail("");
            const char c = *p_++;
            if (c == '"') break;
            if (c != '\\') fail("control character inside a string (escape it)");
            if (p_ >= end_) fail("");
            switch (*p_++) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    char32_t cp = hex4();
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                            fail("unpaired surrogate in a \\u escape");
                        p_ += 2;
                        const unsigned low = hex4();
                        if (low < 0xDC00 || low > 0xDFFF) fail("unpaired surrogate in a \\u escape");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        fail("unpaired surrogate in a \\u escape");
                    }
                    text::append_utf8(out, cp);
                    break;
                }
                default: fail("invalid escape in a string");
            }
        }
        if (!text::is_valid_utf8(out)) fail("a string is not valid UTF-8");
        return out;
    }

    const char* p_;
    const char* end_;
    std::size_t line_ = 1;
    std::size_t depth_ = 0;
};

[[noreturn, gnu::noinline]] void fail_unknown_key(Reader& r, std::string_view key,
                                                  std::string_view where) {
    r.fail("unknown key " + quoted(key) + " in " + std::string(where));
}

Effect effect_named(Reader& r, const std::string& name, double step) {
    if (name == "none") return Effect::none();
    if (name == "toggle") return Effect::toggle();
    if (name == "choose") return Effect::choose();
    if (name == "increment") return Effect::increment(step);
    if (name == "decrement") return Effect::decrement(step);
    if (name == "raise") return Effect::raise();
    if (name == "close_window") return Effect::close_window();
    if (name == "minimize_window") return Effect::minimize_window();
    if (name == "zoom_window") return Effect::zoom_window();
    if (name == "show_menu") return Effect::show_menu();
    if (name == "cancel_menu") return Effect::cancel_menu();
    r.fail("unknown effect " + quoted(name));
}

ActionSpec read_action(Reader& r) {
    if (r.peek() == '"') return ActionSpec{r.string("an action"), Effect::none()};
    ActionSpec action;
    std::optional<std::string> effect_name;
    std::size_t effect_line = 0;
    double step = 1.0;
    bool has_name = false;
    r.object("an action", [&](std::string_view key, std::size_t) {
        if (key == "name") {
            action.name = r.string("\"name\"");
            has_name = true;
        } else if (key == "effect") {
            effect_line = r.line();
            effect_name = r.string("\"effect\"");
        } else if (key == "step") {
            step = r.real("\"step\"");
        } else if (key == "notify") {
            action.effect = Effect::notify(r.string("\"notify\""));
        } else if (key == "set") {
            Effect e{.kind = Effect::Kind::SetAttribute};
            r.object("\"set\"", [&](std::string_view k, std::size_t) {
                if (k == "target") e.target = r.string("\"target\"");
                else if (k == "attribute") e.attribute = r.string("\"attribute\"");
                else if (k == "value") e.value = r.value();
                else fail_unknown_key(r, k, "\"set\"");
            });
            if (e.attribute.empty()) r.fail("\"set\" needs an \"attribute\"");
            action.effect = std::move(e);
        } else {
            fail_unknown_key(r, key, "an action");
        }
    });
    if (!has_name) r.fail("an action needs a \"name\"");
    if (effect_name) {
        try {
            action.effect = effect_named(r, *effect_name, step);
        } catch (LoadError& e) {
            e.line = effect_line;
            throw;
        }
    }
    return action;
}

// Elements nest one level per element, the reader recursing once for each: only the children
// are read in line, everything else an element holds is read (and every refusal worded) out of
// line, so that each level's frames stay small, sanitizer builds included.

// One element member other than "children"; false when the key is not an element key.
[[gnu::noinline]] bool read_element_member(Reader& r, std::string_view key, ElementSpec& e) {
    auto text_attr = [&](const char* attribute) {
        e.attributes[attribute] = Value(r.string(quoted(key)));
    };
    if (key == "role") text_attr("AXRole");
    else if (key == "subrole") text_attr("AXSubrole");
    else if (key == "title") text_attr("AXTitle");
    else if (key == "description") text_attr("AXDescription");
    else if (key == "help") text_attr("AXHelp");
    else if (key == "identifier") text_attr("AXIdentifier");
    else if (key == "value") e.attributes["AXValue"] = r.value();
    else if (key == "frame") {
        auto v = r.numbers<4>("\"frame\"");
        e.attributes["AXPosition"] = Value(CGPoint{v[0], v[1]});
        e.attributes["AXSize"] = Value(CGSize{v[2], v[3]});
    } else if (key == "enabled") {
        e.attributes["AXEnabled"] = Value(r.boolean("\"enabled\""));
    } else if (key == "focusable") {
        if (r.boolean("\"focusable\"")) {
            e.settable.insert("AXFocused");
            e.attributes["AXFocused"] = Value(false);
        }
    } else if (key == "attributes") {
        r.object("\"attributes\"", [&](std::string_view name, std::size_t) {
            e.attributes[std::string(name)] = r.value();
        });
    } else if (key == "settable") {
        r.array("\"settable\"", [&] { e.settable.insert(r.string("a settable attribute")); });
    } else if (key == "actions") {
        r.array("\"actions\"", [&] { e.actions.push_back(read_action(r)); });
    } else if (key == "unlisted") {
        e.listed = !r.boolean("\"unlisted\"");
    } else {
        return false;
    }
    return true;
}

// The refusal names the line the first element too many starts on.
[[noreturn, gnu::noinline]] void fail_too_deep(Reader& r) {
    r.peek();
    r.fail("elements nested deeper than " + std::to_string(kMaxElementNesting) + " levels");
}

void read_children(Reader& r, ElementSpec& e, std::size_t depth);

// The element at the reader into `e`, which is `depth` levels down (the application is 1).
void read_element(Reader& r, ElementSpec& e, std::size_t depth) {
    r.object("an element", [&](std::string_view key, std::size_t) {
        if (key == "children") read_children(r, e, depth);
        else if (!read_element_member(r, key, e)) fail_unknown_key(r, key, "an element");
    });
}

// The "children" of `e`, which is `depth` levels down.
void read_children(Reader& r, ElementSpec& e, std::size_t depth) {
    r.array("\"children\"", [&] {
        if (depth >= kMaxElementNesting) fail_too_deep(r);
        // Read in place: the recursion carries no element of its own.
        read_element(r, e.children.emplace_back(), depth + 1);
    });
}

pid_t read_pid(Reader& r, std::string_view what) {
    return static_cast<pid_t>(r.integer(what, 1, 0x7FFFFFFF, "a positive process id"));
}

// A latency: whole microseconds, up to an hour.
std::chrono::microseconds read_microseconds(Reader& r, std::string_view what) {
    constexpr std::int64_t kHour = 3'600'000'000;
    return std::chrono::microseconds(
        r.integer(what, 0, kHour, "a whole number of microseconds from 0 to 3600000000"));
}

AppSpec read_app(Reader& r, std::size_t& pid_line) {
    AppSpec app;
    bool has_pid = false;
    bool has_name = false;
    r.object("an application", [&](std::string_view key, std::size_t key_line) {
        if (key == "pid") {
            pid_line = key_line;
            app.pid = read_pid(r, "\"pid\"");
            has_pid = true;
        } else if (key == "name") {
            app.name = r.string("\"name\"");
            has_name = true;
        } else if (key == "window_entries") {
            app.window_entries = r.boolean("\"window_entries\"");
        } else if (key == "focused_element") {
            app.focused_element = r.string("\"focused_element\"");
        } else if (key == "accessible") {
            app.accessible = r.boolean("\"accessible\"");
        } else if (key == "transfer_us") {
            app.latency.transfer = read_microseconds(r, "\"transfer_us\"");
        } else if (key == "service_us") {
            app.latency.service = read_microseconds(r, "\"service_us\"");
        } else if (key == "children") {
            read_children(r, app.element, 1);
        } else if (!read_element_member(r, key, app.element)) {
            fail_unknown_key(r, key, "an application");
        }
    });
    if (!has_pid) r.fail("an application needs a \"pid\"");
    if (!has_name) r.fail("an application needs a \"name\"");
    return app;
}

WindowEntrySpec read_window_entry(Reader& r) {
    WindowEntrySpec w;
    r.object("a window-list entry", [&](std::string_view key, std::size_t) {
        if (key == "pid") w.pid = r.value();
        else if (key == "owner_name") w.owner_name = r.value();
        else if (key == "layer") w.layer = r.value();
        else if (key == "name") w.name = r.string("\"name\"");
        else if (key == "bounds") {
            auto v = r.numbers<4>("\"bounds\"");
            w.bounds = CGRect{{v[0], v[1]}, {v[2], v[3]}};
        } else if (key == "window") w.window = r.string("\"window\"");
        else fail_unknown_key(r, key, "a window-list entry");
    });
    return w;
}

DisplaySpec read_display(Reader& r) {
    DisplaySpec d;
    bool has_frame = false;
    r.object("a display", [&](std::string_view key, std::size_t) {
        if (key == "frame") {
            auto v = r.numbers<4>("\"frame\"");
            d.frame = CGRect{{v[0], v[1]}, {v[2], v[3]}};
            has_frame = true;
        } else if (key == "scale") {
            d.scale = r.real("\"scale\"");
            if (!(d.scale > 0)) r.fail("\"scale\" must be a positive number");
        } else {
            fail_unknown_key(r, key, "a display");
        }
    });
    if (!has_frame) r.fail("a display needs a \"frame\"");
    return d;
}

// One ordinary (layer 0) entry per top-level window of the application, linked to the window
// when it has an identifier.
void append_window_entries(const AppSpec& app, std::vector<WindowEntrySpec>& out) {
    for (const ElementSpec& child : app.element.children) {
        auto role = child.attributes.find("AXRole");
        if (role == child.attributes.end() || role->second != Value("AXWindow")) continue;
        WindowEntrySpec entry{.pid = Value(static_cast<std::int64_t>(app.pid)),
                              .owner_name = Value(app.name),
                              .layer = Value(0)};
        auto position = child.attributes.find("AXPosition");
        auto size = child.attributes.find("AXSize");
        if (position != child.attributes.end() && size != child.attributes.end() &&
            position->second.get<CGPoint>() && size->second.get<CGSize>())
            entry.bounds = CGRect{*position->second.get<CGPoint>(), *size->second.get<CGSize>()};
        auto id = child.attributes.find("AXIdentifier");
        if (id != child.attributes.end() && id->second.get<std::string>())
            entry.window = *id->second.get<std::string>();
        out.push_back(std::move(entry));
    }
}

DesktopSpec read_desktop(Reader& r) {
    DesktopSpec spec;
    spec.apps.clear();
    std::optional<std::vector<DisplaySpec>> displays;
    std::vector<std::pair<AppSpec, std::size_t>> apps;  // with the line of each "pid"
    bool from_default = false;
    std::optional<pid_t> focused;
    std::optional<bool> trusted;
    std::optional<std::optional<std::string>> os_version;
    std::vector<WindowEntrySpec> window_list;
    r.object("the desktop description", [&](std::string_view key, std::size_t) {
        if (key == "base") {
            const std::string base = r.string("\"base\"");
            if (base == "default") from_default = true;
            else if (base != "empty") r.fail("\"base\" must be \"empty\" or \"default\"");
        } else if (key == "displays") {
            displays.emplace();
            r.array("\"displays\"", [&] { displays->push_back(read_display(r)); });
        } else if (key == "focused_app") {
            focused = r.null() ? 0 : read_pid(r, "\"focused_app\"");
        } else if (key == "trusted") {
            trusted = r.boolean("\"trusted\"");
        } else if (key == "os_version") {
            if (r.null()) os_version.emplace(std::nullopt);
            else os_version.emplace(r.string("\"os_version\""));
        } else if (key == "apps") {
            r.array("\"apps\"", [&] {
                std::size_t pid_line = r.line();
                AppSpec app = read_app(r, pid_line);
                apps.emplace_back(std::move(app), pid_line);
            });
        } else if (key == "window_list") {
            r.array("\"window_list\"", [&] { window_list.push_back(read_window_entry(r)); });
        } else {
            fail_unknown_key(r, key, "the desktop description");
        }
    });
    r.finish();

    std::set<pid_t> pids;
    for (const auto& [app, line] : apps)
        if (!pids.insert(app.pid).second)
            r.fail_at(line, "pid " + std::to_string(app.pid) + " is used by two applications");

    if (from_default) spec = default_desktop();
    else spec.displays = default_desktop().displays;
    if (from_default) {
        std::erase_if(spec.apps, [&](const AppSpec& a) { return pids.count(a.pid) != 0; });
        // The default window list is explicit: the listed applications' windows go in front of
        // it (as an added application's do) and a replaced application's entries go.
        std::erase_if(spec.window_list, [&](const WindowEntrySpec& w) {
            const auto* pid = w.pid.get<std::int64_t>();
            return pid != nullptr && *pid > 0 && *pid <= 0x7FFFFFFF &&
                   pids.count(static_cast<pid_t>(*pid)) != 0;
        });
        std::vector<WindowEntrySpec> front;
        for (const auto& [app, line] : apps)
            if (app.window_entries) append_window_entries(app, front);
        spec.window_list.insert(spec.window_list.begin(), front.begin(), front.end());
    }
    for (auto& [app, line] : apps) spec.apps.push_back(std::move(app));
    if (displays) spec.displays = std::move(*displays);
    if (focused) spec.focused_app = *focused;
    else if (!from_default) spec.focused_app = 0;
    if (trusted) spec.trusted = *trusted;
    if (os_version) spec.os_version = *os_version;
    if (!window_list.empty()) spec.window_list = std::move(window_list);
    return spec;
}

}  // namespace

std::expected<DesktopSpec, std::string> parse_desktop_json(std::string_view json,
                                                           std::string_view source) {
    Reader reader(json);
    try {
        return read_desktop(reader);
    } catch (const LoadError& e) {
        return std::unexpected(std::string(source) + ":" + std::to_string(e.line) + ": " + e.what);
    } catch (const std::exception& e) {
        return std::unexpected(std::string(source) + ":" + std::to_string(reader.line()) + ": " +
                               e.what());
    }
}

std::expected<DesktopSpec, std::string> load_desktop_json_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::unexpected(path + ": cannot be read: " + std::strerror(errno));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::unexpected(path + ": cannot be read: " + std::strerror(errno));
    return parse_desktop_json(text, path);
}

}  // namespace vemor::standin
