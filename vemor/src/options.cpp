#include "vemor/facade/options.hpp"

namespace vemor::cli {
namespace {
CliError todo() { return CliError::Usage{"not yet"}; }
}  // namespace
CliResult<Opts> parse_opts(std::span<const std::string>) { return fail_cli(todo()); }
template <class T>
std::optional<T> parse_integer(std::string_view) {
    return std::nullopt;
}
template std::optional<std::int32_t> parse_integer<std::int32_t>(std::string_view);
template std::optional<std::uint32_t> parse_integer<std::uint32_t>(std::string_view);
template std::optional<std::uint64_t> parse_integer<std::uint64_t>(std::string_view);
template <class T>
CliResult<T> flag_value_parsed(std::span<const std::string>, std::size_t, std::string_view,
                               std::string_view) {
    return fail_cli(todo());
}
template CliResult<std::int32_t> flag_value_parsed<std::int32_t>(std::span<const std::string>,
                                                                 std::size_t, std::string_view,
                                                                 std::string_view);
template CliResult<std::uint32_t> flag_value_parsed<std::uint32_t>(std::span<const std::string>,
                                                                   std::size_t, std::string_view,
                                                                   std::string_view);
template CliResult<std::uint64_t> flag_value_parsed<std::uint64_t>(std::span<const std::string>,
                                                                   std::size_t, std::string_view,
                                                                   std::string_view);
CliResult<Point> parse_point_arg(std::string_view, std::string_view) { return fail_cli(todo()); }
CliResult<Key> parse_key_name(std::string_view) { return fail_cli(todo()); }
CliResult<std::vector<Key>> parse_held(std::optional<std::string_view>) {
    return fail_cli(todo());
}
CliResult<MouseButton> parse_button(std::string_view) { return fail_cli(todo()); }
CliResult<ActionArgs> parse_action_args(std::string_view, std::optional<std::string_view>,
                                        std::optional<std::string_view>,
                                        std::optional<std::string_view>) {
    return fail_cli(todo());
}
Duration duration_from_ms(std::uint64_t) { return {}; }
}  // namespace vemor::cli
