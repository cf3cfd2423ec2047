"""Rect comparisons, and the screenshot value classes where a capture is available."""

import os
import pathlib

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


# ---- Screenshots: through the module's capture function --------------------------------------

@pytest.fixture
def shot():
    return vemor.screenshot()


def test_screenshot_value(shot):
    assert len(shot.pixels) == shot.width * shot.height * 4
    assert shot.pixels == shot.pixels and shot.pixels is not shot.pixels
    assert (shot.legend, shot.omitted, shot.truncated, shot.mapping_available) == ([], [], 0, True)
    assert repr(shot).startswith(f"Screenshot(width={shot.width}, height={shot.height}, scale=")
    assert shot.to_png().startswith(b"\x89PNG\r\n\x1a\n")


def test_screenshot_crop_resize_and_mapping(shot, tmp_path):
    crop = shot.crop(0, 0, 10, 5)
    assert (crop.width, crop.height, crop.legend, crop.truncated) == (10, 5, [], 0)
    assert shot.resize(4, 4).width == 4
    x, y = shot.image_to_desktop(0, 0)
    assert shot.desktop_to_image(x, y) == (0, 0)
    rects = shot.desktop_rect_to_image(x, y, 1, 1)
    assert all(isinstance(r, vemor.Rect) for r in rects)
    path = tmp_path / "shot.png"
    assert shot.save_png(path) is None
    assert path.read_bytes() == shot.to_png()
    cases = [
        (lambda: shot.crop(10**6, 0, 1, 1), vemor.PlatformError,
         "Platform error (-1): crop rectangle is outside the screenshot or empty"),
        (lambda: shot.resize(0, 1), vemor.PlatformError,
         "Platform error (-1): resize dimensions must be non-zero"),
        (lambda: shot.crop(0, 0, -1, 1), OverflowError, None),
        (lambda: shot.save_png(42), TypeError,
         "save_png() argument 'path' must be str or path-like, not int"),
    ]
    for call, kind, message in cases:
        with pytest.raises(kind) as info:
            call()
        if message:
            assert str(info.value) == message
    with pytest.raises(vemor.PlatformError) as info:
        shot.save_png(tmp_path / "missing" / "x.png")
    assert str(info.value).startswith("Platform error (2): save_png: ")


def test_save_png_names_files_as_open_does(shot, tmp_path):
    # A file name that is not UTF-8: a str holds it as surrogate escapes, as os.fsdecode gives it.
    raw = os.path.join(os.fsencode(tmp_path), b"shot-\xff.png")
    for path in (os.fsdecode(raw), pathlib.Path(os.fsdecode(raw)), raw):
        assert shot.save_png(path) is None
        assert os.listdir(os.fsencode(tmp_path)) == [b"shot-\xff.png"], path
        with open(path, "rb") as f:
            assert f.read() == shot.to_png()
        os.remove(raw)
    # A null byte ends a C file name: it is refused rather than writing to "a".
    with pytest.raises(ValueError, match="embedded null byte"):
        shot.save_png(str(tmp_path / "a\0b.png"))
    assert os.listdir(tmp_path) == []
