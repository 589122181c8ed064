// The picture a file-mode decoder handed out, as the suites compare it, and the comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/ffmpeg.h"

#include "decoder_parts.h"
#include "media_factory.h"

namespace qvtest {

// The picture last handed out, with the geometry the decoder recorded for it.
inline Picture HandedOutPicture(QVDecoder& decoder) {
    const _video_param& p = Parts(decoder).picture.video_param;
    Picture picture;
    picture.width = p.width;
    picture.height = p.height;
    picture.format = p.pix_fmt;
    const unsigned char* data = decoder.QVGetVideoFrame();
    picture.bytes.assign(data, data + decoder.QVGetVideoFrameSize());
    return picture;
}

// The planes QVGetVideoPlanes hands out (no output conversion) hold the picture laid out
// contiguously, row by row and plane by plane, each plane read with its own stride.
inline void ExpectPlanesHoldPicture(QVDecoder& decoder, const Picture& picture) {
    unsigned char* data[4];
    int linesize[4];
    ASSERT_EQ(decoder.QVGetVideoPlanes(data, linesize), 0);
    const AVPixelFormat format = static_cast<AVPixelFormat>(picture.format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    ASSERT_NE(desc, nullptr);
    const uint8_t* laid[4];
    int packed[4];
    ASSERT_GE(av_image_fill_arrays(const_cast<uint8_t**>(laid), packed, picture.bytes.data(), format, picture.width,
                                   picture.height, 1),
              0);
    const int planes = av_pix_fmt_count_planes(format);
    for (int i = 0; i < 4; ++i) {
        if (i >= planes) {
            EXPECT_EQ(data[i], nullptr) << "plane " << i;
            continue;
        }
        ASSERT_NE(data[i], nullptr) << "plane " << i;
        ASSERT_GE(linesize[i], packed[i]) << "plane " << i;
        const int rows = i == 1 || i == 2 ? AV_CEIL_RSHIFT(picture.height, desc->log2_chroma_h) : picture.height;
        for (int y = 0; y < rows; ++y) {
            ASSERT_EQ(std::memcmp(data[i] + static_cast<ptrdiff_t>(y) * linesize[i], laid[i] + y * packed[i], packed[i]), 0)
                << "plane " << i << " row " << y;
        }
    }
}

inline void ExpectSamePictures(const std::vector<Picture>& got, const std::vector<Picture>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].width, want[i].width) << "picture " << i;
        EXPECT_EQ(got[i].height, want[i].height) << "picture " << i;
        EXPECT_EQ(got[i].format, want[i].format) << "picture " << i;
        EXPECT_TRUE(got[i].bytes == want[i].bytes) << "picture " << i << " differs";
    }
}

}  // namespace qvtest
