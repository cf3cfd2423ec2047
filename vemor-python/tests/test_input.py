"""InputSim: every conversion fails before anything is sent, and clicks reach the simulated
desktop."""

import collections

import pytest

import vemor

ANCHORS = '"center", "top_left", "top_right", "bottom_left", "bottom_right"'
TARGET = "expected (int, int) tuple or Element for target"


@pytest.fixture
def sim():
    return vemor.input_sim()


def test_refusals(sim):
    unbounded = vemor._make_test_action_probe().locator('check_box[name="Agree"]').element()
    cases = [
        (lambda: sim.click((1, 2), anchor="middle"), ValueError,
         f"Unknown anchor: middle. Expected {ANCHORS}, or a (dx, dy) tuple"),
        (lambda: sim.click((1, 2), anchor=5), TypeError,
         f"expected an anchor name ({ANCHORS}) or an (dx, dy) offset tuple"),
        (lambda: sim.click([10, 20]), TypeError, TARGET),
        (lambda: sim.move_to((1.0, 2)), TypeError, TARGET),
        (lambda: sim.scroll(("a", 1)), TypeError, TARGET),
        (lambda: sim.double_click((2**31, 0)), TypeError, TARGET),
        (lambda: sim.right_click(unbounded), ValueError, "Element has no bounds"),
        (lambda: sim.chord("a", held="Shift"), TypeError, "Can't extract `str` to `Vec`"),
        (lambda: sim.click((1, 2), held="Shift"), TypeError, "Can't extract `str` to `Vec`"),
        # Any sequence of names is read name by name.
        (lambda: sim.drag((1, 2), (3, 4), held=collections.deque(["Shift", "Nope"])),
         ValueError, "Unknown key name: Nope"),
        (lambda: sim.mouse_down("Left"), ValueError,
         'Unknown mouse button: Left. Expected "left", "right", or "middle"'),
        (lambda: sim.press("Nope"), ValueError, "Unknown key name: Nope"),
        (lambda: sim.press("A"), vemor.InvalidActionDataError,
         "Invalid action data: Key::Char('A') is uppercase; use Key::Char('a') with Key::Shift "
         "held to produce an uppercase letter"),
        (lambda: sim.click((1, 2), count=-1), OverflowError,
         "click() argument 'count': can't convert negative int to unsigned"),
    ]
    for call, kind, message in cases:
        with pytest.raises(kind) as info:
            call()
        assert str(info.value) == message


@pytest.mark.parametrize("value, shown", [
    (-0.001, "-0.001"), (float("inf"), "inf"), (float("nan"), "NaN"), (1e10, "10000000000"),
    (1e300, "1" + "0" * 300),
])
def test_drag_duration_is_checked(sim, value, shown):
    with pytest.raises(ValueError) as info:
        sim.drag((0, 0), (1, 1), duration=value)
    assert str(info.value) == (
        f"duration must be a non-negative, finite number of seconds, got {shown}")


def test_clicks_by_element_anchor_reach_the_desktop(sim):
    textedit = vemor.App.by_name("TextEdit", timeout=0)
    text = textedit.locator("text_area")
    clear = textedit.locator('button[name="Clear"]').element()
    before = text.element().value
    try:
        text.set_value("some text")
        sim.click(clear)
        assert text.element().value == ""
        text.set_value("some text")
        sim.click(clear, anchor=(clear.bounds.width - 2, 2))
        assert text.element().value == ""
        text.set_value("some text")
        sim.click(clear, anchor=(clear.bounds.width + 2, 2))  # just beside the button
        assert text.element().value == "some text"
        # Negative zero is no duration; a drag inside the text changes nothing else.
        bounds = text.element().bounds
        sim.drag((bounds.x + 5, bounds.y + 5), (bounds.x + 6, bounds.y + 5), duration=-0.0)
        sim.move_to(clear)
        sim.scroll(text.element())
    finally:
        text.set_value(before)
