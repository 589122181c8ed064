#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets from real encoded streams made with the
ffmpeg command-line tool: H.264 frames, program-stream packs with audio, field pairs, and
small media files of each container that file mode opens."""
import os
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


if __name__ == "__main__":
    main()
