#include "functions.hpp"

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "convert.hpp"
#include "element.hpp"
#include "errors.hpp"
#include "input_sim.hpp"
#include "locator.hpp"
#include "values.hpp"
#include "vemor/cli/run.hpp"
#include "vemor/config.hpp"
#include "vemor/facade/capture.hpp"
#include "vemor/facade/providers.hpp"

namespace vemor::python {

namespace {

// The first call of a process creates the platform provider, with the lock held.
py::Ref locator_function(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"locator", {"selector"}, 1}, call)) return {};
    auto selector = py::to_string(a, 0);
    if (!selector) return {};
    auto provider = facade::provider();
    if (!provider) return raise(std::move(provider).error());
    return make_py_locator(Locator(std::move(*provider), std::nullopt, std::move(*selector)));
}

py::Ref set_default_timeout_function(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"set_default_timeout", {"timeout"}, 1}, call)) return {};
    auto seconds = seconds_argument(a, 0);
    if (!seconds) return {};
    auto timeout = timeout_from(*seconds);
    if (!timeout) return {};
    config::set_default_timeout(*timeout);
    return py::none();
}

py::Ref get_default_timeout_function(PyObject*) {
    auto timeout = config::default_timeout();
    if (!timeout) return raise(std::move(timeout).error());
    return py::floating(seconds(*timeout));
}

py::Ref input_sim_function(PyObject*) {
    auto input = facade::input_sim();
    if (!input) return raise(std::move(input).error());
    return make_py_input_sim(std::move(*input));
}

// ---- screenshot ---------------------------------------------------------------------------

// None, or a tuple (x, y, width, height): x and y signed 32-bit, width and height unsigned.
std::optional<std::optional<Rect>> region_argument(const py::Args& a, std::size_t i) {
    if (!a.present(i)) return std::optional<Rect>();
    PyObject* o = a[i];
    if (PyTuple_Check(o) && PyTuple_Size(o) == 4) {
        constexpr long long kMin32 = INT32_MIN, kMax32 = INT32_MAX, kMaxU32 = UINT32_MAX;
        auto x = int_in(PyTuple_GetItem(o, 0), kMin32, kMax32);
        auto y = int_in(PyTuple_GetItem(o, 1), kMin32, kMax32);
        auto w = int_in(PyTuple_GetItem(o, 2), 0, kMaxU32);
        auto h = int_in(PyTuple_GetItem(o, 3), 0, kMaxU32);
        if (x && y && w && h)
            return std::optional<Rect>(Rect{static_cast<std::int32_t>(*x),
                                            static_cast<std::int32_t>(*y),
                                            static_cast<std::uint32_t>(*w),
                                            static_cast<std::uint32_t>(*h)});
    }
    py::raise(PyExc_TypeError,
              fmt::format("screenshot() argument 'region' must be a tuple (x, y, width, height) "
                          "of 32-bit integers with a non-negative width and height, not {}",
                          py::type_name(o)));
    return std::nullopt;
}

// One annotation group: a Locator as it is, or a selector text over the process-wide provider.
std::optional<Locator> parse_annotate_group(PyObject* entry) {
    if (const Locator* locator = as_locator(entry)) return *locator;
    if (PyUnicode_Check(entry)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(entry, &size);
        if (!utf8) return std::nullopt;
        auto provider = facade::provider();
        if (!provider) {
            raise(std::move(provider).error());
            return std::nullopt;
        }
        return Locator(std::move(*provider), std::nullopt,
                       std::string(utf8, static_cast<std::size_t>(size)));
    }
    py::raise(PyExc_TypeError,
              fmt::format("screenshot(annotate=...): each entry must be a Locator or a selector "
                          "string, got {}",
                          py::type_name(entry)));
    return std::nullopt;
}

py::Ref wrap_capture(Result<Screenshot> shot) {
    if (!shot) return raise(std::move(shot).error());
    return make_py_screenshot(ScreenshotValue{std::move(*shot), {}, {}, 0});
}

py::Ref screenshot_function(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"screenshot", {"element", "region", "annotate"}, 0, 0}, call)) return {};
    const Element* element = nullptr;
    if (a.present(0)) {
        element = as_element(a[0]);
        if (!element)
            return py::raise(PyExc_TypeError,
                             fmt::format("screenshot() argument 'element' must be Element, not {}",
                                         py::type_name(a[0])));
    }
    auto region = region_argument(a, 1);
    if (!region) return {};
    PyObject* annotate = a.present(2) ? a[2] : nullptr;
    if (annotate && (PyUnicode_Check(annotate) || !PySequence_Check(annotate)))
        return py::raise(PyExc_TypeError,
                         fmt::format("screenshot() argument 'annotate' must be a sequence of "
                                     "Locator or str, not {}",
                                     py::type_name(annotate)));
    if (element && *region)
        return py::raise(PyExc_ValueError,
                         "screenshot: pass either `element` or `region`, not both");

    if (!annotate) {
        if (*region) {
            const Rect rect = **region;
            return wrap_capture(py::detach([&] { return facade::screenshot_region(rect); }));
        }
        if (element) {
            Element target = *element;
            return wrap_capture(py::detach([&] { return facade::screenshot_element(target); }));
        }
        return wrap_capture(py::detach([] { return facade::screenshot(); }));
    }

    std::vector<Locator> groups;
    const Py_ssize_t n = PySequence_Size(annotate);
    if (n < 0) return {};
    for (Py_ssize_t k = 0; k < n; ++k) {
        py::Ref entry = py::Ref::steal(PySequence_GetItem(annotate, k));
        if (!entry) return {};
        auto group = parse_annotate_group(entry.get());
        if (!group) return {};
        groups.push_back(std::move(*group));
    }
    std::optional<Rect> crop = *region;
    if (element) {
        if (!element->data().bounds)
            return py::raise(PyExc_ValueError,
                             "Element has no bounds; cannot compute a screen point");
        crop = element->data().bounds;
    }
    auto annotated =
        py::detach([&] { return facade::screenshot_annotated(crop, std::span(groups)); });
    if (!annotated) return raise(std::move(annotated).error());
    return make_py_screenshot(ScreenshotValue{std::move(annotated->image),
                                              std::move(annotated->legend),
                                              std::move(annotated->omitted),
                                              annotated->truncated});
}

// ---- _cli_main ----------------------------------------------------------------------------

// Each word goes to the command in the file-system encoding, so a word that was not valid
// UTF-8 on the command line (decoded with surrogate escapes) reaches it as its original bytes.
py::Ref cli_main_function(PyObject*, const py::Call& call) {
    py::Args a;
    if (!a.parse({"_cli_main", {"args"}, 1}, call)) return {};
    PyObject* words = a[0];
    if (PyUnicode_Check(words) || !PySequence_Check(words))
        return py::raise(PyExc_TypeError,
                         fmt::format("_cli_main() argument 'args' must be a sequence of str, "
                                     "not {}",
                                     py::type_name(words)));
    const Py_ssize_t n = PySequence_Size(words);
    if (n < 0) return {};
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t k = 0; k < n; ++k) {
        py::Ref word = py::Ref::steal(PySequence_GetItem(words, k));
        if (!word) return {};
        if (!PyUnicode_Check(word.get()))
            return py::raise(PyExc_TypeError,
                             fmt::format("_cli_main() argument 'args' must be a sequence of str, "
                                         "not a sequence holding {}",
                                         py::type_name(word.get())));
        py::Ref bytes = py::Ref::steal(PyUnicode_EncodeFSDefault(word.get()));
        if (!bytes) return {};
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return {};
        args.emplace_back(data, static_cast<std::size_t>(size));
    }
    const int code = py::detach([&] { return cli::run_main(std::span<const std::string>(args)); });
    return py::integer(code);
}

}  // namespace

PyMethodDef locator_def = py::method<locator_function>(
    "locator",
    "locator(selector)\n--\n\n"
    "A lazy Locator for `selector` over every running application.");

PyMethodDef set_default_timeout_def = py::method<set_default_timeout_function>(
    "set_default_timeout",
    "set_default_timeout(timeout)\n--\n\n"
    "Set the process-wide default time-out, in seconds, of every wait given no explicit\n"
    "``timeout=``. It takes precedence over ``VEMOR_DEFAULT_TIMEOUT``; 0 means one attempt\n"
    "without waiting.");

PyMethodDef get_default_timeout_def = py::method_noargs<get_default_timeout_function>(
    "get_default_timeout",
    "get_default_timeout()\n--\n\n"
    "The effective default time-out in seconds: the value set, else\n"
    "``VEMOR_DEFAULT_TIMEOUT``, else 5.0.");

PyMethodDef input_sim_def = py::method_noargs<input_sim_function>(
    "input_sim",
    "input_sim()\n--\n\n"
    "A new input simulator; keys held through one are not held in another.");

PyMethodDef screenshot_def = py::method<screenshot_function>(
    "screenshot",
    "screenshot(*, element=None, region=None, annotate=None)\n--\n\n"
    "Capture the screen, a region ``(x, y, width, height)`` or an element's bounds.\n\n"
    "``annotate`` is a list of groups, each a Locator rooted at an application, a shell\n"
    "surface or an element: their matches are boxed and tagged on the image and described\n"
    "in the result's ``legend`` (matches that could not be drawn in ``omitted``).");

PyMethodDef cli_main_def = py::method<cli_main_function>(
    "_cli_main",
    "_cli_main(args)\n--\n\n"
    "Run one ``vemor`` command with the given words (without the program name) and return\n"
    "its exit code: 0 success, 1 failure, 2 usage error.");

}  // namespace vemor::python
