"""App and ShellSurface: the test hooks over fresh mocks, and the lookups over the simulated
desktop."""

import json
import warnings

import pytest

import vemor
from conftest import run_python


def test_test_app_and_its_tree():
    app = vemor._make_test_app()
    assert (repr(app), str(app)) == ("App(name='TestApp', pid=1234)",) * 2
    assert (app.name, app.pid, app.is_foreground) == ("TestApp", 1234, True)
    assert [w.name for w in app.windows()] == ["Main Window"]
    assert [w.name for w in app.children()] == ["Main Window"]
    assert app.tree(0) == {"role": "application", "name": "TestApp", "value": None, "children": []}
    assert app.dump(1) == 'application "TestApp"\n  window "Main Window"\n'
    assert repr(app.as_element()) == "Element(role='application', name='TestApp', focused=True)"
    assert app.locator('button[name="Back"]').count() == 1
    with pytest.raises(OverflowError):
        app.tree(-1)


@pytest.mark.parametrize("cls", [vemor.App, vemor.ShellSurface, vemor.Event, vemor.EventType,
                                 vemor.InputSim, vemor.Subscription])
def test_classes_have_no_constructor(cls):
    with pytest.raises(TypeError):
        cls()
    assert cls.__module__ == "vemor"


def test_split_application_lists_the_windows_of_every_entry():
    split = vemor._make_test_app(split=True)
    assert repr(split) == "App(name='TestApp', pid=1234)"
    assert [w.name for w in split.windows()] == ["Main Window", "Second Window"]
    with pytest.raises(TypeError, match="'split' must be bool, not int"):
        vemor._make_test_app(split=1)


def test_each_hook_call_is_a_mock_of_its_own():
    first, second = vemor._make_test_app(), vemor._make_test_app()
    first.locator("window").close()
    assert first.windows() == []
    assert [w.name for w in second.windows()] == ["Main Window"]
    # The elements an App hands out act on the App's own mock.
    assert first.as_element().children() == []

    one, other = vemor._make_test_action_probe(), vemor._make_test_action_probe()
    one.locator('button[name="Back"]').press()
    assert other.actions() == []
    one.clear()
    assert one.actions() == []
    back = one.locator('button[name="Back"]').element()
    back.press()
    [(handle, action, data)] = one.actions()
    assert (isinstance(handle, int), action, data) == (True, "press", None)


def test_deprecated_focused_warns_on_each_read():
    app = vemor._make_test_app()
    with pytest.warns(DeprecationWarning) as caught:
        assert app.focused is app.is_foreground
        assert app.focused is True
    assert [str(w.message) for w in caught] == [
        "App.focused is a deprecated alias for App.is_foreground; 'focused' refers to element "
        "keyboard focus elsewhere in the API"] * 2
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(DeprecationWarning):
            app.focused


def test_shell_surface_hooks():
    surfaces = vemor._make_test_shell_surfaces()
    assert [str(s) for s in surfaces] == [
        "ShellSurface(kind='taskbar', name='Taskbar', pid=4242)",
        "ShellSurface(kind='desktop', name='Desktop', pid=4242)",
    ]
    taskbar = vemor._find_test_shell_surface("taskbar", timeout=0)
    assert (taskbar.kind, taskbar.name, taskbar.pid) == ("taskbar", "Taskbar", 4242)
    assert taskbar.dump() == 'toolbar "Taskbar"\n  button "Show Hidden Icons"\n  button "Volume"\n'
    assert taskbar.tree(0)["children"] == []
    assert [c.name for c in taskbar.children()] == ["Show Hidden Icons", "Volume"]
    assert taskbar.locator("button").count() == 2
    assert taskbar.as_element().role == "toolbar"
    with pytest.raises(vemor.SelectorNotMatchedError) as info:
        vemor._find_test_shell_surface("dock", timeout=0)
    assert info.value.candidates == ['taskbar "Taskbar" (pid=4242)', 'desktop "Desktop" (pid=4242)']


KINDS = "menu_bar, status_items, taskbar, panel, dock, desktop, flyout, unknown"


@pytest.mark.parametrize("call, kind, message", [
    # The kind is checked before the time-out's value.
    (lambda: vemor._find_test_shell_surface("Dock", timeout=-1), ValueError,
     f"unknown shell surface kind 'Dock'; expected one of: {KINDS}"),
    (lambda: vemor._find_test_shell_surface("dock", timeout=float("nan")), ValueError,
     "timeout must be a non-negative number of seconds, got NaN"),
    (lambda: vemor._find_test_shell_surface("Dock", timeout="1"), TypeError,
     "_find_test_shell_surface() argument 'timeout' must be float, not str"),
    (lambda: vemor._find_test_shell_surface(1), TypeError,
     "_find_test_shell_surface() argument 'kind' must be str, not int"),
    (lambda: vemor._find_test_shell_surface("dock", 0), TypeError,
     "_find_test_shell_surface() takes at most 1 positional argument (2 given)"),
])
def test_hook_checks_before_any_wait(call, kind, message):
    with pytest.raises(kind) as info:
        call()
    assert str(info.value) == message


def test_lookup_checks_come_before_the_provider(tmp_path):
    """Without the Accessibility permission, argument and time-out errors still win."""
    desktop = tmp_path / "desktop.json"
    desktop.write_text('{"base": "default", "trusted": false}')
    code = """
import json, vemor
out = []
for call in (lambda: vemor.ShellSurface.by_kind("Dock"),
             lambda: vemor.App.by_pid(1, timeout=-1),
             lambda: vemor.App.by_name("x", timeout=0),
             lambda: vemor.ShellSurface.list()):
    try:
        call()
    except Exception as e:
        out.append(type(e).__name__)
out.append(vemor._make_test_app().as_element().role)
print(json.dumps(out))
"""
    result = run_python(code, VEMOR_SIMULATED_DESKTOP=str(desktop))
    assert json.loads(result.stdout) == [
        "ValueError", "ValueError", "PermissionDeniedError", "PermissionDeniedError",
        "application"]


# ---- The simulated desktop ----------------------------------------------------------------------


def test_lookups_on_the_desktop():
    names = [a.name for a in vemor.App.list()]
    assert {"TextEdit", "Settings", "Notes", "Finder"} <= set(names)
    textedit = vemor.App.by_name("TextEdit", timeout=0)
    assert repr(textedit) == f"App(name='TextEdit', pid={textedit.pid})"
    assert repr(vemor.App.by_pid(textedit.pid, timeout=0)) == repr(textedit)
    front = vemor.App.foreground(timeout=0)
    assert (front.name, front.is_foreground) == ("TextEdit", True)
    assert [w.name for w in textedit.windows()] == ["Untitled"]
    assert "dock" in [s.kind for s in vemor.ShellSurface.list()]
    assert vemor.ShellSurface.by_kind("dock", timeout=0).kind == "dock"
    with pytest.raises(vemor.InvalidSelectorError, match="contains a double quote"):
        vemor.App.by_name('Text"Edit', timeout=5)
    with pytest.raises(vemor.SelectorNotMatchedError) as info:
        vemor.App.by_name("Nothing", timeout=0)
    assert info.value.candidates


def test_find_judges_truthiness_and_stops_at_a_raising_predicate():
    apps = vemor.App.list()
    seen = []

    def reject(app):
        seen.append(app)
        return 0

    with pytest.raises(vemor.SelectorNotMatchedError):
        vemor.App.find(reject, timeout=0)
    assert [a.name for a in seen] == [a.name for a in apps]
    assert [a.name for a in seen if a.is_foreground] == ["TextEdit"]

    assert vemor.App.find(lambda app: app, timeout=0).name == apps[0].name
    assert vemor.App.find(lambda app: app.name == "Notes", timeout=0).name == "Notes"

    calls = []
    failure = KeyError("mine")

    def boom(app):
        calls.append(app)
        raise failure

    with pytest.raises(KeyError) as info:
        vemor.App.find(boom, timeout=5)
    assert info.value is failure and len(calls) == 1


EXIT_WHILE_PREDICATES_RUN = """
import random
import threading
import time

import vemor


class Dying:
    \"\"\"A result whose release runs Python code that lets go of the interpreter lock.\"\"\"

    def __bool__(self):
        return False

    def __del__(self):
        time.sleep(0.001)


def judge(_):
    return Dying() if random.random() < 0.5 else False


textedit = vemor.App.by_name("TextEdit")
window = textedit.locator("window")
bold = textedit.locator('check_box[name="Bold"]')
sub = textedit.subscribe()
attempts = {{
    "find": lambda: vemor.App.find(judge, timeout=0),
    "wait_until": lambda: window.wait_until(judge, 0),
    "wait_for": lambda: sub.wait_for(judge, timeout=0.2),
}}


def loop(attempt):
    while True:
        try:
            attempt()
        except (vemor.VemorError, TypeError):
            pass


def toggle():
    while True:
        bold.toggle()


threading.Thread(target=toggle, daemon=True).start()
for _ in range(3):
    threading.Thread(target=loop, args=(attempts["{form}"],), daemon=True).start()
threading.Event().wait(0.1)
"""


@pytest.mark.parametrize("form", ["find", "wait_until", "wait_for"])
def test_the_interpreter_exits_while_daemon_threads_run_predicates(form):
    """Interpreter exit ends the threads whose predicates take the interpreter lock back, or whose
    results, when dropped, run Python code that releases it; the process still ends normally."""
    for _ in range(20):
        run_python(EXIT_WHILE_PREDICATES_RUN.format(form=form))


EXIT_WHILE_WORK_RUNS = """
import threading

import vemor

textedit = vemor.App.by_name("TextEdit")
sub = textedit.subscribe()
bold = textedit.locator('check_box[name="Bold"]')
area = textedit.locator("text_area")
sim = vemor.input_sim()
work = [lambda: vemor.locator("*").count()] * 3 + [
    bold.toggle, lambda: area.type_text("ab"), lambda: sim.type_text("ab"),
    lambda: sub.recv(timeout=0.1)]


def loop(call):
    while True:
        try:
            call()
        except vemor.VemorError:
            pass


for call in work:
    threading.Thread(target=loop, args=(call,), daemon=True).start()
threading.Event().wait(0.05)
"""


def test_the_interpreter_exits_while_daemon_threads_are_inside_vemor_calls():
    """Whole-desktop searches, actions, typing, simulated input and a subscription with events
    flowing, all still running on daemon threads when the interpreter finalises and the process
    exits."""
    for _ in range(20):
        run_python(EXIT_WHILE_WORK_RUNS)
