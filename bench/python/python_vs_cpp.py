"""The Python package against the C++ API: one 40 s 720p H.264 file (3 Mbit/s, a key frame every
2 s) decoded to BGR24 at its own size on one thread, every picture handed out (Python: a numpy
array of its own per picture, copy=True), in interleaved rounds; CPU time (user + system) of
each child process, medians. Usage:

    python3 bench/python/python_vs_cpp.py BUILD_DIR [ROUNDS]

BUILD_DIR holds libqvdecoder.so and bench/qv_decode_cpp (a Release build with QV_BUILD_BENCH).
The file is made with ffmpeg's command-line tool in a temporary folder."""

import os
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PYTHON_SIDE = "import sys, qvdecoder\nn = 0\nfor p in qvdecoder.open(sys.argv[1], threads=1):\n    n += 1\nprint(n)\n"


def cpu_seconds(args, env=None):
    """Runs a child to its end: its CPU time (user + system) and the words it printed."""
    child = subprocess.Popen(args, stdout=subprocess.PIPE, env=env)
    out = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit(f"{args[:3]} failed ({child.returncode})")
    return usage.ru_utime + usage.ru_stime, out.decode().split()


def make_clip(folder, *options):
    """The 40 s 720p H.264 recording (3 Mbit/s, a key frame every 2 s) in `folder`, with the
    encoder's further `options`."""
    clip = os.path.join(folder, "clip720.mp4")
    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=40",
                    "-c:v", "libx264", "-preset", "veryfast", "-b:v", "3M", "-g", "50", *options,
                    "-pix_fmt", "yuv420p", clip], check=True)
    return clip


def package_environment(build):
    """The environment in which children import this checkout's package and the build's library."""
    return dict(os.environ, QVDECODER_LIBRARY=os.path.join(build, "libqvdecoder.so"),
                PYTHONPATH=os.path.join(ROOT, "python"))


def main():
    build = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    with tempfile.TemporaryDirectory() as tmp:
        clip = make_clip(tmp)
        env = package_environment(build)
        sides = {"cpp": [os.path.join(build, "bench", "qv_decode_cpp"), clip],
                 "python": [sys.executable, "-c", PYTHON_SIDE, clip],
                 "python_imports": [sys.executable, "-c", "import qvdecoder, numpy\nprint(0)"]}
        times = {name: [] for name in sides}
        for r in range(rounds):
            order = list(sides) if r % 2 == 0 else list(reversed(sides))
            for name in order:
                seconds, words = cpu_seconds(sides[name], env)
                count = words[0]
                times[name].append(seconds)
                print(f"round {r + 1} {name}: {seconds:.3f} s CPU ({count} pictures)", flush=True)
        cpp = statistics.median(times["cpp"])
        python = statistics.median(times["python"])
        imports = statistics.median(times["python_imports"])
        print(f"median CPU: C++ {cpp:.3f} s, Python {python:.3f} s (interpreter and imports {imports:.3f} s)")
        print(f"Python / C++: {python / cpp:.3f} (target <= 1.08)")


if __name__ == "__main__":
    main()
