// One camera of the wall: its thread opens, decodes into its tile and reconnects with growing
// pauses; its figures are read by the status lines and the HTTP server from other threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "QVDecoder.h"
#include "commands.h"
#include "wall_mosaic.h"

namespace qvtool {

enum class CameraState { kConnecting, kLive, kAway };
const char* CameraStateName(CameraState state);  // "connecting", "live", "away"

// Microseconds on the steady clock.
int64_t SteadyNowUs();

// The figures of one camera at one moment, as the status lines and /status.json show them.
struct CameraFigures {
    int index = 0;
    std::string name;  // the address, password masked
    CameraState state = CameraState::kConnecting;
    int64_t pictures = 0, skipped = 0, damaged = 0, outages = 0;
    double pictures_per_second = 0;
    double age_ms = -1;          // how old the picture on show is; negative before the first
    bool age_from_capture = false;  // counted from the sender's capture clock, else from arrival
};

struct Camera {
    std::string url;
    std::string name;  // url with its password masked
    int index = 0;
    std::atomic<int64_t> pictures{0}, damaged{0}, skipped{0}, outages{0};
    std::atomic<int> state{static_cast<int>(CameraState::kConnecting)};
    // When the picture on show was captured (or arrived, without the sender's clock), on the
    // steady clock: its age keeps growing while the camera is away. -1 before the first.
    std::atomic<int64_t> born_us{-1};
    std::atomic<bool> age_from_capture{false};
    std::atomic<double> rate{0};  // pictures/s since the last status line (set by the status loop)
    int64_t reported = 0;         // pictures at the last status line (status loop only)
    QVDecoder decoder;
    std::thread thread;

    CameraFigures Figures(int64_t now_us) const;
};

// The camera's thread: runs until stop, then returns with the decoder closed.
void RunCamera(Camera& cam, const WallOptions& o, Mosaic& mosaic, const std::atomic<bool>& stop);

}  // namespace qvtool
