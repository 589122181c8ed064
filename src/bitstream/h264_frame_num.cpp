#include "bitstream/h264_frame_num.h"

#include "bitstream/h264_nal.h"
#include "bitstream/rbsp_reader.h"

namespace qv {
namespace {

// The start of an RBSP: enough for the fields read here, which all lie in the first bytes
// of a unit.
constexpr int kHeadBytes = 96;

struct Rbsp {
    uint8_t bytes[kHeadBytes];
    RbspReader reader;
    Rbsp(const uint8_t* data, int size)
        : reader(bytes, RemoveEmulationPrevention(data, size, bytes, kHeadBytes)) {}
};

void SkipScalingList(RbspReader& r, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && r.ok(); ++j) {
        if (next != 0) next = (last + r.se() + 256) % 256;  // delta_scale
        last = next == 0 ? last : next;
    }
}

}  // namespace

void H264FrameNumWatch::Reset() { previous_ = -1; }

void H264FrameNumWatch::ReadSps(const uint8_t* unit, int length) {
    Rbsp head(unit, length);
    RbspReader& r = head.reader;
    const uint32_t profile = r.u(8);  // profile_idc
    r.u(16);                          // constraint_set flags, reserved, level_idc
    r.ue();                           // seq_parameter_set_id
    bool separate = false;
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 || profile == 83 ||
        profile == 86 || profile == 118 || profile == 128 || profile == 138 || profile == 139 || profile == 134 ||
        profile == 135) {
        const uint32_t chroma = r.ue();        // chroma_format_idc
        if (chroma == 3) separate = r.u(1);    // separate_colour_plane_flag
        r.ue();                                // bit_depth_luma_minus8
        r.ue();                                // bit_depth_chroma_minus8
        r.u(1);                                // qpprime_y_zero_transform_bypass_flag
        if (r.u(1)) {                          // seq_scaling_matrix_present_flag
            for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i) {
                if (r.u(1)) SkipScalingList(r, i < 6 ? 16 : 64);  // seq_scaling_list_present_flag
            }
        }
    }
    const uint32_t log2_max_frame_num = r.ue() + 4;  // log2_max_frame_num_minus4
    const uint32_t poc_type = r.ue();                // pic_order_cnt_type
    if (poc_type == 0) {
        r.ue();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (poc_type == 1) {
        r.u(1);  // delta_pic_order_always_zero_flag
        r.se();  // offset_for_non_ref_pic
        r.se();  // offset_for_top_to_bottom_field
        const uint32_t cycle = r.ue();  // num_ref_frames_in_pic_order_cnt_cycle
        for (uint32_t i = 0; i < cycle && i < 256 && r.ok(); ++i) r.se();
    }
    r.ue();                            // max_num_ref_frames
    const bool gaps = r.u(1);          // gaps_in_frame_num_value_allowed_flag
    if (!r.ok() || log2_max_frame_num > 16) return;  // unreadable: keep what we knew
    log2_max_frame_num_ = static_cast<int>(log2_max_frame_num);
    gaps_allowed_ = gaps;
    separate_colour_planes_ = separate;
}

int H264FrameNumWatch::ReadFrameNum(const uint8_t* unit, int length) const {
    Rbsp head(unit, length);
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
