// The floor of the MCP benchmark: a trivial stdio JSON-RPC server that replays fixed result
// bytes without parsing JSON (the id is cut out of the line as text):
//   echo_floor LIST_RESULT_FILE CALL_RESULT_FILE
// It answers tools/list and tools/call with the bytes of the two files, which the benchmark
// captures from `vemor mcp` itself, in the same response line that vemor writes; initialize gets
// a minimal handshake, anything else {}. A client reading its answers parses exactly what it
// parses from vemor, so whatever the client costs against this server is the client's own cost.
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace {

std::string id_of(const std::string& line) {
    auto at = line.find("\"id\":");
    if (at == std::string::npos) return {};
    at += 5;
    auto end = line.find_first_of(",}", at);
    return line.substr(at, end - at);
}

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// {"id":ID,"jsonrpc":"2.0","result":RESULT} and a line feed, in one write.
void answer(const std::string& id, const std::string& result) {
    std::string out;
    out.reserve(id.size() + result.size() + 40);
    out += "{\"id\":";
    out += id;
    out += ",\"jsonrpc\":\"2.0\",\"result\":";
    out += result;
    out += "}\n";
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::write(1, out.data() + done, out.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: echo_floor LIST_RESULT_FILE CALL_RESULT_FILE\n";
        return 2;
    }
    const std::string list_result = read_file(argv[1]);
    const std::string call_result = read_file(argv[2]);
    const std::string init_result =
        R"({"capabilities":{"tools":{}},"protocolVersion":"2025-06-18","serverInfo":{"name":"floor","version":"1.0.0"}})";
    const std::string empty = "{}";
    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::string id = id_of(line);
        if (id.empty()) continue;  // a notification
        if (line.find("\"method\":\"initialize\"") != std::string::npos)
            answer(id, init_result);
        else if (line.find("\"method\":\"tools/list\"") != std::string::npos)
            answer(id, list_result);
        else if (line.find("\"method\":\"tools/call\"") != std::string::npos)
            answer(id, call_result);
        else
            answer(id, empty);
    }
}
