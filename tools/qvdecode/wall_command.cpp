// qvdecode wall: a live camera wall. One decoder object and one thread per camera, each
// picture scaled into its tile of one mosaic, written as PNG every --every seconds; a status
// line per camera once a second (pictures/s, age, skipped, damaged, outages; JSON lines with
// --json), a latency budget on by default, and reconnects with growing pauses.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "image_writer.h"
#include "live_stats.h"
#include "tool_common.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace qvtool {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The mosaic all cameras draw into: packed RGB24, one tile per camera.
class Mosaic {
public:
    Mosaic(int cols, int rows, int tile_w, int tile_h)
        : cols_(cols), tile_w_(tile_w), tile_h_(tile_h), width_(cols * tile_w), height_(rows * tile_h),
          pixels_(static_cast<size_t>(width_) * height_ * 3, 0) {}
    void Draw(int index, const uint8_t* tile) {
        const int x0 = (index % cols_) * tile_w_, y0 = (index / cols_) * tile_h_;
        std::lock_guard<std::mutex> lock(mutex_);
        for (int y = 0; y < tile_h_; ++y) {
            std::memcpy(&pixels_[(static_cast<size_t>(y0 + y) * width_ + x0) * 3],
                        tile + static_cast<size_t>(y) * tile_w_ * 3, static_cast<size_t>(tile_w_) * 3);
        }
    }
    std::string Write(const std::string& path) {
        std::vector<uint8_t> copy;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            copy = pixels_;
        }
        return WriteEncodedImage(path, SnapshotFormat::kPng, copy.data(), static_cast<int>(copy.size()), width_,
                                 height_, AV_PIX_FMT_RGB24);
    }

private:
    int cols_, tile_w_, tile_h_, width_, height_;
    std::mutex mutex_;
    std::vector<uint8_t> pixels_;
};

// One camera: its thread decodes and draws; the counters are read by the status line.
struct Camera {
    std::string url;
    int index = 0;
    std::atomic<int64_t> pictures{0}, damaged{0}, skipped{0}, outages{0};
    // Of the last picture: from the arrival of its last packet to its hand-out (senders'
    // capture clocks are too often off to tell an age from).
    std::atomic<int64_t> age_us{-1};
    std::atomic<bool> connected{false};
    int64_t reported = 0;  // pictures at the last status line (main thread only)
    QVDecoder decoder;
    std::thread thread;
};

void Run(Camera& cam, const WallOptions& o, int tile_w, int tile_h, Mosaic& mosaic, std::atomic<bool>& stop) {
    QVDecoder& d = cam.decoder;
    auto pause = std::chrono::milliseconds(250);
    int64_t skipped_before = 0;  // of the objects opened before the last reopen
    while (!stop) {
        d.QVDecoderSetTimeout(static_cast<int>(o.timeout * 1000 + 0.5));
        d.QVDecoderSetMaxLatency(o.max_latency_ms);
        d.QVDecoderSetFastDecode(o.exact ? 0 : 1);
        if (!o.transport.empty()) d.QVDecoderSetNetworkOption("rtsp_transport", o.transport.c_str());
        if (d.QVOpen(cam.url.c_str()) != 0) {
            ++cam.outages;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(4000));
            continue;
        }
        cam.connected = true;
        pause = std::chrono::milliseconds(250);
        d.QVSetOutput(_picture_param{tile_w, tile_h, PIX_FMT_RGB24}, 0);
        for (;;) {
            const int result = d.QVDecodeFrame();
            cam.skipped = skipped_before + d.QVGetSkippedPictures();
            if (stop) break;
            if (result == 0) {
                ++cam.pictures;
                if (d.QVGetPictureFlags() & QV_PICTURE_DAMAGED) ++cam.damaged;
                cam.age_us = d.QVGetPictureDelay();
                const unsigned char* tile = d.QVGetVideoFrame();
                if (tile && d.QVGetVideoFrameSize() >= tile_w * tile_h * 3) mosaic.Draw(cam.index, tile);
            } else if (result == QV_ERR_END_OF_FILE || result == QV_ERR_TIMEOUT || result == QV_ERR_NETWORK) {
                break;  // the camera went away: reconnect
            }
        }
        skipped_before = cam.skipped;
        // Still connected when the wall stopped it: the totals say "away" only of a camera
        // that went away.
        if (!stop) cam.connected = false;
        d.QVClose();
        if (!stop) ++cam.outages;
    }
}

void Status(std::vector<std::unique_ptr<Camera>>& cameras, double seconds, bool final) {
    for (auto& cam : cameras) {
        const int64_t pictures = cam->pictures;
        const double rate = final ? pictures / std::max(seconds, 1e-3) : static_cast<double>(pictures - cam->reported);
        cam->reported = pictures;
        const double age_ms = cam->age_us < 0 ? -1.0 : cam->age_us / 1000.0;
        if (JsonOutput()) {
            JsonObject json;
            json.Text("camera", PrintableName(cam->url));
            json.Number("index", cam->index);
            json.Number(final ? "pictures" : "time", final ? static_cast<double>(pictures) : std::round(seconds));
            json.Number("pictures_per_second", std::round(rate * 10) / 10);
            json.Number("age_ms", std::round(age_ms * 10) / 10);
            json.Number("skipped", static_cast<double>(cam->skipped));
            json.Number("damaged", static_cast<double>(cam->damaged));
            json.Number("outages", static_cast<double>(cam->outages));
            json.Print();
        } else {
            std::printf("%s camera %d %s: %.1f pictures/s, age %.0f ms, %" PRId64 " skipped, %" PRId64
                        " damaged, %" PRId64 " outages%s\n",
                        final ? "total" : "     ", cam->index, PrintableName(cam->url).c_str(), rate, age_ms,
                        static_cast<int64_t>(cam->skipped), static_cast<int64_t>(cam->damaged),
                        static_cast<int64_t>(cam->outages), cam->connected ? "" : " (away)");
        }
    }
    std::fflush(stdout);
}

}  // namespace

int RunWall(const WallOptions& o) {
    int tile_w = 0, tile_h = 0;
    if (!ParseSize(o.size, &tile_w, &tile_h)) return Fail(kExitUsage, "--size wants WxH, not '" + o.size + "'");
    const int n = static_cast<int>(o.urls.size());
    const int cols = o.cols > 0 ? o.cols : static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
    const int rows = (n + cols - 1) / cols;
    Mosaic mosaic(cols, rows, tile_w, tile_h);
    std::atomic<bool> stop{false};
    std::vector<std::unique_ptr<Camera>> cameras;
    for (int i = 0; i < n; ++i) {
        auto cam = std::make_unique<Camera>();
        cam->url = o.urls[static_cast<size_t>(i)];
        cam->index = i;
        InstallLog(cam->decoder, o.verbose);
        cameras.push_back(std::move(cam));
    }
    for (auto& cam : cameras) {
        Camera& c = *cam;
        c.thread = std::thread([&c, &o, tile_w, tile_h, &mosaic, &stop] { Run(c, o, tile_w, tile_h, mosaic, stop); });
    }
    const SteadyClock::time_point start = SteadyClock::now();
    SteadyClock::time_point next_status = start + std::chrono::seconds(1);
    SteadyClock::time_point next_png = start + std::chrono::milliseconds(static_cast<int64_t>(o.every * 1000));
    int written = 0;
    std::string failure;
    for (;;) {
        const SteadyClock::time_point now = SteadyClock::now();
        const double seconds = std::chrono::duration<double>(now - start).count();
        if (o.duration >= 0 && seconds >= o.duration) break;
        if (now >= next_png) {
            failure = mosaic.Write(o.out);
            if (!failure.empty()) break;
            ++written;
            next_png += std::chrono::milliseconds(static_cast<int64_t>(o.every * 1000));
        }
        if (now >= next_status) {
            Status(cameras, seconds, false);
            next_status += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    QuietLibraryLog();
    for (auto& cam : cameras) cam->decoder.QVInterrupt();
    for (auto& cam : cameras) cam->thread.join();
    if (!failure.empty()) return Fail(kExitOutput, "writing '" + o.out + "' failed: " + failure);
    if (written == 0) {
        failure = mosaic.Write(o.out);
        if (!failure.empty()) return Fail(kExitOutput, "writing '" + o.out + "' failed: " + failure);
    }
    Status(cameras, std::chrono::duration<double>(SteadyClock::now() - start).count(), true);
    int64_t total = 0;
    for (auto& cam : cameras) total += cam->pictures;
    return total > 0 ? kExitOk : Fail(kExitFailed, "no camera gave a picture");
}

}  // namespace qvtool
