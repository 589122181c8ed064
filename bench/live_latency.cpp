// Live hand-out latency (qv_live): a paced RTP sender of our own on 127.0.0.1 (640x360 H.264,
// HEVC and MJPEG, 25 pictures a second, no B-frames, fragments at a 1400-byte MTU) logs when
// each picture's last packet left; a receiver logs when it hands each picture out. Measured by
// timestamps of these events on CLOCK_MONOTONIC, for this library (QVOpen of a session
// description, then the QVDecodeFrame loop) and, on the same sender in the same run, for
// GStreamer's udpsrc ! rtpjitterbuffer latency=0 ! rtph264depay ! avdec_h264 ! appsink
// (rtph265depay ! avdec_h265, rtpjpegdepay ! jpegdec; bench/gst_receiver.py; skipped with a
// message when GStreamer or an element is missing).
// The first two seconds (our probe, GStreamer's start) are left out of the figures.
// Then a host that falls behind (60 ms per picture) without and with a 200 ms budget
// (QVDecoderSetMaxLatency); with --cameras N, N cameras of 1080p at once without and with a
// 500 ms budget. Options: --seconds N (16), --latency-only, --cameras N, --cameras-only, --stagger.
#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
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
// A sender that gives every picture one time: in order of arrival.
Figures Ours(const qvtest::EncodedVideo& video, const std::string& dir,
             qvtest::RtpPayload payload = qvtest::RtpPayload::kH264, const qvtest::RtpHabits& habits = {}) {
    const int port = qvtest::FreeUdpPort();
    const std::string sdp = dir + "/bench.sdp";
    std::ofstream(sdp) << qvtest::PacedRtpSender::Sdp(port, payload);
    qvtest::PacedRtpSender sender(port, video.packets, kFps, 1400, payload);
    sender.set_habits(habits);
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
            const int64_t index =
                habits.one_time ? count : (decoder.QVGetFrameTimestamp() * kFps + 500000) / 1000000;
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

// Many cameras on one machine: `count` paced senders of the same 1080p clip, one decoder
// object and thread each, 480x270 BGR24 tiles, with a budget (ms) or without (0): per-camera
// pictures/s and p95 age (hand-out after the picture's last packet left), over all cameras.
// `stagger`: the senders start spread over one key-frame interval, as cameras that were not
// switched on together send; otherwise all at once, their key frames in step (the worst case).
// `fast`: fast decoding (QVDecoderSetFastDecode), as qvdecode wall decodes its tiles.
void Cameras(const qvtest::EncodedVideo& video, const std::string& dir, int count, int budget_ms, bool stagger,
             bool fast) {
    struct Cam {
        std::unique_ptr<qvtest::PacedRtpSender> sender;
        std::vector<std::pair<int64_t, int64_t>> shown;
        int damaged = 0;
        int64_t skipped = 0;
    };
    std::vector<Cam> cams(static_cast<size_t>(count));
    std::vector<std::thread> threads;
    for (int c = 0; c < count; ++c) {
        const int port = qvtest::FreeUdpPort() + 0;
        const std::string sdp = dir + "/cam" + std::to_string(c) + ".sdp";
        std::ofstream(sdp) << qvtest::PacedRtpSender::Sdp(port);
        cams[static_cast<size_t>(c)].sender = std::make_unique<qvtest::PacedRtpSender>(port, video.packets, kFps);
        const int delay_ms = 500 + (stagger ? 2000 * c / count : 0);
        threads.emplace_back([&cams, c, sdp, budget_ms, delay_ms, fast] {
            Cam& cam = cams[static_cast<size_t>(c)];
            QVDecoder decoder;
            decoder.QVDecoderSetTimeout(5000);
            decoder.QVDecoderSetMaxLatency(budget_ms);
            decoder.QVDecoderSetFastDecode(fast ? 1 : 0);
            cam.sender->Start(delay_ms);
            if (decoder.QVOpen(sdp.c_str()) != 0) return;
            decoder.QVSetOutput(_picture_param{480, 270, PIX_FMT_BGR24}, 0);
            for (;;) {
                const int result = decoder.QVDecodeFrame();
                if (result == -10002) continue;
                if (result != 0) break;
                if (decoder.QVGetPictureFlags() & QV_PICTURE_DAMAGED) ++cam.damaged;
                // The tile is read, as a wall does (the conversion happens here); one that
                // cannot be read counts as damaged.
                if (!decoder.QVGetVideoFrame()) ++cam.damaged;
                cam.shown.emplace_back((decoder.QVGetFrameTimestamp() * kFps + 500000) / 1000000, av_gettime_relative());
            }
            cam.skipped = decoder.QVGetSkippedPictures();
        });
    }
    for (std::thread& t : threads) t.join();
    std::vector<double> rates, p95s;
    int damaged = 0, with_pictures = 0;
    int64_t skipped = 0;
    for (Cam& cam : cams) {
        cam.sender->Join();
        std::vector<int64_t> ages;
        for (const auto& [index, when] : cam.shown) {
            // All pictures count: cameras that drift never get past the first seconds.
            if (index >= 0 && index < static_cast<int64_t>(cam.sender->sent().size())) {
                ages.push_back(when - cam.sender->sent()[static_cast<size_t>(index)]);
            }
        }
        std::sort(ages.begin(), ages.end());
        rates.push_back(static_cast<double>(cam.shown.size()) * kFps / static_cast<double>(video.packets.size()));
        p95s.push_back(ages.empty() ? 0 : ages[ages.size() * 95 / 100] / 1000.0);
        damaged += cam.damaged;
        skipped += cam.skipped;
        with_pictures += cam.shown.empty() ? 0 : 1;
    }
    std::sort(rates.begin(), rates.end());
    std::sort(p95s.begin(), p95s.end());
    std::printf("%d cameras%s, budget %4d ms, %s: pictures/s per camera min %.1f median %.1f max %.1f; age p95 per "
                "camera median %.0f ms, worst %.0f ms; %d with pictures, %d damaged, %lld skipped\n",
                count, stagger ? " (staggered)" : "", budget_ms, fast ? "fast" : "exact", rates.front(), rates[rates.size() / 2], rates.back(),
                p95s[p95s.size() / 2], p95s.back(), with_pictures, damaged, static_cast<long long>(skipped));
}

// A camera's clip: `seconds` at kFps, a key frame every 2 s.
qvtest::VideoOptions CameraClip(int width, int height, int seconds, int bit_rate) {
    qvtest::VideoOptions options;
    options.width = width;
    options.height = height;
    options.frames = seconds * kFps;
    options.gop = 2 * kFps;
    options.bit_rate = bit_rate;
    return options;
}

// The many-cameras part: a 1080p clip of `seconds`, `count` cameras without and with a budget,
// then with the budget and fast decoding.
void ManyCameras(int seconds, int count, bool stagger, const std::string& dir) {
    const qvtest::EncodedVideo clip = qvtest::EncodeVideo("libx264", CameraClip(1920, 1080, seconds, 4000000));
    std::printf("Cameras: 1080p25 H.264 (4 Mbit/s, key frame every 2 s) into 480x270 BGR24 tiles, %d s\n", seconds);
    Cameras(clip, dir, count, 0, stagger, false);
    Cameras(clip, dir, count, 500, stagger, false);
    Cameras(clip, dir, count, 500, stagger, true);
}

// GStreamer: pictures in order of arrival.
bool Gstreamer(const qvtest::EncodedVideo& video, Figures* figures,
               qvtest::RtpPayload payload = qvtest::RtpPayload::kH264, const qvtest::RtpHabits& habits = {}) {
    const int port = qvtest::FreeUdpPort();
    qvtest::ChildProcess receiver;
    const char* codec = payload == qvtest::RtpPayload::kHevc ? "h265" : payload == qvtest::RtpPayload::kJpeg ? "jpeg" : "h264";
    if (!receiver.Start({"/usr/bin/python3", std::string(QV_SOURCE_DIR) + "/bench/gst_receiver.py",
                         std::to_string(port), codec})) {
        return false;
    }
    const std::string first = receiver.ReadLine(10000);
    if (first != "ready") {
        std::printf("GStreamer skipped: %s\n", first.empty() ? "no answer" : first.c_str());
        return false;
    }
    qvtest::PacedRtpSender sender(port, video.packets, kFps, 1400, payload);
    sender.set_habits(habits);
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
    int cameras = 0;
    bool cameras_only = false;  // only the many-cameras part (with --cameras N)
    bool stagger = false;       // the cameras' key frames out of step
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--latency-only") == 0) slow = false;
        if (std::strcmp(argv[i], "--cameras") == 0 && i + 1 < argc) cameras = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--cameras-only") == 0) cameras_only = true;
        if (std::strcmp(argv[i], "--stagger") == 0) stagger = true;
    }
    QVDecoderInitialize();
    av_log_set_level(getenv("QV_BENCH_LOG") ? AV_LOG_WARNING : AV_LOG_QUIET);
    const qvtest::VideoOptions options = CameraClip(640, 360, seconds, 1000000);
    const qvtest::EncodedVideo video = qvtest::EncodeVideo("libx264", options);
    qvtest::TempDir dir;
    if (cameras_only) {
        if (cameras > 0) ManyCameras(seconds, cameras, stagger, dir.Path("."));
        return 0;
    }
    // H.264, then HEVC (two slices a picture, as the joiner must learn) and MJPEG; then H.264
    // from a sender that gives every picture one RTP time (as GStreamer's RTSP server sends an
    // Annex B file), and with slices cut by size (x264 slice-max-size: their count changes).
    qvtest::RtpHabits one_time;
    one_time.one_time = true;
    const struct {
        const char* name;
        const char* encoder;
        qvtest::RtpPayload payload;
        const char* params;
        qvtest::RtpHabits habits;
    } codecs[] = {{"H.264", "libx264", qvtest::RtpPayload::kH264, "", {}},
                  {"HEVC", "libx265", qvtest::RtpPayload::kHevc, "slices=2:pools=1", {}},  // x265 slices want a pool
                  {"MJPEG", "mjpeg", qvtest::RtpPayload::kJpeg, "", {}},
                  {"H.264, one RTP time", "libx264", qvtest::RtpPayload::kH264, "", one_time},
                  {"H.264, slices by size", "libx264", qvtest::RtpPayload::kH264, "slice-max-size=1000", {}}};
    for (const auto& codec : codecs) {
        qvtest::VideoOptions o = options;
        o.x264_params = codec.params;
        if (codec.payload == qvtest::RtpPayload::kJpeg) o.bit_rate = 4000000;
        const qvtest::EncodedVideo clip = codec.encoder == std::string("libx264") && !*codec.params
                                              ? video
                                              : qvtest::EncodeVideo(codec.encoder, o);
        std::printf("Live hand-out latency, 640x360 %s at %d pictures/s, %d s, paced RTP on 127.0.0.1\n", codec.name,
                    kFps, seconds);
        const Figures mine = Ours(clip, dir.Path("."), codec.payload, codec.habits);
        Print("qvdecoder", mine, clip.packets.size());
        Figures peer;
        if (Gstreamer(clip, &peer, codec.payload, codec.habits)) {
            Print("GStreamer", peer, clip.packets.size());
            std::printf("difference of medians: %+.2f ms (target: at most 3 ms)\n", mine.median_ms - peer.median_ms);
        }
    }
    if (slow) {
        SlowHost(video, dir.Path("."), 0);
        SlowHost(video, dir.Path("."), 200);
    }
    if (cameras > 0) ManyCameras(seconds, cameras, stagger, dir.Path("."));
    return 0;
}
