#include "vemor/mcp/serve.hpp"

#include <unistd.h>

#include <csignal>
#include <exception>
#include <utility>
#include <variant>

#include <fmt/format.h>

namespace vemor::mcp {

cli::CliResult<void> serve_stream(transport::LineReader& reader, int out_fd, Session& session) {
    for (;;) {
        auto message = transport::read_message(reader);
        if (!message) {
            VEMOR_CLI_TRY_VOID(
                transport::write_message(out_fd, protocol::parse_error_response(message.error())));
            if (reader.consecutive_failures() >= kMaxConsecutiveReadFailures)
                return cli::fail_cli(std::move(message.error()));
            continue;
        }
        if (!*message) return {};
        std::optional<Response> response = session.handle(**message);
        if (!response) continue;
        if (const auto* text = std::get_if<SerializedResponse>(&*response)) {
            const std::string_view pieces[] = {text->head, *text->body, text->tail, "\n"};
            VEMOR_CLI_TRY_VOID(transport::write_pieces(out_fd, pieces));
        } else {
            VEMOR_CLI_TRY_VOID(transport::write_message(out_fd, std::get<Json>(*response)));
        }
    }
}

cli::CliResult<void> serve(std::span<const std::string> args) {
    if (!args.empty())
        return cli::usage_error(fmt::format(
            "vemor mcp takes no arguments (got: {}). It serves the accessibility tools over stdio "
            "for an MCP client.",
            args.front()));
    if (::isatty(STDIN_FILENO)) {
        std::string banner = fmt::format("{}\n", kBanner);
        [[maybe_unused]] auto ignored = ::write(STDERR_FILENO, banner.data(), banner.size());
    }
    // A closed standard output must become a write error, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        Session session;
        transport::LineReader reader(STDIN_FILENO);
        return serve_stream(reader, STDOUT_FILENO, session);
    } catch (const std::exception& e) {
        return cli::fail_cli(platform_error(-1, fmt::format("mcp server: {}", e.what())));
    } catch (...) {
        return cli::fail_cli(platform_error(-1, "mcp server: unexpected failure"));
    }
}

}  // namespace vemor::mcp
