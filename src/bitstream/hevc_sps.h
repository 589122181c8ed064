// The picture size an HEVC sequence parameter set states, read before the frame reaches the
// decoder. No allocation, never reads outside the bytes given.
#pragma once

#include <cstdint>

namespace qv {

// The largest picture area (pic_width/height_in_luma_samples less the conformance window)
// that the SPS units ahead of the first slice of a frame state (Annex B, or units behind
// length_size-byte lengths); 0 when there is none or it cannot be read.
int64_t HevcStatedPictureArea(const uint8_t* data, int length, int length_size = 0);

}  // namespace qv
