#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets from real encoded streams made with the
ffmpeg command-line tool: H.264 frames, program-stream packs with audio, field pairs, and
small media files of each container that file mode opens. Also writes api_streams.inc, the
small streams api_fuzzer pushes frame by frame, and api_fuzzer's seed programs."""
import os
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", *args], check=True)


def encode_h264(path, size="96x64", frames=4, gop=2, extra=()):
    ffmpeg("-f", "lavfi", "-i", f"testsrc=size={size}:rate=5", "-frames:v", str(frames),
           "-c:v", "libx264", "-g", str(gop), "-bf", "0", "-tune", "zerolatency", *extra,
           "-f", "h264", path)
    return open(path, "rb").read()


def split_access_units(stream):
    """Cuts an x264 stream before each SPS or non-IDR slice that starts a picture."""
    cuts = [0]
    i = 4
    while True:
        i = stream.find(b"\x00\x00\x00\x01", i)
        if i < 0:
            break
        kind = stream[i + 4] & 0x1F
        if kind in (7, 1) and i > cuts[-1]:
            cuts.append(i)
        i += 4
    cuts.append(len(stream))
    return [stream[a:b] for a, b in zip(cuts, cuts[1:]) if b > a]


def start_codes(stream):
    """Offsets of the 00 00 01 start codes, each taken with a zero byte in front when that byte
    is not the code byte of the unit before (MPEG-4's video object code is 00)."""
    found = []
    i = stream.find(b"\x00\x00\x01")
    while i >= 0:
        zero_in_front = i > 0 and stream[i - 1] == 0 and (not found or i - 1 > found[-1] + 3)
        found.append(i - 1 if zero_in_front else i)
        i = stream.find(b"\x00\x00\x01", i + 3)
    return found


def split_frames(stream, kind):
    """Cuts an elementary stream into frames: each holds the headers in front of it and one
    picture. SEI units (x264's and x265's settings text) are dropped to keep frames small."""
    offsets = start_codes(stream) + [len(stream)]
    frames, current, has_picture = [], b"", False
    for a, b in zip(offsets, offsets[1:]):
        unit = stream[a:b]
        code = unit[unit.find(b"\x00\x00\x01") + 3:]
        if kind == "h264":
            nal = code[0] & 0x1F
            if nal == 6:
                continue
            picture, header = nal in (1, 5) and code[1] & 0x80, nal in (7, 8, 9)
        elif kind == "hevc":
            nal = (code[0] >> 1) & 0x3F
            if nal in (39, 40):
                continue
            picture, header = nal < 32 and code[2] & 0x80, nal in (32, 33, 34, 35)
        elif kind == "mpeg2":
            picture, header = code[0] == 0x00, code[0] in (0xB3, 0xB8)
        else:  # mpeg4
            picture, header = code[0] == 0xB6, code[0] in (0xB0, 0xB5) or code[0] < 0x30
        if (picture or header) and has_picture:
            frames.append(current)
            current, has_picture = b"", False
        current += unit
        has_picture = has_picture or bool(picture)
    if current:
        frames.append(current)
    return frames


# api_fuzzer's streams: name, codec constant, size, frames, encoder arguments, splitter.
API_STREAMS = [
    ("h264_64x48", "CODEC_ID_H264", "64x48", 8, "h264",
     ["-c:v", "libx264", "-g", "4", "-bf", "0", "-tune", "zerolatency", "-crf", "38", "-f", "h264"]),
    # B-frames: pictures come out of order and late.
    ("h264_96x64_bframes", "CODEC_ID_H264", "96x64", 6, "h264",
     ["-c:v", "libx264", "-g", "6", "-bf", "2", "-x264-params", "b-pyramid=0", "-crf", "38", "-f", "h264"]),
    # Key frames of half height: two of them make one field-coded frame.
    ("h264_fields_64x24", "CODEC_ID_H264", "64x24", 4, "h264",
     ["-c:v", "libx264", "-g", "1", "-bf", "0", "-tune", "zerolatency", "-crf", "38", "-f", "h264"]),
    ("mpeg2_64x48", "CODEC_ID_MPEG2VIDEO", "64x48", 4, "mpeg2",
     ["-c:v", "mpeg2video", "-g", "2", "-bf", "0", "-q:v", "10", "-f", "mpeg2video"]),
    ("mpeg4_64x48", "CODEC_ID_MPEG4", "64x48", 4, "mpeg4",
     ["-c:v", "mpeg4", "-g", "2", "-bf", "0", "-q:v", "10", "-f", "m4v"]),
    ("hevc_64x48", "CODEC_ID_QV_HEVC", "64x48", 3, "hevc",
     ["-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error:info=0", "-crf", "38",
      "-f", "hevc"]),
]


def write_api_streams(tmp):
    """Writes fuzz/api_streams.inc: each stream's bytes with the end offset of every frame."""
    lines = ["// Written by fuzz/make_corpus.py from streams encoded with the ffmpeg command-line tool:",
             "// small real frames for api_fuzzer to push. Do not edit; run the script again.",
             ""]
    table = []
    for n, (name, codec, size, count, kind, args) in enumerate(API_STREAMS):
        path = os.path.join(tmp, f"api{n}")
        ffmpeg("-f", "lavfi", "-i", f"testsrc=size={size}:rate=5", "-frames:v", str(count), "-pix_fmt", "yuv420p",
               *args, path)
        frames = split_frames(open(path, "rb").read(), kind)
        assert len(frames) == count, (name, len(frames))
        data = b"".join(frames)
        ends = [sum(len(f) for f in frames[:k + 1]) for k in range(len(frames))]
        lines.append(f"static const unsigned char kStream{n}[] = {{")
        for i in range(0, len(data), 20):
            lines.append("    " + ", ".join(str(b) for b in data[i:i + 20]) + ",")
        lines.append("};")
        lines.append(f"static const int kStream{n}Ends[] = {{{', '.join(map(str, ends))}}};")
        width, height = size.split("x")
        table.append(f'    {{"{name}", {codec}, {width}, {height}, kStream{n}, kStream{n}Ends, {count}}},')
    lines.append("")
    lines.append("static const EmbeddedStream kStreams[] = {")
    lines.extend(table)
    lines.append("};")
    with open(os.path.join(HERE, "api_streams.inc"), "w") as f:
        f.write("\n".join(lines) + "\n")


# api_fuzzer's calls, in the order of its Op enumeration, with the argument bytes each reads.
API_OPS = ["set_param", "set_encode_mode", "set_stream_mode", "set_output_mode", "set_demux", "set_latency",
           "set_threads", "set_max_pixels", "open_video", "open_audio", "open_combined", "push_bytes",
           "push_frames", "receive", "flush", "set_output", "set_output_format", "set_output_resolution",
           "set_picture_param", "save_current", "save_output", "save_picture", "query", "decode_audio", "close",
           "move_construct", "move_assign", "recreate", "file_open", "file_decode", "file_raw", "register_log",
           "interrupt"]
# Indexes into api_fuzzer's argument tables.
H264, MPEG2, MPEG4, HEVC = 0, 1, 2, 3                  # video codecs
G722, G7221, FFMPEG_G722, PCM_MULAW = 0, 1, 2, 3       # audio codecs
A16K_64K, A8K_64K, A16K_24K = 0, 1, 2                  # audio parameters
P64X48, P96X64, P64X24 = 0, 1, 2                      # picture sizes
O_FOLLOW, O64X48, O32X24, O128X96 = 0, 1, 2, 3         # output sizes
YUV420P, BGR24, RGB24, YUYV422, GRAY8, RGBA = 0, 1, 2, 3, 4, 5   # pixel formats
S_H264, S_BFRAMES, S_FIELDS, S_MPEG2, S_MPEG4, S_HEVC = range(6)  # embedded streams
PUSH_REPACK, PUSH_PACK, PUSH_RECEIVE, PUSH_SPLIT, PUSH_CORRUPT = 1, 2, 4, 8, 16


def call(name, *args, obj=0):
    """One call of an api_fuzzer program: bytes args are blobs (16-bit length first), ints bytes."""
    out = bytes([API_OPS.index(name) | (obj << 7)])
    for arg in args:
        out += struct.pack("<H", len(arg)) + arg if isinstance(arg, bytes) else bytes([arg])
    return out


def push_frames(stream, first, per_push, pushes, flags=0, cut=128, obj=0):
    return call("push_frames", stream, first, per_push - 1, pushes - 1, flags, cut, 0, 0, 0, obj=obj)


def write_api_seeds(tmp, mp4, g722):
    """Hand-written programs that reach real pictures in each mode, output changes, file mode
    and moves between the two objects."""
    seeds = {
        # Frames with output changes in the middle, snapshots, the end-of-stream flush.
        "h264_output_changes": b"".join([
            call("open_video", H264, P64X48, YUV420P),
            push_frames(S_H264, 0, 1, 3, PUSH_RECEIVE),
            call("set_output", O32X24, BGR24, 0),
            push_frames(S_H264, 3, 1, 2, PUSH_RECEIVE),
            call("set_output_resolution", O128X96, 1),
            call("set_output_format", RGBA, 0),
            push_frames(S_H264, 5, 1, 3, PUSH_RECEIVE | PUSH_REPACK),
            call("query"), call("save_output", 2), call("save_current", 2),
            call("save_picture", 16, 12, YUV420P, 1, 2),
            call("flush", 1),
        ]),
        # Every picture taken with two frame threads, B-frames, drain; then a new stream.
        "h264_complete_threads": b"".join([
            call("set_latency", 1), call("set_threads", 1),
            call("open_video", H264, P96X64, YUV420P),
            push_frames(S_BFRAMES, 0, 1, 6, PUSH_RECEIVE),
            call("flush", 1),
            call("set_output_resolution", O64X48, 0),
            push_frames(S_BFRAMES, 0, 1, 6, PUSH_RECEIVE),
            call("flush", 1), call("query"),
        ]),
        # Two key frames of half height pushed together as one field-coded frame.
        "h264_fields": b"".join([
            call("set_encode_mode", 1),
            call("open_video", H264, P64X24, YUV420P),
            push_frames(S_FIELDS, 0, 2, 2),
            call("query"), call("save_current", 2),
            call("set_output", O32X24, BGR24, 0),
            push_frames(S_FIELDS, 2, 2, 1), call("save_output", 3),
        ]),
        # Frames in program-stream packs through the demultiplexer, and cut into chunks.
        "h264_packs_chunks": b"".join([
            call("set_demux", 1),
            call("open_video", H264, P64X48, YUV420P),
            push_frames(S_H264, 0, 1, 4, PUSH_PACK | PUSH_RECEIVE),
            call("set_stream_mode", 1, obj=1),
            call("open_video", H264, P64X48, YUV420P, obj=1),
            push_frames(S_H264, 0, 2, 4, PUSH_SPLIT | PUSH_RECEIVE, cut=100, obj=1),
            call("flush", 1, obj=1),
        ]),
        # The other video families, and video with G.722 audio in one open.
        "mpeg2_mpeg4_hevc_g722": b"".join([
            call("open_video", MPEG2, P64X48, YUV420P),
            push_frames(S_MPEG2, 0, 1, 4, PUSH_RECEIVE),
            call("open_combined", MPEG4, P64X48, YUV420P, G722, A16K_64K, obj=1),
            push_frames(S_MPEG4, 0, 1, 4, PUSH_RECEIVE, obj=1),
            call("decode_audio", g722, obj=1),
            call("close"),
            call("open_video", HEVC, P64X48, YUV420P),
            call("set_output", O32X24, RGB24, 1),
            push_frames(S_HEVC, 0, 1, 3, PUSH_RECEIVE),
            call("flush", 1),
        ]),
        # Moves between the two objects in the middle of a stream.
        "moves": b"".join([
            call("open_video", H264, P64X48, YUV420P),
            push_frames(S_H264, 0, 1, 2),
            call("move_assign", 0, obj=1),
            push_frames(S_H264, 2, 1, 2, obj=1),
            call("move_construct", 0),
            push_frames(S_H264, 4, 1, 2),
            call("close"),
            call("open_video", H264, P64X48, YUV420P),
            push_frames(S_H264, 0, 1, 2),
            call("recreate", 1, O32X24, BGR24, obj=1),
            call("open_video", H264, P64X48, YUV420P, obj=1),
            push_frames(S_H264, 0, 1, 2, obj=1),
        ]),
        # Picture parameters changed behind the decoder, audio alone.
        "picture_param_audio": b"".join([
            call("open_video", H264, P64X48, YUV420P),
            push_frames(S_H264, 0, 1, 1),
            call("set_picture_param", P96X64, YUV420P),
            push_frames(S_BFRAMES, 0, 1, 2, PUSH_RECEIVE),
            call("save_current", 2),
            call("open_audio", G722, A16K_64K, obj=1), call("decode_audio", g722, obj=1),
            call("open_audio", PCM_MULAW, A8K_64K, obj=1), call("decode_audio", g722[:160], obj=1),
        ]),
        # File mode: an elementary stream and an mp4 with audio, raw packets, after a stream.
        "file_mode": b"".join([
            call("file_open", 1, 1, S_BFRAMES, b""),
            call("file_decode", 31),
            call("set_output_resolution", O32X24, 0, obj=1),
            call("file_open", 0, 2, 0, mp4, obj=1),
            call("file_decode", 4, obj=1),
            call("file_raw", 2, 1, obj=1),
            call("file_decode", 31, obj=1),
            call("close"),
            call("open_video", H264, P64X48, YUV420P),
            push_frames(S_H264, 0, 1, 2),
            call("close"),
            call("file_open", 1, 0, S_H264, b""),
            call("file_raw", 3, 0), call("file_decode", 8),
        ]),
        # Seeks back and forth in an elementary stream and an mp4 with audio, key frames only,
        # with threads, past the end and before the start.
        "file_seek": b"".join([
            call("set_threads", 0),
            call("file_open", 1, 1, S_BFRAMES, b""),
            call("file_decode", 0x80 | 4, 0, 3),           # accurate, 0.3 s
            call("file_decode", 0xC0 | 2, 0, 1),           # key frame at or before 0.1 s
            call("file_decode", 0xA0 | 8, 2, 0, 0),        # key frames only, from the start
            call("file_decode", 0xA0 | 4, 0, 0xFF, 0xFF),  # every picture again, from -0.1 s
            call("file_decode", 0x80 | 2, 0x7F, 0xFF),     # far past the end
            call("file_open", 0, 2, 0, mp4, obj=1),
            call("file_decode", 0x80 | 8, 0, 20, obj=1),
            call("file_decode", 0xE0 | 4, 1, 0, 5, obj=1),
            call("file_raw", 2, 1, obj=1),
        ]),
        # Picture-size limits under and over the streams' sizes, in stream and file mode.
        "picture_limits": b"".join([
            call("set_max_pixels", 0),                      # 64x48: the small stream passes
            call("open_video", H264, P64X48, YUV420P),
            push_frames(S_H264, 0, 1, 2, PUSH_RECEIVE),
            push_frames(S_BFRAMES, 0, 1, 3, PUSH_RECEIVE),  # 96x64: over the limit
            call("set_max_pixels", 1),                      # one pixel less: next open
            call("close"), call("open_video", H264, P64X48, YUV420P),
            push_frames(S_H264, 0, 1, 2),
            call("set_max_pixels", 1, obj=1),               # the 96x64 file is refused
            call("file_open", 1, 1, S_BFRAMES, b"", obj=1), call("file_decode", 8, obj=1),
            call("set_max_pixels", 2, obj=1),               # exactly 96x64
            call("file_open", 1, 1, S_BFRAMES, b"", obj=1), call("file_decode", 8, obj=1),
            call("close", obj=1),
            call("set_max_pixels", 9, obj=1),               # INT64_MAX: no limit at all
            call("file_open", 1, 1, S_H264, b"", obj=1), call("file_decode", 2, obj=1),
            call("close", obj=1),
            call("set_max_pixels", 6, obj=1),               # back to the default
            call("file_open", 1, 1, S_BFRAMES, b"", obj=1), call("file_decode", 8, obj=1),
        ]),
        # Settings that once left a reported picture missing: field mode left on for file mode,
        # output sizes that are negative, too large for the scaler or left open by QVSetOutput;
        # an output format the threaded scaler cannot make.
        "output_edge_cases": b"".join([
            call("set_threads", 1),
            call("open_video", H264, P64X48, YUV420P),
            push_frames(S_H264, 0, 1, 1),
            call("set_output_format", 16, 0),              # PIX_FMT_PAL8
            push_frames(S_H264, 1, 1, 1),
            call("close"),
            call("set_threads", 0),
            call("set_encode_mode", 1),
            call("file_open", 1, 1, S_H264, b""), call("file_decode", 4),
            call("open_video", H264, P64X48, YUV420P, obj=1),
            call("set_output_resolution", 4, 0, obj=1),    # -4 x 10
            push_frames(S_H264, 0, 1, 1, obj=1),
            call("set_output_resolution", 14, 0, obj=1),   # 65536 x 65536
            push_frames(S_H264, 1, 1, 1, obj=1),
            call("set_output", O_FOLLOW, BGR24, 0, obj=1),
            push_frames(S_H264, 2, 1, 1, obj=1),
            call("set_output", O32X24, 15, 0, obj=1),      # PIX_FMT_NONE
            push_frames(S_H264, 3, 1, 1, obj=1),
            call("recreate", 1, 5, BGR24, obj=1),          # output 10 x -4 from the constructor
            call("open_video", H264, P64X48, YUV420P, obj=1),
            push_frames(S_H264, 0, 1, 1, obj=1),
        ]),
        # Interrupts made while nothing waits, before seeks, decodes, raw reads and opens:
        # each ends one call, the next goes on.
        "interrupts": interrupt_seed(mp4),
    }
    for name, program in seeds.items():
        write("api_fuzzer", name, program)


def interrupt_seed(mp4):
    return b"".join([
        call("file_open", 0, 2, 0, mp4),
        call("interrupt"), call("file_decode", 0x80 | 8, 0, 10),   # accurate seek to 1 s
        call("interrupt"), call("file_decode", 4),
        call("interrupt"), call("file_raw", 2, 1),
        call("interrupt"), call("file_decode", 0xC0 | 4, 0, 2),   # key frame at or before 0.2 s
        call("file_open", 1, 1, S_BFRAMES, b"", obj=1),
        call("interrupt", obj=1), call("file_decode", 0x80 | 8, 0, 5, obj=1),
        call("interrupt", obj=1), call("file_raw", 3, 0, obj=1),
        call("close", obj=1), call("interrupt", obj=1),
        call("file_open", 1, 1, S_H264, b"", obj=1), call("file_decode", 4, obj=1),
    ])


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    with tempfile.TemporaryDirectory() as tmp:
        stream = encode_h264(os.path.join(tmp, "a.h264"))
        frames = split_access_units(stream)
        for n, frame in enumerate(frames[:3]):
            write("repack_fuzzer", f"frame{n}", frame)

        vob = os.path.join(tmp, "a.vob")
        ffmpeg("-f", "lavfi", "-i", "testsrc=size=96x64:rate=5", "-f", "lavfi", "-i",
               "sine=frequency=440:sample_rate=16000", "-frames:v", "3", "-t", "0.6",
               "-c:v", "libx264", "-bf", "0", "-c:a", "mp2", "-ar", "16000", "-f", "vob", vob)
        ps = open(vob, "rb").read()
        packs = [b"\x00\x00\x01\xba" + p for p in ps.split(b"\x00\x00\x01\xba") if p]
        for n, pack in enumerate(packs[:3]):
            write("demux_fuzzer", f"pack{n}", pack)

        fields = split_access_units(encode_h264(os.path.join(tmp, "f.h264"), size="96x32", frames=2, gop=1))
        pair = fields[0] + fields[1]
        write("field_split_fuzzer", "pair", pair)

        # decode_fuzzer: a mode byte (bit 0 demux, 1 field, 2 chunks, 3 repack, 4 output;
        # bits 5-6 codec: 0 H.264), then pieces separated by "QVCUT".
        write("decode_fuzzer", "h264_frames", bytes([0x08]) + b"QVCUT".join(frames[:3]))
        write("decode_fuzzer", "h264_packs", bytes([0x01]) + b"QVCUT".join(packs[:3]))
        write("decode_fuzzer", "h264_fields", bytes([0x1A]) + pair)
        # The field pair inside one video PES packet (header data length 1: a stuffing byte)
        # behind the pack header of a real pack.
        pes = b"\x00\x00\x01\xe0" + (len(pair) + 4).to_bytes(2, "big") + b"\x84\x00\x01\xff" + pair
        field_pack = packs[0][:14] + pes
        write("decode_fuzzer", "h264_field_pack", bytes([0x0B]) + field_pack)
        # Chunked input: the stream cut every 300 bytes, and packs with demux on.
        cut = [stream[i:i + 300] for i in range(0, len(stream), 300)]
        write("decode_fuzzer", "h264_chunks", bytes([0x04]) + b"QVCUT".join(cut))
        write("decode_fuzzer", "h264_pack_chunks", bytes([0x05]) + b"QVCUT".join(packs))

        # file_fuzzer: a mode byte (bit 0 raw extraction, bit 1 output conversion, bits 2-3
        # raw buffer size), then the file.
        sources = ["-f", "lavfi", "-i", "testsrc=size=96x64:rate=5", "-f", "lavfi", "-i",
                   "sine=frequency=440:sample_rate=8000", "-frames:v", "4", "-t", "0.8"]
        files = [
            ("h264_aac.mp4", 0x05, ["-c:v", "libx264", "-bf", "0", "-c:a", "aac", "-b:a", "16k"]),
            ("mpeg4_pcm.avi", 0x09, ["-c:v", "mpeg4", "-c:a", "pcm_s16le"]),
            ("flv1_adpcm.flv", 0x03, ["-c:v", "flv", "-c:a", "adpcm_swf", "-ar", "11025"]),
            ("mpeg1_mp2.mpg", 0x0D, ["-r", "25", "-c:v", "mpeg1video", "-c:a", "mp2", "-ar", "16000", "-f", "mpeg"]),
            # HEVC behind an hvcC record (mp4, Matroska) and H.264 behind avcC in Matroska.
            ("hevc_aac.mp4", 0x05, ["-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error",
                                    "-c:a", "aac", "-b:a", "16k"]),
            ("hevc.mkv", 0x09, ["-an", "-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error"]),
            ("h264_mp3.mkv", 0x05, ["-c:v", "libx264", "-bf", "0", "-c:a", "libmp3lame", "-b:a", "16k"]),
        ]
        for name, mode, codecs in files:
            path = os.path.join(tmp, name)
            ffmpeg(*sources, *codecs, path)
            write("file_fuzzer", name.replace(".", "_"), bytes([mode]) + open(path, "rb").read())

        write_api_streams(tmp)
        g722 = os.path.join(tmp, "a.g722")
        ffmpeg("-f", "lavfi", "-i", "sine=frequency=440:sample_rate=16000", "-t", "0.1", "-c:a", "g722",
               "-f", "g722", g722)
        write_api_seeds(tmp, open(os.path.join(tmp, "h264_aac.mp4"), "rb").read(), open(g722, "rb").read())


if __name__ == "__main__":
    main()
