// Stream-mode video pushed in pieces cut at packet boundaries (transfer_mode 1): program
// stream packs that cut frames mid-unit, arbitrary chunks of an elementary stream, and many
// frames in one push. The pictures must be those libavcodec decodes from the whole frames,
// in order, one per call at most.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "QVDecoder.h"
#include "decoder_parts.h"

using qvtest::Parts;
#include "media_factory.h"
#include "ps_muxer.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ChunkedInputTest : public ::testing::Test {
protected:
    void SetUp() override { QVDecoderInitialize(); }
};

std::vector<Bytes> Chunks(const Bytes& stream, size_t size) {
    std::vector<Bytes> pieces;
    for (size_t at = 0; at < stream.size(); at += size) {
        const size_t end = std::min(stream.size(), at + size);
        pieces.emplace_back(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(end));
    }
    return pieces;
}

// Pushes each piece from a buffer of its exact size; collects the pictures delivered.
std::vector<Bytes> PushAll(QVDecoder& d, const std::vector<Bytes>& pieces) {
    std::vector<Bytes> pictures;
    for (const Bytes& piece : pieces) {
        Bytes copy(piece);
        const int result = d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), 0);
        EXPECT_TRUE(result == 0 || result == -1) << result;
        if (result == 0) {
            const uint8_t* p = d.QVGetVideoFrame();
            pictures.emplace_back(p, p + d.QVGetVideoFrameSize());
        }
    }
    return pictures;
}

// The pictures are the stream's, in order; only the frame the parser has not seen the
// end of (and what the decoder itself keeps back) may still be missing.
void ExpectStreamPictures(const std::vector<Bytes>& pictures, const qvtest::EncodedVideo& video) {
    const auto all = qvtest::DecodeReference(video.codec_id, video.packets, {}, true);
    const auto stream_mode = qvtest::DecodeReference(video.codec_id, video.packets);
    ASSERT_EQ(all.size(), video.packets.size());
    ASSERT_LE(pictures.size(), all.size());
    EXPECT_GE(pictures.size() + 1, stream_mode.size());
    for (size_t i = 0; i < pictures.size(); ++i) {
        // Compared as a whole: a listing of two pictures' bytes helps nobody.
        EXPECT_TRUE(pictures[i] == all[i].bytes) << "picture " << i << " of " << pictures.size();
    }
}

void OpenChunked(QVDecoder& d, CodecID codec, int demux) {
    ASSERT_EQ(d.QVDecoderSetDemux(demux), 0);
    ASSERT_EQ(d.QVDecoderSetStreamMode(TRANSFER_MODE_CHUNK), 0);
    ASSERT_EQ(d.QVOpenDecoder(codec, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
}

qvtest::EncodedVideo Video(const char* encoder, int frames, int seed = 0) {
    qvtest::VideoOptions o;
    o.frames = frames;
    o.gop = 6;
    o.seed = seed;
    return qvtest::EncodeVideo(encoder, o);
}

// libavformat's "vob" muxer writes MPEG-2 packs of 2048 bytes beside MP2 audio, cutting
// frames anywhere, also inside NAL units and slices. (Its "mpeg" muxer writes MPEG-1
// packs, which the demultiplexer refuses.)
void ExpectProgramStreamDecodes(const char* encoder, CodecID codec) {
    const auto video = Video(encoder, 24);
    const auto packs = qvtest::CutAtPacks(qvtest::MuxProgramStream(video, "vob", true));
    ASSERT_GT(packs.size(), video.packets.size());
    QVDecoder d;
    OpenChunked(d, codec, 1);
    ExpectStreamPictures(PushAll(d, packs), video);

    // Demultiplexing turned on after the open applies from the next push, and so does the
    // parser with it: without it a pack holding two frames gave one picture.
    QVDecoder late;
    ASSERT_EQ(late.QVOpenDecoder(codec, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    ASSERT_EQ(late.QVDecoderSetDemux(1), 0);
    ASSERT_EQ(late.QVDecoderSetStreamMode(TRANSFER_MODE_CHUNK), 0);
    ExpectStreamPictures(PushAll(late, packs), video);
    EXPECT_NE(Parts(late).stream.chunks().parser(), nullptr);
}

TEST_F(ChunkedInputTest, ProgramStreamPacks_H264WithAudio) {
    ExpectProgramStreamDecodes("libx264", CODEC_ID_H264);
}

TEST_F(ChunkedInputTest, ProgramStreamPacks_Mpeg2WithAudio) {
    ExpectProgramStreamDecodes("mpeg2video", CODEC_ID_MPEG2VIDEO);
}

TEST_F(ChunkedInputTest, ProgramStreamPacks_HevcWithAudio) {
    ExpectProgramStreamDecodes("libx265", CODEC_ID_QV_HEVC);
}

TEST_F(ChunkedInputTest, ElementaryStreamInThousandByteChunks) {
    const std::pair<const char*, CodecID> codecs[] = {{"libx264", CODEC_ID_H264},
                                                      {"mpeg2video", CODEC_ID_MPEG2VIDEO},
                                                      {"mpeg4", CODEC_ID_MPEG4},
                                                      {"libx265", CODEC_ID_QV_HEVC}};
    for (const auto& [encoder, codec] : codecs) {
        SCOPED_TRACE(encoder);
        const auto video = Video(encoder, 16);
        QVDecoder d;
        OpenChunked(d, codec, 0);
        ExpectStreamPictures(PushAll(d, Chunks(qvtest::Concatenate(video.packets), 1000)), video);
    }
}

// A damaged frame (cut short, or its slice data garbled) costs that frame at most: the
// chunked mode delivers what frame mode delivers, byte for byte.
TEST_F(ChunkedInputTest, DamagedFrame_SamePicturesAsFrameMode) {
    for (int damage = 0; damage < 2; ++damage) {
        SCOPED_TRACE(damage);
        auto video = Video("libx264", 6, 3);
        Bytes& hurt = video.packets[2].data;
        if (damage == 0) hurt.resize(hurt.size() / 2);
        for (size_t k = hurt.size() / 2; damage == 1 && k < hurt.size(); ++k) hurt[k] ^= 0x5a;
        std::vector<Bytes> frames;
        for (const auto& p : video.packets) frames.push_back(p.data);
        QVDecoder frame_mode, chunked;
        frame_mode.QVDecoderRegisterLog(nullptr, -8);
        chunked.QVDecoderRegisterLog(nullptr, -8);
        ASSERT_EQ(frame_mode.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
        OpenChunked(chunked, CODEC_ID_H264, 0);
        std::vector<Bytes> want = PushAll(frame_mode, frames);
        std::vector<Bytes> got = PushAll(chunked, frames);
        for (QVDecoder* d : {&frame_mode, &chunked}) {
            std::vector<Bytes>& out = d == &chunked ? got : want;
            ASSERT_EQ(d->QVFlushVideo(), 0);
            while (d->QVReceiveVideoFrame() == 0) out.emplace_back(d->QVGetVideoFrame(), d->QVGetVideoFrame() + d->QVGetVideoFrameSize());
        }
        EXPECT_EQ(want.size(), 6u);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(got[i] == want[i]) << "picture " << i;
    }
}

// VP9 and AV1 streams have no start codes to cut at: their parsers take each push as one
// whole frame (a VP9 superframe, an AV1 temporal unit), so the chunked mode still decodes
// frame by frame.
TEST_F(ChunkedInputTest, Vp9AndAv1_WholeFramesPassTheirParsers) {
    const std::pair<const char*, CodecID> codecs[] = {{"libvpx-vp9", CODEC_ID_QV_VP9}, {"libaom-av1", CODEC_ID_QV_AV1}};
    for (const auto& [encoder, codec] : codecs) {
        SCOPED_TRACE(encoder);
        const auto video = Video(encoder, 8);
        std::vector<Bytes> frames;
        for (const auto& packet : video.packets) frames.push_back(packet.data);
        QVDecoder d;
        OpenChunked(d, codec, 0);
        const std::vector<Bytes> pictures = PushAll(d, frames);
        EXPECT_NE(Parts(d).stream.chunks().parser(), nullptr);
        EXPECT_EQ(pictures.size(), qvtest::DecodeReference(video.codec_id, video.packets).size());
        ExpectStreamPictures(pictures, video);
    }
}

TEST_F(ChunkedInputTest, ManyFramesInOnePush_WaitAndComeOutInOrder) {
    const auto video = Video("libx264", 24);
    // Three pushes of five frames each, then the rest in small pieces: the decoder takes
    // fewer frames than arrive, so frames wait across calls.
    std::vector<Bytes> pieces;
    for (size_t first = 0; first < 15; first += 5) {
        const std::vector<qvtest::EncodedPacket> five(video.packets.begin() + static_cast<long>(first),
                                                      video.packets.begin() + static_cast<long>(first + 5));
        pieces.push_back(qvtest::Concatenate(five));
    }
    const std::vector<qvtest::EncodedPacket> rest(video.packets.begin() + 15, video.packets.end());
    for (Bytes& piece : Chunks(qvtest::Concatenate(rest), 300)) pieces.push_back(std::move(piece));

    QVDecoder d;
    OpenChunked(d, CODEC_ID_H264, 0);
    const std::vector<Bytes> head(pieces.begin(), pieces.begin() + 3);
    std::vector<Bytes> pictures = PushAll(d, head);
    EXPECT_EQ(pictures.size(), 3u) << "one picture per call";
    EXPECT_GT(Parts(d).stream.chunks().waiting_frames(), 5u);
    for (Bytes& p : PushAll(d, std::vector<Bytes>(pieces.begin() + 3, pieces.end()))) {
        pictures.push_back(std::move(p));
    }
    EXPECT_EQ(Parts(d).stream.chunks().waiting_frames(), 0u);
    ExpectStreamPictures(pictures, video);
}

TEST_F(ChunkedInputTest, MovedDecoder_KeepsTheFramesAndPartialFrameItHolds) {
    const auto video = Video("libx264", 12);
    const auto pieces = Chunks(qvtest::Concatenate(video.packets), 700);
    const size_t half = pieces.size() / 2;

    QVDecoder first;
    OpenChunked(first, CODEC_ID_H264, 0);
    std::vector<Bytes> pictures = PushAll(first, std::vector<Bytes>(pieces.begin(), pieces.begin() + static_cast<long>(half)));
    QVDecoder second;
    second = std::move(first);
    EXPECT_EQ(Parts(first).stream.chunks().parser(), nullptr);
    ASSERT_NE(Parts(second).stream.chunks().parser(), nullptr);
    for (Bytes& p : PushAll(second, std::vector<Bytes>(pieces.begin() + static_cast<long>(half), pieces.end()))) {
        pictures.push_back(std::move(p));
    }
    ExpectStreamPictures(pictures, video);
}

TEST_F(ChunkedInputTest, CloseDropsThePartialFrame_NextStreamStartsClean) {
    const auto old_video = Video("libx264", 6, 1);
    const Bytes old_stream = qvtest::Concatenate(old_video.packets);
    const auto video = Video("libx264", 12, 2);

    QVDecoder d;
    OpenChunked(d, CODEC_ID_H264, 0);
    // Ends in the middle of a frame: without the close its bytes would start the next one.
    PushAll(d, Chunks(Bytes(old_stream.begin(), old_stream.end() - 500), 1000));
    d.QVClose();
    EXPECT_EQ(Parts(d).stream.chunks().parser(), nullptr);
    EXPECT_EQ(Parts(d).stream.chunks().waiting_frames(), 0u);
    OpenChunked(d, CODEC_ID_H264, 0);
    ExpectStreamPictures(PushAll(d, Chunks(qvtest::Concatenate(video.packets), 1000)), video);
}

// Bytes that never end a frame must not pile up in the parser without end.
TEST_F(ChunkedInputTest, BytesThatNeverEndAFrame_AreDroppedPastABound) {
    const auto video = Video("libx264", 6, 2);
    QVDecoder d;
    OpenChunked(d, CODEC_ID_H264, 0);
    Bytes junk(1 << 20, 0xFF);
    size_t most = 0;
    for (int i = 0; i < 70; ++i) {
        d.QVDecodeVideoFrame(junk.data(), static_cast<int>(junk.size()), 0);
        most = std::max(most, Parts(d).stream.chunks().parsed_since_frame());
    }
    EXPECT_GE(most, size_t{60} << 20);
    EXPECT_LT(Parts(d).stream.chunks().parsed_since_frame(), size_t{64} << 20);
    ExpectStreamPictures(PushAll(d, Chunks(qvtest::Concatenate(video.packets), 1000)), video);
}

TEST_F(ChunkedInputTest, WithoutParserOrChunkedOpen_FramesGoStraightToTheDecoder) {
    // FLV1 has no parser: each pushed frame is decoded at once, as without the mode.
    const auto flv = Video("flv", 5);
    const auto flv_reference = qvtest::DecodeReference(flv.codec_id, flv.packets);
    ASSERT_EQ(flv_reference.size(), flv.packets.size());
    QVDecoder d;
    OpenChunked(d, CODEC_ID_FLV1, 0);
    for (size_t i = 0; i < flv.packets.size(); ++i) {
        const auto pictures = PushAll(d, {flv.packets[i].data});
        ASSERT_EQ(pictures.size(), 1u) << i;
        EXPECT_TRUE(pictures[0] == flv_reference[i].bytes) << i;
    }
    EXPECT_EQ(Parts(d).stream.chunks().parser(), nullptr);

    // The mode chosen after the open does not reach that decoder: whole frames, no delay.
    const auto h264 = Video("libx264", 3);
    const auto h264_reference = qvtest::DecodeReference(h264.codec_id, h264.packets);
    QVDecoder late;
    ASSERT_EQ(late.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    ASSERT_EQ(late.QVDecoderSetStreamMode(TRANSFER_MODE_CHUNK), 0);
    const auto pictures = PushAll(late, {h264.packets[0].data});
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_TRUE(pictures[0] == h264_reference[0].bytes);
    EXPECT_EQ(Parts(late).stream.chunks().parser(), nullptr);
}

}  // namespace
