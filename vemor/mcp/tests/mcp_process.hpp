// Runs the `vemor` executable as a child process with pipes on all three standard streams,
// feeding it the whole input and collecting everything it writes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "vemor/json.hpp"

extern char** environ;

namespace vemor::mcp::testing {

struct McpRun {
    std::string out;
    std::string err;
    int exit_code = -1;  // -1 when the child did not exit normally
};

inline McpRun run_vemor(std::string_view input, std::vector<std::string> args = {"mcp"},
                        const std::vector<std::string>& extra_env = {}) {
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (::pipe(in) || ::pipe(out) || ::pipe(err)) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
        posix_spawn_file_actions_addclose(&actions, fd);

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
    McpRun run;
    if (rc != 0) {
        ::close(in[1]);
        ::close(out[0]);
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
    bool out_open = true, err_open = true;
    char buf[65536];
    while (out_open || err_open) {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
        if (!out_open) fds[0].fd = -1;
        if (!err_open) fds[1].fd = -1;
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
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
    ::close(out[0]);
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
