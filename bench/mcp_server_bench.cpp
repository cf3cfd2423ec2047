// The MCP server in process, without the pipe: the application listing that `tools/call apps`
// makes (App::list_with over the process-wide provider, the simulated desktop here), the whole
// `tools/call apps` and `tools/list` answered by a session and serialised as the transport
// writes them. bench/mcp_vs_sdk.py reads these to split a piped request's time between the
// provider and the server's own work.
#include <benchmark/benchmark.h>

#include <string>
#include <variant>

#include "vemor/app.hpp"
#include "vemor/facade/providers.hpp"
#include "vemor/json.hpp"
#include "vemor/mcp/protocol.hpp"

namespace {

using vemor::Json;

void BM_AppsListing(benchmark::State& state) {
    auto handle = vemor::facade::provider();
    if (!handle) {
        state.SkipWithError("no provider");
        return;
    }
    for (auto _ : state) {
        auto apps = vemor::App::list_with(*handle);
        benchmark::DoNotOptimize(apps);
    }
}
BENCHMARK(BM_AppsListing);

// The response's bytes as the transport writes them.
std::size_t answer(vemor::mcp::Session& session, const Json& request) {
    auto response = session.handle(request);
    if (!response) return 0;
    if (const auto* text = std::get_if<vemor::mcp::SerializedResponse>(&*response))
        return text->head.size() + text->body->size() + text->tail.size();
    return vemor::json::dump(std::get<Json>(*response)).size();
}

void BM_Session(benchmark::State& state, const char* request_text) {
    vemor::mcp::Session session;
    answer(
        session,
        Json::parse(R"({"id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})"));
    const Json request = Json::parse(request_text);
    std::size_t bytes = 0;
    for (auto _ : state) bytes = answer(session, request);
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK_CAPTURE(BM_Session, tools_call_apps,
                  R"({"id":1,"method":"tools/call","params":{"name":"apps","arguments":{}}})");
BENCHMARK_CAPTURE(BM_Session, tools_list, R"({"id":1,"method":"tools/list"})");

}  // namespace

BENCHMARK_MAIN();
