// The floor of the MCP benchmark: a trivial stdio JSON-RPC server that answers the handshake,
// tools/list with one tool and tools/call with a fixed text, without parsing JSON (the id is cut
// out of the line as text). Whatever a client costs against it is the client's own cost.
#include <unistd.h>

#include <iostream>
#include <string>

namespace {

std::string id_of(const std::string& line) {
    auto at = line.find("\"id\":");
    if (at == std::string::npos) return {};
    at += 5;
    auto end = line.find_first_of(",}", at);
    return line.substr(at, end - at);
}

void answer(const std::string& id, const char* result) {
    std::string out = "{\"jsonrpc\":\"2.0\",\"id\":" + id + ",\"result\":" + result + "}\n";
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::write(1, out.data() + done, out.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

int main() {
    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::string id = id_of(line);
        if (id.empty()) continue;  // a notification
        if (line.find("\"method\":\"initialize\"") != std::string::npos)
            answer(id, R"({"protocolVersion":"2025-06-18","capabilities":{"tools":{}},"serverInfo":{"name":"floor","version":"1.0.0"}})");
        else if (line.find("\"method\":\"tools/list\"") != std::string::npos)
            answer(id, R"({"tools":[{"name":"noop","description":"Does nothing.","inputSchema":{"type":"object"}}]})");
        else if (line.find("\"method\":\"tools/call\"") != std::string::npos)
            answer(id, R"({"content":[{"type":"text","text":"ok"}],"isError":false})");
        else
            answer(id, "{}");
    }
}
