import gc
import os
import re
import shutil
import subprocess
import sys

import numpy
import pytest

import qvdecoder

from conftest import ROOT


@pytest.mark.parametrize("format, size, shape, converter", [
    (None, None, [(240, 320), (120, 160), (120, 160)], "auto"),   # the decoder's own yuv420p
    ("bgr24", (160, 120), [(120, 160, 3)], "auto"),
    ("bgr24", (160, 120), [(120, 160, 3)], "swscale"),
    ("gray", (100, 75), [(75, 100)], "auto"),                       # odd height, one plane
    ("nv12", (90, 64), [(64, 90), (32, 45, 2)], "auto"),
])
def test_file_pictures_equal_the_tool_byte_for_byte(samples, run_tool, tmp_path, format, size, shape, converter):
    clip = os.path.join(samples, "clip.mp4")
    args = ["decode", clip, "--raw", str(tmp_path / "raw"), "--converter", converter]
    if format:
        args += ["--format", format]
    if size:
        args += ["--size", "%dx%d" % size]
    run_tool(*args)
    pictures = list(qvdecoder.open(clip, format=format, size=size, converter=converter))
    assert len(pictures) == 100
    joined = numpy.concatenate([p.data for p in pictures])
    assert joined.tobytes() == (tmp_path / "raw").read_bytes()
    arrays = pictures[0].array if isinstance(pictures[0].array, tuple) else (pictures[0].array,)
    assert [a.shape for a in arrays] == shape
    assert pictures[0].format == (format or "yuv420p")
    times = [p.time_us for p in pictures]
    assert times[0] == 0 and times[-1] == 3960000 and times == sorted(set(times))


def test_extracted_frames_pushed_give_the_file_pictures(samples, run_tool, tmp_path):
    clip = os.path.join(samples, "clip.mp4")
    packets = list(qvdecoder.extract(clip))
    run_tool("extract", clip, "-o", str(tmp_path / "x.h264"))
    assert b"".join(p.data for p in packets) == (tmp_path / "x.h264").read_bytes()
    assert [p.time_ms for p in packets] == [40 * i for i in range(100)]
    assert [i for i, p in enumerate(packets) if p.key] == [0, 25, 50, 75]

    with qvdecoder.StreamDecoder("h264", format=None) as decoder:
        pushed = [picture for p in packets for picture in decoder.push(p.data)]
        pushed += decoder.flush()
    expected = list(qvdecoder.open(clip, format=None))
    assert len(pushed) == len(expected) == 100
    assert all(p.time is None for p in pushed)
    assert all(numpy.array_equal(a.data, b.data) for a, b in zip(pushed, expected))


def test_g722_equals_the_tool(samples, run_tool, tmp_path):
    speech = os.path.join(samples, "speech.g722")
    run_tool("audio", speech, "-o", str(tmp_path / "s.wav"), "--codec", "g722")
    pcm = qvdecoder.decode_g722(open(speech, "rb").read())
    wav = numpy.frombuffer((tmp_path / "s.wav").read_bytes()[44:], dtype="<i2")
    assert pcm.dtype == numpy.int16
    assert len(pcm) == os.path.getsize(speech) * 2  # 16000 samples a second from 8000 bytes
    assert numpy.array_equal(pcm, wav)


def test_errors_carry_the_code_and_message(samples, tmp_path):
    with pytest.raises(qvdecoder.QVError) as caught:
        qvdecoder.open(str(tmp_path / "missing.mp4"))
    assert caught.value.code == -10001
    assert caught.value.message and caught.value.message in str(caught.value)
    with pytest.raises(qvdecoder.QVError) as caught:
        qvdecoder.decode_g722(b"\0" * 160, rate=12345)
    assert caught.value.code < 0
    with pytest.raises(qvdecoder.QVError) as caught:
        qvdecoder.open(os.path.join(samples, "clip.mp4"), max_pixels=320 * 240 - 1)
    assert caught.value.code == -10005

    decoder = qvdecoder.StreamDecoder("h264")
    assert decoder.push(b"\0\0\0\1\x09") == []   # no picture yet is no error
    decoder.close()
    with pytest.raises(qvdecoder.QVError) as caught:
        decoder.push(b"\0\0\0\1")
    assert caught.value.code == -10008

    for bad in (lambda: qvdecoder.StreamDecoder("h265"),
                lambda: qvdecoder.StreamDecoder("h264", latency="fast"),
                lambda: qvdecoder.open(os.path.join(samples, "clip.mp4"), format="purple")):
        with pytest.raises(ValueError):
            bad()


def test_dropped_iterators_free_the_decoder(samples):
    clip = os.path.join(samples, "clip.mp4")
    closed = qvdecoder.open(clip)
    pictures = iter(closed)
    next(pictures)
    pictures.close()
    dropped = qvdecoder.open(clip)
    next(iter(dropped))
    gc.collect()
    with qvdecoder.open(clip) as left:
        pass
    for decoder in (closed, dropped, left):
        assert decoder._handle.ptr is None


def test_views_alias_the_library_buffer_and_copies_do_not(samples):
    clip = os.path.join(samples, "clip.mp4")
    views = iter(qvdecoder.open(clip, format="gray", copy=False))
    first = next(views)
    kept = first.array.copy()
    second = next(views)
    assert not first.array.flags.writeable
    assert numpy.array_equal(first.array, second.array)      # the same buffer, now the second picture
    assert not numpy.array_equal(kept, second.array)
    # Views outlive their decoder's iteration: they keep its memory, showing the last picture.
    last = list(qvdecoder.open(clip, format="gray", copy=False))
    gc.collect()
    assert len(last) == 100 and numpy.array_equal(last[0].array, last[-1].array)
    assert numpy.array_equal(last[0].array, list(qvdecoder.open(clip, format="gray"))[-1].array)
    copies = iter(qvdecoder.open(clip, format="gray"))
    first, second = next(copies), next(copies)
    assert first.array.flags.writeable
    assert numpy.array_equal(first.array, kept) and not numpy.array_equal(first.array, second.array)


def test_planes_are_views_of_the_decoded_picture(samples):
    clip = os.path.join(samples, "clip.mp4")
    copies = list(qvdecoder.open(clip, format=None))
    seen = 0
    with qvdecoder.StreamDecoder("h264", format=None, planes=True) as decoder:
        for packet in qvdecoder.extract(clip):
            for picture in decoder.push(packet.data):
                assert picture.data is None and not picture.array[0].flags.writeable
                assert all(numpy.array_equal(a, b) for a, b in zip(picture.array, copies[seen].array))
                seen += 1
    assert seen > 90
    with pytest.raises(ValueError):
        qvdecoder.open(clip, format="bgr24", planes=True)
    with pytest.raises(ValueError):
        qvdecoder.open(clip, converter="fast")


def test_readme_example_runs_from_a_pip_install(tmp_path):
    # A copy, as pip builds in the folder it installs from.
    source = shutil.copytree(os.path.join(ROOT, "python"), tmp_path / "source",
                             ignore=shutil.ignore_patterns("tests", "build", "*.egg-info", "__pycache__"))
    target = tmp_path / "site"
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-deps",
                    "--no-build-isolation", "--target", str(target), str(source)],
                   check=True, capture_output=True)
    readme = open(os.path.join(ROOT, "README.md")).read()
    example = re.search(r"```python\n(.*?)```", readme, re.S).group(1)
    env = dict(os.environ, PYTHONPATH=str(target))
    done = subprocess.run([sys.executable, "-c", example], cwd=ROOT, env=env,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert "100 pictures from" in done.stdout, done.stdout


def test_seek_duration_and_thumbnails_match_a_full_decode(samples):
    clip = os.path.join(samples, "clip.mp4")
    full = {p.time_us: p for p in qvdecoder.open(clip, format="rgb24", size=(80, 60))}
    with qvdecoder.Decoder(clip, format="rgb24", size=(80, 60)) as decoder:
        assert decoder.start_time == 0.0 and abs(decoder.duration - 4.0) < 0.1
        for seconds in (2.0, 0.5, 3.1, -1.0):
            decoder.seek(seconds)
            picture = decoder.read()
            expected = min(t for t in full if t >= seconds * 1e6)
            assert picture.time_us == expected
            assert picture.data.tobytes() == full[expected].data.tobytes()
        decoder.seek(2.5, accurate=False)
        key = decoder.read()
        assert key.flags & 1 and key.time <= 2.5
        decoder.seek(10.0)
        assert decoder.read() is None
    thumbs = qvdecoder.thumbnails(clip, every=1.0, size=(80, 60))
    assert len(thumbs) == 5
    for thumb in thumbs:
        assert thumb.flags & 1
        assert thumb.data.tobytes() == full[thumb.time_us].data.tobytes()
    with pytest.raises(ValueError):
        qvdecoder.thumbnails(clip, every=0)
