// The C interface for pushed streams: the video and audio decoder opens, pushed frames, the
// receive loop and the flush, and the audio they give.
#include <cstdint>

#include "capi/handle.h"

using namespace qv_c;

extern "C" {

int qv_open_video(qv_decoder* decoder, int codec, int width, int height, int format) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (width < 0 || height < 0) return QV_ERR_ARGUMENT;
        if (d.mode != qv_decoder::Mode::kNone) return QV_ERR_ALREADY_OPEN;
        const int result = d.object.QVOpenDecoder(static_cast<CodecID>(codec),
                                                  _picture_param{width, height, static_cast<PixelFormat>(format)});
        return Opened(d, qv_decoder::Mode::kStream, result);
    });
}

int qv_open_audio(qv_decoder* decoder, int codec, int sample_rate, int channels, int bit_rate) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        const int result = d.object.QVOpenDecoder(static_cast<CodecID>(codec),
                                                  _audio_param{sample_rate, channels, bit_rate});
        return Opened(d, qv_decoder::Mode::kStream, result);
    });
}

int qv_open_video_audio(qv_decoder* decoder, int video_codec, int width, int height, int format,
                        int audio_codec, int sample_rate, int channels, int bit_rate) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (width < 0 || height < 0) return QV_ERR_ARGUMENT;
        if (d.mode != qv_decoder::Mode::kNone) return QV_ERR_ALREADY_OPEN;
        const int result = d.object.QVOpenDecoder(
            static_cast<CodecID>(video_codec), _picture_param{width, height, static_cast<PixelFormat>(format)},
            static_cast<CodecID>(audio_codec), _audio_param{sample_rate, channels, bit_rate});
        return Opened(d, qv_decoder::Mode::kStream, result);
    });
}

int qv_set_picture_param(qv_decoder* decoder, int width, int height, int format) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        d.has_picture = false;
        return d.object.QVSetPictureParam(_picture_param{width, height, static_cast<PixelFormat>(format)});
    });
}

int qv_push_video(qv_decoder* decoder, const unsigned char* data, int length, int repack) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!data || length < 0) return QV_ERR_ARGUMENT;
        // The library only reads the pushed bytes; its older signature just lacks the const.
        return PictureResult(d, d.object.QVDecodeVideoFrame(const_cast<unsigned char*>(data), length, repack));
    });
}

int qv_receive_video(qv_decoder* decoder) {
    return Guarded(decoder, [](qv_decoder& d) -> int { return PictureResult(d, d.object.QVReceiveVideoFrame()); });
}

int qv_flush_video(qv_decoder* decoder) {
    return Guarded(decoder, [](qv_decoder& d) -> int { return d.object.QVFlushVideo(); });
}

int qv_push_audio(qv_decoder* decoder, const unsigned char* data, int length) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!data || length < 0) return QV_ERR_ARGUMENT;
        return d.object.QVDecodeAudioFrame(const_cast<unsigned char*>(data), length);
    });
}

int qv_audio(qv_decoder* decoder, const unsigned char** data, int* size) {
    return Guarded(decoder, [&](qv_decoder& d) -> int {
        if (!data || !size) return QV_ERR_ARGUMENT;
        *data = d.object.QVGetAudioFrame();
        *size = *data ? d.object.QVGetAudioFrameSize() : 0;
        if (*size < 0) *size = 0;
        return QV_OK;
    });
}

}  // extern "C"
