// Notices H.264 frames lost before they reached us: a reference picture's frame_num must
// follow the previous one's, so a jump means the pictures in between (and whatever refers
// to them) are missing. Reads the sequence parameter sets and the first slice header of
// each frame; no allocation, never reads outside the bytes given.
#pragma once

#include <cstdint>

namespace qv {

class H264FrameNumWatch {
public:
    // One Annex B frame as it goes to the decoder. True when frames are missing before it.
    bool Missing(const uint8_t* data, int length);
    void Reset();

private:
    void ReadSps(const uint8_t* unit, int length);
    // frame_num of a slice, or -1 when the header cannot be read.
    int ReadFrameNum(const uint8_t* unit, int length) const;

    int log2_max_frame_num_ = 0;  // 0: no SPS seen yet
    bool gaps_allowed_ = false;
    bool separate_colour_planes_ = false;
    int previous_ = -1;  // frame_num of the last reference picture
};

}  // namespace qv
