// The receive loop and the end-of-stream flush: every picture of a pushed stream comes out,
// in order, with its flags; reordering depth and threads change only when.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "media_factory.h"
#include "ps_muxer.h"
#include "sps_edit.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ReceiveTest : public ::testing::Test {
protected:
    void SetUp() override { QVDecoderInitialize(); }
};

struct Delivered {
    std::vector<Bytes> pictures;
    std::vector<int> flags;
    int decode_results_ok = 0;  // pushes that returned 0 by themselves
};

void Take(QVDecoder& d, Delivered& out) {
    const uint8_t* p = d.QVGetVideoFrame();
    out.pictures.emplace_back(p, p + d.QVGetVideoFrameSize());
    out.flags.push_back(d.QVGetPictureFlags());
}

// Pushes every piece, takes every further picture after each push, flushes at the end.
Delivered PushWithReceiveLoop(QVDecoder& d, const std::vector<Bytes>& pieces) {
    Delivered out;
    for (const Bytes& piece : pieces) {
        Bytes copy(piece);
        if (d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), 0) == 0) {
            ++out.decode_results_ok;
            Take(d, out);
        }
        while (d.QVReceiveVideoFrame() == 0) Take(d, out);
    }
    EXPECT_EQ(d.QVFlushVideo(), 0);
    while (d.QVReceiveVideoFrame() == 0) Take(d, out);
    return out;
}

std::vector<Bytes> Frames(const qvtest::EncodedVideo& video) {
    std::vector<Bytes> frames;
    for (const auto& p : video.packets) frames.push_back(p.data);
    return frames;
}

void ExpectAll(const Delivered& got, const std::vector<qvtest::Picture>& reference) {
    ASSERT_EQ(got.pictures.size(), reference.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        EXPECT_TRUE(got.pictures[i] == reference[i].bytes) << "picture " << i;
    }
}

qvtest::EncodedVideo Encode(const char* encoder, int frames, int b_frames, int width = 352, int height = 288,
                            const std::string& x264 = "") {
    qvtest::VideoOptions o;
    o.frames = frames;
    o.b_frames = b_frames;
    o.gop = 12;
    o.width = width;
    o.height = height;
    o.x264_params = x264;
    return qvtest::EncodeVideo(encoder, o);
}

TEST_F(ReceiveTest, ReceiveLoopAndFlush_GiveEveryPictureOfTheStream) {
    struct Case {
        const char* encoder;
        CodecID codec;
        int b_frames;
        int threads;
    } cases[] = {
        {"libx264", CODEC_ID_H264, 3, 1},     {"libx264", CODEC_ID_H264, 0, 1},
        {"mpeg2video", CODEC_ID_MPEG2VIDEO, 2, 1}, {"mpeg4", CODEC_ID_MPEG4, 2, 1},
        {"libx264", CODEC_ID_H264, 3, 0},     {"mpeg2video", CODEC_ID_MPEG2VIDEO, 2, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.encoder) + " b=" + std::to_string(c.b_frames) + " threads=" + std::to_string(c.threads));
        const auto video = Encode(c.encoder, 30, c.b_frames);
        QVDecoder d;
        ASSERT_EQ(d.QVDecoderSetThreads(c.threads), 0);
        ASSERT_EQ(d.QVDecoderSetLatencyMode(LATENCY_MODE_COMPLETE), 0);
        ASSERT_EQ(d.QVOpenDecoder(c.codec, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
        const Delivered got = PushWithReceiveLoop(d, Frames(video));
        ExpectAll(got, qvtest::DecodeReference(video.codec_id, video.packets, {}, true));
        // Pictures held back for reordering or by threads come out of the flush, marked so.
        if (c.b_frames > 0 || c.threads != 1) {
            EXPECT_NE(got.flags.back() & QV_PICTURE_DRAINED, 0);
        }
        EXPECT_EQ(got.flags.front() & (QV_PICTURE_KEY | QV_PICTURE_DAMAGED | QV_PICTURE_DRAINED), QV_PICTURE_KEY);
    }
}

TEST_F(ReceiveTest, Threads_SameConvertedPictures) {
    // Slice threads in the decoder and in the scaler: the pictures are the same.
    const auto video = Encode("libx264", 12, 0, 352, 288, "slices=4");
    std::vector<Bytes> runs[2];
    for (int threads : {1, 2}) {
        QVDecoder d;
        ASSERT_EQ(d.QVDecoderSetThreads(threads), 0);
        d.QVSetOutput(_picture_param{200, 150, PIX_FMT_BGR24}, 0);
        ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
        runs[threads - 1] = PushWithReceiveLoop(d, Frames(video)).pictures;
    }
    ASSERT_EQ(runs[0].size(), video.packets.size());
    EXPECT_TRUE(runs[0] == runs[1]);
}

TEST_F(ReceiveTest, SmallPicturesInDvdPacks_AllComeOut) {
    // Several 176x144 frames fit one 2048-byte pack: one push yields several pictures.
    const auto video = Encode("libx264", 60, 2, 176, 144);
    const auto packs = qvtest::CutAtPacks(qvtest::MuxProgramStream(video, "vob", true));
    QVDecoder d;
    ASSERT_EQ(d.QVDecoderSetDemux(1), 0);
    ASSERT_EQ(d.QVDecoderSetStreamMode(TRANSFER_MODE_CHUNK), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 144, PIX_FMT_YUV420P}), 0);
    const Delivered got = PushWithReceiveLoop(d, packs);
    EXPECT_LT(got.decode_results_ok, static_cast<int>(video.packets.size())) << "more pictures than packs";
    ExpectAll(got, qvtest::DecodeReference(video.codec_id, video.packets, {}, true));
}

TEST_F(ReceiveTest, FlushThenNewStream_DecodesAsFromAFreshStart) {
    const auto first = Encode("libx264", 12, 2);
    const auto second = Encode("libx264", 12, 2, 352, 288, "");
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    ExpectAll(PushWithReceiveLoop(d, Frames(first)), qvtest::DecodeReference(first.codec_id, first.packets, {}, true));
    // A camera that reconnects: the same object takes the new stream.
    ExpectAll(PushWithReceiveLoop(d, Frames(second)), qvtest::DecodeReference(second.codec_id, second.packets, {}, true));
    EXPECT_EQ(d.QVReceiveVideoFrame(), -1);
}

TEST_F(ReceiveTest, ReorderDepthNotStated_LowLatencyLosesCompleteKeeps) {
    // Pyramids of B-pictures: without the depth in the parameter sets the decoder shows a
    // picture too early and only then learns how deep it must reorder.
    auto video = Encode("libx264", 24, 7, 176, 144, "b-pyramid=normal:b-adapt=0");
    const auto reference = qvtest::DecodeReference(video.codec_id, video.packets, {}, true);
    ASSERT_TRUE(qvtest::StripReorderDepth(video.packets));

    QVDecoder low;
    ASSERT_EQ(low.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 144, PIX_FMT_YUV420P}), 0);
    EXPECT_LT(PushWithReceiveLoop(low, Frames(video)).pictures.size(), reference.size());

    QVDecoder complete;
    ASSERT_EQ(complete.QVDecoderSetLatencyMode(LATENCY_MODE_COMPLETE), 0);
    ASSERT_EQ(complete.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 144, PIX_FMT_YUV420P}), 0);
    ExpectAll(PushWithReceiveLoop(complete, Frames(video)), reference);
}

TEST_F(ReceiveTest, DroppedFrame_LaterPicturesFlaggedDamagedUntilKeyFrame) {
    const auto video = Encode("libx264", 30, 0);  // key frames at 0, 12, 24
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    std::vector<int> flags(video.packets.size(), -1);
    for (size_t i = 0; i < video.packets.size(); ++i) {
        if (i == 5) continue;  // lost on the way
        Bytes copy(video.packets[i].data);
        if (d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), 0) == 0) flags[i] = d.QVGetPictureFlags();
    }
    for (size_t i = 0; i < flags.size(); ++i) {
        if (i == 5 || flags[i] < 0) continue;
        const bool damaged = (flags[i] & QV_PICTURE_DAMAGED) != 0;
        EXPECT_EQ(damaged, i > 5 && i < 12) << "picture " << i;
        EXPECT_EQ((flags[i] & QV_PICTURE_KEY) != 0, i % 12 == 0) << "picture " << i;
    }
}

TEST_F(ReceiveTest, BadUse_RefusedWithoutHarm) {
    QVDecoder d;
    EXPECT_EQ(d.QVReceiveVideoFrame(), -1) << "nothing open";
    EXPECT_EQ(d.QVFlushVideo(), -1);
    EXPECT_EQ(d.QVDecoderSetThreads(-1), -1);
    EXPECT_EQ(d.QVDecoderSetThreads(65), -1);
    EXPECT_EQ(d.QVDecoderSetThreads(64), 0);
    EXPECT_EQ(d.QVDecoderSetLatencyMode(static_cast<latency_mode>(7)), -1);
    EXPECT_EQ(d.QVGetPictureFlags(), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    EXPECT_EQ(d.QVReceiveVideoFrame(), -1) << "nothing pushed";
    EXPECT_EQ(d.QVFlushVideo(), 0);
    EXPECT_EQ(d.QVFlushVideo(), 0) << "a second flush is harmless";
    EXPECT_EQ(d.QVReceiveVideoFrame(), -1);
    // Pushing after a flush whose pictures were not taken starts afresh; a file call on the
    // pushed stream leaves its pictures alone.
    EXPECT_EQ(d.QVDecodeFrame(), -10003);
    const auto video = Encode("libx264", 3, 0);
    Bytes copy(video.packets[0].data);
    EXPECT_EQ(d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), 0), 0);
    EXPECT_EQ(d.QVGetPictureFlags(), QV_PICTURE_KEY);
}

}  // namespace
