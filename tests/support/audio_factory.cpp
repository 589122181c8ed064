// Audio for tests: made by FFmpeg's encoders in the test process, no binary fixtures.
#include "audio_factory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <memory>

#include "base/ffmpeg.h"

namespace qvtest {
namespace {

struct ContextFree { void operator()(AVCodecContext* c) const { avcodec_free_context(&c); } };
struct FrameFree { void operator()(AVFrame* f) const { av_frame_free(&f); } };
struct PacketFree { void operator()(AVPacket* p) const { av_packet_free(&p); } };
struct SwrFree { void operator()(SwrContext* s) const { swr_free(&s); } };
using ContextPtr = std::unique_ptr<AVCodecContext, ContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;

// ADTS header for one raw AAC-LC frame (no CRC).
Bytes AdtsFrame(const uint8_t* data, int size, int sample_rate, int channels) {
    static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                 22050, 16000, 12000, 11025, 8000, 7350};
    int rate_index = 4;
    for (int i = 0; i < 13; ++i) {
        if (kRates[i] == sample_rate) rate_index = i;
    }
    const int length = size + 7;
    Bytes out = {0xFF, 0xF1,
                 static_cast<uint8_t>((1 << 6) | (rate_index << 2) | (channels >> 2)),
                 static_cast<uint8_t>(((channels & 3) << 6) | (length >> 11)),
                 static_cast<uint8_t>((length >> 3) & 0xFF),
                 static_cast<uint8_t>(((length & 7) << 5) | 0x1F), 0xFC};
    out.insert(out.end(), data, data + size);
    return out;
}

void Drain(AVCodecContext* ctx, AVPacket* pkt, std::vector<Bytes>& out, bool adts) {
    while (avcodec_receive_packet(ctx, pkt) == 0) {
        if (adts) {
            out.push_back(AdtsFrame(pkt->data, pkt->size, ctx->sample_rate, ctx->ch_layout.nb_channels));
        } else {
            out.emplace_back(pkt->data, pkt->data + pkt->size);
        }
        av_packet_unref(pkt);
    }
}

}  // namespace

std::vector<int16_t> MakeTestSignal(int sample_rate, int channels, int samples_per_channel) {
    std::vector<int16_t> pcm(static_cast<size_t>(samples_per_channel) * channels);
    uint32_t noise = 12345;
    for (int i = 0; i < samples_per_channel; ++i) {
        const double t = static_cast<double>(i) / sample_rate;
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double v = 9000 * std::sin(2 * M_PI * (440 + 110 * c) * t) +
                             4000 * std::sin(2 * M_PI * 1250 * t) +
                             static_cast<int>(noise >> 22) - 512;
            pcm[static_cast<size_t>(i) * channels + c] = static_cast<int16_t>(std::lrint(v));
        }
    }
    return pcm;
}

std::vector<Bytes> EncodeAudio(int codec_id, int sample_rate, int channels, int bit_rate,
                               const std::vector<int16_t>& pcm) {
    std::vector<Bytes> out;
    const AVCodec* codec = avcodec_find_encoder(static_cast<AVCodecID>(codec_id));
    if (!codec) return out;
    ContextPtr ctx(avcodec_alloc_context3(codec));
    ctx->sample_rate = sample_rate;
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->bit_rate = bit_rate;
    ctx->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    ctx->time_base = AVRational{1, sample_rate};
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return out;

    SwrPtr swr;
    {
        SwrContext* s = nullptr;
        if (swr_alloc_set_opts2(&s, &ctx->ch_layout, ctx->sample_fmt, sample_rate, &ctx->ch_layout,
                                AV_SAMPLE_FMT_S16, sample_rate, 0, nullptr) < 0 || swr_init(s) < 0) {
            swr_free(&s);
            return {};
        }
        swr.reset(s);
    }
    const int frame_samples = ctx->frame_size > 0 ? ctx->frame_size : 1024;
    const int total = static_cast<int>(pcm.size()) / channels;
    FramePtr frame(av_frame_alloc());
    PacketPtr pkt(av_packet_alloc());
    const bool adts = codec_id == AV_CODEC_ID_AAC;
    for (int pos = 0; pos < total; pos += frame_samples) {
        const int n = std::min(frame_samples, total - pos);
        if (ctx->frame_size > 0 && n < frame_samples &&
            !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) {
            break;  // fixed-size encoders take whole frames only
        }
        av_frame_unref(frame.get());
        frame->nb_samples = n;
        frame->format = ctx->sample_fmt;
        frame->sample_rate = sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
        frame->pts = pos;
        if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
        const uint8_t* in = reinterpret_cast<const uint8_t*>(pcm.data() + static_cast<size_t>(pos) * channels);
        if (swr_convert(swr.get(), frame->data, n, &in, n) != n) return {};
        if (avcodec_send_frame(ctx.get(), frame.get()) < 0) return {};
        Drain(ctx.get(), pkt.get(), out, adts);
    }
    avcodec_send_frame(ctx.get(), nullptr);
    Drain(ctx.get(), pkt.get(), out, adts);
    return out;
}

std::vector<int16_t> DecodeToS16(int codec_id, int sample_rate, int channels, int bit_rate,
                                 const std::vector<Bytes>& packets, bool* ok) {
    *ok = false;
    std::vector<int16_t> out;
    const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(codec_id));
    if (!codec) return out;
    ContextPtr ctx(avcodec_alloc_context3(codec));
    ctx->sample_rate = sample_rate;
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->bit_rate = bit_rate;
    AVDictionary* options = nullptr;
    // G.722 at 56 and 48 kbit/s: 7 or 6 bits of each byte, its highest first.
    if (codec_id == AV_CODEC_ID_ADPCM_G722 && bit_rate > 0) av_dict_set_int(&options, "bits_per_codeword", bit_rate / 8000, 0);
    const int opened = avcodec_open2(ctx.get(), codec, &options);
    av_dict_free(&options);
    if (opened < 0) return out;
    FramePtr frame(av_frame_alloc());
    PacketPtr pkt(av_packet_alloc());
    for (const Bytes& p : packets) {
        if (av_new_packet(pkt.get(), static_cast<int>(p.size())) < 0) return out;
        std::copy(p.begin(), p.end(), pkt->data);
        if (avcodec_send_packet(ctx.get(), pkt.get()) < 0) return out;
        av_packet_unref(pkt.get());
        while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
            SwrContext* s = nullptr;
            if (swr_alloc_set_opts2(&s, &frame->ch_layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                    &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                    frame->sample_rate, 0, nullptr) < 0 || swr_init(s) < 0) {
                swr_free(&s);
                return out;
            }
            SwrPtr swr(s);
            const size_t start = out.size();
            out.resize(start + static_cast<size_t>(frame->nb_samples) * frame->ch_layout.nb_channels);
            uint8_t* dst = reinterpret_cast<uint8_t*>(out.data() + start);
            const int n = swr_convert(swr.get(), &dst, frame->nb_samples,
                                      const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
            if (n != frame->nb_samples) return out;
            av_frame_unref(frame.get());
        }
    }
    *ok = true;
    return out;
}

Bytes ReadFile(const std::string& path) {
    Bytes data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) data.insert(data.end(), chunk, chunk + n);
    std::fclose(f);
    return data;
}

std::vector<std::string> AsteriskG722Files() {
    // The package has used both folder names over its versions.
    std::vector<std::string> files;
    for (const char* dir_name : {"/usr/share/asterisk/sounds/en", "/usr/share/asterisk/sounds/en_US_f_Allison"}) {
        DIR* dir = opendir(dir_name);
        if (!dir) continue;
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".g722") == 0) {
                files.push_back(std::string(dir_name) + "/" + name);
            }
        }
        closedir(dir);
        if (!files.empty()) break;
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace qvtest
