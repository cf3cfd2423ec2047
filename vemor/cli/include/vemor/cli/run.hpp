// The entry of the `vemor` command: one command per call, picked by the first word, its
// failure written to standard error and turned into the exit code (0 success, 1 failure,
// 2 usage error). Every launcher (the executable, the Python console script) goes through
// `run_main`, so failures read alike everywhere.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "vemor/facade/cli_error.hpp"

namespace vemor::cli {

// The words without the program name; returns the exit code.
int run_main(std::span<const std::string> args);

// Runs the command named by the first word. No word, or a word that is not exactly a command
// name, prints the help text to standard error and succeeds.
CliResult<void> run(std::span<const std::string> args);

// The help text, without a final line break.
std::string help_text();

// The address that the platform's `open` command accepts for the Accessibility privacy pane.
inline constexpr std::string_view kAccessibilitySettingsUrl =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

}  // namespace vemor::cli
