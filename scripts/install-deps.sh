#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Only what is missing is installed, so a second run is a quick no-op.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libyuv-dev
  ffmpeg
  python3 python3-numpy python3-pytest python3-pip python3-setuptools
  # Live-source tests: GStreamer's RTSP server (payloaders in -good, parsers in -bad).
  python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # Benchmark peers: the live benchmark's decodes with avdec_h264, the Python seek benchmark's
  # is PyAV (both optional there: skipped when absent).
  gstreamer1.0-libav python3-av
  # gst-launch-1.0, the first-picture benchmark's peer (bench/python/first_picture.py).
  gstreamer1.0-tools
  gstreamer1.0-plugins-bad
  python3-distributed
  # qvdecode wall --http: the HTTP server and the JPEG encoder; the browser test drives
  # headless Chromium with Selenium.
  libcpp-httplib-dev libjpeg62-turbo-dev
  chromium chromium-driver python3-selenium
)
# Optional extras: fuzzers and sanitizer runtimes, real G.722 prompts for tests,
# valgrind for the leak checks. (samples/make-samples.sh also needs espeak-ng; the samples
# it makes are committed, so nothing here installs it.)
if [ "${QV_EXTRA_DEPS:-1}" = "1" ]; then
  packages+=(clang libclang-rt-14-dev valgrind asterisk-core-sounds-en-g722)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
