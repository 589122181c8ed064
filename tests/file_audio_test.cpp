// File-mode audio: packets that hold several audio frames are handed out piece by piece.
#include <gtest/gtest.h>

#include <cstring>

#include "QVDecoder.h"
#include "audio_factory.h"
#include "base/ffmpeg.h"
#include "file_factory.h"
#include "decoder_parts.h"

using qvtest::Parts;

namespace {

// Writes MP2 audio into a NUT file, `per_packet` encoded frames to a packet: NUT hands
// packets back as they were written, so each read packet holds several frames.
std::string WriteGroupedMp2(const std::string& path, const std::vector<qvtest::Bytes>& frames, int per_packet) {
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, "nut", path.c_str()) < 0) return "no nut muxer";
    AVStream* st = avformat_new_stream(out, nullptr);
    st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    st->codecpar->codec_id = AV_CODEC_ID_MP2;
    st->codecpar->sample_rate = 48000;
    st->codecpar->bit_rate = 128000;
    av_channel_layout_default(&st->codecpar->ch_layout, 1);
    st->time_base = AVRational{1, 48000};
    std::string error;
    if (avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || avformat_write_header(out, nullptr) < 0) {
        error = "cannot write header";
    }
    AVPacket* pkt = av_packet_alloc();
    int64_t pts = 0;
    for (size_t i = 0; error.empty() && i + per_packet <= frames.size(); i += per_packet) {
        std::vector<uint8_t> joined;
        for (int k = 0; k < per_packet; ++k) joined.insert(joined.end(), frames[i + k].begin(), frames[i + k].end());
        av_new_packet(pkt, static_cast<int>(joined.size()));
        std::memcpy(pkt->data, joined.data(), joined.size());
        pkt->pts = pkt->dts = av_rescale_q(pts, AVRational{1, 48000}, st->time_base);
        pkt->duration = 1152 * per_packet;
        pts += 1152 * per_packet;
        if (av_interleaved_write_frame(out, pkt) < 0) error = "cannot write packet";
    }
    av_packet_free(&pkt);
    if (error.empty()) av_write_trailer(out);
    avio_closep(&out->pb);
    avformat_free_context(out);
    return error;
}

}  // namespace

TEST(FileAudioTest, QVDecodeFrame_PacketOfThreeFramesGivesThreePiecesWithOneTime) {
    QVDecoderInitialize();
    const auto pcm = qvtest::MakeTestSignal(48000, 1, 1152 * 12);
    const auto frames = qvtest::EncodeAudio(AV_CODEC_ID_MP2, 48000, 1, 128000, pcm);
    ASSERT_GE(frames.size(), 9u);
    bool ok = false;
    const auto reference = qvtest::DecodeToS16(AV_CODEC_ID_MP2, 48000, 1, 128000, frames, &ok);
    ASSERT_TRUE(ok);

    qvtest::TempDir dir;
    const std::string path = dir.Path("grouped.nut");
    ASSERT_EQ(WriteGroupedMp2(path, frames, 3), "");
    const auto packets = qvtest::ReadPackets(path);
    ASSERT_GE(packets.size(), 3u);
    ASSERT_EQ(packets[0].data.size(), frames[0].size() + frames[1].size() + frames[2].size())
        << "the container must keep the three frames in one packet";

    QVDecoder d;
    ASSERT_EQ(d.QVOpen(path.c_str()), 0);
    std::vector<int16_t> decoded;
    std::vector<int64_t> times;
    int result;
    int pieces = 0;
    while ((result = d.QVDecodeFrame()) != -10003) {
        ASSERT_EQ(result, 1);
        ++pieces;
        times.push_back(d.QVGetFrameTimestamp());
        const int16_t* samples = reinterpret_cast<const int16_t*>(d.QVGetAudioFrame());
        decoded.insert(decoded.end(), samples, samples + d.QVGetAudioFrameSize() / 2);
        ASSERT_LT(pieces, 1000);
    }
    EXPECT_EQ(pieces, static_cast<int>(packets.size()) * 3) << "one call per audio frame";
    for (size_t p = 0; p + 2 < times.size(); p += 3) {
        EXPECT_EQ(times[p], times[p + 1]);
        EXPECT_EQ(times[p], times[p + 2]);
        if (p >= 3) {
            EXPECT_GT(times[p], times[p - 3]);
        }
    }
    ASSERT_LE(decoded.size(), reference.size());
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), reference.begin())) << "no frame lost or repeated";
    EXPECT_EQ(d.QVDecodeFrame(), -10003);
}

// A packet of several frames keeps the next frame decoded ahead between calls; closing in
// the middle of such a packet must let go of it like of everything else decoding made.
TEST(FileAudioTest, QVClose_ReleasesTheFrameDecodedAhead) {
    QVDecoderInitialize();
    const auto pcm = qvtest::MakeTestSignal(48000, 1, 1152 * 6);
    const auto frames = qvtest::EncodeAudio(AV_CODEC_ID_MP2, 48000, 1, 128000, pcm);
    ASSERT_GE(frames.size(), 3u);
    qvtest::TempDir dir;
    const std::string path = dir.Path("ahead.nut");
    ASSERT_EQ(WriteGroupedMp2(path, frames, 3), "");

    QVDecoder d;
    ASSERT_EQ(d.QVOpen(path.c_str()), 0);
    ASSERT_EQ(d.QVDecodeFrame(), 1);
    const AVFrame* ahead = Parts(d).audio.next_frame();
    ASSERT_NE(ahead, nullptr);
    ASSERT_GT(ahead->nb_samples, 0) << "the second frame of the packet waits";
    d.QVClose();
    ahead = Parts(d).audio.next_frame();
    if (ahead) {
        EXPECT_EQ(ahead->nb_samples, 0);
        EXPECT_EQ(ahead->buf[0], nullptr) << "decoded samples kept after QVClose";
    }
}
