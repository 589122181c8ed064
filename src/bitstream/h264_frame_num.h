// Notices H.264 frames lost before they reached us: the frame_num of each picture must be
// the one the pictures before it lead to expect, so a jump means the reference pictures in
// between (and whatever refers to them) are missing. Follows the rules of the expected
// number: an IDR starts at 0, a reference picture moves it on by one, a picture whose
// marking holds operation 5 restarts it at 0, a non-reference picture moves nothing,
// slices and the second field of a pair repeat it, and a sequence that allows gaps is
// never judged. Reads parameter sets and slice headers only; no allocation, never reads
// outside the bytes given.
#pragma once

#include <cstdint>

#include "bitstream/h264_slice.h"
#include "bitstream/h264_sps.h"

namespace qv {

class H264FrameNumWatch {
public:
    // One frame as it goes to the decoder: Annex B (length_size 0) or units behind
    // length_size-byte big-endian lengths (mp4 style). True when frames are missing before
    // a picture in it.
    bool Missing(const uint8_t* data, int length, int length_size = 0);
    // Takes the parameter sets of an AVC decoder configuration record (mp4 extradata).
    void ReadConfig(const uint8_t* record, int length);
    void Reset();

private:
    // Looks at one NAL unit; true when it starts a picture whose frame_num jumps.
    bool Unit(const uint8_t* unit, int size);
    bool Slice(const uint8_t* unit, int size, int type, int ref_idc);

    H264SpsHead sps_[32];
    bool sps_seen_[32] = {};
    H264PpsHead pps_[256];
    bool pps_seen_[256] = {};

    // The last slice seen, to tell the slices of one picture from the next picture.
    H264SliceHead last_;
    int last_type_ = 0;
    int last_ref_idc_ = 0;
    bool have_last_ = false;
    int previous_ = -1;  // PrevRefFrameNum: the number the last reference picture leaves; -1 unknown
};

}  // namespace qv
