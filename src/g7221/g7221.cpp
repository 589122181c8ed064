// G.722.1 decoding through libavcodec's "siren" decoder, which takes one whole frame per
// packet and derives the bit rate from the packet size.
#include "g7221.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "../base/ffmpeg.h"

namespace {

constexpr int kSamplesPerFrame = 320;
constexpr int kBytesPerOutputFrame = kSamplesPerFrame * 2;

struct DecoderState {
    std::mutex lock;
    AVCodecContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int frame_bytes = 0;  // input bytes per 20 ms frame

    void Release() {
        avcodec_free_context(&ctx);
        av_packet_free(&packet);
        av_frame_free(&frame);
        frame_bytes = 0;
    }
    ~DecoderState() { Release(); }
};

DecoderState& State() {
    static DecoderState state;
    return state;
}

int16_t ToS16(float sample) {
    const long value = std::lrint(sample * 32768.0f);
    return static_cast<int16_t>(value < -32768 ? -32768 : (value > 32767 ? 32767 : value));
}

// Decodes one frame into out (320 samples); false when the decoder refuses it.
bool DecodeOneFrame(DecoderState& s, const uint8_t* in, int16_t* out) {
    // The packet's own buffer carries libavcodec's zero padding behind the frame.
    if (av_new_packet(s.packet, s.frame_bytes) < 0) return false;
    std::memcpy(s.packet->data, in, static_cast<size_t>(s.frame_bytes));
    const int sent = avcodec_send_packet(s.ctx, s.packet);
    av_packet_unref(s.packet);
    if (sent < 0) return false;
    bool produced = false;
    while (avcodec_receive_frame(s.ctx, s.frame) == 0) {
        if (!produced && s.frame->format == AV_SAMPLE_FMT_FLT &&
            s.frame->nb_samples == kSamplesPerFrame) {
            const float* samples = reinterpret_cast<const float*>(s.frame->data[0]);
            for (int i = 0; i < kSamplesPerFrame; ++i) out[i] = ToS16(samples[i]);
            produced = true;
        }
        av_frame_unref(s.frame);
    }
    return produced;
}

}  // namespace

extern "C" int InitializeG7221Decoder(int sample_rate, int bit_rate) {
    if (sample_rate != 16000) return -1;
    if (bit_rate != 24000 && bit_rate != 32000) return -1;
    DecoderState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.Release();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_SIREN);
    if (!codec) return -2;
    s.ctx = avcodec_alloc_context3(codec);
    s.packet = av_packet_alloc();
    s.frame = av_frame_alloc();
    if (!s.ctx || !s.packet || !s.frame) {
        s.Release();
        return -3;
    }
    s.ctx->sample_rate = sample_rate;
    s.ctx->bit_rate = bit_rate;
    av_channel_layout_default(&s.ctx->ch_layout, 1);
    s.ctx->thread_count = 1;
    if (avcodec_open2(s.ctx, codec, nullptr) < 0) {
        s.Release();
        return -4;
    }
    s.frame_bytes = bit_rate / 400;
    return 0;
}

extern "C" int DecodeG7221AudioFrame(unsigned char* in, int in_bytes, unsigned char* out,
                                     int out_capacity) {
    if (!in || !out || in_bytes < 0 || out_capacity < 0) return -1;
    DecoderState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.ctx) return -1;
    if (in_bytes == 0) return 0;
    if (in_bytes % s.frame_bytes != 0) return -1;
    const int frames = in_bytes / s.frame_bytes;
    if (frames > out_capacity / kBytesPerOutputFrame) return -1;  // refused whole, never cut

    int16_t samples[kSamplesPerFrame];
    for (int f = 0; f < frames; ++f) {
        if (!DecodeOneFrame(s, in + static_cast<size_t>(f) * s.frame_bytes, samples)) {
            std::memset(samples, 0, sizeof(samples));
        }
        std::memcpy(out + static_cast<size_t>(f) * kBytesPerOutputFrame, samples, sizeof(samples));
    }
    return frames * kBytesPerOutputFrame;
}
