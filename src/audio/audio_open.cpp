// Stream-mode audio opens (audio alone, or video and audio together) and pushed audio.

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "core/legacy_ids.h"

int QVDecoder::Impl::QVOpenDecoder(enum CodecID codec_in, _audio_param params) {
    if (!CheckInitialized()) return -1;
    const int codec = qv::CodecFromLegacy(codec_in);
    // An audio decoder opened before is released, not leaked.
    audio.CloseStreamContext();
    const int own = audio.SetUpOwnAudioDecoder(codec, params);
    if (own < 0) {
        QVClose();
        return -1;
    }
    if (own > 0) {
        const char* message = nullptr;
        const int result = audio.OpenAudioCodec(codec, params, false, &message);
        if (result != 0) {
            QVClose();
            QVDECODE_LOG(message, 15);
            return result;
        }
    }
    if (audio.InitializeAudio(params.sample_rate, params.bit_rate, params.channels, codec) != 0) {
        QVClose();
        return -10006;
    }
    key_frame_seen = false;
    opened = true;
    return 0;
}

int QVDecoder::Impl::QVOpenDecoder(enum CodecID video_codec, _picture_param requested, enum CodecID audio_codec,
                                   _audio_param params) {
    if (!CheckInitialized()) return -1;
    if (opened) return 0;
    if (const int result = OpenStreamVideo(video_codec, requested, true); result != 0) return result;

    const int av_audio = qv::CodecFromLegacy(audio_codec);
    const int own = audio.SetUpOwnAudioDecoder(av_audio, params);
    if (own < 0) {
        QVClose();
        return -10100;
    }
    if (own > 0) {
        const char* message = nullptr;
        if (audio.OpenAudioCodec(av_audio, params, true, &message) != 0) {
            QVClose();
            QVDECODE_LOG(message, 15);
            return -10100;
        }
    }
    if (audio.InitializeAudio(params.sample_rate, params.bit_rate, params.channels, av_audio) != 0) {
        QVClose();
        return -10100;
    }
    return FinishStreamVideoOpen();
}

int QVDecoder::Impl::QVDecodeAudioFrame(unsigned char* data, int size) {
    return audio.DecodeAudioFrame(data, size, file.is_open() && file.audio_stream()) > 0 ? 0 : -1;
}
