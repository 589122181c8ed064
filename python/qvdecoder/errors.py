"""QVError, the exception for the library's result codes, and the argument checks that raise
TypeError or ValueError. Imports the loader (_loader) only."""

import numbers

from ._loader import _library


def _int(value, name, low, high=None):
    """value as an int within [low, high]: TypeError for a non-integer, ValueError outside."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    if value < low or (high is not None and value > high):
        bound = f"from {low} to {high}" if high is not None else f"at least {low}"
        raise ValueError(f"{name} must be {bound}, not {value}")
    return int(value)


def _size(size, name="size"):
    """(width, height) from a pair of positive integers or a "WxH" string; None stays None."""
    if size is None:
        return None
    if isinstance(size, str):
        parts = size.lower().split("x")
        if len(parts) != 2 or not all(p.strip().isdigit() for p in parts):
            raise ValueError(f"{name} must be 'WIDTHxHEIGHT', not {size!r}")
        size = (int(parts[0]), int(parts[1]))
    try:
        width, height = size
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be (width, height) or 'WIDTHxHEIGHT', not {size!r}") from None
    return _int(width, f"{name} width", 1), _int(height, f"{name} height", 1)


class QVError(Exception):
    """A result code of the library: ``code`` (negative) and ``message`` (qv_strerror)."""

    def __init__(self, code, what=None):
        self.code = code
        self.message = _library().qv_strerror(code).decode()
        text = f"{self.message} ({code})"
        super().__init__(f"{what}: {text}" if what else text)
