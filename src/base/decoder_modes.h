// The object's modes as the host set them, read by the stream and file paths at their
// opens and pushes, and the outcome of an open step.
#pragma once

#include <cstdint>

#include "QVDecoder.h"

namespace qv {

// 8192 x 4320 (DCI 8K): above any camera's picture, far below what hurts a host.
constexpr int64_t kDefaultMaxPixels = 8192LL * 4320LL;

inline bool OverLimit(int64_t width, int64_t height, int64_t max_pixels) {
    return width > 0 && height > 0 && width * height > max_pixels;
}

struct DecoderModes {
    enum code_mode code_mode = CODE_MODE_FRAME;
    enum transfer_mode transfer_mode = TRANSFER_MODE_FRAME;
    enum output_mode output_mode = OUTPUT_MODE_ALL;
    int demux = 0;
    int latency = LATENCY_MODE_LOW;
    int thread_request = 1;
    int64_t max_pixels = kDefaultMaxPixels;  // largest decoded picture accepted
    // File streams the host chose by index: -2 the library's choice, -1 none.
    int video_stream = -2;
    int audio_stream = -2;

    // The host takes every picture (receive loop, flush): pictures may wait in the decoder.
    // Field-coded frames need both fields' pictures within their push, so they never wait.
    bool CompleteOutput() const { return latency == LATENCY_MODE_COMPLETE && code_mode != CODE_MODE_FIELD; }
};

// What an open step ends with: its result code and, on failure, the message to log and
// whether the whole object is closed first (the classic opens close it on most failures).
struct OpenOutcome {
    int code = 0;
    const char* message = nullptr;
    bool close = false;

    static OpenOutcome Done() { return OpenOutcome{}; }
    static OpenOutcome Closed(int code, const char* message) { return OpenOutcome{code, message, true}; }
    static OpenOutcome Kept(int code, const char* message) { return OpenOutcome{code, message, false}; }
};

}  // namespace qv
