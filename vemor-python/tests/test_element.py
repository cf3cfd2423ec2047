"""Element over the mock desktop: the snapshot's properties and text form, navigation, subtree
capture, actions and their refusals."""

import math

import pytest

import vemor


def element(probe, selector):
    return probe.locator(selector).element()


def test_properties_of_a_slider(probe):
    slider = element(probe, 'slider[name="Volume"]')
    assert (slider.role, slider.name, slider.value) == ("slider", "Volume", "75")
    assert (slider.numeric_value, slider.min_value, slider.max_value) == (75.0, 0.0, 100.0)
    assert slider.actions == ["increment", "decrement", "set_value", "focus"]
    assert slider.actions is not slider.actions
    assert slider.pid == 1234
    assert slider.checked is None
    assert (slider.minimized, slider.maximized, slider.fullscreen, slider.expanded) == (
        None, None, None, None)
    assert (slider.enabled, slider.visible, slider.focusable, slider.editable) == (
        True, True, True, False)
    assert slider.bounds is None
    assert slider.raw == {}


def test_properties_of_the_application(probe):
    app = element(probe, "application")
    assert app.description == "Test application"
    assert app.stable_id == "app-root"
    assert app.raw == {"ax_role": "AXApplication"}
    bounds = app.bounds
    assert repr(bounds) == "Rect(x=0, y=0, width=1920, height=1080)"
    assert (bounds.x, bounds.y, bounds.width, bounds.height) == (0, 0, 1920, 1080)
    assert app.bounds is not bounds and app.bounds == bounds
    assert app.parent() is None


def test_checked_and_expanded_are_not_bools(probe):
    assert element(probe, "check_box").checked == "on"
    assert element(probe, "list").expanded is True


def test_properties_are_read_only(probe):
    e = element(probe, "window")
    with pytest.raises(AttributeError):
        e.name = "x"
    with pytest.raises(AttributeError):
        e.bounds.x = 1


def test_text_forms(probe):
    cases = {
        'button[name="Back"]': "Element(role='button', name='Back')",
        'button[name="Forward"]': "Element(role='button', name='Forward', enabled=False)",
        'static_text[name="Status"]':
            "Element(role='static_text', name='Status', value='Loading...', visible=False)",
        "window": "Element(role='window', name='Main Window', focused=True, active=True)",
    }
    for selector, text in cases.items():
        e = element(probe, selector)
        assert repr(e) == str(e) == text


def test_elements_compare_by_identity(probe):
    a, b = element(probe, "window"), element(probe, "window")
    assert a != b and a == a
    assert hash(a) != hash(b) or a is b


def test_navigation(probe):
    toolbar = element(probe, "toolbar")
    children = toolbar.children()
    assert [c.name for c in children] == ["Back", "Forward"]
    assert children[0].children() == []
    assert children[0].parent().name == "Navigation"
    assert toolbar.children()[0] is not children[0]


def test_tree_and_dump(probe):
    toolbar = element(probe, "toolbar")
    assert toolbar.tree(0) == {"role": "toolbar", "name": "Navigation", "value": None,
                               "children": []}
    assert toolbar.dump(0) == 'toolbar "Navigation"\n'
    assert toolbar.dump() == 'toolbar "Navigation"\n  button "Back"\n  button "Forward"\n'
    assert list(toolbar.tree()) == ["role", "name", "value", "children"]
    assert element(probe, 'text_field').dump() == 'text_field "Search" value="hello"\n'
    with pytest.raises(OverflowError):
        toolbar.tree(-1)
    with pytest.raises(TypeError):
        toolbar.dump("2")


def test_actions_are_logged(probe):
    back = element(probe, 'button[name="Back"]')
    field = element(probe, "text_field")
    window = element(probe, "window")
    back.press()
    back.focus()
    field.type_text("hi")
    field.select_text(1, 2)
    element(probe, "slider").set_numeric_value(3)
    window.resize_to(640, 480)
    window.perform_action("maximize")
    log = probe.actions()
    assert [entry[1] for entry in log] == [
        "press", "focus", "type_text", "set_text_selection", "set_numeric_value", "resize_to",
        "maximize"]
    assert log[0] == [back.stable_id and 3, "press", None]
    assert log[5][2] == "640x480"


def test_refusals(probe):
    back = element(probe, 'button[name="Back"]')
    slider = element(probe, "slider")
    cases = [
        (lambda: slider.set_numeric_value(math.nan), vemor.InvalidActionDataError,
         "Invalid action data: set_numeric_value requires a finite value, got NaN"),
        (lambda: slider.set_numeric_value(-math.inf), vemor.InvalidActionDataError,
         "Invalid action data: set_numeric_value requires a finite value, got -inf"),
        (lambda: back.select_text(5, 2), vemor.InvalidActionDataError,
         "Invalid action data: select_text start (5) must be <= end (2)"),
        (lambda: back.resize_to(0, 100), vemor.InvalidActionDataError,
         "Invalid action data: resize_to requires positive width and height, got 0x100"),
        (lambda: back.minimize(), vemor.ActionNotSupportedError,
         "minimize not supported on button"),
        (lambda: back.perform_action("minimize"), vemor.ActionNotSupportedError,
         "minimize not supported on button"),
        (lambda: element(probe, "static_text").press(), None, None),
    ]
    for call, kind, message in cases:
        if kind is None:
            call()
            continue
        with pytest.raises(kind) as info:
            call()
        assert str(info.value) == message
    with pytest.raises(OverflowError):
        back.select_text(-1, 2)
    with pytest.raises(OverflowError):
        back.resize_to(-1, 2)
    with pytest.raises(TypeError):
        back.set_value(3)


def test_action_on_a_closed_window_is_a_platform_error(probe):
    back = element(probe, 'button[name="Back"]')
    element(probe, "window").close()
    with pytest.raises(vemor.PlatformError) as info:
        back.press()
    assert str(info.value) == (
        "Platform error (-1): element handle 3 belongs to a closed window; cannot act on it")
    assert not hasattr(info.value, "elapsed")
