"""The archive example on a local Dask cluster of two worker processes: a dozen recordings made
by the media factory, one of them corrupt, each one's thumbnails next to it."""
import json
import os
import subprocess
import sys

import numpy
import pytest

import qvdecoder

from conftest import ROOT

EXAMPLE = os.path.join(ROOT, "python", "examples", "archive_thumbnails.py")


@pytest.mark.limit(300)  # a cluster of processes starting on a loaded machine; the run itself has 240 s
def test_archive_on_a_local_cluster(tmp_path, tool):
    pytest.importorskip("distributed")
    make_media = os.environ.get("QV_MAKE_MEDIA")
    if not make_media:
        pytest.skip("set QV_MAKE_MEDIA to the media factory's make_media")
    archive = tmp_path / "archive"
    for camera in ("cam1", "cam2"):
        (archive / camera).mkdir(parents=True)
    recordings = []
    for i in range(11):
        # 4 s at 25 pictures/s, a key frame every second; various containers and contents.
        path = archive / ("cam%d" % (1 + i % 2)) / ("rec%02d.%s" % (i, ("mp4", "mkv", "ts")[i % 3]))
        subprocess.run([make_media, str(path), "100", "25", str(i)], check=True, capture_output=True)
        recordings.append(path)
    corrupt = archive / "cam1" / "broken.mp4"
    corrupt.write_bytes(b"\x00\x00\x00\x18ftypmp42" + bytes(range(256)) * 40)

    done = subprocess.run([sys.executable, EXAMPLE, str(archive), "--workers", "2", "--every", "1",
                           "--size", "64x48"], capture_output=True, text=True, timeout=240)
    assert done.returncode == 1, done.stderr  # one recording failed, the run did not
    assert "12 recordings, 11 with thumbnails, 1 failed" in done.stdout, done.stdout
    assert ("FAILED %s:" % corrupt) in done.stdout
    assert "12/12 recordings, 1 failed" in done.stderr
    assert not (archive / "cam1" / "broken.mp4.thumbs").exists()
    for path in recordings:
        folder = str(path) + ".thumbs"
        index = json.load(open(os.path.join(folder, "index.json")))
        expected = qvdecoder.thumbnails(str(path), every=1.0, size=(64, 48))
        assert [t["time"] for t in index["thumbnails"]] == [t.time for t in expected]
        assert len(expected) == 5 and os.path.getsize(os.path.join(folder, "sheet.png")) > 0
    # The sheet is the tool's, time labels and all, pixel for pixel.
    sheet = str(tmp_path / "tool_sheet.png")
    subprocess.run([tool, "thumbs", str(recordings[0]), "-o", str(tmp_path / "tool"), "--every", "1", "--size",
                    "64x48", "--sheet", sheet], check=True, capture_output=True)
    ours, theirs = ([p.array for p in qvdecoder.open(path, format="rgb24")]
                    for path in (str(recordings[0]) + ".thumbs/sheet.png", sheet))
    assert len(ours) == len(theirs) == 1 and numpy.array_equal(ours[0], theirs[0])
