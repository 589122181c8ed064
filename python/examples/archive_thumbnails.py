#!/usr/bin/env python3
"""Timeline thumbnails for a whole camera archive, spread over a Dask cluster.

Each recording becomes one task: a worker decodes its key frames only
(``qvdecoder.thumbnails``) and writes, next to the recording, a folder
``<recording>.thumbs/`` with a PNG per mark, a contact sheet ``sheet.png`` and ``index.json``
(the mark and key-frame times). A recording that fails is reported with its error and the run
goes on; the exit status is 1 when any failed.

    # on this machine, two worker processes
    archive_thumbnails.py /srv/archive --workers 2 --every 60
    # on a cluster: `python -m dask scheduler` on one machine, `python -m dask worker tcp://HOST:8786`
    # on the others, each worker's Python with the package and the library
    archive_thumbnails.py /srv/archive --scheduler tcp://HOST:8786
    # a list of recordings, one path per line
    archive_thumbnails.py --list recordings.txt --scheduler tcp://HOST:8786

Every worker needs the qvdecoder package and libqvdecoder, and sees the recordings under the
same paths (a shared file system).
"""

import argparse
import json
import os
import struct
import sys
import time
import zlib

RECORDING_EXTENSIONS = (".mp4", ".mov", ".mkv", ".webm", ".ts", ".mpg", ".mpeg", ".flv", ".avi",
                        ".264", ".h264", ".265", ".hevc")


def write_png(path, rgb):
    """An RGB24 numpy array (height x width x 3) as a PNG file, with nothing but the standard
    library, so that workers need no imaging package."""
    height, width = rgb.shape[0], rgb.shape[1]
    raw = b"".join(b"\x00" + rgb[y].tobytes() for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        out.write(chunk(b"IEND", b""))


# The time labels of `qvdecode thumbs --sheet`, pixel for pixel: a 5-row bitmap font of digits,
# colon, period and minus (each row's leftmost pixel the highest bit), light on a dark box.
GLYPHS = {
    "0": (3, (0b111, 0b101, 0b101, 0b101, 0b111)), "1": (3, (0b010, 0b110, 0b010, 0b010, 0b111)),
    "2": (3, (0b111, 0b001, 0b111, 0b100, 0b111)), "3": (3, (0b111, 0b001, 0b111, 0b001, 0b111)),
    "4": (3, (0b101, 0b101, 0b111, 0b001, 0b001)), "5": (3, (0b111, 0b100, 0b111, 0b001, 0b111)),
    "6": (3, (0b111, 0b100, 0b111, 0b101, 0b111)), "7": (3, (0b111, 0b001, 0b010, 0b010, 0b010)),
    "8": (3, (0b111, 0b101, 0b111, 0b101, 0b111)), "9": (3, (0b111, 0b101, 0b111, 0b001, 0b111)),
    ":": (1, (0, 1, 0, 1, 0)), ".": (1, (0, 0, 0, 0, 1)), "-": (3, (0, 0, 0b111, 0, 0)),
}
GLYPH_ROWS = 5


def label_text(time_us, hours):
    """"MM:SS.mmm", or "HH:MM:SS.mmm" with hours, to the nearest millisecond."""
    ms = (abs(time_us) + 500) // 1000
    sign = "-" if time_us < 0 and ms > 0 else ""
    h, m, s, frac = ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000
    if hours:
        return "%s%02d:%02d:%02d.%03d" % (sign, h, m, s, frac)
    return "%s%02d:%02d.%03d" % (sign, h * 60 + m, s, frac)


def draw_label(tile, text):
    """text in the bottom-left corner of an RGB tile (a view into the sheet), about a tenth of
    its height and never wider than it; what does not fit is cut off at the right."""
    height, width = tile.shape[0], tile.shape[1]
    text_w = max(0, sum(GLYPHS.get(c, (3,))[0] + 1 for c in text) - 1)
    scale = max(1, height // (GLYPH_ROWS * 10))
    while scale > 1 and (text_w + 2) * scale > width:
        scale -= 1
    box_y = height - (GLYPH_ROWS + 2) * scale
    tile[max(0, box_y):, :(text_w + 2) * scale] = 16
    x = scale
    for c in text:
        glyph_w, rows = GLYPHS.get(c, (3, (0,) * GLYPH_ROWS))
        for row in range(GLYPH_ROWS):
            for col in range(glyph_w):
                if rows[row] >> (glyph_w - 1 - col) & 1:
                    y0, x0 = box_y + (row + 1) * scale, x + col * scale
                    tile[max(0, y0):max(0, y0 + scale), x0:x0 + scale] = 235
        x += (glyph_w + 1) * scale


def contact_sheet(arrays, times_us=None):
    """The thumbnails in a grid as square as their count allows; with times_us (microseconds),
    each tile's time in its bottom-left corner, as `qvdecode thumbs --sheet` writes it."""
    import numpy
    columns = max(1, int(numpy.ceil(numpy.sqrt(len(arrays)))))
    rows = (len(arrays) + columns - 1) // columns
    height, width = arrays[0].shape[0], arrays[0].shape[1]
    sheet = numpy.zeros((rows * height, columns * width, 3), dtype=numpy.uint8)
    # Hours on every label once a time reaches them, so that all labels read alike.
    hours = times_us is not None and any(abs(t) >= 3600000000 for t in times_us)
    for i, array in enumerate(arrays):
        y, x = (i // columns) * height, (i % columns) * width
        h, w = min(height, array.shape[0]), min(width, array.shape[1])
        sheet[y:y + h, x:x + w] = array[:h, :w]
        if times_us is not None:
            draw_label(sheet[y:y + h, x:x + w], label_text(times_us[i], hours))
    return sheet


def thumbnail_recording(path, every, size):
    """One task, run on a worker: the thumbnails of one recording written next to it. Returns
    a summary; any failure comes back as the summary's "error" instead of an exception."""
    started = time.monotonic()
    try:
        import qvdecoder
        thumbs = qvdecoder.thumbnails(path, every=every, size=size)
        # Marks and key frames on one clock, the pictures' own: marks start at the first picture.
        with qvdecoder.open(path, format=None) as decoder:
            start = decoder.start_time
        if not thumbs:
            raise RuntimeError("no key frame could be decoded")
        folder = path + ".thumbs"
        os.makedirs(folder, exist_ok=True)
        index = []
        for i, thumb in enumerate(thumbs):
            name = "thumb_%04d.png" % i
            write_png(os.path.join(folder, name), thumb.array)
            index.append({"file": name, "mark": round(start + i * every, 6), "time": thumb.time})
        write_png(os.path.join(folder, "sheet.png"),
                  contact_sheet([t.array for t in thumbs], [t.time_us for t in thumbs]))
        with open(os.path.join(folder, "index.json"), "w") as out:
            json.dump({"recording": os.path.basename(path), "every": every, "thumbnails": index}, out, indent=1)
        return {"path": path, "thumbnails": len(thumbs), "seconds": time.monotonic() - started}
    except Exception as error:  # reported per file, never fatal to the run
        return {"path": path, "error": "%s: %s" % (type(error).__name__, error)}


def find_recordings(paths, list_file):
    found = []
    if list_file:
        with open(list_file) as lines:
            found += [line.strip() for line in lines if line.strip() and not line.startswith("#")]
    for path in paths:
        if os.path.isdir(path):
            for root, dirs, files in os.walk(path):
                dirs[:] = sorted(d for d in dirs if not d.endswith(".thumbs"))
                found += [os.path.join(root, f) for f in sorted(files) if f.lower().endswith(RECORDING_EXTENSIONS)]
        else:
            found.append(path)
    return [os.path.abspath(p) for p in found]


def progress_bar(done, total, failed):
    width = 30
    filled = width * done // max(total, 1)
    sys.stderr.write("\r[%s%s] %d/%d recordings, %d failed" % ("#" * filled, "." * (width - filled), done, total,
                                                                failed))
    sys.stderr.flush()


def parse_size(text):
    """--size as thumbnails() takes it: WxH (the box the display shape fits in), Wx or xH (the
    other side follows the shape); None for the decoded size."""
    if not text:
        return None
    width, _, height = text.lower().partition("x")
    if not _ or not (width or height) or not (width or "0").isdigit() or not (height or "0").isdigit():
        raise ValueError("--size must be WxH, Wx or xH, not %r" % text)
    return int(width) if width else None, int(height) if height else None


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("paths", nargs="*", help="recordings, or folders searched for them")
    parser.add_argument("--list", help="a file naming one recording per line")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (tcp://host:8786)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of a local cluster (default 2)")
    parser.add_argument("--every", type=float, default=60.0, help="seconds between marks (default 60)")
    parser.add_argument("--size", default="160x90",
                        help="thumbnail size: WxH, the box the picture's display shape fits in (default 160x90), "
                             "or Wx or xH, the other side following the shape")
    parser.add_argument("--retries", type=int, default=1, help="attempts more per recording whose worker died")
    args = parser.parse_args(argv)
    recordings = find_recordings(args.paths, args.list)
    if not recordings:
        parser.error("no recordings given or found")
    try:
        size = parse_size(args.size)
    except ValueError as error:
        parser.error(str(error))

    from distributed import Client, LocalCluster, as_completed
    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        # One thread per worker process: each decode already uses the threads it is given.
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    failed = []
    try:
        futures = [client.submit(thumbnail_recording, path, args.every, size, key="thumbs-" + path,
                                 retries=args.retries) for path in recordings]
        progress_bar(0, len(futures), 0)
        for done, future in enumerate(as_completed(futures), 1):
            try:
                summary = future.result()
            except Exception as error:  # the worker itself died on this recording
                summary = {"path": future.key[len("thumbs-"):], "error": "%s: %s" % (type(error).__name__, error)}
            if "error" in summary:
                failed.append(summary)
            progress_bar(done, len(futures), len(failed))
        sys.stderr.write("\n")
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    for summary in failed:
        print("FAILED %s: %s" % (summary["path"], summary["error"]))
    print("%d recordings, %d with thumbnails, %d failed" % (len(recordings), len(recordings) - len(failed),
                                                            len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
