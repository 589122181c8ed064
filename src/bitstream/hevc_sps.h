// The picture size an HEVC sequence parameter set states, read before the frame reaches the
// decoder. No allocation, never reads outside the bytes given.
#pragma once

#include <cstdint>

namespace qv {

// The largest coded picture area (pic_width_in_luma_samples x pic_height_in_luma_samples)
// that the SPS units ahead of the first slice of an Annex B frame state; 0 when there is
// none or it cannot be read.
int64_t HevcStatedPictureArea(const uint8_t* data, int length);

}  // namespace qv
