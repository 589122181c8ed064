// File mode: decoding 20 s H.264 High mp4 files (720p and 1080p, 500 pictures) with
// QVDecodeFrame, and raw extraction, against bare libavformat/libavcodec loops doing the
// least the same result needs, in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "QVDecoder.h"
#include "allocations.h"
#include "bare_output.h"
#include "base/ffmpeg.h"
#include "file_factory.h"
#include "packet_muxer.h"

namespace {

constexpr int kFrames = 20 * 25;

// The clip at a camera's bit rate (3 Mbit/s at 720p, 6 at 1080p), written here: the media
// files of the tests are encoded at 400 kbit/s, where a 1080p picture is nearly all skipped
// blocks and decoding would cost next to nothing.
std::string WriteClip(const std::string& path, int width, int height, int b_frames) {
    qvtest::VideoOptions o;
    o.b_frames = b_frames;
    if (b_frames > 0) o.x264_params = "b-pyramid=normal";  // x264's default: the middle B-frame is a reference
    o.width = width;
    o.height = height;
    o.frames = kFrames;
    o.gop = 50;
    o.bit_rate = width >= 1920 ? 6000000 : 3000000;
    o.global_header = true;
    const qvtest::EncodedVideo video = qvtest::EncodeVideo("libx264", o);
    return qvtest::WriteEncodedVideo(path, "mp4", video, width, height) ? "" : "cannot write " + path;
}

// `b_frames`: x264's B-frames between reference pictures (0: its default for the clip).
const std::string& ClipPath(int width, int height, int b_frames = 0) {
    static qvtest::TempDir dir;
    static std::map<int, std::string> paths;
    const int key = width * 16 + b_frames;
    auto it = paths.find(key);
    if (it == paths.end()) {
        const std::string path = dir.Path("clip" + std::to_string(height) + "b" + std::to_string(b_frames) + ".mp4");
        const std::string error = WriteClip(path, width, height, b_frames);
        if (!error.empty()) std::fprintf(stderr, "cannot make the clip: %s\n", error.c_str());
        it = paths.emplace(key, path).first;
    }
    return it->second;
}

void DecodeOurs(benchmark::State& state, int width, int height, bool convert, int threads) {
    const std::string& path = ClipPath(width, height);
    qvbench::SteadyState steady(kFrames);
    int64_t pictures = 0;
    for (auto _ : state) {
        QVDecoder d;
        d.QVDecoderSetThreads(threads);
        if (convert) d.QVSetOutput(_picture_param{width, height, PIX_FMT_BGR24}, 0);
        if (d.QVOpen(path.c_str()) != 0) {
            state.SkipWithError("open failed");
            return;
        }
        int64_t index = 0;
        for (int r = d.QVDecodeFrame(); r != QV_ERR_END_OF_FILE; r = d.QVDecodeFrame()) {
            if (r != 0) continue;
            unsigned char* picture = d.QVGetVideoFrame();
            benchmark::DoNotOptimize(picture);
            steady.Picture(index++, picture);
        }
        pictures += index;
    }
    state.SetItemsProcessed(pictures);
    steady.Report(state);
}

struct Bare {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* ctx = nullptr;
    int stream = -1;
    ~Bare() {
        avcodec_free_context(&ctx);
        avformat_close_input(&fmt);
    }
    // threads: libavcodec's thread_count, with its default thread types (frame and slice).
    bool Open(const std::string& path, bool with_decoder, int threads = 1) {
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) != 0) return false;
        if (avformat_find_stream_info(fmt, nullptr) < 0) return false;
        stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream < 0 || !with_decoder) return stream >= 0;
        const AVCodec* codec = avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
        ctx = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(ctx, fmt->streams[stream]->codecpar);
        ctx->thread_count = threads;
        return avcodec_open2(ctx, codec, nullptr) == 0;
    }
};

// The same work without the library: read, decode, hand each picture out once (copied, or
// scaled single-threaded straight from the frame), and drain the decoder at the end. With
// threads 0 this is what OpenCV's VideoCapture does.
void DecodeBare(benchmark::State& state, int width, int height, bool convert, int threads) {
    const std::string& path = ClipPath(width, height);
    qvbench::SteadyState steady(kFrames);
    int64_t pictures = 0;
    for (auto _ : state) {
        Bare bare;
        if (!bare.Open(path, true, threads)) {
            state.SkipWithError("open failed");
            return;
        }
        qvbench::BareOutput output(width, height, convert);
        AVFrame* frame = av_frame_alloc();
        AVPacket* pkt = av_packet_alloc();
        int64_t index = 0;
        const auto deliver = [&] {
            while (avcodec_receive_frame(bare.ctx, frame) == 0) {
                const uint8_t* picture = output.Deliver(frame);
                benchmark::DoNotOptimize(picture);
                steady.Picture(index++, picture);
                av_frame_unref(frame);
            }
        };
        while (av_read_frame(bare.fmt, pkt) >= 0) {
            if (pkt->stream_index == bare.stream) {
                avcodec_send_packet(bare.ctx, pkt);
                deliver();
            }
            av_packet_unref(pkt);
        }
        avcodec_send_packet(bare.ctx, nullptr);
        deliver();
        pictures += index;
        av_packet_free(&pkt);
        av_frame_free(&frame);
    }
    state.SetItemsProcessed(pictures);
    steady.Report(state);
}

void RawOurs(benchmark::State& state) {
    const std::string& path = ClipPath(1280, 720);
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
    const std::string& path = ClipPath(1280, 720);
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

// A thumbnail scan of the recording (a key frame every 2 s): ours decodes key frames only,
// against the bare loop decoding every picture, which is what a scan costs without skipping.
void ScanOurs(benchmark::State& state) {
    const std::string& path = ClipPath(1280, 720);
    for (auto _ : state) {
        QVDecoder d;
        d.QVDecoderSetFrameSkip(QV_SKIP_NONKEY);
        d.QVSetOutput(_picture_param{160, 90, PIX_FMT_BGR24}, 0);
        if (d.QVOpen(path.c_str()) != 0) {
            state.SkipWithError("open failed");
            return;
        }
        int keys = 0;
        for (int r = d.QVDecodeFrame(); r != QV_ERR_END_OF_FILE; r = d.QVDecodeFrame()) {
            if (r == 0) benchmark::DoNotOptimize(d.QVGetVideoFrame()), ++keys;
        }
        if (keys != kFrames / 50) state.SkipWithError("not one picture per key frame");
    }
    state.SetItemsProcessed(state.iterations());
}

void ScanBare(benchmark::State& state) {
    const std::string& path = ClipPath(1280, 720);
    for (auto _ : state) {
        Bare bare;
        if (!bare.Open(path, true)) {
            state.SkipWithError("open failed");
            return;
        }
        AVFrame* frame = av_frame_alloc();
        AVPacket* pkt = av_packet_alloc();
        for (bool more = true; more;) {
            more = av_read_frame(bare.fmt, pkt) >= 0;
            if (more && pkt->stream_index != bare.stream) {
                av_packet_unref(pkt);
                continue;
            }
            avcodec_send_packet(bare.ctx, more ? pkt : nullptr);
            while (avcodec_receive_frame(bare.ctx, frame) == 0) benchmark::DoNotOptimize(frame->data[0]);
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        av_frame_free(&frame);
    }
    state.SetItemsProcessed(state.iterations());
}

// Accurate seeks: ten times across the 720p clip with 3 B-frames (x264's pyramid), each
// between two key frames, and the picture there in BGR24; against libavformat's seek to the
// key frame before and a decode of every picture up to the first at the time (what PyAV and
// OpenCV do), that one picture converted.
constexpr int kSeekBFrames = 3;
constexpr double kSeekTimes[] = {1.3, 17.5, 5.9, 12.2, 0.7, 19.1, 8.4, 3.3, 14.8, 10.6};

void SeekOurs(benchmark::State& state) {
    const std::string& path = ClipPath(1280, 720, kSeekBFrames);
    QVDecoder d;
    d.QVSetOutput(_picture_param{1280, 720, PIX_FMT_BGR24}, 0);
    if (d.QVOpen(path.c_str()) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    for (auto _ : state) {
        for (double seconds : kSeekTimes) {
            d.QVSeek(static_cast<int64_t>(seconds * 1e6), QV_SEEK_ACCURATE);
            int r = d.QVDecodeFrame();
            while (r != 0 && r != QV_ERR_END_OF_FILE) r = d.QVDecodeFrame();
            benchmark::DoNotOptimize(d.QVGetVideoFrame());
        }
    }
    state.SetItemsProcessed(state.iterations() * std::size(kSeekTimes));
}

void SeekBare(benchmark::State& state) {
    const std::string& path = ClipPath(1280, 720, kSeekBFrames);
    Bare bare;
    if (!bare.Open(path, true)) {
        state.SkipWithError("open failed");
        return;
    }
    qvbench::BareOutput output(1280, 720, true);
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    const AVRational tb = bare.fmt->streams[bare.stream]->time_base;
    for (auto _ : state) {
        for (double seconds : kSeekTimes) {
            const int64_t target = static_cast<int64_t>(seconds * tb.den / tb.num);
            av_seek_frame(bare.fmt, bare.stream, target, AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(bare.ctx);
            bool found = false;
            while (!found && av_read_frame(bare.fmt, pkt) >= 0) {
                if (pkt->stream_index == bare.stream) {
                    avcodec_send_packet(bare.ctx, pkt);
                    while (!found && avcodec_receive_frame(bare.ctx, frame) == 0) {
                        if (frame->best_effort_timestamp >= target) {
                            benchmark::DoNotOptimize(output.Deliver(frame));
                            found = true;
                        }
                        av_frame_unref(frame);
                    }
                }
                av_packet_unref(pkt);
            }
        }
    }
    av_packet_free(&pkt);
    av_frame_free(&frame);
    state.SetItemsProcessed(state.iterations() * std::size(kSeekTimes));
}

// Ours and bare alternate so that a slow spell of the machine hits both sides alike. With one
// thread the figures are CPU time, since the machine's other work would otherwise count as
// ours; with threads they are wall-clock time, the time the pictures take to come out.
const bool registered = [] {
    struct Case {
        const char* name;
        int width, height;
        bool convert;
        int threads;
    };
    for (Case c : {Case{"file_decode_720p", 1280, 720, false, 1}, Case{"file_decode_720p_bgr24", 1280, 720, true, 1},
                   Case{"file_decode_1080p", 1920, 1080, false, 1},
                   Case{"file_decode_1080p_bgr24", 1920, 1080, true, 1},
                   Case{"file_threads0_720p_bgr24", 1280, 720, true, 0},
                   Case{"file_threads0_1080p_bgr24", 1920, 1080, true, 0}}) {
        auto* ours = benchmark::RegisterBenchmark((std::string(c.name) + "/ours").c_str(), DecodeOurs, c.width,
                                                  c.height, c.convert, c.threads);
        auto* bare = benchmark::RegisterBenchmark((std::string(c.name) + "/bare").c_str(), DecodeBare, c.width,
                                                  c.height, c.convert, c.threads);
        for (auto* b : {ours, bare}) {
            b->Unit(benchmark::kMillisecond);
            if (c.threads != 1) b->UseRealTime();
        }
    }
    benchmark::RegisterBenchmark("file_thumbnail_scan/ours", ScanOurs)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("file_thumbnail_scan/bare", ScanBare)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("file_seek_accurate/ours", SeekOurs)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("file_seek_accurate/bare", SeekBare)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("file_raw_extract/ours", RawOurs)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("file_raw_extract/bare", RawBare)->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
