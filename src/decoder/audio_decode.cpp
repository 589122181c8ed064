// Decoding one compressed audio frame into the audio buffer, and the audio accessors.
//
// Result of DecodeAudioFrame (callers test its sign; file mode also advances by it):
//  - G.722 and G.722.1: the decoded byte count (0: nothing came out).
//  - libavcodec decoders: input bytes accounted for, always > 0 when audio came out.
//    Stream mode (pushed frames): the packet is sent once and every frame it yields is
//    converted to interleaved signed 16-bit and laid end to end in the audio buffer; the
//    result is the whole size.
//    File mode (format_ctx and audio_stream set): one decoded frame per call. The first
//    call for a packet sends it; while the packet still holds frames after the one handed
//    out, the result is 1 (one byte accounted), so the caller advances by 1 and calls again
//    with the rest of the packet, whose bytes are not looked at again. The call that hands
//    out the packet's last frame (or finds it held none) reports all remaining bytes, so the
//    caller's offset reaches the packet's end exactly when its audio is exhausted. When only
//    one byte remains and frames are left, they are all laid end to end in this call.
//  - Negative on failure: -10005 (audio_frame_size set to 0 when the decoder refused the
//    data or the decoded audio does not fit the 192000-byte buffer; audio is never cut).
#include <cstring>

#include "core/decoder_impl.h"
#include "core/ffmpeg.h"
#include "core/legacy_ids.h"
#include "g722/g722_decoder.h"
#include "g7221/g7221.h"

void QVDecoder::Impl::ResetAudioDecoding() {
    resampler.reset();
    resampler_format = -1;
    resampler_rate = 0;
    resampler_channels = 0;
    audio_packet_sent = false;
    if (audio_next_frame) av_frame_unref(audio_next_frame.get());
}

int QVDecoder::Impl::AppendAudio(const AVFrame* decoded, int offset) {
    const int channels = decoded->ch_layout.nb_channels;
    if (channels <= 0 || decoded->nb_samples <= 0) return 0;
    const int64_t bytes = static_cast<int64_t>(decoded->nb_samples) * channels * 2;
    if (offset + bytes > video_param.audio_buffer_size) return -1;  // refused, never truncated

    if (!resampler || resampler_format != decoded->format || resampler_rate != decoded->sample_rate ||
        resampler_channels != channels) {
        resampler.reset();
        SwrContext* swr = nullptr;
        // FFmpeg 5.1 takes the layouts by non-const pointer but only reads them.
        AVChannelLayout* layout = const_cast<AVChannelLayout*>(&decoded->ch_layout);
        // Same rate and layout in and out: only the sample format and the interleaving change.
        if (swr_alloc_set_opts2(&swr, layout, AV_SAMPLE_FMT_S16, decoded->sample_rate,
                                layout, static_cast<AVSampleFormat>(decoded->format),
                                decoded->sample_rate, 0, nullptr) < 0 ||
            swr_init(swr) < 0) {
            swr_free(&swr);
            return -1;
        }
        resampler.reset(swr);
        resampler_format = decoded->format;
        resampler_rate = decoded->sample_rate;
        resampler_channels = channels;
    }
    uint8_t* out = video_param.audio_buffer + offset;
    const int converted = swr_convert(resampler.get(), &out, decoded->nb_samples,
                                      const_cast<const uint8_t**>(decoded->extended_data),
                                      decoded->nb_samples);
    if (converted != decoded->nb_samples) return -1;
    return static_cast<int>(bytes);
}

int QVDecoder::Impl::DecodeAudioWithCodec(AVCodecContext* ctx, const uint8_t* data, int size,
                                    bool file_mode) {
    if (!frame) frame.reset(av_frame_alloc());
    if (!audio_next_frame) audio_next_frame.reset(av_frame_alloc());
    if (!work_packet) work_packet.reset(av_packet_alloc());
    if (!frame || !audio_next_frame || !work_packet) return -1;

    const bool continuing = file_mode && audio_packet_sent;
    if (!continuing) {
        // An empty packet would put the decoder into draining: it is no frame at all.
        if (!data || size <= 0) return -1;
        av_frame_unref(audio_next_frame.get());
        const uint8_t* padded = PadInput(data, size);
        if (!padded) return -1;
        av_packet_unref(work_packet.get());
        work_packet->buf = av_buffer_ref(input_buffer.get());
        if (!work_packet->buf) return -1;
        work_packet->data = const_cast<uint8_t*>(padded);
        work_packet->size = size;
        int status = avcodec_send_packet(ctx, work_packet.get());
        if (status == AVERROR(EAGAIN)) {
            // Frames of an earlier packet were never collected: they make room first.
            while (avcodec_receive_frame(ctx, frame.get()) == 0) av_frame_unref(frame.get());
            status = avcodec_send_packet(ctx, work_packet.get());
        }
        av_packet_unref(work_packet.get());
        if (status < 0) return -1;
        audio_packet_sent = file_mode;
    }

    // Receives the next frame of the packet, the one fetched ahead first.
    auto next = [&](AVFrame* into) {
        if (audio_next_frame->nb_samples > 0) {
            av_frame_move_ref(into, audio_next_frame.get());
            return 0;
        }
        return avcodec_receive_frame(ctx, into);
    };

    int written = 0;
    for (;;) {
        const int received = next(frame.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
        if (received < 0) {
            audio_packet_sent = false;
            return -1;
        }
        const int bytes = AppendAudio(frame.get(), written);
        av_frame_unref(frame.get());
        if (bytes < 0) {
            ResetAudioDecoding();
            return -1;
        }
        written += bytes;
        if (!file_mode) continue;
        // One frame per call in file mode, unless a single byte is left to account for.
        if (size > 1 && avcodec_receive_frame(ctx, audio_next_frame.get()) == 0) {
            audio_frame_size = written;
            return 1;
        }
        if (size > 1) break;
    }
    audio_packet_sent = false;
    audio_frame_size = written;
    return size > 0 ? size : 1;
}

int QVDecoder::Impl::DecodeAudioFrame(const uint8_t* data, int size) {
    const int codec = video_param.audio_codec_id;
    int bytes = 0;
    int result;
    if (codec == qv::kCodecG722) {
        if (!g722_decoder &&
            OpenG722Decoder(video_param.sample_rate, video_param.audio_bit_rate, video_param.channels) != 0) {
            return -10005;
        }
        const int per_byte = g722_decoder->sample_rate_hz() == 16000 ? 4 : 2;
        // Input whose samples would not fit the buffer is refused whole.
        if (!video_param.audio_buffer || (size > 0 && !data) ||
            static_cast<int64_t>(size) * per_byte > video_param.audio_buffer_size) {
            result = -1;
        } else {
            g722_decoder->Decode(reinterpret_cast<int16_t*>(video_param.audio_buffer), &bytes, data, size);
            result = size < 0 ? -1 : bytes;
        }
    } else if (codec == qv::kCodecG7221) {
        result = video_param.audio_buffer
                     ? DecodeG7221AudioFrame(const_cast<unsigned char*>(data), size,
                                             video_param.audio_buffer, video_param.audio_buffer_size)
                     : -1;
        bytes = result > 0 ? result : 0;
    } else {
        const bool file_mode = format_ctx && audio_stream;
        AVCodecContext* ctx = file_mode ? file_audio_ctx.get() : audio_ctx.get();
        if (!ctx || !video_param.audio_buffer) {
            QVDECODE_LOG("DecodeAudioFrame: bad audio context.", 15);
            return -10005;
        }
        result = DecodeAudioWithCodec(ctx, data, size, file_mode);
        if (result >= 0) return result;  // audio_frame_size is already set
    }
    if (result < 0) {
        QVDECODE_LOG("DecodeAudioFrame: bad audio frame data.", 31);
        audio_frame_size = 0;
        return -10005;
    }
    audio_frame_size = bytes;
    return result;
}

int QVDecoder::Impl::QVDecodeAudioFrame(unsigned char* data, int size) {
    return DecodeAudioFrame(data, size) > 0 ? 0 : -1;
}

unsigned char* QVDecoder::Impl::QVGetAudioFrame() { return video_param.audio_buffer; }

int QVDecoder::Impl::QVGetAudioFrameSize() { return audio_frame_size; }
