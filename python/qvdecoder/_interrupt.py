"""Ctrl-C while the library blocks: a read waiting on a silent camera is ended within one of
FFmpeg's network polls (a tenth of a second), and a KeyboardInterrupt that Python raised inside
one of the library's callbacks (the FFmpeg log route), where ctypes would print and drop it,
reaches the script when the call returns. Imports nothing of the package."""

import os
import signal
import sys
import threading

_lock = threading.Lock()
_busy = {}         # handle -> number of its blocking calls running on the main thread
_deferred = []     # exceptions raised inside callbacks, for the main thread to raise
_watching = False
_callbacks = set()  # the package's own ctypes callbacks, whose exceptions are deferred


def callback(function):
    """Marks function as a library callback: an exception it raises (Python raises a pending
    KeyboardInterrupt on entering any function) is kept for the script instead of dropped."""
    _callbacks.add(function)
    return function


def _watch(read_fd):
    # Python's own SIGINT handler writes the signal's number here from whatever thread the
    # signal lands on; the main thread may sit in the library meanwhile, holding no lock.
    while True:
        try:
            data = os.read(read_fd, 64)
        except OSError:
            return
        if not data:
            return
        if signal.SIGINT in data and callable(signal.getsignal(signal.SIGINT)):
            # Under the lock: a handle leaves _busy before it can be freed.
            with _lock:
                for handle in _busy:
                    handle.interrupt()


def _install():
    """Starts the watcher once, from the main thread, unless another part of the program
    (asyncio, say) listens for signals on a wakeup descriptor of its own."""
    global _watching
    if _watching:
        return
    _watching = True
    read_fd, write_fd = os.pipe()
    os.set_blocking(write_fd, False)
    try:
        previous = signal.set_wakeup_fd(write_fd, warn_on_full_buffer=False)
    except ValueError:
        previous = None
    if previous != -1:
        if previous is not None:
            signal.set_wakeup_fd(previous)
        os.close(read_fd)
        os.close(write_fd)
        return
    threading.Thread(target=_watch, args=(read_fd,), name="qvdecoder-interrupt", daemon=True).start()


def keep_callback_interrupts():
    """From now on, what a library callback raised that is no Exception (KeyboardInterrupt,
    SystemExit) is deferred to the script; anything else goes to the hook there was."""
    previous_hook = sys.unraisablehook

    def hook(unraisable):
        # ctypes reports what a callback raised as unraisable, then goes on as if nothing was.
        if unraisable.object in _callbacks and not isinstance(unraisable.exc_value, Exception):
            defer(unraisable.exc_value)
        else:
            previous_hook(unraisable)

    sys.unraisablehook = hook


def defer(error):
    """Keeps an exception raised inside a callback for the main thread's next return from the
    library (callbacks cannot raise through ctypes)."""
    _deferred.append(error)


def raise_deferred():
    if _deferred:
        error = _deferred[0]
        _deferred.clear()
        raise error


class Blocking:
    """A call that may block on the network, on the main thread: Ctrl-C interrupts it
    (``handle.interrupt()``), then Python's KeyboardInterrupt follows its return."""

    __slots__ = ("_handle", "_main")

    def __init__(self, handle):
        self._handle = handle
        self._main = threading.current_thread() is threading.main_thread()

    def __enter__(self):
        if self._main:
            _install()
            with _lock:
                _busy[self._handle] = _busy.get(self._handle, 0) + 1
        return self

    def __exit__(self, *exc):
        if self._main:
            with _lock:
                count = _busy.pop(self._handle, 1) - 1
                if count > 0:
                    _busy[self._handle] = count
            raise_deferred()
        return False
