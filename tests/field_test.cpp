// Field-coded frames: cutting at the second field, the merges, and whole frames decoded
// through QVDecodeVideoFrame.
#include <gtest/gtest.h>

#include <malloc.h>

#include <vector>

#include "QVDecoder.h"
#include "bitstream/field_split.h"
#include "base/ffmpeg.h"
#include "stream/field_merge.h"
#include "field_pictures.h"
#include "file_pictures.h"
#include "decoder_parts.h"
#include "log_capture.h"
#include "media_factory.h"

namespace {

using Bytes = std::vector<uint8_t>;

int Split(const Bytes& in) {
    Bytes copy(in);
    return qv::GetField(copy.empty() ? nullptr : copy.data(), static_cast<int>(copy.size()));
}

TEST(GetFieldTest, FindsTheSecondStartCodeOnly) {
    EXPECT_EQ(Split({0, 0, 1, 0xB5, 7, 0, 0, 1, 0xB5, 9}), 5);
    EXPECT_EQ(Split({0, 0, 0, 1, 0xB5, 7, 0, 0, 0, 1, 0xB5, 9}), 7);  // four-byte start codes
    EXPECT_EQ(Split({0, 0, 1, 0, 0, 1, 0xB5, 9}), 3);  // right behind the leading start code
}

TEST(GetFieldTest, RefusesForeignHeadsAndStartCodesAtTheEnd) {
    EXPECT_EQ(Split({0, 5, 1, 0xB5, 0, 0, 1, 0xB5, 9}), -1);
    EXPECT_EQ(Split({7, 0, 1, 0xB5, 0, 0, 1, 0xB5, 9}), -1);
    EXPECT_EQ(Split({0, 0, 2, 0xB5, 0, 0, 1, 0xB5, 9}), -1);
    EXPECT_EQ(Split({0, 0, 1, 0xB5, 7, 7, 0, 0, 1}), -1);       // nothing after it
    EXPECT_EQ(Split({0, 0, 1, 0xB5, 7, 7, 0, 0, 1, 9}), 6);     // one byte after it
    EXPECT_EQ(Split({0, 0, 1, 0xB5, 7, 7, 7, 7, 7, 9}), -1);
    EXPECT_EQ(Split({}), -1);
    EXPECT_EQ(Split({0, 0}), -1);
    EXPECT_EQ(Split({0, 0, 1}), -1);
    EXPECT_EQ(Split({0, 0, 1, 0}), -1);
    EXPECT_EQ(qv::GetField(nullptr, 50), -1);
}

// A field picture laid out contiguously, with its plane record.
struct Field {
    Bytes bytes;
    QVPicture picture{};
    Field(int format, int width, int height, int seed) {
        const int size = av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, height, 1);
        bytes.resize(static_cast<size_t>(size));
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 5));
        av_image_fill_arrays(picture.data, picture.linesize, bytes.data(), static_cast<AVPixelFormat>(format),
                             width, height, 1);
    }
    const uint8_t* Row(int plane, int row) const { return picture.data[plane] + row * picture.linesize[plane]; }
};

_picture_param Geometry(int format, int width, int height) {
    return {width, height, static_cast<enum PixelFormat>(format)};
}

TEST(FieldMergeBobTest, DoublesEveryPlaneOfTheFirstField) {
    const struct {
        int format;
        int width, height;
    } cases[] = {{AV_PIX_FMT_YUV420P, 16, 6},  {AV_PIX_FMT_YUV420P, 10, 5}, {AV_PIX_FMT_RGB24, 7, 4},
                 {AV_PIX_FMT_BGR24, 5, 3},     {AV_PIX_FMT_YUV422P, 8, 4},  {AV_PIX_FMT_YUV444P, 6, 3},
                 {AV_PIX_FMT_YUV411P, 12, 4},  {AV_PIX_FMT_GRAY8, 9, 7}};
    for (const auto& c : cases) {
        const Field a(c.format, c.width, c.height, 1), b(c.format, c.width, c.height, 77);
        Field merged(c.format, c.width, 2 * c.height, 0);
        // The merged buffer holds twice the field size, as the decoder allocates it.
        merged.bytes.resize(2 * a.bytes.size() + 64, 0xEE);
        av_image_fill_arrays(merged.picture.data, merged.picture.linesize, merged.bytes.data(),
                             static_cast<AVPixelFormat>(c.format), c.width, 2 * c.height, 1);
        ASSERT_EQ(qv::FieldMergeBob(&a.picture, &b.picture, Geometry(c.format, c.width, c.height), &merged.picture), 0);

        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(c.format));
        for (int plane = 0; plane < 4 && a.picture.linesize[plane] > 0; ++plane) {
            const int shift = plane > 0 && plane < 3 ? desc->log2_chroma_h : 0;
            const int rows = -((-c.height) >> shift);
            const int line = a.picture.linesize[plane];
            // An odd field height in 4:2:0 gives one chroma row more than the merged plane
            // holds; it runs into the next plane, which overwrites it.
            const int merged_rows = -((-2 * c.height) >> shift);
            const bool last_plane = plane == 3 || a.picture.linesize[plane + 1] <= 0;
            for (int j = 0; j < rows; ++j) {
                if (2 * j + 1 >= merged_rows && !last_plane) break;
                const uint8_t* even = merged.Row(plane, 2 * j);
                const uint8_t* odd = merged.Row(plane, 2 * j + 1);
                const uint8_t* next = a.Row(plane, j + 1 < rows ? j + 1 : j);
                for (int k = 0; k < line; ++k) {
                    ASSERT_EQ(even[k], a.Row(plane, j)[k]);
                    ASSERT_EQ(odd[k], (a.Row(plane, j)[k] + next[k]) / 2) << c.format << " " << plane << " " << j;
                }
            }
        }
        // Nothing past twice the field size is touched.
        for (size_t i = 2 * a.bytes.size(); i < merged.bytes.size(); ++i) ASSERT_EQ(merged.bytes[i], 0xEE);
    }
}

TEST(FieldMergeBobTest, RefusesOtherFormatsAndUnequalLayouts) {
    const Field a(AV_PIX_FMT_YUV420P, 16, 4, 1), b(AV_PIX_FMT_YUV420P, 16, 4, 2);
    Field merged(AV_PIX_FMT_YUV420P, 16, 8, 3);
    const Bytes before = merged.bytes;
    for (int format : {int{AV_PIX_FMT_YUYV422}, int{AV_PIX_FMT_YUV410P}, int{AV_PIX_FMT_NV12}, int{AV_PIX_FMT_YUVJ420P}, -1}) {
        EXPECT_EQ(qv::FieldMergeBob(&a.picture, &b.picture, Geometry(format, 16, 4), &merged.picture), -1);
    }
    const Field narrow(AV_PIX_FMT_YUV420P, 8, 4, 2);
    EXPECT_EQ(qv::FieldMergeBob(&a.picture, &narrow.picture, Geometry(AV_PIX_FMT_YUV420P, 16, 4), &merged.picture), -1);
    EXPECT_EQ(qv::FieldMergeBob(&a.picture, nullptr, Geometry(AV_PIX_FMT_YUV420P, 16, 4), &merged.picture), -1);
    EXPECT_EQ(qv::FieldMerge(&a.picture, &narrow.picture, Geometry(AV_PIX_FMT_YUV420P, 16, 4), &merged.picture), -1);
    EXPECT_EQ(qv::FieldMergeYUV420P(&a.picture, &b.picture, Geometry(AV_PIX_FMT_RGB24, 16, 4), &merged.picture, 0, 4), -1);
    EXPECT_EQ(merged.bytes, before);
}

TEST(FieldMergeTest, WeavesBothFields) {
    const Field a(AV_PIX_FMT_YUV422P, 8, 4, 1), b(AV_PIX_FMT_YUV422P, 8, 4, 90);
    Field merged(AV_PIX_FMT_YUV422P, 8, 8, 0);
    ASSERT_EQ(qv::FieldMerge(&a.picture, &b.picture, Geometry(AV_PIX_FMT_YUV422P, 8, 4), &merged.picture), 0);
    for (int plane = 0; plane < 3; ++plane) {
        for (int j = 0; j < 4; ++j) {
            const int line = a.picture.linesize[plane];
            EXPECT_TRUE(std::equal(a.Row(plane, j), a.Row(plane, j) + line, merged.Row(plane, 2 * j)));
            EXPECT_TRUE(std::equal(b.Row(plane, j), b.Row(plane, j) + line, merged.Row(plane, 2 * j + 1)));
        }
    }
}

TEST(FieldMergeTest, Yuv420Filter_SmoothsAcrossTheWovenLines) {
  // An odd field height: the chroma rows of whole row pairs only, the last pair copied.
  for (const int h : {6, 5}) {
    SCOPED_TRACE(h);
    const int w = 4;
    const Field a(AV_PIX_FMT_YUV420P, w, h, 3), b(AV_PIX_FMT_YUV420P, w, h, 140);
    Field merged(AV_PIX_FMT_YUV420P, w, 2 * h, 0);
    ASSERT_EQ(qv::FieldMergeYUV420P(&a.picture, &b.picture, Geometry(AV_PIX_FMT_YUV420P, w, h), &merged.picture, 99, h), 0);
    for (int k = 0; k < w; ++k) {
        EXPECT_EQ(merged.Row(0, 0)[k], a.Row(0, 0)[k]);
        EXPECT_EQ(merged.Row(0, 1)[k], b.Row(0, 0)[k]);
        for (int j = 1; j <= h - 2; ++j) {
            EXPECT_EQ(merged.Row(0, 2 * j)[k], (b.Row(0, j - 1)[k] + 2 * a.Row(0, j)[k] + b.Row(0, j)[k]) / 4);
            EXPECT_EQ(merged.Row(0, 2 * j + 1)[k], (a.Row(0, j)[k] + 2 * b.Row(0, j)[k] + a.Row(0, j + 1)[k]) / 4);
        }
        EXPECT_EQ(merged.Row(0, 2 * h - 2)[k], a.Row(0, h - 1)[k]);
        EXPECT_EQ(merged.Row(0, 2 * h - 1)[k], b.Row(0, h - 1)[k]);
    }
    for (int plane = 1; plane <= 2; ++plane) {
        for (int k = 0; k < w / 2; ++k) {
            EXPECT_EQ(merged.Row(plane, 0)[k], a.Row(plane, 0)[k]);
            EXPECT_EQ(merged.Row(plane, 1)[k], (a.Row(plane, 0)[k] + 2 * b.Row(plane, 0)[k] + a.Row(plane, 1)[k]) / 4);
            const int last = h / 2 - 1;  // last pair copied
            EXPECT_EQ(merged.Row(plane, 2 * last)[k], a.Row(plane, last)[k]);
            EXPECT_EQ(merged.Row(plane, 2 * last + 1)[k], b.Row(plane, last)[k]);
        }
    }
  }
}

Bytes Bob420(const Bytes& field, int width, int height) {
    return qvtest::LineDoubled420(field, width, height).bytes;
}

class FieldDecodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        QVDecoderInitialize();
        qvtest::LogCapture::Clear();
    }
    // Two separately encoded all-intra streams: the first and the second fields.
    static std::pair<qvtest::EncodedVideo, qvtest::EncodedVideo> Fields(int width, int height, int frames) {
        qvtest::VideoOptions o;
        o.width = width;
        o.height = height;
        o.frames = frames;
        o.gop = 1;
        o.seed = 1;
        auto a = qvtest::EncodeVideo("libx264", o);
        o.seed = 9;
        auto b = qvtest::EncodeVideo("libx264", o);
        return {a, b};
    }
    static int Push(QVDecoder& d, const Bytes& first, const Bytes& second, int repack = 0) {
        Bytes frame(first);
        frame.insert(frame.end(), second.begin(), second.end());
        return d.QVDecodeVideoFrame(frame.data(), static_cast<int>(frame.size()), repack);
    }
};

Bytes Frame(QVDecoder& d) {
    const uint8_t* p = d.QVGetVideoFrame();
    return Bytes(p, p + d.QVGetVideoFrameSize());
}

TEST_F(FieldDecodeTest, TwoFields_GiveTheFirstFieldLineDoubled) {
    const auto [a, b] = Fields(352, 240, 3);
    const auto reference = qvtest::DecodeReference(a.codec_id, a.packets);
    ASSERT_EQ(reference.size(), 3u);
    for (int repack : {0, 1}) {
        QVDecoder d;
        ASSERT_EQ(d.QVDecoderSetEncodeMode(CODE_MODE_FIELD), 0);
        ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 240, PIX_FMT_YUV420P}), 0);
        for (size_t i = 0; i < 3; ++i) {
            ASSERT_EQ(Push(d, a.packets[i].data, b.packets[i].data, repack), 0) << i;
            EXPECT_EQ(d.QVGetVideoFrameSize(), 2 * 352 * 240 * 3 / 2);
            EXPECT_EQ(Frame(d), Bob420(reference[i].bytes, 352, 240)) << i;
            qvtest::ExpectPlanesHoldPicture(d, qvtest::LineDoubled420(reference[i].bytes, 352, 240));
        }
        _video_param p{};
        d.QVGetParam(p);
        EXPECT_EQ(p.width, 352);
        EXPECT_EQ(p.height, 480);
    }
}

TEST_F(FieldDecodeTest, OutputConversion_ScalesTheMergedFrame) {
    const auto [a, b] = Fields(352, 240, 2);
    const auto reference = qvtest::DecodeReference(a.codec_id, a.packets);
    QVDecoder d;
    ASSERT_EQ(d.QVDecoderSetEncodeMode(CODE_MODE_FIELD), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 240, PIX_FMT_YUV420P}), 0);
    d.QVSetOutput(_picture_param{320, 400, PIX_FMT_BGR24}, 0);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(Push(d, a.packets[i].data, b.packets[i].data), 0);
        qvtest::Picture merged;
        merged.width = 352;
        merged.height = 480;
        merged.format = AV_PIX_FMT_YUV420P;
        merged.bytes = Bob420(reference[i].bytes, 352, 240);
        EXPECT_LE(qvtest::MeanAbsDiff(Frame(d), qvtest::ScaleReference(merged, 320, 400, AV_PIX_FMT_BGR24, SWS_AREA)), 2.0) << i;
    }
}

TEST_F(FieldDecodeTest, FieldSizeChanges_BuffersFollow) {
    const auto [small_a, small_b] = Fields(176, 120, 1);
    const auto [large_a, large_b] = Fields(352, 240, 1);
    const Bytes small_ref = qvtest::DecodeReference(small_a.codec_id, small_a.packets)[0].bytes;
    const Bytes large_ref = qvtest::DecodeReference(large_a.codec_id, large_a.packets)[0].bytes;
    QVDecoder d;
    ASSERT_EQ(d.QVDecoderSetEncodeMode(CODE_MODE_FIELD), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 120, PIX_FMT_YUV420P}), 0);
    ASSERT_EQ(Push(d, small_a.packets[0].data, small_b.packets[0].data), 0);
    EXPECT_EQ(Frame(d), Bob420(small_ref, 176, 120));
    // Larger fields, announced and not announced, then smaller ones again.
    ASSERT_EQ(d.QVSetPictureParam(_picture_param{352, 240, PIX_FMT_YUV420P}), 0);
    ASSERT_EQ(Push(d, large_a.packets[0].data, large_b.packets[0].data), 0);
    EXPECT_EQ(Frame(d), Bob420(large_ref, 352, 240));
    ASSERT_EQ(Push(d, small_a.packets[0].data, small_b.packets[0].data), 0);
    EXPECT_EQ(Frame(d), Bob420(small_ref, 176, 120));
    ASSERT_EQ(Push(d, large_a.packets[0].data, large_b.packets[0].data), 0);
    EXPECT_EQ(Frame(d), Bob420(large_ref, 352, 240));
    // Fields needing less than a quarter of the buffers get buffers of their size.
    const auto [tiny_a, tiny_b] = Fields(80, 48, 1);
    ASSERT_EQ(Push(d, tiny_a.packets[0].data, tiny_b.packets[0].data), 0);
    EXPECT_EQ(qvtest::Parts(d).stream.fields().merged_frame_size(), 2 * 80 * 48 * 3 / 2);
    ASSERT_EQ(Push(d, large_a.packets[0].data, large_b.packets[0].data), 0);
    // Two fields of different size make no frame.
    EXPECT_EQ(Push(d, small_a.packets[0].data, large_b.packets[0].data), -1);
}

// The host reads QVGetVideoFrameSize bytes from QVGetVideoFrame. A larger field size takes
// effect at once, the merged frame only at the next merge: in between the size handed out
// must still fit the merged frame that exists.
TEST_F(FieldDecodeTest, FieldSizeChange_FrameSizeNeverExceedsTheMergedFrame) {
    const auto [a, b] = Fields(176, 120, 1);
    QVDecoder d;
    ASSERT_EQ(d.QVDecoderSetEncodeMode(CODE_MODE_FIELD), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{176, 120, PIX_FMT_YUV420P}), 0);
    EXPECT_EQ(d.QVGetVideoFrame(), nullptr);
    EXPECT_EQ(d.QVGetVideoFrameSize(), 0) << "no merged frame yet";
    ASSERT_EQ(Push(d, a.packets[0].data, b.packets[0].data), 0);
    ASSERT_EQ(d.QVGetVideoFrameSize(), 2 * 176 * 120 * 3 / 2);

    ASSERT_EQ(d.QVSetPictureParam(_picture_param{352, 240, PIX_FMT_YUV420P}), 0);
    ASSERT_NE(d.QVGetVideoFrame(), nullptr);
    EXPECT_LE(static_cast<size_t>(d.QVGetVideoFrameSize()), malloc_usable_size(d.QVGetVideoFrame()));
    // Smaller fields fit the merged frame already made.
    ASSERT_EQ(d.QVSetPictureParam(_picture_param{88, 60, PIX_FMT_YUV420P}), 0);
    EXPECT_EQ(d.QVGetVideoFrameSize(), 2 * 88 * 60 * 3 / 2);
}

TEST_F(FieldDecodeTest, MissingOrBrokenFields) {
    const auto [a, b] = Fields(352, 240, 1);
    QVDecoder d;
    d.QVDecoderRegisterLog(&qvtest::LogCapture::Callback, AV_LOG_QUIET);
    ASSERT_EQ(d.QVDecoderSetEncodeMode(CODE_MODE_FIELD), 0);
    ASSERT_EQ(d.QVOpenDecoder(CODEC_ID_H264, _picture_param{352, 240, PIX_FMT_YUV420P}), 0);
    // One field alone: its parameter sets do not decode, the slice has no partner.
    Bytes one(a.packets[0].data);
    EXPECT_EQ(d.QVDecodeVideoFrame(one.data(), static_cast<int>(one.size()), 0), -1);
    EXPECT_TRUE(qvtest::LogCapture::Contains("QVDecodeVideoFrame: only one field found."));
    qvtest::LogCapture::Clear();
    Bytes foreign = {0, 5, 1, 0x65, 0, 0, 1, 0x65, 1, 2, 3};
    EXPECT_EQ(d.QVDecodeVideoFrame(foreign.data(), static_cast<int>(foreign.size()), 0), -1);
    EXPECT_TRUE(qvtest::LogCapture::Contains("QVDecodeVideoFrame: only one field found."));
    // First field decoded, the last piece broken: -1 without this stage's message.
    qvtest::LogCapture::Clear();
    const Bytes broken = {0, 0, 1, 0x65, 0xFF, 0x00, 0x12};
    EXPECT_EQ(Push(d, a.packets[0].data, broken), -1);
    EXPECT_FALSE(qvtest::LogCapture::Contains("QVDecodeVideoFrame: only one field found."));
    // Inputs of 0 to 4 bytes.
    for (Bytes tiny : {Bytes{0}, Bytes{0, 0}, Bytes{0, 0, 1}, Bytes{0, 0, 1, 0}}) {
        EXPECT_EQ(d.QVDecodeVideoFrame(tiny.data(), static_cast<int>(tiny.size()), 0), -1);
    }
    EXPECT_EQ(Push(d, a.packets[0].data, b.packets[0].data), 0);
}

}  // namespace
