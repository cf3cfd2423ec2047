// The module's conversions and its error mapping, called directly inside an embedded
// interpreter that has imported the module from this very binary.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "convert.hpp"
#include "errors.hpp"
#include "module.hpp"
#include "py.hpp"
#include "values.hpp"

extern "C" PyObject* PyInit__native();

// The embedded interpreter is never finalised: what it holds at exit is not a leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libpython3\n"; }

namespace vemor::python {
namespace {

class Interpreter : public ::testing::Environment {
public:
    void SetUp() override {
        PyImport_AppendInittab("_native", &PyInit__native);
        Py_InitializeEx(0);
        PyObject* module = PyImport_ImportModule("_native");
        ASSERT_NE(module, nullptr);
        Py_DECREF(module);
    }
};

const auto* const kInterpreter = ::testing::AddGlobalTestEnvironment(new Interpreter);

std::string text_of(PyObject* o) {
    py::Ref s = py::Ref::steal(PyObject_Str(o));
    Py_ssize_t size = 0;
    const char* utf8 = s ? PyUnicode_AsUTF8AndSize(s.get(), &size) : nullptr;
    return utf8 ? std::string(utf8, static_cast<std::size_t>(size)) : "<unprintable>";
}

std::string repr_of(PyObject* o) {
    py::Ref s = py::Ref::steal(PyObject_Repr(o));
    return s ? text_of(s.get()) : "<unprintable>";
}

// "ValueError: message" for the pending exception, which is cleared; "" when none.
std::string take_error() {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (!type) return "";
    PyErr_NormalizeException(&type, &value, &traceback);
    std::string out = py::type_name(value) + ": " + text_of(value);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return out;
}

std::string attr(PyObject* o, const char* name) {
    py::Ref v = py::Ref::steal(PyObject_GetAttrString(o, name));
    if (!v) {
        PyErr_Clear();
        return "<missing>";
    }
    return repr_of(v.get());
}

struct MappingCase {
    Error error;
    std::string type;
    std::string message;
    // "selector|elapsed|condition|last_observed|candidates|scope" as reprs, or "" for none.
    std::string attributes;
};

TEST(ErrorMapping, EveryKind) {
    Diagnosis diagnosis = Diagnosis{}
                              .with_condition("visible")
                              .with_selector("button")
                              .with_last_observed("selector never matched")
                              .with_candidates({"a", "b"});
    const std::vector<MappingCase> cases = {
        {Error::PermissionDenied{"Grant access in Settings."}, "PermissionDeniedError",
         "Grant access in Settings.", ""},
        {Error::AccessibilityNotEnabled{"Notes", "turn it on"}, "AccessibilityNotEnabledError",
         "Accessibility not enabled for Notes: turn it on", ""},
        {Error::AccessibilityNotEnabled{"Notes\nerror: x\x1b", "turn it on"},
         "AccessibilityNotEnabledError",
         "Accessibility not enabled for Notes\\nerror: x\\u{1b}: turn it on", ""},
        {Error::SelectorNotMatched{"button", std::nullopt}, "SelectorNotMatchedError",
         "No element matched selector: button", "'button'|None|None|None|[]|None"},
        {Error::SelectorNotMatched{"x", diagnosis}, "SelectorNotMatchedError",
         "No element matched selector: x; waiting for: visible; selector: button; last "
         "observed: selector never matched; candidates: a, b",
         "'x'|None|'visible'|'selector never matched'|['a', 'b']|None"},
        {Error::ElementStale{"list_item"}, "SelectorNotMatchedError",
         "Element stale: list_item", "'list_item'|None|None|None|[]|None"},
        {Error::ActionNotSupported{"press", Role::StaticText}, "ActionNotSupportedError",
         "press not supported on static_text", ""},
        {Error::TextValueNotSupported{}, "ActionNotSupportedError",
         "Text value not supported for this element", ""},
        {Error::Timeout{std::chrono::milliseconds(1500), diagnosis}, "TimeoutError",
         "Timeout after 1.5s; waiting for: visible; selector: button; last observed: selector "
         "never matched; candidates: a, b",
         "'button'|1.5|'visible'|'selector never matched'|['a', 'b']|None"},
        {Error::Timeout{std::chrono::seconds(2), std::nullopt}, "TimeoutError",
         "Timeout after 2.0s", "None|2.0|None|None|[]|None"},
        {Error::InvalidSelector{"[[[", "bad"}, "InvalidSelectorError",
         "Invalid selector '[[[': bad", ""},
        {Error::InvalidActionData{"no"}, "InvalidActionDataError", "Invalid action data: no",
         ""},
        {Error::InvalidConfig{"x"}, "ValueError", "Invalid configuration: x", ""},
        {Error::NoElementBounds{}, "ValueError",
         "Element has no bounds; cannot compute a screen point", ""},
        {Error::Unsupported{"zoom"}, "ActionNotSupportedError", "Unsupported: zoom", ""},
        {Error::Platform{-25204, "t"}, "PlatformError", "Platform error (-25204): t", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        py::Ref e = to_py_err(Error(c.error));
        ASSERT_TRUE(e);
        EXPECT_EQ(py::type_name(e.get()), c.type);
        EXPECT_EQ(text_of(e.get()), c.message);
        EXPECT_EQ(attr(e.get(), "args"), "(" + repr_of(py::str(c.message).get()) + ",)");
        std::string attributes;
        for (const char* name :
             {"selector", "elapsed", "condition", "last_observed", "candidates", "scope"}) {
            if (!attributes.empty()) attributes += "|";
            attributes += attr(e.get(), name);
        }
        EXPECT_EQ(attributes, c.attributes.empty()
                                  ? "<missing>|<missing>|<missing>|<missing>|<missing>|<missing>"
                                  : c.attributes);
        const bool vemor_error = c.type != "ValueError";
        EXPECT_EQ(PyObject_IsInstance(e.get(), exceptions().VemorError), vemor_error ? 1 : 0);
    }
}

TEST(Keys, AcceptedNames) {
    const std::vector<std::pair<std::string, Key>> cases = {
        {"Enter", Key{Key::Enter}},        {"Return", Key{Key::Enter}},
        {"Cmd", Key{Key::Meta}},           {"Super", Key{Key::Meta}},
        {"Option", Key{Key::Alt}},         {"Control", Key{Key::Ctrl}},
        {"Esc", Key{Key::Escape}},         {"Left", Key{Key::ArrowLeft}},
        {"PageDown", Key{Key::PageDown}},  {"F", Key::character(U'F')},
        {"F0", Key::function(0)},          {"F007", Key::function(7)},
        {"F255", Key::function(255)},      {"\xC3\xA9", Key::character(U'\u00E9')},
        {"7", Key::character(U'7')},       {";", Key::character(U';')},
        {"A", Key::character(U'A')},
    };
    for (const auto& [name, key] : cases) {
        auto parsed = parse_key(name);
        ASSERT_TRUE(parsed) << name << ": " << take_error();
        EXPECT_EQ(*parsed, key) << name;
    }
}

TEST(Keys, RefusedNames) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"enter", "ValueError: Unknown key name: enter"},
        {"ENTER", "ValueError: Unknown key name: ENTER"},
        {"f5", "ValueError: Unknown key name: f5"},
        {"F256", "ValueError: Invalid function key: F256"},
        {"F1a", "ValueError: Unknown key name: F1a"},
        {"ab", "ValueError: Unknown key name: ab"},
        {"", "ValueError: Unknown key name: "},
        {"left", "ValueError: Unknown key name: left"},
    };
    for (const auto& [name, message] : cases) {
        EXPECT_FALSE(parse_key(name)) << name;
        EXPECT_EQ(take_error(), message);
    }
}

TEST(Buttons, NamesAndRefusal) {
    EXPECT_EQ(parse_button("middle"), MouseButton::Middle);
    for (const char* name : {"Left", "LEFT", ""}) {
        EXPECT_FALSE(parse_button(name));
        EXPECT_EQ(take_error(),
                  std::string("ValueError: Unknown mouse button: ") + name +
                      ". Expected \"left\", \"right\", or \"middle\"");
    }
}

TEST(Timeouts, AcceptedAndRefused) {
    EXPECT_EQ(timeout_from(0.0), Duration::zero());
    EXPECT_EQ(timeout_from(-0.0), Duration::zero());
    EXPECT_EQ(timeout_from(5e-324), Duration::zero());
    EXPECT_EQ(timeout_from(1.5), std::chrono::milliseconds(1500));
    EXPECT_TRUE(timeout_from(9e9));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, std::string>> refused = {
        {-1.0, "-1"}, {-0.5, "-0.5"}, {inf, "inf"}, {-inf, "-inf"}, {nan, "NaN"},
        {1e10, "10000000000"},
    };
    for (const auto& [value, text] : refused) {
        EXPECT_FALSE(timeout_from(value)) << text;
        EXPECT_EQ(take_error(),
                  "ValueError: timeout must be a non-negative number of seconds, got " + text);
    }
}

TEST(ShellKinds, RefusalListsEveryKind) {
    EXPECT_EQ(parse_shell_kind("status_items"), ShellSurfaceKind::StatusItems);
    EXPECT_FALSE(parse_shell_kind("Taskbar"));
    EXPECT_EQ(take_error(),
              "ValueError: unknown shell surface kind 'Taskbar'; expected one of: menu_bar, "
              "status_items, taskbar, panel, dock, desktop, flyout, unknown");
}

TEST(Json, ValuesByKind) {
    Json value = Json::parse(
        R"({"b": [null, true, -1, 18446744073709551615, 2.5, "s"], "a": {"z": 1, "y": {}}})");
    py::Ref converted = json_to_py(value);
    ASSERT_TRUE(converted) << take_error();
    EXPECT_EQ(repr_of(converted.get()),
              "{'a': {'y': {}, 'z': 1}, 'b': [None, True, -1, 18446744073709551615, 2.5, 's']}");
}

TEST(Trees, NestedDictsInKeyOrder) {
    TreeNode node{"window", "W", std::nullopt, {TreeNode{"button", std::nullopt, std::nullopt, {}}}};
    py::Ref converted = tree_node_to_py(node);
    ASSERT_TRUE(converted) << take_error();
    EXPECT_EQ(repr_of(converted.get()),
              "{'role': 'window', 'name': 'W', 'value': None, 'children': [{'role': 'button', "
              "'name': None, 'value': None, 'children': []}]}");
}

// Runs `code` with the given globals; "" when it ran through, else the exception it raised.
std::string run_in(const char* code, std::vector<std::pair<const char*, py::Ref>> names) {
    py::Ref globals = py::Ref::steal(PyDict_New());
    PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins());
    for (auto& [name, value] : names) {
        if (!value) return take_error();
        PyDict_SetItemString(globals.get(), name, value.get());
    }
    py::Ref compiled = py::Ref::steal(Py_CompileString(code, "<test>", Py_file_input));
    if (!compiled) return take_error();
    py::Ref result =
        py::Ref::steal(PyEval_EvalCode(compiled.get(), globals.get(), globals.get()));
    return result ? "" : take_error();
}

// The same, then a collection, so that the snippet's functions (which refer to their globals)
// release the objects under test before the leak check at exit.
std::string run(const char* code, std::vector<std::pair<const char*, py::Ref>> names) {
    std::string outcome = run_in(code, std::move(names));
    PyGC_Collect();
    return outcome;
}

Screenshot raw_image(std::uint32_t width, std::uint32_t height, float scale) {
    Screenshot s;
    s.width = width;
    s.height = height;
    s.scale = scale;
    s.pixels.assign(std::size_t{width} * height * 4, 0x7f);
    return s;
}

TEST(Values, ScreenshotWithoutMapping) {
    ScreenshotValue value{.image = raw_image(4, 3, 2.0f)};
    value.legend.push_back(LegendEntry{.tag = "A1", .group = 1, .index = 1,
                                       .selector = "button:nth(1)", .role = "button"});
    value.truncated = 3;
    EXPECT_EQ(run(R"py(
assert repr(shot) == "Screenshot(width=4, height=3, scale=2)"
assert len(shot.pixels) == 48 and shot.pixels is not shot.pixels
assert (shot.mapping_available, shot.truncated, len(shot.legend), shot.omitted) == (False, 3, 1, [])
for call in (lambda: shot.desktop_to_image(0, 0), lambda: shot.image_to_desktop(0, 0),
             lambda: shot.desktop_rect_to_image(0, 0, 1, 1)):
    try:
        call()
        raise AssertionError("no error")
    except Exception as e:
        assert type(e).__name__ == "PlatformError", repr(e)
        assert str(e) == ("Platform error (-1): screenshot has no coordinate mapping; it was "
                          "constructed from raw pixels rather than captured from a desktop"), str(e)
crop = shot.crop(1, 1, 2, 2)
assert (crop.width, crop.height, crop.legend, crop.omitted, crop.truncated) == (2, 2, [], [], 0)
assert shot.resize(8, 6).height == 6
assert shot.to_png().startswith(b"\x89PNG")
for call, text in ((lambda: shot.crop(9, 9, 1, 1),
                    "Platform error (-1): crop rectangle is outside the screenshot or empty"),
                   (lambda: shot.resize(0, 1),
                    "Platform error (-1): resize dimensions must be non-zero")):
    try:
        call()
        raise AssertionError("no error")
    except Exception as e:
        assert str(e) == text, str(e)
try:
    shot.save_png(42)
except TypeError as e:
    assert str(e) == "save_png() argument 'path' must be str or path-like, not int", str(e)
try:
    shot.crop(0, 0, -1, 1)
except OverflowError:
    pass
)py",
                  {{"shot", make_py_screenshot(value)}}),
              "");
}

TEST(Values, ScreenshotWithMapping) {
    Screenshot image = Screenshot::with_mapping(raw_image(20, 10, 1.5f),
                                                CaptureMapping::single(100, 50, 20, 10, 1.0f));
    image.scale = 1.5f;
    EXPECT_EQ(run(R"py(
import os, tempfile
assert repr(shot) == "Screenshot(width=20, height=10, scale=1.5)"
assert shot.mapping_available
assert shot.desktop_to_image(101, 52) == (1, 2)
assert shot.image_to_desktop(1, 2) == (101, 52)
rects = shot.desktop_rect_to_image(100, 50, 5, 5)
assert [repr(r) for r in rects] == ["Rect(x=0, y=0, width=5, height=5)"], rects
with tempfile.TemporaryDirectory() as d:
    path = os.path.join(d, "x.png")
    shot.save_png(path)
    assert open(path, "rb").read() == shot.to_png()
    try:
        shot.save_png(os.path.join(d, "missing", "x.png"))
        raise AssertionError("no error")
    except Exception as e:
        assert str(e).startswith("Platform error (2): save_png: "), str(e)
)py",
                  {{"shot", make_py_screenshot(ScreenshotValue{.image = std::move(image)})}}),
              "");
}

TEST(Values, LegendEntryAndOmissionTextForms) {
    LegendEntry named{.tag = "B7", .group = 2, .index = 7, .selector = "button[name=\"Q\"]:nth(7)",
                      .role = "button", .name = "Say \"hi\"\n", .bounds = Rect{-1, 2, 3, 4},
                      .color = Rgb{0x56, 0xB4, 0xE9}};
    LegendEntry unnamed{.tag = "A1", .group = 1, .index = 1, .selector = "x", .role = "window"};
    Omission omission{.selector = "y", .role = "button", .name = "N",
                      .reason = OmissionReason::OutsideCapture};
    EXPECT_EQ(run(R"py(
assert repr(named) == ('LegendEntry(tag="B7", group=2, index=7, selector="button[name=\\"Q\\"]:nth(7)", '
                       'role="button", name=Some("Say \\"hi\\"\\n"))'), repr(named)
assert repr(unnamed) == 'LegendEntry(tag="A1", group=1, index=1, selector="x", role="window", name=None)'
assert named.color == (0x56, 0xB4, 0xE9)
assert repr(named.bounds) == "Rect(x=-1, y=2, width=3, height=4)"
assert (named.name, unnamed.name) == ('Say "hi"\n', None)
assert repr(omission) == 'Omission(selector="y", role="button", name=Some("N"), reason="outside_capture")'
assert omission.reason == "outside_capture"
for cls in (type(named), type(omission)):
    try:
        cls()
        raise AssertionError("constructed")
    except TypeError:
        pass
)py",
                  {{"named", make_py_legend_entry(named)},
                   {"unnamed", make_py_legend_entry(unnamed)},
                   {"omission", make_py_omission(omission)}}),
              "");
}

}  // namespace
}  // namespace vemor::python
