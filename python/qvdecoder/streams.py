"""Stream mode: StreamDecoder, compressed video frames pushed in, pictures out, and the codec
names it knows. Imports _lib, errors and _handle."""

import os

from . import _lib
from ._handle import _check_decoding, _Closable, _Handle, _set_converter, _set_output
from .errors import _size

# Codec names, as qvdecode spells them.
CODECS = {
    "h264": 28, "mpeg4": 13, "mpeg2": 2, "mpeg1": 1, "mjpeg": 8, "h263": 5, "flv1": 22,
    "wmv1": 18, "wmv2": 19, "vp8": 146, "hevc": 0x990100, "vp9": 0x990101, "av1": 0x990102,
}


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
    H.264 NAL units before decoding; ``copy``: False for views; ``converter``, ``planes`` and
    ``fast`` as in ``open()``.

    ``push(data)`` and ``flush()`` return the list of pictures that came out (an iterator with
    copy=False). Use it as a context manager, or call ``close()``, to free the decoder at once.
    """

    def __init__(self, codec="h264", format="bgr24", size=None, high_quality=False, stream_size=None,
                 latency="low", threads=None, demux=False, chunks=False, key_first=False,
                 repack=False, copy=True, max_pixels=None, frame_per_pack=False, converter="auto", planes=False,
                 fast=False):
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
            _set_converter(h, converter, format, size, planes, fast)
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
