#!/usr/bin/env python3
"""CPU of serving the wall to a browser: `qvdecode wall` on N cameras of one GStreamer RTSP
server on loopback, run in turn without --http (B) and with --http and one headless Chromium
page showing it (A), A B A B. Each run's figure is the wall process's own user + system CPU
seconds (the operating system's accounting of the reaped child; the browser and the server
are not in it) and the pictures its totals count.

  bench/wall_http.py BUILD_DIR [--cameras 16] [--seconds 15] [--pairs 2] [--size 640x360]
                    [--client browser|fetch]
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

HERE = os.path.dirname(os.path.abspath(__file__))


def fetch_like_the_page(port, seconds):
    """What the page asks, without a browser: the mosaic when newer, at most 25 a second, and
    the figures twice a second. Returns the mosaics fetched."""
    end = time.monotonic() + seconds
    version, fetched, next_status = -1, 0, 0.0
    while time.monotonic() < end:
        start = time.monotonic()
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/wall.jpg?after={version}", timeout=5) as r:
            version = int(r.headers["X-Picture"])
            r.read()
        fetched += 1
        if start >= next_status:
            urllib.request.urlopen(f"http://127.0.0.1:{port}/status.json", timeout=5).read()
            next_status = start + 0.5
        time.sleep(max(0.0, 0.04 - (time.monotonic() - start)))
    return fetched


def run_wall(qvdecode, urls, seconds, http, browser):
    args = [qvdecode, "--json", "wall", *urls, "--duration", str(seconds), "-o",
            os.path.join(tempfile.gettempdir(), f"bench-wall-{os.getpid()}.png")]
    if http:
        args += ["--http", "0"]
    wall = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    driver = None
    drawn = 0
    if http:
        line = wall.stderr.readline()
        port = int(line.rsplit(":", 1)[1].strip("/\n"))
    if http and not browser:
        drawn = fetch_like_the_page(port, seconds - 1)
        print(f"  a client like the page fetched {drawn / (seconds - 1):.1f} mosaics/s", flush=True)
    if http and browser:
        options = webdriver.ChromeOptions()
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,900"):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.get(f"http://127.0.0.1:{port}/")
    if driver:
        time.sleep(seconds - 1)
        drawn = driver.execute_script("return window.wallPictures || 0")
    out = wall.stdout.read()
    _, status, usage = os.wait4(wall.pid, 0)
    if driver:
        driver.quit()
        print(f"  the page drew {drawn / (seconds - 1):.1f} mosaics/s", flush=True)
    pictures = sum(json.loads(l)["pictures"] for l in out.splitlines() if '"pictures"' in l)
    return usage.ru_utime + usage.ru_stime, pictures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--cameras", type=int, default=16)
    parser.add_argument("--seconds", type=int, default=15)
    parser.add_argument("--pairs", type=int, default=2)
    parser.add_argument("--size", default="640x360")
    parser.add_argument("--client", choices=["browser", "fetch"], default="browser",
                        help="the page in headless Chromium, or Python asking what the page asks")
    a = parser.parse_args()
    qvdecode = os.path.join(a.build, "tools/qvdecode/qvdecode")
    clip = os.path.join(tempfile.mkdtemp(prefix="qv-wall-bench-"), "cam.mkv")
    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", f"testsrc2=size={a.size}:rate=25",
                    "-t", str(a.seconds * 2 + 10), "-c:v", "libx264", "-g", "50", "-bf", "0", clip], check=True)
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "../tests/support/rtsp_server.py"), clip,
                               "h264", "0"], stdout=subprocess.PIPE, text=True, start_new_session=True)
    try:
        port = int(server.stdout.readline())
        urls = [f"rtsp://127.0.0.1:{port}/stream"] * a.cameras
        print(f"{a.cameras} cameras of {a.size} at 25 pictures/s, {a.seconds} s a run, 320x180 tiles")
        ratios = []
        for pair in range(a.pairs):
            cpu_a, pics_a = run_wall(qvdecode, urls, a.seconds, True, a.client == "browser")
            cpu_b, pics_b = run_wall(qvdecode, urls, a.seconds, False, False)
            per_a, per_b = cpu_a / max(pics_a, 1), cpu_b / max(pics_b, 1)
            ratios.append(per_a / per_b)
            print(f"pair {pair + 1}: --http + page {cpu_a:.2f} s CPU, {pics_a} pictures; "
                  f"without {cpu_b:.2f} s CPU, {pics_b} pictures; CPU per picture A/B {per_a / per_b:.3f}; "
                  f"CPU A/B {cpu_a / cpu_b:.3f}", flush=True)
        ratios.sort()
        print(f"median CPU per picture A/B: {ratios[len(ratios) // 2]:.3f}")
    finally:
        os.killpg(server.pid, signal.SIGKILL)


if __name__ == "__main__":
    sys.exit(main())
