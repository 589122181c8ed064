import os
import shutil
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


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
        done = subprocess.run([tool, *args], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        return done.stdout
    return run
