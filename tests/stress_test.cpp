// Many decoder objects used from several threads at once: opens, decodes, output
// changes and closes in loops for a bounded time. Run under ThreadSanitizer by `make tsan`.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "media_factory.h"

namespace {

double StressSeconds() {
    const char* env = std::getenv("QV_STRESS_SECONDS");
    return env ? std::atof(env) : 2.0;
}

}  // namespace

TEST(StressTest, Threads_ObjectsOpenDecodeConvertClose) {
    QVDecoderInitialize();
    qvtest::VideoOptions o;
    o.width = 176;
    o.height = 144;
    o.frames = 8;
    o.gop = 4;
    const auto h264 = qvtest::EncodeVideo("libx264", o);
    const auto mpeg4 = qvtest::EncodeVideo("mpeg4", o);
    const auto h264_ref = qvtest::DecodeReference(h264.codec_id, h264.packets);
    const auto mpeg4_ref = qvtest::DecodeReference(mpeg4.codec_id, mpeg4.packets);

    constexpr int kThreads = 4;
    constexpr int kObjectsPerThread = 4;  // 16 objects in all
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int>(StressSeconds() * 1000));
    std::atomic<int> failures{0};
    std::atomic<long> pictures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            QVDecoder objects[kObjectsPerThread];
            int round = 0;
            while (std::chrono::steady_clock::now() < deadline) {
                for (int i = 0; i < kObjectsPerThread; ++i) {
                    QVDecoder& d = objects[i];
                    const bool use_h264 = (round + i + t) % 2 == 0;
                    const auto& clip = use_h264 ? h264 : mpeg4;
                    const auto& ref = use_h264 ? h264_ref : mpeg4_ref;
                    if (d.QVOpenDecoder(use_h264 ? CODEC_ID_H264 : CODEC_ID_MPEG4,
                                        _picture_param{176, 144, PIX_FMT_YUV420P}) != 0) {
                        ++failures;
                        continue;
                    }
                    switch ((round + i) % 4) {
                        case 1: d.QVSetOutput(_picture_param{88, 72, PIX_FMT_BGR24}, 0); break;
                        case 2: d.QVSetOutputFormat(PIX_FMT_RGB24, 1); break;
                        case 3: d.QVSetOutputResolution(64, 48, 0); break;
                        default: break;
                    }
                    for (size_t k = 0; k < clip.packets.size(); ++k) {
                        std::vector<uint8_t> copy = clip.packets[k].data;
                        if (d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), 0) != 0) {
                            ++failures;
                            continue;
                        }
                        ++pictures;
                        if ((round + i) % 4 == 0 && k <= 3) {  // unconverted until the size change
                            const uint8_t* p = d.QVGetVideoFrame();
                            if (std::vector<uint8_t>(p, p + d.QVGetVideoFrameSize()) != ref[k].bytes) ++failures;
                        }
                        if (k == 3) d.QVSetOutputResolution(80 + 8 * (round % 3), 60, 0);
                    }
                    d.QVClose();
                }
                ++round;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(pictures.load(), 0);
}
