// Methods beyond the classic interface.
#include "core/decoder_impl.h"
#include "core/ffmpeg.h"

int QVDecoder::Impl::QVDecoderSetThreads(int count) {
    if (count < 0 || count > 64) return -1;
    thread_request = count;
    return 0;
}

int QVDecoder::Impl::QVDecoderSetLatencyMode(enum latency_mode mode) {
    if (mode != LATENCY_MODE_LOW && mode != LATENCY_MODE_COMPLETE) return -1;
    latency = mode;
    return 0;
}

int QVDecoder::Impl::QVGetPictureFlags() { return picture_flags; }

int QVDecoder::Impl::QVReceiveVideoFrame() { return -1; }

int QVDecoder::Impl::QVFlushVideo() { return video_ctx ? 0 : -1; }
