"""Time to the first picture of an RTSP camera, from a fresh process: Python's
``qvdecoder.Decoder(url).read()`` against ``gst-launch-1.0 rtspsrc latency=0 ! rtph264depay !
avdec_h264 ! fakesink``, each timed from the spawn of its process to the moment it reports its
first decoded picture (Python prints a line after ``read()``; gst-launch's verbose fakesink prints
one for its first buffer), in interleaved rounds; medians. Also Python's import of the package
alone. Usage:

    python3 bench/python/first_picture.py BUILD_DIR [ROUNDS [BEFORE]]

BEFORE, a folder holding another copy of the package (say, ``git archive`` of an older commit's
python folder), adds that copy as a side of its own (``python_before``), on the same library.

The camera is the test suite's GStreamer RTSP server (tests/support/rtsp_server.py) on
127.0.0.1 serving a 640x360 H.264 clip with a key frame every second, each client from the
clip's start (its first key frame), made with ffmpeg's command-line tool in a temporary folder."""

import os
import statistics
import subprocess
import sys
import tempfile
import time

from python_vs_cpp import ROOT, package_environment

PYTHON_SIDE = ("import sys, qvdecoder\n"
               "decoder = qvdecoder.Decoder(sys.argv[1], timeout=10)\n"
               "decoder.read()\n"
               "print('picture', flush=True)\n")
IMPORT_SIDE = "import qvdecoder\nprint('picture', flush=True)\n"


def seconds_to_line(args, marker, env=None, limit=20.0):
    """Spawns a child, waits for a line of its output holding `marker`, then ends it: the seconds
    from the spawn to that line."""
    start = time.monotonic()
    child = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    try:
        for line in child.stdout:
            if marker in line:
                return time.monotonic() - start
            if time.monotonic() - start > limit:
                break
        raise SystemExit(f"{args[0]}: no {marker!r} line")
    finally:
        child.kill()
        child.wait()


def main():
    build = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    with tempfile.TemporaryDirectory() as tmp:
        clip = os.path.join(tmp, "camera.mkv")
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=600",
                        "-c:v", "libx264", "-preset", "veryfast", "-b:v", "1M", "-g", "25", "-bf", "0",
                        "-pix_fmt", "yuv420p", clip], check=True)
        server = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests", "support", "rtsp_server.py"), clip,
                                   "h264"], stdout=subprocess.PIPE, text=True)
        try:
            url = f"rtsp://127.0.0.1:{server.stdout.readline().strip()}/stream"
            env = package_environment(build)
            sides = {
                "python": ([sys.executable, "-c", PYTHON_SIDE, url], b"picture", env),
                "gst-launch": (["gst-launch-1.0", "-v", "rtspsrc", f"location={url}", "latency=0", "protocols=tcp",
                                "!", "rtph264depay", "!", "avdec_h264", "!", "fakesink", "silent=false"],
                               b"chain", None),
                "python_import": ([sys.executable, "-c", IMPORT_SIDE], b"picture", env),
            }
            if len(sys.argv) > 3:
                before = dict(env, PYTHONPATH=os.path.abspath(sys.argv[3]))
                sides["python_before"] = ([sys.executable, "-c", PYTHON_SIDE, url], b"picture", before)
            times = {name: [] for name in sides}
            for r in range(rounds):
                for name in (list(sides) if r % 2 == 0 else list(reversed(sides))):
                    args, marker, side_env = sides[name]
                    times[name].append(seconds_to_line(args, marker, side_env))
        finally:
            server.kill()
            server.wait()
    for name, values in times.items():
        print(f"{name:14s} median {1000 * statistics.median(values):7.1f} ms  "
              f"(min {1000 * min(values):.1f}, max {1000 * max(values):.1f}, {len(values)} runs)")
    print(f"python / gst-launch: {statistics.median(times['python']) / statistics.median(times['gst-launch']):.3f}")


if __name__ == "__main__":
    main()
