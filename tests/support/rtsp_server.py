#!/usr/bin/env python3
"""Serves a Matroska file over RTSP on 127.0.0.1 for the live-source tests, paced in real
time and without re-encoding: rtsp_server.py FILE h264|hevc|mjpeg [PORT]. Prints the bound
port once it listens (PORT, or a free one); every client gets the stream from its start at
rtsp://127.0.0.1:PORT/stream."""
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

PAYLOADERS = {
    "h264": "h264parse ! rtph264pay config-interval=-1",
    "hevc": "h265parse ! rtph265pay config-interval=-1",
    "mjpeg": "jpegparse ! rtpjpegpay",
}

Gst.init(None)
path, codec = sys.argv[1], sys.argv[2]
factory = GstRtspServer.RTSPMediaFactory()
factory.set_launch(f'( filesrc location="{path}" ! matroskademux ! {PAYLOADERS[codec]} name=pay0 pt=96 )')
server = GstRtspServer.RTSPServer()
server.set_address("127.0.0.1")
server.set_service(sys.argv[3] if len(sys.argv) > 3 else "0")
server.get_mount_points().add_factory("/stream", factory)
server.attach(None)
print(server.get_bound_port(), flush=True)
GLib.MainLoop().run()
