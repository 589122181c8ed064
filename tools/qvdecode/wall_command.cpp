// qvdecode wall: a live camera wall. One decoder object and one thread per camera, each
// picture scaled into its tile of one mosaic, written as PNG every --every seconds; a status
// line per camera once a second (state, pictures/s, age, skipped, damaged, outages; JSON
// lines with --json), a latency budget on by default, and reconnects with growing pauses.
// With --http the wall is also served to browsers while it runs.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "commands.h"
#include "image_writer.h"
#include "live_stats.h"
#include "stop_signal.h"
#include "tool_common.h"
#include "wall_camera.h"
#include "wall_mosaic.h"
#include "wall_server.h"
#include "wall_status.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace qvtool {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The mosaic as shown (marks drawn) to a temporary name beside the output, then renamed over
// it: a reader never finds a half-written picture.
std::string WritePng(const Mosaic& mosaic, const std::string& path) {
    std::vector<uint8_t> rgb;
    mosaic.CopyAll(&rgb);
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    std::string failure = WriteEncodedImage(temporary, SnapshotFormat::kPng, rgb.data(), static_cast<int>(rgb.size()),
                                            mosaic.width(), mosaic.height(), AV_PIX_FMT_RGB24);
    if (failure.empty() && std::rename(temporary.c_str(), path.c_str()) != 0) failure = std::strerror(errno);
    if (!failure.empty()) std::remove(temporary.c_str());
    return failure;
}

}  // namespace

int RunWall(const WallOptions& o) {
    int tile_w = 0, tile_h = 0;
    if (!ParseSize(o.size, &tile_w, &tile_h)) return Fail(kExitUsage, "--size wants WxH, not '" + o.size + "'");
    if (!CheckOutputSize(tile_w, tile_h, 0)) return kExitUsage;
    std::string http_host;
    int http_port = -1;
    if (!o.http.empty() && !ParseHttpAddress(o.http, &http_host, &http_port)) {
        return Fail(kExitUsage, "--http wants [ADDR:]PORT, not '" + o.http + "'");
    }
    const int n = static_cast<int>(o.urls.size());
    const int cols = o.cols > 0 ? o.cols : static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
    Mosaic mosaic(n, cols, tile_w, tile_h);
    // Each camera's own lines say what happens to it, once per change: the library's
    // "network error" for every reconnect of every camera would bury them.
    if (!o.verbose) QuietLibraryLog();
    std::vector<std::unique_ptr<Camera>> cameras;
    for (int i = 0; i < n; ++i) {
        auto cam = std::make_unique<Camera>();
        cam->url = o.urls[static_cast<size_t>(i)];
        cam->name = PrintableName(cam->url);
        cam->index = i;
        InstallLog(cam->decoder, o.verbose);
        cameras.push_back(std::move(cam));
    }
    std::unique_ptr<WallServer> server;
    if (http_port >= 0) {
        // Pictures copied and encoded for clients are large and short-lived, on many threads:
        // always from and back to the system, not kept by each thread's malloc arena.
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
        std::signal(SIGPIPE, SIG_IGN);  // a client gone mid-answer is the server's to notice, not a signal
        server = std::make_unique<WallServer>(mosaic, [&cameras, &mosaic] { return StatusJson(Snapshot(cameras), mosaic); });
        const int port = server->Start(http_host, http_port);
        if (port < 0) return Fail(kExitUsage, "--http: cannot listen on " + o.http);
        const bool v6 = http_host.find(':') != std::string::npos;
        std::fprintf(stderr, "qvdecode: the wall is at http://%s%s%s:%d/\n", v6 ? "[" : "", http_host.c_str(),
                     v6 ? "]" : "", port);
    }
    InstallStopHandlers();
    std::atomic<bool> stop{false};
    for (auto& cam : cameras) {
        Camera& c = *cam;
        c.thread = std::thread([&c, &o, &mosaic, &stop] { RunCamera(c, o, mosaic, stop); });
    }
    const SteadyClock::time_point start = SteadyClock::now();
    SteadyClock::time_point next_status = start + std::chrono::seconds(1);
    SteadyClock::time_point last_status = start;
    SteadyClock::time_point next_png = start + std::chrono::milliseconds(static_cast<int64_t>(o.every * 1000));
    int written = 0;
    std::string failure;
    for (;;) {
        const SteadyClock::time_point now = SteadyClock::now();
        const double seconds = std::chrono::duration<double>(now - start).count();
        if ((o.duration >= 0 && seconds >= o.duration) || StopRequested()) break;
        if (now >= next_png) {
            failure = WritePng(mosaic, o.out);
            if (!failure.empty()) break;
            ++written;
            next_png += std::chrono::milliseconds(static_cast<int64_t>(o.every * 1000));
        }
        if (now >= next_status) {
            // Over the time since the last line, which a loaded machine stretches past a second.
            const double interval = std::chrono::duration<double>(now - last_status).count();
            last_status = now;
            for (auto& cam : cameras) {
                const int64_t pictures = cam->pictures;
                cam->rate = static_cast<double>(pictures - cam->reported) / interval;
                cam->reported = pictures;
            }
            PrintStatus(Snapshot(cameras), seconds, false);
            next_status += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    QuietLibraryLog();
    for (auto& cam : cameras) cam->decoder.QVInterrupt();
    for (auto& cam : cameras) cam->thread.join();
    if (server) server->Stop();
    if (!failure.empty()) return Fail(kExitOutput, "writing '" + o.out + "' failed: " + failure);
    if (written == 0) {
        failure = WritePng(mosaic, o.out);
        if (!failure.empty()) return Fail(kExitOutput, "writing '" + o.out + "' failed: " + failure);
    }
    PrintStatus(Snapshot(cameras), std::chrono::duration<double>(SteadyClock::now() - start).count(), true);
    // Stopped by Ctrl-C or SIGTERM: the shell's code for it, after the totals.
    if (StopRequested()) return kExitStopped;
    int64_t total = 0;
    for (auto& cam : cameras) total += cam->pictures;
    return total > 0 ? kExitOk : Fail(kExitFailed, "no camera gave a picture");
}

}  // namespace qvtool
