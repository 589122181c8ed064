// libG7221: set-up, frame handling, agreement with libavcodec, bad input, threads.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "audio_factory.h"
#include "base/ffmpeg.h"
#include "g7221/g7221.h"

namespace {

using qvtest::Bytes;

// A frame whose first envelope index is near the bottom decodes to (near) silence; a frame
// of set bits carries plenty of signal. Both have the all-ones fill the format expects.
Bytes QuietFrame(int size) {
    Bytes f(size, 0xFF);
    f[0] = 0x11;
    return f;
}
Bytes LoudFrame(int size, unsigned seed) {
    Bytes f(size, 0xFF);
    std::mt19937 gen(seed);
    for (int i = 0; i < size / 2; ++i) f[i] = static_cast<uint8_t>(gen());
    return f;
}

std::vector<int16_t> AsSamples(const Bytes& out, int bytes) {
    std::vector<int16_t> s(static_cast<size_t>(bytes) / 2);
    std::memcpy(s.data(), out.data(), s.size() * 2);
    return s;
}

TEST(G7221Test, Initialize_SupportsOnly16kHzAt24And32kbit) {
    EXPECT_LT(InitializeG7221Decoder(8000, 24000), 0);
    EXPECT_LT(InitializeG7221Decoder(32000, 32000), 0);
    EXPECT_LT(InitializeG7221Decoder(16000, 48000), 0);
    EXPECT_LT(InitializeG7221Decoder(16000, 16000), 0);
    EXPECT_EQ(InitializeG7221Decoder(16000, 24000), 0);
    EXPECT_EQ(InitializeG7221Decoder(16000, 32000), 0);
}

TEST(G7221Test, Decode_QuietFramesGiveSilenceOfTheRightLength) {
    for (int bit_rate : {24000, 32000}) {
        ASSERT_EQ(InitializeG7221Decoder(16000, bit_rate), 0);
        const int size = bit_rate / 400;
        Bytes in;
        for (int i = 0; i < 5; ++i) {
            const Bytes f = QuietFrame(size);
            in.insert(in.end(), f.begin(), f.end());
        }
        Bytes out(5 * 640);
        ASSERT_EQ(DecodeG7221AudioFrame(in.data(), static_cast<int>(in.size()), out.data(),
                                        static_cast<int>(out.size())),
                  5 * 640);
        for (int16_t s : AsSamples(out, 5 * 640)) ASSERT_EQ(s, 0);
    }
}

TEST(G7221Test, Decode_EqualsLibavcodecConvertedToS16) {
    for (int bit_rate : {24000, 32000}) {
        const int size = bit_rate / 400;
        std::vector<Bytes> frames;
        for (unsigned i = 0; i < 20; ++i) frames.push_back(i % 3 == 2 ? QuietFrame(size) : LoudFrame(size, i));
        bool ok = false;
        const auto reference = qvtest::DecodeToS16(AV_CODEC_ID_SIREN, 16000, 1, bit_rate, frames, &ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(reference.size(), 20u * 320);

        ASSERT_EQ(InitializeG7221Decoder(16000, bit_rate), 0);
        std::vector<int16_t> ours;
        // Two frames per call, as a host may push them.
        for (size_t i = 0; i < frames.size(); i += 2) {
            Bytes in = frames[i];
            in.insert(in.end(), frames[i + 1].begin(), frames[i + 1].end());
            Bytes out(4000);
            const int n = DecodeG7221AudioFrame(in.data(), static_cast<int>(in.size()), out.data(), 4000);
            ASSERT_EQ(n, 1280);
            const auto s = AsSamples(out, n);
            ours.insert(ours.end(), s.begin(), s.end());
        }
        EXPECT_EQ(ours, reference);
        bool loud = false;
        for (int16_t s : ours) loud |= (s > 1000 || s < -1000);
        EXPECT_TRUE(loud) << "the test frames should carry signal";
    }
}

TEST(G7221Test, Decode_RandomFramesNeverFailOrOverflow) {
    ASSERT_EQ(InitializeG7221Decoder(16000, 24000), 0);
    std::mt19937 gen(11);
    for (int round = 0; round < 300; ++round) {
        const int frames = 1 + round % 4;
        Bytes in(static_cast<size_t>(frames) * 60);
        for (auto& b : in) b = static_cast<uint8_t>(gen());
        Bytes out(frames * 640 + 64, 0xA5);
        ASSERT_EQ(DecodeG7221AudioFrame(in.data(), static_cast<int>(in.size()), out.data(), frames * 640),
                  frames * 640);
        for (size_t i = frames * 640; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5);
    }
}

TEST(G7221Test, Decode_RefusesBadInputWithoutWriting) {
    ASSERT_EQ(InitializeG7221Decoder(16000, 32000), 0);
    Bytes in = QuietFrame(80);
    in.insert(in.end(), in.begin(), in.end());  // two frames
    Bytes out(2000, 0x5A);
    EXPECT_EQ(DecodeG7221AudioFrame(in.data(), 0, out.data(), 2000), 0);
    EXPECT_LT(DecodeG7221AudioFrame(in.data(), 79, out.data(), 2000), 0);   // part of a frame
    EXPECT_LT(DecodeG7221AudioFrame(in.data(), 160, out.data(), 1279), 0);  // does not fit
    EXPECT_LT(DecodeG7221AudioFrame(in.data(), -80, out.data(), 2000), 0);
    EXPECT_LT(DecodeG7221AudioFrame(nullptr, 80, out.data(), 2000), 0);
    EXPECT_LT(DecodeG7221AudioFrame(in.data(), 80, nullptr, 2000), 0);
    for (uint8_t b : out) ASSERT_EQ(b, 0x5A);
    EXPECT_EQ(DecodeG7221AudioFrame(in.data(), 160, out.data(), 1280), 1280);
}

TEST(G7221Test, Decode_ConcurrentCallersAreSerialised) {
    ASSERT_EQ(InitializeG7221Decoder(16000, 24000), 0);
    auto worker = [](unsigned seed, int* failures) {
        for (int i = 0; i < 300; ++i) {
            Bytes in = LoudFrame(60, seed + i);
            Bytes out(640);
            if (DecodeG7221AudioFrame(in.data(), 60, out.data(), 640) != 640) ++*failures;
        }
    };
    int f1 = 0, f2 = 0;
    std::thread a(worker, 1u, &f1), b(worker, 1000u, &f2);
    a.join();
    b.join();
    EXPECT_EQ(f1 + f2, 0);
}

}  // namespace
