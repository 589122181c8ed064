"""QVError, the exception for the library's result codes, and the argument checks that raise
TypeError or ValueError. Imports the loader (_loader) only."""

import ctypes
import numbers
import os

from ._loader import _library


def _int(value, name, low, high=None):
    """value as an int within [low, high]: TypeError for a non-integer, ValueError outside."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    if value < low or (high is not None and value > high):
        bound = f"from {low} to {high}" if high is not None else f"at least {low}"
        raise ValueError(f"{name} must be {bound}, not {value}")
    return int(value)


def _size(size, name="size", one_side=False):
    """(width, height) from a pair of positive integers or a "WxH" string; None stays None.
    one_side: either side may be left out ("160x", "x90", (160, None), (None, 90)) and comes
    back as None."""
    if size is None:
        return None
    if isinstance(size, str):
        parts = [p.strip() for p in size.lower().split("x")]
        given = [p.isdigit() for p in parts]
        if len(parts) != 2 or not (all(given) or (one_side and any(given) and "" in parts)):
            forms = "'WIDTHxHEIGHT', 'WIDTHx' or 'xHEIGHT'" if one_side else "'WIDTHxHEIGHT'"
            raise ValueError(f"{name} must be {forms}, not {size!r}")
        size = tuple(int(p) if p else None for p in parts)
    try:
        width, height = size
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be (width, height) or 'WIDTHxHEIGHT', not {size!r}") from None
    if one_side and (width is None) != (height is None):
        return (None if width is None else _int(width, f"{name} width", 1),
                None if height is None else _int(height, f"{name} height", 1))
    return _int(width, f"{name} width", 1), _int(height, f"{name} height", 1)


def _masked(text):
    """text with every password masked ("scheme://user:password@", "?password=", "pwd=", ...), by
    the library's own rule (qv_mask_password)."""
    lib = _library()
    raw = os.fsencode(text)
    needed = lib.qv_mask_password(raw, None, 0)
    if needed < 0:
        return text
    buffer = ctypes.create_string_buffer(needed + 1)
    lib.qv_mask_password(raw, buffer, needed + 1)
    return os.fsdecode(buffer.value)


class QVError(Exception):
    """A result code of the library: ``code`` (negative), ``message`` (qv_strerror) and
    ``reason``: why, in FFmpeg's words where it said (a failed open: "moov atom not found"),
    else None."""

    def __init__(self, code, what=None, reason=None):
        self.code = code
        self.message = _library().qv_strerror(code).decode()
        self.reason = reason or None
        text = f"{self.message} ({code})"
        if self.reason:
            text = f"{self.reason.rstrip('.')}. {text}"
        super().__init__(f"{what}: {text}" if what else text)


class ClosedError(QVError, ValueError):
    """A call on a closed decoder: a ValueError, as for a closed file, and the library's
    QV_ERR_NOT_OPEN for hosts that catch QVError."""

    def __init__(self, what=None):
        QVError.__init__(self, -10008, what)
        self.args = (f"{what}: the decoder is closed" if what else "the decoder is closed",)
