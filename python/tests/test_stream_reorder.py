# Stream mode on a stream with B-pictures: the receive loop and the flush give every picture.
import os
import shutil
import subprocess

import numpy
import pytest

import qvdecoder

FRAMES = 30


@pytest.fixture(scope="module")
def bframes(tmp_path_factory):
    ffmpeg = shutil.which("ffmpeg")
    if not ffmpeg:
        pytest.skip("the ffmpeg command makes the B-picture clip")
    path = str(tmp_path_factory.mktemp("reorder") / "bframes.mp4")
    subprocess.run([ffmpeg, "-v", "error", "-f", "lavfi", "-i", "testsrc=size=176x144:rate=25",
                    "-frames:v", str(FRAMES), "-c:v", "libx264", "-bf", "3", "-g", "12",
                    "-pix_fmt", "yuv420p", path], check=True)
    return path


@pytest.mark.parametrize("threads", [1, 2])
def test_complete_latency_gives_every_picture_then_starts_afresh(bframes, threads):
    expected = list(qvdecoder.open(bframes, format=None))
    assert len(expected) == FRAMES
    packets = list(qvdecoder.extract(bframes))
    with qvdecoder.StreamDecoder("h264", format=None, latency="complete", threads=threads) as decoder:
        for _ in range(2):  # after a flush the decoder takes the stream again from its start
            pushed = [picture for p in packets for picture in decoder.push(p.data)]
            tail = decoder.flush()
            assert tail and all(p.drained for p in tail)
            assert not any(p.drained for p in pushed)
            got = pushed + tail
            assert len(got) == FRAMES
            assert got[0].key
            assert all(numpy.array_equal(a.data, b.data) for a, b in zip(got, expected))
