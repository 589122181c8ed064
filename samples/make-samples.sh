#!/usr/bin/env bash
# Makes the small media files of the demo from synthetic sources. The results are kept in
# the repository, so the demo needs neither this script nor espeak-ng; run it again only to
# change the samples. Needs: ffmpeg (with libx264), espeak-ng.
set -euo pipefail
cd "$(dirname "$0")"

for tool in ffmpeg espeak-ng; do
  command -v "$tool" >/dev/null || { echo "make-samples: $tool is needed" >&2; exit 1; }
done
ff=(ffmpeg -hide_banner -loglevel error -y -bitexact)

# 1. clip.mp4: four seconds of the moving test picture with a 440 Hz tone, H.264 + AAC.
"${ff[@]}" -f lavfi -i "testsrc2=size=320x240:rate=25:duration=4" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=4" \
  -c:v libx264 -preset veryfast -crf 30 -g 25 -bf 0 -pix_fmt yuv420p \
  -x264-params "bframes=0" -c:a aac -b:a 48k -ac 1 -movflags +faststart \
  -map_metadata -1 clip.mp4

# 2. clip.mpg: the same picture as MPEG-2 video in an MPEG-2 program stream laid out as IP
#    cameras send it: one pack per picture, so each pushed pack holds a whole picture.
"${ff[@]}" -f lavfi -i "testsrc2=size=320x240:rate=25:duration=4" \
  -c:v mpeg2video -b:v 600k -g 12 -bf 0 -pix_fmt yuv420p -f mpeg2video clip.m2v
python3 - clip.m2v clip.mpg <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()

# Cut the elementary stream into pictures: a picture starts at a sequence header, a GOP
# header or a picture start code once the current piece already holds a picture.
starts, begin, has_picture, i = [], 0, False, 0
while True:
    i = data.find(b"\x00\x00\x01", i)
    if i < 0:
        break
    code = data[i + 3] if i + 3 < len(data) else -1
    if code in (0xB3, 0xB8, 0x00) and has_picture:
        starts.append((begin, i))
        begin, has_picture = i, False
    if code == 0x00:
        has_picture = True
    i += 3
starts.append((begin, len(data)))

def timestamp(prefix, t):  # 33-bit time stamp with marker bits, 5 bytes
    return bytes([(prefix << 4) | (((t >> 30) & 7) << 1) | 1, (t >> 22) & 0xFF,
                  (((t >> 15) & 0x7F) << 1) | 1, (t >> 7) & 0xFF, ((t & 0x7F) << 1) | 1])

def pack_header(scr):
    b = (1 << 46) | (((scr >> 30) & 7) << 43) | (1 << 42) | (((scr >> 15) & 0x7FFF) << 27) \
        | (1 << 26) | ((scr & 0x7FFF) << 11) | (1 << 10) | 1   # SCR, markers, SCR extension 0
    mux_rate = 25000  # in units of 50 bytes/s, generous
    return b"\x00\x00\x01\xba" + b.to_bytes(6, "big") + ((mux_rate << 2) | 3).to_bytes(3, "big") + b"\xf8"

out = bytearray()
for n, (a, b) in enumerate(starts):
    pts = 3600 + n * 3600  # 90 kHz clock, 25 pictures/s
    out += pack_header(n * 3600)
    frame, first = data[a:b], True
    while frame:
        piece, frame = frame[:60000], frame[60000:]
        header = b"\x84\x80\x05" + timestamp(2, pts) if first else b"\x80\x00\x00"
        out += b"\x00\x00\x01\xe0" + struct.pack(">H", len(header) + len(piece)) + header + piece
        first = False
out += b"\x00\x00\x01\xb9"
open(sys.argv[2], "wb").write(out)
PY
rm -f clip.m2v

# 3. speech.g722: a spoken sentence as G.722 code words at 64 kbit/s (16000 Hz), one byte
#    per code word, with no container.
espeak-ng -v en -s 150 -w speech.wav \
  "This is the Q V decoder demo. The speech you hear was coded with G seven two two."
"${ff[@]}" -i speech.wav -ar 16000 -ac 1 -c:a g722 -f g722 speech.g722
rm -f speech.wav

ls -l clip.mp4 clip.mpg speech.g722
