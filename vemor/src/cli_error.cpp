#include "vemor/facade/cli_error.hpp"

namespace vemor::cli {
const Error* CliError::core() const {
    const auto* c = as<Core>();
    return c ? &c->error : nullptr;
}
std::string CliError::message() const { return {}; }
const std::vector<std::string_view>& event_kind_names() {
    static const std::vector<std::string_view> names;
    return names;
}
}  // namespace vemor::cli
