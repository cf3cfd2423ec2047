"""Desktop accessibility automation: find, inspect and drive user-interface elements."""

from . import _native
from ._native import (
    AccessibilityNotEnabledError,
    ActionNotSupportedError,
    App,
    Element,
    Event,
    EventType,
    InputSim,
    InvalidActionDataError,
    InvalidSelectorError,
    LegendEntry,
    Locator,
    Omission,
    PermissionDeniedError,
    PlatformError,
    Rect,
    Screenshot,
    SelectorNotMatchedError,
    ShellSurface,
    Subscription,
    TimeoutError,
    VemorError,
    get_default_timeout,
    input_sim,
    locator,
    screenshot,
    set_default_timeout,
)

# The console entry and the test hooks over the mock provider are reachable here too, but are
# not part of the public names.
from ._native import (  # noqa: F401
    _cli_main,
    _find_test_shell_surface,
    _make_disconnected_subscription,
    _make_test_action_probe,
    _make_test_app,
    _make_test_locator,
    _make_test_shell_surfaces,
)

__version__ = "0.1.0"

__all__ = [
    "App",
    "Element",
    "Event",
    "EventType",
    "InputSim",
    "LegendEntry",
    "Locator",
    "Omission",
    "Rect",
    "Screenshot",
    "ShellSurface",
    "Subscription",
    "VemorError",
    "PermissionDeniedError",
    "AccessibilityNotEnabledError",
    "SelectorNotMatchedError",
    "ActionNotSupportedError",
    "TimeoutError",
    "InvalidSelectorError",
    "InvalidActionDataError",
    "PlatformError",
    "locator",
    "set_default_timeout",
    "get_default_timeout",
    "input_sim",
    "screenshot",
]
