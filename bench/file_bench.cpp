// File mode: decoding a 20 s 1280x720 H.264 mp4 with QVDecodeFrame, and raw extraction,
// against bare libavformat/libavcodec loops doing the same work in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "QVDecoder.h"
#include "core/ffmpeg.h"
#include "file_factory.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

const std::string& ClipPath() {
    static qvtest::TempDir dir;
    static std::string path;
    if (path.empty()) {
        qvtest::MediaFile media;
        media.muxer = "mp4";
        qvtest::VideoTrack track;
        track.width = kWidth;
        track.height = kHeight;
        track.fps = 25;
        track.gop = 50;
        media.video.push_back(track);
        media.frames = 20 * 25;
        path = dir.Path("clip720.mp4");
        const std::string error = qvtest::WriteMediaFile(path, media);
        if (!error.empty()) std::fprintf(stderr, "cannot make the clip: %s\n", error.c_str());
    }
    return path;
}

void DecodeOurs(benchmark::State& state, bool convert) {
    const std::string& path = ClipPath();
    int64_t pictures = 0;
    for (auto _ : state) {
        QVDecoder d;
        if (convert) d.QVSetOutput(_picture_param{kWidth, kHeight, PIX_FMT_BGR24}, 0);
        if (d.QVOpen(path.c_str()) != 0) {
            state.SkipWithError("open failed");
            return;
        }
        for (int r = d.QVDecodeFrame(); r != -10003; r = d.QVDecodeFrame()) {
            if (r == 0) ++pictures;
            benchmark::DoNotOptimize(d.QVGetVideoFrame());
        }
    }
    state.SetItemsProcessed(pictures);
}

struct Bare {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* ctx = nullptr;
    int stream = -1;
    ~Bare() {
        avcodec_free_context(&ctx);
        avformat_close_input(&fmt);
    }
    bool Open(const std::string& path, bool with_decoder) {
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) != 0) return false;
        if (avformat_find_stream_info(fmt, nullptr) < 0) return false;
        stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream < 0 || !with_decoder) return stream >= 0;
        const AVCodec* codec = avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
        ctx = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(ctx, fmt->streams[stream]->codecpar);
        ctx->thread_count = 1;
        return avcodec_open2(ctx, codec, nullptr) == 0;
    }
};

// The same work without the library: read, decode one picture per packet, lay it out
// contiguously, scale it when converting, and drain the decoder at the end.
void DecodeBare(benchmark::State& state, bool convert) {
    const std::string& path = ClipPath();
    int64_t pictures = 0;
    std::vector<uint8_t> picture(av_image_get_buffer_size(AV_PIX_FMT_YUV420P, kWidth, kHeight, 1));
    std::vector<uint8_t> output(av_image_get_buffer_size(AV_PIX_FMT_BGR24, kWidth, kHeight, 1));
    for (auto _ : state) {
        Bare bare;
        if (!bare.Open(path, true)) {
            state.SkipWithError("open failed");
            return;
        }
        SwsContext* sws = nullptr;
        AVFrame* frame = av_frame_alloc();
        AVPacket* pkt = av_packet_alloc();
        const auto deliver = [&] {
            if (avcodec_receive_frame(bare.ctx, frame) != 0) return false;
            av_image_copy_to_buffer(picture.data(), static_cast<int>(picture.size()), frame->data, frame->linesize,
                                    AV_PIX_FMT_YUV420P, kWidth, kHeight, 1);
            if (convert) {
                if (!sws)
                    sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_BGR24,
                                         SWS_BILINEAR, nullptr, nullptr, nullptr);
                uint8_t* src[4];
                int src_lines[4];
                uint8_t* dst[4];
                int dst_lines[4];
                av_image_fill_arrays(src, src_lines, picture.data(), AV_PIX_FMT_YUV420P, kWidth, kHeight, 1);
                av_image_fill_arrays(dst, dst_lines, output.data(), AV_PIX_FMT_BGR24, kWidth, kHeight, 1);
                sws_scale(sws, src, src_lines, 0, kHeight, dst, dst_lines);
            }
            ++pictures;
            benchmark::DoNotOptimize(output.data());
            return true;
        };
        while (av_read_frame(bare.fmt, pkt) >= 0) {
            if (pkt->stream_index == bare.stream) {
                avcodec_send_packet(bare.ctx, pkt);
                deliver();
            }
            av_packet_unref(pkt);
        }
        avcodec_send_packet(bare.ctx, nullptr);
        while (deliver()) {
        }
        sws_freeContext(sws);
        av_packet_free(&pkt);
        av_frame_free(&frame);
    }
    state.SetItemsProcessed(pictures);
}

void RawOurs(benchmark::State& state) {
    const std::string& path = ClipPath();
    std::vector<unsigned char> buffer(4 << 20);
    int64_t packets = 0;
    for (auto _ : state) {
        QVDecoder d;
        if (d.QVOpen(path.c_str()) != 0) {
            state.SkipWithError("open failed");
            return;
        }
        int64_t time = 0;
        int key = 0;
        while (d.QVGetVideoRawFrame(buffer.data(), static_cast<int>(buffer.size()), time, key) > 0) ++packets;
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(packets);
}

void RawBare(benchmark::State& state) {
    const std::string& path = ClipPath();
    int64_t packets = 0;
    for (auto _ : state) {
        Bare bare;
        if (!bare.Open(path, false)) {
            state.SkipWithError("open failed");
            return;
        }
        AVPacket* pkt = av_packet_alloc();
        while (av_read_frame(bare.fmt, pkt) >= 0) {
            if (pkt->stream_index == bare.stream) ++packets;
            benchmark::DoNotOptimize(pkt->data);
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
    }
    state.SetItemsProcessed(packets);
}

// Ours and bare alternate so that a slow spell of the machine hits both sides alike; the
// figures are CPU time, since the machine's other work would otherwise count as ours.
BENCHMARK_CAPTURE(DecodeOurs, yuv, false)->Name("file_decode_720p/ours")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeBare, yuv, false)->Name("file_decode_720p/bare")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeOurs, bgr, true)->Name("file_decode_720p_bgr24/ours")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeBare, bgr, true)->Name("file_decode_720p_bgr24/bare")->Unit(benchmark::kMillisecond);
BENCHMARK(RawOurs)->Name("file_raw_extract/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(RawBare)->Name("file_raw_extract/bare")->Unit(benchmark::kMillisecond);

}  // namespace
