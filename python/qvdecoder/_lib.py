"""Loading libqvdecoder.so.1 and declaring the C interface (qvdecoder_c.h) for ctypes."""

import ctypes
import os
import sys
import sysconfig

LIBRARY_NAME = "libqvdecoder.so.1"
ENV_VARIABLE = "QVDECODER_LIBRARY"

# Result codes of qvdecoder_c.h.
QV_OK = 0
QV_AUDIO_PIECE = 1
QV_FAILED = -1
QV_ERR_OPEN_FILE = -10001
QV_ERR_NO_PICTURE = -10002
QV_ERR_END_OF_FILE = -10003
QV_ERR_BAD_DATA = -10005
QV_ERR_NO_MEMORY = -10006
QV_ERR_NO_DECODER = -10007
QV_ERR_NOT_OPEN = -10008
QV_ERR_NOT_SEEKABLE = -10009
QV_ERR_TIMEOUT = -10010
QV_ERR_NETWORK = -10011
QV_ERR_BUFFER_TOO_SMALL = -10012
QV_ERR_AUDIO_OPEN = -10100
QV_ERR_ARGUMENT = -10200
QV_ERR_ALREADY_OPEN = -10201
QV_ERR_NOT_FILE = -10202

QV_PICTURE_KEY = 1
QV_PICTURE_DAMAGED = 2
QV_PICTURE_DRAINED = 4

QV_NO_TIME = -(2**63)

QV_SEEK_ACCURATE = 0
QV_SEEK_KEY = 1
QV_SKIP_NONE = 0
QV_SKIP_NONREF = 1
QV_SKIP_NONKEY = 2


class PictureInfo(ctypes.Structure):
    _fields_ = [
        ("data", ctypes.c_void_p),
        ("size", ctypes.c_int),
        ("width", ctypes.c_int),
        ("height", ctypes.c_int),
        ("format", ctypes.c_int),
        ("flags", ctypes.c_int),
        ("time_us", ctypes.c_int64),
    ]


class Planes(ctypes.Structure):
    _fields_ = [
        ("data", ctypes.c_void_p * 4),
        ("linesize", ctypes.c_int * 4),
        ("width", ctypes.c_int),
        ("height", ctypes.c_int),
        ("format", ctypes.c_int),
        ("flags", ctypes.c_int),
        ("time_us", ctypes.c_int64),
        ("colour", ctypes.c_int),
    ]


class StreamInfo(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_int)
        for name in (
            "video_codec", "width", "height", "format", "frame_rate_num", "frame_rate_den",
            "bit_rate", "audio_codec", "sample_rate", "channels", "audio_bit_rate",
        )
    ]


class RawInfo(ctypes.Structure):
    _fields_ = [
        ("header_length", ctypes.c_int),
        ("timestamp_ms", ctypes.c_int64),
        ("key", ctypes.c_int),
        ("position", ctypes.c_int),
    ]


# void (*)(void* context, int level, const char* line)
LINE_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p)


def _candidates():
    """Places to look for the library, most specific first, each looked for only when the ones
    before it did not load (asking the system's loader cache runs ldconfig, even gcc)."""
    explicit = os.environ.get(ENV_VARIABLE)
    if explicit:
        # An explicit choice is the only one: silently loading another copy would hide mistakes.
        yield explicit
        return
    found = []
    # Installed into a prefix (pip install --prefix P beside cmake --install --prefix P): the
    # package sits somewhere under P/lib/..., the library in P/lib or P/lib/<multiarch>.
    multiarch = sysconfig.get_config_var("MULTIARCH") or ""
    here = os.path.dirname(os.path.abspath(__file__))
    folder = here
    for _ in range(6):
        folder = os.path.dirname(folder)
        for sub in ("lib", os.path.join("lib", multiarch) if multiarch else None, "lib64"):
            if sub:
                path = os.path.join(folder, sub, LIBRARY_NAME)
                if os.path.exists(path):
                    found.append(path)
    # make install's default prefix, whose lib folder the loader only knows after ldconfig,
    # and the interpreter's own prefix (a venv, a conda environment).
    for prefix in (sys.prefix, "/usr/local"):
        path = os.path.join(prefix, "lib", LIBRARY_NAME)
        if os.path.exists(path) and path not in found:
            found.append(path)
    # The system's loader path (ldconfig's cache, LD_LIBRARY_PATH).
    found.append(LIBRARY_NAME)
    yield from found
    import ctypes.util  # subprocess and more: only when it is asked

    system = ctypes.util.find_library("qvdecoder")
    if system:
        yield system


def _declare(lib):
    c_int, c_char_p, c_void_p = ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p
    handle = c_void_p
    int_p = ctypes.POINTER(c_int)
    signatures = {
        "qv_initialize": (None, []),
        "qv_decoder_new": (handle, []),
        "qv_decoder_free": (None, [handle]),
        "qv_close": (c_int, [handle]),
        "qv_set_param": (c_int, [handle, c_int, c_int, c_int]),
        "qv_set_encode_mode": (c_int, [handle, c_int]),
        "qv_set_stream_mode": (c_int, [handle, c_int]),
        "qv_set_output_mode": (c_int, [handle, c_int]),
        "qv_set_demux": (c_int, [handle, c_int]),
        "qv_set_latency_mode": (c_int, [handle, c_int]),
        "qv_set_threads": (c_int, [handle, c_int]),
        "qv_set_max_pixels": (c_int, [handle, ctypes.c_int64]),
        "qv_set_converter": (c_int, [handle, c_int]),
        "qv_set_fast_decode": (c_int, [handle, c_int]),
        "qv_video_planes": (c_int, [handle, ctypes.POINTER(Planes)]),
        "qv_open_video": (c_int, [handle, c_int, c_int, c_int, c_int]),
        "qv_open_audio": (c_int, [handle, c_int, c_int, c_int, c_int]),
        "qv_push_video": (c_int, [handle, c_char_p, c_int, c_int]),
        "qv_receive_video": (c_int, [handle]),
        "qv_flush_video": (c_int, [handle]),
        "qv_push_audio": (c_int, [handle, c_char_p, c_int]),
        "qv_picture": (c_int, [handle, ctypes.POINTER(PictureInfo)]),
        "qv_picture_into": (c_int, [handle, c_void_p, c_int, ctypes.POINTER(PictureInfo)]),
        "qv_audio": (c_int, [handle, ctypes.POINTER(c_void_p), int_p]),
        "qv_get_info": (c_int, [handle, ctypes.POINTER(StreamInfo)]),
        "qv_open_file": (c_int, [handle, c_char_p]),
        "qv_open_error": (c_char_p, [handle]),
        "qv_max_pixels": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_mask_password": (c_int, [c_char_p, c_char_p, c_int]),
        "qv_set_timeout": (c_int, [handle, c_int]),
        "qv_set_max_latency": (c_int, [handle, c_int]),
        "qv_skipped_pictures": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_set_network_option": (c_int, [handle, c_char_p, c_char_p]),
        "qv_interrupt": (c_int, [handle]),
        "qv_decode_frame": (c_int, [handle]),
        "qv_raw_frame": (c_int, [handle, c_void_p, c_int, ctypes.POINTER(RawInfo)]),
        "qv_raw_frame_size": (c_int, [handle]),
        "qv_set_ffmpeg_log": (None, [LINE_CALLBACK, c_void_p, c_int]),
        "qv_set_output": (c_int, [handle, c_int, c_int, c_int, c_int]),
        "qv_set_output_format": (c_int, [handle, c_int, c_int]),
        "qv_set_output_resolution": (c_int, [handle, c_int, c_int, c_int]),
        "qv_save_output_image": (c_int, [handle, c_char_p]),
        "qv_strerror": (c_char_p, [c_int]),
        "qv_seek": (c_int, [handle, ctypes.c_int64, c_int]),
        "qv_set_frame_skip": (c_int, [handle, c_int]),
        "qv_duration": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_start_time": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_select_streams": (c_int, [handle, c_int, c_int]),
        "qv_picture_wallclock": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_picture_delay": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_frame_count": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_video_bit_rate": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_audio_bit_rate": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_picture_time": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_frame_timestamp": (c_int, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "qv_picture_type": (c_int, [handle]),
        "qv_picture_aspect": (c_int, [handle, int_p, int_p]),
        "qv_picture_rotation": (c_int, [handle]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


def load():
    """The loaded library; OSError listing the places tried when there is none."""
    tried = []
    for candidate in _candidates():
        try:
            lib = ctypes.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate} ({error})")
            continue
        lib = _declare(lib)
        lib.qv_initialize()
        return lib
    raise OSError(
        f"libqvdecoder not found; set {ENV_VARIABLE} to the path of {LIBRARY_NAME}. Tried: "
        + "; ".join(tried)
    )


def library_path(lib):
    """The file the library was loaded from."""
    info = Dl_info()
    if _dladdr(ctypes.cast(lib.qv_strerror, ctypes.c_void_p), ctypes.byref(info)) and info.dli_fname:
        return os.path.realpath(info.dli_fname.decode())
    return lib._name


class Dl_info(ctypes.Structure):
    _fields_ = [
        ("dli_fname", ctypes.c_char_p),
        ("dli_fbase", ctypes.c_void_p),
        ("dli_sname", ctypes.c_char_p),
        ("dli_saddr", ctypes.c_void_p),
    ]


_dladdr = ctypes.CDLL(None).dladdr
_dladdr.argtypes = [ctypes.c_void_p, ctypes.POINTER(Dl_info)]
_dladdr.restype = ctypes.c_int
