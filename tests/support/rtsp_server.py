#!/usr/bin/env python3
"""Serves a Matroska file over RTSP on 127.0.0.1 for the live-source tests, paced in real
time (a Matroska file; an Annex B .h264/.hevc file is sent as fast as it is read) and without re-encoding: rtsp_server.py FILE h264|hevc|mjpeg [PORT [AUDIO]]. Prints the
bound port once it listens (PORT, or a free one, 0); every client gets the stream from its
start at rtsp://127.0.0.1:PORT/stream. AUDIO (pcmu, pcma or aac) serves the file's AAC track
beside the video as it is (aac) or as a camera's G.711 at 8 kHz."""
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

AUDIO = {
    "aac": "aacparse ! rtpmp4gpay name=pay1 pt=97",
    "pcmu": "aacparse ! avdec_aac ! audioconvert ! audioresample ! audio/x-raw,rate=8000,channels=1 ! mulawenc ! "
            "rtppcmupay name=pay1",
    "pcma": "aacparse ! avdec_aac ! audioconvert ! audioresample ! audio/x-raw,rate=8000,channels=1 ! alawenc ! "
            "rtppcmapay name=pay1",
}

Gst.init(None)
path, codec = sys.argv[1], sys.argv[2]
audio = sys.argv[4] if len(sys.argv) > 4 else ""
factory = GstRtspServer.RTSPMediaFactory()
if path.endswith((".h264", ".hevc")):
    # An Annex B file: no times, so the payloader gives every picture the same RTP time.
    launch = f'filesrc location="{path}" ! {PAYLOADERS[codec]} name=pay0 pt=96'
else:
    launch = f'filesrc location="{path}" ! matroskademux name=d d.video_0 ! queue ! {PAYLOADERS[codec]} name=pay0 pt=96'
if audio:
    launch += f" d.audio_0 ! queue ! {AUDIO[audio]}"
factory.set_launch(f"( {launch} )")
server = GstRtspServer.RTSPServer()
server.set_address("127.0.0.1")
server.set_service(sys.argv[3] if len(sys.argv) > 3 else "0")
server.get_mount_points().add_factory("/stream", factory)
server.attach(None)
print(server.get_bound_port(), flush=True)
GLib.MainLoop().run()
