"""File mode: FileDecoder (also named Decoder) and open(), opening a file or live source and
its network settings. Imports _lib, errors and _handle."""

import ctypes
import errno
import numbers
import os

from . import _lib
from ._handle import _check_decoding, _check_output_size, _Closable, _Handle, _set_converter, _set_output
from .audio import _audio_piece
from .errors import QVError, _masked


def _open_file(handle, path):
    """Opens path on the handle. FileNotFoundError when a local file is missing,
    IsADirectoryError for a folder, else QVError with the reason FFmpeg gave; an address is
    shown with its password masked."""
    name = os.fsencode(path)
    with handle.blocking():
        result = handle.lib.qv_open_file(handle.ptr, name)
    if result != _lib.QV_OK:
        reason = handle.lib.qv_open_error(handle.ptr).decode(errors="replace")
        shown = _masked(os.fsdecode(name))
        if b"://" not in name and not name.startswith(b"pipe:"):
            if not os.path.exists(name):
                raise FileNotFoundError(errno.ENOENT, reason or os.strerror(errno.ENOENT), shown)
            if os.path.isdir(name):
                raise IsADirectoryError(errno.EISDIR, reason or os.strerror(errno.EISDIR), shown)
        raise QVError(result, f"cannot open {shown!r}", reason)


def _set_network(handle, timeout, transport, options):
    if timeout is not None:
        if isinstance(timeout, bool) or not isinstance(timeout, (int, float)) or timeout < 0:
            raise ValueError(f"timeout must be a number of seconds >= 0 (0 waits forever), not {timeout!r}")
        handle.call("qv_set_timeout", int(round(timeout * 1000)))
    settings = dict(options or {})
    if transport is not None:
        if transport not in ("tcp", "udp"):
            raise ValueError(f"transport must be 'tcp' or 'udp', not {transport!r}")
        settings["rtsp_transport"] = transport
    for key, value in settings.items():
        handle.call("qv_set_network_option", str(key).encode(), None if value is None else str(value).encode())


def _stream_choice(index, name):
    """A stream index for qv_select_streams: None the default choice (-2), -1 none."""
    if index is None:
        return -2
    if isinstance(index, bool) or not isinstance(index, int) or index < -1:
        raise ValueError(f"{name} must be a stream index >= 0, -1 (none) or None (the default), not {index!r}")
    return index


_SKIP_MODES = {None: _lib.QV_SKIP_NONE, "none": _lib.QV_SKIP_NONE, "nonref": _lib.QV_SKIP_NONREF,
               "nonkey": _lib.QV_SKIP_NONKEY}


class FileDecoder(_Closable):
    """The pictures of a media file; made by ``open()``. Iterating it reads on from where the
    decoder is, as ``read()`` does; leaving a ``for`` loop early keeps the decoder open
    (``seek()``, ``read()`` and ``skipped`` still work), and ``close()`` or leaving a ``with``
    block frees it (dropping the last reference does too). ``info`` describes the file's
    streams (codec numbers, size, frame rate, audio rate and channels; ``bit_rate`` and
    ``audio_bit_rate`` as the file states them, None where it states none).

    Like a player: ``read()`` gives the next picture (None at the end) and ``seek(seconds)``
    moves on the clock of ``Picture.time`` (each picture's presentation time: a seek to it
    gives that very picture), which begins at ``start_time``; ``duration`` is the length in
    seconds (None when the container does not say), ``frame_count`` the frames the container
    states (None when it does not say). ``skip="nonkey"`` decodes
    key frames only, ``"nonref"`` skips the pictures nothing refers to. ``max_latency``
    (seconds, live sources): a host slower than its camera gets the newest picture, none
    older than that; ``skipped`` counts the pictures passed over for it. ``audio=True``:
    ``read()`` and the iteration give the file's audio too, as ``AudioPiece`` objects in file
    order among the pictures (see ``open()``).

    ``open_now=False`` makes the decoder without opening its source: ``open()`` then opens it,
    and ``interrupt()`` from another thread can end that open while it waits."""

    def __init__(self, path, format="bgr24", size=None, high_quality=False, copy=True, threads=None,
                 max_pixels=None, skip=None, timeout=None, transport=None, options=None, converter="auto",
                 planes=False, max_latency=None, open_now=True, video_stream=None, audio_stream=None,
                 audio=False, fast=False):
        self._copy = copy
        self._audio = bool(audio)
        self._planes = planes
        self._path = path
        self._output = (format, size, high_quality)
        self.info = None
        _check_decoding(format, size, threads, max_pixels)
        if skip not in _SKIP_MODES:
            raise ValueError(f"skip must be 'none', 'nonref' or 'nonkey', not {skip!r}")
        self._handle = _Handle()
        try:
            _set_converter(self._handle, converter, format, size, planes, fast)
            self._handle.call("qv_set_frame_skip", _SKIP_MODES[skip])
            if threads is not None:
                self._handle.call("qv_set_threads", int(threads))
            if max_pixels is not None:
                self._handle.call("qv_set_max_pixels", int(max_pixels))
            _check_output_size(self._handle, size)
            _set_network(self._handle, timeout, transport, options)
            if video_stream is not None or audio_stream is not None:
                self._handle.call("qv_select_streams", _stream_choice(video_stream, "video_stream"),
                                  _stream_choice(audio_stream, "audio_stream"))
            if max_latency is not None:
                if isinstance(max_latency, bool) or not isinstance(max_latency, (int, float)) or max_latency < 0:
                    raise ValueError(f"max_latency must be a number of seconds >= 0 (0: every picture), "
                                     f"not {max_latency!r}")
                self._handle.call("qv_set_max_latency", int(round(max_latency * 1000)))
            if open_now:
                self._open()
        except BaseException:
            self._handle.free()
            raise

    def open(self):
        """Opens the source of a decoder made with ``open_now=False``; the same errors as
        ``open()``. Made first and opened after, the decoder exists while the open blocks:
        ``interrupt()`` from another thread ends a wait on a silent camera at once (QVError
        with QV_ERR_TIMEOUT) and ``open()`` may be tried again."""
        if self.info is not None:
            raise RuntimeError("the decoder is open already")
        self._open()
        return self

    def _open(self):
        _open_file(self._handle, self._path)
        info = _lib.StreamInfo()
        self._handle.call("qv_get_info", ctypes.byref(info))
        self.info = {name: getattr(info, name) for name, _ in _lib.StreamInfo._fields_}
        # Bit rates as the file states them: None where it states none (the library stands in
        # a default of its own there).
        for key, call in (("bit_rate", "qv_video_bit_rate"), ("audio_bit_rate", "qv_audio_bit_rate")):
            stated = self._microseconds(call)
            self.info[key] = stated if stated > 0 else None
        if info.width > 0 and info.height > 0:
            _set_output(self._handle, *self._output)

    def _resize(self, size):
        """Pictures from the next one on come out at size (width, height)."""
        self._output = (self._output[0], size, self._output[2])
        _set_output(self._handle, *self._output)

    def interrupt(self):
        """Makes a blocked open (of a decoder made with ``open_now=False``) or read in another
        thread raise QVError with QV_ERR_TIMEOUT: an open at once, a read once it waits on a
        quiet source (within 0.1 s); nothing read is lost, and the next ``read()`` goes on
        where it was. The one method that may be called from another thread."""
        self._handle.interrupt()

    def __iter__(self):
        # The loop's end is not the decoder's: a host breaks out to seek, or to read its counts.
        while True:
            picture = self.read()
            if picture is None:
                return
            yield picture

    def read(self):
        """The next picture of the file (with ``audio=True`` the next ``AudioPiece`` or picture,
        in file order), or None at its end (a seek may follow)."""
        skip = (_lib.QV_AUDIO_PIECE, _lib.QV_ERR_NO_PICTURE, _lib.QV_ERR_OPEN_FILE)
        while True:
            with self._handle.blocking():
                result = self._handle.call("qv_decode_frame", accept=(_lib.QV_OK, _lib.QV_ERR_END_OF_FILE) + skip)
            if result == _lib.QV_ERR_END_OF_FILE:
                return None
            if result == _lib.QV_OK:
                return self._handle.take(self._copy, self._planes)
            if result == _lib.QV_AUDIO_PIECE and self._audio:
                piece = _audio_piece(self._handle, self.info)
                if piece is not None:
                    return piece

    def seek(self, seconds, accurate=True):
        """Moves to ``seconds`` on the clock of ``Picture.time``. accurate: the next picture is the
        first at or after it; otherwise the key frame at or before it (faster). Before the start
        gives the first picture, past the end the end. QVError with code QV_ERR_NOT_SEEKABLE
        (-10009) for pipes and live sources, which read on where they were."""
        if isinstance(seconds, bool) or not isinstance(seconds, numbers.Real):
            raise TypeError(f"seek takes a time in seconds (a number), not {type(seconds).__name__}")
        flags = _lib.QV_SEEK_ACCURATE if accurate else _lib.QV_SEEK_KEY
        with self._handle.blocking():
            self._handle.call("qv_seek", int(round(seconds * 1e6)), flags, what=f"seek to {seconds} s")

    def _microseconds(self, name):
        value = ctypes.c_int64()
        self._handle.call(name, ctypes.byref(value))
        return value.value

    @property
    def duration(self):
        """The file's length in seconds, None when the container does not know it."""
        micros = self._microseconds("qv_duration")
        return None if micros < 0 else micros / 1e6

    @property
    def frame_count(self):
        """The count of video frames the container states, less those its edit list hides (a
        cut made without re-encoding keeps frames before its start that are never shown); None
        when it does not say."""
        frames = self._microseconds("qv_frame_count")
        return None if frames < 0 else frames

    @property
    def skipped(self):
        """Pictures passed over to stay within ``max_latency`` since the open."""
        return self._microseconds("qv_skipped_pictures")

    @property
    def start_time(self):
        """The time of the file's first picture in seconds (0.0 when unknown)."""
        return self._microseconds("qv_start_time") / 1e6


Decoder = FileDecoder


def open(path, format="bgr24", size=None, high_quality=False, copy=True, threads=None, max_pixels=None,
         skip=None, timeout=None, transport=None, options=None, converter="auto", planes=False, max_latency=None,
         video_stream=None, audio_stream=None, audio=False, fast=False):
    """Decodes a media file picture by picture: iterate the result for ``Picture`` objects
    (with ``audio=True``, ``AudioPiece`` objects too).

    ``format``: pixel format name of the pictures ("bgr24", "rgb24", "gray", "yuv420p", ...) or
    None for the decoder's own; ``size``: (width, height) or "WIDTHxHEIGHT" to scale to, or None; ``high_quality``:
    bicubic instead of bilinear scaling; ``copy``: False for views (see the module's help);
    ``threads``: decoding threads (0 for one per core); ``max_pixels``: the largest picture
    (width x height) accepted, None for the library's default (8192 x 4320); ``skip``: "nonref" or
    "nonkey" to leave pictures undecoded (see FileDecoder); ``converter``: "auto" (libyuv where
    it covers the conversion) or "swscale"; ``planes``: with format=None, views of the decoded
    planes without any copy (see the module's help). Raises FileNotFoundError for a missing
    file, ValueError/TypeError for bad arguments, QVError when the file cannot be opened.

    ``path`` may also name a live source: "rtsp://camera/stream", an .sdp file for RTP, an
    http(s) MJPEG stream or HLS playlist, "srt://...", "pipe:0". ``timeout``: seconds any open
    or read may wait (default 10, 0 waits forever), then QVError with code QV_ERR_TIMEOUT
    (-10010); a failed source raises code QV_ERR_NETWORK (-10011). ``transport``: "tcp" (the
    default for RTSP) or "udp"; ``options``: further network options by name (user_agent, ...).
    ``max_latency``: seconds a live picture may be old when handed out (None or 0: every
    picture); the decoder's ``skipped`` counts the pictures passed over for it.
    ``video_stream``/``audio_stream``: the stream to decode by its index in the file (as
    ``qvdecode info`` lists them), -1 for none, None for the default (the last of each kind).
    ``audio``: True yields the file's audio too, as ``AudioPiece`` objects (16-bit samples of
    shape (frames, channels), ``time`` on the clock of ``Picture.time``, ``rate``) between
    the pictures in file order; False (the default) yields pictures only. ``fast=True``: for a
    ``size`` much smaller than the picture (tiles, previews), the decoder skips what the output
    cannot show (H.264/HEVC loop filter, MJPEG decoded at a half to an eighth of its size), close
    to but not the same as the exact picture; the default decodes exactly.
    """
    return FileDecoder(path, format, size, high_quality, copy, threads, max_pixels, skip, timeout, transport,
                       options, converter, planes, max_latency, video_stream=video_stream,
                       audio_stream=audio_stream, audio=audio, fast=fast)
