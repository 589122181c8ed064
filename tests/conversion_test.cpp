// Output conversion: the picture's colour matrix and range, and the libyuv engine against
// the matrix and libswscale's scaling. (The decoded planes are checked through the C API.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "QVDecoder.h"
#include "bmp_file.h"
#include "base/ffmpeg.h"
#include "decoder_parts.h"
#include "media_factory.h"
#include "output/output_converter.h"

using qvtest::Parts;

namespace {

std::vector<uint8_t> Frame(QVDecoder& d) {
    const uint8_t* p = d.QVGetVideoFrame();
    return std::vector<uint8_t>(p, p + d.QVGetVideoFrameSize());
}

int Push(QVDecoder& d, const qvtest::EncodedPacket& p) {
    std::vector<uint8_t> copy = p.data;
    return d.QVDecodeVideoFrame(copy.data(), static_cast<int>(copy.size()), 0);
}

// ---- The libyuv engine against libswscale, every format pair, through OutputConverter ----

struct Geometry {
    const char* name;
    int src_width, src_height, dst_width, dst_height;
    int row_padding;  // bytes of padding behind every source row (beyond libavutil's own)
};

class EngineTest : public ::testing::TestWithParam<Geometry> {};

struct Colour {
    int colorspace, range;
};

// Camera-like content: smooth luma with a hard-edged box, chroma waves within the legal
// range (a picture of wrapping sawtooth chroma would measure the engines' clipping instead).
void FillCameraLike(AVFrame* f, int index) {
    const bool semi = f->format == AV_PIX_FMT_NV12 || f->format == AV_PIX_FMT_NV21;
    for (int y = 0; y < f->height; ++y) {
        for (int x = 0; x < f->width; ++x) {
            const bool box = x > f->width / 3 && x < f->width / 2 && y > f->height / 4 && y < f->height / 2;
            f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(box ? 220 : 30 + (x * 150 / f->width) + (y * 40 / f->height));
        }
    }
    for (int y = 0; y < (f->height + 1) / 2; ++y) {
        for (int x = 0; x < (f->width + 1) / 2; ++x) {
            const uint8_t u = static_cast<uint8_t>(128 + 40 * std::sin((x + index) / 9.0 + y / 23.0));
            const uint8_t v = static_cast<uint8_t>(128 + 40 * std::cos(x / 17.0 - (y + index) / 11.0));
            if (semi) {
                uint8_t* pair = f->data[1] + y * f->linesize[1] + 2 * x;
                pair[0] = f->format == AV_PIX_FMT_NV12 ? u : v;
                pair[1] = f->format == AV_PIX_FMT_NV12 ? v : u;
            } else {
                f->data[1][y * f->linesize[1] + x] = u;
                f->data[2][y * f->linesize[2] + x] = v;
            }
        }
    }
}

// A picture with rows longer than the picture.
qv::FramePtr MakeFrame(int format, int width, int height, int padding, Colour colour, int index) {
    qv::FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = width + padding;
    frame->height = height;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    frame->width = width;
    FillCameraLike(frame.get(), index);
    frame->colorspace = static_cast<AVColorSpace>(colour.colorspace);
    frame->color_range = static_cast<AVColorRange>(colour.range);
    return frame;
}

qvtest::Picture Contiguous(const AVFrame* f) {
    qvtest::Picture p;
    p.width = f->width;
    p.height = f->height;
    p.format = f->format;
    p.colorspace = f->colorspace;
    p.color_range = f->color_range;
    p.bytes.resize(av_image_get_buffer_size(static_cast<AVPixelFormat>(f->format), f->width, f->height, 1));
    av_image_copy_to_buffer(p.bytes.data(), static_cast<int>(p.bytes.size()), f->data, f->linesize,
                            static_cast<AVPixelFormat>(f->format), f->width, f->height, 1);
    return p;
}

TEST_P(EngineTest, EveryFormatPairMatchesSwscale) {
    const Geometry g = GetParam();
    const bool scaled = g.src_width != g.dst_width || g.src_height != g.dst_height;
    const int sources[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_NV12, AV_PIX_FMT_NV21};
    const int targets[] = {AV_PIX_FMT_BGR24, AV_PIX_FMT_RGB24, AV_PIX_FMT_BGRA, AV_PIX_FMT_RGBA,
                           AV_PIX_FMT_ARGB,  AV_PIX_FMT_ABGR,  AV_PIX_FMT_YUV420P};
    // The matrices take turns across the pairs, so every one meets every source layout.
    const Colour colours[] = {{AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED},
                              {AVCOL_SPC_BT709, AVCOL_RANGE_MPEG},
                              {AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_JPEG},
                              {AVCOL_SPC_BT470BG, AVCOL_RANGE_JPEG},
                              {AVCOL_SPC_BT709, AVCOL_RANGE_JPEG}};
    qv::Logger log;
    int turn = 0;
    for (int source : sources) {
        for (int target : targets) {
            const std::string pair = std::string(av_get_pix_fmt_name(static_cast<AVPixelFormat>(source))) + " to " +
                                     av_get_pix_fmt_name(static_cast<AVPixelFormat>(target));
            // libswscale moves a yuvj420p picture into limited range on the way to yuv420p.
            const bool covered = !(source == AV_PIX_FMT_YUVJ420P && target == AV_PIX_FMT_YUV420P);
            const Colour colour = colours[turn++ % 5];
            qv::FramePtr frame = MakeFrame(source, g.src_width, g.src_height, g.row_padding, colour, turn);
            qv::OutputConverter converter(log);
            const _picture_param to{g.dst_width, g.dst_height, static_cast<enum PixelFormat>(target)};
            converter.Request(to);
            ASSERT_EQ(converter.SetConverter(_picture_param{g.src_width, g.src_height, static_cast<enum PixelFormat>(source)}, to), 0)
                << pair;
            ASSERT_EQ(converter.ConvertFrame(frame.get()), 0) << pair;
            EXPECT_EQ(converter.converted_by_yuv(), covered) << pair;
            const _video_param& out = converter.output_param;
            const std::vector<uint8_t> ours(out.video_buffer, out.video_buffer + out.video_buffer_size);
            // libswscale scales the reference with the engine's filter family; colours come from
            // the matrix itself, since libswscale's own RGB runs about a level dark.
            const qvtest::Picture picture = Contiguous(frame.get());
            const bool shrinks = g.dst_width < g.src_width || g.dst_height < g.src_height;
            const int family = shrinks ? SWS_AREA : SWS_BILINEAR;
            std::vector<uint8_t> reference;
            if (target == AV_PIX_FMT_YUV420P) {
                reference = qvtest::ScaleReference(picture, g.dst_width, g.dst_height, target, family);
            } else {
                qvtest::Picture small = picture;
                if (scaled) {
                    // Planar, as libswscale scales semi-planar chroma with a filter of its own.
                    small.format = source == AV_PIX_FMT_YUVJ420P ? source : AV_PIX_FMT_YUV420P;
                    small.bytes = qvtest::ScaleReference(picture, g.dst_width, g.dst_height, small.format, family);
                    small.width = g.dst_width;
                    small.height = g.dst_height;
                }
                reference = qvtest::ExactRgbReference(small, target);
            }
            EXPECT_LE(qvtest::MeanAbsDiff(ours, reference), scaled ? 2.0 : 1.0)
                << pair << ", colour space " << colour.colorspace << ", range " << colour.range;
            // The last row on its own: chroma one row short of an odd height leaves it wrong,
            // which the mean over the whole picture hides.
            const size_t row = target == AV_PIX_FMT_YUV420P ? (g.dst_width + 1) / 2 : ours.size() / g.dst_height;
            ASSERT_EQ(ours.size(), reference.size()) << pair;
            const std::vector<uint8_t> last(ours.end() - row, ours.end()), want(reference.end() - row, reference.end());
            EXPECT_LE(qvtest::MeanAbsDiff(last, want), scaled ? 3.0 : 1.0) << pair << ", last row";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, EngineTest,
    ::testing::Values(Geometry{"same_size", 96, 64, 96, 64, 0}, Geometry{"odd_size", 97, 61, 97, 61, 0},
                      Geometry{"padded_rows", 99, 33, 99, 33, 40}, Geometry{"shrink_to_tile", 320, 180, 80, 45, 0},
                      Geometry{"shrink_odd", 353, 287, 176, 143, 24}, Geometry{"enlarge", 97, 61, 202, 127, 16},
                      Geometry{"shrink_one_way_enlarge_other", 128, 96, 64, 150, 0},
                      Geometry{"shrink_3_to_1", 192, 108, 64, 36, 8}, Geometry{"shrink_3_to_2", 192, 108, 128, 72, 0}),
    [](const ::testing::TestParamInfo<Geometry>& info) { return std::string(info.param.name); });

// ---- Tagged streams, decoded and converted by the library ----

struct TaggedStream {
    const char* name;
    int colorspace, range;
    bool by_yuv;  // libyuv has the matrix
    int threads;  // decoding threads, which libswscale also cuts pictures into slices for
    int code;     // QVGetPictureColour's answer
};

class ColourTest : public ::testing::TestWithParam<TaggedStream> {
protected:
    void SetUp() override { QVDecoderInitialize(); }
};

// FFmpeg's lines while a conversion runs: what a host's stderr would show.
std::mutex g_ffmpeg_lines_lock;
std::vector<std::string> g_ffmpeg_lines;
void KeepFFmpegLine(void*, int, const char* line) {
    std::lock_guard<std::mutex> lock(g_ffmpeg_lines_lock);
    g_ffmpeg_lines.emplace_back(line);
}

// Both engines take turns within one stream; each picture matches libswscale's conversion
// with the stream's matrix (byte for byte where libswscale converts), and so does the
// snapshot of the decoded picture. Full-range pictures (yuvj420p) reach libswscale without
// its "deprecated pixel format" warning on the host's stderr.
TEST_P(ColourTest, ConversionUsesTheStreamsMatrix) {
    const TaggedStream t = GetParam();
    qvtest::VideoOptions o;
    o.frames = 4;
    o.colorspace = t.colorspace;
    o.color_range = t.range;
    o.seed = 5;
    auto video = qvtest::EncodeVideo("libx264", o);
    auto ref = qvtest::DecodeReference(video.codec_id, video.packets);
    ASSERT_EQ(ref.size(), video.packets.size());
    EXPECT_EQ(ref[0].colorspace, t.colorspace) << "the stream carries its tag";
    std::vector<std::vector<uint8_t>> ffmpeg_pictures;  // made first: they print FFmpeg's warnings
    for (const qvtest::Picture& picture : ref) {
        ffmpeg_pictures.push_back(qvtest::ScaleReference(picture, 352, 288, AV_PIX_FMT_BGR24, SWS_BILINEAR));
    }
    g_ffmpeg_lines.clear();
    QVDecoderSetFFmpegLog(KeepFFmpegLine, nullptr, AV_LOG_WARNING);

    QVDecoder d(_picture_param{352, 288, PIX_FMT_BGR24}, 0);
    ASSERT_EQ(d.QVDecoderSetThreads(t.threads), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 288, PIX_FMT_YUV420P}), 0);
    EXPECT_EQ(d.QVGetPictureColour(), -1) << "no picture yet";
    for (size_t i = 0; i < video.packets.size(); ++i) {
        const bool swscale = i % 2 == 1;
        ASSERT_EQ(d.QVDecoderSetConverter(swscale ? QV_CONVERTER_SWSCALE : QV_CONVERTER_AUTO), 0);
        ASSERT_EQ(Push(d, video.packets[i]), 0);
        // Converted straight into a host's memory (rows one byte off alignment, which
        // libswscale cannot write into directly); a buffer one byte short gets nothing.
        const int size = d.QVGetVideoFrameSize();
        std::vector<uint8_t> host(static_cast<size_t>(size) + 1, 0xA5);
        EXPECT_EQ(d.QVGetVideoFrameInto(host.data() + 1, size - 1), QV_ERR_BUFFER_TOO_SMALL);
        EXPECT_EQ(std::count(host.begin(), host.end(), 0xA5), size + 1) << "nothing written";
        ASSERT_EQ(d.QVGetVideoFrameInto(host.data() + 1, size), size);
        EXPECT_EQ(Parts(d).output.converted_by_yuv(), !swscale && t.by_yuv) << "picture " << i;
        EXPECT_TRUE(std::equal(host.begin() + 1, host.end(), Frame(d).begin())) << "picture " << i;
        EXPECT_EQ(d.QVGetPictureColour(), t.code) << "what a host converting the planes itself is told";
        // FFmpeg's conversion with the stream's matrix, or the matrix itself for libyuv, which
        // keeps closer to it than libswscale's fast path (about a level dark) does.
        const auto& ffmpeg = ffmpeg_pictures[i];
        if (swscale || !t.by_yuv) EXPECT_EQ(Frame(d), ffmpeg) << "picture " << i;
        const auto reference = swscale || !t.by_yuv ? ffmpeg : qvtest::ExactRgbReference(ref[i], AV_PIX_FMT_BGR24);
        EXPECT_LE(qvtest::MeanAbsDiff(Frame(d), reference), 0.6) << "picture " << i << (swscale ? " swscale" : " auto");
        EXPECT_LE(qvtest::MeanAbsDiff(Frame(d), ffmpeg), 1.0) << "picture " << i;
        if (i + 1 == video.packets.size()) {
            const std::string path = qvtest::ScratchDir("colour_" + std::string(t.name)) + "/current.bmp";
            ASSERT_EQ(d.QVSaveCurrentImage(path.c_str()), 0);
            qvtest::BmpImage bmp;
            ASSERT_TRUE(qvtest::ReadBmp(path, &bmp));
            EXPECT_LE(qvtest::MeanAbsDiff(bmp.TopDown(), ffmpeg), 0.6) << "snapshot";
        }
    }
    EXPECT_EQ(d.QVDecoderSetConverter(2), -1);
    EXPECT_EQ(d.QVDecoderSetConverter(-1), -1);
    QVDecoderSetFFmpegLog(nullptr, nullptr, AV_LOG_WARNING);
    for (const std::string& line : g_ffmpeg_lines) ADD_FAILURE() << "FFmpeg said: " << line;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ColourTest,
    ::testing::Values(TaggedStream{"bt709", AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, true, 1, QV_COLOUR_BT709},
                      TaggedStream{"bt709_slice_threads", AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, true, 2, QV_COLOUR_BT709},
                      TaggedStream{"bt2020", AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG, true, 1, QV_COLOUR_BT2020},
                      TaggedStream{"bt601_full", AVCOL_SPC_SMPTE170M, AVCOL_RANGE_JPEG, true, 1,
                                   QV_COLOUR_BT601 | QV_COLOUR_FULL_RANGE},
                      // libyuv lacks this matrix: libswscale converts it.
                      TaggedStream{"smpte240m", AVCOL_SPC_SMPTE240M, AVCOL_RANGE_MPEG, false, 1, QV_COLOUR_SMPTE240M}),
    [](const ::testing::TestParamInfo<TaggedStream>& info) { return std::string(info.param.name); });

}  // namespace

// ---- Fast decoding: the same tiles when off or when the output shows every pixel, tiles
// near the exact ones when it skips work ----

struct FastCase {
    const char* name;
    const char* encoder;
    int codec;            // legacy CodecID
    int out_width, out_height;
    bool skips;           // fast decoding leaves work undone at this output size
    int decoded_width;    // QVGetParam's width after a few pictures with fast decoding on
};

class FastDecodeTest : public ::testing::TestWithParam<FastCase> {
protected:
    void SetUp() override { QVDecoderInitialize(); }
};

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double squares = 0;
    for (size_t i = 0; i < a.size(); ++i) squares += (a[i] - b[i]) * (a[i] - b[i]);
    return squares == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * a.size() / squares);
}

TEST_P(FastDecodeTest, TilesFollowTheExactPicture) {
    const FastCase c = GetParam();
    qvtest::VideoOptions o;
    o.width = 320;
    o.height = 240;
    o.frames = 24;
    o.gop = 24;  // one key frame: whatever the skipped filter changes builds up over the P-frames
    o.bit_rate = 150000;
    auto video = qvtest::EncodeVideo(c.encoder, o);
    const _picture_param tile{c.out_width, c.out_height, PIX_FMT_BGR24};
    QVDecoder exact(tile, 0), off(tile, 0), fast(tile, 0);
    EXPECT_EQ(off.QVDecoderSetFastDecode(0), 0);
    EXPECT_EQ(fast.QVDecoderSetFastDecode(2), -1);
    EXPECT_EQ(fast.QVDecoderSetFastDecode(1), 0);
    const _picture_param stated{o.width, o.height, PIX_FMT_YUV420P};
    for (QVDecoder* d : {&exact, &off, &fast}) ASSERT_EQ(d->QVOpenDecoder(static_cast<CodecID>(c.codec), stated), 0);
    double worst = 99.0;
    bool differs = false;
    for (const auto& p : video.packets) {
        ASSERT_EQ(Push(exact, p), 0);
        ASSERT_EQ(Push(off, p), 0);
        ASSERT_EQ(Push(fast, p), 0);
        const std::vector<uint8_t> reference = Frame(exact);
        EXPECT_EQ(Frame(off), reference);
        const std::vector<uint8_t> tile_bytes = Frame(fast);
        ASSERT_EQ(tile_bytes.size(), reference.size());
        worst = std::min(worst, Psnr(tile_bytes, reference));
        differs = differs || tile_bytes != reference;
    }
    EXPECT_EQ(differs, c.skips);
    EXPECT_GE(worst, 30.0);
    _video_param param{};
    fast.QVGetParam(param);
    EXPECT_EQ(param.width, c.decoded_width);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, FastDecodeTest,
    ::testing::Values(FastCase{"h264_tile", "libx264", CODEC_ID_H264, 80, 60, true, 320},
                      FastCase{"h264_full_size", "libx264", CODEC_ID_H264, 320, 240, false, 320},
                      FastCase{"hevc_tile", "libx265", CODEC_ID_QV_HEVC, 160, 120, true, 320},
                      FastCase{"mjpeg_quarter", "mjpeg", CODEC_ID_MJPEG, 80, 60, true, 80},
                      FastCase{"mjpeg_half", "mjpeg", CODEC_ID_MJPEG, 160, 120, true, 160},
                      FastCase{"mjpeg_half_then_box", "mjpeg", CODEC_ID_MJPEG, 32, 24, true, 160},
                      FastCase{"mjpeg_between", "mjpeg", CODEC_ID_MJPEG, 150, 100, false, 320}),
    [](const ::testing::TestParamInfo<FastCase>& info) { return std::string(info.param.name); });
