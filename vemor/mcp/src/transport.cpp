#include "vemor/mcp/transport.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "vemor/mcp/results.hpp"
#include "vemor/facade/stdio.hpp"
#include "vemor/text.hpp"

namespace vemor::mcp::transport {
namespace {

// Waits until the descriptor is ready; a non-blocking descriptor must not spin the loop.
void wait_ready(int fd, short events) {
    pollfd p{fd, events, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

LineReader::Source fd_source(int fd) {
    return [fd](std::span<char> buf) -> std::expected<std::size_t, int> {
        for (;;) {
            ssize_t n = ::read(fd, buf.data(), buf.size());
            if (n >= 0) return static_cast<std::size_t>(n);
            int e = errno;
            if (e == EINTR) continue;
            if (e == EAGAIN || e == EWOULDBLOCK) {
                wait_ready(fd, POLLIN);
                continue;
            }
            return std::unexpected(e);
        }
    };
}

// "[json.exception.parse_error.101] parse error at ..." -> "parse error at ...".
std::string parser_description(std::string_view what) {
    if (what.starts_with("[json.exception.")) {
        auto close = what.find("] ");
        if (close != std::string_view::npos) what.remove_prefix(close + 2);
    }
    return std::string(what);
}

// The column (1-based, in bytes) where nesting first goes past the limit, or none.
std::optional<std::size_t> too_deep_at(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool in_string = false;
    bool escaped = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (in_string) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
            continue;
        }
        switch (c) {
            case '"': in_string = true; break;
            case '[':
            case '{':
                if (++depth > limit) return i + 1;
                break;
            case ']':
            case '}':
                if (depth > 0) --depth;
                break;
            default: break;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string os_error_text(int code) {
    return fmt::format("{} (os error {})", std::system_category().message(code), code);
}

LineReader::LineReader(int fd) : LineReader(fd_source(fd)) {}

LineReader::LineReader(Source source) : source_(std::move(source)), buffer_(kReadBufferSize, '\0') {}

LineReader::Status LineReader::next() {
    // A buffer that once held a huge line is given back rather than kept for the session.
    if (line_.capacity() > (std::size_t{1} << 20)) std::string().swap(line_);
    line_.clear();
    bool got_bytes = false;
    bool too_long = false;
    for (;;) {
        if (pos_ == len_) {
            if (eof_) break;
            auto n = source_(std::span<char>(buffer_.data(), buffer_.size()));
            if (!n) {
                ++failures_;
                error_ = IoError{n.error(), os_error_text(n.error())};
                line_.clear();
                return Status::Error;
            }
            failures_ = 0;
            if (*n == 0) {
                eof_ = true;
                break;
            }
            pos_ = 0;
            len_ = *n;
        }
        got_bytes = true;
        const char* start = buffer_.data() + pos_;
        const void* nl = std::memchr(start, '\n', len_ - pos_);
        std::size_t chunk = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - start)
                               : len_ - pos_;
        if (!too_long) {
            if (line_.size() + chunk > kMaxLineBytes) {
                too_long = true;
                std::string().swap(line_);
            } else {
                line_.append(start, chunk);
            }
        }
        pos_ += chunk;
        if (nl) {
            ++pos_;
            break;
        }
    }
    if (!got_bytes) return Status::End;
    if (too_long) return Status::TooLong;
    return Status::Line;
}

cli::CliError io_err(std::string_view context, const IoError& error) {
    return platform_error(error.code.value_or(-1),
                          fmt::format("mcp stdio transport: {}: {}", context, error.text));
}

cli::CliResult<Json> parse_message(std::string_view text) {
    if (auto column = too_deep_at(text, kMaxNesting))
        return cli::usage_error(fmt::format(
            "invalid JSON on stdin: nesting deeper than {} levels at line 1, column {}",
            kMaxNesting, *column));
    // The parser would skip a leading byte order mark; it is not JSON, so the line is refused.
    if (text.starts_with("\xEF\xBB\xBF"))
        return cli::usage_error(
            "invalid JSON on stdin: parse error at line 1, column 1: syntax error while parsing "
            "value - unexpected byte order mark");
    try {
        return Json::parse(text);
    } catch (const Json::exception& e) {
        return cli::usage_error(fmt::format("invalid JSON on stdin: {}", parser_description(e.what())));
    } catch (const std::exception& e) {
        return cli::usage_error(fmt::format("invalid JSON on stdin: {}", e.what()));
    }
}

cli::CliResult<std::optional<Json>> read_message(LineReader& reader) {
    for (;;) {
        switch (reader.next()) {
            case LineReader::Status::End: return std::optional<Json>{};
            case LineReader::Status::Error: return cli::fail_cli(io_err("read stdin", reader.error()));
            case LineReader::Status::TooLong:
                return cli::fail_cli(io_err(
                    "read stdin", IoError{std::nullopt,
                                          fmt::format("message line longer than {} bytes; skipped "
                                                      "up to its line feed",
                                                      kMaxLineBytes)}));
            case LineReader::Status::Line: break;
        }
        std::string_view line = reader.line();
        if (!text::is_valid_utf8(line))
            return cli::fail_cli(
                io_err("read stdin", IoError{std::nullopt, "stream did not contain valid UTF-8"}));
        std::string_view trimmed = text::trim(line);
        if (trimmed.empty()) continue;
        Json value = VEMOR_CLI_TRY(parse_message(trimmed));
        return std::optional<Json>(std::move(value));
    }
}

bool nests_deeper_than(const Json& value, std::size_t limit) {
    std::vector<std::pair<const Json*, std::size_t>> stack{{&value, 1}};
    while (!stack.empty()) {
        auto [v, depth] = stack.back();
        stack.pop_back();
        if (!v->is_structured()) continue;
        if (depth > limit) return true;
        for (const Json& child : *v) stack.emplace_back(&child, depth + 1);
    }
    return false;
}

cli::CliResult<void> write_message(int fd, const Json& value) {
    if (nests_deeper_than(value, kMaxWriteNesting))
        return cli::fail_cli(platform_error(
            -1, fmt::format("mcp stdio transport: encode response: nesting deeper than {} levels",
                            kMaxWriteNesting)));
    std::string bytes = vemor::json::dump(value);
    bytes += '\n';
    if (int e = facade::write_all(fd, bytes); e != 0)
        return cli::fail_cli(io_err("write stdout", IoError{e, os_error_text(e)}));
    return {};
}

cli::CliResult<void> write_pieces(int fd, std::span<const std::string_view> pieces) {
    if (int e = facade::write_all(fd, pieces); e != 0)
        return cli::fail_cli(io_err("write stdout", IoError{e, os_error_text(e)}));
    return {};
}

}  // namespace vemor::mcp::transport
