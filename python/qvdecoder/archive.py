"""Recordings read without decoding every picture: thumbnails() of key frames at marks, and
extract(), the compressed frames as Packet tuples. Imports _lib, errors, pictures, _handle and
files."""

import ctypes
import os

from . import _lib
from ._handle import _Handle
from .errors import QVError, _masked
from .files import FileDecoder, _open_file
from .pictures import Packet


def thumbnails(path, every=60.0, format="rgb24", size=None, threads=None, exact=False):
    """The key frame nearest each mark of a recording, marks ``every`` seconds apart from its
    start: a list of ``Picture`` (each a copy, ``time`` the key frame's). Only key frames are
    decoded: a file that can seek goes to each mark past the key frames read so far (a pipe
    reads them in order), so a scan costs a small part of a full decode. ``format``/``size``
    as in ``open()``. ``exact=True``: the picture at each mark instead (the first whose time
    is at or after it, by accurate seeks), at the cost of decoding from the key frame before."""
    if every <= 0:
        raise ValueError("every must be positive")
    if exact:
        return _exact_thumbnails(path, every, format, size, threads)
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


def _exact_thumbnails(path, every, format, size, threads):
    chosen = []
    with FileDecoder(path, format=format, size=size, threads=threads) as decoder:
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
