"""One qv_decoder handle (_Handle) with the checks and output settings both decoders share, and
_Closable, their close and ``with`` block. Imports _lib, _loader, _interrupt, errors and pictures."""

import ctypes

from . import _interrupt, _lib
from ._loader import _library, numpy
from .errors import ClosedError, QVError, _int, _size
from .pictures import _FORMAT_NAMES, Picture, _format_number, _plane_views


class _Handle:
    """One qv_decoder handle, freed exactly once. Views of its picture buffer keep it alive:
    closing a handle that has handed out views only refuses further calls, and the decoder is
    freed with the last view."""

    def __init__(self):
        self.ptr = None
        self.closed = False
        self.viewed = False
        self.picture_size = 1  # bytes of the last picture: the next array's first guess
        self.lib = _library()
        self.ptr = self.lib.qv_decoder_new()
        if not self.ptr:
            raise MemoryError("qv_decoder_new failed")

    def call(self, name, *args, what=None, accept=(_lib.QV_OK,)):
        if not self.ptr or self.closed:
            raise ClosedError(what)
        result = getattr(self.lib, name)(self.ptr, *args)
        _interrupt.raise_deferred()
        if result not in accept:
            raise QVError(result, what or name)
        return result

    def picture(self, copy):
        info = _lib.PictureInfo()
        if copy:
            # An array of its own per picture, which the conversion writes into: no copy after
            # it. A picture larger than the last one asks for a larger array.
            accept = (_lib.QV_OK, _lib.QV_ERR_BUFFER_TOO_SMALL)
            flat = numpy.empty(self.picture_size, dtype=numpy.uint8)
            into = ("qv_picture_into", flat.ctypes.data, flat.size, ctypes.byref(info))
            if self.call(*into, accept=accept, what="qv_picture") != _lib.QV_OK:
                flat = numpy.empty(info.size, dtype=numpy.uint8)
                self.call("qv_picture_into", flat.ctypes.data, flat.size, ctypes.byref(info), what="qv_picture")
            self.picture_size = info.size
            flat = flat[: info.size]
        else:
            self.call("qv_picture", ctypes.byref(info))
            buffer = (ctypes.c_uint8 * info.size).from_address(info.data)
            flat = numpy.frombuffer(buffer, dtype=numpy.uint8)
            buffer.handle = self
            self.viewed = True
            flat.flags.writeable = False
        time_us = None if info.time_us == _lib.QV_NO_TIME else info.time_us
        name = _FORMAT_NAMES.get(info.format, str(info.format))
        picture = Picture(flat, info.width, info.height, name, info.flags, time_us)
        self.describe(picture)
        return picture

    def describe(self, picture):
        """The coding type, sample aspect ratio and rotation of the picture last laid out."""
        picture.type = {1: "I", 2: "P", 3: "B"}.get(self.lib.qv_picture_type(self.ptr))
        picture.rotation = max(0, self.lib.qv_picture_rotation(self.ptr))
        num, den = ctypes.c_int(1), ctypes.c_int(1)
        self.lib.qv_picture_aspect(self.ptr, ctypes.byref(num), ctypes.byref(den))
        picture.aspect = (num.value, den.value)
        micros = ctypes.c_int64(-1)
        self.lib.qv_picture_wallclock(self.ptr, ctypes.byref(micros))
        picture.wallclock = None if micros.value < 0 else micros.value / 1e6
        micros.value = -1
        self.lib.qv_picture_delay(self.ptr, ctypes.byref(micros))
        picture.delay = None if micros.value < 0 else micros.value / 1e6

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
        self.describe(picture)
        return picture

    def take(self, copy, planes):
        return self.planes() if planes else self.picture(copy)

    def interrupt(self):
        """Ends the blocking call running on this handle (any thread may call it)."""
        if self.ptr and not self.closed:
            self.lib.qv_interrupt(self.ptr)

    def blocking(self):
        """A ``with`` block around a call that may wait on the network: Ctrl-C ends it."""
        return _interrupt.Blocking(self)

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


def _set_converter(handle, converter, format, size, planes, fast=False):
    if converter not in _CONVERTERS:
        raise ValueError("converter is 'auto' or 'swscale'")
    if planes and (format is not None or size is not None):
        raise ValueError("planes=True hands out the decoded planes: pass format=None and no size")
    if not isinstance(fast, bool):
        raise TypeError(f"fast must be True or False, not {fast!r}")
    handle.call("qv_set_converter", _CONVERTERS[converter])
    if fast:
        handle.call("qv_set_fast_decode", 1)


def _check_output_size(handle, size):
    """ValueError for an output size over the decoder's picture limit (max_pixels), which the
    library would refuse and keep its previous output."""
    size = _size(size)
    if size is None:
        return
    limit = ctypes.c_int64()
    handle.call("qv_max_pixels", ctypes.byref(limit))
    if size[0] * size[1] > limit.value:
        raise ValueError(f"size {size[0]}x{size[1]} is over the picture limit of {limit.value} pixels "
                         f"(max_pixels)")


def _set_output(handle, format, size, high_quality):
    quality = 1 if high_quality else 0
    _check_output_size(handle, size)
    size = _size(size)
    if format is not None and size is not None:
        handle.call("qv_set_output", int(size[0]), int(size[1]), _format_number(format), quality)
    elif format is not None:
        handle.call("qv_set_output_format", _format_number(format), quality)
    elif size is not None:
        handle.call("qv_set_output_resolution", int(size[0]), int(size[1]), quality)


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

