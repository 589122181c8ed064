"""Picture and Packet, the pixel formats and how a decoded picture becomes numpy arrays (copies
shaped by format, or views of the decoder's planes). Imports the binding (_lib) and errors."""

import ctypes
from collections import namedtuple

from . import _lib
from ._loader import numpy
from .errors import QVError

# Pixel formats: number, then how the flat picture splits into arrays.
#   ("packed", bytes per pixel) or ("planar", log2 chroma width, log2 chroma height)
#   or ("semiplanar",) for nv12/nv21; a fourth (planar) or third (packed) element of 2 marks
#   16-bit samples (10- and 12-bit pictures), handed out as uint16 arrays.
FORMATS = {
    "yuv420p": (0, ("planar", 1, 1)), "yuyv422": (1, ("packed", 2)), "rgb24": (2, ("packed", 3)),
    "bgr24": (3, ("packed", 3)), "yuv422p": (4, ("planar", 1, 0)), "yuv444p": (5, ("planar", 0, 0)),
    "yuv410p": (6, ("planar", 2, 2)), "yuv411p": (7, ("planar", 2, 0)), "gray": (8, ("packed", 1)),
    "yuvj420p": (12, ("planar", 1, 1)), "yuvj422p": (13, ("planar", 1, 0)),
    "yuvj444p": (14, ("planar", 0, 0)), "uyvy422": (17, ("packed", 2)), "nv12": (25, ("semiplanar",)),
    "nv21": (26, ("semiplanar",)), "argb": (27, ("packed", 4)), "rgba": (28, ("packed", 4)),
    "abgr": (29, ("packed", 4)), "bgra": (30, ("packed", 4)),
    "yuv420p10le": (0x990300, ("planar", 1, 1, 2)), "yuv422p10le": (0x990301, ("planar", 1, 0, 2)),
    "yuv444p10le": (0x990302, ("planar", 0, 0, 2)), "yuv420p12le": (0x990303, ("planar", 1, 1, 2)),
    "yuv422p12le": (0x990304, ("planar", 1, 0, 2)), "yuv444p12le": (0x990305, ("planar", 0, 0, 2)),
    "gray10le": (0x990306, ("packed", 2, 2)), "gray12le": (0x990307, ("packed", 2, 2)),
    "gbrp10le": (0x990308, ("planar", 0, 0, 2)), "gbrp12le": (0x990309, ("planar", 0, 0, 2)),
}
_FORMAT_NAMES = {number: name for name, (number, _) in FORMATS.items()}


def _format_number(format):
    if isinstance(format, int):
        return format
    try:
        return FORMATS[format][0]
    except KeyError:
        raise ValueError(f"unknown pixel format {format!r}; known: {', '.join(FORMATS)}") from None


def _sample_bytes(layout):
    """Bytes of one sample: 2 for the 16-bit words of 10- and 12-bit pictures, else 1."""
    if layout[0] == "packed":
        return layout[2] if len(layout) > 2 else 1
    return layout[3] if len(layout) > 3 else 1


def _shaped(flat, width, height, format_name):
    """The flat picture as the arrays of its format; the flat array itself when unknown."""
    layout = FORMATS.get(format_name, (None, None))[1]
    if layout is None:
        return flat
    word = _sample_bytes(layout)
    if word == 2:
        if flat.size % 2:
            return flat
        flat = flat.view("<u2")
    if layout[0] == "packed":
        depth = layout[1] // word
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
    word = _sample_bytes(layout) if layout else 1
    if layout is None or layout[0] == "packed":
        depth = layout[1] // word if layout else 1
        shapes = [(height, width * depth * word, (height, width, depth) if depth > 1 else (height, width))]
    elif layout[0] == "planar":
        cw, ch = -(-width >> layout[1]), -(-height >> layout[2])
        shapes = [(height, width * word, (height, width))] + [(ch, cw * word, (ch, cw))] * 2
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
        if word == 2:
            rows_view = rows_view.view("<u2")  # rows of 16-bit samples, still in place
        views.append(rows_view.reshape(shape))
    return views[0] if len(views) == 1 else tuple(views)


class Picture:
    """One decoded picture.

    ``array``: the picture as numpy arrays (see the module's help for the layout per format);
    ``data``: the same bytes as one flat uint8 array; ``width``, ``height``, ``format`` (name);
    ``time``: seconds (file mode; None in stream mode), ``time_us``: the same in microseconds;
    ``flags``: QV_PICTURE_* bits, also as ``key``, ``damaged`` and ``drained``; ``colour``:
    with ``planes=True``, the matrix and range to convert the planes with, such as
    ``("bt709", False)`` (False: limited range), else None; ``type``: the coding type, "I",
    "P", "B" or None; ``aspect``: the sample aspect ratio (num, den), (1, 1) when the stream
    does not say (display width = width * num / den); ``wallclock``: a live picture's capture
    time in seconds since the epoch as the sender reports it, ``delay``: seconds from the
    arrival of its last packet to its hand-out (file mode), each None when unknown;
    ``rotation``: the clockwise turn in degrees (0, 90, 180, 270) that shows the picture upright,
    as a phone recording's display matrix states it (the arrays are as decoded:
    ``numpy.rot90(picture.array, -picture.rotation // 90)`` turns a packed picture upright).
    """

    __slots__ = ("data", "array", "width", "height", "format", "flags", "time_us", "colour", "type", "aspect",
                 "wallclock", "delay", "rotation")

    def __init__(self, data, width, height, format, flags, time_us, colour=None):
        self.colour = colour
        self.type = None
        self.aspect = (1, 1)
        self.rotation = 0
        self.wallclock = None
        self.delay = None
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
