// The text forms of the `vemor` command: the one-line element form, the tree printer, the
// legend of an annotated screenshot (text and JSON) and the screenshot writer; and the two
// standard streams, written unbuffered so that every line is out as soon as it is printed.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "vemor/element.hpp"
#include "vemor/event.hpp"
#include "vemor/facade/cli_error.hpp"
#include "vemor/facade/target.hpp"
#include "vemor/legend.hpp"
#include "vemor/screenshot.hpp"

namespace vemor::cli {

// The annotation cap as the legends state it.
inline constexpr std::size_t kLegendCap = 100;
// How deep the tree printer descends before it reports the rest as an error line: a cyclic
// or absurdly deep platform tree must not exhaust the stack.
inline constexpr std::size_t kMaxTreeDepth = 512;

// `role "name" value="v" numeric_value=1 min=0 max=2 description="d" [flags] bounds=(x,y,w,h)
// id="i" actions=[a,b]`, each part only when present. The texts are written as they are, except
// that their control characters are escaped (`text::escape_controls`): they come from other
// programs, and a terminal would act on them.
std::string format_element_oneline(const ElementData& element);
inline std::string format_element_oneline(const Element& element) {
    return format_element_oneline(element.data());
}

// One line of `events`: "[kind] role "name" Flag=value", with "-" for an event without a
// target and the state part only for a state change; ends with a line feed. The name's control
// characters are escaped as in the one-line element form.
std::string format_event_line(const Event& event);

// Prints the element and its subtree to standard output with box-drawing connectors, one line
// at a time as the walk goes. `target`, when given, supplies the first level of children. A
// child listing that fails is printed inline and does not fail the call; only a failed write
// to standard output does.
CliResult<void> print_tree_recursive(const Element& element, const std::string& prefix, bool last,
                                     bool root, const Target* target);

// "-" for no name; else the name quoted and escaped, cut to 120 characters plus "…".
std::string legend_name(const std::optional<std::string>& name);
// The letters of a group's tags: 1 -> "A", 27 -> "AA" (0 counts as 1).
std::string group_letter(std::size_t group);

// `selectors` are the annotation selectors in group order.
std::string render_legend_text(std::span<const std::string> selectors, const Annotated& annotated);
// Two-space indented, sorted keys, ending with a line feed.
CliResult<std::string> render_legend_json(std::span<const std::string> selectors,
                                          const Annotated& annotated);

// PNG bytes to standard output when `path` is "-"; else the file, reported on standard error.
CliResult<void> write_screenshot(const Screenshot& shot, std::string_view path);

// Writes all of `bytes` to standard output at once (no buffer is kept). A failure, such as a
// closed pipe, is the error "write stdout: ...".
CliResult<void> write_stdout(std::string_view bytes);
// Writes to standard error; a failure there has nowhere to be reported and is ignored.
void write_stderr(std::string_view bytes);

}  // namespace vemor::cli
