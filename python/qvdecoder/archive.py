"""Recordings read without decoding every picture: thumbnails() of key frames at marks, and
extract(), the compressed frames as Packet tuples. Imports _lib, _loader, errors, pictures,
_handle and files."""

import ctypes
import math
import os

from . import _lib
from ._handle import _Handle
from ._loader import numpy
from .errors import QVError, _masked, _size
from .files import FileDecoder, _open_file
from .pictures import Packet


def thumbnails(path, every=60.0, format="rgb24", size=None, threads=None, exact=False, autorotate=True):
    """The key frame nearest each mark of a recording, marks ``every`` seconds apart from its
    start: a list of ``Picture`` (each a copy, ``time`` the key frame's). Only key frames are
    decoded: a file that can seek goes to each mark past the key frames read so far (a pipe
    reads them in order), so a scan costs a small part of a full decode. ``format`` as in
    ``open()``. ``exact=True``: the picture at each mark instead (the first whose time is at
    or after it, by accurate seeks), at the cost of decoding from the key frame before.

    Thumbnails keep the display shape, as ``qvdecode thumbs --size`` does: ``size`` (w, h) or
    "WxH" is the box the largest thumbnail of that shape fits in, so a 4:3 recording is not
    stretched into 16:9 tiles; one side alone ("160x", "x90", (160, None), (None, 90)) gives
    the other from the shape; None keeps the decoded height and makes non-square pixels square.
    Sides are even. The shape is the decoded size and the first picture's ``aspect``: a pipe,
    which cannot go back for it, counts its pixels as square. A recording with a display
    rotation (a phone's portrait video) gives upright thumbnails, as ``qvdecode thumbs`` does,
    fitted in the upright shape (their ``rotation`` then 0); ``autorotate=False`` keeps them
    as decoded."""
    if every <= 0:
        raise ValueError("every must be positive")
    size = _size(size, one_side=True)
    if exact:
        return [_upright(p, autorotate) for p in _exact_thumbnails(path, every, format, size, threads, autorotate)]
    chosen = []
    with FileDecoder(path, format=format, threads=threads, skip="nonkey") as decoder:
        _fit_display(decoder, size, autorotate)
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
                # A seek past the last picture finds nothing: the last key frame read before
                # it is then the last at or before the mark.
                before = current or previous
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
                if current is None and previous is None and before is not None and before.time_us <= mark:
                    previous = before
            # After the last key frame: the last one, up to the end of the recording.
            if current is None and (previous is None or (end_us is None and mark > previous.time_us)):
                break
            nearer = previous is not None and (current is None or
                                               mark - previous.time_us < current.time_us - mark)
            chosen.append(previous if nearer else current)
    return [_upright(p, autorotate) for p in chosen]


def _upright(picture, autorotate):
    """The picture turned as its rotation says (each plane of a planar one), with autorotate."""
    if not autorotate or not picture.rotation:
        return picture
    turns = -picture.rotation // 90  # numpy turns counterclockwise
    planes = picture.array if isinstance(picture.array, tuple) else (picture.array,)
    turned = tuple(numpy.ascontiguousarray(numpy.rot90(plane, turns)) for plane in planes)
    picture.array = turned if isinstance(picture.array, tuple) else turned[0]
    picture.data = numpy.concatenate([plane.view(numpy.uint8).ravel() for plane in turned])
    if picture.rotation in (90, 270):
        picture.width, picture.height = picture.height, picture.width
    picture.rotation = 0
    return picture


def _even(value):
    """The even side nearest value (halves away from zero), at least 2."""
    return max(2, int(math.floor(value / 2.0 + 0.5)) * 2)


def _fit_display(decoder, size, autorotate):
    """Sets the decoder's output to the thumbnail size for its pictures' display shape (see
    thumbnails()): the rule of qvdecode thumbs --size. size: (width, height) with None for a
    side left out, or None. A picture turned sideways for display is fitted upright and asked
    for as decoded."""
    width, height = size or (None, None)
    decoded_w, decoded_h = decoder.info["width"], decoder.info["height"]
    if decoded_w <= 0 or decoded_h <= 0:
        return
    # The first picture tells the shape of the pixels; the thumbnails' own reading seeks
    # back to the start.
    num, den, rotation = 1, 1, 0
    try:
        decoder.seek(decoder.start_time, accurate=False)
        first = decoder.read()
        if first is not None:
            num, den = first.aspect
            rotation = first.rotation
    except QVError as error:
        if error.code != _lib.QV_ERR_NOT_SEEKABLE:
            raise
    sideways = autorotate and rotation in (90, 270)
    sample_aspect = num / den
    if not width and not height:
        if abs(sample_aspect - 1.0) <= 1e-3:
            return
        if sideways:
            width = decoded_h
        else:
            height = decoded_h
    display = decoded_w * sample_aspect / decoded_h
    if sideways:
        display = 1.0 / display
    if width and height:
        if width > height * display:
            width = _even(height * display)
        else:
            height = _even(width / display)
    elif width:
        height = _even(width / display)
    else:
        width = _even(height * display)
    decoder._resize((height, width) if sideways else (width, height))


def _exact_thumbnails(path, every, format, size, threads, autorotate):
    chosen = []
    with FileDecoder(path, format=format, threads=threads) as decoder:
        _fit_display(decoder, size, autorotate)
        start_us = int(round(decoder.start_time * 1e6))
        step_us = int(round(every * 1e6))
        seekable = True
        picture = None
        while True:
            mark = start_us + len(chosen) * step_us
            if seekable:
                try:
                    decoder.seek(mark / 1e6)
                    picture = None
                except QVError as error:
                    if error.code != _lib.QV_ERR_NOT_SEEKABLE:
                        raise
                    seekable = False
            # A pipe reads on to the mark.
            while picture is None or picture.time_us < mark:
                picture = decoder.read()
                if picture is None:
                    return chosen
            chosen.append(picture)
    return chosen


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
            raise ValueError(f"{_masked(os.fsdecode(path))!r} has no video stream to extract")
        # A frame never outgrows the file it comes from, plus the parameter sets put in front.
        # (A live source or pipe has no size: the buffer grows to what a frame needs.)
        size = os.path.getsize(path) if os.path.isfile(path) else 0
        capacity = max(1 << 20, min(size + (1 << 16), 1 << 30))
    except BaseException:
        handle.free()
        raise
    return _packets(handle, capacity)


def _packets(handle, capacity):
    buffer = ctypes.create_string_buffer(capacity)
    info = _lib.RawInfo()
    try:
        while True:
            with handle.blocking():
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
