// Stream-mode audio opens: audio alone, or video and audio together.
#include <new>

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "core/legacy_ids.h"
#include "core/library.h"
#include "g722/g722_decoder.h"
#include "g7221/g7221.h"

namespace {

constexpr int kAudioBufferSize = 192000;

}  // namespace

int QVDecoder::Impl::InitializeAudio(_video_param* param, int sample_rate, int bit_rate, int channels,
                               int codec) {
    param->sample_rate = sample_rate;
    param->channels = channels;
    param->audio_bit_rate = bit_rate;
    param->audio_codec_id = codec;
    // A second audio open replaces the buffer instead of leaking the first one.
    if (param->audio_buffer) av_freep(&param->audio_buffer);
    param->audio_buffer_size = kAudioBufferSize;
    param->audio_buffer = static_cast<unsigned char*>(av_malloc(kAudioBufferSize));
    ResetAudioDecoding();
    return param->audio_buffer ? 0 : -10006;
}

int QVDecoder::Impl::OpenG722Decoder(int sample_rate, int bit_rate, int channels) {
    // The first decoder stays for the object's life, with the parameters it was made with.
    if (g722_decoder) return 0;
    G722Decoder* decoder = new (std::nothrow) G722Decoder();
    if (!decoder) return -1;
    g722_decoder = decoder;
    if (g722_decoder->Initialize(sample_rate, bit_rate, channels) != 0) {
        delete g722_decoder;
        g722_decoder = nullptr;
        return -1;
    }
    return 0;
}

// Sets up the decoders that are not libavcodec's: the library's own G.722 decoder or
// libG7221. 0 when set up, -1 when it refused the parameters, 1 for any other codec.
int QVDecoder::Impl::SetUpOwnAudioDecoder(int codec, _audio_param audio) {
    if (codec == qv::kCodecG722) {
        return OpenG722Decoder(audio.sample_rate, audio.bit_rate, audio.channels) == 0 ? 0 : -1;
    }
    if (codec == qv::kCodecG7221) {
        return InitializeG7221Decoder(audio.sample_rate, audio.bit_rate) < 0 ? -1 : 0;
    }
    return 1;
}

// Opens libavcodec's decoder for an audio codec into audio_ctx. The two opens differ
// only in their messages and in the combined open's single failure code.
int QVDecoder::Impl::OpenAudioCodec(int codec, _audio_param audio, bool combined) {
    const int failure_no_memory = combined ? -10100 : -10006;
    const int failure_no_decoder = combined ? -10100 : -10007;
    AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
    if (!ctx) {
        QVClose();
        QVDECODE_LOG("QVOpenDecoder: failed to allocate audio context.", 15);
        return failure_no_memory;
    }
    audio_ctx.reset(ctx);
    ctx->sample_rate = audio.sample_rate;
    if (audio.channels > 0) av_channel_layout_default(&ctx->ch_layout, audio.channels);
    ctx->bit_rate = audio.bit_rate;
    // G.726 code words carry no size of their own: the bit rate over the sample rate gives it.
    if ((codec == AV_CODEC_ID_ADPCM_G726 || codec == AV_CODEC_ID_ADPCM_G726LE) && audio.sample_rate > 0) {
        ctx->bits_per_coded_sample = audio.bit_rate / audio.sample_rate;
    }
    ctx->thread_count = 1;

    std::unique_lock<std::mutex> lock(qv::GlobalLock());
    const AVCodec* decoder = codec >= 0 ? avcodec_find_decoder(static_cast<AVCodecID>(codec)) : nullptr;
    if (!decoder || decoder->type != AVMEDIA_TYPE_AUDIO) {
        lock.unlock();
        QVClose();
        QVDECODE_LOG(combined ? "QVOpenDecoder: no audio decoder found."
                              : "QVOpenDecoder: can't find the audio decoder.",
                     15);
        return failure_no_decoder;
    }
    if (combined) {
        // The combined open takes the lock separately for the look-up and the open.
        lock.unlock();
        lock.lock();
    }
    if (avcodec_open2(ctx, decoder, nullptr) != 0) {
        audio_ctx.reset();
        lock.unlock();
        QVClose();
        QVDECODE_LOG("QVOpenDecoder: failed to open audio codec.", 15);
        return failure_no_decoder;
    }
    return 0;
}

int QVDecoder::Impl::QVOpenDecoder(enum CodecID codec_in, _audio_param audio) {
    if (!qv::IsInitialized()) {
        QVDECODE_LOG("QVOpenDecoder: decoder has not been initinalized.", 15);
        return -1;
    }
    const int codec = qv::CodecFromLegacy(codec_in);
    if (audio_ctx) {
        // An audio decoder opened before is released, not leaked.
        std::lock_guard<std::mutex> lock(qv::GlobalLock());
        audio_ctx.reset();
    }
    const int own = SetUpOwnAudioDecoder(codec, audio);
    if (own < 0) {
        QVClose();
        return -1;
    }
    if (own > 0) {
        const int result = OpenAudioCodec(codec, audio, false);
        if (result != 0) return result;
    }
    if (InitializeAudio(&video_param, audio.sample_rate, audio.bit_rate, audio.channels, codec) != 0) {
        QVClose();
        return -10006;
    }
    audio_frame_size = video_param.audio_buffer_size;
    key_frame_seen = false;
    opened = true;
    return 0;
}

int QVDecoder::Impl::QVOpenDecoder(enum CodecID video_codec, _picture_param picture,
                             enum CodecID audio_codec, _audio_param audio) {
    if (!qv::IsInitialized()) {
        QVDECODE_LOG("QVOpenDecoder: decoder has not been initinalized.", 15);
        return -1;
    }
    if (opened) return 0;

    // Unlike the video-only open, the interlacing flags stay clear here.
    AVCodecContext* ctx = NewVideoContext(picture);
    if (!ctx) return -10006;

    const int av_video = qv::CodecFromLegacy(video_codec);
    const AVCodec* decoder = nullptr;
    {
        std::lock_guard<std::mutex> lock(qv::GlobalLock());
        decoder = av_video >= 0 ? avcodec_find_decoder(static_cast<AVCodecID>(av_video)) : nullptr;
    }
    if (!decoder || decoder->type != AVMEDIA_TYPE_VIDEO) {
        QVClose();
        QVDECODE_LOG("QVOpenDecoder:failed to find an decoder.", 15);
        return -10007;
    }
    {
        std::unique_lock<std::mutex> lock(qv::GlobalLock());
        if (avcodec_open2(ctx, decoder, nullptr) != 0) {
            video_ctx.reset();
            lock.unlock();
            QVClose();
            QVDECODE_LOG("QVOpenDecoder: failed to open the video codec.", 15);
            return -10007;
        }
    }

    RecordStreamPicture(ctx, av_video);
    const int buffer = AllocatePictureBuffer("QVOpenDecoder: wrong video buffer size.",
                                             "QVOpenDecoder: failed to allocate video buffer.");
    if (buffer != 0) return buffer;

    const int av_audio = qv::CodecFromLegacy(audio_codec);
    const int own = SetUpOwnAudioDecoder(av_audio, audio);
    if (own < 0) {
        QVClose();
        return -10100;
    }
    if (own > 0 && OpenAudioCodec(av_audio, audio, true) != 0) return -10100;
    if (InitializeAudio(&video_param, audio.sample_rate, audio.bit_rate, audio.channels, av_audio) != 0) {
        QVClose();
        return -10100;
    }
    audio_frame_size = video_param.audio_buffer_size;

    return FinishStreamVideoOpen();
}
