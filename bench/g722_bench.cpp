// G.722 decoding of the Asterisk prompts: the library's decoder against libavcodec's
// adpcm_g722 on the same bytes, in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <vector>

#include "base/ffmpeg.h"
#include "g722/g722_decoder.h"

namespace {

const std::vector<uint8_t>& Prompts() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> all;
        for (const char* dir_name : {"/usr/share/asterisk/sounds/en", "/usr/share/asterisk/sounds/en_US_f_Allison"}) {
            DIR* dir = opendir(dir_name);
            if (!dir) continue;
            std::vector<std::string> files;
            while (dirent* e = readdir(dir)) {
                const std::string name = e->d_name;
                if (name.size() > 5 && name.compare(name.size() - 5, 5, ".g722") == 0) {
                    files.push_back(std::string(dir_name) + "/" + name);
                }
            }
            closedir(dir);
            std::sort(files.begin(), files.end());
            for (const auto& f : files) {
                FILE* in = std::fopen(f.c_str(), "rb");
                if (!in) continue;
                uint8_t chunk[65536];
                size_t n;
                while ((n = std::fread(chunk, 1, sizeof(chunk), in)) > 0) all.insert(all.end(), chunk, chunk + n);
                std::fclose(in);
            }
            if (!all.empty()) break;
        }
        return all;
    }();
    return bytes;
}

// Packets of 20 ms (320 code words), as a stream would carry them.
constexpr int kPacket = 320;

void BM_G722_Library(benchmark::State& state) {
    const auto& in = Prompts();
    if (in.empty()) {
        state.SkipWithError("asterisk-core-sounds-en-g722 is not installed");
        return;
    }
    std::vector<int16_t> out(kPacket * 2);
    for (auto _ : state) {
        G722Decoder decoder;
        decoder.Initialize(16000, 64000, 1);
        for (size_t pos = 0; pos + kPacket <= in.size(); pos += kPacket) {
            int bytes = 0;
            decoder.Decode(out.data(), &bytes, in.data() + pos, kPacket);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (in.size() / kPacket * kPacket));
}
BENCHMARK(BM_G722_Library)->Name("g722_asterisk_16k/ours")->Unit(benchmark::kMillisecond);

void BM_G722_Libavcodec(benchmark::State& state) {
    const auto& in = Prompts();
    if (in.empty()) {
        state.SkipWithError("asterisk-core-sounds-en-g722 is not installed");
        return;
    }
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ADPCM_G722);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<uint8_t> padded(in.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::copy(in.begin(), in.end(), padded.begin());
    for (auto _ : state) {
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        ctx->sample_rate = 16000;
        av_channel_layout_default(&ctx->ch_layout, 1);
        avcodec_open2(ctx, codec, nullptr);
        for (size_t pos = 0; pos + kPacket <= in.size(); pos += kPacket) {
            packet->data = padded.data() + pos;
            packet->size = kPacket;
            avcodec_send_packet(ctx, packet);
            while (avcodec_receive_frame(ctx, frame) == 0) {
                benchmark::DoNotOptimize(frame->data[0]);
                av_frame_unref(frame);
            }
        }
        avcodec_free_context(&ctx);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (in.size() / kPacket * kPacket));
    av_frame_free(&frame);
    av_packet_free(&packet);
}
BENCHMARK(BM_G722_Libavcodec)->Name("g722_asterisk_16k/ffmpeg")->Unit(benchmark::kMillisecond);

}  // namespace

