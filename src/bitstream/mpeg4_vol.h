// The picture size an MPEG-4 Part 2 video object layer header states, read before the frame
// reaches the decoder. No allocation, never reads outside the bytes given.
#pragma once

#include <cstdint>

namespace qv {

// The largest picture area (video_object_layer_width x height) that the rectangular video
// object layer headers (start codes 00 00 01 20 to 2F) of a frame state; 0 when there is
// none or it cannot be read.
int64_t Mpeg4StatedPictureArea(const uint8_t* data, int length);

}  // namespace qv
