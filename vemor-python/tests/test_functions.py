"""Module functions: the default time-out, screenshots and their annotation, the command line
and the console script."""

import os
import select
import signal
import subprocess
import sys
import time

import pytest

import vemor
from conftest import run_python


def test_default_timeout():
    before = vemor.get_default_timeout()
    try:
        vemor.set_default_timeout(0)
        assert vemor.get_default_timeout() == 0.0
        for bad in (-1, float("inf"), float("nan")):
            with pytest.raises(ValueError, match="timeout must be a non-negative number"):
                vemor.set_default_timeout(bad)
            assert vemor.get_default_timeout() == 0.0
        with pytest.raises(TypeError):
            vemor.set_default_timeout(None)
        # A zero default makes a lookup one attempt.
        with pytest.raises(vemor.SelectorNotMatchedError):
            vemor.App.by_name("Nothing")
    finally:
        vemor.set_default_timeout(before)


@pytest.mark.parametrize("value, shown", [(2**1100, "inf"), (-2**1100, "-inf")])
def test_ints_beyond_a_float_are_refused_like_any_other_out_of_range_time(value, shown):
    timeout = f"timeout must be a non-negative number of seconds, got {shown}"
    duration = f"duration must be a non-negative, finite number of seconds, got {shown}"
    locator = vemor._make_test_locator()
    subscription = vemor._make_disconnected_subscription()
    before = vemor.get_default_timeout()
    cases = [
        (lambda: locator.wait_visible(value), timeout),
        (lambda: locator.wait_until(lambda e: True, value), timeout),
        (lambda: vemor.App.by_name("TestApp", timeout=value), timeout),
        (lambda: vemor.App.find(lambda a: True, timeout=value), timeout),
        (lambda: vemor.ShellSurface.by_kind("taskbar", timeout=value), timeout),
        (lambda: vemor._find_test_shell_surface("taskbar", timeout=value), timeout),
        (lambda: subscription.recv(value), timeout),
        (lambda: subscription.wait_for(lambda e: True, value), timeout),
        (lambda: vemor.set_default_timeout(value), timeout),
        (lambda: vemor.input_sim().drag((0, 0), (1, 1), duration=value), duration),
    ]
    for call, message in cases:
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == message
    assert vemor.get_default_timeout() == before


def test_fresh_process_default_is_five_seconds():
    env = {k: v for k, v in os.environ.items() if k != "VEMOR_DEFAULT_TIMEOUT"}
    result = subprocess.run([sys.executable, "-c",
                             "import vemor; print(vemor.get_default_timeout())"],
                            capture_output=True, text=True, env=env, timeout=60)
    assert result.stdout == "5.0\n", result.stderr


@pytest.fixture
def textedit():
    return vemor.App.by_name("TextEdit", timeout=0)


def test_screenshot_argument_checks(textedit):
    element = textedit.as_element()
    cases = [
        (lambda: vemor.screenshot(element=element, region=(0, 0, 1, 1), annotate=[42]),
         ValueError, "screenshot: pass either `element` or `region`, not both"),
        (lambda: vemor.screenshot(region=(0, 0, -1, 1)), TypeError, "argument 'region'"),
        (lambda: vemor.screenshot(region=[0, 0, 1, 1]), TypeError, "argument 'region'"),
        (lambda: vemor.screenshot(element=42), TypeError, "argument 'element'"),
        (lambda: vemor.screenshot(annotate="button"), TypeError, "argument 'annotate'"),
        (lambda: vemor.screenshot(annotate=[textedit.locator("button"), 42]), TypeError,
         "screenshot(annotate=...): each entry must be a Locator or a selector string, got int"),
        (lambda: vemor.screenshot(annotate=["button"]), vemor.InvalidSelectorError, None),
        (lambda: vemor.screenshot((0, 0, 1, 1)), TypeError,
         "screenshot() takes no positional arguments"),
    ]
    for call, kind, message in cases:
        with pytest.raises(kind) as info:
            call()
        if message and message.startswith("argument"):
            assert message in str(info.value)
        elif message:
            assert str(info.value) == message


def test_annotated_screenshot_and_its_legend(textedit):
    shot = vemor.screenshot(annotate=[textedit.locator("check_box"), textedit.locator("slider")])
    assert [repr(e) for e in shot.legend] == [
        'LegendEntry(tag="A1", group=1, index=1, selector="check_box:nth(1)", role="check_box", '
        'name=Some("Bold"))',
        'LegendEntry(tag="A2", group=1, index=2, selector="check_box:nth(2)", role="check_box", '
        'name=Some("Italic"))',
    ]
    assert (shot.omitted, shot.truncated) == ([], 0)
    assert shot.legend[0].color == (0xE6, 0x9F, 0x00)
    plain = vemor.screenshot()
    assert (shot.width, shot.height) == (plain.width, plain.height)
    assert shot.pixels != plain.pixels

    empty = vemor.screenshot(annotate=[])
    assert (empty.legend, empty.omitted, empty.truncated) == ([], [], 0)

    bold = textedit.locator('check_box[name="Bold"]').element()
    cropped = vemor.screenshot(element=bold, annotate=[textedit.locator('check_box[name="Bold"]'),
                                                       textedit.locator("button")])
    b = bold.bounds
    assert (cropped.width, cropped.height) == (b.width * 2, b.height * 2)
    assert [e.tag for e in cropped.legend] == ["A1"]
    assert sorted((o.name, o.reason) for o in cropped.omitted) == [
        ("Clear", "outside_capture"), ("Save", "outside_capture")]
    region = vemor.screenshot(region=(b.x, b.y, b.width, b.height))
    assert region.pixels == vemor.screenshot(element=bold).pixels


def test_cli_main(capfd):
    cases = [([], 0, "Usage:"), (["nope"], 0, "Usage:"), (["find"], 2, "usage error: ")]
    for args, code, stderr in cases:
        assert vemor._cli_main(args) == code
        assert stderr in capfd.readouterr().err
    assert vemor._cli_main(("apps",)) == 0
    assert "TextEdit" in capfd.readouterr().out
    with pytest.raises(TypeError, match="'args' must be a sequence of str, not str"):
        vemor._cli_main("apps")
    with pytest.raises(TypeError):
        vemor._cli_main([b"apps"])


def console(*args, **kwargs):
    return subprocess.Popen([sys.executable, "-m", "vemor", *args], **kwargs)


def test_console_passes_undecodable_words_as_their_bytes():
    result = subprocess.run([sys.executable, "-m", "vemor", "find", b"a\xff", "--app", "TextEdit"],
                            capture_output=True, timeout=60)
    assert b"Traceback" not in result.stderr
    assert result.returncode == 1 and b"a\xff" in result.stderr


def test_console_ends_quietly_on_a_closed_pipe():
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        proc = console("apps", stdout=write_end, stderr=subprocess.PIPE)
    finally:
        os.close(write_end)
    _, stderr = proc.communicate(timeout=60)
    assert (proc.returncode, stderr) == (-signal.SIGPIPE, b"")


# Sets SIGINT as its first argument names it, then becomes `python -m vemor` with the rest. An
# ignored SIGINT stays ignored across the exec, and one at its default lets the new interpreter
# install its own handler, whatever this test's own launcher chose.
LAUNCH_WITH_SIGINT = ("import os, signal, sys; "
                      "signal.signal(signal.SIGINT, signal.Handlers[sys.argv[1]]); "
                      "os.execv(sys.executable, [sys.executable, '-m', 'vemor', *sys.argv[2:]])")
EVENTS_START_LINE = b'Listening for events on "TextEdit" (ctrl-c to stop)...\n'


def read_until(stream, text, timeout):
    """What `stream` gave until `text` appeared in it, within `timeout` seconds."""
    seen = b""
    give_up = time.monotonic() + timeout
    while text not in seen:
        left = give_up - time.monotonic()
        assert left > 0, f"{text!r} did not arrive within {timeout} s; got {seen!r}"
        if select.select([stream], [], [], left)[0]:
            chunk = os.read(stream.fileno(), 4096)
            assert chunk, f"the stream ended before {text!r}; got {seen!r}"
            seen += chunk
    return seen


@pytest.mark.parametrize("launcher_sigint, ends_on", [(signal.SIG_DFL, signal.SIGINT),
                                                      (signal.SIG_IGN, signal.SIGTERM)],
                         ids=["sigint_default", "sigint_ignored"])
def test_console_stops_on_ctrl_c_unless_its_launcher_ignored_it(launcher_sigint, ends_on):
    proc = subprocess.Popen([sys.executable, "-c", LAUNCH_WITH_SIGINT, launcher_sigint.name,
                             "events", "--app", "TextEdit"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        # The command prints its start line once the console has set its signals.
        stderr = read_until(proc.stderr, EVENTS_START_LINE, timeout=60)
        proc.send_signal(signal.SIGINT)
        if ends_on != signal.SIGINT:
            with pytest.raises(subprocess.TimeoutExpired):
                proc.wait(timeout=0.5)
            proc.send_signal(ends_on)
        stderr += proc.communicate(timeout=60)[1]
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert proc.returncode == -ends_on
    assert stderr == EVENTS_START_LINE
