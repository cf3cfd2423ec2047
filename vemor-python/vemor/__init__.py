"""Desktop accessibility automation: find, inspect and drive user-interface elements."""

from . import _native

# Everything the native module offers, its underscore test hooks and console entry included.
globals().update({name: getattr(_native, name) for name in dir(_native) if not name.startswith("__")})
