"""Decode camera streams and media files into numpy pictures and PCM with libqvdecoder.

    import qvdecoder
    for picture in qvdecoder.open("clip.mp4", format="bgr24"):
        picture.array      # height x width x 3 numpy array, picture.time in seconds

File mode: ``open(path)`` iterates the pictures of a file; ``open(path, audio=True)`` its audio
too, as ``AudioPiece`` objects (int16 samples of shape (frames, channels) with their time on
the pictures' clock). Stream mode, as a camera host:
``StreamDecoder("h264").push(frame)`` returns the pictures one compressed frame gives, and
``flush()`` those still held at the end. A ``FileDecoder`` (also named ``Decoder``) seeks:
``seek(seconds)``, then ``read()`` the picture there; ``thumbnails(path, every=60.0)`` gives the
key frame nearest each mark of a recording, decoding key frames only. ``extract(path)`` gives the compressed frames of a file
(H.264 as Annex B), ``decode_g722(data)`` turns G.722 code words into 16-bit PCM.

Pictures are arrays of their own by default, because the library reuses its picture buffer at the
next decode; the library converts each straight into its array, so it costs no copy. Pass ``copy=False`` for views of that buffer instead: a view shows its picture only until the
next picture is asked for (the next step of the iteration, push or flush), so take what you need
right away. Views keep the decoder's memory alive, so an old view is never dangling.

Array layout by pixel format: packed RGB/BGR gives height x width x 3, the 32-bit formats
height x width x 4, gray height x width, yuyv422/uyvy422 height x width x 2. Planar YUV
(yuv420p, yuv422p, ...) gives a tuple (Y, U, V) of 2-D arrays, nv12/nv21 a tuple (Y, UV) with UV
of shape h/2 x w/2 x 2. 10- and 12-bit pictures (yuv420p10le, yuv422p12le, gray10le, gbrp10le,
...: HEVC Main 10, VP9 and AV1 profiles 2, H.264 High 10) give the same shapes as uint16 arrays
of their samples. ``picture.data`` is always the whole picture as one flat uint8 array in
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

# Besides the names of __all__, CODECS, FORMATS and G722 stay reachable as qvdecoder.CODECS, ...
from ._loader import library_path, preload

# The library and numpy load in the background from here on (see _loader).
preload()
del preload

from .archive import extract, thumbnails
from .audio import G722, AudioPiece, decode_g722
from .errors import QVError
from .files import Decoder, FileDecoder, open
from .pictures import FORMATS, Packet, Picture
from .streams import CODECS, StreamDecoder

__all__ = [
    "QVError", "Picture", "Packet", "FileDecoder", "Decoder", "StreamDecoder", "open", "extract",
    "decode_g722", "library_path", "thumbnails", "AudioPiece",
]
__version__ = "1.0.0"

# The public names keep the package as their home, as before it was split into modules, so that
# reprs, tracebacks, help() and pickles still say qvdecoder.QVError, qvdecoder.open, ...
for _name in __all__:
    globals()[_name].__module__ = __name__
del _name
