// Stream-mode decoding of pushed H.264 High frames against a bare libavcodec loop doing the
// least the same result needs: copy the pushed bytes into padded memory, decode, then either
// copy the picture once into a contiguous buffer or sws_scale it once from the frame's planes
// into the BGR24 output.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <thread>

#include "QVDecoder.h"
#include "allocations.h"
#include "bare_output.h"
#include "base/ffmpeg.h"
#include "media_factory.h"

namespace {

// H.264 High (x264) at a camera's rate, or MJPEG at about a camera's quality.
const qvtest::EncodedVideo& Clip(int width, int height, bool mjpeg = false) {
    static std::map<std::pair<int, bool>, qvtest::EncodedVideo> clips;
    auto it = clips.find({width, mjpeg});
    if (it == clips.end()) {
        qvtest::VideoOptions o;
        o.width = width;
        o.height = height;
        o.frames = 50;
        o.gop = 25;
        o.bit_rate = mjpeg ? 40000000 : width >= 1920 ? 6000000 : 3000000;
        it = clips.emplace(std::make_pair(width, mjpeg), qvtest::EncodeVideo(mjpeg ? "mjpeg" : "libx264", o)).first;
    }
    return it->second;
}

// What the host asks of each picture: the decoded picture, converted to BGR24 at out_width x
// out_height, or the decoded planes without a copy (QVGetVideoPlanes).
struct Ask {
    enum Kind { kDecoded, kBgr24, kPlanes } kind;
    int out_width = 0, out_height = 0;
    bool fast = false;    // QVDecoderSetFastDecode(1)
    bool mjpeg = false;   // the MJPEG clip instead of H.264
};

// One stream-mode object as a host uses it.
class OursStream {
public:
    OursStream(int width, int height, Ask ask) : ask_(ask) {
        if (ask.kind == Ask::kBgr24) d_.QVSetOutput(_picture_param{ask.out_width, ask.out_height, PIX_FMT_BGR24}, 0);
        d_.QVDecoderSetFastDecode(ask.fast ? 1 : 0);
        d_.QVOpenDecoder(ask.mjpeg ? CODEC_ID_MJPEG : CODEC_ID_H264, _picture_param{width, height, PIX_FMT_YUV420P});
    }
    // The picture handed out for a pushed frame, or null. Planes have no buffer of their
    // own that stays put, so the record they are handed out in stands for them. Out of line,
    // as BareStream::Push, so that callgrind can count the instructions of pushes alone
    // (--toggle-collect='*Stream::Push*').
    __attribute__((noinline)) const void* Push(std::vector<uint8_t>& frame) {
        if (d_.QVDecodeVideoFrame(frame.data(), static_cast<int>(frame.size()), 0) != 0) return nullptr;
        if (ask_.kind != Ask::kPlanes) return d_.QVGetVideoFrame();
        return d_.QVGetVideoPlanes(planes_, linesize_) == 0 ? planes_ : nullptr;
    }

private:
    QVDecoder d_;
    Ask ask_;
    unsigned char* planes_[4] = {};
    int linesize_[4] = {};
};

// The bare loop: the pushed bytes go into padded memory that the packet owns and that is
// reused once the decoder let go of it (libavcodec then only takes a reference), one decode,
// then the least work on each picture.
class BareStream {
public:
    BareStream(int width, int height, qvbench::Work work, int out_width, int out_height)
        : output_(width, height, work, out_width, out_height) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        ctx_ = avcodec_alloc_context3(codec);
        ctx_->thread_count = 1;
        avcodec_open2(ctx_, codec, nullptr);
        frame_ = av_frame_alloc();
        pkt_ = av_packet_alloc();
    }
    ~BareStream() {
        av_packet_free(&pkt_);
        av_frame_free(&frame_);
        avcodec_free_context(&ctx_);
    }
    template <typename Picture>
    __attribute__((noinline)) void Push(const std::vector<uint8_t>& data, Picture&& picture) {
        const size_t size = data.size();
        if (!pkt_->buf || pkt_->buf->size < size + AV_INPUT_BUFFER_PADDING_SIZE || !av_buffer_is_writable(pkt_->buf)) {
            av_buffer_unref(&pkt_->buf);
            pkt_->buf = av_buffer_alloc(2 * (size + AV_INPUT_BUFFER_PADDING_SIZE));
        }
        std::memcpy(pkt_->buf->data, data.data(), size);
        std::memset(pkt_->buf->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        pkt_->data = pkt_->buf->data;
        pkt_->size = static_cast<int>(size);
        avcodec_send_packet(ctx_, pkt_);
        while (avcodec_receive_frame(ctx_, frame_) == 0) {
            picture(output_.Deliver(frame_));
            av_frame_unref(frame_);
        }
    }

private:
    qvbench::BareOutput output_;
    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* pkt_ = nullptr;
};

// Mean PSNR (dB) of the fast tiles against the exact ones over the whole clip (identical
// pictures count as 99 dB).
double MeanTilePsnr(int width, int height, Ask ask) {
    const auto& clip = Clip(width, height, ask.mjpeg);
    Ask exact_ask = ask;
    exact_ask.fast = false;
    OursStream fast(width, height, ask), exact(width, height, exact_ask);
    const size_t bytes = static_cast<size_t>(ask.out_width) * ask.out_height * 3;
    double sum = 0;
    int pictures = 0;
    for (const auto& p : clip.packets) {
        std::vector<uint8_t> a = p.data, b = p.data;
        const auto* x = static_cast<const uint8_t*>(fast.Push(a));
        const auto* y = static_cast<const uint8_t*>(exact.Push(b));
        if (!x || !y) continue;
        double squares = 0;
        for (size_t i = 0; i < bytes; ++i) squares += (x[i] - y[i]) * (x[i] - y[i]);
        const double mse = squares / static_cast<double>(bytes);
        sum += mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
        ++pictures;
    }
    return pictures > 0 ? sum / pictures : 0.0;
}

void Ours(benchmark::State& state, int width, int height, Ask ask) {
    if (ask.fast) state.counters["psnr_db"] = MeanTilePsnr(width, height, ask);
    const auto& clip = Clip(width, height, ask.mjpeg);
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& p : clip.packets) frames.push_back(p.data);
    qvbench::SteadyState steady(static_cast<int64_t>(frames.size()));
    int64_t pictures = 0;
    for (auto _ : state) {
        OursStream stream(width, height, ask);
        int64_t index = 0;
        for (auto& f : frames) {
            const void* picture = stream.Push(f);
            if (picture) steady.Picture(index++, picture);
        }
        pictures += index;
    }
    state.SetItemsProcessed(pictures);
    steady.Report(state);
}

void Bare(benchmark::State& state, int width, int height, qvbench::Work work, int out_width, int out_height) {
    const auto& clip = Clip(width, height);
    qvbench::SteadyState steady(static_cast<int64_t>(clip.packets.size()));
    int64_t pictures = 0;
    for (auto _ : state) {
        BareStream stream(width, height, work, out_width, out_height);
        int64_t index = 0;
        for (const auto& p : clip.packets) {
            // The picture goes to the steady-state count, which keeps it observable.
            stream.Push(p.data, [&](const uint8_t* picture) { steady.Picture(index++, picture); });
        }
        pictures += index;
    }
    state.SetItemsProcessed(pictures);
    steady.Report(state);
}

// Runs work(t, frames) on `threads` threads, each with its own copy of the clip's frames
// (pushed input is writable), and waits for them.
template <typename Work>
void OnThreads(const qvtest::EncodedVideo& clip, int threads, Work&& work) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::vector<std::vector<uint8_t>> frames;
            for (const auto& p : clip.packets) frames.push_back(p.data);
            work(t, frames);
        });
    }
    for (auto& w : workers) w.join();
}

// Aggregate throughput of several objects on several threads, each object decoding the
// whole clip; compared with one object on one thread.
void Objects(benchmark::State& state, int objects, int threads) {
    const auto& clip = Clip(640, 360);
    std::atomic<int64_t> pictures{0};
    for (auto _ : state) {
        OnThreads(clip, threads, [&](int t, std::vector<std::vector<uint8_t>>& frames) {
            for (int o = t; o < objects; o += threads) {
                QVDecoder d;
                d.QVOpenDecoder(CODEC_ID_H264, _picture_param{640, 360, PIX_FMT_YUV420P});
                for (auto& f : frames) {
                    if (d.QVDecodeVideoFrame(f.data(), static_cast<int>(f.size()), 0) == 0) ++pictures;
                }
            }
        });
    }
    state.SetItemsProcessed(pictures.load());
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A camera grid: `objects` 1080p streams, each shown as a 480x270 BGR24 tile, on `threads`
// threads, every stream pushed frame by frame in turn as a host's receive threads would.
// Timed in the CPU time of all the process's threads: with both cores busy, pictures per
// CPU second times the cores is pictures per second, and other work on the machine does not
// count as either side's.
void Grid(benchmark::State& state, int objects, int threads, bool ours) {
    const auto& clip = Clip(1920, 1080);
    std::atomic<int64_t> pictures{0};
    for (auto _ : state) {
        const double start = ProcessCpuSeconds();
        OnThreads(clip, threads, [&](int t, std::vector<std::vector<uint8_t>>& frames) {
            const Ask tile{Ask::kBgr24, 480, 270};
            std::vector<std::unique_ptr<OursStream>> our_streams;
            std::vector<std::unique_ptr<BareStream>> bare_streams;
            for (int o = t; o < objects; o += threads) {
                if (ours) our_streams.push_back(std::make_unique<OursStream>(1920, 1080, tile));
                else bare_streams.push_back(std::make_unique<BareStream>(1920, 1080, qvbench::Work::kConvert, 480, 270));
            }
            int64_t done = 0;
            for (auto& f : frames) {
                for (auto& s : our_streams) done += s->Push(f) != nullptr;
                for (auto& s : bare_streams) s->Push(f, [&](const uint8_t*) { ++done; });
            }
            pictures += done;
        });
        state.SetIterationTime(ProcessCpuSeconds() - start);
    }
    state.SetItemsProcessed(pictures.load());
}

}  // namespace

namespace {
const bool registered = [] {
    using qvbench::Work;
    struct Size {
        const char* name;
        int width, height;
    };
    // One thread: CPU time, so that the machine's other work does not count as ours.
    const auto single = [](const std::string& name, auto&&... args) {
        benchmark::RegisterBenchmark(name.c_str(), args...)->Unit(benchmark::kMillisecond);
    };
    for (Size size : {Size{"stream_720p", 1280, 720}, Size{"stream_1080p", 1920, 1080}}) {
        for (bool convert : {false, true}) {
            const std::string name = std::string(size.name) + (convert ? "_bgr24" : "");
            const Ask ask{convert ? Ask::kBgr24 : Ask::kDecoded, size.width, size.height};
            single(name + "/ours", Ours, size.width, size.height, ask);
            single(name + "/bare", Bare, size.width, size.height, convert ? Work::kConvert : Work::kCopy, size.width,
                   size.height);
        }
    }
    // A grid tile, against decode alone and against decode plus libswscale's scale.
    single("tile_1080p_480x270/ours", Ours, 1920, 1080, Ask{Ask::kBgr24, 480, 270});
    single("tile_1080p_480x270/bare_decode", Bare, 1920, 1080, Work::kDecodeOnly, 0, 0);
    single("tile_1080p_480x270/bare", Bare, 1920, 1080, Work::kConvert, 480, 270);
    // Ratios libyuv's own plane scaler would take a row buffer from malloc for, per plane and
    // picture (3:1 box, 3:2 bilinear, enlarging): allocations equal to the bare loop's.
    single("tile_1080p_640x360/ours", Ours, 1920, 1080, Ask{Ask::kBgr24, 640, 360});
    single("tile_1080p_640x360/bare", Bare, 1920, 1080, Work::kConvert, 640, 360);
    single("scale_1080p_1280x720/ours", Ours, 1920, 1080, Ask{Ask::kBgr24, 1280, 720});
    single("scale_1080p_1280x720/bare", Bare, 1920, 1080, Work::kConvert, 1280, 720);
    single("enlarge_720p_1920x1080/ours", Ours, 1280, 720, Ask{Ask::kBgr24, 1920, 1080});
    single("enlarge_720p_1920x1080/bare", Bare, 1280, 720, Work::kConvert, 1920, 1080);
    // The decoded planes, against decode alone.
    // Fast decoding into a tile against exact decoding into the same tile.
    for (bool mjpeg : {false, true}) {
        const std::string name = mjpeg ? "fast_tile_1080p_mjpeg" : "fast_tile_1080p_h264";
        single(name + "/ours", Ours, 1920, 1080, Ask{Ask::kBgr24, 480, 270, true, mjpeg});
        single(name + "/exact", Ours, 1920, 1080, Ask{Ask::kBgr24, 480, 270, false, mjpeg});
    }
    single("planes_1080p/ours", Ours, 1920, 1080, Ask{Ask::kPlanes});
    single("planes_1080p/bare_decode", Bare, 1920, 1080, Work::kDecodeOnly, 0, 0);
    benchmark::RegisterBenchmark("objects_8_on_2_threads/ours", Objects, 8, 2)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("objects_8_on_2_threads/one_thread", Objects, 1, 1)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("grid_16x1080p_tiles_on_2_threads/ours", Grid, 16, 2, true)
        ->Unit(benchmark::kMillisecond)->UseManualTime();
    benchmark::RegisterBenchmark("grid_16x1080p_tiles_on_2_threads/bare", Grid, 16, 2, false)
        ->Unit(benchmark::kMillisecond)->UseManualTime();
    return true;
}();
}  // namespace
