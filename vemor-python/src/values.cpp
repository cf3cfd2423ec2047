#include "values.hpp"

#include <filesystem>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "errors.hpp"
#include "module.hpp"
#include "vemor/text.hpp"

namespace vemor::python {

// ---- Rect ---------------------------------------------------------------------------------

namespace {

const Rect& rect_of(PyObject* self) { return py::unbox<Rect>(self); }

py::Ref rect_x(PyObject* self) { return py::integer(rect_of(self).x); }
py::Ref rect_y(PyObject* self) { return py::integer(rect_of(self).y); }
py::Ref rect_width(PyObject* self) { return py::unsigned_integer(rect_of(self).width); }
py::Ref rect_height(PyObject* self) { return py::unsigned_integer(rect_of(self).height); }

py::Ref rect_repr(PyObject* self) {
    const Rect& r = rect_of(self);
    return py::str(fmt::format("Rect(x={}, y={}, width={}, height={})", r.x, r.y, r.width,
                               r.height));
}

PyObject* rect_richcompare(PyObject* self, PyObject* other, int op) {
    return py::guarded([&]() -> py::Ref {
        switch (op) {
            case Py_EQ:
                if (!is_instance(other, classes().Rect)) return py::not_implemented();
                return py::boolean(rect_of(self) == rect_of(other));
            case Py_NE: {
                // The negation of `==` as Python answers it, identity fallback included.
                py::Ref eq = py::Ref::steal(PyObject_RichCompare(self, other, Py_EQ));
                if (!eq) return {};
                const int truth = PyObject_IsTrue(eq.get());
                if (truth < 0) return {};
                return py::boolean(truth == 0);
            }
            default:
                return py::not_implemented();
        }
    });
}

PyGetSetDef rect_getset[] = {
    py::property<rect_x>("x"),
    py::property<rect_y>("y"),
    py::property<rect_width>("width"),
    py::property<rect_height>("height"),
    {},
};

PyType_Slot rect_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<Rect>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<rect_repr>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&rect_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
    {Py_tp_getset, rect_getset},
    {0, nullptr},
};

PyType_Spec rect_type_spec = {"vemor.Rect", py::basic_size<Rect>(), 0, py::kClassFlags,
                              rect_slots};

}  // namespace

PyType_Spec& rect_spec() { return rect_type_spec; }

py::Ref make_py_rect(const Rect& rect) { return py::make_boxed(classes().Rect, rect); }

// ---- Screenshot ---------------------------------------------------------------------------

namespace {

const ScreenshotValue& shot_of(PyObject* self) { return py::unbox<ScreenshotValue>(self); }
const Screenshot& image_of(PyObject* self) { return shot_of(self).image; }

py::Ref shot_width(PyObject* self) { return py::unsigned_integer(image_of(self).width); }
py::Ref shot_height(PyObject* self) { return py::unsigned_integer(image_of(self).height); }
py::Ref shot_scale(PyObject* self) { return py::floating(image_of(self).scale); }
py::Ref shot_pixels(PyObject* self) {
    const auto& pixels = image_of(self).pixels;
    return py::Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(pixels.data()),
                                                    static_cast<Py_ssize_t>(pixels.size())));
}
py::Ref shot_legend(PyObject* self) {
    return py::list_of(shot_of(self).legend, make_py_legend_entry);
}
py::Ref shot_omitted(PyObject* self) { return py::list_of(shot_of(self).omitted, make_py_omission); }
py::Ref shot_truncated(PyObject* self) { return py::unsigned_integer(shot_of(self).truncated); }
py::Ref shot_mapping_available(PyObject* self) {
    return py::boolean(image_of(self).has_mapping());
}

py::Ref shot_repr(PyObject* self) {
    const Screenshot& s = image_of(self);
    return py::str(fmt::format("Screenshot(width={}, height={}, scale={})", s.width, s.height,
                               text::float32_display(s.scale)));
}

py::Ref bytes_of(const std::vector<std::uint8_t>& data) {
    return py::Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()),
                                                    static_cast<Py_ssize_t>(data.size())));
}

py::Ref shot_to_png(PyObject* self) {
    auto png = image_of(self).to_png();
    if (!png) return raise(std::move(png).error());
    return bytes_of(*png);
}

// A str, bytes or path-like argument as a file-system path, encoded as open() encodes it: a str
// with the file-system encoding and its error handler, so that a name that is not UTF-8 (held
// as surrogate escapes, as os.fsdecode gives it) names the same file again; bytes as they are.
// An embedded null byte raises ValueError rather than cutting the name short.
std::optional<std::filesystem::path> path_argument(const py::Args& a, std::size_t i) {
    PyObject* converted = nullptr;
    if (!PyUnicode_FSConverter(a[i], &converted)) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            py::raise(PyExc_TypeError,
                      fmt::format("{}() argument '{}' must be str or path-like, not {}",
                                  a.function(), a.name(i), py::type_name(a[i])));
        }
        return std::nullopt;
    }
    py::Ref encoded = py::Ref::steal(converted);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(encoded.get(), &data, &size) < 0) return std::nullopt;
    return std::filesystem::path(std::string(data, static_cast<std::size_t>(size)));
}

py::Ref shot_save_png(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"save_png", {"path"}, 1}, call)) return {};
    auto path = path_argument(a, 0);
    if (!path) return {};
    auto saved = image_of(self).save_png(*path);
    if (!saved) return raise(std::move(saved).error());
    return py::none();
}

py::Ref wrap_image(Result<Screenshot> image) {
    if (!image) return raise(std::move(image).error());
    return make_py_screenshot(ScreenshotValue{.image = std::move(*image)});
}

// The four arguments `x, y, width, height`, in that order, as one rectangle.
std::optional<Rect> rect_arguments(const char* name, const py::Call& call) {
    py::Args a;
    if (!a.parse({name, {"x", "y", "width", "height"}, 4}, call)) return std::nullopt;
    auto x = py::to_int<std::int32_t>(a, 0);
    if (!x) return std::nullopt;
    auto y = py::to_int<std::int32_t>(a, 1);
    if (!y) return std::nullopt;
    auto width = py::to_int<std::uint32_t>(a, 2);
    if (!width) return std::nullopt;
    auto height = py::to_int<std::uint32_t>(a, 3);
    if (!height) return std::nullopt;
    return Rect{*x, *y, *width, *height};
}

py::Ref shot_crop(PyObject* self, const py::Call& call) {
    auto rect = rect_arguments("crop", call);
    if (!rect) return {};
    return wrap_image(image_of(self).crop(*rect));
}

py::Ref shot_resize(PyObject* self, const py::Call& call) {
    py::Args a;
    if (!a.parse({"resize", {"width", "height"}, 2}, call)) return {};
    auto width = py::to_int<std::uint32_t>(a, 0);
    if (!width) return {};
    auto height = py::to_int<std::uint32_t>(a, 1);
    if (!height) return {};
    return wrap_image(image_of(self).resize(*width, *height));
}

py::Ref point_tuple(Result<Point> p) {
    if (!p) return raise(std::move(p).error());
    return py::tuple({py::integer(p->x), py::integer(p->y)});
}

template <Result<Point> (Screenshot::*Convert)(std::int32_t, std::int32_t) const>
py::Ref shot_map_point(PyObject* self, const py::Call& call, const char* name) {
    py::Args a;
    if (!a.parse({name, {"x", "y"}, 2}, call)) return {};
    auto x = py::to_int<std::int32_t>(a, 0);
    if (!x) return {};
    auto y = py::to_int<std::int32_t>(a, 1);
    if (!y) return {};
    return point_tuple((image_of(self).*Convert)(*x, *y));
}

py::Ref shot_desktop_to_image(PyObject* self, const py::Call& call) {
    return shot_map_point<&Screenshot::desktop_to_image>(self, call, "desktop_to_image");
}
py::Ref shot_image_to_desktop(PyObject* self, const py::Call& call) {
    return shot_map_point<&Screenshot::image_to_desktop>(self, call, "image_to_desktop");
}

py::Ref shot_desktop_rect_to_image(PyObject* self, const py::Call& call) {
    auto rect = rect_arguments("desktop_rect_to_image", call);
    if (!rect) return {};
    auto rects = image_of(self).desktop_rect_to_image(*rect);
    if (!rects) return raise(std::move(rects).error());
    return py::list_of(*rects, make_py_rect);
}

PyMethodDef shot_methods[] = {
    py::method_noargs<shot_to_png>("to_png",
                                   "to_png($self)\n--\n\nEncode as PNG and return the bytes."),
    py::method<shot_save_png>("save_png",
                              "save_png($self, path)\n--\n\nEncode as PNG and write to `path`."),
    py::method<shot_crop>("crop",
                          "crop($self, x, y, width, height)\n--\n\n"
                          "Crop by image pixels and preserve coordinate mapping metadata."),
    py::method<shot_resize>("resize",
                            "resize($self, width, height)\n--\n\n"
                            "Resize image pixels and scale coordinate mapping metadata with "
                            "them."),
    py::method<shot_desktop_to_image>("desktop_to_image",
                                      "desktop_to_image($self, x, y)\n--\n\n"
                                      "Convert a desktop point to an image pixel."),
    py::method<shot_image_to_desktop>("image_to_desktop",
                                      "image_to_desktop($self, x, y)\n--\n\n"
                                      "Convert an image pixel to a desktop point suitable for "
                                      "input."),
    py::method<shot_desktop_rect_to_image>(
        "desktop_rect_to_image",
        "desktop_rect_to_image($self, x, y, width, height)\n--\n\n"
        "Convert a desktop rectangle to one or more image rectangles."),
    {},
};

PyGetSetDef shot_getset[] = {
    py::property<shot_width>("width"),
    py::property<shot_height>("height"),
    py::property<shot_scale>("scale"),
    py::property<shot_pixels>("pixels"),
    py::property<shot_legend>("legend"),
    py::property<shot_omitted>("omitted"),
    py::property<shot_truncated>("truncated"),
    py::property<shot_mapping_available>("mapping_available"),
    {},
};

constexpr const char* kScreenshotDoc =
    "A captured image: raw RGBA8 pixels plus dimensions and scale.\n"
    "\n"
    "``scale`` is a compatibility hint for simple single-display captures. To map\n"
    "coordinates of mixed-density, cropped or resized images use the conversion\n"
    "methods (``desktop_to_image``, ``image_to_desktop``, ``desktop_rect_to_image``).\n"
    "\n"
    "``legend``, ``omitted`` and ``truncated`` describe an annotated capture; on an\n"
    "unannotated capture they are empty, empty and 0.";

PyType_Slot shot_slots[] = {
    {Py_tp_doc, const_cast<char*>(kScreenshotDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<ScreenshotValue>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<shot_repr>)},
    {Py_tp_methods, shot_methods},
    {Py_tp_getset, shot_getset},
    {0, nullptr},
};

PyType_Spec shot_type_spec = {"vemor.Screenshot", py::basic_size<ScreenshotValue>(), 0,
                              py::kClassFlags, shot_slots};

}  // namespace

PyType_Spec& screenshot_spec() { return shot_type_spec; }

py::Ref make_py_screenshot(ScreenshotValue value) {
    return py::make_boxed(classes().Screenshot, std::move(value));
}

// ---- LegendEntry and Omission -------------------------------------------------------------

namespace {

// "Some(\"x\")" or "None", as the two records print an optional name.
std::string optional_debug(const std::optional<std::string>& s) {
    return s ? fmt::format("Some({})", text::debug_quote(*s)) : std::string("None");
}

const LegendEntry& entry_of(PyObject* self) { return py::unbox<LegendEntry>(self); }

py::Ref entry_tag(PyObject* self) { return py::str(entry_of(self).tag); }
py::Ref entry_group(PyObject* self) { return py::unsigned_integer(entry_of(self).group); }
py::Ref entry_index(PyObject* self) { return py::unsigned_integer(entry_of(self).index); }
py::Ref entry_selector(PyObject* self) { return py::str(entry_of(self).selector); }
py::Ref entry_role(PyObject* self) { return py::str(entry_of(self).role); }
py::Ref entry_name(PyObject* self) { return py::str_or_none(entry_of(self).name); }
py::Ref entry_bounds(PyObject* self) { return make_py_rect(entry_of(self).bounds); }
py::Ref entry_color(PyObject* self) {
    const auto& c = entry_of(self).color;
    return py::tuple({py::integer(c[0]), py::integer(c[1]), py::integer(c[2])});
}

py::Ref entry_repr(PyObject* self) {
    const LegendEntry& e = entry_of(self);
    return py::str(fmt::format(
        "LegendEntry(tag={}, group={}, index={}, selector={}, role={}, name={})",
        text::debug_quote(e.tag), e.group, e.index, text::debug_quote(e.selector),
        text::debug_quote(e.role), optional_debug(e.name)));
}

PyGetSetDef entry_getset[] = {
    py::property<entry_tag>("tag", "What is drawn in the box, such as ``B7``."),
    py::property<entry_group>("group",
                              "1-based position of this entry's locator in the ``annotate=`` "
                              "list."),
    py::property<entry_index>("index",
                              "1-based position among the group's matches; exactly the "
                              "``:nth(n)`` argument in ``selector``."),
    py::property<entry_selector>("selector",
                                 "A selector usable as is against the scope the group had."),
    py::property<entry_role>("role", "The element's role, snake_case."),
    py::property<entry_name>("name", "The element's accessible name, when it has one."),
    py::property<entry_bounds>("bounds",
                               "The element's bounds in desktop coordinates (the space of "
                               "``Element.bounds``, not the capture's pixels)."),
    py::property<entry_color>("color", "The box colour as ``(r, g, b)``, each 0 to 255."),
    {},
};

constexpr const char* kLegendEntryDoc =
    "One drawn annotation box: the tag shown in the image and the element it came from.\n"
    "\n"
    "``bounds`` is in desktop coordinates; ``color`` is the colour the box was drawn in.";

PyType_Slot entry_slots[] = {
    {Py_tp_doc, const_cast<char*>(kLegendEntryDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<LegendEntry>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<entry_repr>)},
    {Py_tp_getset, entry_getset},
    {0, nullptr},
};

PyType_Spec entry_type_spec = {"vemor.LegendEntry", py::basic_size<LegendEntry>(), 0,
                               py::kClassFlags, entry_slots};

const Omission& omission_of(PyObject* self) { return py::unbox<Omission>(self); }

py::Ref omission_selector(PyObject* self) { return py::str(omission_of(self).selector); }
py::Ref omission_role(PyObject* self) { return py::str(omission_of(self).role); }
py::Ref omission_name(PyObject* self) { return py::str_or_none(omission_of(self).name); }
py::Ref omission_reason(PyObject* self) {
    return py::str(omission_reason::to_snake_case(omission_of(self).reason));
}

py::Ref omission_repr(PyObject* self) {
    const Omission& o = omission_of(self);
    return py::str(fmt::format(
        "Omission(selector={}, role={}, name={}, reason={})", text::debug_quote(o.selector),
        text::debug_quote(o.role), optional_debug(o.name),
        text::debug_quote(omission_reason::to_snake_case(o.reason))));
}

PyGetSetDef omission_getset[] = {
    py::property<omission_selector>("selector", "The selector that would reach the element."),
    py::property<omission_role>("role", "The element's role, snake_case."),
    py::property<omission_name>("name", "The element's accessible name, when it has one."),
    py::property<omission_reason>("reason",
                                  "Why it could not be drawn: \"no_bounds\", \"zero_area\" or "
                                  "\"outside_capture\"."),
    {},
};

constexpr const char* kOmissionDoc =
    "An element that matched an ``annotate=`` selector but is not in the image.";

PyType_Slot omission_slots[] = {
    {Py_tp_doc, const_cast<char*>(kOmissionDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&py::box_dealloc<Omission>)},
    {Py_tp_repr, reinterpret_cast<void*>(&py::unaryfunc<omission_repr>)},
    {Py_tp_getset, omission_getset},
    {0, nullptr},
};

PyType_Spec omission_type_spec = {"vemor.Omission", py::basic_size<Omission>(), 0,
                                  py::kClassFlags, omission_slots};

}  // namespace

PyType_Spec& legend_entry_spec() { return entry_type_spec; }
PyType_Spec& omission_spec() { return omission_type_spec; }

py::Ref make_py_legend_entry(const LegendEntry& entry) {
    return py::make_boxed(classes().LegendEntry, entry);
}

py::Ref make_py_omission(const Omission& omission) {
    return py::make_boxed(classes().Omission, omission);
}

}  // namespace vemor::python
