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
#include "vemor/facade/providers.hpp"
#include "vemor/standin/control.hpp"

namespace vemor::cli {
namespace {

// The process-wide provider reads the desktop once, when it is first created.
void use_golden_desktop() {
    static testing::TempDir dir;
    static const bool done = [] {
        const auto path = dir.write("desktop.json", std::string(testing::kGoldenDesktop));
        ::setenv("VEMOR_SIMULATED_DESKTOP", path.c_str(), 1);
        ::setenv("VEMOR_DEFAULT_TIMEOUT", "0.2", 1);
        // Created now, so that the desktop is in place before a test scripts a fault on it.
        return facade::provider().has_value();
    }();
    ASSERT_TRUE(done);
}

struct Captured {
    std::string out;
    std::string err;
    int code = -1;
};

// Sends the descriptor to a temporary file until `take` gives back what was written.
class Redirect {
public:
    explicit Redirect(int fd) : fd_(fd), tmp_(std::tmpfile()), saved_(::dup(fd)) {
        ::dup2(::fileno(tmp_), fd_);
    }
    std::string take() {
        ::dup2(saved_, fd_);
        ::close(saved_);
        std::string text;
        std::rewind(tmp_);
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, tmp_)) > 0;) text.append(buf, n);
        std::fclose(tmp_);
        return text;
    }

private:
    int fd_;
    FILE* tmp_;
    int saved_;
};

Captured run_captured(std::vector<std::string> args) {
    Redirect out(STDOUT_FILENO);
    Redirect err(STDERR_FILENO);
    Captured c;
    c.code = run_main(args);
    c.err = err.take();
    c.out = out.take();
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

// One application whose windows cannot be listed does not hide the others' windows.
TEST(RunMain, WindowsReportsApplicationsThatFailedAfterTheRest) {
    use_golden_desktop();
    standin::add_fault(standin::Fault{.call = "AXUIElementCopyAttributeValue",
                                      .kind = standin::Fault::Kind::Code,
                                      .code = kAXErrorCannotComplete,
                                      .name = "AXWindows",
                                      .pid = 300,
                                      .times = 0});
    const Captured c = run_captured({"windows"});
    standin::clear_faults();
    EXPECT_EQ(c.out,
              "window \"Draft\" [enabled visible active] bounds=(100,100,400,300) "
              "id=\"editor.window\" actions=[activate,minimize,restore,move_to,resize_to]\n"
              "(1 window)\n");
    EXPECT_EQ(c.err,
              "error: Viewer: Platform error (-25204): AXUIElementCopyAttributeValue(AXWindows) "
              "failed (AXError -25204)\n"
              "error: 1 of 3 application(s) could not be enumerated; see stderr for details\n");
    EXPECT_EQ(c.code, 1);
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
