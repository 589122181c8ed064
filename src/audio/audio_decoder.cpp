#include "audio/audio_decoder.h"

#include <cstring>
#include <mutex>
#include <new>

#include "base/ffmpeg.h"
#include "base/legacy_ids.h"
#include "base/library.h"
#include "g722/g722_decoder.h"
#include "g7221/g7221.h"

namespace qv {
namespace {

constexpr int kAudioBufferSize = 192000;

}  // namespace

AudioDecoder::AudioDecoder(const Logger& log) : log_(log) { std::memset(&audio_param, 0, sizeof(audio_param)); }

AudioDecoder::~AudioDecoder() { Release(); }

int AudioDecoder::InitializeAudio(int sample_rate, int bit_rate, int channels, int codec) {
    audio_param.sample_rate = sample_rate;
    audio_param.channels = channels;
    audio_param.audio_bit_rate = bit_rate;
    audio_param.audio_codec_id = codec;
    // A second audio open replaces the buffer instead of leaking the first one.
    if (audio_param.audio_buffer) av_freep(&audio_param.audio_buffer);
    audio_param.audio_buffer_size = kAudioBufferSize;
    audio_param.audio_buffer = static_cast<unsigned char*>(av_malloc(kAudioBufferSize));
    ResetAudioDecoding();
    if (!audio_param.audio_buffer) return -10006;
    audio_frame_size = audio_param.audio_buffer_size;
    return 0;
}

int AudioDecoder::OpenG722Decoder(int sample_rate, int bit_rate, int channels) {
    // The first decoder stays for the object's life, with the parameters it was made with.
    if (g722_decoder_) return 0;
    G722Decoder* decoder = new (std::nothrow) G722Decoder();
    if (!decoder) return -1;
    if (decoder->Initialize(sample_rate, bit_rate, channels) != 0) {
        delete decoder;
        return -1;
    }
    g722_decoder_ = decoder;
    return 0;
}

int AudioDecoder::SetUpOwnAudioDecoder(int codec, _audio_param audio) {
    if (codec == kCodecG722) return OpenG722Decoder(audio.sample_rate, audio.bit_rate, audio.channels) == 0 ? 0 : -1;
    if (codec == kCodecG7221) return InitializeG7221Decoder(audio.sample_rate, audio.bit_rate) < 0 ? -1 : 0;
    return 1;
}

// The two stream opens differ only in their messages and in the combined open's single
// failure code.
int AudioDecoder::OpenAudioCodec(int codec, _audio_param audio, bool combined, const char** message) {
    const int failure_no_memory = combined ? -10100 : -10006;
    const int failure_no_decoder = combined ? -10100 : -10007;
    CloseStreamContext();
    AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
    if (!ctx) {
        *message = "QVOpenDecoder: failed to allocate audio context.";
        return failure_no_memory;
    }
    ctx_.reset(ctx);
    file_context_ = false;
    ctx->sample_rate = audio.sample_rate;
    if (audio.channels > 0) av_channel_layout_default(&ctx->ch_layout, audio.channels);
    ctx->bit_rate = audio.bit_rate;
    // G.726 code words carry no size of their own: the bit rate over the sample rate gives it.
    if ((codec == AV_CODEC_ID_ADPCM_G726 || codec == AV_CODEC_ID_ADPCM_G726LE) && audio.sample_rate > 0) {
        ctx->bits_per_coded_sample = audio.bit_rate / audio.sample_rate;
    }
    ctx->thread_count = 1;

    std::unique_lock<std::mutex> lock(GlobalLock());
    const AVCodec* decoder = codec >= 0 ? avcodec_find_decoder(static_cast<AVCodecID>(codec)) : nullptr;
    if (!decoder || decoder->type != AVMEDIA_TYPE_AUDIO) {
        *message = combined ? "QVOpenDecoder: no audio decoder found." : "QVOpenDecoder: can't find the audio decoder.";
        return failure_no_decoder;
    }
    if (combined) {
        // The combined open takes the lock separately for the look-up and the open.
        lock.unlock();
        lock.lock();
    }
    if (avcodec_open2(ctx, decoder, nullptr) != 0) {
        ctx_.reset();
        *message = "QVOpenDecoder: failed to open audio codec.";
        return failure_no_decoder;
    }
    return 0;
}

void AudioDecoder::AdoptFileContext(AVCodecContext* ctx) {
    ctx_.reset(ctx);
    file_context_ = true;
}

void AudioDecoder::CloseStreamContext() {
    if (!ctx_) return;
    if (file_context_) {
        ctx_.reset();
        return;
    }
    std::lock_guard<std::mutex> lock(GlobalLock());
    ctx_.reset();
}

void AudioDecoder::ResetAudioDecoding() {
    resampler_.reset();
    resampler_format_ = -1;
    resampler_rate_ = 0;
    resampler_channels_ = 0;
    packet_sent_ = false;
    if (next_frame_) av_frame_unref(next_frame_.get());
}

int AudioDecoder::AppendAudio(const AVFrame* decoded, int offset) {
    const int channels = decoded->ch_layout.nb_channels;
    if (channels <= 0 || decoded->nb_samples <= 0) return 0;
    const int64_t bytes = static_cast<int64_t>(decoded->nb_samples) * channels * 2;
    if (offset + bytes > audio_param.audio_buffer_size) return -1;  // refused, never truncated

    if (!resampler_ || resampler_format_ != decoded->format || resampler_rate_ != decoded->sample_rate ||
        resampler_channels_ != channels) {
        resampler_.reset();
        SwrContext* swr = nullptr;
        // FFmpeg 5.1 takes the layouts by non-const pointer but only reads them.
        AVChannelLayout* layout = const_cast<AVChannelLayout*>(&decoded->ch_layout);
        // Same rate and layout in and out: only the sample format and the interleaving change.
        if (swr_alloc_set_opts2(&swr, layout, AV_SAMPLE_FMT_S16, decoded->sample_rate, layout,
                                static_cast<AVSampleFormat>(decoded->format), decoded->sample_rate, 0, nullptr) < 0 ||
            swr_init(swr) < 0) {
            swr_free(&swr);
            return -1;
        }
        resampler_.reset(swr);
        resampler_format_ = decoded->format;
        resampler_rate_ = decoded->sample_rate;
        resampler_channels_ = channels;
    }
    uint8_t* out = audio_param.audio_buffer + offset;
    const int converted = swr_convert(resampler_.get(), &out, decoded->nb_samples,
                                      const_cast<const uint8_t**>(decoded->extended_data), decoded->nb_samples);
    if (converted != decoded->nb_samples) return -1;
    return static_cast<int>(bytes);
}

int AudioDecoder::DecodeWithCodec(const uint8_t* data, int size, bool file_mode, const AVPacket* notes) {
    AVCodecContext* ctx = ctx_.get();
    if (!frame_) frame_.reset(av_frame_alloc());
    if (!next_frame_) next_frame_.reset(av_frame_alloc());
    if (!frame_ || !next_frame_) return -1;

    const bool continuing = file_mode && packet_sent_;
    piece_pts_ = AV_NOPTS_VALUE;
    if (!continuing) {
        // An empty packet would put the decoder into draining: it is no frame at all.
        if (!data || size <= 0) return -1;
        av_frame_unref(next_frame_.get());
        int status = input_.Send(ctx, data, size, notes);
        if (status == AVERROR(EAGAIN)) {
            // Frames of an earlier packet were never collected: they make room first.
            while (avcodec_receive_frame(ctx, frame_.get()) == 0) av_frame_unref(frame_.get());
            status = input_.Send(ctx, data, size, notes);
        }
        if (status < 0) return -1;
        packet_sent_ = file_mode;
    }

    // Receives the next frame of the packet, the one fetched ahead first.
    auto next = [&](AVFrame* into) {
        if (next_frame_->nb_samples > 0) {
            av_frame_move_ref(into, next_frame_.get());
            return 0;
        }
        return avcodec_receive_frame(ctx, into);
    };

    int written = 0;
    for (;;) {
        const int received = next(frame_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
        if (received < 0) {
            packet_sent_ = false;
            return -1;
        }
        if (written == 0) piece_pts_ = frame_->pts;
        const int bytes = AppendAudio(frame_.get(), written);
        av_frame_unref(frame_.get());
        if (bytes < 0) {
            ResetAudioDecoding();
            return -1;
        }
        written += bytes;
        if (!file_mode) continue;
        // One frame per call in file mode, unless a single byte is left to account for.
        if (size > 1 && avcodec_receive_frame(ctx, next_frame_.get()) == 0) {
            audio_frame_size = written;
            return 1;
        }
        if (size > 1) break;
    }
    packet_sent_ = false;
    audio_frame_size = written;
    return size > 0 ? size : 1;
}

int AudioDecoder::DecodeAudioFrame(const uint8_t* data, int size, bool file_mode, const AVPacket* notes) {
    const int codec = audio_param.audio_codec_id;
    int bytes = 0;
    int result;
    if (codec == kCodecG722) {
        if (!g722_decoder_ &&
            OpenG722Decoder(audio_param.sample_rate, audio_param.audio_bit_rate, audio_param.channels) != 0) {
            return -10005;
        }
        const int per_byte = g722_decoder_->sample_rate_hz() == 16000 ? 4 : 2;
        // Input whose samples would not fit the buffer is refused whole.
        if (!audio_param.audio_buffer || (size > 0 && !data) ||
            static_cast<int64_t>(size) * per_byte > audio_param.audio_buffer_size) {
            result = -1;
        } else {
            g722_decoder_->Decode(reinterpret_cast<int16_t*>(audio_param.audio_buffer), &bytes, data, size);
            result = size < 0 ? -1 : bytes;
        }
    } else if (codec == kCodecG7221) {
        result = audio_param.audio_buffer ? DecodeG7221AudioFrame(const_cast<unsigned char*>(data), size,
                                                                  audio_param.audio_buffer,
                                                                  audio_param.audio_buffer_size)
                                          : -1;
        bytes = result > 0 ? result : 0;
    } else {
        if (!ctx_ || !audio_param.audio_buffer) {
            log_.Log("DecodeAudioFrame: bad audio context.", 15);
            return -10005;
        }
        result = DecodeWithCodec(data, size, file_mode, notes);
        if (result >= 0) return result;  // audio_frame_size is already set
    }
    if (result < 0) {
        log_.Log("DecodeAudioFrame: bad audio frame data.", 31);
        audio_frame_size = 0;
        return -10005;
    }
    audio_frame_size = bytes;
    return result;
}

void AudioDecoder::Release() {
    CloseStreamContext();
    delete g722_decoder_;
    g722_decoder_ = nullptr;
    if (audio_param.audio_buffer) av_freep(&audio_param.audio_buffer);
    std::memset(&audio_param, 0, sizeof(audio_param));
    audio_frame_size = 0;
    // Also drops a frame received ahead of the host, which holds decoded samples.
    ResetAudioDecoding();
    input_.Release();
    if (frame_) av_frame_unref(frame_.get());
}

void AudioDecoder::Restart() {
    packet_sent_ = false;
    if (ctx_ && file_context_) avcodec_flush_buffers(ctx_.get());
}

}  // namespace qv
