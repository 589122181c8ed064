// The C interface, continued: file mode, raw extraction, output settings, snapshots and the
// result texts.
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

int qv_decode_frame(qv_decoder* decoder) {
    return Guarded(decoder, [](qv_decoder& d) -> int {
        if (d.mode == qv_decoder::Mode::kStream) return QV_ERR_NOT_FILE;
        return PictureResult(d, d.object.QVDecodeFrame());
    });
}

int qv_frame_timestamp(qv_decoder* decoder, int64_t* time_us) {
    return Answer(decoder, time_us, [](qv_decoder& d) { return d.object.QVGetFrameTimestamp(); });
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

int qv_raw_frame(qv_decoder* decoder, unsigned char* buffer, int size, qv_raw_info* info) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!buffer || size < 0) return QV_ERR_ARGUMENT;
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
    return Guarded(decoder, [](qv_decoder& d) -> int { return d.object.QVGetVideoRawFrameSize(); });
}

int qv_seek(qv_decoder* decoder, int64_t time_us, int flags) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (flags != QV_SEEK_ACCURATE && flags != QV_SEEK_KEY) return QV_ERR_ARGUMENT;
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

int qv_set_output(qv_decoder* decoder, int width, int height, int format, int high_quality) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        d.object.QVSetOutput(_picture_param{width, height, static_cast<PixelFormat>(format)},
                             high_quality ? 1 : 0);
        d.has_picture = false;
        return QV_OK;
    });
}

int qv_set_output_format(qv_decoder* decoder, int format, int high_quality) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        d.object.QVSetOutputFormat(static_cast<PixelFormat>(format), high_quality ? 1 : 0);
        d.has_picture = false;
        return QV_OK;
    });
}

int qv_set_output_resolution(qv_decoder* decoder, int width, int height, int high_quality) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        d.object.QVSetOutputResolution(width, height, high_quality ? 1 : 0);
        d.has_picture = false;
        return QV_OK;
    });
}

int qv_output_resolution(qv_decoder* decoder, int* width, int* height) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!width || !height) return QV_ERR_ARGUMENT;
        d.object.QVGetOutputResolution(*width, *height);
        return QV_OK;
    });
}

int qv_save_current_image(qv_decoder* decoder, const char* path) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!path) return QV_ERR_ARGUMENT;
        return d.object.QVSaveCurrentImage(path);
    });
}

int qv_save_output_image(qv_decoder* decoder, const char* path) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!path) return QV_ERR_ARGUMENT;
        return d.object.QVSaveOutputImage(path);
    });
}

int qv_save_picture(const char* path, const unsigned char* data, int width, int height, int format) {
    if (!path || !data) return QV_ERR_ARGUMENT;
    try {
        return SavePicture(path, const_cast<unsigned char*>(data), width, height,
                           static_cast<PixelFormat>(format));
    } catch (...) {
        return QV_FAILED;
    }
}

int qv_write_bmp(const char* path, const unsigned char* data, int width, int height) {
    if (!path || !data) return QV_ERR_ARGUMENT;
    try {
        return WriteBmpFile(path, const_cast<unsigned char*>(data), width, height);
    } catch (...) {
        return QV_FAILED;
    }
}

const char* qv_strerror(int code) {
    switch (code) {
        case QV_OK: return "Success.";
        case QV_AUDIO_PIECE: return "A piece of an audio packet was decoded.";
        case QV_FAILED: return "The call failed, or a pushed frame gave no picture yet.";
        case QV_ERR_OPEN_FILE: return "The file cannot be opened, or the packet belongs to another stream.";
        case QV_ERR_NO_PICTURE: return "A packet was read but gave no picture or audio.";
        case QV_ERR_END_OF_FILE: return "The end of the file was reached.";
        case QV_ERR_BAD_DATA: return "The data cannot be used.";
        case QV_ERR_NO_MEMORY: return "Out of memory.";
        case QV_ERR_NO_DECODER: return "No decoder for the codec.";
        case QV_ERR_NOT_OPEN: return "The decoder is not open.";
        case QV_ERR_TIMEOUT: return "The source gave nothing within the timeout, or the call was interrupted.";
        case QV_ERR_NETWORK: return "The source cannot be reached or failed.";
        case QV_ERR_NOT_SEEKABLE: return "The input cannot seek (a pipe or a live source).";
        case QV_ERR_AUDIO_OPEN: return "The combined open failed in its audio half.";
        case QV_ERR_ARGUMENT: return "A null handle or pointer, a negative length or a mode out of range was passed.";
        case QV_ERR_ALREADY_OPEN: return "The decoder is open already; close it before opening it again.";
        case QV_ERR_NOT_FILE: return "The decoder is open for pushed frames, not for a file.";
        default: return "Unknown result code.";
    }
}

}  // extern "C"
