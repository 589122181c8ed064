"""What the wall scripts share: their children (RTSP servers, the wall, a browser) in process
groups of their own, a watchdog that kills them, scratch folders, and the clean-up at the end."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

RTSP_SERVER = os.environ["QV_RTSP_SERVER"]

children = []
scratch = []  # folders to remove at the end


def kill_all():
    for proc in children:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except (OSError, AttributeError):
            pass


def start_watchdog(seconds):
    def fire():
        print(f"FAILED: watchdog: the test did not end within {seconds} s", flush=True)
        kill_all()
        os._exit(1)

    timer = threading.Timer(seconds, fire)
    timer.daemon = True
    timer.start()


def scratch_folder():
    work = tempfile.mkdtemp(prefix="qv-wall-")
    scratch.append(work)
    return work


def spawn(args, **kwargs):
    proc = subprocess.Popen(args, start_new_session=True, **kwargs)
    children.append(proc)
    return proc


def stop(proc, sig=signal.SIGKILL):
    if proc.poll() is None:
        os.killpg(proc.pid, sig)
    proc.wait()


def serve(path, port=0):
    """An RTSP server of the file; returns (process, port)."""
    proc = spawn([sys.executable, RTSP_SERVER, path, "h264", str(port)], stdout=subprocess.PIPE, text=True)
    return proc, int(proc.stdout.readline())


def run(main):
    """Runs the test, then kills what it left running and removes its folders."""
    try:
        main()
    finally:
        kill_all()
        for path in scratch:
            shutil.rmtree(path, ignore_errors=True)
