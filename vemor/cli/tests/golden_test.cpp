// The `vemor` executable run as a user runs it: standard output, standard error and the exit
// code compared whole, on a small simulated desktop.
#include <gtest/gtest.h>
#include <spng.h>

#include <fmt/format.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "golden_desktop.hpp"
#include "subprocess.hpp"

namespace vemor::cli::testing {
namespace {

const std::string kHelp =
    "vemor — accessibility tree explorer\n"
    "\n"
    "Usage:\n"
    "\n"
    "Accessibility tree:\n"
    "  vemor apps                                List running applications\n"
    "  vemor shell                               List OS shell surfaces: KIND PID NAME\n"
    "  vemor windows [--app NAME | --pid PID]    List top-level windows\n"
    "  vemor tree   [TARGET]                     Print the accessibility tree\n"
    "  vemor find   SELECTOR [TARGET] [-o pretty|bounds|center]\n"
    "                                            Find elements matching a selector\n"
    "  vemor action ACTION SELECTOR [TARGET] [--value V]\n"
    "                                            [--at X,Y] [--size W,H]\n"
    "                                            Perform an action on an element\n"
    "  vemor events [--app NAME | --pid PID]     Stream accessibility events\n"
    "\n"
    "TARGET — what tree/find/action search (--shell and --app are exclusive):\n"
    "  --app NAME | --pid PID                    A running application\n"
    "  --shell KIND [--pid PID]                  An OS shell surface, as listed by\n"
    "                                            `vemor shell`. Add --pid when\n"
    "                                            several surfaces share a kind: it\n"
    "                                            is the only disambiguator, and it\n"
    "                                            cannot separate several surfaces\n"
    "                                            owned by one process (two panel\n"
    "                                            rows from one xfce4-panel).\n"
    "      KIND is one of:\n"
    "      menu_bar, status_items, taskbar, panel, dock, desktop, flyout, unknown\n"
    "      Kinds are platform-specific though the list is not: menu_bar,\n"
    "      status_items and dock are macOS only, taskbar is Windows only,\n"
    "      panel is Linux only, desktop and flyout are macOS and Windows.\n"
    "      `vemor shell` lists what this machine actually has.\n"
    "\n"
    "Input simulation (coords only — no selectors, no a11y):\n"
    "  vemor click  --at X,Y [--button left|right|middle] [--count N] [--held K,K]\n"
    "  vemor move   --at X,Y\n"
    "  vemor drag   --from X,Y --to X,Y [--button B] [--duration-ms MS] [--held K,K]\n"
    "  vemor scroll --at X,Y [--dx N] [--dy N]\n"
    "  vemor key    KEY [--held K,K]\n"
    "  vemor type   TEXT\n"
    "\n"
    "Screenshot (pixels; --annotate adds selectors and a11y):\n"
    "  vemor screenshot [--region X,Y,W,H] --out PATH\n"
    "                   [--app NAME | --pid PID | --shell KIND]\n"
    "                   [--annotate SELECTOR]... [--legend text|json|none]\n"
    "                                            --out - writes PNG bytes to stdout.\n"
    "                                            With no --annotate: a plain capture,\n"
    "                                            no target, no a11y.\n"
    "  Each --annotate is one group: it boxes every element its selector matches in\n"
    "  TARGET, in that group's colour, and the legend on stdout maps each box's tag\n"
    "  to a selector that acts on it (A7 -> button:nth(7)). Repeat for more groups.\n"
    "  Boxes come from the accessibility tree, so --annotate needs a target and gains\n"
    "  its failures (app not found, no match); an app with no tree gets no boxes.\n"
    "  --out - and a legend both want stdout: pick --out FILE, or --legend none.\n"
    "\n"
    "Model Context Protocol:\n"
    "  vemor mcp                                 Serve the above as MCP tools over\n"
    "                                            stdio (for MCP clients, not humans)\n"
    "\n"
    "Compose a11y + input/screenshot via `find -o bounds|center`:\n"
    "  region=$(vemor find 'button[name=\"OK\"]' --app Safari -o bounds)\n"
    "  vemor screenshot --region \"$region\" --out button.png\n"
    "  vemor click --at \"$(vemor find 'button[name=\"OK\"]' --app Safari -o center)\"\n"
    "\n"
    "Actions: press, focus, blur, toggle, expand, collapse, select, show-menu,\n"
    "  scroll-into-view, increment, decrement,\n"
    "  set-value (requires --value), type-text (requires --value),\n"
    "  set-numeric-value (requires --value), select-text (requires --value START,END),\n"
    "  minimize, maximize, enter-fullscreen, restore, close, activate,\n"
    "  move-to (requires --at X,Y), resize-to (requires --size W,H)\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  operation failed (app not found, no selector match, platform error)\n"
    "  2  usage error (unknown flag value, missing or invalid argument)\n";

class Golden : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        desktop_ = dir_->write("desktop.json", std::string(kGoldenDesktop));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    static RunOptions on_desktop(RunOptions options = {}) {
        options.env.emplace("VEMOR_SIMULATED_DESKTOP", desktop_.string());
        // Actions wait for an actionable target; a miss should not take the default 5 s.
        options.env.emplace("VEMOR_DEFAULT_TIMEOUT", "0.2");
        return options;
    }
    static RunResult run(const std::vector<std::string>& args) {
        return run_vemor(args, on_desktop());
    }

    static TempDir* dir_;
    static std::filesystem::path desktop_;
};
TempDir* Golden::dir_ = nullptr;
std::filesystem::path Golden::desktop_;

void expect_run(const RunResult& r, const std::string& out, const std::string& err, int code) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.code, code);
}

TEST_F(Golden, HelpForNoCommandAndEveryUnknownWord) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"--help"}, {"-h"}, {"help"}, {"Apps"}, {"screenshots"}, {"\xff\xfe"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.empty() ? "(none)" : args.front());
        expect_run(run(args), "", kHelp, 0);
    }
}

TEST_F(Golden, UsageErrors) {
    const std::string kinds =
        "menu_bar, status_items, taskbar, panel, dock, desktop, flyout, unknown";
    const std::string actions =
        "press, focus, blur, toggle, expand, collapse, select, show-menu, scroll-into-view, "
        "increment, decrement, set-value, set-numeric-value, type-text, select-text, minimize, "
        "maximize, enter-fullscreen, restore, close, activate, move-to, resize-to";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"shell", "extra"},
         "vemor shell takes no arguments (got: extra). It lists every surface; pass --shell KIND "
         "to tree, find or action to target one."},
        {{"windows", "--app", "Editor", "extra"},
         "usage: vemor windows [--app NAME | --pid PID]; unexpected argument: extra"},
        {{"windows", "--shell", "dock"},
         "usage: vemor windows [--app NAME | --pid PID]; --shell is not supported here — "
         "`vemor shell` lists OS shell surfaces"},
        // A stray word is reported before --shell.
        {{"windows", "extra", "--shell", "dock"},
         "usage: vemor windows [--app NAME | --pid PID]; unexpected argument: extra"},
        {{"windows", "--pid", "-5"}, "invalid --pid value '-5' (expected an integer process id)"},
        {{"tree"}, "specify --app NAME or --pid PID"},
        {{"tree", "--shell", "nope", "--app", "Editor"},
         "--shell and --app are mutually exclusive: --shell targets an OS shell surface, --app a "
         "running application. Use --pid alongside --shell to pick between surfaces of one kind."},
        {{"tree", "--shell", "Dock"},
         "unknown shell surface kind: Dock (expected one of: " + kinds + ")"},
        {{"find"},
         "usage: vemor find SELECTOR [--app NAME | --pid PID | --shell KIND] "
         "[-o pretty|bounds|center]"},
        // The selector is required before any lookup.
        {{"find", "--app", "Nope", "-o", "xml"},
         "usage: vemor find SELECTOR [--app NAME | --pid PID | --shell KIND] "
         "[-o pretty|bounds|center]"},
        {{"find", "button", "--app"}, "--app requires a value"},
        {{"find", "button", "--app", "Editor", "-o", "xml"},
         "unknown -o format: xml (expected pretty|bounds|center)"},
        {{"action", "press"},
         "usage: vemor action ACTION SELECTOR [--app NAME | --pid PID | --shell KIND] [--value V] "
         "[--at X,Y] [--size W,H]"},
        {{"action", "set-value", "text_field", "--app", "NotRunning"},
         "set-value requires a value"},
        {{"action", "move-to", "window", "--app", "Editor"}, "move-to requires --at X,Y"},
        {{"action", "resize-to", "window", "--app", "Editor", "--size", "0,10"},
         "--size must be W,H with positive values (got: 0,10)"},
        {{"action", "Press", "button", "--app", "Editor"},
         "unknown action: Press (expected one of: " + actions + ")"},
        // The verb is checked before the target is looked up, as the MCP `action` tool does.
        {{"action", "bogus", "button", "--app", "Nope"},
         "unknown action: bogus (expected one of: " + actions + ")"},
        {{"action", "Press", "button", "--shell", "dock", "--pid", "5"},
         "unknown action: Press (expected one of: " + actions + ")"},
        {{"events", "--shell", "dock", "--app", "NotRunning"},
         "--shell is not supported by `events`: accessibility events are subscribed per "
         "application. Use --app NAME or --pid PID."},
        {{"events"}, "specify --app NAME or --pid PID"},
        {{"click"}, "missing --at X,Y"},
        {{"click", "--at", "10"}, "--at must be X,Y (got: 10)"},
        {{"click", "--at", "1,2", "--button", "Left"},
         "unknown button: Left (expected left|right|middle)"},
        {{"click", "--at", "1,2", "--count", "4294967296"},
         "invalid --count value '4294967296' (expected a positive integer)"},
        {{"click", "--at", "1,2", "--held", "Shift,"}, "unknown key name: "},
        {{"move", "--at", "1,x"}, "invalid Y in --at: x"},
        {{"drag", "--to", "1,2"}, "missing --from X,Y"},
        {{"drag", "--from", "1,2"}, "missing --to X,Y"},
        {{"drag", "--to", "2", "--from", "1,x"}, "invalid Y in --from: x"},
        {{"drag", "--from", "1,2", "--to", "3,4", "--duration-ms", "-1"},
         "invalid --duration-ms value '-1' (expected milliseconds as an integer)"},
        {{"scroll", "--at", "1,2", "--dx", "1.5"},
         "invalid --dx value '1.5' (expected an integer)"},
        {{"key"}, "usage: vemor key KEY [--held K,K]"},
        {{"key", "enter"}, "unknown key name: enter"},
        {{"key", "F256"}, "invalid function key: F256"},
        {{"key", "enter", "--held", "Shift,"}, "unknown key name: enter"},
        {{"key", "\xff"}, "unknown key name: \xff"},
        {{"type"}, "usage: vemor type TEXT"},
        {{"screenshot"}, "missing --out PATH (use - for stdout)"},
        {{"screenshot", "--out", "x.png", "--region", "1,2,3"},
         "--region must be X,Y,W,H (got: 1,2,3)"},
        {{"screenshot", "--out", "x.png", "--region", "1, 2,-3,4"}, "invalid W in --region: -3"},
        // The region is checked before the legend, the legend's value before where the image
        // goes, and that before the target.
        {{"screenshot", "--out", "x.png", "--legend", "json", "--region", "1,2"},
         "--region must be X,Y,W,H (got: 1,2)"},
        {{"screenshot", "--out", "-", "--annotate", "button", "--legend", "xml"},
         "unknown --legend value: xml (expected text|json|none)"},
        {{"screenshot", "--out", "-", "--annotate", "button", "--legend", "json"},
         "--out - writes PNG bytes to stdout, and the legend would corrupt them: write the image "
         "to a file with --out FILE, or drop the legend with --legend none"},
        {{"screenshot", "--out", "x.png", "--legend", "json"},
         "--legend json has nothing to describe: add --annotate SELECTOR, or drop --legend"},
        {{"screenshot", "--out", "x.png", "--annotate", "button", "--legend", "xml"},
         "unknown --legend value: xml (expected text|json|none)"},
        {{"screenshot", "--out", "-", "--annotate", "button", "--app", "Editor"},
         "--out - writes PNG bytes to stdout, and the legend would corrupt them: write the image "
         "to a file with --out FILE, or drop the legend with --legend none"},
        {{"screenshot", "--out", "x.png", "--annotate", "button"},
         "--annotate resolves selectors against a target, and this command has none: add --app "
         "NAME, --pid PID, or --shell KIND"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " -> " + c.message);
        expect_run(run(c.args), "", "usage error: " + c.message + "\n", 2);
    }
}

TEST_F(Golden, FailuresExitWithOne) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::string missing_app =
        "error: No element matched selector: application[name=\"Nope\"]; waiting for: "
        "application discovery; candidates: \"Dock\" (pid=120), \"Editor\" (pid=200), "
        "\"Viewer\" (pid=300)\n";
    const std::vector<Case> cases = {
        {{"find", "button", "--app", "Nope"}, missing_app},
        {{"tree", "--app", "Nope"}, missing_app},
        {{"windows", "--app", "Nope"}, missing_app},
        {{"events", "--app", "Nope"}, missing_app},
        {{"action", "press", "button", "--app", "Nope"}, missing_app},
        {{"screenshot", "--out", "never.png", "--app", "Nope", "--annotate", "button"},
         missing_app},
        {{"key", "A"},
         "error: Invalid action data: Key::Char('A') is uppercase; use Key::Char('a') with "
         "Key::Shift held to produce an uppercase letter\n"},
        // A file that cannot be written: no "wrote" line.
        {{"screenshot", "--out", "/nonexistent-vemor-dir/x.png"},
         "error: Platform error (2): save_png: No such file or directory\n"},
        {{"find", "link", "--app", "Editor"}, "error: no elements matched selector: link\n"},
        // The output format is read only once something matched.
        {{"find", "link", "--app", "Editor", "-o", "xml"},
         "error: no elements matched selector: link\n"},
        {{"find", "button[", "--app", "Editor"},
         "error: Invalid selector 'button[': empty attribute name in filter\n"},
        {{"tree", "--shell", "dock", "--pid", "5"},
         "error: No element matched selector: shell_surface[kind=dock][pid=5]; waiting for: a "
         "dock shell surface; last observed: no dock surface with pid 5 is present; 1 other "
         "shell surface(s) enumerated; candidates: dock \"Dock\" (pid=120)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        expect_run(run(c.args), "", c.err, 1);
    }
}

TEST_F(Golden, Apps) {
    expect_run(run({"apps", "ignored", "--words"}), "120 Dock\n200 Editor focused\n300 Viewer\n",
               "", 0);
}

TEST_F(Golden, ShellSurfaces) {
    expect_run(run({"shell"}), "dock 120 Dock\n", "", 0);
    expect_run(run({"find", "list", "--shell", "dock", "-o", "bounds"}), "100,540,200,50\n", "", 0);
    expect_run(run({"find", "button", "--shell", "dock", "--pid", "120"}),
               "button \"Editor\" [enabled visible focusable] bounds=(110,545,40,40) "
               "id=\"dock.editor\" actions=[press]\n"
               "button \"Viewer\" [enabled visible focusable] bounds=(160,545,40,40) "
               "id=\"dock.viewer\" actions=[press]\n(2 matches)\n",
               "", 0);
}

TEST_F(Golden, Windows) {
    const std::string draft =
        "window \"Draft\" [enabled visible active] bounds=(100,100,400,300) id=\"editor.window\" "
        "actions=[activate,minimize,restore,move_to,resize_to]\n";
    expect_run(run({"windows"}),
               draft +
                   "window \"Photo\" [enabled visible] bounds=(520,100,200,200) "
                   "id=\"viewer.window\"\n(2 windows)\n",
               "", 0);
    expect_run(run({"windows", "--pid", "200"}), draft + "(1 window)\n", "", 0);
}

TEST_F(Golden, Tree) {
    expect_run(
        run({"tree", "--app", "Editor"}),
        "application \"Editor\" [enabled visible]\n"
        "└── window \"Draft\" [enabled visible active] bounds=(100,100,400,300) "
        "id=\"editor.window\" actions=[activate,minimize,restore,move_to,resize_to]\n"
        "    ├── button \"Save\" [enabled visible focusable] bounds=(110,110,60,24) "
        "id=\"editor.save\" actions=[press,focus]\n"
        "    ├── button \"Zero\" [enabled visible focusable] bounds=(180,110,0,24) "
        "id=\"editor.zero\"\n"
        "    ├── text_field \"Name\" value=\"Ann\" [enabled visible focusable editable] "
        "bounds=(110,150,200,22) id=\"editor.name\" actions=[focus,set_value]\n"
        "    ├── check_box \"Bold\" [enabled visible focusable checked=off] "
        "bounds=(110,180,80,20) id=\"editor.bold\" actions=[press,toggle]\n"
        "    ├── slider \"Zoom\" value=\"0.5\" numeric_value=0.5 min=0 max=1.25 [enabled "
        "visible focusable] bounds=(110,210,150,20) id=\"editor.zoom\" actions=[set_value]\n"
        "    ├── static_text \"Ready\" value=\"Ready\" [enabled visible] bounds=(110,260,100,18) "
        "id=\"editor.status\"\n"
        "    └── static_text \"Say \"hi\"\" [enabled visible] id=\"editor.hint\"\n",
        "", 0);
}

TEST_F(Golden, FindInItsThreeForms) {
    expect_run(run({"find", "button", "--app", "Editor"}),
               "button \"Save\" [enabled visible focusable] bounds=(110,110,60,24) "
               "id=\"editor.save\" actions=[press,focus]\n"
               "button \"Zero\" [enabled visible focusable] bounds=(180,110,0,24) "
               "id=\"editor.zero\"\n(2 matches)\n",
               "", 0);
    expect_run(run({"find", "image", "--pid", "300", "-o", "pretty"}),
               "image \"Sunset\" [enabled visible] bounds=(530,130,180,160) "
               "id=\"viewer.image\"\n(1 match)\n",
               "", 0);
    expect_run(run({"find", "button", "--app", "Editor", "-o", "bounds"}),
               "110,110,60,24\n180,110,0,24\n", "", 0);
    // Halves round down; an element without bounds is skipped with a warning.
    expect_run(run({"find", "static_text", "--app", "Editor", "-o", "center"}), "160,269\n",
               "warning: skipping static_text \"Say \"hi\"\": element has no bounds\n", 0);
    expect_run(run({"find", "slider", "--app", "Editor", "-o", "center"}), "185,220\n", "", 0);
}

TEST_F(Golden, ActionsAnswerOk) {
    expect_run(run({"action", "press", "button[name=\"Save\"]", "--app", "Editor"}), "ok\n", "", 0);
    expect_run(run({"action", "set-value", "text_field", "--app", "Editor", "--value", "Bob"}),
               "ok\n", "", 0);
}

TEST_F(Golden, EventsListensUntilInterrupted) {
    RunOptions options = on_desktop();
    options.interrupt_after_err = "\n";
    expect_run(run_vemor({"events", "--pid", "200"}, options), "",
               "Listening for events on \"Editor\" (ctrl-c to stop)...\n", 128 + SIGINT);
}

// Names and values come from other programs: a window title that holds terminal controls must
// print as text (nothing here depends on whether standard output is a terminal).
TEST_F(Golden, DesktopTextsPrintWithTheirControlCharactersEscaped) {
    const auto desktop = dir_->write("hostile.json", R"json({
  "base": "empty",
  "displays": [{"frame": [0, 0, 800, 600], "scale": 1.0}],
  "window_list": [
    {"pid": 400, "owner_name": "Evil\u009b2J\u001b[31m", "layer": 0, "window": "evil.window"}
  ],
  "apps": [
    {"pid": 400, "name": "Evil\u009b2J\u001b[31m",
     "children": [
       {"role": "AXWindow", "subrole": "AXStandardWindow", "title": "T\u001b]0;pwn\u0007",
        "identifier": "evil\u007f.window", "frame": [10, 10, 300, 200],
        "children": [
          {"role": "AXButton", "title": "caf\u00e9 \"\u4e2d\" \\ ok", "identifier": "evil.ok",
           "frame": [20, 20, 60, 20], "enabled": true},
          {"role": "AXTextField", "description": "Tab\there", "value": "l1\nl2\r\u0085",
           "identifier": "evil.field", "frame": [20, 50, 100, 20], "enabled": true},
          {"role": "AXStaticText", "title": "x\u001b[2Jy", "identifier": "evil.text"}
        ]}
     ]}
  ]
})json");
    RunOptions options;
    options.env.emplace("VEMOR_SIMULATED_DESKTOP", desktop.string());
    auto on = [&](const std::vector<std::string>& args) { return run_vemor(args, options); };

    const std::string app = R"("Evil\u{9b}2J\u{1b}[31m")";
    const std::string window =
        R"(window "T\u{1b}]0;pwn\u{7}" [enabled visible] bounds=(10,10,300,200) )"
        R"(id="evil\u{7f}.window")";
    // Printable text stays as it is: quotes, backslashes and non-ASCII letters included.
    const std::string field =
        R"(text_field "Tab\there" value="l1\nl2\r\u{85}" [enabled visible focusable editable] )"
        R"(bounds=(20,50,100,20) id="evil.field" actions=[set_value])";

    expect_run(on({"apps"}), "400 Evil\\u{9b}2J\\u{1b}[31m\n", "", 0);
    expect_run(on({"windows"}), window + "\n(1 window)\n", "", 0);
    expect_run(on({"tree", "--pid", "400"}),
               "application " + app + " [enabled visible]\n└── " + window +
                   "\n    ├── button \"café \"中\" \\ ok\" [enabled visible focusable] "
                   "bounds=(20,20,60,20) id=\"evil.ok\"\n    ├── " +
                   field + "\n    └── " + R"(static_text "x\u{1b}[2Jy" [enabled visible] )" +
                   "id=\"evil.text\"\n",
               "", 0);
    expect_run(on({"find", "text_field", "--pid", "400"}), field + "\n(1 match)\n", "", 0);
    // An error that quotes the desktop keeps its line breaks and escapes the rest.
    expect_run(on({"find", "button", "--app", "Nope"}), "",
               "error: No element matched selector: application[name=\"Nope\"]; waiting for: "
               "application discovery; candidates: " + app + " (pid=400)\n",
               1);
    expect_run(on({"find", "static_text", "--pid", "400", "-o", "center"}), "",
               R"(warning: skipping static_text "x\u{1b}[2Jy": element has no bounds)"
               "\n",
               0);

    options.interrupt_after_err = "\n";
    expect_run(on({"events", "--pid", "400"}), "",
               "Listening for events on " + app + " (ctrl-c to stop)...\n", 128 + SIGINT);
}

// Raw control bytes (C0 but the line feed, DEL, C1 as UTF-8) in `text`, as "byte N: 0xXX".
std::vector<std::string> raw_controls(const std::string& text) {
    std::vector<std::string> found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        const bool c1 = b == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if ((b < 0x20 && b != '\n') || b == 0x7F || c1)
            found.push_back(fmt::format("byte {}: 0x{:02X}", i, c1 ? text[i + 1] & 0xFF : b));
    }
    return found;
}

// The elapsed time of a time-out message, which no run repeats, as "<elapsed>".
std::string without_elapsed(std::string text) {
    constexpr std::string_view kTimeout = "Timeout after ";
    const auto at = text.find(kTimeout);
    if (at == std::string::npos) return text;
    const auto from = at + kTimeout.size();
    return text.replace(from, text.find(';', from) - from, "<elapsed>");
}

// Every text of this desktop that could pass for a line of ours follows a line feed, and holds
// C0, DEL and C1 controls besides. Messages quote these texts with every control escaped; the
// only line feeds on either stream are the output's own.
TEST_F(Golden, DesktopTextsInMessagesCannotForgeLines) {
    const auto desktop = dir_->write("forging.json", R"json({
  "base": "empty",
  "displays": [{"frame": [0, 0, 800, 600], "scale": 1.0}],
  "focused_app": 500,
  "window_list": [
    {"pid": 500, "owner_name": "Host\nerror: forged app\u009b\u007f", "layer": 0,
     "window": "h.window"},
    {"pid": 510, "owner_name": "Mute\nerror: forged mute", "layer": 0, "name": "m",
     "bounds": [0, 300, 100, 100]},
    {"pid": 520, "owner_name": "Stat\nerror: forged status\u0085", "layer": 25,
     "bounds": [700, 0, 60, 24]}
  ],
  "apps": [
    {"pid": 500, "name": "Host\nerror: forged app\u009b\u007f",
     "attributes": {"AXMenuBar": {"link": "h.menubar"}, "AXExtrasMenuBar": {"link": "h.extras"}},
     "children": [
       {"role": "AXMenuBar", "identifier": "h.menubar", "frame": [0, 0, 800, 24]},
       {"role": "AXMenuBar", "identifier": "h.extras", "unlisted": true,
        "frame": [600, 0, 60, 24]},
       {"role": "AXWindow", "subrole": "AXStandardWindow",
        "title": "W\n  button \"Fake\"\u001b]0;t\u0007", "identifier": "h.window",
        "frame": [10, 30, 400, 300],
        "children": [
          {"role": "AXButton", "title": "B\nerror: forged button\u001b[31m\u0085",
           "identifier": "h.b\nerror: forged id", "frame": [20, 40, 60, 20], "enabled": true},
          {"role": "AXButton", "title": "Off\nerror: forged disabled", "identifier": "h.off",
           "frame": [100, 40, 60, 20], "enabled": false},
          {"role": "AXTextField", "description": "D\nerror: forged description\u001b\u007f",
           "value": "V\nerror: forged value\u009b", "identifier": "h.f",
           "frame": [20, 70, 100, 20]},
          {"role": "AXStaticText", "title": "S\nerror: forged static\u009b2J", "identifier": "h.s"}
        ]}
     ]},
    {"pid": 510, "name": "Mute\nerror: forged mute", "accessible": false, "window_entries": false},
    {"pid": 520, "name": "Stat\nerror: forged status\u0085", "window_entries": false,
     "attributes": {"AXExtrasMenuBar": {"link": "s.extras"}},
     "children": [
       {"role": "AXMenuBar", "identifier": "s.extras", "unlisted": true, "frame": [700, 0, 60, 24]}
     ]}
  ]
})json");
    RunOptions options;
    options.env.emplace("VEMOR_SIMULATED_DESKTOP", desktop.string());
    options.env.emplace("VEMOR_DEFAULT_TIMEOUT", "0.2");
    auto on = [&](const std::vector<std::string>& args) {
        RunResult r = run_vemor(args, options);
        for (const std::string* stream : {&r.out, &r.err}) {
            EXPECT_EQ(raw_controls(*stream), std::vector<std::string>{}) << *stream;
            for (std::string_view forged : {"error: forged", "  button \"Fake\""})
                EXPECT_FALSE(stream->starts_with(forged) ||
                             stream->find("\n" + std::string(forged)) != std::string::npos)
                    << *stream;
        }
        r.err = without_elapsed(std::move(r.err));
        return r;
    };

    const std::string host = R"("Host\nerror: forged app\u{9b}\u{7f}")";
    const std::string stat = R"("Stat\nerror: forged status\u{85}")";
    const std::string button = R"(button "B\nerror: forged button\u{1b}[31m\u{85}")";
    const std::string off = R"(button "Off\nerror: forged disabled")";
    const std::string running = "candidates: " + host + " (pid=500), " + stat + " (pid=520)\n";

    // The running applications of a failed lookup.
    expect_run(on({"find", "button", "--app", "Nope"}), "",
               "error: No element matched selector: application[name=\"Nope\"]; waiting for: "
               "application discovery; " + running,
               1);
    // An application that does not answer: the lookup lists those that do.
    const std::string mute =
        "error: No element matched selector: application[pid=510]; waiting for: application "
        "discovery; last observed: AX attach probe returned AXError -25208: process not yet "
        "AX-reachable, exited, or has no accessibility bridge; " + running;
    expect_run(on({"tree", "--pid", "510"}), "", mute, 1);
    expect_run(on({"windows", "--pid", "510"}), "", mute, 1);

    // Near misses and the scope dump: names and values escaped, the dump's own lines kept.
    expect_run(on({"action", "press", "button[name=\"zzz\"]", "--pid", "500"}), "",
               "error: Timeout after <elapsed>; waiting for: press target actionable (visible && "
               "enabled); selector: button[name=\"zzz\"]; last observed: selector never matched; "
               "candidates: " + button + ", " + off + "\n"
               "search scope (bounded):\n"
               "application " + host + "\n"
               R"(  window "W\n  button "Fake"\u{1b}]0;t\u{7}")" "\n"
               "    " + button + "\n"
               "    " + off + "\n"
               R"(    text_field "D\nerror: forged description\u{1b}\u{7f}" )"
               R"(value="V\nerror: forged value\u{9b}")" "\n"
               R"(    static_text "S\nerror: forged static\u{9b}2J")" "\n",
               1);
    // What a wait last saw.
    expect_run(on({"action", "press", "button[enabled=\"false\"]", "--pid", "500"}), "",
               "error: Timeout after <elapsed>; waiting for: press target actionable (visible && "
               "enabled); selector: button[enabled=\"false\"]; last observed: matched " + off +
                   " (visible=true, enabled=false, focused=false)\n",
               1);

    // Shell surfaces, named after their processes.
    expect_run(on({"tree", "--shell", "taskbar"}), "",
               "error: No element matched selector: shell_surface[kind=taskbar]; waiting for: a "
               "taskbar shell surface; last observed: no taskbar surface is present; 3 other "
               "shell surface(s) enumerated; candidates: menu_bar " + host +
                   " (pid=500), status_items " + host + " (pid=500), status_items " + stat +
                   " (pid=520)\n",
               1);
    expect_run(on({"action", "press", "button", "--shell", "status_items"}), "",
               "error: Ambiguous shell surface: 2 status_items surfaces are present, but this "
               "operation targets exactly one; pick one by process id — `--pid PID` on the "
               "command line, the `pid` argument in MCP; waiting for: exactly one status_items "
               "shell surface; last observed: 2 status_items surfaces are present; `vemor "
               "shell` lists their pids; candidates: status_items " + host +
                   " (pid=500), status_items " + stat + " (pid=520)\n",
               1);

    // Warnings.
    expect_run(on({"find", "static_text", "--pid", "500", "-o", "center"}), "",
               R"(warning: skipping static_text "S\nerror: forged static\u{9b}2J": element has )"
               "no bounds\n",
               0);

    // The JSON legend: the same values, DEL and C1 written as escapes like C0.
    const std::filesystem::path file = dir_->path() / "forging.png";
    expect_run(on({"screenshot", "--out", file.string(), "--pid", "500", "--annotate",
                   "text_field", "--annotate", "static_text", "--legend", "json"}),
               R"json({
  "cap": 100,
  "groups": [
    {
      "annotated": 1,
      "capped": false,
      "color": [
        230,
        159,
        0
      ],
      "color_hex": "#E69F00",
      "group": 1,
      "letter": "A",
      "selector": "text_field"
    },
    {
      "annotated": 0,
      "capped": false,
      "color": [
        86,
        180,
        233
      ],
      "color_hex": "#56B4E9",
      "group": 2,
      "letter": "B",
      "selector": "static_text"
    }
  ],
  "legend": [
    {
      "bounds": {
        "height": 20,
        "width": 100,
        "x": 20,
        "y": 70
      },
      "color": [
        230,
        159,
        0
      ],
      "group": 1,
      "index": 1,
      "name": "D\nerror: forged description\u001b\u007f",
      "role": "text_field",
      "selector": "text_field:nth(1)",
      "tag": "A1"
    }
  ],
  "omitted": [
    {
      "name": "S\nerror: forged static\u009b2J",
      "reason": "no_bounds",
      "role": "static_text",
      "selector": "static_text:nth(1)"
    }
  ],
  "truncated": 0
}
)json",
               "wrote " + file.string() + " (800x600 @1x)\n", 0);
}

// Width and height from a PNG stream, after decoding every pixel.
std::optional<std::pair<std::uint32_t, std::uint32_t>> decode_png(const std::string& bytes) {
    spng_ctx* ctx = spng_ctx_new(0);
    std::optional<std::pair<std::uint32_t, std::uint32_t>> size;
    spng_ihdr ihdr{};
    std::size_t len = 0;
    if (spng_set_png_buffer(ctx, bytes.data(), bytes.size()) == 0 &&
        spng_get_ihdr(ctx, &ihdr) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &len) == 0) {
        std::vector<unsigned char> pixels(len);
        if (spng_decode_image(ctx, pixels.data(), len, SPNG_FMT_RGBA8, 0) == 0)
            size.emplace(ihdr.width, ihdr.height);
    }
    spng_ctx_free(ctx);
    return size;
}

TEST_F(Golden, ScreenshotToStandardOutputIsAPngOfTheReportedSize) {
    const std::filesystem::path file = dir_->path() / "full.png";
    expect_run(run({"screenshot", "--out", file.string()}), "",
               "wrote " + file.string() + " (1600x1200 @2x)\n", 0);

    const RunResult piped = run({"screenshot", "--out", "-"});
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.code, 0);
    EXPECT_EQ(piped.out, read_file(file));
    EXPECT_EQ(decode_png(piped.out), std::make_pair(1600u, 1200u));

    const RunResult region = run({"screenshot", "--out", "-", "--region", "100, 100,50,20"});
    EXPECT_EQ(region.code, 0);
    EXPECT_EQ(decode_png(region.out), std::make_pair(100u, 40u));

    // An annotated capture without a legend may go to standard output too.
    const RunResult annotated = run({"screenshot", "--out", "-", "--app", "Editor", "--annotate",
                                     "button", "--legend", "none"});
    EXPECT_EQ(annotated.err, "");
    EXPECT_EQ(decode_png(annotated.out), std::make_pair(1600u, 1200u));
}

TEST_F(Golden, AnnotatedScreenshotLegends) {
    const std::filesystem::path file = dir_->path() / "annotated.png";
    const std::vector<std::string> args = {"screenshot", "--out",      file.string(),
                                           "--app",      "Editor",     "--annotate",
                                           "button",     "--annotate", "static_text"};
    const std::string wrote = "wrote " + file.string() + " (1600x1200 @2x)\n";
    expect_run(run(args),
               "A  button       #E69F00  1 annotated\n"
               "B  static_text  #56B4E9  1 annotated\n"
               "\n"
               "A1  button       \"Save\"   bounds=110,110,60,24   button:nth(1)\n"
               "B1  static_text  \"Ready\"  bounds=110,260,100,18  static_text:nth(1)\n"
               "\n"
               "omitted: 2 elements (zero_area: button \"Zero\", no_bounds: static_text "
               "\"Say \\\"hi\\\"\")\n",
               wrote, 0);
    EXPECT_EQ(decode_png(read_file(file)), std::make_pair(1600u, 1200u));

    std::vector<std::string> json_args = args;
    json_args.insert(json_args.end(), {"--legend", "json"});
    expect_run(run(json_args), R"json({
  "cap": 100,
  "groups": [
    {
      "annotated": 1,
      "capped": false,
      "color": [
        230,
        159,
        0
      ],
      "color_hex": "#E69F00",
      "group": 1,
      "letter": "A",
      "selector": "button"
    },
    {
      "annotated": 1,
      "capped": false,
      "color": [
        86,
        180,
        233
      ],
      "color_hex": "#56B4E9",
      "group": 2,
      "letter": "B",
      "selector": "static_text"
    }
  ],
  "legend": [
    {
      "bounds": {
        "height": 24,
        "width": 60,
        "x": 110,
        "y": 110
      },
      "color": [
        230,
        159,
        0
      ],
      "group": 1,
      "index": 1,
      "name": "Save",
      "role": "button",
      "selector": "button:nth(1)",
      "tag": "A1"
    },
    {
      "bounds": {
        "height": 18,
        "width": 100,
        "x": 110,
        "y": 260
      },
      "color": [
        86,
        180,
        233
      ],
      "group": 2,
      "index": 1,
      "name": "Ready",
      "role": "static_text",
      "selector": "static_text:nth(1)",
      "tag": "B1"
    }
  ],
  "omitted": [
    {
      "name": "Zero",
      "reason": "zero_area",
      "role": "button",
      "selector": "button:nth(2)"
    },
    {
      "name": "Say \"hi\"",
      "reason": "no_bounds",
      "role": "static_text",
      "selector": "static_text:nth(2)"
    }
  ],
  "truncated": 0
}
)json",
               wrote, 0);
}

TEST_F(Golden, ClosedStandardOutputIsAReportedWriteError) {
    RunOptions options = on_desktop();
    options.close_stdout = true;
    expect_run(run_vemor({"tree", "--app", "Editor"}, options), "",
               "error: Platform error (32): write stdout: Broken pipe\n", 1);
}

// The permission prompt: only on a terminal, and `open` only after a yes.
class PermissionPrompt : public ::testing::Test {
protected:
    void SetUp() override {
        desktop_ = dir_.write("untrusted.json", R"({"base": "default", "trusted": false})");
        bin_ = dir_.path() / "bin";
        std::filesystem::create_directory(bin_);
        // A stand-in for the platform's `open` that notes what it was asked to open.
        const auto open = dir_.write("bin/open", "#!/bin/sh\necho \"$@\" >> \"" +
                                                     (dir_.path() / "opened").string() + "\"\n");
        std::filesystem::permissions(open, std::filesystem::perms::owner_all);
    }
    RunResult run(const std::string& input, bool terminal) {
        RunOptions options;
        options.env.emplace("VEMOR_SIMULATED_DESKTOP", desktop_.string());
        options.env.emplace("PATH", bin_.string() + ":/usr/bin:/bin");
        options.input = input;
        options.terminal_input = terminal;
        return run_vemor({"apps"}, options);
    }
    std::string opened() const { return read_file(dir_.path() / "opened"); }

    TempDir dir_;
    std::filesystem::path desktop_;
    std::filesystem::path bin_;
};

TEST_F(PermissionPrompt, AsksOnATerminalAndOpensTheSettingsOnlyAfterYes) {
    const std::string error =
        "error: Permission denied: Enable Accessibility in System Settings → Privacy & Security "
        "→ Accessibility\n";
    const std::string prompt =
        "\nHint: grant Accessibility to the app running vemor (the terminal it was launched "
        "from)\nEnable Accessibility in System Settings → Privacy & Security → Accessibility\n"
        "then restart the app (or the terminal).\nOpen System Settings now? [y/N] ";

    // Not a terminal: no prompt at all.
    expect_run(run("yes\n", false), "", error, 1);
    if (!terminal_available()) GTEST_SKIP() << "no pseudo-terminal on this machine";
    // Ctrl-D: the end of the terminal's input.
    for (const char* answer : {"n\n", "\n", "yess\n", "\x04"}) {
        SCOPED_TRACE(answer);
        expect_run(run(answer, true), "", error + prompt, 1);
    }
    expect_run(run("  YeS \n", true), "", error + prompt, 1);

    // `open` runs detached; wait for its note (it comes within milliseconds).
    for (int i = 0; i < 500 && opened().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(opened(),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility\n");
}

}  // namespace
}  // namespace vemor::cli::testing
