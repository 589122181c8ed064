// The head of an H.264 sequence parameter set: the fields up to the frame cropping. Read by
// the frame-number watch (and the slice headers it reads) and by the picture-size check
// that keeps a claimed huge picture away from the decoder. No allocation, never reads
// outside the bytes given.
#pragma once

#include <cstdint>

#include "bitstream/rbsp_reader.h"

namespace qv {

struct H264SpsHead {
    int sps_id = 0;
    int chroma_array_type = 1;  // chroma_format_idc, or 0 with separate colour planes
    int log2_max_frame_num = 0;
    int poc_type = 0;
    int log2_max_poc_lsb = 0;
    bool delta_pic_order_always_zero = false;
    bool gaps_allowed = false;
    bool separate_colour_planes = false;
    bool frame_mbs_only = true;
    int64_t coded_width = 0;   // pixels, whole macroblocks
    int64_t coded_height = 0;
    int64_t width = 0;         // pixels the pictures have: the coded size less the cropping
    int64_t height = 0;
};

// Reads the head of an SPS (the bytes after its NAL header). False when it cannot be read.
bool ReadH264SpsHead(const uint8_t* unit, int length, H264SpsHead& sps);

// The largest picture area (width x height after cropping) that the SPS units ahead of the
// first slice of a frame state (Annex B, or units behind length_size-byte lengths); 0 when
// there is none or it cannot be read.
int64_t H264StatedPictureArea(const uint8_t* data, int length, int length_size = 0);

}  // namespace qv
