#!/usr/bin/env python3
"""A hostile camera on 127.0.0.1 for the live-source tests: hostile_server.py mjpeg|rtsp.
Prints the bound port, then answers every client with a part (mjpeg: an HTTP multipart
stream) or a DESCRIBE reply (rtsp) whose Content-Length claims 2 GB, and sends zeros as fast
as the client takes them, until it goes away."""
import socket
import sys
import threading

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


def serve(conn, kind):
    try:
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
