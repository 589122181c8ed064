// The C interface for files and live sources: the open, decoding, times, seeks, raw
// extraction, and the timeout and interrupt of sources that can stall.
#include <cstdint>

#include "capi/handle.h"

using namespace qv_c;

extern "C" {

int qv_open_file(qv_decoder* decoder, const char* path) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!path) return QV_ERR_ARGUMENT;
        if (d.mode != qv_decoder::Mode::kNone) return QV_ERR_ALREADY_OPEN;
        return Opened(d, qv_decoder::Mode::kFile, d.object.QVOpen(path));
    });
}

const char* qv_open_error(qv_decoder* decoder) {
    if (!decoder) return "";
    try {
        return decoder->object.QVGetOpenError();
    } catch (...) {
        return "";
    }
}

int qv_decode_frame(qv_decoder* decoder) {
    return Guarded(decoder, [](qv_decoder& d) -> int {
        if (PushedStream(d)) return QV_ERR_NOT_FILE;
        return PictureResult(d, d.object.QVDecodeFrame());
    });
}

int qv_frame_timestamp(qv_decoder* decoder, int64_t* time_us) {
    return Answer(decoder, time_us, [](qv_decoder& d) { return d.object.QVGetFrameTimestamp(); });
}

int qv_picture_time(qv_decoder* decoder, int64_t* time_us) {
    return Answer(decoder, time_us,
                  [](qv_decoder& d) { return d.has_picture ? d.object.QVGetPictureTime() : int64_t{-1}; });
}

int qv_set_timeout(qv_decoder* decoder, int timeout_ms) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        return timeout_ms < 0 ? QV_ERR_ARGUMENT : d.object.QVDecoderSetTimeout(timeout_ms);
    });
}

int qv_set_network_option(qv_decoder* decoder, const char* key, const char* value) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!key || !*key) return QV_ERR_ARGUMENT;
        return d.object.QVDecoderSetNetworkOption(key, value);
    });
}

int qv_interrupt(qv_decoder* decoder) {
    // Touches nothing of the handle but the object's interrupt flag: another call may be running.
    return Guarded(decoder, [](qv_decoder& d) -> int {
        d.object.QVInterrupt();
        return QV_OK;
    });
}

int qv_picture_wallclock(qv_decoder* decoder, int64_t* time_us) {
    return Answer(decoder, time_us,
                  [](qv_decoder& d) { return d.has_picture ? d.object.QVGetPictureWallclock() : int64_t{-1}; });
}

int qv_picture_delay(qv_decoder* decoder, int64_t* delay_us) {
    return Answer(decoder, delay_us, [](qv_decoder& d) { return d.object.QVGetPictureDelay(); });
}

int qv_set_max_latency(qv_decoder* decoder, int max_latency_ms) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        return max_latency_ms < 0 ? QV_ERR_ARGUMENT : d.object.QVDecoderSetMaxLatency(max_latency_ms);
    });
}

int qv_skipped_pictures(qv_decoder* decoder, int64_t* count) {
    return Answer(decoder, count, [](qv_decoder& d) { return d.object.QVGetSkippedPictures(); });
}

int qv_raw_frame(qv_decoder* decoder, unsigned char* buffer, int size, qv_raw_info* info) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!buffer || size < 0) return QV_ERR_ARGUMENT;
        if (PushedStream(d)) return QV_ERR_NOT_FILE;
        int header_length = 0, key = 0, position = 0;
        int64_t timestamp_ms = 0;
        const int bytes = d.object.QVGetVideoRawFrame(buffer, size, header_length, timestamp_ms, key, position);
        if (info) {
            // The library hands over libavformat's packet flags; only the key bit is promised.
            *info = qv_raw_info{header_length, timestamp_ms, key & 1, position};
        }
        return bytes;
    });
}

int qv_raw_frame_size(qv_decoder* decoder) {
    return Guarded(decoder, [](qv_decoder& d) -> int {
        return PushedStream(d) ? QV_ERR_NOT_FILE : d.object.QVGetVideoRawFrameSize();
    });
}

int qv_seek(qv_decoder* decoder, int64_t time_us, int flags) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (flags != QV_SEEK_ACCURATE && flags != QV_SEEK_KEY) return QV_ERR_ARGUMENT;
        if (PushedStream(d)) return QV_ERR_NOT_FILE;
        return d.object.QVSeek(time_us, flags);
    });
}

int qv_set_frame_skip(qv_decoder* decoder, int mode) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (mode < QV_SKIP_NONE || mode > QV_SKIP_NONKEY) return QV_ERR_ARGUMENT;
        return d.object.QVDecoderSetFrameSkip(mode);
    });
}

int qv_duration(qv_decoder* decoder, int64_t* duration_us) {
    return Answer(decoder, duration_us, [](qv_decoder& d) { return d.object.QVGetDuration(); });
}

int qv_start_time(qv_decoder* decoder, int64_t* start_us) {
    return Answer(decoder, start_us, [](qv_decoder& d) { return d.object.QVGetStartTime(); });
}

int qv_frame_count(qv_decoder* decoder, int64_t* frames) {
    return Answer(decoder, frames, [](qv_decoder& d) { return d.object.QVGetFrameCount(); });
}

int qv_video_bit_rate(qv_decoder* decoder, int64_t* bit_rate) {
    return Answer(decoder, bit_rate, [](qv_decoder& d) { return d.object.QVGetStatedVideoBitRate(); });
}

int qv_audio_bit_rate(qv_decoder* decoder, int64_t* bit_rate) {
    return Answer(decoder, bit_rate, [](qv_decoder& d) { return d.object.QVGetStatedAudioBitRate(); });
}

}  // extern "C"
