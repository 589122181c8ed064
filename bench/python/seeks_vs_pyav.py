"""Accurate seeks from Python against PyAV: one 40 s 720p H.264 file (3 B-frames, a key frame
every 2 s, 3 Mbit/s), the same targets in the middle of groups of pictures, each followed by the
picture at or after the target as a BGR24 numpy array, one decoding thread on both sides. CPU
time (user + system) of each child process in interleaved rounds; the cost of a seek is the
child with all seeks less the child that only opens the file, medians. Both sides must return
pictures with the same times. Usage:

    /usr/bin/python3 bench/python/seeks_vs_pyav.py BUILD_DIR [ROUNDS]

BUILD_DIR holds libqvdecoder.so. Needs Debian's python3-av (PyAV) for the interpreter that runs
it; the file is made with ffmpeg's command-line tool in a temporary folder."""

import os
import statistics
import sys
import tempfile

from python_vs_cpp import cpu_seconds, make_clip, package_environment

SEEKS = 40
TARGETS = [0.9 + (i * 7 % SEEKS) * 38.0 / SEEKS for i in range(SEEKS)]  # back and forth

OURS = """import sys, qvdecoder
targets = [float(t) for t in sys.argv[2:]]
decoder = qvdecoder.open(sys.argv[1], threads=1)
times = []
for t in targets:
    decoder.seek(t)
    times.append(decoder.read().time)
print(" ".join("%.4f" % t for t in times) or "-")
"""

PYAV = """import sys, av
targets = [float(t) for t in sys.argv[2:]]
container = av.open(sys.argv[1])
stream = container.streams.video[0]
stream.codec_context.thread_count = 1
times = []
for t in targets:
    container.seek(int(t / stream.time_base), stream=stream, backward=True)
    for frame in container.decode(stream):
        if frame.time is not None and frame.time >= t - 1e-6:
            frame.to_ndarray(format="bgr24")
            times.append(frame.time)
            break
print(" ".join("%.4f" % t for t in times) or "-")
"""


def main():
    try:
        import av  # noqa: F401  (only to know the peer is there)
    except ImportError:
        print("seeks_vs_pyav: PyAV is not installed for this interpreter (Debian: python3-av); skipped")
        return
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    with tempfile.TemporaryDirectory() as tmp:
        clip = make_clip(tmp, "-bf", "3")
        env = package_environment(os.path.abspath(sys.argv[1]))
        targets = ["%.3f" % t for t in TARGETS]
        sides = {"qvdecoder": OURS, "pyav": PYAV}
        cost = {name: [] for name in sides}
        shown = {}
        for r in range(rounds):
            for name in (sides if r % 2 == 0 else reversed(list(sides))):
                code = sides[name]
                busy, times = cpu_seconds([sys.executable, "-c", code, clip] + targets, env)
                idle, _ = cpu_seconds([sys.executable, "-c", code, clip], env)
                cost[name].append((busy - idle) / SEEKS)
                shown[name] = times
                print(f"round {r + 1} {name}: {1000 * cost[name][-1]:.2f} ms CPU per seek", flush=True)
        if shown["qvdecoder"] != shown["pyav"]:
            raise SystemExit(f"the sides disagree on the pictures: {shown}")
        ours = statistics.median(cost["qvdecoder"])
        theirs = statistics.median(cost["pyav"])
        print(f"median CPU per accurate seek: qvdecoder {1000 * ours:.2f} ms, PyAV {1000 * theirs:.2f} ms; "
              f"PyAV / qvdecoder {theirs / ours:.2f} (same {len(shown['pyav'])} pictures)")


if __name__ == "__main__":
    main()
