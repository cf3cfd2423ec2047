"""Locator over the mock desktop: composition, queries, auto-waiting actions, waits and
predicates, and the diagnosed errors they end in."""

import math
import threading
import time

import pytest

import vemor
from conftest import run_python


def test_composition_and_repr(probe):
    loc = probe.locator("a, b")
    assert repr(loc) == str(loc) == "Locator(selector='a, b')"
    assert loc.descendant("c").selector == "a c, b c"
    assert loc.child("c, d").selector == "a > c, a > d, b > c, b > d"
    assert repr(loc.nth(3)) == "Locator(selector='a, b')"
    assert loc.selector == "a, b"  # unchanged


def test_nth_refusals(probe):
    loc = probe.locator("button")
    with pytest.raises(vemor.InvalidActionDataError) as info:
        loc.nth(0)
    assert str(info.value) == "Invalid action data: Locator.nth is 1-based; got 0"
    with pytest.raises(OverflowError):
        loc.nth(-1)
    with pytest.raises(TypeError):
        loc.nth("2")


def test_queries(probe):
    items = probe.locator("list_item")
    assert items.count() == 2
    assert [e.name for e in items.elements()] == ["Item 1", "Item 2"]
    assert items.nth(2).element().name == "Item 2"
    assert items.nth(2).child("x").selector == "list_item > x"
    beyond = items.nth(5)
    assert (beyond.exists(), beyond.count(), len(beyond.elements())) == (False, 2, 2)
    with pytest.raises(vemor.SelectorNotMatchedError) as info:
        beyond.element()
    assert "selector matched 2 element(s); nth(5) requested" in str(info.value)
    assert probe.locator("list").tree(1) == {
        "role": "list", "name": "Items", "value": None, "children": [
            {"role": "list_item", "name": "Item 1", "value": None, "children": []},
            {"role": "list_item", "name": "Item 2", "value": None, "children": []},
        ]}
    assert probe.locator("list").dump() == 'list "Items"\n  list_item "Item 1"\n  list_item "Item 2"\n'
    assert probe.locator("list").dump(0) == 'list "Items"\n'


def test_miss_carries_the_diagnosis(probe):
    with pytest.raises(vemor.SelectorNotMatchedError) as info:
        probe.locator('button[name="Nope"]').element()
    e = info.value
    assert str(e).startswith('No element matched selector: button[name="Nope"]')
    assert e.selector == 'button[name="Nope"]'
    assert e.elapsed is None
    assert isinstance(e.candidates, list) and all(isinstance(c, str) for c in e.candidates)
    assert e.args == (str(e),)
    for name in ("condition", "last_observed", "scope"):
        assert getattr(e, name) is None or isinstance(getattr(e, name), str)


def test_invalid_selector_surfaces_at_first_resolution(probe):
    loc = probe.locator("[[[")
    for call in (loc.exists, loc.count, loc.elements, loc.element):
        with pytest.raises(vemor.InvalidSelectorError) as info:
            call()
        assert str(info.value).startswith("Invalid selector '[[[': ")
        assert not hasattr(info.value, "selector")


@pytest.mark.parametrize("wait, selector, condition", [
    ("wait_visible", 'button[name="Nope"]', "visible"),
    ("wait_attached", 'button[name="Nope"]', "attached"),
    ("wait_enabled", 'button[name="Forward"]', "enabled"),
    ("wait_disabled", 'button[name="Back"]', "disabled"),
    ("wait_focused", 'button[name="Back"]', "focused"),
    ("wait_unfocused", "window", "unfocused"),
    ("wait_detached", 'button[name="Back"]', "detached"),
    ("wait_hidden", 'button[name="Back"]', "hidden"),
])
def test_state_waits_end_in_a_diagnosed_timeout(probe, wait, selector, condition):
    with pytest.raises(vemor.TimeoutError) as info:
        getattr(probe.locator(selector), wait)(timeout=0)
    e = info.value
    assert e.condition == condition
    assert e.elapsed == pytest.approx(0.0, abs=1.0) and isinstance(e.elapsed, float)
    assert str(e).startswith("Timeout after ")
    assert f"; waiting for: {condition}" in str(e)
    assert isinstance(e.candidates, list)


def test_state_waits_return_what_they_waited_for(probe):
    assert probe.locator('button[name="Back"]').wait_visible(timeout=0).name == "Back"
    assert probe.locator('button[name="Forward"]').wait_disabled(0).name == "Forward"
    assert probe.locator("window").wait_focused(timeout=0).focused is True
    assert probe.locator('button[name="Nope"]').wait_detached(timeout=0) is None
    assert probe.locator('static_text[name="Status"]').wait_hidden(timeout=0) is None


@pytest.mark.parametrize("value", [-1, -1e-300, math.inf, -math.inf, math.nan, 1e10])
def test_timeout_refusals(probe, value):
    with pytest.raises(ValueError) as info:
        probe.locator("button").wait_visible(timeout=value)
    text = {-1: "-1", -1e-300: "-0." + "0" * 299 + "1", math.inf: "inf", -math.inf: "-inf",
            1e10: "10000000000"}.get(value, "NaN")
    assert str(info.value) == f"timeout must be a non-negative number of seconds, got {text}"


def test_timeouts_accepted_at_the_edges(probe):
    loc = probe.locator('button[name="Back"]')
    for value in (0, -0.0, 5e-324, 1):
        assert loc.wait_attached(timeout=value).name == "Back"


def test_checks_before_any_waiting(probe):
    never = probe.locator('slider[name="Nope"]')
    cases = [
        (lambda: never.set_numeric_value(math.nan),
         "set_numeric_value requires a finite value, got NaN"),
        (lambda: never.select_text(4, 1), "select_text start (4) must be <= end (1)"),
        (lambda: never.resize_to(0, 100), "resize_to requires positive width and height, got 0x100"),
    ]
    for call, text in cases:
        with pytest.raises(vemor.InvalidActionDataError) as info:
            call()
        assert str(info.value) == f"Invalid action data: {text}"


def test_actions_reach_the_provider(probe):
    probe.locator('button[name="Back"]').press()
    probe.locator('text_field[name="Search"]').set_value("abc")
    probe.locator('slider[name="Volume"]').set_numeric_value(3)
    probe.locator("window").move_to(-5, 7)
    probe.locator("window").perform_action("restore")
    log = probe.actions()
    assert [entry[1] for entry in log] == [
        "press", "set_value", "set_numeric_value", "move_to", "restore"]
    assert log[0] == [3, "press", None]
    assert log[1][2] == "abc"
    assert log[3][2] == "-5,7"
    assert probe.locator("window").element().bounds.x == -5


def test_window_action_on_a_non_window(probe):
    with pytest.raises(vemor.ActionNotSupportedError) as info:
        probe.locator('button[name="Back"]').minimize()
    assert str(info.value) == "minimize not supported on button"
    with pytest.raises(vemor.ActionNotSupportedError):
        probe.locator('button[name="Back"]').perform_action("minimize")


def test_disabled_target_times_out_with_the_action_condition():
    code = """
import vemor
probe = vemor._make_test_action_probe()
forward = probe.locator('button[name="Forward"]')
try:
    forward.press()
except vemor.TimeoutError as e:
    print(e.condition)
"""
    result = run_python(code, VEMOR_DEFAULT_TIMEOUT="0")
    assert result.stdout == "press target actionable (visible && enabled)\n"


def test_probes_keep_separate_logs():
    one, two = vemor._make_test_action_probe(), vemor._make_test_action_probe()
    one.locator('button[name="Back"]').press()
    assert two.actions() == []
    assert len(one.actions()) == 1
    one.clear()
    assert one.actions() == []


# ---- wait_until ------------------------------------------------------------------------------

def test_predicate_sees_elements_and_none(probe):
    seen = []

    def predicate(element):
        seen.append(element)
        return True

    assert probe.locator('button[name="Back"]').wait_until(predicate, timeout=0) is None
    assert isinstance(seen[0], vemor.Element) and seen[0].name == "Back"
    probe.locator('button[name="Nope"]').wait_until(predicate, timeout=0)
    assert seen[1] is None


def test_predicate_called_once_with_zero_timeout(probe):
    calls = []
    with pytest.raises(vemor.TimeoutError) as info:
        probe.locator("window").wait_until(lambda e: calls.append(e) or False, timeout=0)
    assert len(calls) == 1
    assert info.value.condition == "custom predicate"


@pytest.mark.parametrize("result", [1, None, "yes", 0.0])
def test_predicate_must_return_a_bool(probe, result):
    with pytest.raises(TypeError) as info:
        probe.locator("window").wait_until(lambda e: result, timeout=5)
    assert str(info.value) == f"wait_until() predicate must return bool, not {type(result).__name__}"


def test_predicate_returning_an_element_is_refused(probe):
    with pytest.raises(TypeError):
        probe.locator("window").wait_until(lambda e: e, timeout=5)


def test_raising_predicate_ends_the_wait_with_its_own_exception(probe):
    calls = []
    boom = KeyError("third")

    def predicate(element):
        calls.append(element)
        if len(calls) == 3:
            raise boom
        return False

    with pytest.raises(KeyError) as info:
        probe.locator("window").wait_until(predicate, timeout=30)
    assert info.value is boom
    assert len(calls) == 3


def test_non_callable_predicate(probe):
    with pytest.raises(TypeError):
        probe.locator("window").wait_until(42, timeout=0)


def test_other_threads_run_during_a_wait(probe):
    """The wait holds no interpreter lock while it polls: the thread that ends it can run."""
    started = threading.Event()

    def close_window():
        started.wait()
        time.sleep(0.05)
        probe.locator("window").close()

    worker = threading.Thread(target=close_window)
    worker.start()
    try:
        started.set()
        assert probe.locator('button[name="Back"]').wait_detached(timeout=30) is None
    finally:
        worker.join()
    assert [entry[1] for entry in probe.actions()] == ["close"]


def test_predicate_may_use_the_same_provider(probe):
    """No core or provider lock is held while the predicate runs: calling back into the same
    mock from inside it must not deadlock."""
    loc = probe.locator('button[name="Back"]')
    seen = []

    def predicate(element):
        seen.append((loc.count(), probe.actions(), element.parent().name))
        return len(seen) == 2

    assert loc.wait_until(predicate, timeout=30) is None
    assert seen == [(1, [], "Navigation")] * 2
