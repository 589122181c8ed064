// Stream-mode decoding of pushed H.264 frames against a bare libavcodec loop doing the
// same work (decode, copy to one contiguous buffer, scale when converting).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include "QVDecoder.h"
#include "core/ffmpeg.h"
#include "media_factory.h"

namespace {

const qvtest::EncodedVideo& Clip(int width, int height) {
    static std::map<int, qvtest::EncodedVideo> clips;
    auto it = clips.find(width);
    if (it == clips.end()) {
        qvtest::VideoOptions o;
        o.width = width;
        o.height = height;
        o.frames = 50;
        o.gop = 25;
        o.bit_rate = width >= 1920 ? 6000000 : 3000000;
        it = clips.emplace(width, qvtest::EncodeVideo("libx264", o)).first;
    }
    return it->second;
}

void Ours(benchmark::State& state, int width, int height, bool convert) {
    const auto& clip = Clip(width, height);
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& p : clip.packets) frames.push_back(p.data);
    int64_t pictures = 0;
    for (auto _ : state) {
        QVDecoder d;
        if (convert) d.QVSetOutput(_picture_param{width, height, PIX_FMT_BGR24}, 0);
        d.QVOpenDecoder(CODEC_ID_H264, _picture_param{width, height, PIX_FMT_YUV420P});
        for (auto& f : frames) {
            if (d.QVDecodeVideoFrame(f.data(), static_cast<int>(f.size()), 0) == 0) ++pictures;
            benchmark::DoNotOptimize(d.QVGetVideoFrame());
        }
    }
    state.SetItemsProcessed(pictures);
}

void Bare(benchmark::State& state, int width, int height, bool convert) {
    const auto& clip = Clip(width, height);
    int64_t pictures = 0;
    std::vector<uint8_t> picture(av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width, height, 1));
    std::vector<uint8_t> output(av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height, 1));
    for (auto _ : state) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        ctx->thread_count = 1;
        avcodec_open2(ctx, codec, nullptr);
        SwsContext* sws = nullptr;
        AVFrame* frame = av_frame_alloc();
        AVPacket* pkt = av_packet_alloc();
        for (const auto& p : clip.packets) {
            av_new_packet(pkt, static_cast<int>(p.data.size()));
            std::memcpy(pkt->data, p.data.data(), p.data.size());
            avcodec_send_packet(ctx, pkt);
            av_packet_unref(pkt);
            if (avcodec_receive_frame(ctx, frame) != 0) continue;
            av_image_copy_to_buffer(picture.data(), static_cast<int>(picture.size()), frame->data,
                                    frame->linesize, AV_PIX_FMT_YUV420P, width, height, 1);
            if (convert) {
                if (!sws) {
                    sws = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_BGR24,
                                         SWS_BILINEAR, nullptr, nullptr, nullptr);
                }
                uint8_t* src[4];
                int src_lines[4];
                uint8_t* dst[4];
                int dst_lines[4];
                av_image_fill_arrays(src, src_lines, picture.data(), AV_PIX_FMT_YUV420P, width, height, 1);
                av_image_fill_arrays(dst, dst_lines, output.data(), AV_PIX_FMT_BGR24, width, height, 1);
                sws_scale(sws, src, src_lines, 0, height, dst, dst_lines);
            }
            av_frame_unref(frame);
            ++pictures;
            benchmark::DoNotOptimize(picture.data());
        }
        sws_freeContext(sws);
        av_packet_free(&pkt);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
    state.SetItemsProcessed(pictures);
}

// Aggregate throughput of several objects on several threads, each object decoding the
// whole clip; compared with one object on one thread.
void Objects(benchmark::State& state, int objects, int threads) {
    const auto& clip = Clip(640, 360);
    std::atomic<int64_t> pictures{0};
    for (auto _ : state) {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (int o = t; o < objects; o += threads) {
                    QVDecoder d;
                    d.QVOpenDecoder(CODEC_ID_H264, _picture_param{640, 360, PIX_FMT_YUV420P});
                    for (const auto& p : clip.packets) {
                        std::vector<uint8_t> f = p.data;
                        if (d.QVDecodeVideoFrame(f.data(), static_cast<int>(f.size()), 0) == 0) ++pictures;
                    }
                }
            });
        }
        for (auto& w : workers) w.join();
    }
    state.SetItemsProcessed(pictures.load());
}

}  // namespace

namespace {
const bool registered = [] {
    struct Size {
        const char* name;
        int width, height;
    };
    for (Size size : {Size{"stream_720p", 1280, 720}, Size{"stream_1080p", 1920, 1080}}) {
        for (bool convert : {false, true}) {
            const std::string name = std::string(size.name) + (convert ? "_bgr24" : "");
            benchmark::RegisterBenchmark((name + "/ours").c_str(), Ours, size.width, size.height, convert)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
            benchmark::RegisterBenchmark((name + "/bare").c_str(), Bare, size.width, size.height, convert)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
        }
    }
    benchmark::RegisterBenchmark("objects_8_on_2_threads/ours", Objects, 8, 2)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("objects_8_on_2_threads/one_thread", Objects, 1, 1)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    return true;
}();
}  // namespace
