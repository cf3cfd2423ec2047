// The line reader, message parsing and writing, and the serve loop over in-memory input.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "vemor/mcp/serve.hpp"
#include "vemor/mcp/transport.hpp"

namespace vemor::mcp {
namespace {

using transport::LineReader;

// A source handing out the given chunks, then end of input (or errors, when asked).
LineReader::Source chunks(std::vector<std::string> parts, int error_after = 0) {
    auto index = std::make_shared<std::size_t>(0);
    return [parts = std::move(parts), index, error_after](std::span<char> buf)
               -> std::expected<std::size_t, int> {
        if (*index >= parts.size()) {
            if (error_after) return std::unexpected(EIO);
            return 0;
        }
        const std::string& part = parts[(*index)++];
        std::copy(part.begin(), part.end(), buf.begin());
        return part.size();
    };
}

std::vector<std::string> read_all_lines(LineReader& reader) {
    std::vector<std::string> lines;
    while (reader.next() == LineReader::Status::Line) lines.emplace_back(reader.line());
    return lines;
}

TEST(LineReader, SplitsAcrossChunksAndKeepsAFinalLineWithoutNewline) {
    LineReader reader(chunks({"ab", "c\nd", "e\n\nf"}));
    EXPECT_EQ(read_all_lines(reader), (std::vector<std::string>{"abc", "de", "", "f"}));
    EXPECT_EQ(reader.next(), LineReader::Status::End);
}

TEST(ReadMessage, OutcomesByLine) {
    struct Case {
        std::string input;
        std::string expected;  // "end", "json:<dump>" or "error:<message>"
    };
    const std::vector<Case> cases = {
        {"", "end"},
        {"  \t \r\n\n", "end"},
        {"\xC2\xA0{\"a\":1}\xE3\x80\x80\r\n", "json:{\"a\":1}"},
        {"[1]  [2]\n", "error:usage error: invalid JSON on stdin: parse error at line 1, column 6: syntax error while parsing value - unexpected '['; expected end of input"},
        {"{\"a\":\"\xed\xa0\x80\"}\n", "error:Platform error (-1): mcp stdio transport: read stdin: stream did not contain valid UTF-8"},
        {std::string(129, '[') + "\n", "error:usage error: invalid JSON on stdin: nesting deeper than 128 levels at line 1, column 129"},
        {"[\"" + std::string(200, '[') + "\"]\n", "json:[\"" + std::string(200, '[') + "\"]"},
        {"\xEF\xBB\xBF{\"a\":1}\n", "error:usage error: invalid JSON on stdin: parse error at line 1, column 1: syntax error while parsing value - unexpected byte order mark"},
    };
    for (const Case& c : cases) {
        LineReader reader(chunks({c.input}));
        auto message = transport::read_message(reader);
        std::string got;
        if (!message)
            got = "error:" + message.error().message();
        else if (!*message)
            got = "end";
        else
            got = "json:" + json::dump(**message);
        EXPECT_EQ(got, c.expected) << c.input.substr(0, 40);
    }
}

// An in-memory file standing in for standard output.
struct MemOut {
    int fd = ::memfd_create("mcp-out", 0);
    ~MemOut() { ::close(fd); }
    std::string text() const {
        std::string out(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
        if (::pread(fd, out.data(), out.size(), 0) < 0) out.clear();
        return out;
    }
};

// A tool host without tools, for the loop itself.
struct NoTools : ToolHost {
    cli::CliResult<ToolOutput> call(std::string_view, const Json&) override { return ToolOutput::json(Json::object()); }
    bool has_tool(std::string_view) const override { return false; }
    Json list() const override { return Json::array(); }
};

TEST(ServeStream, AnswersInOrderAndEndsAtEndOfInput) {
    MemOut out;
    Session session(std::make_unique<NoTools>());
    LineReader reader(chunks({"{\"id\":1,\"method\":\"ping\"}\nnot json\n{\"method\":\"ping\"}\n{\"id\":2,\"method\":\"ping\"}"}));
    ASSERT_TRUE(serve_stream(reader, out.fd, session));
    std::string text = out.text();
    EXPECT_TRUE(text.starts_with("{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n{\"error\":{\"code\":-32700,"));
    EXPECT_TRUE(text.ends_with("\"id\":null,\"jsonrpc\":\"2.0\"}\n{\"id\":2,\"jsonrpc\":\"2.0\",\"result\":{}}\n"));
}

TEST(ServeStream, InputThatFailsEveryReadEndsTheServer) {
    MemOut out;
    Session session(std::make_unique<NoTools>());
    LineReader reader(chunks({}, /*error_after=*/1));
    auto result = serve_stream(reader, out.fd, session);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(),
              "Platform error (5): mcp stdio transport: read stdin: Input/output error (os error 5)");
    std::string expected_line =
        "{\"error\":{\"code\":-32700,\"message\":\"Parse error: Platform error (5): mcp stdio transport: "
        "read stdin: Input/output error (os error 5)\"},\"id\":null,\"jsonrpc\":\"2.0\"}\n";
    std::string expected;
    for (int i = 0; i < kMaxConsecutiveReadFailures; ++i) expected += expected_line;
    EXPECT_EQ(out.text(), expected);
}

TEST(WriteMessage, AClosedOutputIsAWriteError) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    std::signal(SIGPIPE, SIG_IGN);
    auto result = transport::write_message(fds[1], Json::object());
    ::close(fds[1]);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(),
              "Platform error (32): mcp stdio transport: write stdout: Broken pipe (os error 32)");
}

// Pieces larger than the pipe holds are taken by several writes, each ending wherever the pipe
// was full: the reader must get every byte once, in order.
TEST(WriteMessage, PiecesLargerThanThePipeArriveWholeAndInOrder) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    // Non-blocking, a write stops where the pipe is full (a blocking one would wait instead).
    ASSERT_EQ(::fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
    std::string got;
    std::thread reader([&] {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
    });
    // Bytes that differ with their position, so a piece resent from the wrong place shows.
    auto counting = [](std::size_t n, char first) {
        std::string out(n, '\0');
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>(first + i % 23);
        return out;
    };
    const std::string head = counting(100000, 'a'), body = counting(70001, 'A');
    const std::string_view pieces[] = {head, "", body, "}", "\n"};
    auto result = transport::write_pieces(fds[1], pieces);
    ::close(fds[1]);
    reader.join();
    ::close(fds[0]);
    ASSERT_TRUE(result);
    EXPECT_TRUE(got == head + body + "}\n") << got.size() << " bytes";
}

TEST(WriteMessage, InvalidUtf8IsWrittenAsReplacementAndNothingTooDeepIsWritten) {
    MemOut out;
    ASSERT_TRUE(transport::write_message(out.fd, Json{{"name", std::string("a\xff" "b")}}));
    EXPECT_EQ(out.text(), "{\"name\":\"a\xEF\xBF\xBD" "b\"}\n");

    // Standard output may be a terminal: DEL and C1 controls go out as escapes, like C0.
    MemOut names;
    ASSERT_TRUE(
        transport::write_message(names.fd, Json{{"name", "\x1b\x7f\xC2\x9b" "2J\xC2\xA0"}}));
    EXPECT_EQ(names.text(), "{\"name\":\"\\u001b\\u007f\\u009b" "2J\xC2\xA0\"}\n");

    Json deep = Json::array();
    for (int i = 0; i < 200; ++i) deep = Json::array({std::move(deep)});
    auto refused = transport::write_message(out.fd, deep);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message(),
              "Platform error (-1): mcp stdio transport: encode response: nesting deeper than 136 levels");
}

}  // namespace
}  // namespace vemor::mcp
