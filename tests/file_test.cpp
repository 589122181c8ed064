// File mode: opening media files, decoding them packet by packet, packet times.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <malloc.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "file/file_rates.h"
#include "file/picture_clock.h"
#include "live/rtp_units.h"
#include "file_factory.h"
#include "file_pictures.h"
#include "decoder_parts.h"

using qvtest::Parts;
#include "log_capture.h"
#include "packet_muxer.h"
#include "ps_muxer.h"
#include "sps_edit.h"
#include "watchdog.h"

using qvtest::ExpectSamePictures;
using qvtest::ExtraStream;
using qvtest::LogCapture;
using qvtest::MediaFile;
using qvtest::Picture;
using qvtest::VideoTrack;

namespace {

MediaFile VideoFile(const std::string& muxer, AVCodecID codec, int frames = 25) {
    MediaFile file;
    file.muxer = muxer;
    VideoTrack track;
    track.codec = codec;
    file.video.push_back(track);
    file.frames = frames;
    return file;
}

struct Decoded {
    std::vector<Picture> pictures;   // one per result 0, as the host reads it
    std::vector<int> results;        // every result up to the first -10003
    std::vector<int64_t> picture_times;  // QVGetFrameTimestamp with each picture
    std::vector<int> flags;              // QVGetPictureFlags with each picture
};

// Runs QVDecodeFrame to the end of the file, the way a host plays a file; with `planes`, each
// picture's planes are checked against the picture handed out.
Decoded DecodeAll(QVDecoder& decoder, int limit = 10000, bool planes = false) {
    Decoded out;
    for (int i = 0; i < limit; ++i) {
        const int result = decoder.QVDecodeFrame();
        out.results.push_back(result);
        if (result == -10003) break;
        if (result == 0) {
            out.pictures.push_back(qvtest::HandedOutPicture(decoder));
            if (planes) qvtest::ExpectPlanesHoldPicture(decoder, out.pictures.back());
            out.picture_times.push_back(decoder.QVGetFrameTimestamp());
            out.flags.push_back(decoder.QVGetPictureFlags());
        }
    }
    return out;
}

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        QVDecoderInitialize();
        LogCapture::Clear();
    }

    std::string Make(const std::string& name, const MediaFile& media) {
        const std::string path = dir_.Path(name);
        const std::string error = qvtest::WriteMediaFile(path, media);
        EXPECT_EQ(error, "") << name;
        return path;
    }

    qvtest::TempDir dir_;
};

struct Container {
    const char* muxer;
    AVCodecID codec;
    int b_frames;
    CodecID reported;  // QVGetParam's codec number
};

class FileDecodeTest : public FileTest, public ::testing::WithParamInterface<Container> {};

TEST_P(FileDecodeTest, QVDecodeFrame_DeliversEveryPictureLikeLibavcodec) {
    const Container c = GetParam();
    MediaFile media = VideoFile(c.muxer, c.codec);
    media.video[0].max_b_frames = c.b_frames;
    const std::string path = Make(std::string("clip.") + c.muxer, media);

    // Field mode belongs to pushed streams: a file's pictures are whole whatever it says.
    for (const code_mode mode : {CODE_MODE_FRAME, CODE_MODE_FIELD}) {
        QVDecoder decoder;
        decoder.QVDecoderSetEncodeMode(mode);
        ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
        EXPECT_EQ(Parts(decoder).picture.video_param.codec_id, c.codec);
        EXPECT_EQ(Parts(decoder).picture.video_param.width, 176);
        EXPECT_EQ(Parts(decoder).picture.video_param.height, 144);
        _video_param param{};
        ASSERT_EQ(decoder.QVGetParam(param), 0);
        EXPECT_EQ(param.codec_id, c.reported);
        EXPECT_EQ(param.height, 144);
        const Decoded got = DecodeAll(decoder, 10000, true);
        ExpectSamePictures(got.pictures, qvtest::ReferencePictures(path));
        // Past the end the answer stays the same.
        EXPECT_EQ(decoder.QVDecodeFrame(), -10003);
        EXPECT_EQ(decoder.QVDecodeFrame(), -10003);
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, FileDecodeTest,
                         ::testing::Values(Container{"mp4", AV_CODEC_ID_H264, 0, CODEC_ID_H264},
                                           Container{"mov", AV_CODEC_ID_H264, 0, CODEC_ID_H264},
                                           Container{"3gp", AV_CODEC_ID_H264, 0, CODEC_ID_H264},
                                           Container{"flv", AV_CODEC_ID_H264, 0, CODEC_ID_H264},
                                           Container{"mp4", AV_CODEC_ID_H264, 2, CODEC_ID_H264},
                                           Container{"avi", AV_CODEC_ID_MPEG4, 0, CODEC_ID_MPEG4},
                                           Container{"mp4", AV_CODEC_ID_MPEG4, 0, CODEC_ID_MPEG4},
                                           Container{"mpeg", AV_CODEC_ID_MPEG2VIDEO, 2, CODEC_ID_MPEG2VIDEO},
                                           Container{"asf", AV_CODEC_ID_WMV2, 0, CODEC_ID_WMV2},
                                           Container{"rm", AV_CODEC_ID_RV20, 0, CODEC_ID_RV20},
                                           Container{"matroska", AV_CODEC_ID_H264, 0, CODEC_ID_H264},
                                           Container{"mpegts", AV_CODEC_ID_H264, 0, CODEC_ID_H264},
                                           Container{"mp4", AV_CODEC_ID_HEVC, 0, CODEC_ID_QV_HEVC},
                                           Container{"matroska", AV_CODEC_ID_HEVC, 2, CODEC_ID_QV_HEVC},
                                           Container{"mpegts", AV_CODEC_ID_HEVC, 0, CODEC_ID_QV_HEVC},
                                           Container{"webm", AV_CODEC_ID_VP9, 0, CODEC_ID_QV_VP9},
                                           Container{"matroska", AV_CODEC_ID_AV1, 0, CODEC_ID_QV_AV1},
                                           Container{"mp4", AV_CODEC_ID_AV1, 0, CODEC_ID_QV_AV1}),
                         [](const ::testing::TestParamInfo<Container>& info) {
                             return std::string(info.param.muxer) + "_" + avcodec_get_name(info.param.codec) +
                                    (info.param.b_frames ? "_bframes" : "");
                         });

TEST_F(FileTest, QVDecodeFrame_BFramesHeldAtTheEndAreDeliveredBeforeEndOfFile) {
    MediaFile media = VideoFile("mp4", AV_CODEC_ID_H264, 20);
    media.video[0].max_b_frames = 2;
    const std::string path = Make("b.mp4", media);
    int video_packets = 0;
    for (const qvtest::PacketInfo& p : qvtest::ReadPackets(path)) video_packets += p.stream == 0;

    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const Decoded got = DecodeAll(decoder);
    // Every packet gave a result, then the held pictures came out one call each.
    const size_t ok = got.pictures.size();
    EXPECT_EQ(ok, qvtest::ReferencePictures(path).size());
    ASSERT_GE(got.results.size(), 2u);
    EXPECT_EQ(got.results[got.results.size() - 2], 0) << "the last picture comes from the drain";
    EXPECT_GT(got.results.size() - 1, static_cast<size_t>(video_packets));
}

TEST_F(FileTest, QVGetFrameTimestamp_FollowsTheContainerTimes) {
    MediaFile media = VideoFile("mp4", AV_CODEC_ID_H264, 15);
    media.video[0].max_b_frames = 2;
    media.audio = AV_CODEC_ID_AAC;
    const std::string path = Make("t.mp4", media);
    const std::vector<qvtest::PacketInfo> packets = qvtest::ReadPackets(path);

    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    size_t next = 0;
    for (int i = 0; i < 1000 && next < packets.size(); ++i) {
        const int result = decoder.QVDecodeFrame();
        ASSERT_NE(result, -10003);
        const qvtest::PacketInfo& p = packets[next];
        // Video packets are timed by decoding time, audio packets by presentation time.
        const int64_t time = p.stream == 0 ? p.dts : p.pts;
        const double seconds = static_cast<double>(p.time_base.num) * time / p.time_base.den;
        EXPECT_EQ(decoder.QVGetFrameTimestamp(), static_cast<int64_t>(seconds * 1000000.0)) << "packet " << next;
        // An audio packet may take several calls; it is done when the decoder has moved on.
        if (p.stream == 0 || Parts(decoder).session.file().packet()->size <= 0) ++next;
    }
    EXPECT_EQ(next, packets.size());
}

TEST_F(FileTest, QVGetFrameTimestamp_TruncatesTowardZero) {
    QVDecoder decoder;
    Parts(decoder).session.file().frame_time = 1.5;
    EXPECT_EQ(decoder.QVGetFrameTimestamp(), 1500000);
    Parts(decoder).session.file().frame_time = -0.0000015;
    EXPECT_EQ(decoder.QVGetFrameTimestamp(), -1);
    Parts(decoder).session.file().frame_time = -2.9999996;
    EXPECT_EQ(decoder.QVGetFrameTimestamp(), -2999999);
}

TEST_F(FileTest, QVOpen_ChoosesTheLastVideoStream) {
    MediaFile media = VideoFile("mp4", AV_CODEC_ID_H264, 10);
    VideoTrack second;
    second.width = 128;
    second.height = 96;
    second.seed = 3;
    media.video.push_back(second);
    const std::string path = Make("two.mp4", media);

    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_EQ(Parts(decoder).picture.video_param.width, 128);
    EXPECT_EQ(Parts(decoder).session.file().video_stream()->index, 1);
    const Decoded got = DecodeAll(decoder);
    ExpectSamePictures(got.pictures, qvtest::ReferencePictures(path));
    // The first stream's packets belong to no chosen stream.
    int other = 0;
    for (int r : got.results) other += r == -10001;
    EXPECT_EQ(other, 10);

    // A host may choose: the first stream by its index, or none; an index that is no video
    // stream fails the open, and -2 goes back to the default choice.
    decoder.QVClose();
    EXPECT_EQ(decoder.QVDecoderSelectStreams(-3, -2), -1);
    ASSERT_EQ(decoder.QVDecoderSelectStreams(0, -1), 0);
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_EQ(Parts(decoder).picture.video_param.width, 176);
    EXPECT_EQ(DecodeAll(decoder).pictures.size(), 10u);
    decoder.QVClose();
    for (const int wrong : {2, 7}) {
        ASSERT_EQ(decoder.QVDecoderSelectStreams(wrong, -2), 0);
        EXPECT_EQ(decoder.QVOpen(path.c_str()), -10005);
    }
    ASSERT_EQ(decoder.QVDecoderSelectStreams(-1, -2), 0);
    EXPECT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_FALSE(Parts(decoder).session.file_mode());
    decoder.QVClose();
    ASSERT_EQ(decoder.QVDecoderSelectStreams(-2, -2), 0);
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_EQ(Parts(decoder).session.file().video_stream()->index, 1);
}

TEST_F(FileTest, QVDecodeFrame_PacketsOfOtherStreamsAreSkippedOneByOne) {
    for (ExtraStream kind : {ExtraStream::kSubtitle, ExtraStream::kData}) {
        MediaFile media = VideoFile(kind == ExtraStream::kSubtitle ? "mp4" : "mpegts", AV_CODEC_ID_H264, 20);
        media.extra = kind;
        const std::string path = Make(kind == ExtraStream::kSubtitle ? "sub.mp4" : "data.ts", media);
        int extra_packets = 0;
        for (const qvtest::PacketInfo& p : qvtest::ReadPackets(path)) extra_packets += p.stream == 1;
        ASSERT_GT(extra_packets, 0);

        QVDecoder decoder;
        ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
        const Decoded got = DecodeAll(decoder);
        int skipped = 0;
        for (int r : got.results) skipped += r == -10001;
        EXPECT_EQ(skipped, extra_packets);
        ExpectSamePictures(got.pictures, qvtest::ReferencePictures(path));
    }
}

TEST_F(FileTest, QVDecodeFrame_PictureSizeChangeIsLaidOutAtTheNewSize) {
    MediaFile media = VideoFile("mpeg", AV_CODEC_ID_MPEG2VIDEO, 24);
    media.video[0].resize_at = 12;
    media.video[0].resize_width = 352;
    media.video[0].resize_height = 288;
    const std::string path = Make("resize.mpg", media);

    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_EQ(Parts(decoder).picture.video_param.width, 176);
    const Decoded got = DecodeAll(decoder);
    ExpectSamePictures(got.pictures, qvtest::ReferencePictures(path));
    EXPECT_EQ(Parts(decoder).picture.video_param.width, 352);
    EXPECT_EQ(Parts(decoder).picture.video_param.height, 288);
}

// A file whose header claims a picture over the limit is refused at the open; pictures over
// it later in the file give no picture, the rest decode.
TEST_F(FileTest, QVDecoderSetMaxPixels_RefusesLargerFilesAndPictures) {
    MediaFile media = VideoFile("mpeg", AV_CODEC_ID_MPEG2VIDEO, 24);
    media.video[0].resize_at = 12;
    media.video[0].resize_width = 352;
    media.video[0].resize_height = 288;
    const std::string path = Make("resize.mpg", media);

    QVDecoder refused;
    refused.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(refused.QVDecoderSetMaxPixels(176 * 144 - 1), 0);
    EXPECT_EQ(refused.QVOpen(path.c_str()), -10005);
    EXPECT_TRUE(LogCapture::Contains("QVOpen: picture size over the limit."));

    QVDecoder decoder;
    decoder.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(decoder.QVDecoderSetMaxPixels(176 * 144), 0);
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const Decoded got = DecodeAll(decoder);
    std::vector<Picture> want = qvtest::ReferencePictures(path);
    want.erase(std::remove_if(want.begin(), want.end(), [](const Picture& p) { return p.width != 176; }), want.end());
    ExpectSamePictures(got.pictures, want);
    EXPECT_TRUE(LogCapture::Contains("QVDecodeFrame: picture size over the limit."));
    EXPECT_EQ(Parts(decoder).picture.capacity(), 176 * 144 * 3 / 2);
}

// A header or, where the container has no size in its header, the first size the packets
// state decides, before anything is decoded.
TEST_F(FileTest, QVOpen_RefusesFilesClaimingAHugePicture) {
    qvtest::VideoOptions o;
    o.frames = 5;
    o.width = 176;
    o.height = 144;
    qvtest::EncodedVideo video = qvtest::EncodeVideo("libx264", o);
    ASSERT_TRUE(qvtest::SetCodedSize(video.packets, 16000, 16000));
    for (const char* muxer : {"vob", "mpegts"}) {
        const std::vector<uint8_t> bytes = qvtest::MuxProgramStream(video, muxer, true);
        const std::string path = dir_.Path(std::string("huge.") + muxer);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        QVDecoder decoder;
        decoder.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
        LogCapture::Clear();
        EXPECT_EQ(decoder.QVOpen(path.c_str()), -10005) << muxer;
        EXPECT_TRUE(LogCapture::Contains("QVOpen: picture size over the limit.")) << muxer;
    }
    o.global_header = true;
    const std::string mp4 = dir_.Path("huge.mp4");
    ASSERT_TRUE(qvtest::WriteEncodedVideo(mp4, "mp4", qvtest::EncodeVideo("libx264", o), 16000, 16000));
    QVDecoder decoder;
    EXPECT_EQ(decoder.QVOpen(mp4.c_str()), -10005);

    // Parameter sets that change in the middle of a file (in-band units of Annex B and of
    // length-prefixed packets) are read before the decoder sees them, packet by packet.
    o.global_header = false;
    o.frames = 24;
    o.gop = 12;
    qvtest::EncodedVideo switching = qvtest::EncodeVideo("libx264", o);
    std::vector<qvtest::EncodedPacket> tail(switching.packets.begin() + 12, switching.packets.end());
    ASSERT_TRUE(qvtest::SetCodedSize(tail, 16000, 16000));
    std::copy(tail.begin(), tail.end(), switching.packets.begin() + 12);
    for (const char* muxer : {"mp4", "h264"}) {
        const std::string path = dir_.Path(std::string("switch.") + muxer);
        ASSERT_TRUE(qvtest::WriteEncodedVideo(path, muxer, switching, 176, 144));
        QVDecoder d;
        d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
        LogCapture::Clear();
        ASSERT_EQ(d.QVOpen(path.c_str()), 0) << muxer;
        const Decoded got = DecodeAll(d);
        EXPECT_GE(got.pictures.size(), 12u) << muxer;
        EXPECT_LT(got.pictures.size(), 24u) << muxer;
        EXPECT_TRUE(LogCapture::Contains("QVDecodeFrame: picture size over the limit.")) << muxer;
        EXPECT_LT(Parts(d).video.context()->coded_width, 16000) << muxer << ": the decoder saw the SPS";
    }
}

// A picture-size change asked for on an open file replaces the picture buffer without a
// reopen, so the buffer fits the recorded size and format, not the file's pictures. Here
// the recorded 176x192 grey picture is smaller than the file's 176x144 YUV 4:2:0 ones
// although the recorded geometry in YUV 4:2:0 would be larger: every picture must still
// be laid out into a buffer that holds it.
TEST_F(FileTest, QVSetPictureParam_FilePicturesGetABufferThatHoldsThem) {
    const std::string path = Make("p.flv", VideoFile("flv", AV_CODEC_ID_H264, 4));
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    ASSERT_EQ(decoder.QVSetPictureParam(_picture_param{176, 192, PIX_FMT_GRAY8}), 0);
    ASSERT_GE(malloc_usable_size(decoder.QVGetVideoFrame()), static_cast<size_t>(decoder.QVGetVideoFrameSize()));

    const std::vector<Picture> want = qvtest::ReferencePictures(path);
    ASSERT_EQ(want.size(), 4u);
    size_t delivered = 0;
    for (int i = 0; i < 10 && delivered < want.size(); ++i) {
        const int result = decoder.QVDecodeFrame();
        if (result == -10003) break;
        if (result != 0) continue;
        const int size = decoder.QVGetVideoFrameSize();
        ASSERT_EQ(size, 176 * 144 * 3 / 2);
        ASSERT_GE(malloc_usable_size(decoder.QVGetVideoFrame()), static_cast<size_t>(size))
            << "picture " << delivered << " laid out past the end of the picture buffer";
        EXPECT_TRUE(std::equal(want[delivered].bytes.begin(), want[delivered].bytes.end(),
                               decoder.QVGetVideoFrame()));
        ++delivered;
    }
    EXPECT_EQ(delivered, want.size());
}

TEST_F(FileTest, QVOpen_AudioOnlyFile) {
    MediaFile media;
    media.audio = AV_CODEC_ID_AAC;
    media.frames = 10;
    const std::string path = Make("tone.m4a", media);

    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    EXPECT_FALSE(Parts(decoder).has_video);
    EXPECT_TRUE(Parts(decoder).has_audio);
    EXPECT_FALSE(Parts(decoder).session.raw().raw_supported());
    const _video_param& p = Parts(decoder).audio.audio_param;
    EXPECT_EQ(p.audio_codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(p.sample_rate, 44100);
    EXPECT_EQ(p.channels, 1);
    EXPECT_EQ(p.audio_buffer_size, 192000);
    EXPECT_NE(p.audio_buffer, nullptr);
    EXPECT_EQ(p.video_buffer, nullptr);
}

TEST_F(FileTest, QVOpen_ReportsStreamParameters) {
    const std::string path = Make("p.avi", VideoFile("avi", AV_CODEC_ID_MPEG4));
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const _video_param& p = Parts(decoder).picture.video_param;
    EXPECT_EQ(p.pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(p.frame_rate_num, 25);
    EXPECT_EQ(p.frame_rate_den, 1);
    EXPECT_GT(p.bit_rate, 0);
    EXPECT_EQ(p.video_buffer_size, 176 * 144 * 3 / 2);
    EXPECT_NE(p.video_buffer, nullptr);
    // Without output conversion the output record follows the picture.
    EXPECT_EQ(Parts(decoder).output.output_param.width, 176);
    EXPECT_EQ(Parts(decoder).output.output_param.pix_fmt, AV_PIX_FMT_YUV420P);

    // A second open on an open object changes nothing.
    const std::string other = Make("q.mp4", VideoFile("mp4", AV_CODEC_ID_MPEG4));
    EXPECT_EQ(decoder.QVOpen(other.c_str()), 0);
    EXPECT_EQ(std::string(Parts(decoder).session.file().format()->iformat->name), "avi");
}

TEST_F(FileTest, QVOpen_WithOutputConversionDeliversConvertedPictures) {
    const std::string path = Make("o.mp4", VideoFile("mp4", AV_CODEC_ID_H264, 5));
    QVDecoder decoder(_picture_param{88, 72, PIX_FMT_BGR24}, 0);
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const std::vector<Picture> want = qvtest::ReferencePictures(path);
    ASSERT_FALSE(want.empty());
    ASSERT_EQ(decoder.QVDecodeFrame(), 0);
    ASSERT_EQ(decoder.QVGetVideoFrameSize(), 88 * 72 * 3);
    const std::vector<uint8_t> expected = qvtest::ScaleReference(want[0], 88, 72, AV_PIX_FMT_BGR24, SWS_AREA);
    const uint8_t* got = decoder.QVGetVideoFrame();
    EXPECT_LE(qvtest::MeanAbsDiff(std::vector<uint8_t>(got, got + 88 * 72 * 3), expected), 2.0);
    // A change of output or converter between the decode and a read converts the picture
    // already decoded with the new settings, whether it was read before (a buffer of the
    // new size once held no picture) or not.
    for (const bool read_before : {true, false}) {
        SCOPED_TRACE(read_before);
        ASSERT_EQ(decoder.QVDecodeFrame(), 0);
        const int index = read_before ? 1 : 2;
        if (read_before) decoder.QVGetVideoFrame();
        decoder.QVSetOutputResolution(44, 36, 0);
        ASSERT_EQ(decoder.QVDecoderSetConverter(QV_CONVERTER_SWSCALE), 0);
        ASSERT_EQ(decoder.QVGetVideoFrameSize(), 44 * 36 * 3);
        // The very bytes a decoder set so from the open hands out for that picture.
        QVDecoder fresh(_picture_param{44, 36, PIX_FMT_BGR24}, 0);
        ASSERT_EQ(fresh.QVDecoderSetConverter(QV_CONVERTER_SWSCALE), 0);
        ASSERT_EQ(fresh.QVOpen(path.c_str()), 0);
        for (int i = 0; i <= index; ++i) ASSERT_EQ(fresh.QVDecodeFrame(), 0);
        got = decoder.QVGetVideoFrame();
        const uint8_t* expected_bytes = fresh.QVGetVideoFrame();
        EXPECT_TRUE(std::equal(got, got + 44 * 36 * 3, expected_bytes));
        decoder.QVSetOutputResolution(88, 72, 0);
        ASSERT_EQ(decoder.QVDecoderSetConverter(QV_CONVERTER_AUTO), 0);
    }
}

TEST_F(FileTest, QVOpen_Failures) {
    QVDecoder decoder;
    decoder.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);

    EXPECT_EQ(decoder.QVOpen(nullptr), -10001);
    EXPECT_TRUE(LogCapture::Contains("QVOpen: failed to open decoer with NULL name."));

    EXPECT_EQ(decoder.QVOpen(dir_.Path("missing.mp4").c_str()), -10001);
    EXPECT_TRUE(LogCapture::Contains("QVOpen: failed to open input file."));
    // A file that cannot be opened leaves the object as it was.
    EXPECT_EQ(Parts(decoder).session.raw().input_format_count(), 8u);

    const std::string empty = dir_.Path("empty.mp4");
    std::ofstream(empty).close();
    EXPECT_EQ(decoder.QVOpen(empty.c_str()), -10001);

    const std::string text = dir_.Path("notes.txt");
    std::ofstream(text) << "These are not the frames you are looking for.\n";
    EXPECT_EQ(decoder.QVOpen(text.c_str()), -10001);
    EXPECT_FALSE(Parts(decoder).opened);

    EXPECT_EQ(decoder.QVDecodeFrame(), -10008);
    EXPECT_TRUE(LogCapture::Contains("QVDecodeFrame: non-opened decoder."));

    QVDecoderDestroy();
    const std::string path = Make("ok.mp4", VideoFile("mp4", AV_CODEC_ID_H264, 3));
    EXPECT_EQ(decoder.QVOpen(path.c_str()), -1);
    QVDecoderInitialize();
    EXPECT_EQ(decoder.QVOpen(path.c_str()), 0);
}

TEST_F(FileTest, QVDecodeFrame_TruncatedFileEndsCleanly) {
    MediaFile media = VideoFile("mp4", AV_CODEC_ID_H264, 25);
    media.muxer_options["movflags"] = "faststart";  // index first, so a cut keeps it
    const std::string path = Make("cut.mp4", media);
    ASSERT_TRUE(qvtest::TruncateFile(path, qvtest::FileSize(path) / 2));

    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const Decoded got = DecodeAll(decoder);
    EXPECT_EQ(got.results.back(), -10003);
    EXPECT_GT(got.pictures.size(), 3u);
    EXPECT_LT(got.pictures.size(), 25u);
    EXPECT_EQ(decoder.QVDecodeFrame(), -10003);
}

TEST_F(FileTest, QVDecodeFrame_GoesOnAfterCorruptedPackets) {
    MediaFile media = VideoFile("avi", AV_CODEC_ID_MPEG4, 30);
    const std::string path = Make("bad.avi", media);
    const std::vector<Picture> clean = qvtest::ReferencePictures(path);
    std::vector<qvtest::PacketInfo> packets = qvtest::ReadPackets(path);
    ASSERT_GT(packets.size(), 20u);
    // Garbage over the whole payload of three packets in the middle.
    for (size_t k : {size_t{12}, size_t{13}, size_t{14}}) {
        ASSERT_GE(packets[k].pos, 0);
        std::vector<uint8_t> junk(packets[k].data.size());
        for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 97 + 13);
        ASSERT_TRUE(qvtest::OverwriteBytes(path, packets[k].pos + 8, junk));
    }

    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const Decoded got = DecodeAll(decoder);
    EXPECT_EQ(got.results.back(), -10003);
    // One call per packet the damaged file still yields, then the end.
    EXPECT_EQ(got.results.size(), qvtest::ReadPackets(path).size() + 1);
    // The damage shows, later packets still decode, exactly as libavcodec decodes the file.
    const std::vector<Picture> damaged = qvtest::ReferencePictures(path);
    EXPECT_GT(damaged.size(), 20u);
    EXPECT_FALSE(damaged.size() == clean.size() && damaged.back().bytes == clean.back().bytes &&
                 damaged[13].bytes == clean[13].bytes);
    ExpectSamePictures(got.pictures, damaged);
    // Pictures the decoder reports errors in are flagged damaged.
    size_t reported = 0;
    for (size_t i = 0; i < damaged.size() && i < got.flags.size(); ++i) {
        if (!damaged[i].damaged) continue;
        ++reported;
        EXPECT_TRUE(got.flags[i] & QV_PICTURE_DAMAGED) << "picture " << i;
    }
    EXPECT_GT(reported, 0u);
}

TEST_F(FileTest, QVClose_ReleasesTheFileAndAllowsReopening) {
    const std::string path = Make("r.flv", VideoFile("flv", AV_CODEC_ID_H264, 6));
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    ASSERT_EQ(decoder.QVDecodeFrame(), 0);
    decoder.QVClose();
    EXPECT_EQ(Parts(decoder).session.file().format(), nullptr);
    EXPECT_EQ(decoder.QVDecodeFrame(), -10008);

    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const Decoded got = DecodeAll(decoder);
    ExpectSamePictures(got.pictures, qvtest::ReferencePictures(path));
}

// The rate rules on their own, with the values that hosts see from real containers.
TEST(FileRatesTest, FileFrameRate_RecomputesImplausibleRates) {
    const qv::FrameRate clock = qv::FileFrameRate(1000, 1, 1, 1000, 10000, 250);
    EXPECT_EQ(clock.num, 25000);
    EXPECT_EQ(clock.den, 1000);
    EXPECT_EQ(qv::FileFrameRate(100, 1, 1, 1000, 10000, 250).num, 100);
    EXPECT_EQ(qv::FileFrameRate(30, 1, 1, 1000, 10000, 250).num, 30);
    EXPECT_EQ(qv::FileFrameRate(101, 1, 1, 1000, 0, 250).num, 101);
    EXPECT_EQ(qv::FileFrameRate(101, 1, 1, 1000, 10000, 0).num, 101);
    // 30000/1001 is NTSC: 29 frames a second in integer terms, left alone.
    EXPECT_EQ(qv::FileFrameRate(30000, 1001, 1, 90000, 900000, 300).num, 30000);
    // Zero denominators never divide.
    EXPECT_EQ(qv::FileFrameRate(1000, 0, 1, 1000, 10000, 250).num, 1000);
    EXPECT_EQ(qv::FileFrameRate(1000, 1, 1, 0, 10000, 250).num, 1000);
    // A damaged rate of INT_MIN/-1 must not trap in the integer test.
    EXPECT_EQ(qv::FileFrameRate(INT_MIN, -1, 1, 1000, 10000, 250).num, 25000);
}

TEST(FileRatesTest, FileBitRate_FallsBackToTheTolerance) {
    EXPECT_EQ(qv::FileBitRate(500000, 4000000), 500000);
    EXPECT_EQ(qv::FileBitRate(0, 1234), 1234);
    EXPECT_EQ(qv::FileBitRate(0, 0), 0);
    EXPECT_EQ(qv::FileBitRate(0, -5), -5);
    EXPECT_EQ(qv::FileBitRate(int64_t{5} << 32, 0), INT32_MAX);
}

// Frame threads: a picture takes the time of the packet `lag` back; the drain hands out the
// times of the last `lag` packets sent, or of all of them when fewer were sent.
TEST(PictureClockTest, LagAndDrain) {
    for (const int sent : {2, 3, 6}) {
        SCOPED_TRACE(sent);
        qv::PictureClock clock;
        clock.Reset(3);
        for (int i = 1; i <= sent; ++i) clock.PacketSent(i, i * 1000000);
        EXPECT_EQ(clock.PictureTime(9.0), sent <= 3 ? 9.0 : sent - 3.0);
        EXPECT_EQ(clock.PictureMicros(9000000), sent <= 3 ? 9000000 : (sent - 3) * 1000000);
        std::vector<double> drained;
        double t = 0.0;
        int64_t us = 0;
        while (drained.size() < 10 && clock.NextDrainedTime(&t, &us)) {
            EXPECT_EQ(us, static_cast<int64_t>(t) * 1000000);
            drained.push_back(t);
        }
        std::vector<double> want;
        for (int i = std::max(1, sent - 2); i <= sent; ++i) want.push_back(i);
        EXPECT_EQ(drained, want);
    }
}

// H.264 over RTP as libavformat hands it out: units behind start codes, fragments bare, no
// marker. Pictures part where their content says (a slice at the first macroblock,
// parameter sets after a slice), whatever their times: one time for all, times that change,
// and a sender starting at RTP time 0 (libavformat gives its first two pictures time 0),
// whose times come back. A picture goes early once fragments of one size and two pictures
// of its kind taught its end; a guess proved wrong (a later slice comes) is learnt again,
// not given up; a piece delivered twice counts once; a lost first fragment of a later slice
// damages its picture only; parameter sets make no key picture.
TEST(RtpUnitJoinerTest, PicturesByContentAndTheSendersHabits) {
    // A slice unit (IDR or P; at the first macroblock or not) with `bytes` of data, a bare
    // fragment, parameter sets.
    auto slice = [](bool idr, bool first, int bytes) {
        std::vector<uint8_t> piece = {0, 0, 0, 1, static_cast<uint8_t>(idr ? 0x65 : 0x41),
                                      static_cast<uint8_t>(first ? (idr ? 0xb8 : 0xc0) : (idr ? 0x4c : 0x50))};
        piece.insert(piece.end(), static_cast<size_t>(bytes), 0xaa);
        return piece;
    };
    uint8_t fill = 0x10;  // fragments differ, as compressed data does
    auto bare = [&fill](int bytes) { return std::vector<uint8_t>(static_cast<size_t>(bytes), ++fill); };
    const std::vector<uint8_t> sets = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xce};
    using Pieces = std::vector<std::vector<uint8_t>>;
    // Fragments of 101 bytes (the first one's slice header byte and 100).
    const Pieces key = {sets, slice(true, true, 100), bare(101), bare(101), bare(30), slice(true, false, 20)};
    const Pieces two = {slice(false, true, 100), bare(101), bare(40), slice(false, false, 10)};
    Pieces three = two;
    three.push_back(slice(false, false, 12));
    Pieces with_sets = three;
    with_sets.insert(with_sets.begin(), sets);
    const Pieces lost_fragment = {slice(false, true, 100), bare(101), bare(40), bare(101), bare(20), slice(false, false, 12)};
    // Each picture, and how many pictures went out by its last piece.
    const std::vector<std::pair<Pieces, int>> script = {
        {key, 0}, {two, 1}, {two, 2}, {two, 1}, {three, 1 /* early, wrong */}, {three, 0}, {three, 1},
        {three, 2 /* early again */}, {three, 1 /* sent twice */}, {{sets, slice(true, true, 100), bare(101), bare(30)}, 0},
        {with_sets, 2}, {lost_fragment, 0}, {three, 2}};
    for (const int sender : {0, 1, 2}) {  // one time for all; starting at 0; starting elsewhere
        SCOPED_TRACE(sender);
        qv::RtpUnitJoiner joiner;
        joiner.Reset(AV_CODEC_ID_H264);
        std::vector<const AVPacket*> unused;
        std::vector<std::array<int64_t, 3>> out;  // time, bytes, key flag of each picture let go
        int lost = 0;
        for (size_t i = 0; i < script.size(); ++i) {
            const int64_t time = sender == 0 ? 0 : sender == 1 ? std::max<int64_t>(0, (static_cast<int64_t>(i) - 1) * 3600)
                                                              : static_cast<int64_t>(i) * 3600;
            const size_t before = out.size();
            for (const std::vector<uint8_t>& piece : script[i].first) {
                for (int n = 0; n < (i == 8 ? 2 : 1); ++n) {
                    if (!joiner.Add(piece.data(), static_cast<int>(piece.size()), time)) ++lost;
                }
                while (joiner.ready()) {
                    const AVPacket* p = joiner.unit();
                    out.push_back({p->pts, p->size, p->flags & AV_PKT_FLAG_KEY});
                    joiner.Clear();
                }
            }
            EXPECT_EQ(out.size() - before, static_cast<size_t>(script[i].second)) << "picture " << i;
        }
        EXPECT_FALSE(joiner.held());
        EXPECT_EQ(lost, 3);  // the late slice; the two fragments without their first
        ASSERT_EQ(out.size(), script.size());
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i][0], sender == 0 ? 0 : static_cast<int64_t>(i) * 3600) << "picture " << i;
            EXPECT_EQ(out[i][2] != 0, i == 0 || i == 9) << "picture " << i;
        }
        EXPECT_EQ(out[8][1], out[7][1]);
        EXPECT_EQ(out[0][1], 12 + 6 + 100 + 101 + 101 + 30 + 6 + 20);
    }
}

// Threads change when pictures come out of the decoder, never which ones or their times.
TEST_F(FileTest, QVDecoderSetThreads_SamePicturesAndTimes) {
    MediaFile media = VideoFile("mp4", AV_CODEC_ID_H264, 40);
    media.video[0].max_b_frames = 2;
    media.audio = AV_CODEC_ID_AAC;
    const std::string path = Make("threads.mp4", media);
    // Without and with conversion (the scaler cuts frames into slices for its threads).
    Decoded runs[4];
    const int counts[4] = {1, 0, 1, 0};
    for (int i = 0; i < 4; ++i) {
        QVDecoder decoder;
        ASSERT_EQ(decoder.QVDecoderSetThreads(counts[i]), 0);
        if (i >= 2) decoder.QVSetOutput(_picture_param{160, 120, PIX_FMT_BGR24}, 0);
        ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
        const AVCodecContext* ctx = Parts(decoder).video.context();
        EXPECT_EQ(ctx->thread_count > 1 && (ctx->active_thread_type & FF_THREAD_FRAME), counts[i] == 0);
        runs[i] = DecodeAll(decoder);
    }
    ExpectSamePictures(runs[1].pictures, runs[0].pictures);
    EXPECT_EQ(runs[1].picture_times, runs[0].picture_times);
    ExpectSamePictures(runs[3].pictures, runs[2].pictures);
    EXPECT_EQ(runs[3].picture_times, runs[2].picture_times);
    ExpectSamePictures(runs[0].pictures, qvtest::ReferencePictures(path));
}

TEST_F(FileTest, QVGetFrameTimestamp_DrainedPicturesReportTheirOwnTimes) {
    MediaFile media = VideoFile("mp4", AV_CODEC_ID_H264, 20);
    media.video[0].max_b_frames = 2;
    media.audio = AV_CODEC_ID_AAC;  // audio runs on after the last video packet
    const std::string path = Make("drain.mp4", media);
    int64_t last_video_pts = INT64_MIN;
    for (const qvtest::PacketInfo& p : qvtest::ReadPackets(path)) {
        if (p.stream != 0) continue;
        const int64_t micros = static_cast<int64_t>(static_cast<double>(p.time_base.num) * p.pts / p.time_base.den * 1e6);
        last_video_pts = std::max(last_video_pts, micros);
    }
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const Decoded got = DecodeAll(decoder);
    ASSERT_GE(got.picture_times.size(), 2u);
    // The last picture shown is the last in presentation order; its time is its own.
    EXPECT_EQ(got.picture_times.back(), last_video_pts);
    EXPECT_LT(got.picture_times[got.picture_times.size() - 2], last_video_pts);
}

TEST_F(FileTest, QVGetFrameTimestamp_ElementaryStreamAdvancesByTheFramePeriod) {
    qvtest::VideoOptions o;
    o.frames = 10;
    o.b_frames = 2;  // pictures held for reordering come out of the drain at the end
    const auto video = qvtest::EncodeVideo("libx264", o);
    const std::string path = dir_.Path("raw.h264");
    const std::vector<uint8_t> bytes = qvtest::Concatenate(video.packets);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    QVDecoder decoder;
    ASSERT_EQ(decoder.QVOpen(path.c_str()), 0);
    const Decoded got = DecodeAll(decoder);
    ASSERT_EQ(got.picture_times.size(), 10u);
    for (size_t i = 1; i < got.picture_times.size(); ++i) {
        EXPECT_EQ(got.picture_times[i] - got.picture_times[i - 1], 40000) << "picture " << i;
    }
}

TEST_F(FileTest, QVDecodeFrame_FollowsAFileThatIsStillBeingWritten) {
    // Transport-stream packets hold one frame's bytes each, so a recorder that has written
    // whole packets has written whole frames.
    for (const char* muxer : {"mpegts"}) {
        SCOPED_TRACE(muxer);
        MediaFile media = VideoFile(muxer, AV_CODEC_ID_H264, 30);
        const std::string whole = Make(std::string("whole.") + muxer, media);
        // The recorder has written everything before the second key frame so far.
        int64_t cut = -1;
        int keys = 0;
        for (const qvtest::PacketInfo& p : qvtest::ReadPackets(whole)) {
            if (p.stream == 0 && (p.flags & AV_PKT_FLAG_KEY) && ++keys == 2) cut = p.pos;
        }
        ASSERT_GT(cut, 0);
        std::ifstream in(whole, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string growing = dir_.Path(std::string("growing.") + muxer);
        std::ofstream(growing, std::ios::binary).write(bytes.data(), cut);

        QVDecoder decoder;
        ASSERT_EQ(decoder.QVOpen(growing.c_str()), 0);
        Decoded first = DecodeAll(decoder);
        EXPECT_EQ(decoder.QVDecodeFrame(), -10003) << "nothing new yet";
        std::ofstream(growing, std::ios::binary | std::ios::app).write(bytes.data() + cut, static_cast<long>(bytes.size() - cut));
        const Decoded rest = DecodeAll(decoder);
        first.pictures.insert(first.pictures.end(), rest.pictures.begin(), rest.pictures.end());
        ExpectSamePictures(first.pictures, qvtest::ReferencePictures(whole));
    }
}

// Input that cannot go back: the size look-ahead before the probe must neither seek nor
// open the name a second time (a FIFO's second open waits for a writer that has finished).
// Each row goes through an anonymous pipe and through a FIFO, written by a thread.
TEST_F(FileTest, QVOpen_PipesAndFifosGiveThePicturesOfTheFile) {
    struct Row {
        const char* muxer;
        AVCodecID codec;
        int b_frames;
    };
    for (const Row row : {Row{"mpegts", AV_CODEC_ID_H264, 2}, Row{"mpeg", AV_CODEC_ID_MPEG2VIDEO, 2},
                          Row{"vob", AV_CODEC_ID_H264, 0}, Row{"flv", AV_CODEC_ID_H264, 0},
                          Row{"h264", AV_CODEC_ID_H264, 2}}) {
        SCOPED_TRACE(row.muxer);
        qvtest::Watchdog watchdog(20000, std::string("decoding ") + row.muxer + " through a pipe and a FIFO");
        MediaFile media = VideoFile(row.muxer, row.codec, 30);
        media.video[0].max_b_frames = row.b_frames;
        const std::string path = Make(std::string("clip.") + row.muxer, media);
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::vector<Picture> want = qvtest::ReferencePictures(path);
        ASSERT_EQ(want.size(), 30u);
        const auto write_all = [&bytes](int fd) {
            for (size_t done = 0; done < bytes.size();) {
                const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            close(fd);
        };

        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread pipe_writer(write_all, ends[1]);
        {
            QVDecoder decoder;
            EXPECT_EQ(decoder.QVOpen(("pipe:" + std::to_string(ends[0])).c_str()), 0);
            ExpectSamePictures(DecodeAll(decoder).pictures, want);
        }
        // The writer may still wait on a reader that gave up: closing the read end ends it.
        close(ends[0]);
        pipe_writer.join();

        const std::string fifo = dir_.Path(std::string("fifo.") + row.muxer);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::thread fifo_writer([&] { write_all(open(fifo.c_str(), O_WRONLY)); });
        {
            QVDecoder decoder;
            EXPECT_EQ(decoder.QVOpen(fifo.c_str()), 0);
            ExpectSamePictures(DecodeAll(decoder).pictures, want);
        }
        fifo_writer.join();
    }
}

}  // namespace

namespace {

struct FlaggedPicture {
    std::vector<uint8_t> bytes;
    int flags = 0;
};

void TakeFlagged(QVDecoder& d, std::vector<FlaggedPicture>& out) {
    const unsigned char* data = d.QVGetVideoFrame();
    out.push_back(FlaggedPicture{std::vector<uint8_t>(data, data + d.QVGetVideoFrameSize()), d.QVGetPictureFlags()});
}

std::vector<FlaggedPicture> PushFlagged(const qvtest::EncodedVideo& video) {
    std::vector<FlaggedPicture> out;
    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{video.width, video.height, PIX_FMT_YUV420P}), 0);
    for (const qvtest::EncodedPacket& p : video.packets) {
        std::vector<uint8_t> copy = p.data;
        if (d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), 0) == 0) TakeFlagged(d, out);
        while (d.QVReceiveVideoFrame() == 0) TakeFlagged(d, out);
    }
    EXPECT_EQ(d.QVFlushVideo(), 0);
    while (d.QVReceiveVideoFrame() == 0) TakeFlagged(d, out);
    return out;
}

std::vector<FlaggedPicture> FileFlagged(const std::string& path) {
    std::vector<FlaggedPicture> out;
    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    EXPECT_EQ(d.QVOpen(path.c_str()), 0);
    for (int i = 0; i < 1000; ++i) {
        const int result = d.QVDecodeFrame();
        if (result == -10003) break;
        if (result == 0) TakeFlagged(d, out);
    }
    return out;
}

// Removes the first reference picture that is not a key frame from packet `from` on;
// returns its index.
size_t RemoveReferencePicture(std::vector<qvtest::EncodedPacket>& packets, size_t from) {
    for (size_t i = from; i < packets.size(); ++i) {
        const std::vector<uint8_t>& d = packets[i].data;
        for (size_t k = 3; k < d.size(); ++k) {
            if (d[k - 1] != 1 || d[k - 2] != 0 || d[k - 3] != 0) continue;
            const int type = d[k] & 0x1F;
            if (type != 1 && type != 5) continue;
            if (type == 1 && (d[k] & 0x60) != 0 && !packets[i].key) {
                packets.erase(packets.begin() + static_cast<long>(i));
                return i;
            }
            break;
        }
    }
    ADD_FAILURE() << "no reference picture to remove";
    return packets.size();
}

}  // namespace

// The damaged flag follows the frame numbers as the decoder must expect them: no alarm on
// reference pictures kept by --ref, non-reference B pictures, several slices, numbers that
// restart through reference marking (operation 5) or may jump (gaps allowed); an alarm from
// a lost reference picture on until the next key frame. A file of the same packets (mp4:
// length-prefixed units) gives the same pictures with the same flags.
TEST_F(FileTest, QVGetPictureFlags_DamagedAlikeInPushAndFileMode) {
    enum Edit { kNone, kReset, kGaps };
    struct Row {
        const char* name;
        const char* x264;
        int b_frames;
        Edit edit;
        bool remove;
        bool damaged;  // pictures are flagged at all
    };
    const Row rows[] = {
        {"ref 3, B", "ref=3:b-pyramid=none", 2, kNone, false, false},
        {"ref 3, B pyramid", "ref=3:b-pyramid=normal", 2, kNone, false, false},
        {"ref 3, B, slices", "ref=3:slices=3:b-pyramid=none", 2, kNone, false, false},
        {"ref 3, B, P lost", "ref=3:b-pyramid=none", 2, kNone, true, true},
        {"restarts", "ref=3", 0, kReset, false, false},
        {"restarts, P lost", "ref=3:slices=2", 0, kReset, true, true},
        {"gaps allowed, P lost", "ref=1", 0, kGaps, true, false},
        {"P lost", "ref=1", 0, kNone, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        qvtest::VideoOptions o;
        o.frames = 36;
        o.width = 176;
        o.height = 144;
        o.b_frames = row.b_frames;
        o.x264_params = row.x264;
        qvtest::EncodedVideo video = qvtest::EncodeVideo("libx264", o);  // key frames at 0, 12, 24
        const std::vector<qvtest::EncodedPacket> original = video.packets;
        if (row.edit == kReset) {
            ASSERT_TRUE(qvtest::IdrAfterFirstAsFrameNumReset(video.packets));
        }
        if (row.edit == kGaps) {
            ASSERT_TRUE(qvtest::AllowFrameNumGaps(video.packets));
        }
        if (row.remove) RemoveReferencePicture(video.packets, 15);
        const std::string path = dir_.Path("flags.mp4");
        ASSERT_TRUE(qvtest::WriteEncodedVideo(path, "mp4", video, o.width, o.height));

        const std::vector<FlaggedPicture> pushed = PushFlagged(video);
        const std::vector<FlaggedPicture> file = FileFlagged(path);
        ASSERT_EQ(pushed.size(), file.size());
        ASSERT_GE(pushed.size(), video.packets.size() - 1);
        size_t damaged = 0;
        for (size_t i = 0; i < pushed.size(); ++i) {
            EXPECT_TRUE(pushed[i].bytes == file[i].bytes) << "picture " << i;
            EXPECT_EQ(pushed[i].flags & (QV_PICTURE_DAMAGED | QV_PICTURE_KEY),
                      file[i].flags & (QV_PICTURE_DAMAGED | QV_PICTURE_KEY))
                << "picture " << i;
            if (pushed[i].flags & QV_PICTURE_DAMAGED) {
                ++damaged;
                EXPECT_GE(i, 12u) << "flagged before the loss";
                if (row.edit != kReset) {
                    EXPECT_LT(i, 24u) << "flagged after the next key frame";
                }
            }
        }
        EXPECT_EQ(damaged > 0, row.damaged);
        // The rewritten stream is the same pictures.
        if (row.edit == kReset && !row.remove) {
            const std::vector<Picture> want = qvtest::DecodeReference(video.codec_id, original, {}, true);
            ASSERT_EQ(want.size(), pushed.size());
            for (size_t i = 0; i < want.size(); ++i) EXPECT_TRUE(want[i].bytes == pushed[i].bytes) << i;
        }
    }
}
