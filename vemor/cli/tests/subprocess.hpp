// Runs the built `vemor` executable as a child process and collects what it printed on each
// stream and its exit code, so tests compare exactly what a user sees.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "temp_dir.hpp"

extern char** environ;

namespace vemor::cli::testing {

struct RunResult {
    std::string out;
    std::string err;
    int code = -1;
};

struct RunOptions {
    // Variables set (or, with no value, removed) on top of this process's environment.
    std::map<std::string, std::optional<std::string>> env;
    // Written to the child's standard input, which is then closed; none leaves it empty.
    std::string input;
    // Standard input is a pseudo-terminal instead of a pipe.
    bool terminal_input = false;
    // The reading end of standard output is closed before the child starts writing.
    bool close_stdout = false;
    // Interrupt the child (as Ctrl-C does) once it has written this to standard error.
    std::string interrupt_after_err;
};

inline std::vector<std::string> merged_environment(
    const std::map<std::string, std::optional<std::string>>& overrides) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        const std::string key = entry.substr(0, entry.find('='));
        if (!overrides.count(key)) env.push_back(std::move(entry));
    }
    for (const auto& [key, value] : overrides)
        if (value) env.push_back(key + "=" + *value);
    return env;
}

// Whether this machine can give a child a pseudo-terminal (a container may have none).
inline bool terminal_available() {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool usable = ::grantpt(fd) == 0 && ::unlockpt(fd) == 0 && ::ptsname(fd) != nullptr;
    ::close(fd);
    return usable;
}

inline RunResult run_vemor(const std::vector<std::string>& args, const RunOptions& options = {}) {
    // A child that exits before reading its input must not take this process down with it.
    ::signal(SIGPIPE, SIG_IGN);
    RunResult result;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return result;

    int terminal_master = -1;
    int child_stdin = in[0];
    if (options.terminal_input) {
        terminal_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(terminal_master);
        ::unlockpt(terminal_master);
        child_stdin = ::open(::ptsname(terminal_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child_stdin, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);

    std::vector<std::string> argv_text{VEMOR_EXE};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = merged_environment(options.env);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    // SIGINT starts at its default, whatever this test's launcher chose (a background job's is
    // ignored, and the executable keeps an ignored SIGINT), so that an interrupt means the same
    // in every run.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    if (options.close_stdout) ::close(out[0]);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, VEMOR_EXE, &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (options.terminal_input) ::close(child_stdin);
    if (spawned != 0) {
        ::close(in[1]);
        if (!options.close_stdout) ::close(out[0]);
        ::close(err[0]);
        if (terminal_master >= 0) ::close(terminal_master);
        return result;
    }

    // The answer waits in the terminal's line buffer (or the pipe) until the child reads it.
    if (options.terminal_input) {
        if (!options.input.empty())
            (void)!::write(terminal_master, options.input.data(), options.input.size());
    } else if (!options.input.empty()) {
        (void)!::write(in[1], options.input.data(), options.input.size());
    }
    ::close(in[1]);

    std::vector<pollfd> fds;
    if (!options.close_stdout) fds.push_back({out[0], POLLIN, 0});
    fds.push_back({err[0], POLLIN, 0});
    // A child that never finishes is killed so that the test fails instead of hanging.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool interrupted = false;
    while (!fds.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            give_up - std::chrono::steady_clock::now());
        const int ready =
            ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(left.count(), 0)));
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) {
            ::kill(pid, SIGKILL);
            for (const pollfd& p : fds) ::close(p.fd);
            break;
        }
        for (std::size_t i = 0; i < fds.size();) {
            if (fds[i].revents == 0) {
                ++i;
                continue;
            }
            char buf[65536];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (fds[i].fd == err[0] ? result.err : result.out).append(buf, n);
                if (!options.interrupt_after_err.empty() && !interrupted &&
                    result.err.find(options.interrupt_after_err) != std::string::npos) {
                    ::kill(pid, SIGINT);
                    interrupted = true;
                }
                ++i;
            } else if (n < 0 && errno == EINTR) {
                ++i;
            } else {
                ::close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (terminal_master >= 0) ::close(terminal_master);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

using ::vemor::testing::TempDir;

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace vemor::cli::testing
