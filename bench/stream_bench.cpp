// Stream-mode decoding of pushed H.264 High frames against a bare libavcodec loop doing the
// least the same result needs: copy the pushed bytes into padded memory, decode, then either
// copy the picture once into a contiguous buffer or sws_scale it once from the frame's planes
// into the BGR24 output.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include "QVDecoder.h"
#include "allocations.h"
#include "bare_output.h"
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
    qvbench::SteadyState steady(static_cast<int64_t>(frames.size()));
    int64_t pictures = 0;
    for (auto _ : state) {
        QVDecoder d;
        if (convert) d.QVSetOutput(_picture_param{width, height, PIX_FMT_BGR24}, 0);
        d.QVOpenDecoder(CODEC_ID_H264, _picture_param{width, height, PIX_FMT_YUV420P});
        int64_t index = 0;
        for (auto& f : frames) {
            if (d.QVDecodeVideoFrame(f.data(), static_cast<int>(f.size()), 0) != 0) continue;
            unsigned char* picture = d.QVGetVideoFrame();
            benchmark::DoNotOptimize(picture);
            steady.Picture(index++, picture);
        }
        pictures += index;
    }
    state.SetItemsProcessed(pictures);
    steady.Report(state);
}

void Bare(benchmark::State& state, int width, int height, bool convert) {
    const auto& clip = Clip(width, height);
    qvbench::SteadyState steady(static_cast<int64_t>(clip.packets.size()));
    int64_t pictures = 0;
    for (auto _ : state) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        ctx->thread_count = 1;
        avcodec_open2(ctx, codec, nullptr);
        qvbench::BareOutput output(width, height, convert);
        AVFrame* frame = av_frame_alloc();
        AVPacket* pkt = av_packet_alloc();
        int64_t index = 0;
        for (const auto& p : clip.packets) {
            // The pushed bytes go into padded memory that the packet owns and that is reused
            // once the decoder let go of it: libavcodec then only takes a reference.
            const size_t size = p.data.size();
            if (!pkt->buf || pkt->buf->size < size + AV_INPUT_BUFFER_PADDING_SIZE ||
                !av_buffer_is_writable(pkt->buf)) {
                av_buffer_unref(&pkt->buf);
                pkt->buf = av_buffer_alloc(2 * (size + AV_INPUT_BUFFER_PADDING_SIZE));
            }
            std::memcpy(pkt->buf->data, p.data.data(), size);
            std::memset(pkt->buf->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
            pkt->data = pkt->buf->data;
            pkt->size = static_cast<int>(size);
            avcodec_send_packet(ctx, pkt);
            while (avcodec_receive_frame(ctx, frame) == 0) {
                const uint8_t* picture = output.Deliver(frame);
                benchmark::DoNotOptimize(picture);
                steady.Picture(index++, picture);
                av_frame_unref(frame);
            }
        }
        pictures += index;
        av_packet_free(&pkt);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
    state.SetItemsProcessed(pictures);
    steady.Report(state);
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
                std::vector<std::vector<uint8_t>> frames;
                for (const auto& p : clip.packets) frames.push_back(p.data);
                for (int o = t; o < objects; o += threads) {
                    QVDecoder d;
                    d.QVOpenDecoder(CODEC_ID_H264, _picture_param{640, 360, PIX_FMT_YUV420P});
                    for (auto& f : frames) {
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
            // One thread: CPU time, so that the machine's other work does not count as ours.
            benchmark::RegisterBenchmark((name + "/ours").c_str(), Ours, size.width, size.height, convert)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((name + "/bare").c_str(), Bare, size.width, size.height, convert)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("objects_8_on_2_threads/ours", Objects, 8, 2)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("objects_8_on_2_threads/one_thread", Objects, 1, 1)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    return true;
}();
}  // namespace
