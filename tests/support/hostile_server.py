#!/usr/bin/env python3
"""A hostile camera on 127.0.0.1 for the live-source tests: hostile_server.py mjpeg|rtsp|huge
[FILE [MEGABYTES]]. Prints the bound port, then answers every client with a part (mjpeg: an
HTTP multipart stream) or a DESCRIBE reply (rtsp) whose Content-Length claims 2 GB, and sends
zeros as fast as the client takes them, until it goes away. huge: an RTSP camera (RTP
interleaved over TCP, 25 pictures a second) that sends the H.264 pictures of FILE (an Annex B
stream) with one slice of MEGABYTES (default 40) in FU-A fragments after its fifth picture,
then the rest, and closes."""
import socket
import struct
import sys
import threading
import time

CLAIM = 2_000_000_000
CHUNK = b"\0" * (1 << 20)


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        more = conn.recv(4096)
        if not more:
            return None
        data += more
    return data.decode("latin-1")


def cseq(request):
    for line in request.split("\r\n"):
        if line.lower().startswith("cseq:"):
            return line.split(":", 1)[1].strip()
    return "1"


def flood(conn):
    sent = 0
    while sent < CLAIM:
        conn.sendall(CHUNK)
        sent += len(CHUNK)


def units(path):
    """The units of an Annex B stream, grouped into pictures."""
    data = open(path, "rb").read()
    found = []
    at = data.find(b"\0\0\1")
    while at >= 0:
        start = at + 3
        at = data.find(b"\0\0\1", start)
        unit = data[start:at if at >= 0 else len(data)]
        found.append(unit.rstrip(b"\0") if at >= 0 else unit)
    pictures = []
    slice_seen = False
    for unit in found:
        kind = unit[0] & 0x1F
        first_slice = kind in (1, 5) and unit[1] & 0x80
        if not pictures or (slice_seen and (kind in (6, 7, 8, 9) or first_slice)):
            pictures.append([])
            slice_seen = False
        pictures[-1].append(unit)
        slice_seen = slice_seen or kind in (1, 5)
    return pictures


def rtp_packets(unit, seq, stamp, last):
    """A unit as RTP payloads: whole, or FU-A fragments of 1400 bytes."""
    out = []
    if len(unit) <= 1400:
        out.append((unit, last))
    else:
        header, body = unit[0], unit[1:]
        for at in range(0, len(body), 1400):
            start, end = at == 0, at + 1400 >= len(body)
            fu = bytes([(header & 0xE0) | 28, (0x80 if start else 0) | (0x40 if end else 0) | (header & 0x1F)])
            out.append((fu + body[at:at + 1400], last and end))
    frames = []
    for payload, marker in out:
        rtp = struct.pack("!BBHII", 0x80, (0x80 if marker else 0) | 96, seq & 0xFFFF, stamp & 0xFFFFFFFF, 0x1234)
        frames.append(b"$\0" + struct.pack("!H", len(rtp) + len(payload)) + rtp + payload)
        seq += 1
    return frames, seq


def serve_huge(conn, path, megabytes):
    session = "Session: 4711\r\n"
    while True:
        request = read_request(conn)
        if request is None:
            return
        head = "RTSP/1.0 200 OK\r\nCSeq: %s\r\n" % cseq(request)
        if request.startswith("DESCRIBE"):
            sdp = ("v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=huge\r\nt=0 0\r\nm=video 0 RTP/AVP 96\r\n"
                   "a=rtpmap:96 H264/90000\r\na=fmtp:96 packetization-mode=1\r\na=control:track0\r\n")
            conn.sendall((head + "Content-Type: application/sdp\r\nContent-Length: %d\r\n\r\n" % len(sdp) +
                          sdp).encode())
        elif request.startswith("SETUP"):
            conn.sendall((head + session + "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n").encode())
        elif request.startswith("PLAY"):
            conn.sendall((head + session + "\r\n").encode())
            break
        else:
            conn.sendall((head + session + "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n").encode())
    seq, stamp = 0, 90000
    for index, picture in enumerate(units(path)):
        if index == 5:
            # A slice no picture of the stream's size could need, fragmented as a sender would.
            huge = bytes([0x41, 0x9A]) + b"\xAB" * (megabytes << 20)
            frames, seq = rtp_packets(huge, seq, stamp, True)
            for frame in frames:
                conn.sendall(frame)
            stamp += 3600
        for number, unit in enumerate(picture):
            frames, seq = rtp_packets(unit, seq, stamp, number == len(picture) - 1)
            conn.sendall(b"".join(frames))
        stamp += 3600
        time.sleep(0.04)


def serve(conn, kind):
    try:
        if kind == "huge":
            serve_huge(conn, sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 40)
            return
        if kind == "mjpeg":
            if read_request(conn) is None:
                return
            conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=frame\r\n\r\n"
                         b"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: %d\r\n\r\n" % CLAIM)
            flood(conn)
            return
        while True:
            request = read_request(conn)
            if request is None:
                return
            head = "RTSP/1.0 200 OK\r\nCSeq: %s\r\n" % cseq(request)
            if request.startswith("DESCRIBE"):
                conn.sendall((head + "Content-Type: application/sdp\r\nContent-Length: %d\r\n\r\n" % CLAIM)
                             .encode())
                flood(conn)
                return
            conn.sendall((head + "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n").encode())
    except OSError:
        pass
    finally:
        conn.close()


def main():
    kind = sys.argv[1]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, kind), daemon=True).start()


main()
