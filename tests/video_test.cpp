// Stream-mode video: open, decode pushed frames, picture changes, output conversion.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "QVDecoder.h"
#include "base/ffmpeg.h"
#include "base/legacy_ids.h"
#include "decoder_parts.h"
#include "file_pictures.h"
#include "live_server.h"
#include "log_capture.h"
#include "media_factory.h"
#include "bitstream/demux_buffer.h"
#include "ps_writer.h"
#include "sps_edit.h"

using qvtest::EncodedVideo;
using qvtest::LogCapture;
using qvtest::Parts;

namespace {

class VideoTest : public ::testing::Test {
protected:
    void SetUp() override {
        QVDecoderInitialize();
        LogCapture::Clear();
    }
};

_picture_param Cif() { return _picture_param{352, 288, PIX_FMT_YUV420P}; }

int Push(QVDecoder& d, const qvtest::EncodedPacket& p, int repack = 0) {
    std::vector<uint8_t> copy = p.data;  // exact-size copy: any over-read shows under ASan
    return d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), repack);
}

std::vector<uint8_t> Frame(QVDecoder& d) {
    const uint8_t* p = d.QVGetVideoFrame();
    return std::vector<uint8_t>(p, p + d.QVGetVideoFrameSize());
}

// Pushes every packet and checks each picture against libavcodec's own decode.
void ExpectSameAsReference(const EncodedVideo& video, CodecID codec) {
    auto reference = qvtest::DecodeReference(video.codec_id, video.packets);
    ASSERT_FALSE(reference.empty());
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(codec, _picture_param{video.width, video.height, PIX_FMT_YUV420P}), 0);
    size_t matched = 0;
    for (const auto& packet : video.packets) {
        if (Push(d, packet) != 0) continue;
        ASSERT_LT(matched, reference.size());
        EXPECT_EQ(Frame(d), reference[matched].bytes) << "picture " << matched;
        qvtest::ExpectPlanesHoldPicture(d, reference[matched]);
        ++matched;
    }
    EXPECT_EQ(matched, reference.size());
    _video_param param{};
    ASSERT_EQ(d.QVGetParam(param), 0);
    EXPECT_EQ(param.codec_id, codec) << "reported in the interface numbering";
    EXPECT_EQ(qv::PixelFormatFromLegacy(param.pix_fmt), reference[0].format) << "a format of the interface numbering";
}

}  // namespace

TEST_F(VideoTest, OpenDecoder_CifGivesBufferSizeAndDefaultRate) {
    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    _video_param p{};
    p.video_buffer = reinterpret_cast<unsigned char*>(&p);
    EXPECT_EQ(d.QVGetParam(p), 0);
    EXPECT_EQ(p.video_buffer_size, 152064);
    EXPECT_EQ(p.frame_rate_num, 25);
    EXPECT_EQ(p.frame_rate_den, 1);
    EXPECT_EQ(p.codec_id, CODEC_ID_H264);
    EXPECT_EQ(p.pix_fmt, PIX_FMT_YUV420P);
    EXPECT_EQ(p.video_buffer, nullptr);
    EXPECT_FALSE(Parts(d).delivery.key_frame_seen());
    const _video_param& out = Parts(d).output.output_param;
    EXPECT_EQ(out.width, 352);
    EXPECT_EQ(out.height, 288);
    EXPECT_EQ(out.pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(d.QVGetVideoFrameSize(), 152064);
    int w = 0, h = 0;
    d.QVGetOutputResolution(w, h);
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 288);
}

TEST_F(VideoTest, OpenDecoder_FlagsFollowModes) {
    QVDecoder plain;
    ASSERT_EQ(plain.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    AVCodecContext* ctx = Parts(plain).video.context();
    EXPECT_EQ(ctx->flags2 & AV_CODEC_FLAG2_CHUNKS, 0);
    EXPECT_NE(ctx->flags & AV_CODEC_FLAG_INTERLACED_DCT, 0);
    EXPECT_NE(ctx->flags & AV_CODEC_FLAG_INTERLACED_ME, 0);

    QVDecoder fields;
    fields.QVDecoderSetEncodeMode(CODE_MODE_FIELD);
    ASSERT_EQ(fields.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    EXPECT_NE(Parts(fields).video.context()->flags2 & AV_CODEC_FLAG2_CHUNKS, 0);

    QVDecoder chunks;
    chunks.QVDecoderSetParam(_decoder_param{CODE_MODE_FRAME, TRANSFER_MODE_CHUNK, OUTPUT_MODE_ALL});
    ASSERT_EQ(chunks.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    EXPECT_EQ(Parts(chunks).video.context()->flags2 & AV_CODEC_FLAG2_CHUNKS, 0) << "the parser gives whole frames";
}

TEST_F(VideoTest, OpenDecoder_FailuresReportAndClose) {
    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);

    EXPECT_EQ(d.QVOpenDecoder(static_cast<CodecID>(123456), Cif()), -10007);
    EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: can't find the video codec."));
    EXPECT_FALSE(Parts(d).opened);
    EXPECT_EQ(Parts(d).video.context(), nullptr);
    EXPECT_EQ(Parts(d).session.raw().input_format_count(), 0u) << "a failed open closes the whole object";

    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_RAWVIDEO, _picture_param{16, 16, PIX_FMT_NONE}), -10007);
    EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: failed to open video codec."));

    for (_picture_param bad : {_picture_param{0, 288, PIX_FMT_YUV420P}, _picture_param{352, 0, PIX_FMT_YUV420P}}) {
        LogCapture::Clear();
        EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_H264, bad), -10005) << bad.width << "x" << bad.height;
        EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: wrong buffer size."));
        EXPECT_FALSE(Parts(d).opened);
    }
    // Sizes FFmpeg itself refuses stop the decoder from opening.
    for (_picture_param bad : {_picture_param{-352, 288, PIX_FMT_YUV420P},
                               _picture_param{100000, 100000, PIX_FMT_YUV420P}}) {
        LogCapture::Clear();
        EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_H264, bad), -10007) << bad.width << "x" << bad.height;
        EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: failed to open video codec."));
        EXPECT_FALSE(Parts(d).opened);
        EXPECT_EQ(d.QVGetVideoFrame(), nullptr);
    }
    // Audio-only ids and the "none" id name no video decoder.
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_NONE, Cif()), -10007);
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_MP2, Cif()), -10007);

    QVDecoderDestroy();
    LogCapture::Clear();
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), -1);
    EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: decoder has not been initinalized."));
    QVDecoderInitialize();
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    // Level-31 messages stay below the threshold.
    LogCapture::Clear();
    uint8_t garbage[64];
    std::memset(garbage, 0x5A, sizeof(garbage));
    EXPECT_EQ(d.QVDecodeVideoFrame(garbage, sizeof(garbage), 0), -1);
    for (const auto& e : LogCapture::Own()) EXPECT_LE(e.level, 16) << e.text;
    // Above the threshold they read as documented.
    Parts(d).log.set_threshold(31);
    EXPECT_EQ(d.QVDecodeVideoFrame(garbage, sizeof(garbage), 0), -1);
    EXPECT_TRUE(LogCapture::Contains("DecodeVideoFrame: bad video frame data.", 31));
}

TEST_F(VideoTest, OpenDecoder_SecondOpenKeepsFirstDecoder) {
    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    EXPECT_FALSE(LogCapture::Contains("QVOpenDecoder: decoder already opened, QVClose it first."));
    AVCodecContext* first = Parts(d).video.context();
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_MPEG4, _picture_param{640, 480, PIX_FMT_YUV420P}), 0);
    EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: decoder already opened, QVClose it first."));
    EXPECT_EQ(Parts(d).video.context(), first);
    EXPECT_EQ(Parts(d).picture.video_param.width, 352);
    EXPECT_EQ(d.QVOpen("any.mp4"), 0);
    EXPECT_TRUE(LogCapture::Contains("QVOpen: decoder already opened, QVClose it first."));
}

// The level-15 texts hosts match on, exactly and nothing besides, for the refusals the
// classic calls gained: a second open, a raw-frame buffer too small, a source that stays
// silent, and a picture change whose reopen fails (the open's own message first).
TEST_F(VideoTest, Messages_RefusalsLogExactlyTheirTexts) {
    const std::string clip = std::string(QV_SOURCE_DIR) + "/samples/clip.mp4";
    qvtest::SilentTcpServer silent;
    const std::string mute = "tcp://127.0.0.1:" + std::to_string(silent.port());
    unsigned char byte = 0;
    int header = 0, key = 0, position = 0;
    int64_t ms = 0;
    struct Row {
        const char* what;
        std::function<int(QVDecoder&)> setup, act;
        int result;
        std::vector<std::string> messages;  // "N": the bytes QVGetVideoRawFrameSize tells
    };
    const auto open_video = [](QVDecoder& d) { return d.QVOpenDecoder(CODEC_ID_H264, Cif()); };
    const auto open_file = [&](QVDecoder& d) { return d.QVOpen(clip.c_str()); };
    const Row rows[] = {
        {"second video open", open_video, [](QVDecoder& d) { return d.QVOpenDecoder(CODEC_ID_MPEG4, Cif()); }, 0,
         {"QVOpenDecoder: decoder already opened, QVClose it first."}},
        {"second combined open", open_video,
         [](QVDecoder& d) {
             return d.QVOpenDecoder(CODEC_ID_H264, Cif(), CODEC_ID_QV_G722, _audio_param{16000, 1, 64000});
         },
         0, {"QVOpenDecoder: decoder already opened, QVClose it first."}},
        {"video open of an open file", open_file, open_video, 0,
         {"QVOpenDecoder: decoder already opened, QVClose it first."}},
        {"file open of an open decoder", open_video, open_file, 0, {"QVOpen: decoder already opened, QVClose it first."}},
        {"second file open", open_file, open_file, 0, {"QVOpen: decoder already opened, QVClose it first."}},
        {"raw buffer too small", open_file,
         [&](QVDecoder& d) { return d.QVGetVideoRawFrame(&byte, 1, header, ms, key, position); }, 0,
         {"QVGetVideoRawFrame: buffer too small, N bytes needed."}},
        {"silent source",
         [](QVDecoder& d) { return d.QVDecoderSetTimeout(300); },
         [&](QVDecoder& d) { return d.QVOpen(mute.c_str()); }, -10010, {"QVOpen: timed out."}},
        {"picture change whose reopen fails", open_video,
         [](QVDecoder& d) {
             QVDecoderDestroy();
             const int result = d.QVSetPictureParam(_picture_param{176, 144, PIX_FMT_YUV420P});
             QVDecoderInitialize();
             return result;
         },
         -1, {"QVOpenDecoder: decoder has not been initinalized.", "QVSetPictureParam: reopen decoder failed."}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QVDecoder d;
        d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
        ASSERT_EQ(row.setup(d), 0);
        LogCapture::Clear();
        EXPECT_EQ(row.act(d), row.result);
        std::vector<std::string> expected = row.messages, got;
        for (std::string& text : expected) {
            const size_t n = text.find(" N ");
            if (n != std::string::npos) text.replace(n + 1, 1, std::to_string(d.QVGetVideoRawFrameSize()));
        }
        for (const qvtest::LogEntry& e : LogCapture::Own()) {
            EXPECT_EQ(e.level, 15) << e.text;
            got.push_back(e.text);
        }
        EXPECT_EQ(got, expected);
    }
}

TEST_F(VideoTest, SetDemux_AcceptsOnlyZeroOrOne) {
    QVDecoder d;
    EXPECT_EQ(d.QVDecoderSetDemux(1), 0);
    EXPECT_EQ(d.QVDecoderSetDemux(2), -1);
    EXPECT_EQ(d.QVDecoderSetDemux(-1), -1);
    EXPECT_EQ(Parts(d).modes.demux, 1);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    const _demux_buffer* buffer = Parts(d).stream.demux_stage().demux_buffer();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(d.QVSetPictureParam(_picture_param{176, 144, PIX_FMT_YUV420P}), 0);
    EXPECT_EQ(Parts(d).stream.demux_stage().demux_buffer(), buffer) << "a picture change keeps the demux buffer";
}

TEST_F(VideoTest, DecodeVideoFrame_H264AndMpeg4MatchLibavcodec) {
    qvtest::VideoOptions o;
    o.frames = 12;
    o.gop = 5;
    ExpectSameAsReference(qvtest::EncodeVideo("libx264", o), CODEC_ID_H264);
    ExpectSameAsReference(qvtest::EncodeVideo("mpeg4", o), CODEC_ID_MPEG4);
    ExpectSameAsReference(qvtest::EncodeVideo("mpeg2video", o), CODEC_ID_MPEG2VIDEO);
    o.width = 176;
    o.height = 144;
    ExpectSameAsReference(qvtest::EncodeVideo("h263", o), CODEC_ID_H263);
    ExpectSameAsReference(qvtest::EncodeVideo("flv", o), CODEC_ID_FLV1);
    ExpectSameAsReference(qvtest::EncodeVideo("libx265", o), CODEC_ID_QV_HEVC);
    ExpectSameAsReference(qvtest::EncodeVideo("libvpx-vp9", o), CODEC_ID_QV_VP9);
    ExpectSameAsReference(qvtest::EncodeVideo("libaom-av1", o), CODEC_ID_QV_AV1);
    // Chroma planes as wide as the luma plane: each plane has a stride of its own.
    o.pix_fmt = AV_PIX_FMT_YUV444P;
    ExpectSameAsReference(qvtest::EncodeVideo("libx264", o), CODEC_ID_H264);
    // 10- and 12-bit pictures: formats of the library's own numbering, 16-bit samples.
    o.pix_fmt = AV_PIX_FMT_YUV420P10LE;
    ExpectSameAsReference(qvtest::EncodeVideo("libx265", o), CODEC_ID_QV_HEVC);
    o.pix_fmt = AV_PIX_FMT_YUV422P12LE;
    ExpectSameAsReference(qvtest::EncodeVideo("libvpx-vp9", o), CODEC_ID_QV_VP9);
}

TEST_F(VideoTest, DecodeVideoFrame_BadInputNeverCrashes) {
    QVDecoder closed;
    uint8_t bytes[256];
    for (int i = 0; i < 256; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(closed.QVDecodeVideoFrame(bytes, sizeof(bytes), 0), -1) << "decode before open";
    EXPECT_EQ(closed.QVDecodeVideoFrame(nullptr, 10, 0), -1);

    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    EXPECT_EQ(d.QVDecodeVideoFrame(nullptr, 0, 0), -1);
    EXPECT_EQ(d.QVDecodeVideoFrame(bytes, 0, 0), -1);
    EXPECT_EQ(d.QVDecodeVideoFrame(bytes, -5, 0), -1);
    for (int len = 1; len <= 256; len += 17) {
        std::vector<uint8_t> exact(bytes, bytes + len);
        EXPECT_EQ(d.QVDecodeVideoFrame(exact.data(), len, 0), -1);
    }
    // The decoder still works afterwards.
    qvtest::VideoOptions o;
    o.frames = 3;
    auto video = qvtest::EncodeVideo("libx264", o);
    EXPECT_EQ(Push(d, video.packets[0]), 0);
}

TEST_F(VideoTest, DecodeVideoFrame_PictureChangeReallocatesAndFollows) {
    qvtest::VideoOptions small;
    small.frames = 3;
    qvtest::VideoOptions large = small;
    large.width = 704;
    large.height = 576;
    auto a = qvtest::EncodeVideo("libx264", small);
    auto b = qvtest::EncodeVideo("libx264", large);
    auto ref_b = qvtest::DecodeReference(b.codec_id, b.packets);

    QVDecoder d;
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    for (const auto& p : a.packets) EXPECT_EQ(Push(d, p), 0);
    EXPECT_EQ(Push(d, b.packets[0]), 0);
    _video_param p{};
    d.QVGetParam(p);
    EXPECT_EQ(p.width, 704);
    EXPECT_EQ(p.height, 576);
    EXPECT_EQ(p.video_buffer_size, 608256);
    EXPECT_EQ(Parts(d).output.output_param.width, 704) << "without conversion the output follows";
    EXPECT_EQ(Frame(d), ref_b[0].bytes);

    // Shrinking keeps the larger buffer but reports the smaller size.
    unsigned char* buffer = d.QVGetVideoFrame();
    EXPECT_EQ(Push(d, a.packets[0]), 0);
    EXPECT_EQ(d.QVGetVideoFrame(), buffer);
    EXPECT_EQ(d.QVGetVideoFrameSize(), 152064);
}

TEST_F(VideoTest, DecodeVideoFrame_PictureChangeRebuildsFixedSizeConverter) {
    qvtest::VideoOptions large;
    large.frames = 2;
    large.width = 704;
    large.height = 576;
    auto b = qvtest::EncodeVideo("libx264", large);
    auto ref = qvtest::DecodeReference(b.codec_id, b.packets);

    QVDecoder d;
    d.QVSetOutputResolution(320, 240, 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    ASSERT_EQ(Push(d, b.packets[0]), 0);
    EXPECT_EQ(Parts(d).output.converter_source().width, 704);
    int w = 0, h = 0;
    d.QVGetOutputResolution(w, h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    // Shrunk 2.2:1 with libyuv's box filter, whose boxes are whole pixels: on the synthetic
    // sawtooth it lands about 6 levels from libswscale's exact area filter. A scaler left
    // for the old source, or a wrong layout, is off by tens.
    EXPECT_LE(qvtest::MeanAbsDiff(Frame(d), qvtest::ScaleReference(ref[0], 320, 240, AV_PIX_FMT_YUV420P, SWS_AREA)), 8.0);
}

// A camera whose parameter sets claim a picture over the limit gets no picture and no
// memory for one; its pictures within the limit still decode.
TEST_F(VideoTest, MaxPixels_PicturesOverTheLimitAreRefused) {
    qvtest::VideoOptions o;
    o.frames = 3;
    o.width = 176;
    o.height = 144;
    auto small = qvtest::EncodeVideo("libx264", o);
    o.width = 352;
    o.height = 288;
    auto large = qvtest::EncodeVideo("libx264", o);
    auto small_ref = qvtest::DecodeReference(small.codec_id, small.packets);

    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(d.QVDecoderSetMaxPixels(176 * 144), 0);
    EXPECT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), -10005);
    EXPECT_TRUE(LogCapture::Contains("QVOpenDecoder: picture size over the limit."));
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 144, PIX_FMT_YUV420P}), 0);
    d.QVSetOutputFormat(PIX_FMT_BGR24, 0);
    for (int repeat = 0; repeat < 2; ++repeat) {
        LogCapture::Clear();
        EXPECT_EQ(Push(d, large.packets[0]), -1);
        EXPECT_TRUE(LogCapture::Contains("QVDecodeVideoFrame: picture size over the limit."));
        EXPECT_EQ(Parts(d).picture.capacity(), 176 * 144 * 3 / 2) << "nothing grew for the refused picture";
        EXPECT_EQ(Parts(d).output.output_param.width, 176);
    }
    d.QVSetOutput(_picture_param{176, 144, PIX_FMT_YUV420P}, 0);  // the decoded picture as it is
    for (size_t i = 0; i < small.packets.size(); ++i) {
        ASSERT_EQ(Push(d, small.packets[i]), 0) << i;
        EXPECT_EQ(Frame(d), small_ref[i].bytes) << i;
    }
    EXPECT_EQ(d.QVSetPictureParam(Cif()), -1);
    EXPECT_TRUE(LogCapture::Contains("QVSetPictureParam: picture size over the limit."));

    // The limit is the picture's size, not the whole macroblocks it is coded in.
    o.width = 170;
    o.height = 100;
    const auto cropped = qvtest::EncodeVideo("libx264", o);
    QVDecoder exact;
    ASSERT_EQ(exact.QVDecoderSetMaxPixels(170 * 100), 0);
    ASSERT_EQ(exact.QVOpenDecoder(CODEC_ID_H264, _picture_param{170, 100, PIX_FMT_YUV420P}), 0);
    for (const auto& packet : cropped.packets) EXPECT_EQ(Push(exact, packet), 0);

    // The default limit: a key frame whose SPS claims 16000x16000, then the real one.
    std::vector<uint8_t> hostile = small.packets[0].data;
    ASSERT_TRUE(qvtest::SetCodedSize(hostile, 16000, 16000));
    QVDecoder camera;
    camera.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(camera.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 144, PIX_FMT_YUV420P}), 0);
    LogCapture::Clear();
    EXPECT_EQ(camera.QVDecodeVideoFrame(hostile.data(), static_cast<int>(hostile.size()), 0), -1);
    EXPECT_TRUE(LogCapture::Contains("QVDecodeVideoFrame: picture size over the limit."));
    ASSERT_EQ(Push(camera, small.packets[0]), 0);
    EXPECT_EQ(Frame(camera), small_ref[0].bytes);
}

// The picture size read from the parameter sets before a frame reaches the decoder: the
// size the pictures will have (cropping and conformance windows taken off) of key frames
// (HEVC with temporal sub-layers too, MPEG-4's video object layer), nothing for the frames
// after them, and never a read past a frame cut anywhere.
TEST_F(VideoTest, MaxPixels_ParameterSetsStateThePictureSize) {
    struct Row {
        const char* encoder;
        AVCodecID codec;
        const char* params;
        int width;
        int height;
    };
    for (const Row& row : {Row{"libx264", AV_CODEC_ID_H264, "", 176, 144}, Row{"libx264", AV_CODEC_ID_H264, "", 170, 100},
                           Row{"libx265", AV_CODEC_ID_HEVC, "", 176, 144}, Row{"libx265", AV_CODEC_ID_HEVC, "", 170, 100},
                           Row{"libx265", AV_CODEC_ID_HEVC, "temporal-layers=1", 176, 144},
                           Row{"mpeg4", AV_CODEC_ID_MPEG4, "", 170, 100}}) {
        qvtest::VideoOptions o;
        o.frames = 2;
        o.width = row.width;
        o.height = row.height;
        o.x264_params = row.params;
        const auto video = qvtest::EncodeVideo(row.encoder, o);
        const int64_t area = row.width * row.height;
        const std::vector<uint8_t>& key = video.packets[0].data;
        EXPECT_EQ(qv::VideoDecoder::StatedArea(row.codec, key.data(), static_cast<int>(key.size())), area)
            << row.encoder << " " << row.params << " " << row.width;
        const std::vector<uint8_t>& next = video.packets[1].data;
        EXPECT_EQ(qv::VideoDecoder::StatedArea(row.codec, next.data(), static_cast<int>(next.size())), 0);
        for (size_t cut = 0; cut < key.size() && cut < 200; ++cut) {
            const std::vector<uint8_t> head(key.begin(), key.begin() + static_cast<long>(cut));
            const int64_t stated = qv::VideoDecoder::StatedArea(row.codec, head.data(), static_cast<int>(cut));
            EXPECT_TRUE(stated == 0 || stated == area) << cut;
        }
    }
}

// One huge picture must not keep its memory until the close: a picture buffer is made again
// once pictures need less than a quarter of it, the pushed bytes' buffers once no frame of a
// whole window needed that much (frame sizes swing between key frames and the rest).
TEST_F(VideoTest, Buffers_GiveMemoryBackAfterALargePicture) {
    qvtest::VideoOptions o;
    o.frames = 1;
    o.width = 1280;
    o.height = 720;
    o.x264_params = "qp=1";
    auto large = qvtest::EncodeVideo("libx264", o);
    o.frames = 70;
    o.width = 176;
    o.height = 144;
    o.x264_params = "";
    auto small = qvtest::EncodeVideo("libx264", o);
    const int large_bytes = static_cast<int>(large.packets[0].data.size());
    ASSERT_GT(large_bytes, 200000);

    for (const bool demux : {false, true}) {
        QVDecoder d;
        ASSERT_EQ(d.QVDecoderSetDemux(demux ? 1 : 0), 0);
        d.QVSetOutputFormat(PIX_FMT_BGR24, 0);
        ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 144, PIX_FMT_YUV420P}), 0);
        auto push = [&](const qvtest::EncodedPacket& p) {
            std::vector<uint8_t> bytes = demux ? qvtest::MakeCameraPack(p.data, p.key, 0, {}) : p.data;
            return d.QVDecodeVideoFrame(bytes.data(), static_cast<int>(bytes.size()), demux ? 0 : 1);
        };
        ASSERT_EQ(push(large.packets[0]), 0);
        ASSERT_EQ(Parts(d).picture.capacity(), 1280 * 720 * 3 / 2);
        for (const auto& p : small.packets) ASSERT_EQ(push(p), 0);
        EXPECT_EQ(Parts(d).picture.capacity(), 176 * 144 * 3 / 2) << demux;
        EXPECT_EQ(Parts(d).output.output_param.video_buffer_size, 176 * 144 * 3);
        if (demux) {
            EXPECT_LT(Parts(d).stream.demux_stage().demux_buffer()->capacity, large_bytes / 4);
        } else {
            EXPECT_LT(Parts(d).stream.repack().nal_buffer_capacity(), large_bytes / 4);
        }
    }
}

TEST_F(VideoTest, Output_ConversionEqualsSwsScale) {
    qvtest::VideoOptions o;
    o.frames = 4;
    auto video = qvtest::EncodeVideo("libx264", o);
    auto ref = qvtest::DecodeReference(video.codec_id, video.packets);

    QVDecoder bgr(_picture_param{352, 288, PIX_FMT_BGR24}, 1);
    EXPECT_FALSE(Parts(bgr).output.high_quality()) << "the constructor's quality argument has no effect";
    ASSERT_EQ(bgr.QVDecoderSetConverter(QV_CONVERTER_SWSCALE), 0);
    ASSERT_EQ(bgr.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    QVDecoder smaller;
    ASSERT_EQ(smaller.QVDecoderSetConverter(QV_CONVERTER_SWSCALE), 0);
    ASSERT_EQ(smaller.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    smaller.QVSetOutput(_picture_param{176, 144, PIX_FMT_YUV420P}, 1);  // built at once (bilinear)
    for (size_t i = 0; i < video.packets.size(); ++i) {
        ASSERT_EQ(Push(bgr, video.packets[i]), 0);
        EXPECT_EQ(Frame(bgr), qvtest::ScaleReference(ref[i], 352, 288, AV_PIX_FMT_BGR24, SWS_BILINEAR));
        ASSERT_EQ(Push(smaller, video.packets[i]), 0);
        EXPECT_EQ(Frame(smaller), qvtest::ScaleReference(ref[i], 176, 144, AV_PIX_FMT_YUV420P, SWS_BILINEAR));
    }
    EXPECT_EQ(bgr.QVGetVideoFrameSize(), 352 * 288 * 3);
    // A 10-bit picture is converted by libswscale as FFmpeg converts it.
    o.pix_fmt = AV_PIX_FMT_YUV420P10LE;
    auto deep = qvtest::EncodeVideo("libx265", o);
    auto deep_ref = qvtest::DecodeReference(deep.codec_id, deep.packets);
    QVDecoder deep_bgr(_picture_param{352, 288, PIX_FMT_BGR24}, 0);
    ASSERT_EQ(deep_bgr.QVOpenDecoder(CODEC_ID_QV_HEVC, Cif()), 0);
    size_t converted = 0;
    for (const auto& packet : deep.packets) {
        if (Push(deep_bgr, packet) != 0) continue;
        ASSERT_LT(converted, deep_ref.size());
        EXPECT_EQ(Frame(deep_bgr), qvtest::ScaleReference(deep_ref[converted++], 352, 288, AV_PIX_FMT_BGR24,
                                                            SWS_BILINEAR));
    }
    EXPECT_GT(converted, 0u);
    // The next rebuild takes the high quality chosen with the setter, which libswscale alone
    // does, whatever the engine.
    ASSERT_EQ(smaller.QVDecoderSetConverter(QV_CONVERTER_AUTO), 0);
    smaller.QVSetOutputResolution(160, 120, 0);
    ASSERT_EQ(Push(smaller, video.packets[0]), 0);
    EXPECT_EQ(Frame(smaller), qvtest::ScaleReference(ref[0], 160, 120, AV_PIX_FMT_YUV420P, SWS_BICUBIC));
}

TEST_F(VideoTest, Output_FormatAloneTakesSizeFromFirstPicture) {
    qvtest::VideoOptions o;
    o.frames = 2;
    auto video = qvtest::EncodeVideo("libx264", o);
    auto ref = qvtest::DecodeReference(video.codec_id, video.packets);
    QVDecoder d;
    d.QVSetOutputFormat(PIX_FMT_BGR24, 0);
    EXPECT_TRUE(Parts(d).output.format_set());
    EXPECT_EQ(Parts(d).output.output_param.width, 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{0, 0, PIX_FMT_YUV420P}), -10005)
        << "a 0x0 open has no buffer size";
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    // QVClose cleared the request flags: the host chooses again after reopening.
    d.QVSetOutputFormat(PIX_FMT_BGR24, 0);
    EXPECT_EQ(d.QVGetOutputFormat(), PIX_FMT_NONE) << "no picture yet, only the open's blank buffer";
    ASSERT_EQ(Push(d, video.packets[0]), 0);
    EXPECT_EQ(d.QVGetOutputFormat(), PIX_FMT_BGR24);
    d.QVClose();
    EXPECT_EQ(d.QVGetOutputFormat(), PIX_FMT_NONE);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    d.QVSetOutputFormat(PIX_FMT_BGR24, 0);
    ASSERT_EQ(Push(d, video.packets[0]), 0);
    int w = 0, h = 0;
    d.QVGetOutputResolution(w, h);
    EXPECT_EQ(w, 352);
    EXPECT_EQ(h, 288);
    EXPECT_LE(qvtest::MeanAbsDiff(Frame(d), qvtest::ScaleReference(ref[0], 352, 288, AV_PIX_FMT_BGR24, SWS_BILINEAR)),
              1.0);

    // A whole request with its size or its format left open takes them from the picture,
    // and follows it when it changes.
    o.width = 176;
    o.height = 144;
    auto small = qvtest::EncodeVideo("libx264", o);
    auto small_ref = qvtest::DecodeReference(small.codec_id, small.packets);
    for (const _picture_param open : {_picture_param{0, 0, PIX_FMT_BGR24}, _picture_param{64, 48, PIX_FMT_NONE}}) {
        QVDecoder any(open, 0);
        ASSERT_EQ(any.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
        ASSERT_EQ(Push(any, video.packets[0]), 0);
        if (open.width == 0) {
            EXPECT_LE(qvtest::MeanAbsDiff(Frame(any), qvtest::ScaleReference(ref[0], 352, 288, AV_PIX_FMT_BGR24, SWS_BILINEAR)), 1.0);
        } else {
            EXPECT_LE(qvtest::MeanAbsDiff(Frame(any), qvtest::ScaleReference(ref[0], 64, 48, AV_PIX_FMT_YUV420P, SWS_AREA)), 2.0);
        }
        ASSERT_EQ(Push(any, small.packets[0]), 0);
        if (open.width == 0) {
            EXPECT_LE(qvtest::MeanAbsDiff(Frame(any), qvtest::ScaleReference(small_ref[0], 176, 144, AV_PIX_FMT_BGR24, SWS_BILINEAR)), 1.0);
        }
    }
}

TEST_F(VideoTest, Output_SettersRecordAndSkipNoChange) {
    QVDecoder d;
    d.QVSetOutputResolution(320, 240, 1);
    EXPECT_TRUE(Parts(d).output.size_set());
    EXPECT_EQ(Parts(d).output.output_param.pix_fmt, AV_PIX_FMT_YUV420P) << "format 0 recorded before any open";
    EXPECT_TRUE(Parts(d).output.high_quality());
    d.QVSetOutputResolution(320, 240, 0);
    EXPECT_TRUE(Parts(d).output.high_quality()) << "same size: nothing changes";
    d.QVSetOutputFormat(PIX_FMT_YUV420P, 0);
    EXPECT_TRUE(Parts(d).output.high_quality()) << "same format: nothing changes";
    d.QVSetOutputFormat(PIX_FMT_BGR24, 0);
    EXPECT_TRUE(Parts(d).output.format_set());
    EXPECT_FALSE(Parts(d).output.size_set());
    d.QVSetOutput(_picture_param{100, 80, PIX_FMT_GRAY8}, 0);
    EXPECT_FALSE(Parts(d).output.format_set());
    EXPECT_FALSE(Parts(d).output.size_set());
    EXPECT_EQ(Parts(d).output.request().width, 100);

    // Field mode doubles the delivered height when conversion is off.
    QVDecoder fields;
    fields.QVDecoderSetEncodeMode(CODE_MODE_FIELD);
    ASSERT_EQ(fields.QVOpenDecoder(CODEC_ID_H264, _picture_param{720, 288, PIX_FMT_YUV420P}), 0);
    int w = 0, h = 0;
    fields.QVGetOutputResolution(w, h);
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 576);
    _video_param p{};
    fields.QVGetParam(p);
    EXPECT_EQ(p.height, 576);

    // Requested at construction with fields: the converter source is twice the field.
    QVDecoder requested(_picture_param{720, 576, PIX_FMT_BGR24}, 0);
    requested.QVDecoderSetEncodeMode(CODE_MODE_FIELD);
    ASSERT_EQ(requested.QVOpenDecoder(CODEC_ID_H264, _picture_param{720, 288, PIX_FMT_YUV420P}), 0);
    EXPECT_EQ(Parts(requested).output.converter_source().height, 576);
}

// A decode that reports a picture always leaves one to read: sizes that can never be made
// are refused by the setters, and an output the scaler cannot make means no picture.
TEST_F(VideoTest, Output_ImpossibleRequestsNeverLeaveSuccessWithoutAPicture) {
    qvtest::VideoOptions o;
    o.frames = 4;
    auto video = qvtest::EncodeVideo("libx264", o);
    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    d.QVSetOutputResolution(0, -4, 0);
    EXPECT_TRUE(LogCapture::Contains("QVSetOutputResolution: invalid output size."));
    d.QVSetOutput(_picture_param{-64, 48, PIX_FMT_BGR24}, 0);
    EXPECT_TRUE(LogCapture::Contains("QVSetOutput: invalid output size."));
    EXPECT_FALSE(Parts(d).output.enabled()) << "the previous output stays";
    EXPECT_EQ(Push(d, video.packets[0]), 0);
    EXPECT_NE(d.QVGetVideoFrame(), nullptr);
    EXPECT_EQ(d.QVGetVideoFrameSize(), 352 * 288 * 3 / 2);

    // The picture limit bounds the output too, at once.
    ASSERT_EQ(d.QVDecoderSetMaxPixels(64 * 48), 0);
    LogCapture::Clear();
    d.QVSetOutput(_picture_param{65, 48, PIX_FMT_BGR24}, 0);
    EXPECT_TRUE(LogCapture::Contains("QVSetOutput: invalid output size."));
    d.QVSetOutput(_picture_param{64, 48, PIX_FMT_BGR24}, 0);
    EXPECT_EQ(Push(d, video.packets[1]), 0);
    EXPECT_EQ(d.QVGetVideoFrameSize(), 64 * 48 * 3);
    EXPECT_EQ(d.QVDecoderSetMaxPixels(-1), -1);

    // A format libswscale cannot write (hardware-only) leaves no output buffer to hand out.
    QVDecoder hw;
    ASSERT_EQ(hw.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    hw.QVSetOutputFormat(PIX_FMT_DXVA2_VLD, 0);
    EXPECT_EQ(Push(hw, video.packets[0]), -1);
    EXPECT_EQ(hw.QVGetVideoFrame(), nullptr);
    hw.QVSetOutputFormat(PIX_FMT_RGB24, 0);
    EXPECT_EQ(Push(hw, video.packets[1]), 0);
    EXPECT_EQ(hw.QVGetVideoFrameSize(), 352 * 288 * 3);
}

TEST_F(VideoTest, Output_UnconvertibleFormatReportsAndTurnsConversionOff) {
    QVDecoder d(_picture_param{352, 288, PIX_FMT_DXVA2_VLD}, 0);  // a hardware-only format
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0) << "a converter failure leaves the open successful";
    EXPECT_TRUE(LogCapture::Contains("SetConverter: allocate converter failed."));
    EXPECT_FALSE(Parts(d).output.enabled());
    EXPECT_EQ(Parts(d).output.output_param.width, 352) << "the output then mirrors the decoded picture";
    EXPECT_EQ(Parts(d).output.output_param.pix_fmt, AV_PIX_FMT_YUV420P);
}

TEST_F(VideoTest, SetPictureParam_ReopensWithNewSize) {
    QVDecoder before;
    EXPECT_EQ(before.QVSetPictureParam(_picture_param{176, 144, PIX_FMT_YUV420P}), 0);
    EXPECT_EQ(Parts(before).picture.video_param.video_buffer_size, 176 * 144 * 3 / 2);
    EXPECT_EQ(Parts(before).video.context(), nullptr);

    QVDecoder d;
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    unsigned char* buffer = d.QVGetVideoFrame();
    EXPECT_EQ(d.QVSetPictureParam(Cif()), 0);
    EXPECT_EQ(d.QVGetVideoFrame(), buffer) << "same parameters reallocate nothing";
    EXPECT_EQ(d.QVSetPictureParam(_picture_param{704, 576, PIX_FMT_YUV420P}), 0);
    EXPECT_TRUE(Parts(d).opened);
    EXPECT_EQ(Parts(d).picture.video_param.video_buffer_size, 608256);
    EXPECT_EQ(Parts(d).output.output_param.width, 0) << "output follows the (empty) request";

    EXPECT_EQ(d.QVSetPictureParam(_picture_param{0, 0, PIX_FMT_YUV420P}), -1);
    EXPECT_TRUE(LogCapture::Contains("QVSetPictureParam: allocate video buffer failed."));
    EXPECT_EQ(Parts(d).picture.video_param.video_buffer_size, 0);
    qvtest::VideoOptions o;
    o.frames = 2;
    auto video = qvtest::EncodeVideo("libx264", o);
    const auto reference = qvtest::DecodeReference(video.codec_id, video.packets);
    // The next picture brings its own geometry, and the buffer is made again for it.
    EXPECT_EQ(Push(d, video.packets[0]), 0);
    EXPECT_EQ(Frame(d), reference[0].bytes);
    // So does a picture of the very geometry recorded, after a refused change.
    EXPECT_EQ(d.QVSetPictureParam(_picture_param{0, 0, PIX_FMT_YUV420P}), -1);
    EXPECT_EQ(Push(d, video.packets[1]), 0);
    EXPECT_EQ(Frame(d), reference[1].bytes);
}

TEST_F(VideoTest, OutputMode_GatesUntilKeyFrame) {
    qvtest::VideoOptions o;
    o.frames = 6;
    o.gop = 3;
    auto video = qvtest::EncodeVideo("mpeg2video", o);
    ASSERT_TRUE(video.packets[0].key && video.packets[3].key);
    // Start at a P picture behind the sequence header of the first packet: the decoder
    // shows a picture before any key frame.
    const auto& first = video.packets[0].data;
    size_t header_end = 0;
    for (size_t i = 4; i + 4 < first.size(); ++i) {
        if (first[i] == 0 && first[i + 1] == 0 && first[i + 2] == 1 && first[i + 3] == 0x00) {
            header_end = i;
            break;
        }
    }
    ASSERT_GT(header_end, 0u);
    std::vector<qvtest::EncodedPacket> stream;
    qvtest::EncodedPacket p1 = video.packets[1];
    p1.data.insert(p1.data.begin(), first.begin(), first.begin() + header_end);
    stream.push_back(p1);
    stream.push_back(video.packets[2]);
    for (int i = 3; i < 6; ++i) stream.push_back(video.packets[i]);

    QVDecoder gated;
    gated.QVDecoderSetOutputMode(OUTPUT_MODE_KEY_FIRST);
    gated.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    Parts(gated).log.set_threshold(31);  // the frame failures' level
    ASSERT_EQ(gated.QVOpenDecoder(CODEC_ID_MPEG2VIDEO, Cif()), 0);
    QVDecoder open_gate;
    ASSERT_EQ(open_gate.QVOpenDecoder(CODEC_ID_MPEG2VIDEO, Cif()), 0);
    std::vector<int> gated_results, plain_results;
    for (const auto& p : stream) {
        gated_results.push_back(Push(gated, p));
        plain_results.push_back(Push(open_gate, p));
        if (plain_results.back() == 0) {
            EXPECT_EQ(Frame(gated), Frame(open_gate)) << "written all the same";
        }
    }
    // Pictures before the key picture count as failed; the key picture and later ones pass.
    const auto reference = qvtest::DecodeReference(video.codec_id, stream);
    bool key_reached = false;
    size_t shown = 0;
    int gated_failures = 0;
    for (size_t i = 0; i < stream.size(); ++i) {
        if (plain_results[i] != 0) continue;
        ASSERT_LT(shown, reference.size());
        key_reached = key_reached || reference[shown++].key;
        EXPECT_EQ(gated_results[i], key_reached ? 0 : -1) << "packet " << i;
        if (gated_results[i] != 0) ++gated_failures;
    }
    EXPECT_GT(gated_failures, 0) << "the stream must show a picture before its key frame";
    EXPECT_TRUE(LogCapture::Contains("DecodeAudioFrame: wrong filed frame data.", 31));
    EXPECT_TRUE(Parts(gated).delivery.key_frame_seen());
}

TEST_F(VideoTest, Close_TwiceAndNeverOpened) {
    QVDecoder d;
    EXPECT_EQ(Parts(d).session.raw().input_format_count(), 8u);
    d.QVDecoderSetEncodeMode(CODE_MODE_FIELD);
    d.QVDecoderSetDemux(1);
    d.QVDecoderRegisterLog(&LogCapture::Callback, AV_LOG_QUIET);
    d.QVClose();
    d.QVClose();
    EXPECT_EQ(Parts(d).session.raw().input_format_count(), 0u);
    EXPECT_EQ(Parts(d).output.output_param.pix_fmt, -1);
    EXPECT_FALSE(Parts(d).output.enabled());
    EXPECT_EQ(Parts(d).modes.code_mode, 1);
    EXPECT_EQ(Parts(d).modes.demux, 1);
    EXPECT_EQ(Parts(d).log.callback(), &LogCapture::Callback);
    EXPECT_EQ(Parts(d).log.threshold(), 16);
    EXPECT_EQ(d.QVGetVideoFrame(), nullptr);
    EXPECT_EQ(d.QVGetVideoFrameSize(), 0);

    QVDecoder o(_picture_param{64, 48, PIX_FMT_BGR24}, 0);
    ASSERT_EQ(o.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    o.QVClose();
    EXPECT_FALSE(Parts(o).output.enabled());
    EXPECT_EQ(o.QVOpenDecoder(CODEC_ID_H264, Cif()), 0) << "a closed object opens again";
    EXPECT_FALSE(Parts(o).output.enabled()) << "conversion stays off until a setter is called";
}

TEST_F(VideoTest, Move_PassesOwnershipAndClosesSource) {
    qvtest::VideoOptions o;
    o.frames = 2;
    auto video = qvtest::EncodeVideo("libx264", o);
    QVDecoder a;
    ASSERT_EQ(a.QVOpenDecoder(CODEC_ID_H264, Cif()), 0);
    ASSERT_EQ(Push(a, video.packets[0]), 0);
    QVDecoder b(std::move(a));
    EXPECT_FALSE(Parts(a).opened);
    EXPECT_EQ(a.QVGetVideoFrame(), nullptr);
    EXPECT_EQ(Push(b, video.packets[1]), 0);
    QVDecoder c;
    c = std::move(b);
    EXPECT_TRUE(Parts(c).opened);
    EXPECT_FALSE(Parts(b).opened);
    a.QVClose();
    b.QVClose();
}

TEST_F(VideoTest, Threads_ManyObjectsOpenDecodeClose) {
    qvtest::VideoOptions o;
    o.frames = 4;
    o.width = 176;
    o.height = 144;
    const auto video = qvtest::EncodeVideo("libx264", o);
    const auto ref = qvtest::DecodeReference(video.codec_id, video.packets);
    std::atomic<int> mismatches{0};
    std::atomic<int> decoded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 4; ++round) {
                QVDecoder objects[4];
                for (QVDecoder& d : objects) {
                    if (d.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 144, PIX_FMT_YUV420P}) != 0) ++mismatches;
                    if ((round + t) % 2) d.QVSetOutput(_picture_param{88, 72, PIX_FMT_BGR24}, 0);
                }
                for (size_t i = 0; i < video.packets.size(); ++i) {
                    for (QVDecoder& d : objects) {
                        std::vector<uint8_t> copy = video.packets[i].data;
                        if (d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), 0) != 0) {
                            ++mismatches;
                            continue;
                        }
                        ++decoded;
                        if (!Parts(d).output.enabled() && Frame(d) != ref[i].bytes) ++mismatches;
                    }
                }
                for (QVDecoder& d : objects) d.QVClose();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(decoded.load(), 4 * 4 * 4 * 4);
}

TEST_F(VideoTest, Output_RgbRowsOfAnyWidthAreComplete) {
    // Same-size conversion takes libswscale's fast RGB path; widths whose packed rows are
    // not 32-byte multiples, and one whose rows are.
    for (int width : {100, 118, 350, 256}) {
        qvtest::VideoOptions o;
        o.frames = 1;
        o.width = width;
        o.height = 76;
        auto video = qvtest::EncodeVideo("libx264", o);
        auto ref = qvtest::DecodeReference(video.codec_id, video.packets);
        ASSERT_EQ(ref.size(), 1u);
        for (PixelFormat format : {PIX_FMT_BGR24, PIX_FMT_RGB24}) {
            QVDecoder d(_picture_param{width, 76, format}, 0);
            ASSERT_EQ(d.QVDecoderSetConverter(QV_CONVERTER_SWSCALE), 0);
            ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{width, 76, PIX_FMT_YUV420P}), 0);
            ASSERT_EQ(Push(d, video.packets[0]), 0);
            const int av_format = format == PIX_FMT_BGR24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24;
            EXPECT_EQ(Frame(d), qvtest::ScaleReference(ref[0], width, 76, av_format, SWS_BILINEAR))
                << width << " format " << format;
        }
    }
}
