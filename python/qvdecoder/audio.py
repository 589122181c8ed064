"""AudioPiece, the audio of a file decoded beside its pictures, and decode_g722: G.722 code
words to 16-bit PCM. Imports _lib, errors and _handle."""

import ctypes

from . import _lib
from ._loader import numpy
from ._handle import _Handle
from .errors import QVError, _int


class AudioPiece:
    """A piece of a file's decoded audio, as ``open(path, audio=True)`` yields them.

    ``samples``: a numpy int16 array of shape (frames, channels), one row per sampling
    instant (``samples[:, 0]`` the first channel; ``samples.ravel()`` the interleaved PCM a
    sound card takes); ``rate``: frames a second; ``channels``; ``time``: seconds of its first
    frame on the clock of ``Picture.time`` (``time_us`` the same in microseconds), so that
    pictures and sound line up; ``duration``: its length in seconds. Samples the container
    marks as the encoder's start-up delay (AAC's priming) are dropped, as libavcodec does.
    """

    __slots__ = ("samples", "rate", "channels", "time_us")

    def __init__(self, samples, rate, channels, time_us):
        self.samples = samples
        self.rate = rate
        self.channels = channels
        self.time_us = time_us

    time = property(lambda self: self.time_us / 1e6)
    duration = property(lambda self: len(self.samples) / self.rate if self.rate > 0 else None)

    def __repr__(self):
        return (f"<AudioPiece {len(self.samples)} frames x {self.channels} at {self.rate} Hz "
                f"at {self.time:.3f} s>")


def _audio_piece(handle, info):
    """The audio piece qv_decode_frame just decoded (a copy), None when it holds no samples.
    Its time is that of its packet (qv_frame_timestamp); rate and channels those of the
    stream."""
    pcm, size = ctypes.c_void_p(), ctypes.c_int()
    handle.call("qv_audio", ctypes.byref(pcm), ctypes.byref(size))
    if not pcm.value or size.value <= 0:
        return None
    channels = max(1, info["channels"])
    if size.value % (2 * channels):
        raise QVError(_lib.QV_FAILED, f"an audio piece of {size.value} bytes is no whole count of "
                                      f"{channels}-channel 16-bit frames")
    buffer = (ctypes.c_char * size.value).from_address(pcm.value)
    samples = numpy.frombuffer(buffer, dtype=numpy.int16).reshape(-1, channels).copy()
    time_us = ctypes.c_int64()
    handle.call("qv_frame_timestamp", ctypes.byref(time_us))
    return AudioPiece(samples, info["sample_rate"], channels, time_us.value)

G722 = 0x990000


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
