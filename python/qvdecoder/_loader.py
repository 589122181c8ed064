"""The loaded libqvdecoder, once per process: lazy loading on first use, the route of FFmpeg's
log lines to the ``logging`` module (loggers ``qvdecoder`` and ``qvdecoder.ffmpeg``) and the exit
handler that quiets it. Imports the binding (_lib) and _interrupt."""

import atexit
import logging

from . import _interrupt, _lib

_LIB = None


_LOG = logging.getLogger("qvdecoder")
_LOG.addHandler(logging.NullHandler())
_FFMPEG_LOG = logging.getLogger("qvdecoder.ffmpeg")


@_interrupt.callback
def _ffmpeg_line(context, level, line):
    python_level = (logging.ERROR if level <= 16 else logging.WARNING if level <= 24
                    else logging.INFO if level <= 32 else logging.DEBUG)
    _FFMPEG_LOG.log(python_level, "%s", line.decode(errors="replace"))


# Kept for the life of the module: FFmpeg holds a pointer to it.
_FFMPEG_LINE = _lib.LINE_CALLBACK(_ffmpeg_line)


def _quiet_ffmpeg():
    # No Python callback may run while the interpreter shuts down.
    if _LIB is not None:
        _LIB.qv_set_ffmpeg_log(_lib.LINE_CALLBACK(), None, -8)


def _library():
    global _LIB
    if _LIB is None:
        _LIB = _lib.load()
        _interrupt.keep_callback_interrupts()
        _LIB.qv_set_ffmpeg_log(_FFMPEG_LINE, None, 24)
        atexit.register(_quiet_ffmpeg)
    return _LIB


def library_path():
    """Path of the libqvdecoder.so.1 in use."""
    return _lib.library_path(_library())
