"""Rect comparisons, and the screenshot value classes where a capture is available."""

import pytest

import vemor


@pytest.fixture
def rects():
    probe = vemor._make_test_action_probe()
    back = probe.locator('button[name="Back"]')
    return back.element().bounds, back.element().bounds, probe.locator("window").element().bounds


def test_rect_equality(rects):
    a, same, other = rects
    assert a == same and not (a != same)
    assert a != other and not (a == other)
    assert a != (110, 60, 50, 30)
    assert a.__eq__((110, 60, 50, 30)) is NotImplemented


def test_rect_has_no_order_and_no_hash(rects):
    with pytest.raises(TypeError):
        sorted(rects)
    with pytest.raises(TypeError):
        rects[0] < rects[1]
    with pytest.raises(TypeError):
        {rects[0]}
