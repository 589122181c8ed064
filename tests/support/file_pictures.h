// The picture a file-mode decoder handed out, as the suites compare it, and the comparison.
#pragma once

#include <gtest/gtest.h>

#include <vector>

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
