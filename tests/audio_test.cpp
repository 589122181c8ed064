// Stream-mode audio: opens, G.722 / G.722.1 / libavcodec decoding, bad input, threads.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "QVDecoder.h"
#include "audio_factory.h"
#include "base/ffmpeg.h"
#include "g722/g722_decoder.h"
#include "decoder_parts.h"
#include "log_capture.h"

using qvtest::Bytes;
using qvtest::LogCapture;
using qvtest::Parts;

namespace {

class AudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        QVDecoderInitialize();
        LogCapture::Clear();
    }
};

_picture_param Cif() { return _picture_param{352, 288, PIX_FMT_YUV420P}; }
_audio_param G722Wide() { return _audio_param{16000, 1, 64000}; }

int Push(QVDecoder& d, const Bytes& data) {
    Bytes copy = data;  // exact-size copy: any over-read shows under ASan
    return d.QVDecodeAudioFrame(copy.empty() ? nullptr : copy.data(), static_cast<int>(copy.size()));
}

std::vector<int16_t> Samples(QVDecoder& d) {
    std::vector<int16_t> s(static_cast<size_t>(d.QVGetAudioFrameSize()) / 2);
    std::memcpy(s.data(), d.QVGetAudioFrame(), s.size() * 2);
    return s;
}

TEST_F(AudioTest, OpenG722_ParametersDecideAndFirstDecoderStays) {
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G722, G722Wide()), 0);
    EXPECT_TRUE(Parts(d).opened);
    EXPECT_EQ(d.QVGetAudioFrameSize(), 192000);
    EXPECT_NE(d.QVGetAudioFrame(), nullptr);

    // A second open with other parameters keeps the first decoder (16000 Hz: 4 bytes per byte).
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G722, _audio_param{8000, 1, 48000}), 0);
    EXPECT_EQ(Parts(d).audio.audio_param.sample_rate, 8000);
    EXPECT_EQ(Push(d, Bytes(100, 0x20)), 0);
    EXPECT_EQ(d.QVGetAudioFrameSize(), 400);

    QVDecoder two;
    EXPECT_EQ(two.QVOpenDecoder(CODEC_ID_QV_G722, _audio_param{16000, 2, 64000}), -1);
    EXPECT_FALSE(Parts(two).opened);
    EXPECT_EQ(two.QVGetAudioFrame(), nullptr);
    EXPECT_EQ(Parts(two).audio.g722_decoder(), nullptr);
}

TEST_F(AudioTest, DecodeG722_SizesAndRefusals) {
    for (int rate : {8000, 16000}) {
        QVDecoder d;
        ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G722, _audio_param{rate, 1, 64000}), 0);
        const int per_byte = rate == 16000 ? 4 : 2;
        EXPECT_EQ(Push(d, Bytes(321, 0x35)), 0);
        EXPECT_EQ(d.QVGetAudioFrameSize(), 321 * per_byte);

        EXPECT_EQ(Push(d, Bytes()), -1);
        EXPECT_EQ(d.QVGetAudioFrameSize(), 0);

        // The largest input that fits the 192000-byte buffer, and one byte more.
        const int fits = 192000 / per_byte;
        EXPECT_EQ(Push(d, Bytes(fits, 0x20)), 0);
        EXPECT_EQ(d.QVGetAudioFrameSize(), 192000);
        EXPECT_EQ(Push(d, Bytes(fits + 1, 0x20)), -1);
        EXPECT_EQ(d.QVGetAudioFrameSize(), 0);

        uint8_t byte = 0;
        EXPECT_EQ(d.QVDecodeAudioFrame(nullptr, 10), -1);
        EXPECT_EQ(d.QVDecodeAudioFrame(&byte, -3), -1);
    }
}

TEST_F(AudioTest, DecodeG722_SameSamplesAsTheDecoderItself) {
    std::mt19937 gen(9);
    Bytes stream(5000);
    for (auto& b : stream) b = static_cast<uint8_t>(gen());
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G722, _audio_param{16000, 1, 56000}), 0);
    std::vector<int16_t> pushed;
    for (size_t pos = 0; pos < stream.size(); pos += 160) {
        ASSERT_EQ(Push(d, Bytes(stream.begin() + pos, stream.begin() + std::min(stream.size(), pos + 160))), 0);
        const auto s = Samples(d);
        pushed.insert(pushed.end(), s.begin(), s.end());
    }
    G722Decoder reference;
    ASSERT_EQ(reference.Initialize(16000, 56000, 1), 0);
    std::vector<int16_t> expected(stream.size() * 2);
    int bytes = 0;
    reference.Decode(expected.data(), &bytes, stream.data(), static_cast<int>(stream.size()));
    EXPECT_EQ(pushed, expected);
}

TEST_F(AudioTest, DecodeBeforeOpen_ReportsBadContext) {
    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    uint8_t data[16] = {};
    EXPECT_EQ(d.QVDecodeAudioFrame(data, sizeof(data)), -1);
    EXPECT_TRUE(LogCapture::Contains("DecodeAudioFrame: bad audio context."));
    EXPECT_EQ(d.QVGetAudioFrameSize(), 0);
    EXPECT_EQ(d.QVGetAudioFrame(), nullptr);
}

struct CodecCase {
    CodecID id;
    AVCodecID av;
    int rate, channels, bit_rate;
};

TEST_F(AudioTest, DecodeLibavcodec_EqualsLibavcodecInS16) {
    for (CodecCase c : {CodecCase{CODEC_ID_AAC, AV_CODEC_ID_AAC, 44100, 2, 128000},
                        CodecCase{CODEC_ID_MP2, AV_CODEC_ID_MP2, 48000, 2, 192000},
                        CodecCase{CODEC_ID_PCM_ALAW, AV_CODEC_ID_PCM_ALAW, 8000, 1, 64000},
                        CodecCase{CODEC_ID_PCM_MULAW, AV_CODEC_ID_PCM_MULAW, 8000, 1, 64000}}) {
        SCOPED_TRACE(avcodec_get_name(c.av));
        const auto pcm = qvtest::MakeTestSignal(c.rate, c.channels, c.rate / 2);
        const auto packets = qvtest::EncodeAudio(c.av, c.rate, c.channels, c.bit_rate, pcm);
        ASSERT_GT(packets.size(), 3u);
        bool ok = false;
        const auto reference = qvtest::DecodeToS16(c.av, c.rate, c.channels, c.bit_rate, packets, &ok);
        ASSERT_TRUE(ok);
        ASSERT_FALSE(reference.empty());

        QVDecoder d;
        ASSERT_EQ(d.QVOpenDecoder(c.id, _audio_param{c.rate, c.channels, c.bit_rate}), 0);
        std::vector<int16_t> ours;
        for (const Bytes& p : packets) {
            ASSERT_EQ(Push(d, p), 0);
            const auto s = Samples(d);
            ours.insert(ours.end(), s.begin(), s.end());
        }
        EXPECT_EQ(ours, reference);
    }
}

TEST_F(AudioTest, DecodeLibavcodec_PacketOfSeveralFramesLosesNothing) {
    const auto pcm = qvtest::MakeTestSignal(48000, 2, 48000 / 4);
    const auto packets = qvtest::EncodeAudio(AV_CODEC_ID_MP2, 48000, 2, 192000, pcm);
    ASSERT_GE(packets.size(), 4u);
    bool ok = false;
    const auto reference = qvtest::DecodeToS16(AV_CODEC_ID_MP2, 48000, 2, 192000, packets, &ok);
    ASSERT_TRUE(ok);
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_MP2, _audio_param{48000, 2, 192000}), 0);
    std::vector<int16_t> ours;
    for (size_t i = 0; i + 1 < packets.size(); i += 2) {
        Bytes both = packets[i];
        both.insert(both.end(), packets[i + 1].begin(), packets[i + 1].end());
        ASSERT_EQ(Push(d, both), 0);
        EXPECT_EQ(d.QVGetAudioFrameSize(), 2 * 1152 * 2 * 2);
        const auto s = Samples(d);
        ours.insert(ours.end(), s.begin(), s.end());
    }
    ASSERT_LE(ours.size(), reference.size());
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), reference.begin()));
}

TEST_F(AudioTest, DecodeLibavcodec_OversizedAudioIsRefusedNotCut) {
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_PCM_S16LE, _audio_param{48000, 2, 1536000}), 0);
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    Parts(d).log.set_threshold(31);  // the frame failures' level
    EXPECT_EQ(Push(d, Bytes(192000, 0x11)), 0);
    EXPECT_EQ(d.QVGetAudioFrameSize(), 192000);
    EXPECT_EQ(Push(d, Bytes(192004, 0x11)), -1);
    EXPECT_TRUE(LogCapture::Contains("DecodeAudioFrame: bad audio frame data.", 31));
    EXPECT_EQ(d.QVGetAudioFrameSize(), 0);
    EXPECT_EQ(Push(d, Bytes()), -1);
    EXPECT_EQ(Push(d, Bytes(400, 0x22)), 0) << "the decoder goes on after a refusal";
    EXPECT_EQ(d.QVGetAudioFrameSize(), 400);
    EXPECT_EQ(Samples(d)[7], 0x2222);
}

TEST_F(AudioTest, OpenAudioOnly_FailuresReportAndClose) {
    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_MPEG4, Cif()), 0);
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _audio_param{8000, 1, 64000}), -10007);
    EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: can't find the audio decoder."));
    EXPECT_FALSE(Parts(d).opened);
    EXPECT_EQ(Parts(d).video.context(), nullptr) << "the failure closes the video decoder too";

    LogCapture::Clear();
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_PCM_ALAW, _audio_param{8000, 0, 64000}), -10007);
    EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: failed to open audio codec."));
    EXPECT_EQ(Parts(d).audio.context(), nullptr);

    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G7221, _audio_param{8000, 1, 24000}), -1);
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G722, _audio_param{16000, 1, 32000}), -1);

    QVDecoderDestroy();
    LogCapture::Clear();
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G722, G722Wide()), -1);
    EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: decoder has not been initinalized."));
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_MPEG4, Cif(), CODEC_ID_QV_G722, G722Wide()), -1);
    QVDecoderInitialize();
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G722, G722Wide()), 0);
}

TEST_F(AudioTest, OpenAudioOnly_SecondOpenReplacesTheFirst) {
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_PCM_MULAW, _audio_param{8000, 1, 64000}), 0);
    const AVCodecContext* first = Parts(d).audio.context();
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_PCM_ALAW, _audio_param{8000, 1, 64000}), 0);
    ASSERT_NE(Parts(d).audio.context(), nullptr);
    EXPECT_EQ(Parts(d).audio.context()->codec_id, AV_CODEC_ID_PCM_ALAW);
    const Bytes alaw = {0xD5, 0x55, 0x2A, 0xAA};
    bool ok = false;
    const auto reference = qvtest::DecodeToS16(AV_CODEC_ID_PCM_ALAW, 8000, 1, 64000, {alaw}, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(Push(d, alaw), 0);
    EXPECT_EQ(Samples(d), reference);
    // Changing to the own decoder drops the libavcodec one.
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G722, G722Wide()), 0);
    EXPECT_EQ(Parts(d).audio.context(), nullptr);
}

TEST_F(AudioTest, OpenCombined_SucceedsOnceAndFailuresReport) {
    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_MPEG4, Cif(), CODEC_ID_PCM_ALAW, _audio_param{8000, 1, 64000}), 0);
    EXPECT_TRUE(Parts(d).opened);
    EXPECT_EQ(d.QVGetVideoFrameSize(), 352 * 288 * 3 / 2);
    EXPECT_EQ(d.QVGetAudioFrameSize(), 192000);
    EXPECT_EQ(Parts(d).video.context()->flags & AV_CODEC_FLAG_INTERLACED_DCT, 0);
    const AVCodecContext* audio = Parts(d).audio.context();
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif(), CODEC_ID_MP2, _audio_param{48000, 2, 128000}), 0);
    EXPECT_EQ(Parts(d).audio.context(), audio) << "an open object is left as it was";
    EXPECT_EQ(Push(d, Bytes(80, 0xD5)), 0);
    EXPECT_EQ(d.QVGetAudioFrameSize(), 160);

    struct Failure {
        CodecID video;
        _picture_param picture;
        CodecID audio;
        _audio_param audio_param;
        int result;
        const char* message;
    };
    for (Failure f : {
             Failure{CODEC_ID_MPEG4, Cif(), CODEC_ID_H264, {8000, 1, 64000}, -10100,
                     "QVOpenDecoder: no audio decoder found."},
             Failure{CODEC_ID_MPEG4, Cif(), CODEC_ID_PCM_ALAW, {8000, 0, 64000}, -10100,
                     "QVOpenDecoder: failed to open audio codec."},
             Failure{CODEC_ID_MPEG4, Cif(), CODEC_ID_QV_G722, {16000, 2, 64000}, -10100, nullptr},
             Failure{CODEC_ID_MPEG4, Cif(), CODEC_ID_QV_G7221, {16000, 1, 8000}, -10100, nullptr},
             Failure{CODEC_ID_MP2, Cif(), CODEC_ID_QV_G722, {16000, 1, 64000}, -10007,
                     "QVOpenDecoder:failed to find an decoder."},
             Failure{CODEC_ID_RAWVIDEO, {16, 16, PIX_FMT_NONE}, CODEC_ID_QV_G722, {16000, 1, 64000}, -10007,
                     "QVOpenDecoder: failed to open the video codec."},
             Failure{CODEC_ID_MPEG4, {0, 288, PIX_FMT_YUV420P}, CODEC_ID_QV_G722, {16000, 1, 64000}, -10005,
                     "QVOpenDecoder: wrong video buffer size."},
         }) {
        d.QVClose();
        LogCapture::Clear();
        EXPECT_EQ(d.QVOpenDecoder(f.video, f.picture, f.audio, f.audio_param), f.result) << f.result;
        if (f.message) {
            EXPECT_TRUE(LogCapture::Contains(f.message)) << f.message;
        } else {
            EXPECT_TRUE(LogCapture::Own().empty());
        }
        EXPECT_FALSE(Parts(d).opened);
        EXPECT_EQ(Parts(d).video.context(), nullptr);
        EXPECT_EQ(Parts(d).audio.context(), nullptr);
        EXPECT_EQ(d.QVGetAudioFrame(), nullptr);
    }
}

TEST_F(AudioTest, DecodeG7221_EmptyAndWholeFrames) {
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_QV_G7221, _audio_param{16000, 1, 24000}), 0);
    EXPECT_EQ(Push(d, Bytes()), -1);
    EXPECT_EQ(d.QVGetAudioFrameSize(), 0);
    Bytes frames(180, 0xFF);
    EXPECT_EQ(Push(d, frames), 0);
    EXPECT_EQ(d.QVGetAudioFrameSize(), 3 * 640);
    EXPECT_EQ(Push(d, Bytes(59, 0xFF)), -1);
    EXPECT_EQ(d.QVGetAudioFrameSize(), 0);
}

TEST_F(AudioTest, DecodeG7221_TwoObjectsOnTwoThreads) {
    auto worker = [](unsigned seed, int* failures) {
        QVDecoder d;
        if (d.QVOpenDecoder(CODEC_ID_QV_G7221, _audio_param{16000, 1, 32000}) != 0) {
            ++*failures;
            return;
        }
        std::mt19937 gen(seed);
        for (int i = 0; i < 300; ++i) {
            Bytes frame(160, 0xFF);
            for (int k = 0; k < 40; ++k) frame[k] = static_cast<uint8_t>(gen());
            if (Push(d, frame) != 0 || d.QVGetAudioFrameSize() != 1280) ++*failures;
        }
    };
    int f1 = 0, f2 = 0;
    std::thread a(worker, 1u, &f1), b(worker, 2u, &f2);
    a.join();
    b.join();
    EXPECT_EQ(f1 + f2, 0);
}

}  // namespace

// G.726 words carry no size of their own: the open derives it from the bit rate, and the
// decoder then gives two samples per byte at 32 kbit/s.
TEST(AudioG726Test, QVOpenDecoder_DerivesTheCodeWordSize) {
    QVDecoderInitialize();
    const auto pcm = qvtest::MakeTestSignal(8000, 1, 8000);
    const auto packets = qvtest::EncodeAudio(AV_CODEC_ID_ADPCM_G726, 8000, 1, 32000, pcm);
    ASSERT_FALSE(packets.empty());
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_ADPCM_G726, _audio_param{8000, 1, 32000}), 0);
    std::vector<int16_t> decoded;
    for (auto packet : packets) {
        ASSERT_EQ(d.QVDecodeAudioFrame(packet.data(), static_cast<int>(packet.size())), 0);
        EXPECT_EQ(d.QVGetAudioFrameSize(), static_cast<int>(packet.size()) * 2 * 2);
        const int16_t* s = reinterpret_cast<const int16_t*>(d.QVGetAudioFrame());
        decoded.insert(decoded.end(), s, s + d.QVGetAudioFrameSize() / 2);
    }
    // The coded tone comes back close to what went in (ADPCM is lossy but tracks the signal).
    double error = 0, energy = 0;
    const size_t n = std::min(decoded.size(), pcm.size());
    for (size_t i = 0; i < n; ++i) {
        error += (decoded[i] - pcm[i]) * double(decoded[i] - pcm[i]);
        energy += pcm[i] * double(pcm[i]);
    }
    EXPECT_GT(n, 6000u);
    EXPECT_LT(error, energy * 0.1);
}
