// Field-coded frames: cutting at the second field, the merges, and whole frames decoded
// through QVDecodeVideoFrame.
#include <gtest/gtest.h>

#include <vector>

#include "bitstream/field_split.h"
#include "core/ffmpeg.h"
#include "decoder/field_merge.h"

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
    const int w = 4, h = 6;
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
            EXPECT_EQ(merged.Row(plane, 4)[k], a.Row(plane, 2)[k]);  // last pair copied
            EXPECT_EQ(merged.Row(plane, 5)[k], b.Row(plane, 2)[k]);
        }
    }
}

}  // namespace
