// The `vemor` executable: the arguments without the program name go to `cli::run_main`, whose
// result is the exit code.
#include <csignal>
#include <string>
#include <vector>

#include "vemor/cli/run.hpp"

int main(int argc, char** argv) {
    // A reader that goes away (`vemor tree | head`) must turn into a reported write error, not a
    // silent death by signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args;
    if (argc > 1) args.assign(argv + 1, argv + argc);
    return vemor::cli::run_main(args);
}
