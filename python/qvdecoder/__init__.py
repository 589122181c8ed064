"""Decode camera streams and media files into numpy pictures and PCM with libqvdecoder.

    import qvdecoder
    for picture in qvdecoder.open("clip.mp4", format="bgr24"):
        picture.array      # height x width x 3 numpy array, picture.time in seconds

File mode: ``open(path)`` iterates the pictures of a file. Stream mode, as a camera host:
``StreamDecoder("h264").push(frame)`` returns the pictures one compressed frame gives, and
``flush()`` those still held at the end. A ``FileDecoder`` (also named ``Decoder``) seeks:
``seek(seconds)``, then ``read()`` the picture there; ``thumbnails(path, every=60.0)`` gives the
key frame nearest each mark of a recording, decoding key frames only. ``extract(path)`` gives the compressed frames of a file
(H.264 as Annex B), ``decode_g722(data)`` turns G.722 code words into 16-bit PCM.

Pictures are copies by default, because the library reuses its picture buffer at the next decode.
Pass ``copy=False`` for views of that buffer instead: a view shows its picture only until the
next picture is asked for (the next step of the iteration, push or flush), so take what you need
right away. Views keep the decoder's memory alive, so an old view is never dangling.

Array layout by pixel format: packed RGB/BGR gives height x width x 3, the 32-bit formats
height x width x 4, gray height x width, yuyv422/uyvy422 height x width x 2. Planar YUV
(yuv420p, yuv422p, ...) gives a tuple (Y, U, V) of 2-D arrays, nv12/nv21 a tuple (Y, UV) with UV
of shape h/2 x w/2 x 2. ``picture.data`` is always the whole picture as one flat uint8 array in
the library's layout: contiguous planes without row padding.

Errors raise ``QVError``, which carries the library's result ``code`` and its ``message``;
arguments out of range raise ``ValueError``, arguments of the wrong type ``TypeError``, and a
file that does not exist ``FileNotFoundError``.

FFmpeg's own warnings and errors (a damaged stream, say) go to the ``logging`` module, logger
``qvdecoder.ffmpeg``: they stay quiet until the application configures logging (for example
``logging.basicConfig()``), never straight to stderr.

With ``format=None, planes=True`` nothing is converted or copied at all: each picture's
``array`` is a tuple of views of the decoder's own planes, laid out as above but with rows that
may be padded in memory (``data`` is None); they are valid until the next picture is asked for.
"""

import atexit
import ctypes
import logging
import numbers
import os
from collections import namedtuple

import numpy

from . import _lib

__all__ = [
    "QVError", "Picture", "Packet", "FileDecoder", "Decoder", "StreamDecoder", "open", "extract",
    "decode_g722", "library_path", "thumbnails",
]
__version__ = "1.0.0"

_LIB = None


_LOG = logging.getLogger("qvdecoder")
_LOG.addHandler(logging.NullHandler())
_FFMPEG_LOG = logging.getLogger("qvdecoder.ffmpeg")


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
        _LIB.qv_set_ffmpeg_log(_FFMPEG_LINE, None, 24)
        atexit.register(_quiet_ffmpeg)
    return _LIB


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


def _open_file(handle, path):
    """Opens path on the handle; FileNotFoundError when a local file is missing."""
    name = os.fsencode(path)
    result = handle.lib.qv_open_file(handle.ptr, name)
    if result != _lib.QV_OK:
        if b"://" not in name and not os.path.exists(name):
            raise FileNotFoundError(2, "No such file", os.fsdecode(name))
        raise QVError(result, f"cannot open {os.fsdecode(name)!r}")


def library_path():
    """Path of the libqvdecoder.so.1 in use."""
    return _lib.library_path(_library())


class QVError(Exception):
    """A result code of the library: ``code`` (negative) and ``message`` (qv_strerror)."""

    def __init__(self, code, what=None):
        self.code = code
        self.message = _library().qv_strerror(code).decode()
        text = f"{self.message} ({code})"
        super().__init__(f"{what}: {text}" if what else text)


# Codec names, as qvdecode spells them.
CODECS = {
    "h264": 28, "mpeg4": 13, "mpeg2": 2, "mpeg1": 1, "mjpeg": 8, "h263": 5, "flv1": 22,
    "wmv1": 18, "wmv2": 19, "vp8": 146, "hevc": 0x990100, "vp9": 0x990101, "av1": 0x990102,
}
G722 = 0x990000

# Pixel formats: number, then how the flat picture splits into arrays.
#   ("packed", bytes per pixel) or ("planar", log2 chroma width, log2 chroma height)
#   or ("semiplanar",) for nv12/nv21.
FORMATS = {
    "yuv420p": (0, ("planar", 1, 1)), "yuyv422": (1, ("packed", 2)), "rgb24": (2, ("packed", 3)),
    "bgr24": (3, ("packed", 3)), "yuv422p": (4, ("planar", 1, 0)), "yuv444p": (5, ("planar", 0, 0)),
    "yuv410p": (6, ("planar", 2, 2)), "yuv411p": (7, ("planar", 2, 0)), "gray": (8, ("packed", 1)),
    "yuvj420p": (12, ("planar", 1, 1)), "yuvj422p": (13, ("planar", 1, 0)),
    "yuvj444p": (14, ("planar", 0, 0)), "uyvy422": (17, ("packed", 2)), "nv12": (25, ("semiplanar",)),
    "nv21": (26, ("semiplanar",)), "argb": (27, ("packed", 4)), "rgba": (28, ("packed", 4)),
    "abgr": (29, ("packed", 4)), "bgra": (30, ("packed", 4)),
}
_FORMAT_NAMES = {number: name for name, (number, _) in FORMATS.items()}


def _format_number(format):
    if isinstance(format, int):
        return format
    try:
        return FORMATS[format][0]
    except KeyError:
        raise ValueError(f"unknown pixel format {format!r}; known: {', '.join(FORMATS)}") from None


def _shaped(flat, width, height, format_name):
    """The flat picture as the arrays of its format; the flat array itself when unknown."""
    layout = FORMATS.get(format_name, (None, None))[1]
    if layout is None:
        return flat
    if layout[0] == "packed":
        depth = layout[1]
        if flat.size != width * height * depth:
            return flat
        shape = (height, width) if depth == 1 else (height, width, depth)
        return flat.reshape(shape)
    # Chroma planes round up, as libavutil lays them out.
    if layout[0] == "planar":
        cw, ch = -(-width >> layout[1]), -(-height >> layout[2])
        luma = width * height
        if flat.size != luma + 2 * cw * ch:
            return flat
        return (
            flat[:luma].reshape(height, width),
            flat[luma:luma + cw * ch].reshape(ch, cw),
            flat[luma + cw * ch:].reshape(ch, cw),
        )
    cw, ch = -(-width >> 1), -(-height >> 1)
    luma = width * height
    if flat.size != luma + 2 * cw * ch:
        return flat
    return flat[:luma].reshape(height, width), flat[luma:].reshape(ch, cw, 2)


def _plane_views(planes, keeper):
    """Views of the decoded planes in the shapes _shaped gives, rows padded as in memory."""
    width, height = planes.width, planes.height
    layout = FORMATS.get(_FORMAT_NAMES.get(planes.format), (None, None))[1]
    if layout is None or layout[0] == "packed":
        depth = layout[1] if layout else 1
        shapes = [(height, width * depth, (height, width, depth) if depth > 1 else (height, width))]
    elif layout[0] == "planar":
        cw, ch = -(-width >> layout[1]), -(-height >> layout[2])
        shapes = [(height, width, (height, width))] + [(ch, cw, (ch, cw))] * 2
    else:
        cw, ch = -(-width >> 1), -(-height >> 1)
        shapes = [(height, width, (height, width)), (ch, 2 * cw, (ch, cw, 2))]
    views = []
    for i, (rows, row_bytes, shape) in enumerate(shapes):
        stride = planes.linesize[i]
        if not planes.data[i] or stride < row_bytes:
            raise QVError(_lib.QV_FAILED, "the decoded planes do not match their format")
        buffer = (ctypes.c_uint8 * (stride * (rows - 1) + row_bytes)).from_address(planes.data[i])
        buffer.handle = keeper
        flat = numpy.frombuffer(buffer, dtype=numpy.uint8)
        rows_view = numpy.lib.stride_tricks.as_strided(flat, (rows, row_bytes), (stride, 1), writeable=False)
        views.append(rows_view.reshape(shape))
    return views[0] if len(views) == 1 else tuple(views)


class Picture:
    """One decoded picture.

    ``array``: the picture as numpy arrays (see the module's help for the layout per format);
    ``data``: the same bytes as one flat uint8 array; ``width``, ``height``, ``format`` (name);
    ``time``: seconds (file mode; None in stream mode), ``time_us``: the same in microseconds;
    ``flags``: QV_PICTURE_* bits, also as ``key``, ``damaged`` and ``drained``; ``colour``:
    with ``planes=True``, the matrix and range to convert the planes with, such as
    ``("bt709", False)`` (False: limited range), else None.
    """

    __slots__ = ("data", "array", "width", "height", "format", "flags", "time_us", "colour")

    def __init__(self, data, width, height, format, flags, time_us, colour=None):
        self.colour = colour
        self.data = data
        self.width = width
        self.height = height
        self.format = format
        self.flags = flags
        self.time_us = time_us
        self.array = _shaped(data, width, height, format) if data is not None else None

    @property
    def time(self):
        return None if self.time_us is None else self.time_us / 1e6

    key = property(lambda self: bool(self.flags & _lib.QV_PICTURE_KEY))
    damaged = property(lambda self: bool(self.flags & _lib.QV_PICTURE_DAMAGED))
    drained = property(lambda self: bool(self.flags & _lib.QV_PICTURE_DRAINED))

    def __repr__(self):
        when = "" if self.time_us is None else f" at {self.time:.3f} s"
        return f"<Picture {self.width}x{self.height} {self.format}{when} flags={self.flags}>"


Packet = namedtuple("Packet", "data key time_ms header_length position")
Packet.__doc__ = """A compressed video frame: ``data`` bytes (H.264 as Annex B), ``key`` bool,
``time_ms`` decoding time in milliseconds, ``header_length`` and ``position`` in the file."""


class _Handle:
    """One qv_decoder handle, freed exactly once. Views of its picture buffer keep it alive:
    closing a handle that has handed out views only refuses further calls, and the decoder is
    freed with the last view."""

    def __init__(self):
        self.ptr = None
        self.closed = False
        self.viewed = False
        self.lib = _library()
        self.ptr = self.lib.qv_decoder_new()
        if not self.ptr:
            raise MemoryError("qv_decoder_new failed")

    def call(self, name, *args, what=None, accept=(_lib.QV_OK,)):
        if not self.ptr or self.closed:
            raise QVError(_lib.QV_ERR_NOT_OPEN, what or name)
        result = getattr(self.lib, name)(self.ptr, *args)
        if result not in accept:
            raise QVError(result, what or name)
        return result

    def picture(self, copy):
        info = _lib.PictureInfo()
        self.call("qv_picture", ctypes.byref(info))
        buffer = (ctypes.c_uint8 * info.size).from_address(info.data)
        flat = numpy.frombuffer(buffer, dtype=numpy.uint8)
        if copy:
            flat = flat.copy()
        else:
            buffer.handle = self
            self.viewed = True
            flat.flags.writeable = False
        time_us = None if info.time_us == _lib.QV_NO_TIME else info.time_us
        name = _FORMAT_NAMES.get(info.format, str(info.format))
        return Picture(flat, info.width, info.height, name, info.flags, time_us)

    def planes(self):
        info = _lib.Planes()
        self.call("qv_video_planes", ctypes.byref(info))
        self.viewed = True
        time_us = None if info.time_us == _lib.QV_NO_TIME else info.time_us
        matrices = ("bt601", "bt709", "bt2020", "smpte240m", "fcc")
        matrix = info.colour & 0xFF
        colour = (matrices[matrix] if matrix < len(matrices) else str(matrix), bool(info.colour & 0x100))
        picture = Picture(None, info.width, info.height, _FORMAT_NAMES.get(info.format, str(info.format)),
                          info.flags, time_us, colour)
        picture.array = _plane_views(info, self)
        return picture

    def take(self, copy, planes):
        return self.planes() if planes else self.picture(copy)

    def close(self):
        self.closed = True
        if not self.viewed:
            self.free()

    def free(self):
        if self.ptr:
            self.lib.qv_decoder_free(self.ptr)
            self.ptr = None

    def __del__(self):
        self.free()


_CONVERTERS = {"auto": 0, "swscale": 1}


def _set_converter(handle, converter, format, size, planes):
    if converter not in _CONVERTERS:
        raise ValueError("converter is 'auto' or 'swscale'")
    if planes and (format is not None or size is not None):
        raise ValueError("planes=True hands out the decoded planes: pass format=None and no size")
    handle.call("qv_set_converter", _CONVERTERS[converter])


def _set_output(handle, format, size, high_quality):
    quality = 1 if high_quality else 0
    size = _size(size)
    if format is not None and size is not None:
        handle.call("qv_set_output", int(size[0]), int(size[1]), _format_number(format), quality)
    elif format is not None:
        handle.call("qv_set_output_format", _format_number(format), quality)
    elif size is not None:
        handle.call("qv_set_output_resolution", int(size[0]), int(size[1]), quality)


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


class _Closable:
    """Closes the decoder it holds in ``self._handle``, also as a ``with`` block."""

    def close(self):
        self._handle.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _check_decoding(format, size, threads, max_pixels):
    """Raises ValueError or TypeError for arguments the decoder would refuse or ignore."""
    if format is not None:
        _format_number(format)
    _size(size)
    if threads is not None:
        _int(threads, "threads", 0, 64)
    if max_pixels is not None:
        _int(max_pixels, "max_pixels", 0)


class FileDecoder(_Closable):
    """The pictures of a media file; made by ``open()``. Iterate it once; ``close()`` (or leaving
    a ``with`` block, or dropping the iterator) frees the decoder. ``info`` describes the
    file's streams (codec numbers, size, frame rate, audio rate and channels).

    Like a player: ``read()`` gives the next picture (None at the end) and ``seek(seconds)``
    moves on the clock of ``Picture.time``, which begins at ``start_time``; ``duration`` is
    the length in seconds (None when the container does not say). ``skip="nonkey"`` decodes
    key frames only, ``"nonref"`` skips the pictures nothing refers to."""

    def __init__(self, path, format="bgr24", size=None, high_quality=False, copy=True, threads=None,
                 max_pixels=None, skip=None, timeout=None, transport=None, options=None, converter="auto",
                 planes=False):
        self._copy = copy
        self._planes = planes
        _check_decoding(format, size, threads, max_pixels)
        self._handle = _Handle()
        try:
            _set_converter(self._handle, converter, format, size, planes)
            if skip is not None:
                self._handle.call("qv_set_frame_skip", _SKIP_MODES[skip])
            if threads is not None:
                self._handle.call("qv_set_threads", int(threads))
            if max_pixels is not None:
                self._handle.call("qv_set_max_pixels", int(max_pixels))
            _set_network(self._handle, timeout, transport, options)
            _open_file(self._handle, path)
            info = _lib.StreamInfo()
            self._handle.call("qv_get_info", ctypes.byref(info))
            self.info = {name: getattr(info, name) for name, _ in _lib.StreamInfo._fields_}
            if info.width > 0 and info.height > 0:
                _set_output(self._handle, format, size, high_quality)
        except BaseException:
            self._handle.free()
            raise
        self._started = False

    def interrupt(self):
        """Makes a blocked read of the iteration (in another thread) raise QVError with
        QV_ERR_TIMEOUT at once; the one method that may be called from another thread."""
        if self._handle.ptr and not self._handle.closed:
            self._handle.lib.qv_interrupt(self._handle.ptr)

    def __iter__(self):
        if self._started:
            raise RuntimeError("a FileDecoder is iterated once; open the file again")
        self._started = True
        return self._pictures()

    def _pictures(self):
        try:
            while True:
                picture = self.read()
                if picture is None:
                    return
                yield picture
        finally:
            self._handle.close()

    def read(self):
        """The next picture of the file, or None at its end (a seek may follow)."""
        skip = (_lib.QV_AUDIO_PIECE, _lib.QV_ERR_NO_PICTURE, _lib.QV_ERR_OPEN_FILE)
        while True:
            result = self._handle.call("qv_decode_frame", accept=(_lib.QV_OK, _lib.QV_ERR_END_OF_FILE) + skip)
            if result == _lib.QV_ERR_END_OF_FILE:
                return None
            if result == _lib.QV_OK:
                return self._handle.take(self._copy, self._planes)

    def seek(self, seconds, accurate=True):
        """Moves to ``seconds`` on the clock of ``Picture.time``. accurate: the next picture is the
        first at or after it; otherwise the key frame at or before it (faster). Before the start
        gives the first picture, past the end the end. QVError with code QV_ERR_NOT_SEEKABLE
        (-10009) for pipes and live sources, which read on where they were."""
        flags = _lib.QV_SEEK_ACCURATE if accurate else _lib.QV_SEEK_KEY
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
    def start_time(self):
        """The time of the file's first picture in seconds (0.0 when unknown)."""
        return self._microseconds("qv_start_time") / 1e6


Decoder = FileDecoder

_SKIP_MODES = {None: _lib.QV_SKIP_NONE, "none": _lib.QV_SKIP_NONE, "nonref": _lib.QV_SKIP_NONREF,
               "nonkey": _lib.QV_SKIP_NONKEY}


def thumbnails(path, every=60.0, format="rgb24", size=None, threads=None):
    """The key frame nearest each mark of a recording, marks ``every`` seconds apart from its
    start: a list of ``Picture`` (each a copy, ``time`` the key frame's). Only key frames are
    decoded: a file that can seek goes to each mark past the key frames read so far (a pipe
    reads them in order), so a scan costs a small part of a full decode. ``format``/``size``
    as in ``open()``."""
    if every <= 0:
        raise ValueError("every must be positive")
    chosen = []
    with FileDecoder(path, format=format, size=size, threads=threads, skip="nonkey") as decoder:
        start_us = int(round(decoder.start_time * 1e6))
        duration = decoder.duration
        end_us = start_us + int(round(duration * 1e6)) if duration is not None else None
        step_us = int(round(every * 1e6))
        previous = current = None
        seekable = True
        while True:
            mark = start_us + len(chosen) * step_us
            if end_us is not None and mark > end_us:
                break
            # The last key frame at or before the mark and the first after it.
            if current is None or current.time_us <= mark:
                if seekable:
                    try:
                        decoder.seek(mark / 1e6, accurate=False)
                        previous = current = None
                    except QVError as error:
                        if error.code != _lib.QV_ERR_NOT_SEEKABLE:
                            raise
                        seekable = False
                while current is None or current.time_us <= mark:
                    previous = current or previous
                    current = decoder.read()
                    if current is None:
                        break
            # After the last key frame: the last one, up to the end of the recording.
            if current is None and (previous is None or (end_us is None and mark > previous.time_us)):
                break
            nearer = previous is not None and (current is None or
                                               mark - previous.time_us < current.time_us - mark)
            chosen.append(previous if nearer else current)
    return chosen


def open(path, format="bgr24", size=None, high_quality=False, copy=True, threads=None, max_pixels=None,
         skip=None, timeout=None, transport=None, options=None, converter="auto", planes=False):
    """Decodes a media file picture by picture: iterate the result for ``Picture`` objects.

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
    """
    return FileDecoder(path, format, size, high_quality, copy, threads, max_pixels, skip, timeout, transport,
                       options, converter, planes)


class StreamDecoder(_Closable):
    """Stream mode, as a camera host: push compressed frames, get pictures back.

    ``codec``: "h264", "mpeg4", "mpeg2", "hevc", ... ; ``format``/``size``/``high_quality``:
    output conversion as in ``open()``; ``stream_size``: (width, height) of the pushed pictures
    if known (the decoder follows the stream's own headers); ``latency``: "low" (the default:
    pictures as soon as possible) or "complete" (no B-picture is ever dropped; run to the end
    and flush); ``threads``; ``max_pixels`` as in ``open()``; ``demux``: pushes are MPEG
    program-stream packs, cut into frames by the chunked parser since packs split frames
    (``frame_per_pack=True`` when every pack holds whole frames); ``chunks``: pushes may end
    inside a frame; ``key_first``: nothing before the first key frame; ``repack``: rebuild
    H.264 NAL units before decoding; ``copy``: False for views; ``converter`` and
    ``planes`` as in ``open()``.

    ``push(data)`` and ``flush()`` return the list of pictures that came out (an iterator with
    copy=False). Use it as a context manager, or call ``close()``, to free the decoder at once.
    """

    def __init__(self, codec="h264", format="bgr24", size=None, high_quality=False, stream_size=None,
                 latency="low", threads=None, demux=False, chunks=False, key_first=False,
                 repack=False, copy=True, max_pixels=None, frame_per_pack=False, converter="auto", planes=False):
        if codec not in CODECS:
            raise ValueError(f"unknown video codec {codec!r}; known: {', '.join(CODECS)}")
        if latency not in ("low", "complete"):
            raise ValueError("latency is 'low' or 'complete'")
        _check_decoding(format, size, threads, max_pixels)
        stream_size = _size(stream_size, "stream_size")
        self._repack = 1 if repack else 0
        self._copy = copy and not planes
        self._planes = planes
        self._handle = _Handle()
        h = self._handle
        try:
            _set_converter(h, converter, format, size, planes)
            h.call("qv_set_latency_mode", 1 if latency == "complete" else 0)
            if threads is not None:
                h.call("qv_set_threads", int(threads))
            if max_pixels is not None:
                h.call("qv_set_max_pixels", int(max_pixels))
            h.call("qv_set_demux", 1 if demux else 0)
            h.call("qv_set_stream_mode", 1 if chunks or (demux and not frame_per_pack) else 0)
            h.call("qv_set_output_mode", 1 if key_first else 0)
            width, height = stream_size or (352, 288)
            h.call("qv_open_video", CODECS[codec], int(width), int(height), 0,
                   what=f"the {codec} decoder did not open")
            _set_output(h, format, size, high_quality)
        except BaseException:
            h.free()
            raise

    def push(self, data):
        """Pushes one compressed frame (bytes-like); returns the pictures that came out."""
        data = bytes(data)
        first = self._handle.call("qv_push_video", data, len(data), self._repack,
                                  accept=(_lib.QV_OK, _lib.QV_FAILED))
        return self._collect(first == _lib.QV_OK)

    def flush(self):
        """End of stream: returns every picture the decoder still held. The decoder then takes
        new input as from a fresh start."""
        self._handle.call("qv_flush_video")
        return self._collect(False)

    def _collect(self, have_first):
        pictures = self._receive(have_first)
        return list(pictures) if self._copy else pictures

    def _receive(self, have_first):
        handle = self._handle
        try:
            if have_first:
                yield handle.take(self._copy, self._planes)
            while handle.call("qv_receive_video", accept=(_lib.QV_OK, _lib.QV_FAILED)) == _lib.QV_OK:
                yield handle.take(self._copy, self._planes)
        except GeneratorExit:
            # Pictures not taken are dropped, so that the next push starts clean.
            while handle.ptr and handle.lib.qv_receive_video(handle.ptr) == _lib.QV_OK:
                pass
            raise

    def save_snapshot(self, path):
        """The last picture as a BMP file."""
        self._handle.call("qv_save_output_image", os.fsencode(path))


def extract(path):
    """The compressed video frames of a media file, in file order, as ``Packet`` tuples (H.264 as
    Annex B with its parameter sets before each key frame). Raises QVError when the file cannot
    be opened."""
    handle = _Handle()
    try:
        _open_file(handle, path)
        info = _lib.StreamInfo()
        handle.call("qv_get_info", ctypes.byref(info))
        if info.video_codec == 0:
            raise ValueError(f"{path!r} has no video stream to extract")
        # A frame never outgrows the file it comes from, plus the parameter sets put in front.
        capacity = max(1 << 20, min(os.path.getsize(path) + (1 << 16), 1 << 30))
    except BaseException:
        handle.free()
        raise
    return _packets(handle, capacity)


def _packets(handle, capacity):
    buffer = ctypes.create_string_buffer(capacity)
    info = _lib.RawInfo()
    try:
        while True:
            size = handle.call("qv_raw_frame", buffer, capacity, ctypes.byref(info),
                               accept=range(0, capacity + 1))
            if size == 0:
                # A frame that did not fit waits for a larger buffer.
                needed = handle.lib.qv_raw_frame_size(handle.ptr)
                if needed <= capacity:
                    return
                capacity = needed
                buffer = ctypes.create_string_buffer(capacity)
                continue
            yield Packet(buffer.raw[:size], bool(info.key), info.timestamp_ms, info.header_length,
                         info.position)
    finally:
        handle.free()


def decode_g722(data, rate=16000, bit_rate=64000):
    """G.722 code words (bytes-like) to 16-bit PCM: a 1-D numpy int16 array at ``rate`` Hz
    (16000, or 8000 for the narrow-band output). ``bit_rate``: 64000, 56000 or 48000."""
    rate = _int(rate, "rate", 0)
    if rate not in (16000, 8000):
        raise ValueError(f"rate must be 16000 or 8000, not {rate}")
    bit_rate = _int(bit_rate, "bit_rate", 0)
    if bit_rate not in (64000, 56000, 48000):
        raise ValueError(f"bit_rate must be 64000, 56000 or 48000, not {bit_rate}")
    data = bytes(data)
    handle = _Handle()
    try:
        handle.call("qv_open_audio", G722, int(rate), 1, int(bit_rate),
                    what="the G.722 decoder did not open")
        # 20 ms of code words per push, the codec's usual frame.
        chunk = max(1, bit_rate // 8 // 50)
        pieces = []
        pcm, size = ctypes.c_void_p(), ctypes.c_int()
        for start in range(0, len(data), chunk):
            piece = data[start:start + chunk]
            handle.call("qv_push_audio", piece, len(piece), what="G.722 decoding failed")
            handle.call("qv_audio", ctypes.byref(pcm), ctypes.byref(size))
            if size.value > 0:
                pieces.append(ctypes.string_at(pcm.value, size.value))
        return numpy.frombuffer(b"".join(pieces), dtype="<i2").copy()
    finally:
        handle.free()
