#!/usr/bin/env bash
# Runs qvdecode on the bundled samples: PNG snapshots of the H.264 clip, the MPEG-2 program
# stream pushed through stream mode with demultiplexing, and the G.722 speech as a WAV file.
set -euo pipefail
build="${1:-build}"
root="$(cd "$(dirname "$0")/.." && pwd)"
tool="$build/tools/qvdecode/qvdecode"
out="$root/demo-out"
samples="$root/samples"

if [ ! -x "$tool" ]; then
  echo "demo: $tool not found; build first (make demo does)" >&2
  exit 1
fi
rm -rf "$out"
mkdir -p "$out"

echo "== qvdecode info samples/clip.mp4"
"$tool" info "$samples/clip.mp4"
echo
echo "== qvdecode decode samples/clip.mp4 --snapshots demo-out/clip --every 25"
"$tool" decode "$samples/clip.mp4" --snapshots "$out/clip" --every 25
echo
echo "== qvdecode push samples/clip.mpg --codec mpeg2 --size 320x240 --demux (snapshots as 160x120)"
"$tool" push "$samples/clip.mpg" --codec mpeg2 --size 320x240 --demux \
  --out-size 160x120 --snapshots "$out/pushed" --every 50
echo
echo "== qvdecode audio samples/speech.g722 -o demo-out/speech.wav --codec g722"
audio_status=0
"$tool" audio "$samples/speech.g722" -o "$out/speech.wav" --codec g722 --rate 16000 --bitrate 64000 \
  || audio_status=$?
echo
echo "Results in $out:"
echo "  clip/    PNG snapshots of the decoded H.264 clip (one per second)"
echo "  pushed/  PNG snapshots of the program stream pushed through stream mode, scaled to 160x120"
if [ "$audio_status" -eq 0 ]; then
  echo "  speech.wav  the G.722 speech sample as 16 kHz PCM"
else
  echo "  (the G.722 speech could not be decoded: exit code $audio_status)"
fi
