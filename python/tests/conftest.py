import faulthandler
import os
import shutil
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


# No test waits longer than this (or its own `limit` mark): a wait that is never bounded (a
# timeout lost on its way to the library) ends the run with the stacks of every thread
# instead of hanging until ctest gives up. faulthandler's own thread does it, so it works
# while a library call blocks the test's thread.
TEST_LIMIT_SECONDS = 60
_stderr = None


def pytest_configure(config):
    global _stderr
    config.addinivalue_line("markers", "limit(seconds): the test's own watchdog limit")
    # Output capture is off here: this is the run's real standard error.
    _stderr = os.dup(2)


@pytest.fixture(autouse=True)
def watchdog(request):
    mark = request.node.get_closest_marker("limit")
    faulthandler.dump_traceback_later(mark.args[0] if mark else TEST_LIMIT_SECONDS, exit=True, file=_stderr)
    yield
    faulthandler.cancel_dump_traceback_later()


@pytest.fixture(scope="session")
def samples():
    return os.path.join(ROOT, "samples")


@pytest.fixture(scope="session")
def tool():
    """qvdecode, the C++ interface's own front end: the reference the bindings must match."""
    path = os.environ.get("QVDECODE") or shutil.which("qvdecode")
    if not path:
        pytest.skip("set QVDECODE to the qvdecode binary")
    return path


@pytest.fixture(scope="session")
def run_tool(tool):
    def run(*args):
        done = subprocess.run([tool, *args], capture_output=True, text=True, timeout=TEST_LIMIT_SECONDS)
        assert done.returncode == 0, done.stderr
        return done.stdout
    return run
