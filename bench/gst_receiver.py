#!/usr/bin/env python3
"""GStreamer's side of the live benchmark: gst_receiver.py PORT [h264|h265|jpeg]. Receives the
paced RTP stream on 127.0.0.1:PORT through udpsrc ! rtpjitterbuffer latency=0 ! rtph264depay !
avdec_h264 ! appsink (rtph265depay ! avdec_h265, rtpjpegdepay ! jpegdec), prints "ready" once
playing, then one line per decoded picture: the CLOCK_MONOTONIC microseconds at which the
appsink got it. Ends after two quiet seconds. Exits 2 when GStreamer or one of its elements is
missing."""
import sys
import time

try:
    import gi

    gi.require_version("Gst", "1.0")
    from gi.repository import Gst
except (ImportError, ValueError):
    print("missing GStreamer's Python bindings (python3-gi, gir1.2-gstreamer-1.0)", flush=True)
    sys.exit(2)

# codec: RTP caps, depayloader, decoder
CODECS = {
    "h264": ("encoding-name=H264,payload=96", "rtph264depay", "avdec_h264"),
    "h265": ("encoding-name=H265,payload=96", "rtph265depay", "avdec_h265"),
    "jpeg": ("encoding-name=JPEG,payload=26", "rtpjpegdepay", "jpegdec"),
}
port = int(sys.argv[1])
rtp_caps, depay, decoder = CODECS[sys.argv[2] if len(sys.argv) > 2 else "h264"]

Gst.init(None)
for element in ("udpsrc", "rtpjitterbuffer", depay, decoder, "appsink"):
    if Gst.ElementFactory.find(element) is None:
        print(f"missing GStreamer element {element} (gstreamer1.0-libav, -plugins-good)", flush=True)
        sys.exit(2)

caps = f"application/x-rtp,media=video,clock-rate=90000,{rtp_caps}"
pipeline = Gst.parse_launch(
    f'udpsrc address=127.0.0.1 port={port} caps="{caps}" ! rtpjitterbuffer latency=0 ! {depay} ! '
    f"{decoder} ! appsink name=sink sync=false max-buffers=1000"
)
sink = pipeline.get_by_name("sink")
pipeline.set_state(Gst.State.PLAYING)
pipeline.get_state(Gst.SECOND)
print("ready", flush=True)
while True:
    sample = sink.emit("try-pull-sample", 2 * Gst.SECOND)
    if sample is None:
        break
    print(int(time.clock_gettime(time.CLOCK_MONOTONIC) * 1e6), flush=True)
pipeline.set_state(Gst.State.NULL)
