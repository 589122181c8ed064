"""The loaded libqvdecoder, once per process, the route of FFmpeg's log lines to the ``logging``
module (loggers ``qvdecoder`` and ``qvdecoder.ffmpeg``) and the exit handler that quiets it; and
numpy. Both are loaded in a thread of their own from the package's import on (``preload``): the
library's load (FFmpeg and the hundred libraries behind it) overlaps the rest of the imports, and
numpy's import overlaps the first open, a camera's network set-up and probe. Their first use
waits for them. Imports the binding (_lib) and _interrupt."""

import atexit
import threading

from . import _interrupt, _lib

_LIB = None
_LOADING = threading.Lock()
_FFMPEG_LOG = None


def _ffmpeg_log():
    """The logger of FFmpeg's lines, made at the first line: most programs never see one, and
    importing logging costs the package's import a tenth of its instructions."""
    global _FFMPEG_LOG
    if _FFMPEG_LOG is None:
        import logging

        logging.getLogger("qvdecoder").addHandler(logging.NullHandler())
        _FFMPEG_LOG = logging.getLogger("qvdecoder.ffmpeg")
    return _FFMPEG_LOG


@_interrupt.callback
def _ffmpeg_line(context, level, line):
    log = _ffmpeg_log()
    python_level = 40 if level <= 16 else 30 if level <= 24 else 20 if level <= 32 else 10  # ERROR ... DEBUG
    log.log(python_level, "%s", line.decode(errors="replace"))


# Kept for the life of the module: FFmpeg holds a pointer to it.
_FFMPEG_LINE = _lib.LINE_CALLBACK(_ffmpeg_line)


def _quiet_ffmpeg():
    # No Python callback may run while the interpreter shuts down.
    if _LIB is not None:
        _LIB.qv_set_ffmpeg_log(_lib.LINE_CALLBACK(), None, -8)


def _library():
    global _LIB
    if _LIB is None:
        with _LOADING:
            if _LIB is None:
                lib = _lib.load()
                _interrupt.keep_callback_interrupts()
                lib.qv_set_ffmpeg_log(_FFMPEG_LINE, None, 24)
                atexit.register(_quiet_ffmpeg)
                _LIB = lib
    return _LIB


class _Numpy:
    """numpy, as the modules use it; the first use waits for its import."""

    def __getattr__(self, name):
        import numpy  # after the first time, a look-up in sys.modules

        return getattr(numpy, name)


numpy = _Numpy()


def _preload():
    # Failures are left to the first use, which raises them where the host can see them.
    try:
        _library()
    except OSError:
        pass
    try:
        import numpy  # noqa: F401
    except ImportError:
        pass


def preload():
    """Starts loading the library and numpy in the background. Not a daemon: an interpreter that
    exits at once waits for the imports rather than stopping a thread inside one."""
    threading.Thread(target=_preload, name="qvdecoder-preload").start()


def library_path():
    """Path of the libqvdecoder.so.1 in use."""
    return _lib.library_path(_library())
