// `run_main` inside this process, where the simulated desktop can be looked at after a command
// changed it.
#include "vemor/cli/run.hpp"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "golden_desktop.hpp"
#include "subprocess.hpp"

namespace vemor::cli {
namespace {

// The process-wide provider reads the desktop once, when it is first created.
void use_golden_desktop() {
    static testing::TempDir dir;
    static const bool done = [] {
        const auto path = dir.write("desktop.json", std::string(testing::kGoldenDesktop));
        ::setenv("VEMOR_SIMULATED_DESKTOP", path.c_str(), 1);
        ::setenv("VEMOR_DEFAULT_TIMEOUT", "0.2", 1);
        return true;
    }();
    (void)done;
}

struct Captured {
    std::string out;
    int code = -1;
};

// Runs the command with standard output sent to a temporary file.
Captured run_captured(std::vector<std::string> args) {
    Captured c;
    FILE* tmp = std::tmpfile();
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(tmp), STDOUT_FILENO);
    c.code = run_main(args);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::rewind(tmp);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, tmp)) > 0;) c.out.append(buf, n);
    std::fclose(tmp);
    return c;
}

TEST(RunMain, AnActionChangesTheDesktopThatLaterCommandsSee) {
    use_golden_desktop();
    const std::vector<std::string> find_saved = {
        "find", "static_text[value=\"Saved\"]", "--app", "Editor", "-o", "bounds"};
    EXPECT_EQ(run_captured(find_saved).code, 1);

    const Captured pressed =
        run_captured({"action", "press", "button[name=\"Save\"]", "--app", "Editor"});
    EXPECT_EQ(pressed.out, "ok\n");
    EXPECT_EQ(pressed.code, 0);

    const Captured found = run_captured(find_saved);
    EXPECT_EQ(found.out, "110,260,100,18\n");
    EXPECT_EQ(found.code, 0);

    const Captured set = run_captured(
        {"action", "set-value", "text_field[name=\"Name\"]", "--app", "Editor", "--value", "Bob"});
    EXPECT_EQ(set.out, "ok\n");
    EXPECT_EQ(
        run_captured({"find", "text_field[value=\"Bob\"]", "--app", "Editor", "-o", "center"}).out,
        "210,161\n");
}

TEST(RunMain, ExitCodesFollowTheErrorKind) {
    use_golden_desktop();
    EXPECT_EQ(run_captured({}).code, 0);
    EXPECT_EQ(run_captured({"find"}).code, 2);
    EXPECT_EQ(run_captured({"find", "link", "--app", "Editor"}).code, 1);
    EXPECT_EQ(run_captured({"apps"}).out, "120 Dock\n200 Editor focused\n300 Viewer\n");
}

}  // namespace
}  // namespace vemor::cli
