// Runs the `vemor` executable as a child process with pipes on all three standard streams,
// feeding it the whole input and collecting everything it writes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "vemor/json.hpp"

extern char** environ;

namespace vemor::mcp::testing {

struct McpRun {
    std::string out;
    std::string err;
    int exit_code = -1;  // -1 when the child did not exit normally
};

struct McpRunOptions {
    // The child's standard output is a pipe whose reader has already gone.
    bool stdout_closed = false;
};

// A child still running after this long is killed, so that its test fails instead of hanging.
inline constexpr std::chrono::seconds kRunLimit{60};

inline McpRun run_vemor(std::string_view input, std::vector<std::string> args = {"mcp"},
                        const std::vector<std::string>& extra_env = {},
                        McpRunOptions options = {}) {
    std::signal(SIGPIPE, SIG_IGN);
    // Close-on-exec: the child keeps only its three standard streams, so that it never holds
    // its own input open, nor does any other child started meanwhile.
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return {};
    if (options.stdout_closed) ::close(out[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);

    std::vector<std::string> argv_s{VEMOR_EXE};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    // `extra_env` entries replace inherited ones of the same name; a bare name unsets it.
    auto name_of = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> env_s;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const auto& x : extra_env) replaced = replaced || name_of(x) == name_of(*e);
        if (!replaced) env_s.emplace_back(*e);
    }
    for (const auto& x : extra_env)
        if (x.find('=') != std::string::npos) env_s.push_back(x);
    std::vector<char*> envp;
    for (auto& e : env_s) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, VEMOR_EXE, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    const int out_fd = options.stdout_closed ? -1 : out[0];
    McpRun run;
    if (rc != 0) {
        ::close(in[1]);
        if (out_fd >= 0) ::close(out_fd);
        ::close(err[0]);
        return run;
    }
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    int in_fd = in[1];
    if (input.empty()) {
        ::close(in_fd);
        in_fd = -1;
    }
    bool out_open = out_fd >= 0, err_open = true;
    char buf[65536];
    const auto give_up = std::chrono::steady_clock::now() + kRunLimit;
    while (out_open || err_open) {
        pollfd fds[3] = {{out_fd, POLLIN, 0}, {err[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
        if (!out_open) fds[0].fd = -1;
        if (!err_open) fds[1].fd = -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            give_up - std::chrono::steady_clock::now());
        const int ready = ::poll(fds, 3, static_cast<int>(std::max<long>(left.count(), 0)));
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) {
            ::kill(pid, SIGKILL);
            run.err += fmt::format("[still running after {} s: killed]\n", kRunLimit.count());
            break;
        }
        if (in_fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = ::write(in_fd, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN) written = input.size();
            if (written == input.size()) {
                ::close(in_fd);
                in_fd = -1;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0)
                (i == 0 ? run.out : run.err).append(buf, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                (i == 0 ? out_open : err_open) = false;
        }
    }
    if (in_fd >= 0) ::close(in_fd);
    if (out_fd >= 0) ::close(out_fd);
    ::close(err[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

// The output lines of a run, each parsed.
inline std::vector<Json> responses(const McpRun& run) {
    std::vector<Json> out;
    for (const std::string& line : split_lines(run.out)) out.push_back(Json::parse(line));
    return out;
}

// A request line: {"id", "jsonrpc", "method", "params"}.
inline std::string request(int id, std::string_view method, const Json& params = nullptr) {
    Json r{{"jsonrpc", "2.0"}, {"id", id}, {"method", std::string(method)}};
    if (!params.is_null()) r["params"] = params;
    return r.dump() + "\n";
}

inline std::string call(int id, std::string_view tool, const Json& arguments = Json::object()) {
    return request(id, "tools/call", Json{{"name", std::string(tool)}, {"arguments", arguments}});
}

}  // namespace vemor::mcp::testing
