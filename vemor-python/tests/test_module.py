"""The module's frame: its contents and their order, construction refusal, signatures, import
in other interpreters."""

import glob
import inspect
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import vemor
from vemor import _native

EXCEPTIONS = [
    "VemorError",
    "PermissionDeniedError",
    "AccessibilityNotEnabledError",
    "SelectorNotMatchedError",
    "ActionNotSupportedError",
    "TimeoutError",
    "InvalidSelectorError",
    "InvalidActionDataError",
    "PlatformError",
]
CLASSES = [
    "App", "Element", "Event", "EventType", "InputSim", "LegendEntry", "Locator", "Omission",
    "Rect", "Screenshot", "ShellSurface", "Subscription",
]
FUNCTIONS = [
    "locator", "set_default_timeout", "get_default_timeout", "input_sim", "screenshot",
    "_cli_main", "_make_test_locator", "_make_test_app", "_make_test_shell_surfaces",
    "_find_test_shell_surface", "_make_disconnected_subscription", "_make_test_action_probe",
]


def module_names():
    return [n for n in vars(_native) if not n.startswith("__")]


def test_contents_in_registration_order():
    names = module_names()
    present = lambda wanted: [n for n in wanted if n in names]
    assert names == present(CLASSES) + EXCEPTIONS + present(FUNCTIONS)
    assert "TestActionProbe" not in names
    assert type(vemor._make_test_action_probe()).__name__ == "TestActionProbe"


def test_exception_classes():
    for name in EXCEPTIONS:
        cls = getattr(vemor, name)
        assert cls.__module__ == "vemor"
        assert (cls.__name__, cls.__qualname__) == (name, name)
        assert cls.__doc__ is None
        assert cls.__bases__ == ((Exception,) if name == "VemorError" else (vemor.VemorError,))
        assert repr(cls) == f"<class 'vemor.{name}'>"
    assert not issubclass(vemor.TimeoutError, TimeoutError)


@pytest.mark.parametrize("name", ["Element", "Locator", "Rect", "Screenshot", "LegendEntry",
                                  "Omission", "TestActionProbe"])
def test_classes_refuse_construction(name):
    cls = getattr(vemor, name, None) or type(vemor._make_test_action_probe())
    with pytest.raises(TypeError):
        cls()
    assert cls.__module__ == "vemor"


@pytest.mark.parametrize("name", CLASSES + ["TestActionProbe"])
def test_classes_cannot_be_changed(name):
    cls = getattr(vemor, name, None) or type(vemor._make_test_action_probe())
    before = dict(vars(cls))
    member = next(n for n in before if not n.startswith("__"))
    changes = [
        lambda: setattr(cls, member, "x"),
        lambda: delattr(cls, member),
        lambda: setattr(cls, "added", 1),
        lambda: setattr(cls, "__doc__", "x"),
    ]
    for change in changes:
        with pytest.raises(TypeError, match=f"immutable type 'vemor.{name}'"):
            change()
    assert dict(vars(cls)) == before


def test_text_signatures():
    loc = vemor._make_test_locator()
    element = loc.element()
    cases = {
        loc.wait_until: "(predicate, timeout=None)",
        loc.nth: "(n)",
        loc.dump: "(max_depth=None)",
        loc.resize_to: "(width, height)",
        element.select_text: "(start, end)",
        element.children: "()",
        vemor._make_test_locator: "()",
        vemor.locator: "(selector)",
    }
    for method, text in cases.items():
        assert str(inspect.signature(method)) == text
    assert element.children.__doc__ == (
        "Get direct children (lazy — each call queries the provider).")
    assert loc.press.__doc__ is None or loc.press.__doc__ == ""


def test_argument_errors_name_the_argument():
    loc = vemor._make_test_locator()
    cases = [
        (lambda: loc.child(1), TypeError, "child() argument 'selector' must be str, not int"),
        (lambda: loc.nth("2"), TypeError, "nth() argument 'n' must be int, not str"),
        (lambda: loc.nth(), TypeError, "nth() missing required argument 'n' (pos 1)"),
        (lambda: loc.nth(1, 2), TypeError,
         "nth() takes at most 1 positional argument (2 given)"),
        (lambda: loc.nth(m=1), TypeError, "nth() got an unexpected keyword argument 'm'"),
        (lambda: loc.nth(1, n=1), TypeError, "nth() got multiple values for argument 'n'"),
        (lambda: loc.nth(-1), OverflowError,
         "nth() argument 'n': can't convert negative int to unsigned"),
        (lambda: loc.move_to(2**31, 0), OverflowError,
         "move_to() argument 'x': int too large to convert"),
        (lambda: loc.wait_visible(timeout="1"), TypeError,
         "wait_visible() argument 'timeout' must be float, not str"),
    ]
    for call, kind, message in cases:
        with pytest.raises(kind) as info:
            call()
        assert str(info.value) == message


def test_refused_in_a_subinterpreter():
    subinterpreters = pytest.importorskip("_xxsubinterpreters")
    interp = subinterpreters.create()
    try:
        with pytest.raises(subinterpreters.RunFailedError) as info:
            subinterpreters.run_string(interp, "import vemor._native")
        assert "ImportError" in str(info.value)
        assert "sub-interpreter" in str(info.value)
    finally:
        subinterpreters.destroy(interp)


def other_interpreters():
    """Every CPython 3.11 or newer on this machine other than the one running the tests."""
    seen = {os.path.realpath(sys.executable)}
    candidates = []
    for d in os.environ.get("PATH", "").split(os.pathsep):
        candidates += glob.glob(os.path.join(d, "python3.1[1-9]")) + [os.path.join(d, "python3")]
    candidates += glob.glob(os.path.expanduser("~/.pyenv/versions/3.1[1-9]*/bin/python3"))
    for c in candidates:
        real = os.path.realpath(c)
        if not os.path.isfile(real) or real in seen:
            continue
        seen.add(real)
        try:
            version = subprocess.run([real, "-c", "import sys; print(sys.version_info >= (3, 11))"],
                                     capture_output=True, text=True, timeout=30).stdout.strip()
        except (OSError, subprocess.TimeoutExpired):
            continue
        if version == "True":
            yield real


def test_imports_under_other_interpreters():
    found = list(other_interpreters())
    if not found:
        pytest.skip("no other CPython 3.11+ on this machine")
    package_root = str(pathlib.Path(vemor.__file__).parent.parent)
    env = dict(os.environ, PYTHONPATH=package_root)
    for python in found:
        result = subprocess.run(
            [python, "-c", "import vemor; print(vemor._make_test_locator().count())"],
            capture_output=True, text=True, env=env, timeout=60)
        assert (result.returncode, result.stdout) == (0, "1\n"), (python, result.stderr)


def run_import(extra_env, code="import vemor"):
    package_root = str(pathlib.Path(vemor.__file__).parent.parent)
    env = dict(os.environ, PYTHONPATH=package_root, **extra_env)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                          timeout=60)


def test_unusable_default_timeout_fails_the_import():
    result = run_import({"VEMOR_DEFAULT_TIMEOUT": "soon"})
    assert result.returncode != 0
    assert "ValueError: Invalid configuration: " in result.stderr
    assert "VEMOR_DEFAULT_TIMEOUT" in result.stderr


def test_permission_error_carries_the_bare_instructions(tmp_path):
    desktop = tmp_path / "desktop.json"
    desktop.write_text('{"base": "default", "trusted": false}')
    code = ("import vemor\n"
            "try:\n    vemor.locator('button')\n"
            "except vemor.PermissionDeniedError as e:\n    print(repr(str(e)))\n")
    result = run_import({"VEMOR_SIMULATED_DESKTOP": str(desktop)}, code)
    assert result.returncode == 0, result.stderr
    message = eval(result.stdout)
    assert message and not message.startswith("Permission denied")
