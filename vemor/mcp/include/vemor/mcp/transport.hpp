// The stdio transport of the MCP server: one JSON-RPC message per line each way. Reading skips
// blank lines, refuses bytes that are not UTF-8, lines longer than 16 MiB (skipped up to their
// newline, so memory stays bounded) and nesting deeper than 128 levels (refused before the
// parser sees it, so neither parsing nor writing recurses without bound). Writing sends each
// response as one compact line in one write.
#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "vemor/facade/cli_error.hpp"
#include "vemor/json.hpp"

namespace vemor::mcp::transport {

inline constexpr std::size_t kReadBufferSize = 8192;
inline constexpr std::size_t kMaxLineBytes = std::size_t{16} << 20;
inline constexpr std::size_t kMaxNesting = 128;
// A response echoes the request's id two levels down; nothing written is deeper than this.
inline constexpr std::size_t kMaxWriteNesting = kMaxNesting + 8;

// An I/O failure: the operating-system error number when there is one, and its text.
struct IoError {
    std::optional<int> code;
    std::string text;
};

// The text of an operating-system error number: "Broken pipe (os error 32)".
std::string os_error_text(int code);

// Reads lines from a byte source through an 8192-byte buffer.
class LineReader {
public:
    // Fills the span: the number of bytes read (0 at end of input) or an errno value.
    using Source = std::function<std::expected<std::size_t, int>(std::span<char>)>;

    enum class Status { Line, End, TooLong, Error };

    // Reads the descriptor, retrying interrupted reads and waiting out non-blocking ones.
    explicit LineReader(int fd);
    explicit LineReader(Source source);

    // The next line without its line feed (a final line may lack one). After `Line`, `line()`
    // holds it; after `Error`, `error()` says why.
    Status next();
    std::string_view line() const { return line_; }
    const IoError& error() const { return error_; }
    // Read failures since the last successful read.
    int consecutive_failures() const { return failures_; }

private:
    Source source_;
    std::string buffer_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool eof_ = false;
    std::string line_;
    IoError error_;
    int failures_ = 0;
};

// The next message: a JSON value, none at end of input, or the error that makes a parse-error
// response (`CliError::Usage` for text that is not one JSON value, `CliError::Core` for a read
// failure, bytes that are not UTF-8 or an overlong line).
cli::CliResult<std::optional<Json>> read_message(LineReader& reader);

// One trimmed line as exactly one JSON value, nesting at most 128 levels.
cli::CliResult<Json> parse_message(std::string_view text);

// The compact JSON of `value` and a line feed, in one write to the descriptor.
cli::CliResult<void> write_message(int fd, const Json& value);
// One message line serialised already, given as pieces (its line feed the last), in one gathered
// write.
cli::CliResult<void> write_pieces(int fd, std::span<const std::string_view> pieces);

// `CliError::Core` holding `Error::Platform`: "mcp stdio transport: {context}: {text}", the
// code being the error number, or -1 without one.
cli::CliError io_err(std::string_view context, const IoError& error);

// True when `value` nests deeper than `limit` levels (checked without recursion).
bool nests_deeper_than(const Json& value, std::size_t limit);

}  // namespace vemor::mcp::transport
