#include "ps_muxer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/ffmpeg.h"

namespace qvtest {
namespace {

int WritePacket(void* opaque, uint8_t* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(opaque);
    out->insert(out->end(), data, data + size);
    return size;
}

// One second of a 440 Hz tone as MP2 frames.
std::vector<EncodedPacket> EncodeTone(AVCodecParameters* parameters) {
    std::vector<EncodedPacket> out;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MP2);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = 48000;
    ctx->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->bit_rate = 64000;
    ctx->time_base = AVRational{1, 48000};
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    avcodec_parameters_from_context(parameters, ctx);
    AVFrame* frame = av_frame_alloc();
    frame->nb_samples = ctx->frame_size;
    frame->format = ctx->sample_fmt;
    av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
    av_frame_get_buffer(frame, 0);
    AVPacket* pkt = av_packet_alloc();
    for (int64_t t = 0; t < 48000; t += ctx->frame_size) {
        av_frame_make_writable(frame);
        auto* s = reinterpret_cast<int16_t*>(frame->data[0]);
        for (int i = 0; i < ctx->frame_size; ++i) s[i] = static_cast<int16_t>(8000 * std::sin((t + i) * 0.0576));
        frame->pts = t;
        avcodec_send_frame(ctx, frame);
        while (avcodec_receive_packet(ctx, pkt) == 0) {
            EncodedPacket p;
            p.data.assign(pkt->data, pkt->data + pkt->size);
            p.pts = pkt->pts;
            out.push_back(std::move(p));
            av_packet_unref(pkt);
        }
    }
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return out;
}

}  // namespace

std::vector<uint8_t> MuxProgramStream(const EncodedVideo& video, const std::string& muxer, bool with_audio) {
    std::vector<uint8_t> out;
    AVFormatContext* fmt = nullptr;
    EXPECT_GE(avformat_alloc_output_context2(&fmt, nullptr, muxer.c_str(), nullptr), 0);
    if (!fmt) return out;
    const int io_size = 4096;
    auto* io_buffer = static_cast<unsigned char*>(av_malloc(io_size));
    fmt->pb = avio_alloc_context(io_buffer, io_size, 1, &out, nullptr, &WritePacket, nullptr);

    AVStream* vs = avformat_new_stream(fmt, nullptr);
    vs->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    vs->codecpar->codec_id = static_cast<AVCodecID>(video.codec_id);
    vs->codecpar->width = video.width;
    vs->codecpar->height = video.height;
    vs->time_base = AVRational{1, video.fps};
    std::vector<EncodedPacket> audio;
    AVStream* as = nullptr;
    if (with_audio) {
        as = avformat_new_stream(fmt, nullptr);
        audio = EncodeTone(as->codecpar);
        as->time_base = AVRational{1, 48000};
    }
    EXPECT_GE(avformat_write_header(fmt, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    size_t a = 0;
    for (size_t i = 0; i < video.packets.size(); ++i) {
        const int64_t video_time = static_cast<int64_t>(i) * 48000 / video.fps;
        while (as && a < audio.size() && audio[a].pts <= video_time) {
            av_new_packet(pkt, static_cast<int>(audio[a].data.size()));
            std::memcpy(pkt->data, audio[a].data.data(), audio[a].data.size());
            pkt->stream_index = as->index;
            pkt->pts = pkt->dts = av_rescale_q(audio[a].pts, AVRational{1, 48000}, as->time_base);
            EXPECT_GE(av_interleaved_write_frame(fmt, pkt), 0);
            ++a;
        }
        av_new_packet(pkt, static_cast<int>(video.packets[i].data.size()));
        std::memcpy(pkt->data, video.packets[i].data.data(), video.packets[i].data.size());
        pkt->stream_index = vs->index;
        pkt->pts = pkt->dts = av_rescale_q(static_cast<int64_t>(i), AVRational{1, video.fps}, vs->time_base);
        if (video.packets[i].key) pkt->flags |= AV_PKT_FLAG_KEY;
        EXPECT_GE(av_interleaved_write_frame(fmt, pkt), 0);
    }
    av_write_trailer(fmt);
    av_packet_free(&pkt);
    av_freep(&fmt->pb->buffer);  // the context may have replaced the buffer it was given
    avio_context_free(&fmt->pb);
    avformat_free_context(fmt);
    return out;
}

std::vector<std::vector<uint8_t>> CutAtPacks(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> packs;
    size_t start = 0;
    for (size_t i = 1; i + 3 < stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && stream[i + 3] == 0xBA) {
            packs.emplace_back(stream.begin() + static_cast<long>(start), stream.begin() + static_cast<long>(i));
            start = i;
        }
    }
    if (start < stream.size()) packs.emplace_back(stream.begin() + static_cast<long>(start), stream.end());
    return packs;
}

}  // namespace qvtest
