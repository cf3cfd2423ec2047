// libFuzzer target: arbitrary bytes as standard input of the MCP server. The bytes go through
// the line reader (in chunks whose sizes the input picks), message parsing, the session and the
// tools over the simulated desktop; every response is serialised as the server would write it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <variant>

#include "vemor/config.hpp"
#include "vemor/mcp/protocol.hpp"
#include "vemor/mcp/transport.hpp"
#include "vemor/standin/control.hpp"

namespace {

using namespace vemor;
using namespace vemor::mcp;

// The real tools, with the arguments that only make a call slow (a blocking poll, a slow drag)
// cut to zero, so that the fuzzer spends its time on inputs rather than on waits.
class QuickTools final : public ToolHost {
public:
    cli::CliResult<ToolOutput> call(std::string_view name, const Json& arguments) override {
        Json args = arguments;
        for (const char* key : {"timeout_ms", "duration_ms"})
            if (args.contains(key) && args[key].is_number()) args[key] = 0;
        return tools_.call(name, args);
    }
    bool has_tool(std::string_view name) const override { return tools_.has_tool(name); }
    Json list() const override { return tools_.list(); }
    std::shared_ptr<const std::string> list_text() const override { return tools_.list_text(); }

private:
    VemorTools tools_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    config::set_default_timeout(Duration::zero());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the read size, so lines are split across reads in every way.
    std::size_t chunk = size > 0 ? (data[0] % 64) + 1 : 1;
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t pos = size > 0 ? 1 : 0;
    transport::LineReader reader([&](std::span<char> buf) -> std::expected<std::size_t, int> {
        std::size_t n = std::min({chunk, buf.size(), input.size() - pos});
        std::memcpy(buf.data(), input.data() + pos, n);
        pos += n;
        return n;
    });
    {
        Session session(std::make_unique<QuickTools>());
        for (;;) {
            auto message = transport::read_message(reader);
            Json response;
            if (!message) {
                response = protocol::parse_error_response(message.error());
            } else if (!*message) {
                break;
            } else {
                auto answer = session.handle(**message);
                if (!answer) continue;
                if (const auto* text = std::get_if<SerializedResponse>(&*answer)) {
                    // A response written as it is must still be one JSON value on one line.
                    std::string line = text->text();
                    if (line.find('\n') != std::string::npos || !json::parse(line)) __builtin_trap();
                    continue;
                }
                response = std::move(std::get<Json>(*answer));
            }
            if (transport::nests_deeper_than(response, transport::kMaxWriteNesting)) __builtin_trap();
            std::string line = json::dump(response);
            if (line.find('\n') != std::string::npos) __builtin_trap();
        }
    }
    // The simulated desktop's records grow with every call; the fuzzer runs for millions.
    standin::clear_call_log();
    standin::clear_posted_events();
    return 0;
}
