#include "bitstream/h264_frame_num.h"

#include "bitstream/h264_nal.h"
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
    const uint8_t* at = data;
    int left = length;
    while (const uint8_t* start = FindH264Start(at, left)) {
        const uint8_t* header = start + 3;
        const int type = header[0] & 0x1F;
        const int ref_idc = (header[0] >> 5) & 3;
        const int rest = static_cast<int>(data + length - header) - 1;
        if (type == 7) {
            ReadSps(header + 1, rest);
        } else if ((type == 1 || type == 5) && log2_max_frame_num_ > 0) {
            const int frame_num = ReadFrameNum(header + 1, rest);
            if (type == 5) {
                previous_ = frame_num;
                return false;
            }
            if (frame_num < 0) return false;
            const int max = 1 << log2_max_frame_num_;
            const bool missing = previous_ >= 0 && !gaps_allowed_ && frame_num != previous_ &&
                                 frame_num != (previous_ + 1) % max;
            if (ref_idc != 0) previous_ = frame_num;
            return missing;
        }
        left -= static_cast<int>(header + 1 - at);
        at = header + 1;
    }
    return false;
}

}  // namespace qv
