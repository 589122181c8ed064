#include "bitstream/h264_frame_num.h"

#include "bitstream/annexb_units.h"
#include "bitstream/h264_sps.h"

namespace qv {

void H264FrameNumWatch::Reset() { previous_ = -1; }

void H264FrameNumWatch::ReadSps(const uint8_t* unit, int length) {
    H264SpsHead sps;
    if (!ReadH264SpsHead(unit, length, sps)) return;  // unreadable: keep what we knew
    log2_max_frame_num_ = sps.log2_max_frame_num;
    gaps_allowed_ = sps.gaps_allowed;
    separate_colour_planes_ = sps.separate_colour_planes;
}

int H264FrameNumWatch::ReadFrameNum(const uint8_t* unit, int length) const {
    RbspHead head(unit, length);
    RbspReader& r = head.reader;
    r.ue();                                  // first_mb_in_slice
    r.ue();                                  // slice_type
    r.ue();                                  // pic_parameter_set_id
    if (separate_colour_planes_) r.u(2);     // colour_plane_id
    const int frame_num = static_cast<int>(r.u(log2_max_frame_num_));  // frame_num
    return r.ok() ? frame_num : -1;
}

bool H264FrameNumWatch::Missing(const uint8_t* data, int length) {
    if (!data || length <= 0) return false;
    // Parameter sets come before the slices; the first slice speaks for the picture, so the
    // scan ends there and the slice data is never looked at.
    bool missing = false;
    ForEachAnnexBUnit(data, length, [&](const uint8_t* unit, int size) {
        const int type = unit[0] & 0x1F;
        const int ref_idc = (unit[0] >> 5) & 3;
        if (type == 7) {
            ReadSps(unit + 1, size - 1);
            return true;
        }
        if ((type != 1 && type != 5) || log2_max_frame_num_ == 0) return true;
        const int frame_num = ReadFrameNum(unit + 1, size - 1);
        if (type == 5) {
            previous_ = frame_num;
            return false;
        }
        if (frame_num < 0) return false;
        const int max = 1 << log2_max_frame_num_;
        missing = previous_ >= 0 && !gaps_allowed_ && frame_num != previous_ && frame_num != (previous_ + 1) % max;
        if (ref_idc != 0) previous_ = frame_num;
        return false;
    });
    return missing;
}

}  // namespace qv
