// The head of an H.264 sequence parameter set: the fields up to the coded picture size.
// Read by the frame-number watch and by the picture-size check that keeps a claimed huge
// picture away from the decoder. No allocation, never reads outside the bytes given.
#pragma once

#include <cstdint>

#include "bitstream/rbsp_reader.h"

namespace qv {

struct H264SpsHead {
    int log2_max_frame_num = 0;
    bool gaps_allowed = false;
    bool separate_colour_planes = false;
    int64_t coded_width = 0;   // pixels, before cropping
    int64_t coded_height = 0;
};

// Reads the head of an SPS (the bytes after its NAL header). False when it cannot be read.
bool ReadH264SpsHead(const uint8_t* unit, int length, H264SpsHead& sps);

// The largest coded picture area (width x height) that the SPS units ahead of the first
// slice of an Annex B frame state; 0 when there is none or it cannot be read.
int64_t H264StatedPictureArea(const uint8_t* data, int length);

}  // namespace qv
