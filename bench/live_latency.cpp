// Live hand-out latency (qv_live): a paced RTP sender of our own on 127.0.0.1 (640x360 H.264,
// 25 pictures a second, no B-frames, FU-A at a 1400-byte MTU) logs when each picture's last
// packet left; a receiver logs when it hands each picture out. Measured by timestamps of
// these events on CLOCK_MONOTONIC, for this library (QVOpen of a session description, then
// the QVDecodeFrame loop) and, on the same sender in the same run, for GStreamer's
// udpsrc ! rtpjitterbuffer latency=0 ! rtph264depay ! avdec_h264 ! appsink
// (bench/gst_receiver.py; skipped with a message when GStreamer or avdec_h264 is missing).
// The first two seconds (our probe, GStreamer's start) are left out of the figures.
// Then a host that falls behind (60 ms per picture) without and with a 200 ms budget
// (QVDecoderSetMaxLatency). Options: --seconds N (16), --latency-only.
#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "file_factory.h"
#include "live_server.h"
#include "media_factory.h"
#include "rtp_sender.h"

namespace {

constexpr int kFps = 25;
constexpr int kSkipPictures = 2 * kFps;

struct Figures {
    int pictures = 0;
    double median_ms = 0;
    double p95_ms = 0;
};

Figures Summarize(const std::vector<int64_t>& sent, const std::vector<int64_t>& out) {
    std::vector<int64_t> delays;
    for (size_t i = kSkipPictures; i < out.size() && i < sent.size(); ++i) delays.push_back(out[i] - sent[i]);
    Figures f;
    f.pictures = static_cast<int>(out.size());
    if (delays.empty()) return f;
    std::sort(delays.begin(), delays.end());
    f.median_ms = delays[delays.size() / 2] / 1000.0;
    f.p95_ms = delays[delays.size() * 95 / 100] / 1000.0;
    return f;
}

void Print(const char* who, const Figures& f, size_t sent) {
    std::printf("%-10s %4d of %3zu pictures   hand-out after the last packet: median %6.2f ms, p95 %6.2f ms\n", who,
                f.pictures, sent, f.median_ms, f.p95_ms);
}

// Ours: pictures in order of their times (index = time / period).
Figures Ours(const qvtest::EncodedVideo& video, const std::string& dir) {
    const int port = qvtest::FreeUdpPort();
    const std::string sdp = dir + "/bench.sdp";
    std::ofstream(sdp) << qvtest::PacedRtpSender::Sdp(port);
    qvtest::PacedRtpSender sender(port, video.packets, kFps);
    sender.Start(300);
    QVDecoder decoder;
    decoder.QVDecoderSetTimeout(5000);
    std::vector<int64_t> out(video.packets.size(), 0);
    int count = 0;
    if (decoder.QVOpen(sdp.c_str()) == 0) {
        for (;;) {
            const int result = decoder.QVDecodeFrame();
            if (result == -10002) continue;
            if (result != 0) break;
            const int64_t now = av_gettime_relative();
            const int64_t index = (decoder.QVGetFrameTimestamp() * kFps + 500000) / 1000000;
            if (index >= 0 && index < static_cast<int64_t>(out.size())) out[static_cast<size_t>(index)] = now;
            ++count;
        }
    }
    sender.Join();
    Figures f = Summarize(sender.sent(), out);
    f.pictures = count;
    return f;
}

// A host that spends 60 ms on each picture of the 25 fps camera, with a budget (ms) or
// without (0): pictures it got, their age (hand-out after the picture's last packet left),
// damaged ones and the skipped count.
void SlowHost(const qvtest::EncodedVideo& video, const std::string& dir, int budget_ms) {
    const int port = qvtest::FreeUdpPort();
    const std::string sdp = dir + "/slow.sdp";
    std::ofstream(sdp) << qvtest::PacedRtpSender::Sdp(port);
    qvtest::PacedRtpSender sender(port, video.packets, kFps);
    sender.Start(300);
    QVDecoder decoder;
    decoder.QVDecoderSetTimeout(5000);
    decoder.QVDecoderSetMaxLatency(budget_ms);
    std::vector<std::pair<int64_t, int64_t>> shown;
    int damaged = 0;
    if (decoder.QVOpen(sdp.c_str()) == 0) {
        for (;;) {
            const int result = decoder.QVDecodeFrame();
            if (result == -10002) continue;
            if (result != 0) break;
            if (decoder.QVGetPictureFlags() & QV_PICTURE_DAMAGED) ++damaged;
            shown.emplace_back((decoder.QVGetFrameTimestamp() * kFps + 500000) / 1000000, av_gettime_relative());
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
    }
    sender.Join();
    std::vector<int64_t> ages;
    for (const auto& [index, when] : shown) {
        if (index >= kSkipPictures && index < static_cast<int64_t>(sender.sent().size())) {
            ages.push_back(when - sender.sent()[static_cast<size_t>(index)]);
        }
    }
    std::sort(ages.begin(), ages.end());
    const double p95 = ages.empty() ? 0 : ages[ages.size() * 95 / 100] / 1000.0;
    const double worst = ages.empty() ? 0 : ages.back() / 1000.0;
    std::printf("slow host, budget %4d ms: %3zu pictures, age p95 %7.1f ms, max %7.1f ms, %d damaged, %lld skipped\n",
                budget_ms, shown.size(), p95, worst, damaged, static_cast<long long>(decoder.QVGetSkippedPictures()));
}

// GStreamer: pictures in order of arrival.
bool Gstreamer(const qvtest::EncodedVideo& video, Figures* figures) {
    const int port = qvtest::FreeUdpPort();
    qvtest::ChildProcess receiver;
    if (!receiver.Start({"/usr/bin/python3", std::string(QV_SOURCE_DIR) + "/bench/gst_receiver.py",
                         std::to_string(port)})) {
        return false;
    }
    const std::string first = receiver.ReadLine(10000);
    if (first != "ready") {
        std::printf("GStreamer skipped: %s\n", first.empty() ? "no answer" : first.c_str());
        return false;
    }
    qvtest::PacedRtpSender sender(port, video.packets, kFps);
    sender.Start(100);
    std::vector<int64_t> out;
    for (;;) {
        const std::string line = receiver.ReadLine(5000);
        if (line.empty()) break;
        out.push_back(std::atoll(line.c_str()));
    }
    sender.Join();
    *figures = Summarize(sender.sent(), out);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 16;
    bool slow = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--latency-only") == 0) slow = false;
    }
    QVDecoderInitialize();
    av_log_set_level(AV_LOG_QUIET);
    qvtest::VideoOptions options;
    options.width = 640;
    options.height = 360;
    options.frames = seconds * kFps;
    options.gop = 2 * kFps;
    options.bit_rate = 1000000;
    const qvtest::EncodedVideo video = qvtest::EncodeVideo("libx264", options);
    qvtest::TempDir dir;
    std::printf("Live hand-out latency, 640x360 H.264 at %d pictures/s, %d s, paced RTP on 127.0.0.1\n", kFps, seconds);
    const Figures ours = Ours(video, dir.Path("."));
    Print("qvdecoder", ours, video.packets.size());
    Figures gst;
    if (Gstreamer(video, &gst)) {
        Print("GStreamer", gst, video.packets.size());
        std::printf("difference of medians: %+.2f ms (target: at most 3 ms)\n", ours.median_ms - gst.median_ms);
    }
    if (slow) {
        SlowHost(video, dir.Path("."), 0);
        SlowHost(video, dir.Path("."), 200);
    }
    return 0;
}
