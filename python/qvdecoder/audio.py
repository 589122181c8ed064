"""decode_g722: G.722 code words to 16-bit PCM. Imports errors and _handle."""

import ctypes

import numpy

from ._handle import _Handle
from .errors import _int

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
