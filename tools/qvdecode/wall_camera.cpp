#include "wall_camera.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "live_stats.h"
#include "tool_common.h"

namespace qvtool {
namespace {

// A capture time further off than this says the sender's clock is wrong, not the picture old.
constexpr int64_t kCaptureAgeLimitUs = 60 * 1000000LL;

int64_t SystemNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One line per change of the camera's condition (not per failed reconnect), naming the camera.
void Say(const Camera& cam, const std::string& what) {
    std::fprintf(stderr, "qvdecode: camera %d %s: %s\n", cam.index, cam.name.c_str(), PrintableName(what).c_str());
}

// Sleeps up to `pause`, waking early when the wall stops.
void Pause(std::chrono::milliseconds pause, const std::atomic<bool>& stop) {
    const auto end = std::chrono::steady_clock::now() + pause;
    while (!stop && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

const char* CameraStateName(CameraState state) {
    switch (state) {
        case CameraState::kLive: return "live";
        case CameraState::kAway: return "away";
        case CameraState::kConnecting: break;
    }
    return "connecting";
}

int64_t SteadyNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

CameraFigures Camera::Figures(int64_t now_us) const {
    CameraFigures f;
    f.index = index;
    f.name = name;
    f.state = static_cast<CameraState>(state.load());
    f.pictures = pictures;
    f.skipped = skipped;
    f.damaged = damaged;
    f.outages = outages;
    f.pictures_per_second = rate;
    const int64_t born = born_us;
    f.age_ms = born < 0 ? -1.0 : std::max<int64_t>(0, now_us - born) / 1000.0;
    f.age_from_capture = age_from_capture;
    return f;
}

void RunCamera(Camera& cam, const WallOptions& o, Mosaic& mosaic, const std::atomic<bool>& stop) {
    QVDecoder& d = cam.decoder;
    const int tile_w = mosaic.tile_width(), tile_h = mosaic.tile_height();
    auto pause = std::chrono::milliseconds(250);
    int64_t skipped_before = 0;  // of the objects opened before the last reopen
    bool reached = false;        // a picture came since the wall started
    bool picture_since_loss = false;
    std::string said;            // the last condition reported, so that a retry says nothing new
    auto report = [&](const std::string& what) {
        if (what != said) Say(cam, what);
        said = what;
    };
    // Waits before the next attempt, twice as long each time up to 4 s.
    auto back_off = [&] {
        Pause(pause, stop);
        pause = std::min(pause * 2, std::chrono::milliseconds(4000));
    };
    while (!stop) {
        d.QVDecoderSetTimeout(static_cast<int>(o.timeout * 1000 + 0.5));
        d.QVDecoderSetMaxLatency(o.max_latency_ms);
        d.QVDecoderSetFastDecode(o.exact ? 0 : 1);  // a tile cannot show the full picture
        if (!o.transport.empty()) d.QVDecoderSetNetworkOption("rtsp_transport", o.transport.c_str());
        const int opened = d.QVOpen(cam.url.c_str());
        if (stop) break;
        if (opened != 0) {
            const std::string why = d.QVGetOpenError();
            report((reached ? "away, cannot reconnect: " : "cannot connect: ") + ResultText(opened) +
                   (why.empty() ? "" : " (" + why + ")"));
            back_off();
            continue;
        }
        pause = std::chrono::milliseconds(250);
        d.QVSetOutput(_picture_param{tile_w, tile_h, PIX_FMT_RGB24}, 0);
        std::string lost;
        for (;;) {
            ClearFFmpegReason();
            const int result = d.QVDecodeFrame();
            cam.skipped = skipped_before + d.QVGetSkippedPictures();
            if (stop) break;
            if (result == 0) {
                ++cam.pictures;
                if (d.QVGetPictureFlags() & QV_PICTURE_DAMAGED) ++cam.damaged;
                // The age at hand-out: from capture where the sender's reports tell it and
                // its clock is plausible, else from the arrival of the picture's last packet.
                const int64_t now = SteadyNowUs();
                const int64_t wallclock = d.QVGetPictureWallclock();
                const int64_t capture_age = wallclock > 0 ? SystemNowUs() - wallclock : -1;
                const bool from_capture = capture_age >= 0 && capture_age <= kCaptureAgeLimitUs;
                cam.born_us = now - (from_capture ? capture_age : std::max<int64_t>(0, d.QVGetPictureDelay()));
                cam.age_from_capture = from_capture;
                const unsigned char* tile = d.QVGetVideoFrame();
                if (tile && d.QVGetVideoFrameSize() >= tile_w * tile_h * 3) mosaic.Draw(cam.index, tile);
                if (cam.state != static_cast<int>(CameraState::kLive)) {
                    if (!said.empty()) Say(cam, "live");
                    said.clear();
                    cam.state = static_cast<int>(CameraState::kLive);
                    mosaic.SetMark(cam.index, TileMark::kNone);
                }
                reached = picture_since_loss = true;
            } else if (result == QV_ERR_END_OF_FILE || result == QV_ERR_TIMEOUT || result == QV_ERR_NETWORK) {
                lost = ResultText(result) + FFmpegReason();
                break;  // the camera went away: reconnect
            }
        }
        skipped_before = cam.skipped;
        d.QVClose();
        // Stopped by the wall: neither an outage nor away.
        if (stop) break;
        // One outage from the loss to the next picture, however many reconnects it takes.
        if (picture_since_loss) ++cam.outages;
        picture_since_loss = false;
        if (reached) {
            cam.state = static_cast<int>(CameraState::kAway);
            mosaic.SetMark(cam.index, TileMark::kAway);
        }
        report((reached ? "away: " : "cannot connect: ") + lost);
        back_off();
    }
}

}  // namespace qvtool
